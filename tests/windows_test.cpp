// What only Windows has: wide file names with either separator, standard
// output in binary mode, read-only and locked outputs, and the NUL device.
#include <windows.h>
//
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TestUtil.h"

namespace {

using testutil::ReadFile;
using testutil::RunResult;
using testutil::RunTarnwick;
using testutil::ScratchDir;
using testutil::WriteFile;

using testutil::kOldOutput;
using testutil::kSmallDict;
using testutil::kSmallDictXml;

std::wstring Wide(const std::string& path) {
  return testutil::U8(path).wstring();
}

// Names in UTF-8, folders separated by either slash, both as given to the
// program and in its messages; a folder so deep that the temporary file's
// path passes the 260 characters of the plain Win32 calls.
TEST(Windows, WidePathsWithEitherSeparator) {
  const std::string deep(200, 'd');
  const std::vector<std::pair<std::string, std::string>> table = {
      {"café.plist", "café.xml"},
      {"日本語\\設定.plist", "日本語/設定.xml"},
      {"日本語/設定.plist", "日本語\\出力.xml"},
      {deep + "\\in.plist", deep + "\\out.xml"},
  };
  for (const auto& [in, out] : table) {
    SCOPED_TRACE(in + " -> " + out);
    ScratchDir dir;
    testutil::fs::create_directories(testutil::U8(dir.File(in)).parent_path());
    WriteFile(dir.File(in), kSmallDict);
    RunResult r = RunTarnwick({"-c", dir.path() + "\\" + in, dir.path() + "\\" + out});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(ReadFile(dir.File(out)), kSmallDictXml);
  }
  const std::string missing = "日本語\\ない.plist";
  RunResult r = RunTarnwick({"-c", missing, "out.xml"});
  EXPECT_EQ(r.output,
            "File " + missing + " not found!\r\nError: Unable convert file " + missing + "\r\n");
}

// Standard output takes the document and the messages byte for byte: every
// line ends with one CR LF, never CR CR LF.
TEST(Windows, StandardOutputIsBinary) {
  ScratchDir dir;
  WriteFile(dir.File("in.plist"), kSmallDict);
  RunResult r = RunTarnwick({"-c", dir.File("in.plist"), ""});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, kSmallDictXml);
  r = RunTarnwick({"-about"});
  EXPECT_EQ(r.output.find("\r\r"), std::string::npos);
  EXPECT_EQ(r.output.substr(r.output.size() - 2), "\r\n");
}

// The NUL device is written in place, whatever its case, and nothing is
// created beside the input.
TEST(Windows, NulDeviceIsWrittenInPlace) {
  for (const char* device : {"NUL", "nul"}) {
    SCOPED_TRACE(device);
    ScratchDir dir;
    WriteFile(dir.File("in.plist"), kSmallDict);
    RunResult r = RunTarnwick({"-c", dir.File("in.plist"), device});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.plist"});
  }
}

// Outputs that cannot be replaced: the unhandled-error report with the
// message for the cause and exit code 217, the old output as it was and no
// temporary file left.
TEST(Windows, OutputsThatCannotBeReplaced) {
  struct Case {
    const char* name;
    const char* output;   // inside the scratch directory
    DWORD attributes;     // given to out.xml; 0 for none
    bool locked;          // out.xml held open with no sharing during the run
    const char* message;  // of the report's second line
  };
  const Case table[] = {
      {"read-only output", "out.xml", FILE_ATTRIBUTE_READONLY, false, "Access denied"},
      {"locked output", "out.xml", 0, true, "Access denied"},
      {"missing folder", "missing\\out.xml", 0, false, "Invalid filename"},
  };
  for (const Case& c : table) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    WriteFile(dir.File("in.plist"), kSmallDict);
    WriteFile(dir.File("out.xml"), std::string(kOldOutput));
    const std::wstring out = Wide(dir.File("out.xml"));
    if (c.attributes != 0) {
      ASSERT_TRUE(SetFileAttributesW(out.c_str(), c.attributes));
    }
    HANDLE lock = c.locked ? CreateFileW(out.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr)
                           : INVALID_HANDLE_VALUE;
    ASSERT_EQ(c.locked, lock != INVALID_HANDLE_VALUE);
    RunResult r = RunTarnwick({"-c", dir.File("in.plist"), dir.File(c.output)});
    if (lock != INVALID_HANDLE_VALUE) CloseHandle(lock);
    SetFileAttributesW(out.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(r.exitCode, 217);
    EXPECT_EQ(r.output.rfind("An unhandled exception occurred at $", 0), 0u) << r.output;
    EXPECT_NE(r.output.find(" :\r\nEInOutError : " + std::string(c.message) + "\r\n"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(ReadFile(dir.File("out.xml")), kOldOutput);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.plist", "out.xml"}));
  }
}

// The program is linked large-address-aware, so that as a 32-bit program on
// 64-bit Windows it may use 4 GiB: the flag read from its PE header by hand.
TEST(Windows, ProgramIsLargeAddressAware) {
  const std::string exe = ReadFile(TARNWICK_PATH);
  auto little = [&](size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | uint8_t(exe.at(at + size_t(i)));
    return v;
  };
  const size_t pe = little(0x3C, 4);  // e_lfanew: where the PE signature is
  ASSERT_EQ(exe.substr(pe, 4), std::string("PE\0\0", 4));
  const uint32_t characteristics = little(pe + 4 + 18, 2);  // after the machine and 5 fields
  EXPECT_NE(characteristics & 0x0020, 0u) << std::hex << characteristics;
}

// A file larger than a 32-bit program's address space ends with the report of
// a runtime failure (out of memory), not a crash or a wrong document. The
// file is sparse where the system allows it (Wine on Linux).
TEST(Windows, FileBeyondTheAddressSpaceIsARuntimeFailure) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "only a 32-bit program cannot hold it";
  ScratchDir dir;
  const std::string in = dir.File("in.plist");
  WriteFile(in, std::string("bplist00"));
  HANDLE h = CreateFileW(Wide(in).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  LARGE_INTEGER size;
  size.QuadPart = (int64_t(4) << 30) + 64;  // 4 GiB and a little more
  EXPECT_TRUE(SetFilePointerEx(h, size, nullptr, FILE_BEGIN) && SetEndOfFile(h));
  CloseHandle(h);
  RunResult r = RunTarnwick({"-c", in, dir.File("out.xml")});
  EXPECT_EQ(r.exitCode, 217);
  EXPECT_NE(r.output.find("EOutOfMemory : Out of memory"), std::string::npos) << r.output;
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.plist"});
}

}  // namespace
