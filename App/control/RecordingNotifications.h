#pragma once

#include <QObject>

#include <memory>

namespace kestrova {

class AppController;
class Notifier;

// Tells the desktop how a recording ended while the window may be out of sight: "Recording saved"
// with the file's name and length and a "Show in Folder" action, or "Recording failed" with the
// message (and the action when the footage so far was kept).
//
// Main thread only. Observes the controller, which must outlive it.
class RecordingNotifications final : public QObject {
  Q_OBJECT

 public:
  RecordingNotifications(AppController& controller, std::unique_ptr<Notifier> notifier);
  ~RecordingNotifications() override;

 private:
  void scheduleReport();
  void report();

  AppController& controller_;
  const std::unique_ptr<Notifier> notifier_;
  // The controller sets the saved file and a failure one after the other; they are told together
  // on the next turn of the event loop.
  bool reportScheduled_ = false;
  bool savedChanged_ = false;
  bool messageChanged_ = false;
};

}  // namespace kestrova
