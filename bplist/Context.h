// State shared by the object writers during one conversion, and the
// writers' declarations. Internal to the engine.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bplist/Bits.h"
#include "bplist/Budget.h"
#include "bplist/Format.h"
#include "bplist/OutputBuffer.h"
#include "bplist/Parallelism.h"
#include "bplist/Place.h"

namespace bplist {

// The deepest nesting of containers written. Deeper files are refused as
// damaged; this also bounds the recursion's stack use. In a keyed archive
// the bound is on the document's own nesting, which following UIDs can make
// deep from a sound file: a file past it is refused as too large.
constexpr unsigned kMaxDepth = 512;

// The trailer's fields, checked by DecodeTrailer before any object is read.
struct Trailer {
  unsigned OffsetSize = 0;         // width of an offset-table entry, 1 to 8
  unsigned ObjRefSize = 0;         // width of an object reference, 1 to 8
  uint64_t NumObjects = 0;         // entries in the offset table, at least 1
  uint64_t TopObject = 0;          // below NumObjects
  uint64_t OffsetTableOffset = 0;  // the table lies between header and trailer
};

// The keyed archive being unarchived (Keyed.h).
struct Archive;

// The sorted entries of a dictionary (-s): a key and a value reference per
// entry, and the last sorted dictionary's keys and the places they took,
// which a dictionary with the same keys takes over.
struct SortBuffers {
  std::vector<uint64_t> order;
  std::vector<uint64_t> keys;
  std::vector<uint32_t> positions;
  bool valid = false;    // keys and positions describe a dictionary
  bool inOrder = false;  // its keys were in order already
};

// One conversion in progress.
struct Context : BudgetState, Place {
  // The budget (Limits) is worked out from the input's size. Honest files
  // stay below it: their output is a few times their size, and only long
  // runs of tiny elements nested a hundred levels deep, or one long number
  // text shared by a large share of all references, come near the default.
  Context(const uint8_t* binary, uint64_t size, const Trailer& trailer, OutputBuffer& out,
          const Parallelism& parallel, const Limits& limits, OutputFormat format);
  // A context converting batches of a container that `parent` is writing:
  // the same file, its own output; the caller sets its place.
  Context(const Context& parent, OutputBuffer& out);

  const uint8_t* Binary;  // the whole file
  Trailer T;
  // Objects lie in [kHeaderSize, End): between the header and the offset table.
  uint64_t End;
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
  // Containers on the path from the top object to the one being written,
  // outermost first: the nesting depth, and the cycle check.
  std::vector<uint64_t> Path;
  // Where the cycle check starts looking on the path. A keyed archive's
  // view moves it past each UID it follows: a container met again beyond
  // that point contains itself in the file, while one met again before it
  // was reached through a UID, a loop the view cuts at the UIDs it meets.
  size_t CycleFrom = 0;
  // Why the file is damaged; empty while nothing is found.
  std::string Damage;
  // Set with Damage when the failure is the work budget: the file is sound
  // but its document would be too large.
  bool TooLarge = false;
  // Set with TooLarge when the limit is the depth of a keyed archive's
  // document rather than the work budget.
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

// The work done so far, counted from the output's start.
inline uint64_t WorkSoFar(const Context& c) {
  return c.Out.Written() + c.Work;
}

// A JSON document counts for the work the bytes the XML document has in its
// place, so that every format meets the budget at the same place and a file
// has one outcome whatever the format. Each JSON writer calls this after its
// text with where the output stood before it and the size of the XML text
// for the same object; the difference goes into Work (modulo 2^64: JSON
// text is sometimes the longer, but the sum stays the XML size).
inline void CountAsXml(Context& c, uint64_t before, uint64_t xmlBytes) {
  c.Work += xmlBytes - (c.Out.Written() - before);
}

// The size of an XML line holding `text` bytes at the current place of a
// JSON document: XML indents by four spaces a level where JSON indents by two.
inline uint64_t XmlLineSize(const Context& c, uint64_t text) {
  return 2 * uint64_t(c.DictSpace) + text + 2;
}

// Returns the reason when the file's trailer is unsound, else "" with *t set.
std::string DecodeTrailer(const uint8_t* data, uint64_t size, Trailer* t);

// Records `reason` as the damage found (the first one wins) and returns
// false, so writers can `return Damaged(...)`.
bool Damaged(Context& c, const std::string& reason);

// True when [pos, pos + len) lies inside the object area.
inline bool Inside(const Context& c, uint64_t pos, uint64_t len) {
  return pos <= c.End && len <= c.End - pos;
}

// Records that object Pos names no object or lies outside the object data.
bool LocateFailed(Context& c, uint64_t Pos);

// Finds object number Pos; *o receives its marker's position. Returns false
// (damaged) when Pos names no object or the object lies outside the area.
inline bool Locate(Context& c, uint64_t Pos, uint64_t* o) {
  if (Pos >= c.T.NumObjects) return LocateFailed(c, Pos);
  *o = ReadBigEndianPadded(c.Binary + c.T.OffsetTableOffset + Pos * c.T.OffsetSize, c.T.OffsetSize);
  if (*o < kHeaderSize || *o >= c.End) return LocateFailed(c, Pos);
  return true;
}

// Reads an extended count: the integer object after the marker at o.
bool GetExtendedCount(Context& c, uint64_t o, uint64_t* count, uint64_t* start);

// Reads the count of the container, string or data object at o, from the
// marker's low nibble or from the integer after it, and the position of the
// first byte after the count. Returns false (damaged) when it runs past the end.
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
// file's order.
bool SortPairs(const Context& c, std::vector<uint64_t>* pairs, const uint64_t* texts,
               std::vector<uint32_t>* positions = nullptr);

// Writes entries [begin, end) of a container, on this thread.
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
bool WriteObject(Context& c, uint64_t Pos, Role role);
// The same for object Pos found at o.
bool WriteLocated(Context& c, uint64_t Pos, uint64_t o, Role role);

// Finds object Pos as Locate does, without recording damage when it cannot.
inline bool Peek(const Context& c, uint64_t Pos, uint64_t* o) {
  if (Pos >= c.T.NumObjects) return false;
  *o = ReadBigEndianPadded(c.Binary + c.T.OffsetTableOffset + Pos * c.T.OffsetSize, c.T.OffsetSize);
  return *o >= kHeaderSize && *o < c.End;
}

// Writes null where a null object stands inside a container: `null` in
// JSON, nothing in XML.
bool GetNull(Context& c, Role role);

// Starts from an empty indentation and writes the top object.
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
bool WriteContainer(Context& c, uint64_t Pos, uint64_t o, bool isDict);

// Keyed archives (Keyed.cpp). WriteArchive writes the top object, as the
// object graph it encodes when the file is a keyed archive. While one is
// written (c.Keyed set), the walk calls WriteArchived for every dictionary,
// WriteReferenced for every UID that is not a key, and TakeArchiveEntry
// before every dictionary entry; the last returns true when it has dealt
// with the entry itself (*ok says whether that went well).
bool WriteArchive(Context& c);
bool WriteArchived(Context& c, uint64_t Pos, uint64_t o, Role role);
bool WriteReferenced(Context& c, uint64_t o, Role role);
bool TakeArchiveEntry(Context& c, uint64_t key, uint64_t value, bool* ok);
// Writes the data object at o where OpensData is set: the document of the
// binary property list it holds, or the data itself.
bool WriteDataValue(Context& c, uint64_t o, Role role);
// Called by the dictionary writer right after it opens a dictionary: writes
// the "$uid" entry of the shared archived object it is, when it is one.
void WriteIdentity(Context& c);

// The writers, one per type code; o is the object's marker position.
bool GetDict(Context& c, uint64_t o);
bool GetArray(Context& c, uint64_t o);
bool GetStr(Context& c, uint64_t o, bool AsKey);
bool GetUnicode(Context& c, uint64_t o, bool AsKey);
bool GetUID(Context& c, uint64_t o, bool AsKey);
bool GetBool(Context& c, uint64_t o, bool AsKey);
bool GetDate(Context& c, uint64_t o, bool AsKey);
bool GetData(Context& c, uint64_t o, bool AsKey);
bool GetInt(Context& c, uint64_t o, bool AsKey);
bool GetReal(Context& c, uint64_t o, bool AsKey);

// Writes the key of the object at o when it is a short string that needs no
// escaping, the usual key; returns false, writing nothing, for any other
// object.
bool TryPlainKey(Context& c, uint64_t o);

// Starts a JSON value or key: its separator and indentation. Returns where
// its text goes, with room for `maxText` bytes and a line end.
char* BeginJsonText(Context& c, size_t maxText);

// Starts the text of one value or key: in XML a line at the current
// indentation, in JSON what the value needs before it. Returns where the
// text goes, with room for `maxText` bytes.
inline char* BeginText(Context& c, size_t maxText) {
  if (c.Format == OutputFormat::Xml) return c.Out.BeginLine(c.DictSpace, maxText);
  return BeginJsonText(c, maxText);
}

// Ends the text of a value begun with BeginText at `end`: the line end in
// XML; in JSON the separator comes with the next value.
inline void EndText(Context& c, char* end) {
  if (c.Format == OutputFormat::Xml) {
    c.Out.EndLine(end);
  } else {
    c.Out.CommitTo(end);
  }
}

// Ends the text of a key begun with BeginText at `end`: in JSON its value
// follows on the same line.
inline void EndKey(Context& c, char* end) {
  if (c.Format == OutputFormat::Xml) {
    c.Out.EndLine(end);
  } else {
    c.Out.CommitTo(end);
    c.Pending = JsonPending::None;
  }
}

// Writes one line of a container: the indentation, then `text`.
inline void Line(Context& c, std::string_view text) {
  char* dst = BeginText(c, text.size());
  std::memcpy(dst, text.data(), text.size());
  EndText(c, dst + text.size());
}

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
