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
template <OutputFormat F>
bool GetNull(Context& c, Role role);

// The writers, one per type code; o is the object's marker position. The
// keyed view calls the three without a format.
template <OutputFormat F>
bool GetDict(Context& c, uint64_t o);
bool GetDict(Context& c, uint64_t o);
template <OutputFormat F>
bool GetArray(Context& c, uint64_t o);
template <OutputFormat F>
bool GetStr(Context& c, uint64_t o, bool AsKey);
template <OutputFormat F>
bool GetUnicode(Context& c, uint64_t o, bool AsKey);
template <OutputFormat F>
bool GetUID(Context& c, uint64_t o, bool AsKey);
bool GetUID(Context& c, uint64_t o, bool AsKey);
template <OutputFormat F>
bool GetBool(Context& c, uint64_t o, bool AsKey);
template <OutputFormat F>
bool GetDate(Context& c, uint64_t o, bool AsKey);
template <OutputFormat F>
bool GetData(Context& c, uint64_t o, bool AsKey);
bool GetData(Context& c, uint64_t o, bool AsKey);
template <OutputFormat F>
bool GetInt(Context& c, uint64_t o, bool AsKey);
template <OutputFormat F>
bool GetReal(Context& c, uint64_t o, bool AsKey);

// Writes the key of the object at o when it is a short string that needs no
// escaping, the usual key; returns false, writing nothing, for any other
// object.
template <OutputFormat F>
bool TryPlainKey(Context& c, uint64_t o);

// The format seam of Place.h for one format (Layout.cpp, Scalars.cpp).
template <OutputFormat F>
void OpenDict(Context& c);
template <OutputFormat F>
void CloseDict(Context& c);
template <OutputFormat F>
void OpenArray(Context& c);
template <OutputFormat F>
void CloseArray(Context& c);
template <OutputFormat F>
void PutKey(Context& c, std::string_view utf8);
template <OutputFormat F>
void PutNull(Context& c);

// Room for a JSON separator: a comma and a line end.
constexpr size_t kJsonSeparator = 3;

// Writes `spaces` spaces of indentation at dst and returns their end.
inline char* Indent(char* dst, size_t spaces) {
  std::memset(dst, ' ', spaces);
  return dst + spaces;
}

// Starts a JSON value or key: its separator and indentation. Returns where
// its text goes, with room for `maxText` bytes and a line end.
inline char* BeginJsonText(Context& c, size_t maxText) {
  JsonPending pending = c.Pending;
  c.Pending = JsonPending::Comma;
  // Room for the text and the line end the document's last value gets.
  char* dst = c.Out.Reserve(kJsonSeparator + c.DictSpace + maxText + 2);
  if (pending == JsonPending::None) return dst;
  if (pending == JsonPending::Comma) *dst++ = ',';
  *dst++ = '\r';
  *dst++ = '\n';
  return Indent(dst, c.DictSpace);
}

// Starts the text of one value or key: in XML a line at the current
// indentation, in JSON what the value needs before it. Returns where the
// text goes, with room for `maxText` bytes.
template <OutputFormat F>
char* BeginText(Context& c, size_t maxText) {
  if constexpr (F == OutputFormat::Xml) {
    return c.Out.BeginLine(c.DictSpace, maxText);
  } else {
    return BeginJsonText(c, maxText);
  }
}

// Ends the text of a value begun with BeginText at `end`: the line end in
// XML; in JSON the separator comes with the next value.
template <OutputFormat F>
void EndText(Context& c, char* end) {
  if constexpr (F == OutputFormat::Xml) {
    c.Out.EndLine(end);
  } else {
    c.Out.CommitTo(end);
  }
}

// Ends the text of a key begun with BeginText at `end`: in JSON its value
// follows on the same line.
template <OutputFormat F>
void EndKey(Context& c, char* end) {
  if constexpr (F == OutputFormat::Xml) {
    c.Out.EndLine(end);
  } else {
    c.Out.CommitTo(end);
    c.Pending = JsonPending::None;
  }
}

// Writes one line of a container: the indentation, then `text`.
template <OutputFormat F>
void Line(Context& c, std::string_view text) {
  char* dst = BeginText<F>(c, text.size());
  std::memcpy(dst, text.data(), text.size());
  EndText<F>(c, dst + text.size());
}

}  // namespace bplist
