#!/usr/bin/env bash
# Builds the Debian package chatterly_<version>_<arch>.deb in BUILD_DIR:
# a release build without tests and benchmarks, compiled with Debian's
# hardening flags (dpkg-buildflags: fortified functions, stack protector,
# read-only relocations bound at start), built at low priority, packed by
# CPack. Prints the package's path last.
# Usage: packaging/build-deb.sh BUILD_DIR
set -euo pipefail
build=$(realpath -m "${1:?usage: packaging/build-deb.sh BUILD_DIR}")
cd "$(dirname "$0")/.."
# The optimisation is the release build's; debugging information would be
# stripped from the package anyway.
flags() {
  DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP="-g -O2" dpkg-buildflags --get "$1"
}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCHATTERLY_TESTS=OFF \
  -DCHATTERLY_BENCH=OFF -DCMAKE_CXX_FLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" >/dev/null
nice cmake --build "$build"
rm -f "$build"/chatterly_*.deb
(cd "$build" && nice cpack -G DEB >cpack.log) || { cat "$build/cpack.log"; exit 1; }
rm -rf "$build/_CPack_Packages"
ls "$build"/chatterly_*.deb
