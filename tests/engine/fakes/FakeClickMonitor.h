#pragma once

#include <memory>
#include <vector>

#include "ClickMonitor.h"

namespace kestrova::testing {

// A click monitor whose presses the test makes by calling press(), on the test's thread.
class FakeClickMonitor final : public ClickMonitor {
 public:
  std::unique_ptr<ClickMonitorToken> install(ClickHandler handler) override {
    ++installs;
    if (!available) return nullptr;
    auto installed = std::make_shared<ClickHandler>(std::move(handler));
    handlers_.push_back(installed);
    return std::make_unique<Token>(std::move(installed));
  }

  // Calls every handler still installed, as one press would.
  void press() {
    for (const auto& weak : handlers_) {
      if (auto h = weak.lock()) (*h)();
    }
  }

  bool available = true;  // false: the platform gives no monitor
  int installs = 0;

 private:
  struct Token final : ClickMonitorToken {
    explicit Token(std::shared_ptr<ClickHandler> h) : handler(std::move(h)) {}
    std::shared_ptr<ClickHandler> handler;  // removing the monitor drops it
  };
  std::vector<std::weak_ptr<ClickHandler>> handlers_;
};

}  // namespace kestrova::testing
