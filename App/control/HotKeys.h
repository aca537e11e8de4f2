#pragma once

#include <QAbstractNativeEventFilter>

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

namespace kestrova {

// System-wide key combinations that reach the program while another one is in front: each key is
// grabbed on the X root window over Qt's own connection (also with Num Lock and Caps Lock on), and
// its presses are picked out of Qt's native events. A combination that another program holds
// already simply does nothing; the menu still works.
//
// Main thread only. Every action runs later on the main thread, after the key event has been
// handled, never inside it. Holding a combination runs its action once. Off X11 nothing is grabbed
// and no key works.
class HotKeys final : public QAbstractNativeEventFilter {
 public:
  // A key as X11 names it: a keysym (XK_r is 0x72) and core modifier bits (Control 0x4, Mod1 0x8).
  struct Key {
    std::uint32_t keysym = 0;
    std::uint16_t modifiers = 0;
  };

  static constexpr std::uint32_t kStartStopId = 1;
  static constexpr std::uint32_t kPauseId = 2;
  static constexpr Key kStartStopKey{0x72, 0x4 | 0x8};  // Ctrl+Alt+R
  static constexpr Key kPauseKey{0x70, 0x4 | 0x8};      // Ctrl+Alt+P

  // The program's registry, made on first use (after the QGuiApplication).
  static HotKeys& shared();

  HotKeys() = default;
  ~HotKeys() override;
  HotKeys(const HotKeys&) = delete;
  HotKeys& operator=(const HotKeys&) = delete;

  // Grabs `key` and runs `action` for it; a second call with the same id replaces the action and
  // grabs its key as well.
  void registerKey(std::uint32_t id, Key key, std::function<void()> action);

  // Whether `id` was registered and its key grabbed in all variants.
  bool isGrabbed(std::uint32_t id) const;

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

}  // namespace kestrova
