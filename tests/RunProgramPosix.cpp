#include <sys/wait.h>

#include <cstdio>

#include "RunProgram.h"

namespace testutil {

const bool kPosixShell = true;

namespace {

// `text` as one single-quoted shell word.
std::string ShellWord(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& prelude) {
  std::string cmd = prelude + " " + ShellWord(program);
  for (const std::string& a : args) cmd += " " + ShellWord(a);
  RunResult r;
  FILE* p = popen(cmd.c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  int status = pclose(p);
  if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  return r;
}

}  // namespace testutil
