#include "DisplayInfo.h"

#include <algorithm>

#include "RecorderError.h"

namespace kestrova {

const DisplayInfo& chooseDisplay(const std::vector<DisplayInfo>& displays, std::uint32_t id) {
  if (displays.empty()) throw RecorderError::noDisplay();
  const auto it =
      std::find_if(displays.begin(), displays.end(), [id](const auto& d) { return d.id == id; });
  return it != displays.end() ? *it : displays.front();
}

}  // namespace kestrova
