#include "TrayIcon.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>

#include "AppController.h"
#include "Glyphs.h"
#include "Theme.h"

namespace kestrova {

TrayIcon::TrayIcon(AppController& controller, QObject* parent)
    : QObject(parent),
      controller_(controller),
      menu_(new QMenu),
      icon_(new QSystemTrayIcon(this)),
      pause_(menu_->addAction(QStringLiteral("Pause"))),
      stop_(menu_->addAction(QStringLiteral("Stop Recording"))) {
  icon_->setContextMenu(menu_);
  connect(pause_, &QAction::triggered, &controller_, &AppController::togglePause);
  // Never startOrStop(): a menu left open past the recording's end must not start another.
  connect(stop_, &QAction::triggered, this, [this] {
    if (controller_.state().isCountdown())
      controller_.cancelCountdown();
    else
      controller_.stop();
  });
  connect(&controller_, &AppController::stateChanged, this, &TrayIcon::follow);
  connect(&controller_, &AppController::elapsedChanged, this,
          [this] { icon_->setToolTip(toolTip()); });
  follow();
}

TrayIcon::~TrayIcon() {
  delete menu_;  // a context menu has no parent
}

QString TrayIcon::toolTip() const {
  const RecordingState state = controller_.state();
  const QString time = formatTime(controller_.elapsed());
  switch (state.phase()) {
    case RecordingState::Phase::countdown:
      return QStringLiteral("Kestrova: recording in %1").arg(state.countdownNumber());
    case RecordingState::Phase::recording:
      return QStringLiteral("Kestrova: recording %1").arg(time);
    case RecordingState::Phase::paused:
      return QStringLiteral("Kestrova: paused at %1").arg(time);
    case RecordingState::Phase::idle:
      break;
  }
  return QStringLiteral("Kestrova");
}

void TrayIcon::follow() {
  const RecordingState state = controller_.state();
  const bool paused = state.phase() == RecordingState::Phase::paused;
  icon_->setIcon(
      glyphIcon(paused ? Glyph::pause : Glyph::record, paused ? theme::orange() : theme::red()));
  icon_->setToolTip(toolTip());
  pause_->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
  pause_->setEnabled(state.isActive());
  icon_->setVisible(!state.isIdle() && QSystemTrayIcon::isSystemTrayAvailable());
}

}  // namespace kestrova
