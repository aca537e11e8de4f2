#include "KestrovaApp.h"

#include <QTimer>

#include "AppController.h"
#include "DesktopServices.h"
#include "MainWindow.h"
#include "PanelViews.h"
#include "Prefs.h"

namespace kestrova {

KestrovaApp::KestrovaApp(RecordingEngineFactory makeEngine,
                         std::unique_ptr<DesktopServices> services) {
  // Before any view reads a preference.
  Prefs::registerDefaults();
  controller_ = std::make_unique<AppController>(std::move(makeEngine), std::move(services));
  window_ = std::make_unique<MainWindow>(*controller_);
  views_ = std::make_unique<PanelViews>(*controller_, *window_);
  controller_->setViews(views_.get());
}

KestrovaApp::~KestrovaApp() {
  // The controller finishes a running recording as it goes; it must not reach the windows then.
  controller_->setViews(nullptr);
  controller_.reset();
}

void KestrovaApp::launch() {
  window_->show();
  bringToFront();
  QTimer::singleShot(0, controller_.get(),
                     [controller = controller_.get()] { controller->setupHotKeys(); });
}

void KestrovaApp::bringToFront() {
  window_->show();
  window_->raise();
  window_->activateWindow();
}

}  // namespace kestrova
