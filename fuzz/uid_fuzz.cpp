// The text of UIDs against the exact reference: the low four bits of the
// input's first byte give the width n + 1, the rest the value bytes (zeros
// where the input is shorter).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ExactReference.h"
#include "FuzzCheck.h"
#include "bplist/Texts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t width = size_t(data[0] & 0x0F) + 1;
  std::vector<uint8_t> value(data + 1, data + size);
  value.resize(width, 0);
  std::string text;
  fuzzcheck::Timed("UidText", [&] { text = bplist::UidText(value.data(), width); });
  fuzzcheck::ExpectSame(text, exact::UidText(value.data(), width), "uid");
  return 0;
}
