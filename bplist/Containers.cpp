// Dictionaries and arrays: their counts, reference blocks and indentation.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "bplist/KeyOrder.h"
#include "bplist/Keyed.h"
#include "bplist/Texts.h"
#include "bplist/Writers.h"

namespace bplist {

namespace {

// Where the text of the key at object Pos lies, when it is a string whose
// characters lie inside the object data, or an integer or UID, whose
// decimal text is written.
void FindKeyText(const Context& c, uint64_t Pos, SortEntry* e) {
  e->kind = SortEntry::kNotAText;
  uint64_t o;
  if (!Peek(c, Pos, &o)) return;
  uint8_t nibble = c.Binary[o] >> 4;
  if (nibble == kNibbleInt || nibble == kNibbleUid) {
    // Integers of 1 to 16 bytes, UIDs of 1 to 16.
    uint64_t width =
        nibble == kNibbleInt ? uint64_t(1) << (c.Binary[o] & 0x0F) : (c.Binary[o] & 0x0F) + 1u;
    if (width > 16 || width > c.End - (o + 1)) return;
    e->text = c.Binary + o + 1;
    e->count = width;
    e->kind = nibble == kNibbleInt ? SortEntry::kInteger : SortEntry::kUid;
    return;
  }
  if (nibble != kNibbleString && nibble != kNibbleUtf16) return;
  // The count as the walk reads it.
  uint64_t count, start;
  if (!Contents(c, o, nibble == kNibbleUtf16 ? 2 : 1, &count, &start)) return;
  SetKeyText(e, c.Binary + start, count, nibble == kNibbleUtf16);
}

// Puts dictionary e's key and value references, two per entry, into
// c.SortedOrders[c.SortLevel] in the order SortPairs gives them, and returns
// them; null when that is the file's order. A dictionary with the last
// one's keys takes over their order.
const uint64_t* SortEntries(Context& c, const Entries& e);

// Finds the reference block of the container at o: `perEntry` references for
// each of its entries. Returns false (damaged) when it runs past the end.
bool GetReferences(Context& c, uint64_t o, unsigned perEntry, uint64_t* count, uint64_t* start) {
  if (!GetCount(c, o, count, start)) return false;
  uint64_t entrySize = uint64_t(perEntry) * c.T.ObjRefSize;
  if (*count > (c.End - *start) / entrySize)
    return Damaged(c, "the references of a container run past the end of the object data");
  return true;
}

// In a large file the elements of a container lie far apart, and so do
// their offset-table entries. Asking for them an element or two ahead hides
// most of the wait for memory: `ahead2`'s table entry and `ahead1`'s marker.
inline void Prefetch(const Context& c, uint64_t ahead1, uint64_t ahead2) {
  if (ahead2 < c.T.NumObjects)
    PrefetchRead(c.Binary + c.T.OffsetTableOffset + ahead2 * c.T.OffsetSize);
  if (ahead1 < c.T.NumObjects) {
    uint64_t o = OffsetOf(c, ahead1);
    if (o < c.End) PrefetchRead(c.Binary + o);
  }
}

// Writes a dictionary key, object Pos at o: the usual short plain string
// directly, anything else through the general dispatch.
template <OutputFormat F>
inline bool WriteKey(Context& c, uint64_t Pos, uint64_t o) {
  if (TryPlainKey<F>(c, o)) {
    ++c.Done.objects;
    return true;
  }
  return WriteLocated<F>(c, Pos, o, Role::Key);
}

// Whether an entry whose key and value have the markers `key` and `value`
// is left out of the document: one whose key is a null or fill object, and
// one whose value is a fill object, or in XML, which has no null, a null
// object.
template <OutputFormat F>
inline bool LeftOut(uint8_t key, uint8_t value) {
  return key == kMarkerNull || key == kMarkerFill || value == kMarkerFill ||
         (F == OutputFormat::Xml && value == kMarkerNull);
}

// Writes one dictionary entry, or reads and checks it without writing
// anything when the document leaves it out.
template <OutputFormat F>
inline bool WriteEntry(Context& c, uint64_t key, uint64_t value) {
  bool ok = true;
  if (c.Keyed && TakeArchiveEntry(c, key, value, &ok)) return ok;
  uint64_t ko = 0, vo = 0;
  if (!Locate(c, key, &ko)) return false;
  // A value that names no object is reported once the key is written.
  bool found = Peek(c, value, &vo);
  if (!LeftOut<F>(c.Binary[ko], found ? c.Binary[vo] : kMarkerTrue)) {
    if (!WriteKey<F>(c, key, ko)) return false;
    return found ? WriteLocated<F>(c, value, vo, Role::Value)
                 : WriteObject<F>(c, value, Role::Value);
  }
  return Unwritten(c, [&] {
    return WriteObject<F>(c, key, Role::Key) && WriteObject<F>(c, value, Role::Value);
  });
}

template <OutputFormat F>
bool WriteAllEntries(Context& c, const Entries& e) {
  return MaySplit(c, e) ? WriteEntriesInParallel(c, e) : WriteEntries<F>(c, e, 0, e.count);
}

const uint64_t* SortEntries(Context& c, const Entries& e) {
  // One set of buffers per level of nesting, kept for the dictionaries that
  // follow.
  if (c.SortedOrders.size() <= c.SortLevel) c.SortedOrders.resize(c.SortLevel + 1);
  SortBuffers& b = c.SortedOrders[c.SortLevel];
  size_t n = size_t(e.count);
  uint64_t values = e.start + e.count * c.T.ObjRefSize;
  auto keyAt = [&](size_t i) { return Reference(c, e.start, i); };
  b.pairs.resize(2 * n);
  if (b.memo.Same(n, keyAt)) {
    if (b.memo.order.empty()) return nullptr;
    for (size_t i = 0; i < n; ++i) {
      uint32_t from = b.memo.order[i];
      b.pairs[2 * i] = b.memo.keys[from];
      b.pairs[2 * i + 1] = Reference(c, values, from);
    }
    return b.pairs.data();
  }
  b.memo.Remember(n, keyAt);
  for (size_t i = 0; i < n; ++i) {
    b.pairs[2 * i] = keyAt(i);
    b.pairs[2 * i + 1] = Reference(c, values, i);
  }
  if (SortPairs(c, &b.pairs, nullptr, &b.memo.order)) return b.pairs.data();
  b.memo.order.clear();
  return nullptr;
}

// With sorted keys, the number of entries of dictionary e, in the order
// they are written, whose keys come before the "$uid" entry that a shared
// archived object writes, which then goes in there; 0 when there is none.
uint64_t IdentityPlace(const Context& c, const Entries& e) {
  static const std::string kIdentityKey = "$uid";
  if (!IdentityPending(c)) return 0;
  SortEntry identity, key;
  SetKeyText(&identity, reinterpret_cast<const uint8_t*>(kIdentityKey.data()), kIdentityKey.size(),
             false);
  uint64_t i = 0;
  for (; i < e.count; ++i) {
    FindKeyText(c, e.order != nullptr ? e.order[2 * i] : Reference(c, e.start, i), &key);
    if (!KeyBefore(key, identity)) break;
  }
  return i;
}

}  // namespace

bool SortPairs(const Context& c, std::vector<uint64_t>* pairs, const uint64_t* texts,
               std::vector<uint32_t>* positions, const std::string* const* own) {
  // Sorting does not nest, so one buffer serves each thread.
  thread_local std::vector<SortEntry> entries;
  entries.resize(pairs->size() / 2);
  uint64_t textBytes = 0;
  for (size_t i = 0; i < entries.size(); ++i) {
    SortEntry& s = entries[i];
    s.index = uint32_t(i);
    if (own != nullptr && own[i] != nullptr) {
      SetKeyText(&s, reinterpret_cast<const uint8_t*>(own[i]->data()), own[i]->size(), false);
    } else {
      FindKeyText(c, texts != nullptr ? texts[i] : (*pairs)[2 * i], &s);
    }
    if (s.kind != SortEntry::kNotAText) textBytes += s.count;
  }
  // Keys whose texts alone pass the whole work budget are written in file
  // order, where the budget stops them, so that comparing them costs no
  // more than writing them. The bound is the same on every thread.
  if (textBytes > c.WorkBudget - c.OutputStart) return false;
  // The order goes to *positions when the caller keeps it.
  thread_local std::vector<uint32_t> localOrder;
  thread_local std::vector<uint64_t> scratch;
  std::vector<uint32_t>& order = positions != nullptr ? *positions : localOrder;
  if (!SortOrder(entries, &order)) return false;
  PutInOrder(pairs->data(), entries.size(), order, &scratch);
  return true;
}

bool OverBudget(Context& c) {
  if (c.Damage.empty()) c.TooLarge = true;
  return Damaged(c, "expands past the limit of " +
                        std::to_string((c.WorkBudget - c.OutputStart) >> 20) + " MiB of output");
}

namespace {

// A document's budget is all it gets: past it the file is too large.
class Refuse final : public BudgetHook {
 public:
  bool Reached(Context& c) override { return OverBudget(c); }
};

}  // namespace

BudgetHook& DocumentBudget() {
  static Refuse refuse;
  return refuse;
}

namespace {

// Writes entries [begin, end) of an array.
template <OutputFormat F>
bool WriteElements(Context& c, const Entries& e, uint64_t begin, uint64_t end) {
  for (uint64_t i = begin; i < end; ++i) {
    if (i + 2 < end) Prefetch(c, Reference(c, e.start, i + 1), Reference(c, e.start, i + 2));
    if (!WithinBudget(c, 1) || !WriteObject<F>(c, Reference(c, e.start, i), Role::Element))
      return false;
  }
  return true;
}

// Writes entries [begin, end) of a dictionary.
template <OutputFormat F>
bool WriteDictEntries(Context& c, const Entries& e, uint64_t begin, uint64_t end) {
  if (e.order != nullptr) {
    for (uint64_t i = begin; i < end; ++i) {
      if (!WithinBudget(c, 2) || !WriteEntry<F>(c, e.order[2 * i], e.order[2 * i + 1]))
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
    if (!WithinBudget(c, 2) || !WriteEntry<F>(c, Reference(c, e.start, i), Reference(c, values, i)))
      return false;
  }
  return true;
}

}  // namespace

template <OutputFormat F>
bool WriteEntries(Context& c, const Entries& e, uint64_t begin, uint64_t end) {
  return e.isDict ? WriteDictEntries<F>(c, e, begin, end) : WriteElements<F>(c, e, begin, end);
}

bool WriteEntries(Context& c, const Entries& e, uint64_t begin, uint64_t end) {
  return InFormat(c, [&](auto f) { return WriteEntries<decltype(f)::value>(c, e, begin, end); });
}

template <OutputFormat F>
bool GetArray(Context& c, uint64_t o) {
  Entries e{0, 0, false};
  if (!GetReferences(c, o, 1, &e.count, &e.start)) return false;
  OpenArray<F>(c);
  if (!WriteAllEntries<F>(c, e)) return false;
  CloseArray<F>(c);
  return true;
}

template <OutputFormat F>
bool GetDict(Context& c, uint64_t o) {
  Entries e{0, 0, true};
  if (!GetReferences(c, o, 2, &e.count, &e.start)) return false;
  if (c.Sorted && e.count > 1) e.order = SortEntries(c, e);
  OpenDict<F>(c);
  uint64_t identityAt = c.Keyed && c.Sorted ? IdentityPlace(c, e) : 0;
  if (c.Keyed && identityAt == 0) WriteIdentity(c);
  // Dictionaries nested in this one sort into the next level's buffer.
  ++c.SortLevel;
  // A keyed archive's view converts on this thread alone.
  bool ok = identityAt == 0 ? WriteAllEntries<F>(c, e) : WriteEntries<F>(c, e, 0, identityAt);
  if (ok && identityAt != 0) {
    WriteIdentity(c);
    ok = WriteEntries<F>(c, e, identityAt, e.count);
  }
  --c.SortLevel;
  if (!ok) return false;
  CloseDict<F>(c);
  return true;
}

bool GetDict(Context& c, uint64_t o) {
  return InFormat(c, [&](auto f) { return GetDict<decltype(f)::value>(c, o); });
}

template bool WriteEntries<OutputFormat::Xml>(Context&, const Entries&, uint64_t, uint64_t);
template bool WriteEntries<OutputFormat::Json>(Context&, const Entries&, uint64_t, uint64_t);
template bool GetArray<OutputFormat::Xml>(Context&, uint64_t);
template bool GetArray<OutputFormat::Json>(Context&, uint64_t);
template bool GetDict<OutputFormat::Xml>(Context&, uint64_t);
template bool GetDict<OutputFormat::Json>(Context&, uint64_t);

}  // namespace bplist
