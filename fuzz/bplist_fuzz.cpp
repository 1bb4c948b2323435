// Feeds arbitrary bytes to the converter the way BinaryToXML does after it
// has loaded a file, writing the document to a dry-run writer that only
// counts bytes. Any crash, sanitizer report, leak, uncaught exception, slow
// input or memory blow-up is a finding. An input whose document stays small
// is converted a second time with its containers split across threads into
// small batches; the two conversions must agree on the outcome, the reason
// and the document's size.
#include <cstddef>
#include <cstdint>

#include "bplist/Convert.h"
#include "bplist/XmlWriter.h"

namespace {

// A damaged file must always say why; an empty reason would print a
// "File ... is damaged: " line with nothing after it.
void CheckResult(const bplist::ConvertResult& result) {
  if (result.outcome == bplist::Outcome::Damaged && result.reason.empty()) __builtin_trap();
}

// Inputs whose single-thread document is larger than this are not split.
constexpr uint64_t kSplitCheckMax = uint64_t(1) << 20;

// Splits every container of two or more elements, in batches of about
// 4 KiB, some outgrowing their 16 KiB memory limit.
bplist::Parallelism Splitting() {
  bplist::Parallelism p;
  p.Threads = 2;
  p.MinInput = 0;
  p.MinElements = 2;
  p.FirstBatch = 1;
  p.BatchBytes = 4096;
  p.BatchLimit = 16384;
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One writer serves every input: its megabyte buffer, allocated afresh
  // each time, would cost more than most conversions. A dry run writes
  // nothing, and the flush below empties the buffer, so every input starts
  // from the same state; the converter counts its output budget from the
  // writer's position at the start.
  static bplist::XmlWriter out(-1, "");
  static const bplist::Parallelism splitting = Splitting();
  uint64_t start = out.Written();
  bplist::ConvertResult single = bplist::ConvertBuffer(data, size, out);
  uint64_t singleSize = out.Written() - start;
  CheckResult(single);
  out.Flush();
  // Documents that run into the output budget take long under the
  // sanitizers; the tests check the budget on split containers.
  if (singleSize > kSplitCheckMax) return 0;
  start = out.Written();
  bplist::ConvertResult split = bplist::ConvertBuffer(data, size, out, splitting);
  out.Flush();
  if (split.outcome != single.outcome || split.reason != single.reason) __builtin_trap();
  if (single.outcome == bplist::Outcome::Converted && out.Written() - start != singleSize)
    __builtin_trap();
  return 0;
}
