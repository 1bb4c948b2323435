# What `cmake --install` puts where. On Linux and other Unix systems the
# usual tree under the prefix: the program in bin/, its manual page in
# share/man/man1/, README and LICENSE in share/doc/tarnwick/, the libraries
# in lib/ with the header in include/, a pkg-config file and a CMake package,
# and the Python module where the Python found when configuring looks for
# modules under the prefix installed to (asked when installing), or else in
# PREFIX/lib/pythonX.Y/site-packages. On Windows one flat
# folder: tarnwick.exe with its drop helper tarnwick-drop.cmd, tarnwick.dll
# with its import library, tarnwick.h and the Python module beside the DLL,
# README.md and LICENSE, as the ZIP holds.
# The browser page, made by scripts/build-web.sh and named with
# TARNWICK_WEB_PAGE, goes with the documentation on Linux and beside
# tarnwick.exe on Windows.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

configure_file(man/tarnwick.1.in generated/tarnwick.1 @ONLY)

set(TARNWICK_PYTHON_DIR "" CACHE STRING
    "Folder under the install prefix for the Python module (empty: where TARNWICK_PYTHON looks)")

set(TARNWICK_WEB_PAGE "" CACHE FILEPATH
    "tarnwick.html from scripts/build-web.sh, installed with the program (empty: none)")
if(TARNWICK_WEB_PAGE AND NOT EXISTS "${TARNWICK_WEB_PAGE}")
  message(FATAL_ERROR "TARNWICK_WEB_PAGE names ${TARNWICK_WEB_PAGE}, which does not exist: "
                      "make it with scripts/build-web.sh")
endif()

if(WIN32)
  if(TARNWICK_WEB_PAGE)
    install(FILES ${TARNWICK_WEB_PAGE} DESTINATION .)
  endif()
  install(TARGETS tarnwick tarnwick_shared RUNTIME DESTINATION . ARCHIVE DESTINATION .)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/include/tarnwick.h
                ${CMAKE_CURRENT_BINARY_DIR}/tarnwick.py README.md LICENSE
                windows/tarnwick-drop.cmd DESTINATION .)
  return()
endif()

install(TARGETS tarnwick RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/generated/tarnwick.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
# The Debian copyright file, in Debian's machine-readable form, made from
# LICENSE: its copyright line, then the whole text as the licence, each line
# indented by one space and an empty line written as " .".
file(STRINGS LICENSE license_lines)
list(FILTER license_lines INCLUDE REGEX "^Copyright ")
list(GET license_lines 0 TARNWICK_COPYRIGHT)
string(REGEX REPLACE "^Copyright (\\(c\\) )?" "" TARNWICK_COPYRIGHT "${TARNWICK_COPYRIGHT}")
file(READ LICENSE license_text)
string(STRIP "${license_text}" license_text)
string(REGEX REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REGEX REPLACE "\n" "\n " TARNWICK_LICENSE_TEXT " ${license_text}")
configure_file(cmake/copyright.in generated/copyright @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/generated/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(TARNWICK_WEB_PAGE)
  install(FILES ${TARNWICK_WEB_PAGE} DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/tarnwick)
install(TARGETS tarnwick_shared tarnwick_static EXPORT tarnwickTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/include/tarnwick.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT tarnwickTargets NAMESPACE tarnwick:: DESTINATION ${cmake_dir})
configure_package_config_file(cmake/tarnwickConfig.cmake.in generated/tarnwickConfig.cmake
                              INSTALL_DESTINATION ${cmake_dir})
write_basic_package_version_file(generated/tarnwickConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/generated/tarnwickConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/generated/tarnwickConfigVersion.cmake
        DESTINATION ${cmake_dir})

# The pkg-config file finds the prefix from its own place, so a staged or
# moved install works as well as the one in the configured prefix.
set(pc_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH pc_to_prefix /prefix/${pc_dir} /prefix)
configure_file(cmake/tarnwick.pc.in generated/tarnwick.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/generated/tarnwick.pc DESTINATION ${pc_dir})

install(CODE "
  set(MODULE \"${CMAKE_CURRENT_BINARY_DIR}/tarnwick.py\")
  set(STAGE \"${CMAKE_CURRENT_BINARY_DIR}/generated\")
  set(PYTHON \"${TARNWICK_PYTHON}\")
  set(PYTHON_DIR \"${TARNWICK_PYTHON_DIR}\")
  set(LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(FINDER \"${CMAKE_CURRENT_SOURCE_DIR}/cmake/python-site.py\")
  include(\"${CMAKE_CURRENT_SOURCE_DIR}/cmake/InstallPython.cmake\")")
