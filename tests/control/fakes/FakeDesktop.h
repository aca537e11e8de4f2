#pragma once

#include <QStringList>

#include "DesktopServices.h"
#include "RecordingViews.h"

namespace kestrova::testing {

class FakeDesktopServices final : public DesktopServices {
 public:
  CaptureGrant captureGrant() const override { return grant; }
  bool preflightScreenCapture() override { return granted; }
  CaptureAnswer requestScreenCapture() override {
    ++requests;
    if (requestGrants) granted = true;
    return {granted, granted ? QString() : problem};
  }
  void forgetScreenCapture() override {
    ++forgets;
    granted = false;
  }
  void openScreenCaptureSettings() override { ++settingsOpened; }
  void playCompletionSound() override { ++sounds; }
  void revealInFileManager(const std::filesystem::path& file) override { revealed.push_back(file); }
  std::optional<QString> chooseFolder() override { return chosenFolder; }

  CaptureGrant grant = CaptureGrant::display;
  bool granted = true;
  bool requestGrants = false;
  QString problem;  // what a refused request says
  int requests = 0;
  int forgets = 0;
  int settingsOpened = 0;
  int sounds = 0;
  std::vector<std::filesystem::path> revealed;
  std::optional<QString> chosenFolder;
};

// Writes down what the controller asks of the windows, in order.
class FakeViews final : public RecordingViews {
 public:
  void showCountdownPanel(QScreen* screen) override {
    log << "show countdown";
    lastScreen = screen;
  }
  void removeCountdownPanel() override { log << "remove countdown"; }
  void showToolbarPanel(QScreen* screen) override {
    log << "show toolbar";
    lastScreen = screen;
  }
  void removeToolbarPanel() override { log << "remove toolbar"; }
  void hideMainWindow() override { log << "hide main"; }
  void restoreMainWindow() override { log << "restore main"; }

  // The log since the last call.
  QStringList take() { return std::exchange(log, {}); }

  QStringList log;
  QScreen* lastScreen = nullptr;
};

}  // namespace kestrova::testing
