// File operations that really fail while the program runs: a missing output
// directory, a write cut short by the file-size limit, and the open-files
// limit. Each must end the program with the unhandled-error report and exit
// code 217, leave a file already at the output path as it was and leave no
// temporary file behind. The tests run as root, so permission bits cannot
// make anything fail; these limits do.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "PlistBuilder.h"
#include "TestUtil.h"

namespace {

using testplist::Bytes;
using testplist::PlistBuilder;

using testutil::kOldOutput;

// Writes are limited to one block. The program ignores the signal that
// would kill it at the limit, so the write itself fails; the second form
// ignores it before the program starts as well.
const char* const kFileSizeLimits[] = {"ulimit -f 1;", "ulimit -f 1; trap '' XFSZ;"};

// A valid file whose document is about `lines` lines of some 40 bytes.
Bytes ManyStrings(size_t lines) {
  PlistBuilder b;
  b.refSize = 4;
  b.offsetSize = 4;
  std::vector<uint64_t> refs;
  for (size_t i = 0; i < lines; ++i) refs.push_back(b.Str("string number " + std::to_string(i)));
  b.top = b.Array(refs);
  return b.Build();
}

// True for "An unhandled exception occurred at $" + eight upper-case
// hexadecimal digits + " :".
bool IsReportFirstLine(const std::string& line) {
  const std::string head = "An unhandled exception occurred at $";
  const std::string tail = " :";
  if (line.size() != head.size() + 8 + tail.size()) return false;
  if (line.compare(0, head.size(), head) != 0) return false;
  if (line.compare(head.size() + 8, tail.size(), tail) != 0) return false;
  for (size_t i = head.size(); i < head.size() + 8; ++i) {
    char c = line[i];
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

// Splits `text` at CR LF; the text must end with CR LF and hold no other
// line ends.
std::vector<std::string> CrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "output does not end with CR LF: " << text;
      break;
    }
    std::string line = text.substr(start, end - start);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "stray line end in: " << line;
    lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

// Checks that the run printed exactly one unhandled-error report for an
// EInOutError with `message` and ended with exit code 217.
void ExpectInOutErrorReport(const testutil::RunResult& run, const std::string& message) {
  EXPECT_EQ(run.exitCode, 217) << run.output;
  std::vector<std::string> lines = CrLfLines(run.output);
  ASSERT_GE(lines.size(), 4u) << run.output;
  EXPECT_TRUE(IsReportFirstLine(lines[0])) << lines[0];
  EXPECT_EQ(lines[1], "EInOutError : " + message);
  for (size_t i = 2; i + 1 < lines.size(); ++i)
    EXPECT_FALSE(lines[i].empty()) << "location line " << i;
  EXPECT_EQ(lines.back(), "");
}

// A scratch directory with a valid input and an old output file in it.
struct Workspace {
  explicit Workspace(const Bytes& input) {
    testutil::WriteFile(in(), input);
    testutil::WriteFile(out(), std::string(kOldOutput));
  }
  std::string in() const { return dir.File("in.plist"); }
  std::string out() const { return dir.File("out.xml"); }
  // The old output is intact and nothing else was left in the directory.
  void ExpectUntouched() const {
    EXPECT_EQ(testutil::ReadFile(out()), kOldOutput);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.plist", "out.xml"}));
  }
  testutil::ScratchDir dir;
};

TEST(RuntimeFailure, MissingOutputDirectoryIsAnInvalidFilename) {
  Workspace ws(ManyStrings(3));
  const std::string out = ws.dir.File("missing/out.xml");
  testutil::RunResult run = testutil::RunTarnwick({"-c", ws.in(), out});
  ExpectInOutErrorReport(run, "Invalid filename");
  EXPECT_FALSE(testutil::Exists(ws.dir.File("missing")));
  ws.ExpectUntouched();
}

// Regression: without the shell's trap, the limit's signal (SIGXFSZ)
// killed the program with exit code 153 and left the temporary file.
TEST(RuntimeFailure, WriteCutShortByTheFileSizeLimitIsDiskFull) {
  // The first document fits the writer's buffer and fails when it is
  // flushed at the end; the second fails at a flush part-way through.
  for (const char* limit : kFileSizeLimits) {
    for (size_t lines : {size_t(200), size_t(60000)}) {
      SCOPED_TRACE(std::string(limit) + " " + std::to_string(lines) + " lines");
      Workspace ws(ManyStrings(lines));
      testutil::RunResult run = testutil::RunTarnwick({"-c", ws.in(), ws.out()}, limit);
      ExpectInOutErrorReport(run, "Disk Full");
      ws.ExpectUntouched();
    }
  }
  // The same document converts without the limit, so the limit is what failed.
  Workspace ws(ManyStrings(200));
  testutil::RunResult run = testutil::RunTarnwick({"-c", ws.in(), ws.out()});
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(testutil::ReadFile(ws.out()), kOldOutput);
}

// The program holds at most one descriptor of its own at a time, and the
// dynamic loader needs one before main, so no open-files limit set at the
// start can fail the conversion without failing the loader. The input is
// therefore a FIFO: its first open blocks until a writer comes, after the
// loader is done, and while it waits the limit is lowered to the three
// standard descriptors. Every later open then fails with "too many open
// files". Leak checking is off for this run, since it needs descriptors of
// its own at exit.
testutil::RunResult RunOutOfDescriptors(const std::string& input, const std::string& fifo,
                                        const std::string& out, const std::string& printed) {
  std::string script =
      "mkfifo '" + fifo +
      "' || exit 99\n"
      "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" '" TARNWICK_PATH "' -c '" +
      fifo + "' '" + out + "' > '" + printed +
      "' 2>/dev/null &\n"
      "pid=$!\n"
      "i=0\n"
      "while [ $i -lt 500 ] && [ \"$(cat /proc/$pid/wchan 2>/dev/null)\" != wait_for_partner ]; "
      "do\n"
      "  sleep 0.01; i=$((i + 1))\n"
      "done\n"
      "prlimit --pid $pid --nofile=3:3 || { kill $pid; exit 98; }\n"
      // Ends the program should it wait for a writer that never comes; the
      // watcher leaves as soon as the program has ended.
      "(i=0; while [ $i -lt 300 ] && kill -0 $pid; do sleep 0.1; i=$((i + 1)); done;"
      " kill $pid) >/dev/null 2>&1 &\n"
      "cat '" +
      input + "' > '" + fifo +
      "' 2>/dev/null\n"
      "wait $pid\n";
  testutil::RunResult run;
  int status = std::system(script.c_str());
  if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  run.output = testutil::ReadFile(printed);
  return run;
}

TEST(RuntimeFailure, TooManyOpenFiles) {
  Workspace ws(ManyStrings(3));
  testutil::ScratchDir side;
  testutil::RunResult run =
      RunOutOfDescriptors(ws.in(), ws.dir.File("in.fifo"), ws.out(), side.File("printed"));
  ExpectInOutErrorReport(run, "Too many open files");
  EXPECT_EQ(testutil::ReadFile(ws.out()), kOldOutput);
  EXPECT_EQ(ws.dir.Entries(), (std::vector<std::string>{"in.fifo", "in.plist", "out.xml"}));
}

}  // namespace
