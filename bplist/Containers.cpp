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
  if (ahead2 < c.T.NumObjects) __builtin_prefetch(table + ahead2 * c.T.OffsetSize);
  if (ahead1 < c.T.NumObjects) {
    uint64_t o = ReadBigEndianPadded(table + ahead1 * c.T.OffsetSize, c.T.OffsetSize);
    if (o < c.End) __builtin_prefetch(c.Binary + o);
  }
}

bool OverBudget(Context& c) {
  return Damaged(c, "shared objects expand the document past " +
                        std::to_string(c.OutputBudget >> 20) + " MiB");
}

// Refuses to go on once shared objects have expanded the output too far.
inline bool WithinBudget(Context& c) {
  return c.Out.Written() <= c.OutputBudget || OverBudget(c);
}

}  // namespace

bool GetArray(Context& c, uint64_t o) {
  uint64_t count, start;
  if (!GetReferences(c, o, 1, &count, &start)) return false;
  Line(c, "    <array>");
  for (uint64_t i = 0; i < count; ++i) {
    if (i + 2 < count) Prefetch(c, Reference(c, start, i + 1), Reference(c, start, i + 2));
    if (!WithinBudget(c) || !WriteObject(c, Reference(c, start, i), Role::Element)) return false;
  }
  Line(c, "    </array>");
  return true;
}

bool GetDict(Context& c, uint64_t o) {
  uint64_t count, start;
  if (!GetReferences(c, o, 2, &count, &start)) return false;
  Line(c, "<dict>");
  for (uint64_t i = 0; i < count; ++i) {
    if (i + 2 < count) {
      Prefetch(c, Reference(c, start, i + 1), Reference(c, start, i + 2));
      Prefetch(c, Reference(c, start, count + i + 1), Reference(c, start, count + i + 2));
    }
    if (!WithinBudget(c) || !WriteObject(c, Reference(c, start, i), Role::Key) ||
        !WriteObject(c, Reference(c, start, count + i), Role::Value))
      return false;
  }
  Line(c, "</dict>");
  return true;
}

}  // namespace bplist
