#include "bplist/XmlWriter.h"

namespace bplist {

XmlWriter::XmlWriter(platform::FileHandle file, std::string path, size_t inputSize)
    : file_(file), path_(std::move(path)) {
  capacity_ = inputSize < kBufferSize / kExpectedGrowth ? inputSize * kExpectedGrowth : kBufferSize;
  if (capacity_ < kMinBufferSize) capacity_ = kMinBufferSize;
  buffer_.reset(new char[capacity_]);
  flushAt_ = capacity_;
}

XmlWriter::XmlWriter(Sink sink, size_t inputSize) : XmlWriter(platform::kNoFile, "", inputSize) {
  sink_ = sink;
}

XmlWriter::XmlWriter(uint64_t limit) : flushAt_(0), inMemory_(true), limit_(limit) {}

void XmlWriter::Emit(std::string_view text) {
  if (muted_) {
    flushed_ += text.size();
    mutedFlushed_ += text.size();
    return;
  }
  EmitKept(text);
}

void XmlWriter::EmitKept(std::string_view text) {
  if (inMemory_) {
    if (text.size() > limit_ - kept_.size()) throw MemoryLimitReached();
    kept_.append(text);
  } else if (sink_.write != nullptr) {
    if (!text.empty() && !sink_.write(sink_.context, text.data(), text.size()))
      throw OutputRefused();
  } else if (file_ != platform::kNoFile) {
    platform::WriteAll(file_, text.data(), text.size(), path_);
  }
  flushed_ += text.size();
}

void XmlWriter::Flush() {
  if (!buffer_) {
    buffer_.reset(new char[kBufferSize]);
    capacity_ = kBufferSize;
    flushAt_ = limit_ < kBufferSize ? size_t(limit_) : kBufferSize;
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

bool XmlWriter::Mute() {
  if (muted_) return false;
  muted_ = true;
  mutedFrom_ = used_;
  mutedFlushed_ = 0;
  return true;
}

uint64_t XmlWriter::Unmute() {
  uint64_t discarded = mutedFlushed_ + (used_ - mutedFrom_);
  flushed_ -= mutedFlushed_;
  used_ = mutedFrom_;
  muted_ = false;
  mutedFrom_ = 0;
  mutedFlushed_ = 0;
  return discarded;
}

void XmlWriter::MakeRoom(size_t n) {
  Flush();
  if (n > capacity_) {
    buffer_.reset(new char[kBufferSize]);
    capacity_ = flushAt_ = kBufferSize;
  }
}

void XmlWriter::PutLong(std::string_view text) {
  Flush();
  Emit(text);
}

void XmlWriter::PutText(const XmlWriter& from) {
  Flush();
  Emit(from.kept_);
  Emit(std::string_view(from.buffer_.get(), from.used_));
}

std::string XmlWriter::Text() const {
  std::string text = kept_;
  if (buffer_) text.append(buffer_.get(), used_);
  return text;
}

void XmlWriter::Clear() {
  kept_.clear();
  used_ = 0;
  flushed_ = 0;
  muted_ = false;
  mutedFrom_ = 0;
  mutedFlushed_ = 0;
}

void XmlWriter::Swap(XmlWriter& other) {
  std::swap(buffer_, other.buffer_);
  std::swap(capacity_, other.capacity_);
  std::swap(flushAt_, other.flushAt_);
  std::swap(used_, other.used_);
  std::swap(flushed_, other.flushed_);
  std::swap(kept_, other.kept_);
  std::swap(muted_, other.muted_);
  std::swap(mutedFrom_, other.mutedFrom_);
  std::swap(mutedFlushed_, other.mutedFlushed_);
}

}  // namespace bplist
