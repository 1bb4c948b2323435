// The platform seam on Windows: UTF-16 arguments and wide file names,
// standard output in binary mode, messages in UTF-16 on a console, and the
// output replaced by a move from a temporary file beside it.
// windows.h comes first: the other system headers build on it.
#include <windows.h>
//
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <new>

#include "bplist/Platform.h"
#include "bplist/RuntimeFailure.h"

namespace bplist::platform {

namespace {

// Longest path the plain Win32 calls take; longer ones are made absolute and
// given the "\\?\" prefix, which lifts the limit.
constexpr size_t kPlainPathLimit = MAX_PATH - 1;
// Random names tried for a temporary file before giving up.
constexpr int kTempNameTries = 100;
// Most bytes handed to one ReadFile or WriteFile call (their count is 32-bit).
constexpr size_t kMaxTransfer = size_t(1) << 30;
// Blocks from AllocatePages are multiples of this, Windows' allocation
// granularity.
constexpr size_t kAllocationGranularity = size_t(64) << 10;
// Longest UTF-8 sequence, and so the most bytes held back between two console
// writes when a write ends inside a character.
constexpr size_t kMaxUtf8Sequence = 4;

HANDLE Handle(FileHandle file) {
  return reinterpret_cast<HANDLE>(file);
}
FileHandle Handle(HANDLE h) {
  return reinterpret_cast<FileHandle>(h);
}

std::wstring Widen(std::string_view text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  std::wstring wide(size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &wide[0], n);
  return wide;
}

std::string Narrow(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string utf8(size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], n, nullptr, nullptr);
  utf8.resize(size_t(n - 1));
  return utf8;
}

// The wide path the system calls take for UTF-8 `path`; a path too long for
// them is made absolute and given the long-path prefix.
std::wstring SystemPath(const std::string& path) {
  std::wstring wide = Widen(path);
  if (wide.size() <= kPlainPathLimit || wide.rfind(L"\\\\?\\", 0) == 0) return wide;
  DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return wide;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(wide.c_str(), n, &full[0], nullptr);
  full.resize(n);
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// The folder part of a path, with its last separator or drive colon ("" for
// none).
std::string FolderOf(const std::string& path) {
  size_t end = path.find_last_of("\\/:");
  return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

// True for a name the system resolves to a device rather than a file: NUL,
// CON, COM1 (also as "nul.txt" or in any folder), \\.\pipe\... and the like.
bool IsDeviceName(const std::wstring& path) {
  wchar_t full[MAX_PATH];
  DWORD n = GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
  return n > 0 && n < MAX_PATH && std::wcsncmp(full, L"\\\\.\\", 4) == 0;
}

bool IsConsole(HANDLE h) {
  DWORD mode;
  return GetFileType(h) == FILE_TYPE_CHAR && GetConsoleMode(h, &mode);
}

// Bytes of the incomplete last character of what was sent to the console,
// kept until the rest of it arrives.
std::string pendingConsoleBytes;

// Length of the longest prefix of data[0, n) that ends on a character
// boundary of UTF-8.
size_t WholeCharacters(const char* data, size_t n) {
  size_t start = n;
  while (start > 0 && n - start < kMaxUtf8Sequence - 1 &&
         (static_cast<unsigned char>(data[start - 1]) & 0xC0) == 0x80) {
    --start;
  }
  if (start == 0) return n;
  unsigned char lead = static_cast<unsigned char>(data[start - 1]);
  size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  return n - (start - 1) < need ? start - 1 : n;
}

// Shows UTF-8 text on a console as UTF-16, whatever its code page. Returns
// false when the console refuses it.
bool WriteConsoleUtf8(HANDLE console, const char* data, size_t n) {
  std::string text = pendingConsoleBytes + std::string(data, n);
  size_t whole = WholeCharacters(text.data(), text.size());
  pendingConsoleBytes = text.substr(whole);
  std::wstring wide = Widen(std::string_view(text.data(), whole));
  const wchar_t* p = wide.data();
  size_t left = wide.size();
  while (left > 0) {
    DWORD chunk = DWORD(left < kMaxTransfer ? left : kMaxTransfer), done = 0;
    if (!WriteConsoleW(console, p, chunk, &done, nullptr) || done == 0) return false;
    p += done;
    left -= done;
  }
  return true;
}

// Writes all of data[0, n) to `h`; false with the system's error code set
// when a write fails. A console gets the text as UTF-16.
bool WriteBytes(HANDLE h, const char* data, size_t n) {
  if (IsConsole(h)) return WriteConsoleUtf8(h, data, n);
  while (n > 0) {
    DWORD chunk = DWORD(n < kMaxTransfer ? n : kMaxTransfer), done = 0;
    if (!WriteFile(h, data, chunk, &done, nullptr)) return false;
    if (done == 0) {
      SetLastError(ERROR_DISK_FULL);
      return false;
    }
    data += done;
    n -= done;
  }
  return true;
}

// The temporary files that an interruption must remove: their wide paths
// while they exist and are not yet in place, a free slot null. The lock
// keeps the console-event thread and PutInPlace from acting on one at once.
SRWLOCK tempLock = SRWLOCK_INIT;
std::wstring* liveTemps[kMaxTempFiles] = {};

// Runs on a thread of its own on Ctrl-C, Ctrl-Break or the closing of the
// console: removes the temporary file (it was opened so that it may be
// deleted while open) and ends the process with the status of a program that
// Ctrl-C ended. It does so itself, since Wine's default handler ends it with
// 0, as if it had converted. The lock stays held, so PutInPlace cannot move
// the file meanwhile; TerminateProcess rather than ExitProcess, which would
// run the runtime's exit code while other threads may hold its locks.
BOOL WINAPI OnConsoleEvent(DWORD) {
  AcquireSRWLockExclusive(&tempLock);
  for (std::wstring* live : liveTemps)
    if (live != nullptr) DeleteFileW(live->c_str());
  TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return TRUE;
}

// Registers `path` for removal on an interruption and returns its slot, or
// -1 when every slot is taken (the path is then not registered).
int SetLiveTemp(std::wstring* path) {
  AcquireSRWLockExclusive(&tempLock);
  int slot = -1;
  for (unsigned i = 0; i < kMaxTempFiles && slot < 0; ++i)
    if (liveTemps[i] == nullptr) slot = int(i);
  if (slot >= 0) liveTemps[slot] = path;
  ReleaseSRWLockExclusive(&tempLock);
  return slot;
}

// Eight hexadecimal digits that differ between calls and processes.
std::string RandomSuffix() {
  static std::atomic<unsigned> counter{0};
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  uint64_t x = uint64_t(now.QuadPart) ^ (uint64_t(GetCurrentProcessId()) << 32) ^ ++counter;
  x *= 0x9E3779B97F4A7C15u;  // spreads the changing low bits over the digits
  std::string digits(8, '0');
  for (int i = 0; i < 8; ++i) digits[size_t(i)] = "0123456789abcdef"[(x >> (60 - 4 * i)) & 0xF];
  return digits;
}

}  // namespace

// ---- The process ---------------------------------------------------------

void PrepareProcess() {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  _setmode(_fileno(stdout), _O_BINARY);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

std::vector<std::string> Arguments(int, char**) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return args;
  for (int i = 1; i < count; ++i) args.push_back(Narrow(wide[i]));
  LocalFree(wide);
  return args;
}

unsigned ProcessorCount() {
  DWORD_PTR process = 0, system = 0;
  unsigned n = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system)) {
    for (; process != 0; process &= process - 1) ++n;
  }
  if (n == 0) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    n = unsigned(info.dwNumberOfProcessors);
  }
  return n > 0 ? n : 1;
}

// ---- Files and standard output ---------------------------------------------

FileHandle StandardOutput() {
  return Handle(GetStdHandle(STD_OUTPUT_HANDLE));
}

FileHandle HandleOf(std::FILE* stream) {
  return FileHandle(_get_osfhandle(_fileno(stream)));
}

void WriteAll(FileHandle file, const char* data, size_t n, const std::string& path) {
  if (!WriteBytes(Handle(file), data, n)) RaiseInOutError(int(GetLastError()), "writing", path);
}

void WriteMessage(std::string_view line) {
  WriteBytes(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), line.size());
}

// ---- Error codes -----------------------------------------------------------

FileError ClassifyError(int err, const std::string&) {
  switch (DWORD(err)) {
    case ERROR_FILE_NOT_FOUND:
      return FileError::kFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
    case ERROR_BAD_NETPATH:
      return FileError::kInvalidFilename;
    case ERROR_TOO_MANY_OPEN_FILES:
      return FileError::kTooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
    case ERROR_DELETE_PENDING:
      return FileError::kAccessDenied;
    case ERROR_INVALID_HANDLE:
      return FileError::kInvalidHandle;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_FILE_TOO_LARGE:
      return FileError::kDiskFull;
  }
  return FileError::kOther;
}

// ---- The input -------------------------------------------------------------

PathKind KindOf(const std::string& path) {
  if (path.empty()) return PathKind::kMissing;
  if (IsDeviceName(SystemPath(path))) return PathKind::kOther;
  // Opened for no access at all, which neither a lock nor a device refuses,
  // links followed; a folder needs the backup-semantics flag to be opened.
  HANDLE h = CreateFileW(SystemPath(path).c_str(), 0,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kMissing;
    return attributes & FILE_ATTRIBUTE_DIRECTORY ? PathKind::kDirectory : PathKind::kRegularFile;
  }
  PathKind kind = PathKind::kOther;
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info)) {
    kind = info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? PathKind::kDirectory
                                                            : PathKind::kRegularFile;
  }
  CloseHandle(h);
  return kind;
}

InputHandle::InputHandle(const std::string& path) : path_(path) {
  HANDLE h = CreateFileW(SystemPath(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) RaiseInOutError(int(GetLastError()), "reading", path);
  file_ = Handle(h);
  LARGE_INTEGER size;
  if (GetFileType(h) == FILE_TYPE_DISK && GetFileSizeEx(h, &size)) size_ = uint64_t(size.QuadPart);
}

InputHandle::~InputHandle() {
  CloseHandle(Handle(file_));
}

size_t InputHandle::Read(uint8_t* into, size_t n) {
  DWORD got = 0;
  if (ReadFile(Handle(file_), into, DWORD(n < kMaxTransfer ? n : kMaxTransfer), &got, nullptr)) {
    return got;
  }
  DWORD err = GetLastError();
  if (err == ERROR_BROKEN_PIPE || err == ERROR_HANDLE_EOF) return 0;  // the writer closed it
  RaiseInOutError(int(err), "reading", path_);
}

uint8_t* AllocatePages(size_t size, size_t* granted) {
  size_t length = (size + kAllocationGranularity - 1) & ~(kAllocationGranularity - 1);
  if (length < size) throw std::bad_alloc();
  void* p = VirtualAlloc(nullptr, length, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (p == nullptr) throw std::bad_alloc();
  *granted = length;
  return static_cast<uint8_t*>(p);
}

void FreePages(uint8_t* block, size_t) {
  VirtualFree(block, 0, MEM_RELEASE);
}

// ---- The output ------------------------------------------------------------

OutputPlan PlanOutput(const std::string& output) {
  OutputPlan plan;
  plan.path = output;
  plan.inPlace = output.empty() || KindOf(output) == PathKind::kOther;
  return plan;
}

InPlaceOutput::InPlaceOutput(const std::string& path, const std::string& reportAs) {
  if (path.empty()) {
    file_ = StandardOutput();
    return;
  }
  HANDLE h = CreateFileW(SystemPath(path).c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) RaiseInOutError(int(GetLastError()), "opening", reportAs);
  file_ = Handle(h);
  owned_ = true;
}

InPlaceOutput::~InPlaceOutput() {
  if (owned_) CloseHandle(Handle(file_));
}

TempFile::TempFile(const std::string& target) : target_(target) {
  // A read-only file is not to be replaced. Windows refuses the move over it
  // in the end anyway (Wine does not); refusing now saves the conversion.
  DWORD attributes = GetFileAttributesW(SystemPath(target).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    RaiseInOutError(ERROR_ACCESS_DENIED, "creating", target);
  }
  // A short name of its own rather than one built from the target's, so it
  // fits wherever the target's name does.
  std::string folder = FolderOf(target);
  HANDLE h = INVALID_HANDLE_VALUE;
  std::wstring wide;
  for (int i = 0; i < kTempNameTries && h == INVALID_HANDLE_VALUE; ++i) {
    wide = SystemPath(folder + ".tarnwick-" + RandomSuffix() + ".tmp");
    // Others may read it and delete it, so the console-event thread can
    // remove it while it is open.
    h = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (h == INVALID_HANDLE_VALUE) RaiseInOutError(int(GetLastError()), "creating", target);
  file_ = Handle(h);
  path_ = Narrow(wide.c_str());
  slot_ = SetLiveTemp(new std::wstring(wide));
}

TempFile::~TempFile() {
  std::wstring* wide = nullptr;
  if (slot_ >= 0) {
    AcquireSRWLockExclusive(&tempLock);
    wide = liveTemps[slot_];
    liveTemps[slot_] = nullptr;
    ReleaseSRWLockExclusive(&tempLock);
  }
  if (file_ != kNoFile) CloseHandle(Handle(file_));
  if (!placed_) DeleteFileW(wide != nullptr ? wide->c_str() : SystemPath(path_).c_str());
  delete wide;
}

void TempFile::PutInPlace() {
  HANDLE h = Handle(file_);
  std::wstring target = SystemPath(target_);
  // Replacing a file that exists: its data reaches the disk before the move,
  // so a crash right after cannot leave an empty file in its place.
  bool replacing = GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES;
  if (replacing && !FlushFileBuffers(h)) {
    RaiseInOutError(int(GetLastError()), "writing", target_);
  }
  file_ = kNoFile;
  if (!CloseHandle(h)) RaiseInOutError(int(GetLastError()), "closing", target_);
  AcquireSRWLockExclusive(&tempLock);
  BOOL moved = MoveFileExW(SystemPath(path_).c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  DWORD err = GetLastError();
  // Once in place, the file is the output, which an interruption keeps.
  std::wstring* placedPath = nullptr;
  if (moved && slot_ >= 0) {
    placedPath = liveTemps[slot_];
    liveTemps[slot_] = nullptr;
    slot_ = -1;
  }
  ReleaseSRWLockExclusive(&tempLock);
  delete placedPath;
  if (!moved) RaiseInOutError(int(err), "renaming", target_);
  placed_ = true;
}

// ---- Folders -----------------------------------------------------------------

char FolderSeparator() {
  return '\\';
}

std::vector<FolderEntry> ListFolder(const std::string& path) {
  std::string prefix = path;
  if (!prefix.empty() && prefix.back() != '\\' && prefix.back() != '/') prefix += '\\';
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileExW(SystemPath(prefix + "*").c_str(), FindExInfoBasic, &found,
                                 FindExSearchNameMatch, nullptr, 0);
  std::vector<FolderEntry> entries;
  if (find == INVALID_HANDLE_VALUE) {
    DWORD err = GetLastError();
    if (err == ERROR_FILE_NOT_FOUND || err == ERROR_NO_MORE_FILES) return entries;
    RaiseInOutError(int(err), "reading", path);
  }
  do {
    std::string name = Narrow(found.cFileName);
    if (name == "." || name == "..") continue;
    DWORD a = found.dwFileAttributes;
    EntryKind kind = EntryKind::kFile;
    // A junction or a link to a folder is not followed.
    if (a & FILE_ATTRIBUTE_DIRECTORY) {
      kind = a & FILE_ATTRIBUTE_REPARSE_POINT ? EntryKind::kOther : EntryKind::kFolder;
    } else if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
      kind = KindOf(prefix + name) == PathKind::kRegularFile ? EntryKind::kFile : EntryKind::kOther;
    }
    entries.push_back({std::move(name), kind});
  } while (FindNextFileW(find, &found));
  DWORD err = GetLastError();
  FindClose(find);
  if (err != ERROR_NO_MORE_FILES) RaiseInOutError(int(err), "reading", path);
  return entries;
}

void MakeFolder(const std::string& path) {
  if (CreateDirectoryW(SystemPath(path).c_str(), nullptr)) return;
  DWORD err = GetLastError();
  if (err == ERROR_ALREADY_EXISTS && KindOf(path) == PathKind::kDirectory) return;
  RaiseInOutError(int(err == ERROR_ALREADY_EXISTS ? ERROR_DIRECTORY : err), "creating", path);
}

// The full path, the part that exists as the system names it once links are
// resolved, in upper case.
std::string ComparablePath(const std::string& path) {
  std::wstring wide = Widen(path);
  DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  full.resize(GetFullPathNameW(wide.c_str(), n, &full[0], nullptr));
  std::replace(full.begin(), full.end(), L'/', L'\\');
  std::wstring rest;
  std::wstring head = full;
  for (;;) {
    HANDLE h = CreateFileW(SystemPath(Narrow(head.c_str())).c_str(), 0,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      std::wstring final(32768, L'\0');
      DWORD got = GetFinalPathNameByHandleW(h, &final[0], DWORD(final.size()), 0);
      CloseHandle(h);
      if (got > 0 && got < final.size()) {
        final.resize(got);
        if (final.rfind(L"\\\\?\\UNC\\", 0) == 0)
          final = L"\\\\" + final.substr(8);
        else if (final.rfind(L"\\\\?\\", 0) == 0)
          final = final.substr(4);
        head = final;
      }
      break;
    }
    size_t sep = head.find_last_of(L'\\');
    if (sep == std::wstring::npos || sep + 1 >= head.size()) break;
    rest = rest.empty() ? head.substr(sep + 1) : head.substr(sep + 1) + L"\\" + rest;
    head.resize(sep);
    if (!head.empty() && head.back() == L':') break;
  }
  while (head.size() > 3 && head.back() == L'\\') head.pop_back();
  std::wstring joined = rest.empty()           ? head
                        : head.back() == L'\\' ? head + rest
                                               : head + L"\\" + rest;
  if (!joined.empty()) CharUpperBuffW(&joined[0], DWORD(joined.size()));
  return Narrow(joined.c_str());
}

bool ProgressShown() {
  return IsConsole(GetStdHandle(STD_ERROR_HANDLE));
}

void WriteProgress(std::string_view text) {
  WriteBytes(GetStdHandle(STD_ERROR_HANDLE), text.data(), text.size());
}

}  // namespace bplist::platform
