// The platform seam on POSIX systems (Linux, macOS, the BSDs). Calls only
// Linux has are guarded and have a portable fallback.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef __linux__
#include <sched.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <mutex>
#include <new>
#include <utility>

#include "bplist/Platform.h"
#include "bplist/RuntimeFailure.h"

namespace bplist::platform {

namespace {

// Symbolic links followed from the output path before giving up.
constexpr int kMaxLinkHops = 40;
// Longest file name assumed where the file system does not say.
constexpr long kDefaultNameMax = 255;
// Added to the output's name to make the temporary file's: a leading dot
// and the suffix that mkstemp fills in.
constexpr char kTempSuffix[] = ".tarnwick-XXXXXX";
constexpr size_t kTempExtra = 1 + sizeof kTempSuffix - 1;
// Digits in a descriptor's number in a path such as /dev/fd/N.
constexpr size_t kMaxDescriptorDigits = 9;
// Bytes of a replacing output written between two starts of their write-back
// to the disk: large runs for the disk, and little left to wait for at the end.
constexpr off_t kWriteBackStep = off_t(8) << 20;
// Blocks from AllocatePages are multiples of this, the usual huge-page size.
constexpr size_t kHugePage = size_t(2) << 20;

// Signals whose default action ends the process (SIGPIPE and SIGXFSZ are
// ignored instead, so that a failed write is an error the program reports).
// Each gets the handler that removes the temporary file first. The Linux ones
// end the process by default there alone: elsewhere SIGIO and SIGPWR are
// ignored by default, and the handler would make them remove the file of a
// conversion that goes on.
constexpr int kCleanupSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGILL,  SIGTRAP, SIGABRT,   SIGBUS,  SIGFPE, SIGUSR1,
    SIGSEGV,   SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGSYS,
#ifdef __linux__
    SIGSTKFLT, SIGIO,   SIGPWR,
#endif
};

// The signals the handler was installed for (the real-time signals too,
// whose numbers are known only when the program runs).
sigset_t gCleanupSet;

// The paths of the temporary files that exist now, for the signal handler;
// a free slot is null. Lock-free atomics may be read in a handler.
std::atomic<const char*> gTempPaths[kMaxTempFiles];
static_assert(std::atomic<const char*>::is_always_lock_free);

// Takes a free slot for `path` and returns its index, or -1 when every slot
// is taken (the file is then not removed on an interruption).
int RegisterTemp(const char* path) {
  for (unsigned i = 0; i < kMaxTempFiles; ++i) {
    const char* none = nullptr;
    if (gTempPaths[i].compare_exchange_strong(none, path)) return int(i);
  }
  return -1;
}

void UnregisterTemp(int slot) {
  if (slot >= 0) gTempPaths[slot].store(nullptr);
}

// Removes the temporary files, then ends the process as the signal would
// have: the handler was reset to the default on entry, and the signal raised
// again is delivered as soon as the handler returns. Of C++ linkage, so that
// it stays inside this file: with C linkage the name would be global even
// here, and clash with a function of the same name in a program linking the
// static library.
void RemoveTempAndRaise(int sig) {
  for (auto& slot : gTempPaths) {
    const char* path = slot.load();
    if (path != nullptr) unlink(path);
  }
  raise(sig);
}

// Blocks the cleanup signals on this thread while it lives, so that a
// temporary file and its registration for the handler come and go together.
class CleanupSignalsBlocked {
 public:
  CleanupSignalsBlocked() { pthread_sigmask(SIG_BLOCK, &gCleanupSet, &old_); }
  ~CleanupSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

 private:
  sigset_t old_;
};

int Fd(FileHandle file) {
  return int(file);
}

// Waits until the file's data and size are on the disk.
int SyncData(int fd) {
#ifdef __linux__
  return fdatasync(fd);
#else
  return fsync(fd);
#endif
}

// Writes all of data[0, n) to `fd`. Returns 0, or the error that stopped
// it (a write that takes nothing counts as a full disk).
int WriteBytes(int fd, const char* data, size_t n) {
  while (n > 0) {
    ssize_t done = ::write(fd, data, n);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return done < 0 ? errno : ENOSPC;
    data += done;
    n -= size_t(done);
  }
  return 0;
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// True when the directory part of `path` does not exist, so a missing file
// is really a missing directory.
bool DirectoryMissing(const std::string& path) {
  if (path.rfind('/') == std::string::npos) return false;
  struct stat st;
  return stat(DirectoryOf(path).c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
}

// The usual mode of a new file.
mode_t NewFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Gives the file `fd` the owner and group of `old`, as far as the process
// may: the group alone when it may not give the file away. Failing both is
// no error; the file then keeps the process's owner, as a new file would.
void KeepOwner(int fd, const struct stat& old) {
  if (old.st_uid == geteuid() && old.st_gid == getegid()) return;
  bool kept = fchown(fd, old.st_uid, old.st_gid) == 0 || fchown(fd, uid_t(-1), old.st_gid) == 0;
  (void)kept;
}

// The name of the temporary file for `target`: hidden, beside it, and as much
// of the target's name as the directory's name limit leaves room for, cut at
// a character boundary.
std::string TempNameFor(const std::string& target) {
  std::string dir = DirectoryOf(target);
  long nameMax = pathconf(dir.c_str(), _PC_NAME_MAX);
  if (nameMax <= 0) nameMax = kDefaultNameMax;
  std::string base = BaseName(target);
  size_t room = size_t(nameMax) > kTempExtra ? size_t(nameMax) - kTempExtra : 0;
  if (base.size() > room) {
    while (room > 0 && (uint8_t(base[room]) & 0xC0) == 0x80) --room;
    base.resize(room);
  }
  return dir + "/." + base + kTempSuffix;
}

// The device of the file systems that show this process's open descriptors
// as entries of a directory: /proc on Linux (/dev/fd links there), /dev/fd
// elsewhere. Returns false where there is none.
bool DescriptorFileSystem(dev_t* device) {
  struct stat st;
  for (const char* dir : {"/proc/self/fd", "/dev/fd"}) {
    if (stat(dir, &st) == 0 && S_ISDIR(st.st_mode)) {
      *device = st.st_dev;
      return true;
    }
  }
  return false;
}

// The descriptor of this process that `path` leads to, or -1. It is decided
// by what the path reaches, whatever its spelling (/dev/fd//3,
// /proc/thread-self/fd/3, a link to one of them): an entry named N in a
// directory of the descriptor file system whose file is the very file that
// descriptor N has open. Another process's descriptor of another file, or a
// file merely named by digits, is not one.
int DescriptorBehind(const std::string& path) {
  std::string digits = BaseName(path);
  if (digits.empty() || digits.size() > kMaxDescriptorDigits) return -1;
  if (digits.find_first_not_of("0123456789") != std::string::npos) return -1;
  int fd = std::stoi(digits);
  dev_t descriptors;
  struct stat dir, named, opened;
  if (!DescriptorFileSystem(&descriptors)) return -1;
  if (stat(DirectoryOf(path).c_str(), &dir) != 0 || dir.st_dev != descriptors) return -1;
  if (fstat(fd, &opened) != 0 || stat(path.c_str(), &named) != 0) return -1;
  return named.st_dev == opened.st_dev && named.st_ino == opened.st_ino ? fd : -1;
}

// Starts sending a replacing output's data to the disk while the document is
// still being written, so that the flush before the rename has little left
// to wait for. Only the output a TempFile that replaces a file registers is
// followed; the lock keeps writers on different threads in step.
class WriteBack {
 public:
  void Follow(int fd) {
    std::lock_guard<std::mutex> hold(lock_);
    fd_ = fd;
    written_ = started_ = 0;
  }
  // Stops following `fd`; another file followed meanwhile stays followed.
  void Forget(int fd) {
    std::lock_guard<std::mutex> hold(lock_);
    if (fd_ == fd) fd_ = -1;
  }
  void Written(int fd, size_t n) {
    std::lock_guard<std::mutex> hold(lock_);
    if (fd != fd_) return;
    written_ += off_t(n);
    if (written_ - started_ < kWriteBackStep) return;
#if defined(__linux__) && defined(SYNC_FILE_RANGE_WRITE)
    // Only starts the writing; a failure shows again in the final flush.
    (void)sync_file_range(fd, started_, written_ - started_, SYNC_FILE_RANGE_WRITE);
#endif
    started_ = written_;
  }

 private:
  std::mutex lock_;
  int fd_ = -1;
  off_t written_ = 0;
  off_t started_ = 0;
};
WriteBack gWriteBack;

}  // namespace

// ---- The process ---------------------------------------------------------

void PrepareProcess() {
  // Past a file-size limit a write fails with EFBIG, reported as a full disk,
  // instead of the process being killed with the temporary file left.
  signal(SIGXFSZ, SIG_IGN);
  // A message or document sent to a pipe whose reader has gone fails with
  // EPIPE instead of killing the process: the temporary file is removed, and
  // a failed conversion still ends with its own exit code.
  signal(SIGPIPE, SIG_IGN);
  std::vector<int> signals(std::begin(kCleanupSignals), std::end(kCleanupSignals));
#ifdef SIGRTMIN
  for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) signals.push_back(sig);
#endif
  sigemptyset(&gCleanupSet);
  for (int sig : signals) {
    struct sigaction action;
    // A signal ignored when the process started (nohup, a background job)
    // stays ignored, and one handled already (by a sanitizer's runtime)
    // keeps its handler.
    if (sigaction(sig, nullptr, &action) != 0 || action.sa_handler != SIG_DFL) continue;
    action.sa_handler = RemoveTempAndRaise;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    if (sigaction(sig, &action, nullptr) == 0) sigaddset(&gCleanupSet, sig);
  }
}

std::vector<std::string> Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

unsigned ProcessorCount() {
#ifdef __linux__
  cpu_set_t cpus;
  if (sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 0) {
    return unsigned(CPU_COUNT(&cpus));
  }
#endif
  long online = sysconf(_SC_NPROCESSORS_ONLN);
  return online > 0 ? unsigned(online) : 1;
}

// ---- Files and standard output ---------------------------------------------

FileHandle StandardOutput() {
  return STDOUT_FILENO;
}

FileHandle HandleOf(std::FILE* stream) {
  return fileno(stream);
}

void WriteAll(FileHandle file, const char* data, size_t n, const std::string& path) {
  if (int err = WriteBytes(Fd(file), data, n)) RaiseInOutError(err, "writing", path);
  gWriteBack.Written(Fd(file), n);
}

void WriteMessage(std::string_view line) {
  WriteBytes(STDOUT_FILENO, line.data(), line.size());
}

// ---- Error codes -----------------------------------------------------------

FileError ClassifyError(int err, const std::string& path) {
  switch (err) {
    case ENOENT:
      return DirectoryMissing(path) ? FileError::kInvalidFilename : FileError::kFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
      return FileError::kInvalidFilename;
    case EMFILE:
    case ENFILE:
      return FileError::kTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EBUSY:
    case EISDIR:
      return FileError::kAccessDenied;
    case EBADF:
      return FileError::kInvalidHandle;
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return FileError::kDiskFull;
  }
  return FileError::kOther;
}

// ---- The input -------------------------------------------------------------

PathKind KindOf(const std::string& path) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return PathKind::kMissing;
  if (S_ISDIR(st.st_mode)) return PathKind::kDirectory;
  return S_ISREG(st.st_mode) ? PathKind::kRegularFile : PathKind::kOther;
}

InputHandle::InputHandle(const std::string& path) : path_(path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) RaiseInOutError(errno, "reading", path);
  file_ = fd;
  struct stat st;
  if (fstat(fd, &st) != 0) RaiseInOutError(errno, "reading", path);
  if (S_ISREG(st.st_mode)) size_ = uint64_t(st.st_size);
}

InputHandle::~InputHandle() {
  ::close(Fd(file_));
}

size_t InputHandle::Read(uint8_t* into, size_t n) {
  for (;;) {
    ssize_t got = ::read(Fd(file_), into, n);
    if (got >= 0) return size_t(got);
    if (errno != EINTR) RaiseInOutError(errno, "reading", path_);
  }
}

uint8_t* AllocatePages(size_t size, size_t* granted) {
  size_t length = (size + kHugePage - 1) & ~(kHugePage - 1);
  if (length < size) throw std::bad_alloc();
  void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANON, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  madvise(p, length, MADV_HUGEPAGE);
#endif
  *granted = length;
  return static_cast<uint8_t*>(p);
}

void FreePages(uint8_t* block, size_t granted) {
  munmap(block, granted);
}

// ---- The output ------------------------------------------------------------

// Symbolic links are followed one at a time, so that a link to a name for an
// open descriptor (/dev/stdout is one itself) is written through that
// descriptor rather than to the file behind it, which it may append to or
// share with other writers.
OutputPlan PlanOutput(const std::string& output) {
  OutputPlan plan{true, output};
  if (output.empty()) return plan;
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    if (DescriptorBehind(plan.path) >= 0) return plan;
    struct stat st;
    if (lstat(plan.path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      plan.inPlace = KindOf(plan.path) == PathKind::kOther;
      return plan;
    }
    std::string target(size_t(st.st_size) + 256, '\0');
    ssize_t n = readlink(plan.path.c_str(), &target[0], target.size());
    if (n <= 0) RaiseInOutError(n < 0 ? errno : ENOENT, "resolving", plan.path);
    target.resize(size_t(n));
    plan.path = target[0] == '/' ? target : DirectoryOf(plan.path) + "/" + target;
  }
  RaiseInOutError(ELOOP, "resolving", plan.path);
}

InPlaceOutput::InPlaceOutput(const std::string& path, const std::string& reportAs) {
  int fd = path.empty() ? STDOUT_FILENO : DescriptorBehind(path);
  if (fd < 0) {
    fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) RaiseInOutError(errno, "opening", reportAs);
    owned_ = true;
  }
  file_ = fd;
}

InPlaceOutput::~InPlaceOutput() {
  if (owned_) ::close(Fd(file_));
}

TempFile::TempFile(const std::string& target) : target_(target) {
  path_ = TempNameFor(target);
  CleanupSignalsBlocked blocked;
  int fd = mkstemp(&path_[0]);
  if (fd < 0) RaiseInOutError(errno, "creating", target);
  slot_ = RegisterTemp(path_.c_str());
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  file_ = fd;
  struct stat old;
  if (stat(target.c_str(), &old) == 0) gWriteBack.Follow(fd);
}

TempFile::~TempFile() {
  if (file_ != kNoFile) {
    gWriteBack.Forget(Fd(file_));
    ::close(Fd(file_));
  }
  CleanupSignalsBlocked blocked;
  if (!placed_) ::unlink(path_.c_str());
  UnregisterTemp(slot_);
  slot_ = -1;
}

void TempFile::PutInPlace() {
  int fd = Fd(file_);
  struct stat old;
  bool replaces = stat(target_.c_str(), &old) == 0;
  // The owner first: changing it may clear the set-user-ID and set-group-ID
  // bits that the mode then restores.
  if (replaces) KeepOwner(fd, old);
  mode_t mode = replaces ? old.st_mode & 07777 : NewFileMode();
  if (fchmod(fd, mode) != 0) RaiseInOutError(errno, "writing", target_);
  // The new data reaches the disk before it replaces a file, so that a crash
  // right after the rename cannot leave an empty file where the old one was.
  // Most of it is on its way already (WriteBack); the size is the only
  // metadata the data needs. A new file has nothing to lose and is not
  // waited for.
  gWriteBack.Forget(fd);
  if (replaces && SyncData(fd) != 0) RaiseInOutError(errno, "writing", target_);
  file_ = kNoFile;
  if (::close(fd) != 0) RaiseInOutError(errno, "closing", target_);
  CleanupSignalsBlocked blocked;
  if (::rename(path_.c_str(), target_.c_str()) != 0) RaiseInOutError(errno, "renaming", target_);
  placed_ = true;
  UnregisterTemp(slot_);
  slot_ = -1;
}

// ---- Folders -----------------------------------------------------------------

char FolderSeparator() {
  return '/';
}

std::vector<FolderEntry> ListFolder(const std::string& path) {
  DIR* dir = opendir(path.c_str());
  if (dir == nullptr) RaiseInOutError(errno, "reading", path);
  std::vector<FolderEntry> entries;
  std::string prefix = path.empty() || path.back() == '/' ? path : path + "/";
  for (;;) {
    errno = 0;
    struct dirent* d = readdir(dir);
    if (d == nullptr) break;
    std::string name = d->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    EntryKind kind = EntryKind::kOther;
    std::string full = prefix + name;
    if (lstat(full.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode))
        kind = EntryKind::kFolder;
      else if (S_ISREG(st.st_mode))
        kind = EntryKind::kFile;
      else if (S_ISLNK(st.st_mode) && KindOf(full) == PathKind::kRegularFile)
        kind = EntryKind::kFile;
    }
    entries.push_back({std::move(name), kind});
  }
  int err = errno;
  closedir(dir);
  if (err != 0) RaiseInOutError(err, "reading", path);
  return entries;
}

void MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0) return;
  int err = errno;
  if (err == EEXIST && KindOf(path) == PathKind::kDirectory) return;
  RaiseInOutError(err == EEXIST ? ENOTDIR : err, "creating", path);
}

// The existing part resolved by realpath, the rest appended as given.
std::string ComparablePath(const std::string& path) {
  std::string absolute = path;
  if (absolute.empty() || absolute[0] != '/') {
    char here[PATH_MAX];
    if (getcwd(here, sizeof here) == nullptr) RaiseInOutError(errno, "resolving", path);
    absolute = std::string(here) + "/" + absolute;
  }
  std::string rest;
  for (;;) {
    char resolved[PATH_MAX];
    if (realpath(absolute.c_str(), resolved) != nullptr) {
      std::string head = resolved;
      if (rest.empty()) return head;
      return head == "/" ? head + rest : head + "/" + rest;
    }
    size_t slash = absolute.rfind('/');
    std::string last = absolute.substr(slash + 1);
    if (!last.empty() && last != ".") rest = rest.empty() ? last : last + "/" + rest;
    absolute.resize(slash == 0 ? 1 : slash);
  }
}

bool ProgressShown() {
  return isatty(STDERR_FILENO) == 1;
}

void WriteProgress(std::string_view text) {
  WriteBytes(STDERR_FILENO, text.data(), text.size());
}

}  // namespace bplist::platform
