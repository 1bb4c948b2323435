#!/usr/bin/env bash
# Builds the tarnwick program and libtarnwick (no tests) in build/, then prints the XML
# of the bundled example. Installs CMake, make and g++ first when they are
# missing (Debian or Ubuntu, as root or through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/packages.sh

need_packages "${build_packages[@]}"
mkdir -p build
log=build/build.log
cmake -S . -B build -DTARNWICK_TESTS=OFF >"$log" 2>&1 || { cat "$log"; exit 1; }
cmake --build build -j "$(nproc)" >>"$log" 2>&1 || { cat "$log"; exit 1; }
echo "built build/tarnwick; the bundled example as XML:"
build/tarnwick -c examples/example.plist ''
