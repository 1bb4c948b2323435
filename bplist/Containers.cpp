// Dictionaries and arrays: their counts, reference blocks and indentation.
#include "bplist/Context.h"

namespace bplist {

namespace {

// Finds the reference block of the container at o: `perEntry` references for
// each of its entries. Returns false (damaged) when it runs past the end.
bool GetReferences(Context& c, uint64_t o, unsigned perEntry, uint64_t* count, uint64_t* start) {
  if (!GetCount(c, o, count, start)) return false;
  uint64_t entrySize = uint64_t(perEntry) * c.T.ObjRefSize;
  if (*count > (c.End - *start) / entrySize)
    return Damaged(c, "the references of a container run past the end of the object data");
  return true;
}

uint64_t Reference(const Context& c, uint64_t start, uint64_t index) {
  return ReadBigEndianPadded(c.Binary + start + index * c.T.ObjRefSize, c.T.ObjRefSize);
}

// In a large file the elements of a container lie far apart, and so do
// their offset-table entries. Asking for them an element or two ahead hides
// most of the wait for memory: `ahead2`'s table entry and `ahead1`'s marker.
inline void Prefetch(const Context& c, uint64_t ahead1, uint64_t ahead2) {
  const uint8_t* table = c.Binary + c.T.OffsetTableOffset;
  if (ahead2 < c.T.NumObjects) PrefetchRead(table + ahead2 * c.T.OffsetSize);
  if (ahead1 < c.T.NumObjects) {
    uint64_t o = ReadBigEndianPadded(table + ahead1 * c.T.OffsetSize, c.T.OffsetSize);
    if (o < c.End) PrefetchRead(c.Binary + o);
  }
}

// Writes a dictionary key, object Pos at o: the usual short plain string
// directly, anything else through the general dispatch.
inline bool WriteKey(Context& c, uint64_t Pos, uint64_t o) {
  if (TryPlainKey(c, o)) {
    ++c.Done.objects;
    return true;
  }
  return WriteObject(c, Pos, Role::Key);
}

// Whether an entry whose key and value have the markers `key` and `value`
// is left out of the document: one whose key is a null or fill object, and
// one whose value is a fill object, or in XML, which has no null, a null
// object.
inline bool LeftOut(const Context& c, uint8_t key, uint8_t value) {
  return key == kMarkerNull || key == kMarkerFill || value == kMarkerFill ||
         (value == kMarkerNull && c.Format == OutputFormat::Xml);
}

// Writes one dictionary entry, or reads and checks it without writing
// anything when the document leaves it out.
inline bool WriteEntry(Context& c, uint64_t key, uint64_t value) {
  bool ok = true;
  if (c.Keyed && TakeArchiveEntry(c, key, value, &ok)) return ok;
  uint64_t ko = 0, vo = 0;
  if (!Locate(c, key, &ko)) return false;
  // A value that names no object is reported once the key is written.
  bool found = Peek(c, value, &vo);
  if (!LeftOut(c, c.Binary[ko], found ? c.Binary[vo] : kMarkerTrue)) {
    if (!WriteKey(c, key, ko)) return false;
    return found ? WriteLocated(c, value, vo, Role::Value) : WriteObject(c, value, Role::Value);
  }
  return Unwritten(
      c, [&] { return WriteObject(c, key, Role::Key) && WriteObject(c, value, Role::Value); });
}

bool WriteAllEntries(Context& c, const Entries& e) {
  return MaySplit(c, e) ? WriteEntriesInParallel(c, e) : WriteEntries(c, e, 0, e.count);
}

}  // namespace

bool OverBudget(Context& c) {
  if (c.Damage.empty()) c.TooLarge = true;
  return Damaged(c, "expands past the limit of " +
                        std::to_string((c.WorkBudget - c.OutputStart) >> 20) + " MiB of output");
}

bool WriteEntries(Context& c, const Entries& e, uint64_t begin, uint64_t end) {
  if (!e.isDict) {
    for (uint64_t i = begin; i < end; ++i) {
      if (i + 2 < end) Prefetch(c, Reference(c, e.start, i + 1), Reference(c, e.start, i + 2));
      if (!WithinBudget(c, 1) || !WriteObject(c, Reference(c, e.start, i), Role::Element))
        return false;
    }
    return true;
  }
  uint64_t values = e.start + e.count * c.T.ObjRefSize;
  for (uint64_t i = begin; i < end; ++i) {
    if (i + 2 < end) {
      Prefetch(c, Reference(c, e.start, i + 1), Reference(c, e.start, i + 2));
      Prefetch(c, Reference(c, values, i + 1), Reference(c, values, i + 2));
    }
    if (!WithinBudget(c, 2) || !WriteEntry(c, Reference(c, e.start, i), Reference(c, values, i)))
      return false;
  }
  return true;
}

bool GetArray(Context& c, uint64_t o) {
  Entries e{0, 0, false};
  if (!GetReferences(c, o, 1, &e.count, &e.start)) return false;
  OpenArray(c);
  if (!WriteAllEntries(c, e)) return false;
  CloseArray(c);
  return true;
}

bool GetDict(Context& c, uint64_t o) {
  Entries e{0, 0, true};
  if (!GetReferences(c, o, 2, &e.count, &e.start)) return false;
  OpenDict(c);
  if (c.Keyed) WriteIdentity(c);
  if (!WriteAllEntries(c, e)) return false;
  CloseDict(c);
  return true;
}

}  // namespace bplist
