#!/usr/bin/env bash
# Builds and runs the benchmarks; each prints its figures against a raw baseline.
# They run under a private sound server, which the recorder's benchmark needs.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh
tools/with-sound-server.sh bash -c '
for b in build/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done'
