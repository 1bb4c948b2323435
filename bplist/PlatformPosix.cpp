// The platform seam on POSIX systems (Linux, macOS, the BSDs). Calls only
// Linux has are guarded and have a portable fallback.
#include <fcntl.h>
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
// Blocks from AllocatePages are multiples of this, the usual huge-page size.
constexpr size_t kHugePage = size_t(2) << 20;

// Signals that end the process and should not leave a temporary file.
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The path of the temporary file that exists now, for the signal handler;
// null when there is none. A lock-free atomic may be read in a handler.
std::atomic<const char*> gTempPath{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

// Removes the temporary file, then ends the process as the signal would
// have: the handler was reset to the default on entry, and the signal raised
// again is delivered as soon as the handler returns.
extern "C" void RemoveTempAndRaise(int sig) {
  const char* path = gTempPath.load();
  if (path != nullptr) unlink(path);
  raise(sig);
}

// Blocks the cleanup signals on this thread while it lives, so that a
// temporary file and its registration for the handler come and go together.
class CleanupSignalsBlocked {
 public:
  CleanupSignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kCleanupSignals) sigaddset(&set, sig);
    pthread_sigmask(SIG_BLOCK, &set, &old_);
  }
  ~CleanupSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }

 private:
  sigset_t old_;
};

int Fd(FileHandle file) {
  return int(file);
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

// The descriptor that `path` names when it is one of the system's names for
// a descriptor this process has open (/dev/stdout, /dev/fd/N,
// /proc/self/fd/N), or -1.
int DescriptorNamed(const std::string& path) {
  static const std::pair<const char*, int> kStandard[] = {
      {"/dev/stdin", 0}, {"/dev/stdout", 1}, {"/dev/stderr", 2}};
  int fd = -1;
  for (const auto& [name, number] : kStandard) {
    if (path == name) fd = number;
  }
  const std::string prefixes[] = {"/dev/fd/", "/proc/self/fd/",
                                  "/proc/" + std::to_string(getpid()) + "/fd/"};
  for (const std::string& prefix : prefixes) {
    if (fd >= 0 || path.compare(0, prefix.size(), prefix) != 0) continue;
    std::string digits = path.substr(prefix.size());
    if (digits.empty() || digits.size() > kMaxDescriptorDigits) continue;
    if (digits.find_first_not_of("0123456789") != std::string::npos) continue;
    fd = std::stoi(digits);
  }
  return fd >= 0 && fcntl(fd, F_GETFD) != -1 ? fd : -1;
}

}  // namespace

// ---- The process ---------------------------------------------------------

void PrepareProcess() {
  // Past a file-size limit a write fails with EFBIG, reported as a full disk,
  // instead of the process being killed with the temporary file left.
  signal(SIGXFSZ, SIG_IGN);
  for (int sig : kCleanupSignals) {
    struct sigaction action;
    // A signal ignored when the process started (nohup, a background job)
    // stays ignored.
    if (sigaction(sig, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) continue;
    action.sa_handler = RemoveTempAndRaise;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(sig, &action, nullptr);
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
    if (DescriptorNamed(plan.path) >= 0) return plan;
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
  int fd = path.empty() ? STDOUT_FILENO : DescriptorNamed(path);
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
  gTempPath.store(path_.c_str());
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  file_ = fd;
}

TempFile::~TempFile() {
  if (file_ != kNoFile) ::close(Fd(file_));
  CleanupSignalsBlocked blocked;
  if (!placed_) ::unlink(path_.c_str());
  gTempPath.store(nullptr);
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
  // A new file has nothing to lose and is not waited for.
  if (replaces && fsync(fd) != 0) RaiseInOutError(errno, "writing", target_);
  file_ = kNoFile;
  if (::close(fd) != 0) RaiseInOutError(errno, "closing", target_);
  CleanupSignalsBlocked blocked;
  if (::rename(path_.c_str(), target_.c_str()) != 0) RaiseInOutError(errno, "renaming", target_);
  placed_ = true;
  gTempPath.store(nullptr);
}

}  // namespace bplist::platform
