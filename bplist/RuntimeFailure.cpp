#include "bplist/RuntimeFailure.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace bplist {

namespace {

// File-error codes of the report and their messages.
struct FileError {
  int code;
  const char* message;
};
constexpr FileError kFileNotFound{2, "File not found"};
constexpr FileError kInvalidFilename{3, "Invalid filename"};
constexpr FileError kTooManyOpenFiles{4, "Too many open files"};
constexpr FileError kAccessDenied{5, "Access denied"};
constexpr FileError kInvalidHandle{6, "Invalid file handle"};
constexpr FileError kDiskFull{101, "Disk Full"};

// True when the directory part of `path` does not exist, so a missing file
// is really a missing directory.
bool DirectoryMissing(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return false;
  std::string dir = slash == 0 ? "/" : path.substr(0, slash);
  struct stat st;
  return stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
}

// Maps an errno value onto the report's file errors; code is 0 when none fits.
FileError Classify(int err, const std::string& path) {
  switch (err) {
    case ENOENT:
      return DirectoryMissing(path) ? kInvalidFilename : kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
      return kInvalidFilename;
    case EMFILE:
    case ENFILE:
      return kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EBUSY:
    case EISDIR:
      return kAccessDenied;
    case EBADF:
      return kInvalidHandle;
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return kDiskFull;
  }
  return {0, nullptr};
}

std::string Hex8(uintptr_t address) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", unsigned(address & 0xFFFFFFFFu));
  return buf;
}

}  // namespace

__attribute__((noinline)) void RaiseInOutError(int err, const char* operation,
                                               const std::string& path) {
  RuntimeFailure f;
  f.Address = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  f.Where = std::string(operation) + " " + (path.empty() ? "standard output" : path);
  FileError e = Classify(err, path);
  if (e.message != nullptr) {
    f.ClassName = "EInOutError";
    f.Message = e.message;
  } else {
    char code[16];
    std::snprintf(code, sizeof code, "%03d", err);
    f.ClassName = "Exception";
    f.Message = std::string("Unknown Run-Time error : ") + code;
  }
  throw f;
}

RuntimeFailure OutOfMemory() {
  RuntimeFailure f;
  f.ClassName = "EOutOfMemory";
  f.Message = "Out of memory";
  f.Address = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  f.Where = "allocating memory";
  return f;
}

void PrintRuntimeFailureReport(const RuntimeFailure& failure) {
  std::string at = "$" + Hex8(failure.Address);
  PrintLine("An unhandled exception occurred at " + at + " :");
  PrintLine(failure.ClassName + " : " + failure.Message);
  PrintLine("  " + at + "  while " + failure.Where);
  PrintLine("");
}

void PrintLine(const std::string& text) {
  std::string line = text + "\r\n";
  const char* p = line.data();
  size_t n = line.size();
  while (n > 0) {
    ssize_t done = ::write(STDOUT_FILENO, p, n);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return;
    p += done;
    n -= size_t(done);
  }
}

}  // namespace bplist
