# Cross-builds tarnwick for 32-bit Windows with Debian's MinGW-w64 compilers
# (package g++-mingw-w64-i686), in their POSIX-threads variant.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TARNWICK_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Test programs run under 32-bit Wine (Debian's wine32, which needs a host
# that runs i386 code), quietly, with a 32-bit Wine prefix of their own in
# the build directory. Not every host can, so the tests are built only when
# asked for (scripts/test-windows.sh checks the host first).
set(TARNWICK_TESTS OFF CACHE BOOL "Build the tests")
set(TARNWICK_WINEARCH win32)
set(TARNWICK_WINE /usr/lib/wine/wine)
set(TARNWICK_WINESERVER /usr/lib/wine/wineserver32)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_COMMAND} -E env WINEDEBUG=-all WINEARCH=${TARNWICK_WINEARCH}
    WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix ${TARNWICK_WINE})
