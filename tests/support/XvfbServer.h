#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "Daemon.h"

namespace kestrova::testing {

// A private X server for tests that need a real display: Xvfb on a free display number (it picks
// one itself through -displayfd), killed when this object goes. One per test binary is plenty.
class XvfbServer {
 public:
  // Starts Xvfb with one screen of `width`×`height` at 24 bits, plus `extraArgs` (e.g.
  // "-extension", "MIT-SHM" for a server without it); throws std::runtime_error on failure.
  XvfbServer(int width, int height, const std::vector<std::string>& extraArgs = {});

  // ":N", for DISPLAY or xcb_connect.
  const std::string& display() const { return display_; }
  // Makes DISPLAY name this server for the rest of the process.
  void exportDisplay() const { setenv("DISPLAY", display_.c_str(), 1); }
  // Kills the server now (to test a display that goes away).
  void kill() { daemon_.end(); }

 private:
  Daemon daemon_;
  std::string display_;
};

}  // namespace kestrova::testing
