// Decimal texts of integers, UIDs and reals.
#include <cmath>
#include <cstring>
#include <vector>

#include "bplist/Context.h"
#include "bplist/Texts.h"

namespace bplist {

namespace {

using u128 = unsigned __int128;

// Writes the decimal digits of v at dst and returns their end.
char* PutDecimal(char* dst, uint64_t v) {
  char buf[20];
  char* p = buf + sizeof buf;
  do {
    *--p = char('0' + v % 10);
    v /= 10;
  } while (v != 0);
  size_t n = size_t(buf + sizeof buf - p);
  std::memcpy(dst, p, n);
  return dst + n;
}

std::string Decimal(uint64_t v) {
  char buf[20];
  return std::string(buf, PutDecimal(buf, v));
}

// The wide form, for UIDs of more than eight bytes and rounding arithmetic.
std::string Decimal(u128 v) {
  if (v >> 64 == 0) return Decimal(uint64_t(v));
  u128 tenPow19 = u128(10000000000000000000ull);
  std::string low = Decimal(uint64_t(v % tenPow19));
  return Decimal(v / tenPow19) + std::string(19 - low.size(), '0') + low;
}

// A non-negative integer of any size as 32-bit limbs, least significant first.
using BigNum = std::vector<uint32_t>;

// Decimal text of m * 2^shift, exactly.
std::string ShiftedDecimal(uint64_t m, unsigned shift) {
  BigNum n(shift / 32 + 3, 0);
  unsigned word = shift / 32, bit = shift % 32;
  u128 placed = u128(m) << bit;
  for (unsigned i = 0; i < 3 && placed != 0; ++i, placed >>= 32) n[word + i] = uint32_t(placed);
  std::string digits;
  // Peel off nine decimal digits at a time.
  while (n.size() > 1 || n[0] != 0) {
    uint64_t rem = 0;
    for (size_t i = n.size(); i-- > 0;) {
      uint64_t cur = rem << 32 | n[i];
      n[i] = uint32_t(cur / 1000000000);
      rem = cur % 1000000000;
    }
    while (n.size() > 1 && n.back() == 0) n.pop_back();
    for (int i = 0; i < 9; ++i, rem /= 10) digits.push_back(char('0' + rem % 10));
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  return std::string(digits.rbegin(), digits.rend());
}

// floor(m * 10^k / 2^shift) for a result below 2^64 (k <= shift): m * 5^k
// exactly, then shifted right by shift - k bits.
uint64_t ScaledFloor(uint64_t m, unsigned k, unsigned shift) {
  BigNum n{uint32_t(m), uint32_t(m >> 32)};
  // Multiply by 5^k, thirteen factors of five (5^13 < 2^32) at a time.
  for (unsigned left = k; left > 0;) {
    unsigned step = left < 13 ? left : 13;
    uint64_t factor = 1;
    for (unsigned i = 0; i < step; ++i) factor *= 5;
    uint64_t carry = 0;
    for (uint32_t& limb : n) {
      uint64_t cur = uint64_t(limb) * factor + carry;
      limb = uint32_t(cur);
      carry = cur >> 32;
    }
    if (carry != 0) n.push_back(uint32_t(carry));
    left -= step;
  }
  unsigned drop = shift - k, word = drop / 32, bit = drop % 32;
  u128 window = 0;
  for (unsigned i = 0; i < 4 && word + i < n.size(); ++i) window |= u128(n[word + i]) << (32 * i);
  return uint64_t(window >> bit);
}

// Digits of m / 2^shift for a fraction below 0.00001 (the first digits
// after the point are zeros), rounded half up to 15 significant digits with
// trailing zeros removed. Fifteen digits read back as the same value to at
// least 14 significant digits, and the text stays plain decimal however
// small the value (down to the smallest subnormal).
std::string TinyFraction(uint64_t m, unsigned shift) {
  constexpr uint64_t kLow = 1000000000000000ull, kHigh = 10 * kLow;  // 10^15, 10^16
  // Pick k so that the fraction times 10^k has sixteen digits; the estimate
  // from logarithms can be one off either way, which the loop mends.
  double log10Value = std::log10(double(m)) - shift * 0.30102999566398120;
  unsigned k = unsigned(15 - std::floor(log10Value));
  uint64_t d = ScaledFloor(m, k, shift);
  while (d >= kHigh) d = ScaledFloor(m, --k, shift);
  while (d < kLow) d = ScaledFloor(m, ++k, shift);
  // The fraction lies in [10^(15-k), 10^(16-k)): k - 16 zeros come first.
  std::string zeros(k - 16, '0');
  uint64_t kept = d / 10 + (d % 10 >= 5);
  if (kept == kLow) {  // 9.99...e-n rounded to 1e-(n-1): one leading zero fewer
    zeros.pop_back();
    kept /= 10;
  }
  std::string out = zeros + Decimal(kept);
  while (out.back() == '0') out.pop_back();
  return out;
}

}  // namespace

char* PutIntegerText(char* dst, const uint8_t* p, size_t width) {
  uint64_t v = width <= 4 ? ReadBigEndian(p, unsigned(width)) : ReadBigEndian(p + width - 8, 8);
  // 1, 2 and 4 bytes hold unsigned values and so do 16 (unsigned 64-bit
  // values); 8 bytes and every other width are signed.
  if (width > 4 && width != 16 && int64_t(v) < 0) {
    *dst++ = '-';
    v = uint64_t(0) - v;
  }
  return PutDecimal(dst, v);
}

std::string UidText(const uint8_t* p, size_t width) {
  u128 v = 0;
  for (size_t i = 0; i < width; ++i) v = v << 8 | p[i];
  return Decimal(v);
}

std::string BinFrac2Dec(uint64_t m, unsigned shift, bool* carry) {
  *carry = false;
  if (m == 0) return "";
  // Fractions of 0.00001 and above: raise by one part in 2^52, rounding to
  // a 64-bit significand; round half up at the 15th decimal; keep 14.
  if (shift < 120 && u128(m) * 100000 >= u128(1) << shift) {
    u128 p = u128(m) * ((u128(1) << 52) + 1);
    unsigned e = shift + 52;  // the raised fraction is p / 2^e
    uint64_t high = uint64_t(p >> 64);
    unsigned bits = high != 0 ? 128 - unsigned(__builtin_clzll(high))
                              : 64 - unsigned(__builtin_clzll(uint64_t(p)));
    if (bits > 64) {
      unsigned drop = bits - 64;
      u128 rest = p & ((u128(1) << drop) - 1), half = u128(1) << (drop - 1);
      p >>= drop;
      e -= drop;
      if (rest > half || (rest == half && (p & 1))) ++p;
    }
    u128 scaled = p * 1000000000000000ull;  // p < 2^65, so this fits
    u128 digits = scaled >> e;
    if ((scaled >> (e - 1)) & 1) ++digits;
    if (digits >= 1000000000000000ull) {
      *carry = true;
      return "";
    }
    std::string text = Decimal(digits);
    text.insert(0, 15 - text.size(), '0');
    text.resize(14);
    while (!text.empty() && text.back() == '0') text.pop_back();
    return text;
  }
  return TinyFraction(m, shift);
}

std::string BinaryToReal(uint64_t bits) {
  bool negative = bits >> 63;
  unsigned exponent = unsigned(bits >> 52) & 0x7FF;
  uint64_t fraction = bits & ((uint64_t(1) << 52) - 1);
  std::string sign = negative ? "-" : "";
  if (exponent == 0x7FF) return fraction != 0 ? "nan" : negative ? "-infinity" : "+infinity";
  if (exponent == 0 && fraction == 0) return sign + "0.";
  // The value is m * 2^(level - 52); subnormals have level -1022 and no
  // implicit leading bit.
  uint64_t m = exponent == 0 ? fraction : fraction | uint64_t(1) << 52;
  int level = exponent == 0 ? -1022 : int(exponent) - 1023;
  if (level >= 52) return sign + ShiftedDecimal(m, unsigned(level - 52)) + ".";
  uint64_t integer = 0, frac = m;
  unsigned shift = unsigned(52 - level);
  if (level >= 0) {
    integer = m >> shift;
    frac = m & ((uint64_t(1) << shift) - 1);
  }
  bool carry;
  std::string digits = BinFrac2Dec(frac, shift, &carry);
  if (carry) ++integer;
  return sign + Decimal(integer) + "." + digits;
}

}  // namespace bplist
