// Running a program as a user would and capturing what it prints; one
// implementation per platform.
#pragma once

#include <string>
#include <vector>

namespace testutil {

struct RunResult {
  int exitCode = -1;   // -1 when the program did not exit normally
  std::string output;  // everything it printed on standard output
};

// True where RunProgram runs a POSIX shell, which takes a prelude.
extern const bool kPosixShell;

// Runs `program` with `args` (UTF-8) and captures its standard output.
// `prelude` is POSIX shell text run before it in the same shell (ulimit, a
// pipe into it); on Windows it must be empty.
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& prelude);

}  // namespace testutil
