// The order of dictionary keys in sorted output: their texts compared as
// UTF-16 code units, equal texts in the order they came. The converter's
// sorted documents and the binary writer's sorted dictionaries both use it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bplist/Texts.h"

namespace bplist {

// A dictionary entry while its dictionary is sorted: where its key's text
// lies.
struct SortEntry {
  enum Kind : uint8_t {
    kBytes,     // 8-bit text whose bytes are its code units (ASCII, or read as Latin-1)
    kUtf8,      // 8-bit text that is UTF-8
    kUtf16,     // big-endian UTF-16 code units
    kInteger,   // an integer's value bytes, compared as its decimal text
    kUid,       // a UID's value bytes, compared as its decimal text
    kNotAText,  // any other key, or none: after the texts, in file order
  };
  // The text's first byte: in the file, in the value tree, or in a text the
  // writer makes itself.
  const uint8_t* text;
  uint64_t count;
  // kBytes: the first eight code units, big-endian, zeros after a shorter
  // text; most keys differ there, so most comparisons read nothing else.
  uint64_t prefix;
  uint32_t index;  // the entry's place in the file's order
  Kind kind;
};

// Sets the key text of `e`: `count` code units at `text`, big-endian UTF-16
// with `utf16`, else 8-bit (UTF-8 when it is UTF-8 and not ASCII, its bytes
// as code units otherwise).
inline void SetKeyText(SortEntry* e, const uint8_t* text, uint64_t count, bool utf16) {
  e->text = text;
  e->count = count;
  if (utf16) {
    e->kind = SortEntry::kUtf16;
    return;
  }
  uint8_t high = 0;
  for (uint64_t i = 0; i < count; ++i) high |= text[i];
  e->kind = high >= 0x80 && IsUtf8(text, size_t(count)) ? SortEntry::kUtf8 : SortEntry::kBytes;
  e->prefix = 0;
  for (uint64_t i = 0; i < 8; ++i) e->prefix = e->prefix << 8 | (i < count ? text[i] : 0);
}

// Reads the UTF-16 code units of a key's text one at a time.
class KeyUnits {
 public:
  explicit KeyUnits(const SortEntry& e)
      : p_(e.text), end_(p_ + e.count * (e.kind == SortEntry::kUtf16 ? 2 : 1)), kind_(e.kind) {
    if (kind_ == SortEntry::kInteger) {
      char* end = PutIntegerText(text_, p_, size_t(e.count));
      Take(text_, end);
    } else if (kind_ == SortEntry::kUid) {
      uid_ = UidText(p_, size_t(e.count));
      Take(uid_.data(), uid_.data() + uid_.size());
    }
  }

  // The next code unit, or -1 after the last.
  long Next() {
    if (low_ != 0) {
      long unit = low_;
      low_ = 0;
      return unit;
    }
    if (p_ == end_) return -1;
    if (kind_ == SortEntry::kUtf16) {
      long unit = long(p_[0]) << 8 | p_[1];
      p_ += 2;
      return unit;
    }
    uint32_t b = *p_++;
    if (kind_ == SortEntry::kBytes || b < 0x80) return long(b);
    // Well-formed UTF-8 (checked before): a lead byte, then its continuations.
    int more = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : 1;
    uint32_t cp = b & (0x3F >> more);
    for (int i = 0; i < more; ++i) cp = cp << 6 | (*p_++ & 0x3F);
    if (cp < 0x10000) return long(cp);
    low_ = long(0xDC00 | ((cp - 0x10000) & 0x3FF));
    return long(0xD800 | ((cp - 0x10000) >> 10));
  }

 private:
  // Reads the ASCII digits [begin, end) instead of the value bytes.
  void Take(const char* begin, const char* end) {
    p_ = reinterpret_cast<const uint8_t*>(begin);
    end_ = reinterpret_cast<const uint8_t*>(end);
    kind_ = SortEntry::kBytes;
  }

  const uint8_t* p_;
  const uint8_t* end_;
  SortEntry::Kind kind_;
  long low_ = 0;
  char text_[kMaxIntegerText];
  std::string uid_;
};

// Whether key a comes before key b: texts before other keys, texts by their
// UTF-16 code units.
inline bool KeyBefore(const SortEntry& a, const SortEntry& b) {
  if (a.kind == SortEntry::kNotAText || b.kind == SortEntry::kNotAText)
    return b.kind == SortEntry::kNotAText && a.kind != SortEntry::kNotAText;
  // One text, however many objects or references name it.
  if (a.text == b.text && a.count == b.count && a.kind == b.kind) return false;
  if (a.kind == SortEntry::kBytes && b.kind == SortEntry::kBytes) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    uint64_t n = std::min(a.count, b.count);
    int order = n == 0 ? 0 : std::memcmp(a.text, b.text, size_t(n));
    return order != 0 ? order < 0 : a.count < b.count;
  }
  KeyUnits ua(a), ub(b);
  for (;;) {
    long x = ua.Next(), y = ub.Next();
    if (x != y) return x < y;
    if (x < 0) return false;
  }
}

// Dictionaries of up to this many entries are sorted by insertion, which
// needs no memory of its own; larger ones by std::stable_sort.
constexpr size_t kInsertionSortEntries = 24;

// Puts in *order, for each place in the order of KeyBefore (equal keys as
// they come), the index of the entry of `entries` that goes there. Returns
// false, with *order empty, when that is the order they are in. `entries`
// may be reordered.
inline bool SortOrder(std::vector<SortEntry>& entries, std::vector<uint32_t>* order) {
  order->clear();
  size_t n = entries.size();
  if (n <= kInsertionSortEntries) {
    // Places are moved, not the entries.
    uint8_t at[kInsertionSortEntries];
    bool moved = false;
    for (size_t i = 0; i < n; ++i) at[i] = uint8_t(i);
    for (size_t i = 1; i < n; ++i) {
      uint8_t next = at[i];
      size_t j = i;
      // A key before the first goes to the front with one comparison.
      if (KeyBefore(entries[next], entries[at[0]])) {
        std::memmove(at + 1, at, i);
        j = 0;
      } else {
        for (; KeyBefore(entries[next], entries[at[j - 1]]); --j) at[j] = at[j - 1];
      }
      at[j] = next;
      moved |= j != i;
    }
    if (moved)
      for (size_t i = 0; i < n; ++i) order->push_back(entries[at[i]].index);
    return moved;
  }
  if (std::is_sorted(entries.begin(), entries.end(), KeyBefore)) return false;
  std::stable_sort(entries.begin(), entries.end(), KeyBefore);
  for (const SortEntry& e : entries) order->push_back(e.index);
  return true;
}

}  // namespace bplist
