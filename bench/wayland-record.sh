#!/usr/bin/env bash
# kestrova-record against GStreamer on a Wayland screen cast, in one run, in the lab's headless
# GNOME session (tests/wayland; needs the packages scripts/setup.sh installs).
#
#   bench/wayland-record.sh [build-dir] [baseline-build]     (default build, no baseline)
#
# The scene: a client animating the whole 1280×720 monitor at 30 Hz, the pointer sweeping over it.
# Each contender records SECONDS (default 15) at 1280×720, 30 fps, with our writer's x264 settings
# (ultrafast, 8x8dct, zerolatency, 2 threads, bit rate w·h·fps·0.12, a key frame every 2 s):
# - kestrova-record: the portal's stream (pointer as metadata, drawn in by us), following the
#   pointer with a 1280×720 viewport;
# - GStreamer, the way the desktop's own recorder does it: mutter's cast with the pointer drawn in
#   by mutter, pipewiresrc ! videoconvert ! x264enc ! mp4mux.
# - with a baseline-build (the build directory of another tree, e.g. main's), its kestrova-record
#   as "baseline", on the same terms.
# Each in a fresh session; they take turns REPS times (default 1). Per run: the recorder's CPU
# seconds (user + sys, its children included) per recorded second, its peak RSS, mutter's CPU per
# second beside it, and the frames in the file; then the medians of each.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
seconds=${SECONDS_TO_RECORD:-15}
reps=${REPS:-1}
baseline_build=${2:-}
w=1280 h=720 fps=30
cmake --build "$build" --target kestrova-record wayland_lab >/dev/null
lab=$build/tests/wayland_lab
record=$(realpath "$build/App/App/kestrova-record")
contenders=(gstreamer kestrova)
if [[ -n $baseline_build ]]; then
  cmake --build "$baseline_build" --target kestrova-record >/dev/null
  baseline_record=$(realpath "$baseline_build/App/App/kestrova-record")
  contenders=(gstreamer baseline kestrova)
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
bitrate_kbit=$(awk -v w=$w -v h=$h -v f=$fps 'BEGIN { printf "%d", w * h * f * 0.12 / 1000 }')

run_kestrova() {
  "$lab" --cursor metadata -- "$record" --seconds "$seconds" --size "${w}x${h}" --fps "$fps" \
    --clicks off --output "$tmp/k.mp4"
}
run_baseline() {
  "$lab" --cursor metadata -- "$baseline_record" --seconds "$seconds" --size "${w}x${h}" \
    --fps "$fps" --clicks off --output "$tmp/b.mp4"
}
run_gstreamer() {
  # GNOME Shell's own recorder's source and conversion (43: max-framerate on the cast, a
  # videoconvert that neither dithers nor resamples chroma, threads); our encoder settings.
  # SIGINT makes gst-launch send end-of-stream, so mp4mux finishes the file.
  "$lab" --cursor embedded -- sh -c "exec timeout -s INT -k 30 $seconds gst-launch-1.0 -q -e \
    pipewiresrc path=\$KESTROVA_WL_NODE do-timestamp=true keepalive-time=1000 resend-last=true ! \
    video/x-raw,max-framerate=$fps/1 ! videoconvert chroma-mode=none dither=none \
    matrix-mode=output-only n-threads=2 ! queue ! video/x-raw,format=I420 ! x264enc \
    speed-preset=ultrafast tune=zerolatency threads=2 bitrate=$bitrate_kbit \
    key-int-max=$((2 * fps)) bframes=0 option-string=8x8dct=1 ! video/x-h264,profile=high ! \
    queue ! mp4mux ! filesink location=$tmp/g.mp4" || [[ $? == 1 ]]
}
frames_in() {
  ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$1"
}
field() { tr ' ' '\n' <<<"$2" | sed -n "s/^$1=//p"; }

echo "1280x720 cast, ${seconds} s at ${w}x${h} ${fps} fps; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-10s %9s %9s %8s %13s %7s %11s\n' recorder "cpu s/s" "cpu ratio" "rss MB" "mutter cpu/s" frames "cpu ms/frame"
median() { sort -g | awk '{ v[NR] = $1 } END { print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
declare -A seen
for ((r = 0; r < reps; r++)); do
  for who in "${contenders[@]}"; do
    rm -f "$tmp/${who:0:1}"*.mp4  # a name already taken would get " (2)", and the count the old file
    out=$("run_$who" 2>"$tmp/err") || { echo "$who failed:" >&2; cat "$tmp/err" >&2; exit 1; }
    cpu=$(awk -v c="$(field cpu_s "$out")" -v d="$seconds" 'BEGIN { printf "%.3f", c / d }')
    mutter=$(awk -v c="$(field mutter_cpu_s "$out")" -v d="$seconds" 'BEGIN { printf "%.3f", c / d }')
    if [[ $who == gstreamer ]]; then
      base=$cpu ratio=1.00
    else
      ratio=$(awk -v a="$cpu" -v b="$base" 'BEGIN { printf "%.2f", a / b }')
    fi
    frames=$(frames_in "$tmp/${who:0:1}.mp4" || echo 0)
    row=$(printf '%-10s %9s %9s %8.1f %13s %7s %11.1f' "$who" "$cpu" "$ratio" \
      "$(awk -v k="$(field maxrss_kb "$out")" 'BEGIN { print k / 1024 }')" "$mutter" "$frames" \
      "$(awk -v c="$(field cpu_s "$out")" -v f="$frames" 'BEGIN { print f ? 1000 * c / f : 0 }')")
    echo "$row"
    seen[$who]+="$row"$'\n'
  done
done
if ((reps > 1)); then
  echo "medians over $reps turns:"
  for who in "${contenders[@]}"; do
    cols=()
    for c in 2 3 4 5 6 7; do
      cols+=("$(awk -v c=$c 'NF { print $c }' <<<"${seen[$who]}" | median)")
    done
    printf '%-10s %9s %9s %8s %13s %7s %11s\n' "$who" "${cols[@]}"
  done
fi
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores; cpu ratio = kestrova / gstreamer of the same turn"
