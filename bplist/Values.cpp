// Building value trees, UTF-8, and the conversion of any property list into
// a binary one.
#include "bplist/Values.h"

#include <algorithm>
#include <cstring>

#include "bplist/Format.h"
#include "bplist/KeyOrder.h"
#include "bplist/SortMemo.h"
#include "bplist/Texts.h"

namespace bplist {

namespace {

// Values a document of n input bytes may hold beyond one per input byte:
// room for a binary plist that shares its containers a little.
constexpr uint64_t kValueBudgetBase = uint64_t(1) << 22;
constexpr uint64_t kValuesPerInputByte = 4;
// Text bytes per value in a typical property list, and the most values
// room is made for before reading, so that a huge input does not ask for
// more address space than a 32-bit process has.
constexpr size_t kTextBytesPerValue = 40;
constexpr size_t kMostReserved = size_t(1) << 23;

std::string_view BytesOf(const ValueTree& t, const Value& v) {
  return std::string_view(t.bytes).substr(size_t(v.at), size_t(v.count));
}

// The UTF-8 text of a key, for the duplicate-key message.
std::string KeyText(const ValueTree& t, const Value& v) {
  std::string_view b = BytesOf(t, v);
  if (v.kind == ValueKind::String8) return std::string(b);
  return Utf8Of16(reinterpret_cast<const uint8_t*>(b.data()), b.size() / 2);
}

}  // namespace

uint64_t ValueBudget(size_t size) {
  uint64_t budget = kValueBudgetBase + kValuesPerInputByte * uint64_t(size);
  return budget < kMaxValues ? budget : kMaxValues;
}

void AppendUtf8(uint32_t cp, std::string* out) {
  char bytes[4];
  out->append(bytes, size_t(PutUtf8(bytes, cp) - bytes));
}

size_t DecodeUtf8(const uint8_t* p, size_t n, uint32_t* cp) {
  uint8_t b = p[0];
  size_t len;
  uint32_t v, min;
  if (b < 0x80) {
    *cp = b;
    return 1;
  } else if (b >= 0xC2 && b < 0xE0) {
    len = 2, v = b & 0x1F, min = 0x80;
  } else if (b >= 0xE0 && b < 0xF0) {
    len = 3, v = b & 0x0F, min = 0x800;
  } else if (b >= 0xF0 && b < 0xF5) {
    len = 4, v = b & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (n < len) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
    v = v << 6 | (p[i] & 0x3F);
  }
  if (v < min || v > 0x10FFFF || (v >= 0xD800 && v < 0xE000)) return 0;
  *cp = v;
  return len;
}

bool TreeBuilder::Spend() {
  if (budget_ == 0) {
    overBudget_ = true;
    return false;
  }
  --budget_;
  return true;
}

bool TreeBuilder::Add(const Value& v) {
  if (!Spend()) return false;
  pending_.push_back(uint32_t(tree_->values.size()));
  tree_->values.push_back(v);
  return true;
}

bool TreeBuilder::Reuse(uint32_t index) {
  if (!Spend()) return false;
  pending_.push_back(index);
  return true;
}

namespace {

bool HasBytes(ValueKind k) {
  return k == ValueKind::String8 || k == ValueKind::String16 || k == ValueKind::Data;
}

uint64_t Mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  return h;
}

}  // namespace

uint64_t TreeBuilder::Hash(const Value& v) const {
  uint64_t h = uint64_t(v.kind) * 0x9E3779B97F4A7C15ull;
  if (!HasBytes(v.kind)) return Mix(h ^ Mix(v.at));
  const char* p = tree_->bytes.data() + v.at;
  uint64_t n = v.count;
  h ^= n;
  for (; n >= 8; n -= 8, p += 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    h = (h ^ w) * 0x100000001B3ull;
    h ^= h >> 29;
  }
  uint64_t w = 0;
  std::memcpy(&w, p, size_t(n));
  return Mix(h ^ w);
}

bool TreeBuilder::Equal(const Value& a, const Value& b) const {
  if (a.kind != b.kind) return false;
  if (!HasBytes(a.kind)) return a.at == b.at;
  return a.count == b.count &&
         std::memcmp(tree_->bytes.data() + a.at, tree_->bytes.data() + b.at, size_t(a.count)) == 0;
}

void TreeBuilder::Grow() {
  std::vector<std::pair<uint32_t, uint32_t>> slots(slots_.size() * 2, {kNoValue, 0});
  size_t mask = slots.size() - 1;
  // The tag keeps only the hash's high bits: the place is worked out again.
  for (const auto& slot : slots_) {
    if (slot.first == kNoValue) continue;
    size_t i = size_t(Hash(tree_->values[slot.first])) & mask;
    while (slots[i].first != kNoValue) i = (i + 1) & mask;
    slots[i] = slot;
  }
  slots_.swap(slots);
}

uint32_t TreeBuilder::Unique(uint32_t index) {
  const Value& v = tree_->values[index];
  uint64_t h = Hash(v);
  uint32_t tag = uint32_t(h >> 32);
  size_t mask = slots_.size() - 1;
  for (size_t i = size_t(h) & mask;; i = (i + 1) & mask) {
    auto& slot = slots_[i];
    if (slot.first == kNoValue) {
      slot = {index, tag};
      // Kept below seven tenths full, so probes stay short.
      if (++used_ * 10 > slots_.size() * 7) Grow();
      return index;
    }
    if (slot.second == tag && Equal(tree_->values[slot.first], v)) return slot.first;
  }
}

bool TreeBuilder::AddUnique(const Value& v) {
  if (!Spend()) return false;
  uint32_t index = uint32_t(tree_->values.size());
  tree_->values.push_back(v);
  uint32_t found = Unique(index);
  if (found != index) {
    // An equal scalar is there already: this one, and its bytes, go again.
    tree_->values.pop_back();
    if (HasBytes(v.kind)) tree_->bytes.resize(size_t(v.at));
  }
  pending_.push_back(found);
  return true;
}

bool TreeBuilder::Scalar(ValueKind kind, uint64_t bits) {
  Value v;
  v.kind = kind;
  v.at = bits;
  return AddUnique(v);
}

bool TreeBuilder::Bytes(ValueKind kind, std::string_view bytes) {
  Value v;
  v.kind = kind;
  v.at = tree_->bytes.size();
  v.count = bytes.size();
  tree_->bytes.append(bytes);
  return AddUnique(v);
}

bool TreeBuilder::Text(std::string_view utf8) {
  bool ascii = true;
  for (char ch : utf8) ascii &= uint8_t(ch) < 0x80;
  if (ascii) return Bytes(ValueKind::String8, utf8);
  // Big-endian UTF-16 from valid UTF-8.
  Value v;
  v.kind = ValueKind::String16;
  v.at = tree_->bytes.size();
  const uint8_t* p = reinterpret_cast<const uint8_t*>(utf8.data());
  size_t n = utf8.size();
  std::string& out = tree_->bytes;
  auto unit = [&](uint32_t u) {
    out.push_back(char(u >> 8));
    out.push_back(char(u & 0xFF));
  };
  for (size_t i = 0; i < n;) {
    uint32_t cp = 0;
    size_t len = DecodeUtf8(p + i, n - i, &cp);
    i += len ? len : 1;
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  v.count = out.size() - v.at;
  return AddUnique(v);
}

bool TreeBuilder::Key(std::string_view utf8) {
  size_t depth = open_.size();
  size_t place = Entries() / 2;
  if (place >= kKeyPlaces) return Text(utf8);
  if (recentKeys_.size() <= depth) recentKeys_.resize(depth + 1);
  std::vector<uint32_t>& recent = recentKeys_[depth];
  if (place < recent.size()) {
    // Text stores ASCII keys as String8, so equal bytes are the same key.
    const Value& v = tree_->values[recent[place]];
    if (v.kind == ValueKind::String8 && v.count == utf8.size() &&
        std::memcmp(tree_->bytes.data() + v.at, utf8.data(), utf8.size()) == 0)
      return Reuse(recent[place]);
  }
  if (!Text(utf8)) return false;
  if (recent.size() <= place) recent.resize(place + 1);
  recent[place] = Last();
  return true;
}

bool TreeBuilder::Open(ValueKind kind) {
  if (open_.size() >= kMaxValueDepth) {
    tooDeep_ = true;
    return false;
  }
  Value v;
  v.kind = kind;
  if (!Add(v)) return false;
  open_.emplace_back(pending_.back(), pending_.size());
  return true;
}

bool TreeBuilder::Close(std::string* duplicate) {
  auto [index, start] = open_.back();
  open_.pop_back();
  Value& v = tree_->values[index];
  v.at = tree_->kids.size();
  v.count = pending_.size() - start;
  tree_->kids.insert(tree_->kids.end(), pending_.begin() + std::ptrdiff_t(start), pending_.end());
  pending_.resize(start);
  if (!checkKeys_ || v.kind != ValueKind::Dict || v.count < 4) return true;
  // Equal keys are one value: sorted, a duplicate sits beside its twin.
  const ValueTree& t = *tree_;
  std::vector<uint32_t> keys;
  keys.reserve(size_t(v.count / 2));
  for (uint64_t i = 0; i < v.count; i += 2) keys.push_back(t.kids[size_t(v.at + i)]);
  std::sort(keys.begin(), keys.end());
  for (size_t i = 1; i < keys.size(); ++i) {
    if (keys[i - 1] == keys[i]) {
      *duplicate = KeyText(t, t.values[keys[i]]);
      return false;
    }
  }
  return true;
}

void TreeBuilder::CloseAsUid(uint64_t uid) {
  size_t start = open_.back().second;
  uint32_t index = open_.back().first;
  open_.pop_back();
  pending_.resize(start);
  Value& v = tree_->values[index];
  v.kind = ValueKind::Uid;
  v.at = uid;
  v.count = 0;
  // The dictionary is the value just added to its container: an equal UID
  // made before takes its place.
  pending_.back() = Unique(index);
}

PlistFormat FormatOfContent(const uint8_t* data, size_t size) {
  if (size >= kSignatureSize && std::memcmp(data, kSignature, kSignatureSize) == 0)
    return PlistFormat::Binary;
  size_t i = 0;
  if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) i = 3;
  // A UTF-16 byte-order mark: only XML may be UTF-16.
  if (size >= 2 && ((data[0] == 0xFE && data[1] == 0xFF) || (data[0] == 0xFF && data[1] == 0xFE)))
    return PlistFormat::Xml;
  while (i < size && (data[i] == ' ' || data[i] == '\t' || data[i] == '\n' || data[i] == '\r')) ++i;
  if (i == size) return PlistFormat::None;
  uint8_t first = data[i];
  if (first == '<') return PlistFormat::Xml;
  if (std::strchr("{[\"-0123456789tfn", first) != nullptr && first != 0) return PlistFormat::Json;
  return PlistFormat::None;
}

ReadResult ReadAnyPlist(const uint8_t* data, size_t size, ValueTree* tree) {
  switch (FormatOfContent(data, size)) {
    case PlistFormat::Binary:
      return ReadBinaryPlist(data, size, tree);
    case PlistFormat::Xml:
      return ReadXmlPlist(data, size, tree);
    case PlistFormat::Json:
      return ReadJsonPlist(data, size, tree);
    case PlistFormat::None:
      break;
  }
  ReadResult none;
  none.notPlist = true;
  return none;
}

bool SortDictionaries(ValueTree* tree, uint64_t textBudget) {
  ValueTree& t = *tree;
  uint64_t textBytes = 0;
  for (const Value& v : t.values) {
    if (v.kind != ValueKind::Dict) continue;
    for (uint64_t i = 0; i < v.count; i += 2) textBytes += t.values[t.kids[size_t(v.at + i)]].count;
    if (textBytes > textBudget) return false;
  }
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(t.bytes.data());
  std::vector<SortEntry> entries;
  std::vector<uint32_t> scratch;
  SortMemo memo;
  for (const Value& v : t.values) {
    if (v.kind != ValueKind::Dict || v.count < 4) continue;
    uint32_t* kids = t.kids.data() + v.at;
    size_t n = size_t(v.count / 2);
    auto keyAt = [&](size_t i) { return uint64_t(kids[2 * i]); };
    if (!memo.Same(n, keyAt)) {
      memo.Remember(n, keyAt);
      entries.resize(n);
      for (size_t i = 0; i < n; ++i) {
        SortEntry& e = entries[i];
        const Value& key = t.values[kids[2 * i]];
        e.index = uint32_t(i);
        // Keys are strings: the readers refuse any other.
        SetKeyText(&e, bytes + key.at, key.kind == ValueKind::String16 ? key.count / 2 : key.count,
                   key.kind == ValueKind::String16);
      }
      SortOrder(entries, &memo.order);
    }
    if (!memo.order.empty()) PutInOrder(kids, n, memo.order, &scratch);
  }
  return true;
}

BinaryResult ConvertToBinary(const uint8_t* data, size_t size, OutputBuffer& out, bool sorted,
                             const Limits& limits) {
  BinaryResult r;
  ValueTree tree;
  // Room for what a text of this size is likely to hold, so the tree does
  // not grow by copying; pages not used are never touched.
  size_t expected =
      size / kTextBytesPerValue < kMostReserved ? size / kTextBytesPerValue : kMostReserved;
  tree.values.reserve(expected);
  tree.kids.reserve(expected);
  ReadResult read = ReadAnyPlist(data, size, &tree);
  if (!read.ok) {
    r.notPlist = read.notPlist;
    r.result.outcome = read.tooLarge ? Outcome::TooLarge : Outcome::Damaged;
    r.result.reason = read.reason;
    return r;
  }
  // Comparing keys costs at most what writing each entry's key would:
  // past the work budget of the other verbs the file is too large.
  uint64_t budget = limits.BudgetBase + limits.BudgetPerInputByte * uint64_t(size);
  if (sorted && !SortDictionaries(&tree, budget)) {
    r.result.outcome = Outcome::TooLarge;
    r.result.reason = "its keys, one text for each entry, pass the limit of " +
                      std::to_string(budget >> 20) + " MiB to sort";
    return r;
  }
  WriteBinary(tree, out);
  r.result.outcome = Outcome::Converted;
  return r;
}

}  // namespace bplist
