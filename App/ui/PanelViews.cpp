#include "PanelViews.h"

#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <utility>

#include "AppController.h"
#include "CountdownView.h"
#include "FloatingPanel.h"
#include "RecordingToolbar.h"
#include "X11Hints.h"

namespace kestrova {
namespace {

bool onWayland() {
  return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

// A compositor tells a client its content is on screen with a frame callback, which Qt turns
// into the window's next UpdateRequest. Calls `shown` after `frames` such frames, each of a
// repaint made after the previous one was shown (a callback already pending when the first
// repaint was sent may belong to a frame drawn before it). Goes with its window.
class FrameWatch final : public QObject {
 public:
  FrameWatch(QWidget& panel, int frames, std::function<void()> shown)
      : QObject(panel.windowHandle()), panel_(panel), left_(frames), shown_(std::move(shown)) {
    panel.windowHandle()->installEventFilter(this);
    // A compositor that sends no callbacks (the window off every monitor) must not hold the
    // recording back for ever.
    QTimer::singleShot(kGiveUpAfter, this, [this] { done(); });
    next();
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::UpdateRequest && watched == parent() && shown_) {
      if (--left_ > 0)
        QTimer::singleShot(0, this, [this] { next(); });
      else
        QTimer::singleShot(0, this, [this] { done(); });
    }
    return false;
  }

 private:
  static constexpr std::chrono::milliseconds kGiveUpAfter{1000};

  void next() {
    if (!shown_) return;
    panel_.repaint();
    panel_.windowHandle()->requestUpdate();
  }
  void done() {
    if (auto shown = std::exchange(shown_, nullptr)) shown();
  }

  QWidget& panel_;
  int left_;
  std::function<void()> shown_;
};

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

void PanelViews::clearCountdownPanel(std::function<void()> cleared) {
  if (!onWayland() || !countdown_ || !countdown_->isVisible() || !countdown_->windowHandle()) {
    removeCountdownPanel();
    cleared();
    return;
  }
  // A Wayland screen cast shows every window, and the compositor may animate a closing one: the
  // panel is emptied first and goes once the compositor has drawn it empty.
  countdown_->content()->hide();
  new FrameWatch(*countdown_, 2, [this, cleared = std::move(cleared)] {
    removeCountdownPanel();
    cleared();
  });
}

void PanelViews::showToolbarPanel(const PanelArea& area) {
  dispose(toolbar_);
  if (area.nowhere) return;  // the tray icon and the hot keys stand in for it
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
  // A Wayland client cannot say where its windows go, but for a full-screen one.
  if (onWayland())
    toolbar_->showCoveringScreen();
  else
    toolbar_->showWithoutActivating();
}

void PanelViews::removeToolbarPanel() {
  dispose(toolbar_);
}

void PanelViews::hideMainWindow() {
  // With a compositor the window stays mapped, invisible and click-through; without one an
  // invisible window is impossible, so it is unmapped. Wayland has no window opacity: the window
  // would stay in the recording.
  if (!onWayland() && x11hints::translucencyAvailable() && mainWindow_.isVisible() &&
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
