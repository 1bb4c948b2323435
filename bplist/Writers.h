// The object writers, one per type code, and the inline helpers they share
// to begin and end the text of a value in the document's format. Internal
// to the engine.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "bplist/Walk.h"

namespace bplist {

// A JSON document counts for the work the bytes the XML document has in its
// place, so that every format meets the budget at the same place and a file
// has one outcome whatever the format. Each JSON writer calls this after its
// text with where the output stood before it and the size of the XML text
// for the same object; the difference goes into Work (modulo 2^64: JSON
// text is sometimes the longer, but the sum stays the XML size).
inline void CountAsXml(Context& c, uint64_t before, uint64_t xmlBytes) {
  c.Work += xmlBytes - (c.Out.Written() - before);
}

// The size of an XML line holding `text` bytes at the current place of a
// JSON document: XML indents by four spaces a level where JSON indents by two.
inline uint64_t XmlLineSize(const Context& c, uint64_t text) {
  return 2 * uint64_t(c.DictSpace) + text + 2;
}

// Writes null where a null object stands inside a container: `null` in
// JSON, nothing in XML.
bool GetNull(Context& c, Role role);

// The writers, one per type code; o is the object's marker position.
bool GetDict(Context& c, uint64_t o);
bool GetArray(Context& c, uint64_t o);
bool GetStr(Context& c, uint64_t o, bool AsKey);
bool GetUnicode(Context& c, uint64_t o, bool AsKey);
bool GetUID(Context& c, uint64_t o, bool AsKey);
bool GetBool(Context& c, uint64_t o, bool AsKey);
bool GetDate(Context& c, uint64_t o, bool AsKey);
bool GetData(Context& c, uint64_t o, bool AsKey);
bool GetInt(Context& c, uint64_t o, bool AsKey);
bool GetReal(Context& c, uint64_t o, bool AsKey);

// Writes the key of the object at o when it is a short string that needs no
// escaping, the usual key; returns false, writing nothing, for any other
// object.
bool TryPlainKey(Context& c, uint64_t o);

// Starts a JSON value or key: its separator and indentation. Returns where
// its text goes, with room for `maxText` bytes and a line end.
char* BeginJsonText(Context& c, size_t maxText);

// Starts the text of one value or key: in XML a line at the current
// indentation, in JSON what the value needs before it. Returns where the
// text goes, with room for `maxText` bytes.
inline char* BeginText(Context& c, size_t maxText) {
  if (c.Format == OutputFormat::Xml) return c.Out.BeginLine(c.DictSpace, maxText);
  return BeginJsonText(c, maxText);
}

// Ends the text of a value begun with BeginText at `end`: the line end in
// XML; in JSON the separator comes with the next value.
inline void EndText(Context& c, char* end) {
  if (c.Format == OutputFormat::Xml) {
    c.Out.EndLine(end);
  } else {
    c.Out.CommitTo(end);
  }
}

// Ends the text of a key begun with BeginText at `end`: in JSON its value
// follows on the same line.
inline void EndKey(Context& c, char* end) {
  if (c.Format == OutputFormat::Xml) {
    c.Out.EndLine(end);
  } else {
    c.Out.CommitTo(end);
    c.Pending = JsonPending::None;
  }
}

// Writes one line of a container: the indentation, then `text`.
inline void Line(Context& c, std::string_view text) {
  char* dst = BeginText(c, text.size());
  std::memcpy(dst, text.data(), text.size());
  EndText(c, dst + text.size());
}

}  // namespace bplist
