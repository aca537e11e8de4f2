#!/usr/bin/env bash
# Screen recorders on one busy X scene, counted for the whole machine, in one run.
#
#   bench/record-scene.sh [build-dir]     (default build-release, configured as Release)
#
# A private Xvfb of 3024×1964 whose whole screen changes at 60 Hz while the pointer moves steadily
# (bench/record_scene_client). At each rate every recorder records SECONDS_TO_RECORD (default 15)
# of it, following the pointer with a 1920×1080 window, with the same x264 settings as our writer
# (ultrafast, 8x8dct, zerolatency, bit rate w·h·fps·0.12, a key frame every 2 s, 2 threads):
#
#   kestrova   kestrova-record
#   program    the real program, started and stopped with Ctrl+Alt+R, its toolbar on the screen
#   ssr        SimpleScreenRecorder, driven without its window (settings file, --start-recording,
#              commands on its standard input); skipped with a note when it is not installed
#   ffmpeg     ffmpeg -f x11grab -follow_mouse 100
#   scene      nobody records: what the scene alone costs the X server
#   baseline   another build's kestrova-record, given as BASELINE=path (added when set)
#
# They take turns, REPS times (default 3); the table gives medians. Per run, in CPU seconds per
# recorded second: the recorder's own process, the X server during the recording, both together,
# and "other": what the rest of the machine used meanwhile (scene client excluded). A run whose
# other exceeds QUIET_BELOW cores (default 0.10) is marked disturbed. Frames are those in the file
# against the recorded time × fps.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-release}
seconds=${SECONDS_TO_RECORD:-15}
reps=${REPS:-3}
rates=${RATES:-30 60}
recorders=${RECORDERS:-kestrova program ssr ffmpeg scene${BASELINE:+ baseline}}
quiet_below=${QUIET_BELOW:-0.10}
w=1920 h=1080
if [[ ! -f $build/build.ninja ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKESTROVA_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target kestrova-record kestrova record_scene_client >/dev/null
record=$build/App/App/kestrova-record
program=$build/App/App/kestrova
client=$build/bench/record_scene_client

if [[ " $recorders " == *" ssr "* ]] && ! command -v simplescreenrecorder >/dev/null; then
  echo "SimpleScreenRecorder is not installed, so it is left out" \
    "(apt-get install simplescreenrecorder adds it)." >&2
  recorders=${recorders//ssr/}
fi

tmp=$(mktemp -d)
xvfb_pid= client_pid= program_pid=
cleanup() {
  [[ -n $program_pid ]] && kill "$program_pid" 2>/dev/null || true
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

# Keeps the user's preferences and home out of it.
export XDG_CONFIG_HOME=$tmp/config HOME=$tmp/home XDG_RUNTIME_DIR=$tmp/run
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

hz=$(getconf CLK_TCK)
# utime + stime of a process, in ticks (the fields after the command's name, which may hold spaces).
ticks_of() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
# Busy ticks of the whole machine: all but idle and iowait.
machine_ticks() { awk '/^cpu / { print $2 + $3 + $4 + $7 + $8 + $9 }' /proc/stat; }
now() { date +%s.%N; }
calc() { awk "BEGIN { printf \"%.3f\", $1 }"; }

# The window of one recording: the X server's, the scene client's and the machine's ticks.
window_begin() {
  x0=$(ticks_of "$xvfb_pid") c0=$(ticks_of "$client_pid") m0=$(machine_ticks) t0=$(now)
}
window_end() {
  x1=$(ticks_of "$xvfb_pid") c1=$(ticks_of "$client_pid") m1=$(machine_ticks) t1=$(now)
}

frames_in() {
  ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$1"
}
duration_of() { ffprobe -v error -show_entries format=duration -of csv=p=0 "$1"; }
bitrate_of() { awk -v w="$w" -v h="$h" -v f="$1" 'BEGIN { printf "%d", w * h * f * 0.12 }'; }

# Each run_* sets: file, recorder_s (CPU seconds of the recorder during the window), rss_kb, timed
# (true when the recorder stops itself after SECONDS: the expected frames are SECONDS × fps).
timed_run() {
  window_begin
  /usr/bin/time -f '%U %S %M' -o "$tmp/time" "$@" >/dev/null 2>"$tmp/err" || {
    echo "failed: $*" >&2
    cat "$tmp/err" >&2
    exit 1
  }
  window_end
  read -r user sys rss_kb <"$tmp/time"
  recorder_s=$(calc "$user + $sys")
  timed=true
}

run_kestrova() {
  file=$tmp/k.mp4
  rm -f "$file" # a taken name would get a number
  timed_run "$record" --display 0 --seconds "$seconds" --size "${w}x${h}" --fps "$1" \
    --clicks on --output "$file"
  # The recorder's own account of what it wrote, skipped and dropped, kept for the summary.
  grep -i 'frames' "$tmp/err" | sed "s/^/$1 fps: /" >>"$tmp/drops" || true
}

run_baseline() {
  file=$tmp/b.mp4
  rm -f "$file"
  timed_run "$BASELINE" --display 0 --seconds "$seconds" --size "${w}x${h}" --fps "$1" \
    --clicks on --output "$file"
}

run_ffmpeg() {
  file=$tmp/f.mp4
  timed_run ffmpeg -hide_banner -nostdin -loglevel error -f x11grab -follow_mouse 100 \
    -draw_mouse 1 -framerate "$1" -video_size "${w}x${h}" -i "$display" -t "$seconds" \
    -c:v libx264 -preset ultrafast -tune zerolatency -x264-params 8x8dct=1 -profile:v high \
    -pix_fmt yuv420p -b:v "$(bitrate_of "$1")" -g $((2 * $1)) -bf 0 -threads 2 -f mp4 -y "$file"
}

run_scene() {
  file=
  window_begin
  sleep "$seconds"
  window_end
  recorder_s=0 rss_kb=0 timed=true
}

# Waits up to `$1` seconds for the command `$2...` to succeed.
wait_for() {
  local limit=$1
  shift
  for _ in $(seq $((limit * 20))); do "$@" && return 0 || sleep 0.05; done
  echo "gave up waiting for: $*" >&2
  return 1
}

run_ssr() {
  local fps=$1
  file=$tmp/s.mp4
  rm -f "$file" "$tmp/ssr.in"
  # Its settings file (QSettings: a value with commas is quoted, or it becomes a list): the same area, rate and x264 settings; no audio, no preview, no hot key.
  cat >"$tmp/ssr.conf" <<EOF
[input]
audio_enabled=false
video_area=cursor
video_w=$w
video_h=$h
video_x=0
video_y=0
video_frame_rate=$fps
video_record_cursor=true
video_scale=false

[output]
file=$file
add_timestamp=false
separate_files=false
container=mp4
video_codec=other
video_codec_av=libx264
video_kbit_rate=$(($(bitrate_of "$fps") / 1000))
video_options="preset=ultrafast,tune=zerolatency,x264-params=8x8dct=1,keyint=$((2 * fps)),threads=2,pixelformat=yuv420"
video_allow_frame_skipping=true

[record]
hotkey_enable=false
preview_frame_rate=0
show_recording_area=false
sound_notifications_enable=false

[welcome]
skip_page=true
EOF
  mkfifo "$tmp/ssr.in"
  /usr/bin/time -f '%U %S %M' -o "$tmp/time" simplescreenrecorder --settingsfile="$tmp/ssr.conf" \
    --logfile="$tmp/ssr.log" --no-systray --start-hidden --start-recording \
    <"$tmp/ssr.in" >/dev/null 2>&1 &
  local time_pid=$! ssr_pid
  exec 4>"$tmp/ssr.in"
  wait_for 20 test -s "$file"
  ssr_pid=$(pgrep -P "$time_pid")
  # Its start-up (a window and a settings page) is left out: counting starts with the recording.
  local before
  before=$(ticks_of "$ssr_pid")
  window_begin
  sleep "$seconds"
  echo record-save >&4
  echo quit >&4
  exec 4>&-
  wait "$time_pid"
  window_end
  if [[ -n ${SSR_LOG:-} ]]; then cp "$tmp/ssr.log" "$SSR_LOG"; fi
  read -r user sys rss_kb <"$tmp/time"
  recorder_s=$(calc "$user + $sys - $before / $hz")
  timed=false
}

program_idle() { "$program" --status 2>/dev/null | grep -q '^idle'; }

run_program() {
  local fps=$1 out=$tmp/program
  rm -rf "$out" && mkdir -p "$out" "$XDG_CONFIG_HOME/Kestrova"
  printf '[General]\npreset=1080p\nfps=%s\nclicks=true\ndisplayID=0\noutputPath=%s\n' "$fps" "$out" \
    >"$XDG_CONFIG_HOME/Kestrova/Kestrova.conf"
  QT_QPA_PLATFORM=xcb "$program" >/dev/null 2>&1 &
  program_pid=$!
  sleep 3 # shown, and its hot keys grabbed on a later turn of the event loop
  "$client" "$display" --ctrl-alt-r
  # After the countdown the recorder makes its file.
  wait_for 20 compgen -G "$out/*.mp4" >/dev/null
  file=$(compgen -G "$out/*.mp4")
  local before
  before=$(ticks_of "$program_pid")
  window_begin
  sleep "$seconds"
  "$client" "$display" --ctrl-alt-r
  # The file is finished in place; the program says "saving" until it is.
  sleep 0.5
  wait_for 30 program_idle
  window_end
  recorder_s=$(calc "($(ticks_of "$program_pid") - $before) / $hz")
  rss_kb=$(awk '/^VmHWM/ { print $2 }' "/proc/$program_pid/status")
  kill "$program_pid" && wait "$program_pid" 2>/dev/null || true
  program_pid=
  timed=false
}

echo "scene 3024x1964 on $display, ${seconds} s at ${w}x${h}, $reps interleaved runs;" \
  "$(nproc) cores; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "CPU in CPU-s per recorded second; other = the rest of the machine meanwhile (disturbed above $quiet_below)"
line='%-4s %-9s %8s %8s %8s %8s %8s %7s %7s %s\n'
printf "$line" fps recorder process "X server" together other "rss MB" frames "frames%" ""
results=$tmp/results
: >"$results"
for fps in $rates; do
  for ((r = 0; r < reps; r++)); do
    for who in $recorders; do
      "run_$who" "$fps"
      if [[ -n $file ]]; then
        recorded=$(duration_of "$file")
        frames=$(frames_in "$file")
        if $timed; then expected=$((seconds * fps)); else expected=$(calc "$recorded * $fps"); fi
        pct=$(calc "100 * $frames / $expected")
      else
        recorded=$(calc "$t1 - $t0") frames=- pct=-
      fi
      process=$(calc "$recorder_s / $recorded")
      xserver=$(calc "($x1 - $x0) / $hz / $recorded")
      together=$(calc "$process + $xserver")
      other=$(calc "(($m1 - $m0) / $hz - ($x1 - $x0 + $c1 - $c0) / $hz - $recorder_s) / ($t1 - $t0)")
      mark=$(awk -v o="$other" -v q="$quiet_below" 'BEGIN { if (o > q) print "disturbed" }')
      rss=$(calc "$rss_kb / 1024")
      printf "$line" "$fps" "$who" "$process" "$xserver" "$together" "$other" "$rss" "$frames" \
        "$pct" "$mark"
      echo "$fps $who $process $xserver $together $rss $pct ${mark:-quiet}" >>"$results"
    done
  done
done

echo
echo "medians of $reps runs (together vs ssr: this recorder's process + X server over SimpleScreenRecorder's)"
printf '%-4s %-9s %8s %8s %8s %8s %8s %8s %s\n' fps recorder process "X server" together \
  "vs ssr" "rss MB" "frames%" disturbed
# Median of column $3 for rows matching fps $1 and recorder $2.
median() {
  awk -v f="$1" -v who="$2" -v col="$3" '$1 == f && $2 == who && $col != "-" { print $col }' "$results" |
    sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
for fps in $rates; do
  ssr_total=$(median "$fps" ssr 5)
  for who in $recorders; do
    total=$(median "$fps" "$who" 5)
    vs=-
    [[ $ssr_total != - && $who != scene ]] && vs=$(calc "$total / $ssr_total")
    printf '%-4s %-9s %8s %8s %8s %8s %8s %8s %s\n' "$fps" "$who" "$(median "$fps" "$who" 3)" \
      "$(median "$fps" "$who" 4)" "$total" "$vs" "$(median "$fps" "$who" 6)" \
      "$(median "$fps" "$who" 7)" \
      "$(awk -v f="$fps" -v who="$who" '$1 == f && $2 == who && $8 != "quiet"' "$results" | wc -l)/$reps"
  done
done
[[ -s $tmp/drops ]] && { echo; echo "kestrova-record's own account, per run:"; cat "$tmp/drops"; }
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
