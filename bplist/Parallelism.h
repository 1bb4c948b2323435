// How a conversion may use several threads.
#pragma once

#include <cstdint>

namespace bplist {

// When and how the elements of a large container are converted on several
// threads. Batches of elements are converted into memory, each by whichever
// thread is free, and written out in order; the document is the same as a
// single thread's, and so is the first failure reported.
struct Parallelism {
  // Threads converting at once, the calling one included; 1 converts alone.
  unsigned Threads = 1;
  // Files smaller than this convert on one thread: starting threads would
  // cost more than it saves.
  uint64_t MinInput = uint64_t(4) << 20;
  // A container with fewer elements (or dictionary entries) is converted on
  // one thread.
  uint64_t MinElements = 256;
  // Splitting stops for the rest of a conversion once it has proved no
  // faster than the calling thread alone (when other processes have the
  // processors, say). Tests turn this off so that every split happens.
  bool StopWhenSlower = true;
  // Elements written on the calling thread before a container is split, to
  // learn what its elements cost.
  uint64_t FirstBatch = 16;
  // A container whose remaining elements are expected to make less work
  // than this (about a millisecond's worth of output) is not split: handing
  // it to other threads would cost more than it saves.
  uint64_t MinWork = uint64_t(1) << 20;
  // Output aimed at per batch: large enough that handing batches over costs
  // little, small enough that the batches in flight stay in the caches.
  uint64_t BatchBytes = uint64_t(256) << 10;
  // Output a batch may keep in memory. A batch growing past it is left to the
  // thread that writes the document, which converts it straight to the
  // output, so memory stays bounded whatever the file's shared objects expand to.
  uint64_t BatchLimit = uint64_t(8) << 20;
};

// The helper threads a conversion keeps from its first split to its end,
// with what they need (Parallel.cpp).
class SplitThreads {
 public:
  virtual ~SplitThreads() = default;
};

// Threads as many as the processors this process may run on.
Parallelism ForThisMachine();

}  // namespace bplist
