// The C interface: argument checks and codes, a callback that refuses the
// output, and the two ways of receiving a document agreeing. The corpus
// against the command line's bytes is checked from outside the tree by
// library_consumers.sh and library_test.py.
#include <gtest/gtest.h>
#include <tarnwick.h>

#include <string>

#include "TestUtil.h"

namespace {

using testplist::Bytes;
using testutil::kSmallDict;
using testutil::kSmallDictXml;

// A callback that keeps what it is given and refuses its `refuseAt`-th call
// (never when 0).
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

// A file whose document is a few MiB, so it reaches the callback in pieces.
Bytes LargeString() {
  testplist::PlistBuilder b;
  b.top = b.Str(std::string(size_t(3) << 20, 'x'));
  return b.Build();
}

TEST(Library, ArgumentsAndFormatsGiveTheirCodes) {
  const Bytes& ok = kSmallDict;
  const std::string notPlist = "bplis";
  struct Case {
    const char* name;
    const void* data;
    size_t size;
    int format;
    int code;
    const char* reason;
  } cases[] = {
      {"xml", ok.data(), ok.size(), TARNWICK_XML, TARNWICK_OK, ""},
      {"no data", nullptr, 3, TARNWICK_XML, TARNWICK_BAD_ARGUMENT, "no data"},
      {"format -1", ok.data(), ok.size(), -1, TARNWICK_BAD_ARGUMENT, "unknown format -1"},
      {"format 4", ok.data(), ok.size(), 4, TARNWICK_BAD_ARGUMENT, "unknown format 4"},
      {"json", ok.data(), ok.size(), TARNWICK_JSON, TARNWICK_FORMAT_UNAVAILABLE,
       "format not available in this build"},
      {"keyed xml", ok.data(), ok.size(), TARNWICK_KEYED_XML, TARNWICK_FORMAT_UNAVAILABLE,
       "format not available in this build"},
      {"keyed json", ok.data(), ok.size(), TARNWICK_KEYED_JSON, TARNWICK_FORMAT_UNAVAILABLE,
       "format not available in this build"},
      {"empty", "", 0, TARNWICK_XML, TARNWICK_NOT_BPLIST, "not a binary plist"},
      {"short signature", notPlist.data(), notPlist.size(), TARNWICK_XML, TARNWICK_NOT_BPLIST,
       "not a binary plist"},
      {"signature alone", "bplist00", 8, TARNWICK_XML, TARNWICK_DAMAGED,
       "too short to hold a header and a trailer"},
  };
  for (const Case& c : cases) {
    Receiver r;
    tarnwick_error e;
    EXPECT_EQ(tarnwick_convert(c.data, c.size, c.format, 0, Receive, &r, &e), c.code) << c.name;
    EXPECT_EQ(e.code, c.code) << c.name;
    EXPECT_STREQ(e.reason, c.reason) << c.name;
    char* document = &e.reason[0];
    size_t length = 7;
    EXPECT_EQ(tarnwick_convert_to_buffer(c.data, c.size, c.format, 0, &document, &length, nullptr),
              c.code)
        << c.name;
    EXPECT_EQ(c.code == TARNWICK_OK, document != nullptr && length != 0) << c.name;
    tarnwick_free(document);
  }
  tarnwick_error e;
  EXPECT_EQ(tarnwick_convert(ok.data(), ok.size(), TARNWICK_XML, 0, nullptr, nullptr, &e),
            TARNWICK_BAD_ARGUMENT);
  EXPECT_EQ(tarnwick_convert_to_buffer(ok.data(), ok.size(), TARNWICK_XML, 0, nullptr, nullptr, &e),
            TARNWICK_BAD_ARGUMENT);
}

TEST(Library, ARefusingCallbackStopsTheConversion) {
  const Bytes large = LargeString();
  for (int refuseAt : {1, 2, 0}) {
    Receiver r;
    r.refuseAt = refuseAt;
    tarnwick_error e;
    int code = tarnwick_convert(large.data(), large.size(), TARNWICK_XML, TARNWICK_ALL_THREADS,
                                Receive, &r, &e);
    if (refuseAt == 0) {
      EXPECT_EQ(code, TARNWICK_OK);
      EXPECT_GT(r.calls, 2);  // the document came in pieces
      EXPECT_EQ(r.text.size(),
                (size_t(3) << 20) + testplist::Document({"    <string></string>"}).size());
    } else {
      EXPECT_EQ(code, TARNWICK_OUTPUT_REFUSED) << refuseAt;
      EXPECT_STREQ(e.reason, "the write callback refused the output");
      EXPECT_EQ(r.calls, refuseAt) << "no call after the refusal";
    }
  }
}

TEST(Library, BufferAndCallbackGiveTheSameDocument) {
  Receiver r;
  ASSERT_EQ(
      tarnwick_convert(kSmallDict.data(), kSmallDict.size(), TARNWICK_XML, 0, Receive, &r, nullptr),
      TARNWICK_OK);
  EXPECT_EQ(r.text, kSmallDictXml);
  char* document = nullptr;
  size_t length = 0;
  ASSERT_EQ(tarnwick_convert_to_buffer(kSmallDict.data(), kSmallDict.size(), TARNWICK_XML, 0,
                                       &document, &length, nullptr),
            TARNWICK_OK);
  EXPECT_EQ(std::string(document, length), kSmallDictXml);
  EXPECT_EQ(document[length], '\0');
  tarnwick_free(document);
  EXPECT_STREQ(tarnwick_version(), TARNWICK_VERSION);
}

}  // namespace
