#!/usr/bin/env bash
# Builds the Debian package from a build tree into a folder of its own and checks it: the files a
# desktop needs, the desktop entry, the AppStream metainfo, the dependencies and lintian.
# Usage: check-package.sh BUILD_DIR SOURCE_DIR. Exit 77 (skipped) when a tool is missing.
set -euo pipefail
build=$1
source=$2
id=io.github.kestrova.Kestrova

for tool in cpack dpkg-deb dpkg-shlibdeps desktop-file-validate appstreamcli lintian man; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: $tool is not installed (scripts/setup.sh installs it)"
    exit 77
  fi
done

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

if ! (cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1); then
  cat "$out/cpack.log"
  exit 1
fi
deb=$(echo "$out"/kestrova_*.deb)
echo "package: $(basename "$deb")"
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$out/files"

for file in /usr/bin/kestrova \
  /usr/share/applications/$id.desktop \
  /usr/share/metainfo/$id.metainfo.xml \
  /usr/share/icons/hicolor/scalable/apps/$id.svg \
  /usr/share/icons/hicolor/48x48/apps/$id.png \
  /usr/share/icons/hicolor/128x128/apps/$id.png \
  /usr/share/icons/hicolor/256x256/apps/$id.png \
  /usr/share/man/man1/kestrova.1.gz \
  /usr/share/doc/kestrova/copyright \
  /usr/share/doc/kestrova/changelog.gz; do
  grep -qx "$file" "$out/files" || fail "the package lacks $file"
done
if grep -v -e '/$' -e '^/usr/bin/kestrova$' -e '^/usr/share/' "$out/files"; then
  fail "the package holds files outside /usr/bin/kestrova and /usr/share (above)"
fi

mkdir "$out/root"
dpkg-deb -x "$deb" "$out/root"
root=$out/root/usr/share
desktop-file-validate "$root/applications/$id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net --strict "$root/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
grep -q "^Icon=$id\$" "$root/applications/$id.desktop" || fail "the desktop entry names another icon"
grep -q "kDesktopId\[\] = \"$id\"" "$source/App/App/CommandLine.h" ||
  fail "the program's desktop file name is not $id"
for size in 48 128 256; do
  # A PNG's width and height are the big-endian words at bytes 16 and 20.
  read -r -a header < <(od -An -tu1 -j16 -N8 "$root/icons/hicolor/${size}x$size/apps/$id.png")
  width=$(((header[2] << 8) + header[3]))
  height=$(((header[6] << 8) + header[7]))
  [[ $width == "$size" && $height == "$size" ]] || fail "the $size px icon is $width×$height"
done

version=$(dpkg-deb -f "$deb" Version)
grep -q "<release version=\"$version\"" "$root/metainfo/$id.metainfo.xml" ||
  fail "the metainfo has no release notes for $version"
zcat "$root/doc/kestrova/changelog.gz" | head -1 | grep -q "^kestrova ($version)" ||
  fail "the changelog does not start at $version"
for shot in $(grep -o 'screenshots/[^<]*\.png' "$root/metainfo/$id.metainfo.xml"); do
  [[ -f $source/docs/$shot ]] || fail "docs/$shot, named in the metainfo, is missing"
  grep -q "\"$(basename "$shot" .png)\"" "$source/tests/ui/ShellX11Test.cpp" ||
    fail "tests/screenshots.sh does not draw $(basename "$shot")"
done

depends=$(dpkg-deb -f "$deb" Depends)
for library in libavcodec libavformat libqt6widgets6 libqt6dbus6 libxcb1 libyuv libcanberra0; do
  grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done

warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$root/man/man1/kestrova.1.gz" 2>&1 >/dev/null)
[[ -z $warnings ]] || fail "the man page: $warnings"
"$build/App/App/kestrova" --help >"$out/help"
for option in $(grep -o -- '--[a-z]*' "$out/help" | sort -u); do
  zgrep -q -- "${option//-/\\\\-}" "$root/man/man1/kestrova.1.gz" || fail "the man page lacks $option"
done

lintian --fail-on error --tag-display-limit 0 "$deb" | tee "$out/lintian" || fail "lintian reports errors"

[[ $failures -eq 0 ]] || exit 1
echo "the package is complete"
