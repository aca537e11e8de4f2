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

namespace kestrova::testing {

// A real controller around a fake engine, fake desktop services and a clock the test steps, with
// preferences of the test's own.
class ControllerFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(settingsDir_.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir_.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir_.path());
    Prefs::registerDefaults();
    auto services = std::make_unique<FakeDesktopServices>();
    services_ = services.get();
    services_->granted = grantedAtStart_;
    services_->grant = captureGrant_;
    auto displays = std::make_unique<FakeDisplays>();
    displays_ = displays.get();
    auto clock = std::make_unique<FakeMainClock>();
    clock_ = clock.get();
    controller_ = std::make_unique<AppController>(
        [this](const RecorderConfig& config) {
          auto engine = std::make_shared<FakeEngine>(config, script_);
          engines_.push_back(engine);
          return engine;
        },
        std::move(services), std::move(displays), std::move(clock));
  }

  void TearDown() override {
    for (auto& engine : engines_) {
      engine->startGate.open();
      engine->stopGate.open();
    }
    controller_.reset();
  }

  AppController& controller() { return *controller_; }
  RecordingState state() const { return controller_->state(); }

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
    controller_->begin();
    ASSERT_TRUE(state().isCountdown());
    advance(std::chrono::seconds(3));
    ASSERT_TRUE(settle([this] { return state() == RecordingState::recording(); }));
  }

  // Stops and waits until the file is finished (saved, or a message).
  void stopAndSettle() {
    controller_->stop();
    ASSERT_TRUE(settle([this] { return !controller_->isFinishing(); }));
  }

  bool grantedAtStart_ = true;  // set in a derived fixture's constructor
  DesktopServices::CaptureGrant captureGrant_ = DesktopServices::CaptureGrant::display;  // likewise
  QTemporaryDir settingsDir_;
  FakeDesktopServices* services_ = nullptr;
  FakeDisplays* displays_ = nullptr;
  FakeMainClock* clock_ = nullptr;
  FakeEngineScript script_;
  std::vector<std::shared_ptr<FakeEngine>> engines_;
  std::unique_ptr<AppController> controller_;
};

}  // namespace kestrova::testing
