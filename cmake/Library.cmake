# libtarnwick, the engine behind the C interface of include/tarnwick.h: a
# shared library (libtarnwick.so.0 with that SONAME, or tarnwick.dll with its
# import library libtarnwick.dll.a) and a static one (libtarnwick.a), both
# made of the engine's objects and the C interface's. The shared library exports the interface
# alone: the engine's symbols are hidden, a version script keeps the C++
# runtime's inline symbols in, and on Windows a .def file lists the exports.
include(GNUInstallDirs)

add_library(tarnwick_shared SHARED $<TARGET_OBJECTS:bplist> $<TARGET_OBJECTS:tarnwick_c>)
add_library(tarnwick_static STATIC $<TARGET_OBJECTS:bplist> $<TARGET_OBJECTS:tarnwick_c>)
set_target_properties(tarnwick_shared PROPERTIES
  OUTPUT_NAME tarnwick EXPORT_NAME tarnwick
  VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
set_target_properties(tarnwick_static PROPERTIES OUTPUT_NAME tarnwick EXPORT_NAME tarnwick_static)
target_link_libraries(tarnwick_shared PRIVATE Threads::Threads)
target_link_libraries(tarnwick_static INTERFACE Threads::Threads)
# libtarnwick.a is C++, so a program linked by the C compiler needs the
# libraries the C++ compiler links by itself (libstdc++ and libm with GCC),
# less the C library and compiler support libraries every C link has. They
# go with the CMake target and into the pkg-config file's Libs.private.
# (Windows installs the DLL alone.)
if(NOT WIN32)
  set(cxx_runtime ${CMAKE_CXX_IMPLICIT_LINK_LIBRARIES})
  list(REMOVE_ITEM cxx_runtime c gcc gcc_s gcc_eh)
  list(REMOVE_DUPLICATES cxx_runtime)
  target_link_libraries(tarnwick_static INTERFACE ${cxx_runtime})
  set(TARNWICK_PC_LIBS_PRIVATE "")
  foreach(library ${cxx_runtime})
    string(APPEND TARNWICK_PC_LIBS_PRIVATE " -l${library}")
  endforeach()
endif()
foreach(library tarnwick_shared tarnwick_static)
  target_include_directories(${library} INTERFACE
    $<BUILD_INTERFACE:${CMAKE_CURRENT_BINARY_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
endforeach()
if(WIN32)
  # tarnwick.dll, not MinGW's libtarnwick.dll; the import library keeps its prefix.
  set_target_properties(tarnwick_shared PROPERTIES PREFIX "")
  target_sources(tarnwick_shared PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/cmake/tarnwick.def)
elseif(NOT APPLE)
  set(version_script ${CMAKE_CURRENT_SOURCE_DIR}/cmake/tarnwick.map)
  target_link_options(tarnwick_shared PRIVATE LINKER:--version-script=${version_script})
  set_target_properties(tarnwick_shared PROPERTIES LINK_DEPENDS ${version_script})
endif()
# The Python wheel's build (scripts/build-wheel.sh) links the C++ and GCC
# runtimes into the shared library, so that it needs the C library alone and
# loads into any Python on any system with that C library or a later one.
option(TARNWICK_WHEEL "Link the C++ runtime into libtarnwick.so, for the Python wheel" OFF)
if(TARNWICK_WHEEL AND NOT WIN32)
  target_link_options(tarnwick_shared PRIVATE -static-libstdc++ -static-libgcc)
endif()

# The Python the module is installed for (Install.cmake: TARNWICK_PYTHON_DIR
# overrides the folder it names). A build folder configured before the Python
# was asked holds the fixed folder of then, which is dropped once.
if(TARNWICK_PYTHON_DIR STREQUAL "lib/python3/dist-packages" AND NOT DEFINED CACHE{TARNWICK_PYTHON})
  set_property(CACHE TARNWICK_PYTHON_DIR PROPERTY VALUE "")
endif()
find_program(TARNWICK_PYTHON NAMES python3 DOC "The Python whose module folder gets tarnwick.py")

# The Python module sits beside the shared library in the build folder, where
# it finds it first, so the tests import it from there. Its formats, codes
# and option bits are written in from the header.
include(${CMAKE_CURRENT_SOURCE_DIR}/cmake/Constants.cmake)
tarnwick_read_constants(${CMAKE_CURRENT_SOURCE_DIR}/include/tarnwick.h.in header)
list(FILTER header_CODES EXCLUDE REGEX "^OK=")
tarnwick_python_lines(formats "" ${header_FORMATS})
tarnwick_python_lines(codes "" ${header_CODES})
tarnwick_python_lines(defines "_" ${header_DEFINES})
set(TARNWICK_PYTHON_CONSTANTS "${formats}${codes}${defines}")
configure_file(python/tarnwick.py tarnwick.py @ONLY)
