#!/usr/bin/env bash
# Writes PNG pictures of Kestrova's windows and panels, as an X server shows them, to a folder
# (default: build/screenshots): the main window idle with "Cursor following" open, the
# onboarding, the countdown, the toolbar recording and paused, the status after a save and after a
# failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=${1:-$build/screenshots}
[[ -f $build/build.ninja ]] || cmake -S "$root" -B "$build" -G Ninja
cmake --build "$build" --target ui_screenshots
"$build/tests/ui_screenshots" "$out"
