#include "bplist/RuntimeFailure.h"

#include <cstdio>

#include "bplist/CallerAddress.h"
#include "bplist/Platform.h"

namespace bplist {

namespace {

// File-error codes of the report and their messages.
struct FileErrorText {
  int code;
  const char* message;
};

// The report's code and message for `cause`; code 0 for kOther.
FileErrorText TextOf(platform::FileError cause) {
  switch (cause) {
    case platform::FileError::kFileNotFound:
      return {2, "File not found"};
    case platform::FileError::kInvalidFilename:
      return {3, "Invalid filename"};
    case platform::FileError::kTooManyOpenFiles:
      return {4, "Too many open files"};
    case platform::FileError::kAccessDenied:
      return {5, "Access denied"};
    case platform::FileError::kInvalidHandle:
      return {6, "Invalid file handle"};
    case platform::FileError::kDiskFull:
      return {101, "Disk Full"};
    case platform::FileError::kOther:
      break;
  }
  return {0, nullptr};
}

std::string Hex8(uintptr_t address) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08X", unsigned(address & 0xFFFFFFFFu));
  return buf;
}

}  // namespace

TARNWICK_NOINLINE void RaiseInOutError(int err, const char* operation, const std::string& path) {
  RuntimeFailure f;
  f.Address = TARNWICK_CALLER_ADDRESS();
  f.Where = std::string(operation) + " " + (path.empty() ? "standard output" : path);
  platform::FileError cause = platform::ClassifyError(err, path);
  f.InvalidName = cause == platform::FileError::kInvalidFilename;
  FileErrorText e = TextOf(cause);
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

TARNWICK_NOINLINE RuntimeFailure OutOfMemory() {
  RuntimeFailure f;
  f.ClassName = "EOutOfMemory";
  f.Message = "Out of memory";
  f.Address = TARNWICK_CALLER_ADDRESS();
  f.Where = "allocating memory";
  return f;
}

std::string RuntimeFailureReport(const RuntimeFailure& failure) {
  std::string at = "$" + Hex8(failure.Address);
  return "An unhandled exception occurred at " + at + " :\r\n" + failure.ClassName + " : " +
         failure.Message + "\r\n  " + at + "  while " + failure.Where + "\r\n\r\n";
}

void PrintRuntimeFailureReport(const RuntimeFailure& failure) {
  platform::WriteMessage(RuntimeFailureReport(failure));
}

void PrintLine(const std::string& text) {
  platform::WriteMessage(text + "\r\n");
}

}  // namespace bplist
