// The C interface's codes and reasons, and a write callback that refuses
// the output. The corpus against the command line is checked from outside
// the tree (library_consumers.sh, library_test.py).
#include <gtest/gtest.h>
#include <tarnwick.h>

#include <string>

#include "TestUtil.h"

namespace {

// Keeps what it is given; refuses its `refuseAt`-th call (never when 0).
struct Receiver {
  int refuseAt = 0;
  int calls = 0;
  std::string text;
};

int Receive(void* context, const char* bytes, size_t size) {
  Receiver* r = static_cast<Receiver*>(context);
  if (++r->calls == r->refuseAt) return 1;
  r->text.append(bytes, size);
  return 0;
}

TEST(Library, CodesAndReasons) {
  const testplist::Bytes& ok = testutil::kSmallDict;
  struct Case {
    const void* data;
    size_t size;
    int format;
    int code;
    const char* reason;
    unsigned options = 0;
  } cases[] = {
      {ok.data(), ok.size(), TARNWICK_XML, TARNWICK_OK, ""},
      {nullptr, 3, TARNWICK_XML, TARNWICK_BAD_ARGUMENT, "no data"},
      {ok.data(), ok.size(), -1, TARNWICK_BAD_ARGUMENT, "unknown format -1"},
      {ok.data(), ok.size(), 5, TARNWICK_BAD_ARGUMENT, "unknown format 5"},
      {ok.data(), ok.size(), TARNWICK_BINARY, TARNWICK_OK, ""},
      {"<plist><true/></plist>", 22, TARNWICK_BINARY, TARNWICK_OK, ""},
      {"[1, 2]", 6, TARNWICK_BINARY, TARNWICK_OK, ""},
      {"", 0, TARNWICK_BINARY, TARNWICK_NOT_BPLIST, "not a property list"},
      {nullptr, 0, TARNWICK_BINARY, TARNWICK_NOT_BPLIST, "not a property list"},
      {"{\"a\": null}", 11, TARNWICK_BINARY, TARNWICK_DAMAGED,
       "null (a property list has no null value) at line 1, column 7"},
      {ok.data(), ok.size(), TARNWICK_JSON, TARNWICK_OK, ""},
      {ok.data(), ok.size(), TARNWICK_KEYED_XML, TARNWICK_OK, ""},
      {ok.data(), ok.size(), TARNWICK_KEYED_JSON, TARNWICK_OK, ""},
      {"", 0, TARNWICK_XML, TARNWICK_NOT_BPLIST, "not a binary plist"},
      {"bplis", 5, TARNWICK_XML, TARNWICK_NOT_BPLIST, "not a binary plist"},
      {"bplist00", 8, TARNWICK_XML, TARNWICK_DAMAGED, "too short to hold a header and a trailer"},
      // Regression (item 17 of the outside trial): unknown option bits were
      // accepted silently.
      {ok.data(), ok.size(), TARNWICK_XML, TARNWICK_OK, "", TARNWICK_ALL_THREADS},
      {ok.data(), ok.size(), TARNWICK_XML, TARNWICK_OK, "", TARNWICK_TYPED_VALUES},
      {ok.data(), ok.size(), TARNWICK_JSON, TARNWICK_BAD_ARGUMENT, "unknown options 0x4", 6},
      {ok.data(), ok.size(), TARNWICK_JSON, TARNWICK_BAD_ARGUMENT, "unknown options 0x4", 5},
      {ok.data(), ok.size(), TARNWICK_XML, TARNWICK_BAD_ARGUMENT, "unknown options 0x80000000",
       0x80000001u},
  };
  for (const Case& c : cases) {
    Receiver r;
    tarnwick_error e;
    EXPECT_EQ(tarnwick_convert(c.data, c.size, c.format, c.options, Receive, &r, &e), c.code)
        << c.reason;
    EXPECT_EQ(e.code, c.code) << c.reason;
    EXPECT_STREQ(e.reason, c.reason);
    char* document = nullptr;
    size_t length = 7;
    EXPECT_EQ(
        tarnwick_convert_to_buffer(c.data, c.size, c.format, c.options, &document, &length, &e),
        c.code);
    EXPECT_STREQ(e.reason, c.reason);
    EXPECT_EQ(document == nullptr, c.code != TARNWICK_OK) << c.reason;
    EXPECT_EQ(length == 0, c.code != TARNWICK_OK) << c.reason;
    tarnwick_free(document);
  }
  // Regression (item 17): with one place missing, the other was left unset.
  char* document = reinterpret_cast<char*>(&document);
  size_t length = 7;
  EXPECT_EQ(tarnwick_convert_to_buffer(ok.data(), ok.size(), 0, 0, &document, nullptr, nullptr),
            TARNWICK_BAD_ARGUMENT);
  EXPECT_EQ(document, nullptr);
  EXPECT_EQ(tarnwick_convert_to_buffer(ok.data(), ok.size(), 0, 0, nullptr, &length, nullptr),
            TARNWICK_BAD_ARGUMENT);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(tarnwick_convert(ok.data(), ok.size(), 0, 0, nullptr, nullptr, nullptr),
            TARNWICK_BAD_ARGUMENT);
  EXPECT_EQ(tarnwick_convert_to_buffer(ok.data(), ok.size(), 0, 0, nullptr, nullptr, nullptr),
            TARNWICK_BAD_ARGUMENT);
  EXPECT_STREQ(tarnwick_version(), TARNWICK_VERSION);
}

// Converts `file` to a whole document in `format` with `options`.
std::string Document(const testplist::Bytes& file, int format, unsigned options) {
  Receiver r;
  EXPECT_EQ(tarnwick_convert(file.data(), file.size(), format, options, Receive, &r, nullptr),
            TARNWICK_OK);
  return r.text;
}

// A typed JSON document tags the values JSON has no type for, and a string
// that holds the tag's lone surrogate is written with U+FFFD, so it cannot
// pass for one; keys and XML are written as without the option.
TEST(Library, TypedValuesAreTaggedObjects) {
  testplist::PlistBuilder b;
  size_t nan = b.Raw({0x23, 0x7F, 0xF8, 0, 0, 0, 0, 0, 0});
  size_t single = b.Raw({0x22, 0x3D, 0xCC, 0xCC, 0xCD});  // 0.1f
  size_t elements[] = {b.Date(-0.5),
                       b.Data({1, 2, 3}),
                       b.Uid(300, 2),
                       nan,
                       single,
                       b.Utf16(u"\xdc00"
                               u"d"),
                       b.Real(2.5),
                       b.Str("2001")};
  size_t date = b.Date(0);
  b.top = b.Dict({{date, b.Array({elements, elements + 8})}});
  const testplist::Bytes file = b.Build();
  EXPECT_EQ(Document(file, TARNWICK_JSON, TARNWICK_TYPED_VALUES | TARNWICK_ALL_THREADS),
            "{\r\n  \"2001-01-01T00:00:00Z\": [\r\n"
            "    {\"\\udc00d\": -0.5},\r\n    {\"\\udc00b\": \"AQID\"},\r\n"
            "    {\"\\udc00u\": 300},\r\n    {\"\\udc00r\": \"nan\"},\r\n"
            "    0.10000000149011612,\r\n    \"\xef\xbf\xbd"
            "d\",\r\n    2.5,\r\n"
            "    \"2001\"\r\n  ]\r\n}\r\n");
  EXPECT_EQ(Document(file, TARNWICK_XML, TARNWICK_TYPED_VALUES), Document(file, TARNWICK_XML, 0));
  EXPECT_EQ(Document(file, TARNWICK_KEYED_JSON, TARNWICK_TYPED_VALUES),
            Document(file, TARNWICK_JSON, TARNWICK_TYPED_VALUES));
}

TEST(Library, ARefusingCallbackStopsTheConversion) {
  testplist::PlistBuilder b;  // a document of 3 MiB, written in pieces
  b.top = b.Str(std::string(size_t(3) << 20, 'x'));
  const testplist::Bytes large = b.Build();
  for (int refuseAt : {1, 2, 0}) {
    Receiver r;
    r.refuseAt = refuseAt;
    tarnwick_error e;
    int code = tarnwick_convert(large.data(), large.size(), TARNWICK_XML, TARNWICK_ALL_THREADS,
                                Receive, &r, &e);
    EXPECT_EQ(code, refuseAt == 0 ? TARNWICK_OK : TARNWICK_OUTPUT_REFUSED) << refuseAt;
    if (refuseAt == 0) {
      EXPECT_GT(r.calls, 2);
      EXPECT_EQ(r.text.size(), testplist::Document({"    <string></string>"}).size() + (3 << 20));
    } else {
      EXPECT_STREQ(e.reason, "the write callback refused the output");
      EXPECT_EQ(r.calls, refuseAt) << "no call after the refusal";
    }
  }
}

}  // namespace
