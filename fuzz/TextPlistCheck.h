// The check the XML and JSON fuzz targets share: a text the reader takes
// becomes a binary plist that the binary reader and the converter take,
// and that rewrites to the same bytes; every input is read within the time
// a text may take, refused or not.
#pragma once

#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "bplist/Convert.h"
#include "bplist/Values.h"

namespace fuzzcheck {

// The most the fuzz build's in-memory writers keep.
constexpr uint64_t kBinaryLimit = uint64_t(64) << 20;

using TextReader = bplist::ReadResult (*)(const uint8_t*, size_t, bplist::ValueTree*);

inline void CheckTextPlist(TextReader read, const uint8_t* data, size_t size) {
  bplist::ValueTree tree;
  bplist::ReadResult r;
  Timed("reading", [&] {
    tree = bplist::ValueTree();
    r = read(data, size, &tree);
  }, kSlowConversionNanos);
  if (!r.ok) {
    if (r.reason.empty()) __builtin_trap();  // a refusal always says why
    return;
  }
  // Writers kept from run to run, so no run pays for their buffers.
  static bplist::OutputBuffer binary(kBinaryLimit), again(kBinaryLimit);
  binary.Clear();
  again.Clear();
  bplist::WriteBinary(tree, binary);
  binary.Flush();
  std::string bytes = binary.Text();
  const uint8_t* b = reinterpret_cast<const uint8_t*>(bytes.data());
  // The written file reads back and converts; its rewrite is itself.
  bplist::BinaryResult rewritten = bplist::ConvertToBinary(b, bytes.size(), again);
  if (rewritten.result.outcome != bplist::Outcome::Converted) {
    std::fprintf(stderr, "the written file is refused: %s\n", rewritten.result.reason.c_str());
    __builtin_trap();
  }
  again.Flush();
  ExpectSame(again.Text() == bytes ? "same" : "differs", "same", "rewritten file");
  bplist::OutputBuffer xml(bplist::platform::kNoFile, "dry run", bytes.size());
  bplist::ConvertResult converted = bplist::ConvertBuffer(b, bytes.size(), xml);
  // Only a date past what the converter writes fails (the outcome without
  // a reason); a damaged file never.
  if (converted.outcome == bplist::Outcome::Damaged) {
    std::fprintf(stderr, "-c finds the written file damaged: %s\n", converted.reason.c_str());
    __builtin_trap();
  }
}

}  // namespace fuzzcheck
