#!/usr/bin/env bash
# The whole test suite: the regular build in build/, then the same suite built
# with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/.
# Run tools/setup.sh first (it installs the packages and builds build/).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

ctest --test-dir build --output-on-failure -j"$jobs"

if [ "${TESSELINK_SKIP_SANITIZERS:-0}" != 1 ]; then
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTESSELINK_SANITIZE=ON >/dev/null
  cmake --build build-asan -j"$jobs"
  # Leaks in the toolkit's own one-time allocations are not ours to judge here;
  # every other finding fails the run.
  export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  ctest --test-dir build-asan --output-on-failure -j"$jobs" -E '^(test_driver_process)$'
fi
