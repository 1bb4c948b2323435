// Keyed archives under -k: generated archives of every class written as a
// plain value, loops, damage inside the archive, nested archives and the
// work budget; and every other file converted exactly as -c converts it.
// The expected documents are written out by hand.
#include "bplist/Keyed.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "PlistBuilder.h"
#include "TestUtil.h"
#include "bplist/Url.h"
#include "fuzz/FuzzLimits.h"

namespace {

using bplist::Outcome;
using testplist::Bytes;
using testplist::PlistBuilder;
using Fields = std::vector<std::pair<std::string, uint64_t>>;

// A keyed archive under construction; $objects[0] is "$null".
struct ArchiveBuilder {
  PlistBuilder b;
  std::vector<uint64_t> objects;
  std::string archiver = "NSKeyedArchiver";
  ArchiveBuilder() {
    b.refSize = 2;
    b.offsetSize = 4;
    objects.push_back(b.Str("$null"));
  }
  // Puts object o in $objects and returns a UID naming it.
  uint64_t Ref(uint64_t o) {
    objects.push_back(o);
    uint64_t n = objects.size() - 1;
    return b.Uid(n, n < 0x100 ? 1 : n < 0x10000 ? 2 : 4);
  }
  uint64_t Null() { return b.Uid(0); }
  uint64_t Str(const std::string& s) { return Ref(b.Str(s)); }
  uint64_t Class(const std::string& name) {
    return Ref(b.Dict({{b.Str("$classname"), b.Str(name)},
                       {b.Str("$classes"), b.Array({b.Str(name), b.Str("NSObject")})}}));
  }
  // An object of class `name` (or with `classRef` as its $class) and fields.
  uint64_t Object(const std::string& name, const Fields& fields, uint64_t classRef = ~0ull) {
    return Ref(Instance(name, fields, classRef));
  }
  uint64_t Instance(const std::string& name, const Fields& fields, uint64_t classRef = ~0ull) {
    std::vector<std::pair<uint64_t, uint64_t>> pairs;
    for (const auto& [key, value] : fields) pairs.push_back({b.Str(key), value});
    pairs.push_back({b.Str("$class"), classRef == ~0ull ? Class(name) : classRef});
    return b.Dict(pairs);
  }
  // The file, with $top holding `top`.
  Bytes Build(const Fields& top) {
    std::vector<std::pair<uint64_t, uint64_t>> pairs;
    for (const auto& [key, value] : top) pairs.push_back({b.Str(key), value});
    uint64_t topDict = b.Dict(pairs);
    b.top = b.Dict({{b.Str("$version"), b.Int(100000)},
                    {b.Str("$archiver"), b.Str(archiver)},
                    {b.Str("$top"), topDict},
                    {b.Str("$objects"), b.Array(objects)}});
    return b.Build();
  }
  Bytes Build(uint64_t root) { return Build({{"root", root}}); }
};

// The body of a document with every line's indentation taken off.
std::string Flat(const std::string& xml) {
  std::string body = xml.substr(std::string(testplist::kPrologue).size()), out;
  for (size_t at = 0, end; (end = body.find("\r\n", at)) != std::string::npos; at = end + 2)
    out += body.substr(body.find_first_not_of(' ', at), end - body.find_first_not_of(' ', at));
  return out.substr(0, out.size() - std::string("</plist>").size());
}

testutil::MemoryResult Unarchive(const Bytes& file, const bplist::Limits& limits = bplist::Limits(),
                                 bplist::OutputFormat format = bplist::OutputFormat::Xml) {
  return testutil::ConvertWith(file, bplist::Parallelism(), limits, format, true);
}

// An archive whose root is an object of class `name` with `fields`.
Bytes One(const std::string& name, std::function<Fields(ArchiveBuilder&)> fields) {
  ArchiveBuilder a;
  Fields f = fields(a);
  return a.Build(a.Object(name, f));
}

Bytes NestedIn(const Bytes& inner) {
  return One("NSData", [&](ArchiveBuilder& a) { return Fields{{"NS.data", a.b.Data(inner)}}; });
}

struct Case {
  const char* name;
  Bytes file;
  // The expected body, unindented; "..." at its end matches any rest, and
  // "=" alone asks for exactly the document of -c.
  std::string flat;
  // The JSON document on one line, where checked.
  std::string json = "";
};

std::vector<Case> Cases() {
  const Bytes hello = One("NSString", [](auto& a) { return Fields{{"NS.string", a.Str("hi")}}; });
  ArchiveBuilder parent;                                  // a parent whose child points back at it
  uint64_t parentDict = parent.b.Dict({{0, 0}, {0, 0}});  // entries set below
  uint64_t parentUid = parent.Ref(parentDict);
  uint64_t child = parent.Object("Node", {{"parent", parentUid}});
  parent.b.SetRefs(parentDict,
                   {parent.b.Str("child"), parent.b.Str("$class"), child, parent.Class("Node")});
  ArchiveBuilder self;                        // an array holding itself
  uint64_t selfArray = self.b.Array({0, 0});  // elements set below
  uint64_t selfDict = self.Instance("NSMutableArray", {{"NS.objects", selfArray}});
  uint64_t selfUid = self.Ref(selfDict);
  self.b.SetRefs(selfArray, {selfUid, self.b.Int(1)});
  PlistBuilder plain;
  plain.top = plain.Dict({{plain.Str("$archiver"), plain.Str("NSKeyedArchiver")}});
  Bytes plainFile = plain.Build();
  PlistBuilder dataOfPlain;  // data holding a plain file, and data that only starts like one
  dataOfPlain.top = dataOfPlain.Array(
      {dataOfPlain.Data(plainFile), dataOfPlain.Data({'b', 'p', 'l', 'i', 's', 't', '0', '0'})});
  // An NSDictionary keyed by booleans, a URL, a date, an object of another
  // class and an array stored in place, and the key text of each.
  ArchiveBuilder keys;
  std::vector<std::pair<uint64_t, std::string>> keyed = {
      {keys.Ref(keys.b.Bool(true)), "true"},
      {keys.b.Bool(false), "false"},
      {keys.Object("NSURL", {{"NS.base", keys.Null()}, {"NS.relative", keys.Str("file:///a.c")}}),
       "file:///a.c"},
      {keys.Object("NSDate", {{"NS.time", keys.b.Real(86400.5)}}), "2001-01-02T00:00:00Z"},
      {keys.Object("Thing", {}), std::to_string(keys.objects.size() - 1)},
  };
  uint64_t rawArray = keys.b.Array({});
  keyed.push_back({rawArray, "array " + std::to_string(rawArray)});
  std::string keysXml, keysJson;
  std::vector<uint64_t> keyRefs;
  for (const auto& [ref, text] : keyed) {
    keysXml += "<key>" + text + "</key><true/>";
    keysJson += (keysJson.empty() ? "\"" : ",\"") + text + "\": true";
    keyRefs.push_back(ref);
  }
  uint64_t keysRoot = keys.Object(
      "NSDictionary", {{"NS.keys", keys.b.Array(keyRefs)},
                       {"NS.objects", keys.b.Array(std::vector<uint64_t>(6, keys.b.Bool(true)))}});
  return {
      {"Dictionary",
       One("NSMutableDictionary",
           [](auto& a) {
             return Fields{{"NS.keys", a.b.Array({a.Str("a"), a.Str("gone"), a.Str("c")})},
                           {"NS.objects", a.b.Array({a.Ref(a.b.Int(1)), a.Null(), a.Str("x")})}};
           }),
       "<dict><key>a</key><integer>1</integer><key>c</key><string>x</string></dict>",
       R"({"a": 1,"gone": null,"c": "x"})"},
      {"DictionaryOfUnequalLengths",
       One("NSDictionary",
           [](auto& a) {
             return Fields{{"NS.keys", a.b.Array({a.Str("a")})}, {"NS.objects", a.b.Array({})}};
           }),
       "<dict><key>NS.keys</key><array><string>a</string></array><key>NS.objects</key><array>"
       "</array><key>$class</key><string>NSDictionary</string></dict>"},
      {"ArrayAndSet",
       One("NSArray",
           [](auto& a) {
             uint64_t set = a.Object("NSSet", {{"NS.objects", a.b.Array({a.Str("s")})}});
             return Fields{{"NS.objects", a.b.Array({a.Null(), set, a.Ref(a.b.Bool(true))})}};
           }),
       "<array><array><string>s</string></array><true/></array>"},
      {"OrderedSetNumbered",
       One("NSOrderedSet",
           [](auto& a) {
             return Fields{{"NS.object.1", a.Str("second")}, {"NS.object.0", a.Str("first")}};
           }),
       "<array><string>first</string><string>second</string></array>"},
      {"StringFromBytes",
       One("NSMutableString",
           [](auto& a) {
             return Fields{{"NS.bytes", a.b.Data({0xC3, 0xA9, '<'})}};
           }),
       "<string>\xC3\xA9&lt;</string>"},
      {"Date",
       One("NSDate",
           [](auto& a) {
             return Fields{{"NS.time", a.b.Real(86400.5)}};
           }),
       "<date>2001-01-02T00:00:00Z</date>"},
      {"DateOutOfRange",
       One("NSDate",
           [](auto& a) {
             return Fields{{"NS.time", a.b.Real(1e20)}};
           }),
       "<dict><key>NS.time</key><real>1" + std::string(20, '0') +
           ".</real><key>$class</key><string>NSDate</string></dict>"},
      {"Data",
       One("NSData",
           [](auto& a) {
             return Fields{{"NS.data", a.b.Data({'a', 'b'})}};
           }),
       "<data>YWI=</data>"},
      {"ArchiveInData", NestedIn(hello), "<string>hi</string>"},
      {"PlainFileInData", NestedIn(plain.Build()),
       "<dict><key>$archiver</key><string>NSKeyedArchiver</string></dict>"},
      {"PlainFileInDataOfAPlainFile", dataOfPlain.Build(),
       "<array><dict><key>$archiver</key><string>NSKeyedArchiver</string></dict><data>YnBsaXN0"
       "MDA=</data></array>"},
      {"DamagedArchiveInData", NestedIn(Bytes(hello.begin(), hello.end() - 9)),
       "<data>YnBsaXN0..."},
      {"Uuid",
       One("NSUUID",
           [](auto& a) {
             Bytes u;
             for (int i = 0; i < 16; ++i) u.push_back(uint8_t(i * 17));
             return Fields{{"NS.uuidbytes", a.b.Data(u)}};
           }),
       "<string>00112233-4455-6677-8899-AABBCCDDEEFF</string>"},
      {"UrlWithBase",
       One("NSURL",
           [](auto& a) {
             uint64_t base = a.Object(
                 "NSURL", {{"NS.base", a.Null()}, {"NS.relative", a.Str("http://a/b/c/d;p?q")}});
             return Fields{{"NS.base", base}, {"NS.relative", a.Str("../g")}};
           }),
       "<string>http://a/b/g</string>"},
      {"AttributedString",
       One("NSAttributedString",
           [](auto& a) {
             uint64_t s = a.Object("NSString", {{"NS.string", a.Str("t")}});
             return Fields{{"NSString", s}, {"NSAttributes", a.Null()}};
           }),
       "<string>t</string>"},
      {"NullFieldsLeftOut",
       One("Thing",
           [](auto& a) {
             return Fields{{"none", a.Object("NSNull", {})}, {"n", a.Null()}, {"v", a.b.Int(2)}};
           }),
       "<dict><key>v</key><integer>2</integer><key>$class</key><string>Thing</string></dict>",
       R"({"none": null,"n": null,"v": 2,"$class": "Thing"})"},
      {"NullInPlaceOfAnEntry",
       [] {
         ArchiveBuilder a;
         return a.Build(a.Object("Z", {{"n", a.Instance("NSNull", {})}}));
       }(),
       "<dict><key>n</key><dict><key>$class</key><string>NSNull</string></dict><key>$class</key>"
       "<string>Z</string></dict>"},
      // A shared object is written in full once, carrying its number, and
      // named by its UID after that; shared arrays and strings are repeated.
      {"SharedObjectsOnce",
       One("NSArray",
           [](auto& a) {
             uint64_t thing = a.Object("Thing", {{"v", a.b.Int(1)}});
             uint64_t dict =
                 a.Object("NSDictionary", {{"NS.keys", a.b.Array({a.Str("k")})},
                                           {"NS.objects", a.b.Array({a.Ref(a.b.Int(2))})}});
             uint64_t list = a.Object("NSArray", {{"NS.objects", a.b.Array({a.Str("s")})}});
             return Fields{{"NS.objects", a.b.Array({thing, thing, dict, dict, list, list})}};
           }),
       "<array><dict><key>$uid</key><integer>2</integer><key>v</key><integer>1</integer><key>"
       "$class</key><string>Thing</string></dict><dict><key>CF$UID</key><integer>2</integer>"
       "</dict><dict><key>$uid</key><integer>6</integer><key>k</key><integer>2</integer></dict>"
       "<dict><key>CF$UID</key><integer>6</integer></dict><array><string>s</string></array>"
       "<array><string>s</string></array></array>",
       R"([{"$uid": 2,"v": 1,"$class": "Thing"},{"CF$UID": 2},{"$uid": 6,"k": 2},{"CF$UID": 6},)"
       R"(["s"],["s"]])"},
      {"ParentPointer", parent.Build(parentUid),
       "<dict><key>$uid</key><integer>1</integer><key>child</key><dict><key>parent</"
       "key><dict><key>CF$UID</key><integer>1"
       "</integer></dict><key>$class</key><string>Node</string></dict><key>$class</key>"
       "<string>Node</string></dict>",
       R"({"$uid": 1,"child": {"parent": {"CF$UID": 1},"$class": "Node"},"$class": "Node"})"},
      {"ContainsItself", self.Build(selfUid),
       "<array><dict><key>CF$UID</key><integer>2</integer></dict><integer>1</integer></array>"},
      {"MissingClassRecord",
       [] {
         ArchiveBuilder a;
         uint64_t odd = a.Object("", {{"f", a.b.Int(1)}}, a.Ref(a.b.Dict({})));
         return a.Build(a.Object("", {{"odd", odd}}, a.b.Uid(77)));
       }(),
       "<dict><key>odd</key><dict><key>f</key><integer>1</integer><key>$class</key><dict><key>"
       "CF$UID</key><integer>1</integer></dict></dict><key>$class</key><dict><key>CF$UID</key>"
       "<integer>77</integer></dict></dict>"},
      {"UidPastObjects",
       One("Y",
           [](auto& a) {
             return Fields{{"f", a.b.Uid(99)}};
           }),
       "<dict><key>f</key><dict><key>CF$UID</key><integer>99</integer></dict><key>$class</key>"
       "<string>Y</string></dict>"},
      {"TopOfSeveralKeys",
       [] {
         ArchiveBuilder a;
         return a.Build({{"one", a.Str("1")}, {"two", a.Null()}});
       }(),
       "<dict><key>one</key><string>1</string></dict>"},
      {"NotAnArchive", plain.Build(),
       "<dict><key>$archiver</key><string>NSKeyedArchiver</string></dict>"},
      // Regression: a null text field was read as the text "$null".
      {"NullTextIsNoText",
       One("NSURL",
           [](auto& a) {
             return Fields{{"NS.relative", a.Null()}, {"NS.base", a.Null()}};
           }),
       "<dict><key>$class</key><string>NSURL</string></dict>"},
      {"NullRoot",
       [] {
         ArchiveBuilder a;
         return a.Build(a.Null());
       }(),
       "="},
      // Null (0x00) and fill (0x0F) objects, in place and through UIDs.
      {"NullAndFillFields",
       One("Thing",
           [](auto& a) {
             return Fields{{"f", a.Ref(a.b.Raw({0x00}))},
                           {"g", a.Ref(a.b.Raw({0x0F}))},
                           {"h", a.b.Raw({0x0F})},
                           {"v", a.b.Int(2)}};
           }),
       "<dict><key>v</key><integer>2</integer><key>$class</key><string>Thing</string></dict>",
       R"({"f": null,"v": 2,"$class": "Thing"})"},
      {"NullAndFillInDictionary",
       One("NSDictionary",
           [](auto& a) {
             uint64_t null = a.b.Raw({0x00}), fill = a.b.Raw({0x0F});
             return Fields{
                 {"NS.keys", a.b.Array({a.Ref(null), fill, a.Str("a"), a.Str("b"), a.Str("c")})},
                 {"NS.objects",
                  a.b.Array({a.Str("x"), a.Str("x"), a.Ref(fill), null, a.Ref(a.b.Int(1))})}};
           }),
       "<dict><key>c</key><integer>1</integer></dict>", R"({"b": null,"c": 1})"},
      {"FillObjectRoot",
       [] {
         ArchiveBuilder a;
         return a.Build(a.Ref(a.b.Raw({0x0F})));
       }(),
       "="},
      {"KeysAreAlwaysTexts", keys.Build(keysRoot), "<dict>" + keysXml + "</dict>",
       "{" + keysJson + "}"},
      // The classes analysts meet, as plain values.
      {"ValueRectAndRange",
       One("NSArray",
           [](auto& a) {
             uint64_t rect =
                 a.Object("NSValue", {{"NS.rectval", a.Str("{{1.5, -2}, {640, 4e2}}")}});
             uint64_t range = a.Object("NSValue", {{"NS.rangeval.location", a.b.Int(5)},
                                                   {"NS.rangeval.length", a.b.Int(2)}});
             return Fields{{"NS.objects", a.b.Array({rect, range})}};
           }),
       "<array><dict><key>x</key><real>1.5</real><key>y</key><real>-2.</real><key>width</key><real>"
       "640.</real><key>height</key><real>400.</real></dict><dict><key>location</key><integer>5"
       "</integer><key>length</key><integer>2</integer></dict></array>",
       R"([{"x": 1.5,"y": -2.0,"width": 640.0,"height": 400.0},{"location": 5,"length": 2}])"},
      {"IndexSetRunsAndRanges",
       One("NSMutableIndexSet",
           [](auto& a) {
             return Fields{{"NSRangeCount", a.b.Int(3)},
                           {"NSRangeData", a.b.Data({1, 2, 200, 1, 10, 0x80, 0x80, 1, 1})}};
           }),
       "", R"([1,2,{"location": 200,"length": 10},16384])"},
      {"CountedSet",
       One("NSCountedSet",
           [](auto& a) {
             return Fields{{"NS.count", a.b.Int(2)},
                           {"NS.object1", a.Str("b")},
                           {"NS.count1", a.b.Int(1)},
                           {"NS.object0", a.Str("a")},
                           {"NS.count0", a.b.Int(3)}};
           }),
       "", R"([{"object": "a","count": 3},{"object": "b","count": 1}])"},
      {"TimeZoneLocaleAndDateComponents",
       One("NSDateComponents",
           [](auto& a) {
             uint64_t zone = a.Object("NSTimeZone", {{"NS.name", a.Str("Europe/Paris")}});
             uint64_t locale = a.Object("NSLocale", {{"NS.identifier", a.Str("fr_FR")}});
             return Fields{{"NS.year", a.b.Int(2024)},         {"NS.day", a.b.Int(INT64_MAX)},
                           {"NS.isLeapMonth", a.b.Bool(true)}, {"NS.timezone", zone},
                           {"NS.calendar", a.Null()},          {"NS.locale", locale}};
           }),
       "", R"({"year": 2024,"isLeapMonth": true,"timeZone": "Europe/Paris"})"},
      {"MeasurementFontAndColors",
       One("NSArray",
           [](auto& a) {
             uint64_t unit = a.Object("NSUnitAngle", {{"NS.symbol", a.Str("deg")}});
             uint64_t white = a.Object(
                 "NSColor", {{"NSColorSpace", a.b.Int(3)}, {"NSWhite", a.b.Data({'1', 0})}});
             return Fields{
                 {"NS.objects",
                  a.b.Array(
                      {a.Object("NSMeasurement", {{"NS.value", a.b.Real(90)}, {"NS.unit", unit}}),
                       a.Object("NSFont", {{"NSName", a.Str("Monaco")}, {"NSSize", a.b.Real(10)}}),
                       a.Object("NSColor", {{"NSColorSpace", a.b.Int(6)},
                                            {"NSCatalogName", a.Str("System")},
                                            {"NSColorName", a.Str("textColor")},
                                            {"NSColor", white}})})}};
           }),
       "",
       R"([{"value": 90.0,"unit": "deg"},{"name": "Monaco","size": 10.0},{"colorSpace": )"
       R"("catalog","catalog": "System","name": "textColor","color": {"colorSpace": )"
       R"("calibratedWhite","components": [1.0]}}])"},
      {"AttributedStringWithAttributes",
       One("NSAttributedString",
           [](auto& a) {
             uint64_t none = a.Object("NSDictionary",
                                      {{"NS.keys", a.b.Array({})}, {"NS.objects", a.b.Array({})}});
             return Fields{{"NSString", a.Str("abc")},
                           {"NSAttributes", none},
                           {"NSAttributeInfo", a.b.Data({3, 0})}};
           }),
       "",
       R"({"string": "abc","attributes": {},"runs": [{"location": 0,"length": 3,"attributes": 0}]})"},
  };
}

TEST(KeyedArchives, EachCaseGivesItsDocument) {
  for (const Case& k : Cases()) {
    SCOPED_TRACE(k.name);
    testutil::MemoryResult r = Unarchive(k.file);
    EXPECT_EQ(r.outcome, Outcome::Converted) << r.reason;
    if (r.outcome != Outcome::Converted) continue;
    size_t dots = k.flat.size() > 3 ? k.flat.rfind("...") : std::string::npos;
    bplist::Parallelism one;
    if (k.flat.empty()) {
      // Checked in JSON alone.
    } else if (k.flat == "=") {
      EXPECT_EQ(r.xml, testutil::ConvertWith(k.file).xml);
      EXPECT_EQ(
          Unarchive(k.file, bplist::Limits(), bplist::OutputFormat::Json).xml,
          testutil::ConvertWith(k.file, one, bplist::Limits(), bplist::OutputFormat::Json).xml);
    } else if (dots == k.flat.size() - 3)
      EXPECT_EQ(Flat(r.xml).substr(0, dots), k.flat.substr(0, dots));
    else
      EXPECT_EQ(Flat(r.xml), k.flat);
    testutil::MemoryResult j = Unarchive(k.file, bplist::Limits(), bplist::OutputFormat::Json);
    EXPECT_EQ(j.outcome, Outcome::Converted);
    std::string line;
    for (size_t at = 0, end; (end = j.xml.find("\r\n", at)) != std::string::npos; at = end + 2)
      line +=
          j.xml.substr(j.xml.find_first_not_of(' ', at), end - j.xml.find_first_not_of(' ', at));
    if (!k.json.empty()) {
      EXPECT_EQ(line, k.json);
    }
  }
}

// Objects `depth` deep, each naming the next `width` times: NSArrays, which
// are written in full wherever they appear, so that the document would hold
// width^depth strings; or objects of another class, each written once.
Bytes Shared(unsigned depth, unsigned width, const std::string& name = "NSArray") {
  ArchiveBuilder a;
  uint64_t next = a.Str("leaf");
  for (unsigned d = 0; d < depth; ++d) {
    Fields fields;
    for (unsigned i = 0; i < width; ++i) fields.push_back({"f" + std::to_string(i), next});
    next = name == "NSArray"
               ? a.Object(name, {{"NS.objects", a.b.Array(std::vector<uint64_t>(width, next))}})
               : a.Object(name, fields);
  }
  return a.Build(next);
}

TEST(KeyedArchives, SharingIsBoundedByTheWorkBudget) {
  EXPECT_EQ(Unarchive(Shared(3, 4)).outcome, Outcome::Converted);
  for (bplist::OutputFormat format : {bplist::OutputFormat::Xml, bplist::OutputFormat::Json}) {
    Bytes dense = Shared(12, 16, "Node");
    testutil::MemoryResult r = Unarchive(dense, bplist::Limits(), format);
    EXPECT_EQ(r.outcome, Outcome::Converted);
    EXPECT_LT(r.xml.size(), 4 * testutil::ConvertWith(dense).xml.size());
  }
  for (const bplist::Limits& limits : {bplist::Limits(), fuzzlimits::Small()}) {
    testutil::MemoryResult r = Unarchive(Shared(12, 16), limits);
    EXPECT_EQ(r.outcome, Outcome::TooLarge);
    EXPECT_EQ(r.reason.rfind("expands past the limit of ", 0), 0u) << r.reason;
  }
  // The same sharing inside an archive kept in data.
  testutil::MemoryResult r = Unarchive(NestedIn(Shared(12, 16)));
  EXPECT_EQ(r.reason.rfind("expands past the limit of ", 0), 0u) << r.reason;
}

// Regression: a typed JSON document lost its tags inside nested files.
TEST(KeyedArchives, NestedFilesKeepTypedTags) {
  Bytes file = NestedIn(One("NSData", [](auto& a) { return Fields{{"NS.data", a.b.Data({1})}}; }));
  testutil::ScratchStream stream;
  {
    bplist::OutputBuffer out(stream.handle(), "");
    bplist::ConvertBuffer(file.data(), file.size(), out, bplist::Parallelism(), bplist::Limits(),
                          bplist::OutputFormat::Json, true, true);
    out.Flush();
  }
  EXPECT_NE(stream.Contents().find("\\udc00"), std::string::npos) << stream.Contents();
}

// Files nested in data are opened eight deep; the ninth stays data.
TEST(KeyedArchives, NestedFilesOpenEightDeep) {
  Bytes file = One("NSString", [](auto& a) { return Fields{{"NS.string", a.Str("hi")}}; });
  for (int level = 1; level <= 9; ++level) {
    file = NestedIn(file);
    testutil::MemoryResult r = Unarchive(file);
    EXPECT_EQ(r.outcome, Outcome::Converted);
    EXPECT_EQ(Flat(r.xml).substr(0, 14), level <= 8 ? "<string>hi</st" : "<data>YnBsaXN0");
  }
}

// An archive whose root is `levels` objects of class `name`, each holding
// the next, the innermost a string; `damaged` adds an entry to $objects that
// refers to no object.
Bytes Chain(const std::string& name, unsigned levels, bool damaged = false) {
  ArchiveBuilder a;
  if (damaged) a.objects.push_back(a.b.Array({60000}));
  uint64_t next = a.Str("leaf");
  for (unsigned i = 0; i < levels; ++i) {
    Fields holding = name == "NSArray"        ? Fields{{"NS.objects", a.b.Array({next})}}
                     : name == "NSDictionary" ? Fields{{"NS.keys", a.b.Array({a.Str("k")})},
                                                       {"NS.objects", a.b.Array({next})}}
                     : name == "NSOrderedSet" ? Fields{{"NS.object.0", next}}
                                              : Fields{{"next", next}};
    next = a.Object(name, holding);
  }
  return a.Build(next);
}

// 512 levels of the document are written whatever each level takes in the
// archive; one more is a limit of a sound file, and damage elsewhere in the
// file is reported as -c reports it.
TEST(KeyedArchives, DepthBoundCountsTheDocumentsNesting) {
  const std::string kTooDeep = "its document nests deeper than 512 levels";
  for (const char* name : {"NSArray", "NSDictionary", "NSOrderedSet", "Node"})
    for (bplist::OutputFormat format : {bplist::OutputFormat::Xml, bplist::OutputFormat::Json}) {
      SCOPED_TRACE(name);
      EXPECT_EQ(Unarchive(Chain(name, 512), bplist::Limits(), format).outcome, Outcome::Converted);
      testutil::MemoryResult r = Unarchive(Chain(name, 513), bplist::Limits(), format);
      EXPECT_EQ(r.outcome, Outcome::TooLarge);
      EXPECT_EQ(r.reason, kTooDeep);
    }
  testutil::MemoryResult damaged = Unarchive(Chain("Node", 600, true));
  EXPECT_EQ(damaged.outcome, Outcome::Damaged);
  EXPECT_EQ(damaged.reason, testutil::ConvertWith(Chain("Node", 600, true)).reason);
  // An archive in data too deep to convert stays data.
  testutil::MemoryResult nested = Unarchive(NestedIn(Chain("Node", 600)));
  EXPECT_EQ(nested.outcome, Outcome::Converted);
  EXPECT_EQ(Flat(nested.xml).substr(0, 14), "<data>YnBsaXN0");
}

// Corpus files that are not keyed archives and hold no property list in
// data give the bytes of -c; the others convert to documents of their own.
TEST(KeyedArchives, CorpusFilesConvertAsWithC) {
  size_t archives = 0;
  for (const std::string& path : testutil::FilesIn(TARNWICK_CORPUS_DIR))
    for (bplist::OutputFormat format : {bplist::OutputFormat::Xml, bplist::OutputFormat::Json}) {
      SCOPED_TRACE(path);
      Bytes file = testutil::ReadBytes(path);
      testutil::MemoryResult plain = testutil::ConvertWith(file, bplist::Parallelism(),
                                                           bplist::Limits(), format),
                             keyed = Unarchive(file, bplist::Limits(), format);
      EXPECT_EQ(keyed.outcome, Outcome::Converted);
      // The keyed view stays within a small multiple of the plain document.
      EXPECT_LE(keyed.xml.size(), 4 * testutil::ConvertWith(file).xml.size());
      archives += keyed.xml != plain.xml;
      std::string name = path.substr(path.find_last_of("/\\") + 1);
      bool archive = name.find("sandin-") == 0 || name.find("scf-") == 0 ||
                     name.find(".btm") != std::string::npos ||
                     name.find(".xcuserstate") != std::string::npos ||
                     name.find(".nib") != std::string::npos ||
                     name == "plaso-NSKeyedArchiver.plist" ||
                     name == "plaso-user.plist";  // property lists in its data
      EXPECT_EQ(keyed.xml != plain.xml, archive);
    }
  EXPECT_EQ(archives, 28u);
}

TEST(KeyedArchives, ProgramTakesDashKWithTwoPaths) {
  testutil::ScratchDir dir;
  testutil::WriteFile(dir.File("in"), Shared(1, 1));
  testutil::RunResult r = testutil::RunTarnwick({"-k", dir.File("in"), dir.File("out")});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(Flat(testutil::ReadFile(dir.File("out"))), "<array><string>leaf</string></array>");
  EXPECT_EQ(testutil::RunTarnwick({"-kj", dir.File("in"), ""}).output, "[\r\n  \"leaf\"\r\n]\r\n");
  for (std::vector<std::string> args :
       {std::vector<std::string>{"-k", dir.File("in")}, {"-K", dir.File("in"), dir.File("out")}})
    EXPECT_EQ(testutil::RunTarnwick(args).exitCode, 2);
}

// The examples of RFC 3986, section 5.4, against its base.
TEST(KeyedArchives, UrlsResolveAgainstTheirBase) {
  const char* kBase = "http://a/b/c/d;p?q";
  const std::pair<const char*, const char*> kRows[] = {
      {"g:h", "g:h"},
      {"g", "http://a/b/c/g"},
      {"./g", "http://a/b/c/g"},
      {"g/", "http://a/b/c/g/"},
      {"/g", "http://a/g"},
      {"//g", "http://g"},
      {"?y", "http://a/b/c/d;p?y"},
      {"g?y", "http://a/b/c/g?y"},
      {"#s", "http://a/b/c/d;p?q#s"},
      {"g#s", "http://a/b/c/g#s"},
      {";x", "http://a/b/c/;x"},
      {"", "http://a/b/c/d;p?q"},
      {".", "http://a/b/c/"},
      {"./", "http://a/b/c/"},
      {"..", "http://a/b/"},
      {"../g", "http://a/b/g"},
      {"../..", "http://a/"},
      {"../../g", "http://a/g"},
      {"../../../g", "http://a/g"},
      {"/./g", "http://a/g"},
      {"/../g", "http://a/g"},
      {"g.", "http://a/b/c/g."},
      {"..g", "http://a/b/c/..g"},
      {"./../g", "http://a/b/g"},
      {"g/./h", "http://a/b/c/g/h"},
      {"g/../h", "http://a/b/c/h"},
      {"g;x=1/../y", "http://a/b/c/y"},
      {"g?y/./x", "http://a/b/c/g?y/./x"},
      {"g#s/../x", "http://a/b/c/g#s/../x"},
      {"http:g", "http:g"},
  };
  for (const auto& [reference, expected] : kRows)
    EXPECT_EQ(bplist::ResolveUrl(kBase, reference), expected) << reference;
}

}  // namespace
