// Everything that touches the operating system: the process, standard
// output, files, memory pages, processors and error codes. One source file
// per platform implements it (PlatformPosix.cpp, PlatformWindows.cpp); the
// rest of the program sees only this header. Paths are UTF-8 throughout.
//
// Failed file operations raise the RuntimeFailure of RaiseInOutError with
// the system's own error code, which ClassifyError maps onto the report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace bplist::platform {

// ---- The process ---------------------------------------------------------

// Prepares the process before anything else runs: standard output in binary
// mode, a file-size limit turned into a failed write instead of a signal, and
// the handlers that remove a temporary file when the process is interrupted.
void PrepareProcess();

// The command-line arguments after the program's name, as UTF-8, whatever
// encoding the system handed them over in.
std::vector<std::string> Arguments(int argc, char** argv);

// The number of processors this process may run on; at least 1.
unsigned ProcessorCount();

// ---- Files and standard output ---------------------------------------------

// An open file: a descriptor on POSIX systems, a HANDLE on Windows.
using FileHandle = intptr_t;
// No file; a writer given it only counts what it is given.
constexpr FileHandle kNoFile = -1;

// The handle of standard output.
FileHandle StandardOutput();

// The handle under a C stream, for writing to a temporary file in tests.
FileHandle HandleOf(std::FILE* stream);

// Writes all of data[0, n) to `file`. A failed or stalled write raises the
// failure of "writing" `path` ("" names standard output).
void WriteAll(FileHandle file, const char* data, size_t n, const std::string& path);

// Writes a message line (its line end included) to standard output as the
// user reads it, ignoring errors: there is nowhere left to report them.
void WriteMessage(std::string_view line);

// ---- Error codes -----------------------------------------------------------

// The causes of failed file operations that the unhandled-error report names.
enum class FileError {
  kOther,  // none of the causes below
  kFileNotFound,
  kInvalidFilename,  // a directory on the path is missing, or the name is invalid
  kTooManyOpenFiles,
  kAccessDenied,  // also a file in use by another process
  kInvalidHandle,
  kDiskFull,  // also a file-size limit
};

// The cause that system error code `err`, met on `path`, stands for.
FileError ClassifyError(int err, const std::string& path);

// ---- The input -------------------------------------------------------------

// What the file system holds at a path, links followed.
enum class PathKind { kMissing, kDirectory, kRegularFile, kOther };

// What is at `path`; the empty path is missing.
PathKind KindOf(const std::string& path);

// Returned by InputHandle::Size for an input whose size is not known before
// it is read (a pipe, a device).
constexpr uint64_t kUnknownSize = UINT64_MAX;

// An input file open for reading, closed when the object goes.
class InputHandle {
 public:
  // Opens `path`; a failure raises the failure of "reading" it.
  explicit InputHandle(const std::string& path);
  ~InputHandle();
  InputHandle(const InputHandle&) = delete;
  InputHandle& operator=(const InputHandle&) = delete;

  // The size of a regular file when it was opened, or kUnknownSize.
  uint64_t Size() const { return size_; }

  // Reads at most `n` bytes into `into` and returns how many it read; 0 at
  // the end of the input. A failure raises the failure of "reading" it.
  size_t Read(uint8_t* into, size_t n);

 private:
  std::string path_;
  FileHandle file_ = kNoFile;
  uint64_t size_ = kUnknownSize;
};

// A block of at least `size` bytes straight from the system's pages, asking
// for large pages where the system has them: fewer address-cache misses when
// a large input is read in an order far from sequential. *granted receives
// the block's real size, which FreePages needs. Throws std::bad_alloc.
uint8_t* AllocatePages(size_t size, size_t* granted);
void FreePages(uint8_t* block, size_t granted);

// ---- The output ------------------------------------------------------------

// How the document for an output path reaches it.
struct OutputPlan {
  // True for standard output, a device, a pipe or a path naming a descriptor
  // the process has open: such an output cannot be taken back, so it is
  // written through in place once a dry run has passed. False for a regular
  // file, or nothing yet, which a complete document replaces atomically.
  bool inPlace = false;
  // What InPlaceOutput opens, or the file that TempFile replaces (symbolic
  // links followed, so a link stays and its target is replaced).
  std::string path;
};

// How to write to `output` ("" is standard output). A loop of links raises
// the failure of "resolving" it.
OutputPlan PlanOutput(const std::string& output);

// An output written in place, open for writing until the object goes.
class InPlaceOutput {
 public:
  // Opens the path of an in-place OutputPlan; failure raises the failure of
  // "opening" `reportAs`.
  InPlaceOutput(const std::string& path, const std::string& reportAs);
  ~InPlaceOutput();
  InPlaceOutput(const InPlaceOutput&) = delete;
  InPlaceOutput& operator=(const InPlaceOutput&) = delete;

  FileHandle handle() const { return file_; }

 private:
  FileHandle file_ = kNoFile;
  bool owned_ = false;  // closed when the object goes
};

// Temporary files that may exist at once and still be removed when the
// process is interrupted; a folder conversion runs no more files at once.
constexpr unsigned kMaxTempFiles = 64;

// A temporary file beside the file it will replace, removed unless it is put
// in place, and also when the process is interrupted (a signal, Ctrl-C or a
// closed console) while it exists.
class TempFile {
 public:
  // Creates the temporary file for `target`; a failure raises the failure
  // of "creating" `target`.
  explicit TempFile(const std::string& target);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  FileHandle handle() const { return file_; }

  // Closes the file and moves it over the target in one step, keeping the
  // replaced file's mode and, where permitted, its owner and group. The data
  // reaches the disk before the move when an existing file is replaced. A
  // failure raises the failure of the step, naming the target; the target
  // then stays as it was.
  void PutInPlace();

 private:
  std::string target_;
  std::string path_;
  FileHandle file_ = kNoFile;
  bool placed_ = false;
  int slot_ = -1;  // its place among the files an interruption removes
};

// ---- Folders -----------------------------------------------------------------

// The separator this system's paths show between folder names.
char FolderSeparator();

// What an entry of a folder is. A link to a file counts as the file; a link
// to a folder, or to nothing, is kOther, so that a walk never leaves the
// tree it was given and never loops.
enum class EntryKind { kFile, kFolder, kOther };

struct FolderEntry {
  std::string name;  // the entry's name alone, UTF-8
  EntryKind kind;
};

// The entries of folder `path` but "." and "..", in no particular order. A
// failure raises the failure of "reading" `path`.
std::vector<FolderEntry> ListFolder(const std::string& path);

// Creates folder `path` unless a folder is there already; its parent must
// exist. A failure raises the failure of "creating" `path`.
void MakeFolder(const std::string& path);

// `path` made absolute, with links resolved as far as it exists, in a form
// that equals another's exactly when the two name the same place (on
// Windows in upper case, as its file names compare).
std::string ComparablePath(const std::string& path);

// Whether standard error is a terminal, where a progress line may be shown.
bool ProgressShown();

// Writes `text` to standard error, ignoring errors.
void WriteProgress(std::string_view text);

}  // namespace bplist::platform
