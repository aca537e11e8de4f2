#include "RecordingNotifications.h"

#include <QFileInfo>
#include <QPointer>
#include <QTimer>

#include "AppController.h"
#include "Notifier.h"

namespace kestrova {

RecordingNotifications::RecordingNotifications(AppController& controller,
                                               std::unique_ptr<Notifier> notifier)
    : controller_(controller), notifier_(std::move(notifier)) {
  connect(&controller_, &AppController::lastSavedChanged, this, [this] {
    savedChanged_ = true;
    scheduleReport();
  });
  connect(&controller_, &AppController::messageChanged, this, [this] {
    messageChanged_ = true;
    scheduleReport();
  });
}

RecordingNotifications::~RecordingNotifications() = default;

void RecordingNotifications::scheduleReport() {
  if (reportScheduled_) return;
  reportScheduled_ = true;
  QTimer::singleShot(0, this, &RecordingNotifications::report);
}

void RecordingNotifications::report() {
  const QString saved = savedChanged_ ? controller_.lastSaved() : QString();
  const QString message = messageChanged_ ? controller_.message() : QString();
  reportScheduled_ = savedChanged_ = messageChanged_ = false;
  if (saved.isEmpty() && message.isEmpty()) return;  // cleared for a new recording

  Notification notification;
  const QString name = QFileInfo(saved).fileName();
  if (message.isEmpty()) {
    notification.summary = tr("Recording saved");
    notification.body = name + u'\n' + tr("Length %1").arg(formatTime(controller_.elapsed()));
  } else {
    notification.summary = tr("Recording failed");
    notification.body = message;
    notification.failure = true;
    if (!saved.isEmpty())
      notification.body += u'\n' + tr("The recording so far is in %1.").arg(name);
  }
  if (!saved.isEmpty()) {
    notification.actionLabel = tr("Show in Folder");
    notification.action = [controller = QPointer<AppController>(&controller_), saved] {
      if (controller) controller->revealFile(saved);
    };
  }
  notifier_->notify(std::move(notification));
}

}  // namespace kestrova
