// The command line as a user meets it: which argument lists do what, the
// messages and exit codes of a failed conversion, and the handling of the
// output path that keeps an existing file safe when a conversion fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "TestUtil.h"

namespace {

using testplist::Bytes;
using testutil::Exists;
using testutil::kSmallDictXml;
using testutil::NullTop;
using testutil::ReadFile;
using testutil::RunResult;
using testutil::RunTarnwick;
using testutil::ScratchDir;
using testutil::WriteFile;
namespace fs = testutil::fs;

const std::string kUsage = "Usage:\r\n-about \r\n-c [input] [output]\r\n";
const std::string kAboutStart =
    "Tarnwick v" TARNWICK_VERSION "\r\nConversion from Apple binary plist format to XML plist\r\n";

// The smallest complete file: the dictionary {"a": 1}, 50 bytes.
const Bytes kSmallDict = {0x62, 0x70, 0x6C, 0x69, 0x73, 0x74, 0x30, 0x30, 0xD1, 0x01,
                          0x02, 0x51, 0x61, 0x10, 0x01, 0x08, 0x0B, 0x0D, 0x00, 0x00,
                          0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00,
                          0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0F};

std::string FailureLine(const std::string& in) {
  return "Error: Unable convert file " + in + "\r\n";
}

size_t CountLines(const std::string& s) {
  size_t n = 0;
  for (size_t i = 0; i + 1 < s.size(); ++i) n += s[i] == '\r' && s[i + 1] == '\n';
  return n;
}

TEST(Cli, AboutTextIsFourLinesAndExitsZero) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-about"}, {"-about", "x", "y"}, {"-about", "-c", "-c"}}) {
    SCOPED_TRACE(args.size());
    RunResult r = RunTarnwick(args);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output.substr(0, kAboutStart.size()), kAboutStart);
    EXPECT_EQ(CountLines(r.output), 4u);
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 4);
    EXPECT_EQ(r.output.substr(r.output.size() - 2), "\r\n");
  }
}

// Every argument list that is not "-about" (alone or with two more) or "-c"
// or "-j" (or "-b") with exactly two paths prints the usage text, exits 2 and touches no file.
TEST(Cli, ArgumentTableFallsBackToUsage) {
  ScratchDir dir;
  const std::string in = dir.File("in.plist"), out = dir.File("out.xml");
  WriteFile(in, kSmallDict);
  const std::vector<std::vector<std::string>> table = {
      {},
      {"-c"},
      {"-about", in},
      {"x"},
      {"a", "b"},
      {"-c", in},
      {"-c", in, out, out},
      {"-about", in, out, out},
      {"-C", in, out},
      {"--c", in, out},
      {"-c ", in, out},
      {" -c", in, out},
      {"c", in, out},
      {"-ABOUT"},
      {"--about"},
      {"-about "},
      {"x", in, out},
      {"", in, out},
      {"-j"},
      {"-j", in},
      {"-j", in, out, out},
      {"-J", in, out},
      {"--j", in, out},
      {"-j ", in, out},
      {"-cj", in, out},
      // Verbs of letters: each letter once, c or j, and no other letter.
      {"-", in, out},
      {"-cc", in, out},
      {"-dd", in, out},
      {"-jsj", in, out},
      {"-dcj", in, out},
      {"-x", in, out},
      {"-h", in, out},
      {"-sS", in, out},
      {"-d-j", in, out},
      {"-s", in},
      {"-dj", in},
      {"-dj", in, out, out},
      // b, a third output: with d and s, never with c, j or k.
      {"-b"},
      {"-b", in},
      {"-b", in, out, out},
      {"-B", in, out},
      {"-kb", in, out},
      {"-bc", in, out},
      {"-bk", in, out},
      {"-bj", in, out},
      {"-bb", in, out},
      {"-dbk", in, out},
      {"-sbj", in, out},
      {"-bs", in},
      {"-db", in, out, out},
  };
  for (const auto& args : table) {
    std::string name;
    for (const std::string& a : args) name += "[" + a + "]";
    SCOPED_TRACE(name);
    RunResult r = RunTarnwick(args);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.output, kUsage);
    EXPECT_FALSE(Exists(out));
  }
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.plist"});
}

TEST(Cli, FiftyByteExampleConvertsExactly) {
  ScratchDir dir;
  WriteFile(dir.File("in.plist"), kSmallDict);
  RunResult r = RunTarnwick({"-c", dir.File("in.plist"), dir.File("out.xml")});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(ReadFile(dir.File("out.xml")), kSmallDictXml);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.plist", "out.xml"}));
}

// The two version bytes and the six unused trailer bytes are not looked at.
TEST(Cli, VersionAndUnusedTrailerBytesAreIgnored) {
  const std::vector<std::pair<size_t, uint8_t>> edits = {{6, '9'},   {7, '9'},   {6, 0xFF},
                                                         {18, 0xAA}, {21, 0x01}, {23, 0xFF}};
  for (auto [at, byte] : edits) {
    SCOPED_TRACE(at);
    Bytes plist = kSmallDict;
    plist[at] = byte;
    std::string xml;
    RunResult r = testutil::ConvertBytes(plist, &xml);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(xml, kSmallDictXml);
  }
}

// Inputs that are refused before anything is written: the printed lines, the
// exit code, and an existing output file that keeps its content.
TEST(Cli, RefusedInputsLeaveOutputUntouched) {
  enum Kind { kMissing, kDirectory, kContent };
  struct Case {
    const char* name;
    Kind kind;
    std::string content;
    const char* reason;  // printed after the path; empty for no reason line
  };
  std::string validTail(kSmallDict.begin() + 6, kSmallDict.end());
  Bytes nullTop = NullTop();
  const std::vector<Case> table = {
      {"missing file", kMissing, "", " not found!"},
      {"directory", kDirectory, "", " not found!"},
      {"empty file", kContent, "", " is not a binary plist!"},
      {"five bytes", kContent, "bplis", " is not a binary plist!"},
      {"upper case signature", kContent, "BPLIST" + validTail, " is not a binary plist!"},
      {"leading blank", kContent, " bplist00", " is not a binary plist!"},
      {"xml plist", kContent, "<?xml version=\"1.0\"?>\n<plist/>\n", " is not a binary plist!"},
      {"null top object", kContent, std::string(nullTop.begin(), nullTop.end()), ""},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string in = dir.File("in.plist"), out = dir.File("out.xml");
    if (c.kind == kDirectory) fs::create_directory(testutil::U8(in));
    if (c.kind == kContent) WriteFile(in, c.content);
    WriteFile(out, std::string("keep me\n"));
    RunResult r = RunTarnwick({"-c", in, out});
    std::string expected = c.reason[0] ? "File " + in + c.reason + "\r\n" : "";
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, expected + FailureLine(in));
    EXPECT_EQ(ReadFile(out), "keep me\n");
    std::vector<std::string> entries = {"out.xml"};
    if (c.kind != kMissing) entries.insert(entries.begin(), "in.plist");
    EXPECT_EQ(dir.Entries(), entries);
  }
}

TEST(Cli, EmptyInputPathIsNotFound) {
  ScratchDir dir;
  RunResult r = RunTarnwick({"-c", "", dir.File("out.xml")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output, "File  not found!\r\n" + FailureLine(""));
  EXPECT_TRUE(dir.Entries().empty());
}

// A failed conversion with no file at the output path creates none and
// leaves no temporary file behind.
TEST(Cli, FailedConversionCreatesNoFile) {
  ScratchDir dir;
  WriteFile(dir.File("in.plist"), NullTop());
  RunResult r = RunTarnwick({"-c", dir.File("in.plist"), dir.File("out.xml")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output, FailureLine(dir.File("in.plist")));
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.plist"});
}

TEST(Cli, ExistingLongerOutputIsReplacedWhole) {
  ScratchDir dir;
  WriteFile(dir.File("in.plist"), kSmallDict);
  WriteFile(dir.File("out.xml"), std::string(5000, 'x'));
  RunResult r = RunTarnwick({"-c", dir.File("in.plist"), dir.File("out.xml")});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadFile(dir.File("out.xml")), kSmallDictXml);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.plist", "out.xml"}));
}

TEST(Cli, InputAndOutputMayBeTheSameFile) {
  ScratchDir dir;
  const std::string f = dir.File("same.plist");
  WriteFile(f, kSmallDict);
  RunResult r = RunTarnwick({"-c", f, f});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(ReadFile(f), kSmallDictXml);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"same.plist"});
}

TEST(Cli, SameFileKeepsInputWhenConversionFails) {
  ScratchDir dir;
  const std::string f = dir.File("same.plist");
  Bytes bad = NullTop();
  WriteFile(f, bad);
  RunResult r = RunTarnwick({"-c", f, f});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(ReadFile(f), std::string(bad.begin(), bad.end()));
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"same.plist"});
}

TEST(Cli, EmptyOutputPathWritesDocumentToStdout) {
  ScratchDir dir;
  WriteFile(dir.File("in.plist"), kSmallDict);
  RunResult r = RunTarnwick({"-c", dir.File("in.plist"), ""});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, kSmallDictXml);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.plist"});
}

// -j converts to JSON, with -c's messages and exit codes.
TEST(Cli, JsonConversionThroughTheProgram) {
  ScratchDir dir;
  const std::string in = dir.File("in.plist");
  WriteFile(in, kSmallDict);
  RunResult r = RunTarnwick({"-j", in, ""});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, "{\r\n  \"a\": 1\r\n}\r\n");
  r = RunTarnwick({"-j", in, dir.File("out.json")});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadFile(dir.File("out.json")), "{\r\n  \"a\": 1\r\n}\r\n");
  WriteFile(in, NullTop());
  r = RunTarnwick({"-j", in, dir.File("out.json")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output, FailureLine(in));
  r = RunTarnwick({"-j", dir.File("missing"), dir.File("out.json")});
  EXPECT_EQ(r.output,
            "File " + dir.File("missing") + " not found!\r\n" + FailureLine(dir.File("missing")));
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.plist", "out.json"}));
}

TEST(Cli, EmptyOutputPathFailureEndsWithFailureLine) {
  ScratchDir dir;
  WriteFile(dir.File("in.plist"), NullTop());
  RunResult r = RunTarnwick({"-c", dir.File("in.plist"), ""});
  EXPECT_EQ(r.exitCode, 1);
  const std::string tail = FailureLine(dir.File("in.plist"));
  ASSERT_GE(r.output.size(), tail.size());
  EXPECT_EQ(r.output.substr(r.output.size() - tail.size()), tail);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.plist"});
}

// An output in a directory that does not exist cannot be created: the
// unhandled-error report and exit code 217.
TEST(Cli, OutputInMissingDirectoryIsRuntimeFailure) {
  ScratchDir dir;
  WriteFile(dir.File("in.plist"), kSmallDict);
  RunResult r = RunTarnwick({"-c", dir.File("in.plist"), dir.File("no/such/out.xml")});
  EXPECT_EQ(r.exitCode, 217);
  EXPECT_EQ(r.output.rfind("An unhandled exception occurred at $", 0), 0u) << r.output;
  EXPECT_NE(r.output.find("\r\nEInOutError : "), std::string::npos) << r.output;
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.plist"});
}

}  // namespace
