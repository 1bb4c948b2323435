// Exact references for the texts tarnwick writes for numbers, dates and
// strings, shared by the unit tests and the fuzz targets. They are written
// differently from the product on purpose, so that one mistake cannot sit in
// both: reals are expanded into their full decimal digits with a general big
// integer and rounded on the digit string; dates walk a table of year starts
// built by adding up year lengths; strings are decoded with a plain UTF-8
// decoder. None of it is fast, all of it is simple.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace exact {

// A non-negative integer of any size, 32-bit limbs, least significant first;
// no limbs for zero.
using Big = std::vector<uint32_t>;

inline void Trim(Big& a) {
  while (!a.empty() && a.back() == 0) a.pop_back();
}

inline Big FromU64(uint64_t v) {
  Big a{uint32_t(v), uint32_t(v >> 32)};
  Trim(a);
  return a;
}

// a := a * factor + add.
inline void MulAdd(Big& a, uint32_t factor, uint32_t add) {
  uint64_t carry = add;
  for (uint32_t& limb : a) {
    uint64_t cur = uint64_t(limb) * factor + carry;
    limb = uint32_t(cur);
    carry = cur >> 32;
  }
  if (carry != 0) a.push_back(uint32_t(carry));
}

inline Big Mul(const Big& a, const Big& b) {
  Big r(a.size() + b.size(), 0);
  for (size_t i = 0; i < a.size(); ++i) {
    uint64_t carry = 0;
    for (size_t j = 0; j < b.size(); ++j) {
      uint64_t cur = uint64_t(a[i]) * b[j] + r[i + j] + carry;
      r[i + j] = uint32_t(cur);
      carry = cur >> 32;
    }
    r[i + b.size()] = uint32_t(carry);
  }
  Trim(r);
  return r;
}

inline Big ShiftLeft(const Big& a, unsigned bits) {
  if (a.empty()) return a;
  Big r(bits / 32, 0);
  uint32_t carry = 0;
  for (uint32_t limb : a) {
    r.push_back(bits % 32 == 0 ? limb : limb << (bits % 32) | carry);
    carry = bits % 32 == 0 ? 0 : limb >> (32 - bits % 32);
  }
  r.push_back(carry);
  Trim(r);
  return r;
}

inline bool Bit(const Big& a, unsigned i) {
  return i / 32 < a.size() && (a[i / 32] >> (i % 32) & 1);
}

inline unsigned BitLength(const Big& a) {
  unsigned n = unsigned(a.size()) * 32;
  while (n > 0 && !Bit(a, n - 1)) --n;
  return n;
}

// floor(a / 2^bits).
inline Big ShiftRight(const Big& a, unsigned bits) {
  Big r;
  for (size_t i = bits / 32; i < a.size(); ++i) {
    uint64_t above = i + 1 < a.size() ? uint64_t(a[i + 1]) << 32 : 0;
    r.push_back(uint32_t((above | a[i]) >> (bits % 32)));
  }
  Trim(r);
  return r;
}

// a mod 2^bits.
inline Big LowBits(const Big& a, unsigned bits) {
  Big r(a.begin(), a.begin() + std::min<size_t>(a.size(), (bits + 31) / 32));
  if (bits % 32 != 0 && r.size() == (bits + 31) / 32) r.back() &= (uint32_t(1) << (bits % 32)) - 1;
  Trim(r);
  return r;
}

// -1, 0 or 1 as a is below, equal to or above b.
inline int Compare(const Big& a, const Big& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (size_t i = a.size(); i-- > 0;)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

// Decimal digits of a, by long division by ten.
inline std::string Decimal(Big a) {
  std::string digits;
  while (!a.empty()) {
    uint64_t rem = 0;
    for (size_t i = a.size(); i-- > 0;) {
      uint64_t cur = rem << 32 | a[i];
      a[i] = uint32_t(cur / 10);
      rem = cur % 10;
    }
    Trim(a);
    digits.insert(digits.begin(), char('0' + rem));
  }
  return digits.empty() ? "0" : digits;
}

// The first `count` decimal digits after the point of num / 2^shift (a
// value below 1), by multiplying the remainder by ten and taking the bits
// that pass the point, as on paper.
inline std::string FractionDigits(Big num, unsigned shift, size_t count) {
  std::string digits;
  for (size_t i = 0; i < count && !num.empty(); ++i) {
    MulAdd(num, 10, 0);
    int digit = 0;
    for (unsigned b = 4; b-- > 0;) digit = digit * 2 + Bit(num, shift + b);
    digits.push_back(char('0' + digit));
    // Keep the bits below the point, in place.
    num.resize(std::min<size_t>(num.size(), (shift + 31) / 32));
    if (shift % 32 != 0 && num.size() == (shift + 31) / 32)
      num.back() &= (uint32_t(1) << (shift % 32)) - 1;
    Trim(num);
  }
  return digits;
}

// Adds one unit in the last place of a string of decimal digits; returns
// false when it overflows (all nines become zeros).
inline bool IncrementDigits(std::string& digits) {
  for (size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return true;
    }
    digits[i] = '0';
  }
  return false;
}

inline void DropTrailingZeros(std::string& digits) {
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
}

// Digits after the point for the fraction num / 2^shift when it is 0.00001
// or more: raised by one part in 2^52 and rounded to a 64-bit significand
// (ties to even), rounded half up at the 15th decimal, 14 kept. Sets *carry
// when the rounding reaches 1.
inline std::string RaisedFraction(const Big& num, unsigned shift, bool* carry) {
  Big raised = Mul(num, FromU64((uint64_t(1) << 52) + 1));
  unsigned scale = shift + 52, length = BitLength(raised);
  if (length > 64) {
    unsigned drop = length - 64;
    Big kept = ShiftRight(raised, drop), rest = LowBits(raised, drop);
    Big half = ShiftLeft(FromU64(1), drop - 1);
    int side = Compare(rest, half);
    if (side > 0 || (side == 0 && Bit(kept, 0))) MulAdd(kept, 1, 1);
    raised = kept;
    scale -= drop;
  }
  // Rounding to 64 bits can reach 1 itself.
  *carry = Compare(raised, ShiftLeft(FromU64(1), scale)) >= 0;
  if (*carry) return "";
  std::string digits = FractionDigits(raised, scale, 16);
  digits.resize(16, '0');
  bool up = digits[15] >= '5';
  digits.resize(15);
  *carry = up && !IncrementDigits(digits);
  if (*carry) return "";
  digits.resize(14);
  DropTrailingZeros(digits);
  return digits;
}

// Digits after the point for a fraction below 0.00001: its first 15
// significant digits, rounded half up, trailing zeros removed.
inline std::string TinyFraction(const Big& num, unsigned shift) {
  // The leading zeros come from the bit length alone: fewer than
  // (shift - bits) * log10(2) + 1 of them; generate past them and 16 more.
  size_t enough = size_t((shift - BitLength(num)) * 0.302) + 24;
  std::string all = FractionDigits(num, shift, enough);
  size_t first = all.find_first_not_of('0');
  std::string digits = all.substr(first, 16);
  digits.resize(16, '0');
  bool up = digits[15] >= '5';
  digits.resize(15);
  std::string zeros(first, '0');
  if (up && !IncrementDigits(digits)) {  // 99..9 becomes 10..0, one place up
    digits.insert(digits.begin(), '1');
    zeros.pop_back();
  }
  std::string out = zeros + digits;
  DropTrailingZeros(out);
  return out;
}

// The text of the 8-byte real with IEEE bits `bits`: sign, every digit of
// the integer part, ".", then the fraction's digits.
inline std::string RealText(uint64_t bits) {
  std::string sign = bits >> 63 ? "-" : "";
  unsigned field = unsigned(bits >> 52 & 0x7FF);
  uint64_t fraction = bits & ((uint64_t(1) << 52) - 1);
  if (field == 0x7FF) return fraction != 0 ? "nan" : bits >> 63 ? "-infinity" : "+infinity";
  // The value is significand * 2^power.
  uint64_t significand = field == 0 ? fraction : fraction + (uint64_t(1) << 52);
  int power = field == 0 ? -1074 : int(field) - 1075;
  Big value = FromU64(significand);
  if (power >= 0) return sign + Decimal(ShiftLeft(value, unsigned(power))) + ".";
  unsigned shift = unsigned(-power);
  std::string integer = Decimal(ShiftRight(value, shift));
  Big num = LowBits(value, shift);
  if (num.empty()) return sign + integer + ".";
  // 0.00001 <= num / 2^shift, exactly: num * 100000 >= 2^shift.
  Big scaled = num;
  MulAdd(scaled, 100000, 0);
  if (Compare(scaled, ShiftLeft(FromU64(1), shift)) < 0)
    return sign + integer + "." + TinyFraction(num, shift);
  bool carry;
  std::string digits = RaisedFraction(num, shift, &carry);
  if (carry) {
    Big up = ShiftRight(value, shift);
    MulAdd(up, 1, 1);
    integer = Decimal(up);
  }
  return sign + integer + "." + digits;
}

// Dates: seconds from 2001-01-01T00:00:00Z in the proleptic Gregorian
// calendar; the table of year starts covers the years 0000 to 9999.
constexpr int kFirstYear = 0, kLastYear = 9999;

inline bool IsLeap(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days from 2001-01-01 to January 1 of kFirstYear + i, for i up to one past
// kLastYear, by adding up year lengths from 2001 in both directions.
inline const std::vector<int64_t>& YearStarts() {
  static const std::vector<int64_t> starts = [] {
    std::vector<int64_t> s(kLastYear - kFirstYear + 2);
    int64_t day = 0;
    for (int y = 2001; y <= kLastYear + 1; day += IsLeap(y) ? 366 : 365, ++y)
      s[size_t(y - kFirstYear)] = day;
    day = 0;
    for (int y = 2000; y >= kFirstYear; --y) {
      day -= IsLeap(y) ? 366 : 365;
      s[size_t(y - kFirstYear)] = day;
    }
    return s;
  }();
  return starts;
}

// Seconds from 2001-01-01T00:00:00Z to the start of January 1 of `year`
// (kFirstYear to kLastYear + 1).
inline int64_t YearStartSecond(int year) {
  return YearStarts()[size_t(year - kFirstYear)] * 86400;
}

inline std::string TwoDigits(int64_t v) {
  return std::string{char('0' + v / 10), char('0' + v % 10)};
}

// The text YYYY-MM-DDTHH:MM:SSZ of `seconds`, fractions dropped toward the
// past, in any year: a day outside the table is moved into it by whole
// cycles of 400 years (146,097 days), which repeat the calendar. The year
// has at least four digits and a minus sign before year 0. False when the
// value is not finite or its whole seconds do not fit 64 bits.
inline bool DateText(double seconds, std::string* text) {
  if (!std::isfinite(seconds)) return false;
  double whole = std::floor(seconds);
  if (whole < -9223372036854775808.0 || whole >= 9223372036854775808.0) return false;
  int64_t t = int64_t(whole);
  // Split without multiplying back: day * 86400 overflows at the range's ends.
  int64_t rest = t % 86400, day = t / 86400 - (rest < 0), second = rest < 0 ? rest + 86400 : rest;
  const std::vector<int64_t>& starts = YearStarts();
  int64_t shift = 0;  // cycles of 400 years added to bring the day into the table
  if (day < starts.front()) shift = (starts.front() - day + 146096) / 146097;
  if (day >= starts.back()) shift = -((day - starts.back()) / 146097 + 1);
  day += shift * 146097;
  size_t index = size_t(std::upper_bound(starts.begin(), starts.end(), day) - starts.begin()) - 1;
  int64_t year = kFirstYear + int64_t(index) - 400 * shift;
  int64_t dayOfYear = day - starts[index];
  const int lengths[12] = {
      31, IsLeap(kFirstYear + int64_t(index)) ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int month = 0;
  while (dayOfYear >= lengths[month]) dayOfYear -= lengths[month++];
  std::string digits = std::to_string(year < 0 ? -year : year);
  if (digits.size() < 4) digits.insert(0, 4 - digits.size(), '0');
  *text = (year < 0 ? "-" : "") + digits + "-" + TwoDigits(month + 1) + "-" +
          TwoDigits(dayOfYear + 1) + "T" + TwoDigits(second / 3600) + ":" +
          TwoDigits(second / 60 % 60) + ":" + TwoDigits(second % 60) + "Z";
  return true;
}

// Integers: value bytes p[0, width) of an integer object. 1, 2 and 4 bytes
// are unsigned; of wider values only the last 8 bytes count, unsigned for 16
// bytes and two's complement otherwise.
inline std::string IntegerText(const uint8_t* p, size_t width) {
  size_t from = width <= 4 ? 0 : width - 8;
  Big v;
  for (size_t i = from; i < width; ++i) MulAdd(v, 256, p[i]);
  bool isSigned = width > 4 && width != 16;
  if (!isSigned || (p[from] & 0x80) == 0) return Decimal(v);
  // The negative value's magnitude is 2^64 - v.
  Big two64 = ShiftLeft(FromU64(1), 64), magnitude;
  uint64_t borrow = 0;
  for (size_t i = 0; i < two64.size(); ++i) {
    int64_t cur = int64_t(two64[i]) - int64_t(i < v.size() ? v[i] : 0) - int64_t(borrow);
    borrow = cur < 0;
    magnitude.push_back(uint32_t(cur + (cur < 0 ? int64_t(1) << 32 : 0)));
  }
  Trim(magnitude);
  return "-" + Decimal(magnitude);
}

// UIDs: the unsigned big-endian value of p[0, width).
inline std::string UidText(const uint8_t* p, size_t width) {
  Big v;
  for (size_t i = 0; i < width; ++i) MulAdd(v, 256, p[i]);
  return Decimal(v);
}

// Strings: the element text of a code point, with & < > and carriage
// return escaped and what XML 1.0 cannot carry replaced by U+FFFD.
inline void AppendEscaped(std::string& out, uint32_t cp) {
  if (cp == '&') return void(out += "&amp;");
  if (cp == '<') return void(out += "&lt;");
  if (cp == '>') return void(out += "&gt;");
  if (cp == '\r') return void(out += "&#13;");
  bool allowed = cp == '\t' || cp == '\n' || (cp >= 0x20 && cp <= 0xD7FF) ||
                 (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
  if (!allowed) cp = 0xFFFD;
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += {char(0xC0 + (cp >> 6)), char(0x80 + cp % 64)};
  } else if (cp < 0x10000) {
    out += {char(0xE0 + (cp >> 12)), char(0x80 + (cp >> 6) % 64), char(0x80 + cp % 64)};
  } else {
    out += {char(0xF0 + (cp >> 18)), char(0x80 + (cp >> 12) % 64), char(0x80 + (cp >> 6) % 64),
            char(0x80 + cp % 64)};
  }
}

// Decodes p[0, n) as UTF-8 into code points; false on any ill-formed
// sequence (bad or missing continuation bytes, overlong forms, surrogates,
// values past U+10FFFF).
inline bool DecodeUtf8(const uint8_t* p, size_t n, std::vector<uint32_t>* cps) {
  for (size_t i = 0; i < n;) {
    uint8_t lead = p[i];
    size_t extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 9;
    if (extra == 9 || lead >= 0xF8 || i + extra >= n) return false;
    uint32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k) {
      if (p[i + k] >> 6 != 2) return false;
      cp = cp << 6 | (p[i + k] & 0x3F);
    }
    const uint32_t least[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < least[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    cps->push_back(cp);
    i += extra + 1;
  }
  return true;
}

// The text of an 8-bit string: its UTF-8 when it is valid, else its bytes
// as Latin-1.
inline std::string Escaped8(const uint8_t* p, size_t n) {
  std::vector<uint32_t> cps;
  if (!DecodeUtf8(p, n, &cps)) cps.assign(p, p + n);
  std::string out;
  for (uint32_t cp : cps) AppendEscaped(out, cp);
  return out;
}

// The text of `units` big-endian UTF-16 code units: pairs joined, a lone
// surrogate replaced.
inline std::string Escaped16(const uint8_t* p, size_t units) {
  std::string out;
  for (size_t i = 0; i < units; ++i) {
    uint32_t u = uint32_t(p[2 * i]) * 256 + p[2 * i + 1];
    uint32_t next = i + 1 < units ? uint32_t(p[2 * i + 2]) * 256 + p[2 * i + 3] : 0;
    if (u >= 0xD800 && u < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
      AppendEscaped(out, 0x10000 + (u - 0xD800) * 0x400 + (next - 0xDC00));
      ++i;
    } else {
      AppendEscaped(out, u >= 0xD800 && u < 0xE000 ? 0xFFFD : u);
    }
  }
  return out;
}

}  // namespace exact
