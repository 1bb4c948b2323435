#!/usr/bin/env bash
# Makes the Python wheels in dist/, tarnwick-VERSION-py3-none-PLATFORM.whl:
# the module as the package tarnwick with libtarnwick inside it, for every
# Python 3. With no argument it builds the Linux library in build-wheel with
# the C++ runtime linked in, checks that it needs the C library alone, and
# tags the wheel manylinux_2_N for the newest glibc symbol version (2.N) it
# uses. Each argument names a MinGW build folder (build-windows and
# build-windows-i686, made by scripts/test-windows.sh), whose tarnwick.dll
# makes a win_amd64 or win32 wheel. Needs no network and no build backend.
# Usage: scripts/build-wheel.sh [MINGW_BUILD_DIR...]
set -euo pipefail
cd "$(dirname "$0")/.."
fail() { echo "build-wheel: $*" >&2; exit 1; }

# pack BUILD_DIR LIBRARY TAG: the wheel of the module BUILD_DIR configured.
pack() {
  python3 scripts/make-wheel.py dist "$3" "$1/tarnwick.py" python/tarnwick.pyi "$2" LICENSE
}

if (($# == 0)); then
  cmake -S . -B build-wheel -DTARNWICK_MODE=release -DTARNWICK_WHEEL=ON -DTARNWICK_TESTS=OFF \
    -DTARNWICK_WERROR=ON >/dev/null
  cmake --build build-wheel -j2 --target tarnwick_shared tarnwick >/dev/null
  library=build-wheel/libtarnwick.so.0
  needed=$(readelf -d "$library" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  for name in $needed; do
    case $name in
      libc.so.6 | libm.so.6 | ld-linux-*.so.*) ;;
      *) fail "$library needs $name, which a wheel cannot count on" ;;
    esac
  done
  glibc=$(objdump -T "$library" | grep -o 'GLIBC_2\.[0-9]*' | sort -t. -k2 -n | tail -n 1)
  [ -n "$glibc" ] || fail "$library names no glibc symbol version"
  minor=${glibc#GLIBC_2.}
  echo "$library needs $(echo $needed), glibc $glibc at most"
  pack build-wheel "$library" "manylinux_2_${minor}_$(uname -m)"
fi

for dir in "$@"; do
  library=$dir/tarnwick.dll
  [ -f "$library" ] || fail "$dir holds no tarnwick.dll: build it with scripts/test-windows.sh"
  case $(objdump -f "$library" 2>/dev/null || x86_64-w64-mingw32-objdump -f "$library") in
    *pei-x86-64*) tag=win_amd64 ;;
    *pei-i386*) tag=win32 ;;
    *) fail "$library is neither a 64-bit nor a 32-bit Windows DLL" ;;
  esac
  pack "$dir" "$library" "$tag"
done
