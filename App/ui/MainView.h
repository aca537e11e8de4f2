#pragma once

#include <QWidget>

namespace kestrova {

class AppController;
class Onboarding;
class SettingsForm;

// The main window's content, 360 wide: the settings form while screen capture is possible,
// otherwise the onboarding. The permission is checked again whenever the program becomes the
// active application, so granting it elsewhere and coming back shows the form at once.
// Main thread only; the controller must outlive it.
class MainView : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 360;

  explicit MainView(AppController& controller, QWidget* parent = nullptr);

  SettingsForm* form() const { return form_; }
  Onboarding* onboarding() const { return onboarding_; }

 private:
  void followPermission();

  AppController& controller_;
  SettingsForm* form_;
  Onboarding* onboarding_;
};

}  // namespace kestrova
