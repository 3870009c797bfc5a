#!/usr/bin/env bash
# Builds the libFuzzer targets into build-fuzz/ (clang, AddressSanitizer and
# UndefinedBehaviorSanitizer; build/ is not touched) and runs each for SECONDS
# (default 45) from its seeds and the corpus it kept from earlier runs. Crash
# inputs go to build-fuzz/artifacts/<target>/, each run's output to
# build-fuzz/logs/<target>.log. Exits 1 when any target found a crash.
#   tools/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-45}
targets=(fuzz_voice_frame fuzz_memory_file fuzz_memory_entry fuzz_wav_decoder)

tools/install-deps.sh
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCHATTERLY_FUZZ=ON >/dev/null
cmake --build build-fuzz --target "${targets[@]}"
fuzz/make-seeds.sh build-fuzz/seeds

export UBSAN_OPTIONS=print_stacktrace=1
failed=()
for t in "${targets[@]}"; do
  mkdir -p "build-fuzz/corpus/$t" "build-fuzz/artifacts/$t" build-fuzz/logs
  log=build-fuzz/logs/$t.log
  echo "== $t: ${seconds}s"
  if build-fuzz/"$t" -max_total_time="$seconds" -timeout=20 -print_final_stats=1 \
    -artifact_prefix="build-fuzz/artifacts/$t/" "build-fuzz/corpus/$t" "build-fuzz/seeds/$t" \
    >"$log" 2>&1; then
    grep -E '^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' "$log" || true
  else
    tail -n 40 "$log"
    failed+=("$t")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "Crashes found by: ${failed[*]} (inputs in build-fuzz/artifacts/)"
  exit 1
fi
