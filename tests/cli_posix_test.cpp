// The command line's handling of what only POSIX systems have as outputs
// and inputs: /dev/null, symbolic links, FIFOs and pipes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "TestUtil.h"

namespace {

using testutil::NullTop;
using testutil::ReadFile;
using testutil::RunResult;
using testutil::RunTarnwick;
using testutil::ScratchDir;
using testutil::WriteFile;

using testutil::kSmallDict;
using testutil::kSmallDictXml;

TEST(Cli, DevNullIsWrittenInPlace) {
  ScratchDir dir;
  WriteFile(dir.File("in.plist"), kSmallDict);
  RunResult r = RunTarnwick({"-c", dir.File("in.plist"), "/dev/null"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, "");
  struct stat st;
  ASSERT_EQ(stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(ReadFile("/dev/null"), "");
}

// A symbolic link at the output path is followed: its target gets the
// document (also in another directory) and the link itself stays.
TEST(Cli, SymlinkOutputReplacesTargetAndKeepsLink) {
  ScratchDir a, b;
  WriteFile(a.File("in.plist"), kSmallDict);
  WriteFile(b.File("target.xml"), std::string("old"));
  ASSERT_EQ(symlink(b.File("target.xml").c_str(), a.File("out.xml").c_str()), 0);
  RunResult r = RunTarnwick({"-c", a.File("in.plist"), a.File("out.xml")});
  EXPECT_EQ(r.exitCode, 0);
  struct stat st;
  ASSERT_EQ(lstat(a.File("out.xml").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  char link[4096] = {};
  ASSERT_GT(readlink(a.File("out.xml").c_str(), link, sizeof link - 1), 0);
  EXPECT_EQ(std::string(link), b.File("target.xml"));
  EXPECT_EQ(ReadFile(b.File("target.xml")), kSmallDictXml);
  EXPECT_EQ(a.Entries(), (std::vector<std::string>{"in.plist", "out.xml"}));
  EXPECT_EQ(b.Entries(), std::vector<std::string>{"target.xml"});
}

TEST(Cli, RelativeSymlinkTargetIsReplaced) {
  ScratchDir dir;
  WriteFile(dir.File("in.plist"), kSmallDict);
  WriteFile(dir.File("target.xml"), std::string("old"));
  ASSERT_EQ(symlink("target.xml", dir.File("link.xml").c_str()), 0);
  RunResult r = RunTarnwick({"-c", dir.File("in.plist"), dir.File("link.xml")});
  EXPECT_EQ(r.exitCode, 0);
  struct stat st;
  ASSERT_EQ(lstat(dir.File("link.xml").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(dir.File("target.xml")), kSmallDictXml);
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.plist", "link.xml", "target.xml"}));
}

// A FIFO at the output path is written in place: a reader gets the
// document and the FIFO stays.
TEST(Cli, FifoIsWrittenInPlace) {
  ScratchDir dir;
  WriteFile(dir.File("in.plist"), kSmallDict);
  ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0644), 0);
  const std::string reader =
      "timeout 10 cat '" + dir.File("pipe") + "' > '" + dir.File("got.xml") + "' &";
  RunResult r = RunTarnwick({"-c", dir.File("in.plist"), dir.File("pipe")}, reader);
  EXPECT_EQ(r.exitCode, 0);
  for (int i = 0; i < 100 && ReadFile(dir.File("got.xml")) != kSmallDictXml; ++i) usleep(50000);
  EXPECT_EQ(ReadFile(dir.File("got.xml")), kSmallDictXml);
  struct stat st;
  ASSERT_EQ(lstat(dir.File("pipe").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A chain of links is followed to its end, and a link whose target does
// not exist yet gets that target created.
TEST(Cli, SymlinkChainAndDanglingLink) {
  ScratchDir dir;
  WriteFile(dir.File("in.plist"), kSmallDict);
  ASSERT_EQ(symlink("middle.xml", dir.File("first.xml").c_str()), 0);
  ASSERT_EQ(symlink("last.xml", dir.File("middle.xml").c_str()), 0);
  WriteFile(dir.File("last.xml"), std::string("old"));
  ASSERT_EQ(symlink("new.xml", dir.File("dangling.xml").c_str()), 0);
  EXPECT_EQ(RunTarnwick({"-c", dir.File("in.plist"), dir.File("first.xml")}).exitCode, 0);
  EXPECT_EQ(RunTarnwick({"-c", dir.File("in.plist"), dir.File("dangling.xml")}).exitCode, 0);
  EXPECT_EQ(ReadFile(dir.File("last.xml")), kSmallDictXml);
  EXPECT_EQ(ReadFile(dir.File("new.xml")), kSmallDictXml);
  for (const char* link : {"first.xml", "middle.xml", "dangling.xml"}) {
    struct stat st;
    ASSERT_EQ(lstat(dir.File(link).c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << link;
  }
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"dangling.xml", "first.xml", "in.plist",
                                                     "last.xml", "middle.xml", "new.xml"}));
}

TEST(Cli, SymlinkTargetUntouchedWhenConversionFails) {
  ScratchDir dir;
  WriteFile(dir.File("in.plist"), NullTop());
  WriteFile(dir.File("target.xml"), std::string("old"));
  ASSERT_EQ(symlink("target.xml", dir.File("link.xml").c_str()), 0);
  RunResult r = RunTarnwick({"-c", dir.File("in.plist"), dir.File("link.xml")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(ReadFile(dir.File("target.xml")), "old");
  EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.plist", "link.xml", "target.xml"}));
}

// Regression: a pipe as input used to lose its first six bytes to the
// signature test, which read them before the file was loaded.
TEST(Cli, InputFromAPipeConverts) {
  ScratchDir dir;
  WriteFile(dir.File("in.plist"), kSmallDict);
  RunResult r = RunTarnwick({"-c", "/dev/stdin", ""}, "cat '" + dir.File("in.plist") + "' |");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, kSmallDictXml);
  r = RunTarnwick({"-c", "/dev/stdin", ""}, "printf 'bplis' |");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output,
            "File /dev/stdin is not a binary plist!\r\nError: Unable convert file /dev/stdin\r\n");
}

}  // namespace
