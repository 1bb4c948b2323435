// The text of integers against the exact reference: the low four bits of
// the input's first byte give the width 2^n, the rest the value bytes
// (zeros where the input is shorter).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ExactReference.h"
#include "FuzzCheck.h"
#include "bplist/Texts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t width = size_t(1) << (data[0] & 0x0F);
  std::vector<uint8_t> value(data + 1, data + size);
  value.resize(width, 0);
  char buf[bplist::kMaxIntegerText];
  char* end = buf;
  fuzzcheck::Timed("PutIntegerText",
                   [&] { end = bplist::PutIntegerText(buf, value.data(), width); });
  fuzzcheck::ExpectSame(std::string(buf, end), exact::IntegerText(value.data(), width), "integer");
  return 0;
}
