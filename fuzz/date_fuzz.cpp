// The text of dates against the exact reference. The input's first eight
// bytes, big-endian, are read twice: as the date's double, which is mostly
// far outside the years, and as a whole number of seconds folded into the
// years 0000 to 9999 with a fraction taken from the low bits.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "ExactReference.h"
#include "FuzzCheck.h"
#include "bplist/Texts.h"

namespace {

// Seconds spanned by the years the dates cover, with a margin either side.
constexpr int64_t kMargin = 86400 * 2;
const int64_t kFirst = exact::YearStartSecond(exact::kFirstYear) - kMargin;
const int64_t kSpan = exact::YearStartSecond(exact::kLastYear + 1) + kMargin - kFirst;

void Check(double seconds) {
  std::string got, expected;
  bool ok = false;
  fuzzcheck::Timed("DateText", [&] { ok = bplist::DateText(seconds, &got); });
  bool expectedOk = exact::DateText(seconds, &expected);
  fuzzcheck::ExpectSame(ok ? got : "(refused)", expectedOk ? expected : "(refused)", "date");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint64_t bits = 0;
  for (size_t i = 0; i < 8; ++i) bits = bits << 8 | (i < size ? data[i] : 0);
  double seconds;
  std::memcpy(&seconds, &bits, sizeof seconds);
  Check(seconds);
  Check(double(kFirst + int64_t(bits >> 8) % kSpan) + double(bits & 0xFF) / 256);
  return 0;
}
