// The binary plist as a value tree, for writing it again compactly: every
// object read with the checks the converter makes, shared scalars kept as
// one value, shared containers written out at each reference (within the
// value budget), null and fill elements of arrays and sets skipped as the
// converter skips them.
#include <cstring>

#include "bplist/Context.h"
#include "bplist/Values.h"

namespace bplist {

namespace {

constexpr uint32_t kUnread = 0xFFFFFFFFu;

class BinaryReader {
 public:
  BinaryReader(const uint8_t* data, size_t size, const Trailer& t, ValueTree* tree)
      : b_(tree, ValueBudget(size), false),
        p_(data),
        t_(t),
        budget_(ValueBudget(size)),
        read_(size_t(t.NumObjects), kUnread) {}

  // Adds object `pos` to the tree; false when the file is damaged or the
  // budget is spent, with the reason in error_. Recursion is bounded by
  // kMaxValueDepth.
  bool Object(uint64_t pos, bool key);

  std::string error_;
  bool tooLarge_ = false;
  TreeBuilder b_;

 private:
  bool Fail(const std::string& reason) {
    if (error_.empty()) error_ = reason;
    return false;
  }
  bool Budget() {
    if (b_.TooDeep())
      return Fail("containers nest deeper than " + std::to_string(kMaxValueDepth) + " levels");
    tooLarge_ = true;
    return Fail("its document would hold more than " + std::to_string(budget_) +
                " values, the most a file of its size may make");
  }
  bool Inside(uint64_t at, uint64_t len) const {
    return at <= t_.OffsetTableOffset && len <= t_.OffsetTableOffset - at;
  }
  // The count of the object at o and where its payload starts.
  bool Count(uint64_t o, uint64_t* count, uint64_t* start);
  bool Scalar(uint64_t pos, uint64_t o);

  const uint8_t* p_;
  Trailer t_;
  uint64_t budget_;
  // For each object number, the value a scalar became when first read.
  std::vector<uint32_t> read_;
  std::vector<uint64_t> path_;
};

bool BinaryReader::Count(uint64_t o, uint64_t* count, uint64_t* start) {
  uint8_t low = p_[o] & 0x0F;
  if (low != kExtendedCount) {
    *count = low;
    *start = o + 1;
    return true;
  }
  if (!Inside(o + 1, 1) || p_[o + 1] >> 4 != kNibbleInt)
    return Fail("a count runs past the end of the object data");
  uint64_t width = uint64_t(1) << (p_[o + 1] & 0x0F);
  if (width > 8 || !Inside(o + 2, width))
    return Fail("a count runs past the end of the object data");
  *count = ReadBigEndian(p_ + o + 2, unsigned(width));
  *start = o + 2 + width;
  return true;
}

bool BinaryReader::Scalar(uint64_t pos, uint64_t o) {
  uint8_t m = p_[o];
  uint8_t nibble = m >> 4;
  auto fixed = [&](uint64_t width, uint64_t* v) {
    if (!Inside(o + 1, width)) return Fail("a value runs past the end of the object data");
    *v = ReadBigEndian(p_ + o + 1 + (width > 8 ? width - 8 : 0), unsigned(width > 8 ? 8 : width));
    return true;
  };
  uint64_t v = 0;
  bool ok;
  if (m == kMarkerTrue || m == kMarkerFalse) {
    ok = b_.Scalar(m == kMarkerTrue ? ValueKind::True : ValueKind::False, 0);
  } else if (m == kMarkerDate) {
    if (!fixed(8, &v)) return false;
    ok = b_.Scalar(ValueKind::Date, v);
  } else if (nibble == kNibbleInt) {
    uint64_t width = uint64_t(1) << (m & 0x0F);
    if (width > 16)
      return Fail("object " + std::to_string(pos) + " is an integer of " + std::to_string(width) +
                  " bytes");
    if (!fixed(width, &v)) return false;
    // 1, 2, 4 and 16 bytes hold unsigned values (of 16 bytes the low eight
    // count, as the converter reads them); 8 bytes a signed one.
    bool big = width != 8 && int64_t(v) < 0;
    ok = b_.Scalar(big ? ValueKind::BigInt : ValueKind::Int, v);
  } else if (nibble == kNibbleReal) {
    uint64_t width = uint64_t(1) << (m & 0x0F);
    if (width != 4 && width != 8)
      return Fail("object " + std::to_string(pos) + " is a real of " + std::to_string(width) +
                  " bytes");
    if (!fixed(width, &v)) return false;
    ok = b_.Scalar(width == 4 ? ValueKind::Real32 : ValueKind::Real64, v);
  } else if (nibble == kNibbleUid) {
    uint64_t width = (m & 0x0F) + 1u;
    if (!Inside(o + 1, width)) return Fail("a value runs past the end of the object data");
    for (uint64_t i = 0; i + 8 < width; ++i)
      if (p_[o + 1 + i] != 0)
        return Fail("object " + std::to_string(pos) + " is a UID above 2^64 - 1");
    if (!fixed(width, &v)) return false;
    ok = b_.Scalar(ValueKind::Uid, v);
  } else if (nibble == kNibbleData || nibble == kNibbleString || nibble == kNibbleUtf16) {
    uint64_t count, start;
    if (!Count(o, &count, &start)) return false;
    uint64_t unit = nibble == kNibbleUtf16 ? 2 : 1;
    if (count > t_.OffsetTableOffset / unit || !Inside(start, count * unit))
      return Fail("a value runs past the end of the object data");
    std::string_view bytes(reinterpret_cast<const char*>(p_) + start, size_t(count * unit));
    if (nibble == kNibbleUtf16) {
      // UTF-16 that is all ASCII is written as 8-bit characters.
      bool ascii = true;
      for (size_t i = 0; i < bytes.size(); i += 2)
        ascii &= bytes[i] == 0 && uint8_t(bytes[i + 1]) < 0x80;
      if (ascii) {
        std::string narrow;
        for (size_t i = 1; i < bytes.size(); i += 2) narrow.push_back(bytes[i]);
        ok = b_.Bytes(ValueKind::String8, narrow);
      } else {
        ok = b_.Bytes(ValueKind::String16, bytes);
      }
    } else {
      ok = b_.Bytes(nibble == kNibbleData ? ValueKind::Data : ValueKind::String8, bytes);
    }
  } else {
    return Fail("object " + std::to_string(pos) + " has the unknown marker " + std::to_string(m));
  }
  if (!ok) return Budget();
  read_[size_t(pos)] = b_.Last();
  return true;
}

bool BinaryReader::Object(uint64_t pos, bool key) {
  if (pos >= t_.NumObjects)
    return Fail("reference to object " + std::to_string(pos) + " names no object");
  uint64_t o = ReadBigEndianPadded(p_ + t_.OffsetTableOffset + pos * t_.OffsetSize, t_.OffsetSize);
  if (o < kHeaderSize || o >= t_.OffsetTableOffset)
    return Fail("object " + std::to_string(pos) + " lies outside the object data");
  uint8_t m = p_[o];
  uint8_t nibble = m >> 4;
  bool container = nibble == kNibbleArray || nibble == kNibbleSet || nibble == kNibbleDict;
  if (key && (container || (nibble != kNibbleString && nibble != kNibbleUtf16)))
    return Fail("object " + std::to_string(pos) + " is a dictionary key but not a string");
  if (!container) {
    if (m == kMarkerNull || m == kMarkerFill)
      return Fail("object " + std::to_string(pos) +
                  " is a null or fill object in a dictionary or at the top");
    if (read_[size_t(pos)] != kUnread) return b_.Reuse(read_[size_t(pos)]) || Budget();
    return Scalar(pos, o);
  }
  for (uint64_t outer : path_)
    if (outer == pos) return Fail("object " + std::to_string(pos) + " contains itself");
  uint64_t count, start;
  if (!Count(o, &count, &start)) return false;
  bool dict = nibble == kNibbleDict;
  uint64_t refs = dict ? 2 * count : count;
  if (count > t_.OffsetTableOffset || !Inside(start, refs * t_.ObjRefSize))
    return Fail("a container's references run past the end of the object data");
  if (!b_.Open(dict ? ValueKind::Dict : ValueKind::Array)) return Budget();
  path_.push_back(pos);
  const uint8_t* at = p_ + start;
  unsigned w = t_.ObjRefSize;
  for (uint64_t i = 0; i < count; ++i) {
    if (dict) {
      if (!Object(ReadBigEndianPadded(at + i * w, w), true) ||
          !Object(ReadBigEndianPadded(at + (count + i) * w, w), false))
        return false;
      continue;
    }
    // Null and fill elements are skipped, as the converter skips them.
    uint64_t ref = ReadBigEndianPadded(at + i * w, w);
    if (ref < t_.NumObjects) {
      uint64_t e =
          ReadBigEndianPadded(p_ + t_.OffsetTableOffset + ref * t_.OffsetSize, t_.OffsetSize);
      if (e >= kHeaderSize && e < t_.OffsetTableOffset &&
          (p_[e] == kMarkerNull || p_[e] == kMarkerFill))
        continue;
    }
    if (!Object(ref, false)) return false;
  }
  path_.pop_back();
  std::string unused;
  b_.Close(&unused);
  return true;
}

}  // namespace

ReadResult ReadBinaryPlist(const uint8_t* data, size_t size, ValueTree* tree) {
  ReadResult r;
  Trailer t;
  r.reason = DecodeTrailer(data, size, &t);
  if (!r.reason.empty()) return r;
  BinaryReader reader(data, size, t, tree);
  if (!reader.Object(t.TopObject, false)) {
    r.tooLarge = reader.tooLarge_;
    r.reason = reader.error_;
    return r;
  }
  reader.b_.Finish();
  r.ok = true;
  return r;
}

}  // namespace bplist
