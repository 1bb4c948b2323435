// Converts each input, to XML and to JSON, on one thread and again with
// every container of two or more elements split across threads in batches
// of about 512 bytes of text, some outgrowing their 2 KiB memory limit; an
// input of odd length with sorted keys. The two must agree on the outcome,
// the reason and the document's bytes, and the helper threads must start
// only once. Kept apart from the whole-file target, which it would slow
// down several times over.
#include <cstddef>
#include <cstdint>

#include "FuzzLimits.h"
#include "bplist/Convert.h"
#include "bplist/OutputBuffer.h"

namespace {

// The most text a document kept in memory may have; the small work budget
// keeps every document far below it.
constexpr uint64_t kMaxDocument = uint64_t(1) << 30;

bplist::Parallelism Splitting() {
  bplist::Parallelism p;
  p.Threads = 2;
  p.MinInput = 0;
  p.MinElements = 2;
  p.MinWork = 0;
  p.FirstBatch = 1;
  p.BatchBytes = 512;
  p.BatchLimit = 2048;
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bplist::OutputBuffer single(kMaxDocument), split(kMaxDocument);
  static const bplist::Parallelism splitting = Splitting();
  static const bplist::Limits limits = fuzzlimits::Small();
  // Inputs of odd length are converted with sorted keys, which a split
  // dictionary sorts before its batches are handed out.
  bool sorted = size % 2 == 1;
  for (bplist::OutputFormat format : {bplist::OutputFormat::Xml, bplist::OutputFormat::Json}) {
    single.Clear();
    split.Clear();
    bplist::ConvertResult one = bplist::ConvertBuffer(data, size, single, bplist::Parallelism(),
                                                      limits, format, false, false, sorted);
    bplist::ConvertResult many =
        bplist::ConvertBuffer(data, size, split, splitting, limits, format, false, false, sorted);
    if (many.outcome != one.outcome || many.reason != one.reason) __builtin_trap();
    if (one.outcome == bplist::Outcome::Converted && single.Text() != split.Text())
      __builtin_trap();
    // Helper threads start once per conversion, however many containers split.
    if (many.work.threads > splitting.Threads - 1) __builtin_trap();
  }
  return 0;
}
