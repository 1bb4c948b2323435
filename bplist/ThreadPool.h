// Helper threads that wait for jobs and take part in each one. Knows nothing
// of documents: the caller's part says what a helper does in a job.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace bplist {

// The helpers and the lock they share with whoever opens their jobs. Every
// field is read and written with `m` held.
struct ThreadPool {
  std::mutex m;
  // Signalled when a job opens or closes, and for whatever the job's parts
  // wait on (ThreadPool users share it).
  std::condition_variable wake;
  // Signalled when the last helper leaves a job.
  std::condition_variable idle;
  std::vector<std::thread> threads;
  bool stop = false;
  uint64_t jobs = 0;  // jobs opened so far
  bool open = false;  // the current job takes helpers
  unsigned busy = 0;  // helpers in the current job
  // A helper's part in a job, numbered from 1; called and returning with
  // `m` held through the lock given.
  std::function<void(unsigned helper, std::unique_lock<std::mutex>& lock)> part;
};

// Starts up to `count` helpers running `pool.part` in every job. A helper
// that cannot start (no thread, or no memory for its state) leaves the work
// to those that did: returns how many started, and raises nothing once one
// runs.
unsigned StartHelpers(ThreadPool& pool, unsigned count);

// Opens a job for the helpers; `lock` holds pool.m. They join when it is
// released.
void OpenJob(ThreadPool& pool, std::unique_lock<std::mutex>& lock);

// Closes the job: no helper joins it any more, and returns once every helper
// has left it. `lock` holds pool.m.
void CloseJob(ThreadPool& pool, std::unique_lock<std::mutex>& lock);

// Stops the helpers and waits for them to end.
void JoinHelpers(ThreadPool& pool);

}  // namespace bplist
