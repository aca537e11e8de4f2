#include "PanelViews.h"

#include <QGuiApplication>
#include <QWindow>

#include "AppController.h"
#include "CountdownView.h"
#include "FloatingPanel.h"
#include "RecordingToolbar.h"
#include "X11Hints.h"

namespace kestrova {
namespace {

// The panel may be removed from inside one of its own buttons' click handlers (stop), so it
// goes when control is back in the event loop.
void dispose(QPointer<FloatingPanel>& panel) {
  if (!panel) return;
  panel->hide();
  panel->deleteLater();
  panel = nullptr;
}

}  // namespace

PanelViews::PanelViews(AppController& controller, QWidget& mainWindow)
    : controller_(controller), mainWindow_(mainWindow) {}

PanelViews::~PanelViews() {
  delete countdown_;
  delete toolbar_;
}

void PanelViews::showCountdownPanel(const PanelArea& area) {
  dispose(countdown_);
  auto* view = new CountdownView;
  view->setNumber(controller_.state().countdownNumber());
  QObject::connect(
      &controller_, &AppController::stateChanged, view,
      [view](const RecordingState& state) { view->setNumber(state.countdownNumber()); });
  countdown_ = new FloatingPanel(area, CountdownView::kSize, FloatingPanel::Position::center,
                                 FloatingPanel::Input::clickThrough, view);
  countdown_->showWithoutActivating();
}

void PanelViews::removeCountdownPanel() {
  dispose(countdown_);
}

void PanelViews::showToolbarPanel(const PanelArea& area) {
  dispose(toolbar_);
  auto* toolbar = new RecordingToolbar;
  const auto follow = [this, toolbar] {
    const bool paused = controller_.state().phase() == RecordingState::Phase::paused;
    toolbar->setLook(paused ? RecordingToolbar::Look::paused : RecordingToolbar::Look::recording);
    toolbar->setTimeText(formatTime(controller_.elapsed()));
  };
  follow();
  QObject::connect(&controller_, &AppController::stateChanged, toolbar, follow);
  QObject::connect(&controller_, &AppController::elapsedChanged, toolbar, follow);
  QObject::connect(toolbar, &RecordingToolbar::pauseClicked, &controller_,
                   &AppController::togglePause);
  QObject::connect(toolbar, &RecordingToolbar::stopClicked, &controller_, &AppController::stop);
  toolbar_ = new FloatingPanel(area, RecordingToolbar::kSize, FloatingPanel::Position::bottom,
                               FloatingPanel::Input::interactive, toolbar);
  toolbar_->showWithoutActivating();
}

void PanelViews::removeToolbarPanel() {
  dispose(toolbar_);
}

void PanelViews::hideMainWindow() {
  // With a compositor the window stays mapped, invisible and click-through; without one an
  // invisible window is impossible, so it is unmapped. Wayland has no window opacity: the window
  // would stay in the recording.
  const bool wayland = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
  if (!wayland && x11hints::translucencyAvailable() && mainWindow_.isVisible() &&
      mainWindow_.windowHandle()) {
    mainWindow_.setWindowOpacity(0);
    mainWindow_.windowHandle()->setFlag(Qt::WindowTransparentForInput, true);
    mainWindowTransparent_ = true;
  } else {
    mainWindow_.hide();
  }
}

void PanelViews::restoreMainWindow() {
  if (mainWindowTransparent_) {
    mainWindow_.setWindowOpacity(1);
    if (QWindow* window = mainWindow_.windowHandle()) {
      window->setFlag(Qt::WindowTransparentForInput, false);
    }
    mainWindowTransparent_ = false;
  }
  mainWindow_.show();
  mainWindow_.raise();
  mainWindow_.activateWindow();
}

}  // namespace kestrova
