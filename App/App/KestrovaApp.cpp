#include "KestrovaApp.h"

#include <QPointer>
#include <QTimer>

#include "AppController.h"
#include "DesktopDisplays.h"
#include "DesktopServices.h"
#include "HotKeys.h"
#include "MainWindow.h"
#include "PanelViews.h"
#include "Prefs.h"
#include "TrayIcon.h"

namespace kestrova {

KestrovaApp::KestrovaApp(RecordingEngineFactory makeEngine,
                         std::unique_ptr<DesktopServices> services,
                         std::unique_ptr<DesktopDisplays> displays,
                         std::unique_ptr<HotKeys> hotKeys)
    : hotKeys_(hotKeys ? std::move(hotKeys) : std::make_unique<NoHotKeys>()) {
  // Before any view reads a preference.
  Prefs::registerDefaults();
  controller_ = std::make_unique<AppController>(std::move(makeEngine), std::move(services),
                                                std::move(displays));
  window_ = std::make_unique<MainWindow>(*controller_);
  views_ = std::make_unique<PanelViews>(*controller_, *window_);
  controller_->setViews(views_.get());
  tray_ = std::make_unique<TrayIcon>(*controller_);
}

KestrovaApp::~KestrovaApp() {
  // The controller finishes a running recording as it goes; it must not reach the windows then.
  controller_->setViews(nullptr);
  tray_.reset();
  controller_.reset();
}

void KestrovaApp::launch() {
  window_->show();
  bringToFront();
  QTimer::singleShot(0, controller_.get(), [controller = controller_.get(), keys = hotKeys_.get()] {
    controller->setupHotKeys(*keys);
  });
  hotKeys_->onSettled([window = QPointer<MainWindow>(window_.get())](bool available) {
    if (window) window->showGlobalKeys(available);
  });
}

void KestrovaApp::bringToFront() {
  window_->show();
  window_->raise();
  window_->activateWindow();
}

}  // namespace kestrova
