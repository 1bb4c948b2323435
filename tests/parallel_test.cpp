// Large containers split across threads: the document and the first failure
// must be exactly those of a single thread, whatever the batches and
// whichever thread converts them.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "PlistBuilder.h"
#include "TestUtil.h"

namespace {

using bplist::Outcome;
using testplist::Bytes;
using testplist::PlistBuilder;
using testutil::ExpectSameOnThreads;
using testutil::MemoryResult;

// A top array of `count` elements of every kind, with strings that need
// escaping, nested containers and shared objects.
Bytes MixedArray(size_t count) {
  PlistBuilder b;
  b.refSize = 2;
  b.offsetSize = 4;
  size_t sharedKey = b.Str("shared & key");
  size_t sharedValue = b.Utf16(u"\u00e9t\u00e9 <\u2603>");
  std::vector<uint64_t> elements;
  for (size_t i = 0; i < count; ++i) {
    switch (i % 8) {
      case 0:
        elements.push_back(b.Int(int64_t(i) * 1000003 - 5000000));
        break;
      case 1:
        elements.push_back(b.Str("item " + std::to_string(i) + (i % 3 ? "" : " <&>")));
        break;
      case 2:
        elements.push_back(b.Real(double(i) / 7));
        break;
      case 3:
        elements.push_back(b.Dict({{sharedKey, sharedValue}, {b.Str("n"), b.Int(int64_t(i))}}));
        break;
      case 4:
        elements.push_back(b.Array({b.Bool(i % 2 == 0), b.Date(double(i) * 86400.5)}));
        break;
      case 5:
        elements.push_back(b.Data(Bytes(i % 40, uint8_t(i))));
        break;
      case 6:
        elements.push_back(b.Uid(i));
        break;
      default:
        elements.push_back(sharedValue);
    }
  }
  b.top = b.Array(elements);
  return b.Build();
}

// A top dictionary of `count` entries whose values are small arrays.
Bytes WideDict(size_t count) {
  PlistBuilder b;
  b.refSize = 2;
  b.offsetSize = 2;
  std::vector<std::pair<uint64_t, uint64_t>> entries;
  for (size_t i = 0; i < count; ++i)
    entries.push_back({b.Str("k" + std::to_string(i)), b.Array({b.Int(int64_t(i)), b.Str("v")})});
  b.top = b.Dict(entries);
  return b.Build();
}

// A top array of `count` arrays, each sharing one large string: every element
// outgrows a small batch limit.
Bytes LargeElements(size_t count, size_t textSize) {
  PlistBuilder b;
  b.refSize = 2;
  b.offsetSize = 4;
  size_t text = b.Str(std::string(textSize, 'x'));
  std::vector<uint64_t> elements;
  for (size_t i = 0; i < count; ++i)
    elements.push_back(i % 3 ? b.Int(int64_t(i)) : b.Array({text, b.Int(int64_t(i))}));
  b.top = b.Array(elements);
  return b.Build();
}

TEST(Parallel, SplitDocumentsMatchOneThread) {
  const std::vector<std::pair<std::string, Bytes>> cases = {
      {"mixed array of 2,000", MixedArray(2000)},
      {"mixed array of 2", MixedArray(2)},
      {"dictionary of 1,500 entries", WideDict(1500)},
      {"large shared elements", LargeElements(60, 5000)},
  };
  for (const auto& [name, file] : cases) {
    SCOPED_TRACE(name);
    MemoryResult single = ExpectSameOnThreads(file);
    EXPECT_EQ(int(single.outcome), int(Outcome::Converted)) << single.reason;
    single = ExpectSameOnThreads(file, bplist::Limits(), bplist::OutputFormat::Json);
    EXPECT_EQ(int(single.outcome), int(Outcome::Converted)) << single.reason;
  }
}

// The 64-bit FNV-1a digest of a document, as hex digits ("-" for none).
std::string Digest(const MemoryResult& m) {
  if (m.outcome != Outcome::Converted) return "-";
  uint64_t h = 0xcbf29ce484222325u;
  for (unsigned char ch : m.xml) h = (h ^ ch) * 0x100000001b3u;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
  return hex;
}

// Real files from other projects, split wherever they have two elements, in
// both formats. Their documents' digests, listed in documents.fnv beside
// them (made on Linux), must match on every platform.
TEST(Parallel, CorpusFilesMatchOneThread) {
  std::vector<std::string> files = testutil::FilesIn(TARNWICK_CORPUS_DIR);
  EXPECT_GE(files.size(), 40u);
  std::map<std::string, std::string> digests;
  std::istringstream list(
      testutil::ReadFile(std::string(TARNWICK_CORPUS_DIR) + "/../documents.fnv"));
  for (std::string name, xml, json; list >> name >> xml >> json;) digests[name] = xml + " " + json;
  EXPECT_EQ(digests.size(), files.size());
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    MemoryResult xml = ExpectSameOnThreads(testutil::ReadBytes(path));
    MemoryResult json = ExpectSameOnThreads(testutil::ReadBytes(path), bplist::Limits(),
                                            bplist::OutputFormat::Json);
    EXPECT_EQ(Digest(xml) + " " + Digest(json), digests[path.substr(path.rfind('/') + 1)]);
  }
}

// A top array whose elements each expand to about 40 KiB through shared
// arrays, so an 8 MiB output budget runs out part way, with one element naming no
// object at `badAt`. Whichever comes first in the document must be reported.
Bytes BudgetAndDamage(size_t elements, size_t badAt) {
  PlistBuilder b;
  b.refSize = 2;
  b.offsetSize = 4;
  size_t levels = 8;
  size_t first = b.Array({1, 1});
  for (size_t i = 1; i < levels; ++i) b.Array({first + i + 1, first + i + 1});
  b.Int(7);  // the leaf every path ends at
  std::vector<uint64_t> refs(elements, first);
  refs[badAt] = 60000;
  b.top = b.Array(refs);
  return b.Build();
}

TEST(Parallel, BudgetAndDamageKeepTheirOrder) {
  size_t damaged = 0, overBudget = 0;
  bplist::Limits limits;
  limits.BudgetBase = uint64_t(8) << 20;
  for (size_t badAt : {0, 1, 100, 200, 220, 224, 226, 228, 230, 260, 299}) {
    SCOPED_TRACE("bad element at " + std::to_string(badAt));
    MemoryResult single = ExpectSameOnThreads(BudgetAndDamage(300, badAt), limits);
    ASSERT_NE(int(single.outcome), int(Outcome::Converted));
    if (single.outcome == Outcome::Damaged &&
        single.reason.find("names no object") != std::string::npos)
      ++damaged;
    if (single.outcome == Outcome::TooLarge &&
        single.reason == "expands past the limit of 8 MiB of output")
      ++overBudget;
  }
  // The table must reach both sides of the budget to mean anything.
  EXPECT_GE(damaged, 3u);
  EXPECT_GE(overBudget, 3u);
}

// Through the program, a file large enough to be split on this machine's
// processors gives the single thread's document.
TEST(Parallel, LargeFileThroughTheProgram) {
  Bytes file = MixedArray(250000);
  ASSERT_GT(file.size(), size_t(4) << 20);
  MemoryResult single = testutil::ConvertWith(file);
  ASSERT_EQ(int(single.outcome), int(Outcome::Converted)) << single.reason;

  std::string xml;
  testutil::RunResult r = testutil::ConvertBytes(file, &xml);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, "");
  EXPECT_TRUE(xml == single.xml) << "the documents differ";
}

}  // namespace
