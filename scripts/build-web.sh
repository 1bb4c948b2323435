#!/usr/bin/env bash
# Makes tarnwick.html, the browser page, in build-web/ (or the folder given):
# the engine compiled to WebAssembly with Debian's emscripten package and
# embedded in one HTML file that works opened from disk. Installs emscripten,
# CMake and make first when they are missing (as root or through sudo).
# Arguments after the folder go to CMake (scripts/test.sh: warnings as errors).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/packages.sh
dir=${1:-build-web}
shift $(($# > 0))

need_packages "${web_packages[@]}"
# Emscripten's JavaScript tools need acorn, which Debian installs where its
# own nodejs looks; another nodejs is pointed there.
export NODE_PATH=/usr/share/nodejs${NODE_PATH:+:$NODE_PATH}
mkdir -p "$dir"
log=$dir/build.log
emcmake cmake -S . -B "$dir" -DTARNWICK_TESTS=OFF "$@" >"$log" 2>&1 || { cat "$log"; exit 1; }
cmake --build "$dir" -j "$(nproc)" >>"$log" 2>&1 || { cat "$log"; exit 1; }
echo "built $dir/tarnwick.html"
