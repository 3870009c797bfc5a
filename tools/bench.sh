#!/usr/bin/env bash
# Builds and runs the benchmarks; each prints its figures against a raw baseline.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/build.sh
for b in build/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done
