# Cross-builds tarnwick for 64-bit Windows with Debian's MinGW-w64 compilers
# (package g++-mingw-w64-x86-64), in their POSIX-threads variant, which
# std::thread needs. Tests run under Wine: see tests/CMakeLists.txt.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARNWICK_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Test programs run under 64-bit Wine, called directly (the plain wine
# launcher may pick a 32-bit loader), quietly, with a Wine prefix of their
# own in the build directory.
set(TARNWICK_WINEARCH win64)
set(TARNWICK_WINE /usr/lib/wine/wine64)
set(TARNWICK_WINESERVER /usr/lib/wine/wineserver64)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_COMMAND} -E env WINEDEBUG=-all WINEPREFIX=${CMAKE_BINARY_DIR}/wine-prefix
    ${TARNWICK_WINE})
