#!/usr/bin/env bash
# Installs what the tests need (Debian or Ubuntu, as root or through sudo),
# then builds tarnwick and runs every test twice: an optimised build with
# warnings as errors, then the same under AddressSanitizer and
# UndefinedBehaviorSanitizer. Next, the tests that split containers across
# threads run under ThreadSanitizer. The browser page is built first and
# driven in headless Chromium against the optimised program. Last, the
# optimised build is installed into a staging folder and packaged (the page
# with it), and both are checked. Then the Windows build's tests run under
# Wine (scripts/test-windows.sh).
# TARNWICK_TEST_SKIP leaves out the heavy stages and what they install:
# "web" the browser page, "windows" the Windows build (see the README).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/packages.sh
. scripts/lib/stages.sh
jobs=$(nproc 2>/dev/null || echo 2)
read_test_skip "${TARNWICK_TEST_SKIP:-}" || exit 2

need_packages "${build_packages[@]}" libgtest-dev python3 libxml2-utils man-db pkg-config

page=
if stage_runs web; then
  echo "== browser page"
  scripts/build-web.sh build-web -DTARNWICK_WERROR=ON
  page=$PWD/build-web/tarnwick.html
fi

for mode in release sanitize; do
  dir=build-test-$mode
  echo "== $mode build"
  cmake -S . -B "$dir" -DTARNWICK_MODE=$mode -DTARNWICK_WERROR=ON -DTARNWICK_TESTS=ON \
    -DTARNWICK_WEB_PAGE="$page" >/dev/null
  cmake --build "$dir" -j "$jobs"
  echo "== $mode tests"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
done

echo "== thread build"
cmake -S . -B build-test-thread -DTARNWICK_MODE=thread -DTARNWICK_WERROR=ON -DTARNWICK_TESTS=ON >/dev/null
cmake --build build-test-thread -j "$jobs"
echo "== thread tests"
ctest --test-dir build-test-thread --output-on-failure -j "$jobs" -R '^(Parallel|DamagedInput|WorkBound|Library)\.'

if stage_runs web; then
  echo "== browser page tests (headless Chromium)"
  need_packages "${web_test_packages[@]}"
  # The benchmark's records file, for the page's time against the program's.
  records=build-web/records-100000.plist
  [ -s "$records" ] || python3 bench/make_plist.py 100000 "$records"
  /usr/bin/python3 tests/web_test.py "$page" build-test-release/tarnwick tests/corpus/binary \
    --records "$records" --example examples/example.plist --screenshot build-web/screenshot.png
else
  echo "== browser page SKIPPED (TARNWICK_TEST_SKIP)"
fi

echo "== install and package"
scripts/check-install.sh build-test-release

if stage_runs windows; then
  scripts/test-windows.sh
else
  echo "== windows SKIPPED (TARNWICK_TEST_SKIP)"
fi
