// The buffer every byte of a document goes through, in front of the
// document's destination: a file, memory, the library caller's callback, or
// nothing at all (a dry run, which only counts).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "bplist/Platform.h"

namespace bplist {

// Raised by a writer that keeps its text in memory when the text would grow
// past the writer's limit.
struct MemoryLimitReached {};

// A caller's destination for the document: `write` takes each piece and
// returns false to stop the conversion.
struct Sink {
  bool (*write)(void* context, const char* bytes, size_t size) = nullptr;
  void* context = nullptr;
};

// Raised by a writer to a Sink whose write refused a piece.
struct OutputRefused {};

// Where the text goes once it leaves the buffer. Each piece is handed on
// whole, in order; a destination that cannot take it raises.
class Destination {
 public:
  virtual ~Destination() = default;
  virtual void Take(std::string_view text) = 0;
};

// The destination that keeps the text in memory, up to a limit.
class MemoryDestination final : public Destination {
 public:
  explicit MemoryDestination(uint64_t limit) : limit_(limit) {}
  void Take(std::string_view text) override;
  uint64_t limit() const { return limit_; }

  std::string kept;

 private:
  uint64_t limit_;
};

class OutputBuffer {
 public:
  // Largest size of the buffer; also the most that Reserve may ask for.
  static constexpr size_t kBufferSize = 1 << 20;

  // Writes to the open file `file`; `path` names it in error reports. With
  // platform::kNoFile the writer only counts what it is given (a dry run).
  // `inputSize`, the size of the file converted, sizes the buffer to the
  // document it suggests (up to kBufferSize), so a small file's conversion
  // prepares no buffer made for a large one. A reservation larger than the
  // buffer grows it to kBufferSize.
  OutputBuffer(platform::FileHandle file, std::string path, size_t inputSize = kBufferSize);
  // Keeps what it is given in memory, up to `limit` bytes; more raises
  // MemoryLimitReached. PutText hands the text on to another writer. The
  // buffer is allocated when first needed.
  explicit OutputBuffer(uint64_t limit);
  // Hands the text to `sink` in pieces of up to kBufferSize bytes; a piece
  // refused raises OutputRefused.
  OutputBuffer(Sink sink, size_t inputSize);
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  // A writer without a buffer yet (flushAt_ 0) takes even empty text the
  // long way, which allocates the buffer.
  void Put(std::string_view text) {
    if (used_ + text.size() >= flushAt_) {
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
    if (used_ + n > flushAt_) MakeRoom(n);
    return buffer_.get() + used_;
  }
  void Commit(size_t n) { used_ += n; }

  // Hands the buffered bytes to the file. A failed write raises a
  // RuntimeFailure naming the output path.
  void Flush();

  // Bytes given to the writer so far, flushed or not.
  uint64_t Written() const { return flushed_ + used_; }

  // Writes all the text an in-memory writer holds, as if given to Put.
  void PutText(const OutputBuffer& from);
  // The text an in-memory writer holds, for comparing documents.
  std::string Text() const;
  // Forgets the text an in-memory writer holds, keeping its storage.
  void Clear();
  // Exchanges the text and storage of two in-memory writers.
  void Swap(OutputBuffer& other);

  // Starts discarding: text given from now on is counted by Written() but
  // never reaches the file or memory. Used for parts of the file that are
  // read and checked but left out of the document. Returns false, changing
  // nothing, when the writer discards already.
  bool Mute();
  bool Muted() const { return muted_; }
  // Stops discarding and returns the bytes discarded since Mute, which
  // Written() no longer counts.
  uint64_t Unmute();

 private:
  // Room BeginLine adds for the line end and the eight-space fill's overrun.
  static constexpr size_t kLineSlack = 10;
  // Smallest buffer a writer to a file starts with.
  static constexpr size_t kMinBufferSize = 4096;
  // Document bytes expected per input byte, above what most files need.
  static constexpr size_t kExpectedGrowth = 8;
  void PutLong(std::string_view text);
  // Flushes, then grows a buffer too small for `n` bytes to kBufferSize.
  void MakeRoom(size_t n);
  // Hands `text` to the destination; while muted, only counts it.
  void Emit(std::string_view text);
  void EmitKept(std::string_view text);

  // Null for a dry run. memory_ is the same destination when the text is
  // kept in memory, else null.
  std::unique_ptr<Destination> destination_;
  MemoryDestination* memory_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t used_ = 0;
  // Reserve flushes rather than let the buffer pass this mark; an in-memory
  // writer with a small limit sets it low, so the limit is enforced early.
  // Zero while there is no buffer.
  size_t flushAt_ = kBufferSize;
  uint64_t flushed_ = 0;
  // While muted, the buffer's bytes from mutedFrom_ on, and mutedFlushed_
  // bytes counted in flushed_, are discarded text.
  bool muted_ = false;
  size_t mutedFrom_ = 0;
  uint64_t mutedFlushed_ = 0;
};

}  // namespace bplist
