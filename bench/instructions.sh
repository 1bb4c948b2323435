#!/usr/bin/env bash
# Instruction counts (valgrind's callgrind) of two tarnwick programs on the
# same input, for -c, -j and -k, in one run: a measure of the hot paths that
# a loaded machine does not blur. Each program runs pinned to one processor
# (taskset), so that it converts on one thread, as the counts of a split
# would otherwise depend on the machine.
#
# Usage: bench/instructions.sh BASELINE_PROGRAM PROGRAM INPUT [GOAL]
# GOAL (default 0.90) is the largest ratio of PROGRAM's count to the
# baseline's that counts as met; the exit code is 1 when a verb misses it.
set -euo pipefail

if [ $# -lt 3 ]; then
  echo "usage: $0 BASELINE_PROGRAM PROGRAM INPUT [GOAL]" >&2
  exit 2
fi
baseline=$1 program=$2 input=$3 goal=${4:-0.90}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
one_cpu=$(python3 -c 'import os; print(min(os.sched_getaffinity(0)))')

# count PROGRAM VERB: the instructions PROGRAM VERB INPUT runs.
count() {
  taskset -c "$one_cpu" valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" \
    "$1" "$2" "$input" "$work/out" >/dev/null 2>"$work/valgrind.log"
  rm -f "$work/out"
  awk '/^summary:/ {print $2}' "$work/callgrind.out"
}

missed=0
printf '  %-6s %16s %16s %8s\n' verb baseline program ratio
for verb in -c -j -k; do
  old=$(count "$baseline" "$verb")
  new=$(count "$program" "$verb")
  ratio=$(awk "BEGIN { printf \"%.3f\", $new / $old }")
  verdict=$(awk "BEGIN { print ($ratio <= $goal) ? \"met\" : \"MISSED\" }")
  [ "$verdict" = met ] || missed=1
  printf '  %-6s %16s %16s %8s   target <= %s %s\n' "$verb" "$old" "$new" "$ratio" "$goal" "$verdict"
done
exit "$missed"
