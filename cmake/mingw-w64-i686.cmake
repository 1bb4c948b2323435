# Cross-builds tarnwick for 32-bit Windows with Debian's MinGW-w64 compilers
# (package g++-mingw-w64-i686), in their POSIX-threads variant.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(TARNWICK_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# 32-bit programs cannot run on this machine's Wine: the tests are not built
# unless asked for.
set(TARNWICK_TESTS OFF CACHE BOOL "Build the tests")
