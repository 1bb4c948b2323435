// The engine's internal entry: converts a binary plist held in memory. The
// file front (BinaryToXML) and the fuzz target both come through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "bplist/Parallelism.h"
#include "bplist/XmlWriter.h"

namespace bplist {

// The document a conversion writes. Both come from one walk of the file;
// the format decides only the texts around values.
enum class OutputFormat {
  Xml,   // an XML property list
  Json,  // a JSON document
};

enum class Outcome {
  Converted,  // the whole document was written
  Failed,     // an object cannot be written (null top object, unknown marker, bad date)
  Damaged,    // the file's structure is broken; `reason` says how
  TooLarge,   // the file is sound but its document would pass the work budget;
              // `reason` says what the limit is
};

// How much work one conversion may do. A file whose shared objects would
// make more is refused as too large, so the work stays linear in the input
// and a small hostile file cannot make a huge document. The defaults leave
// honest files far below the bound (a few kilobytes of shared strings or deep
// nesting an application writes can make hundreds of megabytes); the fuzz
// build and the work-bound tests set a much smaller one.
struct Limits {
  // The budget is BudgetBase + BudgetPerInputByte times the input's size.
  uint64_t BudgetBase = uint64_t(1) << 30;
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
  std::string reason;  // set when Damaged or TooLarge
  WorkDone work;
};

// Converts the file data[0, size) and writes the document in `format` to
// `out`: for XML, prologue to "</plist>". Never reads outside the buffer. On failure `out`
// holds a partial document that the caller discards. `parallel` says whether
// large containers are split across threads; the result is the same either way.
// `limits` bounds the work done. With `unarchive`, a keyed archive is written
// as the object graph it encodes; any other file as without it. With `typed`,
// a JSON document writes the values JSON has no type for as tagged objects
// (see TARNWICK_TYPED_VALUES in tarnwick.h); XML is the same either way.
// With `sorted`, each dictionary's entries are written in the order of their
// keys (see SortedEntries); the outcome is the same as without.
ConvertResult ConvertBuffer(const uint8_t* data, size_t size, XmlWriter& out,
                            const Parallelism& parallel = Parallelism(),
                            const Limits& limits = Limits(),
                            OutputFormat format = OutputFormat::Xml, bool unarchive = false,
                            bool typed = false, bool sorted = false);

}  // namespace bplist
