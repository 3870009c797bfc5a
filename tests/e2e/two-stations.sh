#!/usr/bin/env bash
# Two stations talking end to end, as two users would: the real program on
# two hosts A and B (network namespaces joined by a bridge), each with a sound
# server of its own whose null sink is its loudspeaker and whose monitor is its
# microphone, under one Xvfb, driven by keyboard with xdotool. A third host C
# first plays a second caller with a plain client, then runs a third station.
# Each host is a machine of its own to DNS-SD: its own host name (alpha,
# bravo, charlie), system bus and avahi-daemon (C's starts late), so the
# stations find each other as on a LAN; A and B go by their host names, C by
# the name "Charlie" its settings give it. Everything it makes is removed at
# the end, also on failure; a screenshot of both windows during the call is
# kept in the output folder.
#
# Usage: tests/e2e/two-stations.sh PROGRAM [OUTPUT_DIR]   (as root)
# Exit: 0 passed, 1 failed, 77 skipped (not root, or a tool is missing).
set -uo pipefail

program=$(realpath "${1:?usage: two-stations.sh PROGRAM [OUTPUT_DIR]}")
output=$(mkdir -p "${2:-.}" && realpath "${2:-.}")
here=$(cd "$(dirname "$0")" && pwd)
resources="$here/../../src/resources"

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: network namespaces need root"
  exit 77
fi
for tool in ip Xvfb xdotool xwininfo import convert tesseract pulseaudio pactl parec paplay sox \
  python3 ss unshare nsenter dbus-daemon dbus-send avahi-daemon avahi-browse; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done

run=$(mktemp -d /tmp/chatterly-e2e.XXXXXX)
tag="ce$$"
pids=()
failed=0

cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  remove_hosts a b c
  if [ "$failed" -ne 0 ]; then
    for log in "$run"/*/station.log; do
      [ -f "$log" ] && { echo "--- $log"; tail -n 20 "$log"; }
    done
  fi
  rm -rf "$run"
}
trap cleanup EXIT

step() { echo "== $*"; }
fail() {
  echo "FAILED: $*"
  import -window root "$output/two-stations-failed.png" 2>/dev/null
  failed=1
  exit 1
}
. "$here/lib.sh"

# --- hosts: A 10.77.0.1, B 10.77.0.2, C 10.77.0.3 on one bridge -------------
step "hosts A, B and C on a bridge; alpha and bravo with Avahi, charlie with its system bus only"
hosts 10.77.0 a b c
A=10.77.0.1
B=10.77.0.2
C=10.77.0.3
own_host a alpha
own_host b bravo
own_host c charlie
start_avahi a
start_avahi b

# --- one display ------------------------------------------------------------
display

# --- a sound server for each station ----------------------------------------
sound a
sound b
sound c

# --- the stations -------------------------------------------------------------
# A remembers B as "desk"; B remembers A as "hall"; C remembers nobody (the
# memory file's bytes: the address list, then the two alias maps, one pair
# each).
memory() { # ADDRESS ALIAS
  local a=$1 l=$2
  printf '\x01\x00'
  printf "\\x$(printf %02x ${#a})%s" "$a"
  printf '\x01\x00'
  printf "\\x$(printf %02x ${#a})%s\\x$(printf %02x ${#l})%s" "$a" "$l"
  printf '\x01\x00'
  printf "\\x$(printf %02x ${#l})%s\\x$(printf %02x ${#a})%s" "$l" "$a"
}
station() { # NAME [PEER_ADDRESS PEER_ALIAS]: on host NAME, in "$run/NAME"
  local wd="$run/$1"
  mkdir -p "$wd"
  cp "$resources/Busy.wav" "$resources/CallWaiting.wav" "$wd/"
  # The stations send test tones, not speech: the voice's clean-up is off.
  printf '[Recording]\nCleanUp=off\n' >>"$wd/Chatterly.ini"
  if [ $# -eq 3 ]; then
    memory "$2" "$3" >"$wd/Parlio.mem"
  else
    printf '\x00\x00\x00\x00\x00\x00' >"$wd/Parlio.mem"
  fi
  (cd "$wd" && enter_host "$1" env PULSE_SERVER="$(server "$1")" HOME="$wd" \
    XDG_RUNTIME_DIR="$run/pa-$1/run" QT_QPA_PLATFORM=xcb "$program" >"$wd/station.log" 2>&1) &
  pids+=($!)
  eval "pid_$1=$!"
}
station a "$B" desk
station b "$A" hall
win_a=$(timeout 30 xdotool search --all --sync --onlyvisible --pid "$pid_a" --name '^Chatterly$' |
  head -n 1) || fail "A's window did not appear"
win_b=$(timeout 30 xdotool search --all --sync --onlyvisible --pid "$pid_b" --name '^Chatterly$' |
  head -n 1) || fail "B's window did not appear"
# Both open centred: A goes to the left, B to the right.
xdotool windowmove "$win_a" 20 100
xdotool windowmove "$win_b" 520 100

# --- driving and reading the windows ------------------------------------------
keys() { # WINDOW KEY...
  local w=$1
  shift
  xdotool windowfocus --sync "$w" && xdotool key --clearmodifiers "$@"
}
title() { xdotool getwindowname "$1"; }
title_is() { [ "$(title "$1")" = "$2" ]; }
ocr() { # WINDOW: the text it shows
  import -window "$1" "$run/shot.png" 2>/dev/null &&
    convert "$run/shot.png" -resize 300% -colorspace Gray -level 50%,85% "$run/big.png" &&
    tesseract "$run/big.png" - --psm 6 2>/dev/null
}
shows() { ocr "$1" | grep -qi "$2"; }
# press_talk WINDOW: Alt+T until the button reads "Stop Recording" (Talk is
# enabled once the call stands).
press_talk() {
  local tries
  for tries in 1 2 3 4 5 6 7 8 9 10; do
    keys "$1" alt+t
    wait_until 3 shows "$1" "Stop Recording" && return 0
  done
  return 1
}

# capture NAME: records what station NAME's loudspeaker plays, until stopped.
capture() {
  parec --server="$(server "$1")" -d spk.monitor --raw --format=s16le --rate=22050 \
    --channels=1 --latency-msec=20 >"$run/heard-$1.raw" 2>/dev/null &
  capture_pid=$!
  pids+=($capture_pid)
}
heard() { python3 "$here/tone.py" "$run/heard-$1.raw"; }
loud_for() { # NAME SECONDS: the capture holds at least that much loud sound
  awk -v s="$(heard "$1" | cut -d' ' -f1)" -v want="$2" 'BEGIN { exit !(s >= want) }'
}
pitch_near() { # NAME HZ: the loud sound's pitch is within 10 % of HZ
  local got
  got=$(heard "$1" | cut -d' ' -f2)
  echo "   $1 heard $(heard "$1") (seconds, Hz)"
  awk -v g="$got" -v w="$2" 'BEGIN { exit !(g > w * 0.9 && g < w * 1.1) }'
}
tone_into() { # NAME HZ SECONDS: a tone into station NAME's microphone
  sox -n -r 22050 -c 1 -b 16 -e signed-integer "$run/tone-$2.wav" synth "$3" sine "$2" vol 0.5
  paplay --server="$(server "$1")" -d spk "$run/tone-$2.wav"
}
history_of() { # NAME: the station's history as the command line prints it
  (cd "$run/$1" && env -u DISPLAY "$program" --history)
}
lines_of() { # NAME PATTERN COUNT: that many lines of the history match
  [ "$(history_of "$1" | grep -cE "$2")" -eq "$3" ]
}
history_window_of_b() {
  hist_b=$(xdotool search --all --onlyvisible --pid "$pid_b" --name '^History$' | head -n 1)
  [ -n "$hist_b" ]
}
records() { # PULSE_SERVER PID: a record stream of that process is open
  pactl --server="$1" list source-outputs | grep -q "application.process.id = \"$2\""
}

step "the command line: --help names --history and --talk; --history where nothing was kept ends with 1"
env -u DISPLAY "$program" --help | grep -q -- "--history" || fail "--help does not list --history"
env -u DISPLAY "$program" --help | grep -q -- "--talk" || fail "--help does not list --talk"
mkdir -p "$run/empty"
listing=0
(cd "$run/empty" && env -u DISPLAY "$program" --history >/dev/null 2>"$run/empty.log") || listing=$?
[ "$listing" -eq 1 ] && grep -q "no message history" "$run/empty.log" ||
  fail "--history without a history ended with $listing: $(cat "$run/empty.log")"
[ ! -e "$run/empty/History" ] || fail "--history made a history"

# --- A calls B by address, and they talk both ways -----------------------------
step "A calls B by address"
type_remote "$win_a" "$B"
keys "$win_a" Return
wait_until 20 title_is "$win_b" "Chatterly Connected to hall" ||
  fail "B's caption: $(title "$win_b")"

step "A talks: B's loudspeaker plays A's tone"
press_talk "$win_a" || fail "A's Talk did not go down"
capture b
tone_into a 1000 1.5
keys "$win_a" alt+s
wait_until 30 loud_for b 1.3 || fail "B did not play A's message"
import -window root "$output/two-stations.png" 2>/dev/null
kill "$capture_pid"
pitch_near b 1000 || fail "B played another sound"
# What A sent ("Parlio.wav" holds it) is what B kept, byte for byte.
kept=$(ls "$run/b/History/"*-in.wav 2>/dev/null | head -n 1)
cmp -s "$run/a/Parlio.wav" "$kept" || fail "B's history does not hold A's message as sent"

step "B answers: A's loudspeaker plays B's tone of another pitch"
press_talk "$win_b" || fail "B's Talk did not go down"
capture a
tone_into b 600 1.5
keys "$win_b" alt+s
wait_until 30 loud_for a 1.3 || fail "A did not play B's message"
kill "$capture_pid"
pitch_near a 600 || fail "A played another sound"

step "B holds messages: A's next one waits unplayed, then plays from B's history by keyboard"
keys "$win_b" alt+h
wait_until 10 history_window_of_b || fail "B's history window did not open"
xdotool windowmove "$hist_b" 20 430 # below A's window, beside B's
keys "$hist_b" alt+h
wait_until 5 grep -qs "HoldMessages=true" "$run/b/Chatterly.ini" || fail "Hold messages did not turn on"
press_talk "$win_a" || fail "A's Talk did not go down"
capture b
tone_into a 800 1.5
keys "$win_a" alt+s
wait_until 30 lines_of b $'\tin\t.*\tunplayed\t' 1 || fail "B did not keep A's message unplayed"
wait_until 5 shows "$win_b" "History (1)" || fail "B's History button: $(ocr "$win_b")"
loud_for b 0.2 && fail "B played a held message: $(heard b)"
keys "$hist_b" alt+u
wait_until 30 loud_for b 1.3 || fail "B did not play the held message from its history"
kill "$capture_pid"
pitch_near b 800 || fail "B played another sound"
wait_until 10 lines_of b $'\tin\t.*\tplayed\t' 2 || fail "B's history: $(history_of b)"
lines_of a $'\tout\tdesk\t' 2 || fail "A's history: $(history_of a)"
keys "$hist_b" alt+h
wait_until 5 grep -qs "HoldMessages=false" "$run/b/Chatterly.ini" || fail "Hold messages did not turn off"

step "C calls B during the call: the cue at B, the busy frame for C, then the close"
capture b
in_host c timeout 30 bash -c "exec 3<>/dev/tcp/$B/2005 && cat <&3" \
  >"$run/busy-answer.bin" || fail "C's call did not end with the close"
kill "$capture_pid"
python3 - "$run/busy-answer.bin" "$resources/Busy.wav" <<'EOF' || fail "C did not receive Busy.wav"
import struct, sys
got = open(sys.argv[1], "rb").read()
busy = open(sys.argv[2], "rb").read()
sys.exit(0 if got == struct.pack("<II", 0, len(busy)) + busy else 1)
EOF
loud_for b 0.3 || fail "B did not play the call-waiting cue: $(heard b)"
title_is "$win_b" "Chatterly Connected to hall" || fail "B's call did not go on"

step "Alt+D on A while Talk is down: both idle, no record stream left"
press_talk "$win_a" || fail "A's Talk did not go down"
wait_until 10 records "$(server a)" "$pid_a" || fail "A is not recording"
keys "$win_a" alt+d
wait_until 10 title_is "$win_b" "Chatterly" || fail "B did not return to idle"
no_station_records() {
  ! records "$(server a)" "$pid_a" && ! records "$(server b)" "$pid_b" &&
    ! records "$(server a)" "$pid_b" && ! records "$(server b)" "$pid_a"
}
wait_until 5 no_station_records || fail "a station still holds a record stream"
wait_until 10 shows "$win_a" "Connection Status" || fail "A did not return to idle"

step "A calls B by its alias; B names A by its alias; --talk on A sends B a message"
type_remote "$win_a" desk
keys "$win_a" Return
wait_until 20 title_is "$win_b" "Chatterly Connected to hall" ||
  fail "B's caption: $(title "$win_b")"
talk_says() { [ "$(cd "$run/$1" && env -u DISPLAY "$program" --talk 2>&1)" = "$2" ]; }
wait_until 10 talk_says a recording || fail "--talk on A did not press Talk"
capture b
tone_into a 900 1
talk_says a sent || fail "--talk on A did not send"
wait_until 30 loud_for b 0.8 || fail "B did not play the message --talk sent: $(heard b)"
kill "$capture_pid"
pitch_near b 900 || fail "B played another sound"
wait_until 30 lines_of b $'\tin\t' 3 || fail "B did not keep the message: $(history_of b)"
keys "$win_a" alt+d
wait_until 10 title_is "$win_b" "Chatterly" || fail "B did not return to idle"

step "A calls a host where nothing listens"
type_remote "$win_a" "$C"
keys "$win_a" Return
# The box: A's other visible window (names match without regard to case, so
# its caption "chatterly" matches the station window's too).
box_of_a() {
  box=$(xdotool search --all --onlyvisible --pid "$pid_a" --name '^chatterly$' |
    grep -vx "$win_a" | head -n 1)
  [ -n "$box" ]
}
wait_until 20 box_of_a || fail "no message box"
wait_until 10 shows "$box" "Failed to connect to remote" || fail "the box reads: $(ocr "$box")"
keys "$box" Return
wait_until 10 shows "$win_a" "Connection Status" || fail "A did not return to idle"

step "a second start in A's directory brings A's window forward and ends"
xdotool windowraise "$win_b"
second_status=0
(cd "$run/a" && in_host a env PULSE_SERVER="$(server a)" HOME="$run/a" \
  XDG_RUNTIME_DIR="$run/pa-a/run" QT_QPA_PLATFORM=xcb timeout 20 "$program" \
  >"$run/second.log" 2>&1) || second_status=$?
[ "$second_status" -eq 0 ] || fail "the second start exited with $second_status: $(cat "$run/second.log")"
grep -q "already runs" "$run/second.log" || fail "the second start said: $(cat "$run/second.log")"
# xwininfo lists the windows from the top of the stack down.
on_top_a() {
  [ "$(xwininfo -root -children | awk '/"Chatterly"/ { print $1; exit }')" = \
    "$(printf '0x%x' "$win_a")" ]
}
wait_until 10 on_top_a || fail "A's window did not come forward"
ended "$pid_a" && fail "A ended"

# --- finding each other: DNS-SD through each host's avahi-daemon ----------------
step "C starts without Avahi (its system bus only) and works: A calls it by address"
mkdir -p "$run/c" && printf '[Station]\nName=Charlie\n' >"$run/c/Chatterly.ini"
station c
win_c=$(timeout 30 xdotool search --all --sync --onlyvisible --pid "$pid_c" --name '^Chatterly$' |
  head -n 1) || fail "C's window did not appear"
xdotool windowmove "$win_c" 520 430
listening() { ip netns exec "$tag-$1" ss -ltnH 'sport = :2005' | grep -q LISTEN; }
wait_until 30 listening c || fail "C does not listen on 2005"
# A has found B, and nobody else.
wait_until 30 shows "$win_a" "Nearby (1)" || fail "A's Nearby button: $(ocr "$win_a")"
type_remote "$win_a" "$C"
keys "$win_a" Return
wait_until 20 title_is "$win_c" "Chatterly Connected to $A" || fail "C's caption: $(title "$win_c")"
keys "$win_a" alt+d
wait_until 10 title_is "$win_c" "Chatterly" || fail "C did not return to idle"
wait_until 10 shows "$win_a" "Connection Status" || fail "A did not return to idle"

step "C's avahi-daemon starts: C publishes itself and A finds it"
start_avahi c
wait_until 30 shows "$win_a" "Nearby (2)" || fail "A's Nearby button: $(ocr "$win_a")"

step "avahi-browse on C resolves A and B: IPv4, port 2005, their TXT"
version=$(sed -n 's/^project(Chatterly VERSION \([0-9.]*\).*/\1/p' "$here/../../CMakeLists.txt")
resolved_on_c() { # NAME ADDRESS: C's browse holds NAME's service on NAME.local at ADDRESS
  local line
  line=$(grep -E "^=;[^;]*;IPv4;$1;_chatterly\._tcp;local;$1\.local;${2//./\\.};2005;" \
    "$run/browse-c") &&
    grep -q '"txtvers=1"' <<<"$line" && grep -q "\"version=$version\"" <<<"$line"
}
c_resolves_a_and_b() {
  in_host c avahi-browse -rpt _chatterly._tcp >"$run/browse-c" 2>/dev/null
  resolved_on_c alpha "$A" && resolved_on_c bravo "$B"
}
wait_until 30 c_resolves_a_and_b || fail "C's avahi-browse: $(cat "$run/browse-c")"
grep -qE "^[+=];[^;]*;IPv6;(alpha|bravo);" "$run/browse-c" &&
  fail "a station is published over IPv6: $(cat "$run/browse-c")"

step "A's Nearby window lists B (as desk) and Charlie, not A; Enter calls B, keyboard alone"
keys "$win_a" alt+n
nearby_of_a() {
  near_a=$(xdotool search --all --onlyvisible --pid "$pid_a" --name '^Nearby Stations$' | head -n 1)
  [ -n "$near_a" ]
}
wait_until 10 nearby_of_a || fail "A's Nearby window did not open"
focused() { [ "$(xdotool getwindowfocus)" = "$1" ]; }
wait_until 10 focused "$near_a" || fail "A's Nearby window did not take the keyboard"
xdotool windowmove "$near_a" 20 430 # below A's window
nearby_reads() { # WORD...: A's Nearby window shows each WORD, case and all (its text in nearby.txt)
  local word
  xdotool windowraise "$near_a" && ocr "$near_a" >"$run/nearby.txt" || return 1
  for word; do grep -q "$word" "$run/nearby.txt" || return 1; done
}
lists_b_and_c() { nearby_reads bravo desk Charlie && ! grep -qi alpha "$run/nearby.txt"; }
wait_until 20 lists_b_and_c || fail "A's Nearby window reads: $(cat "$run/nearby.txt")"
# Sorted by name without regard to case, bravo comes before Charlie, and the
# first row is selected on open.
xdotool key --clearmodifiers Return
wait_until 20 title_is "$win_b" "Chatterly Connected to hall" || fail "B's caption: $(title "$win_b")"
nearby_hidden() { ! nearby_of_a; }
wait_until 10 nearby_hidden || fail "A's Nearby window stayed open"
wait_until 10 focused "$win_a" || fail "A's window did not come forward"

step "B is killed while A's message plays: after a restart B's history has it, whole"
press_talk "$win_a" || fail "A's Talk did not go down"
capture b
tone_into a 700 3
keys "$win_a" alt+s
wait_until 30 loud_for b 0.5 || fail "B did not start playing A's message"
kill -9 "$pid_b"
kill "$capture_pid"
wait "$pid_b" 2>/dev/null || true
[ "$(sqlite3 "$run/b/History/index.sqlite" 'PRAGMA integrity_check')" = ok ] ||
  fail "B's index is damaged"
lines_of b $'\tin\t' 4 || fail "B's history after the kill: $(history_of b)"
wait_until 10 shows "$win_a" "Connection Status" || fail "A did not return to idle"
station b "$A" hall
win_b=$(timeout 30 xdotool search --all --sync --onlyvisible --pid "$pid_b" --name '^Chatterly$' |
  head -n 1) || fail "B's window did not appear again"
xdotool windowmove "$win_b" 520 100
lines_of b $'\tin\t' 4 || fail "B's history after the restart: $(history_of b)"
wait_until 30 shows "$win_a" "Nearby (2)" || fail "A did not find B again: $(ocr "$win_a")"

# --- the stations end -----------------------------------------------------------
# ended_cleanly NAME: station NAME exited with status 0, its log holds no
# sanitizer's report, it left no recording and its port is free.
ended_cleanly() {
  local p status
  eval "p=\$pid_$1"
  wait "$p"
  status=$?
  [ "$status" -eq 0 ] || fail "station $1 exited with status $status"
  if grep -qE "ERROR: (Address|Leak|Thread)Sanitizer|runtime error:" "$run/$1/station.log"; then
    fail "station $1 reported: $(grep -m 3 -E 'Sanitizer|runtime error' "$run/$1/station.log")"
  fi
  [ ! -e "$run/$1/Parlio.wav" ] || fail "station $1 left Parlio.wav"
  ip netns exec "$tag-$1" ss -ltn | grep -q ':2005 ' && fail "port 2005 still taken on $1"
}
ms_since() { echo $((($(date +%s%N) - $1) / 1000000)); }

step "SIGTERM ends C cleanly within five seconds, and its service leaves A's browse"
started=$(date +%s%N)
kill -TERM "$pid_c"
wait_until 10 ended "$pid_c" || fail "station c did not end"
took=$(ms_since "$started")
echo "   station c ended $took ms after SIGTERM"
[ "$took" -lt 5000 ] || fail "station c took $took ms to end"
ended_cleanly c
a_browses_b_alone() {
  in_host a avahi-browse -rpt _chatterly._tcp >"$run/browse-a" 2>/dev/null
  grep -q '^=;[^;]*;IPv4;bravo;' "$run/browse-a" && ! grep -qi ';charlie;' "$run/browse-a"
}
wait_until 30 a_browses_b_alone || fail "A's avahi-browse: $(cat "$run/browse-a")"
wait_until 30 shows "$win_a" "Nearby (1)" || fail "A's Nearby button: $(ocr "$win_a")"

step "both windows close, B's first: it leaves A's Nearby list; each ends within two seconds"
close_station() { # NAME: Alt+X on its window; it ends within two seconds, cleanly
  local w p started took
  eval "w=\$win_$1; p=\$pid_$1"
  started=$(date +%s%N)
  keys "$w" alt+x
  wait_until 5 ended "$p" || fail "station $1 did not end"
  took=$(ms_since "$started")
  echo "   station $1 ended $took ms after Alt+X"
  [ "$took" -lt 2000 ] || fail "station $1 took $took ms to end"
  ended_cleanly "$1"
}
keys "$win_a" alt+n
wait_until 10 nearby_of_a || fail "A's Nearby window did not open"
xdotool windowmove "$near_a" 20 430
wait_until 20 nearby_reads bravo || fail "A's Nearby window reads: $(cat "$run/nearby.txt")"
close_station b
# Its column headings still read, bravo no longer.
b_gone() { nearby_reads memory && ! grep -qi bravo "$run/nearby.txt"; }
wait_until 30 b_gone || fail "A's Nearby window reads: $(cat "$run/nearby.txt")"
close_station a

echo "passed; screenshot: $output/two-stations.png"
