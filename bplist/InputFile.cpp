#include "bplist/InputFile.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "bplist/Format.h"
#include "bplist/Platform.h"

namespace bplist {

namespace {

// Inputs at least this large are read into system pages that ask for huge
// pages: the conversion reads them in an order far from sequential, and with
// small pages most of those reads would first miss the address cache, and
// each small page costs a fault. Smaller ones go into a plain buffer of their
// own size: a huge page is cleared whole on first use, which costs more than
// the few small pages they need.
constexpr size_t kPagedInput = size_t(512) << 10;
// First buffer for an input whose size is not known (a pipe, a device).
constexpr size_t kUnknownSizeStart = size_t(64) << 10;

}  // namespace

bool IsSignature(const uint8_t* data, size_t size) {
  return size == kSignatureSize && std::memcmp(data, kSignature, kSignatureSize) == 0;
}

bool InputFile::Load(const std::string& path, ContentTest test) {
  platform::InputHandle in(path);
  // A regular file is read up to the size it has now, in one read where the
  // system allows; anything else until its end.
  uint64_t known = in.Size();
  size_t want = known == platform::kUnknownSize ? SIZE_MAX : size_t(known);
  if (known != platform::kUnknownSize && known != uint64_t(want)) throw std::bad_alloc();
  Grow(want != SIZE_MAX ? (want > 0 ? want : 1) : kUnknownSizeStart);
  bool checked = false;
  while (size_ < want) {
    if (size_ == capacity_) Grow(capacity_ * 2);
    // The test's bytes are read alone first, so that a stream it refuses is
    // refused before more of it is read.
    size_t room = capacity_ - size_;
    if (!checked && room > test.bytes - size_) room = test.bytes - size_;
    if (room > want - size_) room = want - size_;
    size_t got = in.Read(data_ + size_, room);
    if (got == 0) break;
    size_ += got;
    if (!checked && size_ >= test.bytes) {
      if (!test.accept(data_, size_)) return false;
      checked = true;
    }
  }
  return checked || test.accept(data_, size_);
}

InputFile::~InputFile() {
  Release();
}

void InputFile::Release() {
  if (paged_) {
    platform::FreePages(data_, capacity_);
  } else {
    std::free(data_);
  }
}

// Replaces the buffer by one of at least `capacity` bytes, keeping its bytes.
void InputFile::Grow(size_t capacity) {
  if (capacity < capacity_) throw std::bad_alloc();  // doubling overflowed
  uint8_t* fresh;
  size_t granted = capacity;
  bool paged = capacity >= kPagedInput;
  if (paged) {
    fresh = platform::AllocatePages(capacity, &granted);
  } else {
    fresh = static_cast<uint8_t*>(std::malloc(capacity));
    if (fresh == nullptr) throw std::bad_alloc();
  }
  if (size_ != 0) std::memcpy(fresh, data_, size_);
  Release();
  data_ = fresh;
  capacity_ = granted;
  paged_ = paged;
}

}  // namespace bplist
