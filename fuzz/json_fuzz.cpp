// The JSON reader on any input: it refuses with a reason or gives a tree
// whose binary plist reads back, converts and rewrites to itself.
#include "TextPlistCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzcheck::CheckTextPlist(bplist::ReadJsonPlist, data, size);
  return 0;
}
