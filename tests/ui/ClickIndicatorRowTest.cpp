#include <QCheckBox>
#include <QLabel>
#include <QTest>

#include "ControllerFixture.h"
#include "SettingsForm.h"

namespace kestrova {
namespace {

using ClickIndicatorRow = testing::ControllerFixture;

// Where the desktop lets no click through (Wayland without a readable mouse), the row says why
// and promises no rings, yet keeps the user's choice for when it can.
TEST_F(ClickIndicatorRow, TheClickIndicatorRowSaysWhyClicksCannotShow) {
  Prefs::set(Prefs::kClicks, true);
  const QString why = QStringLiteral("Join the input group.");
  for (const QString& problem : {why, QString()}) {
    SCOPED_TRACE(problem.toStdString());
    services_->clickProblem = problem;
    SettingsForm form(controller());
    form.show();
    QCheckBox* toggle = form.clicksToggle();
    EXPECT_EQ(toggle->isEnabled(), problem.isEmpty());
    EXPECT_EQ(toggle->isChecked(), problem.isEmpty());
    EXPECT_EQ(form.clicksNote()->isHidden(), problem.isEmpty());
    EXPECT_EQ(form.clicksNote()->text(), problem);
    EXPECT_TRUE(Prefs::boolean(Prefs::kClicks));
  }
}

}  // namespace
}  // namespace kestrova
