#!/usr/bin/env bash
# Builds the libFuzzer targets and runs each on two processes at once (one
# per core): the whole-file target and the XML and JSON readers for RUNS
# executions in all (default 1,000,000), the split-versus-one-thread target
# and each text target for a bounded share of that. Every run also stops at
# a time cap (at most 575 seconds in all), so the whole run stays within ten
# minutes on a loaded two-core machine; on an idle one the runs end well
# before their caps.
#
# Exits non-zero on any finding: a crash, a sanitizer report, a leak, a
# difference from the exact reference, a slow input (a text above 10 ms or a
# conversion above 100 ms of CPU time, a hang of ten seconds) or memory
# above 512 MiB. Inputs that caused a finding are left in BUILD/fuzz-artifacts;
# keep each one as a named file under tests/regressions/ once it is fixed.
# Prints the executions of each target.
#
# Usage: fuzz/run.sh [RUNS] [TARGETS...]   e.g. fuzz/run.sh 20000 real date
# Environment: TARNWICK_FUZZ_BUILD names the build directory (default
# build-fuzz under the repository), CXX the clang++ to use,
# TARNWICK_FUZZ_PROCESSES the processes per target (default 2),
# TARNWICK_FUZZ_NO_CAP=1 lifts the time caps (for long runs).
set -euo pipefail

runs="${1:-1000000}"
shift || true
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${TARNWICK_FUZZ_BUILD:-$repo/build-fuzz}"
jobs="${TARNWICK_FUZZ_BUILD_JOBS:-2}"
processes="${TARNWICK_FUZZ_PROCESSES:-2}"

# Target, share of RUNS (a divisor), time cap in seconds, longest input and
# dictionary, for every target.
targets=(
  "bplist file 1 360 8192 file.dict"
  "split file 20 45 8192 file.dict"
  "xml xml 1 40 4096 xml.dict"
  "json json 1 40 4096 json.dict"
  "real real 5 15 16 number.dict"
  "date date 5 15 16 number.dict"
  "integer integer 5 15 256 number.dict"
  "uid uid 5 15 32 number.dict"
  "escape8 escape8 5 15 4096 none"
  "escape16 escape16 5 15 4096 none"
)
chosen=("$@")

names=()
for t in "${targets[@]}"; do names+=("${t%% *}_fuzz"); done
cmake -S "$repo" -B "$build" -DTARNWICK_MODE=fuzz -DCMAKE_CXX_COMPILER="${CXX:-clang++}" \
  -DTARNWICK_WERROR=ON >/dev/null
cmake --build "$build" --target "${names[@]}" -j"$jobs"

seeds="$build/fuzz-seeds"
artifacts="$build/fuzz-artifacts"
logs="$build/fuzz-logs"
rm -rf "$seeds" "$artifacts" "$logs"
mkdir -p "$artifacts" "$logs"
python3 "$repo/fuzz/make_seeds.py" "$seeds" 8192

# Leak detection is on; a smaller quarantine keeps the sanitizer's own
# memory well below the RSS limit.
export ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=0:quarantine_size_mb=64:${ASAN_OPTIONS:-}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:${UBSAN_OPTIONS:-}"

status=0
for t in "${targets[@]}"; do
  read -r name seedDir share cap maxLen dict <<<"$t"
  [ "${TARNWICK_FUZZ_NO_CAP:-0}" = 1 ] && cap=0
  if [ ${#chosen[@]} -gt 0 ] && [[ ! " ${chosen[*]} " == *" $name "* ]]; then continue; fi
  corpus="$build/fuzz-corpus/$name"
  mkdir -p "$corpus"
  dictArg=()
  [ "$dict" != none ] && dictArg=(-dict="$seeds/$dict")
  pids=()
  for p in $(seq 1 "$processes"); do
    "$build/fuzz/${name}_fuzz" \
      -runs=$((runs / share / processes)) -max_total_time="$cap" -seed="$p" \
      -timeout=10 -rss_limit_mb=512 -malloc_limit_mb=512 -detect_leaks=1 \
      -max_len="$maxLen" -print_final_stats=1 "${dictArg[@]}" \
      -artifact_prefix="$artifacts/$name-" "$corpus" "$seeds/$seedDir" \
      >"$logs/$name-$p.log" 2>&1 &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
  executed=$(cat "$logs/$name"-*.log | sed -n 's/^stat::number_of_executed_units: *//p' |
    awk '{ s += $1 } END { print s + 0 }')
  echo "fuzz: $name: $executed executions"
done

findings="$(find "$artifacts" -type f | wc -l)"
if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
  echo "fuzz: FAILED ($findings finding(s) in $artifacts)"
  find "$artifacts" -type f
  grep -l -E "ERROR|SUMMARY|got \"|took " "$logs"/*.log | while read -r log; do
    echo "== $log"
    grep -E -A20 "ERROR|got \"|took " "$log" | sed -n 1,40p
  done
  exit 1
fi
echo "fuzz: no findings"
