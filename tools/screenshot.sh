#!/usr/bin/env bash
# Takes the README's screenshot of the station window under a private Xvfb
# display: docs/station-window.png. Needs a built build/chatterly.
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-docs/station-window.png}"
work=$(mktemp -d /tmp/chatterly-shot.XXXXXX)
display=":97"
Xvfb "$display" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
station_pid=""
cleanup() {
  [ -n "$station_pid" ] && kill "$station_pid" 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY="$display"
for _ in $(seq 1 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done 2>/dev/null || true
exe="$PWD/build/chatterly"
(cd "$work" && exec "$exe") &
station_pid=$!
# Dismiss the start-up message boxes (captioned with the program's name)
# until the station window itself shows.
# xdotool's name match ignores case, so compare the names exactly here.
for _ in $(seq 1 60); do
  shown=""
  for id in $(xdotool search --onlyvisible --name 'chatterly' 2>/dev/null); do
    name=$(xdotool getwindowname "$id" 2>/dev/null || true)
    if [ "$name" = "Chatterly" ]; then
      shown=yes
    elif [ "$name" = "chatterly" ]; then
      xdotool windowfocus "$id" 2>/dev/null || true
      xdotool key Return
    fi
  done
  [ -n "$shown" ] && break
  sleep 0.5
done
sleep 1
import -window root "$work/root.png"
convert "$work/root.png" -trim +repage "$out"
echo "wrote $out"
