// The engine's internal entry: converts a binary plist held in memory. The
// file front (BinaryToXML) and the fuzz target both come through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "bplist/Parallelism.h"
#include "bplist/XmlWriter.h"

namespace bplist {

enum class Outcome {
  Converted,  // the whole document was written
  Failed,     // an object cannot be written (null top object, unknown marker, bad date)
  Damaged,    // the file's structure is broken; `reason` says how
};

// How much work one conversion may do. A file whose shared objects would
// make more is refused as damaged, so the work stays linear in the input and
// a small hostile file cannot make a huge document. The defaults leave honest
// files far below the bound; the fuzz build sets a much smaller one.
struct Limits {
  // The budget is BudgetBase + BudgetPerInputByte times the input's size.
  uint64_t BudgetBase = uint64_t(8) << 20;
  uint64_t BudgetPerInputByte = 512;
};

// The work a conversion did, on every thread, counted for the tests that
// check it stays linear in the input.
struct WorkDone {
  uint64_t objects = 0;  // objects visited: elements, keys and values, skipped ones included
  uint64_t bytes = 0;    // text made by every writer (a batch made twice counts twice, a
                         // batch copied to the document once), and the bytes read of
                         // counts wider than eight bytes
  uint64_t splits = 0;   // containers whose entries were split across threads
  uint64_t threads = 0;  // helper threads started
};

struct ConvertResult {
  Outcome outcome = Outcome::Failed;
  std::string reason;  // set when Damaged
  WorkDone work;
};

// Converts the file data[0, size) and writes the XML document, prologue to
// "</plist>", to `out`. Never reads outside the buffer. On failure `out`
// holds a partial document that the caller discards. `parallel` says whether
// large containers are split across threads; the result is the same either way.
// `limits` bounds the work done. With `unarchive`, a keyed archive is written
// as the object graph it encodes; any other file as without it.
ConvertResult ConvertBuffer(const uint8_t* data, size_t size, XmlWriter& out,
                            const Parallelism& parallel = Parallelism(),
                            const Limits& limits = Limits(), bool unarchive = false);

}  // namespace bplist
