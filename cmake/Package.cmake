# Packages made by `cpack` in the build directory: a Debian package on Linux,
# a ZIP archive for a Windows build (tarnwick.exe, tarnwick.dll and what goes
# with it, README.md and LICENSE, see Install.cmake). Both hold exactly what
# `cmake --install` installs.
set(CPACK_PACKAGE_NAME tarnwick)
set(CPACK_PACKAGE_VENDOR "the tarnwick authors")
set(CPACK_PACKAGE_CONTACT "the tarnwick authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "tarnwick is a small, fast command-line converter from Apple's binary property-list format (bplist00) to XML property lists or JSON documents; it also writes keyed archives (NSKeyedArchiver) as the objects they hold. It refuses damaged files with a clear message instead of crashing on them. The package also holds libtarnwick, the converter as a library with a C interface (header, pkg-config file and CMake package), and a Python module over it.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  # tarnwick-0.1-win64.zip unpacks into tarnwick-0.1-win64/.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)  # tarnwick_0.1_amd64.deb
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # Depends names the shared libraries libtarnwick is linked with (the
  # program needs no more, however it was linked), so packaging needs no
  # dpkg-shlibdeps. The shlibs file and the ldconfig trigger come with the
  # shared library.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "python3")
  # The module goes where Debian's python3 looks under /usr, whichever
  # Python the build found.
  set(CPACK_CUSTOM_INSTALL_VARIABLES "DEBIAN_PYTHON_DIR=lib/python3/dist-packages")
endif()

# `cpack --config CPackSourceConfig.cmake` makes a source archive of the
# tree without build folders or version-control data.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build-" "/bench/out/" "/fuzz/corpus-run/" "__pycache__")

include(CPack)
