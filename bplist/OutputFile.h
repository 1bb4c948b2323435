// Putting the document at the output path only once it is complete.
#pragma once

#include <sys/types.h>

#include <string>

namespace bplist {

// The path that writing to `path` really replaces: symbolic links are
// followed, so a link stays and the file it points to is replaced.
std::string FollowLinks(std::string path);

// True when `path` exists and is neither a regular file nor a directory (a
// device or a pipe): such an output is written in place.
bool IsStream(const std::string& path);

// A temporary file in the output's directory, removed unless it is put in
// place. Creating it raises a RuntimeFailure naming the output.
class TempFile {
 public:
  explicit TempFile(const std::string& target);
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

  // Closes the file and renames it onto the target, keeping the mode of the
  // file it replaces (or the usual mode of a new file).
  void PutInPlace();

 private:
  std::string target_;
  std::string path_;
  int fd_ = -1;
  bool placed_ = false;
};

}  // namespace bplist
