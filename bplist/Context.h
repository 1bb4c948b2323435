// The walk's state during one conversion: the file it reads, its budget,
// its place in the document, its path and its options. The walk's functions
// are in Walk.h. Internal to the engine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bplist/Budget.h"
#include "bplist/OutputBuffer.h"
#include "bplist/Parallelism.h"
#include "bplist/Place.h"
#include "bplist/Reader.h"
#include "bplist/SortMemo.h"

namespace bplist {

// The deepest nesting of containers written. Deeper files are refused as
// damaged; this also bounds the recursion's stack use. In a keyed archive
// the bound is on the document's own nesting, which following UIDs can make
// deep from a sound file: a file past it is refused as too large.
constexpr unsigned kMaxDepth = 512;

// The keyed archive being unarchived (Keyed.h).
struct Archive;

// The sorted entries of a dictionary (-s): a key and a value reference per
// entry, and what the last sorted dictionary's keys taught.
struct SortBuffers {
  std::vector<uint64_t> pairs;
  SortMemo memo;
};

// A short dictionary key known to need no escaping in the document's
// format, by its marker's position, with the size of its XML text (which
// JSON counts as work).
struct PlainKey {
  uint64_t at = 0;  // no object: objects start after the header
  uint64_t xmlText = 0;
};
// The plain keys remembered, by a hash of their position: dictionaries
// share their keys, so most keys are met again and again.
constexpr unsigned kPlainKeyBits = 6;

// One conversion in progress: the file it reads, its budget, its place in
// the document, and the walk's own state.
struct Context : Reader, BudgetState, Place {
  // The budget (Limits) is worked out from the input's size. Honest files
  // stay below it: their output is a few times their size, and only long
  // runs of tiny elements nested a hundred levels deep, or one long number
  // text shared by a large share of all references, come near the default.
  Context(const uint8_t* binary, uint64_t size, const Trailer& trailer, OutputBuffer& out,
          const Parallelism& parallel, const Limits& limits, OutputFormat format);
  // A context converting batches of a container that `parent` is writing:
  // the same file, its own output; the caller sets its place.
  Context(const Context& parent, OutputBuffer& out);
  // A context converting `file`, a property list held in data of outer's
  // document, into `out` on outer's thread: at outer's place and nesting
  // depth, with outer's format and options, one file deeper, and the work
  // outer has left as its budget.
  Context(const Context& outer, const Reader& file, OutputBuffer& out);

  OutputBuffer& Out;
  // JSON only: dates, data, UIDs and reals that are not finite are written as
  // tagged objects, so a reader can tell them from strings (TypedTags).
  bool Typed = false;
  // Each dictionary's entries are written in the order of their keys
  // (SortEntries) rather than the file's.
  bool Sorted = false;
  // The sorted entries of the dictionaries being written, one set of
  // buffers per level of nesting (SortLevel, the current one), kept for reuse.
  std::vector<SortBuffers> SortedOrders;
  size_t SortLevel = 0;
  PlainKey PlainKeys[1 << kPlainKeyBits];
  // Containers on the path from the top object to the one being written,
  // outermost first: the nesting depth, and the cycle check. Where the check
  // starts looking: a keyed archive's view moves it past each UID it
  // follows, so that a container met again before that point, reached
  // through a UID, is a loop the view cuts rather than a damaged file.
  std::vector<uint64_t> Path;
  size_t CycleFrom = 0;
  // Why the file is damaged; empty while nothing is found. TooLarge is set
  // with it when the failure is the work budget (the file is sound but its
  // document would be too large), and TooDeep with TooLarge when the limit
  // is the depth of a keyed archive's document.
  std::string Damage;
  bool TooLarge = false;
  bool TooDeep = false;
  const Parallelism& Parallel;
  // False while this context's containers must be converted on its own
  // thread: in a batch, or while a container is already split.
  bool MaySplit;
  // Counted for ConvertResult::work; objects and the count bytes read here,
  // and the bytes of batches copied to Out, which were counted when made.
  WorkDone Done;
  uint64_t Copied = 0;
  // Started at the first split, kept until the conversion ends.
  std::unique_ptr<SplitThreads> Pool;
  // Set while a keyed archive is written as the object graph it encodes:
  // UIDs are followed and archived objects become plain values.
  Archive* Keyed = nullptr;
  // Set under -k and -kj: data whose bytes are a binary property list is
  // written as that file's document (WriteDataValue). Nesting counts the
  // files this one is nested in.
  bool OpensData = false;
  unsigned Nesting = 0;
};

}  // namespace bplist
