// Integers, reals and dates from the texts of XML and JSON property lists,
// and the place of a fault in a text.
#include <cmath>
#include <cstring>
#include <limits>

#include "bplist/ShortestReal.h"
#include "bplist/Texts.h"
#include "bplist/Values.h"

namespace bplist {

namespace {

bool IsDigit(char ch) {
  return ch >= '0' && ch <= '9';
}

bool SameWord(std::string_view s, const char* word) {
  if (s.size() != std::strlen(word)) return false;
  for (size_t i = 0; i < s.size(); ++i) {
    char ch = s[i] >= 'A' && s[i] <= 'Z' ? char(s[i] - 'A' + 'a') : s[i];
    if (ch != word[i]) return false;
  }
  return true;
}

uint64_t BitsOf(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  return bits;
}

bool LeapYear(int64_t y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// Seconds from 1970-01-01 to 2001-01-01.
constexpr int64_t kEpochSeconds = 978307200;
// The most years a date may be from year 0: its seconds since 1970 stay
// inside an int64_t with a day to spare.
constexpr int64_t kMaxYears = 292277024000;

}  // namespace

std::string IntegerFromText(std::string_view s, bool hex, ValueKind* kind, uint64_t* bits) {
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  unsigned base = 10;
  if (hex && s.size() - i > 2 && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i == s.size()) return "an integer without digits";
  uint64_t v = 0;
  for (; i < s.size(); ++i) {
    char ch = s[i];
    unsigned d;
    if (IsDigit(ch)) {
      d = unsigned(ch - '0');
    } else if (base == 16 && ((ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F'))) {
      d = unsigned((ch | 0x20) - 'a' + 10);
    } else {
      return "the integer text \"" + std::string(s.substr(0, 40)) + "\" is not a number";
    }
    if (v > (std::numeric_limits<uint64_t>::max() - d) / base)
      return "the integer " + std::string(s.substr(0, 40)) + " is out of range";
    v = v * base + d;
  }
  if (negative) {
    if (v > uint64_t(1) << 63)
      return "the integer " + std::string(s.substr(0, 40)) + " is out of range";
    *kind = ValueKind::Int;
    *bits = uint64_t(0) - v;
  } else {
    *kind = v > uint64_t(std::numeric_limits<int64_t>::max()) ? ValueKind::BigInt : ValueKind::Int;
    *bits = v;
  }
  return "";
}

std::string RealFromText(std::string_view s, bool words, uint64_t* bits) {
  std::string bad = "the real text \"" + std::string(s.substr(0, 40)) + "\" is not a number";
  size_t i = 0;
  bool negative = false, plus = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) {
    negative = s[i] == '-';
    plus = s[i] == '+';
    ++i;
  }
  std::string_view rest = s.substr(i);
  if (words) {
    if (SameWord(rest, "nan")) {
      *bits = BitsOf(std::numeric_limits<double>::quiet_NaN());
      return "";
    }
    if (SameWord(rest, "inf") || SameWord(rest, "infinity")) {
      double inf = std::numeric_limits<double>::infinity();
      *bits = BitsOf(negative ? -inf : inf);
      return "";
    }
  }
  // The grammar first, so the conversion sees nothing it reads otherwise:
  // digits, an optional point and digits, an optional exponent.
  size_t j = i, intDigits = 0, leadingZeros = 0, fracDigits = 0;
  bool significant = false;
  for (; j < s.size() && IsDigit(s[j]); ++j, ++intDigits) {
    if (s[j] != '0') significant = true;
    if (significant) continue;
    ++leadingZeros;
  }
  size_t fracZeros = 0;
  if (j < s.size() && s[j] == '.') {
    for (++j; j < s.size() && IsDigit(s[j]); ++j, ++fracDigits) {
      if (s[j] != '0') significant = true;
      if (!significant) ++fracZeros;
    }
  }
  if (intDigits + fracDigits == 0) return bad;
  int64_t exponent = 0;
  if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
    ++j;
    bool negExp = false;
    if (j < s.size() && (s[j] == '-' || s[j] == '+')) negExp = s[j++] == '-';
    if (j == s.size()) return bad;
    for (; j < s.size() && IsDigit(s[j]); ++j)
      if (exponent < 100000000) exponent = exponent * 10 + (s[j] - '0');
    if (negExp) exponent = -exponent;
  }
  if (j != s.size()) return bad;
  double d = 0;
  const char* first = s.data() + i - (negative ? 1 : 0);
  const char* last = s.data() + s.size();
  (void)plus;
  // The grammar is checked: a text that does not read whole, or reads as
  // infinity or as zero with a digit that is not, is out of range.
  bool read = ReadDecimal(first, last, &d) == last;
  if (!read || !std::isfinite(d) || (d == 0 && significant)) {
    // Past the largest double, or below the smallest: the decimal exponent
    // of the first significant digit tells which.
    int64_t magnitude = int64_t(intDigits - leadingZeros) + exponent;
    if (intDigits == leadingZeros) magnitude = exponent - int64_t(fracZeros);
    if (magnitude > 0) return "the real " + std::string(s.substr(0, 40)) + " is out of range";
    d = negative ? -0.0 : 0.0;
  }
  *bits = BitsOf(d);
  return "";
}

std::string DateFromText(std::string_view s, uint64_t* bits) {
  std::string bad =
      "the date \"" + std::string(s.substr(0, 40)) + "\" is not of the form YYYY-MM-DDTHH:MM:SSZ";
  size_t i = 0;
  bool negative = i < s.size() && s[i] == '-';
  if (negative) ++i;
  int64_t year = 0;
  size_t yearDigits = 0;
  for (; i < s.size() && IsDigit(s[i]); ++i, ++yearDigits) {
    if (year > kMaxYears)
      return "the date \"" + std::string(s.substr(0, 40)) + "\" is out of range";
    year = year * 10 + (s[i] - '0');
  }
  if (yearDigits < 4 || year > kMaxYears) {
    if (yearDigits < 4) return bad;
    return "the date \"" + std::string(s.substr(0, 40)) + "\" is out of range";
  }
  if (negative) year = -year;
  // The rest has a fixed shape: -MM-DDTHH:MM:SSZ.
  static const char kShape[] = "-00-00T00:00:00Z";
  std::string_view rest = s.substr(i);
  if (rest.size() != sizeof kShape - 1) return bad;
  for (size_t k = 0; k < rest.size(); ++k)
    if (kShape[k] == '0' ? !IsDigit(rest[k]) : rest[k] != kShape[k]) return bad;
  auto two = [&](size_t at) {
    return unsigned(rest[at] - '0') * 10 + unsigned(rest[at + 1] - '0');
  };
  unsigned month = two(1), day = two(4), hour = two(7), minute = two(10), second = two(13);
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12 || day < 1 ||
      day > kDays[month - 1] + (month == 2 && LeapYear(year)) || hour > 23 || minute > 59 ||
      second > 59)
    return "the date \"" + std::string(s.substr(0, 40)) + "\" names no time";
  int64_t seconds = DaysFromCivil(year, month, day) * 86400 + int64_t(hour) * 3600 +
                    int64_t(minute) * 60 + int64_t(second) - kEpochSeconds;
  *bits = BitsOf(double(seconds));
  return "";
}

std::string LineAndColumn(const uint8_t* data, size_t at) {
  uint64_t line = 1, column = 1;
  for (size_t i = 0; i < at; ++i) {
    if (data[i] == '\n') {
      ++line;
      column = 1;
    } else if ((data[i] & 0xC0) != 0x80) {
      ++column;
    }
  }
  return " at line " + std::to_string(line) + ", column " + std::to_string(column);
}

ReadResult TextResult(bool ok, TreeBuilder& b, const std::string& error, const uint8_t* text,
                      size_t errorAt) {
  ReadResult r;
  if (!ok) {
    r.tooLarge = b.OverBudget();
    r.reason = error + LineAndColumn(text, errorAt);
    return r;
  }
  b.Finish();
  r.ok = true;
  return r;
}

}  // namespace bplist
