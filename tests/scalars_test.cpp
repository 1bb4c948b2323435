// Booleans, dates and data objects, each as a value and as a key: the UTC
// date text and its limits, and standard base64 for data of every length.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "bplist/Texts.h"

namespace {

using testplist::BigEndian;
using testplist::Bytes;
using testplist::Document;
using testplist::PlistBuilder;
using testutil::ExpectConverts;
using testutil::ExpectFails;
using testutil::Lines;
using testutil::Ln;

// Converts `object` as the top value, as an array element and as both key
// and value of a dictionary; `element` is its element text and `key` its
// key line text (a boolean key is written as its element).
void ExpectScalar(const Bytes& object, const std::string& element, const std::string& key) {
  {
    PlistBuilder b;
    b.offsetSize = 2;
    b.Raw(object);
    ExpectConverts(b.Build(), {Ln(4, element)});
  }
  {
    PlistBuilder b;
    b.offsetSize = 2;
    uint64_t o = b.Raw(object);
    b.top = b.Array({o, o});
    ExpectConverts(b.Build(),
                   {Ln(8, "<array>"), Ln(8, element), Ln(8, element), Ln(8, "</array>")});
  }
  {
    PlistBuilder b;
    b.offsetSize = 2;
    uint64_t o = b.Raw(object);
    b.top = b.Dict({{o, o}});
    ExpectConverts(b.Build(), {Ln(4, "<dict>"), Ln(8, key), Ln(8, element), Ln(4, "</dict>")});
  }
}

Bytes DateObject(double seconds) {
  uint64_t bits;
  std::memcpy(&bits, &seconds, 8);
  Bytes b{0x33};
  Bytes v = BigEndian(bits, 8);
  b.insert(b.end(), v.begin(), v.end());
  return b;
}

TEST(Scalars, Booleans) {
  ExpectScalar({0x09}, "<true/>", "<true/>");
  ExpectScalar({0x08}, "<false/>", "<false/>");
}

TEST(Scalars, DateTable) {
  struct Case {
    double seconds;
    const char* text;
  };
  const std::vector<Case> table = {
      {0, "2001-01-01T00:00:00Z"},
      {-0.0, "2001-01-01T00:00:00Z"},
      {0.999, "2001-01-01T00:00:00Z"},
      {1.5, "2001-01-01T00:00:01Z"},
      {-0.5, "2000-12-31T23:59:59Z"},
      {-1, "2000-12-31T23:59:59Z"},
      {-1.000001, "2000-12-31T23:59:58Z"},
      {59.99, "2001-01-01T00:00:59Z"},
      {31535999, "2001-12-31T23:59:59Z"},
      {99748800, "2004-02-29T12:00:00Z"},
      {3129235200, "2100-03-01T00:00:00Z"},
      {-26438401, "2000-02-29T23:59:59Z"},
      {-978307200, "1970-01-01T00:00:00Z"},
      {-3182194676.75, "1900-03-01T01:02:03Z"},
      {818316304.75, "2026-12-07T06:05:04Z"},
      {-63113904000.0, "0001-01-01T00:00:00Z"},
      {-63113903999.5, "0001-01-01T00:00:00Z"},
      // Issue 10, fault 10: year 0, a leap year, as NSDate.distantPast.
      {-63114076800.0, "0000-12-30T00:00:00Z"},
      {-63113904000.5, "0000-12-31T23:59:59Z"},
      {-63140428800.0, "0000-02-29T00:00:00Z"},
      {-63145526400.0, "0000-01-01T00:00:00Z"},
      {252423993599.0, "9999-12-31T23:59:59Z"},
      {252423993599.5, "9999-12-31T23:59:59Z"},
      // Issue 15, fault 9: years Apple's writer stores past 9999 and before
      // 0000, with all their digits and a minus sign, up to 64-bit seconds.
      {252423993600.0, "10000-01-01T00:00:00Z"},
      {299007248523.0, "11476-03-01T01:02:03Z"},
      {-63145526400.5, "-0001-12-31T23:59:59Z"},
      {-1000970693877.0, "-29719-07-03T01:02:03Z"},
      {-9223372036854775808.0, "-292277022626-01-27T08:29:52Z"},
      {9223372036854774784.0, "292277026627-12-06T15:13:04Z"},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.text);
    const std::string text = c.text;
    ExpectScalar(DateObject(c.seconds), "<date>" + text + "</date>", "<key>" + text + "</key>");
  }
}

// Dates that are not finite or whose whole seconds do not fit a signed
// 64-bit integer fail the conversion, as a top object and inside a
// container.
TEST(Scalars, DatesOutsideTheRangeFail) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> table = {std::numeric_limits<double>::quiet_NaN(),
                                     -std::numeric_limits<double>::quiet_NaN(),
                                     inf,
                                     -inf,
                                     1e300,
                                     -1e300,
                                     9223372036854775808.0,
                                     -9223372036854777856.0,
                                     9.3e18,
                                     -9.3e18};
  for (double seconds : table) {
    SCOPED_TRACE(seconds);
    PlistBuilder top;
    top.Raw(DateObject(seconds));
    ExpectFails(top.Build());
    PlistBuilder inner;
    uint64_t s = inner.Str("s"), d = inner.Raw(DateObject(seconds));
    inner.top = inner.Array({s, d, s});
    ExpectFails(inner.Build());
    std::string text;
    EXPECT_FALSE(bplist::DateText(seconds, &text));
  }
}

// The date text of `s` seconds after 2001-01-01T00:00:00Z, found by walking
// whole years and months from there: slow, but plainly right, and the same
// on every platform (Windows' C library has no calendar before 1970).
std::string WalkedDateText(int64_t s) {
  auto leap = [](int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; };
  auto yearDays = [&](int64_t y) { return leap(y) ? 366 : 365; };
  int64_t days = s >= 0 ? s / 86400 : -((-s + 86399) / 86400), rest = s - days * 86400;
  int64_t y = 2001;
  while (days < 0) days += yearDays(--y);
  while (days >= yearDays(y)) days -= yearDays(y++);
  const int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int m = 0;
  for (; days >= monthDays[m] + (m == 1 && leap(y)); ++m)
    days -= monthDays[m] + (m == 1 && leap(y));
  char text[80];
  snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", int(y), m + 1, int(days) + 1,
           int(rest / 3600), int(rest / 60 % 60), int(rest % 60));
  return text;
}

// Whole seconds across the years 0000 to 9999, checked against a calendar
// walked year by year.
TEST(Scalars, RandomDatesMatchCalendar) {
  std::mt19937_64 rng(1207);
  const int64_t lo = -63145526400, hi = 252423993599;
  EXPECT_EQ(WalkedDateText(lo), "0000-01-01T00:00:00Z");
  EXPECT_EQ(WalkedDateText(hi), "9999-12-31T23:59:59Z");
  for (int i = 0; i < 3000; ++i) {
    const int64_t s = lo + int64_t(rng() % uint64_t(hi - lo + 1));
    const double fraction = double(rng() % 1000) / 1000.0;
    std::string text;
    ASSERT_TRUE(bplist::DateText(double(s) + fraction, &text)) << s;
    EXPECT_EQ(text, WalkedDateText(s)) << s << " + " << fraction;
  }
}

// Standard padded base64, written here independently of the product.
std::string Base64(const Bytes& data) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  uint32_t bits = 0;
  int held = 0;
  for (uint8_t byte : data) {
    bits = bits << 8 | byte;
    held += 8;
    while (held >= 6) out += alphabet[(bits >> (held -= 6)) & 63];
  }
  if (held) out += alphabet[(bits << (6 - held)) & 63];
  while (out.size() % 4) out += '=';
  return out;
}

Bytes DataObject(const Bytes& data) {
  Bytes b = testplist::CountHeader(0x4, data.size());
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

TEST(Scalars, DataTable) {
  auto counting = [](size_t n) {
    Bytes d(n);
    for (size_t i = 0; i < n; ++i) d[i] = uint8_t(i * 7 + 3);
    return d;
  };
  struct Case {
    const char* name;
    Bytes object;
    std::string text;
  };
  const std::vector<Case> table = {
      {"empty", {0x40}, ""},
      {"empty with extended count", {0x4F, 0x10, 0x00}, ""},
      {"one byte", DataObject({0x00}), "AA=="},
      {"two bytes", DataObject({0x00, 0x01}), "AAE="},
      {"three bytes", DataObject({0x00, 0x01, 0x02}), "AAEC"},
      {"high bits, + and /", DataObject({0xFB, 0xFF, 0xBF}), "+/+/"},
      {"three counting bytes", DataObject(counting(3)), "AwoR"},
      {"fifteen bytes, extended count", DataObject(counting(15)), "AwoRGB8mLTQ7QklQV15l"},
      {"1000 bytes", DataObject(counting(1000)), Base64(counting(1000))},
  };
  ASSERT_EQ(Base64(counting(15)), "AwoRGB8mLTQ7QklQV15l");
  ASSERT_EQ(DataObject(counting(15))[0], 0x4F);
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    ExpectScalar(c.object, "<data>" + c.text + "</data>", "<key>" + c.text + "</key>");
  }
}

}  // namespace
