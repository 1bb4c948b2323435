// The conversion driver: checks and loads the input, converts it, and puts
// the document in place only once it is complete.
#include "BPlist.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "bplist/Convert.h"
#include "bplist/FdCloser.h"
#include "bplist/Format.h"
#include "bplist/InputFile.h"
#include "bplist/OutputFile.h"
#include "bplist/RuntimeFailure.h"

using namespace bplist;

namespace {

// True when the file system has attributes for `path` and they do not mark
// a directory (the empty path does not exist); *st receives them.
bool Exists(const std::string& path, struct stat* st) {
  return !path.empty() && stat(path.c_str(), st) == 0 && !S_ISDIR(st->st_mode);
}

int OpenOrRaise(const std::string& path, int flags) {
  int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) RaiseInOutError(errno, "opening", path);
  return fd;
}

bool HasSignature(const uint8_t* data, size_t size) {
  return size >= kSignatureSize && std::memcmp(data, kSignature, kSignatureSize) == 0;
}

// True when the regular file at `path` begins with the signature "bplist".
bool CanConvert(const std::string& path) {
  FdCloser in{OpenOrRaise(path, O_RDONLY)};
  char head[kSignatureSize];
  size_t got = 0;
  while (got < kSignatureSize) {
    ssize_t r = ::read(in.fd, head + got, kSignatureSize - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) RaiseInOutError(errno, "reading", path);
    if (r == 0) return false;
    got += size_t(r);
  }
  return std::memcmp(head, kSignature, kSignatureSize) == 0;
}

bool NotBinaryPlist(const std::string& InputP) {
  PrintLine("File " + InputP + " is not a binary plist!");
  return false;
}

// Prints why the conversion failed, where the engine knows.
bool Report(const ConvertResult& r, const std::string& InputP) {
  if (r.outcome == Outcome::Damaged) PrintLine("File " + InputP + " is damaged: " + r.reason);
  return r.outcome == Outcome::Converted;
}

// Writes to a stream that cannot be taken back (standard output, a device,
// a pipe): a dry run first, so a failing file writes nothing at all.
bool ConvertToStream(const InputFile& in, const std::string& InputP, const std::string& target,
                     const Parallelism& parallel) {
  XmlWriter dry(-1, target, in.size());
  if (!Report(ConvertBuffer(in.data(), in.size(), dry, parallel), InputP)) return false;
  FdCloser stream{target.empty() ? -1 : OpenOrRaise(target, O_WRONLY)};
  XmlWriter out(target.empty() ? STDOUT_FILENO : stream.fd, target, in.size());
  ConvertBuffer(in.data(), in.size(), out, parallel);
  out.Flush();
  return true;
}

bool ConvertToFile(const InputFile& in, const std::string& InputP, const std::string& target,
                   const Parallelism& parallel) {
  TempFile temp(target);
  XmlWriter out(temp.fd(), target, in.size());
  if (!Report(ConvertBuffer(in.data(), in.size(), out, parallel), InputP)) return false;
  out.Flush();
  temp.PutInPlace();
  return true;
}

}  // namespace

bool BinaryToXML(const std::string& InputP, const std::string& OutputP) {
  struct stat st;
  if (!Exists(InputP, &st)) {
    PrintLine("File " + InputP + " not found!");
    return false;
  }
  // A pipe or a device can be read only once: its signature is tested on the
  // loaded bytes alone. A regular file is tested before it is loaded.
  if (S_ISREG(st.st_mode) && !CanConvert(InputP)) return NotBinaryPlist(InputP);
  InputFile in(InputP);
  if (!HasSignature(in.data(), in.size())) return NotBinaryPlist(InputP);
  const Parallelism parallel = ForThisMachine();
  if (OutputP.empty()) return ConvertToStream(in, InputP, OutputP, parallel);
  std::string target = FollowLinks(OutputP);
  if (IsStream(target)) return ConvertToStream(in, InputP, target, parallel);
  return ConvertToFile(in, InputP, target, parallel);
}
