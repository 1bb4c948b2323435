// The binary property-list container: signature, trailer fields and marker
// bytes, kept in one place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bplist {

// Every binary plist starts with these six bytes, then two version bytes.
constexpr char kSignature[] = "bplist";
constexpr size_t kSignatureSize = 6;
// Signature plus version; the first object can start right after it.
constexpr uint64_t kHeaderSize = 8;

// The trailer is the file's last 32 bytes. Field positions are counted from
// the trailer's first byte; the first six bytes are unused by the reader.
constexpr uint64_t kTrailerSize = 32;
// One byte: width in bytes of an offset-table entry (1 to 8).
constexpr size_t kTrailerOffsetSize = 6;
// One byte: width in bytes of an object reference (1 to 8).
constexpr size_t kTrailerObjRefSize = 7;
// Eight bytes, big-endian: number of objects, the offset table's length.
constexpr size_t kTrailerNumObjects = 8;
// Eight bytes, big-endian: object number of the top object.
constexpr size_t kTrailerTopObject = 16;
// Eight bytes, big-endian: file position of the offset table.
constexpr size_t kTrailerOffsetTableOffset = 24;
// The widest offset-table entry or object reference the format allows.
constexpr unsigned kMaxFieldWidth = 8;

// Whole marker bytes that name a kind by themselves.
constexpr uint8_t kMarkerNull = 0x00;
constexpr uint8_t kMarkerFalse = 0x08;
constexpr uint8_t kMarkerTrue = 0x09;
constexpr uint8_t kMarkerFill = 0x0F;
// A date: the marker is followed by an 8-byte big-endian IEEE double.
constexpr uint8_t kMarkerDate = 0x33;
constexpr uint64_t kDateSize = 8;

// High nibbles of marker bytes; the low nibble holds a size or count.
constexpr uint8_t kNibbleInt = 0x1;     // 2^n value bytes follow
constexpr uint8_t kNibbleReal = 0x2;    // 2^n value bytes follow
constexpr uint8_t kNibbleData = 0x4;    // count bytes follow
constexpr uint8_t kNibbleString = 0x5;  // count 8-bit characters follow
constexpr uint8_t kNibbleUtf16 = 0x6;   // count big-endian UTF-16 code units follow
constexpr uint8_t kNibbleUid = 0x8;     // n + 1 value bytes follow
constexpr uint8_t kNibbleArray = 0xA;   // count object references follow
constexpr uint8_t kNibbleSet = 0xC;     // as an array; no type code, only JSON writes it
constexpr uint8_t kNibbleDict = 0xD;    // count key references, then count value references

// A low nibble of 1111 on a container, string or data marker: the count is
// an integer object (marker 0x1n, then 2^n bytes) right after the marker.
constexpr uint8_t kExtendedCount = 0x0F;

// Type codes: the classification of an object by its marker byte.
enum TypeCode : int {
  NONE = -1,  // the marker names no kind
  DICT = 0,
  ARR = 1,
  STR = 2,
  BOOL = 3,
  INT = 4,
  RL = 5,
  DATE = 6,
  DATA = 7,
  UTF = 8,
  FILL = 9,
  EMP = 10,
  UID = 11,
};

// Returns the type code of an object whose marker byte is `marker`.
TypeCode TypeOfObject(uint8_t marker);

}  // namespace bplist
