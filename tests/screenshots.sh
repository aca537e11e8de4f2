#!/usr/bin/env bash
# Writes PNG pictures of Kestrova's windows and panels, as an X server shows them, to a folder
# (default: build/screenshots): the main window idle with "Cursor following" open, the
# onboarding, the countdown, the toolbar recording and paused, the status after a save and after a
# failure. The X11 shell test takes them on its walk through a recording.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
out=${1:-$build/screenshots}
[[ -f $build/build.ninja ]] || cmake -S "$root" -B "$build" -G Ninja
cmake --build "$build" --target ui_x11_tests
mkdir -p "$out"
KESTROVA_SCREENSHOTS=$(cd "$out" && pwd) "$build/tests/ui_x11_tests" \
  --gtest_filter='ShellX11Test.TheWindowAndThePanelsThroughARecording'
