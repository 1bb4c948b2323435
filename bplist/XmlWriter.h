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
  // Starts a line: writes `indent` spaces and returns where the line's text
  // goes, with room for `maxText` bytes of it. EndLine(end) ends it with CR LF.
  // indent + maxText must stay below kBufferSize / 2.
  char* BeginLine(size_t indent, size_t maxText) {
    char* dst = Reserve(indent + maxText + kLineSlack);
    for (size_t i = 0; i < indent; i += 8) std::memcpy(dst + i, "        ", 8);
    return dst + indent;
  }
  void EndLine(char* end) {
    end[0] = '\r';
    end[1] = '\n';
    CommitTo(end + 2);
  }
  // Keeps what was written into reserved room up to `end`.
  void CommitTo(char* end) { used_ = size_t(end - buffer_.get()); }

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
  // Room BeginLine adds for the line end and the eight-space fill's overrun.
  static constexpr size_t kLineSlack = 10;
  void PutLong(std::string_view text);

  int fd_;
  std::string path_;
  std::unique_ptr<char[]> buffer_;
  size_t used_ = 0;
  uint64_t flushed_ = 0;
};

}  // namespace bplist
