#!/usr/bin/env bash
# The test command: installs what is missing, builds, and runs the whole test
# suite under ctest with the sound server the tests need.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
tools/build.sh
tools/with-sound-server.sh ctest --test-dir build --output-on-failure -j2 --timeout 600
