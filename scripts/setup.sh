#!/usr/bin/env bash
# Installs the Debian packages Kestrova needs to build, run and test.
# Idempotent: installs only what is missing, and runs `apt-get update` only when it must install.
set -euo pipefail

packages=(
  # toolchain
  cmake ninja-build g++ pkg-config
  # make lint and make format-check
  clang clang-tidy clang-format
  # engine
  libyuv-dev libavcodec-dev libavformat-dev libavutil-dev libswscale-dev
  # X11 adapters
  libxcb1-dev libxcb-shm0-dev libxcb-randr0-dev libxcb-xfixes0-dev libxcb-damage0-dev
  libxcb-composite0-dev libxcb-xinput-dev libxcb-xtest0-dev libxcb-keysyms1-dev
  # user interface and desktop services
  qt6-base-dev qt6-base-dev-tools libcanberra-dev fonts-dejavu-core
  # Wayland back end: the screen cast's PipeWire stream, mouse buttons from the input devices
  libpipewire-0.3-dev libevdev-dev
  # tests and benchmarks (dbus-daemon: private session buses for the notification and portal tests)
  libgtest-dev libgmock-dev libbenchmark-dev xvfb xauth ffmpeg time dbus-daemon
  # the Debian package: icons rendered from the SVG, dependencies, and its checks
  librsvg2-bin gzip man-db dpkg-dev lintian appstream desktop-file-utils
  # the Wayland lab: a headless GNOME session (tests/wayland) and the GStreamer peer (bench/)
  mutter pipewire wireplumber xdg-desktop-portal xdg-desktop-portal-gnome
  libglib2.0-bin qt6-wayland gstreamer1.0-pipewire gstreamer1.0-tools gstreamer1.0-plugins-base
  gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if [[ ${#missing[@]} -eq 0 ]]; then
  exit 0
fi

echo "Kestrova set-up: installing ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO=sudo
    echo "Installing packages needs root; asking sudo."
  else
    echo "error: installing packages needs root. Run as root: apt-get install ${missing[*]}" >&2
    exit 1
  fi
else
  SUDO=
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
