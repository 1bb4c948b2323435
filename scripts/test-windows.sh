#!/usr/bin/env bash
# Cross-builds tarnwick for Windows with MinGW-w64 and runs its tests under
# Wine: the 64-bit program and tests with warnings as errors, then the 32-bit
# program, which is built only (this machine runs no 32-bit Windows code).
# Installs the compilers, Wine and the GoogleTest sources when missing (as
# root, with apt-get).
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)

packages=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 googletest)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -q
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

start=$(date +%s)
echo "== windows x86_64 build"
cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DTARNWICK_WERROR=ON >/dev/null
cmake --build build-windows -j "$jobs"
dlls=$(x86_64-w64-mingw32-objdump -p build-windows/tarnwick.exe | sed -n 's/^\s*DLL Name: //p')
echo "tarnwick.exe imports: $(echo $dlls)"
for dll in $dlls; do
  case ${dll,,} in
    kernel32.dll | msvcrt.dll | shell32.dll | user32.dll | advapi32.dll) ;;
    *) echo "tarnwick.exe needs $dll, which Windows does not have" >&2; exit 1 ;;
  esac
done

echo "== windows x86_64 tests (Wine)"
ctest --test-dir build-windows --output-on-failure -j "$jobs"

echo "== windows i686 build"
cmake -S . -B build-windows-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
  -DTARNWICK_WERROR=ON >/dev/null
cmake --build build-windows-i686 -j "$jobs"
echo "== windows done in $(($(date +%s) - start)) s"
