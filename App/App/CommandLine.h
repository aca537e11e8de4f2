#pragma once

#include <optional>

class QCoreApplication;

namespace kestrova {

class SingleInstance;

// The program's command line: no argument opens the window; one verb controls the copy that
// runs in this session (`--toggle` starts one first when none runs).
namespace command_line {

// The reverse-DNS id of the desktop entry, the AppStream metainfo and the icon.
inline constexpr char kDesktopId[] = "io.github.kestrova.Kestrova";

enum class Verb { none, toggle, pause, stop, status };

// Whether the arguments ask for text (--help, --version, an error) or for a verb that never opens
// a window, so that no window system is needed. Looks at them before any QCoreApplication.
bool needsNoWindow(int argc, char** argv);

// Parses the arguments of `app`: --help and --version print and exit here. nullopt after printing
// why the arguments are wrong.
std::optional<Verb> parse(const QCoreApplication& app);

// Sends `verb` (or, for none, "come to the front") to the copy that runs, prints its answer and
// returns the exit code for this process. `lockHeld`: a copy holds the session but may not have
// answered.
int forward(const SingleInstance& instance, Verb verb, bool lockHeld);

}  // namespace command_line
}  // namespace kestrova
