// Strings and UIDs: 8-bit strings as UTF-8 or Latin-1, UTF-16 with surrogate
// pairs, characters XML cannot carry, escaping, empty strings and counts,
// and UIDs written as CF$UID dictionaries.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "TestUtil.h"

namespace {

using testplist::Bytes;
using testplist::Document;
using testplist::PlistBuilder;
using testutil::ExpectConverts;
using testutil::ExpectFails;
using testutil::Lines;
using testutil::Ln;

const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// A file whose only object is `object`, given as its exact bytes.
Bytes Single(const Bytes& object) {
  PlistBuilder b;
  b.offsetSize = 2;
  b.Raw(object);
  return b.Build();
}

// Bytes of an 8-bit string object holding `s`.
Bytes Str8(const std::string& s) {
  Bytes b = testplist::CountHeader(0x5, s.size());
  b.insert(b.end(), s.begin(), s.end());
  return b;
}

// Bytes of a UTF-16 string object holding the code units `units`.
Bytes Str16(const std::u16string& units) {
  Bytes b = testplist::CountHeader(0x6, units.size());
  for (char16_t c : units) b.insert(b.end(), {uint8_t(c >> 8), uint8_t(c)});
  return b;
}

// Converts the string object `object` as a top value and as the key and
// value of a dictionary, and expects `text` between the tags each time.
void ExpectStringText(const Bytes& object, const std::string& text) {
  ExpectConverts(Single(object), {Ln(4, "<string>" + text + "</string>")});
  PlistBuilder b;
  b.offsetSize = 2;
  uint64_t s = b.Raw(object);
  b.top = b.Dict({{s, s}});
  ExpectConverts(b.Build(), {Ln(4, "<dict>"), Ln(8, "<key>" + text + "</key>"),
                             Ln(8, "<string>" + text + "</string>"), Ln(4, "</dict>")});
}

struct TextCase {
  const char* name;
  Bytes object;
  std::string text;
};

TEST(Strings, EightBitTable) {
  const std::vector<TextCase> table = {
      {"ascii", Str8("hello"), "hello"},
      {"valid two-byte utf-8", Str8("caf\xC3\xA9"), "caf\xC3\xA9"},
      {"valid four-byte utf-8", Str8("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80"},
      {"highest code point", Str8("\xF4\x8F\xBF\xBF"), "\xF4\x8F\xBF\xBF"},
      {"lone latin-1 byte", Str8("\xE9t\xE9"), "\xC3\xA9t\xC3\xA9"},
      {"0xFF", Str8("\xFF"), "\xC3\xBF"},
      {"valid sequence then invalid byte: all latin-1", Str8("\xC3\xA9\xFF"),
       "\xC3\x83\xC2\xA9\xC3\xBF"},
      {"overlong encoding is latin-1", Str8("\xC0\x80"), "\xC3\x80\xC2\x80"},
      {"encoded surrogate is latin-1", Str8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xC2\x80"},
      {"above U+10FFFF is latin-1", Str8("\xF4\x90\x80\x80"), "\xC3\xB4\xC2\x90\xC2\x80\xC2\x80"},
      {"truncated sequence is latin-1", Str8("a\xE2\x82"), "a\xC3\xA2\xC2\x82"},
      {"C1 control kept", Str8("\x85"), "\xC2\x85"},
      {"DEL kept", Str8("a\x7F"), "a\x7F"},
      {"C0 controls replaced", Str8(std::string("a\x01\x1F", 3)),
       "a" + kReplacement + kReplacement},
      {"NUL replaced", Str8(std::string("a\0b", 3)), "a" + kReplacement + "b"},
      {"tab and LF kept, CR as a reference", Str8("a\tb\nc\rd"), "a\tb\nc&#13;d"},
      {"control in latin-1 string replaced", Str8("\x01\xFF"), kReplacement + "\xC3\xBF"},
      {"U+FFFE in utf-8 replaced", Str8("x\xEF\xBF\xBE"), "x" + kReplacement},
      {"U+FFFF in utf-8 replaced", Str8("\xEF\xBF\xBFy"), kReplacement + "y"},
      {"U+FFFD kept", Str8("\xEF\xBF\xBD"), kReplacement},
      {"escaping", Str8("<a & b>"), "&lt;a &amp; b&gt;"},
      {"entity text escaped again", Str8("&amp;"), "&amp;amp;"},
      {"quotes kept", Str8("\"'"), "\"'"},
      {"escaping in latin-1 string", Str8("<\xE9>"), "&lt;\xC3\xA9&gt;"},
      {"empty", {0x50}, ""},
      {"empty with extended count", {0x5F, 0x10, 0x00}, ""},
      {"14 characters in the marker", Str8("abcdefghijklmn"), "abcdefghijklmn"},
      {"15 characters, extended count", Str8("abcdefghijklmno"), "abcdefghijklmno"},
      {"extended count with spare bytes", {0x5F, 0x12, 0, 0, 0, 2, 'o', 'k'}, "ok"},
      {"256 characters, two-byte count", Str8(std::string(256, 'z')), std::string(256, 'z')},
  };
  ASSERT_EQ(Str8("abcdefghijklmno")[0], 0x5F);
  Bytes long256{0x5F, 0x11, 0x01, 0x00};
  long256.insert(long256.end(), 256, 'z');
  ASSERT_EQ(Str8(std::string(256, 'z')), long256);
  for (const TextCase& c : table) {
    SCOPED_TRACE(c.name);
    ExpectStringText(c.object, c.text);
  }
}

TEST(Strings, Utf16Table) {
  const std::vector<TextCase> table = {
      {"ascii", Str16(u"AB"), "AB"},
      {"big-endian units", {0x62, 0x00, 0x41, 0x00, 0x42}, "AB"},
      {"unit 0x4100", {0x61, 0x41, 0x00}, "\xE4\x84\x80"},
      {"latin", Str16(u"\u00e9"), "\xC3\xA9"},
      {"euro sign", Str16(u"\u20ac"), "\xE2\x82\xAC"},
      {"surrogate pair joined", Str16(u"\U0001F600"), "\xF0\x9F\x98\x80"},
      {"highest pair", Str16(u"\U0010FFFF"), "\xF4\x8F\xBF\xBF"},
      {"lone high surrogate", Str16({0xD800}), kReplacement},
      {"lone low surrogate", Str16({0xDC00}), kReplacement},
      {"high surrogate then letter", Str16({0xD83D, u'A'}), kReplacement + "A"},
      {"pair in reverse order", Str16({0xDE00, 0xD83D}), kReplacement + kReplacement},
      {"high surrogate at the end", Str16({u'a', 0xDBFF}), "a" + kReplacement},
      {"two high surrogates then low", Str16({0xD83D, 0xD83D, 0xDE00}),
       kReplacement + "\xF0\x9F\x98\x80"},
      {"U+FFFE", Str16({0xFFFE}), kReplacement},
      {"U+FFFF", Str16({0xFFFF}), kReplacement},
      {"U+FFFD kept", Str16({0xFFFD}), kReplacement},
      {"NUL and controls", Str16({0x0000, 0x0001, 0x001F}),
       kReplacement + kReplacement + kReplacement},
      {"tab and LF kept, CR as a reference", Str16(u"\t\n\r"), "\t\n&#13;"},
      {"C1 control kept", Str16({0x0085}), "\xC2\x85"},
      {"escaping", Str16(u"<&>"), "&lt;&amp;&gt;"},
      {"empty", {0x60}, ""},
      {"empty with extended count", {0x6F, 0x10, 0x00}, ""},
      {"15 units, extended count", Str16(u"abcdefghijklmno"), "abcdefghijklmno"},
      {"300 units, two-byte count", Str16(std::u16string(300, u'\u00e9')),
       [] {
         std::string s;
         for (int i = 0; i < 300; ++i) s += "\xC3\xA9";
         return s;
       }()},
  };
  for (const TextCase& c : table) {
    SCOPED_TRACE(c.name);
    ExpectStringText(c.object, c.text);
  }
}

// A line feed stays raw and splits the element's line; a carriage return
// is written as a character reference, since XML readers would turn a raw
// one into a line feed.
TEST(Strings, LineBreakInsideString) {
  ExpectConverts(Single(Str8("a\r\nb")), {Ln(4, "<string>a&#13;\nb</string>")});
}

// The lines of a UID value at indentation `d`: laid out as a nested
// dictionary holding the pair CF$UID -> n.
Lines UidLines(int d, const std::string& n) {
  return {Ln(d + 4, "<dict>"), Ln(d + 8, "<key>CF$UID</key>"),
          Ln(d + 8, "<integer>" + n + "</integer>"), Ln(d + 4, "</dict>")};
}

struct UidCase {
  const char* name;
  Bytes object;
  std::string text;
};

const std::vector<UidCase> kUids = {
    {"one byte", {0x80, 0x05}, "5"},
    {"one byte zero", {0x80, 0x00}, "0"},
    {"one byte 255", {0x80, 0xFF}, "255"},
    {"two bytes", {0x81, 0x01, 0x2C}, "300"},
    {"three bytes", {0x82, 0x01, 0x00, 0x00}, "65536"},
    {"four bytes", {0x83, 0xDE, 0xAD, 0xBE, 0xEF}, "3735928559"},
    {"eight bytes, high bit", {0x87, 0x80, 0, 0, 0, 0, 0, 0, 0}, "9223372036854775808"},
    {"eight bytes, all ones",
     {0x87, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
     "18446744073709551615"},
    {"sixteen bytes, 2^64",
     {0x8F, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0},
     "18446744073709551616"},
    {"sixteen bytes, all ones",
     [] {
       Bytes b(17, 0xFF);
       b[0] = 0x8F;
       return b;
     }(),
     "340282366920938463463374607431768211455"},
};

TEST(Strings, UidTable) {
  for (const UidCase& c : kUids) {
    SCOPED_TRACE(c.name);
    // The top object.
    ExpectConverts(Single(c.object), UidLines(0, c.text));
    // An array element, then a string at the array's indentation again.
    {
      PlistBuilder b;
      uint64_t u = b.Raw(c.object), s = b.Str("s");
      b.top = b.Array({u, s});
      Lines body = {Ln(8, "<array>")};
      for (const std::string& l : UidLines(4, c.text)) body.push_back(l);
      body.push_back(Ln(8, "<string>s</string>"));
      body.push_back(Ln(8, "</array>"));
      ExpectConverts(b.Build(), body);
    }
    // Key and value of a dictionary.
    {
      PlistBuilder b;
      uint64_t u = b.Raw(c.object), k = b.Str("k");
      b.top = b.Dict({{u, u}, {k, k}});
      Lines body = {Ln(4, "<dict>"), Ln(8, "<key>" + c.text + "</key>")};
      for (const std::string& l : UidLines(4, c.text)) body.push_back(l);
      body.push_back(Ln(8, "<key>k</key>"));
      body.push_back(Ln(8, "<string>k</string>"));
      body.push_back(Ln(4, "</dict>"));
      ExpectConverts(b.Build(), body);
    }
  }
}

// A UID in an array inside a dictionary inside an array.
TEST(Strings, UidDeepInside) {
  PlistBuilder b;
  uint64_t u = b.Uid(9), k = b.Str("k");
  uint64_t arr = b.Array({u}), dict = b.Dict({{k, arr}});
  b.top = b.Array({dict});
  Lines body = {Ln(8, "<array>"), Ln(8, "<dict>"), Ln(12, "<key>k</key>"), Ln(16, "<array>")};
  for (const std::string& l : UidLines(12, "9")) body.push_back(l);
  for (const std::string& l : {Ln(16, "</array>"), Ln(8, "</dict>"), Ln(8, "</array>")})
    body.push_back(l);
  ExpectConverts(b.Build(), body);
}

}  // namespace
