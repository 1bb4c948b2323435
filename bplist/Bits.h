// The compiler-specific bit operations the engine uses, each behind a small
// inline helper with a portable fallback, so a port to another compiler
// touches this file alone; and the big-endian reads built on them.
#pragma once

#include <cstdint>
#include <cstring>

namespace bplist {

// The eight bytes of v in the opposite order.
inline uint64_t ByteSwap64(uint64_t v) {
#if defined(__GNUC__) || defined(__clang__)
  return __builtin_bswap64(v);
#else
  v = (v & 0x00FF00FF00FF00FFull) << 8 | (v >> 8 & 0x00FF00FF00FF00FFull);
  v = (v & 0x0000FFFF0000FFFFull) << 16 | (v >> 16 & 0x0000FFFF0000FFFFull);
  return v << 32 | v >> 32;
#endif
}

// Zero bits above the highest one bit of v, which must not be 0.
inline unsigned LeadingZeros64(uint64_t v) {
#if defined(__GNUC__) || defined(__clang__)
  return unsigned(__builtin_clzll(v));
#else
  unsigned n = 0;
  for (uint64_t top = uint64_t(1) << 63; (v & top) == 0; top >>= 1) ++n;
  return n;
#endif
}

// Asks for the memory at p ahead of its use; only a hint.
inline void PrefetchRead(const void* p) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(p);
#else
  (void)p;
#endif
}

// Reads `width` (1 to 8) bytes at p as a big-endian unsigned number.
inline uint64_t ReadBigEndian(const uint8_t* p, unsigned width) {
  uint64_t v = 0;
  for (unsigned i = 0; i < width; ++i) v = v << 8 | p[i];
  return v;
}

// Reads `width` (1 to 8) bytes at p as a big-endian unsigned number, with
// one eight-byte load: p[0, 8) must all lie inside the file. Object
// references and offset-table entries always have the 32-byte trailer after
// them, so they can be read this way.
inline uint64_t ReadBigEndianPadded(const uint8_t* p, unsigned width) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return ByteSwap64(v) >> (64 - 8 * width);
}

}  // namespace bplist
