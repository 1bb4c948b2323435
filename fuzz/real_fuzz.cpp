// The text of 8-byte reals against the exact reference: the input's first
// eight bytes, big-endian, are the real's bits.
#include <cstddef>
#include <cstdint>

#include "ExactReference.h"
#include "FuzzCheck.h"
#include "bplist/Texts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint64_t bits = 0;
  for (size_t i = 0; i < 8; ++i) bits = bits << 8 | (i < size ? data[i] : 0);
  std::string text;
  fuzzcheck::Timed("BinaryToReal", [&] { text = bplist::BinaryToReal(bits); });
  fuzzcheck::ExpectSame(text, exact::RealText(bits), "real");
  return 0;
}
