# What `cmake --install` puts where. On Linux and other Unix systems the
# usual tree under the prefix: the program in bin/, its manual page in
# share/man/man1/, README and LICENSE in share/doc/tarnwick/. On Windows one
# flat folder: tarnwick.exe, README.md and LICENSE, as the ZIP package holds.
include(GNUInstallDirs)

configure_file(man/tarnwick.1.in generated/tarnwick.1 @ONLY)

if(WIN32)
  install(TARGETS tarnwick RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
else()
  install(TARGETS tarnwick RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/generated/tarnwick.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()
