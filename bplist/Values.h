// The value tree the property-list readers build and the binary writer
// writes: XML, JSON and binary property lists all become one ValueTree, and
// WriteBinary lays it out as a binary plist (bplist00).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "bplist/Convert.h"
#include "bplist/OutputBuffer.h"

namespace bplist {

// The kinds of value. Each kind is written with its own marker, and two
// values are one object in the binary file only when kind and payload are
// equal bit for bit.
enum class ValueKind : uint8_t {
  Dict,      // entries in Kids: key, value, key, value...
  Array,     // elements in Kids
  String8,   // Bytes: 8-bit characters (ASCII from a text input)
  String16,  // Bytes: big-endian UTF-16 code units, at least one not ASCII
  Data,      // Bytes
  Int,       // Bits: a signed 64-bit integer
  BigInt,    // Bits: an unsigned integer above 2^63 - 1, written in 16 bytes
  Real32,    // Bits: the low 32 bits hold a 4-byte IEEE real
  Real64,    // Bits: an 8-byte IEEE real
  Date,      // Bits: an 8-byte IEEE real, seconds since 2001-01-01T00:00:00Z
  True,
  False,
  Uid,  // Bits: the UID's value
};

// One value. For containers `at` is the first entry's place in Kids and
// `count` the number of places it takes; for strings and data `at` is the
// first byte's place in Bytes and `count` the byte length; for numbers, dates
// and UIDs `at` holds the bits.
struct Value {
  uint64_t at = 0;
  uint64_t count : 56;
  ValueKind kind : 8;
  Value() : count(0), kind(ValueKind::False) {}
};

// A whole property list. Values refer to each other by their index in
// `values`, which stays below kMaxValues. Scalars are unique: two equal in
// kind and every bit are one value, referred to twice.
struct ValueTree {
  std::vector<Value> values;
  std::vector<uint32_t> kids;
  std::string bytes;
  uint32_t root = 0;
};

// The deepest nesting of containers a reader takes; deeper documents are
// refused. It bounds the readers' stacks and matches the binary reader's
// bound, so whatever -b writes -c can read.
constexpr unsigned kMaxValueDepth = 512;
// Indices are 32-bit: no document holds more values than this.
constexpr uint64_t kMaxValues = 0xFFFFFFF0u;

// How a reader ended.
struct ReadResult {
  bool ok = false;
  bool notPlist = false;  // the input is none of the three formats
  bool tooLarge = false;  // sound, but past the budget; `reason` says how
  std::string reason;     // why it is damaged or too large
};

// The most values a document read from `size` input bytes may hold. A text
// document cannot hold more than one value per two bytes; a binary plist's
// shared containers are written out once per reference, so this budget is
// what keeps a small file from becoming a huge one.
uint64_t ValueBudget(size_t size);

// Readers: each fills `tree` from data[0, size), never reading outside it,
// and returns why it failed. The XML and JSON readers give the line and
// column of a fault in the reason.
ReadResult ReadXmlPlist(const uint8_t* data, size_t size, ValueTree* tree);
ReadResult ReadJsonPlist(const uint8_t* data, size_t size, ValueTree* tree);
ReadResult ReadBinaryPlist(const uint8_t* data, size_t size, ValueTree* tree);
// The format of a property list, as its first bytes tell it.
enum class PlistFormat { None, Binary, Xml, Json };
// Tells the format by the content: "bplist" first is binary, '<' first
// (after a byte-order mark and white space) or a UTF-16 byte-order mark
// XML, a JSON value's first character JSON; anything else is not a
// property list.
PlistFormat FormatOfContent(const uint8_t* data, size_t size);
// Picks the reader by FormatOfContent.
ReadResult ReadAnyPlist(const uint8_t* data, size_t size, ValueTree* tree);

// Puts the entries of every dictionary of `tree` in the order of their
// keys' texts as UTF-16 code units, equal texts in the order read (see
// KeyOrder.h). Returns false, with the tree as it was, when the key texts,
// counted once for each entry, pass `textBudget` bytes.
bool SortDictionaries(ValueTree* tree, uint64_t textBudget);

// Writes `tree` to `out` as a binary plist in Apple's layout: objects
// numbered in pre-order (a dictionary's keys, then its values), strings,
// data, numbers and dates that are equal bit for bit stored once,
// references and offsets in the fewest bytes that hold them, the trailer.
void WriteBinary(const ValueTree& tree, OutputBuffer& out);

// The result of ConvertToBinary: a ConvertResult, and whether the input is
// no property list at all.
struct BinaryResult {
  ConvertResult result;
  bool notPlist = false;
};

// Reads the property list data[0, size) in any of the three formats and
// writes it to `out` as a binary plist; with `sorted`, each dictionary's
// entries in the order of their keys, within the work budget of `limits`.
BinaryResult ConvertToBinary(const uint8_t* data, size_t size, OutputBuffer& out,
                             bool sorted = false, const Limits& limits = Limits());

// Building a tree in document order, for the readers: Open a container, add
// its entries (containers nested inside as they come), Close it.
class TreeBuilder {
 public:
  // With `checkKeys`, Close refuses a dictionary whose keys repeat.
  TreeBuilder(ValueTree* tree, uint64_t budget, bool checkKeys)
      : tree_(tree), slots_(1024, {kNoValue, 0}), budget_(budget), checkKeys_(checkKeys) {}

  // Adds a scalar value and returns false when the budget is spent.
  bool Scalar(ValueKind kind, uint64_t bits);
  // Adds a string, stored as String8 when ASCII, else as String16, from
  // its valid UTF-8 text.
  bool Text(std::string_view utf8);
  // Adds a value of a kind stored in Bytes, the bytes as they are.
  bool Bytes(ValueKind kind, std::string_view bytes);
  // Adds a dictionary key, as Text does. A key equal to the one at the same
  // place of the last dictionary read at this depth is found without the
  // index of distinct scalars: records mostly repeat their keys.
  bool Key(std::string_view utf8);
  // Adds the value at `index` again, as another reference to it.
  bool Reuse(uint32_t index);
  // The index of the value added last.
  uint32_t Last() const { return pending_.back(); }
  // Opens a container; false when nested past kMaxValueDepth or the budget.
  bool Open(ValueKind kind);
  // Closes the innermost container. A dictionary with a duplicate key is
  // refused (false, with the key in *duplicate).
  bool Close(std::string* duplicate);
  // Turns the innermost open dictionary, which holds one entry, into a UID
  // of value `uid`, as if that had been added instead.
  void CloseAsUid(uint64_t uid);
  // Open containers.
  size_t Depth() const { return open_.size(); }
  // Entries of the innermost open container so far.
  size_t Entries() const { return pending_.size() - open_.back().second; }
  // The value the innermost open container holds at `entry`.
  const Value& Entry(size_t entry) const {
    return tree_->values[pending_[open_.back().second + entry]];
  }
  // The bytes of that value, for a string or data.
  std::string_view EntryBytes(size_t entry) const {
    const Value& v = Entry(entry);
    if (v.kind != ValueKind::String8 && v.kind != ValueKind::String16 && v.kind != ValueKind::Data)
      return {};
    return std::string_view(tree_->bytes).substr(size_t(v.at), size_t(v.count));
  }
  bool OverBudget() const { return overBudget_; }
  bool TooDeep() const { return tooDeep_; }
  // Ends the document: the one value added outside every container.
  void Finish() { tree_->root = pending_.empty() ? 0 : pending_[0]; }

 private:
  bool Add(const Value& v);
  // Adds the scalar `v` (its bytes, if any, already at the end of Bytes),
  // or refers again to an equal one added before.
  bool AddUnique(const Value& v);
  // The index of a scalar equal to values[index], or `index` after
  // recording it as the first of its kind and bits.
  uint32_t Unique(uint32_t index);
  uint64_t Hash(const Value& v) const;
  bool Equal(const Value& a, const Value& b) const;
  void Grow();
  bool Spend();
  ValueTree* tree_;
  // The index of distinct scalars: open addressing, each slot a value index
  // (kNoValue when empty) and 32 bits of its hash.
  static constexpr uint32_t kNoValue = 0xFFFFFFFFu;
  std::vector<std::pair<uint32_t, uint32_t>> slots_;
  size_t used_ = 0;
  uint64_t budget_;
  bool checkKeys_;
  // Values added and not yet given to their container, and for each open
  // container its value and where its entries start in pending_.
  std::vector<uint32_t> pending_;
  std::vector<std::pair<uint32_t, size_t>> open_;
  bool overBudget_ = false;
  bool tooDeep_ = false;
  // For each depth, the keys of the first kKeyPlaces places of the last
  // dictionaries read there.
  static constexpr size_t kKeyPlaces = 64;
  std::vector<std::vector<uint32_t>> recentKeys_;
};

// Appends the UTF-8 form of code point `cp` to `out`.
void AppendUtf8(uint32_t cp, std::string* out);
// Decodes one UTF-8 sequence at p (n bytes available). Returns its length,
// with the code point in *cp, or 0 when it is not valid UTF-8 (overlong,
// a surrogate, above U+10FFFF or cut short).
size_t DecodeUtf8(const uint8_t* p, size_t n, uint32_t* cp);

// Texts of scalars, shared by the XML and JSON readers. Each returns "" with
// the value set, or why the text is refused. An integer is decimal with an
// optional sign (and, with `hex`, 0x and hexadecimal digits), from -2^63 to
// 2^64 - 1; a real is decimal with an optional exponent, correctly rounded,
// and with `words` also inf, infinity and nan with an optional sign, in any
// case; a date is YYYY-MM-DDTHH:MM:SSZ with four digits or more in the year
// and a minus sign before year 0.
std::string IntegerFromText(std::string_view s, bool hex, ValueKind* kind, uint64_t* bits);
std::string RealFromText(std::string_view s, bool words, uint64_t* bits);
std::string DateFromText(std::string_view s, uint64_t* bits);
// " at line L, column C" for byte `at` of the UTF-8 text data, columns
// counted in characters from 1.
std::string LineAndColumn(const uint8_t* data, size_t at);
// What a text reader's run gives: with `ok`, the tree b has built, finished;
// else `error` at byte errorAt of `text` with its line and column, and
// whether b's budget was what ran out.
ReadResult TextResult(bool ok, TreeBuilder& b, const std::string& error, const uint8_t* text,
                      size_t errorAt);

}  // namespace bplist
