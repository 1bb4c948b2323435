// The JSON document: every value's text, keys of every kind, separators
// around left-out and split elements, and the format seam used directly.
// Expected texts are written out by hand from the JSON grammar and the
// mapping the README defines.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "PlistBuilder.h"
#include "TestUtil.h"
#include "bplist/Context.h"

namespace {

using bplist::OutputFormat;
using testplist::Bytes;
using testplist::PlistBuilder;

// A document from its lines.
std::string Json(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\r\n";
  return s;
}

std::string ConvertJson(const Bytes& file) {
  testutil::MemoryResult m =
      testutil::ExpectSameOnThreads(file, bplist::Limits(), OutputFormat::Json);
  EXPECT_EQ(int(m.outcome), int(bplist::Outcome::Converted)) << m.reason;
  return m.xml;
}

// A 4-byte real object.
Bytes Float(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return {0x22, uint8_t(bits >> 24), uint8_t(bits >> 16), uint8_t(bits >> 8), uint8_t(bits)};
}

struct Case {
  const char* name;
  std::function<uint64_t(PlistBuilder&)> make;
  std::string text;  // the value's text in an array, or the key's text
};

// Each value alone in an array: `[`, its line, `]`.
TEST(Json, ValueTexts) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<Case> table = {
      {"integer", [](PlistBuilder& b) { return b.Int(-42); }, "-42"},
      {"16-byte integer",
       [](PlistBuilder& b) {
         return b.Raw({0x14, 0, 0, 0, 0, 0, 0, 0, 0, 255, 255, 255, 255, 255, 255, 255, 255});
       },
       "18446744073709551615"},
      {"whole real", [](PlistBuilder& b) { return b.Real(3); }, "3.0"},
      {"large real", [](PlistBuilder& b) { return b.Real(1e300); }, "1e+300"},
      {"negative zero", [](PlistBuilder& b) { return b.Real(-0.0); }, "-0.0"},
      {"tenth", [](PlistBuilder& b) { return b.Real(0.1); }, "0.1"},
      {"third", [](PlistBuilder& b) { return b.Real(1.0 / 3); }, "0.3333333333333333"},
      {"smallest subnormal", [](PlistBuilder& b) { return b.Real(5e-324); }, "5e-324"},
      {"largest double", [](PlistBuilder& b) { return b.Real(1.7976931348623157e308); },
       "1.7976931348623157e+308"},
      {"NaN", [](PlistBuilder& b) { return b.Real(std::nan("")); }, "\"nan\""},
      {"+infinity", [inf](PlistBuilder& b) { return b.Real(inf); }, "\"+infinity\""},
      {"-infinity", [inf](PlistBuilder& b) { return b.Real(-inf); }, "\"-infinity\""},
      {"4-byte tenth", [](PlistBuilder& b) { return b.Raw(Float(0.1f)); }, "0.1"},
      {"4-byte whole", [](PlistBuilder& b) { return b.Raw(Float(16777216.0f)); }, "16777216.0"},
      // Issue 15, fault 11: a whole number whose ".0" makes fixed notation
      // longer than scientific is written in scientific; a tie stays fixed.
      {"whole real past 1e21", [](PlistBuilder& b) { return b.Real(1672694241474728165376.0); },
       "1.6726942414747282e+21"},
      {"whole real at a tie", [](PlistBuilder& b) { return b.Real(12345678901234567168.0); },
       "12345678901234567168.0"},
      {"4-byte whole past 1e12", [](PlistBuilder& b) { return b.Raw(Float(1099511627776.0f)); },
       "1.0995116e+12"},
      // Issue 15, fault 12: the fraction is rounded from its exact value.
      {"date just above a half microsecond",
       [](PlistBuilder& b) { return b.Date(2.50000000000000010e-06); },
       "\"2001-01-01T00:00:00.000003Z\""},
      // Issue 15, fault 9: years past 9999 and before 0000.
      {"date in year 11476", [](PlistBuilder& b) { return b.Date(299007248523.5); },
       "\"11476-03-01T01:02:03.5Z\""},
      {"date in year -29719", [](PlistBuilder& b) { return b.Date(-1000970693877.0); },
       "\"-29719-07-03T01:02:03Z\""},
      {"date rounding into year 10000",
       [](PlistBuilder& b) { return b.Date(252423993599.9999996); }, "\"10000-01-01T00:00:00Z\""},
      {"date", [](PlistBuilder& b) { return b.Date(0); }, "\"2001-01-01T00:00:00Z\""},
      {"date with a half second", [](PlistBuilder& b) { return b.Date(0.5); },
       "\"2001-01-01T00:00:00.5Z\""},
      {"date one microsecond on", [](PlistBuilder& b) { return b.Date(1e-6); },
       "\"2001-01-01T00:00:00.000001Z\""},
      {"date before 2001", [](PlistBuilder& b) { return b.Date(-0.25); },
       "\"2000-12-31T23:59:59.75Z\""},
      {"fraction below half a microsecond", [](PlistBuilder& b) { return b.Date(4e-7); },
       "\"2001-01-01T00:00:00Z\""},
      {"fraction rounding to the next second", [](PlistBuilder& b) { return b.Date(59.9999996); },
       "\"2001-01-01T00:01:00Z\""},
      {"half microsecond to even", [](PlistBuilder& b) { return b.Date(0.0078125); },
       "\"2001-01-01T00:00:00.007812Z\""},
      {"year 0", [](PlistBuilder& b) { return b.Date(-63145526400.0); },
       "\"0000-01-01T00:00:00Z\""},
      {"data",
       [](PlistBuilder& b) {
         return b.Data({0, 1, 2, 3});
       },
       "\"AAECAw==\""},
      {"uid", [](PlistBuilder& b) { return b.Uid(7); }, "{\"CF$UID\": 7}"},
      {"true", [](PlistBuilder& b) { return b.Bool(true); }, "true"},
      {"false", [](PlistBuilder& b) { return b.Bool(false); }, "false"},
      {"null", [](PlistBuilder& b) { return b.Raw({0x00}); }, "null"},
      {"quote and backslash", [](PlistBuilder& b) { return b.Str("a\"b\\c/d"); },
       "\"a\\\"b\\\\c/d\""},
      {"controls", [](PlistBuilder& b) { return b.Str(std::string("\x01\b\f\n\r\t\x1f\x7f", 8)); },
       "\"\\u0001\\b\\f\\n\\r\\t\\u001f\x7f\""},
      {"NUL", [](PlistBuilder& b) { return b.Str(std::string("a\0b", 3)); }, "\"a\\u0000b\""},
      {"XML specials stay", [](PlistBuilder& b) { return b.Str("<&>"); }, "\"<&>\""},
      {"UTF-8 kept", [](PlistBuilder& b) { return b.Str("\xC3\xA9\xEF\xBF\xBF"); },
       "\"\xC3\xA9\xEF\xBF\xBF\""},
      {"Latin-1 byte", [](PlistBuilder& b) { return b.Str("caf\xE9\""); }, "\"caf\xC3\xA9\\\"\""},
      {"UTF-16", [](PlistBuilder& b) { return b.Utf16(u"\u00e9\"\n\U0001F600\uFFFE"); },
       "\"\xC3\xA9\\\"\\n\xF0\x9F\x98\x80\xEF\xBF\xBE\""},
      {"unpaired surrogate",
       [](PlistBuilder& b) {
         return b.Utf16(
             u"a\xD800"
             u"b");
       },
       "\"a\xEF\xBF\xBD"
       "b\""},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    PlistBuilder b;
    b.top = b.Array({c.make(b)});
    EXPECT_EQ(ConvertJson(b.Build()), Json({"[", "  " + c.text, "]"}));
  }
}

// Issue 15, fault 3: sets, which -c refuses as markers of no known kind,
// are arrays in -j and -kj, as a value, an element and a key.
TEST(Json, SetsAreArrays) {
  PlistBuilder b;
  uint64_t one = b.Int(1), empty = b.Set({});
  uint64_t set = b.Set({one, empty});
  b.top = b.Array({set, b.Dict({{set, one}})});
  const Bytes file = b.Build();
  const std::string want =
      Json({"[", "  [", "    1,", "    []", "  ],", "  {", "    \"array 2\": 1", "  }", "]"});
  EXPECT_EQ(ConvertJson(file), want);
  EXPECT_EQ(testutil::ConvertWith(file, {}, {}, OutputFormat::Json, true).xml, want);
  EXPECT_EQ(int(testutil::ConvertWith(file).outcome), int(bplist::Outcome::Failed));
}

// Each key with the value "v" in a dictionary; "" where the entry is left out.
TEST(Json, KeyTexts) {
  const std::vector<Case> table = {
      {"string", [](PlistBuilder& b) { return b.Str("name"); }, "\"name\""},
      {"escaped string", [](PlistBuilder& b) { return b.Str("a\"\t"); }, "\"a\\\"\\t\""},
      {"UTF-16 string", [](PlistBuilder& b) { return b.Utf16(u"\u00e9"); }, "\"\xC3\xA9\""},
      {"integer", [](PlistBuilder& b) { return b.Int(42, 0); }, "\"42\""},
      {"real, as -c writes it", [](PlistBuilder& b) { return b.Real(1.5); }, "\"1.5\""},
      {"true", [](PlistBuilder& b) { return b.Bool(true); }, "\"true\""},
      {"date without its fraction", [](PlistBuilder& b) { return b.Date(0.5); },
       "\"2001-01-01T00:00:00Z\""},
      {"data",
       [](PlistBuilder& b) {
         return b.Data({0, 1});
       },
       "\"AAE=\""},
      {"uid", [](PlistBuilder& b) { return b.Uid(300, 2); }, "\"300\""},
      {"array, by its object number", [](PlistBuilder& b) { return b.Array({b.Str("s")}); },
       "\"array 1\""},
      {"dictionary", [](PlistBuilder& b) { return b.Dict({}); }, "\"dict 0\""},
      {"null", [](PlistBuilder& b) { return b.Raw({0x00}); }, ""},
      {"fill", [](PlistBuilder& b) { return b.Raw({0x0F}); }, ""},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    PlistBuilder b;
    uint64_t key = c.make(b), value = b.Str("v");
    b.top = b.Dict({{key, value}});
    EXPECT_EQ(ConvertJson(b.Build()),
              c.text.empty() ? Json({"{}"}) : Json({"{", "  " + c.text + ": \"v\"", "}"}));
  }
}

// Separators: fill elements and left-out entries anywhere, empty
// containers, and the same around splits of long containers whose batches
// start with fill elements.
TEST(Json, SeparatorsAroundLeftOutElements) {
  PlistBuilder b;
  b.refSize = 2;
  b.offsetSize = 2;
  const uint64_t fill = b.Raw({0x0F}), null = b.Raw({0x00}), a = b.Str("a"), k = b.Str("k");
  const uint64_t empty = b.Array({}), onlyFill = b.Array({fill, fill});
  const uint64_t dict = b.Dict({{null, a}, {k, fill}, {k, null}, {fill, a}});
  b.top = b.Array({fill, empty, fill, onlyFill, dict, b.Dict({}), fill});
  EXPECT_EQ(ConvertJson(b.Build()),
            Json({"[", "  [],", "  [],", "  {", "    \"k\": null", "  },", "  {}", "]"}));

  // 600 elements, only every seventh written, in runs of fill elements
  // that batches of every size start in.
  std::vector<uint64_t> elements;
  std::vector<std::string> lines = {"["};
  for (int i = 0; i < 600; ++i) {
    bool written = i % 7 == 6;
    elements.push_back(written ? b.Int(i) : fill);
    if (written) lines.push_back("  " + std::to_string(i) + (i + 7 < 600 ? "," : ""));
  }
  lines.push_back("]");
  b.top = b.Array(elements);
  EXPECT_EQ(ConvertJson(b.Build()), Json(lines));
}

// The seam's functions mixed with objects of the file, in both formats.
TEST(Json, SeamCallsMixWithFileObjects) {
  PlistBuilder b;
  b.top = b.Str("file");
  const Bytes file = b.Build();
  bplist::Trailer trailer;
  ASSERT_EQ(bplist::DecodeTrailer(file.data(), file.size(), &trailer), "");
  // The layout -c gives a dictionary holding these values.
  const std::string xml =
      "    <dict>\r\n        <key>a</key>\r\n        <string>file</string>\r\n"
      "        <key>b&amp;</key>\r\n        <key>c</key>\r\n            <array>\r\n"
      "            <string>s</string>\r\n            <date>2001-01-01T00:00:01Z</date>\r\n"
      "            </array>\r\n    </dict>\r\n";
  const std::string json =
      "{\r\n  \"a\": \"file\",\r\n  \"b&\": null,\r\n  \"c\": [\r\n    \"s\",\r\n"
      "    \"2001-01-01T00:00:01.5Z\"\r\n  ],\r\n  \"d\": []\r\n}";
  for (OutputFormat format : {OutputFormat::Xml, OutputFormat::Json}) {
    testutil::ScratchStream stream;
    bplist::OutputBuffer out(stream.handle(), "");
    bplist::Parallelism parallel;
    bplist::Context c(file.data(), file.size(), trailer, out, parallel, bplist::Limits(), format);
    bplist::OpenDict(c);
    bplist::PutKey(c, "a");
    ASSERT_TRUE(bplist::WriteObject(c, 0, bplist::Role::Value));
    bplist::PutKey(c, "b&");
    bplist::PutNull(c);
    bplist::PutKey(c, "c");
    bplist::OpenArray(c);
    bplist::PutString(c, "s");
    ASSERT_TRUE(bplist::PutDate(c, 1.5));
    EXPECT_FALSE(bplist::PutDate(c, std::nan("")));
    bplist::CloseArray(c);
    if (format == OutputFormat::Json) {
      bplist::PutKey(c, "d");
      bplist::OpenArray(c);
      bplist::CloseArray(c);
    }
    bplist::CloseDict(c);
    out.Flush();
    EXPECT_EQ(stream.Contents(), format == OutputFormat::Xml ? xml : json);
  }
}

}  // namespace
