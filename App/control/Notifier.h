#pragma once

#include <QString>

#include <functional>

namespace kestrova {

// One desktop notification: plain text, and at most one action button.
struct Notification {
  QString summary;
  QString body;
  QString actionLabel;           // empty: no action
  std::function<void()> action;  // runs on the main thread when the user picks the action
  bool failure = false;          // tells a failure from a success, for desktops that sort them
};

// Shows desktop notifications; DesktopNotifier is the real one.
//
// Main thread only. Never reports a failure: where no notification can be shown, nothing shows.
class Notifier {
 public:
  virtual ~Notifier() = default;

  virtual void notify(Notification notification) = 0;
};

}  // namespace kestrova
