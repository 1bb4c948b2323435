#!/usr/bin/env bash
# Builds tarnwick and runs every test twice: an optimised build with warnings
# as errors, then the same under AddressSanitizer and UndefinedBehaviorSanitizer.
# Last, the tests that split containers across threads run under
# ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

for mode in release sanitize; do
  dir=build-test-$mode
  echo "== $mode build"
  cmake -S . -B "$dir" -DTARNWICK_MODE=$mode -DTARNWICK_WERROR=ON >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== $mode tests"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
done

echo "== thread build"
cmake -S . -B build-test-thread -DTARNWICK_MODE=thread -DTARNWICK_WERROR=ON >/dev/null
cmake --build build-test-thread -j "$jobs"
echo "== thread tests"
ctest --test-dir build-test-thread --output-on-failure -j "$jobs" -R '^(Parallel|DamagedInput|WorkBound)\.'
