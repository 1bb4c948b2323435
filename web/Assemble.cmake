# Makes tarnwick.html from the page's template: the version, the licence
# text, the formats and codes of tarnwick.h, and the engine's module script
# followed by the worker's script. Run with cmake -P and VERSION, TEMPLATE,
# ENGINE, WORKER, LICENSE, HEADER (include/tarnwick.h.in), CONSTANTS
# (cmake/Constants.cmake) and OUTPUT.
file(READ ${TEMPLATE} html)
file(READ ${ENGINE} engine)
file(READ ${WORKER} worker)
file(READ ${LICENSE} license)

# The scripts sit inside a <script> element, which the first "</script"
# would end early.
set(scripts "${engine}\n${worker}")
string(TOLOWER "${scripts}" lower)
string(FIND "${lower}" "</script" at)
if(NOT at EQUAL -1)
  message(FATAL_ERROR "the page's scripts contain \"</script\" at ${at}")
endif()

string(REPLACE "&" "&amp;" license "${license}")
string(REPLACE "<" "&lt;" license "${license}")
string(REPLACE ">" "&gt;" license "${license}")
include(${CONSTANTS})
tarnwick_read_constants(${HEADER} header)
tarnwick_javascript_object(formats ${header_FORMATS})
tarnwick_javascript_object(codes ${header_CODES})
string(REPLACE "@TARNWICK_FORMATS@" "${formats}" html "${html}")
string(REPLACE "@TARNWICK_CODES@" "${codes}" html "${html}")
string(REPLACE "@TARNWICK_VERSION@" "${VERSION}" html "${html}")
string(REPLACE "@TARNWICK_LICENSE@" "${license}" html "${html}")
string(REPLACE "@TARNWICK_WORKER@" "${scripts}" html "${html}")
file(WRITE ${OUTPUT} "${html}")
