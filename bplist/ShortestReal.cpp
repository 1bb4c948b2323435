// The shortest round-trip text of a real without std::to_chars: the fewest
// significant digits that read back as the value (found with snprintf's
// correctly rounded digits and strtod), the closest such digits to the value,
// then fixed or scientific notation, whichever is shorter (fixed on a tie).
#include "bplist/ShortestReal.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace bplist {

namespace {

// Significant digits that always read back: 17 for a double, 9 for a float.
template <typename Real>
constexpr int kMaxDigits = sizeof(Real) == 8 ? 17 : 9;

template <typename Real>
Real ReadBack(const char* text) {
  if constexpr (sizeof(Real) == 8) {
    return std::strtod(text, nullptr);
  } else {
    return std::strtof(text, nullptr);
  }
}

// Significant digits and the exponent of the first one: the value is
// d[0].d[1]... times ten to the `exponent`.
struct Digits {
  std::string d;
  int exponent = 0;
};

// The `count` digits nearest to v (positive, finite), correctly rounded.
Digits Nearest(double v, int count) {
  char text[kMaxShortestText + 16];
  std::snprintf(text, sizeof text, "%.*e", count - 1, v);
  Digits out;
  const char* e = std::strchr(text, 'e');
  for (const char* p = text; p < e; ++p)
    if (*p != '.') out.d += *p;
  out.exponent = std::atoi(e + 1);
  return out;
}

// Moves the digits one unit of their last place up or down; the exponent
// follows a carry (9.99 to 10.0) or a borrow (1.00 to 0.999).
Digits Step(Digits x, int direction) {
  std::string& d = x.d;
  if (direction > 0) {
    size_t i = d.size();
    while (i > 0 && d[i - 1] == '9') d[--i] = '0';
    if (i == 0) {
      d.insert(d.begin(), '1');
      d.pop_back();
      ++x.exponent;
    } else {
      ++d[i - 1];
    }
  } else {
    size_t i = d.size();
    while (i > 0 && d[i - 1] == '0') d[--i] = '9';
    if (i > 0) --d[i - 1];
    if (d[0] == '0') {  // 1.00 became 0.99: one digit more at the bottom
      d.erase(d.begin());
      d += '9';
      --x.exponent;
    }
  }
  return x;
}

template <typename Real>
bool ReadsBackAs(const Digits& x, Real v) {
  std::string text = x.d.substr(0, 1) + "." + x.d.substr(1) + "e" + std::to_string(x.exponent);
  return ReadBack<Real>(text.c_str()) == v;
}

// The shortest digits that read back as v, the nearest to v among them.
// Some `count`-digit text reads back exactly when the nearest one or one of
// its neighbours does (the interval that reads back as v holds v), and a
// count that works makes every larger one work, so the count is searched by
// halves.
template <typename Real>
Digits Shortest(Real v) {
  auto found = [v](int count, Digits* out) {
    Digits nearest = Nearest(double(v), count);
    for (const Digits& x : {nearest, Step(nearest, -1), Step(nearest, +1)}) {
      if (x.d.size() == size_t(count) && x.d[0] != '0' && ReadsBackAs(x, v)) {
        *out = x;
        return true;
      }
    }
    return false;
  };
  Digits best;
  int low = 1, high = kMaxDigits<Real>;
  found(high, &best);
  while (low < high) {
    int mid = (low + high) / 2;
    Digits x;
    if (found(mid, &x)) {
      best = x;
      high = mid;
    } else {
      low = mid + 1;
    }
  }
  while (best.d.size() > 1 && best.d.back() == '0') best.d.pop_back();
  return best;
}

// The text of the digits in fixed and in scientific notation, the shorter.
// A whole number in fixed notation is written with all its exact digits, as
// std::to_chars does, rather than the shortest ones padded with zeros: the
// length is the same. With `scientific` the scientific text is written
// whatever its length.
char* Put(char* first, bool negative, double magnitude, const Digits& x, bool scientific) {
  const std::string& d = x.d;
  int n = int(d.size()), e = x.exponent;
  std::string fixed;
  if (e < 0) {
    fixed = "0." + std::string(size_t(-e - 1), '0') + d;
  } else if (e >= n - 1) {
    char exact[kMaxShortestText + 8];
    std::snprintf(exact, sizeof exact, "%.0f", e < int(kMaxShortestText) ? magnitude : 0.0);
    fixed = e < int(kMaxShortestText) ? exact : std::string(size_t(e) + 1, '0');
  } else {
    fixed = d.substr(0, size_t(e) + 1) + "." + d.substr(size_t(e) + 1);
  }
  char exponent[16];  // "e", a sign and the digits of any int
  std::snprintf(exponent, sizeof exponent, "e%c%02d", e < 0 ? '-' : '+', e < 0 ? -e : e);
  std::string scientificText = d.substr(0, 1) + (n > 1 ? "." + d.substr(1) : "") + exponent;
  const std::string& text =
      !scientific && fixed.size() <= scientificText.size() ? fixed : scientificText;
  if (negative) *first++ = '-';
  std::memcpy(first, text.data(), text.size());
  return first + text.size();
}

template <typename Real>
char* ShortestText(char* first, Real v, bool scientific) {
  bool negative = std::signbit(v);
  if (v == 0) {
    if (negative) *first++ = '-';
    const char* zero = scientific ? "0e+00" : "0";
    size_t n = std::strlen(zero);
    std::memcpy(first, zero, n);
    return first + n;
  }
  Real magnitude = negative ? -v : v;
  return Put(first, negative, double(magnitude), Shortest(magnitude), scientific);
}

}  // namespace

char* ShortestTextPortable(char* first, double v) {
  return ShortestText(first, v, false);
}

char* ShortestTextPortable(char* first, float v) {
  return ShortestText(first, v, false);
}

char* ScientificTextPortable(char* first, double v) {
  return ShortestText(first, v, true);
}

char* ScientificTextPortable(char* first, float v) {
  return ShortestText(first, v, true);
}

}  // namespace bplist
