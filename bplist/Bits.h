// The compiler-specific bit operations the engine uses, each behind a small
// inline helper with a portable fallback, so a port to another compiler
// touches this file alone.
#pragma once

#include <cstdint>

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

}  // namespace bplist
