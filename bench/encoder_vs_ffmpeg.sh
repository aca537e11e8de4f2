#!/usr/bin/env bash
# The video writer against ffmpeg's command line on the same frames and x264 settings, in one run.
#
#   bench/encoder_vs_ffmpeg.sh [build-dir]     (default build-release, configured as Release)
#
# For 1920×1080 at 30 and 60 fps and 1280×720 at 30 fps, ten seconds of screen-like frames
# (bench/encoder_bench --raw-frames), each preset variant: CPU per frame of the writer (whole
# process) and of `ffmpeg -f rawvideo ... -c:v libx264` (its own user+system time from
# -benchmark; the frame generator runs in another process), the writer's throughput, its share of
# the machine at the nominal rate, and the ratio writer / ffmpeg. REPS=n runs (default 3), medians.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release}
if [[ ! -f $build/build.ninja ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTROVA_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target encoder_bench >/dev/null
bench=$build/bench/encoder_bench
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

variant_args() {
  case $1 in
    ultrafast+8x8dct+zerolatency) echo "-preset ultrafast -tune zerolatency -x264-params 8x8dct=1" ;;
    ultrafast+8x8dct) echo "-preset ultrafast -x264-params 8x8dct=1" ;;
    superfast+zerolatency) echo "-preset superfast -tune zerolatency" ;;
    veryfast+zerolatency) echo "-preset veryfast -tune zerolatency" ;;
  esac
}

cores=$(nproc)
reps=${REPS:-3}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# One writer case: its CSV header line and row.
writer_row() {
  "$bench" --benchmark_format=csv --benchmark_filter="^Writer/$1/${2//+/\\+}/" 2>/dev/null |
    grep -F -e 'name,' -e "\"Writer/$1/$2/" || true
}
# A counter of a CSV row, by name (counters are quoted in the header).
counter() {
  awk -F, -v h="$header" -v want="\"$2\"" 'BEGIN { n = split(h, names, ",") }
    { for (i = 1; i <= n; i++) if (names[i] == want) print $i }' <<<"$1"
}

printf '%-12s %-29s %11s %11s %6s %10s %8s\n' format variant "writer ms/f" "ffmpeg ms/f" ratio "writer fps" machine
for format in 1920x1080@30 1920x1080@60 1280x720@30; do
  size=${format%@*} fps=${format#*@}
  w=${size%x*} h=${size#*x}
  frames=$((10 * fps))
  bitrate=$(awk -v w="$w" -v h="$h" -v f="$fps" 'BEGIN { printf "%d", w * h * f * 0.12 }')
  for variant in ultrafast+8x8dct+zerolatency ultrafast+8x8dct superfast+zerolatency veryfast+zerolatency; do
    : >"$tmp/cpu" && : >"$tmp/fps" && : >"$tmp/share" && : >"$tmp/ff"
    for ((r = 0; r < reps; r++)); do
      lines=$(writer_row "$format" "$variant")
      header=$(head -1 <<<"$lines") row=$(tail -1 <<<"$lines")
      counter "$row" cpu_ms_per_frame >>"$tmp/cpu"
      counter "$row" achieved_fps >>"$tmp/fps"
      counter "$row" machine_pct >>"$tmp/share"
      # shellcheck disable=SC2046
      "$bench" --raw-frames "$w" "$h" "$frames" |
        ffmpeg -hide_banner -nostdin -benchmark -f rawvideo -pix_fmt yuv420p -s "$size" -r "$fps" -i pipe:0 \
          -c:v libx264 $(variant_args "$variant") -profile:v high -b:v "$bitrate" -g $((2 * fps)) -bf 0 \
          -threads 2 -color_primaries bt709 -color_trc iec61966-2-1 -colorspace smpte170m -color_range tv \
          -f mp4 -y "$tmp/ffmpeg.mp4" 2>"$tmp/ffmpeg.log"
      awk -v n="$frames" -F'[ =s]+' '/^bench: utime/ { printf "%.3f\n", ($3 + $5) * 1000 / n }' "$tmp/ffmpeg.log" >>"$tmp/ff"
    done
    cpu=$(median <"$tmp/cpu") ff=$(median <"$tmp/ff") fpsa=$(median <"$tmp/fps") share=$(median <"$tmp/share")
    ratio=$(awk -v a="$cpu" -v b="$ff" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }')
    printf '%-12s %-29s %11.2f %11.2f %6s %10.0f %7.0f%%\n' "$format" "$variant" "$cpu" "$ff" "$ratio" "$fpsa" "$share"
  done
done
echo "(medians of $reps runs, interleaved; $cores cores; machine = writer CPU at the nominal rate / all cores;"
echo " the writer's CPU counts every thread of its process, including the copy into its frames)"
