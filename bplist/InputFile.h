// Loading the input file: mapped when it is large, read when it is small or
// not a regular file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
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
  void Read(int fd, bool regular, size_t size, const std::string& path);

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t mapped_ = 0;  // length of the mapping, 0 when the file was read
  std::unique_ptr<uint8_t[]> buffer_;
};

// While the input is mapped, another program that shrinks the file makes
// reading it fault. The guard turns that fault into the read-past-end
// report and exit code 217, after removing the output's temporary file if
// one is registered, instead of a crash.
void ArmInputFaultGuard(const std::string& inputPath);
void DisarmInputFaultGuard();
// Registers the temporary file to remove on such a fault ("" for none).
void SetFaultCleanupPath(const std::string& path);

}  // namespace bplist
