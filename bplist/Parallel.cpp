// Converting the entries of one large container on several threads.
//
// The entries are cut into batches, claimed in order. The calling thread
// (the writer) writes batches to the document in order; every other thread
// converts the batches it claims into memory. When the next batch to write
// has not been claimed, the writer converts it straight to the document;
// otherwise, while it waits, it converts a later batch into memory itself.
//
// A batch converted into memory starts with its output count at zero, so
// its budget checks cannot be exact. It records where its output stood at
// its last check, and the writer, which knows where the document stands
// when the batch's turn comes, decides from that whether a single thread
// would have run out of budget before the batch's own failure, if any.

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bplist/Context.h"
#include "bplist/Platform.h"

namespace bplist {

namespace {

// Batches claimed but not yet written, per converting thread: enough that a
// thread always finds work while the writer catches up, few enough that
// their texts stay small.
constexpr unsigned kBatchesPerThread = 4;

// Threads started at most, whatever the machine has.
constexpr unsigned kMaxThreads = 16;

struct Batch {
  uint64_t begin = 0;  // entries [begin, end)
  uint64_t end = 0;
  bool done = false;
  // The outcome of converting the batch into `text`.
  bool ok = false;
  bool tooLarge = false;  // the text outgrew the batch limit
  std::exception_ptr error;
  std::string damage;
  uint64_t lastBudgetCheck = 0;
  XmlWriter text;

  explicit Batch(uint64_t limit) : text(limit) {}
};

// What one thread needs to convert batches into memory.
struct Worker {
  XmlWriter out;
  Context c;

  Worker(const Context& parent, uint64_t limit) : out(limit), c(parent, out) {}
};

class Split {
 public:
  // Prepares every thread's context on the calling thread, before any
  // helper starts, then starts the helpers.
  Split(Context& c, const Entries& e)
      : c_(c),
        e_(e),
        path_(c.OnPath),
        dictSpace_(c.DictSpace),
        depth_(c.Depth),
        perBatch_(c.Parallel.FirstBatch) {
    unsigned threads = std::min(c.Parallel.Threads, kMaxThreads);
    for (unsigned i = 0; i < threads * kBatchesPerThread; ++i)
      ring_.push_back(std::make_unique<Batch>(c.Parallel.BatchLimit));
    for (unsigned i = 0; i < threads; ++i)
      workers_.push_back(std::make_unique<Worker>(c, c.Parallel.BatchLimit));
    // The batches' budget is what is left of the document's.
    budget_ = c.Out.Written() < c.OutputBudget ? c.OutputBudget - c.Out.Written() : 0;
    for (unsigned i = 1; i < threads; ++i) {
      try {
        helpers_.emplace_back([this, i] { Help(workers_[i]->c); });
      } catch (const std::system_error&) {
        break;  // fewer threads still convert the whole container
      }
    }
  }

  ~Split() {
    {
      std::lock_guard<std::mutex> lock(m_);
      stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : helpers_) t.join();
  }

  // The writer's part: returns false at the first failure in entry order.
  bool Run() {
    Context& own = workers_[0]->c;
    std::unique_lock<std::mutex> lock(m_);
    while (written_ < claimed_ || next_ < e_.count) {
      if (written_ == claimed_) {
        // Nobody has the next batch: convert it straight to the document.
        // Its slot is free again at once, so its range is copied first.
        Batch& b = Claim();
        uint64_t begin = b.begin, end = b.end;
        ++written_;
        lock.unlock();
        if (!WriteEntries(c_, e_, begin, end)) return false;
        lock.lock();
        continue;
      }
      Batch& next = Slot(written_);
      if (next.done) {
        lock.unlock();
        if (!Write(next)) return false;
        lock.lock();
        Account(next);
        ++written_;
        wake_.notify_all();
      } else if (MayClaim()) {
        Convert(Claim(), own, lock);
      } else {
        wake_.wait(lock);
      }
    }
    return true;
  }

 private:
  Batch& Slot(uint64_t n) { return *ring_[n % ring_.size()]; }

  bool MayClaim() const {
    return !stop_ && !failed_ && next_ < e_.count && claimed_ - written_ < ring_.size();
  }

  // Takes the next entries as a new batch; the lock must be held.
  Batch& Claim() {
    Batch& b = Slot(claimed_++);
    b.begin = next_;
    b.end = next_ + std::min(perBatch_, e_.count - next_);
    b.done = false;
    next_ = b.end;
    return b;
  }

  // Converts batch b into memory with the context `own`, then marks it done.
  // Called and returning with the lock held; converts without it.
  void Convert(Batch& b, Context& own, std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    b.ok = b.tooLarge = false;
    b.error = nullptr;
    b.damage.clear();
    own.Out.Clear();
    own.OutputBudget = budget_;
    own.LastBudgetCheck = 0;
    try {
      b.ok = WriteEntries(own, e_, b.begin, b.end);
      b.damage = own.Damage;
      b.lastBudgetCheck = own.LastBudgetCheck;
      b.text.Swap(own.Out);
    } catch (const MemoryLimitReached&) {
      b.tooLarge = true;
    } catch (...) {
      b.error = std::current_exception();
      b.lastBudgetCheck = own.LastBudgetCheck;
    }
    // A failure or an exception can leave the context mid-document: restore
    // it to the container's place for the next batch.
    if (!b.ok) ResetContext(own);
    lock.lock();
    b.done = true;
    // A batch too large for memory is converted again when its turn comes;
    // after any other failure the batches that follow are not needed.
    if (!b.ok && !b.tooLarge) failed_ = true;
    wake_.notify_all();
  }

  // Equal sizes: the copy reuses the storage and cannot fail.
  void ResetContext(Context& own) {
    own.OnPath = path_;
    own.DictSpace = dictSpace_;
    own.Depth = depth_;
    own.Damage.clear();
  }

  // Writes a converted batch to the document, or ends with the failure a
  // single thread would have met first.
  bool Write(Batch& b) {
    if (b.tooLarge) return WriteEntries(c_, e_, b.begin, b.end);
    uint64_t at = c_.Out.Written();
    if (at > c_.OutputBudget || b.lastBudgetCheck > c_.OutputBudget - at) return OverBudget(c_);
    if (b.error) std::rethrow_exception(b.error);
    if (!b.ok) {
      if (!b.damage.empty()) Damaged(c_, b.damage);
      return false;
    }
    c_.Out.PutText(b.text);
    return true;
  }

  // Learns the output per entry from a written batch, to size the next ones.
  void Account(const Batch& b) {
    entriesWritten_ += b.end - b.begin;
    bytesWritten_ += b.text.Written();
    uint64_t perEntry = std::max<uint64_t>(1, bytesWritten_ / entriesWritten_);
    perBatch_ = std::max<uint64_t>(1, c_.Parallel.BatchBytes / perEntry);
  }

  // A helper thread's part: converts batches until none are left to claim.
  void Help(Context& own) {
    std::unique_lock<std::mutex> lock(m_);
    while (!stop_ && !failed_ && next_ < e_.count) {
      if (MayClaim())
        Convert(Claim(), own, lock);
      else
        wake_.wait(lock);
    }
  }

  Context& c_;
  const Entries e_;
  // The container's place in the document, as every batch starts from it.
  const std::vector<bool> path_;
  const size_t dictSpace_;
  const unsigned depth_;
  uint64_t budget_ = 0;
  std::vector<std::unique_ptr<Batch>> ring_;
  std::vector<std::unique_ptr<Worker>> workers_;  // [0] is the writer's
  std::vector<std::thread> helpers_;

  std::mutex m_;
  std::condition_variable wake_;
  uint64_t perBatch_;
  uint64_t next_ = 0;     // the first entry not yet claimed
  uint64_t claimed_ = 0;  // batches claimed so far
  uint64_t written_ = 0;  // batches written to the document so far
  uint64_t entriesWritten_ = 0;
  uint64_t bytesWritten_ = 0;
  bool failed_ = false;  // a batch failed: later ones are not needed
  bool stop_ = false;
};

}  // namespace

bool WriteEntriesInParallel(Context& c, const Entries& e) {
  c.MaySplit = false;
  bool ok;
  {
    Split split(c, e);
    ok = split.Run();
  }
  c.MaySplit = true;
  return ok;
}

Parallelism ForThisMachine() {
  Parallelism p;
  p.Threads = platform::ProcessorCount();
  return p;
}

}  // namespace bplist
