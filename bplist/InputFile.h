// Loading the whole input file into memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace bplist {

class InputFile {
 public:
  // Loads the file at `path`; a failed file operation raises a RuntimeFailure.
  explicit InputFile(const std::string& path);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  void Grow(size_t capacity);

  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;  // length of the buffer's mapping
};

}  // namespace bplist
