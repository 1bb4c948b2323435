// Failures the conversion does not recover from: a failed file operation or
// exhausted memory. They unwind to the main program, which prints the
// unhandled-error report and ends the process with kRuntimeFailureExitCode.
#pragma once

#include <cstdint>
#include <string>

namespace bplist {

constexpr int kRuntimeFailureExitCode = 217;

struct RuntimeFailure {
  std::string ClassName;  // "EInOutError", "EOutOfMemory" or "Exception"
  std::string Message;    // e.g. "Disk Full"
  uintptr_t Address = 0;  // code address that raised it
  std::string Where;      // the operation and the file it concerned
  // The cause lies in the path alone ("Invalid filename": a name too long
  // or not allowed, a folder on the path missing or a file), not in the
  // file system as a whole.
  bool InvalidName = false;
};

// Throws the RuntimeFailure for a failed file operation. `err` is the
// system's error code (errno, or GetLastError on Windows), `operation` a
// verb phrase ("writing"), `path` the file concerned.
[[noreturn]] void RaiseInOutError(int err, const char* operation, const std::string& path);

// The failure reported when memory runs out.
RuntimeFailure OutOfMemory();

// The lines of the unhandled-error report for `failure`, each with its
// line end.
std::string RuntimeFailureReport(const RuntimeFailure& failure);

// Prints the unhandled-error report for `failure` on standard output.
void PrintRuntimeFailureReport(const RuntimeFailure& failure);

// Writes `text` and CR LF to standard output, unbuffered, ignoring errors:
// there is nowhere left to report a failing standard output.
void PrintLine(const std::string& text);

}  // namespace bplist
