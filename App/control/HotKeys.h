#pragma once

#include <QKeyCombination>

#include <cstdint>
#include <functional>

namespace kestrova {

// System-wide key combinations that reach the program while another one is in front. The
// program's entry picks the implementation for the session (X11 grabs today); the controller
// registers its two keys through this.
//
// Main thread only. Every action runs later on the main thread, never inside the key event's
// handling. Holding a combination runs its action once. A combination that cannot be had (another
// program holds it, or the session offers no global keys) simply does nothing; the menu still
// works.
class HotKeys {
 public:
  static constexpr std::uint32_t kStartStopId = 1;
  static constexpr std::uint32_t kPauseId = 2;
  static constexpr QKeyCombination kStartStopKey{Qt::ControlModifier | Qt::AltModifier, Qt::Key_R};
  static constexpr QKeyCombination kPauseKey{Qt::ControlModifier | Qt::AltModifier, Qt::Key_P};

  virtual ~HotKeys() = default;

  // Takes `key` for `id` and runs `action` for it; a second call with the same id replaces the
  // action and takes its key as well.
  virtual void registerKey(std::uint32_t id, QKeyCombination key, std::function<void()> action) = 0;

  // For sessions whose keys come from a service that answers later (a desktop portal): calls
  // `settled` once, on the main thread, saying whether any key works at all. Where that is known
  // at once, it is never called and the window shows its usual key hints.
  // NOLINTNEXTLINE(performance-unnecessary-value-param): overrides keep the handler
  virtual void onSettled(std::function<void(bool available)> settled) { (void)settled; }
};

// For sessions without global keys, and for tests.
class NoHotKeys final : public HotKeys {
 public:
  void registerKey(std::uint32_t, QKeyCombination, std::function<void()>) override {}
};

}  // namespace kestrova
