#!/usr/bin/env bash
# kestrova-record against ffmpeg's x11grab on one busy X scene, in one run.
#
#   bench/record-scene.sh [build-dir]     (default build-release, configured as Release)
#
# A private Xvfb of 3024×1964 whose whole screen changes at 60 Hz while the pointer moves steadily
# (bench/record_scene_client). For each rate, each recorder records SECONDS (default 20) of it at
# 1920×1080 with the same x264 settings as our writer (ultrafast, 8x8dct, zerolatency, bit rate
# w·h·fps·0.12, a key frame every 2 s, 2 threads); ffmpeg follows the pointer with
# -follow_mouse 100 and draws it. The two take turns, REPS times (default 1). Per run: CPU seconds
# (user + sys of the recorder's process) per recorded second, peak RSS, and frames in the file
# (ffprobe -count_frames) against SECONDS·fps, and the bytes the process wrote to disk (GNU time's
# file system outputs, 512-byte blocks) against the file's size, stop included.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release}
seconds=${SECONDS_TO_RECORD:-20}
reps=${REPS:-1}
rates=${RATES:-30 60}
w=1920 h=1080
if [[ ! -f $build/build.ninja ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTROVA_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target kestrova-record record_scene_client >/dev/null
record=$build/App/App/kestrova-record
client=$build/bench/record_scene_client

tmp=$(mktemp -d)
xvfb_pid= client_pid=
cleanup() {
  [[ -n $client_pid ]] && kill "$client_pid" 2>/dev/null || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

# The server picks a free display number itself and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 3024x1964x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s $tmp/display ]] && break; sleep 0.05; done
display=:$(tr -d '\n' <"$tmp/display")
export DISPLAY=$display
"$client" "$display" &
client_pid=$!
sleep 1

# Keeps the user's preferences out of it: a settings home of its own.
export XDG_CONFIG_HOME=$tmp/config

# "user sys rss_kb blocks_out" of the command's process, from GNU time.
measured() {
  /usr/bin/time -f '%U %S %M %O' -o "$tmp/time" "$@" >/dev/null 2>"$tmp/err" || {
    echo "failed: $*" >&2
    cat "$tmp/err" >&2
    exit 1
  }
  cat "$tmp/time"
}
frames_in() {
  ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$1"
}
duration_of() {
  ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"
}

run_kestrova() {
  rm -f "$tmp/k.mp4"  # a taken name would get a number
  measured "$record" --display 0 --seconds "$seconds" --size "${w}x${h}" --fps "$1" \
    --clicks on --output "$tmp/k.mp4"
}
run_ffmpeg() {
  local fps=$1 bitrate
  bitrate=$(awk -v w="$w" -v h="$h" -v f="$fps" 'BEGIN { printf "%d", w * h * f * 0.12 }')
  measured ffmpeg -hide_banner -nostdin -loglevel error -f x11grab -follow_mouse 100 -draw_mouse 1 \
    -framerate "$fps" -video_size "${w}x${h}" -i "$display" -t "$seconds" \
    -c:v libx264 -preset ultrafast -tune zerolatency -x264-params 8x8dct=1 -profile:v high \
    -pix_fmt yuv420p -b:v "$bitrate" -g $((2 * fps)) -bf 0 -threads 2 -f mp4 -y "$tmp/f.mp4"
}

echo "scene 3024x1964 on $display, ${seconds} s at ${w}x${h}; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-4s %-9s %9s %9s %8s %7s %8s %7s %10s\n' fps recorder "cpu s/s" "cpu ratio" "rss MB" frames expected "frames%" "disk/size"
for fps in $rates; do
  expected=$((seconds * fps))
  for ((r = 0; r < reps; r++)); do
    for who in ffmpeg kestrova; do
      read -r user sys rss blocks < <("run_$who" "$fps")
      file=$tmp/${who:0:1}.mp4
      frames=$(frames_in "$file")
      cpu=$(awk -v u="$user" -v s="$sys" -v d="$seconds" 'BEGIN { printf "%.3f", (u + s) / d }')
      if [[ $who == ffmpeg ]]; then
        base=$cpu ratio=1.00
      else
        ratio=$(awk -v a="$cpu" -v b="$base" 'BEGIN { printf "%.2f", a / b }')
      fi
      printf '%-4s %-9s %9s %9s %8.1f %7s %8s %6.1f%% %10.3f  (%.2f s)\n' "$fps" "$who" "$cpu" \
        "$ratio" "$(awk -v k="$rss" 'BEGIN { print k / 1024 }')" "$frames" "$expected" \
        "$(awk -v f="$frames" -v e="$expected" 'BEGIN { print 100 * f / e }')" \
        "$(awk -v b="$blocks" -v s="$(stat -c %s "$file")" 'BEGIN { print b * 512 / s }')" \
        "$(duration_of "$file")"
    done
  done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores; cpu ratio = kestrova / ffmpeg of the same rate"
