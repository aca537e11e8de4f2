#include "X11HotKeys.h"

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>

#include <array>
#include <memory>
#include <utility>

#include "Xcb.h"

namespace kestrova::x11 {
namespace {

constexpr std::uint32_t kNumLockKeysym = 0xff7f;

xcb_connection_t* qtConnection() {
  auto* app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return app ? app->connection() : nullptr;
}

xcb_window_t rootOf(xcb_connection_t* c) {
  return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

struct KeySymbolsDeleter {
  void operator()(xcb_key_symbols_t* s) const { xcb_key_symbols_free(s); }
};
using KeySymbols = std::unique_ptr<xcb_key_symbols_t, KeySymbolsDeleter>;

// The first keycode that produces `keysym`, or 0.
std::uint8_t keycodeOf(xcb_key_symbols_t* symbols, std::uint32_t keysym) {
  std::unique_ptr<xcb_keycode_t, FreeDeleter> codes(xcb_key_symbols_get_keycode(symbols, keysym));
  return codes ? codes.get()[0] : 0;
}

// The modifier bit that Num Lock sets (Mod2 on nearly every keymap).
std::uint16_t numLockMask(xcb_connection_t* c, std::uint8_t numLockKeycode) {
  XcbReply<xcb_get_modifier_mapping_reply_t> map(
      xcb_get_modifier_mapping_reply(c, xcb_get_modifier_mapping(c), nullptr));
  if (!map || numLockKeycode == 0) return XCB_MOD_MASK_2;
  const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(map.get());
  const int perModifier = map->keycodes_per_modifier;
  for (int mod = 0; mod < 8; ++mod)
    for (int k = 0; k < perModifier; ++k)
      if (codes[mod * perModifier + k] == numLockKeycode) return std::uint16_t(1u << mod);
  return XCB_MOD_MASK_2;
}

// The lock states a grab must also cover, since X matches modifiers exactly: none, Caps Lock,
// Num Lock, both.
std::array<std::uint16_t, 4> lockVariants(std::uint16_t locks) {
  const auto numLock = static_cast<std::uint16_t>(locks & ~XCB_MOD_MASK_LOCK);
  return {0, XCB_MOD_MASK_LOCK, numLock, static_cast<std::uint16_t>(numLock | XCB_MOD_MASK_LOCK)};
}

}  // namespace

std::optional<X11HotKeys::Key> X11HotKeys::fromQt(QKeyCombination key) {
  const int code = key.key();
  Key x;
  // Keysyms of Latin letters are their lower-case ASCII codes, of digits their ASCII codes.
  if (code >= Qt::Key_A && code <= Qt::Key_Z)
    x.keysym = static_cast<std::uint32_t>(code - Qt::Key_A + 'a');
  else if (code >= Qt::Key_0 && code <= Qt::Key_9)
    x.keysym = static_cast<std::uint32_t>(code);
  else
    return std::nullopt;
  const Qt::KeyboardModifiers m = key.keyboardModifiers();
  if (m & Qt::ShiftModifier) x.modifiers |= XCB_MOD_MASK_SHIFT;
  if (m & Qt::ControlModifier) x.modifiers |= XCB_MOD_MASK_CONTROL;
  if (m & Qt::AltModifier) x.modifiers |= XCB_MOD_MASK_1;
  if (m & Qt::MetaModifier) x.modifiers |= XCB_MOD_MASK_4;
  return x;
}

X11HotKeys::~X11HotKeys() {
  if (!installed_ || !QCoreApplication::instance()) return;
  QCoreApplication::instance()->removeNativeEventFilter(this);
  if (xcb_connection_t* c = qtConnection()) {
    for (const Grab& g : grabs_) {
      if (!g.grabbed) continue;
      for (std::uint16_t variant : lockVariants(ignoredModifiers_))
        xcb_ungrab_key(c, g.keycode, rootOf(c), g.modifiers | variant);
    }
    xcb_flush(c);
  }
}

void X11HotKeys::registerKey(std::uint32_t id, QKeyCombination qtKey,
                             std::function<void()> action) {
  if (!installed_ && QCoreApplication::instance()) {
    installed_ = true;  // before trying, so a failure is not retried
    QCoreApplication::instance()->installNativeEventFilter(this);
  }
  actions_[id] = std::move(action);

  const std::optional<Key> x11Key = fromQt(qtKey);
  xcb_connection_t* c = qtConnection();
  if (!c || !x11Key) return;
  const Key key = *x11Key;
  const KeySymbols symbols(xcb_key_symbols_alloc(c));
  if (!symbols) return;
  Grab grab{id, keycodeOf(symbols.get(), key.keysym), key.modifiers, false};
  if (grab.keycode == 0) return;
  ignoredModifiers_ = XCB_MOD_MASK_LOCK | numLockMask(c, keycodeOf(symbols.get(), kNumLockKeysym));

  const xcb_window_t root = rootOf(c);
  std::vector<xcb_void_cookie_t> cookies;
  for (std::uint16_t variant : lockVariants(ignoredModifiers_)) {
    cookies.push_back(xcb_grab_key_checked(c, 1, root, key.modifiers | variant, grab.keycode,
                                           XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
  }
  grab.grabbed = true;
  for (const xcb_void_cookie_t& cookie : cookies) {
    // BadAccess: another program holds this combination. It stays unavailable, silently.
    if (XcbReply<xcb_generic_error_t> error{xcb_request_check(c, cookie)}) grab.grabbed = false;
  }
  grabs_.push_back(grab);
}

bool X11HotKeys::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  const std::uint8_t type = event->response_type & 0x7f;
  if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE) return false;
  const auto* key = reinterpret_cast<const xcb_key_press_event_t*>(event);
  const std::uint16_t modifiers = key->state & ~ignoredModifiers_ & 0xff;

  for (Grab& g : grabs_) {
    if (g.keycode != key->detail) continue;
    if (type == XCB_KEY_RELEASE) {
      // Released, perhaps after the modifiers: the grab's own release, which nobody else sees.
      const bool wasDown = std::exchange(g.down, false);
      if (wasDown) return true;
      continue;
    }
    if (g.modifiers != modifiers) continue;
    // Qt asks for detectable auto-repeat, so a held key repeats as presses without releases.
    if (!std::exchange(g.down, true)) {
      const auto it = actions_.find(g.id);
      if (it != actions_.end() && it->second) {
        // Later, outside this event's handling: an action may open a modal dialog.
        QMetaObject::invokeMethod(QCoreApplication::instance(), it->second, Qt::QueuedConnection);
      }
    }
    return true;  // ours: nobody else sees the press
  }
  return false;
}

}  // namespace kestrova::x11
