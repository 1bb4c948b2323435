// The file's trailer, read without recording damage.
#include "bplist/Reader.h"

namespace bplist {

std::string DecodeTrailer(const uint8_t* data, uint64_t size, Trailer* t) {
  if (size < kHeaderSize + kTrailerSize) return "too short to hold a header and a trailer";
  const uint8_t* trailer = data + size - kTrailerSize;
  t->OffsetSize = trailer[kTrailerOffsetSize];
  t->ObjRefSize = trailer[kTrailerObjRefSize];
  t->NumObjects = ReadBigEndian(trailer + kTrailerNumObjects, 8);
  t->TopObject = ReadBigEndian(trailer + kTrailerTopObject, 8);
  t->OffsetTableOffset = ReadBigEndian(trailer + kTrailerOffsetTableOffset, 8);
  if (t->OffsetSize < 1 || t->OffsetSize > kMaxFieldWidth)
    return "offset size " + std::to_string(t->OffsetSize) + " is not between 1 and 8";
  if (t->ObjRefSize < 1 || t->ObjRefSize > kMaxFieldWidth)
    return "object reference size " + std::to_string(t->ObjRefSize) + " is not between 1 and 8";
  // The table must lie between the header and the trailer.
  uint64_t tableEnd = size - kTrailerSize;
  if (t->OffsetTableOffset < kHeaderSize || t->OffsetTableOffset >= size)
    return "offset table lies outside the file";
  if (t->OffsetTableOffset > tableEnd ||
      t->NumObjects > (tableEnd - t->OffsetTableOffset) / t->OffsetSize)
    return "offset table of " + std::to_string(t->NumObjects) + " entries runs into the trailer";
  if (t->TopObject >= t->NumObjects)
    return "top object " + std::to_string(t->TopObject) + " is not below the object count " +
           std::to_string(t->NumObjects);
  return "";
}

}  // namespace bplist
