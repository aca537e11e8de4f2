#!/usr/bin/env bash
# kestrova-record on a still screen, against a baseline build of it, in one run.
#
#   bench/still-screen.sh BASELINE-BUILD [build-dir]    (default build-release, configured Release)
#
# A private Xvfb of 3024×1964 showing a detailed picture that never changes (bench/still_scene_
# client), 1920×1080 at 30 fps, smoothing 0.7, dead zone 0.1, clicks on. BASELINE-BUILD is the
# build directory of another tree (e.g. a worktree of main) with kestrova-record built in it.
#
# 1. Idle cost: the pointer rests for SECONDS (default 20); the two builds take turns, REPS times
#    (default 3). Per run: CPU seconds (user + sys) of the recorder's process and of the X server
#    per recorded second, frames in the file and its duration; then the medians, the difference
#    (build − baseline) and the ratio.
# 2. Scene: 9 s; the pointer rests, jumps 1000 px at 2 s, rests, clicks without moving at 5 s.
#    Per build: frames, duration, frames during the glide (2–5 s), in the ring's life (5–5.5 s) and
#    after it, and a PNG of the frame at 5.15 s left in $OUT (default /tmp/still-screen) to look at.
set -euo pipefail
cd "$(dirname "$0")/.."
base=${1:?usage: bench/still-screen.sh BASELINE-BUILD [build-dir]}
build=${2:-build-release}
seconds=${SECONDS_TO_RECORD:-20}
reps=${REPS:-3}
out=${OUT:-/tmp/still-screen}
if [[ ! -f $build/build.ninja ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTROVA_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target kestrova-record still_scene_client >/dev/null
cmake --build "$base" --target kestrova-record >/dev/null
client=$build/bench/still_scene_client
declare -A record=([baseline]=$base/App/App/kestrova-record [build]=$build/App/App/kestrova-record)

tmp=$(mktemp -d)
mkdir -p "$out"
xvfb_pid=
cleanup() {
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

# -noreset: the picture must outlive the client that paints it.
Xvfb -displayfd 3 -screen 0 3024x1964x24 -nolisten tcp -noreset 3>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s $tmp/display ]] && break; sleep 0.05; done
display=:$(tr -d '\n' <"$tmp/display")
export DISPLAY=$display
export XDG_CONFIG_HOME=$tmp/config  # keeps the user's preferences out of it
"$client" "$display" paint

# CPU seconds the X server has used so far.
xvfb_cpu() {
  awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$xvfb_pid/stat"
}
# Records with build $1 for $2 seconds into $3; prints "recorder-cpu-s xserver-cpu-s".
run() {
  local x0 x1
  x0=$(xvfb_cpu)
  /usr/bin/time -f '%U %S' -o "$tmp/time" "${record[$1]}" --display 0 --seconds "$2" \
    --size 1920x1080 --fps 30 --smoothing 0.7 --dead-zone 0.1 --clicks on --output "$3" \
    >/dev/null 2>"$tmp/err" || {
    cat "$tmp/err" >&2
    exit 1
  }
  x1=$(xvfb_cpu)
  awk -v x0="$x0" -v x1="$x1" '{ printf "%.3f %.3f\n", $1 + $2, x1 - x0 }' "$tmp/time"
}
frame_times() {
  ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -of csv=p=0 "$1" | sort -g
}
duration_of() {
  ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"
}
median() {
  sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "still 3024x1964 screen on $display; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "1. pointer at rest, ${seconds} s at 1920x1080, 30 fps, ${reps} runs each"
printf '%-9s %12s %12s %7s %9s\n' build "cpu s/s" "X cpu s/s" frames duration
for ((r = 0; r < reps; r++)); do
  for who in baseline build; do
    read -r cpu xcpu < <(run "$who" "$seconds" "$tmp/idle.mp4")
    per=$(awk -v c="$cpu" -v s="$seconds" 'BEGIN { printf "%.4f", c / s }')
    xper=$(awk -v c="$xcpu" -v s="$seconds" 'BEGIN { printf "%.4f", c / s }')
    echo "$per" >>"$tmp/$who.cpu"
    echo "$xper" >>"$tmp/$who.xcpu"
    printf '%-9s %12s %12s %7s %9.2f\n' "$who" "$per" "$xper" \
      "$(frame_times "$tmp/idle.mp4" | wc -l)" "$(duration_of "$tmp/idle.mp4")"
  done
done
b=$(median <"$tmp/baseline.cpu") o=$(median <"$tmp/build.cpu")
bx=$(median <"$tmp/baseline.xcpu") ox=$(median <"$tmp/build.xcpu")
awk -v b="$b" -v o="$o" -v bx="$bx" -v ox="$ox" 'BEGIN {
  printf "medians: recorder %.4f vs %.4f cpu s/s (difference %+.4f, ratio %.2f);", o, b, o - b, (b > 0 ? o / b : 0)
  printf " X server %.4f vs %.4f (difference %+.4f)\n", ox, bx, ox - bx }'

echo "2. rest, jump 1000 px at 2 s, click without moving at 5 s, 9 s in all"
printf '%-9s %7s %9s %13s %13s %13s\n' build frames duration "glide 2-5 s" "ring 5-5.5 s" "after 5.5 s"
for who in baseline build; do
  "$client" "$display" paint
  rm -f "$out/$who.mp4"
  run "$who" 9 "$out/$who.mp4" >/dev/null &
  run_pid=$!
  # The file appears as the recording starts.
  for _ in $(seq 200); do [[ -e $out/$who.mp4 ]] && break; sleep 0.01; done
  "$client" "$display" act 2 5
  wait "$run_pid"
  frame_times "$out/$who.mp4" >"$tmp/t"
  count() { awk -v a="$1" -v b="$2" '$1 >= a && $1 < b' "$tmp/t" | wc -l; }
  printf '%-9s %7s %9.2f %13s %13s %13s\n' "$who" "$(wc -l <"$tmp/t")" \
    "$(duration_of "$out/$who.mp4")" "$(count 2 5)" "$(count 5 5.5)" "$(count 5.5 100)"
  ffmpeg -v error -y -ss 5.15 -i "$out/$who.mp4" -frames:v 1 -update 1 "$out/$who-5.15s.png"
done
echo "frames at 5.15 s: $out/{baseline,build}-5.15s.png; files: $out/{baseline,build}.mp4"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg); $(nproc) cores"
