// Classification of marker bytes and the dispatch of every object to the
// writer for its type code.
#include "bplist/Keyed.h"
#include "bplist/Writers.h"

namespace bplist {

TypeCode TypeOfObject(uint8_t marker) {
  switch (marker) {
    case kMarkerNull:
      return EMP;
    case kMarkerFalse:
    case kMarkerTrue:
      return BOOL;
    case kMarkerFill:
      return FILL;
    case kMarkerDate:
      return DATE;
  }
  switch (marker >> 4) {
    case kNibbleInt:
      return INT;
    case kNibbleReal:
      return RL;
    case kNibbleData:
      return DATA;
    case kNibbleString:
      return STR;
    case kNibbleUtf16:
      return UTF;
    case kNibbleUid:
      return UID;
    case kNibbleArray:
      return ARR;
    case kNibbleDict:
      return DICT;
  }
  return NONE;
}

bool RoomForContainer(Context& c) {
  if (c.Keyed == nullptr) {
    if (c.Path.size() < kMaxDepth) return true;
    return Damaged(c, "containers nest deeper than " + std::to_string(kMaxDepth) + " levels");
  }
  // An archived object takes a place on the path besides the container it
  // is written as, so a keyed archive counts the document's own nesting.
  if (DocumentDepth(c) < kMaxDepth) return true;
  if (c.Damage.empty()) c.TooLarge = c.TooDeep = true;
  return Damaged(c, "its document nests deeper than " + std::to_string(kMaxDepth) + " levels");
}

bool PushPath(Context& c, uint64_t Pos) {
  // At most kMaxDepth to look through (about twice that in a keyed
  // archive), and every level adds four spaces to the two lines a container
  // writes at least.
  for (size_t i = c.CycleFrom; i < c.Path.size(); ++i)
    if (c.Path[i] == Pos) return Damaged(c, "object " + std::to_string(Pos) + " contains itself");
  c.Path.push_back(Pos);
  return true;
}

bool EnterPath(Context& c, uint64_t Pos) {
  return RoomForContainer(c) && PushPath(c, Pos);
}

// Writes a dictionary or array: guards the nesting depth and cycles.
template <OutputFormat F>
bool WriteContainer(Context& c, uint64_t Pos, uint64_t o, bool isDict) {
  if (!EnterPath(c, Pos)) return false;
  size_t space = c.DictSpace;
  bool ok = isDict ? GetDict<F>(c, o) : GetArray<F>(c, o);
  c.DictSpace = space;
  LeavePath(c);
  return ok;
}

bool WriteContainer(Context& c, uint64_t Pos, uint64_t o, bool isDict) {
  return InFormat(c, [&](auto f) { return WriteContainer<decltype(f)::value>(c, Pos, o, isDict); });
}

namespace {

// A container used as a dictionary key. XML writes it where the key goes;
// a JSON key is a string, so it becomes "dict N" or "array N" (N the
// object's number, which tells apart keys of the same kind), and the
// container is still read and checked, as XML would write it. The key
// counts no work: XML writes the container in its place.
template <OutputFormat F>
bool WriteContainerKey(Context& c, uint64_t Pos, uint64_t o, bool isDict) {
  if constexpr (F == OutputFormat::Xml) {
    return WriteContainer<F>(c, Pos, o, isDict);
  } else {
    uint64_t before = WorkSoFar(c);
    PutKey<F>(c, (isDict ? "dict " : "array ") + std::to_string(Pos));
    c.Work -= WorkSoFar(c) - before;
    return Unwritten(c, [&] { return WriteContainer<F>(c, Pos, o, isDict); });
  }
}

// Writes a dictionary or array found at o in its role.
template <OutputFormat F>
bool WriteAnyContainer(Context& c, uint64_t Pos, uint64_t o, Role role) {
  bool isDict = c.Binary[o] >> 4 == kNibbleDict;
  if (role == Role::Key) return WriteContainerKey<F>(c, Pos, o, isDict);
  if (c.Keyed && isDict) return WriteArchived(c, Pos, o, role);
  return WriteContainer<F>(c, Pos, o, isDict);
}

}  // namespace

template <OutputFormat F>
bool WriteObject(Context& c, uint64_t Pos, Role role) {
  uint64_t o = 0;
  if (!Locate(c, Pos, &o)) {
    ++c.Done.objects;
    return false;
  }
  return WriteLocated<F>(c, Pos, o, role);
}

bool WriteObject(Context& c, uint64_t Pos, Role role) {
  return InFormat(c, [&](auto f) { return WriteObject<decltype(f)::value>(c, Pos, role); });
}

template <OutputFormat F>
bool WriteLocated(Context& c, uint64_t Pos, uint64_t o, Role role) {
  ++c.Done.objects;
  bool AsKey = role == Role::Key;
  switch (TypeOfObject(c.Binary[o])) {
    case DICT:
    case ARR:
      return WriteAnyContainer<F>(c, Pos, o, role);
    case STR:
      return GetStr<F>(c, o, AsKey);
    case BOOL:
      return GetBool<F>(c, o, AsKey);
    case INT:
      return GetInt<F>(c, o, AsKey);
    case RL:
      return GetReal<F>(c, o, AsKey);
    case DATE:
      return GetDate<F>(c, o, AsKey);
    case DATA:
      return c.OpensData && !AsKey ? WriteDataValue(c, o, role) : GetData<F>(c, o, AsKey);
    case UTF:
      return GetUnicode<F>(c, o, AsKey);
    case UID:
      return c.Keyed && !AsKey ? WriteReferenced(c, o, role) : GetUID<F>(c, o, AsKey);
    case FILL:
      // Skipped inside containers; a document cannot consist of nothing.
      return role != Role::Top;
    case EMP:
      return GetNull<F>(c, role);
    case NONE:
      // A set has no XML element, and its marker no type code; JSON writes
      // it as an array.
      if (F == OutputFormat::Json && c.Binary[o] >> 4 == kNibbleSet)
        return AsKey ? WriteContainerKey<F>(c, Pos, o, false) : WriteContainer<F>(c, Pos, o, false);
      break;
  }
  return false;
}

template <OutputFormat F>
bool GetTopObject(Context& c) {
  c.DictSpace = 0;
  return WriteObject<F>(c, c.T.TopObject, Role::Top);
}

bool GetTopObject(Context& c) {
  return InFormat(c, [&](auto f) { return GetTopObject<decltype(f)::value>(c); });
}

template bool WriteObject<OutputFormat::Xml>(Context&, uint64_t, Role);
template bool WriteObject<OutputFormat::Json>(Context&, uint64_t, Role);
template bool WriteLocated<OutputFormat::Xml>(Context&, uint64_t, uint64_t, Role);
template bool WriteLocated<OutputFormat::Json>(Context&, uint64_t, uint64_t, Role);

}  // namespace bplist
