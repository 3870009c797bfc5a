#!/usr/bin/env bash
# Bad callers, bad input and faults of the machine against the real program:
# one station on host S (a network namespace) with a sound server of its own
# (null sink spk, the loudspeaker) under Xvfb, plain python clients on host C.
# A background box keeper dismisses every message box of the station and
# notes its text (read through Qt's accessibility bridge, or by OCR). Each case reports
# PASS or FAIL with what it measured; the script goes on after a failure.
# Everything it makes is removed at the end, also on failure.
#
# Usage: tests/e2e/hostile-callers.sh PROGRAM [OUTPUT_DIR]   (as root)
#   CASES="1 4 7" runs only those cases.
# Exit: 0 all cases passed, 1 a case failed, 77 skipped (not root, a tool missing).
set -uo pipefail

program=$(realpath "${1:?usage: hostile-callers.sh PROGRAM [OUTPUT_DIR]}")
output=$(mkdir -p "${2:-.}" && realpath "${2:-.}")
here=$(cd "$(dirname "$0")" && pwd)
resources="$here/../../src/resources"
cases=${CASES:-1 2 3 4 5 6 7 8 9 10 11 12 13 14}

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: network namespaces need root"
  exit 77
fi
for tool in ip Xvfb xdotool import convert tesseract pulseaudio pactl parec sox python3 ss \
  prlimit flock getconf nstat; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
a11y_launcher=/usr/libexec/at-spi-bus-launcher
for tool in dbus-daemon gdbus pgrep "$a11y_launcher"; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
/usr/bin/python3 -c "from gi.repository import Gio" 2>/dev/null ||
  { echo "skipped: /usr/bin/python3 has no gi (python3-gi)"; exit 77; }

run=$(mktemp -d /tmp/chatterly-hostile.XXXXXX)
tag="ch$$"
pids=()
results=()
. "$here/lib.sh"

cleanup() {
  # A cgroup the thread case made goes once its processes have left it.
  if [ -n "${limit_cgroup:-}" ] && [ -d "$limit_cgroup" ]; then
    for pid in $(cat "$limit_cgroup/cgroup.procs" 2>/dev/null); do
      echo "$pid" >"$limit_cgroup/../cgroup.procs" 2>/dev/null
    done
    rmdir "$limit_cgroup" 2>/dev/null
  fi
  # The accessibility bus and its registry were started by the launcher.
  [ -n "${launcher_pid:-}" ] && pids+=($(descendants "$launcher_pid"))
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  remove_hosts s c
  cp "$run"/boxes.log "$output/hostile-boxes.log" 2>/dev/null
  rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
fail() { # a fault of the set-up: nothing can be tried
  echo "SET-UP FAILED: $*"
  exit 1
}
step() { echo "== $*"; }
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
less() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }

# --- hosts: the station S 10.78.0.1, the callers C 10.78.0.2 (also .3, .4) ----
hosts 10.78.0 s c
S=10.78.0.1
C=10.78.0.2
ip -n "$tag-c" addr add 10.78.0.3/24 dev "$tag-c0" &&
  ip -n "$tag-c" addr add 10.78.0.4/24 dev "$tag-c0" || fail "cannot give C its addresses"
display
sound s
busy_length=$(stat -c %s "$resources/Busy.wav")
ticks=$(getconf CLK_TCK)

# --- the sounds and images the callers send ------------------------------------
media="$run/media"
mkdir -p "$media"
tone() { # FILE HZ SECONDS
  sox -n -r 22050 -c 1 -b 16 -e signed-integer "$1" synth "$3" sine "$2" vol 0.5
}
tone "$media/tone.wav" 880 0.4
tone "$media/long.wav" 440 20
# 0.05 s: 0.03 s of tone, then silence.
sox -n -r 22050 -c 1 -b 16 -e signed-integer "$media/short.wav" synth 0.03 sine 1000 vol 0.5 \
  pad 0 0.02
sox -n -r 22050 -c 1 "$media/image.ogg" synth 1 sine 660 vol 0.5
sox -n -r 22050 -c 1 -b 16 "$media/image.flac" synth 1 sine 660 vol 0.5
python3 - "$media" <<'EOF' || fail "cannot make the images"
import struct, sys
d = sys.argv[1]
# Bytes that are no sound file at all.
open(f"{d}/junk.bin", "wb").write(b"not a voice message, " * 200)
# 8-bit mono at 8 Hz, 160 samples of silence: a RIFF WAVE of 204 bytes that
# claims 20 s of playing time.
data = b"\x80" * 160
fmt = struct.pack("<HHIIHH", 1, 1, 8, 8, 1, 8)
riff = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
open(f"{d}/claims20s.wav", "wb").write(b"RIFF" + struct.pack("<I", len(riff)) + riff)
EOF
[ "$(stat -c %s "$media/claims20s.wav")" -eq 204 ] || fail "the 20 s image is not 204 bytes"

# --- the station ---------------------------------------------------------------
wd="$run/station"
station_runs=0
spid=
swin=
start_station() {
  station_runs=$((station_runs + 1))
  rm -rf "$wd"
  mkdir -p "$wd/.config/pulse"
  # The station's sound library must never start a server of its own.
  echo "autospawn = no" >"$wd/.config/pulse/client.conf"
  cp "$resources/Busy.wav" "$resources/CallWaiting.wav" "$wd/"
  printf '\x00\x00\x00\x00\x00\x00' >"$wd/Parlio.mem"
  serr="$run/station-$station_runs.err"
  (cd "$wd" && exec ip netns exec "$tag-s" env PULSE_SERVER="$(server s)" HOME="$wd" \
    XDG_RUNTIME_DIR="$run/pa-s/run" QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
    DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" "$program" >"$run/station-$station_runs.out" \
    2>"$serr") &
  spid=$!
  pids+=($spid)
  swin=$(timeout 30 xdotool search --all --sync --onlyvisible --pid "$spid" --name '^Chatterly$' |
    head -n 1)
  echo "$spid ${swin:-0}" >"$run/station.ids"
  [ -n "$swin" ] && wait_until 20 listening
}
listening() { ip netns exec "$tag-s" ss -ltn | grep -q ':2005 '; }
# held_by_station: the station's open TCP connections on port 2005.
held_by_station() {
  ip netns exec "$tag-s" ss -tnpH state established '( sport = :2005 )' |
    grep -c "pid=$spid,"
}
holds() { [ "$(held_by_station)" -eq "$1" ]; }
# quiet: idle, and no connection on port 2005 other than those closing.
quiet() {
  idle && [ "$(ip netns exec "$tag-s" ss -tanH '( sport = :2005 )' |
    grep -cvE 'LISTEN|TIME-WAIT|FIN-WAIT|CLOSE-WAIT|LAST-ACK|CLOSING')" -eq 0 ]
}
alive() { [ -n "$spid" ] && ! ended "$spid"; }
# ensure_station: a running, idle station (a new one when the last has ended
# or is stuck in a call).
ensure_station() {
  if ! alive; then
    [ -n "$spid" ] && note "the station had ended; a new one was started"
    start_station || return 1
  fi
  if ! wait_until 30 quiet; then
    note "the station was not idle; a new one was started"
    stop_station
    start_station || return 1
  fi
}
stop_station() {
  keys "$swin" alt+x
  wait_until 5 ended "$spid" || kill "$spid" 2>/dev/null
  wait "$spid" 2>/dev/null
}
title() { xdotool getwindowname "$swin" 2>/dev/null; }
title_is() { [ "$(title)" = "$1" ]; }
idle() { title_is "Chatterly"; }
connected() { title_is "Chatterly Connected to ${1:-$C}"; }
status_of() { awk -v k="$1:" '$1 == k { print $2 }' "/proc/$spid/status" 2>/dev/null; }
rss() { status_of VmRSS; }        # KiB
threads() { status_of Threads; }
fds() { ls "/proc/$spid/fd" 2>/dev/null | wc -l; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$spid/stat" 2>/dev/null; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

# keys WINDOW KEY...: keyboard input, never beside the box keeper's.
keys() {
  local w=$1
  shift
  flock "$run/x.lock" sh -c 'xdotool windowfocus --sync "$0" && xdotool key --clearmodifiers "$@"' \
    "$w" "$@" 2>/dev/null
}
# disconnect: a click on Disconnect (149, 79, 50 x 14 of the window's 216 x 183
# units), as a user whose typing is in the remote box would.
disconnect() {
  flock "$run/x.lock" sh -c 'eval "$(xdotool getwindowgeometry --shell "$0")" &&
    xdotool windowfocus --sync "$0" &&
    xdotool mousemove --window "$0" $((WIDTH * 174 / 216)) $((HEIGHT * 86 / 183)) click 1' \
    "$swin" 2>/dev/null
}

# --- the box keeper ------------------------------------------------------------
# keeper.py dismisses every message box of the station and notes it in
# boxes.log ("TIME<TAB>PID<TAB>TEXT", the time it was first seen). It reads the
# boxes through Qt's accessibility bridge: a session bus of our own, and on it
# the accessibility bus with its registry (at-spi-bus-launcher).
touch "$run/boxes.log" "$run/x.lock" "$run/station.ids"
accessibility_bus
/usr/bin/python3 "$here/keeper.py" "$run/station.ids" "$run/boxes.log" "$run/x.lock" \
  "$run/away" 2>"$run/keeper.err" &
pids+=($!)
# boxes_since TIME: the texts of the station's boxes first seen after TIME.
boxes_since() { awk -F'\t' -v t="$1" -v p="$spid" '$1 > t && $2 == p { print $3 }' "$run/boxes.log"; }
box_since() { boxes_since "$1" | grep -qF "$2"; }
first_box_time() { awk -F'\t' -v t="$1" -v p="$spid" '$1 > t && $2 == p { print $1; exit }' \
  "$run/boxes.log"; }
# boxes_up: how many windows of the station show besides its main window.
boxes_up() {
  xdotool search --all --onlyvisible --pid "$spid" --name '^chatterly$' 2>/dev/null |
    grep -vxc "$swin"
}
no_box_up() { [ "$(boxes_up)" -eq 0 ]; }
box_list() { # TIME: the boxes since TIME on one line
  local b
  b=$(boxes_since "$1" | sed 's/^/"/; s/$/"/' | paste -sd, -)
  echo "${b:-none}"
}

# --- callers -------------------------------------------------------------------
on_c() { ip netns exec "$tag-c" "$@"; }
# call_open NAME [SOURCE]: a call from C driven by commands (see callers.py).
call_open() {
  local fifo="$run/call-$1.in" fd
  rm -f "$fifo" "$run/call-$1.out"
  mkfifo "$fifo"
  on_c python3 "$here/callers.py" call "$S" ${2:+"$2"} <"$fifo" >"$run/call-$1.out" \
    2>"$run/call-$1.err" &
  pids+=($!)
  eval "call_pid_$1=$!"
  exec {fd}>"$fifo"
  eval "call_fd_$1=$fd call_n_$1=0"
}
# call_send NAME COMMAND...: gives the call a command, does not wait for it.
call_send() {
  local n fd
  eval "n=\$((call_n_$1 + 1)); fd=\$call_fd_$1; call_n_$1=\$n"
  # In a subshell: a caller that has gone must not end this script by SIGPIPE.
  (echo "${*:2}" >&"$fd") 2>/dev/null
}
call_done() { grep -q "^done $2 " "$run/call-$1.out" 2>/dev/null; }
# call_do NAME COMMAND...: gives the call a command and waits until it is done.
call_do() {
  local n
  call_send "$@"
  eval "n=\$call_n_$1"
  wait_until 120 call_done "$1" "$n"
}
# call_end NAME: the caller goes: it ends by itself after a close or reset
# command; otherwise it is ended (its socket closes with the process).
call_end() {
  local fd pid
  eval "fd=\$call_fd_$1; pid=\$call_pid_$1"
  exec {fd}>&-
  wait_until 5 ended "$pid" || kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}
# answer [RCVBUF]: a refused caller that reads to the end: "frame N", "none", ...
answer() { on_c timeout 90 python3 "$here/callers.py" answer "$S" "$@"; }

# --- the loudspeaker -----------------------------------------------------------
capture_start() {
  parec --server="$(server s)" -d spk.monitor --raw --format=s16le --rate=22050 --channels=1 \
    --latency-msec=20 >"$run/heard.raw" 2>/dev/null &
  capture_pid=$!
  pids+=($capture_pid)
  wait_until 10 test -s "$run/heard.raw"
}
capture_stop() { kill "$capture_pid" 2>/dev/null; wait "$capture_pid" 2>/dev/null; }
heard() { python3 "$here/tone.py" "$run/heard.raw"; }
# heard_tone SECONDS HZ: at least SECONDS of loud sound near HZ (within 10 %).
heard_tone() {
  local h
  h=$(heard)
  awk -v s="${h% *}" -v p="${h#* }" -v want="$1" -v hz="$2" \
    'BEGIN { exit !(s >= want && p > hz * 0.9 && p < hz * 1.1) }'
}
# new_playbacks FILE: how many playback streams the sound server saw open.
new_playbacks() { grep -c "'new' on sink-input" "$1" 2>/dev/null; }
played_at_least() { [ "$(new_playbacks "$1")" -ge "$2" ]; }

# --- sampling the station --------------------------------------------------------
# sampler_start / sampler_stop: the station's resident memory (KiB), threads
# and descriptors every 0.1 s; the stop prints the largest of each.
sampler_start() {
  : >"$run/samples"
  (
    while :; do
      echo "$(rss) $(threads) $(fds)" >>"$run/samples"
      sleep 0.1
    done
  ) &
  sampler_pid=$!
  pids+=($sampler_pid)
}
sampler_stop() {
  kill "$sampler_pid" 2>/dev/null
  wait "$sampler_pid" 2>/dev/null
  awk 'NF == 3 { if ($1 > r) r = $1; if ($2 > t) t = $2; if ($3 > f) f = $3 }
    END { print r + 0, t + 0, f + 0 }' "$run/samples"
}
# observe SECONDS: lets SECONDS pass (a measuring window, not a wait for a
# condition).
observe() {
  local end
  end=$(awk -v n="$(now)" -v s="$1" 'BEGIN { printf "%.3f", n + s }')
  while less "$(now)" "$end"; do sleep 0.1; done
}

# --- cases ------------------------------------------------------------------------
case_no=
case_failures=()
case_figures=()
case_begin() {
  case_no=$1
  case_title=$2
  case_failures=()
  case_figures=()
  case_started=$SECONDS
  step "case $1: $2"
  ensure_station || check "a station ready" false
}
check() { # DESCRIPTION COMMAND...: a failed COMMAND fails the case
  "${@:2}" || { case_failures+=("$1"); echo "   failed: $1"; }
}
note() { case_figures+=("$*"); echo "   $*"; }
case_skipped=
skip_case() { case_skipped=$1; echo "   skipped: $1"; }
case_end() {
  local verdict=PASS detail
  [ -n "$case_skipped" ] && verdict="SKIPPED ($case_skipped)" && case_skipped=
  [ "${#case_failures[@]}" -eq 0 ] || verdict=FAIL
  detail=$(printf '%s; ' "${case_figures[@]}")
  [ "$verdict" = FAIL ] && detail="$detail failed: $(printf '%s; ' "${case_failures[@]}")"
  results+=("case $case_no $verdict ($((SECONDS - case_started)) s) $case_title: $detail")
  echo "CASE $case_no $verdict"
}
wanted() { [[ " $cases " == *" $1 "* ]]; }

start_station || fail "the station did not start"
step "station PID $spid, window $swin; $(threads) threads, $(fds) descriptors, $(mib "$(rss)") MiB"

# A header announcing LENGTH bytes, then BYTES_COMMAND (a callers.py command,
# or nothing): resident memory while it arrives, idle when the caller goes.
big_header() { # LENGTH WATCH_SECONDS [BYTES_COMMAND...]
  local length=$1 seconds=$2 base peak mark
  shift 2
  call_open big
  check "the call is taken" wait_until 15 connected
  base=$(rss)
  mark=$(now)
  sampler_start
  call_do big header "$length"
  if [ $# -gt 0 ]; then
    call_do big "$@"
  else
    observe "$seconds"
  fi
  read -r peak _ _ < <(sampler_stop)
  note "resident memory $(mib "$base") MiB before the header, at most $(mib "$peak") MiB after (+$((peak - base)) KiB, bound 5120 KiB)"
  check "resident memory grew by less than 5 MiB" test $((peak - base)) -lt 5120
  local gone
  gone=$(now)
  call_do big close
  call_end big
  check "idle within 10 s of the caller's close" wait_until 10 idle
  note "idle $(elapsed "$gone") s after the close; boxes: $(box_list "$mark")"
}

if wanted 1; then
  case_begin 1 "a header announcing 150 MiB, then silence"
  big_header $((150 * 1024 * 1024)) 5
  case_end
fi

if wanted 2; then
  case_begin 2 "a header announcing 100 MiB, then one byte a second for 10 s"
  big_header $((100 * 1024 * 1024)) 0 bytes 10 1
  case_end
fi

if wanted 3; then
  case_begin 3 "a reset in the middle of a frame"
  call_open reset
  check "the call is taken" wait_until 15 connected
  mark=$(now)
  call_do reset header $((1024 * 1024))
  call_do reset bytes 1 0 65536
  call_do reset reset
  call_end reset
  want="An unknown error occurred while accessing an unnamed file."
  check "the box \"$want\"" wait_until 20 box_since "$mark" "$want"
  check "idle within 10 s" wait_until 10 idle
  note "boxes: $(box_list "$mark"); idle $(elapsed "$mark") s after the reset"
  case_end
fi

if wanted 4; then
  case_begin 4 "images that cannot be played, each followed by a proper WAV"
  call_open images
  check "the call is taken" wait_until 15 connected
  call_mark=$(now)
  for image in junk.bin image.ogg image.flac claims20s.wav; do
    capture_start
    sent=$(now)
    call_do images frame "$media/$image"
    call_do images frame "$media/tone.wav"
    if wait_until 30 heard_tone 0.3 880; then
      played=yes
    else
      played=no
    fi
    heard_at=$(now)
    capture_stop
    box_at=$(first_box_time "$sent")
    answered=$(awk -v s="$sent" -v h="$heard_at" -v b="${box_at:-0}" \
      'BEGIN { a = (b > 0 && b < h) ? b : h; printf "%.2f", a - s }')
    note "$image: answered in $answered s, the WAV after it played: $played"
    check "$image answered within 4 s" less "$answered" 4
    check "the WAV after $image played" test "$played" = yes
  done
  # The keeper may see a box only once the station's GUI thread is free again.
  check "a box came" wait_until 20 box_since "$call_mark" "Failed to play voice file."
  check "every box was dismissed" wait_until 30 no_box_up
  boxes=$(boxes_since "$call_mark")
  first=$(head -n 1 <<<"$boxes")
  check "the first box reads \"Failed to play voice file.\"" \
    test "$first" = "Failed to play voice file."
  check "every box reads \"Failed to play voice file.\"" \
    test -z "$(grep -vxF "Failed to play voice file." <<<"$boxes")"
  note "$(grep -c . <<<"$boxes") boxes in the call"
  check "the call goes on" connected
  call_do images close
  call_end images
  check "idle after the close" wait_until 10 idle
  case_end
fi

if wanted 5; then
  case_begin 5 "200 connections at once"
  control="$run/flood"
  mkdir -p "$control"
  cp "$media/tone.wav" "$control/frame"
  base_threads=$(threads)
  overflows() {
    ip netns exec "$tag-s" nstat -az TcpExtListenOverflows 2>/dev/null |
      awk '$1 == "TcpExtListenOverflows" { print $2 }'
  }
  overflows_before=$(overflows)
  on_c python3 "$here/callers.py" flood "$S" 200 "$control" 30 >"$run/flood.out" 2>&1 &
  flood_pid=$!
  pids+=($flood_pid)
  check "the first connection opens" wait_until 20 test -e "$control/first"
  check "the first connection is the incoming call" wait_until 15 connected
  pactl --server="$(server s)" subscribe >"$run/events5" 2>/dev/null &
  events_pid=$!
  pids+=($events_pid)
  sampler_start
  cue_start=$(now)
  touch "$control/go"
  check "the connections settle or are given up within 60 s" \
    wait_until 60 test -e "$control/flood.json"
  # Every sound the station plays meanwhile is the cue.
  cues=$(new_playbacks "$run/events5")
  cue_seconds=$(elapsed "$cue_start")
  kill "$events_pid"
  note "the call-waiting cue sounded $cues times in $cue_seconds s (bound: once every 5 s)"
  check "the cue sounded at most once every 5 s" \
    awk -v n="$cues" -v s="$cue_seconds" 'BEGIN { exit !(n <= 1 + s / 5) }'
  capture_start
  touch "$control/send"
  check "the frame on the call plays" wait_until 30 heard_tone 0.3 880
  capture_stop
  read -r _ peak_threads peak_fds < <(sampler_stop)
  check "the call goes on" connected
  check "the station holds nothing but the call" wait_until 30 holds 1
  result=$(cat "$control/flood.json" 2>/dev/null)
  note "threads $base_threads before, at most $peak_threads (bound 40); descriptors at most $peak_fds"
  note "the 199 others: $result; handshakes the full listen queue (5) dropped: $(($(overflows) - overflows_before))"
  check "threads stayed under 40" test "$peak_threads" -lt 40
  check "those the station took got the busy frame or were closed" python3 -c '
import json, sys
r = json.loads(sys.argv[1]); e = r["ends"]
sys.exit(0 if e["partial"] + e["reset"] + e["refused"] == 0 and e["frame"] >= 1
         and r["frame_lengths"] == [int(sys.argv[2])] else 1)
' "$result" "$busy_length"
  touch "$control/release"
  wait_until 20 ended "$flood_pid"
  check "idle when the call ends" wait_until 10 idle
  check "nothing left on port 2005" wait_until 30 quiet
  case_end
fi

if wanted 6; then
  case_begin 6 "refused callers that never read"
  call_open deafcall
  check "the call is taken" wait_until 15 connected
  control="$run/deaf"
  mkdir -p "$control"
  on_c python3 "$here/callers.py" deaf "$S" 4 "$control" >"$run/deaf.out" 2>&1 &
  deaf_pid=$!
  pids+=($deaf_pid)
  check "four callers that never read are open" wait_until 20 test -e "$control/deaf"
  opened=$(now)
  check "four responders hold them" wait_until 10 holds 5
  fifth=$(answer)
  note "a fifth refused caller meanwhile: $fifth"
  check "a fifth refused caller is closed at once" test "$fifth" = "none 0"
  check "the responders give up within 60 s" wait_until 60 holds 1
  gave_up=$(elapsed "$opened")
  note "the responders gave up $gave_up s after the callers came (about 30 s wanted)"
  check "they gave up after 25 to 40 s" awk -v g="$gave_up" 'BEGIN { exit !(g >= 25 && g <= 40) }'
  again=$(answer)
  note "a refused caller afterwards: $again"
  check "a refused caller afterwards gets the busy frame" test "$again" = "frame $busy_length"
  touch "$control/release"
  wait_until 20 ended "$deaf_pid"
  check "the call goes on" connected
  call_do deafcall close
  call_end deafcall
  check "idle after the close" wait_until 10 idle
  case_end
fi

if wanted 7; then
  case_begin 7 "500 messages in a row on one call"
  pactl --server="$(server s)" subscribe >"$run/events7" 2>/dev/null &
  events_pid=$!
  pids+=($events_pid)
  call_open many
  check "the call is taken" wait_until 15 connected
  sent=$(now)
  call_send many frame "$media/short.wav" 500
  check "ten messages played" wait_until 60 played_at_least "$run/events7" 10
  base=$(rss)
  sampler_start
  # Over 0.2 s a message (0.05 s of sound) is too slow a station.
  check "500 messages played within 100 s" wait_until 100 \
    played_at_least "$run/events7" 500
  read -r peak _ _ < <(sampler_stop)
  note "$(new_playbacks "$run/events7") played in $(elapsed "$sent") s; resident memory $(mib "$base") MiB after ten, at most $(mib "$peak") MiB (+$((peak - base)) KiB, bound 5120 KiB)"
  check "resident memory stayed within 5 MiB" test $((peak - base)) -lt 5120
  kill "$events_pid"
  check "the call goes on" connected
  call_do many close
  call_end many
  if played_at_least "$run/events7" 500; then
    check "idle after the close" wait_until 10 idle
  else
    note "the caller went while $((500 - $(new_playbacks "$run/events7"))) messages were still to play"
  fi
  case_end
fi

if wanted 8; then
  case_begin 8 "10 000 short calls in a row"
  on_c python3 "$here/callers.py" calls "$S" 100 30 >"$run/calls-warm.json"
  wait_until 10 idle
  base=$(rss)
  base_fds=$(fds)
  sampler_start
  on_c python3 "$here/callers.py" calls "$S" 9900 60 >"$run/calls.json"
  read -r peak _ peak_fds < <(sampler_stop)
  check "idle at the end" wait_until 10 idle
  end_rss=$(rss)
  end_fds=$(fds)
  note "the first 100: $(cat "$run/calls-warm.json"); the other 9 900: $(cat "$run/calls.json")"
  note "resident memory $(mib "$base") MiB after 100 calls, $(mib "$end_rss") MiB at the end, at most $(mib "$peak") MiB (bound +5 MiB); descriptors $base_fds after 100, $end_fds at the end, at most $peak_fds (bound +2 at the end, +10 on the way)"
  check "all 10 000 calls made within the time" python3 -c '
import json, sys
a, b = (json.load(open(f)) for f in sys.argv[1:])
sys.exit(0 if a["done"] + b["done"] == 10000 and a["failed"] + b["failed"] == 0 else 1)
' "$run/calls-warm.json" "$run/calls.json"
  check "resident memory stayed within 5 MiB" test $((peak - base)) -lt 5120
  check "descriptors at the end within 2 of those before" test $((end_fds - base_fds)) -le 2
  check "descriptors on the way within 10 of those before" test $((peak_fds - base_fds)) -le 10
  case_end
fi

if wanted 9; then
  case_begin 9 "out of descriptors"
  limits=$(prlimit --pid "$spid" --nofile -o SOFT,HARD --noheadings --raw)
  read -r soft hard <<<"$limits"
  used=$(fds)
  lowest=$(ls "/proc/$spid/fd" | sort -n | awk '$1 != NR - 1 { print NR - 1; f = 1; exit }
    END { if (!f) print NR }')
  # One descriptor left: the lowest free one. Only the soft limit is lowered:
  # raising a hard limit again needs a capability a container may not have.
  limit=$((lowest + 1))
  check "the limit is lowered" prlimit --pid "$spid" --nofile="$limit:$hard"
  note "$used descriptors open, the lowest free $lowest; limit $soft:$hard lowered to $limit:$hard"
  call_open oomA 10.78.0.2
  check "a call is taken with the one descriptor left" wait_until 15 connected 10.78.0.2
  callers_open() { [ "$(on_c ss -tnH state established '( dport = :2005 )' | wc -l)" -ge "$1" ]; }
  # B first, then C: B is first in the listen queue.
  call_open oomB 10.78.0.3
  wait_until 10 callers_open 2
  call_open oomC 10.78.0.4
  wait_until 10 callers_open 3
  c0=$(cpu_ticks)
  t0=$(now)
  observe 5
  c1=$(cpu_ticks)
  share=$(awk -v c="$((c1 - c0))" -v k="$ticks" -v w="$(elapsed "$t0")" \
    'BEGIN { printf "%.0f", 100 * c / k / w }')
  note "CPU $share % of wall time over 5 s with two callers it cannot take (bound 20 %)"
  check "the station does not spin" test "$share" -lt 20
  call_do oomA close
  call_end oomA
  check "the window still changes: the next caller's call is taken" \
    wait_until 15 connected 10.78.0.3
  note "caption then: \"$(title)\""
  check "the limit is raised again" prlimit --pid "$spid" --nofile="$soft:$hard"
  call_do oomB close
  call_end oomB
  call_do oomC close
  call_end oomC
  check "idle after the callers went" wait_until 20 idle
  call_open oomD 10.78.0.2
  check "after the limit is raised a call is taken again" wait_until 15 connected 10.78.0.2
  call_do oomD close
  call_end oomD
  check "idle after the close" wait_until 10 idle
  case_end
fi

if wanted 10; then
  case_begin 10 "faults of the machine"
  call_open faults
  check "the call is taken" wait_until 15 connected
  mv "$wd/Busy.wav" "$wd/Busy.away"
  got=$(answer)
  note "Busy.wav missing: a second caller got $got"
  check "without Busy.wav a second caller is closed without a frame" test "$got" = "none 0"
  mkdir "$wd/Busy.wav"
  got=$(answer)
  note "Busy.wav a directory: a second caller got $got"
  check "with Busy.wav a directory a second caller is closed without a frame" test "$got" = "none 0"
  rmdir "$wd/Busy.wav"
  mv "$wd/Busy.away" "$wd/Busy.wav"
  mv "$wd/CallWaiting.wav" "$wd/CallWaiting.away"
  got=$(answer)
  note "CallWaiting.wav missing: a second caller got $got"
  check "without CallWaiting.wav the busy frame still comes" test "$got" = "frame $busy_length"
  mv "$wd/CallWaiting.away" "$wd/CallWaiting.wav"
  check "the station goes on" connected
  # The sound server goes away.
  kill "$sound_pid_s"
  wait "$sound_pid_s" 2>/dev/null
  mark=$(now)
  call_do faults frame "$media/tone.wav"
  check "without the sound server: \"Failed to play voice file.\"" \
    wait_until 20 box_since "$mark" "Failed to play voice file."
  note "without the sound server: boxes $(box_list "$mark") within $(elapsed "$mark") s"
  sound s
  capture_start
  mark=$(now)
  call_do faults frame "$media/tone.wav"
  check "with the server started again the next frame plays" wait_until 20 heard_tone 0.3 880
  note "after the server came back: heard $(heard) (seconds, Hz) after $(elapsed "$mark") s"
  capture_stop
  check "the call goes on" connected
  call_do faults close
  call_end faults
  check "idle after the close" wait_until 10 idle
  case_end
fi

# closes_cleanly WHAT: Alt+X now; the process ends within 2 s with status 0,
# no sanitizer report, no message box after the window has gone.
records() { pactl --server="$(server s)" list source-outputs | grep -q "application.process.id = \"$spid\""; }
plays() { pactl --server="$(server s)" list sink-inputs | grep -q "application.process.id = \"$spid\""; }
closes_cleanly() {
  local started took status report late
  started=$(now)
  keys "$swin" alt+x
  wait_until 30 ended "$spid"
  took=$(awk -v s="$started" -v e="$(now)" 'BEGIN { printf "%.0f", (e - s) * 1000 }')
  wait "$spid" 2>/dev/null
  status=$?
  report=$(grep -cE "Sanitizer|runtime error:|Segmentation fault|terminate called" "$serr")
  late=$(($(boxes_since "$started" | grep -c .) + $(grep -c '^chatterly: ' "$serr")))
  note "$1: ended $took ms after Alt+X, exit status $status, sanitizer reports $report, boxes after the close $late"
  check "$1: ended within 2 s" test "$took" -lt 2000
  check "$1: exit status 0" test "$status" -eq 0
  check "$1: no sanitizer report" test "$report" -eq 0
  check "$1: no box after the window" test "$late" -eq 0
}
if wanted 11; then
  case_begin 11 "the window closed during a transfer, a playback, a recording"
  call_open slow
  if wait_until 15 connected; then
    call_do slow header $((50 * 1024 * 1024))
    call_send slow bytes 2000 0.05 4096
    acked() {
      on_c ss -tniH state established '( dport = :2005 )' |
        awk '{ for (i = 1; i <= NF; i++) if ($i ~ /^bytes_acked:/) { split($i, a, ":"); if (a[2] > 100000) ok = 1 } }
          END { exit !ok }'
    }
    check "the transfer is under way" wait_until 20 acked
    closes_cleanly "during a frame transfer"
  else
    check "the call for the transfer is taken" false
  fi
  call_end slow
  start_station
  call_open play
  if wait_until 15 connected; then
    call_do play frame "$media/long.wav"
    check "the long WAV plays" wait_until 20 plays
    closes_cleanly "during a playback"
  else
    check "the call for the playback is taken" false
  fi
  call_end play
  start_station
  call_open rec
  if wait_until 15 connected; then
    press_talk() {
      local tries
      for tries in 1 2 3 4 5; do
        keys "$swin" alt+t
        wait_until 3 records && return 0
      done
      return 1
    }
    check "Talk goes down" press_talk
    closes_cleanly "during a recording"
  else
    check "the call for the recording is taken" false
  fi
  call_end rec
  case_end
fi

if wanted 12; then
  case_begin 12 "300 bad calls at 20 a second, nobody at the screen"
  base=$(rss)
  mark=$(now)
  touch "$run/away"
  sampler_start
  on_c python3 "$here/callers.py" bad "$S" 300 20 >"$run/bad.json"
  read -r peak _ _ < <(sampler_stop)
  up=$(boxes_up)
  note "the calls: $(cat "$run/bad.json"); boxes up at the end $up (bound 2); boxes seen $(boxes_since "$mark" | grep -c .)"
  note "resident memory $(mib "$base") MiB before, at most $(mib "$peak") MiB (+$((peak - base)) KiB, bound 20480 KiB)"
  check "the station is alive" alive
  check "at most two boxes are up" test "$up" -le 2
  check "resident memory grew by less than 20 MiB" test $((peak - base)) -lt 20480
  rm -f "$run/away"
  back=$(now)
  dismissed() { no_box_up && idle; }
  check "the user dismisses the boxes and the station is idle" wait_until 60 dismissed
  note "boxes dismissed and idle $(elapsed "$back") s after the user came back"
  call_open good
  check "the next call is taken" wait_until 15 connected
  capture_start
  call_do good frame "$media/tone.wav"
  check "its message plays" wait_until 20 heard_tone 0.3 880
  capture_stop
  call_do good close
  call_end good
  check "idle after the close" wait_until 10 idle
  case_end
fi

# pids_cgroup: a new cgroup of the pids controller, for the station alone
# (cgroup v1, or v2 with the controller given to children); nothing where
# cgroups cannot be written.
pids_cgroup() {
  local root
  if [ -f /sys/fs/cgroup/pids/cgroup.procs ]; then
    root=/sys/fs/cgroup/pids
  elif grep -qw pids /sys/fs/cgroup/cgroup.controllers 2>/dev/null; then
    root=/sys/fs/cgroup
    grep -qw pids "$root/cgroup.subtree_control" ||
      echo +pids >"$root/cgroup.subtree_control" 2>/dev/null || return 1
  else
    return 1
  fi
  mkdir "$root/$tag-threads" 2>/dev/null && [ -f "$root/$tag-threads/pids.max" ] &&
    echo "$root/$tag-threads"
}
if wanted 13; then
  case_begin 13 "no thread can be started"
  if ! limit_cgroup=$(pids_cgroup) || ! echo "$spid" >"$limit_cgroup/cgroup.procs" 2>/dev/null; then
    skip_case "no writable pids cgroup here"
  else
    call_open held
    check "a call is taken" wait_until 15 connected
    echo 1 >"$limit_cgroup/pids.max"
    mark=$(now)
    answers=()
    for _ in 1 2 3 4; do answers+=("$(answer)"); done
    note "with no thread to spare, four refused callers got: ${answers[*]}; boxes: $(box_list "$mark")"
    for got in "${answers[@]}"; do
      check "a refused caller is closed at once" test "$got" = "none 0"
    done
    call_do held close
    call_end held
    check "idle after the call" wait_until 10 idle
    control="$run/called"
    mkdir -p "$control"
    on_c python3 "$here/callers.py" listen "$C" "$control" >"$run/listen.out" 2>&1 &
    listen_pid=$!
    pids+=($listen_pid)
    wait_until 10 test -e "$control/listening"
    exec {lockfd}>"$run/x.lock"
    flock "$lockfd"
    type_remote "$swin" "$C"
    xdotool key --clearmodifiers Return
    flock -u "$lockfd"
    check "Connect says the call failed" wait_until 20 box_since "$mark" "Failed to connect to remote parlio."
    check "idle after the failed Connect" wait_until 10 idle
    check "no box about threads" test -z "$(boxes_since "$mark" | grep -vxF "Failed to connect to remote parlio.")"
    echo max >"$limit_cgroup/pids.max"
    flock "$lockfd"
    type_remote "$swin" "$C"
    xdotool key --clearmodifiers Return
    flock -u "$lockfd"
    check "with threads again, Connect calls" wait_until 20 test -e "$control/accepted"
    disconnect
    wait_until 10 ended "$listen_pid"
    call_open again
    check "a call is taken again" wait_until 15 connected
    got=$(answer)
    note "with threads again a refused caller got: $got"
    check "a refused caller gets the busy message again" test "$got" = "frame $busy_length"
    call_do again close
    call_end again
    check "idle at the end" wait_until 10 idle
    echo "$spid" >"$limit_cgroup/../cgroup.procs"
    rmdir "$limit_cgroup" && limit_cgroup=
  fi
  case_end
fi

if wanted 14; then
  case_begin 14 "Disconnect while a large message arrives"
  call_open huge
  check "the call is taken" wait_until 15 connected
  base=$(rss)
  call_do huge header $((150 * 1024 * 1024))
  call_do huge bytes 100 0 $((1024 * 1024))
  grown() { [ "$(rss)" -gt $((base + 80 * 1024)) ]; }
  check "the message's bytes are held" wait_until 30 grown
  held=$(rss)
  disconnect
  check "idle after Disconnect" wait_until 10 idle
  given_back() { [ "$(rss)" -lt $((base + 10 * 1024)) ]; }
  check "resident memory back within 10 MiB" wait_until 20 given_back
  note "resident memory $(mib "$base") MiB before, $(mib "$held") MiB with 100 MiB of the message in, $(mib "$(rss)") MiB after Disconnect"
  call_end huge
  case_end
fi

# Any sanitizer report of any station run (a build with CHATTERLY_SANITIZE).
reports=$(cat "$run"/station-*.err 2>/dev/null | grep -cE "Sanitizer|runtime error:")
if [ "$reports" -ne 0 ]; then
  results+=("sanitizer FAIL: $reports report lines on the station's stderr")
  grep -hE -A20 "Sanitizer|runtime error:" "$run"/station-*.err >"$output/hostile-sanitizer.log"
fi

echo
echo "runtime $SECONDS s"
printf '%s\n' "${results[@]}" | tee "$output/hostile-callers.txt"
grep -q " FAIL" "$output/hostile-callers.txt" && exit 1
exit 0
