// Loading the whole input file into memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "bplist/Format.h"

namespace bplist {

// Decides from a file's first bytes whether it is to be loaded: `bytes` of
// them (fewer only when the file is shorter) go to `accept`.
struct ContentTest {
  size_t bytes;
  bool (*accept)(const uint8_t* data, size_t size);
};

// Whether data[0, size) is the signature "bplist": the test of files that
// must be binary plists, with kSignatureSize bytes.
bool IsSignature(const uint8_t* data, size_t size);

class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Loads the file at `path` when `test` accepts its first bytes. Returns
  // false, having read no more than the test's bytes, when it does not, so
  // an endless stream is refused at once. A failed file operation raises a
  // RuntimeFailure.
  bool Load(const std::string& path, ContentTest test = {kSignatureSize, IsSignature});

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
