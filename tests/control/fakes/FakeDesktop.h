#pragma once

#include <QStringList>

#include <optional>
#include <string>
#include <vector>

#include "DesktopDisplays.h"
#include "DesktopServices.h"
#include "RecorderError.h"
#include "RecordingViews.h"

namespace kestrova::testing {

class FakeDesktopServices final : public DesktopServices {
 public:
  CaptureGrant captureGrant() const override { return grant; }
  bool preflightScreenCapture() override { return granted; }
  CaptureAnswer requestScreenCapture() override {
    ++requests;
    granted = granted || requestGrants;
    return {granted, granted ? QString() : problem};
  }
  void forgetScreenCapture() override {
    ++forgets;
    granted = false;
  }
  void openScreenCaptureSettings() override { ++settingsOpened; }
  QString clickIndicatorProblem() const override { return {}; }
  void playCompletionSound() override { ++sounds; }
  void revealInFileManager(const std::filesystem::path& file) override { revealed.push_back(file); }
  std::optional<QString> chooseFolder() override { return chosenFolder; }

  CaptureGrant grant = CaptureGrant::display;
  bool granted = true;
  bool requestGrants = false;
  QString problem;  // what a refused request says
  int requests = 0, forgets = 0, settingsOpened = 0, sounds = 0;
  std::vector<std::filesystem::path> revealed;
  std::optional<QString> chosenFolder;
};

// A fixed list of displays; each lies in Qt's coordinates where its frame says, y down from the
// top of a 1080-high desktop, with no panels or docks.
class FakeDisplays final : public DesktopDisplays {
 public:
  std::vector<DisplayInfo> displays() override {
    if (failure) throw PlatformError(*failure);
    return list;
  }
  PanelArea panelArea(std::uint32_t id) override {
    if (list.empty()) return {};
    return {nullptr, qtRectFromDesktop(chooseDisplay(list, id).frame, 1080, {}, 1)};
  }

  std::vector<DisplayInfo> list{{7, "DP-1", Rect{{0, 0}, {1920, 1080}}, 1}};
  std::optional<std::string> failure;
};

// Writes down what the controller asks of the windows, in order.
class FakeViews final : public RecordingViews {
 public:
  void showCountdownPanel(const PanelArea& area) override { shown("show countdown", area); }
  void removeCountdownPanel() override { log << "remove countdown"; }
  void showToolbarPanel(const PanelArea& area) override { shown("show toolbar", area); }
  void removeToolbarPanel() override { log << "remove toolbar"; }
  void hideMainWindow() override { log << "hide main"; }
  void restoreMainWindow() override { log << "restore main"; }

  // The log since the last call.
  QStringList take() { return std::exchange(log, {}); }

  QStringList log;
  QRect lastArea;

 private:
  void shown(const char* panel, const PanelArea& area) {
    log << panel;
    lastArea = area.available;
  }
};

}  // namespace kestrova::testing
