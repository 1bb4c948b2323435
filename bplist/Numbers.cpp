// Decimal texts of integers, UIDs and reals.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "bplist/Bits.h"
#include "bplist/Texts.h"

namespace bplist {

namespace {

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

// A non-negative integer of any size as 32-bit limbs, least significant first.
using BigNum = std::vector<uint32_t>;

// Decimal text of n (which it uses up), without leading zeros.
std::string Decimal(BigNum n) {
  std::string digits;
  // Peel off nine decimal digits at a time.
  while (!n.empty()) {
    uint64_t rem = 0;
    for (size_t i = n.size(); i-- > 0;) {
      uint64_t cur = rem << 32 | n[i];
      n[i] = uint32_t(cur / 1000000000);
      rem = cur % 1000000000;
    }
    while (!n.empty() && n.back() == 0) n.pop_back();
    for (int i = 0; i < 9; ++i, rem /= 10) digits.push_back(char('0' + rem % 10));
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  if (digits.empty()) digits = "0";
  return std::string(digits.rbegin(), digits.rend());
}

// Decimal text of m * 2^shift, exactly.
std::string ShiftedDecimal(uint64_t m, unsigned shift) {
  BigNum n(shift / 32 + 3, 0);
  unsigned word = shift / 32, bit = shift % 32;
  uint64_t low = m << bit, high = bit == 0 ? 0 : m >> (64 - bit);
  n[word] = uint32_t(low);
  n[word + 1] = uint32_t(low >> 32);
  n[word + 2] = uint32_t(high);
  return Decimal(std::move(n));
}

// floor(m * 10^k / 2^shift) for a result below 2^64: m * 5^k exactly, then
// shifted right by shift - k bits, or left by k - shift.
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
  // The 96 bits of m * 5^k from bit `drop` on hold the result.
  unsigned drop = k < shift ? shift - k : 0, word = drop / 32, bit = drop % 32;
  auto limb = [&](unsigned i) -> uint64_t { return word + i < n.size() ? n[word + i] : 0; };
  uint64_t low = limb(0) | limb(1) << 32, high = limb(2);
  uint64_t result = bit == 0 ? low : low >> bit | high << (64 - bit);
  return k > shift ? result << (k - shift) : result;
}

// A 128-bit unsigned number as two 64-bit halves, for the rounding arithmetic.
struct Wide {
  uint64_t high, low;
};

// The full product a * b.
Wide Multiply(uint64_t a, uint64_t b) {
  uint64_t a0 = uint32_t(a), a1 = a >> 32, b0 = uint32_t(b), b1 = b >> 32;
  uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  uint64_t middle = (p00 >> 32) + uint32_t(p01) + uint32_t(p10);
  return {p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), middle << 32 | uint32_t(p00)};
}

// The low 64 bits of floor(w / 2^n).
uint64_t ShiftRight(Wide w, unsigned n) {
  if (n >= 128) return 0;
  if (n >= 64) return w.high >> (n - 64);
  return n == 0 ? w.low : w.low >> n | w.high << (64 - n);
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
  if (width <= 8) return Decimal(ReadBigEndian(p, unsigned(width)));
  BigNum n((width + 3) / 4, 0);
  for (size_t i = 0; i < width; ++i) n[i / 4] |= uint32_t(p[width - 1 - i]) << (8 * (i % 4));
  return Decimal(std::move(n));
}

std::string BinFrac2Dec(uint64_t m, unsigned shift, bool* carry) {
  *carry = false;
  if (m == 0) return "";
  // Fractions of 0.00001 and above: raise by one part in 2^52, rounding to
  // a 64-bit significand; round half up at the 15th decimal; keep 14.
  if (ShiftRight(Multiply(m, 100000), shift) == 0) return TinyFraction(m, shift);
  // The raised fraction p / 2^e, p = m * (2^52 + 1) < 2^106.
  Wide p{m >> 12, m << 52};
  p.low += m;
  if (p.low < m) ++p.high;
  unsigned e = shift + 52;
  unsigned bits = p.high != 0 ? 128 - LeadingZeros64(p.high) : 64 - LeadingZeros64(p.low);
  uint64_t q = p.low;
  if (bits > 64) {
    unsigned drop = bits - 64;  // at most 42
    uint64_t rest = p.low & ((uint64_t(1) << drop) - 1), half = uint64_t(1) << (drop - 1);
    q = ShiftRight(p, drop);
    e -= drop;
    if (rest > half || (rest == half && (q & 1))) {
      if (++q == 0) {  // rounded up to 2^64, which is 2^63 / 2^-1
        q = uint64_t(1) << 63;
        --e;
      }
    }
  }
  Wide scaled = Multiply(q, 1000000000000000ull);
  uint64_t digits = ShiftRight(scaled, e) + (ShiftRight(scaled, e - 1) & 1);
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
