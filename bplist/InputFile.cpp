#include "bplist/InputFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "bplist/FdCloser.h"
#include "bplist/RuntimeFailure.h"

namespace bplist {

namespace {

// The buffer is a multiple of the huge-page size, and asks for huge pages:
// the conversion reads the file in an order far from sequential, and with
// small pages most of those reads would first miss the address cache.
constexpr size_t kHugePage = size_t(2) << 20;
// First buffer for an input whose size is not known (a pipe, a device).
constexpr size_t kUnknownSizeStart = kHugePage;

}  // namespace

InputFile::InputFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) RaiseInOutError(errno, "reading", path);
  FdCloser closer{fd};
  struct stat st;
  if (fstat(fd, &st) != 0) RaiseInOutError(errno, "reading", path);
  // A regular file is read up to the size it has now, in one read where the
  // system allows; anything else until its end.
  bool regular = S_ISREG(st.st_mode);
  size_t want = regular ? size_t(st.st_size) : SIZE_MAX;
  Grow(regular ? want : kUnknownSizeStart);
  while (size_ < want) {
    if (size_ == capacity_) Grow(capacity_ * 2);
    size_t room = capacity_ - size_ < want - size_ ? capacity_ - size_ : want - size_;
    ssize_t got = ::read(fd, data_ + size_, room);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) RaiseInOutError(errno, "reading", path);
    if (got == 0) break;
    size_ += size_t(got);
  }
}

InputFile::~InputFile() {
  if (capacity_ != 0) munmap(data_, capacity_);
}

// Replaces the buffer by one of at least `capacity` bytes, keeping its bytes.
void InputFile::Grow(size_t capacity) {
  capacity = (capacity + kHugePage) & ~(kHugePage - 1);
  void* p = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  madvise(p, capacity, MADV_HUGEPAGE);
  if (capacity_ != 0) {
    std::memcpy(p, data_, size_);
    munmap(data_, capacity_);
  }
  data_ = static_cast<uint8_t*>(p);
  capacity_ = capacity;
}

}  // namespace bplist
