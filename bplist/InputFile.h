// Loading the whole input file into memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bplist {

class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Loads the file at `path` when its first bytes are the signature "bplist".
  // Returns false, having read no more than the signature's length, when they
  // are not, so an endless stream is refused at once. A failed file operation
  // raises a RuntimeFailure.
  // With `anyContent` the file is loaded whatever its first bytes are.
  bool Load(const std::string& path, bool anyContent = false);

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  void Grow(size_t capacity);
  void Release();

  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  bool paged_ = false;  // data_ came from platform::AllocatePages
};

}  // namespace bplist
