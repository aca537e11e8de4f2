#pragma once

#include <QString>
#include <QVariant>

#include <cstdint>
#include <optional>

#include "RecorderConfig.h"

namespace kestrova {

// The output video size in pixels.
struct OutputSize {
  std::int64_t width = 0;
  std::int64_t height = 0;
  friend bool operator==(const OutputSize&, const OutputSize&) = default;
};

// The user's settings: ten keys in $XDG_CONFIG_HOME/Kestrova/Kestrova.conf (INI), read
// through a layer of registered defaults that answers for keys the user never set. A stored value
// of the wrong type (a word where a number belongs, after editing the file by hand) reads as the
// registered default.
//
// Main thread only. Reads see writes at once.
class Prefs {
 public:
  static constexpr const char* kPreset = "preset";          // "720p", "1080p" or "custom"
  static constexpr const char* kCustomWidth = "customW";    // pixels, for "custom"
  static constexpr const char* kCustomHeight = "customH";   // pixels, for "custom"
  static constexpr const char* kFps = "fps";                // 60 means 60, anything else 30
  static constexpr const char* kSmoothing = "smoothing";    // see ViewportTracker
  static constexpr const char* kDeadZone = "deadZone";      // see ViewportTracker
  static constexpr const char* kClicks = "clicks";          // draw click rings
  static constexpr const char* kOutputPath = "outputPath";  // folder of the recordings
  static constexpr const char* kDisplayID = "displayID";    // DisplayInfo::id; 0: main display
  // Wayland: the screen-cast portal's token for the screen the user chose; no default (absent: not
  // chosen yet). Unlike the rest, the recorder's worker may read and store it: every access has a
  // QSettings of its own, which Qt allows on any thread.
  static constexpr const char* kRestoreToken = "restoreToken";

  // The values of kPreset; any other reads as k1080p, which is also the default.
  static constexpr const char* k720p = "720p";
  static constexpr const char* k1080p = "1080p";
  static constexpr const char* kCustom = "custom";
  static constexpr OutputSize k720pSize{1280, 720};
  static constexpr OutputSize k1080pSize{1920, 1080};
  // Bounds of a custom width or height, pixels.
  static constexpr std::int64_t kMinCustomSize = 160;
  static constexpr std::int64_t kMaxCustomSize = 7680;

  // Registers the defaults of the nine keys that have one (outputPath: defaultFolder() now). Not
  // written to disk. Call once at launch, before anything reads a preference.
  static void registerDefaults();

  // The XDG Videos folder, else the home folder. Neither created nor checked.
  static QString defaultFolder();

  // Typed reads: the stored value, else the registered default, else nullopt / 0 / 0.0 / false.
  static std::optional<QString> string(const char* key);
  static std::int64_t integer(const char* key);
  static double real(const char* key);  // finite
  static bool boolean(const char* key);

  static void set(const char* key, const QVariant& value);
  static void remove(const char* key);

  // The "preset" preference; k1080p when it holds no string.
  static QString preset();
  // A custom width or height as a recording gets it and the settings form stores it: clamped to
  // kMinCustomSize...kMaxCustomSize, then rounded down to even.
  static std::int64_t clampedCustomSize(std::int64_t pixels);
  // The "displayID" preference as a display id (0: the main display).
  static std::uint32_t displayID();

  // The size handed to a recording: 1280×720 for "720p"; for "custom" customW×customH, each
  // clamped to 160...7680 and rounded down to even; 1920×1080 for everything else.
  static OutputSize outputSize();

  // A recording's output size, rate, follow settings and click switch as the preferences have
  // them (fps: 60 means 60, anything else 30). Display, geometry and file are the caller's.
  static RecorderConfig recordingSettings();

 private:
  static std::optional<QVariant> lookUp(const char* key);
};

}  // namespace kestrova
