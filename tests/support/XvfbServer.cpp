#include "XvfbServer.h"

#include <stdexcept>

namespace kestrova::testing {

XvfbServer::XvfbServer(int width, int height, const std::vector<std::string>& extraArgs) {
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  // Built before forking: the child of a threaded process must not allocate.
  std::vector<const char*> argv = {"Xvfb",         "-displayfd", "3",   "-screen", "0",
                                   screen.c_str(), "-nolisten",  "tcp", "-noreset"};
  for (const char* extension :
       {"COMPOSITE", "DAMAGE", "XFIXES", "RANDR", "XInputExtension", "XTEST"})
    argv.insert(argv.end(), {"+extension", extension});
  for (const std::string& arg : extraArgs) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  // Xvfb writes its display number once it accepts connections.
  const std::string number = daemon_.start(argv);
  if (number.empty()) {
    daemon_.end();
    throw std::runtime_error("Xvfb did not start (is the xvfb package installed?)");
  }
  display_ = ":" + number;
}

}  // namespace kestrova::testing
