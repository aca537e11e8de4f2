#include "AppController.h"

#include <QFile>
#include <QPointer>
#include <QThread>

#include <cstdlib>
#include <mutex>
#include <system_error>

#include "DesktopDisplays.h"
#include "DesktopServices.h"
#include "EngineSession.h"
#include "HotKeys.h"
#include "OutputFiles.h"
#include "Prefs.h"
#include "RecorderError.h"
#include "RecordingViews.h"

namespace kestrova {
namespace {

using namespace std::chrono_literals;

constexpr auto kCountdownStep = 1s;
constexpr auto kTickInterval = 100ms;
constexpr int kCountdownFrom = 3;
// A stop that answers sooner feels instant; a longer one brings the window back saying so.
constexpr auto kSavingShownAfter = 300ms;

QString describe(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  } catch (...) {
    return QStringLiteral("The recording failed for an unknown reason.");
  }
}

std::filesystem::path toPath(const QString& path) {
  return std::filesystem::path(QFile::encodeName(path).toStdString());
}

QString fromPath(const std::filesystem::path& path) {
  return QFile::decodeName(path.c_str());
}

// The user declined the desktop's screen-sharing dialog: no recording, and nothing to say.
bool isDeclinedShare(const std::exception_ptr& error) {
  try {
    std::rethrow_exception(error);
  } catch (const RecorderError& e) {
    return e.errorCase() == RecorderError::Case::cancelled;
  } catch (...) {
    return false;
  }
}

// The controller whose recording must be finished if the process exits under it: Qt's X11 layer
// calls exit() on the main thread when its connection breaks, and static destructors must not
// then race the recorder's threads. Main thread only.
AppController* liveController = nullptr;

void finishLiveRecordingAtExit() {
  if (liveController && QThread::currentThread() == liveController->thread()) {
    liveController->finishBeforeExit();
  }
}

}  // namespace

AppController::AppController(RecordingEngineFactory makeEngine,
                             std::unique_ptr<DesktopServices> services,
                             std::unique_ptr<DesktopDisplays> displays,
                             std::unique_ptr<Clock> clock, QObject* parent)
    : QObject(parent),
      makeEngine_(std::move(makeEngine)),
      services_(std::move(services)),
      displays_(std::move(displays)),
      clock_(std::move(clock)),
      noViews_(std::make_unique<NoRecordingViews>()),
      views_(noViews_.get()),
      hasPermission_(services_->preflightScreenCapture()),
      captureGrant_(services_->captureGrant()),
      segmentStart_(clock_->now()),
      session_(std::make_unique<EngineSession>(EngineSession::Events{
          [this](std::exception_ptr error) { engineStarted(error); },
          [this] { changeFinishing(-1); },
          [this](std::exception_ptr error) { engineFailed(error); },
          [this] { stop(); },
      })) {
  liveController = this;
  static std::once_flag atExit;
  std::call_once(atExit, [] { std::atexit(finishLiveRecordingAtExit); });
}

AppController::~AppController() {
  finishBeforeExit();
  if (liveController == this) liveController = nullptr;
}

void AppController::finishBeforeExit() {
  if (session_->isClosed()) return;  // done already
  ticker_.reset();
  countdown_.reset();
  savingDelay_.reset();
  session_->close();
}

void AppController::setViews(RecordingViews* views) {
  views_ = views ? views : noViews_.get();
}

void AppController::begin() {
  setHasPermission(services_->preflightScreenCapture());
  if (!hasPermission_) {
    requestPermission();
    return;
  }
  if (!state_.isIdle()) return;
  // A file still being finished would otherwise restore the main window in the middle of the new
  // countdown and set its own outcome over the new recording's. Say why nothing starts.
  if (isFinishing()) {
    showSaving();
    return;
  }

  setMessage({});
  setLastSaved({});
  try {
    // The "displayID" preference is read now: a change during the countdown counts next time.
    display_ = chooseDisplay(displays_->displays(), Prefs::displayID());
  } catch (...) {
    fail(describe(std::current_exception()));
    return;
  }
  ++countdownRun_;
  setState(RecordingState::countdown(kCountdownFrom));
  views_->hideMainWindow();
  views_->showCountdownPanel(displays_->panelArea(display_.id));
  countdownLeft_ = kCountdownFrom;
  countdown_ =
      clock_->schedule(kCountdownStep, Clock::Repeat::every, [this] { countdownSecondElapsed(); });
}

void AppController::countdownSecondElapsed() {
  if (--countdownLeft_ > 0) {
    setState(RecordingState::countdown(countdownLeft_));
    return;
  }
  countdown_.reset();
  // The recording's first frame must not catch the countdown on its way out.
  views_->clearCountdownPanel([self = QPointer<AppController>(this), run = countdownRun_] {
    if (self && self->countdownRun_ == run && self->state_.isCountdown()) self->startRecording();
  });
}

void AppController::startRecording() {
  // The countdown panel is gone already (clearCountdownPanel).
  const OutputFolder file = recordingFile(QDateTime::currentDateTime());
  if (file.path.isEmpty()) {
    fail(file.error);
    return;
  }

  RecorderConfig config = Prefs::recordingSettings();
  // The recorder looks the display up again by id when it starts, so it records the display as
  // it is then, wherever it went during the countdown.
  config.displayID = display_.id;
  config.screenFrame = display_.frame;
  config.scale = display_.scale;
  config.url = toPath(file.path);

  std::shared_ptr<RecordingEngine> engine;
  try {
    engine = makeEngine_(config);
  } catch (...) {
    fail(describe(std::current_exception()));
    return;
  }
  if (!engine) {
    fail(QStringLiteral("The recording could not start."));
    return;
  }

  session_->start(std::move(engine));
}

void AppController::engineStarted(std::exception_ptr error) {
  if (error && isDeclinedShare(error)) {
    fail(QString());
    refreshPermission();  // a declined dialog leaves no choice to record
    return;
  }
  if (error) {
    fail(describe(error));
    return;
  }

  accumulated_ = 0;
  setElapsed(0);
  segmentStart_ = clock_->now();
  setState(RecordingState::recording());
  startTimer();
  views_->showToolbarPanel(displays_->toolbarArea(display_.id));
}

void AppController::engineFailed(const std::exception_ptr& error) {
  // The recording so far is kept: finish the file, then tell what went wrong.
  const QString message = describe(error);
  ticker_.reset();
  views_->removeToolbarPanel();
  views_->removeCountdownPanel();
  setState(RecordingState::idle());
  finishInBackground(message);
}

void AppController::finishInBackground(const std::optional<QString>& failure) {
  changeFinishing(+1);
  savingDelay_ = clock_->schedule(kSavingShownAfter, Clock::Repeat::once, [this] { showSaving(); });
  session_->finishRecording(
      [this, failure](const std::filesystem::path& saved, const std::exception_ptr& error) {
        changeFinishing(-1);
        if (!error) {
          setLastSaved(fromPath(saved));
          if (!failure) services_->playCompletionSound();
        }
        if (failure)
          setMessage(*failure);
        else if (error)
          setMessage(describe(error));
        views_->restoreMainWindow();
      });
}

void AppController::cancelCountdown() {
  // Only a countdown can be cancelled: anything else would hide a running recording.
  if (!state_.isCountdown()) return;
  countdown_.reset();
  views_->removeCountdownPanel();
  if (session_->cancelStart()) changeFinishing(+1);
  setState(RecordingState::idle());
  views_->restoreMainWindow();
}

void AppController::togglePause() {
  if (state_ == RecordingState::paused()) {
    segmentStart_ = clock_->now();
    session_->setPaused(false);
    setState(RecordingState::recording());
  } else if (state_ == RecordingState::recording()) {
    accumulated_ += std::chrono::duration<double>(clock_->now() - segmentStart_).count();
    session_->setPaused(true);
    setState(RecordingState::paused());
  }
}

void AppController::stop() {
  if (!state_.isActive() || !session_->isRecording()) return;
  ticker_.reset();
  views_->removeToolbarPanel();
  setState(RecordingState::idle());
  finishInBackground(std::nullopt);
}

void AppController::startOrStop() {
  if (state_.isCountdown())
    cancelCountdown();
  else if (state_.isActive())
    stop();
  else
    begin();
}

void AppController::fail(const QString& message) {
  ticker_.reset();
  countdown_.reset();
  views_->removeToolbarPanel();
  views_->removeCountdownPanel();
  setState(RecordingState::idle());
  setMessage(message);
  views_->restoreMainWindow();
}

void AppController::startTimer() {
  ticker_ = clock_->schedule(kTickInterval, Clock::Repeat::every, [this] { tick(); });
}

void AppController::tick() {
  if (state_ != RecordingState::recording()) return;
  setElapsed(accumulated_ + std::chrono::duration<double>(clock_->now() - segmentStart_).count());
}

void AppController::requestPermission() {
  const bool asksInDialog = captureGrant_ == DesktopServices::CaptureGrant::portal;
  if (!requestedOnce_ || asksInDialog) {
    requestedOnce_ = true;
    const DesktopServices::CaptureAnswer answer = services_->requestScreenCapture();
    setHasPermission(answer.granted);
    if (!answer.problem.isEmpty()) setMessage(answer.problem);
    // Granted: the user starts again by hand. Declined in a dialog: the button asks again.
    if (hasPermission_ || asksInDialog) return;
  }
  openSettings();
}

void AppController::changeScreen() {
  if (captureGrant_ != DesktopServices::CaptureGrant::portal || !state_.isIdle()) return;
  services_->forgetScreenCapture();
  setHasPermission(false);
  setMessage({});
  requestPermission();
}

void AppController::refreshPermission() {
  setHasPermission(services_->preflightScreenCapture());
}

void AppController::setupHotKeys(HotKeys& keys) {
  const QPointer<AppController> self(this);
  keys.registerKey(HotKeys::kStartStopId, HotKeys::kStartStopKey, [self] {
    if (self) self->startOrStop();
  });
  keys.registerKey(HotKeys::kPauseId, HotKeys::kPauseKey, [self] {
    if (self) self->togglePause();
  });
}

std::vector<DisplayInfo> AppController::displays() const {
  try {
    return displays_->displays();
  } catch (const std::exception&) {
    return {};  // the picker then offers the main display alone; begin() tells what is wrong
  }
}

void AppController::reveal() {
  if (!lastSaved_.isNull()) revealFile(lastSaved_);
}

void AppController::revealFile(const QString& file) {
  services_->revealInFileManager(toPath(file));
}

void AppController::openSettings() {
  services_->openScreenCaptureSettings();
}

void AppController::chooseFolder() {
  if (const auto folder = services_->chooseFolder()) Prefs::set(Prefs::kOutputPath, *folder);
}

void AppController::setState(RecordingState state) {
  if (state_ == state) return;
  state_ = state;
  emit stateChanged(state_);
}

void AppController::setElapsed(double seconds) {
  if (elapsed_ == seconds) return;
  elapsed_ = seconds;
  emit elapsedChanged(elapsed_);
}

void AppController::setLastSaved(const QString& path) {
  if (lastSaved_ == path && lastSaved_.isNull() == path.isNull()) return;
  lastSaved_ = path;
  emit lastSavedChanged(lastSaved_);
}

void AppController::setMessage(const QString& message) {
  if (message_ == message && message_.isNull() == message.isNull()) return;
  message_ = message;
  emit messageChanged(message_);
}

void AppController::setHasPermission(bool granted) {
  if (hasPermission_ == granted) return;
  hasPermission_ = granted;
  emit hasPermissionChanged(granted);
}

void AppController::changeFinishing(int delta) {
  const bool was = isFinishing();
  finishing_ += delta;
  if (was != isFinishing()) emit finishingChanged(isFinishing());
  if (!isFinishing()) {
    savingDelay_.reset();
    if (saving_) {
      saving_ = false;
      emit savingChanged(false);
    }
  }
}

void AppController::showSaving() {
  savingDelay_.reset();
  if (!isFinishing() || saving_) return;
  saving_ = true;
  emit savingChanged(true);
  views_->restoreMainWindow();
}

}  // namespace kestrova
