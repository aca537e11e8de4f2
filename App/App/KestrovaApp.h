#pragma once

#include <memory>

#include "RecordingEngine.h"

namespace kestrova {

class AppController;
class DesktopDisplays;
class DesktopServices;
class HotKeys;
class MainWindow;
class PanelViews;
class TrayIcon;

// The program's top: the controller, the main window with its "Record" menu, the panels around a
// recording and its tray icon, wired together in launch order. One per process, on the main thread,
// after the QApplication.
class KestrovaApp {
 public:
  // The session's adapters, as the program's entry picks them.
  KestrovaApp(RecordingEngineFactory makeEngine, std::unique_ptr<DesktopServices> services,
              std::unique_ptr<DesktopDisplays> displays, std::unique_ptr<HotKeys> hotKeys);
  ~KestrovaApp();

  // Registers the preference defaults, shows and raises the window, and registers the global hot
  // keys on a later turn of the event loop.
  void launch();

  // Brings the window to the front (another copy of the program was started).
  void bringToFront();

  AppController& controller() { return *controller_; }
  MainWindow& window() { return *window_; }

 private:
  std::unique_ptr<HotKeys> hotKeys_;  // before the controller, whose actions it holds
  std::unique_ptr<AppController> controller_;
  std::unique_ptr<MainWindow> window_;
  std::unique_ptr<PanelViews> views_;
  std::unique_ptr<TrayIcon> tray_;
};

}  // namespace kestrova
