#!/usr/bin/env bash
# The real program under Wayland: one station on a host of its own (a network
# namespace with only loopback) with a private sound server, shown by a
# private headless weston through Qt's Wayland platform. The station must
# listen on 2005 in its namespace, give the compositor a toplevel window
# titled "Chatterly" with its contents drawn (the client's side of the
# protocol, WAYLAND_DEBUG), and end on SIGTERM. Everything it makes is removed
# at the end, also on failure.
#
# Usage: tests/e2e/wayland.sh PROGRAM   (as root)
# Exit: 0 passed, 1 failed, 77 skipped (not root, weston or Qt's Wayland
# platform, qt6-wayland, missing).
set -uo pipefail

program=$(realpath "${1:?usage: wayland.sh PROGRAM}")
here=$(cd "$(dirname "$0")" && pwd)
resources="$here/../../src/resources"

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: network namespaces need root"
  exit 77
fi
for tool in ip ss weston pulseaudio pactl parec pgrep; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
# Qt's Wayland platform lives beside the program's Qt.
qt_core=$(ldd "$program" | awk '/libQt6Core/ { print $3 }')
plugins=$(dirname "${qt_core:-/usr/lib/x86_64-linux-gnu/libQt6Core.so.6}")/qt6/plugins
[ -e "$plugins/platforms/libqwayland-generic.so" ] ||
  { echo "skipped: Qt's Wayland platform is missing (qt6-wayland)"; exit 77; }

run=$(mktemp -d /tmp/chatterly-wayland.XXXXXX)
tag="cw$$"
pids=()
. "$here/lib.sh"

cleanup() {
  # Weston starts helper clients of its own (the shell's panel, the keyboard).
  [ -n "${weston_pid:-}" ] && pids+=($(descendants "$weston_pid"))
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
  [ -s "$run/weston.log" ] && { echo "--- weston.log"; tail -n 10 "$run/weston.log"; }
  [ -s "$wd/station.log" ] &&
    { echo "--- station.log"; grep -v '^\[' "$wd/station.log" | tail -n 20; }
  exit 1
}

step "a host of its own, a sound server, a headless weston"
ip netns add "$tag-s" && ip -n "$tag-s" link set lo up || fail "cannot make the host"
sound s
# The compositor's socket goes in a runtime directory of our own (0700), as
# Wayland clients expect.
xdg="$run/xdg"
mkdir -p "$xdg" && chmod 700 "$xdg"
socket="chatterly-$$"
XDG_RUNTIME_DIR="$xdg" weston --backend=headless-backend.so --socket="$socket" --no-config \
  --idle-time=0 --log="$run/weston.log" >/dev/null 2>&1 &
weston_pid=$!
pids+=($weston_pid)
wait_until 20 test -S "$xdg/$socket" || fail "weston did not start"

step "the station on Wayland"
wd="$run/station"
mkdir -p "$wd/.config/pulse"
echo "autospawn = no" >"$wd/.config/pulse/client.conf"
cp "$resources/Busy.wav" "$resources/CallWaiting.wav" "$wd/"
# The client's side of the protocol goes to the log: the window's requests.
# A headless weston has no seat but offers text input, and Qt 6.4's Wayland
# input context then crashes drawing the first caret (it asks the missing
# seat for its text input): the plain compose-key input context stands in, as
# on a desktop without an input method. Under the leak checker, leaks are not
# looked for here: at its end Qt's Wayland client leaves its display's
# protocol objects (and a module it has unloaded) allocated, which is Qt's
# own; the station's leaks are looked for in the X11 runs of the other scripts.
(cd "$wd" && exec ip netns exec "$tag-s" env -u DISPLAY PULSE_SERVER="$(server s)" HOME="$wd" \
  XDG_RUNTIME_DIR="$xdg" WAYLAND_DISPLAY="$socket" QT_QPA_PLATFORM=wayland QT_IM_MODULE=compose \
  ASAN_OPTIONS="${ASAN_OPTIONS:-}${ASAN_OPTIONS:+:}detect_leaks=0" \
  WAYLAND_DEBUG=client "$program" >"$wd/station.log" 2>&1) &
spid=$!
pids+=($spid)
listening() { ip netns exec "$tag-s" ss -ltnH 'sport = :2005' | grep -q LISTEN; }
wait_until 30 listening || fail "the station does not listen on 2005"
echo "   the station listens on 2005 in its namespace"

# shown: a toplevel titled "Chatterly" whose surface was given a buffer and
# committed after the compositor's first configure was acknowledged (the
# requests as WAYLAND_DEBUG logs them, "-> interface@id.request(...)").
shown() {
  awk '
    function ids(s, a, n) { # the object ids of a line, in order
      n = 0
      while (match(s, /@[0-9]+/)) {
        a[++n] = substr(s, RSTART + 1, RLENGTH - 1) + 0
        s = substr(s, RSTART + RLENGTH)
      }
    }
    /-> xdg_wm_base@[0-9]+\.get_xdg_surface\(/ { ids($0, a); surface_of[a[2]] = a[3] }
    /-> xdg_surface@[0-9]+\.get_toplevel\(/ { ids($0, a); toplevel[a[2]] = a[1] }
    /-> xdg_toplevel@[0-9]+\.set_title\("Chatterly"\)/ { ids($0, a); main = surface_of[toplevel[a[1]]] }
    main && /-> xdg_surface@[0-9]+\.ack_configure\(/ { ids($0, a); if (surface_of[a[1]] == main) acked = 1 }
    acked && /-> wl_surface@[0-9]+\.attach\(wl_buffer@/ { ids($0, a); if (a[1] == main) drawn = 1 }
    drawn && /-> wl_surface@[0-9]+\.commit\(\)/ { ids($0, a); if (a[1] == main) { found = 1; exit } }
    END { exit !found }
  ' "$wd/station.log"
}
wait_until 30 shown || fail "no window \"Chatterly\" was drawn"
echo "   weston shows the toplevel \"Chatterly\", drawn"

step "SIGTERM closes the station as its close box does: it ends with status 0"
kill -TERM "$spid"
wait_until 5 ended "$spid" || fail "the station did not end within 5 s of SIGTERM"
wait "$spid"
status=$?
echo "   the station ended (status $status)"
[ "$status" -eq 0 ] || fail "the station ended with status $status"
grep -qE "ERROR: (Address|Leak|Thread)Sanitizer|runtime error:" "$wd/station.log" &&
  fail "the station reported: $(grep -m 3 -E 'Sanitizer|runtime error' "$wd/station.log")"
echo "passed"
