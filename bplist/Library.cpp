// The C interface of libtarnwick: checks the arguments, runs the engine on
// the caller's buffer, and turns every way a conversion can end into a code
// and a reason, so that no exception leaves the library.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "bplist/Convert.h"
#include "bplist/Format.h"
#include "bplist/Values.h"
#include "tarnwick.h"

using namespace bplist;

namespace {

// Reasons for the codes whose cause the engine does not name.
constexpr const char* kUnconvertible =
    "an object cannot be written (a null top object, an unknown marker or a date out of range)";

// Records the outcome. Takes a view, so that reporting even exhausted memory
// allocates nothing.
int Finish(tarnwick_error* error, int code, std::string_view reason = "") {
  if (error != nullptr) {
    error->code = code;
    size_t n = std::min(reason.size(), size_t(TARNWICK_REASON_SIZE - 1));
    std::memcpy(error->reason, reason.data(), n);
    error->reason[n] = '\0';
  }
  return code;
}

// The engine's format for a format of the interface, and whether keyed
// archives are unarchived.
OutputFormat FormatOf(int format) {
  return format == TARNWICK_JSON || format == TARNWICK_KEYED_JSON ? OutputFormat::Json
                                                                  : OutputFormat::Xml;
}
bool Unarchives(int format) {
  return format == TARNWICK_KEYED_XML || format == TARNWICK_KEYED_JSON;
}

// The caller's write callback, as the writer's Sink calls it.
struct CallerWrite {
  tarnwick_write_fn write;
  void* context;
};

bool WriteToCaller(void* context, const char* bytes, size_t size) {
  const CallerWrite* caller = static_cast<const CallerWrite*>(context);
  return caller->write(caller->context, bytes, size) == 0;
}

// Any property list to a binary plist; the caller catches what it throws.
int ToBinary(const uint8_t* bytes, size_t size, OutputBuffer& out, tarnwick_error* error) {
  static const uint8_t kNothing = 0;
  BinaryResult r = ConvertToBinary(size != 0 ? bytes : &kNothing, size, out);
  if (r.notPlist) return Finish(error, TARNWICK_NOT_BPLIST, "not a property list");
  switch (r.result.outcome) {
    case Outcome::Converted:
      out.Flush();
      return Finish(error, TARNWICK_OK);
    case Outcome::TooLarge:
      return Finish(error, TARNWICK_TOO_LARGE, r.result.reason);
    case Outcome::Damaged:
    case Outcome::Failed:
      break;
  }
  return Finish(error, TARNWICK_DAMAGED, r.result.reason);
}

int Convert(const void* data, size_t size, int format, unsigned options, Sink sink,
            tarnwick_error* error) {
  if (data == nullptr && size != 0) return Finish(error, TARNWICK_BAD_ARGUMENT, "no data");
  if (format < TARNWICK_XML || format > TARNWICK_BINARY) {
    char text[32];
    std::snprintf(text, sizeof text, "unknown format %d", format);
    return Finish(error, TARNWICK_BAD_ARGUMENT, text);
  }
  // Bits a later version may give a meaning are refused, so that a program
  // built against its header learns that this library lacks the option.
  constexpr unsigned known = TARNWICK_ALL_THREADS | TARNWICK_TYPED_VALUES;
  if ((options & ~known) != 0) {
    char text[32];
    std::snprintf(text, sizeof text, "unknown options 0x%x", options & ~known);
    return Finish(error, TARNWICK_BAD_ARGUMENT, text);
  }
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  bool binary = format == TARNWICK_BINARY;
  if (!binary && (size < kSignatureSize || std::memcmp(bytes, kSignature, kSignatureSize) != 0))
    return Finish(error, TARNWICK_NOT_BPLIST, "not a binary plist");
  try {
    OutputBuffer out(sink, size);
    if (binary) return ToBinary(bytes, size, out, error);
    Parallelism parallel = (options & TARNWICK_ALL_THREADS) != 0 ? ForThisMachine() : Parallelism();
    ConvertResult r = ConvertBuffer(bytes, size, out, parallel, Limits(), FormatOf(format),
                                    Unarchives(format), (options & TARNWICK_TYPED_VALUES) != 0);
    switch (r.outcome) {
      case Outcome::Converted:
        out.Flush();
        return Finish(error, TARNWICK_OK);
      case Outcome::Damaged:
        return Finish(error, TARNWICK_DAMAGED, r.reason);
      case Outcome::TooLarge:
        return Finish(error, TARNWICK_TOO_LARGE, r.reason);
      case Outcome::Failed:
        break;
    }
    return Finish(error, TARNWICK_UNCONVERTIBLE, kUnconvertible);
  } catch (const OutputRefused&) {
    return Finish(error, TARNWICK_OUTPUT_REFUSED, "the write callback refused the output");
  } catch (const std::bad_alloc&) {
    return Finish(error, TARNWICK_OUT_OF_MEMORY, "out of memory");
  } catch (const std::length_error&) {
    return Finish(error, TARNWICK_OUT_OF_MEMORY, "out of memory");
  } catch (...) {
    return Finish(error, TARNWICK_INTERNAL_ERROR, "internal error");
  }
}

// A growing document in memory from std::malloc, for tarnwick_free.
struct Buffer {
  char* bytes = nullptr;
  size_t used = 0;
  size_t capacity = 0;
  bool outOfMemory = false;
};

bool Append(void* context, const char* bytes, size_t size) {
  Buffer* b = static_cast<Buffer*>(context);
  if (size >= b->capacity - b->used) {  // keeps room for the closing zero
    char* grown = nullptr;
    if (size < SIZE_MAX - b->used) {
      size_t want = b->used + size + 1;
      size_t doubled = b->capacity <= SIZE_MAX / 2 ? b->capacity * 2 : want;
      size_t capacity = doubled > want ? doubled : want;
      grown = static_cast<char*>(std::realloc(b->bytes, capacity));
      if (grown != nullptr) b->capacity = capacity;
    }
    if (grown == nullptr) {
      b->outOfMemory = true;
      return false;
    }
    b->bytes = grown;
  }
  std::memcpy(b->bytes + b->used, bytes, size);
  b->used += size;
  return true;
}

}  // namespace

extern "C" {

int tarnwick_convert(const void* data, size_t size, int format, unsigned options,
                     tarnwick_write_fn write, void* context, tarnwick_error* error) {
  if (write == nullptr) return Finish(error, TARNWICK_BAD_ARGUMENT, "no write callback");
  CallerWrite caller{write, context};
  return Convert(data, size, format, options, Sink{WriteToCaller, &caller}, error);
}

int tarnwick_convert_to_buffer(const void* data, size_t size, int format, unsigned options,
                               char** document, size_t* length, tarnwick_error* error) {
  // Either place given is set, even when the other is missing.
  if (document != nullptr) *document = nullptr;
  if (length != nullptr) *length = 0;
  if (document == nullptr || length == nullptr)
    return Finish(error, TARNWICK_BAD_ARGUMENT, "no place for the document");
  Buffer b;
  int code = Convert(data, size, format, options, Sink{Append, &b}, error);
  if (code == TARNWICK_OK && b.bytes == nullptr && !Append(&b, "", 0)) b.outOfMemory = true;
  if (b.outOfMemory) code = Finish(error, TARNWICK_OUT_OF_MEMORY, "out of memory");
  if (code != TARNWICK_OK) {
    std::free(b.bytes);
    return code;
  }
  b.bytes[b.used] = '\0';
  *document = b.bytes;
  *length = b.used;
  return code;
}

void tarnwick_free(void* document) {
  std::free(document);
}

const char* tarnwick_version(void) {
  return TARNWICK_VERSION_STRING;
}

}  // extern "C"
