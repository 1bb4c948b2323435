// The walk's own functions: the lookups that record damage, the budget
// check, the path, and the entries of containers. Internal to the engine.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

#include "bplist/Context.h"

namespace bplist {

// The work done so far, counted from the output's start.
inline uint64_t WorkSoFar(const Context& c) {
  return c.Out.Written() + c.Work;
}

// Records `reason` as the damage found (the first one wins) and returns
// false, so writers can `return Damaged(...)`.
bool Damaged(Context& c, const std::string& reason);

// Records that object Pos names no object or lies outside the object data.
bool LocateFailed(Context& c, uint64_t Pos);

// Finds object number Pos as Peek does; returns false (damaged) when Pos
// names no object or the object lies outside the area.
inline bool Locate(Context& c, uint64_t Pos, uint64_t* o) {
  return Peek(c, Pos, o) || LocateFailed(c, Pos);
}

// Counts the bytes of an extended count `width` bytes wide as work when it
// is wider than eight bytes: reading it costs time whatever the text.
inline void CountWideCount(Context& c, uint64_t width) {
  if (width > 8) {
    c.Work += width;
    c.Done.bytes += width;
  }
}

// Reads an extended count as ReadExtendedCount does, recording why it cannot.
bool GetExtendedCount(Context& c, uint64_t o, uint64_t* count, uint64_t* start);

// Reads the count of the container, string or data object at o as ReadCount
// does. Returns false (damaged) when it runs past the end.
inline bool GetCount(Context& c, uint64_t o, uint64_t* count, uint64_t* start) {
  uint8_t low = c.Binary[o] & 0x0F;
  if (low == kExtendedCount) return GetExtendedCount(c, o, count, start);
  *count = low;
  *start = o + 1;
  return true;
}

// Where an object stands; decides key lines and what null and fill mean.
enum class Role { Top, Element, Key, Value };

// The references of a container's elements: an array's `count` references
// from `start` on; a dictionary's `count` keys from `start` on, then their
// values.
struct Entries {
  uint64_t start;
  uint64_t count;
  bool isDict;
  // A dictionary's key and value references in the order to write them,
  // two per entry, when they are not in the file's order.
  const uint64_t* order = nullptr;
};

// Records that the document expands past the budget (the first failure
// wins, as in Damaged) and returns false.
bool OverBudget(Context& c);

// Counts the `objects` of the entry about to be visited, and refuses to go
// on once shared objects have made too much work.
inline bool WithinBudget(Context& c, uint64_t objects) {
  c.Work += kWorkPerElement * objects;
  c.LastBudgetCheck = WorkSoFar(c);
  return c.LastBudgetCheck <= c.WorkBudget || c.Hook->Reached(c);
}

// Puts `pairs`, a key and a value reference per dictionary entry, in the
// order of the keys' texts as UTF-16 code units, equal texts in file order.
// texts[i] is the object holding entry i's key text (the key itself when
// `texts` is null). A key that is not a string, or cannot be read, comes
// after the strings, and the walk reports it as it would in file order.
// Returns false, leaving `pairs` as they were, when that is their order.
// When it sorts, *positions (if given) receives each entry's place in the
// file's order. own[i], when `own` and it are given, is the UTF-8 text that
// the writer makes itself for entry i's key, which then sorts by it.
bool SortPairs(const Context& c, std::vector<uint64_t>* pairs, const uint64_t* texts,
               std::vector<uint32_t>* positions = nullptr, const std::string* const* own = nullptr);

// A format as a type, so that the writers take it as a template argument
// and no writer of the walk tests the format at run time.
template <OutputFormat F>
using FormatIs = std::integral_constant<OutputFormat, F>;

// Calls write(FormatIs<F>()) for the document's format F. Code that is not
// templated on the format (the keyed view, the split, the document's frame)
// enters the walk through this, the one test of the format at run time.
template <typename Write>
decltype(auto) InFormat(const Context& c, Write write) {
  if (c.Format == OutputFormat::Xml) return write(FormatIs<OutputFormat::Xml>());
  return write(FormatIs<OutputFormat::Json>());
}

// Writes entries [begin, end) of a container, on this thread.
template <OutputFormat F>
bool WriteEntries(Context& c, const Entries& e, uint64_t begin, uint64_t end);
bool WriteEntries(Context& c, const Entries& e, uint64_t begin, uint64_t end);

// True when the entries of a container may be split across threads.
inline bool MaySplit(const Context& c, const Entries& e) {
  return c.MaySplit && c.Parallel.Threads > 1 && e.count >= c.Parallel.MinElements &&
         c.End >= c.Parallel.MinInput;
}

// Writes all the entries of a container, splitting them across threads when
// the first ones show that the rest will take long enough to pay for it; the
// same output, and the same first failure, as WriteEntries.
bool WriteEntriesInParallel(Context& c, const Entries& e);

// Writes object Pos and everything nested in it. Returns false when it
// cannot be written; c.Damage then says whether the file is damaged.
template <OutputFormat F>
bool WriteObject(Context& c, uint64_t Pos, Role role);
bool WriteObject(Context& c, uint64_t Pos, Role role);
// The same for object Pos found at o.
template <OutputFormat F>
bool WriteLocated(Context& c, uint64_t Pos, uint64_t o, Role role);

// Starts from an empty indentation and writes the top object.
template <OutputFormat F>
bool GetTopObject(Context& c);
bool GetTopObject(Context& c);

// Puts container Pos on the path, refusing a container that contains itself
// or nests deeper than kMaxDepth; LeavePath takes it off again.
bool EnterPath(Context& c, uint64_t Pos);
// The two checks of EnterPath apart: RoomForContainer refuses one more
// container past kMaxDepth, and PushPath refuses a container that contains
// itself and puts it on the path. While a keyed archive is written, the
// depth is the document's (DocumentDepth), and a container past the bound
// makes the file too large, not damaged; an archived object goes on the
// path before it is known whether it opens a container of the document.
bool RoomForContainer(Context& c);
bool PushPath(Context& c, uint64_t Pos);
inline void LeavePath(Context& c) {
  c.Path.pop_back();
}

// Writes the dictionary or array Pos, whose marker is at o, one level deeper.
template <OutputFormat F>
bool WriteContainer(Context& c, uint64_t Pos, uint64_t o, bool isDict);
bool WriteContainer(Context& c, uint64_t Pos, uint64_t o, bool isDict);

// Puts c at `place` in the document: its format, indentation and JSON
// separator.
inline void MoveTo(Context& c, const Place& place) {
  static_cast<Place&>(c) = place;
}

// Reads and checks what `write` writes without putting it in the document:
// its text still counts as work. For entries that the document leaves out.
template <typename Write>
bool Unwritten(Context& c, Write write) {
  bool muted = c.Out.Mute();
  Place place = c;
  bool ok = write();
  MoveTo(c, place);
  if (muted) {
    uint64_t discarded = c.Out.Unmute();
    c.Work += discarded;
    c.Done.bytes += discarded;
  }
  return ok;
}

}  // namespace bplist
