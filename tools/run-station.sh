#!/usr/bin/env bash
# The run command: installs what is missing, builds, and starts the station in
# a working directory of its own that holds its sound files.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh
work="${XDG_DATA_HOME:-$HOME/.local/share}/chatterly"
mkdir -p "$work"
for f in Busy.wav CallWaiting.wav; do
  [ -f "src/resources/$f" ] && cp -n "src/resources/$f" "$work/" || true
done
exe="$PWD/build/chatterly"
cd "$work"
exec "$exe" "$@"
