// Keyed archives written as the object graph they encode. The walk is the
// engine's own: it calls here when, inside an archive, it meets a UID (which
// is followed into $objects), a dictionary (which may be an archived object
// with a $class) or a dictionary entry (left out when its value is null).
// Archived objects of the classes in ArchivedClass become plain values; an
// object whose class or fields are not as expected is written as its fields,
// so a damaged archive loses that object's decoding, never the file.
#include "bplist/Keyed.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <functional>

#include "bplist/ShortestReal.h"
#include "bplist/Texts.h"
#include "bplist/Url.h"
#include "bplist/Writers.h"

namespace bplist {

namespace {

// Stands on a nested archive's path for the containers around the data it
// came from: counted for the depth bound, never an object number.
constexpr uint64_t kNoObject = ~uint64_t(0);
// Property lists nested in data, one inside the other, opened at most;
// deeper ones stay data.
constexpr unsigned kMaxNestedFiles = 8;
// A nested document is converted into memory and then copied into place, so
// that one that does not convert whole can be written as data instead; one
// larger than this is counted first and then written.
constexpr uint64_t kNestedInMemory = uint64_t(64) << 20;
// NSURL bases followed for one URL, at most.
constexpr unsigned kMaxUrlBases = 16;
// Strings archived inside strings (NSString in NSString), at most.
constexpr unsigned kMaxStringNesting = 4;
// The widest UID value that can name an entry of $objects.
constexpr unsigned kUidValueBytes = 8;
// The bytes of an NSUUID.
constexpr uint64_t kUuidSize = 16;

// --- Quiet reading: lookups never record damage; the writers that follow do.

// Type codes by marker byte: looked up for nearly every reference followed.
struct KindTable {
  TypeCode kind[256];
  KindTable() {
    for (unsigned m = 0; m < 256; ++m) kind[m] = TypeOfObject(uint8_t(m));
  }
};
const KindTable kKinds;

TypeCode KindAt(const Context& c, uint64_t o) {
  return kKinds.kind[c.Binary[o]];
}

// The count of the object at o and where its contents start, each entry
// `entrySize` bytes, read as the walk reads it; false when they run past
// the end. A count wider than eight bytes counts its bytes as work, as in
// the walk, and once the work has passed the budget none is read again (a
// lookup may meet the same one for every key): the walk's next budget
// check refuses the file.
bool Contents(Context& c, uint64_t o, uint64_t entrySize, uint64_t* count, uint64_t* start) {
  bool wide =
      (c.Binary[o] & 0x0F) == kExtendedCount && Inside(c, o + 1, 1) && (c.Binary[o + 1] & 0x0F) > 3;
  if (wide && WorkSoFar(c) > c.WorkBudget) return false;
  if (!bplist::Contents(c, o, entrySize, count, start)) return false;
  CountWideCount(c, CountWidth(o, *start));
  return true;
}

// True when the object at o is the 8-bit string `text`.
bool IsText(Context& c, uint64_t o, std::string_view text) {
  uint64_t count, start;
  return KindAt(c, o) == STR && Contents(c, o, 1, &count, &start) && count == text.size() &&
         std::memcmp(c.Binary + start, text.data(), count) == 0;
}

// Finds the value of key `name` in the dictionary at o.
bool Lookup(Context& c, uint64_t o, std::string_view name, uint64_t* value) {
  uint64_t count, start, key;
  if (KindAt(c, o) != DICT || !Contents(c, o, 2 * uint64_t(c.T.ObjRefSize), &count, &start))
    return false;
  for (uint64_t i = 0; i < count; ++i) {
    if (!Peek(c, Reference(c, start, i), &key) || !IsText(c, key, name)) continue;
    *value = Reference(c, start + count * c.T.ObjRefSize, i);
    return true;
  }
  return false;
}

// The value of the UID at o, when it can name an entry of $objects.
bool UidValue(const Context& c, uint64_t o, uint64_t* n) {
  uint64_t width = (c.Binary[o] & 0x0F) + 1;
  if (KindAt(c, o) != UID || !Inside(c, o + 1, width)) return false;
  const uint8_t* p = c.Binary + o + 1;
  for (uint64_t i = 0; i + kUidValueBytes < width; ++i)
    if (p[i] != 0) return false;
  unsigned low = width < kUidValueBytes ? unsigned(width) : kUidValueBytes;
  *n = ReadBigEndian(p + width - low, low);
  return *n < c.Keyed->count;
}

uint64_t Entry(const Context& c, uint64_t n) {
  return Reference(c, c.Keyed->objects, n);
}

// True when object `key` is the string "$class", remembered once seen.
bool IsClassKey(Context& c, uint64_t key) {
  uint64_t ko;
  if (key == c.Keyed->classKey) return true;
  if (!Peek(c, key, &ko) || !IsText(c, ko, "$class")) return false;
  c.Keyed->classKey = key;
  return true;
}

// Finds the $class value of the dictionary at o.
bool LookupClass(Context& c, uint64_t o, uint64_t* value) {
  uint64_t count, start;
  if (KindAt(c, o) != DICT || !Contents(c, o, 2 * uint64_t(c.T.ObjRefSize), &count, &start))
    return false;
  for (uint64_t i = 0; i < count; ++i)
    if (IsClassKey(c, Reference(c, start, i))) {
      *value = Reference(c, start + count * c.T.ObjRefSize, i);
      return true;
    }
  return false;
}

// Follows `ref` when it is a UID: *pos and *o receive the object it leads
// to, or `ref` itself when it is no UID.
bool Resolve(const Context& c, uint64_t ref, uint64_t* pos, uint64_t* o) {
  uint64_t n;
  if (!Peek(c, ref, o)) return false;
  *pos = ref;
  if (KindAt(c, *o) != UID) return true;
  if (!UidValue(c, *o, &n)) return false;
  *pos = Entry(c, n);
  return Peek(c, *pos, o) && KindAt(c, *o) != UID;
}

bool OnPath(const Context& c, uint64_t Pos) {
  for (uint64_t outer : c.Path)
    if (outer == Pos) return true;
  return false;
}

// Whether $objects entry n, which becomes a dictionary, has been written
// in full already where it would be written now: in the document, or for a
// part left out of it, in the document or in such a part.
bool AlreadyShown(const Context& c, uint64_t n) {
  Shown shown = c.Keyed->shown[n];
  return shown == Shown::Yes || (shown == Shown::Muted && c.Out.Muted());
}

// Records that $objects entry n (none when kNoObject) is about to be
// written as a dictionary, and asks for its "$uid" entry when other UIDs
// name it too.
void Show(Context& c, uint64_t n) {
  if (n == kNoObject) return;
  Archive& a = *c.Keyed;
  if (!c.Out.Muted()) {
    a.shown[n] = Shown::Yes;
  } else if (a.shown[n] == Shown::No) {
    a.shown[n] = Shown::Muted;
  }
  if (a.named[n] > 1) a.identity = n;
}

// Counts the UIDs that name each $objects entry: those in $top (object
// `top`), in the entries of $objects and in the containers stored in them,
// except the values of $class keys, which name class records. Each
// container of the file is looked through once.
void CountNames(Context& c, uint64_t top) {
  Archive& a = *c.Keyed;
  a.named.assign(a.count, 0);
  a.shown.assign(a.count, Shown::No);
  std::vector<bool> seen(c.T.NumObjects);
  std::vector<uint64_t> pending{top};
  for (uint64_t n = 0; n < a.count; ++n) pending.push_back(Entry(c, n));
  while (!pending.empty()) {
    uint64_t pos = pending.back(), o, count, start, ro, n;
    pending.pop_back();
    if (pos >= seen.size() || seen[pos] || !Peek(c, pos, &o)) continue;
    seen[pos] = true;
    // Marker nibbles rather than type codes: this runs over every reference.
    bool dict = c.Binary[o] >> 4 == kNibbleDict;
    uint64_t per = dict ? 2 : 1;
    if ((!dict && c.Binary[o] >> 4 != kNibbleArray) ||
        !Contents(c, o, per * c.T.ObjRefSize, &count, &start))
      continue;
    for (uint64_t i = dict ? count : 0; i < per * count; ++i) {
      uint64_t ref = Reference(c, start, i);
      if (dict && IsClassKey(c, Reference(c, start, i - count))) continue;
      if (!Peek(c, ref, &ro)) continue;
      uint8_t nibble = c.Binary[ro] >> 4;
      if (nibble == kNibbleUid && UidValue(c, ro, &n)) {
        if (a.named[n] < 2) ++a.named[n];
      } else if (nibble == kNibbleDict || nibble == kNibbleArray) {
        pending.push_back(ref);
      }
    }
  }
}

// --- Texts of strings, for URLs, keys and class names.

// The text of the string object at o; false for any other object.
bool PlainText(Context& c, uint64_t o, std::string* text) {
  uint64_t count, start;
  TypeCode kind = KindAt(c, o);
  if (kind != STR && kind != UTF && kind != DATA) return false;
  if (!Contents(c, o, kind == UTF ? 2 : 1, &count, &start)) return false;
  c.Work += count;  // read without being written, for URLs and keys
  *text = kind == UTF ? Utf8Of16(c.Binary + start, size_t(count))
                      : Utf8Of8(c.Binary + start, size_t(count));
  return true;
}

// --- Classes.

ArchivedClass ClassOfName(std::string_view name) {
  static const struct {
    const char* name;
    ArchivedClass kind;
  } kClasses[] = {
      {"NSDictionary", ArchivedClass::Dictionary},
      {"NSMutableDictionary", ArchivedClass::Dictionary},
      {"NSArray", ArchivedClass::Array},
      {"NSMutableArray", ArchivedClass::Array},
      {"NSSet", ArchivedClass::Array},
      {"NSMutableSet", ArchivedClass::Array},
      {"NSOrderedSet", ArchivedClass::Array},
      {"NSMutableOrderedSet", ArchivedClass::Array},
      {"NSString", ArchivedClass::String},
      {"NSMutableString", ArchivedClass::String},
      {"NSDate", ArchivedClass::Date},
      {"NSData", ArchivedClass::Data},
      {"NSMutableData", ArchivedClass::Data},
      {"NSUUID", ArchivedClass::Uuid},
      {"NSURL", ArchivedClass::Url},
      {"NSAttributedString", ArchivedClass::Attributed},
      {"NSMutableAttributedString", ArchivedClass::Attributed},
      {"NSNull", ArchivedClass::Null},
      {"NSValue", ArchivedClass::Value},
      {"NSIndexSet", ArchivedClass::IndexSet},
      {"NSMutableIndexSet", ArchivedClass::IndexSet},
      {"NSCountedSet", ArchivedClass::CountedSet},
      {"NSTimeZone", ArchivedClass::TimeZone},
      {"NSLocale", ArchivedClass::Locale},
      {"NSDateComponents", ArchivedClass::DateComponents},
      {"NSMeasurement", ArchivedClass::Measurement},
      {"NSColor", ArchivedClass::Color},
      {"NSFont", ArchivedClass::Font},
  };
  for (const auto& k : kClasses)
    if (name == k.name) return k.kind;
  return ArchivedClass::Other;
}

// The class record that the $class value `classRef` names.
const ClassRecord& RecordOf(Context& c, uint64_t classRef) {
  static const ClassRecord kMissing;
  uint64_t uid, n, pos, o, nameRef, nameO;
  if (!Peek(c, classRef, &uid) || !UidValue(c, uid, &n)) return kMissing;
  auto found = c.Keyed->classes.find(n);
  if (found != c.Keyed->classes.end()) return found->second;
  ClassRecord& record = c.Keyed->classes[n];
  pos = Entry(c, n);
  if (Peek(c, pos, &o) && Lookup(c, o, "$classname", &nameRef) &&
      Resolve(c, nameRef, &pos, &nameO) && KindAt(c, nameO) != DATA &&
      PlainText(c, nameO, &record.name)) {
    record.named = true;
    record.kind = ClassOfName(record.name);
  }
  return record;
}

// The class record of the dictionary at o, or null when it has no $class.
const ClassRecord* InstanceClass(Context& c, uint64_t o) {
  uint64_t classRef;
  if (!LookupClass(c, o, &classRef)) return nullptr;
  return &RecordOf(c, classRef);
}

// What $objects entry n stands for: null when it is "$null", an NSNull or
// a null object, fill for a fill object.
Stands EntryStands(Context& c, uint64_t n) {
  Stands& known = c.Keyed->stands[n];
  if (known == Stands::Unknown) {
    uint64_t o;
    const ClassRecord* record;
    known = Stands::Value;
    if (Peek(c, Entry(c, n), &o)) {
      if (KindAt(c, o) == EMP || IsText(c, o, "$null") ||
          ((record = InstanceClass(c, o)) != nullptr && record->kind == ArchivedClass::Null))
        known = Stands::Null;
      else if (KindAt(c, o) == FILL)
        known = Stands::Fill;
    }
  }
  return known;
}

// What the object `ref` stands for: itself, or the entry it names when it
// is a UID. An NSNull not reached through a UID is an object of its own.
Stands StandsFor(Context& c, uint64_t ref) {
  uint64_t o, n;
  if (!Peek(c, ref, &o)) return Stands::Value;  // reported by its writer
  switch (KindAt(c, o)) {
    case EMP:
      return Stands::Null;
    case FILL:
      return Stands::Fill;
    case UID:
      return UidValue(c, o, &n) ? EntryStands(c, n) : Stands::Value;
    default:
      return Stands::Value;
  }
}

// Whether an entry (a field, an NSDictionary's key and value, a $top name)
// whose key and value stand for `key` and `value` is left out of the
// document, as the engine leaves out entries of null and fill objects: a
// null or fill key, a fill value, and in XML, which has no null, a null
// value.
bool LeftOut(const Context& c, Stands key, Stands value) {
  return key != Stands::Value || value == Stands::Fill ||
         (value == Stands::Null && c.Format == OutputFormat::Xml);
}

// The text of `ref` when it is, or leads to, a string or an NSString;
// `nesting` counts NSStrings followed.
bool StringText(Context& c, uint64_t ref, std::string* text, unsigned nesting = 0);

// Where an NSString at o keeps its text: *ref (a string object or a UID) and
// whether that is NS.bytes (UTF-8 in data) rather than NS.string.
bool StringField(Context& c, uint64_t o, uint64_t* ref, bool* bytes) {
  uint64_t pos, fo;
  *bytes = false;
  if (Lookup(c, o, "NS.string", ref))
    return Resolve(c, *ref, &pos, &fo) && (KindAt(c, fo) == STR || KindAt(c, fo) == UTF);
  *bytes = true;
  return Lookup(c, o, "NS.bytes", ref) && Resolve(c, *ref, &pos, &fo) && KindAt(c, fo) == DATA;
}

bool StringText(Context& c, uint64_t ref, std::string* text, unsigned nesting) {
  uint64_t pos, o, field;
  bool bytes;
  // $null is a string object, but stands for no text.
  if (StandsFor(c, ref) != Stands::Value || !Resolve(c, ref, &pos, &o)) return false;
  TypeCode kind = KindAt(c, o);
  if (kind == STR || kind == UTF) return PlainText(c, o, text);
  const ClassRecord* record = kind == DICT ? InstanceClass(c, o) : nullptr;
  if (!record || record->kind != ArchivedClass::String || nesting >= kMaxStringNesting)
    return false;
  if (!StringField(c, o, &field, &bytes)) return false;
  return bytes ? Resolve(c, field, &pos, &o) && PlainText(c, o, text)
               : StringText(c, field, text, nesting + 1);
}

// --- Archived objects written as plain values. Each checks the fields it
// needs before it writes anything, sets *done once it writes, and leaves
// *done false for an object to be written as its fields.

bool WriteDictionary(Context& c, uint64_t o, uint64_t n, bool* done);
bool WriteArray(Context& c, uint64_t o, Role role, bool* done);
bool WriteString(Context& c, uint64_t o, Role role, bool* done);
bool WriteDate(Context& c, uint64_t o, bool* done);
bool WriteData(Context& c, uint64_t o, Role role, bool* done);
bool WriteUuid(Context& c, uint64_t o, bool* done);
bool WriteUrl(Context& c, uint64_t o, bool* done);
bool WriteAttributed(Context& c, uint64_t o, Role role, bool* done);
bool WriteValue(Context& c, uint64_t o, bool* done);
bool WriteIndexSet(Context& c, uint64_t o, bool* done);
bool WriteCountedSet(Context& c, uint64_t o, bool* done);
bool WriteNamed(Context& c, uint64_t o, std::string_view field, bool* done);
bool WriteDateComponents(Context& c, uint64_t o, bool* done);
bool WriteMeasurement(Context& c, uint64_t o, bool* done);
bool WriteColor(Context& c, uint64_t o, bool* done);
bool WriteFont(Context& c, uint64_t o, bool* done);

// Writes the archived object at o, $objects entry n (kNoObject when no UID
// led to it), as its fields: a dictionary.
bool WriteFields(Context& c, uint64_t o, uint64_t n) {
  size_t space = c.DictSpace;
  Show(c, n);
  bool ok = RoomForContainer(c) && GetDict(c, o);
  c.DictSpace = space;
  return ok;
}

// Writes the archived object at o, $objects entry n (kNoObject when no UID
// led to it), as the plain value of its class.
bool WriteAsValue(Context& c, uint64_t o, uint64_t n, ArchivedClass kind, Role role, bool* done) {
  switch (kind) {
    case ArchivedClass::Dictionary:
      return WriteDictionary(c, o, n, done);
    case ArchivedClass::Array:
      return WriteArray(c, o, role, done);
    case ArchivedClass::String:
      return WriteString(c, o, role, done);
    case ArchivedClass::Date:
      return WriteDate(c, o, done);
    case ArchivedClass::Data:
      return WriteData(c, o, role, done);
    case ArchivedClass::Uuid:
      return WriteUuid(c, o, done);
    case ArchivedClass::Url:
      return WriteUrl(c, o, done);
    case ArchivedClass::Attributed:
      return WriteAttributed(c, o, role, done);
    case ArchivedClass::Null:
      // Only where a null can stand: an element, or a JSON value. An NSNull
      // met anywhere else (not through a UID) is written as its fields. XML
      // writes a value's fields, so JSON still reads and checks them: both
      // meet the same faults.
      if (role == Role::Element) {
        *done = true;
        PutNull(c);
      } else if (role == Role::Value && c.Format == OutputFormat::Json) {
        *done = true;
        PutNull(c);
        return Unwritten(c, [&] { return WriteFields(c, o, n); });
      }
      return true;
    case ArchivedClass::Value:
      return WriteValue(c, o, done);
    case ArchivedClass::IndexSet:
      return WriteIndexSet(c, o, done);
    case ArchivedClass::CountedSet:
      return WriteCountedSet(c, o, done);
    case ArchivedClass::TimeZone:
      return WriteNamed(c, o, "NS.name", done);
    case ArchivedClass::Locale:
      return WriteNamed(c, o, "NS.identifier", done);
    case ArchivedClass::DateComponents:
      return WriteDateComponents(c, o, done);
    case ArchivedClass::Measurement:
      return WriteMeasurement(c, o, done);
    case ArchivedClass::Color:
      return WriteColor(c, o, done);
    case ArchivedClass::Font:
      return WriteFont(c, o, done);
    case ArchivedClass::Other:
      break;
  }
  return true;
}

// The array `ref` is or leads to: its count and first reference.
bool ArrayAt(Context& c, uint64_t ref, uint64_t* count, uint64_t* start) {
  uint64_t pos, o;
  return Resolve(c, ref, &pos, &o) && KindAt(c, o) == ARR &&
         Contents(c, o, c.T.ObjRefSize, count, start);
}

bool WriteArchivedKey(Context& c, uint64_t ref);
bool ArchivedKeyText(Context& c, uint64_t ref, std::string* text, uint64_t* pos);

// Puts an NSDictionary's `count` entries, keys from `keys` and values from
// `values`, in the order of the texts WriteArchivedKey writes for the keys,
// a key and a value reference per entry, into *order, and the place of the
// "$uid" entry the dictionary writes (when it writes one) among them into
// *identityAt. Leaves *order empty when that is the file's order.
void SortArchivedKeys(Context& c, uint64_t keys, uint64_t values, uint64_t count,
                      std::vector<uint64_t>* order, uint64_t* identityAt) {
  // The "$uid" entry comes first among equal texts, where it is written
  // unsorted.
  size_t first = IdentityPending(c) ? 1 : 0, n = size_t(count) + first;
  if (n < 2) return;
  std::vector<uint64_t> pairs(2 * n, kNoObject), texts(n, kNoObject);
  std::vector<std::string> made(n);
  std::vector<const std::string*> own(n, nullptr);
  if (first == 1) {
    made[0] = "$uid";
    own[0] = &made[0];
  }
  for (uint64_t i = 0; i < count; ++i) {
    size_t at = first + size_t(i);
    pairs[2 * at] = Reference(c, keys, i);
    pairs[2 * at + 1] = Reference(c, values, i);
    if (ArchivedKeyText(c, pairs[2 * at], &made[at], &texts[at])) own[at] = &made[at];
  }
  std::vector<uint32_t> positions;
  if (!SortPairs(c, &pairs, texts.data(), &positions, own.data())) return;
  for (size_t i = 0; i < n; ++i) {
    if (first == 1 && positions[i] == 0) {
      *identityAt = i;
      continue;
    }
    order->push_back(pairs[2 * i]);
    order->push_back(pairs[2 * i + 1]);
  }
}

bool WriteDictionary(Context& c, uint64_t o, uint64_t n, bool* done) {
  uint64_t keysRef, valuesRef, count, valuesCount, keys, values;
  if (!Lookup(c, o, "NS.keys", &keysRef) || !Lookup(c, o, "NS.objects", &valuesRef) ||
      !ArrayAt(c, keysRef, &count, &keys) || !ArrayAt(c, valuesRef, &valuesCount, &values) ||
      count != valuesCount)
    return true;
  *done = true;
  if (!RoomForContainer(c)) return false;
  size_t space = c.DictSpace;
  Show(c, n);
  // Sorted, by the texts the keys are written as; "$uid" among them.
  std::vector<uint64_t> order;
  uint64_t identityAt = 0;
  if (c.Sorted) SortArchivedKeys(c, keys, values, count, &order, &identityAt);
  OpenDict(c);
  bool ok = true;
  for (uint64_t i = 0; ok && i < count; ++i) {
    if (i == identityAt) WriteIdentity(c);
    uint64_t key = order.empty() ? Reference(c, keys, i) : order[size_t(2 * i)];
    uint64_t value = order.empty() ? Reference(c, values, i) : order[size_t(2 * i + 1)];
    ok = WithinBudget(c, 2);
    if (!ok) break;
    if (LeftOut(c, StandsFor(c, key), StandsFor(c, value)))
      ok = Unwritten(
          c, [&] { return WriteArchivedKey(c, key) && WriteObject(c, value, Role::Value); });
    else
      ok = WriteArchivedKey(c, key) && WriteObject(c, value, Role::Value);
  }
  if (ok) {
    WriteIdentity(c);
    CloseDict(c);
  }
  c.DictSpace = space;
  return ok;
}

// The elements of an ordered set kept as NS.object.0 to NS.object.N-1:
// false unless the numbers run from 0 without a gap.
bool NumberedObjects(Context& c, uint64_t o, std::vector<uint64_t>* refs) {
  static constexpr std::string_view kPrefix = "NS.object.";
  uint64_t count, start, ko, n, nstart;
  if (!Contents(c, o, 2 * uint64_t(c.T.ObjRefSize), &count, &start)) return false;
  refs->assign(count, kNoObject);
  uint64_t found = 0;
  for (uint64_t i = 0; i < count; ++i) {
    if (!Peek(c, Reference(c, start, i), &ko) || KindAt(c, ko) != STR ||
        !Contents(c, ko, 1, &n, &nstart) || n <= kPrefix.size() || n > kPrefix.size() + 19)
      continue;
    std::string_view key(reinterpret_cast<const char*>(c.Binary + nstart), n);
    if (key.substr(0, kPrefix.size()) != kPrefix) continue;
    uint64_t index = 0;
    for (char d : key.substr(kPrefix.size())) {
      if (d < '0' || d > '9') return false;
      index = index * 10 + uint64_t(d - '0');
    }
    if (index >= count || (*refs)[index] != kNoObject) return false;
    (*refs)[index] = Reference(c, start + count * c.T.ObjRefSize, i);
    ++found;
  }
  refs->resize(found);
  for (uint64_t ref : *refs)
    if (ref == kNoObject) return false;
  return true;
}

bool WriteArray(Context& c, uint64_t o, Role role, bool* done) {
  uint64_t ref, count, start;
  if (Lookup(c, o, "NS.objects", &ref)) {
    if (!ArrayAt(c, ref, &count, &start)) return true;
    *done = true;
    return WriteObject(c, ref, role);
  }
  std::vector<uint64_t> refs;
  if (!NumberedObjects(c, o, &refs)) return true;
  *done = true;
  if (!RoomForContainer(c)) return false;
  size_t space = c.DictSpace;
  OpenArray(c);
  bool ok = true;
  for (uint64_t i = 0; ok && i < refs.size(); ++i)
    ok = WithinBudget(c, 1) && WriteObject(c, refs[i], Role::Element);
  if (ok) CloseArray(c);
  c.DictSpace = space;
  return ok;
}

bool WriteString(Context& c, uint64_t o, Role role, bool* done) {
  uint64_t ref, pos, fo;
  bool bytes;
  std::string text;
  if (!StringField(c, o, &ref, &bytes) || !Resolve(c, ref, &pos, &fo)) return true;
  *done = true;
  if (!bytes) return WriteObject(c, pos, role);
  PlainText(c, fo, &text);
  PutString(c, text);
  return true;
}

// The seconds since 2001 of the NSDate at o, from NS.time.
bool DateSeconds(Context& c, uint64_t o, double* seconds) {
  uint64_t ref = 0, pos = 0, to = 0, width;
  if (!Lookup(c, o, "NS.time", &ref) || !Resolve(c, ref, &pos, &to)) return false;
  TypeCode kind = KindAt(c, to);
  width = uint64_t(1) << (c.Binary[to] & 0x0F);
  if ((kind != RL && kind != INT) || width > 8 || !Inside(c, to + 1, width)) return false;
  uint64_t bits = ReadBigEndian(c.Binary + to + 1, unsigned(width));
  if (kind == INT) {
    *seconds = width == 8 ? double(int64_t(bits)) : double(bits);
  } else if (width == 8) {
    std::memcpy(seconds, &bits, sizeof *seconds);
  } else if (width == 4) {
    float single;
    uint32_t narrow = uint32_t(bits);
    std::memcpy(&single, &narrow, sizeof single);
    *seconds = single;
  } else {
    return false;
  }
  return true;
}

bool WriteDate(Context& c, uint64_t o, bool* done) {
  double seconds;
  *done = DateSeconds(c, o, &seconds) && PutDate(c, seconds);
  return true;
}

// The data object of the NSData at o: *pos its object number, *d where.
bool DataField(Context& c, uint64_t o, uint64_t* pos, uint64_t* d) {
  uint64_t ref;
  return (Lookup(c, o, "NS.data", &ref) || Lookup(c, o, "NS.bytes", &ref)) &&
         Resolve(c, ref, pos, d) && KindAt(c, *d) == DATA;
}

// NSData: its data, which the data writer opens when it holds a file.
bool WriteData(Context& c, uint64_t o, Role role, bool* done) {
  uint64_t pos, d;
  if (!DataField(c, o, &pos, &d)) return true;
  *done = true;
  return WriteObject(c, pos, role);
}

// The text of the NSUUID at o, from NS.uuidbytes.
bool UuidText(Context& c, uint64_t o, std::string* text) {
  uint64_t ref, pos, d, count, start;
  if (!Lookup(c, o, "NS.uuidbytes", &ref) || !Resolve(c, ref, &pos, &d) || KindAt(c, d) != DATA ||
      !Contents(c, d, 1, &count, &start) || count != kUuidSize)
    return false;
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (uint64_t i = 0; i < kUuidSize; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) *text += '-';
    *text += kHex[c.Binary[start + i] >> 4];
    *text += kHex[c.Binary[start + i] & 0x0F];
  }
  return true;
}

bool WriteUuid(Context& c, uint64_t o, bool* done) {
  std::string text;
  if (!UuidText(c, o, &text)) return true;
  *done = true;
  PutString(c, text);
  return true;
}

// The text of the NSURL at o: NS.relative resolved against the text of
// NS.base when that is not null; `bases` counts the bases followed.
bool UrlText(Context& c, uint64_t o, std::string* text, unsigned bases) {
  uint64_t relative, base, pos, bo;
  if (!Lookup(c, o, "NS.relative", &relative) || !StringText(c, relative, text)) return false;
  if (!Lookup(c, o, "NS.base", &base) || StandsFor(c, base) == Stands::Null) return true;
  std::string baseText;
  if (bases >= kMaxUrlBases || !Resolve(c, base, &pos, &bo)) return false;
  const ClassRecord* record = KindAt(c, bo) == DICT ? InstanceClass(c, bo) : nullptr;
  bool found = record && record->kind == ArchivedClass::Url ? UrlText(c, bo, &baseText, bases + 1)
                                                            : StringText(c, base, &baseText);
  if (!found) return false;
  *text = ResolveUrl(baseText, *text);
  c.Work += text->size();
  return true;
}

bool WriteUrl(Context& c, uint64_t o, bool* done) {
  std::string text;
  if (!UrlText(c, o, &text, 0)) return true;
  *done = true;
  PutString(c, text);
  return true;
}

// --- Values of the classes analysts meet, from the fields they archive.

// The largest index and range bound NSIndexSet and ranges are written with.
constexpr uint64_t kMaxIndex = uint64_t(INT64_MAX);
// A run of at most this many indexes of an NSIndexSet is written as its
// indexes, a longer one as a range.
constexpr uint64_t kShortRun = 4;
// NSDateComponentUndefined: an NSDateComponents field that is not set.
constexpr int64_t kUndefinedComponent = INT64_MAX;

// The number object `ref` is or leads to: *pos its object number, *kind INT
// or RL. False for any other object.
bool NumberAt(const Context& c, uint64_t ref, uint64_t* pos, TypeCode* kind) {
  uint64_t o;
  if (!Resolve(c, ref, pos, &o)) return false;
  *kind = KindAt(c, o);
  uint64_t width = uint64_t(1) << (c.Binary[o] & 0x0F);
  return (*kind == INT || *kind == RL) && width <= 8 && Inside(c, o + 1, width);
}

// The value of the integer `ref` is or leads to, of at most 8 bytes.
bool IntegerAt(const Context& c, uint64_t ref, int64_t* value) {
  uint64_t pos, o;
  TypeCode kind;
  if (!NumberAt(c, ref, &pos, &kind) || kind != INT || !Peek(c, pos, &o)) return false;
  unsigned width = 1u << (c.Binary[o] & 0x0F);
  *value = int64_t(ReadBigEndian(c.Binary + o + 1, width));
  return true;
}

// The bytes of the data `ref` is or leads to, or of the NSData it leads to.
bool BytesAt(Context& c, uint64_t ref, const uint8_t** p, uint64_t* n) {
  uint64_t pos, o, start;
  if (!Resolve(c, ref, &pos, &o)) return false;
  const ClassRecord* record = KindAt(c, o) == DICT ? InstanceClass(c, o) : nullptr;
  if (record && record->kind == ArchivedClass::Data && !DataField(c, o, &pos, &o)) return false;
  if (KindAt(c, o) != DATA || !Contents(c, o, 1, n, &start)) return false;
  *p = c.Binary + start;
  return true;
}

// The unsigned numbers packed 7 bits a byte, low bits first, the high bit
// set on every byte but a number's last (NSRangeData, NSAttributeInfo).
bool PackedNumbers(const uint8_t* p, uint64_t n, std::vector<uint64_t>* out) {
  uint64_t value = 0;
  unsigned shift = 0;
  for (uint64_t i = 0; i < n; ++i) {
    if (shift > 63 || (shift == 63 && (p[i] & 0x7E) != 0)) return false;
    value |= uint64_t(p[i] & 0x7F) << shift;
    shift += 7;
    if (p[i] < 0x80) {
      out->push_back(value);
      value = 0;
      shift = 0;
    }
  }
  return shift == 0;
}

// The decimal numbers of `text` between the characters in `separators`:
// "{1, 2}" and "{{0, 0}, {10.5, 20}}" as the geometry of NSValue writes
// them, "0 0 1" as NSColor keeps its components. False when any other
// character is found, or `want` (when not zero) numbers are not.
bool Numbers(std::string_view text, std::string_view separators, size_t want,
             std::vector<double>* out) {
  size_t at = 0;
  while (at < text.size()) {
    if (separators.find(text[at]) != std::string_view::npos) {
      ++at;
      continue;
    }
    double value;
    const char* end = ReadDecimal(text.data() + at, text.data() + text.size(), &value);
    if (end == text.data() + at) return false;
    out->push_back(value);
    at = size_t(end - text.data());
  }
  return want == 0 ? !out->empty() : out->size() == want;
}

// Opens the dictionary of a plain value, within the depth bound.
bool OpenValue(Context& c, size_t* space) {
  if (!RoomForContainer(c)) return false;
  *space = c.DictSpace;
  OpenDict(c);
  return true;
}

bool CloseValue(Context& c, size_t space, bool ok) {
  if (ok) CloseDict(c);
  c.DictSpace = space;
  return ok;
}

// An entry of a dictionary the view makes itself: its key, ASCII, and what
// writes its value.
struct Field {
  std::string_view key;
  std::function<bool()> value;
};

// Writes `fields` into the open dictionary: in the order given, or with
// sorted keys in the order of their keys (ASCII, so their bytes compare as
// their UTF-16 code units), equal keys in the order given. Stops at the
// first value that fails.
bool PutFields(Context& c, std::vector<Field> fields) {
  if (c.Sorted)
    std::stable_sort(fields.begin(), fields.end(),
                     [](const Field& a, const Field& b) { return a.key < b.key; });
  for (const Field& f : fields) {
    PutKey(c, f.key);
    if (!f.value()) return false;
  }
  return true;
}

// The field `key` of a number object `ref` is or leads to.
Field NumberField(Context& c, std::string_view key, uint64_t ref) {
  return {key, [&c, ref] {
            uint64_t pos = ref;
            TypeCode kind;
            NumberAt(c, ref, &pos, &kind);
            return WriteObject(c, pos, Role::Value);
          }};
}

// The field `key` of an integer.
Field IntegerField(Context& c, std::string_view key, int64_t value) {
  return {key, [&c, value] {
            PutInteger(c, value);
            return true;
          }};
}

// Writes `names` with the numbers of `values` as a dictionary.
bool PutReals(Context& c, const std::vector<std::string_view>& names,
              const std::vector<double>& values) {
  size_t space;
  if (!OpenValue(c, &space)) return false;
  std::vector<Field> fields;
  for (size_t i = 0; i < names.size(); ++i)
    fields.push_back({names[i], [&c, v = values[i]] {
                        PutReal(c, v);
                        return true;
                      }});
  return CloseValue(c, space, PutFields(c, std::move(fields)));
}

// NSValue: a range as its location and length, a point, size or rectangle
// as the numbers of its text.
bool WriteValue(Context& c, uint64_t o, bool* done) {
  uint64_t location, length, ref, pos;
  TypeCode kind;
  if (Lookup(c, o, "NS.rangeval.location", &location) &&
      Lookup(c, o, "NS.rangeval.length", &length)) {
    if (!NumberAt(c, location, &pos, &kind) || kind != INT || !NumberAt(c, length, &pos, &kind) ||
        kind != INT)
      return true;
    *done = true;
    size_t space;
    if (!OpenValue(c, &space)) return false;
    bool ok =
        PutFields(c, {NumberField(c, "location", location), NumberField(c, "length", length)});
    return CloseValue(c, space, ok);
  }
  static const struct {
    const char* field;
    std::vector<std::string_view> names;
  } kGeometry[] = {
      {"NS.pointval", {"x", "y"}},
      {"NS.sizeval", {"width", "height"}},
      {"NS.rectval", {"x", "y", "width", "height"}},
  };
  for (const auto& g : kGeometry) {
    std::string text;
    std::vector<double> values;
    if (!Lookup(c, o, g.field, &ref)) continue;
    if (!StringText(c, ref, &text) || !Numbers(text, "{}, ", g.names.size(), &values)) return true;
    *done = true;
    return PutReals(c, g.names, values);
  }
  return true;
}

// The ranges of the NSIndexSet at o, as location and length pairs.
bool IndexRanges(Context& c, uint64_t o, std::vector<uint64_t>* ranges) {
  uint64_t ref;
  int64_t count, location, length;
  if (!Lookup(c, o, "NSRangeCount", &ref) || !IntegerAt(c, ref, &count) || count < 0) return false;
  if (count == 1) {
    uint64_t lref, nref;
    if (!Lookup(c, o, "NSLocation", &lref) || !Lookup(c, o, "NSLength", &nref) ||
        !IntegerAt(c, lref, &location) || !IntegerAt(c, nref, &length))
      return false;
    *ranges = {uint64_t(location), uint64_t(length)};
  } else if (count > 1) {
    const uint8_t* p;
    uint64_t n;
    if (!Lookup(c, o, "NSRangeData", &ref) || !BytesAt(c, ref, &p, &n) ||
        !PackedNumbers(p, n, ranges) || ranges->size() != 2 * uint64_t(count))
      return false;
  }
  for (size_t i = 0; i < ranges->size(); i += 2)
    if ((*ranges)[i] > kMaxIndex || (*ranges)[i + 1] > kMaxIndex - (*ranges)[i]) return false;
  return true;
}

// NSIndexSet: an array of its indexes, each run longer than kShortRun as a
// dictionary of its location and length.
bool WriteIndexSet(Context& c, uint64_t o, bool* done) {
  std::vector<uint64_t> ranges;
  if (!IndexRanges(c, o, &ranges)) return true;
  *done = true;
  if (!RoomForContainer(c)) return false;
  size_t space = c.DictSpace;
  OpenArray(c);
  bool ok = true;
  for (size_t i = 0; ok && i < ranges.size(); i += 2) {
    uint64_t location = ranges[i], length = ranges[i + 1];
    if (length > kShortRun) {
      ok = WithinBudget(c, 1) && RoomForContainer(c);
      if (!ok) break;
      size_t inner = c.DictSpace;
      OpenDict(c);
      PutFields(c, {IntegerField(c, "location", int64_t(location)),
                    IntegerField(c, "length", int64_t(length))});
      CloseValue(c, inner, true);
      continue;
    }
    for (uint64_t k = 0; ok && k < length; ++k)
      if ((ok = WithinBudget(c, 1))) PutInteger(c, int64_t(location + k));
  }
  if (ok) CloseArray(c);
  c.DictSpace = space;
  return ok;
}

// The fields of the dictionary at o named `prefix` followed by the numbers
// 0 to `count` - 1, in that order: false unless each is there once.
bool NumberedFields(Context& c, uint64_t o, std::string_view prefix, uint64_t count,
                    std::vector<uint64_t>* refs) {
  uint64_t entries, start, ko, n, nstart;
  if (!Contents(c, o, 2 * uint64_t(c.T.ObjRefSize), &entries, &start) || count > entries)
    return false;
  refs->assign(count, kNoObject);
  for (uint64_t i = 0; i < entries; ++i) {
    if (!Peek(c, Reference(c, start, i), &ko) || KindAt(c, ko) != STR ||
        !Contents(c, ko, 1, &n, &nstart) || n <= prefix.size() || n > prefix.size() + 19)
      continue;
    std::string_view key(reinterpret_cast<const char*>(c.Binary + nstart), n);
    if (key.substr(0, prefix.size()) != prefix) continue;
    uint64_t index = 0;
    bool digits = true;
    for (char d : key.substr(prefix.size())) {
      digits = digits && d >= '0' && d <= '9';
      index = index * 10 + uint64_t(d - '0');
    }
    if (!digits) continue;
    if (index >= count || (*refs)[index] != kNoObject) return false;
    (*refs)[index] = Reference(c, start + entries * c.T.ObjRefSize, i);
  }
  for (uint64_t ref : *refs)
    if (ref == kNoObject) return false;
  return true;
}

// NSCountedSet: an array of its objects, each as a dictionary of the object
// and its count, from NS.count and NS.object0, NS.count0, ...
bool WriteCountedSet(Context& c, uint64_t o, bool* done) {
  uint64_t ref, pos;
  int64_t count;
  TypeCode kind;
  std::vector<uint64_t> objects, counts;
  if (!Lookup(c, o, "NS.count", &ref) || !IntegerAt(c, ref, &count) || count < 0 ||
      !NumberedFields(c, o, "NS.object", uint64_t(count), &objects) ||
      !NumberedFields(c, o, "NS.count", uint64_t(count), &counts))
    return true;
  for (uint64_t n : counts)
    if (!NumberAt(c, n, &pos, &kind) || kind != INT) return true;
  *done = true;
  if (!RoomForContainer(c)) return false;
  size_t space = c.DictSpace;
  OpenArray(c);
  bool ok = true;
  for (size_t i = 0; ok && i < objects.size(); ++i) {
    size_t inner;
    ok = WithinBudget(c, 2) && OpenValue(c, &inner);
    if (!ok) break;
    uint64_t object = objects[i];
    ok = PutFields(c, {{"object", [&c, object] { return WriteObject(c, object, Role::Value); }},
                       NumberField(c, "count", counts[i])});
    ok = CloseValue(c, inner, ok);
  }
  if (ok) CloseArray(c);
  c.DictSpace = space;
  return ok;
}

// NSTimeZone and NSLocale: the string of their name or identifier field.
bool WriteNamed(Context& c, uint64_t o, std::string_view field, bool* done) {
  uint64_t ref;
  std::string text;
  if (!Lookup(c, o, field, &ref) || !StringText(c, ref, &text)) return true;
  *done = true;
  PutString(c, text);
  return true;
}

// NSDateComponents: a dictionary of the fields set, under their names
// without "NS." (integers other than NSDateComponentUndefined, a leap
// month when it is one, the calendar and time zone when not null).
bool WriteDateComponents(Context& c, uint64_t o, bool* done) {
  static const struct {
    const char* field;
    const char* name;
  } kFields[] = {
      {"NS.era", "era"},
      {"NS.year", "year"},
      {"NS.quarter", "quarter"},
      {"NS.month", "month"},
      {"NS.day", "day"},
      {"NS.hour", "hour"},
      {"NS.minute", "minute"},
      {"NS.second", "second"},
      {"NS.nanosec", "nanosecond"},
      {"NS.weekOfYear", "weekOfYear"},
      {"NS.weekOfMonth", "weekOfMonth"},
      {"NS.yearForWOY", "yearForWeekOfYear"},
      {"NS.weekday", "weekday"},
      {"NS.weekdayOrdinal", "weekdayOrdinal"},
  };
  std::vector<std::pair<const char*, uint64_t>> set;
  uint64_t ref, pos, lo;
  int64_t value;
  for (const auto& f : kFields) {
    if (!Lookup(c, o, f.field, &ref)) continue;
    if (!IntegerAt(c, ref, &value)) return true;
    if (value != kUndefinedComponent) set.push_back({f.name, ref});
  }
  *done = true;
  size_t space;
  if (!OpenValue(c, &space)) return false;
  std::vector<Field> fields;
  for (const auto& [name, field] : set) fields.push_back(NumberField(c, name, field));
  if (Lookup(c, o, "NS.isLeapMonth", &ref) && Resolve(c, ref, &pos, &lo) &&
      c.Binary[lo] == kMarkerTrue)
    fields.push_back({"isLeapMonth", [&c, pos] { return WriteObject(c, pos, Role::Value); }});
  for (const char* object : {"NS.calendar", "NS.timezone"})
    if (Lookup(c, o, object, &ref) && StandsFor(c, ref) == Stands::Value)
      fields.push_back({std::strcmp(object, "NS.calendar") == 0 ? "calendar" : "timeZone",
                        [&c, ref] { return WriteObject(c, ref, Role::Value); }});
  return CloseValue(c, space, PutFields(c, std::move(fields)));
}

// NSMeasurement: its value and the symbol of its unit.
bool WriteMeasurement(Context& c, uint64_t o, bool* done) {
  uint64_t value, unit, pos, uo, symbol;
  TypeCode kind;
  std::string text;
  if (!Lookup(c, o, "NS.value", &value) || !NumberAt(c, value, &pos, &kind) ||
      !Lookup(c, o, "NS.unit", &unit) || !Resolve(c, unit, &pos, &uo) ||
      !Lookup(c, uo, "NS.symbol", &symbol) || !StringText(c, symbol, &text))
    return true;
  *done = true;
  size_t space;
  if (!OpenValue(c, &space)) return false;
  bool ok = PutFields(c, {NumberField(c, "value", value), {"unit", [&c, &text] {
                                                             PutString(c, text);
                                                             return true;
                                                           }}});
  return CloseValue(c, space, ok);
}

// NSColor: its colour space and the components the archive gives, or for a
// colour of a catalog, the catalog, the colour's name and the colour it
// falls back to.
bool WriteColor(Context& c, uint64_t o, bool* done) {
  static const char* const kSpaces[] = {
      "", "calibratedRGB", "deviceRGB", "calibratedWhite", "deviceWhite", "deviceCMYK", "catalog"};
  constexpr int64_t kCatalog = 6;
  uint64_t ref, catalog, name, fallback;
  int64_t space;
  if (!Lookup(c, o, "NSColorSpace", &ref) || !IntegerAt(c, ref, &space)) return true;
  std::string catalogText, nameText;
  std::vector<double> components;
  if (space == kCatalog) {
    if (!Lookup(c, o, "NSCatalogName", &catalog) || !StringText(c, catalog, &catalogText) ||
        !Lookup(c, o, "NSColorName", &name) || !StringText(c, name, &nameText))
      return true;
  } else {
    const uint8_t* p = nullptr;
    uint64_t n = 0;
    bool found = false;
    for (const char* field : {"NSComponents", "NSRGB", "NSWhite", "NSCMYK"})
      if (!found && Lookup(c, o, field, &ref)) found = BytesAt(c, ref, &p, &n);
    if (!found) return true;
    while (n > 0 && p[n - 1] == 0) --n;
    if (!Numbers(std::string_view(reinterpret_cast<const char*>(p), n), " ", 0, &components))
      return true;
  }
  *done = true;
  size_t open;
  if (!OpenValue(c, &open)) return false;
  auto text = [&c](const std::string& t) {
    return [&c, &t] {
      PutString(c, t);
      return true;
    };
  };
  std::vector<Field> fields;
  if (space >= 1 && space <= kCatalog) {
    fields.push_back({"colorSpace", [&c, space] {
                        PutString(c, kSpaces[space]);
                        return true;
                      }});
  } else {
    fields.push_back(IntegerField(c, "colorSpace", space));
  }
  if (space == kCatalog) {
    fields.push_back({"catalog", text(catalogText)});
    fields.push_back({"name", text(nameText)});
    if (Lookup(c, o, "NSColor", &fallback) && StandsFor(c, fallback) == Stands::Value)
      fields.push_back({"color", [&c, fallback] { return WriteObject(c, fallback, Role::Value); }});
  } else {
    fields.push_back({"components", [&c, &components] {
                        if (!RoomForContainer(c)) return false;
                        size_t inner = c.DictSpace;
                        OpenArray(c);
                        for (double v : components) PutReal(c, v);
                        CloseArray(c);
                        c.DictSpace = inner;
                        return true;
                      }});
  }
  return CloseValue(c, open, PutFields(c, std::move(fields)));
}

// NSFont: its name and size.
bool WriteFont(Context& c, uint64_t o, bool* done) {
  uint64_t name, size, pos;
  TypeCode kind;
  std::string text;
  if (!Lookup(c, o, "NSName", &name) || !StringText(c, name, &text) ||
      !Lookup(c, o, "NSSize", &size) || !NumberAt(c, size, &pos, &kind))
    return true;
  *done = true;
  size_t space;
  if (!OpenValue(c, &space)) return false;
  bool ok = PutFields(c, {{"name",
                           [&c, &text] {
                             PutString(c, text);
                             return true;
                           }},
                          NumberField(c, "size", size)});
  return CloseValue(c, space, ok);
}

// NSAttributedString: its string; with attributes, a dictionary of the
// string, the attributes and, from NSAttributeInfo, the runs they cover
// (each its location, length and index among the attributes).
bool WriteAttributed(Context& c, uint64_t o, Role role, bool* done) {
  uint64_t ref, pos, so, field, attributes, info;
  bool bytes;
  if (!Lookup(c, o, "NSString", &ref) || !Resolve(c, ref, &pos, &so) || OnPath(c, pos)) return true;
  TypeCode kind = KindAt(c, so);
  const ClassRecord* record = kind == DICT ? InstanceClass(c, so) : nullptr;
  bool sound =
      kind == STR || kind == UTF ||
      (record && record->kind == ArchivedClass::String && StringField(c, so, &field, &bytes));
  if (!sound) return true;
  *done = true;
  if (!Lookup(c, o, "NSAttributes", &attributes) || StandsFor(c, attributes) != Stands::Value)
    return WriteObject(c, ref, role);
  std::vector<uint64_t> runs;
  const uint8_t* p;
  uint64_t n;
  bool withRuns = Lookup(c, o, "NSAttributeInfo", &info) && BytesAt(c, info, &p, &n) &&
                  PackedNumbers(p, n, &runs) && runs.size() % 2 == 0;
  size_t space;
  if (!OpenValue(c, &space)) return false;
  std::vector<Field> fields{
      {"string", [&c, ref] { return WriteObject(c, ref, Role::Value); }},
      {"attributes", [&c, attributes] { return WriteObject(c, attributes, Role::Value); }}};
  if (withRuns)
    fields.push_back({"runs", [&c, &runs] {
                        bool ok = RoomForContainer(c);
                        size_t inner = c.DictSpace;
                        if (ok) OpenArray(c);
                        uint64_t location = 0;
                        for (size_t i = 0; ok && i < runs.size(); i += 2) {
                          size_t run;
                          ok = WithinBudget(c, 1) && OpenValue(c, &run);
                          if (!ok) break;
                          PutFields(
                              c, {IntegerField(c, "location", int64_t(location & kMaxIndex)),
                                  IntegerField(c, "length", int64_t(runs[i] & kMaxIndex)),
                                  IntegerField(c, "attributes", int64_t(runs[i + 1] & kMaxIndex))});
                          CloseValue(c, run, true);
                          location += runs[i];
                        }
                        if (ok) CloseArray(c);
                        c.DictSpace = inner;
                        return ok;
                      }});
  return CloseValue(c, space, PutFields(c, std::move(fields)));
}

// --- Keys of NSDictionaries.

// How the class table makes a key of an archived object.
enum class KeyForm {
  None,  // it makes none: the key is written as its UID's number or "dict N"
  Text,  // the text found
  Date,  // the date of the seconds found, when in range
  Data,  // the data object found, written as the engine writes data keys
};

// What the class table makes of the archived object at o, which `ref` is or
// leads to, as a key: *text, *seconds or *data receive what the form needs.
KeyForm TextKeyOf(Context& c, uint64_t ref, uint64_t o, std::string* text, double* seconds,
                  uint64_t* data) {
  const ClassRecord* record = InstanceClass(c, o);
  if (!record || !record->named) return KeyForm::None;
  uint64_t field, d;
  switch (record->kind) {
    case ArchivedClass::String:
      return StringText(c, ref, text) ? KeyForm::Text : KeyForm::None;
    case ArchivedClass::Attributed:
      return Lookup(c, o, "NSString", &field) && StringText(c, field, text) ? KeyForm::Text
                                                                            : KeyForm::None;
    case ArchivedClass::Url:
      return UrlText(c, o, text, 0) ? KeyForm::Text : KeyForm::None;
    case ArchivedClass::Uuid:
      return UuidText(c, o, text) ? KeyForm::Text : KeyForm::None;
    case ArchivedClass::Date:
      return DateSeconds(c, o, seconds) ? KeyForm::Date : KeyForm::None;
    case ArchivedClass::Data:
      // As data: an archive inside is no text.
      return DataField(c, o, data, &d) ? KeyForm::Data : KeyForm::None;
    default:
      return KeyForm::None;
  }
}

// Writes the archived object at o, which `ref` is or leads to, as a key
// when the class table makes a string, a date or data of it; *done says
// whether it did.
bool WriteTextKey(Context& c, uint64_t ref, uint64_t o, bool* done) {
  std::string text;
  double seconds;
  uint64_t data;
  switch (TextKeyOf(c, ref, o, &text, &seconds, &data)) {
    case KeyForm::Text:
      *done = true;
      PutKey(c, text);
      return true;
    case KeyForm::Date:
      *done = PutDate(c, seconds, true);
      return true;
    case KeyForm::Data:
      *done = true;
      return WriteObject(c, data, Role::Key);
    case KeyForm::None:
      break;
  }
  return true;
}

// A key of an NSDictionary, always as a key text: a string, number, date or
// data as the engine writes keys, a boolean as "true" or "false", an
// archived object as the string, date or data the class table makes of it.
// Any other key (a container, an object of another class, one on the path)
// is written as its UID's number, or when it is a container not reached
// through a UID, as "dict N" or "array N" (N its object number), read and
// checked but not written.
bool WriteArchivedKey(Context& c, uint64_t ref) {
  uint64_t pos, o, ko;
  if (!Resolve(c, ref, &pos, &o)) return WriteObject(c, ref, Role::Key);
  TypeCode kind = KindAt(c, o);
  if (kind == BOOL) {
    PutKey(c, c.Binary[o] == kMarkerTrue ? "true" : "false");
    return true;
  }
  if (kind != DICT && kind != ARR) return WriteObject(c, pos, Role::Key);
  bool done = false;
  if (kind == DICT && !OnPath(c, pos)) {
    bool ok = WriteTextKey(c, ref, o, &done);
    if (!ok || done) return ok;
  }
  if (Peek(c, ref, &ko) && KindAt(c, ko) == UID) return GetUID(c, ko, true);
  PutKey(c, (kind == DICT ? "dict " : "array ") + std::to_string(pos));
  return Unwritten(c, [&] { return WriteContainer(c, pos, o, kind == DICT); });
}

// The text WriteArchivedKey writes for key `ref`, for sorting: true with
// *text set when the view makes the text itself, false with *pos set to the
// file object written as the key.
bool ArchivedKeyText(Context& c, uint64_t ref, std::string* text, uint64_t* pos) {
  uint64_t o, ko, data;
  double seconds;
  if (!Resolve(c, ref, pos, &o)) {
    *pos = ref;
    return false;
  }
  TypeCode kind = KindAt(c, o);
  if (kind == BOOL) {
    *text = c.Binary[o] == kMarkerTrue ? "true" : "false";
    return true;
  }
  if (kind != DICT && kind != ARR) return false;
  if (kind == DICT && !OnPath(c, *pos)) {
    switch (TextKeyOf(c, ref, o, text, &seconds, &data)) {
      case KeyForm::Text:
        return true;
      case KeyForm::Date:
        if (DateText(seconds, text)) return true;
        break;
      case KeyForm::Data:
        *pos = data;
        return false;
      case KeyForm::None:
        break;
    }
  }
  if (Peek(c, ref, &ko) && KindAt(c, ko) == UID) {
    *pos = ref;
    return false;
  }
  *text = (kind == DICT ? "dict " : "array ") + std::to_string(*pos);
  return true;
}

// --- The archive itself.

// Finds the archive's $objects and $top when the top object of the file is
// a keyed archive's; *top receives $top's object number.
bool FindArchive(Context& c, Archive* a, uint64_t* top) {
  uint64_t o = 0, ref = 0, ao = 0, to = 0;
  if (!Peek(c, c.T.TopObject, &o) || !Lookup(c, o, "$archiver", &ref) || !Peek(c, ref, &ao) ||
      !IsText(c, ao, "NSKeyedArchiver") || !Lookup(c, o, "$objects", &ref) || !Peek(c, ref, &ao) ||
      KindAt(c, ao) != ARR || !Contents(c, ao, c.T.ObjRefSize, &a->count, &a->objects) ||
      !Lookup(c, o, "$top", top) || !Peek(c, *top, &to) || KindAt(c, to) != DICT)
    return false;
  a->stands.assign(a->count, Stands::Unknown);
  return true;
}

// Writes the archive found by FindArchive: the root object when $top holds
// "root" alone, else a dictionary of $top's entries. False with *plain set
// when the root is null or a fill object, which is no document.
bool WriteFound(Context& c, uint64_t top, Role role, bool* plain) {
  uint64_t to = 0, count, start, key;
  if (Peek(c, top, &to) && Contents(c, to, 2 * uint64_t(c.T.ObjRefSize), &count, &start) &&
      count == 1 && Peek(c, Reference(c, start, 0), &key) && IsText(c, key, "root")) {
    uint64_t root = Reference(c, start + c.T.ObjRefSize, 0);
    *plain = StandsFor(c, root) != Stands::Value;
    return !*plain && WriteObject(c, root, role);
  }
  return WriteObject(c, top, role);
}

// Converts `file`, a binary property list held in data, into `out`, from
// c's place in the document and with the work c has left: a keyed archive as the objects
// it holds, any other file as its plain document. Returns its outcome, and
// adds its work to c's, the text given to `out` aside; *budget says whether
// it ran out of the work left.
bool ConvertNested(Context& c, const Reader& file, OutputBuffer& out, Role role, bool* budget) {
  Context k(c, file, out);
  k.Path.assign(DocumentDepth(c), kNoObject);
  Archive a;
  uint64_t top, o;
  bool archive = FindArchive(k, &a, &top), plain = !archive, ok = false;
  if (archive) {
    k.Keyed = &a;
    CountNames(k, top);
    ok = WriteFound(k, top, role, &plain);
    k.Keyed = nullptr;
  }
  // A file of a lone null or fill object has no value to stand in place.
  if (plain && Peek(k, k.T.TopObject, &o) && KindAt(k, o) != EMP && KindAt(k, o) != FILL) {
    k.Path.resize(DocumentDepth(c));
    ok = WriteObject(k, k.T.TopObject, role);
  }
  *budget = !ok && k.TooLarge && !k.TooDeep;
  if (ok) c.Pending = k.Pending;
  c.Work += k.Work;
  c.Done.objects += k.Done.objects;
  c.Done.bytes += k.Done.bytes;
  return ok;
}

// Counts the text of a nested document that is not copied into the
// document as work done.
void Discarded(Context& c, uint64_t bytes) {
  c.Work += bytes;
  c.Done.bytes += bytes;
}

// Writes data p[0, n) that is itself a binary property list as that file's
// document, when the whole of it converts (a damaged one, or one nested too
// deep, is written as data instead): converted once into memory, then
// copied into place. Sets *done once it writes.
bool WriteOpened(Context& c, const uint8_t* p, uint64_t n, Role role, bool* done) {
  Trailer t;
  if (c.Nesting >= kMaxNestedFiles || n < kHeaderSize + kTrailerSize ||
      std::memcmp(p, kSignature, kSignatureSize) != 0 || !DecodeTrailer(p, n, &t).empty())
    return true;
  const Reader file(p, t);
  bool budget = false, ok = false, fits = true;
  JsonPending pending = c.Pending;
  {
    OutputBuffer memory(kNestedInMemory);
    try {
      ok = ConvertNested(c, file, memory, role, &budget);
    } catch (const MemoryLimitReached&) {
      fits = false;
    }
    if (fits) {
      if (!ok) Discarded(c, memory.Written());
      if (budget || WorkSoFar(c) > c.WorkBudget) return OverBudget(c);
      if (ok) {
        *done = true;
        c.Out.PutText(memory);
      }
      return true;
    }
  }
  c.Pending = pending;
  OutputBuffer dry(platform::kNoFile, "", size_t(n));
  ok = ConvertNested(c, file, dry, role, &budget);
  Discarded(c, dry.Written());
  if (budget || WorkSoFar(c) > c.WorkBudget) return OverBudget(c);
  if (!ok) {
    c.Pending = pending;
    return true;
  }
  c.Pending = pending;
  *done = true;
  return ConvertNested(c, file, c.Out, role, &budget) || OverBudget(c);
}

// Called when an archive's document nests past the bound: converts the file
// as -c does on a writer that only counts, with the work left, so that the
// limit is reported for a file -c converts (or that passes the work left
// first), and the failure -c meets for any other.
void CheckPlainly(Context& c) {
  OutputBuffer dry(platform::kNoFile, "");
  Context plain(c.Binary, 0, c.T, dry, c.Parallel, Limits(), c.Format);
  uint64_t used = WorkSoFar(c);
  plain.WorkBudget = plain.OutputStart + (used < c.WorkBudget ? c.WorkBudget - used : 0);
  plain.MaySplit = false;
  bool sound = GetTopObject(plain);
  c.Done.objects += plain.Done.objects;
  c.Done.bytes += dry.Written() + plain.Done.bytes;
  if (sound || plain.TooLarge) return;
  c.Damage = plain.Damage;
  c.TooLarge = c.TooDeep = false;
}

}  // namespace

bool WriteArchived(Context& c, uint64_t Pos, uint64_t o, Role role) {
  uint64_t n = c.Keyed->entering;
  c.Keyed->entering = kNoObject;
  if (n != kNoObject && Entry(c, n) != Pos) n = kNoObject;
  const ClassRecord* record = role == Role::Key ? nullptr : InstanceClass(c, o);
  if (!record) {
    Show(c, n);
    return WriteContainer(c, Pos, o, true);
  }
  if (!PushPath(c, Pos)) return false;
  bool done = false;
  bool ok = record->named ? WriteAsValue(c, o, n, record->kind, role, &done) : true;
  if (ok && !done) ok = WriteFields(c, o, n);
  LeavePath(c);
  return ok;
}

bool WriteDataValue(Context& c, uint64_t o, Role role) {
  uint64_t count, start;
  bool done = false;
  if (Contents(c, o, 1, &count, &start) && !WriteOpened(c, c.Binary + start, count, role, &done))
    return false;
  return done || GetData(c, o, false);
}

bool WriteReferenced(Context& c, uint64_t o, Role role) {
  uint64_t n = 0, pos = 0, to = 0;
  if (!UidValue(c, o, &n)) return GetUID(c, o, false);
  pos = Entry(c, n);
  if (!Locate(c, pos, &to)) return false;
  if (AlreadyShown(c, n) || KindAt(c, to) == UID || OnPath(c, pos)) return GetUID(c, o, false);
  if (EntryStands(c, n) == Stands::Null) {
    PutNull(c);
    return true;
  }
  if (KindAt(c, to) == DICT) c.Keyed->entering = n;
  size_t cycleFrom = c.CycleFrom;
  c.CycleFrom = c.Path.size();
  bool ok = WriteObject(c, pos, role);
  c.CycleFrom = cycleFrom;
  return ok;
}

bool IdentityPending(const Context& c) {
  return c.Keyed->identity != kNoObject;
}

void WriteIdentity(Context& c) {
  uint64_t n = c.Keyed->identity;
  if (n == kNoObject) return;
  c.Keyed->identity = kNoObject;
  PutKey(c, "$uid");
  PutInteger(c, int64_t(n));
}

bool TakeArchiveEntry(Context& c, uint64_t key, uint64_t value, bool* ok) {
  uint64_t vo;
  // Keys here are not followed: a null or fill key is left out by the
  // engine, a UID key is written as its number.
  if (LeftOut(c, Stands::Value, StandsFor(c, value))) {
    *ok = Unwritten(
        c, [&] { return WriteObject(c, key, Role::Key) && WriteObject(c, value, Role::Value); });
    return true;
  }
  if (!IsClassKey(c, key)) return false;
  PutKey(c, "$class");
  const ClassRecord& record = RecordOf(c, value);
  if (record.named) {
    PutString(c, record.name);
  } else if (Peek(c, value, &vo) && KindAt(c, vo) == UID) {
    *ok = GetUID(c, vo, false);
  } else {
    *ok = WriteObject(c, value, Role::Value);
  }
  return true;
}

bool WriteArchive(Context& c) {
  Archive a;
  uint64_t top;
  c.OpensData = true;
  if (!FindArchive(c, &a, &top)) return GetTopObject(c);
  c.Keyed = &a;
  CountNames(c, top);
  c.MaySplit = false;
  c.DictSpace = 0;
  bool plain = false;
  bool ok = WriteFound(c, top, Role::Top, &plain);
  c.Keyed = nullptr;
  if (plain) return GetTopObject(c);
  if (!ok && c.TooDeep) CheckPlainly(c);
  return ok;
}

}  // namespace bplist
