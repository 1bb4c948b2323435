// The text of 8-bit strings against the exact reference: the input is the
// string.
#include <cstddef>
#include <cstdint>

#include "ExactReference.h"
#include "FuzzCheck.h"
#include "bplist/Platform.h"
#include "bplist/Texts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > fuzzcheck::kMaxStringInput) return 0;
  // Timed on a dry-run writer, which a repeated run leaves as it was.
  static bplist::OutputBuffer dryRun(bplist::platform::kNoFile, "");
  fuzzcheck::Timed("PutEscaped8", [&] {
    bplist::PutEscaped8(dryRun, data, size);
    dryRun.Flush();
  });
  std::string text =
      fuzzcheck::Written([&](bplist::OutputBuffer& out) { bplist::PutEscaped8(out, data, size); });
  fuzzcheck::ExpectSame(text, exact::Escaped8(data, size), "8-bit string");
  return 0;
}
