// Classification of marker bytes and the dispatch of every object to the
// writer for its type code.
#include "bplist/Context.h"

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
bool WriteContainer(Context& c, uint64_t Pos, uint64_t o, bool isDict) {
  if (!EnterPath(c, Pos)) return false;
  size_t space = c.DictSpace;
  bool ok = isDict ? GetDict(c, o) : GetArray(c, o);
  c.DictSpace = space;
  LeavePath(c);
  return ok;
}

namespace {

// A container used as a dictionary key. XML writes it where the key goes;
// a JSON key is a string, so it becomes "dict N" or "array N" (N the
// object's number, which tells apart keys of the same kind), and the
// container is still read and checked, as XML would write it. The key
// counts no work: XML writes the container in its place.
bool WriteContainerKey(Context& c, uint64_t Pos, uint64_t o, bool isDict) {
  if (c.Format == OutputFormat::Xml) return WriteContainer(c, Pos, o, isDict);
  uint64_t before = WorkSoFar(c);
  PutKey(c, (isDict ? "dict " : "array ") + std::to_string(Pos));
  c.Work -= WorkSoFar(c) - before;
  return Unwritten(c, [&] { return WriteContainer(c, Pos, o, isDict); });
}

}  // namespace

bool WriteObject(Context& c, uint64_t Pos, Role role) {
  uint64_t o = 0;
  if (!Locate(c, Pos, &o)) {
    ++c.Done.objects;
    return false;
  }
  return WriteLocated(c, Pos, o, role);
}

bool WriteLocated(Context& c, uint64_t Pos, uint64_t o, Role role) {
  ++c.Done.objects;
  bool AsKey = role == Role::Key;
  switch (TypeOfObject(c.Binary[o])) {
    case DICT:
    case ARR:
      if (AsKey) return WriteContainerKey(c, Pos, o, c.Binary[o] >> 4 == kNibbleDict);
      if (c.Keyed && c.Binary[o] >> 4 == kNibbleDict) return WriteArchived(c, Pos, o, role);
      return WriteContainer(c, Pos, o, c.Binary[o] >> 4 == kNibbleDict);
    case STR:
      return GetStr(c, o, AsKey);
    case BOOL:
      return GetBool(c, o, AsKey);
    case INT:
      return GetInt(c, o, AsKey);
    case RL:
      return GetReal(c, o, AsKey);
    case DATE:
      return GetDate(c, o, AsKey);
    case DATA:
      return c.OpensData && !AsKey ? WriteDataValue(c, o, role) : GetData(c, o, AsKey);
    case UTF:
      return GetUnicode(c, o, AsKey);
    case UID:
      return c.Keyed && !AsKey ? WriteReferenced(c, o, role) : GetUID(c, o, AsKey);
    case FILL:
      // Skipped inside containers; a document cannot consist of nothing.
      return role != Role::Top;
    case EMP:
      return GetNull(c, role);
    case NONE:
      // A set has no XML element, and its marker no type code; JSON writes
      // it as an array.
      if (c.Format == OutputFormat::Json && c.Binary[o] >> 4 == kNibbleSet)
        return AsKey ? WriteContainerKey(c, Pos, o, false) : WriteContainer(c, Pos, o, false);
      break;
  }
  return false;
}

bool GetTopObject(Context& c) {
  c.DictSpace = 0;
  return WriteObject(c, c.T.TopObject, Role::Top);
}

}  // namespace bplist
