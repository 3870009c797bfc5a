#!/usr/bin/env bash
# The installation of a build, staged under a temporary DESTDIR with the
# prefix /usr: every file where it belongs and nothing else, the files as they
# must be (the icon at each size, the manual page and its HTML page, the
# desktop entry and the metainfo, which their validators must pass), and the
# staged launcher starting the staged station as a desktop would, in a
# network namespace of its own with a private Xvfb and sound server: it gets
# its working directory under XDG_DATA_HOME with the sound files, takes a
# first caller and answers a second with the installed busy message, and
# Alt+X ends it. Everything it makes is removed at the end, also on failure.
#
# Usage: tests/install/staged.sh BUILD_DIR   (a built tree; as root)
# Exit: 0 passed, 1 failed, 77 skipped (not root, or a tool is missing).
set -uo pipefail

build=$(realpath "${1:?usage: staged.sh BUILD_DIR}")
here=$(cd "$(dirname "$0")" && pwd)
resources="$here/../../src/resources"

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: network namespaces need root"
  exit 77
fi
for tool in cmake ip ss Xvfb xdotool pulseaudio pactl parec python3 desktop-file-validate \
  appstreamcli groff gzip zcat cmp timeout realpath; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
[ -f "$build/CMakeCache.txt" ] || { echo "FAILED: $build is no build tree"; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")

run=$(mktemp -d /tmp/chatterly-staged.XXXXXX)
tag="cs$$"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  remove_world
  rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
fail() {
  echo "FAILED: $*"
  exit 1
}
step() { echo "== $*"; }
. "$here/lib.sh"

step "cmake --install $build --prefix /usr, staged in DESTDIR"
stage="$run/stage"
DESTDIR="$stage" cmake --install "$build" --prefix /usr >"$run/install.log" 2>&1 ||
  fail "the installation failed: $(tail -n 5 "$run/install.log")"

step "every file where it belongs, nothing else"
installed_files | sed 's|^|usr/|' | sort >"$run/expected"
(cd "$stage" && find . ! -type d | sed 's|^\./||' | sort) >"$run/found"
diff "$run/expected" "$run/found" >"$run/files.diff" ||
  fail "the staged files differ (< missing, > extra): $(cat "$run/files.diff")"
while read -r f; do
  [ -L "$stage/$f" ] || [ "$(stat -c %a "$stage/$f")" = "$(mode_of "${f#usr/}")" ] ||
    fail "$f has mode $(stat -c %a "$stage/$f")"
done <"$run/expected"
echo "   $(wc -l <"$run/expected") files"

step "the files' contents; the validators"
# The build draws the theme's icons and the program's own icon with one
# drawing; the same icon file again shows that they are one picture.
cmp -s "$build/packaging/icons/icon128.ico" "$resources/icon128.ico" ||
  fail "the theme's icons are drawn unlike the program's icon (src/resources/icon128.ico)"
check_contents "$stage/usr" "$version"
# The metainfo, desktop entry and icons together, as a software centre reads them.
echo "   appstreamcli validate-tree --no-net $stage/usr:"
out=$(appstreamcli validate-tree --no-net "$stage/usr" 2>&1)
status=$?
echo "$out" | sed '/^$/d; s/^/     /'
[ "$status" -eq 0 ] || fail "appstreamcli validate-tree failed ($status)"

step "the staged launcher starts the station in its working directory"
world
data_home="$run/data"
station_env=(XDG_DATA_HOME="$data_home")
start_station "$stage/usr/bin/chatterly-launch"
check_station "$stage/usr/bin/chatterly" "$data_home/chatterly" "$stage/usr/share/chatterly" \
  "$(desktop_key "$stage/usr/share/applications/$app_id.desktop" StartupWMClass)"

step "the launcher keeps sound files the working directory already has"
printf 'the user\x27s own busy message' >"$data_home/chatterly/Busy.wav"
rm "$data_home/chatterly/CallWaiting.wav"
# With no display, the station says so and ends at once with status 1;
# the launcher has made its copies before.
(cd / && exec ip netns exec "$tag-s" env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
  XDG_DATA_HOME="$data_home" HOME="$run/home" PULSE_SERVER="$(server s)" \
  "$stage/usr/bin/chatterly-launch") >"$run/nodisplay.log" 2>&1
status=$?
[ "$status" -eq 1 ] || fail "without a display the station ended with $status: $(cat "$run/nodisplay.log")"
[ "$(cat "$data_home/chatterly/Busy.wav")" = "the user's own busy message" ] ||
  fail "the launcher replaced the working directory's Busy.wav"
cmp -s "$data_home/chatterly/CallWaiting.wav" "$stage/usr/share/chatterly/CallWaiting.wav" ||
  fail "the launcher did not copy the missing CallWaiting.wav"

step "the launcher's --talk only asks the station: nothing is made or copied"
rm "$data_home/chatterly/CallWaiting.wav"
for home in "$data_home" "$run/nowhere"; do
  out=$(cd / && exec env -u DISPLAY -u WAYLAND_DISPLAY XDG_DATA_HOME="$home" \
    "$stage/usr/bin/chatterly-launch" --talk 2>&1)
  status=$?
  [ "$status" -eq 1 ] && [ "$out" = "no station" ] ||
    fail "--talk without a station ended with $status: $out"
done
[ ! -e "$data_home/chatterly/CallWaiting.wav" ] || fail "--talk copied CallWaiting.wav"
[ ! -e "$run/nowhere" ] || fail "--talk made a working directory"

echo "passed"
