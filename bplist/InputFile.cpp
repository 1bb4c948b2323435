#include "bplist/InputFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "bplist/RuntimeFailure.h"

namespace bplist {

namespace {

// Files at least this large are mapped; smaller ones are read.
constexpr size_t kMapThreshold = size_t(1) << 20;

// What the fault handler needs, prepared beforehand: it may only call
// async-signal-safe functions, so nothing is built inside it.
char gReport[4352];
size_t gReportLength = 0;
// Where the two copies of the fault address go in gReport.
size_t gFirstAddress = 0, gSecondAddress = 0;
char gCleanupPath[4096];
struct sigaction gPreviousAction;
bool gArmed = false;

void OnInputFault(int, siginfo_t* info, void*) {
  if (gCleanupPath[0] != '\0') unlink(gCleanupPath);
  // The address in the report is the one that faulted.
  char hex[9];
  uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
  for (int i = 7; i >= 0; --i, address >>= 4) hex[i] = "0123456789ABCDEF"[address & 0xF];
  std::memcpy(gReport + gFirstAddress, hex, 8);
  std::memcpy(gReport + gSecondAddress, hex, 8);
  ssize_t ignored = write(STDOUT_FILENO, gReport, gReportLength);
  (void)ignored;
  _exit(kRuntimeFailureExitCode);
}

int OpenForReading(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) RaiseInOutError(errno, "reading", path);
  return fd;
}

}  // namespace

InputFile::InputFile(const std::string& path) {
  int fd = OpenForReading(path);
  struct stat st;
  if (fstat(fd, &st) != 0) {
    int err = errno;
    ::close(fd);
    RaiseInOutError(err, "reading", path);
  }
  bool regular = S_ISREG(st.st_mode);
  if (regular && size_t(st.st_size) >= kMapThreshold) {
    void* p = mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (p != MAP_FAILED) {
      data_ = static_cast<const uint8_t*>(p);
      size_ = mapped_ = size_t(st.st_size);
      ::close(fd);
      return;
    }
  }
  try {
    Read(fd, regular, size_t(st.st_size), path);
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);
}

InputFile::~InputFile() {
  if (mapped_ != 0) munmap(const_cast<uint8_t*>(data_), mapped_);
}

// Reads the whole file: in one read for a regular file, in growing chunks
// for anything else. The buffer is not zero-filled, since every byte kept is
// read into it.
void InputFile::Read(int fd, bool regular, size_t size, const std::string& path) {
  size_t capacity = regular ? size + 1 : kMapThreshold;
  buffer_.reset(new uint8_t[capacity]);
  for (;;) {
    ssize_t got = ::read(fd, buffer_.get() + size_, capacity - size_);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) RaiseInOutError(errno, "reading", path);
    size_ += size_t(got);
    if (got == 0) break;
    if (size_ < capacity) continue;
    std::unique_ptr<uint8_t[]> grown(new uint8_t[capacity * 2]);
    std::memcpy(grown.get(), buffer_.get(), size_);
    buffer_ = std::move(grown);
    capacity *= 2;
  }
  data_ = buffer_.get();
}

void ArmInputFaultGuard(const std::string& inputPath) {
  std::string first = "An unhandled exception occurred at $";
  std::string report = first + "00000000 :\r\nEInOutError : Read past end of file\r\n  $";
  gFirstAddress = first.size();
  gSecondAddress = report.size();
  report += "00000000  while reading " + inputPath.substr(0, 4000) + "\r\n\r\n";
  std::memcpy(gReport, report.data(), report.size());
  gReportLength = report.size();
  gCleanupPath[0] = '\0';
  struct sigaction action {};
  action.sa_sigaction = OnInputFault;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  gArmed = sigaction(SIGBUS, &action, &gPreviousAction) == 0;
}

void DisarmInputFaultGuard() {
  if (gArmed) sigaction(SIGBUS, &gPreviousAction, nullptr);
  gArmed = false;
  gCleanupPath[0] = '\0';
}

void SetFaultCleanupPath(const std::string& path) {
  size_t n = path.size() < sizeof gCleanupPath ? path.size() : 0;
  std::memcpy(gCleanupPath, path.data(), n);
  gCleanupPath[n] = '\0';
}

}  // namespace bplist
