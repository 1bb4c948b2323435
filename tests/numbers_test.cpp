// Integers and reals: every size of integer, the decimal text of reals with
// its rounding, the special values, 4-byte reals and the sizes written as 0,
// each as a value and as a key; and random reals against a reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "bplist/Texts.h"

namespace {

using testutil::ExpectConverts;
using testutil::Ln;

using testplist::BigEndian;
using testplist::Bytes;
using testplist::Document;
using testplist::PlistBuilder;

// Converts the object `object` as the top value and as both key and value
// of a dictionary, expecting `text` between <tag> and </tag> or the key tags.
void ExpectNumberText(const Bytes& object, const std::string& tag, const std::string& text) {
  PlistBuilder top;
  top.Raw(object);
  ExpectConverts(top.Build(), {Ln(4, "<" + tag + ">" + text + "</" + tag + ">")});
  PlistBuilder b;
  uint64_t n = b.Raw(object);
  b.top = b.Dict({{n, n}});
  ExpectConverts(b.Build(), {Ln(4, "<dict>"), Ln(8, "<key>" + text + "</key>"),
                             Ln(8, "<" + tag + ">" + text + "</" + tag + ">"), Ln(4, "</dict>")});
}

// The marker byte followed by `value` bytes.
Bytes Obj(uint8_t marker, const Bytes& value) {
  Bytes b(value.size() + 1, marker);
  std::copy(value.begin(), value.end(), b.begin() + 1);
  return b;
}
// `count` copies of `byte` followed by `tail`.
Bytes Fill(size_t count, uint8_t byte, const Bytes& tail = {}) {
  Bytes b(count, byte);
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}
Bytes Real8(uint64_t bits) {
  return Obj(0x23, BigEndian(bits, 8));
}
Bytes Real4(uint32_t bits) {
  return Obj(0x22, BigEndian(bits, 4));
}

struct Case {
  const char* name;
  Bytes object;
  const char* text;
};

TEST(Numbers, IntegerTable) {
  const std::vector<Case> table = {
      {"42", {0x10, 0x2A}, "42"},
      {"zero", {0x10, 0x00}, "0"},
      {"255", {0x10, 0xFF}, "255"},
      {"256", {0x11, 0x01, 0x00}, "256"},
      {"65535", {0x11, 0xFF, 0xFF}, "65535"},
      {"2^31 unsigned", {0x12, 0x80, 0, 0, 0}, "2147483648"},
      {"4-byte max", {0x12, 0xFF, 0xFF, 0xFF, 0xFF}, "4294967295"},
      {"2^32", {0x13, 0, 0, 0, 1, 0, 0, 0, 0}, "4294967296"},
      {"8 bytes -1", Obj(0x13, Fill(8, 0xFF)), "-1"},
      {"8 bytes min", Obj(0x13, Fill(1, 0x80, Fill(7, 0))), "-9223372036854775808"},
      {"8 bytes max", Obj(0x13, Fill(1, 0x7F, Fill(7, 0xFF))), "9223372036854775807"},
      {"16 bytes, last 8 count", Obj(0x14, Fill(8, 0xFF, {0, 0, 0, 0, 0, 0, 0, 7})), "7"},
      {"16 bytes unsigned max", Obj(0x14, Fill(8, 0, Fill(8, 0xFF))), "18446744073709551615"},
      {"16 bytes 2^63", Obj(0x14, Fill(8, 0, Fill(1, 0x80, Fill(7, 0)))), "9223372036854775808"},
      {"16 bytes of -5 read unsigned", Obj(0x14, Fill(15, 0xFF, {0xFB})), "18446744073709551611"},
      {"32 bytes -1", Obj(0x15, Fill(32, 0xFF)), "-1"},
      {"32 bytes, last 8 signed", Obj(0x15, Fill(24, 0, Fill(1, 0x80, Fill(7, 0)))),
       "-9223372036854775808"},
      {"32 bytes 5", Obj(0x15, Fill(31, 0, {5})), "5"},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    ExpectNumberText(c.object, "integer", c.text);
  }
}

TEST(Numbers, RealTable) {
  const std::string dblMax =
      "17976931348623157081452742373170435679807056752584499659891747680315726078002853876058955"
      "86327668781715404589535143824642343213268894641827684675467035375169860499105765512820762"
      "45490090389328944075868508455133942304583236903222948165808559332123348274797826204144723"
      "168738177180919299881250404026184124858368.";
  const std::vector<Case> table = {
      {"1.5", Real8(0x3FF8000000000000), "1.5"},
      {"-2.25", Real8(0xC002000000000000), "-2.25"},
      {"0.1", Real8(0x3FB999999999999A), "0.1"},
      {"-0.1", Real8(0xBFB999999999999A), "-0.1"},
      {"0.25", Real8(0x3FD0000000000000), "0.25"},
      {"0.7", Real8(0x3FE6666666666666), "0.7"},
      {"0.001", Real8(0x3F50624DD2F1A9FC), "0.001"},
      {"0.00001", Real8(0x3EE4F8B588E368F1), "0.00001"},
      {"1/3", Real8(0x3FD5555555555555), "0.33333333333333"},
      {"0.999999999999999", Real8(0x3FEFFFFFFFFFFFF7), "0.99999999999999"},
      {"raised before rounding", Real8(0x3FE2CD75D7E4D071), "0.58758060614356"},
      {"pi", Real8(0x400921FB54442D18), "3.14159265358979"},
      {"123.456", Real8(0x405EDD2F1A9FBE77), "123.456"},
      {"1234567.891", Real8(0x4132D687E4189375), "1234567.89100000006146"},
      {"65536.125", Real8(0x40F0000200000000), "65536.125"},
      {"3.0", Real8(0x4008000000000000), "3."},
      {"-1.0", Real8(0xBFF0000000000000), "-1."},
      {"100.0", Real8(0x4059000000000000), "100."},
      {"2^60", Real8(0x43B0000000000000), "1152921504606846976."},
      {"2^52 - 0.5", Real8(0x432FFFFFFFFFFFFF), "4503599627370495.5"},
      {"2^53 - 1", Real8(0x433FFFFFFFFFFFFF), "9007199254740991."},
      {"2^62", Real8(0x43D0000000000000), "4611686018427387904."},
      {"below 2^63", Real8(0x43DFFFFFFFFFFFFF), "9223372036854774784."},
      {"2^63", Real8(0x43E0000000000000), "9223372036854775808."},
      {"-2^63", Real8(0xC3E0000000000000), "-9223372036854775808."},
      {"2^64", Real8(0x43F0000000000000), "18446744073709551616."},
      {"1e20", Real8(0x4415AF1D78B58C40), "100000000000000000000."},
      {"largest double", Real8(0x7FEFFFFFFFFFFFFF), dblMax.c_str()},
      {"zero", Real8(0), "0."},
      {"negative zero", Real8(0x8000000000000000), "-0."},
      {"+infinity", Real8(0x7FF0000000000000), "+infinity"},
      {"-infinity", Real8(0xFFF0000000000000), "-infinity"},
      {"quiet nan", Real8(0x7FF8000000000000), "nan"},
      {"negative nan", Real8(0xFFF8000000000000), "nan"},
      {"signalling nan", Real8(0x7FF0000000000001), "nan"},
      {"1.9999999999999998 carries", Real8(0x3FFFFFFFFFFFFFFF), "2."},
      {"-1.9999999999999998 carries", Real8(0xBFFFFFFFFFFFFFFF), "-2."},
      {"largest below 1 carries", Real8(0x3FEFFFFFFFFFFFFF), "1."},
      {"0.9999999999999993 carries", Real8(0x3FEFFFFFFFFFFFFA), "1."},
      {"0.9999999999999992 does not", Real8(0x3FEFFFFFFFFFFFF9), "0.99999999999999"},
      {"4-byte 1.5", Real4(0x3FC00000), "1.5"},
      {"4-byte -2.25", Real4(0xC0100000), "-2.25"},
      {"4-byte 0.1", Real4(0x3DCCCCCD), "0.10000000149011"},
      {"4-byte 2^24", Real4(0x4B800000), "16777216."},
      {"4-byte largest", Real4(0x7F7FFFFF), "340282346638528859811704183484516925440."},
      {"4-byte zero", Real4(0), "0."},
      {"4-byte negative zero", Real4(0x80000000), "-0."},
      {"4-byte +infinity", Real4(0x7F800000), "+infinity"},
      {"4-byte -infinity", Real4(0xFF800000), "-infinity"},
      {"4-byte nan", Real4(0x7FC00000), "nan"},
      {"1-byte real", {0x20, 0x3F}, "0"},
      {"2-byte real", {0x21, 0x3F, 0xF8}, "0"},
      {"16-byte real", Obj(0x24, Fill(1, 0x3F, Fill(1, 0xF8, Fill(14, 0)))), "0"},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    ExpectNumberText(c.object, "real", c.text);
  }
}

// The exact reference below computes in 128-bit integers, which 32-bit
// compilers lack; there the table tests above check the texts alone.
#ifdef __SIZEOF_INT128__

// Decimal digit strings, most significant digit first, for the reference.
using Digits = std::string;

Digits TimesSmall(const Digits& d, unsigned k) {
  Digits out(d.size(), '0');
  unsigned carry = 0;
  for (size_t i = d.size(); i-- > 0;) {
    unsigned v = unsigned(d[i] - '0') * k + carry;
    out[i] = char('0' + v % 10);
    carry = v / 10;
  }
  while (carry) {
    out.insert(out.begin(), char('0' + carry % 10));
    carry /= 10;
  }
  return out;
}

Digits FromWide(unsigned __int128 v) {
  Digits d;
  do {
    d.insert(d.begin(), char('0' + unsigned(v % 10)));
    v /= 10;
  } while (v);
  return d;
}

// The reference text of a real, built independently of the product: the
// fraction raised by one part in 2^52 and rounded to a 64-bit significand,
// expanded exactly as digits of q * 5^k, rounded half up at the 15th
// decimal and cut at the 14th. Empty when the fraction is nonzero but below
// 0.00001, whose digits the caller checks by reading them back instead.
std::optional<std::string> ReferenceText(uint64_t bits) {
  const bool negative = bits >> 63;
  const unsigned field = unsigned(bits >> 52) & 0x7FF;
  const uint64_t fraction = bits & ((uint64_t(1) << 52) - 1);
  if (field == 0x7FF) return fraction ? "nan" : negative ? "-infinity" : "+infinity";
  const std::string sign = negative ? "-" : "";
  const uint64_t mant = field ? fraction | (uint64_t(1) << 52) : fraction;
  const int e2 = field ? int(field) - 1075 : -1074;  // value = mant * 2^e2
  if (e2 >= 0) {
    Digits d = FromWide(mant);
    for (int i = 0; i < e2; ++i) d = TimesSmall(d, 2);
    return sign + d + ".";
  }
  const unsigned s = unsigned(-e2);
  const uint64_t whole = s > 52 ? 0 : mant >> s;
  const uint64_t num = s > 52 ? mant : mant & ((uint64_t(1) << s) - 1);
  if (num == 0) return sign + FromWide(whole) + ".";
  if (s > 70 || (unsigned __int128)num * 100000 < ((unsigned __int128)1 << s)) return std::nullopt;
  unsigned __int128 p = (unsigned __int128)num * ((uint64_t(1) << 52) + 1);
  unsigned k = s + 52;
  int length = 0;
  for (unsigned __int128 t = p; t; t >>= 1) ++length;
  if (length > 64) {
    const unsigned cut = unsigned(length - 64);
    const unsigned __int128 rest = p & ((((unsigned __int128)1) << cut) - 1);
    const unsigned __int128 half = ((unsigned __int128)1) << (cut - 1);
    p >>= cut;
    if (rest > half || (rest == half && (p & 1))) ++p;
    k -= cut;
  }
  Digits d = FromWide(p);
  for (unsigned i = 0; i < k; ++i) d = TimesSmall(d, 5);
  if (d.size() < k + 1) d.insert(0, k + 1 - d.size(), '0');
  Digits intDigits = d.substr(0, d.size() - k), frac = d.substr(d.size() - k);
  frac.resize(std::max<size_t>(frac.size(), 16), '0');
  Digits first15 = frac.substr(0, 15);
  bool carry = intDigits.find_first_not_of('0') != std::string::npos;
  if (!carry && frac[15] >= '5') {
    size_t i = 15;
    while (i > 0 && first15[i - 1] == '9') first15[--i] = '0';
    if (i == 0)
      carry = true;
    else
      ++first15[i - 1];
  }
  if (carry) return sign + FromWide((unsigned __int128)whole + 1) + ".";
  Digits kept = first15.substr(0, 14);
  kept.erase(kept.find_last_not_of('0') + 1);
  return sign + FromWide(whole) + "." + kept;
}

uint64_t BitsOf(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  return bits;
}

// The rule for a nonzero fraction below 0.00001: plain decimal, the exact
// integer part, and digits that read back as the fraction to 14 significant
// digits.
void ExpectTinyFractionText(double v, const std::string& text) {
  SCOPED_TRACE(text);
  double whole;
  const double frac = std::fabs(std::modf(v, &whole));
  const std::string expectedStart = (v < 0 ? "-" : "") + *ReferenceText(BitsOf(std::fabs(whole)));
  ASSERT_EQ(text.substr(0, expectedStart.size()), expectedStart);
  const std::string digits = text.substr(expectedStart.size());
  ASSERT_FALSE(digits.empty());
  EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos);
  const long double back = std::strtold(("0." + digits).c_str(), nullptr);
  EXPECT_LE(std::fabs(back - frac) / frac, 6e-14L) << digits;
}

// The reference itself must give the rows of the table above.
TEST(Numbers, ReferenceAgreesWithTableRows) {
  EXPECT_EQ(*ReferenceText(0x3FE2CD75D7E4D071), "0.58758060614356");
  EXPECT_EQ(*ReferenceText(0x4132D687E4189375), "1234567.89100000006146");
  EXPECT_EQ(*ReferenceText(0x3FEFFFFFFFFFFFF7), "0.99999999999999");
  EXPECT_EQ(*ReferenceText(0x3FE6666666666666), "0.7");
  EXPECT_EQ(*ReferenceText(0x3EE4F8B588E368F1), "0.00001");
  EXPECT_EQ(*ReferenceText(0x3FFFFFFFFFFFFFFF), "2.");
  EXPECT_EQ(*ReferenceText(0x43B0000000000000), "1152921504606846976.");
}

TEST(Numbers, TinyFractionsAreNeverZero) {
  const std::vector<double> values = {
      5e-324,    -5e-324,        1.5e-323,    2.2250738585072014e-308, 1e-300,
      1e-100,    1e-10,          -1e-7,       9.99999999999999e-6,     1.000001,
      -1.000001, 123456.0000001, 65536.000001};
  for (double v : values) {
    ASSERT_FALSE(ReferenceText(BitsOf(v))) << v;
    ExpectTinyFractionText(v, bplist::BinaryToReal(BitsOf(v)));
  }
  // And end to end, in an array.
  PlistBuilder b;
  std::vector<uint64_t> refs;
  for (double v : values) refs.push_back(b.Real(v));
  refs.push_back(b.Raw(Real4(0x00000001)));  // the smallest 4-byte real, 2^-149
  b.top = b.Array(refs);
  std::string xml;
  ASSERT_EQ(testutil::ConvertBytes(b.Build(), &xml).exitCode, 0);
  size_t at = 0;
  for (double v : values) {
    const std::string open = "        <real>";
    at = xml.find(open, at);
    ASSERT_NE(at, std::string::npos);
    at += open.size();
    ExpectTinyFractionText(v, xml.substr(at, xml.find("</real>", at) - at));
  }
  at = xml.find("<real>", at) + 6;
  ExpectTinyFractionText(std::ldexp(1.0, -149), xml.substr(at, xml.find("</real>", at) - at));
}

// Issue 10, fault 1: a fraction below 0.00001 under an integer part of 2^31
// to 2^36 needs more decimal places than the fraction has bits; the digit
// loop spun for ever on them. Exact texts (15 significant digits of the
// fraction, trailing zeros dropped), from Python's fractions.
TEST(Numbers, TinyFractionsUnderLargeIntegersFinish) {
  const std::vector<std::pair<uint64_t, std::string>> table = {
      {0x41E0000000000001, "2147483648.000000476837158203125"},  // 2^31 + 2^-21
      {0xC1E0000000000001, "-2147483648.000000476837158203125"},
      {0x41E0000000000003, "2147483648.00000143051147460938"},  // rounded half up
      {0x41F0000000000001, "4294967296.00000095367431640625"},  // 4294967296.000001
      {0x4200000000000001, "8589934592.0000019073486328125"},
      {0x4210000000000001, "17179869184.000003814697265625"},
      {0x4220000000000001, "34359738368.00000762939453125"},  // 2^35 + 2^-17
      {BitsOf(1.000001), "1.000000999999999917733"},          // the README's example
  };
  for (const auto& [bits, text] : table)
    EXPECT_EQ(bplist::BinaryToReal(bits), text) << std::hex << bits;
}

// Random reals of every kind against the reference (fixed seed).
TEST(Numbers, RandomRealsMatchReference) {
  std::mt19937_64 rng(20261207);
  std::vector<uint64_t> samples;
  auto withExponent = [&](int lo, int hi) {
    const uint64_t field = uint64_t(1023 + lo + int(rng() % uint64_t(hi - lo + 1)));
    return (rng() & (uint64_t(1) << 63)) | field << 52 | (rng() & ((uint64_t(1) << 52) - 1));
  };
  for (int i = 0; i < 1500; ++i) samples.push_back(withExponent(-17, 62));
  for (int i = 0; i < 500; ++i) samples.push_back(withExponent(-1074 + 52, 1023));
  for (int i = 0; i < 200; ++i) samples.push_back(rng());
  for (int i = 0; i < 600; ++i) {
    const double decimals[] = {1000.0, 100.0, 7.0, 1e6, 3.0};
    samples.push_back(BitsOf(double(rng() % 1000000000) / decimals[i % 5]));
  }
  for (int i = 0; i < 400; ++i) {  // close below whole numbers, where the carry happens
    const double whole = double(rng() % 100000);
    samples.push_back(BitsOf(whole + 1.0) - 1 - rng() % 64);
    samples.push_back(BitsOf(std::nextafter(whole + 0.99999999999999, 0.0)) + rng() % 64);
  }
  int tiny = 0;
  for (uint64_t bits : samples) {
    const std::string text = bplist::BinaryToReal(bits);
    double v;
    std::memcpy(&v, &bits, 8);
    if (std::optional<std::string> expected = ReferenceText(bits)) {
      EXPECT_EQ(text, *expected) << std::hexfloat << v;
    } else {
      ++tiny;
      ExpectTinyFractionText(v, text);
    }
  }
  EXPECT_GT(tiny, 10);
}

#endif  // __SIZEOF_INT128__

}  // namespace
