// Property lists to binary: hostile and malformed text inputs, exact
// uniquing, the budget for shared containers, and the -b command line.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "TestUtil.h"
#include "bplist/Values.h"

using testplist::Bytes;
using testplist::PlistBuilder;
using testutil::ReadFile;
using testutil::RunResult;
using testutil::RunTarnwick;
using testutil::ScratchDir;
using testutil::WriteFile;

namespace {

bplist::ReadResult ReadText(const std::string& text) {
  bplist::ValueTree tree;
  return bplist::ReadAnyPlist(reinterpret_cast<const uint8_t*>(text.data()), text.size(), &tree);
}

// The binary plist -b (-bs with `sorted`) makes of `text`, or "" when
// refused, with the reason in *reason.
std::string ToBinary(const std::string& text, bool sorted = false,
                     const bplist::Limits& limits = bplist::Limits(),
                     std::string* reason = nullptr) {
  bplist::OutputBuffer out(uint64_t(1) << 30);
  bplist::BinaryResult r = bplist::ConvertToBinary(reinterpret_cast<const uint8_t*>(text.data()),
                                                   text.size(), out, sorted, limits);
  if (reason != nullptr) *reason = r.result.reason;
  if (r.result.outcome != bplist::Outcome::Converted) return "";
  out.Flush();
  return out.Text();
}

std::string Text(const Bytes& b) {
  return std::string(b.begin(), b.end());
}

uint64_t ObjectCount(const std::string& binary) {
  uint64_t n = 0;
  for (size_t i = binary.size() - 24; i < binary.size() - 16; ++i) n = n << 8 | uint8_t(binary[i]);
  return n;
}

std::string Plist(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">" + body + "</plist>";
}

}  // namespace

// Every hostile or malformed text input is refused with its reason and the
// place of the fault; none is followed, expanded or read past its end.
TEST(TextInput, HostileAndMalformedInputsAreRefusedWithTheirReason) {
  struct Case {
    const char* name;
    std::string input;
    const char* reason;  // the start of the reason, up to " at line"
    const char* place;   // " at line L, column C"
  };
  std::string laughs = "<!DOCTYPE plist [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;\">]>";
  std::string deepXml = "<plist>", deepJson;
  for (int i = 0; i < 10000; ++i) deepXml += "<array>", deepJson += "[";
  std::string huge = "<plist><string>" + std::string(1 << 20, 'x');
  const std::vector<Case> table = {
      {"billion laughs", laughs + "<plist><string>&b;</string></plist>",
       "an entity declaration (entities are not read)", " at line 1, column 18"},
      {"external entity", "<!DOCTYPE plist [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><plist/>",
       "an entity declaration (entities are not read)", " at line 1, column 18"},
      {"internal subset", "<!DOCTYPE plist [<!ELEMENT plist ANY>]><plist><true/></plist>",
       "a DOCTYPE with an internal subset", " at line 1, column 17"},
      {"undeclared entity", Plist("<string>&nbsp;</string>"),
       "the entity &nbsp; (only the five XML predefines are read)", " at line 2, column 30"},
      {"parameter entity", Plist("<string>%pe;</string>\n<!ENTITY x \"y\">"),
       "an entity declaration (entities are not read)", " at line 3, column 1"},
      {"unknown element", Plist("<array><integer>1</integer><set/></array>"),
       "the unknown element <set>", " at line 2, column 49"},
      {"unbalanced", Plist("<array><dict></array>"), "<dict> is closed by </array>",
       " at line 2, column 35"},
      {"key without value", Plist("<dict><key>a</key></dict>"), "a dictionary key without a value",
       " at line 2, column 40"},
      {"value without key", Plist("<dict><string>a</string></dict>"),
       "<string> where a dictionary key belongs", " at line 2, column 28"},
      {"two values", Plist("<true/><false/>"), "a <plist> holds more than one value",
       " at line 2, column 29"},
      {"text outside the grammar", Plist("<array>word</array>"),
       "text outside the elements of a property list", " at line 2, column 29"},
      {"element in a string", Plist("<string>a<b/></string>"), "an element inside <string>",
       " at line 2, column 31"},
      {"invalid UTF-8", Plist("<string>\xC3\x28</string>"), "invalid UTF-8",
       " at line 2, column 30"},
      {"overlong UTF-8", Plist("<string>\xC0\xBC</string>"), "invalid UTF-8",
       " at line 2, column 30"},
      {"NUL", Plist(std::string("<string>\0</string>", 18)), "a NUL character",
       " at line 2, column 30"},
      {"reference to NUL", Plist("<string>&#0;</string>"),
       "the character reference &#0; names no character", " at line 2, column 30"},
      {"reference to a surrogate", Plist("<string>&#xD800;</string>"),
       "the character reference &#xD800; names no character", " at line 2, column 30"},
      {"10,000 levels of XML", deepXml, "containers nest deeper than 512 levels",
       " at line 1, column 3592"},
      {"10,000 levels of JSON", deepJson, "containers nest deeper than 512 levels",
       " at line 1, column 513"},
      {"huge text cut short", huge, "the document ends inside <string>",
       " at line 1, column 1048592"},
      {"integer above 2^64 - 1", Plist("<integer>18446744073709551616</integer>"),
       "the integer 18446744073709551616 is out of range", " at line 2, column 22"},
      {"integer below -2^63", Plist("<integer>-9223372036854775809</integer>"),
       "the integer -9223372036854775809 is out of range", " at line 2, column 22"},
      {"real past the largest double", Plist("<real>1e309</real>"),
       "the real 1e309 is out of range", " at line 2, column 22"},
      {"real that is no number", Plist("<real>1.5.2</real>"),
       "the real text \"1.5.2\" is not a number", " at line 2, column 22"},
      {"date of another form", Plist("<date>2020-01-01 00:00:00</date>"),
       "the date \"2020-01-01 00:00:00\" is not of the form YYYY-MM-DDTHH:MM:SSZ",
       " at line 2, column 22"},
      {"February 30th", Plist("<date>2021-02-29T00:00:00Z</date>"),
       "the date \"2021-02-29T00:00:00Z\" names no time", " at line 2, column 22"},
      {"bad base64", Plist("<data>AA*A</data>"), "the character '*' in base64 data",
       " at line 2, column 22"},
      {"XML duplicate key", Plist("<dict><key>k</key><true/><key>k</key><false/></dict>"),
       "a dictionary holds the key \"k\" twice", " at line 2, column 67"},
      {"JSON null", "{\"a\": null}", "null (a property list has no null value)",
       " at line 1, column 7"},
      {"JSON duplicate key", "{\"a\": 1,\n \"a\": 2}", "an object holds the key \"a\" twice",
       " at line 2, column 8"},
      {"JSON integer out of range", "[18446744073709551616]",
       "the integer 18446744073709551616 is out of range", " at line 1, column 2"},
      {"JSON real out of range", "[-1e400]", "the real -1e400 is out of range",
       " at line 1, column 2"},
      {"JSON leading zero", "[01]", "an array's values without a ',' between them",
       " at line 1, column 3"},
      {"JSON lone surrogate", "[\"\\ud800\"]", "a lone surrogate escape", " at line 1, column 3"},
      {"JSON control character", "[\"a\tb\"]", "a control character inside a string",
       " at line 1, column 4"},
      {"JSON trailing comma", "[1,]", "a character that starts no value", " at line 1, column 4"},
      {"JSON text after the value", "{} {}", "text after the document", " at line 1, column 4"},
      {"JSON single quotes", "{'a': 1}", "an object's member without a string key",
       " at line 1, column 2"},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    bplist::ReadResult r = ReadText(c.input);
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.notPlist);
    EXPECT_EQ(r.reason, std::string(c.reason) + c.place);
  }
}

// A document cut at any byte is refused, never taken as a shorter one.
TEST(TextInput, TruncationAtEveryByteIsRefused) {
  const std::vector<std::string> documents = {
      Plist("<dict><key>a&amp;b</key><array><integer>-1</integer><real>2.5</real>"
            "<data>AAEC</data><date>2001-01-01T00:00:00Z</date><string><![CDATA[x<y]]></string>"
            "<true/></array><key>u</key><dict><key>CF$UID</key><integer>3</integer></dict>"
            "</dict>"),
      "{\"a\": [1, -2.5e3, true, false, \"\\u00e9\\ud83d\\ude00\"], \"b\": {\"CF$UID\": 4}}",
  };
  for (const std::string& doc : documents) {
    ASSERT_TRUE(ReadText(doc).ok) << doc;
    for (size_t n = 0; n < doc.size(); ++n) {
      bplist::ReadResult r = ReadText(doc.substr(0, n));
      EXPECT_FALSE(r.ok) << n << ": " << doc.substr(0, n);
    }
  }
}

// Values are one object only when equal in kind and every bit: zero and
// negative zero, 1 and 1.0, true and 1, NaNs of other payloads, a string
// and data of the same bytes all stay apart; equal strings, data, numbers,
// dates and booleans are stored once.
TEST(BinaryWriter, UniquesOnlyBitIdenticalScalars) {
  struct Case {
    const char* name;
    std::string elements;
    uint64_t objects;  // the array and its distinct elements
  };
  const std::vector<Case> table = {
      {"zero and negative zero", "<real>0</real><real>-0.0</real>", 3},
      {"equal reals", "<real>0.5</real><real>5e-1</real>", 2},
      {"integer and real", "<integer>1</integer><real>1</real>", 3},
      {"boolean and integer", "<true/><integer>1</integer>", 3},
      {"equal integers", "<integer>7</integer><integer>0x7</integer><integer>+7</integer>", 2},
      {"string and data", "<string>AAEC</string><data>AAEC</data>", 3},
      {"equal data", "<data>AAEC</data><data>AA EC</data>", 2},
      {"equal strings", "<string>h\xC3\xA9</string><string>h&#xE9;</string>", 2},
      {"string and key-like string",
       "<string>a</string><dict><key>a</key><string>a</string></dict>", 3},
      {"date and real", "<date>2001-01-01T00:00:00Z</date><real>0</real>", 3},
      {"booleans", "<true/><true/><false/><false/>", 3},
      {"UID and integer", "<dict><key>CF$UID</key><integer>1</integer></dict><integer>1</integer>",
       3},
      {"equal empty arrays stay two", "<array/><array/>", 3},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    std::string binary = ToBinary(Plist("<array>" + c.elements + "</array>"));
    ASSERT_FALSE(binary.empty());
    EXPECT_EQ(ObjectCount(binary), c.objects);
  }
  // NaNs of two payloads, from a binary file: two objects, each kept.
  PlistBuilder b;
  size_t nan1 = b.Raw({0x23, 0x7F, 0xF8, 0, 0, 0, 0, 0, 1});
  size_t nan2 = b.Raw({0x23, 0x7F, 0xF8, 0, 0, 0, 0, 0, 2});
  b.top = b.Array({nan1, nan2, nan1});
  Bytes file = b.Build();
  std::string binary = ToBinary(std::string(file.begin(), file.end()));
  EXPECT_EQ(ObjectCount(binary), 3u);
  EXPECT_NE(binary.find("\x23\x7F\xF8\0\0\0\0\0\x01"), std::string::npos);
  EXPECT_NE(binary.find(std::string("\x23\x7F\xF8\0\0\0\0\0\x02", 9)), std::string::npos);
}

// A binary file is rewritten with its checks: a small file whose shared
// arrays would make a huge document is too large; cycles, non-string keys
// and null values are refused; null and fill elements are skipped.
TEST(BinaryInput, SharedContainersCyclesAndKeys) {
  PlistBuilder shared;
  size_t inner = shared.Array({shared.Bool(true), shared.Bool(false)});
  for (int level = 0; level < 40; ++level) inner = shared.Array({inner, inner});
  shared.top = inner;
  PlistBuilder cycle;
  cycle.top = cycle.Array({1});
  cycle.Array({0});
  PlistBuilder intKey;
  intKey.top = intKey.Dict({{intKey.Int(1), intKey.Str("v")}});
  PlistBuilder nulls;
  nulls.top = nulls.Array({nulls.Raw({0x00}), nulls.Str("kept"), nulls.Raw({0x0F})});
  struct Case {
    const char* name;
    Bytes file;
    bool tooLarge;
    const char* reason;  // "" when converted
  };
  const std::vector<Case> table = {
      {"2^40 shared arrays", shared.Build(), true, "its document would hold more than "},
      {"cycle", cycle.Build(), false, "object 0 contains itself"},
      {"integer key", intKey.Build(), false, "object 0 is a dictionary key but not a string"},
      {"null and fill elements", nulls.Build(), false, ""},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    bplist::ValueTree tree;
    bplist::ReadResult r = bplist::ReadBinaryPlist(c.file.data(), c.file.size(), &tree);
    EXPECT_EQ(r.ok, c.reason[0] == 0);
    EXPECT_EQ(r.tooLarge, c.tooLarge);
    EXPECT_EQ(r.reason.substr(0, std::strlen(c.reason)), c.reason);
  }
  std::string kept = ToBinary(std::string(table[3].file.begin(), table[3].file.end()));
  EXPECT_EQ(ObjectCount(kept), 2u);
}

// -bs writes each dictionary's entries in the order of their keys' UTF-16
// code units, equal texts in input order: the same bytes as -b of the
// entries given in that order by hand.
TEST(BinaryWriter, SortedKeysFollowUtf16CodeUnits) {
  auto dict = [](const std::vector<const char*>& keys) {
    std::string body = "<dict>";
    for (const char* k : keys)
      body += std::string("<key>") + k + "</key><string>" + k + "</string>";
    return body + "</dict>";
  };
  // Binary inputs: a key given twice, and a Latin-1 key (0xE9) beside the
  // UTF-8 text of the same character, which are equal texts.
  auto binary = [](const std::vector<std::pair<std::string, std::string>>& entries) {
    PlistBuilder b;
    std::vector<std::pair<uint64_t, uint64_t>> pairs;
    for (const auto& e : entries) pairs.push_back({b.Str(e.first), b.Str(e.second)});
    b.top = b.Dict(pairs);
    return Text(b.Build());
  };
  struct Case {
    const char* name;
    std::string input, sorted;
  };
  const std::vector<Case> table = {
      {"UTF-16 units, not code points",
       Plist(dict({"b", "a", "\xc3\xa9", "\xf0\x9f\x98\x80", "\xef\xbd\x81", "A", ""})),
       Plist(dict({"", "A", "a", "b", "\xc3\xa9", "\xf0\x9f\x98\x80", "\xef\xbd\x81"}))},
      {"nested, records with the same keys in two orders",
       Plist("<array>" + dict({"y", "x"}) + dict({"x", "y"}) + dict({"y", "x"}) +
             "<dict><key>z</key>" + dict({"q", "p"}) + "<key>a</key><true/></dict></array>"),
       Plist("<array>" + dict({"x", "y"}) + dict({"x", "y"}) + dict({"x", "y"}) +
             "<dict><key>a</key><true/><key>z</key>" + dict({"p", "q"}) + "</dict></array>")},
      {"a key given twice keeps its input order",
       binary({{"k", "1"}, {"b", "x"}, {"k", "2"}, {"a", "y"}}),
       binary({{"a", "y"}, {"b", "x"}, {"k", "1"}, {"k", "2"}})},
      {"Latin-1 and UTF-8 of one character",
       binary({{"\xe9", "latin"}, {"z", "z"}, {"\xc3\xa9", "utf8"}, {"\xc3\xa0", "a-grave"}}),
       binary({{"z", "z"}, {"\xc3\xa0", "a-grave"}, {"\xe9", "latin"}, {"\xc3\xa9", "utf8"}})},
      {"JSON", R"({"b": {"d": 1, "c": [{"f": 0, "e": 1}]}, "a": 2})",
       R"({"a": 2, "b": {"c": [{"e": 1, "f": 0}], "d": 1}})"},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    std::string got = ToBinary(c.input, true);
    EXPECT_EQ(got, ToBinary(c.sorted));
    EXPECT_NE(got, ToBinary(c.input));
    EXPECT_NE(got, "");
  }
  // Comparing the keys costs no more than the work budget: past it, the
  // file is too large for -bs, and -b still takes it.
  std::string keys = Plist(dict({"a-long-key-one", "a-long-key-two", "a-long-key-three"}));
  bplist::Limits small;
  small.BudgetBase = 40;
  small.BudgetPerInputByte = 0;
  std::string reason;
  EXPECT_EQ(ToBinary(keys, true, small, &reason), "");
  EXPECT_EQ(reason, "its keys, one text for each entry, pass the limit of 0 MiB to sort");
  EXPECT_EQ(ToBinary(keys, false, small), ToBinary(keys));
  small.BudgetBase = 44;
  EXPECT_EQ(ToBinary(keys, true, small), ToBinary(keys, true));
}

// -b takes any property list and has -c's messages and exit codes; -c and -j
// still refuse a text property list.
TEST(BinaryCli, MessagesExitCodesAndOutput) {
  struct Case {
    const char* name;
    std::string input;
    int exitCode;
    const char* reason;  // printed after "File IN"; "" when converted
  };
  std::string small(testutil::kSmallDict.begin(), testutil::kSmallDict.end());
  // {"a": 1} in Apple's layout: the dictionary, its key, its value; the
  // offset table at 15; one-byte offsets and references.
  const std::string apple(
      "bplist00\xD1\x01\x02\x51\x61\x10\x01\x08\x0B\x0D"
      "\0\0\0\0\0\0\x01\x01\0\0\0\0\0\0\0\x03\0\0\0\0\0\0\0\0"
      "\0\0\0\0\0\0\0\x0F",
      50);
  const std::vector<Case> table = {
      {"XML", Plist("<dict><key>a</key><integer>1</integer></dict>"), 0, ""},
      {"JSON", "{\"a\": 1}", 0, ""},
      {"binary", small, 0, ""},
      {"UTF-16 XML",
       std::string("\xFF\xFE<\0d\0i\0c\0t\0>\0<\0k\0e\0y\0>\0a\0<\0/\0k\0e\0y\0>\0<\0i\0n\0t\0e\0g"
                   "\0e\0r\0>\0001\0<\0/\0i\0n\0t\0e\0g\0e\0r\0>\0<\0/\0d\0i\0c\0t\0>\0",
                   92),
       0, ""},
      {"empty", "", 1, " is not a property list!"},
      {"plain text", "hello", 1, " is not a property list!"},
      {"damaged XML", "<plist>\n  <dict>\n    <key>a</key>\n  </dict>\n</plist>", 1,
       " is damaged: a dictionary key without a value at line 4, column 3"},
      {"damaged binary", "bplist00", 1, " is damaged: too short to hold a header and a trailer"},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string in = dir.File("in"), out = dir.File("out.plist");
    WriteFile(in, c.input);
    WriteFile(out, std::string("keep me\n"));
    RunResult r = RunTarnwick({"-b", in, out});
    EXPECT_EQ(r.exitCode, c.exitCode);
    if (c.exitCode == 0) {
      EXPECT_EQ(r.output, "");
      EXPECT_EQ(ReadFile(out), apple);
    } else {
      EXPECT_EQ(r.output,
                "File " + in + c.reason + "\r\nError: Unable convert file " + in + "\r\n");
      EXPECT_EQ(ReadFile(out), "keep me\n");
    }
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in", "out.plist"}));
    if (c.input.rfind("bplist", 0) == 0) continue;
    for (const char* verb : {"-c", "-j"}) {
      RunResult refused = RunTarnwick({verb, in, out});
      EXPECT_EQ(
          refused.output,
          "File " + in + " is not a binary plist!\r\nError: Unable convert file " + in + "\r\n");
    }
  }
}

namespace {

uint64_t Fnv1a(const std::string& bytes) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (char ch : bytes) h = (h ^ uint8_t(ch)) * 0x100000001B3ull;
  return h;
}

std::string Hex(uint64_t v) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
  return text;
}

// The document -c or -j writes of a binary plist, in memory.
std::string Document(const Bytes& file, bplist::OutputFormat format) {
  bplist::OutputBuffer out(uint64_t(1) << 30);
  bplist::ConvertBuffer(file.data(), file.size(), out, bplist::Parallelism(), bplist::Limits(),
                        format);
  out.Flush();
  return out.Text();
}

}  // namespace

// Every corpus file, its XML and its JSON become binary plists whose
// digests, listed in binary.fnv beside the corpus (made on Linux), match on
// every platform: Windows writes the same bytes.
TEST(BinaryWriter, CorpusDigestsMatchOnEveryPlatform) {
  std::map<std::string, std::string> digests;
  std::istringstream list(testutil::ReadFile(std::string(TARNWICK_CORPUS_DIR) + "/../binary.fnv"));
  for (std::string name, a, b, c; list >> name >> a >> b >> c;)
    digests[name] = a + " " + b + " " + c;
  std::vector<std::string> files = testutil::FilesIn(TARNWICK_CORPUS_DIR);
  EXPECT_EQ(digests.size(), files.size());
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    Bytes file = testutil::ReadBytes(path);
    std::string got = Hex(Fnv1a(ToBinary(std::string(file.begin(), file.end()))));
    for (bplist::OutputFormat format : {bplist::OutputFormat::Xml, bplist::OutputFormat::Json})
      got += " " + Hex(Fnv1a(ToBinary(Document(file, format))));
    EXPECT_EQ(got, digests[path.substr(path.rfind('/') + 1)]);
  }
}
