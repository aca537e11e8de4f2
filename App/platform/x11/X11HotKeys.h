#pragma once

#include <QAbstractNativeEventFilter>

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "HotKeys.h"

namespace kestrova::x11 {

// Hot keys on X11: each key is grabbed on the root window over Qt's own connection (also with
// Num Lock and Caps Lock on), and its presses are picked out of Qt's native events. Off X11
// nothing is grabbed.
//
// Main thread only, after the QGuiApplication; one per program.
class X11HotKeys final : public HotKeys, public QAbstractNativeEventFilter {
 public:
  // A key as X11 names it: a keysym and core modifier bits (Shift 0x1, Control 0x4, Mod1 0x8).
  struct Key {
    std::uint32_t keysym = 0;
    std::uint16_t modifiers = 0;
  };

  // `key` in X11's terms: letters and digits with Shift, Ctrl, Alt (Mod1) and Meta (Mod4);
  // nullopt for other keys.
  static std::optional<Key> fromQt(QKeyCombination key);

  X11HotKeys() = default;
  ~X11HotKeys() override;
  X11HotKeys(const X11HotKeys&) = delete;
  X11HotKeys& operator=(const X11HotKeys&) = delete;

  void registerKey(std::uint32_t id, QKeyCombination key, std::function<void()> action) override;

  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

 private:
  struct Grab {
    std::uint32_t id = 0;
    std::uint8_t keycode = 0;
    std::uint16_t modifiers = 0;
    bool grabbed = false;
    bool down = false;  // held: the presses that key repeat adds run nothing
  };

  std::map<std::uint32_t, std::function<void()>> actions_;
  std::vector<Grab> grabs_;
  std::uint16_t ignoredModifiers_ = 0;  // Caps Lock and Num Lock
  bool installed_ = false;
};

}  // namespace kestrova::x11
