#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QTest>

#include "ControllerFixture.h"
#include "FormControls.h"
#include "MainView.h"
#include "Onboarding.h"
#include "SettingsForm.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;

class SettingsFormTest : public testing::ControllerFixture {
 protected:
  void SetUp() override {
    ControllerFixture::SetUp();
    form_ = std::make_unique<SettingsForm>(controller());
    form_->show();
  }
  void TearDown() override {
    form_.reset();
    ControllerFixture::TearDown();
  }

  static void pick(SegmentedControl* picker, int index) {
    QTest::mouseClick(picker, Qt::LeftButton, {}, picker->segmentRect(index).center());
  }

  static void type(QLineEdit* field, const QString& text) {
    field->selectAll();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
  }

  std::unique_ptr<SettingsForm> form_;
};

TEST_F(SettingsFormTest, PickersWriteTheirKeysAndTheCustomRowFollowsThePreset) {
  EXPECT_EQ(form_->sizePicker()->value(), QVariant(QStringLiteral("1080p")));
  EXPECT_TRUE(form_->customSizeRow()->isHidden());
  pick(form_->sizePicker(), 2);
  EXPECT_EQ(Prefs::string(Prefs::kPreset), QStringLiteral("custom"));
  EXPECT_FALSE(form_->customSizeRow()->isHidden());
  EXPECT_EQ(form_->widthField()->text(), "1280");
  EXPECT_EQ(form_->heightField()->text(), "720");
  pick(form_->sizePicker(), 0);
  EXPECT_EQ(Prefs::string(Prefs::kPreset), QStringLiteral("720p"));
  EXPECT_TRUE(form_->customSizeRow()->isHidden());

  EXPECT_EQ(form_->fpsPicker()->value(), QVariant(qint64{30}));
  pick(form_->fpsPicker(), 1);
  EXPECT_EQ(Prefs::integer(Prefs::kFps), 60);
  pick(form_->fpsPicker(), 0);
  EXPECT_EQ(Prefs::integer(Prefs::kFps), 30);
}

TEST_F(SettingsFormTest, TypedSizesAreClampedToEvenPixelsWithinRangeAndOnlyWhenEdited) {
  pick(form_->sizePicker(), 2);
  // Text that is not a number leaves the stored value as it was.
  const std::pair<const char*, std::int64_t> cases[] = {
      {"100", 160},   {"9999", 7680}, {"1281", 1280}, {"-50", 160},
      {"1920", 1920}, {"wide", 1920}, {"", 1920}};
  for (QLineEdit* field : {form_->widthField(), form_->heightField()}) {
    const char* key = field == form_->widthField() ? Prefs::kCustomWidth : Prefs::kCustomHeight;
    for (const auto& [typed, stored] : cases) {
      SCOPED_TRACE(std::string(key) + " typed " + typed);
      type(field, QString::fromLatin1(typed));
      EXPECT_EQ(Prefs::integer(key), stored);
      EXPECT_EQ(field->text(), QString::number(stored)) << "the field shows what was stored";
    }
  }
  // A value written elsewhere stays until edited here.
  Prefs::set(Prefs::kCustomWidth, 99);
  form_->reload();
  EXPECT_EQ(form_->widthField()->text(), "99");
  QTest::keyClick(form_->widthField(), Qt::Key_Return);
  EXPECT_EQ(Prefs::integer(Prefs::kCustomWidth), 99);
}

TEST_F(SettingsFormTest, TrackingGroupStartsClosedAndItsControlsWriteAtOnce) {
  EXPECT_FALSE(form_->trackingGroup()->isExpanded());
  EXPECT_FALSE(form_->smoothnessSlider()->isVisibleTo(form_.get()));
  QTest::mouseClick(form_->trackingGroup()->header(), Qt::LeftButton);
  EXPECT_TRUE(form_->smoothnessSlider()->isVisible());

  EXPECT_EQ(form_->smoothnessSlider()->value(), 500);  // 0.5 of 0…1
  form_->smoothnessSlider()->setValue(250);
  EXPECT_DOUBLE_EQ(Prefs::real(Prefs::kSmoothing), 0.25);
  form_->deadZoneSlider()->setValue(1000);
  EXPECT_DOUBLE_EQ(Prefs::real(Prefs::kDeadZone), 0.6);
  EXPECT_TRUE(form_->clicksToggle()->isChecked());
  QTest::mouseClick(form_->clicksToggle(), Qt::LeftButton, {},
                    QPoint(6, form_->clicksToggle()->height() / 2));
  EXPECT_FALSE(Prefs::boolean(Prefs::kClicks));

  // A new form (the window's content made again) starts closed, showing what is stored.
  SettingsForm again(controller());
  EXPECT_FALSE(again.trackingGroup()->isExpanded());
  EXPECT_EQ(again.deadZoneSlider()->value(), 1000);
  EXPECT_FALSE(again.clicksToggle()->isChecked());
}

// Where the desktop lets no click through (Wayland without a readable mouse), the row says why
// and promises no rings, yet keeps the user's choice for when it can.
TEST_F(SettingsFormTest, TheClickIndicatorRowSaysWhyClicksCannotShow) {
  Prefs::set(Prefs::kClicks, true);
  for (const QString& problem : {QStringLiteral("Join the input group."), QString()}) {
    SCOPED_TRACE(problem.toStdString());
    services_->clickProblem = problem;
    SettingsForm form(controller());
    form.show();
    EXPECT_EQ(form.clicksToggle()->isEnabled(), problem.isEmpty());
    EXPECT_EQ(form.clicksToggle()->isChecked(), problem.isEmpty());
    EXPECT_EQ(form.clicksNote()->isHidden(), problem.isEmpty());
    EXPECT_EQ(form.clicksNote()->text(), problem);
    EXPECT_TRUE(Prefs::boolean(Prefs::kClicks));
  }
}

TEST_F(SettingsFormTest, DisplayRowListsTheMainDisplayThenEveryDisplayByConnectorAndSize) {
  EXPECT_TRUE(form_->displayRow()->isHidden()) << "absent with one display";
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
  picker->setCurrentIndex(2);
  emit picker->activated(2);
  EXPECT_EQ(Prefs::integer(Prefs::kDisplayID), 0x80000123);
}

TEST_F(SettingsFormTest, FolderRowShowsTheLastFolderNameAndChangesThroughTheController) {
  const QString path = QDir::homePath();
  Prefs::set(Prefs::kOutputPath, path + "/Videos/Screen recordings/");
  form_->reload();
  EXPECT_EQ(form_->folderName()->text(), "Screen recordings");
  EXPECT_EQ(form_->folderRow()->toolTip(), path + "/Videos/Screen recordings/");

  const QString name = "A folder with a rather long name that cannot fit in one row";
  ASSERT_TRUE(QDir(path).mkpath(name));
  services_->chosenFolder = path + "/" + name;
  QTest::mouseClick(form_->changeFolderButton(), Qt::LeftButton);
  EXPECT_EQ(form_->folderName()->text(), name);
  EXPECT_EQ(form_->folderRow()->toolTip(), *services_->chosenFolder);
  const QString shown = form_->folderName()->shownText();
  EXPECT_TRUE(shown.startsWith("A folder") && shown.contains(QChar(0x2026)))
      << "cut in the middle: " << shown.toStdString();
}

// The onboarding where the desktop asks in a dialog; on X11: ShellX11Test.
using OnboardingTest = testing::ControllerFixture;

TEST_F(OnboardingTest, OnWaylandTheDesktopIsAskedAndTheDisplayPickerOffersAnotherScreen) {
  build(DesktopServices::CaptureGrant::portal, false);
  MainView view(controller());
  view.show();
  EXPECT_TRUE(view.onboarding()->explanationLabel()->text().contains(
      "Your desktop will ask which screen Kestrova may record."));
  services_->problem = "This desktop's screen sharing does not report the pointer.";
  QTest::mouseClick(view.onboarding()->openSettingsButton(), Qt::LeftButton);
  EXPECT_EQ(view.onboarding()->problemLabel()->text(), services_->problem);
  EXPECT_FALSE(view.onboarding()->problemLabel()->isHidden());

  services_->requestGrants = true;
  QTest::mouseClick(view.onboarding()->openSettingsButton(), Qt::LeftButton);
  ASSERT_FALSE(view.form()->isHidden());
  QComboBox* picker = view.form()->displayPicker();
  EXPECT_FALSE(view.form()->displayRow()->isHidden()) << "even with one screen";
  ASSERT_EQ(picker->count(), 2);
  EXPECT_EQ(picker->itemText(0), "The screen you chose when you allowed recording");
  services_->requestGrants = false;  // the user cancels the new dialog
  emit picker->activated(1);
  EXPECT_EQ(services_->forgets, 1);
  EXPECT_EQ(services_->requests, 3);
  EXPECT_EQ(picker->currentIndex(), 0);
  EXPECT_TRUE(view.form()->isHidden()) << "no screen chosen any more";
}

}  // namespace
}  // namespace kestrova
