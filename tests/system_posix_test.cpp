// What the program does with the operating system's own kinds of paths and
// events: names of open descriptors as outputs, long names, signals, owners,
// flushing and endless inputs. Run through a POSIX shell, as a user would;
// built on POSIX systems only.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "TestUtil.h"

namespace {

using testutil::ReadFile;
using testutil::RunResult;
using testutil::RunTarnwick;
using testutil::ScratchDir;
using testutil::WriteFile;

using testutil::kSmallDict;
using testutil::kSmallDictXml;

// What the shell command `command` prints on standard output.
std::string Shell(const std::string& command) {
  return testutil::RunProgram("sh", {"-c", command}, "").output;
}

// A path naming an open descriptor is written through that descriptor, at
// its offset and with its flags, never replaced by a new file: appending to a
// log, after a header, into a pipe, on another descriptor.
TEST(Posix, DescriptorOutputsAreWrittenThrough) {
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
      // Regression: these spellings were followed as links, and the log behind
      // descriptor 3 was replaced. $$ is the program's own process id after exec.
      {"/proc/thread-self/fd/3", "exec 3>>LOG;", "/proc/thread-self/fd/3", "OLD\n"},
      {"/dev/fd//3", "exec 3>>LOG;", "/dev/fd//3", "OLD\n"},
      {"/dev/fd/./3", "exec 3>>LOG;", "/dev/fd/./3", "OLD\n"},
      {"/proc//self/fd/3", "exec 3>>LOG;", "/proc//self/fd/3", "OLD\n"},
      {"link to /proc/PID/fd/3", "exec 3>>LOG; ln -s /proc/$$/fd/3 DIR/l.xml; exec", "DIR/l.xml",
       "OLD\n"},
      {"link to /proc/self/task/TID/fd/3",
       "exec 3>>LOG; ln -s /proc/$$/task/$$/fd/3 DIR/l.xml; exec", "DIR/l.xml", "OLD\n"},
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
  // Standard output or descriptor 3 a pipe: the document arrives through it.
  ScratchDir dir;
  WriteFile(dir.File("in.plist"), kSmallDict);
  for (const char* output : {"/dev/stdout", "/proc/thread-self/fd/3", "/dev/fd/./3"}) {
    SCOPED_TRACE(output);
    RunResult r = RunTarnwick({"-c", dir.File("in.plist"), output}, "exec 3>&1;");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, kSmallDictXml);
  }
  // A file merely named by the number of the descriptor that has it open is
  // an ordinary output, replaced whole.
  WriteFile(dir.File("3"), std::string("OLD\n"));
  RunResult r =
      RunTarnwick({"-c", dir.File("in.plist"), dir.File("3")}, "exec 3>>'" + dir.File("3") + "';");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(ReadFile(dir.File("3")), kSmallDictXml);
}

// Regression: with standard output a pipe whose reader had gone, a failed
// conversion was killed by SIGPIPE while printing its reason (exit status 141)
// and left its temporary file. A message that cannot be written now changes
// nothing; and the temporary file is gone before the reason is printed, as a
// reader listing the directory on the first line sees.
TEST(Posix, FailedConversionLeavesNothingWhateverStandardOutput) {
  const std::pair<const char*, testplist::Bytes> inputs[] = {
      {"damaged", testplist::Bytes{'b', 'p', 'l', 'i', 's', 't', '0', '0', 0, 0, 0, 0}},
      {"unwritable top object", testutil::NullTop()},
      {"not a plist", testplist::Bytes(40, 'x')},
  };
  for (const auto& [name, bytes] : inputs) {
    SCOPED_TRACE(name);
    ScratchDir dir;
    WriteFile(dir.File("in.plist"), bytes);
    WriteFile(dir.File("out.xml"), std::string(testutil::kOldOutput));
    const std::vector<std::string> entries = {"in.plist", "out.xml"};
    // Python runs the program with SIGPIPE at its default action and with
    // standard output a pipe whose reader is already closed.
    RunResult r = RunTarnwick({"-c", dir.File("in.plist"), dir.File("out.xml")},
                              "python3 -c 'import os, subprocess, sys; r, w = os.pipe(); "
                              "os.close(r); sys.exit(subprocess.call(sys.argv[1:], stdout=w))'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(dir.Entries(), entries);
    EXPECT_EQ(ReadFile(dir.File("out.xml")), testutil::kOldOutput);
    std::string seen =
        Shell("'" TARNWICK_PATH "' -c '" + dir.File("in.plist") + "' '" + dir.File("out.xml") +
              "' | (IFS= read -r line; ls -A '" + dir.path() + "')");
    EXPECT_EQ(seen, "in.plist\nout.xml\n");
  }
}

// Regression: output names of 239 to 255 bytes failed, as the temporary
// file's name passed the file system's limit of 255.
TEST(Posix, LongestOutputNamesConvert) {
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

// Regression: an endless input was read whole before its signature was
// checked, until memory ran out; under -b, which takes any format, it
// still was. Now it is refused at once, and the output is left as it was:
// -b reads a stream of white space no further than its first 64 KiB.
TEST(Posix, EndlessInputIsRefusedAtOnce) {
  struct Row {
    const char* verb;
    const char* prelude;
    const char* input;
  };
  const Row table[] = {
      {"-c", "timeout 10", "/dev/zero"},
      {"-c", "yes | timeout 10", "/dev/stdin"},
      {"-c", "cat /dev/zero | timeout 10", "/dev/stdin"},
      {"-b", "timeout 10", "/dev/zero"},
      {"-b", "yes | timeout 10", "/dev/stdin"},
      {"-b", "yes ' ' | timeout 10", "/dev/stdin"},
  };
  for (const Row& row : table) {
    SCOPED_TRACE(std::string(row.verb) + " " + row.prelude);
    ScratchDir dir;
    WriteFile(dir.File("out.xml"), std::string("old"));
    RunResult r = RunTarnwick({row.verb, row.input, dir.File("out.xml")}, row.prelude);
    EXPECT_EQ(r.exitCode, 1);
    std::string refusal = std::string(row.verb) == "-b" ? " is not a property list!\r\n"
                                                        : " is not a binary plist!\r\n";
    EXPECT_EQ(r.output, std::string("File ") + row.input + refusal + "Error: Unable convert file " +
                            row.input + "\r\n");
    EXPECT_EQ(ReadFile(dir.File("out.xml")), "old");
  }
}

// Inputs are read into buffers sized to them: plain ones for small inputs,
// system pages for large ones, and for a pipe a buffer that grows from one
// kind to the other. Every size converts the same from a pipe as from the file.
TEST(Posix, PipedInputOfEverySizeMatchesTheFile) {
  // About 40 KB, 630 KB and 2.2 MB.
  for (size_t strings : {size_t(2000), size_t(30000), size_t(100000)}) {
    SCOPED_TRACE(strings);
    testplist::PlistBuilder b;
    b.refSize = 4;
    b.offsetSize = 4;
    std::vector<uint64_t> refs;
    for (size_t i = 0; i < strings; ++i) refs.push_back(b.Str("string " + std::to_string(i)));
    b.top = b.Array(refs);
    ScratchDir dir;
    const std::string in = dir.File("in.plist");
    WriteFile(in, b.Build());
    ASSERT_EQ(RunTarnwick({"-c", in, dir.File("file.xml")}).exitCode, 0);
    ASSERT_EQ(
        RunTarnwick({"-c", "/dev/stdin", dir.File("pipe.xml")}, "cat '" + in + "' |").exitCode, 0);
    std::string fromFile = ReadFile(dir.File("file.xml"));
    size_t lines = 0;
    for (size_t at = 0; (at = fromFile.find("<string>string ", at)) != std::string::npos; ++at)
      ++lines;
    EXPECT_EQ(lines, strings);
    EXPECT_TRUE(ReadFile(dir.File("pipe.xml")) == fromFile);
  }
}

// Regression: replacing another user's file as root left it owned by root.
// Owner, group and mode now stay.
TEST(Posix, ReplacedFileKeepsOwnerGroupAndMode) {
  if (Shell("id -u") != "0\n") GTEST_SKIP() << "needs root to give a file away";
  ScratchDir dir;
  const std::string in = dir.File("in.plist"), out = dir.File("out.xml");
  WriteFile(in, kSmallDict);
  WriteFile(out, std::string("old"));
  ASSERT_EQ(Shell("chown 1234:5678 '" + out + "' && chmod 640 '" + out + "' && echo ok"), "ok\n");
  EXPECT_EQ(RunTarnwick({"-c", in, out}).exitCode, 0);
  EXPECT_EQ(ReadFile(out), kSmallDictXml);
  EXPECT_EQ(Shell("stat -c %u:%g:%a '" + out + "'"), "1234:5678:640\n");
}

// A new output, alone or in a folder, has the mode any new file gets: its
// temporary file is made with it, under the umask, which other threads
// making folders meanwhile must not see changed.
TEST(Posix, NewOutputTakesTheModeOfANewFile) {
  const struct {
    const char* umask;
    const char* mode;
  } table[] = {{"022", "644"}, {"077", "600"}, {"002", "664"}};
  for (const auto& t : table) {
    SCOPED_TRACE(t.umask);
    ScratchDir dir;
    Shell("mkdir -p '" + dir.File("in/a") + "'");
    WriteFile(dir.File("in/a/x.plist"), kSmallDict);
    std::string umask = std::string("umask ") + t.umask + ";";
    ASSERT_EQ(RunTarnwick({"-c", dir.File("in/a/x.plist"), dir.File("one.xml")}, umask).exitCode,
              0);
    ASSERT_EQ(RunTarnwick({"-dc", dir.File("in"), dir.File("out")}, umask).exitCode, 0);
    for (const char* made : {"one.xml", "out/a/x.plist.xml"})
      EXPECT_EQ(Shell("stat -c %a '" + dir.File(made) + "'"), std::string(t.mode) + "\n") << made;
  }
}

// The document reaches the disk before it replaces an existing file (the
// input itself included), so a crash right after the rename cannot leave an
// empty file; a new file is not waited for. A large replacing document is
// sent on its way to the disk while it is written (sync_file_range), so the
// flush at the end has little to wait for. Seen through strace.
TEST(Posix, ReplacedFileIsFlushedBeforeTheRename) {
  if (Shell("command -v strace").empty()) GTEST_SKIP() << "needs strace";
  // 400,000 references to one string: a 1.6 MB file, a 16 MB document.
  testplist::PlistBuilder b;
  b.refSize = 4;
  b.offsetSize = 4;
  b.top = b.Array(std::vector<uint64_t>(400000, b.Str("a line of the document")));
  const testplist::Bytes large = b.Build();
  struct Case {
    const char* name;
    const char* output;  // in the scratch directory
    bool existing;       // a file is there before the conversion
    bool flushed;
    bool isLarge;  // the large input, whose writing starts write-back
  };
  const Case table[] = {
      {"new file", "out.xml", false, false, false},
      {"existing file", "out.xml", true, true, false},
      {"the input itself", "in.plist", true, true, false},
      {"large new file", "out.xml", false, false, true},
      {"large existing file", "out.xml", true, true, true},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    ScratchDir dir, side;
    WriteFile(dir.File("in.plist"), c.isLarge ? large : kSmallDict);
    if (c.existing && std::string(c.output) != "in.plist")
      WriteFile(dir.File(c.output), std::string("old"));
    const std::string trace = side.File("trace");
    // LeakSanitizer cannot run under ptrace, so it is turned off here.
    const std::string strace =
        "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0\" strace -f -qq "
        "-e trace=fsync,fdatasync,sync_file_range,rename,renameat,renameat2 -o '" +
        trace + "'";
    RunResult r = RunTarnwick({"-c", dir.File("in.plist"), dir.File(c.output)}, strace);
    EXPECT_EQ(r.exitCode, 0);
    if (!c.isLarge) {
      EXPECT_EQ(ReadFile(dir.File(c.output)), kSmallDictXml);
    }
    std::string calls = ReadFile(trace);
    size_t sync = calls.find("sync("), rename = calls.find("rename");
    size_t started = calls.find("sync_file_range(");
    ASSERT_NE(rename, std::string::npos) << calls;
    EXPECT_EQ(sync != std::string::npos, c.flushed) << calls;
    EXPECT_EQ(started != std::string::npos, c.flushed && c.isLarge) << calls;
    if (c.flushed) {
      EXPECT_LT(sync, rename) << calls;
    }
  }
}

// Runs the program on `in` and `out` in the background, with SIGINT and
// SIGQUIT at their default action (a shell starts background jobs with them
// ignored), sends it `signal` as soon as its temporary file appears beside
// `out`, and returns the shell's exit code: 128 + the signal when it ended
// the program, 0 when the program finished first.
int InterruptWhileWriting(const std::string& in, const std::string& out, const char* signal) {
  std::string dir = out.substr(0, out.rfind('/'));
  std::string script = "ulimit -c 0; env --default-signal=INT,QUIT '" TARNWICK_PATH "' -c '" + in +
                       "' '" + out +
                       "' >/dev/null &\n"
                       "pid=$!\n"
                       "while kill -0 $pid 2>/dev/null; do\n"
                       "  for f in '" +
                       dir +
                       "'/.out.xml.tarnwick-*; do\n"
                       "    [ -e \"$f\" ] && { kill -" +
                       signal +
                       " $pid; wait $pid; exit $?; }\n"
                       "  done\n"
                       "done\n"
                       "exit 0\n";
  int status = std::system(script.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Regression: a signal during a conversion left the temporary file (57 MB in
// one report). The handler removes it and the signal still ends the program;
// the old output stays.
TEST(Posix, SignalsRemoveTheTemporaryFile) {
  // Half a million references to one string: a 2 MB file, a 20 MB document.
  testplist::PlistBuilder b;
  b.refSize = 4;
  b.offsetSize = 4;
  b.top = b.Array(std::vector<uint64_t>(500000, b.Str("a line of the document")));
  const testplist::Bytes big = b.Build();
  // Regression: only INT, TERM, HUP and QUIT were handled; now every signal
  // that ends a process by default (the real-time ones too: 34 is SIGRTMIN).
  const std::pair<const char*, int> signals[] = {
      {"INT", 2},   {"TERM", 15}, {"HUP", 1},   {"QUIT", 3},    {"ABRT", 6},  {"USR1", 10},
      {"USR2", 12}, {"ALRM", 14}, {"XCPU", 24}, {"VTALRM", 26}, {"PROF", 27}, {"34", 34},
  };
  for (const auto& [name, number] : signals) {
    SCOPED_TRACE(name);
    ScratchDir dir;
    WriteFile(dir.File("in.plist"), big);
    WriteFile(dir.File("out.xml"), std::string("old"));
    // A run the program finishes before the signal proves nothing: retried.
    int code = 0;
    for (int attempt = 0; attempt < 5 && code == 0; ++attempt) {
      code = InterruptWhileWriting(dir.File("in.plist"), dir.File("out.xml"), name);
    }
    EXPECT_EQ(code, 128 + number);
    EXPECT_TRUE(ReadFile(dir.File("out.xml")) == "old");
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.plist", "out.xml"}));
  }
}

}  // namespace
