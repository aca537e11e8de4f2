#!/usr/bin/env bash
# Does a web browser's video element open, seek and decode a finished recording? Not part of CI:
# needs Debian's chromium (apt-get install chromium).
#
#   bench/browser_check.sh [file.mp4] [build-dir]
#
# Without a file, the writer makes a 6 s 1280×720 clip at 30 fps with uneven frame spacing.
# Prints what the video element reports: duration, size, whether a seek to the middle completed
# and the colour of a pixel of the frame shown there.
set -euo pipefail
cd "$(dirname "$0")/.."
browser=$(command -v chromium || command -v chromium-browser || true)
if [[ -z $browser ]]; then
  echo "chromium is not installed (apt-get install chromium)" >&2
  exit 2
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if [[ $# -ge 1 ]]; then
  cp "$1" "$tmp/clip.mp4"
else
  build=${2:-build-release}
  if [[ ! -f $build/build.ninja ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTROVA_BUILD_TESTS=OFF >/dev/null
  fi
  cmake --build "$build" --target encoder_bench >/dev/null
  "$build/bench/encoder_bench" --write-clip "$tmp/clip.mp4" 1280 720 30 6
fi
ffprobe -v error -show_entries format=duration:stream=codec_name,profile,width,height,nb_frames \
  -of compact "$tmp/clip.mp4"

cat >"$tmp/page.html" <<'HTML'
<!doctype html>
<video id="v" muted preload="auto" src="clip.mp4"></video>
<pre id="out">no answer</pre>
<script>
const v = document.getElementById('v'), out = document.getElementById('out');
const report = (o) => { out.textContent = JSON.stringify(o); };
v.onerror = () => report({error: v.error ? v.error.code + ' ' + v.error.message : 'unknown'});
v.onloadedmetadata = () => { v.currentTime = v.duration / 2; };
v.onseeked = () => {
  const r = {duration: v.duration, width: v.videoWidth, height: v.videoHeight,
             seekedTo: v.currentTime, readyState: v.readyState};
  try {
    const c = document.createElement('canvas');
    c.width = v.videoWidth; c.height = v.videoHeight;
    const g = c.getContext('2d');
    g.drawImage(v, 0, 0);
    r.pixelTopLeft = Array.from(g.getImageData(4, 4, 1, 1).data);
  } catch (e) { r.pixel = String(e); }
  report(r);
};
</script>
HTML
"$browser" --headless --no-sandbox --disable-gpu --mute-audio --allow-file-access-from-files \
  --virtual-time-budget=15000 --dump-dom "file://$tmp/page.html" 2>/dev/null |
  sed -n 's/.*<pre id="out">\(.*\)<\/pre>.*/\1/p'
