#!/usr/bin/env bash
# Line coverage of the device layer reached by the fuzz targets' corpora.
#
#   tools/fuzz-coverage.sh [corpus-dir ...]
#
# Builds the fuzz targets with coverage counters in build-fuzz-cov/ (clang,
# AddressSanitizer as in the test command), replays each receive-path target
# over its seed corpus plus the given directories (a campaign's corpus; a
# directory named after a target is given to that target only, any other to
# both receive-path targets), merges the profiles and prints
# llvm-cov's report for device/ (all targets together, then each alone).
set -euo pipefail
cd "$(dirname "$0")/.."
for tool in llvm-profdata llvm-cov; do
  command -v "$tool" >/dev/null || { echo "$tool missing (apt-get install llvm-14)"; exit 1; }
done
targets=(fuzz_codec fuzz_receive fuzz_receive_sync)
cmake -S . -B build-fuzz-cov -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTESSELINK_FUZZ=ON -DTESSELINK_FUZZ_COVERAGE=ON >/dev/null
cmake --build build-fuzz-cov -j"$(nproc)" --target "${targets[@]}"
# The profiles stay in build-fuzz-cov/profiles for llvm-cov show.
work=build-fuzz-cov/profiles
rm -rf "$work"
mkdir -p "$work"
objects=()
for t in "${targets[@]}"; do
  dirs=("tests/fuzz/corpus/$t")
  for d in "$@"; do
    case "$(basename "$d")" in
      "$t") dirs+=("$d") ;;
      fuzz_*) ;;
      *) [ "$t" != fuzz_codec ] && dirs+=("$d") ;;
    esac
  done
  echo "== $t: ${dirs[*]}"
  # -runs=0 replays every file once and adds nothing.
  LLVM_PROFILE_FILE="$work/$t-%p.profraw" ASAN_OPTIONS=detect_leaks=0 \
    "build-fuzz-cov/bin/$t" -runs=0 "${dirs[@]}" 2>&1 | grep -E "INITED|DONE" || true
  llvm-profdata merge -sparse "$work/$t"-*.profraw -o "$work/$t.profdata"
  objects+=("build-fuzz-cov/bin/$t")
done
llvm-profdata merge -sparse "$work"/*.profdata -o "$work/all.profdata"
# Line totals of device/ (its sources and headers, not the generated moc files)
# from llvm-cov's summary export.
device_lines() {
  local profile=$1; shift
  local args=("$1"); shift
  for o in "$@"; do args+=(-object "$o"); done
  llvm-cov export -summary-only --instr-profile="$profile" "${args[@]}" | ROOT="$PWD" python3 -c '
import json, os, sys
root = os.environ["ROOT"]
files = json.load(sys.stdin)["data"][0]["files"]
seen = {}
for f in files:
    path = os.path.normpath(f["filename"])
    rel = os.path.relpath(path, root)
    if rel.startswith("device/") and os.path.exists(path):
        seen[rel] = f["summary"]["lines"]
covered = sum(l["covered"] for l in seen.values())
count = sum(l["count"] for l in seen.values())
for key in sorted(seen):
    l = seen[key]
    if l["count"]:
        print("  %-36s %5d / %5d lines  %5.1f %%" % (key, l["covered"], l["count"], 100.0 * l["covered"] / l["count"]))
print("  device/ total                        %5d / %5d lines  %5.1f %%" % (covered, count, 100.0 * covered / max(count, 1)))
'
}
echo "== device/ line coverage, all targets"
device_lines "$work/all.profdata" "${objects[@]}"
for t in "${targets[@]}"; do
  echo "== $t alone"
  device_lines "$work/$t.profdata" "build-fuzz-cov/bin/$t" | tail -n 1
done
