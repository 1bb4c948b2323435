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

// Opening and closing literals of an element line, or of a key line.
struct Tags {
  Literal open, close;
};
constexpr Tags kKeyTags{"    <key>", "</key>"};
constexpr Tags kStringTags{"    <string>", "</string>"};
constexpr Tags kIntegerTags{"    <integer>", "</integer>"};
constexpr Tags kRealTags{"    <real>", "</real>"};
constexpr Tags kDateTags{"    <date>", "</date>"};
constexpr Tags kDataTags{"    <data>", "</data>"};
constexpr Tags kTrueTags{"    <true/>", ""};
constexpr Tags kFalseTags{"    <false/>", ""};
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

// Writes a whole line holding `text`, short enough for one reservation.
void ShortLine(Context& c, bool AsKey, const Tags& element, std::string_view text) {
  const Tags& t = AsKey ? kKeyTags : element;
  char* dst = c.Out.BeginLine(c.DictSpace, kMaxTags + text.size());
  dst = Copy(dst, t.open);
  dst = Copy(dst, text);
  c.Out.EndLine(Copy(dst, t.close));
}

// For texts of any length: the indentation and opening literal, then the
// closing literal and line end once the caller has written the text.
void OpenLine(Context& c, bool AsKey, const Tags& element) {
  char* dst = c.Out.BeginLine(c.DictSpace, sizeof(Literal::text));
  c.Out.CommitTo(Copy(dst, AsKey ? kKeyTags.open : element.open));
}
void CloseLine(Context& c, bool AsKey, const Tags& element) {
  char* dst = c.Out.Reserve(sizeof(Literal::text) + 2);
  c.Out.EndLine(Copy(dst, AsKey ? kKeyTags.close : element.close));
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

}  // namespace

bool TryPlainKey(Context& c, uint64_t o) {
  uint8_t marker = c.Binary[o];
  uint64_t count = marker & 0x0F;
  if (marker >> 4 != kNibbleString || count == kExtendedCount || !Inside(c, o + 1, count))
    return false;
  const uint8_t* text = c.Binary + o + 1;
  if (PlainPrefix(text, count) != count) return false;
  ShortLine(c, true, kKeyTags, std::string_view(reinterpret_cast<const char*>(text), count));
  return true;
}

bool GetStr(Context& c, uint64_t o, bool AsKey) {
  uint64_t count, start;
  if (!GetPayload(c, o, 1, &count, &start)) return false;
  const Tags& tags = kStringTags;
  const uint8_t* text = c.Binary + start;
  if (count <= kShortText && PlainPrefix(text, count) == count) {
    ShortLine(c, AsKey, tags, std::string_view(reinterpret_cast<const char*>(text), count));
    return true;
  }
  OpenLine(c, AsKey, tags);
  PutEscaped8(c.Out, text, count);
  CloseLine(c, AsKey, tags);
  return true;
}

bool GetUnicode(Context& c, uint64_t o, bool AsKey) {
  uint64_t count, start;
  if (!GetPayload(c, o, 2, &count, &start)) return false;
  const Tags& tags = kStringTags;
  OpenLine(c, AsKey, tags);
  PutEscaped16(c.Out, c.Binary + start, count);
  CloseLine(c, AsKey, tags);
  return true;
}

bool GetUID(Context& c, uint64_t o, bool AsKey) {
  uint64_t width = (c.Binary[o] & 0x0F) + 1;
  if (!Inside(c, o + 1, width)) return Damaged(c, "a value runs past the end of the object data");
  std::string text = UidText(c.Binary + o + 1, width);
  if (AsKey) {
    ShortLine(c, true, kKeyTags, text);
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

bool GetBool(Context& c, uint64_t o) {
  ShortLine(c, false, c.Binary[o] == kMarkerTrue ? kTrueTags : kFalseTags, "");
  return true;
}

bool GetDate(Context& c, uint64_t o, bool AsKey) {
  if (!Inside(c, o + 1, kDateSize))
    return Damaged(c, "a date runs past the end of the object data");
  uint64_t bits = ReadBigEndian(c.Binary + o + 1, 8);
  double seconds;
  std::memcpy(&seconds, &bits, sizeof seconds);
  std::string text;
  if (!DateText(seconds, &text)) return false;
  ShortLine(c, AsKey, kDateTags, text);
  return true;
}

bool GetData(Context& c, uint64_t o, bool AsKey) {
  uint64_t count, start;
  if (!GetPayload(c, o, 1, &count, &start)) return false;
  const Tags& tags = kDataTags;
  OpenLine(c, AsKey, tags);
  PutBase64(c.Out, c.Binary + start, count);
  CloseLine(c, AsKey, tags);
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
  std::string text = "0";  // sizes other than 4 and 8 bytes are not decoded
  if (width == 8) {
    text = BinaryToReal(ReadBigEndian(p, 8));
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
