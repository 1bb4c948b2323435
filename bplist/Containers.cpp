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

// Refuses to go on once shared objects have expanded the output too far.
bool WithinBudget(Context& c) {
  if (c.Out.Written() <= c.OutputBudget) return true;
  return Damaged(c, "shared objects expand the document past " +
                        std::to_string(c.OutputBudget >> 20) + " MiB");
}

}  // namespace

bool GetArray(Context& c, uint64_t o) {
  uint64_t count, start;
  if (!GetReferences(c, o, 1, &count, &start)) return false;
  Line(c, "    <array>");
  for (uint64_t i = 0; i < count; ++i) {
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
    if (!WithinBudget(c) || !WriteObject(c, Reference(c, start, i), Role::Key) ||
        !WriteObject(c, Reference(c, start, count + i), Role::Value))
      return false;
  }
  Line(c, "</dict>");
  return true;
}

}  // namespace bplist
