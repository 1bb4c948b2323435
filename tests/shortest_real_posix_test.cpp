// The portable shortest real texts, in either notation and in scientific
// notation alone, against std::to_chars. It is what the
// browser build writes with (its libc++ has no floating-point to_chars), and
// it rests on the C library's snprintf and strtod being correctly rounded, as
// glibc's and musl's are; Windows' msvcrt is not, and the Windows build
// writes with std::to_chars, so this test is left out there.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "bplist/ShortestReal.h"

namespace {

// Random bit patterns, ratios of small integers, and every power of two,
// where the values that read back lie unevenly around the value.
TEST(Json, PortableShortestTextMatchesToChars) {
  std::mt19937_64 random(20261207);
  auto same = [](auto v) {
    char want[40], got[40];
    std::string a(want, std::to_chars(want, want + sizeof want, v).ptr);
    std::string b(got, bplist::ShortestTextPortable(got, v));
    EXPECT_EQ(a, b) << std::hexfloat << double(v);
    std::string c(want,
                  std::to_chars(want, want + sizeof want, v, std::chars_format::scientific).ptr);
    std::string d(got, bplist::ScientificTextPortable(got, v));
    EXPECT_EQ(c, d) << std::hexfloat << double(v);
    return a == b && c == d;
  };
  int mismatches = 0;
  for (int e = -1074; e < 1024; ++e) mismatches += !same(std::ldexp(1.0, e));
  for (int e = -149; e < 128; ++e) mismatches += !same(std::ldexp(1.0f, e));
  for (int i = 0; i < 20000 && mismatches < 10; ++i) {
    uint64_t bits = random();
    double d;
    float f;
    std::memcpy(&d, &bits, sizeof d);
    std::memcpy(&f, &bits, sizeof f);
    if (std::isfinite(d)) mismatches += !same(d);
    if (std::isfinite(f)) mismatches += !same(f);
    mismatches += !same(double(random() % 100000) / double(1 + random() % 1000));
  }
  mismatches += !same(0.0) + !same(-0.0) + !same(0.0f) + !same(-5e-324) + !same(1e22);
}

}  // namespace
