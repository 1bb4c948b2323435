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

// Writes a dictionary key: the usual short plain string directly, anything
// else through the general dispatch.
inline bool WriteKey(Context& c, uint64_t Pos) {
  uint64_t o = 0;
  if (!Locate(c, Pos, &o)) return false;
  if (TryPlainKey(c, o)) {
    ++c.Done.objects;
    return true;
  }
  return WriteObject(c, Pos, Role::Key);
}

bool WriteAllEntries(Context& c, const Entries& e) {
  return MaySplit(c, e) ? WriteEntriesInParallel(c, e) : WriteEntries(c, e, 0, e.count);
}

}  // namespace

bool OverBudget(Context& c) {
  return Damaged(c, "shared objects expand the document past " +
                        std::to_string((c.WorkBudget - c.OutputStart) >> 20) + " MiB");
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
    if (!WithinBudget(c, 2)) return false;
    uint64_t key = Reference(c, e.start, i), value = Reference(c, values, i);
    bool ok = true;
    if (c.Keyed && TakeArchiveEntry(c, key, value, &ok)) {
      if (!ok) return false;
      continue;
    }
    if (!WriteKey(c, key) || !WriteObject(c, value, Role::Value)) return false;
  }
  return true;
}

bool GetArray(Context& c, uint64_t o) {
  Entries e{0, 0, false};
  if (!GetReferences(c, o, 1, &e.count, &e.start)) return false;
  Line(c, "    <array>");
  if (!WriteAllEntries(c, e)) return false;
  Line(c, "    </array>");
  return true;
}

bool GetDict(Context& c, uint64_t o) {
  Entries e{0, 0, true};
  if (!GetReferences(c, o, 2, &e.count, &e.start)) return false;
  Line(c, "<dict>");
  if (!WriteAllEntries(c, e)) return false;
  Line(c, "</dict>");
  return true;
}

}  // namespace bplist
