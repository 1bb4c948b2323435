// The file being read: its bytes, its trailer, and the lookups that keep to
// its limits. None of them records why a file is damaged: the walk
// (Context.h) says that where it meets a failed lookup, and the keyed view
// reads past what it cannot use.
#pragma once

#include <cstdint>
#include <string>

#include "bplist/Bits.h"
#include "bplist/Format.h"

namespace bplist {

// The trailer's fields, checked by DecodeTrailer before any object is read.
struct Trailer {
  unsigned OffsetSize = 0;         // width of an offset-table entry, 1 to 8
  unsigned ObjRefSize = 0;         // width of an object reference, 1 to 8
  uint64_t NumObjects = 0;         // entries in the offset table, at least 1
  uint64_t TopObject = 0;          // below NumObjects
  uint64_t OffsetTableOffset = 0;  // the table lies between header and trailer
};

// Returns the reason when the file's trailer is unsound, else "" with *t set.
std::string DecodeTrailer(const uint8_t* data, uint64_t size, Trailer* t);

// A file whose trailer DecodeTrailer has accepted.
struct Reader {
  Reader(const uint8_t* binary, const Trailer& trailer)
      : Binary(binary), T(trailer), End(trailer.OffsetTableOffset) {}

  const uint8_t* Binary;  // the whole file
  Trailer T;
  // Objects lie in [kHeaderSize, End): between the header and the offset table.
  uint64_t End;
};

// True when [pos, pos + len) lies inside the object area.
inline bool Inside(const Reader& r, uint64_t pos, uint64_t len) {
  return pos <= r.End && len <= r.End - pos;
}

// The offset-table entry of object Pos, which must be below NumObjects.
inline uint64_t OffsetOf(const Reader& r, uint64_t Pos) {
  return ReadBigEndianPadded(r.Binary + r.T.OffsetTableOffset + Pos * r.T.OffsetSize,
                             r.T.OffsetSize);
}

// Finds object number Pos; *o receives its marker's position. False when Pos
// names no object or the object lies outside the object area.
inline bool Peek(const Reader& r, uint64_t Pos, uint64_t* o) {
  if (Pos >= r.T.NumObjects) return false;
  *o = OffsetOf(r, Pos);
  return *o >= kHeaderSize && *o < r.End;
}

// Reference `index` of the block of object references that starts at `start`.
inline uint64_t Reference(const Reader& r, uint64_t start, uint64_t index) {
  return ReadBigEndianPadded(r.Binary + start + index * r.T.ObjRefSize, r.T.ObjRefSize);
}

// How reading a count went.
enum class CountRead : uint8_t {
  Ok,
  PastEnd,   // the count's integer runs past the end of the object data
  TooLarge,  // the count is wider than eight bytes and no file could hold it
};

// Reads an extended count: the integer object after the marker at o, of any
// width the marker's nibble names, whose bytes before its last eight must be
// zero. Inline, so that the walk's damage messages fold into its tests.
inline CountRead ReadExtendedCount(const Reader& r, uint64_t o, uint64_t* count, uint64_t* start) {
  if (!Inside(r, o + 1, 1)) return CountRead::PastEnd;
  uint64_t width = uint64_t(1) << (r.Binary[o + 1] & 0x0F);
  if (!Inside(r, o + 2, width)) return CountRead::PastEnd;
  const uint8_t* p = r.Binary + o + 2;
  // Only the last eight bytes can hold a count that fits any file.
  for (uint64_t i = 0; i + 8 < width; ++i)
    if (p[i] != 0) return CountRead::TooLarge;
  unsigned low8 = width < 8 ? unsigned(width) : 8;
  *count = ReadBigEndian(p + width - low8, low8);
  *start = o + 2 + width;
  return CountRead::Ok;
}

// Reads the count of the container, string or data object at o, from the
// marker's low nibble or from the integer after it, and the position of the
// first byte after the count.
inline CountRead ReadCount(const Reader& r, uint64_t o, uint64_t* count, uint64_t* start) {
  uint8_t low = r.Binary[o] & 0x0F;
  if (low == kExtendedCount) return ReadExtendedCount(r, o, count, start);
  *count = low;
  *start = o + 1;
  return CountRead::Ok;
}

// Reads the count of the object at o as ReadCount does, each of its entries
// `entrySize` bytes long; true when they all lie inside the object area.
inline bool Contents(const Reader& r, uint64_t o, uint64_t entrySize, uint64_t* count,
                     uint64_t* start) {
  return ReadCount(r, o, count, start) == CountRead::Ok && *count <= (r.End - *start) / entrySize;
}

// The width of the count read at o whose contents start at `start`: zero
// for a count held in the marker.
inline uint64_t CountWidth(uint64_t o, uint64_t start) {
  return start - o <= 1 ? 0 : start - o - 2;
}

}  // namespace bplist
