// Dictionaries and arrays: counts in the marker and extended counts, every
// reference and offset width, keys of every kind, the indentation of nested
// containers, and the rule that a container fails when any element fails.
#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <set>
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

// Adds the strings prefix0 .. prefix(n-1) and returns their object numbers.
std::vector<uint64_t> AddStrings(PlistBuilder& b, int n, const std::string& prefix) {
  std::vector<uint64_t> refs;
  for (int i = 0; i < n; ++i) refs.push_back(b.Str(prefix + std::to_string(i)));
  return refs;
}

// Adds a container given by its exact header bytes followed by one-byte
// references; sets it as the top object.
void AddRawTop(PlistBuilder& b, Bytes header, const std::vector<uint64_t>& refs) {
  for (uint64_t r : refs) header.push_back(uint8_t(r));
  b.top = b.Raw(header);
}

// Lines of a top array of the strings s0 .. s(n-1).
Lines StringArrayLines(int n) {
  Lines lines = {Ln(8, "<array>")};
  for (int i = 0; i < n; ++i) lines.push_back(Ln(8, "<string>s" + std::to_string(i) + "</string>"));
  lines.push_back(Ln(8, "</array>"));
  return lines;
}

// Lines of a top dictionary with keys k0 .. k(n-1), each holding "v".
Lines KeyDictLines(int n) {
  Lines lines = {Ln(4, "<dict>")};
  for (int i = 0; i < n; ++i) {
    lines.push_back(Ln(8, "<key>k" + std::to_string(i) + "</key>"));
    lines.push_back(Ln(8, "<string>v</string>"));
  }
  lines.push_back(Ln(4, "</dict>"));
  return lines;
}

// A top array of n strings with the given header bytes.
std::function<Bytes()> RawArray(Bytes header, int n) {
  return [header, n] {
    PlistBuilder b;
    b.offsetSize = 2;
    AddRawTop(b, header, AddStrings(b, n, "s"));
    return b.Build();
  };
}

// A top dictionary of n pairs k_i -> "v" built by the builder's own counts.
std::function<Bytes()> KeyDict(int n) {
  return [n] {
    PlistBuilder b;
    b.refSize = 2;
    b.offsetSize = 2;
    std::vector<uint64_t> keys = AddStrings(b, n, "k");
    uint64_t v = b.Str("v");
    std::vector<std::pair<uint64_t, uint64_t>> pairs;
    for (uint64_t k : keys) pairs.push_back({k, v});
    b.top = b.Dict(pairs);
    return b.Build();
  };
}

// A top dictionary with the one pair key -> "v", the key made by `key`.
std::function<Bytes()> KeyedBy(std::function<uint64_t(PlistBuilder&)> key) {
  return [key] {
    PlistBuilder b;
    uint64_t k = key(b);
    uint64_t v = b.Str("v");
    b.top = b.Dict({{k, v}});
    return b.Build();
  };
}

struct Case {
  const char* name;
  std::function<Bytes()> build;
  Lines body;
};

TEST(Containers, LayoutTable) {
  const std::vector<Case> table = {
      {"twelve-line example",
       [] {
         PlistBuilder b;
         uint64_t k = b.Str("k"), t = b.Bool(true);
         uint64_t inner = b.Dict({{k, t}});
         uint64_t one = b.Int(1, 0);
         uint64_t list = b.Array({one, inner});
         uint64_t name = b.Str("name"), x = b.Str("x"), listKey = b.Str("list");
         b.top = b.Dict({{name, x}, {listKey, list}});
         return b.Build();
       },
       {Ln(4, "<dict>"), Ln(8, "<key>name</key>"), Ln(8, "<string>x</string>"),
        Ln(8, "<key>list</key>"), Ln(12, "<array>"), Ln(12, "<integer>1</integer>"),
        Ln(12, "<dict>"), Ln(16, "<key>k</key>"), Ln(16, "<true/>"), Ln(12, "</dict>"),
        Ln(12, "</array>"), Ln(4, "</dict>")}},
      {"empty top array",
       [] {
         PlistBuilder b;
         b.Array({});
         return b.Build();
       },
       {Ln(8, "<array>"), Ln(8, "</array>")}},
      {"empty top dict",
       [] {
         PlistBuilder b;
         b.Dict({});
         return b.Build();
       },
       {Ln(4, "<dict>"), Ln(4, "</dict>")}},
      {"empty array and dict as values",
       [] {
         PlistBuilder b;
         uint64_t a = b.Str("a"), d = b.Str("d"), arr = b.Array({}), dict = b.Dict({});
         b.top = b.Dict({{a, arr}, {d, dict}});
         return b.Build();
       },
       {Ln(4, "<dict>"), Ln(8, "<key>a</key>"), Ln(12, "<array>"), Ln(12, "</array>"),
        Ln(8, "<key>d</key>"), Ln(8, "<dict>"), Ln(8, "</dict>"), Ln(4, "</dict>")}},
      {"arrays nested three deep, then an outer element",
       [] {
         PlistBuilder b;
         uint64_t x = b.Str("x"), y = b.Str("y");
         uint64_t a3 = b.Array({x}), a2 = b.Array({a3});
         b.top = b.Array({a2, y});
         return b.Build();
       },
       {Ln(8, "<array>"), Ln(12, "<array>"), Ln(16, "<array>"), Ln(16, "<string>x</string>"),
        Ln(16, "</array>"), Ln(12, "</array>"), Ln(8, "<string>y</string>"), Ln(8, "</array>")}},
      {"dict in dict, then an outer pair",
       [] {
         PlistBuilder b;
         uint64_t a = b.Str("a"), bk = b.Str("b"), c = b.Str("c"), d = b.Str("d"), e = b.Str("e");
         uint64_t inner = b.Dict({{bk, c}});
         b.top = b.Dict({{a, inner}, {d, e}});
         return b.Build();
       },
       {Ln(4, "<dict>"), Ln(8, "<key>a</key>"), Ln(8, "<dict>"), Ln(12, "<key>b</key>"),
        Ln(12, "<string>c</string>"), Ln(8, "</dict>"), Ln(8, "<key>d</key>"),
        Ln(8, "<string>e</string>"), Ln(4, "</dict>")}},
      {"array in dict in array",
       [] {
         PlistBuilder b;
         uint64_t k = b.Str("k"), v = b.Str("v"), z = b.Str("z");
         uint64_t arr = b.Array({v}), dict = b.Dict({{k, arr}});
         b.top = b.Array({dict, z});
         return b.Build();
       },
       {Ln(8, "<array>"), Ln(8, "<dict>"), Ln(12, "<key>k</key>"), Ln(16, "<array>"),
        Ln(16, "<string>v</string>"), Ln(16, "</array>"), Ln(8, "</dict>"),
        Ln(8, "<string>z</string>"), Ln(8, "</array>")}},
      {"uid value in nested dict",
       [] {
         PlistBuilder b;
         uint64_t a = b.Str("a"), u = b.Str("u"), uid = b.Uid(5);
         uint64_t inner = b.Dict({{u, uid}});
         b.top = b.Dict({{a, inner}});
         return b.Build();
       },
       {Ln(4, "<dict>"), Ln(8, "<key>a</key>"), Ln(8, "<dict>"), Ln(12, "<key>u</key>"),
        Ln(12, "<dict>"), Ln(16, "<key>CF$UID</key>"), Ln(16, "<integer>5</integer>"),
        Ln(12, "</dict>"), Ln(8, "</dict>"), Ln(4, "</dict>")}},
      {"null and fill elements write nothing",
       [] {
         PlistBuilder b;
         uint64_t n = b.Raw({0x00}), a = b.Str("a"), f = b.Raw({0x0F});
         b.top = b.Array({n, a, f});
         return b.Build();
       },
       {Ln(8, "<array>"), Ln(8, "<string>a</string>"), Ln(8, "</array>")}},
      {"null value leaves its entry out",
       [] {
         PlistBuilder b;
         uint64_t k = b.Str("k"), n = b.Raw({0x00});
         b.top = b.Dict({{k, n}});
         return b.Build();
       },
       {Ln(4, "<dict>"), Ln(4, "</dict>")}},
      {"one object referenced twice",
       [] {
         PlistBuilder b;
         uint64_t s = b.Str("s"), inner = b.Array({s});
         b.top = b.Array({inner, s, inner});
         return b.Build();
       },
       {Ln(8, "<array>"), Ln(12, "<array>"), Ln(12, "<string>s</string>"), Ln(12, "</array>"),
        Ln(8, "<string>s</string>"), Ln(12, "<array>"), Ln(12, "<string>s</string>"),
        Ln(12, "</array>"), Ln(8, "</array>")}},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    ExpectConverts(c.build(), c.body);
  }
}

TEST(Containers, CountTable) {
  const std::vector<Case> table = {
      {"14 elements in the marker", RawArray({0xAE}, 14), StringArrayLines(14)},
      {"15 elements, one-byte count", RawArray({0xAF, 0x10, 0x0F}, 15), StringArrayLines(15)},
      {"3 elements, one-byte count", RawArray({0xAF, 0x10, 0x03}, 3), StringArrayLines(3)},
      {"3 elements, two-byte count", RawArray({0xAF, 0x11, 0x00, 0x03}, 3), StringArrayLines(3)},
      {"3 elements, four-byte count", RawArray({0xAF, 0x12, 0, 0, 0, 3}, 3), StringArrayLines(3)},
      {"3 elements, eight-byte count", RawArray({0xAF, 0x13, 0, 0, 0, 0, 0, 0, 0, 3}, 3),
       StringArrayLines(3)},
      {"count marker's high nibble ignored", RawArray({0xAF, 0x50, 0x02}, 2), StringArrayLines(2)},
      {"empty array with extended count", RawArray({0xAF, 0x10, 0x00}, 0), StringArrayLines(0)},
      {"200 elements, one-byte count", RawArray({0xAF, 0x10, 200}, 200), StringArrayLines(200)},
      {"14 pairs in the marker", KeyDict(14), KeyDictLines(14)},
      {"15 pairs, extended count", KeyDict(15), KeyDictLines(15)},
      {"256 pairs, two-byte count", KeyDict(256), KeyDictLines(256)},
      {"2 pairs, one-byte count",
       [] {
         PlistBuilder b;
         std::vector<uint64_t> keys = AddStrings(b, 2, "k");
         uint64_t v = b.Str("v");
         AddRawTop(b, {0xDF, 0x10, 0x02}, {keys[0], keys[1], v, v});
         return b.Build();
       },
       KeyDictLines(2)},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    ExpectConverts(c.build(), c.body);
  }
}

// With sorted keys (-s), a key's count is read as the walk reads it, which
// writes the key as its text: counts whose integer has another marker, and
// counts wider than eight bytes, sort by their texts too. Both once sorted
// such a key after every text.
TEST(Containers, SortedKeysReadCountsAsTheWalkDoes) {
  Bytes wide = {0x5F, 0x14};
  wide.insert(wide.end(), 15, 0);
  wide.insert(wide.end(), {0x01, 'a'});
  const std::vector<std::pair<const char*, Bytes>> table = {
      {"count marker's high nibble ignored", {0x5F, 0x50, 0x01, 'a'}},
      {"sixteen-byte count", wide},
  };
  for (const auto& [name, key] : table) {
    SCOPED_TRACE(name);
    PlistBuilder b;
    uint64_t later = b.Str("b"), first = b.Raw(key), v = b.Str("v");
    b.top = b.Dict({{later, v}, {first, v}});
    testutil::MemoryResult r = testutil::ConvertWith(
        b.Build(), bplist::Parallelism(), bplist::Limits(), bplist::OutputFormat::Xml, false, true);
    ASSERT_EQ(int(r.outcome), int(bplist::Outcome::Converted)) << r.reason;
    EXPECT_LT(r.xml.find("<key>a</key>"), r.xml.find("<key>b</key>"));
  }
}

// A budget is a limit on the whole document, whatever the order it is
// written in. The file's last entry is its largest value, which sorted keys
// write first, and nothing is checked against the budget after the last. With the budget swept
// across the document's size, a run sorted and one in file order, each on one thread and split,
// convert or are too large alike, and a converted document is the whole one.
TEST(Containers, BudgetBoundsTheWholeDocumentInEveryOrder) {
  PlistBuilder b;
  b.offsetSize = 2;
  uint64_t text = b.Str(std::string(300, 'x')), small = b.Str("y");
  uint64_t many = b.Array(std::vector<uint64_t>(600, small));
  uint64_t second = b.Str("b"), first = b.Str("a");
  b.top = b.Dict({{second, many}, {first, text}});
  Bytes file = b.Build();
  std::string whole[2];
  for (bool sorted : {false, true}) {
    whole[sorted] = testutil::ConvertWith(file, bplist::Parallelism(), bplist::Limits(),
                                          bplist::OutputFormat::Xml, false, sorted)
                        .xml;
  }
  ASSERT_GT(whole[0].size(), 12000u);
  // The least budget that converts in file order, found by halves.
  auto limitsOf = [](uint64_t budget) {
    bplist::Limits limits;
    limits.BudgetPerInputByte = 0;
    limits.BudgetBase = budget;
    return limits;
  };
  uint64_t low = 0, high = uint64_t(1) << 20;
  while (low + 1 < high) {
    uint64_t mid = (low + high) / 2;
    bool fits = testutil::ConvertWith(file, bplist::Parallelism(), limitsOf(mid)).outcome ==
                bplist::Outcome::Converted;
    (fits ? high : low) = mid;
  }
  std::set<int> seen;
  for (uint64_t budget = high - 400; budget <= high + 400; budget += 5) {
    SCOPED_TRACE("budget " + std::to_string(budget));
    bplist::Limits limits = limitsOf(budget);
    testutil::MemoryResult r[2];
    for (bool sorted : {false, true}) {
      r[sorted] = testutil::ExpectSameOnThreads(file, limits, bplist::OutputFormat::Xml, sorted);
      if (r[sorted].outcome == bplist::Outcome::Converted) {
        EXPECT_EQ(r[sorted].xml, whole[sorted]);
      }
    }
    EXPECT_EQ(int(r[0].outcome), int(r[1].outcome));
    EXPECT_EQ(r[0].reason, r[1].reason);
    seen.insert(int(r[0].outcome));
  }
  EXPECT_EQ(seen, std::set<int>({int(bplist::Outcome::Converted), int(bplist::Outcome::TooLarge)}));
}

// The builder's own extended counts are the expected bytes.
TEST(Containers, ExtendedCountBytes) {
  EXPECT_EQ(testplist::CountHeader(0xA, 14), Bytes({0xAE}));
  EXPECT_EQ(testplist::CountHeader(0xA, 15), Bytes({0xAF, 0x10, 0x0F}));
  EXPECT_EQ(testplist::CountHeader(0xD, 256), Bytes({0xDF, 0x11, 0x01, 0x00}));
}

// The same property list gives the same document whatever the widths of
// its object references and offset-table entries.
TEST(Containers, EveryReferenceAndOffsetWidth) {
  const Lines body = {Ln(4, "<dict>"),
                      Ln(8, "<key>a</key>"),
                      Ln(12, "<array>"),
                      Ln(12, "<string>b</string>"),
                      Ln(12, "<string>c</string>"),
                      Ln(12, "</array>"),
                      Ln(8, "<key>d</key>"),
                      Ln(8, "<dict>"),
                      Ln(12, "<key>e</key>"),
                      Ln(12, "<false/>"),
                      Ln(8, "</dict>"),
                      Ln(4, "</dict>")};
  for (unsigned refSize : {1u, 2u, 3u, 4u, 5u, 8u}) {
    for (unsigned offsetSize = 1; offsetSize <= 8; ++offsetSize) {
      SCOPED_TRACE("refSize " + std::to_string(refSize) + " offsetSize " +
                   std::to_string(offsetSize));
      PlistBuilder b;
      b.refSize = refSize;
      b.offsetSize = offsetSize;
      uint64_t a = b.Str("a"), bs = b.Str("b"), c = b.Str("c"), d = b.Str("d"), e = b.Str("e");
      uint64_t f = b.Bool(false), arr = b.Array({bs, c}), inner = b.Dict({{e, f}});
      b.top = b.Dict({{a, arr}, {d, inner}});
      ExpectConverts(b.Build(), body);
    }
  }
}

// References above 255 need two bytes; with three pairs the value
// references start six bytes after the first key reference.
TEST(Containers, WideReferencesReachHighObjectNumbers) {
  for (unsigned refSize : {2u, 3u, 8u}) {
    SCOPED_TRACE(refSize);
    PlistBuilder b;
    b.refSize = refSize;
    b.offsetSize = 2;
    std::vector<uint64_t> strings = AddStrings(b, 300, "s");
    uint64_t arr = b.Array(strings);
    uint64_t k0 = b.Str("k0"), k1 = b.Str("k1"), k2 = b.Str("k2");
    b.top = b.Dict({{k0, strings[299]}, {k1, arr}, {k2, strings[256]}});
    Lines body = {Ln(4, "<dict>"), Ln(8, "<key>k0</key>"), Ln(8, "<string>s299</string>"),
                  Ln(8, "<key>k1</key>"), Ln(12, "<array>")};
    for (int i = 0; i < 300; ++i)
      body.push_back(Ln(12, "<string>s" + std::to_string(i) + "</string>"));
    for (const char* l : {"</array>"}) body.push_back(Ln(12, l));
    for (const std::string& l :
         {Ln(8, "<key>k2</key>"), Ln(8, "<string>s256</string>"), Ln(4, "</dict>")})
      body.push_back(l);
    ExpectConverts(b.Build(), body);
  }
}

TEST(Containers, KeyKindTable) {
  auto body = [](Lines keyLines) {
    Lines l = {Ln(4, "<dict>")};
    l.insert(l.end(), keyLines.begin(), keyLines.end());
    l.push_back(Ln(8, "<string>v</string>"));
    l.push_back(Ln(4, "</dict>"));
    return l;
  };
  const std::vector<Case> table = {
      {"string key", KeyedBy([](PlistBuilder& b) { return b.Str("name"); }),
       body({Ln(8, "<key>name</key>")})},
      {"utf-16 key", KeyedBy([](PlistBuilder& b) { return b.Utf16(u"\u00e9t\u00e9"); }),
       body({Ln(8, "<key>\xC3\xA9t\xC3\xA9</key>")})},
      {"integer key", KeyedBy([](PlistBuilder& b) { return b.Int(42, 0); }),
       body({Ln(8, "<key>42</key>")})},
      {"negative integer key", KeyedBy([](PlistBuilder& b) { return b.Int(-3); }),
       body({Ln(8, "<key>-3</key>")})},
      {"real key", KeyedBy([](PlistBuilder& b) { return b.Real(1.5); }),
       body({Ln(8, "<key>1.5</key>")})},
      {"true key is its element line", KeyedBy([](PlistBuilder& b) { return b.Bool(true); }),
       body({Ln(8, "<true/>")})},
      {"false key is its element line", KeyedBy([](PlistBuilder& b) { return b.Bool(false); }),
       body({Ln(8, "<false/>")})},
      // Issue 14, fault 2: the entry is left out whole, value included.
      {"null key leaves its entry out",
       KeyedBy([](PlistBuilder& b) { return b.Raw({0x00}); }),
       {Ln(4, "<dict>"), Ln(4, "</dict>")}},
      {"fill key leaves its entry out",
       KeyedBy([](PlistBuilder& b) { return b.Raw({0x0F}); }),
       {Ln(4, "<dict>"), Ln(4, "</dict>")}},
      {"one-byte uid key", KeyedBy([](PlistBuilder& b) { return b.Uid(7); }),
       body({Ln(8, "<key>7</key>")})},
      {"two-byte uid key", KeyedBy([](PlistBuilder& b) { return b.Uid(300, 2); }),
       body({Ln(8, "<key>300</key>")})},
      {"date key", KeyedBy([](PlistBuilder& b) { return b.Date(0); }),
       body({Ln(8, "<key>2001-01-01T00:00:00Z</key>")})},
      {"data key", KeyedBy([](PlistBuilder& b) {
         return b.Data({0, 1});
       }),
       body({Ln(8, "<key>AAE=</key>")})},
      {"escaped key", KeyedBy([](PlistBuilder& b) { return b.Str("a<&>b"); }),
       body({Ln(8, "<key>a&lt;&amp;&gt;b</key>")})},
      {"array key written whole", KeyedBy([](PlistBuilder& b) {
         uint64_t s = b.Str("s");
         return b.Array({s});
       }),
       body({Ln(12, "<array>"), Ln(12, "<string>s</string>"), Ln(12, "</array>")})},
      {"dict key written whole", KeyedBy([](PlistBuilder& b) {
         uint64_t k = b.Str("k"), w = b.Str("w");
         return b.Dict({{k, w}});
       }),
       body({Ln(8, "<dict>"), Ln(12, "<key>k</key>"), Ln(12, "<string>w</string>"),
             Ln(8, "</dict>")})},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    ExpectConverts(c.build(), c.body);
  }
}

// A container fails when any of its elements fails, wherever it stands,
// and the conversion fails with it.
TEST(Containers, AnyFailingElementFailsTheConversion) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<std::pair<const char*, std::function<Bytes()>>> table = {
      {"last array element unknown",
       [] {
         PlistBuilder b;
         uint64_t s = b.Str("s"), bad = b.Raw({0x70});
         b.top = b.Array({s, bad});
         return b.Build();
       }},
      {"first array element unknown, last fine",
       [] {
         PlistBuilder b;
         uint64_t bad = b.Raw({0x70}), s = b.Str("s");
         b.top = b.Array({bad, s});
         return b.Build();
       }},
      {"first dict value unknown, last fine",
       [] {
         PlistBuilder b;
         uint64_t k = b.Str("k"), bad = b.Raw({0x9F}), k2 = b.Str("k2"), s = b.Str("s");
         b.top = b.Dict({{k, bad}, {k2, s}});
         return b.Build();
       }},
      {"dict key unknown",
       [] {
         PlistBuilder b;
         uint64_t bad = b.Raw({0xE0}), s = b.Str("s");
         b.top = b.Dict({{bad, s}});
         return b.Build();
       }},
      {"unknown element two levels down",
       [] {
         PlistBuilder b;
         uint64_t bad = b.Raw({0xB5}), s = b.Str("s");
         uint64_t inner = b.Array({bad}), mid = b.Array({inner});
         b.top = b.Array({mid, s});
         return b.Build();
       }},
      {"bad date in a nested dict, outer pair fine",
       [nan] {
         PlistBuilder b;
         uint64_t a = b.Str("a"), d = b.Date(nan), c = b.Str("c");
         uint64_t inner = b.Dict({{a, d}});
         b.top = b.Dict({{a, inner}, {c, c}});
         return b.Build();
       }},
      {"bad date as dict key",
       [] {
         PlistBuilder b;
         uint64_t d = b.Date(1e300), s = b.Str("s");
         b.top = b.Dict({{d, s}});
         return b.Build();
       }},
      {"null top object",
       [] {
         PlistBuilder b;
         b.Raw({0x00});
         return b.Build();
       }},
      {"fill top object",
       [] {
         PlistBuilder b;
         b.Raw({0x0F});
         return b.Build();
       }},
  };
  for (const auto& [name, build] : table) {
    SCOPED_TRACE(name);
    ExpectFails(build());
  }
}

// Every marker byte without a type code fails as the top object; a sample
// of them fails as an array element too.
TEST(Containers, UnknownMarkersFail) {
  std::vector<uint8_t> unknown;
  for (int m = 0; m < 256; ++m) {
    int hi = m >> 4;
    bool known = m == 0x00 || m == 0x08 || m == 0x09 || m == 0x0F || m == 0x33 || hi == 1 ||
                 hi == 2 || hi == 4 || hi == 5 || hi == 6 || hi == 8 || hi == 0xA || hi == 0xD;
    if (!known) unknown.push_back(uint8_t(m));
  }
  ASSERT_EQ(unknown.size(), 7u + 5u + 3u + 12u + 16u + 16u + 32u + 32u);
  for (uint8_t m : unknown) {
    SCOPED_TRACE(int(m));
    PlistBuilder top;
    top.Raw({m, 0, 0, 0, 0, 0, 0, 0, 0});
    ExpectFails(top.Build());
    if (m % 5 == 0) {
      PlistBuilder element;
      uint64_t s = element.Str("s"), bad = element.Raw({m});
      element.top = element.Array({s, bad, s});
      ExpectFails(element.Build());
    }
  }
}

// Issue 14, fault 2: an entry whose key or value is a null or fill object is
// left out whole, on one thread and split alike, and is still read: a damaged
// other half still fails the file.
TEST(Containers, NullAndFillEntriesAreLeftOut) {
  PlistBuilder b;
  b.refSize = 2;
  b.offsetSize = 2;
  const uint64_t null = b.Raw({0x00}), fill = b.Raw({0x0F}), bad = b.Raw({0x70});
  const uint64_t k = b.Str("k"), v = b.Str("v"), nested = b.Dict({{k, v}, {null, v}});
  std::vector<std::pair<uint64_t, uint64_t>> entries;
  Lines want = {Ln(4, "<dict>")};
  for (int i = 0; i < 300; ++i) {
    uint64_t key = b.Str("k" + std::to_string(i));
    const std::pair<uint64_t, uint64_t> leftOut[] = {
        {null, v}, {fill, nested}, {key, null}, {key, fill}};
    if (i % 5 < 4) {
      entries.push_back(leftOut[i % 5]);
      continue;
    }
    entries.push_back({key, nested});
    for (const std::string& l :
         {Ln(8, "<key>k" + std::to_string(i) + "</key>"), Ln(8, "<dict>"), Ln(12, "<key>k</key>"),
          Ln(12, "<string>v</string>"), Ln(8, "</dict>")})
      want.push_back(l);
  }
  want.push_back(Ln(4, "</dict>"));
  b.top = b.Dict(entries);
  const Bytes good = b.Build();
  EXPECT_EQ(testutil::ExpectSameOnThreads(good).xml, testplist::Document(want));
  for (uint64_t key : {null, fill}) {
    b.top = b.Dict({{k, v}, {key, bad}});
    EXPECT_EQ(int(testutil::ExpectSameOnThreads(b.Build()).outcome), int(bplist::Outcome::Failed));
  }
}

}  // namespace
