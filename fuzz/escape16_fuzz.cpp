// The text of UTF-16 strings against the exact reference: the input is the
// string's big-endian code units (an odd last byte is left out).
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
  fuzzcheck::Timed("PutEscaped16", [&] {
    bplist::PutEscaped16(dryRun, data, size / 2);
    dryRun.Flush();
  });
  std::string text = fuzzcheck::Written(
      [&](bplist::OutputBuffer& out) { bplist::PutEscaped16(out, data, size / 2); });
  fuzzcheck::ExpectSame(text, exact::Escaped16(data, size / 2), "UTF-16 string");
  return 0;
}
