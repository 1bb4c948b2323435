// The one buffered writer every line of the document goes through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace bplist {

class XmlWriter {
 public:
  // Size of the buffer; also the most that Reserve may ask for.
  static constexpr size_t kBufferSize = 1 << 20;

  // Writes to the open descriptor `fd`; `path` names it in error reports.
  // With fd < 0 the writer only counts what it is given (a dry run).
  XmlWriter(int fd, std::string path);
  XmlWriter(const XmlWriter&) = delete;
  XmlWriter& operator=(const XmlWriter&) = delete;

  void Put(std::string_view text) {
    if (text.size() > kBufferSize - used_) {
      PutLong(text);
      return;
    }
    std::memcpy(buffer_.get() + used_, text.data(), text.size());
    used_ += text.size();
  }
  void PutChar(char c) {
    if (used_ == kBufferSize) Flush();
    buffer_[used_++] = c;
  }
  void Spaces(size_t count);
  void LineEnd() { Put("\r\n"); }

  // Returns room for `n` bytes (n <= kBufferSize); Commit says how many of
  // them were filled.
  char* Reserve(size_t n) {
    if (n > kBufferSize - used_) Flush();
    return buffer_.get() + used_;
  }
  void Commit(size_t n) { used_ += n; }

  // Hands the buffered bytes to the descriptor. A failed write raises a
  // RuntimeFailure naming the output path.
  void Flush();

  // Bytes given to the writer so far, flushed or not.
  uint64_t Written() const { return flushed_ + used_; }

 private:
  void PutLong(std::string_view text);

  int fd_;
  std::string path_;
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
  uint64_t flushed_ = 0;
};

}  // namespace bplist
