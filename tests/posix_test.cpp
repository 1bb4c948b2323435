// What the program does with the operating system's own kinds of paths and
// events: names of open descriptors as outputs, long names, limits, signals,
// owners and endless inputs. Run through a POSIX shell, as a user would.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestUtil.h"

namespace {

using testutil::ReadFile;
using testutil::RunResult;
using testutil::RunTarnwick;
using testutil::ScratchDir;
using testutil::WriteFile;

// The dictionary {"a": 1} and its document.
const testplist::Bytes kSmallDict = [] {
  testplist::PlistBuilder b;
  b.top = b.Dict({{b.Str("a"), b.Int(1)}});
  return b.Build();
}();
const std::string kSmallDictXml = testplist::Document(
    {"    <dict>", "        <key>a</key>", "        <integer>1</integer>", "    </dict>"});

// A path naming an open descriptor is written through that descriptor, at
// its offset and with its flags, never replaced by a new file: appending to a
// log, after a header, into a pipe, on another descriptor.
TEST(Posix, DescriptorOutputsAreWrittenThrough) {
  SKIP_UNLESS_POSIX();
  struct Case {
    const char* name;
    const char* redirect;  // shell text run before the program; LOG is the log file
    const char* output;
    const char* expectLog;  // what the log file holds before the document
  };
  const Case table[] = {
      {"/dev/stdout appended", "exec >>LOG;", "/dev/stdout", "OLD\n"},
      {"/dev/stdout after a header", "exec >LOG; echo HEADER;", "/dev/stdout", "HEADER\n"},
      {"/dev/stderr appended", "exec 2>>LOG;", "/dev/stderr", "OLD\n"},
      {"/dev/fd/3 appended", "exec 3>>LOG;", "/dev/fd/3", "OLD\n"},
      {"/proc/self/fd/1 appended", "exec >>LOG;", "/proc/self/fd/1", "OLD\n"},
      {"link to /dev/stdout", "ln -s /dev/stdout DIR/link.xml; exec >>LOG;", "DIR/link.xml",
       "OLD\n"},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    WriteFile(dir.File("in.plist"), kSmallDict);
    WriteFile(dir.File("log"), std::string("OLD\n"));
    auto expand = [&](std::string text) {
      for (size_t at; (at = text.find("LOG")) != std::string::npos;)
        text.replace(at, 3, "'" + dir.File("log") + "'");
      for (size_t at; (at = text.find("DIR")) != std::string::npos;)
        text.replace(at, 3, dir.path());
      return text;
    };
    RunResult r = RunTarnwick({"-c", dir.File("in.plist"), expand(c.output)}, expand(c.redirect));
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(ReadFile(dir.File("log")), c.expectLog + kSmallDictXml);
  }
  // Standard output a pipe: the document arrives through it.
  ScratchDir dir;
  WriteFile(dir.File("in.plist"), kSmallDict);
  RunResult r = RunTarnwick({"-c", dir.File("in.plist"), "/dev/stdout"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, kSmallDictXml);
}

// Regression: output names of 239 to 255 bytes failed, as the temporary
// file's name passed the file system's limit of 255.
TEST(Posix, LongestOutputNamesConvert) {
  SKIP_UNLESS_POSIX();
  auto repeat = [](const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
  };
  // The last is 255 bytes of which 254 are two-byte characters, cut in two
  // by a naive shortening.
  const std::vector<std::string> names = {repeat("x", 238), repeat("x", 239), repeat("x", 255),
                                          "x" + repeat("\xC3\xA9", 127)};
  for (const std::string& name : names) {
    SCOPED_TRACE(name.size());
    ScratchDir dir;
    WriteFile(dir.File("in.plist"), kSmallDict);
    for (const char* old : {"", "old"}) {
      if (*old) WriteFile(dir.File(name), std::string(old));
      RunResult r = RunTarnwick({"-c", dir.File("in.plist"), dir.File(name)});
      EXPECT_EQ(r.exitCode, 0) << r.output;
      EXPECT_EQ(ReadFile(dir.File(name)), kSmallDictXml);
      EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.plist", name}));
    }
  }
}

}  // namespace
