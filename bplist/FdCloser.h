// Closes a file descriptor when it goes out of scope.
#pragma once

#include <unistd.h>

namespace bplist {

struct FdCloser {
  int fd;  // -1 for none
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace bplist
