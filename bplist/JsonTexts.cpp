// Texts of reals and dates in a JSON document, which keep every value
// exactly where the XML texts round.
#include <cmath>
#include <cstring>

#include "bplist/ShortestReal.h"
#include "bplist/Texts.h"

namespace bplist {

namespace {

// The strings for the values JSON numbers cannot hold, or "" for a number.
template <typename Real>
const char* NonNumber(Real v) {
  if (std::isnan(v)) return "\"nan\"";
  if (std::isinf(v)) return v > 0 ? "\"+infinity\"" : "\"-infinity\"";
  return "";
}

// The shortest text that reads as the real v. A whole number in fixed
// notation needs ".0" to read as a real ("3" becomes "3.0", "-0" "-0.0"),
// and then scientific notation may be shorter (1e21 is "1e+21", not
// "1000000000000000000000.0"); fixed notation is kept on a tie.
template <typename Real>
std::string ShortestText(Real v) {
  const char* special = NonNumber(v);
  if (*special != '\0') return special;
  char fixed[kMaxShortestText];
  std::string text(fixed, PutShortestText(fixed, v));
  if (text.find_first_of(".e") != std::string::npos) return text;
  char scientific[kMaxShortestText];
  char* end = PutScientificText(scientific, v);
  if (size_t(end - scientific) < text.size() + 2) return std::string(scientific, end);
  return text + ".0";
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
  int64_t whole;
  uint32_t micros;
  if (!SplitSeconds(seconds, &whole, &micros)) return false;
  WholeDateText(whole, text);
  if (micros == 0) return true;
  char digits[7] = {'.', '0', '0', '0', '0', '0', '0'};
  for (int i = 6; i >= 1; --i, micros /= 10) digits[i] = char('0' + micros % 10);
  size_t length = 7;
  while (digits[length - 1] == '0') --length;
  text->insert(text->size() - 1, digits, length);
  return true;
}

}  // namespace bplist
