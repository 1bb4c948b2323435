#include "bplist/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "bplist/RuntimeFailure.h"

namespace bplist {

namespace {

// Symbolic links followed from the output path before giving up.
constexpr int kMaxLinkHops = 40;

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The mode a replaced file keeps, or the usual one for a new file.
mode_t ModeFor(const std::string& target) {
  struct stat st;
  if (stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

std::string FollowLinks(std::string path) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::vector<char> target(size_t(st.st_size) + 256);
    ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n <= 0) RaiseInOutError(n < 0 ? errno : ENOENT, "resolving", path);
    std::string next(target.data(), size_t(n));
    path = next[0] == '/' ? next : DirectoryOf(path) + "/" + next;
  }
  RaiseInOutError(ELOOP, "resolving", path);
}

bool IsStream(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

TempFile::TempFile(const std::string& target) : target_(target) {
  path_ = DirectoryOf(target) + "/." + BaseName(target) + ".tarnwick-XXXXXX";
  fd_ = mkostemp(&path_[0], O_CLOEXEC);
  if (fd_ < 0) RaiseInOutError(errno, "creating", target);
}

TempFile::~TempFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!placed_) ::unlink(path_.c_str());
}

void TempFile::PutInPlace() {
  if (fchmod(fd_, ModeFor(target_)) != 0) RaiseInOutError(errno, "writing", target_);
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) RaiseInOutError(errno, "closing", target_);
  if (::rename(path_.c_str(), target_.c_str()) != 0) RaiseInOutError(errno, "renaming", target_);
  placed_ = true;
}

}  // namespace bplist
