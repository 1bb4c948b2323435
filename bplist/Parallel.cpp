// Converting the entries of one large container on several threads.
//
// A container is split only where it pays: its first entries are written on
// the calling thread, as one thread would, and the rest is split only when
// they show it will make at least Parallelism::MinWork of work. The helper
// threads are started at the first split of a conversion and kept, with
// their contexts and batch buffers, until it ends; each split is one job for
// them, and starts with a copy of the container's place in the document (its
// indentation and the few containers on its path), nothing larger.
//
// The entries are cut into batches, claimed in order. The calling thread
// (the writer) writes batches to the document in order; every other thread
// converts the batches it claims into memory. When the next batch to write
// has not been claimed, the writer converts it straight to the document;
// otherwise, while it waits, it converts a later batch into memory itself,
// and when it can claim none, it waits about two batches' time before it
// converts the next batch straight itself (stealing it from a thread that
// is most likely waiting for a processor), so the writer is never held up
// for long by a thread that does not run. The batches of one split report
// their work as they go; once the split has made more than the budget left,
// the batches still converting are given up and the writer goes on alone.
//
// A batch converted into memory starts with its work count at zero, so its
// budget checks cannot be exact. It records its work at its last check, and
// the writer, which knows the document's work when the batch's turn comes,
// decides from that whether a single thread would have run out of budget
// before the batch's own failure, if any.

#include <algorithm>
#include <memory>
#include <mutex>
#include <new>

#include "bplist/Context.h"
#include "bplist/Platform.h"
#include "bplist/Split.h"

namespace bplist {

namespace {

// Batches claimed but not yet written, per converting thread: enough that a
// thread always finds work while the writer catches up, few enough that
// their texts stay small.
constexpr unsigned kBatchesPerThread = 4;

// Threads started at most, whatever the machine has.
constexpr unsigned kMaxThreads = 16;

// A helper thread's part in a split: converts batches until none are left
// to claim.
void HelpSplit(Helpers& h, Context& own, std::unique_lock<std::mutex>& lock) {
  ResetToPlace(h.job, own);
  while (!h.job.failed && h.job.next < h.job.e.count && h.pool.open) {
    if (MayClaim(h))
      ConvertBatch(h, Claim(h), own, lock);
    else
      h.pool.wake.wait(lock);
  }
}

// Opens the split of entries [begin, e.count) of the container c is
// writing, whose first entries made `work` in `ns` nanoseconds.
void OpenSplit(Helpers& h, Context& c, const Entries& e, uint64_t begin, uint64_t work,
               uint64_t ns) {
  std::unique_lock<std::mutex> lock(h.pool.m);
  SplitJob& job = h.job;
  SpeedProbe& probe = h.probe;
  job.c = &c;
  job.e = e;
  job.path = c.Path;
  job.place = c;
  job.place.Pending = JsonPending::Newline;
  uint64_t at = WorkSoFar(c);
  // The batches' budget is what is left of the document's.
  job.budget = at < c.WorkBudget ? c.WorkBudget - at : 0;
  probe.workPerEntry = std::max<uint64_t>(1, work / begin);
  job.perBatch = std::max<uint64_t>(1, c.Parallel.BatchBytes / probe.workPerEntry);
  probe.ownWork += work;
  probe.ownNs += ns;
  probe.splitStart = Clock::now();
  probe.workAtStart = at;
  probe.solo = false;
  job.next = begin;
  job.claimed = job.written = 0;
  job.entriesWritten = job.workWritten = 0;
  job.failed = false;
  job.spent = 0;
  job.closing = false;
  job.memoryShort = false;
  OpenJob(h.pool, lock);
}

// Ends a split however the writer's part returns: no batch is claimed any
// more, and once every helper has left it, what the workers did is added to
// the writer's count.
class SplitClosing {
 public:
  explicit SplitClosing(Helpers& h) : h_(h) {}
  ~SplitClosing() {
    std::unique_lock<std::mutex> lock(h_.pool.m);
    h_.job.closing = true;  // batches still converting stop at their next piece
    CloseJob(h_.pool, lock);
    Context& c = *h_.job.c;
    EndSplit(h_.probe, c);
    for (auto& w : h_.workers) {
      c.Done.objects += w->c.Done.objects;
      c.Done.bytes += w->c.Done.bytes;
      w->c.Done = WorkDone();
    }
  }

 private:
  Helpers& h_;
};

// The writer's turn when nobody has claimed the next batch: converts it
// straight to the document, without a slot.
bool WriteUnclaimed(Helpers& h, std::unique_lock<std::mutex>& lock) {
  SplitJob& job = h.job;
  uint64_t from = job.next, to = job.next + std::min(job.perBatch, job.e.count - job.next);
  job.next = to;
  ++job.claimed;
  ++job.written;
  lock.unlock();
  if (!WriteStraight(h, from, to)) return false;
  lock.lock();
  JudgeSplit(h.probe, *job.c);
  return true;
}

// The writer's turn when batch `next` is claimed: writes it once done, or
// meanwhile converts a later batch, or takes it over when its thread is
// slow to finish it.
bool WriteClaimed(Helpers& h, Batch& next, std::unique_lock<std::mutex>& lock) {
  SplitJob& job = h.job;
  if (next.done) {
    lock.unlock();
    if (!WriteBatch(h, next)) return false;
    lock.lock();
    Account(h, next);
    ++job.written;
    h.pool.wake.notify_all();
    JudgeSplit(h.probe, *job.c);
  } else if (MayClaim(h)) {
    ConvertBatch(h, Claim(h), h.workers[0]->c, lock);
  } else if (!h.pool.wake.wait_for(lock, Patience(h.probe, next.end - next.begin),
                                   [&] { return next.done; })) {
    // The thread converting the next batch is slow, most likely waiting for
    // a processor: convert the batch straight rather than wait.
    uint64_t from = next.begin, to = next.end;
    ++job.written;
    h.pool.wake.notify_all();
    lock.unlock();
    if (!WriteStraight(h, from, to)) return false;
    lock.lock();
  }
  return true;
}

}  // namespace

// Prepares every thread's context on the calling thread, before any helper
// starts, then starts the helpers. Exhausted memory before the first helper
// starts raises std::bad_alloc; a helper that cannot start leaves the work
// to those that did, so no exception leaves while a helper runs.
Helpers::Helpers(const Context& top) {
  unsigned threads = std::min(top.Parallel.Threads, kMaxThreads);
  for (unsigned i = 0; i < threads * kBatchesPerThread; ++i)
    ring.push_back(std::make_unique<Batch>(top.Parallel.BatchLimit));
  for (unsigned i = 0; i < threads; ++i) {
    workers.push_back(std::make_unique<Worker>(top, top.Parallel.BatchLimit));
    workers.back()->c.Hook = &budget;
  }
  pool.part = [this](unsigned helper, std::unique_lock<std::mutex>& lock) {
    HelpSplit(*this, workers[helper]->c, lock);
  };
  started = StartHelpers(pool, threads - 1);
}

Helpers::~Helpers() {
  JoinHelpers(pool);
}

// Writes entries [begin, e.count) of a container that c is writing, whose
// first entries made `work` in `ns` nanoseconds. Returns false at the first
// failure in entry order. When memory runs short in a batch converted into
// memory, no batch is claimed any more: the writer writes those claimed,
// then returns true with *stoppedAt the first entry not written, for the
// caller to write alone once the helpers and their buffers are gone.
// Otherwise *stoppedAt is e.count.
bool Helpers::Run(Context& c, const Entries& e, uint64_t begin, uint64_t work, uint64_t ns,
                  uint64_t* stoppedAt) {
  *stoppedAt = e.count;
  OpenSplit(*this, c, e, begin, work, ns);
  SplitClosing closing(*this);
  ResetToPlace(job, workers[0]->c);
  std::unique_lock<std::mutex> lock(pool.m);
  while (job.written < job.claimed || job.next < job.e.count) {
    if (job.written == job.claimed) {
      if (job.memoryShort) {
        *stoppedAt = job.next;
        return true;
      }
      if (!WriteUnclaimed(*this, lock)) return false;
    } else if (!WriteClaimed(*this, Slot(*this, job.written), lock)) {
      return false;
    }
  }
  return true;
}

bool SplitBudget::Reached(Context& own) {
  return ExtendBudget(h_, own);
}

namespace {

// Writes entries [from, e.count) on the calling thread, and every container
// after them: the helpers stop and their buffers are freed, for a
// conversion that has run short of memory or cannot start a helper.
bool WriteAlone(Context& c, const Entries& e, uint64_t from) {
  c.Pool.reset();
  c.MaySplit = false;
  return WriteEntries(c, e, from, e.count);
}

// Writes the first entries of a container on this thread, as one thread
// would, in chunks that double, until what they cost says the rest is worth
// splitting; *done receives how many. Returns false at a failure.
bool WriteFirstEntries(Context& c, const Entries& e, uint64_t* done) {
  uint64_t chunk = std::max<uint64_t>(1, c.Parallel.FirstBatch);
  uint64_t start = WorkSoFar(c);
  bool worth = false;
  *done = 0;
  while (*done < e.count && !worth) {
    uint64_t to = *done + std::min(chunk, e.count - *done);
    if (!WriteEntries(c, e, *done, to)) return false;
    *done = to;
    uint64_t perEntry = std::max<uint64_t>(1, (WorkSoFar(c) - start) / *done);
    worth = e.count - *done >= c.Parallel.MinWork / perEntry;
    chunk = *done;
  }
  return true;
}

}  // namespace

bool WriteEntriesInParallel(Context& c, const Entries& e) {
  uint64_t start = WorkSoFar(c), done = 0;
  Clock::time_point startTime = Clock::now();
  if (!WriteFirstEntries(c, e, &done)) return false;
  Helpers* h = static_cast<Helpers*>(c.Pool.get());
  if (done == e.count || (h && !h->probe.paying)) return WriteEntries(c, e, done, e.count);
  uint64_t ns = NanosecondsSince(startTime);
  if (!h) {
    try {
      c.Pool.reset(h = new Helpers(c));
    } catch (const std::bad_alloc&) {
      return WriteAlone(c, e, done);
    }
    if (h->started == 0) return WriteAlone(c, e, done);
    c.Done.threads += h->started;
  }
  ++c.Done.splits;
  c.MaySplit = false;
  uint64_t stoppedAt = e.count;
  bool ok = h->Run(c, e, done, WorkSoFar(c) - start, ns, &stoppedAt);
  c.MaySplit = true;
  if (!ok || stoppedAt == e.count) return ok;
  return WriteAlone(c, e, stoppedAt);
}

Parallelism ForThisMachine() {
  Parallelism p;
  p.Threads = platform::ProcessorCount();
  return p;
}

}  // namespace bplist
