// Large containers split across threads: the document and the first failure
// must be exactly those of a single thread, whatever the batches and
// whichever thread converts them.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "PlistBuilder.h"
#include "TestUtil.h"
#include "bplist/ThreadPool.h"

// Allocation failures on demand: every operator new of the test program
// goes through here. While armed, the allocation that brings the countdown
// to zero throws std::bad_alloc; with gOthersOnly, only allocations on other
// threads than the one that armed it count.
namespace {
std::atomic<bool> gArmed{false};
std::atomic<bool> gOthersOnly{false};
std::atomic<int64_t> gCountdown{0};
thread_local bool tArming = false;

void* Allocate(size_t n) {
  if (gArmed.load(std::memory_order_relaxed) && !(tArming && gOthersOnly.load()) &&
      gCountdown.fetch_sub(1) == 1)
    throw std::bad_alloc();
  void* p = std::malloc(n != 0 ? n : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
}  // namespace

void* operator new(size_t n) {
  return Allocate(n);
}
void* operator new[](size_t n) {
  return Allocate(n);
}
void* operator new(size_t n, const std::nothrow_t&) noexcept {
  try {
    return Allocate(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](size_t n, const std::nothrow_t& t) noexcept {
  return operator new(n, t);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}

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

// Sorted keys (-s): a split dictionary is sorted before its entries are
// handed out, so every thread count gives one document, its keys in order.
TEST(Parallel, SortedSplitDictionaryMatchesOneThread) {
  const Bytes file = WideDict(1500);
  for (auto format : {bplist::OutputFormat::Xml, bplist::OutputFormat::Json}) {
    MemoryResult single = ExpectSameOnThreads(file, bplist::Limits(), format, true);
    ASSERT_EQ(int(single.outcome), int(Outcome::Converted)) << single.reason;
    std::vector<std::string> keys;
    std::istringstream lines(single.xml);
    for (std::string line; std::getline(lines, line);) {
      size_t k = line.find(format == bplist::OutputFormat::Xml ? "<key>k" : "\"k");
      if (k != std::string::npos)
        keys.push_back(line.substr(k, line.find_first_of("<\"", k + 2) - k));
    }
    EXPECT_EQ(keys.size(), 1500u);
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
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

// Appends a piece of the document to a std::string whose room is reserved.
bool AppendPiece(void* context, const char* bytes, size_t size) {
  static_cast<std::string*>(context)->append(bytes, size);
  return true;
}

// Converts `file` in memory with the `n`-th allocation failing (counted on
// other threads alone with othersOnly): *document is the document, or
// "out of memory". Returns the allocations left uncounted.
int64_t ConvertFailing(const Bytes& file, const bplist::Parallelism& p, int64_t n, bool othersOnly,
                       std::string* document) {
  document->clear();
  document->reserve(size_t(1) << 20);  // the appends allocate nothing
  tArming = true;
  gOthersOnly = othersOnly;
  gCountdown = n;
  gArmed = true;
  try {
    bplist::OutputBuffer out(bplist::Sink{AppendPiece, document}, file.size());
    bplist::ConvertResult r = bplist::ConvertBuffer(file.data(), file.size(), out, p,
                                                    bplist::Limits(), bplist::OutputFormat::Xml);
    out.Flush();
    if (r.outcome != Outcome::Converted) *document = "failed: " + r.reason;
  } catch (const std::bad_alloc&) {
    *document = "out of memory";
  }
  gArmed = false;
  tArming = false;
  return gCountdown.load();
}

// Regression (item 16 of the outside trial): exhausted memory while the
// helpers start left the split with helpers running (an abort or a hang),
// and a batch converted into memory that ran out failed the conversion. Every failure point on
// the calling thread must end in the document or in std::bad_alloc; every
// one on a helper must end in the document, the writer going on alone.
TEST(Parallel, ExhaustedMemoryEndsCleanlyOrGoesOnAlone) {
  const Bytes file = MixedArray(300);
  const MemoryResult single = testutil::ConvertWith(file);
  ASSERT_LT(single.xml.size(), size_t(1) << 20);
  bplist::Parallelism p = testutil::SplittingTunings()[2].second;
  p.Threads = 16;  // 3 processors or more: 64 batches, 16 contexts, 15 helpers
  std::string document;
  const int64_t total =
      (int64_t(1) << 40) - ConvertFailing(file, p, int64_t(1) << 40, false, &document);
  ASSERT_GT(total, 100);
  size_t converted = 0, outOfMemory = 0;
  for (int64_t n = 1; n <= total; ++n) {
    ConvertFailing(file, p, n, false, &document);
    if (document == "out of memory") {
      ++outOfMemory;
      continue;
    }
    ASSERT_TRUE(document == single.xml) << "failing allocation " << n << ": " << document;
    ++converted;
  }
  EXPECT_GT(outOfMemory, 0u);
  EXPECT_GT(converted, 0u);
  for (int64_t n = 1; n <= 400; ++n) {
    bool reached = ConvertFailing(file, p, n, true, &document) <= 0;
    ASSERT_TRUE(document == single.xml) << "failing helper allocation " << n << ": " << document;
    if (!reached) break;
  }
  std::printf("allocation failures: %lld points, %zu converted, %zu out of memory\n",
              (long long)total, converted, outOfMemory);
}

// The thread pool alone: every helper that starts takes part in every job
// once, and a job closes only after each has left it, so the parts' counts
// are complete the moment CloseJob returns.
TEST(Parallel, ThreadPoolRunsEveryHelperInEveryJob) {
  for (unsigned helpers : {1u, 3u}) {
    SCOPED_TRACE(std::to_string(helpers) + " helpers");
    bplist::ThreadPool pool;
    std::vector<unsigned> parts(helpers + 1, 0);
    pool.part = [&](unsigned helper, std::unique_lock<std::mutex>& lock) {
      ASSERT_TRUE(lock.owns_lock());
      ++parts[helper];
      pool.wake.notify_all();
      // Stay until the job closes, as a split's helper does while batches remain.
      pool.wake.wait(lock, [&] { return !pool.open; });
    };
    ASSERT_EQ(bplist::StartHelpers(pool, helpers), helpers);
    for (unsigned job = 1; job <= 3; ++job) {
      std::unique_lock<std::mutex> lock(pool.m);
      bplist::OpenJob(pool, lock);
      pool.wake.wait(lock, [&] { return pool.busy == helpers; });
      bplist::CloseJob(pool, lock);
      EXPECT_EQ(pool.busy, 0u);
      for (unsigned h = 1; h <= helpers; ++h) EXPECT_EQ(parts[h], job) << "helper " << h;
    }
    bplist::JoinHelpers(pool);
    EXPECT_EQ(parts[0], 0u);  // numbered from 1: 0 is the caller's
  }
}

}  // namespace
