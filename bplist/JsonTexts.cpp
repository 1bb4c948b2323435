// Texts of reals and dates in a JSON document, which keep every value
// exactly where the XML texts round.
#include <cmath>
#include <cstring>

#include "bplist/ShortestReal.h"
#include "bplist/Texts.h"

namespace bplist {

namespace {

constexpr double kMicrosecondsPerSecond = 1e6;

// Makes a number text read as a real: "3" becomes "3.0", "-0" "-0.0";
// texts with a point or an exponent stay as they are.
std::string AsReal(const char* begin, const char* end) {
  std::string text(begin, end);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

// The strings for the values JSON numbers cannot hold, or "" for a number.
template <typename Real>
const char* NonNumber(Real v) {
  if (std::isnan(v)) return "\"nan\"";
  if (std::isinf(v)) return v > 0 ? "\"+infinity\"" : "\"-infinity\"";
  return "";
}

template <typename Real>
std::string ShortestText(Real v) {
  const char* special = NonNumber(v);
  if (*special != '\0') return special;
  char buf[kMaxShortestText];
  return AsReal(buf, PutShortestText(buf, v));
}

}  // namespace

std::string JsonRealText(uint64_t bits) {
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return ShortestText(v);
}

std::string JsonFloatText(uint32_t bits) {
  float v;
  std::memcpy(&v, &bits, sizeof v);
  return ShortestText(v);
}

bool JsonDateText(double seconds, std::string* text) {
  if (!std::isfinite(seconds)) return false;
  double whole = std::floor(seconds);
  // Exact: the fraction's bits are the value's own. Rounded half to even,
  // as Python's datetime rounds a float of seconds.
  double micros = std::nearbyint((seconds - whole) * kMicrosecondsPerSecond);
  if (micros >= kMicrosecondsPerSecond) {
    // Rounds up to the next second, unless that would leave the years
    // written: then the last microsecond of this one.
    if (DateText(whole + 1, text)) return true;
    micros = kMicrosecondsPerSecond - 1;
  }
  if (!DateText(whole, text)) return false;
  if (micros == 0) return true;
  char digits[7] = {'.', '0', '0', '0', '0', '0', '0'};
  unsigned v = unsigned(micros);
  for (int i = 6; i >= 1; --i, v /= 10) digits[i] = char('0' + v % 10);
  size_t length = 7;
  while (digits[length - 1] == '0') --length;
  text->insert(text->size() - 1, digits, length);
  return true;
}

}  // namespace bplist
