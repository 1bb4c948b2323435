// The texts of reals, dates, integers, UIDs and strings, checked case by
// case against the exact references of ExactReference.h over every real
// exponent, every year boundary, every integer width and every one- and
// two-unit string.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "ExactReference.h"
#include "TestUtil.h"
#include "bplist/OutputBuffer.h"
#include "bplist/Platform.h"
#include "bplist/Texts.h"

namespace {

// Mismatches reported in full per test; the rest are only counted.
constexpr int kReportedMismatches = 20;

// Counts mismatches of one family, reporting the first few with `what`.
struct Mismatches {
  int count = 0;
  // `what` names the case; it is called only for a mismatch.
  template <class What>
  void Check(const std::string& got, const std::string& expected, What what) {
    if (got == expected) return;
    if (++count <= kReportedMismatches)
      ADD_FAILURE() << what() << ": got " << got << ", expected " << expected;
  }
};

std::string Hex(uint64_t v) {
  char buf[20];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
  return buf;
}

// Fraction fields of every shape for a real whose integer part holds
// `level` + 1 bits: one, two, a few and many bits, the first bit below the
// point, a 16-bit fraction (an exact tie at the 15th decimal), both sides of
// 0.00001, and the all-ones fraction that carries into the integer part.
std::vector<uint64_t> FractionFields(int level, std::mt19937_64& random) {
  const uint64_t all = (uint64_t(1) << 52) - 1;
  std::vector<uint64_t> fields = {0,
                                  1,
                                  2,
                                  3,
                                  uint64_t(1) << 51,
                                  (uint64_t(1) << 51) | 1,
                                  0x0000100010001,
                                  0x5555555555555,
                                  all,
                                  all - 1};
  for (int i = 0; i < 3; ++i) fields.push_back(random() & all);
  if (level >= 0 && level < 52) {
    unsigned bits = unsigned(52 - level);  // fraction bits below the point
    uint64_t one = uint64_t(1) << bits;
    uint64_t floor = level == 0 ? 0 : all & ~(one - 1);  // keeps some integer bits set
    fields.push_back(one >> 1);
    fields.push_back((one >> 1) | (one >> 2));
    if (bits >= 16) fields.push_back(floor | (one >> 16) * 3);
    uint64_t atTiny = (one + 99999) / 100000;  // the smallest fraction of 0.00001 or more
    for (uint64_t f : {atTiny - 1, atTiny, atTiny + 1})
      if (f > 0 && f < one) fields.push_back((floor & ~(one - 1)) | f);
  }
  return fields;
}

TEST(ExactTexts, ReferenceAgreesWithKnownReals) {
  const std::pair<uint64_t, std::string> known[] = {
      {0x3FE2CD75D7E4D071, "0.58758060614356"},
      {0x4132D687E4189375, "1234567.89100000006146"},
      {0x3FEFFFFFFFFFFFF7, "0.99999999999999"},
      {0x3FE6666666666666, "0.7"},
      {0x3EE4F8B588E368F1, "0.00001"},
      {0x3FFFFFFFFFFFFFFF, "2."},
      {0x43B0000000000000, "1152921504606846976."},
      {0x3FF000010C6F7A0B, "1.000000999999999917733"},
      {0x0000000000000001, "0." + std::string(323, '0') + "494065645841247"},
      {0x8000000000000000, "-0."},
      {0xFFF0000000000000, "-infinity"},
  };
  for (const auto& [bits, text] : known) EXPECT_EQ(exact::RealText(bits), text) << Hex(bits);
}

// Reals with integer parts from 2^31 to 2^36 and fractions below 0.00001
// once never finished; every exponent is here.
TEST(ExactTexts, RealsOfEveryExponentAndFractionShape) {
  std::mt19937_64 random(20261207);
  Mismatches m;
  for (uint64_t field = 0; field < 0x800; ++field) {
    for (uint64_t fraction : FractionFields(int(field) - 1023, random)) {
      for (uint64_t sign : {uint64_t(0), uint64_t(1) << 63}) {
        uint64_t bits = sign | field << 52 | fraction;
        m.Check(bplist::BinaryToReal(bits), exact::RealText(bits), [&] { return Hex(bits); });
      }
    }
  }
  EXPECT_EQ(m.count, 0);
}

std::string Date(double seconds) {
  std::string text;
  return bplist::DateText(seconds, &text) ? text : "(refused)";
}
std::string ExactDate(double seconds) {
  std::string text;
  return exact::DateText(seconds, &text) ? text : "(refused)";
}

TEST(ExactTexts, DatesAtEveryYearBoundary) {
  EXPECT_EQ(ExactDate(-63114076800), "0000-12-30T00:00:00Z");  // NSDate.distantPast
  EXPECT_EQ(ExactDate(0), "2001-01-01T00:00:00Z");
  EXPECT_EQ(ExactDate(-1e-300), "2000-12-31T23:59:59Z");
  Mismatches m;
  auto check = [&m](double s) {
    m.Check(Date(s), ExactDate(s), [&] { return std::to_string(s); });
  };
  // The first second of every year from 0000 to 10000, the end of February
  // and the first of March (leap years by 4, 100 and 400), with the seconds
  // and fractions either side.
  for (int year = exact::kFirstYear; year <= exact::kLastYear + 1; ++year) {
    double start = double(exact::YearStartSecond(year));
    for (double at : {start, start + 58 * 86400.0, start + 59 * 86400.0, start + 60 * 86400.0})
      for (double offset : {-1.0, -0.5, -1e-6, 0.0, 1e-6, 0.5, 0.999}) check(at + offset);
  }
  // Every day of the first and last 400 years, at its last moment.
  for (int year : {exact::kFirstYear, exact::kLastYear + 1 - 400}) {
    double from = double(exact::YearStartSecond(year));
    for (int day = 0; day < 146097; ++day) check(from + day * 86400.0 + 86399.75);
  }
  // Issue 15, fault 9: years past 9999 and before 0000, which Apple's writer
  // stores, up to the last whole second a signed 64-bit integer holds. The
  // same boundaries, moved by whole cycles of 400 years.
  for (int64_t cycles : {-1000000, -25, 25, 1000000})
    for (int year : {0, 100, 399}) {
      double start = double(exact::YearStartSecond(year) + cycles * 146097 * 86400);
      for (double at : {start, start + 59 * 86400.0, start + 60 * 86400.0})
        for (double offset : {-1.0, -0.5, 0.0, 0.5}) check(at + offset);
    }
  EXPECT_EQ(ExactDate(3e11), "11507-08-17T05:20:00Z");
  EXPECT_EQ(ExactDate(-1e12), "-29688-04-06T22:13:20Z");
  EXPECT_EQ(ExactDate(-63145526401.0), "-0001-12-31T23:59:59Z");
  const double nan = std::nan(""), inf = HUGE_VAL;
  for (double s : {nan, inf, -inf, 1e300, -1e300, -0.0, 4.9e-324, -4.9e-324, 9.2e18, -9.2e18,
                   9223372036854774784.0, 9223372036854775808.0, -9223372036854775808.0,
                   -9223372036854777856.0})
    check(s);
  EXPECT_EQ(m.count, 0);
}

// Byte patterns of every width: zeros, ones, the sign bit alone, the
// largest positive value, a one at the end, and random bytes.
std::vector<std::vector<uint8_t>> BytePatterns(size_t width, std::mt19937_64& random) {
  std::vector<std::vector<uint8_t>> out(6, std::vector<uint8_t>(width, 0));
  std::fill(out[1].begin(), out[1].end(), 0xFF);
  out[2][width >= 8 ? width - 8 : 0] = 0x80;
  std::fill(out[3].begin(), out[3].end(), 0xFF);
  out[3][width >= 8 ? width - 8 : 0] = 0x7F;
  out[4][width - 1] = 1;
  for (uint8_t& b : out[5]) b = uint8_t(random());
  return out;
}

TEST(ExactTexts, IntegersAndUidsOfEveryWidth) {
  std::mt19937_64 random(7);
  Mismatches m;
  for (size_t width = 1; width <= 32768; width *= 2) {
    for (const std::vector<uint8_t>& bytes : BytePatterns(width, random)) {
      char buf[bplist::kMaxIntegerText];
      std::string got(buf, bplist::PutIntegerText(buf, bytes.data(), width));
      m.Check(got, exact::IntegerText(bytes.data(), width),
              [&] { return "integer width " + std::to_string(width); });
    }
  }
  for (size_t width = 1; width <= 16; ++width)
    for (const std::vector<uint8_t>& bytes : BytePatterns(width, random))
      m.Check(bplist::UidText(bytes.data(), width), exact::UidText(bytes.data(), width),
              [&] { return "uid width " + std::to_string(width); });
  EXPECT_EQ(m.count, 0);
}

// Writes every case through one writer on a temporary file and returns
// each case's text.
std::vector<std::string> Written(size_t cases,
                                 const std::function<void(bplist::OutputBuffer&, size_t)>& put) {
  testutil::ScratchStream stream;
  std::vector<uint64_t> ends;
  {
    bplist::OutputBuffer out(stream.handle(), "");
    for (size_t i = 0; i < cases; ++i) {
      put(out, i);
      ends.push_back(out.Written());
    }
    out.Flush();
  }
  std::string all = stream.Contents();
  std::vector<std::string> texts;
  for (size_t i = 0, from = 0; i < cases; from = size_t(ends[i++]))
    texts.push_back(all.substr(from, size_t(ends[i]) - from));
  return texts;
}

// A long string of `units` random units from `alphabet`, so that escapes
// and multi-unit characters straddle the writer's chunks.
std::vector<uint8_t> LongString(size_t units, const std::vector<std::vector<uint8_t>>& alphabet) {
  std::mt19937_64 random(units);
  std::vector<uint8_t> s;
  while (s.size() < units) {
    const std::vector<uint8_t>& piece = alphabet[random() % alphabet.size()];
    s.insert(s.end(), piece.begin(), piece.end());
  }
  return s;
}

TEST(ExactTexts, EightBitStrings) {
  // Every string of one and two bytes; every lead byte with every second
  // byte and a continuation after; each behind a plain prefix; and long ones.
  std::vector<std::vector<uint8_t>> cases;
  for (int a = 0; a < 256; ++a) cases.push_back({uint8_t(a)});
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) cases.push_back({uint8_t(a), uint8_t(b)});
  for (int a = 0xC0; a < 256; ++a)
    for (int b = 0; b < 256; ++b)
      for (uint8_t tail : {0x80, 0xBF}) cases.push_back({'a', uint8_t(a), uint8_t(b), tail, tail});
  const std::vector<std::vector<uint8_t>> alphabet = {{'a'},
                                                      {'&'},
                                                      {'<'},
                                                      {'\r'},
                                                      {0},
                                                      {0xC3, 0xA9},
                                                      {0xE4, 0xB8, 0xAD},
                                                      {0xF0, 0x9F, 0x98, 0x80},
                                                      {0xEF, 0xBF, 0xBE}};
  cases.push_back(LongString(200000, alphabet));
  cases.push_back(LongString(200001, {{'b'}, {0xE9}, {0x85}, {'>'}}));
  std::vector<std::string> got = Written(cases.size(), [&](bplist::OutputBuffer& out, size_t i) {
    bplist::PutEscaped8(out, cases[i].data(), cases[i].size());
  });
  Mismatches m;
  for (size_t i = 0; i < cases.size(); ++i)
    m.Check(got[i], exact::Escaped8(cases[i].data(), cases[i].size()),
            [&] { return "case " + std::to_string(i); });
  EXPECT_EQ(m.count, 0);
}

TEST(ExactTexts, Utf16Strings) {
  // Every unit alone, after each end of the high surrogates and before
  // each end of the low ones; and a long string.
  std::vector<std::vector<uint8_t>> cases;
  for (uint32_t u = 0; u < 0x10000; ++u) {
    const uint8_t hi = uint8_t(u >> 8), lo = uint8_t(u);
    cases.push_back({hi, lo});
    cases.push_back({0xD8, 0x00, hi, lo});
    cases.push_back({0xDB, 0xFF, hi, lo});
    cases.push_back({hi, lo, 0xDC, 0x00});
    cases.push_back({hi, lo, 0xDF, 0xFF});
  }
  const std::vector<std::vector<uint8_t>> alphabet = {
      {0, 'a'},     {0, '&'},     {0, 0x0D},   {0, 1}, {0x4E, 0x2D}, {0xD8, 0x3D, 0xDE, 0x00},
      {0xD8, 0x3D}, {0xDE, 0x00}, {0xFF, 0xFE}};
  cases.push_back(LongString(400000, alphabet));
  std::vector<std::string> got = Written(cases.size(), [&](bplist::OutputBuffer& out, size_t i) {
    bplist::PutEscaped16(out, cases[i].data(), cases[i].size() / 2);
  });
  Mismatches m;
  for (size_t i = 0; i < cases.size(); ++i)
    m.Check(got[i], exact::Escaped16(cases[i].data(), cases[i].size() / 2),
            [&] { return "case " + std::to_string(i); });
  EXPECT_EQ(m.count, 0);
}

}  // namespace
