// The binary plist writer: numbers the objects of a value tree as Apple's
// writer does (its scalars are unique already, so each is stored once), and
// writes objects, offset table and trailer.
#include <cstring>

#include "bplist/Format.h"
#include "bplist/Values.h"

namespace bplist {

namespace {

constexpr uint32_t kNoObject = 0xFFFFFFFFu;

bool IsContainer(ValueKind k) {
  return k == ValueKind::Dict || k == ValueKind::Array;
}

// The fewest of 1, 2, 4 or 8 bytes that hold v, as Apple's writer sizes
// references, offsets and unsigned integers.
unsigned ByteCount(uint64_t v) {
  if (v < 0x100) return 1;
  if (v < 0x10000) return 2;
  if (v < 0x100000000ull) return 4;
  return 8;
}

// Writes `width` bytes of v, big-endian, at p.
void PutBigEndian(char* p, uint64_t v, unsigned width) {
  for (unsigned i = width; i-- > 0; v >>= 8) p[i] = char(v & 0xFF);
}

// A marker with its count in the low nibble, or 1111 and an integer object.
void PutMarker(OutputBuffer& out, uint8_t nibble, uint64_t count) {
  char* p = out.Reserve(10);
  if (count < kExtendedCount) {
    p[0] = char(nibble << 4 | count);
    out.Commit(1);
    return;
  }
  unsigned width = ByteCount(count);
  p[0] = char(nibble << 4 | kExtendedCount);
  p[1] = char(kNibbleInt << 4 | (width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3));
  PutBigEndian(p + 2, count, width);
  out.Commit(2 + width);
}

// A marker byte followed by `width` bytes of v.
void PutFixed(OutputBuffer& out, uint8_t marker, uint64_t v, unsigned width) {
  char* p = out.Reserve(1 + width);
  p[0] = char(marker);
  PutBigEndian(p + 1, v, width);
  out.Commit(1 + width);
}

// References to the objects of `count` kids starting at kids[at], taking
// every `step`-th.
void PutRefs(OutputBuffer& out, const ValueTree& t, const std::vector<uint32_t>& objOf, uint64_t at,
             uint64_t count, uint64_t step, unsigned refSize) {
  constexpr uint64_t kChunk = 4096;
  for (uint64_t done = 0; done < count;) {
    uint64_t n = count - done < kChunk ? count - done : kChunk;
    char* p = out.Reserve(size_t(n * refSize));
    for (uint64_t i = 0; i < n; ++i, p += refSize)
      PutBigEndian(p, objOf[t.kids[size_t(at + (done + i) * step)]], refSize);
    out.Commit(size_t(n * refSize));
    done += n;
  }
}

void PutObject(OutputBuffer& out, const ValueTree& t, const Value& v,
               const std::vector<uint32_t>& objOf, unsigned refSize) {
  switch (v.kind) {
    case ValueKind::Dict:
      PutMarker(out, kNibbleDict, v.count / 2);
      PutRefs(out, t, objOf, v.at, v.count / 2, 2, refSize);
      PutRefs(out, t, objOf, v.at + 1, v.count / 2, 2, refSize);
      return;
    case ValueKind::Array:
      PutMarker(out, kNibbleArray, v.count);
      PutRefs(out, t, objOf, v.at, v.count, 1, refSize);
      return;
    case ValueKind::String8:
    case ValueKind::String16:
    case ValueKind::Data: {
      uint8_t nibble = v.kind == ValueKind::String8    ? kNibbleString
                       : v.kind == ValueKind::String16 ? kNibbleUtf16
                                                       : kNibbleData;
      PutMarker(out, nibble, v.kind == ValueKind::String16 ? v.count / 2 : v.count);
      out.Put(std::string_view(t.bytes).substr(size_t(v.at), size_t(v.count)));
      return;
    }
    case ValueKind::Int: {
      // Negative integers take eight bytes, others the fewest that hold them.
      unsigned width = int64_t(v.at) < 0 ? 8 : ByteCount(v.at);
      uint8_t log2 = width == 1 ? 0 : width == 2 ? 1 : width == 4 ? 2 : 3;
      PutFixed(out, uint8_t(kNibbleInt << 4 | log2), v.at, width);
      return;
    }
    case ValueKind::BigInt: {
      char* p = out.Reserve(17);
      p[0] = char(kNibbleInt << 4 | 4);
      std::memset(p + 1, 0, 8);
      PutBigEndian(p + 9, v.at, 8);
      out.Commit(17);
      return;
    }
    case ValueKind::Real32:
      PutFixed(out, kNibbleReal << 4 | 2, v.at, 4);
      return;
    case ValueKind::Real64:
      PutFixed(out, kNibbleReal << 4 | 3, v.at, 8);
      return;
    case ValueKind::Date:
      PutFixed(out, kMarkerDate, v.at, 8);
      return;
    case ValueKind::True:
      out.Put("\x09");
      return;
    case ValueKind::False:
      out.Put("\x08");
      return;
    case ValueKind::Uid: {
      unsigned width = ByteCount(v.at);
      PutFixed(out, uint8_t(kNibbleUid << 4 | (width - 1)), v.at, width);
      return;
    }
  }
}

}  // namespace

void WriteBinary(const ValueTree& t, OutputBuffer& out) {
  // Pre-order numbering without recursion: a container takes the next
  // number, then its keys, then its values (each with all it holds).
  std::vector<uint32_t> objOf(t.values.size(), kNoObject);
  std::vector<uint32_t> objects;
  std::vector<uint32_t> stack{t.root};
  while (!stack.empty()) {
    uint32_t v = stack.back();
    stack.pop_back();
    // A scalar is unique in the tree: its first place numbers it.
    if (objOf[v] != kNoObject) continue;
    objOf[v] = uint32_t(objects.size());
    objects.push_back(v);
    const Value& value = t.values[v];
    if (!IsContainer(value.kind)) continue;
    const uint32_t* kids = t.kids.data() + value.at;
    if (value.kind == ValueKind::Array) {
      for (uint64_t i = value.count; i-- > 0;) stack.push_back(kids[i]);
    } else {
      for (uint64_t i = value.count; i >= 2; i -= 2) stack.push_back(kids[i - 1]);
      for (uint64_t i = value.count; i >= 2; i -= 2) stack.push_back(kids[i - 2]);
    }
  }
  // The objects in number order, each offset recorded for the table.
  out.Put("bplist00");
  unsigned refSize = ByteCount(objects.size());
  std::vector<uint64_t> offsets(objects.size());
  uint64_t start = out.Written() - kHeaderSize;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets[i] = out.Written() - start;
    PutObject(out, t, t.values[objects[i]], objOf, refSize);
  }
  uint64_t tableOffset = out.Written() - start;
  unsigned offsetSize = ByteCount(tableOffset);
  for (uint64_t at : offsets) {
    char* p = out.Reserve(offsetSize);
    PutBigEndian(p, at, offsetSize);
    out.Commit(offsetSize);
  }
  char* p = out.Reserve(kTrailerSize);
  std::memset(p, 0, kTrailerSize);
  p[kTrailerOffsetSize] = char(offsetSize);
  p[kTrailerObjRefSize] = char(refSize);
  PutBigEndian(p + kTrailerNumObjects, objects.size(), 8);
  PutBigEndian(p + kTrailerTopObject, 0, 8);
  PutBigEndian(p + kTrailerOffsetTableOffset, tableOffset, 8);
  out.Commit(kTrailerSize);
}

}  // namespace bplist
