#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <memory>
#include <vector>

#include "AppController.h"
#include "Prefs.h"
#include "fakes/FakeClock.h"
#include "fakes/FakeDesktop.h"
#include "fakes/FakeEngine.h"

namespace kestrova {

// States in failure messages, e.g. "countdown 2".
inline void PrintTo(const RecordingState& state, std::ostream* os) {
  static const char* const phases[] = {"idle", "countdown", "recording", "paused"};
  *os << phases[static_cast<int>(state.phase())];
  if (state.isCountdown()) *os << ' ' << state.countdownNumber();
}

namespace testing {

// A real controller around fake engines, desktop services and displays, a clock that only moves
// when told and views that write down what they are asked; preferences of the test's own (an
// empty settings folder, the defaults registered).
class ControllerFixture : public ::testing::Test {
 public:
  void SetUp() override {
    ASSERT_TRUE(settingsDir_.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
    Prefs::registerDefaults();
    build();
  }
  void TearDown() override { reset(); }

  // A new controller on new fakes, for a desktop that grants capture as `grant` says.
  void build(DesktopServices::CaptureGrant grant = DesktopServices::CaptureGrant::display,
             bool granted = true) {
    reset();
    engines_.clear();
    views_.log.clear();
    auto services = std::make_unique<FakeDesktopServices>();
    services_ = services.get();
    services_->grant = grant;
    services_->granted = granted;
    auto displays = std::make_unique<FakeDisplays>();
    displays_ = displays.get();
    auto clock = std::make_unique<FakeMainClock>();
    clock_ = clock.get();
    controller_ = std::make_unique<AppController>(
        [this](const RecorderConfig& config) {
          return engines_.emplace_back(std::make_shared<FakeEngine>(config, script_));
        },
        std::move(services), std::move(displays), std::move(clock));
    controller_->setViews(&views_);
  }

  // Lets every engine's worker through, then finishes with the controller.
  void reset() {
    for (auto& engine : engines_) {
      engine->startGate.open();
      engine->stopGate.open();
    }
    controller_.reset();
  }

  AppController& controller() { return *controller_; }
  RecordingState state() const { return controller_->state(); }
  FakeEngine& engine() { return *engines_.back(); }

  void advance(std::chrono::milliseconds step) {
    clock_->advance(step);
    QCoreApplication::processEvents();
  }

  // Waits for the controller's worker thread to answer.
  [[nodiscard]] static bool settle(const std::function<bool()>& done) {
    return QTest::qWaitFor(done, 5000);
  }

  // From idle through the countdown to a running recording.
  void startRecording() {
    controller().begin();
    ASSERT_TRUE(state().isCountdown());
    advance(std::chrono::seconds(3));
    ASSERT_TRUE(settle([this] { return state() == RecordingState::recording(); }));
  }

  // Stops and waits until the file is finished (saved, or a message).
  void stopAndSettle() {
    controller().stop();
    ASSERT_TRUE(settle([this] { return !controller().isFinishing(); }));
  }

  QTemporaryDir settingsDir_;
  FakeDesktopServices* services_ = nullptr;
  FakeDisplays* displays_ = nullptr;
  FakeMainClock* clock_ = nullptr;
  FakeViews views_;
  FakeEngineScript script_;
  std::vector<std::shared_ptr<FakeEngine>> engines_;
  std::unique_ptr<AppController> controller_;
};

}  // namespace testing
}  // namespace kestrova
