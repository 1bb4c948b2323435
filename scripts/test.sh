#!/usr/bin/env bash
# Builds tarnwick and runs every test twice: an optimised build with warnings
# as errors, then the same under AddressSanitizer and UndefinedBehaviorSanitizer.
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
