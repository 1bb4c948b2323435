#!/usr/bin/env bash
# Builds the libFuzzer target and runs it for SECONDS seconds (default 60).
# Exits non-zero on any finding: a crash, a sanitizer report, a leak, an
# input slower than one second or memory above 512 MiB. Inputs that caused
# a finding are left in BUILD/fuzz-artifacts; keep each one as a named file
# under tests/regressions/ once it is fixed.
#
# Environment: TARNWICK_FUZZ_BUILD names the build directory (default
# build-fuzz under the repository), CXX the clang++ to use.
set -euo pipefail

seconds="${1:-60}"
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${TARNWICK_FUZZ_BUILD:-$repo/build-fuzz}"
jobs="${TARNWICK_FUZZ_BUILD_JOBS:-2}"

cmake -S "$repo" -B "$build" -DTARNWICK_MODE=fuzz -DCMAKE_CXX_COMPILER="${CXX:-clang++}" \
  -DTARNWICK_WERROR=ON >/dev/null
cmake --build "$build" --target bplist_fuzz -j"$jobs"

seeds="$build/fuzz-seeds"
work="$build/fuzz-corpus"
artifacts="$build/fuzz-artifacts"
rm -rf "$seeds" "$artifacts"
mkdir -p "$work" "$artifacts"
python3 "$repo/fuzz/make_seeds.py" "$seeds"

# Inputs are capped at 8 KiB: every structure the reader knows fits, and
# short inputs keep the executions fast. Leak detection is on; a smaller
# quarantine keeps the sanitizer's own memory well below the RSS limit.
status=0
ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=0:quarantine_size_mb=64:${ASAN_OPTIONS:-}" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}" \
  "$build/fuzz/bplist_fuzz" \
  -max_total_time="$seconds" -timeout=1 -rss_limit_mb=512 -malloc_limit_mb=512 \
  -detect_leaks=1 -max_len=8192 -print_final_stats=1 \
  -dict="$seeds/bplist.dict" -artifact_prefix="$artifacts/" \
  "$work" "$seeds" 2>&1 | tee "$build/fuzz.log" || status=$?

findings="$(find "$artifacts" -type f | wc -l)"
echo "fuzz: $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$build/fuzz.log" | tail -1)"
if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
  echo "fuzz: FAILED (exit $status, $findings finding(s) in $artifacts)"
  find "$artifacts" -type f
  exit 1
fi
echo "fuzz: no findings in $seconds seconds"
