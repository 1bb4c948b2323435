# The constants of include/tarnwick.h.in that the Python module and the
# browser page restate, read from the header so that it stays their one
# source: the members of its two enumerations (formats and codes) and the
# numbers it #defines (option bits, the reason's size).
#
# tarnwick_read_constants(HEADER PREFIX) sets PREFIX_FORMATS, PREFIX_CODES
# and PREFIX_DEFINES to lists of NAME=VALUE, the names without TARNWICK_.
function(tarnwick_read_constants header prefix)
  file(READ "${header}" text)
  foreach(kind format code)
    string(REGEX MATCH "typedef enum tarnwick_${kind} {[^}]*}" block "${text}")
    string(REGEX MATCHALL "TARNWICK_[A-Z0-9_]+ = [0-9]+" members "${block}")
    if(NOT members)
      message(FATAL_ERROR "${header} has no enum tarnwick_${kind} with members")
    endif()
    string(REGEX REPLACE "TARNWICK_([A-Z0-9_]+) = ([0-9]+)" "\\1=\\2" members "${members}")
    string(TOUPPER ${kind} kind)
    set(${prefix}_${kind}S "${members}" PARENT_SCOPE)
  endforeach()
  string(REGEX MATCHALL "#define TARNWICK_[A-Z0-9_]+ [0-9]+" defines "${text}")
  string(REGEX REPLACE "#define TARNWICK_([A-Z0-9_]+) ([0-9]+)" "\\1=\\2" defines "${defines}")
  set(${prefix}_DEFINES "${defines}" PARENT_SCOPE)
endfunction()

# Sets `out` to lines "PREFIXNAME = VALUE" (Python) for the NAME=VALUE list.
function(tarnwick_python_lines out prefix)
  set(lines "")
  foreach(pair ${ARGN})
    string(REPLACE "=" " = " pair "${pair}")
    string(APPEND lines "${prefix}${pair}\n")
  endforeach()
  set(${out} "${lines}" PARENT_SCOPE)
endfunction()

# Sets `out` to a JavaScript object literal {NAME: VALUE, ...}.
function(tarnwick_javascript_object out)
  set(fields "")
  foreach(pair ${ARGN})
    string(REPLACE "=" ": " pair "${pair}")
    list(APPEND fields "${pair}")
  endforeach()
  list(JOIN fields ", " fields)
  set(${out} "Object.freeze({${fields}})" PARENT_SCOPE)
endfunction()
