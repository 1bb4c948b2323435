// The document's place: its format, the indentation and, in JSON, what the
// next value needs before it; and the format seam, which writes values in
// the document's format at its place. A batch, a nested archive and an
// entry left out of the document copy the place and put it back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace bplist {

// The document a conversion writes. Both come from one walk of the file;
// the format decides only the texts around values.
enum class OutputFormat {
  Xml,   // an XML property list
  Json,  // a JSON document
};

// What a JSON document needs before the next value, which depends on what
// came before it in its container.
enum class JsonPending : uint8_t {
  None,     // nothing: the top value, or a value right after its key
  Newline,  // a new line: the first value of a container
  Comma,    // a comma and a new line: a value after another one
};

// Where the document stands.
struct Place {
  OutputFormat Format = OutputFormat::Xml;
  // Current indentation in spaces; grows by four per open container in XML,
  // by two in JSON.
  size_t DictSpace = 0;
  // JSON only: what the next value needs before it.
  JsonPending Pending = JsonPending::None;
};

struct Context;

// The format seam: values that are not objects of the file, written in the
// document's format, with separators and indentation as for the file's
// objects; calls may be mixed with WriteObject in one container.

// Opens and closes a dictionary or an array.
void OpenDict(Context& c);
void CloseDict(Context& c);
void OpenArray(Context& c);
void CloseArray(Context& c);
// A dictionary key, or a string value, from UTF-8 text (text that is not
// valid UTF-8 is taken as Latin-1, as for the file's strings).
void PutKey(Context& c, std::string_view utf8);
void PutString(Context& c, std::string_view utf8);
// A date value or key, seconds since 2001-01-01T00:00:00Z. Returns false
// (the object fails) for a value outside years 0000 to 9999.
bool PutDate(Context& c, double secondsSince2001, bool AsKey = false);
// An integer value, and an 8-byte real value written as the file's are.
void PutInteger(Context& c, int64_t value);
void PutReal(Context& c, double value);
// JSON null; XML writes nothing.
void PutNull(Context& c);
// The number of containers open around the next value of the document.
size_t DocumentDepth(const Context& c);

}  // namespace bplist
