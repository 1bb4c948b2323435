// The conversion driver: checks and loads the input, converts it, and puts
// the document in place only once it is complete.
#include "BPlist.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "bplist/Convert.h"
#include "bplist/Format.h"
#include "bplist/RuntimeFailure.h"

using namespace bplist;

namespace {

// Symbolic links followed from the output path before giving up.
constexpr int kMaxLinkHops = 40;

// True when the file system has attributes for `path` and they do not mark
// a directory. The empty path does not exist.
bool Exists(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

int OpenOrRaise(const std::string& path, int flags, const char* operation) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) RaiseInOutError(errno, operation, path);
  return fd;
}

// Reads up to n bytes, fewer only at the end of the file.
size_t ReadUpTo(int fd, uint8_t* p, size_t n, const std::string& path) {
  size_t got = 0;
  while (got < n) {
    ssize_t r = ::read(fd, p + got, n - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) RaiseInOutError(errno, "reading", path);
    if (r == 0) break;
    got += size_t(r);
  }
  return got;
}

// Closes fd when it goes.
struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

// True when the file at `path` begins with the signature "bplist".
bool CanConvert(const std::string& path) {
  FdCloser in{OpenOrRaise(path, O_RDONLY, "opening")};
  uint8_t head[kSignatureSize];
  return ReadUpTo(in.fd, head, kSignatureSize, path) == kSignatureSize &&
         std::memcmp(head, kSignature, kSignatureSize) == 0;
}

// The input file's bytes.
struct FileData {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size = 0;
};

// Loads the whole file: one read for a regular file, growing chunks for
// anything else. The buffer is not zero-filled first, since every byte kept
// is read into it.
FileData Load(const std::string& path) {
  FdCloser in{OpenOrRaise(path, O_RDONLY, "opening")};
  struct stat st;
  if (fstat(in.fd, &st) != 0) RaiseInOutError(errno, "reading", path);
  FileData data;
  size_t capacity = S_ISREG(st.st_mode) ? size_t(st.st_size) + 1 : size_t(1) << 20;
  data.bytes.reset(new uint8_t[capacity]);
  for (;;) {
    data.size += ReadUpTo(in.fd, data.bytes.get() + data.size, capacity - data.size, path);
    if (data.size < capacity) return data;
    std::unique_ptr<uint8_t[]> grown(new uint8_t[capacity * 2]);
    std::memcpy(grown.get(), data.bytes.get(), data.size);
    data.bytes = std::move(grown);
    capacity *= 2;
  }
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The path that writing to `path` really replaces: symbolic links are
// followed, so the link stays and the file it points to is replaced.
std::string FollowLinks(std::string path) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::vector<char> target(size_t(st.st_size) + 256);
    ssize_t n = readlink(path.c_str(), target.data(), target.size());
    if (n < 0) RaiseInOutError(errno, "resolving", path);
    std::string next(target.data(), size_t(n));
    path = next[0] == '/' ? next : DirectoryOf(path) + "/" + next;
  }
  RaiseInOutError(ELOOP, "resolving", path);
}

// A temporary file beside the output, removed unless it was put in place.
class TempFile {
 public:
  explicit TempFile(const std::string& target) {
    std::string dir = DirectoryOf(target);
    std::string base =
        target.substr(target.rfind('/') == std::string::npos ? 0 : target.rfind('/') + 1);
    path_ = dir + "/." + base + ".tarnwick-XXXXXX";
    fd_ = mkstemp(&path_[0]);
    if (fd_ < 0) RaiseInOutError(errno, "creating", target);
  }
  ~TempFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!placed_) ::unlink(path_.c_str());
  }
  int fd() const { return fd_; }

  // Gives the file `mode`, closes it and renames it onto `target`.
  void PutInPlace(const std::string& target, mode_t mode) {
    if (fchmod(fd_, mode) != 0) RaiseInOutError(errno, "writing", target);
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) RaiseInOutError(errno, "closing", target);
    if (::rename(path_.c_str(), target.c_str()) != 0) RaiseInOutError(errno, "renaming", target);
    placed_ = true;
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool placed_ = false;
};

// The mode a replaced file keeps, or the usual one for a new file.
mode_t ModeFor(const std::string& target) {
  struct stat st;
  if (stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

// Prints why the conversion failed, where the engine knows.
bool Report(const ConvertResult& r, const std::string& InputP) {
  if (r.outcome == Outcome::Damaged) PrintLine("File " + InputP + " is damaged: " + r.reason);
  return r.outcome == Outcome::Converted;
}

// Writes to a stream that cannot be taken back (standard output, a device,
// a pipe): a dry run first, so a failing file writes nothing at all.
bool ConvertToStream(const FileData& data, const std::string& InputP, const std::string& OutputP) {
  XmlWriter dry(-1, OutputP);
  if (!Report(ConvertBuffer(data.bytes.get(), data.size, dry), InputP)) return false;
  FdCloser stream{OutputP.empty() ? -1 : OpenOrRaise(OutputP, O_WRONLY, "opening")};
  XmlWriter out(OutputP.empty() ? STDOUT_FILENO : stream.fd, OutputP);
  ConvertBuffer(data.bytes.get(), data.size, out);
  out.Flush();
  return true;
}

bool ConvertToFile(const FileData& data, const std::string& InputP, const std::string& target) {
  TempFile temp(target);
  XmlWriter out(temp.fd(), target);
  if (!Report(ConvertBuffer(data.bytes.get(), data.size, out), InputP)) return false;
  out.Flush();
  temp.PutInPlace(target, ModeFor(target));
  return true;
}

}  // namespace

bool BinaryToXML(const std::string& InputP, const std::string& OutputP) {
  if (!Exists(InputP)) {
    PrintLine("File " + InputP + " not found!");
    return false;
  }
  if (!CanConvert(InputP)) {
    PrintLine("File " + InputP + " is not a binary plist!");
    return false;
  }
  FileData data = Load(InputP);
  if (OutputP.empty()) return ConvertToStream(data, InputP, OutputP);
  std::string target = FollowLinks(OutputP);
  struct stat st;
  if (stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
    return ConvertToStream(data, InputP, target);
  return ConvertToFile(data, InputP, target);
}
