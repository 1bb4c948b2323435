// Feeds arbitrary bytes to the converter the way BinaryToXML does after it
// has loaded a file, writing the document to a dry-run writer that only
// counts bytes. Any crash, sanitizer report, leak, uncaught exception, slow
// input or memory blow-up is a finding.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One writer serves every input: its megabyte buffer, allocated afresh
  // each time, would cost more than most conversions. A dry run writes
  // nothing, and the flush below empties the buffer, so every input starts
  // from the same state; the converter counts its output budget from the
  // writer's position at the start.
  static bplist::XmlWriter out(-1, "");
  CheckResult(bplist::ConvertBuffer(data, size, out));
  out.Flush();
  return 0;
}
