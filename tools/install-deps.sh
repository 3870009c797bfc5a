#!/usr/bin/env bash
# Installs the Debian packages Chatterly needs to build, run and test, if any
# are missing. Works as root and, through sudo, for an ordinary user.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config qt6-base-dev libgl-dev libgtest-dev libbenchmark-dev
  libpulse-dev libsndfile1-dev libsonic-dev libspeexdsp-dev libsqlite3-dev sqlite3 pulseaudio pulseaudio-utils xvfb xauth xdotool imagemagick sox
  espeak-ng iproute2 fonts-dejavu-core clang-format tesseract-ocr python3 dbus-daemon at-spi2-core
  python3-gi libglib2.0-bin util-linux procps clang libclang-rt-14-dev llvm libx11-dev
  gnuplot-nox dpkg-dev file desktop-file-utils appstream groff python3-pyatspi qt6-wayland weston
  x11-utils avahi-daemon avahi-utils libavahi-client-dev libnss-mdns libxcb1-dev libxcb-keysyms1-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
# Installing a daemon (avahi-daemon) must not start it on this machine: a
# policy-rc.d that forbids starting services stands while apt-get runs, unless
# the machine has one of its own, which is left as it is.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
  trap '$sudo rm -f "$policy"' EXIT
  printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
  $sudo chmod 755 "$policy"
fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}"
