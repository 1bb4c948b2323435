// The scalar writers: one line per object (four for a UID value), as an
// element or, for a dictionary key, as a key line.
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
void ShortLineIn(Context& c, bool AsKey, const FormatTags& element, std::string_view text) {
  const Tags& t = (AsKey ? kKeyTags : element)[int(Format)];
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
  }
}

// Writes a whole value or key holding `text`, short enough for one
// reservation.
void ShortLine(Context& c, bool AsKey, const FormatTags& element, std::string_view text) {
  if (c.Format == OutputFormat::Xml) {
    ShortLineIn<OutputFormat::Xml>(c, AsKey, element, text);
  } else {
    ShortLineIn<OutputFormat::Json>(c, AsKey, element, text);
  }
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

// Writes 8-bit text as a string value or a key.
void PutText8(Context& c, const uint8_t* text, uint64_t count, bool AsKey) {
  bool json = c.Format == OutputFormat::Json;
  size_t plain = json ? JsonPlainPrefix(text, count) : PlainPrefix(text, count);
  if (count <= kShortText && plain == count) {
    ShortLine(c, AsKey, kStringTags, std::string_view(reinterpret_cast<const char*>(text), count));
    return;
  }
  OpenLine(c, AsKey, kStringTags);
  if (json) {
    PutJsonEscaped8(c.Out, text, count);
  } else {
    PutEscaped8(c.Out, text, count);
  }
  CloseLine(c, AsKey, kStringTags);
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

// Writes a date value or key; JSON values keep the fraction of a second.
bool PutDateAs(Context& c, double seconds, bool AsKey) {
  std::string text;
  bool ok = c.Format == OutputFormat::Json && !AsKey ? JsonDateText(seconds, &text)
                                                     : DateText(seconds, &text);
  if (!ok) return false;
  ShortLine(c, AsKey, kDateTags, text);
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
  ShortLine(c, true, kStringTags, std::string_view(reinterpret_cast<const char*>(text), count));
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
  OpenLine(c, AsKey, kStringTags);
  if (c.Format == OutputFormat::Json) {
    PutJsonEscaped16(c.Out, c.Binary + start, count);
  } else {
    PutEscaped16(c.Out, c.Binary + start, count);
  }
  CloseLine(c, AsKey, kStringTags);
  return true;
}

bool GetUID(Context& c, uint64_t o, bool AsKey) {
  uint64_t width = (c.Binary[o] & 0x0F) + 1;
  if (!Inside(c, o + 1, width)) return Damaged(c, "a value runs past the end of the object data");
  std::string text = UidText(c.Binary + o + 1, width);
  if (AsKey || c.Format == OutputFormat::Json) {
    ShortLine(c, AsKey, kUidTags, text);
    return true;
  }
  // The conventional form: a dictionary holding "CF$UID" and the number,
  // indented as a nested dictionary would be.
  c.DictSpace += 4;
  Line(c, "<dict>");
  Line(c, "    <key>CF$UID</key>");
  ShortLine(c, false, kIntegerTags, text);
  Line(c, "</dict>");
  c.DictSpace -= 4;
  return true;
}

bool GetBool(Context& c, uint64_t o, bool AsKey) {
  bool value = c.Binary[o] == kMarkerTrue;
  // XML has no key text for a boolean and writes its element; a JSON key is
  // always a string, here "true" or "false".
  if (AsKey && c.Format == OutputFormat::Json) {
    ShortLine(c, true, kStringTags, value ? "true" : "false");
    return true;
  }
  ShortLine(c, false, value ? kTrueTags : kFalseTags, "");
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

void PutNull(Context& c) {
  if (c.Format == OutputFormat::Json) ShortLine(c, false, kNullTags, "");
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
  OpenLine(c, AsKey, kDataTags);
  PutBase64(c.Out, c.Binary + start, count);
  CloseLine(c, AsKey, kDataTags);
  return true;
}

bool GetInt(Context& c, uint64_t o, bool AsKey) {
  uint64_t width;
  if (!GetValueBytes(c, o, &width)) return false;
  char digits[kMaxIntegerText];
  char* end = PutIntegerText(digits, c.Binary + o + 1, width);
  ShortLine(c, AsKey, kIntegerTags, std::string_view(digits, size_t(end - digits)));
  return true;
}

bool GetReal(Context& c, uint64_t o, bool AsKey) {
  uint64_t width;
  if (!GetValueBytes(c, o, &width)) return false;
  const uint8_t* p = c.Binary + o + 1;
  // JSON values keep the exact value; keys, like XML, take the XML text.
  bool exact = c.Format == OutputFormat::Json && !AsKey;
  std::string text = exact ? "0.0" : "0";  // sizes other than 4 and 8 bytes are not decoded
  if (width == 8) {
    uint64_t bits = ReadBigEndian(p, 8);
    text = exact ? JsonRealText(bits) : BinaryToReal(bits);
  } else if (width == 4 && exact) {
    text = JsonFloatText(uint32_t(ReadBigEndian(p, 4)));
  } else if (width == 4) {
    uint32_t bits = uint32_t(ReadBigEndian(p, 4));
    float single;
    std::memcpy(&single, &bits, sizeof single);
    double widened = single;
    uint64_t wide;
    std::memcpy(&wide, &widened, sizeof wide);
    text = BinaryToReal(wide);
  }
  // At most a few hundred characters: the largest double has 309 digits,
  // the smallest about 340 after the point.
  ShortLine(c, AsKey, kRealTags, text);
  return true;
}

}  // namespace bplist
