#!/usr/bin/env bash
# The real program as a screen reader meets it: one station on a host of its
# own (a network namespace with only loopback) with a private sound server
# (null sink spk) under a private Xvfb, its accessibility bridge on, on a
# private session bus with the accessibility bus and its registry
# (at-spi-bus-launcher). access.py then reads every control's role, name and description over AT-SPI and works
# the window through the accessibility interfaces only: types into the remote
# box, moves the focus, opens and closes About, takes a call from a plain
# caller on the host, reads the level meter while a tone plays into the
# microphone during Talk, and ends the station with Exit. Everything it makes is removed
# at the end, also on failure.
#
# Usage: tests/e2e/access.sh PROGRAM   (as root)
# Exit: 0 passed, 1 failed, 77 skipped (not root, or a tool is missing).
set -uo pipefail

program=$(realpath "${1:?usage: access.sh PROGRAM}")
here=$(cd "$(dirname "$0")" && pwd)
resources="$here/../../src/resources"

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: network namespaces need root"
  exit 77
fi
a11y_launcher=/usr/libexec/at-spi-bus-launcher
for tool in ip ss Xvfb xdotool pulseaudio pactl parec paplay sox dbus-daemon gdbus pgrep "$a11y_launcher"; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
/usr/bin/python3 -c "import pyatspi" 2>/dev/null ||
  { echo "skipped: /usr/bin/python3 has no pyatspi (python3-pyatspi)"; exit 77; }

run=$(mktemp -d /tmp/chatterly-access.XXXXXX)
tag="ca$$"
pids=()
. "$here/lib.sh"

cleanup() {
  # The accessibility bus and its registry were started by the launcher.
  [ -n "${launcher_pid:-}" ] && pids+=($(descendants "$launcher_pid"))
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  ip netns del "$tag-s" 2>/dev/null
  rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
step() { echo "== $*"; }
fail() {
  echo "FAILED: $*"
  [ -s "$run/station/station.log" ] && { echo "--- station.log"; tail -n 20 "$run/station/station.log"; }
  exit 1
}

step "a host of its own, a display, a sound server, the accessibility bus"
ip netns add "$tag-s" && ip -n "$tag-s" link set lo up || fail "cannot make the host"
display
sound s
accessibility_bus

step "the station, its accessibility bridge on"
wd="$run/station"
mkdir -p "$wd/.config/pulse"
echo "autospawn = no" >"$wd/.config/pulse/client.conf"
cp "$resources/Busy.wav" "$resources/CallWaiting.wav" "$wd/"
(cd "$wd" && exec ip netns exec "$tag-s" env PULSE_SERVER="$(server s)" HOME="$wd" \
  XDG_RUNTIME_DIR="$run/pa-s/run" QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
  "$program" >"$wd/station.log" 2>&1) &
spid=$!
pids+=($spid)
listening() { ip netns exec "$tag-s" ss -ltnH 'sport = :2005' | grep -q LISTEN; }
wait_until 30 listening || fail "the station does not listen on 2005"

step "what a screen reader finds and does (access.py)"
sox -n -r 22050 -c 1 -b 16 -e signed-integer "$run/tone.wav" synth 3 sine 700 vol 0.5
/usr/bin/python3 "$here/access.py" "$spid" "$tag-s" "$(server s)" "$run/tone.wav" ||
  fail "the screen reader's check"
wait "$spid"
status=$?
[ "$status" -eq 0 ] || fail "the station exited with status $status"
echo "passed"
