# Part of `cmake --install`: installs the Python module where the Python it
# is for looks for modules under the prefix installed to, which only the
# interpreter knows and which `--prefix` may change at this point, and writes
# into it where the library installed with it is, relative to itself.
# Included by the install script with MODULE (the built tarnwick.py), STAGE
# (a folder of the build), PYTHON (may be empty), PYTHON_DIR (a folder
# under the prefix or an absolute one; empty: ask PYTHON), DEBIAN_PYTHON_DIR
# (set by cpack for the Debian package), LIBDIR (the
# library's folder under the prefix) and FINDER (cmake/python-site.py).
set(prefix "${CMAKE_INSTALL_PREFIX}")
set(searched TRUE)
if(PYTHON_DIR)
  get_filename_component(dir "${PYTHON_DIR}" ABSOLUTE BASE_DIR "${prefix}")
elseif(DEBIAN_PYTHON_DIR)
  # A Debian package: where Debian's python3 looks under /usr.
  set(dir "${prefix}/${DEBIAN_PYTHON_DIR}")
elseif(PYTHON)
  execute_process(COMMAND "${PYTHON}" "${FINDER}" "${prefix}" RESULT_VARIABLE failed
                  OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(failed)
    message(FATAL_ERROR "${PYTHON} could not say where it looks for modules under ${prefix}")
  endif()
  string(REPLACE "\n" ";" found "${found}")
  list(GET found 0 dir)
  list(GET found 1 answer)
  if(answer STREQUAL "not searched")
    set(searched FALSE)
  endif()
else()
  set(dir "${prefix}/lib/python3/dist-packages")
  set(searched FALSE)
endif()

file(RELATIVE_PATH library_dir "${dir}" "${prefix}/${LIBDIR}")
file(READ "${MODULE}" text)
string(REPLACE "\n_LIBRARY_DIR = None\n" "\n_LIBRARY_DIR = \"${library_dir}\"\n" text "${text}")
file(WRITE "${STAGE}/tarnwick.py" "${text}")
file(INSTALL DESTINATION "${dir}" TYPE FILE FILES "${STAGE}/tarnwick.py")
if(NOT searched)
  message(STATUS "The Python module is in ${dir}, where ${PYTHON} does not look for modules: "
                 "name that folder in PYTHONPATH")
endif()
