// The work of a conversion stays under a small multiple of its budget, which
// is linear in the input's size, for every way a small file can make much
// work. The work is counted, never timed: objects visited and bytes made on
// every thread, as ConvertResult::work reports them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PlistBuilder.h"
#include "TestUtil.h"
#include "fuzz/FuzzLimits.h"

namespace {

using bplist::Outcome;
using testplist::Bytes;
using testplist::PlistBuilder;

// Arrays `levels` deep, each holding `width` references to the next; the
// last one's references all name `leaf`.
Bytes FanOut(std::vector<size_t> widths, const Bytes& leaf) {
  PlistBuilder b;
  b.refSize = 2;
  b.offsetSize = 4;
  for (size_t i = 0; i < widths.size(); ++i) b.Array(std::vector<uint64_t>(widths[i], i + 1));
  b.Raw(leaf);
  return b.Build();
}

// A string object whose count is an integer of 2^15 bytes (all but the last
// one zero), holding one character.
Bytes WideCountString() {
  Bytes s{0x5F, 0x1F};
  s.resize(2 + 32767, 0);
  s.push_back(1);
  s.push_back('x');
  return s;
}

// A chain of `depth` arrays, each holding the next; the deepest holds
// `width` references to one integer. The top array refers `width` times to
// the chain's head.
Bytes DeepChain(size_t depth, size_t width) {
  PlistBuilder b;
  b.refSize = 2;
  b.offsetSize = 4;
  b.Array(std::vector<uint64_t>(width, 1));
  for (size_t i = 1; i < depth; ++i) b.Array({i + 1});
  b.Array(std::vector<uint64_t>(width, depth + 1));
  b.Int(7);
  return b.Build();
}

// A dictionary of `pairs` null keys and null values, named `refs` times by
// the top array.
Bytes NullPairs(size_t refs, size_t pairs) {
  PlistBuilder b;
  b.refSize = 2;
  b.offsetSize = 4;
  b.Array(std::vector<uint64_t>(refs, 1));
  b.Dict(std::vector<std::pair<uint64_t, uint64_t>>(pairs, {2, 2}));
  b.Raw({0x00});
  return b.Build();
}

// A top array of `refs` references to one array of `ints` distinct integers.
Bytes SharedIntegers(size_t refs, size_t ints) {
  PlistBuilder b;
  b.refSize = 2;
  b.offsetSize = 4;
  b.Array(std::vector<uint64_t>(refs, 1));
  std::vector<uint64_t> elements;
  for (size_t i = 0; i < ints; ++i) elements.push_back(2 + i);
  b.Array(elements);
  for (size_t i = 0; i < ints; ++i) b.Int(int64_t(i) * 7919);
  return b.Build();
}

// 8 MiB plus 512 bytes per input byte: large enough that the files below
// show their full shapes, small enough to reach quickly.
bplist::Limits MediumBudget() {
  bplist::Limits limits;
  limits.BudgetBase = uint64_t(8) << 20;
  return limits;
}

// Splits every visit of a container of 256 elements or more whose rest
// makes 16 KiB or more, as the product does on larger files.
bplist::Parallelism SplitEveryVisit() {
  bplist::Parallelism p;
  p.Threads = 2;
  p.MinInput = 0;
  p.MinWork = 16 << 10;
  p.StopWhenSlower = false;
  return p;
}

struct Case {
  std::string name;
  Bytes file;
  Outcome outcome;  // with the medium budget
};

TEST(WorkBound, SmallFilesMakeLittleWork) {
  const Bytes null{0x00}, fill{0x0F}, integer{0x10, 0x2A};
  Bytes ampersands = testplist::CountHeader(0x5, 65536),
        lessThans = testplist::CountHeader(0x6, 20000);
  ampersands.resize(ampersands.size() + 65536, '&');
  for (int i = 0; i < 20000; ++i) lessThans.insert(lessThans.end(), {0, '<'});
  const std::vector<Case> cases = {
      // Issue 10, fault 2: skipped elements wrote nothing, so the budget
      // never stopped them (about 20 s and 5 s).
      {"50,000 references to an array of 50,000 nulls", FanOut({50000, 50000}, null),
       Outcome::TooLarge},
      {"three levels of 1,000 fill elements", FanOut({1000, 1000, 1000}, fill), Outcome::TooLarge},
      {"20,000 references to 20,000 null keys and values", NullPairs(20000, 20000),
       Outcome::TooLarge},
      {"a count of 2^15 bytes read a million times", FanOut({1000, 1000}, WideCountString()),
       Outcome::TooLarge},
      {"shared arrays doubling 40 levels deep", FanOut(std::vector<size_t>(40, 2), integer),
       Outcome::TooLarge},
      {"a 64 KiB text of ampersands shared 10,000 times", FanOut({10000}, ampersands),
       Outcome::TooLarge},
      {"a UTF-16 text of 20,000 '<' shared 10,000 times", FanOut({10000}, lessThans),
       Outcome::TooLarge},
      {"1,000 lines 500 levels deep, shared 1,000 times", DeepChain(500, 1000), Outcome::TooLarge},
      {"a shared array of 3,000 integers, split on each of its 100 visits",
       SharedIntegers(100, 3000), Outcome::Converted},
      {"the same array visited 1,000 times, past the budget", SharedIntegers(1000, 3000),
       Outcome::TooLarge},
  };
  const bplist::Limits small = fuzzlimits::Small(), medium = MediumBudget();
  std::vector<std::pair<std::string, bplist::Parallelism>> threads = testutil::SplittingTunings();
  threads.insert(threads.begin(), {"one thread", bplist::Parallelism()});
  threads.push_back({"2 threads, split on every visit", SplitEveryVisit()});

  for (const Case& c : cases) {
    for (bool smallBudget : {false, true}) {
      const bplist::Limits limits = smallBudget ? small : medium;
      for (const auto& [threadsName, parallel] : threads) {
        SCOPED_TRACE(c.name + (smallBudget ? ", small budget, " : ", medium budget, ") +
                     threadsName);
        bplist::OutputBuffer dry(-1, "");
        const bplist::ConvertResult r =
            bplist::ConvertBuffer(c.file.data(), c.file.size(), dry, parallel, limits);
        if (!smallBudget) {
          EXPECT_EQ(int(r.outcome), int(c.outcome));
        }
        // A visited object costs about as much time as writing eight bytes.
        const double budget = double(limits.BudgetBase + limits.BudgetPerInputByte * c.file.size());
        const double work = 8.0 * double(r.work.objects) + double(r.work.bytes);
        EXPECT_LE(work, 3 * budget) << work / budget << " times the budget";
        // Issue 10, fault 3: threads start once per conversion.
        EXPECT_LT(r.work.threads, parallel.Threads);
      }
    }
  }
}

// Issue 10, fault 3: a shared container that pays for a split is split on
// every visit, with the helper threads started once.
TEST(WorkBound, SharedContainerStartsThreadsOnce) {
  const Bytes file = SharedIntegers(100, 3000);
  bplist::OutputBuffer dry(-1, "");
  const bplist::ConvertResult r =
      bplist::ConvertBuffer(file.data(), file.size(), dry, SplitEveryVisit());
  ASSERT_EQ(int(r.outcome), int(Outcome::Converted)) << r.reason;
  EXPECT_EQ(r.work.splits, 100u);
  EXPECT_EQ(r.work.threads, 1u);
}

}  // namespace

namespace {

// An 8-bit string object of `n` copies of `ch`.
Bytes Text8(size_t n, char ch) {
  Bytes s = testplist::CountHeader(0x5, n);
  s.resize(s.size() + n, uint8_t(ch));
  return s;
}

// Issue 14, fault 1: files an application could write, whose documents are
// far larger than the files, convert under the default budget.
TEST(WorkBound, HonestExpandingFilesConvert) {
  const Bytes bools = [] {  // 100,000 booleans 300 levels deep
    PlistBuilder b;
    b.refSize = 4;
    b.offsetSize = 4;
    std::vector<uint64_t> leaves;
    for (size_t i = 0; i < 100000; ++i) leaves.push_back(b.Bool(i % 2 == 0));
    uint64_t inner = b.Array(leaves);
    for (size_t level = 1; level < 300; ++level) inner = b.Array({inner});
    b.top = inner;
    return b.Build();
  }();
  const std::vector<std::pair<std::string, Bytes>> cases = {
      {"20,000 references to a 1,000-character string", FanOut({20000}, Text8(1000, 'x'))},
      {"3,000 references to a 10,000-character string", FanOut({3000}, Text8(10000, 'y'))},
      {"100,000 booleans nested 300 deep", bools},
  };
  for (const auto& [name, file] : cases) {
    SCOPED_TRACE(name);
    bplist::OutputBuffer dry(-1, "");
    const bplist::ConvertResult r = bplist::ConvertBuffer(file.data(), file.size(), dry);
    EXPECT_EQ(int(r.outcome), int(Outcome::Converted)) << r.reason;
  }
}

// A file that does expand past the default budget is reported as valid but
// too large, not as damaged.
TEST(WorkBound, TooLargeFileHasItsOwnReason) {
  const Bytes file = FanOut({4000}, Text8(65536, '&'));
  testutil::ScratchDir dir;
  const std::string in = dir.File("in.plist");
  testutil::WriteFile(in, file);
  const testutil::RunResult r = testutil::RunTarnwick({"-c", in, ""});
  const uint64_t limitMiB = ((uint64_t(1) << 30) + 512 * file.size()) / (1 << 20);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output, "File " + in + " is valid but expands past the limit of " +
                          std::to_string(limitMiB) +
                          " MiB of output\r\nError: Unable convert file " + in + "\r\n");
}

}  // namespace

namespace {

// The smallest budget under which `file` converts in `format`, with
// `parallel`: the work at the conversion's last budget check.
uint64_t LeastBudget(const Bytes& file, bplist::OutputFormat format, bool unarchive,
                     const bplist::Parallelism& parallel) {
  auto converts = [&](uint64_t base) {
    bplist::Limits limits;
    limits.BudgetBase = base;
    limits.BudgetPerInputByte = 0;
    bplist::OutputBuffer dry(-1, "");
    return bplist::ConvertBuffer(file.data(), file.size(), dry, parallel, limits, format, unarchive)
               .outcome == Outcome::Converted;
  };
  uint64_t low = 0, high = uint64_t(1) << 34;
  if (!converts(high)) return high;
  while (low < high) {
    uint64_t mid = low + (high - low) / 2;
    if (converts(mid)) {
      high = mid;
    } else {
      low = mid + 1;
    }
  }
  return low;
}

// Issue 15, fault 10: the budget counts the same work in every format, so
// -c and -j, and -k and -kj, meet it at the same place: the least budget a
// file converts under is the same for both, on one thread and split.
TEST(WorkBound, EveryFormatMeetsTheBudgetAtTheSamePlace) {
  std::vector<std::pair<std::string, Bytes>> files;
  for (const std::string& path : testutil::FilesIn(TARNWICK_CORPUS_DIR))
    files.push_back({path, testutil::ReadBytes(path)});
  PlistBuilder b;
  uint64_t text = b.Str("a&b<c>\r\"\\\t\n\x01\x08 caf\xE9"),
           utf16 = b.Utf16(u"\u00e9&\"\r\U0001F600\xD800x"), null = b.Raw({0x00}), uid = b.Uid(300),
           real = b.Real(1e-7), date = b.Date(3e11 + 0.25), data = b.Data({1, 2, 3, 4}),
           yes = b.Bool(true), number = b.Int(-5);
  uint64_t inner = b.Array({text, utf16, null, uid, real, date, data, yes, number});
  uint64_t dict = b.Dict({{text, inner},
                          {utf16, null},
                          {number, yes},
                          {yes, real},
                          {inner, uid},
                          {real, date},
                          {date, data},
                          {uid, text}});
  b.top = b.Array(std::vector<uint64_t>(40, dict));
  files.push_back({"every kind of value and key, shared", b.Build()});
  // The file, smaller: one array of small integers shared by many
  // references, which XML writes three times as long as JSON.
  files.push_back({"a shared array of integers", SharedIntegers(400, 1000)});
  for (const auto& [name, file] : files) {
    SCOPED_TRACE(name);
    for (bool keyed : {false, true}) {
      uint64_t xml = LeastBudget(file, bplist::OutputFormat::Xml, keyed, {});
      EXPECT_EQ(LeastBudget(file, bplist::OutputFormat::Json, keyed, {}), xml) << keyed;
      // Archives are converted on one thread.
      if (!keyed) {
        EXPECT_EQ(LeastBudget(file, bplist::OutputFormat::Json, false, SplitEveryVisit()), xml);
      }
    }
  }
  // With the budget of the program's tests, -c refuses it and -j did not.
  const Bytes shared = SharedIntegers(400, 1000);
  for (auto format : {bplist::OutputFormat::Xml, bplist::OutputFormat::Json}) {
    bplist::OutputBuffer dry(-1, "");
    EXPECT_EQ(
        int(bplist::ConvertBuffer(shared.data(), shared.size(), dry, {}, MediumBudget(), format)
                .outcome),
        int(Outcome::TooLarge));
  }
}

}  // namespace
