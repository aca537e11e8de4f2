#pragma once

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Clock.h"
#include "DesktopServices.h"
#include "DisplayInfo.h"
#include "RecordingEngine.h"
#include "RecordingState.h"

namespace kestrova {

class DesktopDisplays;
class EngineSession;
class HotKeys;
class RecordingViews;

// Owns a recording from the request to record until the file is finished: the permission check,
// the 3-2-1 countdown, the engine, the elapsed-time clock across pauses, the panels and the main
// window around the recording, and one message for every failure. The views observe its
// properties and call its operations; nothing else starts or stops a recording.
//
// One instance for the program, made on the main thread; every method, property and signal
// belongs to the main thread. The engine's blocking start() and stop() run on a worker thread of
// the controller's own; their outcomes, and the engine's failure callback, come back to the main
// thread and are dropped if the controller is gone by then. Destroying the controller finishes a
// running recording's file first.
class AppController final : public QObject {
  Q_OBJECT
  Q_PROPERTY(kestrova::RecordingState state READ state NOTIFY stateChanged)
  Q_PROPERTY(double elapsed READ elapsed NOTIFY elapsedChanged)
  Q_PROPERTY(QString lastSaved READ lastSaved NOTIFY lastSavedChanged)
  Q_PROPERTY(QString message READ message NOTIFY messageChanged)
  Q_PROPERTY(bool hasPermission READ hasPermission NOTIFY hasPermissionChanged)
  Q_PROPERTY(bool finishing READ isFinishing NOTIFY finishingChanged)
  Q_PROPERTY(bool saving READ isSaving NOTIFY savingChanged)

 public:
  // `makeEngine` builds the engine of each recording; `displays` says which displays there are
  // and where they lie; `clock` drives the countdown and the ticker.
  AppController(RecordingEngineFactory makeEngine, std::unique_ptr<DesktopServices> services,
                std::unique_ptr<DesktopDisplays> displays,
                std::unique_ptr<Clock> clock = std::make_unique<QtClock>(),
                QObject* parent = nullptr);
  ~AppController() override;

  // The user interface's panels and main window; until set, those steps do nothing. Not owned;
  // must outlive the controller or be replaced first.
  void setViews(RecordingViews* views);

  RecordingState state() const { return state_; }
  // Recorded seconds, pauses excluded; updated every 0.1 s while recording.
  double elapsed() const { return elapsed_; }
  // The file of the last recording, or a null string.
  QString lastSaved() const { return lastSaved_; }
  // The last failure, for the user, or a null string (an empty one is still a message).
  QString message() const { return message_; }
  bool hasPermission() const { return hasPermission_; }
  // How the desktop grants screen capture (the onboarding and the display choice word it).
  DesktopServices::CaptureGrant captureGrant() const { return captureGrant_; }
  // Why recordings cannot show clicks here, for the user; empty when they can. Asks the desktop
  // each time: a mouse may have been plugged in.
  QString clickIndicatorProblem() const { return services_->clickIndicatorProblem(); }
  // An earlier recording's file is still being finished (or a cancelled start wound down); no
  // new recording can begin until it is done.
  bool isFinishing() const { return finishing_ > 0; }
  // Finishing has taken long enough to tell the user ("Saving…"), or a start waits for it; the
  // main window is back meanwhile.
  bool isSaving() const { return saving_; }

  // Checks the permission and, when idle, starts the countdown on the screen to record.
  void begin();
  // Ends the countdown, or a start of the engine in progress, and brings the main window back.
  void cancelCountdown();
  // Pauses a recording or resumes a paused one.
  void togglePause();
  // Ends the recording at once; the file is finished in the background.
  void stop();
  // The Ctrl+Alt+R / first menu item rule: cancel a countdown, stop a recording, else begin.
  void startOrStop();

  // Finishes a running recording's file and winds every engine down, waiting for them; the
  // controller does nothing more afterwards. For a process that is exiting (the destructor, or
  // exit() called under the event loop, e.g. by Qt when the X server goes away).
  void finishBeforeExit();

  // Registers Ctrl+Alt+R (startOrStop) and Ctrl+Alt+P (togglePause) with `keys`, which must
  // outlive the controller or drop its actions first.
  void setupHotKeys(HotKeys& keys);
  // The displays there are now, the main one first; none when they cannot be listed.
  std::vector<DisplayInfo> displays() const;
  // Shows the last saved file in the file manager.
  void reveal();
  // Shows `file` (an earlier recording's) in the file manager, as reveal() does.
  void revealFile(const QString& file);
  // Opens the system's screen-capture settings, where they exist.
  void openSettings();
  // Asks for the output folder and stores it in "outputPath".
  void chooseFolder();
  // Re-reads the permission without asking (the onboarding view calls it).
  void refreshPermission();
  // Asks for the permission: where the desktop asks in a dialog, every call; otherwise the first
  // call in a run asks, and later ones, or a refusal, open the settings. A desktop that cannot
  // grant it at all leaves its reason in message().
  void requestPermission();
  // Forgets the screen chosen in the desktop's dialog and asks again (when idle, on a portal).
  void changeScreen();

 signals:
  void stateChanged(kestrova::RecordingState state);
  void elapsedChanged(double seconds);
  void lastSavedChanged(const QString& path);
  void messageChanged(const QString& message);
  void hasPermissionChanged(bool granted);
  void finishingChanged(bool finishing);
  void savingChanged(bool saving);

 private:
  void countdownSecondElapsed();
  void startRecording();
  void engineStarted(std::exception_ptr error);
  void engineFailed(const std::exception_ptr& error);
  // Finishes the recording's file in the background, then tells `failure` or the outcome.
  void finishInBackground(const std::optional<QString>& failure);
  void fail(const QString& message);
  void startTimer();
  void tick();

  void setState(RecordingState state);
  void setElapsed(double seconds);
  void setLastSaved(const QString& path);
  void setMessage(const QString& message);
  void setHasPermission(bool granted);
  void changeFinishing(int delta);
  void showSaving();

  const RecordingEngineFactory makeEngine_;
  const std::unique_ptr<DesktopServices> services_;
  const std::unique_ptr<DesktopDisplays> displays_;
  const std::unique_ptr<Clock> clock_;
  const std::unique_ptr<RecordingViews> noViews_;
  RecordingViews* views_;

  RecordingState state_;
  double elapsed_ = 0;
  QString lastSaved_;
  QString message_;
  bool hasPermission_ = false;
  bool requestedOnce_ = false;
  const DesktopServices::CaptureGrant captureGrant_;

  DisplayInfo display_;  // chosen at begin, for the countdown, the recording and the toolbar
  std::unique_ptr<ScheduledJob> countdown_;
  int countdownLeft_ = 0;           // seconds still to count
  std::uint64_t countdownRun_ = 0;  // which countdown a panel being cleared belongs to
  std::unique_ptr<ScheduledJob> ticker_;
  Clock::TimePoint segmentStart_;
  double accumulated_ = 0;  // seconds of the segments that ended at a pause

  int finishing_ = 0;  // engines being stopped in the background
  bool saving_ = false;
  std::unique_ptr<ScheduledJob> savingDelay_;

  std::unique_ptr<EngineSession> session_;  // last: its answers call into the controller
};

}  // namespace kestrova
