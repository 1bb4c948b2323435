// The scalar writers: one line per object (four for a UID value), as an
// element or, for a dictionary key, as a key line.
#include <cmath>
#include <cstring>

#include "bplist/Context.h"
#include "bplist/Texts.h"

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

// The literals of a value or, for a key, of a key, in the document's format.
const Tags& TagsFor(const Context& c, bool AsKey, const FormatTags& element) {
  return (AsKey ? kKeyTags : element)[int(c.Format)];
}

// The size of the XML line of a value, or of a key, holding `text` bytes
// at the current place of a JSON document (CountAsXml).
uint64_t XmlSize(const Context& c, bool AsKey, const FormatTags& element, uint64_t text) {
  const Tags& t = (AsKey ? kKeyTags : element)[int(OutputFormat::Xml)];
  return XmlLineSize(c, t.open.size + text + t.close.size);
}

// Ends a value's or key's text at `end`.
void EndAs(Context& c, bool AsKey, char* end) {
  if (AsKey) {
    EndKey(c, end);
  } else {
    EndText(c, end);
  }
}

// ShortLine for one format, decided at compile time: the most frequent
// writer, kept free of the format's tests.
template <OutputFormat Format>
void ShortLineIn(Context& c, bool AsKey, const FormatTags& element, std::string_view text,
                 uint64_t xmlBytes) {
  const Tags& t = (AsKey ? kKeyTags : element)[int(Format)];
  uint64_t before = c.Out.Written();
  size_t room = kMaxTags + text.size();
  char* dst =
      Format == OutputFormat::Xml ? c.Out.BeginLine(c.DictSpace, room) : BeginJsonText(c, room);
  dst = Copy(dst, t.open);
  dst = Copy(dst, text);
  dst = Copy(dst, t.close);
  if constexpr (Format == OutputFormat::Xml) {
    c.Out.EndLine(dst);
  } else {
    c.Out.CommitTo(dst);
    if (AsKey) c.Pending = JsonPending::None;
    CountAsXml(c, before, xmlBytes);
  }
}

// Writes a whole value or key holding `text`, short enough for one
// reservation. `xmlBytes` is the size of the XML text in its place, which
// JSON counts as its work (CountAsXml).
void ShortLine(Context& c, bool AsKey, const FormatTags& element, std::string_view text,
               uint64_t xmlBytes) {
  if (c.Format == OutputFormat::Xml) {
    ShortLineIn<OutputFormat::Xml>(c, AsKey, element, text, xmlBytes);
  } else {
    ShortLineIn<OutputFormat::Json>(c, AsKey, element, text, xmlBytes);
  }
}

// ShortLine for a text that XML writes the same way between its tags.
void SameLine(Context& c, bool AsKey, const FormatTags& element, std::string_view text) {
  ShortLine(c, AsKey, element, text, XmlSize(c, AsKey, element, text.size()));
}

// For texts of any length: the indentation and opening literal, then the
// closing literal and line end once the caller has written the text.
void OpenLine(Context& c, bool AsKey, const FormatTags& element) {
  char* dst = BeginText(c, sizeof(Literal::text));
  c.Out.CommitTo(Copy(dst, TagsFor(c, AsKey, element).open));
}
void CloseLine(Context& c, bool AsKey, const FormatTags& element) {
  char* dst = c.Out.Reserve(sizeof(Literal::text) + 2);
  EndAs(c, AsKey, Copy(dst, TagsFor(c, AsKey, element).close));
}

// The size of the XML line of an 8-bit string in a JSON document.
uint64_t XmlSize8(const Context& c, bool AsKey, const uint8_t* text, uint64_t count) {
  return XmlSize(c, AsKey, kStringTags, XmlTextSize8(text, count));
}

// Writes 8-bit text as a string value or a key.
void PutText8(Context& c, const uint8_t* text, uint64_t count, bool AsKey) {
  bool json = c.Format == OutputFormat::Json;
  size_t plain = json ? JsonPlainPrefix(text, count) : PlainPrefix(text, count);
  if (count <= kShortText && plain == count) {
    ShortLine(c, AsKey, kStringTags, std::string_view(reinterpret_cast<const char*>(text), count),
              json ? XmlSize8(c, AsKey, text, count) : 0);
    return;
  }
  uint64_t before = c.Out.Written();
  OpenLine(c, AsKey, kStringTags);
  if (json) {
    PutJsonEscaped8(c.Out, text, count);
  } else {
    PutEscaped8(c.Out, text, count);
  }
  CloseLine(c, AsKey, kStringTags);
  if (json) CountAsXml(c, before, XmlSize8(c, AsKey, text, count));
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

// Writes a date value or key; JSON values keep the fraction of a second. A
// typed document holds the seconds themselves, for the same dates alone.
bool PutDateAs(Context& c, double seconds, bool AsKey) {
  std::string text;
  if (c.Format == OutputFormat::Json && !AsKey) {
    if (!JsonDateText(seconds, &text)) return false;
    // XML writes the same text without the fraction, unless a fraction
    // vanished: it may have rounded up into the next second, whose year
    // may be longer.
    size_t point = text.find('.');
    uint64_t xml = point == std::string::npos ? text.size() : point + 1;
    std::string whole;
    if (point == std::string::npos && seconds != std::floor(seconds) && DateText(seconds, &whole))
      xml = whole.size();
    uint64_t xmlBytes = XmlSize(c, AsKey, kDateTags, xml);
    if (Tagged(c, AsKey)) {
      uint64_t bits;
      std::memcpy(&bits, &seconds, sizeof bits);
      ShortLine(c, false, kTypedDateTags, JsonRealText(bits), xmlBytes);
      return true;
    }
    ShortLine(c, AsKey, kDateTags, text, xmlBytes);
    return true;
  }
  if (!DateText(seconds, &text)) return false;
  SameLine(c, AsKey, kDateTags, text);
  return true;
}

}  // namespace

bool TryPlainKey(Context& c, uint64_t o) {
  uint8_t marker = c.Binary[o];
  uint64_t count = marker & 0x0F;
  if (marker >> 4 != kNibbleString || count == kExtendedCount || !Inside(c, o + 1, count))
    return false;
  const uint8_t* text = c.Binary + o + 1;
  size_t plain =
      c.Format == OutputFormat::Xml ? PlainPrefix(text, count) : JsonPlainPrefix(text, count);
  if (plain != count) return false;
  ShortLine(c, true, kStringTags, std::string_view(reinterpret_cast<const char*>(text), count),
            c.Format == OutputFormat::Json ? XmlSize8(c, true, text, count) : 0);
  return true;
}

bool GetStr(Context& c, uint64_t o, bool AsKey) {
  uint64_t count, start;
  if (!GetPayload(c, o, 1, &count, &start)) return false;
  PutText8(c, c.Binary + start, count, AsKey);
  return true;
}

bool GetUnicode(Context& c, uint64_t o, bool AsKey) {
  uint64_t count, start;
  if (!GetPayload(c, o, 2, &count, &start)) return false;
  uint64_t before = c.Out.Written();
  OpenLine(c, AsKey, kStringTags);
  if (c.Format == OutputFormat::Json) {
    PutJsonEscaped16(c.Out, c.Binary + start, count);
    CloseLine(c, AsKey, kStringTags);
    CountAsXml(c, before, XmlSize(c, AsKey, kStringTags, XmlTextSize16(c.Binary + start, count)));
    return true;
  }
  PutEscaped16(c.Out, c.Binary + start, count);
  CloseLine(c, AsKey, kStringTags);
  return true;
}

bool GetUID(Context& c, uint64_t o, bool AsKey) {
  uint64_t width = (c.Binary[o] & 0x0F) + 1;
  if (!Inside(c, o + 1, width)) return Damaged(c, "a value runs past the end of the object data");
  std::string text = UidText(c.Binary + o + 1, width);
  // XML's conventional form: a dictionary holding "CF$UID" and the number,
  // indented as a nested dictionary would be.
  static constexpr std::string_view kXmlUid[] = {"<dict>", "    <key>CF$UID</key>",
                                                 "    <integer></integer>", "</dict>"};
  if (AsKey) {
    SameLine(c, AsKey, kUidTags, text);
    return true;
  }
  if (c.Format == OutputFormat::Json) {
    uint64_t xml = text.size();
    for (std::string_view line : kXmlUid) xml += XmlLineSize(c, 4 + line.size());
    ShortLine(c, AsKey, Tagged(c, AsKey) ? kTypedUidTags : kUidTags, text, xml);
    return true;
  }
  c.DictSpace += 4;
  Line(c, kXmlUid[0]);
  Line(c, kXmlUid[1]);
  SameLine(c, false, kIntegerTags, text);
  Line(c, kXmlUid[3]);
  c.DictSpace -= 4;
  return true;
}

bool GetBool(Context& c, uint64_t o, bool AsKey) {
  bool value = c.Binary[o] == kMarkerTrue;
  // XML has no key text for a boolean and writes its element; a JSON key is
  // always a string, here "true" or "false".
  const FormatTags& element = value ? kTrueTags : kFalseTags;
  if (AsKey && c.Format == OutputFormat::Json) {
    ShortLine(c, true, kStringTags, value ? "true" : "false", XmlSize(c, false, element, 0));
    return true;
  }
  SameLine(c, false, element, "");
  return true;
}

bool GetNull(Context& c, Role role) {
  if (role == Role::Top) return false;  // a document cannot consist of nothing
  if (role != Role::Key) PutNull(c);
  return true;
}

void PutKey(Context& c, std::string_view utf8) {
  PutText8(c, reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(), true);
}

void PutString(Context& c, std::string_view utf8) {
  PutText8(c, reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(), false);
}

void PutInteger(Context& c, int64_t value) {
  SameLine(c, false, kIntegerTags, std::to_string(value));
}

void PutReal(Context& c, double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  std::string xml = BinaryToReal(bits);
  if (c.Format == OutputFormat::Xml) {
    SameLine(c, false, kRealTags, xml);
    return;
  }
  std::string text = JsonRealText(bits);
  ShortLine(c, false, Tagged(c, false) && text[0] == '"' ? kTypedRealTags : kRealTags, text,
            XmlSize(c, false, kRealTags, xml.size()));
}

void PutNull(Context& c) {
  if (c.Format == OutputFormat::Json) ShortLine(c, false, kNullTags, "", 0);  // none in XML
}

bool PutDate(Context& c, double seconds, bool AsKey) {
  return PutDateAs(c, seconds, AsKey);
}

bool GetDate(Context& c, uint64_t o, bool AsKey) {
  if (!Inside(c, o + 1, kDateSize))
    return Damaged(c, "a date runs past the end of the object data");
  uint64_t bits = ReadBigEndian(c.Binary + o + 1, 8);
  double seconds;
  std::memcpy(&seconds, &bits, sizeof seconds);
  return PutDateAs(c, seconds, AsKey);
}

bool GetData(Context& c, uint64_t o, bool AsKey) {
  uint64_t count, start;
  if (!GetPayload(c, o, 1, &count, &start)) return false;
  uint64_t before = c.Out.Written();
  const FormatTags& tags = Tagged(c, AsKey) ? kTypedDataTags : kDataTags;
  OpenLine(c, AsKey, tags);
  PutBase64(c.Out, c.Binary + start, count);
  CloseLine(c, AsKey, tags);
  if (c.Format == OutputFormat::Json)
    CountAsXml(c, before, XmlSize(c, AsKey, kDataTags, (count + 2) / 3 * 4));
  return true;
}

bool GetInt(Context& c, uint64_t o, bool AsKey) {
  uint64_t width;
  if (!GetValueBytes(c, o, &width)) return false;
  char digits[kMaxIntegerText];
  char* end = PutIntegerText(digits, c.Binary + o + 1, width);
  SameLine(c, AsKey, kIntegerTags, std::string_view(digits, size_t(end - digits)));
  return true;
}

bool GetReal(Context& c, uint64_t o, bool AsKey) {
  uint64_t width;
  if (!GetValueBytes(c, o, &width)) return false;
  const uint8_t* p = c.Binary + o + 1;
  // JSON values keep the exact value; keys, like XML, take the XML text.
  bool exact = c.Format == OutputFormat::Json && !AsKey;
  // The XML text: sizes other than 4 and 8 bytes are not decoded; a 4-byte
  // real is written as its value widened to a double.
  std::string xml = "0";
  uint64_t wide = 0;
  if (width == 8) {
    xml = BinaryToReal(ReadBigEndian(p, 8));
  } else if (width == 4) {
    uint32_t bits = uint32_t(ReadBigEndian(p, 4));
    float single;
    std::memcpy(&single, &bits, sizeof single);
    double widened = single;
    std::memcpy(&wide, &widened, sizeof wide);
    xml = BinaryToReal(wide);
  }
  // At most a few hundred characters: the largest double has 309 digits,
  // the smallest about 340 after the point.
  if (!exact) {
    SameLine(c, AsKey, kRealTags, xml);
    return true;
  }
  // A typed document holds the double a 4-byte value widens to, and tags the
  // texts of the reals that are not finite, which are strings.
  bool typed = Tagged(c, AsKey);
  std::string text = width == 8   ? JsonRealText(ReadBigEndian(p, 8))
                     : width != 4 ? "0.0"
                     : typed      ? JsonRealText(wide)
                                  : JsonFloatText(uint32_t(ReadBigEndian(p, 4)));
  bool named = typed && text[0] == '"';
  ShortLine(c, AsKey, named ? kTypedRealTags : kRealTags, text,
            XmlSize(c, AsKey, kRealTags, xml.size()));
  return true;
}

}  // namespace bplist
