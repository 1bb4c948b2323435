// The scalar writers: one line per object (four for a UID value), as an
// element or, for a dictionary key, as a key line.
#include <cstring>

#include "bplist/Context.h"
#include "bplist/Texts.h"

namespace bplist {

namespace {

// Opening and closing literals of an element line, or of a key line.
struct Tags {
  std::string_view open, close;
};
constexpr Tags kKeyTags{"    <key>", "</key>"};

void OpenLine(Context& c, bool AsKey, Tags element) {
  c.Out.Spaces(c.DictSpace);
  c.Out.Put(AsKey ? kKeyTags.open : element.open);
}
void CloseLine(Context& c, bool AsKey, Tags element) {
  c.Out.Put(AsKey ? kKeyTags.close : element.close);
  c.Out.LineEnd();
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

bool GetStr(Context& c, uint64_t o, bool AsKey) {
  uint64_t count, start;
  if (!GetPayload(c, o, 1, &count, &start)) return false;
  constexpr Tags tags{"    <string>", "</string>"};
  OpenLine(c, AsKey, tags);
  PutEscaped8(c.Out, c.Binary + start, count);
  CloseLine(c, AsKey, tags);
  return true;
}

bool GetUnicode(Context& c, uint64_t o, bool AsKey) {
  uint64_t count, start;
  if (!GetPayload(c, o, 2, &count, &start)) return false;
  constexpr Tags tags{"    <string>", "</string>"};
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
    Line(c, kKeyTags.open, text, kKeyTags.close);
    return true;
  }
  // The conventional form: a dictionary holding "CF$UID" and the number,
  // indented as a nested dictionary would be.
  c.DictSpace += 4;
  Line(c, "<dict>");
  Line(c, "    <key>CF$UID</key>");
  Line(c, "    <integer>", text, "</integer>");
  Line(c, "</dict>");
  c.DictSpace -= 4;
  return true;
}

bool GetBool(Context& c, uint64_t o) {
  Line(c, c.Binary[o] == kMarkerTrue ? "    <true/>" : "    <false/>");
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
  constexpr Tags tags{"    <date>", "</date>"};
  OpenLine(c, AsKey, tags);
  c.Out.Put(text);
  CloseLine(c, AsKey, tags);
  return true;
}

bool GetData(Context& c, uint64_t o, bool AsKey) {
  uint64_t count, start;
  if (!GetPayload(c, o, 1, &count, &start)) return false;
  constexpr Tags tags{"    <data>", "</data>"};
  OpenLine(c, AsKey, tags);
  PutBase64(c.Out, c.Binary + start, count);
  CloseLine(c, AsKey, tags);
  return true;
}

bool GetInt(Context& c, uint64_t o, bool AsKey) {
  uint64_t width;
  if (!GetValueBytes(c, o, &width)) return false;
  constexpr Tags tags{"    <integer>", "</integer>"};
  OpenLine(c, AsKey, tags);
  c.Out.Put(IntegerText(c.Binary + o + 1, width));
  CloseLine(c, AsKey, tags);
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
  constexpr Tags tags{"    <real>", "</real>"};
  OpenLine(c, AsKey, tags);
  c.Out.Put(text);
  CloseLine(c, AsKey, tags);
  return true;
}

}  // namespace bplist
