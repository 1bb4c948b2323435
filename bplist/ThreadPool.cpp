// Helper threads that wait for jobs and take part in each one.
#include "bplist/ThreadPool.h"

#include <new>
#include <system_error>

namespace bplist {

namespace {

// A helper's life: waits for each job, takes its part, and counts itself in
// and out of it, until the pool stops.
void Help(ThreadPool& pool, unsigned helper) {
  std::unique_lock<std::mutex> lock(pool.m);
  uint64_t seen = 0;
  for (;;) {
    pool.wake.wait(lock, [&] { return pool.stop || (pool.open && pool.jobs != seen); });
    if (pool.stop) return;
    seen = pool.jobs;
    ++pool.busy;
    pool.part(helper, lock);
    if (--pool.busy == 0) pool.idle.notify_all();
  }
}

}  // namespace

unsigned StartHelpers(ThreadPool& pool, unsigned count) {
  pool.threads.reserve(count);  // so that starting a helper never moves the others
  for (unsigned i = 1; i <= count; ++i) {
    try {
      pool.threads.emplace_back([&pool, i] { Help(pool, i); });
    } catch (const std::system_error&) {
      break;  // fewer threads still do every job
    } catch (const std::bad_alloc&) {
      break;
    }
  }
  return unsigned(pool.threads.size());
}

void OpenJob(ThreadPool& pool, std::unique_lock<std::mutex>&) {
  pool.open = true;
  ++pool.jobs;
  pool.wake.notify_all();
}

void CloseJob(ThreadPool& pool, std::unique_lock<std::mutex>& lock) {
  pool.open = false;
  pool.wake.notify_all();
  pool.idle.wait(lock, [&] { return pool.busy == 0; });
}

void JoinHelpers(ThreadPool& pool) {
  {
    std::lock_guard<std::mutex> lock(pool.m);
    pool.stop = true;
  }
  pool.wake.notify_all();
  for (std::thread& t : pool.threads) t.join();
}

}  // namespace bplist
