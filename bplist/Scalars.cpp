// The scalar writers: one line per object (four for a UID value), as an
// element or, for a dictionary key, as a key line.
#include <cmath>
#include <cstring>

#include "bplist/Texts.h"
#include "bplist/Writers.h"

namespace bplist {

namespace {

// A tag literal padded to 16 bytes, so that it is copied with one
// fixed-size move.
struct Literal {
  char text[16];
  size_t size;
  constexpr Literal(const char* s) : text(), size(0) {
    while (s[size] != '\0') {
      text[size] = s[size];
      ++size;
    }
  }
  operator std::string_view() const { return {text, size}; }
};

// Opening and closing literals of a value or a key, for each format
// (indexed by OutputFormat).
struct Tags {
  Literal open, close;
};
using FormatTags = Tags[2];
constexpr FormatTags kKeyTags{{"    <key>", "</key>"}, {"\"", "\": "}};
constexpr FormatTags kStringTags{{"    <string>", "</string>"}, {"\"", "\""}};
constexpr FormatTags kIntegerTags{{"    <integer>", "</integer>"}, {"", ""}};
constexpr FormatTags kRealTags{{"    <real>", "</real>"}, {"", ""}};
constexpr FormatTags kDateTags{{"    <date>", "</date>"}, {"\"", "\""}};
constexpr FormatTags kDataTags{{"    <data>", "</data>"}, {"\"", "\""}};
constexpr FormatTags kTrueTags{{"    <true/>", ""}, {"true", ""}};
constexpr FormatTags kFalseTags{{"    <false/>", ""}, {"false", ""}};
constexpr FormatTags kUidTags{{"", ""}, {"{\"CF$UID\": ", "}"}};
constexpr FormatTags kNullTags{{"", ""}, {"null", ""}};
// The tagged objects of a typed JSON document (TARNWICK_TYPED_VALUES): one
// member named by an escaped lone surrogate, which no string of the document
// holds, and a letter for the kind. The XML entries are never used.
constexpr FormatTags kTypedDateTags{{"", ""}, {"{\"\\udc00d\": ", "}"}};
constexpr FormatTags kTypedDataTags{{"", ""}, {"{\"\\udc00b\": \"", "\"}"}};
constexpr FormatTags kTypedUidTags{{"", ""}, {"{\"\\udc00u\": ", "}"}};
constexpr FormatTags kTypedRealTags{{"", ""}, {"{\"\\udc00r\": ", "}"}};
// Room for an opening and a closing literal, each copied whole.
constexpr size_t kMaxTags = 2 * sizeof(Literal::text);
// Strings up to this long that need no escaping are written in one piece.
constexpr uint64_t kShortText = 4096;

char* Copy(char* dst, std::string_view text) {
  std::memcpy(dst, text.data(), text.size());
  return dst + text.size();
}
char* Copy(char* dst, const Literal& literal) {
  std::memcpy(dst, literal.text, sizeof literal.text);
  return dst + literal.size;
}

// The literals of a value or, for a key, of a key, in format F.
template <OutputFormat F>
const Tags& TagsFor(bool AsKey, const FormatTags& element) {
  return (AsKey ? kKeyTags : element)[int(F)];
}

// The size of the XML line of a value, or of a key, holding `text` bytes
// at the current place of a JSON document (CountAsXml).
uint64_t XmlSize(const Context& c, bool AsKey, const FormatTags& element, uint64_t text) {
  const Tags& t = TagsFor<OutputFormat::Xml>(AsKey, element);
  return XmlLineSize(c, t.open.size + text + t.close.size);
}

// Ends a value's or key's text at `end`.
template <OutputFormat F>
void EndAs(Context& c, bool AsKey, char* end) {
  if (AsKey) {
    EndKey<F>(c, end);
  } else {
    EndText<F>(c, end);
  }
}

// Writes a whole value or key holding `text`, short enough for one
// reservation: the most frequent writer. `xmlBytes` is the size of the XML
// text in its place, which JSON counts as its work (CountAsXml); XML
// ignores it.
template <OutputFormat F>
void ShortLine(Context& c, bool AsKey, const FormatTags& element, std::string_view text,
               uint64_t xmlBytes) {
  const Tags& t = TagsFor<F>(AsKey, element);
  uint64_t before = c.Out.Written();
  char* dst = BeginText<F>(c, kMaxTags + text.size());
  dst = Copy(dst, t.open);
  dst = Copy(dst, text);
  dst = Copy(dst, t.close);
  EndAs<F>(c, AsKey, dst);
  if constexpr (F == OutputFormat::Json) CountAsXml(c, before, xmlBytes);
}

// ShortLine for a text that XML writes the same way between its tags.
template <OutputFormat F>
void SameLine(Context& c, bool AsKey, const FormatTags& element, std::string_view text) {
  uint64_t xmlBytes = 0;
  if constexpr (F == OutputFormat::Json) xmlBytes = XmlSize(c, AsKey, element, text.size());
  ShortLine<F>(c, AsKey, element, text, xmlBytes);
}

// For texts of any length: the indentation and opening literal, then the
// closing literal and line end once the caller has written the text.
template <OutputFormat F>
void OpenLine(Context& c, bool AsKey, const FormatTags& element) {
  char* dst = BeginText<F>(c, sizeof(Literal::text));
  c.Out.CommitTo(Copy(dst, TagsFor<F>(AsKey, element).open));
}
template <OutputFormat F>
void CloseLine(Context& c, bool AsKey, const FormatTags& element) {
  char* dst = c.Out.Reserve(sizeof(Literal::text) + 2);
  EndAs<F>(c, AsKey, Copy(dst, TagsFor<F>(AsKey, element).close));
}

// The size of the XML line of an 8-bit string in a JSON document.
uint64_t XmlSize8(const Context& c, bool AsKey, const uint8_t* text, uint64_t count) {
  return XmlSize(c, AsKey, kStringTags, XmlTextSize8(text, count));
}

// Whether format F writes text unchanged; JSON also gives the size of its
// XML text in *xmlText, leaving it alone otherwise.
template <OutputFormat F>
bool IsPlain(const uint8_t* text, uint64_t count, uint64_t* xmlText) {
  if constexpr (F == OutputFormat::Xml) {
    return PlainPrefix(text, count) == count;
  } else {
    return JsonPlainPrefixAndXmlSize(text, count, xmlText) == count;
  }
}

// Writes a string or key that needs no escaping in one piece, whose XML
// text has `xmlText` bytes.
template <OutputFormat F>
void PlainText8(Context& c, const uint8_t* text, uint64_t count, bool AsKey, uint64_t xmlText) {
  uint64_t xmlBytes = 0;
  if constexpr (F == OutputFormat::Json) xmlBytes = XmlSize(c, AsKey, kStringTags, xmlText);
  ShortLine<F>(c, AsKey, kStringTags, std::string_view(reinterpret_cast<const char*>(text), count),
               xmlBytes);
}

// Writes 8-bit text as a string value or a key.
template <OutputFormat F>
void PutText8(Context& c, const uint8_t* text, uint64_t count, bool AsKey) {
  uint64_t xmlText = count;
  if (count <= kShortText && IsPlain<F>(text, count, &xmlText))
    return PlainText8<F>(c, text, count, AsKey, xmlText);
  uint64_t before = c.Out.Written();
  OpenLine<F>(c, AsKey, kStringTags);
  if constexpr (F == OutputFormat::Json) {
    PutJsonEscaped8(c.Out, text, count);
  } else {
    PutEscaped8(c.Out, text, count);
  }
  CloseLine<F>(c, AsKey, kStringTags);
  if constexpr (F == OutputFormat::Json) CountAsXml(c, before, XmlSize8(c, AsKey, text, count));
}

// Finds the characters of a string or data object: count units of
// `unitSize` bytes from *start on. Returns false (damaged) when they run past
// the end.
bool GetPayload(Context& c, uint64_t o, unsigned unitSize, uint64_t* count, uint64_t* start) {
  if (!GetCount(c, o, count, start)) return false;
  if (*count > (c.End - *start) / unitSize)
    return Damaged(c, "a string or data object runs past the end of the object data");
  return true;
}

// Finds the 2^n value bytes of a number whose marker's low nibble is n.
bool GetValueBytes(Context& c, uint64_t o, uint64_t* width) {
  *width = uint64_t(1) << (c.Binary[o] & 0x0F);
  if (!Inside(c, o + 1, *width)) return Damaged(c, "a value runs past the end of the object data");
  return true;
}

// Whether a value is written as a tagged object of a typed JSON document.
bool Tagged(const Context& c, bool AsKey) {
  return c.Typed && !AsKey;
}

// Writes a JSON date value, which keeps the fraction of a second. A typed
// document holds the seconds themselves, for the same dates alone.
bool PutJsonDate(Context& c, double seconds) {
  std::string text;
  if (!JsonDateText(seconds, &text)) return false;
  // XML writes the same text without the fraction, unless a fraction
  // vanished: it may have rounded up into the next second, whose year
  // may be longer.
  size_t point = text.find('.');
  uint64_t xml = point == std::string::npos ? text.size() : point + 1;
  std::string whole;
  if (point == std::string::npos && seconds != std::floor(seconds) && DateText(seconds, &whole))
    xml = whole.size();
  uint64_t xmlBytes = XmlSize(c, false, kDateTags, xml);
  if (Tagged(c, false)) {
    uint64_t bits;
    std::memcpy(&bits, &seconds, sizeof bits);
    ShortLine<OutputFormat::Json>(c, false, kTypedDateTags, JsonRealText(bits), xmlBytes);
    return true;
  }
  ShortLine<OutputFormat::Json>(c, false, kDateTags, text, xmlBytes);
  return true;
}

// Writes a date value or key.
template <OutputFormat F>
bool PutDateAs(Context& c, double seconds, bool AsKey) {
  if (F == OutputFormat::Json && !AsKey) return PutJsonDate(c, seconds);
  // Kept for the thread's next date: a date's text is longer than a string
  // holds without memory of its own.
  thread_local std::string text;
  if (!DateText(seconds, &text)) return false;
  SameLine<F>(c, AsKey, kDateTags, text);
  return true;
}

}  // namespace

template <OutputFormat F>
bool TryPlainKey(Context& c, uint64_t o) {
  uint8_t marker = c.Binary[o];
  uint64_t count = marker & 0x0F;
  const uint8_t* text = c.Binary + o + 1;
  PlainKey& known = c.PlainKeys[(o * 0x9E3779B97F4A7C15u) >> (64 - kPlainKeyBits)];
  if (known.at != o) {
    if (marker >> 4 != kNibbleString || count == kExtendedCount || !Inside(c, o + 1, count))
      return false;
    uint64_t xmlText = count;
    if (!IsPlain<F>(text, count, &xmlText)) return false;
    known = {o, xmlText};
  }
  PlainText8<F>(c, text, count, true, known.xmlText);
  return true;
}

template <OutputFormat F>
bool GetStr(Context& c, uint64_t o, bool AsKey) {
  uint64_t count, start;
  if (!GetPayload(c, o, 1, &count, &start)) return false;
  PutText8<F>(c, c.Binary + start, count, AsKey);
  return true;
}

template <OutputFormat F>
bool GetUnicode(Context& c, uint64_t o, bool AsKey) {
  uint64_t count, start;
  if (!GetPayload(c, o, 2, &count, &start)) return false;
  uint64_t before = c.Out.Written();
  OpenLine<F>(c, AsKey, kStringTags);
  if constexpr (F == OutputFormat::Json) {
    PutJsonEscaped16(c.Out, c.Binary + start, count);
    CloseLine<F>(c, AsKey, kStringTags);
    CountAsXml(c, before, XmlSize(c, AsKey, kStringTags, XmlTextSize16(c.Binary + start, count)));
  } else {
    PutEscaped16(c.Out, c.Binary + start, count);
    CloseLine<F>(c, AsKey, kStringTags);
  }
  return true;
}

template <OutputFormat F>
bool GetUID(Context& c, uint64_t o, bool AsKey) {
  uint64_t width = (c.Binary[o] & 0x0F) + 1;
  if (!Inside(c, o + 1, width)) return Damaged(c, "a value runs past the end of the object data");
  std::string text = UidText(c.Binary + o + 1, width);
  // XML's conventional form: a dictionary holding "CF$UID" and the number,
  // indented as a nested dictionary would be.
  static constexpr std::string_view kXmlUid[] = {"<dict>", "    <key>CF$UID</key>",
                                                 "    <integer></integer>", "</dict>"};
  if (AsKey) {
    SameLine<F>(c, AsKey, kUidTags, text);
    return true;
  }
  if constexpr (F == OutputFormat::Json) {
    uint64_t xml = text.size();
    for (std::string_view line : kXmlUid) xml += XmlLineSize(c, 4 + line.size());
    ShortLine<F>(c, AsKey, Tagged(c, AsKey) ? kTypedUidTags : kUidTags, text, xml);
  } else {
    c.DictSpace += 4;
    Line<F>(c, kXmlUid[0]);
    Line<F>(c, kXmlUid[1]);
    SameLine<F>(c, false, kIntegerTags, text);
    Line<F>(c, kXmlUid[3]);
    c.DictSpace -= 4;
  }
  return true;
}

template <OutputFormat F>
bool GetBool(Context& c, uint64_t o, bool AsKey) {
  bool value = c.Binary[o] == kMarkerTrue;
  // XML has no key text for a boolean and writes its element; a JSON key is
  // always a string, here "true" or "false".
  const FormatTags& element = value ? kTrueTags : kFalseTags;
  if (F == OutputFormat::Json && AsKey) {
    ShortLine<F>(c, true, kStringTags, value ? "true" : "false", XmlSize(c, false, element, 0));
    return true;
  }
  SameLine<F>(c, false, element, "");
  return true;
}

template <OutputFormat F>
bool GetNull(Context& c, Role role) {
  if (role == Role::Top) return false;  // a document cannot consist of nothing
  if (role != Role::Key) PutNull<F>(c);
  return true;
}

template <OutputFormat F>
void PutKey(Context& c, std::string_view utf8) {
  PutText8<F>(c, reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(), true);
}

template <OutputFormat F>
void PutNull(Context& c) {
  if constexpr (F == OutputFormat::Json) ShortLine<F>(c, false, kNullTags, "", 0);  // none in XML
}

template <OutputFormat F>
bool GetDate(Context& c, uint64_t o, bool AsKey) {
  if (!Inside(c, o + 1, kDateSize))
    return Damaged(c, "a date runs past the end of the object data");
  uint64_t bits = ReadBigEndian(c.Binary + o + 1, 8);
  double seconds;
  std::memcpy(&seconds, &bits, sizeof seconds);
  return PutDateAs<F>(c, seconds, AsKey);
}

template <OutputFormat F>
bool GetData(Context& c, uint64_t o, bool AsKey) {
  uint64_t count, start;
  if (!GetPayload(c, o, 1, &count, &start)) return false;
  uint64_t before = c.Out.Written();
  const FormatTags& tags = Tagged(c, AsKey) ? kTypedDataTags : kDataTags;
  OpenLine<F>(c, AsKey, tags);
  PutBase64(c.Out, c.Binary + start, count);
  CloseLine<F>(c, AsKey, tags);
  if constexpr (F == OutputFormat::Json)
    CountAsXml(c, before, XmlSize(c, AsKey, kDataTags, (count + 2) / 3 * 4));
  return true;
}

template <OutputFormat F>
bool GetInt(Context& c, uint64_t o, bool AsKey) {
  uint64_t width;
  if (!GetValueBytes(c, o, &width)) return false;
  char digits[kMaxIntegerText];
  char* end = PutIntegerText(digits, c.Binary + o + 1, width);
  SameLine<F>(c, AsKey, kIntegerTags, std::string_view(digits, size_t(end - digits)));
  return true;
}

namespace {

// The XML text of a real's value bytes p[0, width): sizes other than 4 and
// 8 bytes are not decoded; a 4-byte real is written as its value widened to
// a double, whose bits go to *wide. At most a few hundred characters: the
// largest double has 309 digits, the smallest about 340 after the point.
std::string XmlRealText(const uint8_t* p, uint64_t width, uint64_t* wide) {
  if (width == 8) return BinaryToReal(ReadBigEndian(p, 8));
  if (width != 4) return "0";
  uint32_t bits = uint32_t(ReadBigEndian(p, 4));
  float single;
  std::memcpy(&single, &bits, sizeof single);
  double widened = single;
  std::memcpy(wide, &widened, sizeof *wide);
  return BinaryToReal(*wide);
}

// Writes a JSON real value, which keeps the exact value. A typed document
// holds the double a 4-byte value widens to, and tags the texts of the reals
// that are not finite, which are strings.
void PutJsonReal(Context& c, const uint8_t* p, uint64_t width, uint64_t wide, size_t xmlSize) {
  bool typed = Tagged(c, false);
  std::string text = width == 8   ? JsonRealText(ReadBigEndian(p, 8))
                     : width != 4 ? "0.0"
                     : typed      ? JsonRealText(wide)
                                  : JsonFloatText(uint32_t(ReadBigEndian(p, 4)));
  bool named = typed && text[0] == '"';
  ShortLine<OutputFormat::Json>(c, false, named ? kTypedRealTags : kRealTags, text,
                                XmlSize(c, false, kRealTags, xmlSize));
}

// Writes a real value or key from its value bytes p[0, width).
template <OutputFormat F>
void PutRealBytes(Context& c, const uint8_t* p, uint64_t width, bool AsKey) {
  uint64_t wide = 0;
  std::string xml = XmlRealText(p, width, &wide);
  // JSON values keep the exact value; keys, like XML, take the XML text.
  if (F == OutputFormat::Json && !AsKey) {
    PutJsonReal(c, p, width, wide, xml.size());
  } else {
    SameLine<F>(c, AsKey, kRealTags, xml);
  }
}

}  // namespace

template <OutputFormat F>
bool GetReal(Context& c, uint64_t o, bool AsKey) {
  uint64_t width;
  if (!GetValueBytes(c, o, &width)) return false;
  PutRealBytes<F>(c, c.Binary + o + 1, width, AsKey);
  return true;
}

// The format seam's scalars, entered from code that is not templated on the
// format.

bool GetUID(Context& c, uint64_t o, bool AsKey) {
  return InFormat(c, [&](auto f) { return GetUID<decltype(f)::value>(c, o, AsKey); });
}

bool GetData(Context& c, uint64_t o, bool AsKey) {
  return InFormat(c, [&](auto f) { return GetData<decltype(f)::value>(c, o, AsKey); });
}

void PutKey(Context& c, std::string_view utf8) {
  InFormat(c, [&](auto f) { PutKey<decltype(f)::value>(c, utf8); });
}

void PutString(Context& c, std::string_view utf8) {
  auto text = reinterpret_cast<const uint8_t*>(utf8.data());
  InFormat(c, [&](auto f) { PutText8<decltype(f)::value>(c, text, utf8.size(), false); });
}

void PutInteger(Context& c, int64_t value) {
  InFormat(c, [&](auto f) {
    SameLine<decltype(f)::value>(c, false, kIntegerTags, std::to_string(value));
  });
}

void PutReal(Context& c, double value) {
  // Written as an 8-byte real of the file would be.
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  uint8_t bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = uint8_t(bits >> (56 - 8 * i));
  InFormat(c, [&](auto f) { PutRealBytes<decltype(f)::value>(c, bytes, 8, false); });
}

void PutNull(Context& c) {
  InFormat(c, [&](auto f) { PutNull<decltype(f)::value>(c); });
}

bool PutDate(Context& c, double seconds, bool AsKey) {
  return InFormat(c, [&](auto f) { return PutDateAs<decltype(f)::value>(c, seconds, AsKey); });
}

// The writers for both formats.
#define TARNWICK_SCALAR_WRITERS(F)                       \
  template bool TryPlainKey<F>(Context&, uint64_t);      \
  template bool GetStr<F>(Context&, uint64_t, bool);     \
  template bool GetUnicode<F>(Context&, uint64_t, bool); \
  template bool GetUID<F>(Context&, uint64_t, bool);     \
  template bool GetBool<F>(Context&, uint64_t, bool);    \
  template bool GetNull<F>(Context&, Role);              \
  template void PutKey<F>(Context&, std::string_view);   \
  template void PutNull<F>(Context&);                    \
  template bool GetDate<F>(Context&, uint64_t, bool);    \
  template bool GetData<F>(Context&, uint64_t, bool);    \
  template bool GetInt<F>(Context&, uint64_t, bool);     \
  template bool GetReal<F>(Context&, uint64_t, bool);
TARNWICK_SCALAR_WRITERS(OutputFormat::Xml)
TARNWICK_SCALAR_WRITERS(OutputFormat::Json)
#undef TARNWICK_SCALAR_WRITERS

}  // namespace bplist
