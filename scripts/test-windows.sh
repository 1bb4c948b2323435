#!/usr/bin/env bash
# Cross-builds tarnwick for Windows with MinGW-w64 and runs its tests under
# Wine, with warnings as errors: the 64-bit program and tests under 64-bit
# Wine, then the 32-bit program and tests under 32-bit Wine where the host
# runs i386 code (otherwise it says so and builds the 32-bit program alone).
# Installs the compilers, Wine (wine32 with the i386 architecture for the
# 32-bit stage) and the GoogleTest sources when missing (as root or through
# sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

. scripts/lib/packages.sh
. scripts/lib/i386.sh
need_packages g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 googletest

# The browser page is the same file for every system: the ZIP takes the one
# scripts/build-web.sh made, when there is one.
web_page=()
[ -f build-web/tarnwick.html ] && web_page=(-DTARNWICK_WEB_PAGE="$PWD/build-web/tarnwick.html")

start=$(date +%s)
echo "== windows x86_64 build"
cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DTARNWICK_WERROR=ON "${web_page[@]}" >/dev/null
cmake --build build-windows -j "$jobs"
for binary in tarnwick.exe tarnwick.dll; do
  dlls=$(x86_64-w64-mingw32-objdump -p build-windows/$binary | sed -n 's/^\s*DLL Name: //p')
  echo "$binary imports: $(echo $dlls)"
  for dll in $dlls; do
    case ${dll,,} in
      kernel32.dll | msvcrt.dll | shell32.dll | user32.dll | advapi32.dll) ;;
      *) echo "$binary needs $dll, which Windows does not have" >&2; exit 1 ;;
    esac
  done
done
# The DLL exports the C interface alone.
exports=$(x86_64-w64-mingw32-objdump -p build-windows/tarnwick.dll |
  sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/s/^\s*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
[ "$exports" = "tarnwick_convert tarnwick_convert_to_buffer tarnwick_free tarnwick_version " ] ||
  { echo "tarnwick.dll exports: $exports" >&2; exit 1; }

echo "== windows x86_64 tests (Wine)"
ctest --test-dir build-windows --output-on-failure -j "$jobs"

echo "== windows x86_64 package"
(cd build-windows && cpack -G ZIP >/dev/null)
# The listing is read whole before it is searched: "lister | grep -q" under
# pipefail fails when grep stops reading early and the lister meets a closed pipe.
listing=$(python3 -m zipfile -l build-windows/tarnwick-*-win64.zip)
echo "$listing"
zip_files="tarnwick.exe tarnwick-drop.cmd tarnwick.dll libtarnwick.dll.a tarnwick.h tarnwick.py README.md LICENSE"
((${#web_page[@]} == 0)) || zip_files+=" tarnwick.html"
for f in $zip_files; do
  grep -q "/$f " <<<"$listing" ||
    { echo "the ZIP package holds no $f" >&2; exit 1; }
done
# Nothing else: the README lists what the ZIP holds.
held=$(sed -n 's|^[^/]*/\([^ /]\{1,\}\) .*|\1|p' <<<"$listing" | sort | tr '\n' ' ')
[ "$held" = "$(tr ' ' '\n' <<<"$zip_files" | sort | tr '\n' ' ')" ] ||
  { echo "the ZIP package holds $held, not $zip_files" >&2; exit 1; }

tests32=OFF
if host_runs_i386; then
  tests32=ON
  need_architecture i386
  need_packages wine32:i386
fi
echo "== windows i686 build"
cmake -S . -B build-windows-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
  -DTARNWICK_WERROR=ON -DTARNWICK_TESTS=$tests32 >/dev/null
cmake --build build-windows-i686 -j "$jobs"
# Large-address-aware: 4 GiB of address space on 64-bit Windows, not 2.
header=$(i686-w64-mingw32-objdump -p build-windows-i686/tarnwick.exe)
grep -q "large address aware" <<<"$header" ||
  { echo "the 32-bit tarnwick.exe is not large-address-aware" >&2; exit 1; }
echo "32-bit tarnwick.exe: large address aware"
if [ $tests32 = ON ]; then
  echo "== windows i686 tests (32-bit Wine)"
  ctest --test-dir build-windows-i686 --output-on-failure -j "$jobs"
else
  echo "== windows i686 tests SKIPPED: this host cannot run 32-bit Windows programs:"
  echo "   $i386_reason"
fi
echo "== windows done in $(($(date +%s) - start)) s"
