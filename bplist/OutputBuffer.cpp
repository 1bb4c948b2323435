// The buffer in front of a document's destination, and the destinations.
#include "bplist/OutputBuffer.h"

namespace bplist {

namespace {

// An open file; `path` names it in error reports.
class FileDestination final : public Destination {
 public:
  FileDestination(platform::FileHandle file, std::string path)
      : file_(file), path_(std::move(path)) {}
  void Take(std::string_view text) override {
    platform::WriteAll(file_, text.data(), text.size(), path_);
  }

 private:
  platform::FileHandle file_;
  std::string path_;
};

// The library caller's callback; a piece refused raises OutputRefused.
class CallbackDestination final : public Destination {
 public:
  explicit CallbackDestination(Sink sink) : sink_(sink) {}
  void Take(std::string_view text) override {
    if (!text.empty() && !sink_.write(sink_.context, text.data(), text.size()))
      throw OutputRefused();
  }

 private:
  Sink sink_;
};

}  // namespace

void MemoryDestination::Take(std::string_view text) {
  if (text.size() > limit_ - kept.size()) throw MemoryLimitReached();
  kept.append(text);
}

OutputBuffer::OutputBuffer(platform::FileHandle file, std::string path, size_t inputSize) {
  if (file != platform::kNoFile)
    destination_ = std::make_unique<FileDestination>(file, std::move(path));
  capacity_ = inputSize < kBufferSize / kExpectedGrowth ? inputSize * kExpectedGrowth : kBufferSize;
  if (capacity_ < kMinBufferSize) capacity_ = kMinBufferSize;
  buffer_.reset(new char[capacity_]);
  flushAt_ = capacity_;
}

OutputBuffer::OutputBuffer(Sink sink, size_t inputSize)
    : OutputBuffer(platform::kNoFile, "", inputSize) {
  if (sink.write != nullptr) destination_ = std::make_unique<CallbackDestination>(sink);
}

OutputBuffer::OutputBuffer(uint64_t limit) : flushAt_(0) {
  auto memory = std::make_unique<MemoryDestination>(limit);
  memory_ = memory.get();
  destination_ = std::move(memory);
}

void OutputBuffer::Emit(std::string_view text) {
  if (muted_) {
    flushed_ += text.size();
    mutedFlushed_ += text.size();
    return;
  }
  EmitKept(text);
}

void OutputBuffer::EmitKept(std::string_view text) {
  if (destination_) destination_->Take(text);
  flushed_ += text.size();
}

void OutputBuffer::Flush() {
  if (!buffer_) {
    buffer_.reset(new char[kBufferSize]);
    capacity_ = kBufferSize;
    uint64_t limit = memory_ ? memory_->limit() : 0;
    flushAt_ = limit < kBufferSize ? size_t(limit) : kBufferSize;
  }
  size_t n = used_;
  used_ = 0;
  if (!muted_) {
    EmitKept(std::string_view(buffer_.get(), n));
    return;
  }
  EmitKept(std::string_view(buffer_.get(), mutedFrom_));
  Emit(std::string_view(buffer_.get() + mutedFrom_, n - mutedFrom_));
  mutedFrom_ = 0;
}

bool OutputBuffer::Mute() {
  if (muted_) return false;
  muted_ = true;
  mutedFrom_ = used_;
  mutedFlushed_ = 0;
  return true;
}

uint64_t OutputBuffer::Unmute() {
  uint64_t discarded = mutedFlushed_ + (used_ - mutedFrom_);
  flushed_ -= mutedFlushed_;
  used_ = mutedFrom_;
  muted_ = false;
  mutedFrom_ = 0;
  mutedFlushed_ = 0;
  return discarded;
}

void OutputBuffer::MakeRoom(size_t n) {
  Flush();
  if (n > capacity_) {
    buffer_.reset(new char[kBufferSize]);
    capacity_ = flushAt_ = kBufferSize;
  }
}

void OutputBuffer::PutLong(std::string_view text) {
  Flush();
  Emit(text);
}

void OutputBuffer::PutText(const OutputBuffer& from) {
  Flush();
  if (from.memory_) Emit(from.memory_->kept);
  Emit(std::string_view(from.buffer_.get(), from.used_));
}

std::string OutputBuffer::Text() const {
  std::string text = memory_ ? memory_->kept : std::string();
  if (buffer_) text.append(buffer_.get(), used_);
  return text;
}

void OutputBuffer::Clear() {
  if (memory_) memory_->kept.clear();
  used_ = 0;
  flushed_ = 0;
  muted_ = false;
  mutedFrom_ = 0;
  mutedFlushed_ = 0;
}

void OutputBuffer::Swap(OutputBuffer& other) {
  std::swap(buffer_, other.buffer_);
  std::swap(capacity_, other.capacity_);
  std::swap(flushAt_, other.flushAt_);
  std::swap(used_, other.used_);
  std::swap(flushed_, other.flushed_);
  std::swap(destination_, other.destination_);
  std::swap(memory_, other.memory_);
  std::swap(muted_, other.muted_);
  std::swap(mutedFrom_, other.mutedFrom_);
  std::swap(mutedFlushed_, other.mutedFlushed_);
}

}  // namespace bplist
