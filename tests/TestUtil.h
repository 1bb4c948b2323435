// Helpers shared by the tests: a scratch directory, file I/O and running the
// tarnwick program as a user would.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "PlistBuilder.h"
#include "RunProgram.h"
#include "bplist/Convert.h"
#include "bplist/Parallelism.h"
#include "bplist/Platform.h"

namespace testutil {

namespace fs = std::filesystem;

// The dictionary {"a": 1} and its document, for tests about files and paths
// rather than about the conversion itself.
inline const testplist::Bytes kSmallDict = [] {
  testplist::PlistBuilder b;
  b.top = b.Dict({{b.Str("a"), b.Int(1)}});
  return b.Build();
}();
inline const std::string kSmallDictXml = testplist::Document(
    {"    <dict>", "        <key>a</key>", "        <integer>1</integer>", "    </dict>"});

// A well-formed file whose top object is null, which cannot be converted.
inline testplist::Bytes NullTop() {
  testplist::PlistBuilder b;
  b.Raw({0x00});
  return b.Build();
}

// The bytes an output file holds before a conversion that must not touch it.
inline constexpr char kOldOutput[] = "old output, must survive\n";

// The file-system path for a UTF-8 path text, on every platform.
inline fs::path U8(const std::string& path) {
  return fs::u8path(path);
}

// A fresh directory in the system's temporary directory, removed with its
// contents when the object goes.
class ScratchDir {
 public:
  ScratchDir() {
    static std::mt19937_64 random{std::random_device{}()};
    std::error_code ec;
    fs::path base = fs::temp_directory_path();
    do {
      path_ = (base / ("tarnwick-test-" + std::to_string(random() % 1000000000))).u8string();
    } while (!fs::create_directory(U8(path_), ec) && !ec);
    EXPECT_FALSE(ec) << ec.message();
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(U8(path_), ec);
  }
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  // Names of the entries in the directory, sorted.
  std::vector<std::string> Entries() const;

 private:
  std::string path_;
};

inline void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(U8(path), std::ios::binary) << bytes;
}
inline void WriteFile(const std::string& path, const testplist::Bytes& bytes) {
  WriteFile(path, std::string(bytes.begin(), bytes.end()));
}
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(U8(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
// True when something (a link included) is at `path`.
inline bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::symlink_status(U8(path), ec).type() != fs::file_type::not_found && !ec;
}

// Runs tarnwick with `args` and captures its standard output. `prelude` is
// shell text run before it in the same shell (ulimit and the like; POSIX
// only).
inline RunResult RunTarnwick(const std::vector<std::string>& args,
                             const std::string& prelude = "") {
  return RunProgram(TARNWICK_PATH, args, prelude);
}

// Writes `plist` to a scratch file, converts it with tarnwick, and returns
// the run's result; *xml receives the output file's bytes ("" when none).
inline RunResult ConvertBytes(const testplist::Bytes& plist, std::string* xml) {
  ScratchDir dir;
  WriteFile(dir.File("in.plist"), plist);
  RunResult r = RunTarnwick({"-c", dir.File("in.plist"), dir.File("out.xml")});
  *xml = Exists(dir.File("out.xml")) ? ReadFile(dir.File("out.xml")) : "";
  return r;
}

using Lines = std::vector<std::string>;

// `text` indented by `n` spaces.
inline std::string Ln(int n, const std::string& text) {
  return std::string(n, ' ') + text;
}

// Converts `plist` and expects success, no message and exactly `body`
// between the prologue and "</plist>".
inline void ExpectConverts(const testplist::Bytes& plist, const Lines& body) {
  std::string xml;
  RunResult r = ConvertBytes(plist, &xml);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(xml, testplist::Document(body));
}

// Converts `plist` and expects a failed object: exit code 1, the failure
// line alone (the file is not damaged), and nothing left in the directory.
inline void ExpectFails(const testplist::Bytes& plist) {
  ScratchDir dir;
  const std::string in = dir.File("in.plist");
  WriteFile(in, plist);
  RunResult r = RunTarnwick({"-c", in, dir.File("out.xml")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.output, "Error: Unable convert file " + in + "\r\n");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"in.plist"});
}

// A file open for reading and writing in a scratch directory of its own.
// std::tmpfile is avoided: Windows runtimes create it in the root of the
// current drive, which may be unwritable or shared with other processes.
class ScratchStream {
 public:
  ScratchStream() : file_(std::fopen(dir_.File("stream").c_str(), "w+b")) {
    if (!file_) throw std::runtime_error("cannot create a scratch file in " + dir_.path());
  }
  ~ScratchStream() { std::fclose(file_); }
  ScratchStream(const ScratchStream&) = delete;
  ScratchStream& operator=(const ScratchStream&) = delete;

  bplist::platform::FileHandle handle() const { return bplist::platform::HandleOf(file_); }
  // Everything written so far, from the start of the file.
  std::string Contents() const {
    std::rewind(file_);
    std::string bytes;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) bytes.append(buf, n);
    return bytes;
  }

 private:
  ScratchDir dir_;
  FILE* file_;
};

// What a conversion in memory gave: the outcome, the damage reason and the
// document written ("" unless converted).
struct MemoryResult {
  bplist::Outcome outcome = bplist::Outcome::Failed;
  std::string reason;
  std::string xml;
};

// Converts `file` in-process with the given use of threads, limits and
// format; with `unarchive`, a keyed archive as the object graph it encodes.
inline MemoryResult ConvertWith(const testplist::Bytes& file,
                                const bplist::Parallelism& parallel = bplist::Parallelism(),
                                const bplist::Limits& limits = bplist::Limits(),
                                bplist::OutputFormat format = bplist::OutputFormat::Xml,
                                bool unarchive = false, bool sorted = false) {
  MemoryResult m;
  ScratchStream stream;
  {
    bplist::OutputBuffer out(stream.handle(), "");
    bplist::ConvertResult r = bplist::ConvertBuffer(file.data(), file.size(), out, parallel, limits,
                                                    format, unarchive, false, sorted);
    out.Flush();
    m.outcome = r.outcome;
    m.reason = r.reason;
  }
  if (m.outcome == bplist::Outcome::Converted) m.xml = stream.Contents();
  return m;
}

// Ways of splitting containers across threads that a small file can reach:
// every container of two or more elements is split, into batches from one
// element up, some of them outgrowing the memory a batch may hold.
inline std::vector<std::pair<std::string, bplist::Parallelism>> SplittingTunings() {
  auto tuning = [](unsigned threads, uint64_t first, uint64_t bytes, uint64_t limit) {
    bplist::Parallelism p;
    p.Threads = threads;
    p.MinInput = 0;
    p.MinElements = 2;
    p.MinWork = 0;
    p.StopWhenSlower = false;
    p.FirstBatch = first;
    p.BatchBytes = bytes;
    p.BatchLimit = limit;
    return p;
  };
  return {
      {"2 threads, one-element batches", tuning(2, 1, 1, uint64_t(1) << 30)},
      {"3 threads, batches over a 300-byte limit", tuning(3, 3, 200, 300)},
      {"4 threads, 4 KiB batches", tuning(4, 2, 4096, uint64_t(1) << 20)},
      {"2 threads, 1 MiB batches", tuning(2, 64, uint64_t(1) << 20, uint64_t(1) << 30)},
  };
}

// Converts `file` on one thread and on several with every splitting tuning;
// expects the same outcome, reason and document from each, and returns the
// single thread's. With `sorted`, dictionary keys are sorted (-s).
inline MemoryResult ExpectSameOnThreads(const testplist::Bytes& file,
                                        const bplist::Limits& limits = bplist::Limits(),
                                        bplist::OutputFormat format = bplist::OutputFormat::Xml,
                                        bool sorted = false) {
  MemoryResult single = ConvertWith(file, bplist::Parallelism(), limits, format, false, sorted);
  for (const auto& [name, parallel] : SplittingTunings()) {
    SCOPED_TRACE(name);
    MemoryResult split = ConvertWith(file, parallel, limits, format, false, sorted);
    EXPECT_EQ(int(split.outcome), int(single.outcome));
    EXPECT_EQ(split.reason, single.reason);
    EXPECT_TRUE(split.xml == single.xml) << "the documents differ";
  }
  return single;
}

// Names in directory `dir`, sorted, without "." and "..".
inline std::vector<std::string> NamesIn(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(U8(dir), ec))
    names.push_back(e.path().filename().u8string());
  std::sort(names.begin(), names.end());
  return names;
}

inline std::vector<std::string> ScratchDir::Entries() const {
  return NamesIn(path_);
}

// Paths of the regular files directly inside `dir`, sorted by name.
inline std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> paths;
  for (const std::string& name : NamesIn(dir)) {
    std::string path = dir + "/" + name;
    std::error_code ec;
    if (fs::is_regular_file(U8(path), ec)) paths.push_back(path);
  }
  return paths;
}

// Reads a whole file as bytes.
inline testplist::Bytes ReadBytes(const std::string& path) {
  std::string s = ReadFile(path);
  return testplist::Bytes(s.begin(), s.end());
}

}  // namespace testutil
