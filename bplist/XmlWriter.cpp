#include "bplist/XmlWriter.h"

#include <unistd.h>

#include <cerrno>

#include "bplist/RuntimeFailure.h"

namespace bplist {

namespace {

// Writes all of data[0, n) to fd; a failed or stalled write raises the
// failure for `path`.
void WriteAll(int fd, const char* data, size_t n, const std::string& path) {
  while (n > 0) {
    ssize_t done = ::write(fd, data, n);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) RaiseInOutError(done < 0 ? errno : ENOSPC, "writing", path);
    data += done;
    n -= size_t(done);
  }
}

}  // namespace

XmlWriter::XmlWriter(int fd, std::string path)
    : fd_(fd), path_(std::move(path)), buffer_(new char[kBufferSize]) {}

void XmlWriter::Flush() {
  if (fd_ >= 0) WriteAll(fd_, buffer_.get(), used_, path_);
  flushed_ += used_;
  used_ = 0;
}

void XmlWriter::PutLong(std::string_view text) {
  Flush();
  if (fd_ >= 0) WriteAll(fd_, text.data(), text.size(), path_);
  flushed_ += text.size();
}

}  // namespace bplist
