#!/usr/bin/env bash
# The test command: installs what is missing, then builds and runs, in order:
#   1. the whole suite (unit tests and the end-to-end run) on the normal build;
#   2. the installation and the Debian package of a release build (build-pkg/):
#      the staged installation and the package installed, each started;
#   3. the hostile callers against the normal build's program, beside the next
#      build;
#   4. the whole suite again built with AddressSanitizer and UndefinedBehavior-
#      Sanitizer (the end-to-end run then drives the checked program);
#   5. the tests that start threads, built with ThreadSanitizer;
#   6. each fuzzer for a bounded time.
# A finding of a sanitizer ends its program, so it fails its test. Each step
# runs under a private sound server. --quick stops after step 1.
# Usage: tools/run-tests.sh [--quick]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
tools/install-deps.sh
tools/build.sh

suite() { # BUILD_DIR [CTEST_ARGS...]
  local dir=$1
  shift
  tools/with-sound-server.sh ctest --test-dir "$dir" --output-on-failure -j2 --timeout 900 "$@"
}
sanitized() { # BUILD_DIR SANITIZERS: an -O1 build without benchmarks
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DCHATTERLY_SANITIZE="$2" \
    -DCHATTERLY_BENCH=OFF >/dev/null
  nice cmake --build "$1"
}

echo "== the suite"
suite build
[ "${1:-}" = "--quick" ] && exit 0

# install_test SCRIPT BUILD_DIR: passes, or is skipped (77: not root, a tool
# missing, a chatterly package on the machine already).
install_test() {
  local status=0
  "$1" "$2" || status=$?
  [ "$status" -eq 77 ] && echo "$1: skipped"
  [ "$status" -eq 0 ] || [ "$status" -eq 77 ] || { echo "$1: FAILED"; exit 1; }
}
echo "== the installation and the Debian package (build-pkg)"
packaging/build-deb.sh build-pkg
install_test tests/install/staged.sh build-pkg
install_test tests/install/deb.sh build-pkg

export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
export LSAN_OPTIONS="suppressions=$root/tools/sanitizers/lsan.supp"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tools/sanitizers/tsan.supp"

hostile=""
if [ -x tests/e2e/hostile-callers.sh ]; then
  echo "== hostile callers (beside the next build; output in build/test-output/hostile.log)"
  mkdir -p build/test-output
  tools/with-sound-server.sh tests/e2e/hostile-callers.sh build/chatterly build/test-output \
    >build/test-output/hostile.log 2>&1 &
  hostile=$!
fi

echo "== AddressSanitizer and UndefinedBehaviorSanitizer"
sanitized build-asan address,undefined
if [ -n "$hostile" ]; then
  if ! wait "$hostile"; then
    cat build/test-output/hostile.log
    echo "hostile callers: FAILED"
    exit 1
  fi
  tail -n 20 build/test-output/hostile.log
fi
suite build-asan

echo "== ThreadSanitizer (the tests that start threads)"
sanitized build-tsan thread
suite build-tsan -L threads

if [ -x tools/fuzz.sh ]; then
  echo "== fuzzers"
  tools/fuzz.sh 45
fi
echo "== all passed"
