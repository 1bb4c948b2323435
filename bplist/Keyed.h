// Keyed archives (NSKeyedArchiver): the state of one archive being written
// as the object graph it encodes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "bplist/Context.h"

namespace bplist {

// The archived classes written as plain values; any other is written as a
// dictionary of its fields plus "$class".
enum class ArchivedClass : uint8_t {
  Other,
  Dictionary,  // NSDictionary, NSMutableDictionary
  Array,       // NSArray, NSSet, NSOrderedSet and their mutable kinds
  String,      // NSString, NSMutableString
  Date,        // NSDate
  Data,        // NSData, NSMutableData
  Uuid,        // NSUUID
  Url,         // NSURL
  Attributed,  // NSAttributedString, NSMutableAttributedString
  Null,        // NSNull
};

// A class record, read once per archive.
struct ClassRecord {
  bool named = false;  // false: the record is missing or has no usable $classname
  ArchivedClass kind = ArchivedClass::Other;
  std::string name;  // UTF-8
};

// What a reference stands for where a value goes, once a UID is followed:
// a value, null ($null, an NSNull or a null object) or a fill object, which
// writes nothing.
enum class Stands : uint8_t {
  Unknown,  // not looked at yet
  Value,
  Null,
  Fill,
};

// One archive being written.
struct Archive {
  uint64_t objects = 0;  // position of $objects' first reference
  uint64_t count = 0;    // $objects' number of entries
  unsigned level = 0;    // archives this one is nested in (inside data)
  // What each $objects entry stands for, found when first needed.
  std::vector<Stands> stands;
  // Class records by $objects index.
  std::unordered_map<uint64_t, ClassRecord> classes;
};

}  // namespace bplist
