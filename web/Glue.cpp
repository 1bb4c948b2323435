// The page's way into the engine: converts the bytes the worker has placed
// in the module's memory and hands each piece of the document straight to
// the worker's script (pieces.js), so the document never has to fit in the
// module's memory whole.
#include <emscripten/emscripten.h>

#include "tarnwick.h"

extern "C" {
// Defined in pieces.js: passes bytes[0, size) on to the page; returns 0 to
// go on, anything else to stop the conversion.
int tarnwick_web_piece(const char* bytes, size_t size);
}

namespace {

int ToPage(void*, const char* bytes, size_t size) {
  return tarnwick_web_piece(bytes, size);
}

}  // namespace

extern "C" {

// Converts data[0, size) to `format` on the calling thread, the document
// going piece by piece to the page, and fills *error as tarnwick_convert
// does.
EMSCRIPTEN_KEEPALIVE int tarnwick_web_convert(const void* data, size_t size, int format,
                                              tarnwick_error* error) {
  return tarnwick_convert(data, size, format, 0, ToPage, nullptr, error);
}

// The size of the error record the worker allocates for the call above.
EMSCRIPTEN_KEEPALIVE size_t tarnwick_web_error_size() {
  return sizeof(tarnwick_error);
}

// The reason text in an error record.
EMSCRIPTEN_KEEPALIVE const char* tarnwick_web_reason(const tarnwick_error* error) {
  return error->reason;
}

}  // extern "C"
