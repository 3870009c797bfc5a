#!/usr/bin/env bash
# The Debian package: built in BUILD_DIR (packaging/build-deb.sh: release,
# no tests or benchmarks), its control fields (Depends found from the
# program's libraries, Recommends the sound server and its mixer) and its
# files as an installation must hold them, then installed with apt-get as a
# user would, and the installed desktop entry's command started as a desktop
# would, in a network namespace of its own with a private Xvfb and sound
# server: the window comes up, the station takes a first caller and answers a
# second with the installed busy message, and Alt+X ends it. Then the package
# is purged, which must leave none of its files. Everything it makes is
# removed at the end, also on failure (the package is purged); the package
# file stays in BUILD_DIR.
#
# Usage: tests/install/deb.sh BUILD_DIR   (as root)
# Exit: 0 passed, 1 failed, 77 skipped (not root, a tool is missing, or a
# chatterly package or its files are on the machine already).
set -uo pipefail

build=$(realpath -m "${1:?usage: deb.sh BUILD_DIR}")
here=$(cd "$(dirname "$0")" && pwd)
resources="$here/../../src/resources"

if [ "$(id -u)" -ne 0 ]; then
  echo "skipped: installing a package and network namespaces need root"
  exit 77
fi
for tool in cmake cpack ninja dpkg dpkg-deb dpkg-query dpkg-shlibdeps dpkg-buildflags file \
  apt-get ip ss Xvfb xdotool pulseaudio pactl parec python3 desktop-file-validate appstreamcli \
  groff gzip zcat cmp timeout realpath; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done

. "$here/lib.sh"
# A package of that name, or its files, that this test did not install are
# someone else's: the test would replace and then purge them.
if dpkg-query -W -f='${Status}\n' chatterly 2>/dev/null | grep -qv not-installed; then
  echo "skipped: a chatterly package is installed already ($(dpkg-query -W chatterly))"
  exit 77
fi
while read -r f; do
  [ -e "/usr/$f" ] || [ -L "/usr/$f" ] || continue
  echo "skipped: /usr/$f is on the machine already"
  exit 77
done < <(installed_files)

run=$(mktemp -d /tmp/chatterly-deb.XXXXXX)
tag="cd$$"
pids=()
installed=0
# apt waits for a lock another apt holds instead of failing at once.
apt=(apt-get -y -q -o DPkg::Lock::Timeout=300)
purge() { DEBIAN_FRONTEND=noninteractive "${apt[@]}" purge chatterly; }
known() { dpkg-query -W -f='${Status}\n' chatterly 2>/dev/null | grep -qv not-installed; }
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  remove_world
  if [ "$installed" -ne 0 ] && known; then
    purge >"$run/purge.log" 2>&1 || { echo "the purge failed:"; cat "$run/purge.log"; }
  fi
  rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
fail() {
  echo "FAILED: $*"
  exit 1
}
step() { echo "== $*"; }

step "packaging/build-deb.sh $build"
"$here/../../packaging/build-deb.sh" "$build" >"$run/build.log" 2>&1 ||
  fail "the package was not built: $(tail -n 20 "$run/build.log")"
deb=$(tail -n 1 "$run/build.log")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
arch=$(dpkg --print-architecture)
[ "$deb" = "$build/chatterly_${version}_$arch.deb" ] && [ -f "$deb" ] ||
  fail "the package is \"$deb\", not chatterly_${version}_$arch.deb in $build"
echo "   $deb ($(stat -c %s "$deb") bytes)"

step "the control fields"
field() { dpkg-deb -f "$deb" "$1"; }
dpkg-deb -f "$deb" | sed 's/^/   /'
[ "$(field Package)" = chatterly ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
case $(field Section) in sound | net) ;; *) fail "Section: $(field Section)" ;; esac
depends=$(field Depends)
for lib in libc6 libqt6widgets6 libqt6gui6 libqt6core6 libpulse0 libsndfile1 libsqlite3-0 \
  libavahi-client3 libspeexdsp1 libsonic0; do
  echo "$depends" | tr ',' '\n' | grep -q "^ *$lib\( \|$\)" || fail "Depends lacks $lib: $depends"
done
[ "$(field Recommends)" = "pulseaudio | pipewire-pulse, pavucontrol, avahi-daemon, libnss-mdns" ] ||
  fail "Recommends: $(field Recommends)"
[ -n "$(field Description | head -n 1)" ] && [ "$(field Description | wc -l)" -gt 1 ] ||
  fail "the Description needs a summary and a long text"
long=$(field Description | awk 'length > 80' | head -n 1)
[ -z "$long" ] || fail "a Description line is longer than 80 characters: $long"

step "the files: every one where it belongs, nothing else"
dpkg-deb -c "$deb" >"$run/contents"
awk '$1 !~ /^d/ { print $6 }' "$run/contents" | sed 's|^\./||' | sort >"$run/found"
installed_files | sed 's|^|usr/|' | sort >"$run/expected"
diff "$run/expected" "$run/found" >"$run/files.diff" ||
  fail "the package's files differ (< missing, > extra): $(cat "$run/files.diff")"
awk '$2 != "root/root" { print; bad = 1 } END { exit bad }' "$run/contents" >"$run/owners" ||
  fail "files not owned by root: $(cat "$run/owners")"
mkdir "$run/unpacked"
dpkg-deb -x "$deb" "$run/unpacked" || fail "the package does not unpack"
while read -r f; do
  [ -L "$run/unpacked/usr/$f" ] ||
    [ "$(stat -c %a "$run/unpacked/usr/$f")" = "$(mode_of "$f")" ] || fail "$f has the wrong mode"
done < <(installed_files)
[ "$(file -b "$run/unpacked/usr/bin/chatterly" | grep -c ', stripped')" -eq 1 ] ||
  fail "the program is not stripped: $(file -b "$run/unpacked/usr/bin/chatterly")"
check_contents "$run/unpacked/usr" "$version"

step "apt-get install $deb"
# The test stays off the network: the libraries the package depends on are on
# a machine that built it; a package that needed more would be fetched.
"${apt[@]}" install --simulate --no-install-recommends "$deb" >"$run/simulate.log" 2>&1 ||
  fail "apt-get cannot install the package: $(tail -n 20 "$run/simulate.log")"
others=$(awk '$1 == "Inst" && $2 != "chatterly" { print $2 }' "$run/simulate.log" | xargs)
[ -z "$others" ] || fail "the package needs packages this machine lacks: $others"
installed=1
DEBIAN_FRONTEND=noninteractive "${apt[@]}" install --no-install-recommends "$deb" \
  >"$run/install.log" 2>&1 || fail "apt-get install failed: $(tail -n 20 "$run/install.log")"
[ "$(dpkg-query -W -f='${Status} ${Version}' chatterly)" = "install ok installed $version" ] ||
  fail "the package is not installed: $(dpkg-query -W -f='${Status} ${Version}' chatterly)"
while read -r f; do
  [ -e "/usr/$f" ] || fail "/usr/$f is missing after the installation"
done < <(installed_files)
if command -v man >/dev/null; then
  # man follows the launcher's link to the one page.
  [ "$(man -w chatterly 2>/dev/null)" = /usr/share/man/man1/chatterly.1.gz ] &&
    [ "$(man -w chatterly-launch 2>/dev/null)" = /usr/share/man/man1/chatterly.1.gz ] ||
    fail "man does not find chatterly(1) and chatterly-launch(1)"
fi

step "the installed desktop entry's command starts the station"
desktop=/usr/share/applications/$app_id.desktop
# The command without the desktop's field codes (%U and the like).
read -r -a command <<<"$(desktop_key "$desktop" Exec | sed 's/ %[fFuUdDnNickvm]//g')"
echo "   Exec: ${command[*]}"
world
# A desktop's own environment: the system's PATH (behind the stand-in viewer),
# XDG_DATA_HOME unset, so the working directory is ~/.local/share/chatterly.
station_env=(PATH="$run/viewer:/usr/local/bin:/usr/bin:/bin")
start_station "${command[@]}"
check_station /usr/bin/chatterly "$run/home/.local/share/chatterly" /usr/share/chatterly \
  "$(desktop_key "$desktop" StartupWMClass)"

step "apt-get purge chatterly"
purge >"$run/purge.log" 2>&1 || fail "apt-get purge failed: $(tail -n 20 "$run/purge.log")"
installed=0
known && fail "the package is still known: $(dpkg-query -W -f='${Status}' chatterly)"
while read -r f; do
  [ ! -e "/usr/$f" ] && [ ! -L "/usr/$f" ] || fail "/usr/$f is left after the purge"
done < <(installed_files)

echo "passed"
