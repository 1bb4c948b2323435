// The engine's internal entry: converts a binary plist held in memory. The
// file front (BinaryToXML) and the fuzz target both come through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "bplist/Budget.h"
#include "bplist/OutputBuffer.h"
#include "bplist/Parallelism.h"
#include "bplist/Place.h"

namespace bplist {

enum class Outcome {
  Converted,  // the whole document was written
  Failed,     // an object cannot be written (null top object, unknown marker, bad date)
  Damaged,    // the file's structure is broken; `reason` says how
  TooLarge,   // the file is sound but its document would pass the work budget;
              // `reason` says what the limit is
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
ConvertResult ConvertBuffer(const uint8_t* data, size_t size, OutputBuffer& out,
                            const Parallelism& parallel = Parallelism(),
                            const Limits& limits = Limits(),
                            OutputFormat format = OutputFormat::Xml, bool unarchive = false,
                            bool typed = false, bool sorted = false);

}  // namespace bplist
