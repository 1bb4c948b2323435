#include <windows.h>

#include "RunProgram.h"

namespace testutil {

const bool kPosixShell = false;

namespace {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &wide[0], n);
  return wide;
}

// `arg` quoted so that CommandLineToArgvW and the C runtime give it back
// unchanged: backslashes are doubled only before a double quote.
std::wstring Quote(const std::wstring& arg) {
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

// Times a failed process start is tried before the run counts as failed.
constexpr int kStartAttempts = 3;

struct HandleCloser {
  HANDLE h;
  ~HandleCloser() {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

}  // namespace

RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& prelude) {
  RunResult r;
  if (!prelude.empty()) {
    r.output = "a shell prelude needs a POSIX shell: " + prelude;
    return r;
  }
  std::wstring cmd = Quote(Widen(program));
  for (const std::string& a : args) cmd += L" " + Quote(Widen(a));
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return r;
  HandleCloser readCloser{readEnd}, writeCloser{writeEnd};
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = writeEnd;
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  // Under Wine a process start now and then fails for no reason of the
  // program's; a few tries keep such a failure out of the results.
  PROCESS_INFORMATION pi{};
  bool started = false;
  for (int attempt = 0; attempt < kStartAttempts && !started; ++attempt) {
    if (attempt > 0) Sleep(100);
    started = CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                             &pi) != 0;
  }
  if (!started) return r;
  HandleCloser process{pi.hProcess}, thread{pi.hThread};
  CloseHandle(writeEnd);
  writeCloser.h = nullptr;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(readEnd, buf, sizeof buf, &got, nullptr) && got > 0) r.output.append(buf, got);
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  if (GetExitCodeProcess(pi.hProcess, &code)) r.exitCode = int(code);
  return r;
}

}  // namespace testutil
