// Runs with two offscreen screens (see main below), for what only shows with more than one.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>

#include "ControllerFixture.h"
#include "FloatingPanel.h"
#include "RecordingToolbar.h"
#include "SettingsForm.h"

namespace kestrova {
namespace {

using TwoScreensTest = testing::ControllerFixture;

TEST_F(TwoScreensTest, DisplayRowListsTheMainDisplayThenEveryDisplayByConnectorAndSize) {
  displays_->list = {{7, "Left", Rect{{0, 0}, {1920, 1080}}, 1},
                     {0x80000123u, "Right", Rect{{1920, 56}, {1280, 1024}}, 1}};
  SettingsForm form(controller());
  EXPECT_FALSE(form.displayRow()->isHidden());
  QComboBox* picker = form.displayPicker();
  ASSERT_EQ(picker->count(), 3);
  EXPECT_EQ(picker->itemText(0), "Main display");
  EXPECT_EQ(picker->itemData(0).toLongLong(), 0);
  EXPECT_EQ(picker->itemText(1), "Left (1920 × 1080)");
  EXPECT_EQ(picker->itemText(2), "Right (1280 × 1024)");
  EXPECT_EQ(picker->itemData(2).toLongLong(), 0x80000123) << "a monitor without an output too";
  EXPECT_EQ(picker->currentIndex(), 0);

  Prefs::set(Prefs::kDisplayID, 424242);  // a display that is not connected
  form.reload();
  EXPECT_EQ(picker->currentIndex(), -1) << "no item is chosen, and nothing is rewritten";
  EXPECT_EQ(Prefs::integer(Prefs::kDisplayID), 424242);

  picker->setCurrentIndex(0);
  emit picker->activated(0);
  EXPECT_EQ(Prefs::integer(Prefs::kDisplayID), 0);
}

TEST_F(TwoScreensTest, PanelsSitOnTheScreenTheyAreMadeFor) {
  QScreen* right = QGuiApplication::screens().at(1);
  FloatingPanel panel(right, RecordingToolbar::kSize, FloatingPanel::Position::bottom,
                      FloatingPanel::Input::interactive, new RecordingToolbar);
  const QRect available = right->availableGeometry();
  EXPECT_EQ(panel.contentGeometry().center().x(), available.center().x());
  EXPECT_EQ(panel.contentGeometry().bottom(), available.bottom() - 28);
}

}  // namespace
}  // namespace kestrova

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QTemporaryDir home;
  if (!home.isValid()) return 1;
  qputenv("HOME", home.path().toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", (home.path() + "/.config").toLocal8Bit());
  qunsetenv("WAYLAND_DISPLAY");
  // Qt's offscreen platform takes its screens from a configuration file.
  const QString config = home.filePath("screens.json");
  QFile file(config);
  if (!file.open(QIODevice::WriteOnly)) return 1;
  file.write(R"({"screens": [
    {"name": "Left", "x": 0, "y": 0, "width": 1920, "height": 1080, "logicalDpi": 96, "dpr": 1},
    {"name": "Right", "x": 1920, "y": 0, "width": 1280, "height": 1024, "logicalDpi": 96, "dpr": 1}
  ]})");
  file.close();
  qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).toLocal8Bit());
  QApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
