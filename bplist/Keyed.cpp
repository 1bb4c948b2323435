// Keyed archives written as the object graph they encode. The walk is the
// engine's own: it calls here when, inside an archive, it meets a UID (which
// is followed into $objects), a dictionary (which may be an archived object
// with a $class) or a dictionary entry (left out when its value is null).
// Archived objects of the classes in ArchivedClass become plain values; an
// object whose class or fields are not as expected is written as its fields,
// so a damaged archive loses that object's decoding, never the file.
#include "bplist/Keyed.h"

#include <cstring>

#include "bplist/Texts.h"
#include "bplist/Url.h"

namespace bplist {

namespace {

// Stands on a nested archive's path for the containers around the data it
// came from: counted for the depth bound, never an object number.
constexpr uint64_t kNoObject = ~uint64_t(0);
// Archives nested in data inside archives, at most; deeper ones stay data.
constexpr unsigned kMaxNestedArchives = 8;
// NSURL bases followed for one URL, at most.
constexpr unsigned kMaxUrlBases = 16;
// Strings archived inside strings (NSString in NSString), at most.
constexpr unsigned kMaxStringNesting = 4;
// The widest UID value that can name an entry of $objects.
constexpr unsigned kUidValueBytes = 8;
// The bytes of an NSUUID.
constexpr uint64_t kUuidSize = 16;

// --- Quiet reading: lookups never record damage; the writers that follow do.

bool Find(const Context& c, uint64_t Pos, uint64_t* o) {
  if (Pos >= c.T.NumObjects) return false;
  *o = ReadBigEndianPadded(c.Binary + c.T.OffsetTableOffset + Pos * c.T.OffsetSize, c.T.OffsetSize);
  return *o >= kHeaderSize && *o < c.End;
}

TypeCode KindAt(const Context& c, uint64_t o) {
  return TypeOfObject(c.Binary[o]);
}

// The count of the object at o and where its contents start, each entry
// `entrySize` bytes; false when they run past the end.
bool Contents(const Context& c, uint64_t o, uint64_t entrySize, uint64_t* count, uint64_t* start) {
  uint8_t low = c.Binary[o] & 0x0F;
  *count = low;
  *start = o + 1;
  if (low == kExtendedCount) {
    if (!Inside(c, o + 1, 1)) return false;
    uint64_t width = uint64_t(1) << (c.Binary[o + 1] & 0x0F);
    if (width > 8 || !Inside(c, o + 2, width)) return false;
    *count = ReadBigEndian(c.Binary + o + 2, unsigned(width));
    *start = o + 2 + width;
  }
  return *count <= (c.End - *start) / entrySize;
}

uint64_t Ref(const Context& c, uint64_t start, uint64_t i) {
  return ReadBigEndianPadded(c.Binary + start + i * c.T.ObjRefSize, c.T.ObjRefSize);
}

// True when the object at o is the 8-bit string `text`.
bool IsText(const Context& c, uint64_t o, std::string_view text) {
  uint64_t count, start;
  return KindAt(c, o) == STR && Contents(c, o, 1, &count, &start) && count == text.size() &&
         std::memcmp(c.Binary + start, text.data(), count) == 0;
}

// Finds the value of key `name` in the dictionary at o.
bool Lookup(const Context& c, uint64_t o, std::string_view name, uint64_t* value) {
  uint64_t count, start, key;
  if (KindAt(c, o) != DICT || !Contents(c, o, 2 * uint64_t(c.T.ObjRefSize), &count, &start))
    return false;
  for (uint64_t i = 0; i < count; ++i) {
    if (!Find(c, Ref(c, start, i), &key) || !IsText(c, key, name)) continue;
    *value = Ref(c, start + count * c.T.ObjRefSize, i);
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
  return Ref(c, c.Keyed->objects, n);
}

// Follows `ref` when it is a UID: *pos and *o receive the object it leads
// to, or `ref` itself when it is no UID.
bool Resolve(const Context& c, uint64_t ref, uint64_t* pos, uint64_t* o) {
  uint64_t n;
  if (!Find(c, ref, o)) return false;
  *pos = ref;
  if (KindAt(c, *o) != UID) return true;
  if (!UidValue(c, *o, &n)) return false;
  *pos = Entry(c, n);
  return Find(c, *pos, o) && KindAt(c, *o) != UID;
}

bool OnPath(const Context& c, uint64_t Pos) {
  for (uint64_t outer : c.Path)
    if (outer == Pos) return true;
  return false;
}

// --- Texts of strings, for URLs, keys and class names.

void AppendUtf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    *out += char(cp);
  } else if (cp < 0x800) {
    *out += char(0xC0 | cp >> 6);
    *out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += char(0xE0 | cp >> 12);
    *out += char(0x80 | (cp >> 6 & 0x3F));
    *out += char(0x80 | (cp & 0x3F));
  } else {
    *out += char(0xF0 | cp >> 18);
    *out += char(0x80 | (cp >> 12 & 0x3F));
    *out += char(0x80 | (cp >> 6 & 0x3F));
    *out += char(0x80 | (cp & 0x3F));
  }
}

// 8-bit text as UTF-8, the way the string writer reads it: unchanged when
// it is UTF-8, each byte as Latin-1 otherwise.
std::string Text8(const uint8_t* p, uint64_t n) {
  if (IsUtf8(p, n)) return std::string(reinterpret_cast<const char*>(p), n);
  std::string out;
  for (uint64_t i = 0; i < n; ++i) AppendUtf8(&out, p[i]);
  return out;
}

// UTF-16 text as UTF-8, surrogate pairs joined and unpaired ones U+FFFD.
std::string Text16(const uint8_t* p, uint64_t units) {
  std::string out;
  for (uint64_t i = 0; i < units; ++i) {
    uint32_t u = uint32_t(p[2 * i]) << 8 | p[2 * i + 1];
    if (u >= 0xD800 && u < 0xDC00 && i + 1 < units) {
      uint32_t v = uint32_t(p[2 * i + 2]) << 8 | p[2 * i + 3];
      if (v >= 0xDC00 && v < 0xE000) {
        AppendUtf8(&out, 0x10000 + ((u - 0xD800) << 10) + (v - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(&out, u >= 0xD800 && u < 0xE000 ? 0xFFFD : u);
  }
  return out;
}

// The text of the string object at o; false for any other object.
bool PlainText(Context& c, uint64_t o, std::string* text) {
  uint64_t count, start;
  TypeCode kind = KindAt(c, o);
  if (kind != STR && kind != UTF && kind != DATA) return false;
  if (!Contents(c, o, kind == UTF ? 2 : 1, &count, &start)) return false;
  c.Work += count;  // read without being written, for URLs and keys
  *text = kind == UTF ? Text16(c.Binary + start, count) : Text8(c.Binary + start, count);
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
  };
  for (const auto& k : kClasses)
    if (name == k.name) return k.kind;
  return ArchivedClass::Other;
}

// The class record that the $class value `classRef` names.
const ClassRecord& RecordOf(Context& c, uint64_t classRef) {
  static const ClassRecord kMissing;
  uint64_t uid, n, pos, o, nameRef, nameO;
  if (!Find(c, classRef, &uid) || !UidValue(c, uid, &n)) return kMissing;
  auto found = c.Keyed->classes.find(n);
  if (found != c.Keyed->classes.end()) return found->second;
  ClassRecord& record = c.Keyed->classes[n];
  pos = Entry(c, n);
  if (Find(c, pos, &o) && Lookup(c, o, "$classname", &nameRef) &&
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
  if (!Lookup(c, o, "$class", &classRef)) return nullptr;
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
    if (Find(c, Entry(c, n), &o)) {
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
  if (!Find(c, ref, &o)) return Stands::Value;  // reported by its writer
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
  if (!Resolve(c, ref, &pos, &o)) return false;
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

bool WriteDictionary(Context& c, uint64_t o, bool* done);
bool WriteArray(Context& c, uint64_t o, Role role, bool* done);
bool WriteString(Context& c, uint64_t o, Role role, bool* done);
bool WriteDate(Context& c, uint64_t o, bool* done);
bool WriteData(Context& c, uint64_t o, Role role, bool* done);
bool WriteUuid(Context& c, uint64_t o, bool* done);
bool WriteUrl(Context& c, uint64_t o, bool* done);
bool WriteAttributed(Context& c, uint64_t o, Role role, bool* done);

bool WriteAsValue(Context& c, uint64_t o, ArchivedClass kind, Role role, bool* done) {
  switch (kind) {
    case ArchivedClass::Dictionary:
      return WriteDictionary(c, o, done);
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
      // met anywhere else (not through a UID) is written as its fields.
      if (role == Role::Element || (role == Role::Value && c.Format == OutputFormat::Json)) {
        *done = true;
        PutNull(c);
      }
      return true;
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

bool WriteDictionary(Context& c, uint64_t o, bool* done) {
  uint64_t keysRef, valuesRef, count, valuesCount, keys, values;
  if (!Lookup(c, o, "NS.keys", &keysRef) || !Lookup(c, o, "NS.objects", &valuesRef) ||
      !ArrayAt(c, keysRef, &count, &keys) || !ArrayAt(c, valuesRef, &valuesCount, &values) ||
      count != valuesCount)
    return true;
  *done = true;
  if (!RoomForContainer(c)) return false;
  // Sorted, by the texts the keys stand for.
  std::vector<uint64_t> order;
  if (c.Sorted && count > 1) {
    std::vector<uint64_t> texts(size_t(count), kNoObject);
    order.resize(size_t(2 * count));
    for (uint64_t i = 0; i < count; ++i) {
      order[size_t(2 * i)] = Ref(c, keys, i);
      order[size_t(2 * i + 1)] = Ref(c, values, i);
      uint64_t pos, ko;
      if (Resolve(c, order[size_t(2 * i)], &pos, &ko)) texts[size_t(i)] = pos;
    }
    if (!SortPairs(c, &order, texts.data())) order.clear();
  }
  size_t space = c.DictSpace;
  OpenDict(c);
  bool ok = true;
  for (uint64_t i = 0; ok && i < count; ++i) {
    uint64_t key = order.empty() ? Ref(c, keys, i) : order[size_t(2 * i)];
    uint64_t value = order.empty() ? Ref(c, values, i) : order[size_t(2 * i + 1)];
    ok = WithinBudget(c, 2);
    if (!ok) break;
    if (LeftOut(c, StandsFor(c, key), StandsFor(c, value)))
      ok = Unwritten(
          c, [&] { return WriteArchivedKey(c, key) && WriteObject(c, value, Role::Value); });
    else
      ok = WriteArchivedKey(c, key) && WriteObject(c, value, Role::Value);
  }
  if (ok) CloseDict(c);
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
    if (!Find(c, Ref(c, start, i), &ko) || KindAt(c, ko) != STR ||
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
    (*refs)[index] = Ref(c, start + count * c.T.ObjRefSize, i);
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
bool DateSeconds(const Context& c, uint64_t o, double* seconds) {
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

bool WriteNestedArchive(Context& c, const uint8_t* p, uint64_t n, Role role, bool* done);

// The data object of the NSData at o: *pos its object number, *d where.
bool DataField(const Context& c, uint64_t o, uint64_t* pos, uint64_t* d) {
  uint64_t ref;
  return (Lookup(c, o, "NS.data", &ref) || Lookup(c, o, "NS.bytes", &ref)) &&
         Resolve(c, ref, pos, d) && KindAt(c, *d) == DATA;
}

bool WriteData(Context& c, uint64_t o, Role role, bool* done) {
  uint64_t pos, d, count, start;
  if (!DataField(c, o, &pos, &d) || !Contents(c, d, 1, &count, &start)) return true;
  bool ok = WriteNestedArchive(c, c.Binary + start, count, role, done);
  if (*done || !ok) return ok;
  *done = true;
  return WriteObject(c, pos, role);
}

// The text of the NSUUID at o, from NS.uuidbytes.
bool UuidText(const Context& c, uint64_t o, std::string* text) {
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

bool WriteAttributed(Context& c, uint64_t o, Role role, bool* done) {
  uint64_t ref, pos, so, field;
  bool bytes;
  if (!Lookup(c, o, "NSString", &ref) || !Resolve(c, ref, &pos, &so) || OnPath(c, pos)) return true;
  TypeCode kind = KindAt(c, so);
  const ClassRecord* record = kind == DICT ? InstanceClass(c, so) : nullptr;
  bool sound =
      kind == STR || kind == UTF ||
      (record && record->kind == ArchivedClass::String && StringField(c, so, &field, &bytes));
  if (!sound) return true;
  *done = true;
  return WriteObject(c, ref, role);
}

// --- Keys of NSDictionaries.

// Writes the archived object at o, which `ref` is or leads to, as a key
// when the class table makes a string, a date or data of it; *done says
// whether it did.
bool WriteTextKey(Context& c, uint64_t ref, uint64_t o, bool* done) {
  const ClassRecord* record = InstanceClass(c, o);
  if (!record || !record->named) return true;
  std::string text;
  uint64_t field, pos, d;
  double seconds;
  switch (record->kind) {
    case ArchivedClass::String:
      if (!StringText(c, ref, &text)) return true;
      break;
    case ArchivedClass::Attributed:
      if (!Lookup(c, o, "NSString", &field) || !StringText(c, field, &text)) return true;
      break;
    case ArchivedClass::Url:
      if (!UrlText(c, o, &text, 0)) return true;
      break;
    case ArchivedClass::Uuid:
      if (!UuidText(c, o, &text)) return true;
      break;
    case ArchivedClass::Date:
      *done = DateSeconds(c, o, &seconds) && PutDate(c, seconds, true);
      return true;
    case ArchivedClass::Data:
      // As data: an archive inside is no text.
      if (!DataField(c, o, &pos, &d)) return true;
      *done = true;
      return WriteObject(c, pos, Role::Key);
    default:
      return true;
  }
  *done = true;
  PutKey(c, text);
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
  if (Find(c, ref, &ko) && KindAt(c, ko) == UID) return GetUID(c, ko, true);
  PutKey(c, (kind == DICT ? "dict " : "array ") + std::to_string(pos));
  return Unwritten(c, [&] { return WriteContainer(c, pos, o, kind == DICT); });
}

// --- The archive itself.

// Finds the archive's $objects and $top when the top object of the file is
// a keyed archive's; *top receives $top's object number.
bool FindArchive(Context& c, Archive* a, uint64_t* top) {
  uint64_t o = 0, ref = 0, ao = 0, to = 0;
  if (!Find(c, c.T.TopObject, &o) || !Lookup(c, o, "$archiver", &ref) || !Find(c, ref, &ao) ||
      !IsText(c, ao, "NSKeyedArchiver") || !Lookup(c, o, "$objects", &ref) || !Find(c, ref, &ao) ||
      KindAt(c, ao) != ARR || !Contents(c, ao, c.T.ObjRefSize, &a->count, &a->objects) ||
      !Lookup(c, o, "$top", top) || !Find(c, *top, &to) || KindAt(c, to) != DICT)
    return false;
  a->stands.assign(a->count, Stands::Unknown);
  return true;
}

// Writes the archive found by FindArchive: the root object when $top holds
// "root" alone, else a dictionary of $top's entries. False with *plain set
// when the root is null or a fill object, which is no document.
bool WriteFound(Context& c, uint64_t top, Role role, bool* plain) {
  uint64_t to = 0, count, start, key;
  if (Find(c, top, &to) && Contents(c, to, 2 * uint64_t(c.T.ObjRefSize), &count, &start) &&
      count == 1 && Find(c, Ref(c, start, 0), &key) && IsText(c, key, "root")) {
    uint64_t root = Ref(c, start + c.T.ObjRefSize, 0);
    *plain = StandsFor(c, root) != Stands::Value;
    return !*plain && WriteObject(c, root, role);
  }
  return WriteObject(c, top, role);
}

// Converts the nested archive p[0, n) into `out`, from c's place in the
// document and with the work c has left. Returns its outcome; *isArchive
// says whether it was an archive at all.
bool ConvertNested(Context& c, const uint8_t* p, uint64_t n, const Trailer& t, OutputBuffer& out,
                   Role role, bool* isArchive) {
  Context k(p, n, t, out, c.Parallel, Limits(), c.Format);
  k.MaySplit = false;
  k.Sorted = c.Sorted;
  k.DictSpace = c.DictSpace;
  k.Pending = c.Pending;
  k.Path.assign(c.Path.size(), kNoObject);
  uint64_t used = WorkSoFar(c);
  k.WorkBudget = k.OutputStart + (used < c.WorkBudget ? c.WorkBudget - used : 0);
  Archive a;
  a.level = c.Keyed->level + 1;
  uint64_t top;
  bool plain = false, ok = false;
  *isArchive = FindArchive(k, &a, &top);
  if (*isArchive) {
    k.Keyed = &a;
    ok = WriteFound(k, top, role, &plain);
    *isArchive = !plain;
  }
  if (&out == &c.Out) c.Pending = k.Pending;
  c.Work += k.Work + (&out == &c.Out ? 0 : out.Written());
  c.Done.objects += k.Done.objects;
  c.Done.bytes += (&out == &c.Out ? 0 : out.Written()) + k.Done.bytes;
  return ok;
}

// Writes data that is itself a binary keyed archive as the archive's
// document, when the whole of it converts: tried first on a writer that
// only counts, so a damaged one is written as data instead.
bool WriteNestedArchive(Context& c, const uint8_t* p, uint64_t n, Role role, bool* done) {
  Trailer t;
  if (c.Keyed->level >= kMaxNestedArchives || n < kHeaderSize + kTrailerSize ||
      std::memcmp(p, kSignature, kSignatureSize) != 0 || !DecodeTrailer(p, n, &t).empty())
    return true;
  bool isArchive;
  {
    OutputBuffer dry(platform::kNoFile, "", size_t(n));
    bool ok = ConvertNested(c, p, n, t, dry, role, &isArchive);
    if (WorkSoFar(c) > c.WorkBudget) return OverBudget(c);
    if (!ok || !isArchive) return true;
  }
  *done = true;
  return ConvertNested(c, p, n, t, c.Out, role, &isArchive) || OverBudget(c);
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
  const ClassRecord* record = role == Role::Key ? nullptr : InstanceClass(c, o);
  if (!record) return WriteContainer(c, Pos, o, true);
  if (!PushPath(c, Pos)) return false;
  bool done = false;
  bool ok = record->named ? WriteAsValue(c, o, record->kind, role, &done) : true;
  if (ok && !done) {
    size_t space = c.DictSpace;
    ok = RoomForContainer(c) && GetDict(c, o);
    c.DictSpace = space;
  }
  LeavePath(c);
  return ok;
}

bool WriteReferenced(Context& c, uint64_t o, Role role) {
  uint64_t n = 0, pos = 0, to = 0;
  if (!UidValue(c, o, &n)) return GetUID(c, o, false);
  pos = Entry(c, n);
  if (!Locate(c, pos, &to)) return false;
  if (OnPath(c, pos) || KindAt(c, to) == UID) return GetUID(c, o, false);
  if (EntryStands(c, n) == Stands::Null) {
    PutNull(c);
    return true;
  }
  return WriteObject(c, pos, role);
}

bool TakeArchiveEntry(Context& c, uint64_t key, uint64_t value, bool* ok) {
  uint64_t ko, vo;
  // Keys here are not followed: a null or fill key is left out by the
  // engine, a UID key is written as its number.
  if (LeftOut(c, Stands::Value, StandsFor(c, value))) {
    *ok = Unwritten(
        c, [&] { return WriteObject(c, key, Role::Key) && WriteObject(c, value, Role::Value); });
    return true;
  }
  if (!Find(c, key, &ko) || !IsText(c, ko, "$class")) return false;
  PutKey(c, "$class");
  const ClassRecord& record = RecordOf(c, value);
  if (record.named) {
    PutString(c, record.name);
  } else if (Find(c, value, &vo) && KindAt(c, vo) == UID) {
    *ok = GetUID(c, vo, false);
  } else {
    *ok = WriteObject(c, value, Role::Value);
  }
  return true;
}

bool WriteArchive(Context& c) {
  Archive a;
  uint64_t top;
  if (!FindArchive(c, &a, &top)) return GetTopObject(c);
  c.Keyed = &a;
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
