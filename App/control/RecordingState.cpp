#include "RecordingState.h"

#include <cstdint>

namespace kestrova {

QString formatTime(double seconds) {
  const auto t = static_cast<std::int64_t>(seconds);
  const std::int64_t minutes = t / 60;
  return QString::asprintf("%02lld:%02lld", static_cast<long long>(minutes),
                           static_cast<long long>(t - minutes * 60));
}

}  // namespace kestrova
