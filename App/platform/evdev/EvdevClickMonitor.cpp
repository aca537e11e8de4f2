#include "EvdevClickMonitor.h"

#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>

#include <cerrno>
#include <fstream>
#include <system_error>

#include "ButtonPressReader.h"

namespace kestrova::evdev {
namespace {

constexpr unsigned kLetterKeys[] = {
    KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I, KEY_J, KEY_K, KEY_L, KEY_M,
    KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R, KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z,
};

}  // namespace

DeviceKind classifyDevice(const std::function<bool(unsigned type, unsigned code)>& has) {
  for (const unsigned key : kLetterKeys) {
    if (has(EV_KEY, key)) return DeviceKind::keyboard;
  }
  const bool moves = has(EV_REL, REL_X) || has(EV_ABS, ABS_X);
  return moves && has(EV_KEY, BTN_LEFT) ? DeviceKind::pointer : DeviceKind::other;
}

namespace {

std::vector<std::uint64_t> parseWords(std::string_view text) {
  std::vector<std::uint64_t> words;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t begin = text.find_first_not_of(" \n", at);
    if (begin == std::string_view::npos) break;
    std::size_t end = text.find_first_of(" \n", begin);
    if (end == std::string_view::npos) end = text.size();
    std::uint64_t word = 0;
    for (const char c : text.substr(begin, end - begin)) {
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : 0;
      word = word << 4 | static_cast<std::uint64_t>(digit);
    }
    words.push_back(word);
    at = end;
  }
  return {words.rbegin(), words.rend()};
}

// sysfs prints the kernel's bitmaps in words of an unsigned long.
constexpr unsigned kWordBits = sizeof(unsigned long) * 8;

bool bitSet(const std::vector<std::uint64_t>& words, unsigned bit) {
  const std::size_t word = bit / kWordBits;
  return word < words.size() && (words[word] >> (bit % kWordBits) & 1) != 0;
}

std::optional<std::string> readText(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::string text;
  if (!in || !std::getline(in, text)) return std::nullopt;
  return text;
}

}  // namespace

Capabilities::Capabilities(std::string_view key, std::string_view rel, std::string_view abs)
    : key_(parseWords(key)), rel_(parseWords(rel)), abs_(parseWords(abs)) {}

std::optional<Capabilities> Capabilities::read(const std::filesystem::path& folder) {
  const auto key = readText(folder / "key");
  const auto rel = readText(folder / "rel");
  const auto abs = readText(folder / "abs");
  if (!key || !rel || !abs) return std::nullopt;
  return Capabilities(*key, *rel, *abs);
}

bool Capabilities::has(unsigned type, unsigned code) const {
  switch (type) {
    case EV_KEY:
      return bitSet(key_, code);
    case EV_REL:
      return bitSet(rel_, code);
    case EV_ABS:
      return bitSet(abs_, code);
    default:
      return false;
  }
}

InputDevices openPointerDevices(const std::filesystem::path& folder,
                                const std::filesystem::path& sysfs) {
  InputDevices found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("event", 0) != 0) continue;
    const auto caps = Capabilities::read(sysfs / name / "device" / "capabilities");
    if (!caps || classifyDevice([&](unsigned type, unsigned code) {
                   return caps->has(type, code);
                 }) != DeviceKind::pointer) {
      continue;
    }
    UniqueFd fd(open(entry.path().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) {
      if (errno == EACCES || errno == EPERM) ++found.refused;
      continue;
    }
    // The node may not be the device sysfs described (replaced in between): ask the device.
    libevdev* device = nullptr;
    if (libevdev_new_from_fd(fd.get(), &device) < 0) continue;
    const DeviceKind kind = classifyDevice([device](unsigned type, unsigned code) {
      return libevdev_has_event_code(device, type, code) == 1;
    });
    libevdev_free(device);
    if (kind == DeviceKind::pointer) found.pointers.push_back(std::move(fd));
  }
  return found;
}

std::string pointerDevicesProblem(const std::filesystem::path& folder) {
  const InputDevices devices = openPointerDevices(folder);
  if (!devices.pointers.empty()) return {};
  if (devices.refused > 0) {
    return "Clicks show on Wayland only to the \u201cinput\u201d group: run "
           "\u201csudo usermod -aG input $USER\u201d, then log in again.";
  }
  return "Clicks cannot show: no mouse or touchpad was found.";
}

EvdevClickMonitor::EvdevClickMonitor(DeviceOpener open) : open_(std::move(open)) {
  if (!open_) open_ = [] { return openPointerDevices().pointers; };
}

std::unique_ptr<ClickMonitorToken> EvdevClickMonitor::install(ClickHandler handler) {
  if (!handler) return nullptr;
  std::vector<UniqueFd> devices = open_();
  if (devices.empty()) return nullptr;
  try {
    return std::make_unique<ButtonPressReader>(std::move(devices), std::move(handler));
  } catch (const std::system_error&) {
    return nullptr;  // no thread to be had: no rings, the recording goes on
  }
}

}  // namespace kestrova::evdev
