#!/usr/bin/env bash
# The whole test suite: the regular build in build/, then the same suite built
# with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/, the
# threaded suites under ThreadSanitizer in build-tsan/ (TESSELINK_SKIP_TSAN=1
# leaves that out), and the fuzz targets (decoders, settings loader, the whole
# receive path) for a bounded time each in build-fuzz/ (clang, libFuzzer).
# Run tools/setup.sh --tests first (it installs what the tests need and builds
# everything in build/).
set -euo pipefail
cd "$(dirname "$0")/.."
if ! grep -qs '^TESSELINK_TESTS:BOOL=ON' build/CMakeCache.txt; then
  echo "build/ has no tests: run tools/setup.sh --tests first (it installs what the tests need and builds them)" >&2
  exit 1
fi
jobs=$(nproc)
# Most suites spend most of their wall time waiting (for the emulated modules'
# report cycles, a compositor, a window's paint): two of them per core keep the
# cores busy. Compressed waits cannot run out because of the load
# (platform/Clock.h), so the share of a core changes no result.
test_jobs=$((jobs * 2))

ctest --test-dir build --output-on-failure -j"$test_jobs"

if [ "${TESSELINK_SKIP_SANITIZERS:-0}" != 1 ]; then
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DTESSELINK_SANITIZE=ON >/dev/null
  cmake --build build-asan -j"$jobs"
  # LeakSanitizer checks every suite at its exit: a leak fails the run. The mains
  # make the application object with its platform start-up left out of the
  # check (tests/support/OneTimeAllocations.h: the platform plugin's screens live
  # until the process ends); tests/lsan.supp names the libraries' other one-time
  # allocations.
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  # Of the desktop tests this half runs mutter's and KWin's (the Wayland and the
  # xcb platform paths of the demo under the sanitizers, in about a minute each);
  # sway's and Xorg's take four to five minutes here and judge the same window
  # code: they run in the regular half.
  ctest --test-dir build-asan --output-on-failure -j"$test_jobs" \
    -E '^(test_driver_process|test_desktop_sway|test_desktop_xorg)$'
fi

if [ "${TESSELINK_SKIP_TSAN:-0}" != 1 ]; then
  # The suites whose code runs on more than one thread, under ThreadSanitizer.
  # Any report fails the run; tests/tsan.supp drops only what Qt, GLib and glibc
  # (not instrumented) do inside themselves.
  tsan_suites=(test_control test_app test_device_protocol test_input)
  cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSELINK_TSAN=ON >/dev/null
  cmake --build build-tsan -j"$jobs" --target "${tsan_suites[@]}"
  export TSAN_OPTIONS="suppressions=$PWD/tests/tsan.supp halt_on_error=1 exitcode=66 second_deadlock_stack=1 history_size=4"
  # Every test of these suites runs here and is judged as in the other halves:
  # compressed waits move on only while every thread of the process waits
  # (platform/Clock.h), so the slowed build misses none.
  tsan_log=$(mktemp)
  tsan_status=0
  # (A suite may run as several ctest entries, suite_1 .. suite_n: its shares.)
  ctest --test-dir build-tsan --output-on-failure -j"$jobs" -R "^($(IFS='|'; echo "${tsan_suites[*]}"))(_[0-9]+)?\$" \
    >"$tsan_log" 2>&1 || tsan_status=$?
  cat "$tsan_log"
  unset TSAN_OPTIONS
  if grep -q "ThreadSanitizer" "$tsan_log"; then
    echo "== ThreadSanitizer reported (see above): FAILED"
    rm -f "$tsan_log"
    exit 1
  fi
  rm -f "$tsan_log"
  if [ "$tsan_status" != 0 ]; then
    echo "== ThreadSanitizer stage: a test failed (see above): FAILED"
    exit 1
  fi
  echo "== ThreadSanitizer: no report in ${tsan_suites[*]}, every test passed"
fi

if [ "${TESSELINK_SKIP_FUZZ:-0}" != 1 ]; then
  # Each fuzz target from its seed corpus for a bounded time (seconds per target:
  # TESSELINK_FUZZ_SECONDS, or the defaults below, about 7 minutes in all;
  # TESSELINK_FUZZ_RECEIVE_SECONDS for each of the two receive-path targets: the
  # threaded one with unplugs and stops, and the one driven on the fuzzer's thread).
  cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSELINK_FUZZ=ON >/dev/null
  targets=(fuzz_codec:60 fuzz_settings:60 "fuzz_receive:${TESSELINK_FUZZ_RECEIVE_SECONDS:-60}"
           "fuzz_receive_sync:${TESSELINK_FUZZ_RECEIVE_SECONDS:-60}")
  cmake --build build-fuzz -j"$jobs" --target $(for t in "${targets[@]}"; do echo "${t%%:*}"; done)
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  for entry in "${targets[@]}"; do
    target=${entry%%:*}
    seconds=${TESSELINK_FUZZ_SECONDS:-${entry##*:}}
    mkdir -p "$work/$target" build-fuzz/artifacts
    echo "== $target for $seconds s"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
      LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
      "build-fuzz/bin/$target" -max_total_time="$seconds" -timeout=120 -rss_limit_mb=4096 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/artifacts/" "$work/$target" "tests/fuzz/corpus/$target"
  done
fi
