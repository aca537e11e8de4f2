#pragma once

#include <QMetaType>
#include <QString>

namespace kestrova {

// Where a recording stands. `countdown` carries the number shown (3, 2, then 1).
class RecordingState {
 public:
  enum class Phase { idle, countdown, recording, paused };

  static RecordingState idle() { return RecordingState(Phase::idle, 0); }
  static RecordingState countdown(int number) { return RecordingState(Phase::countdown, number); }
  static RecordingState recording() { return RecordingState(Phase::recording, 0); }
  static RecordingState paused() { return RecordingState(Phase::paused, 0); }

  RecordingState() = default;

  Phase phase() const { return phase_; }
  // The number shown by the countdown; 0 in every other phase.
  int countdownNumber() const { return number_; }

  bool isIdle() const { return phase_ == Phase::idle; }
  bool isCountdown() const { return phase_ == Phase::countdown; }
  // Recording or paused: an engine is running.
  bool isActive() const { return phase_ == Phase::recording || phase_ == Phase::paused; }

  friend bool operator==(const RecordingState&, const RecordingState&) = default;

 private:
  RecordingState(Phase phase, int number) : phase_(phase), number_(number) {}

  Phase phase_ = Phase::idle;
  int number_ = 0;
};

// Seconds as "mm:ss", minutes not wrapping at 60 (3725 s is "62:05"). Fractions are cut off.
QString formatTime(double seconds);

}  // namespace kestrova

Q_DECLARE_METATYPE(kestrova::RecordingState)
