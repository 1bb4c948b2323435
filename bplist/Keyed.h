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
  Dictionary,      // NSDictionary, NSMutableDictionary
  Array,           // NSArray, NSSet, NSOrderedSet and their mutable kinds
  String,          // NSString, NSMutableString
  Date,            // NSDate
  Data,            // NSData, NSMutableData
  Uuid,            // NSUUID
  Url,             // NSURL
  Attributed,      // NSAttributedString, NSMutableAttributedString
  Null,            // NSNull
  Value,           // NSValue holding a range, point, size or rectangle
  IndexSet,        // NSIndexSet, NSMutableIndexSet
  CountedSet,      // NSCountedSet
  TimeZone,        // NSTimeZone
  Locale,          // NSLocale
  DateComponents,  // NSDateComponents
  Measurement,     // NSMeasurement
  Color,           // NSColor
  Font,            // NSFont
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

// How far an archived object that becomes a dictionary has been written.
enum class Shown : uint8_t {
  No,
  Muted,  // only inside a part left out of the document
  Yes,    // in full: later appearances are its plain UID
};

// One archive being written.
struct Archive {
  uint64_t objects = 0;  // position of $objects' first reference
  uint64_t count = 0;    // $objects' number of entries
  // What each $objects entry stands for, found when first needed.
  std::vector<Stands> stands;
  // The UIDs naming each $objects entry, $class values aside, counted up
  // to two: an object named more than once carries its number.
  std::vector<uint8_t> named;
  std::vector<Shown> shown;
  // The entry a UID has led to, while its dictionary is about to be
  // written, and the entry whose "$uid" the next dictionary opened writes.
  uint64_t entering = ~uint64_t(0);
  uint64_t identity = ~uint64_t(0);
  // The string object "$class" last met as a key: archivers keep one.
  uint64_t classKey = ~uint64_t(0);
  // Class records by $objects index.
  std::unordered_map<uint64_t, ClassRecord> classes;
};

}  // namespace bplist
