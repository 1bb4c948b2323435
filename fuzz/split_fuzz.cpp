// Converts each input on one thread and again with every container of two
// or more elements split across threads in batches of about 512 bytes of
// text, some outgrowing their 2 KiB memory limit. The two must agree on the
// outcome, the reason and the document's size, and the helper threads must
// start only once. Kept apart from the whole-file target, which it would
// slow down several times over.
#include <cstddef>
#include <cstdint>

#include "FuzzLimits.h"
#include "bplist/Convert.h"
#include "bplist/Platform.h"
#include "bplist/XmlWriter.h"

namespace {

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
  static bplist::XmlWriter out(bplist::platform::kNoFile, "");
  static const bplist::Parallelism splitting = Splitting();
  static const bplist::Limits limits = fuzzlimits::Small();
  uint64_t start = out.Written();
  bplist::ConvertResult single =
      bplist::ConvertBuffer(data, size, out, bplist::Parallelism(), limits);
  uint64_t singleSize = out.Written() - start;
  out.Flush();
  start = out.Written();
  bplist::ConvertResult split = bplist::ConvertBuffer(data, size, out, splitting, limits);
  out.Flush();
  if (split.outcome != single.outcome || split.reason != single.reason) __builtin_trap();
  if (single.outcome == bplist::Outcome::Converted && out.Written() - start != singleSize)
    __builtin_trap();
  // Helper threads start once per conversion, however many containers split.
  if (split.work.threads > splitting.Threads - 1) __builtin_trap();
  return 0;
}
