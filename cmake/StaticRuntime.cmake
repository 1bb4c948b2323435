# Links the tarnwick program statically in release builds. Most of a small
# file's conversion time is the process start, and loading the shared C++
# runtime was the largest part of it; a static program also runs on Windows
# without the MinGW runtime DLLs beside it. Fully static where the toolchain
# can link a threaded program that way, else the C++ and GCC runtimes alone.
# Sanitizer and fuzz builds keep the shared runtime their instrumentation needs.
option(TARNWICK_STATIC "Link the release program statically" ON)
# What the program was linked with: "static" (nothing shared), "libc" (the C
# library alone shared) or "shared".
set(TARNWICK_LINKAGE shared)

if(TARNWICK_STATIC AND TARNWICK_MODE STREQUAL "release" AND NOT APPLE
   AND CMAKE_CXX_COMPILER_ID MATCHES "^(GNU|Clang)$")
  include(CheckCXXSourceCompiles)
  set(CMAKE_REQUIRED_LINK_OPTIONS -static)
  set(CMAKE_REQUIRED_LIBRARIES Threads::Threads)
  check_cxx_source_compiles([[
    #include <thread>
    int main() {
      std::thread t([] {});
      t.join();
    }]] TARNWICK_LINKS_FULLY_STATIC)
  unset(CMAKE_REQUIRED_LINK_OPTIONS)
  unset(CMAKE_REQUIRED_LIBRARIES)
  if(TARNWICK_LINKS_FULLY_STATIC)
    target_link_options(tarnwick PRIVATE -static)
    set(TARNWICK_LINKAGE static)
    message(STATUS "tarnwick: linked fully static")
  else()
    target_link_options(tarnwick PRIVATE -static-libstdc++ -static-libgcc)
    set(TARNWICK_LINKAGE libc)
    message(STATUS "tarnwick: C++ and GCC runtimes linked static")
  endif()
endif()
