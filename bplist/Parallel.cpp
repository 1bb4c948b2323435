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
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
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

// The budget a batch converted into memory gets at a time. Between pieces
// it reports its work to the split, so that the batches of one split never
// make much more work than could be written.
constexpr uint64_t kBudgetPiece = 64 << 10;

// Split work after which the writer judges whether splitting pays on this
// machine, as busy as it is now, and again after every batch.
constexpr uint64_t kProbeWork = 8 << 20;

// Thrown to give up a batch: the batches of its split have made more work
// than the budget left when it began.
struct BatchGivenUp {};

struct Batch {
  uint64_t begin = 0;  // entries [begin, end)
  uint64_t end = 0;
  bool done = false;
  // A thread is converting the batch into memory: the slot cannot take
  // another batch yet, even if the writer has stolen this one.
  bool converting = false;
  // The outcome of converting the batch into `text`.
  bool ok = false;
  // Converted again when its turn comes: the text outgrew the batch limit,
  // or the batch was given up.
  bool redo = false;
  std::exception_ptr error;
  std::string damage;
  bool tooLarge = false;  // the damage is the work budget
  // In JSON, what the value after the batch needs: JsonPending::Newline
  // when the batch wrote nothing (all its entries were left out).
  JsonPending pending = JsonPending::Newline;
  uint64_t lastBudgetCheck = 0;
  uint64_t work = 0;  // the batch's Context::Work
  XmlWriter text;

  explicit Batch(uint64_t limit) : text(limit) {}
};

using Clock = std::chrono::steady_clock;

uint64_t NanosecondsSince(Clock::time_point start) {
  return uint64_t(
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
}

// What one thread needs to convert batches into memory.
struct Worker {
  XmlWriter out;
  Context c;

  Worker(const Context& parent, uint64_t limit) : out(limit), c(parent, out) {}
};

}  // namespace

class Helpers {
 public:
  // Prepares every thread's context on the calling thread, before any
  // helper starts, then starts the helpers. Exhausted memory before the
  // first helper starts raises std::bad_alloc; a helper that cannot start
  // (no thread, or no memory for its state) leaves the work to those that
  // did, so no exception leaves while a helper runs.
  explicit Helpers(const Context& top) {
    unsigned threads = std::min(top.Parallel.Threads, kMaxThreads);
    for (unsigned i = 0; i < threads * kBatchesPerThread; ++i)
      ring_.push_back(std::make_unique<Batch>(top.Parallel.BatchLimit));
    for (unsigned i = 0; i < threads; ++i) {
      workers_.push_back(std::make_unique<Worker>(top, top.Parallel.BatchLimit));
      workers_.back()->c.Split = this;
    }
    helpers_.reserve(threads - 1);  // so that starting a helper never moves the others
    for (unsigned i = 1; i < threads; ++i) {
      try {
        helpers_.emplace_back([this, i] { Help(workers_[i]->c); });
      } catch (const std::system_error&) {
        break;  // fewer threads still convert every container
      } catch (const std::bad_alloc&) {
        break;
      }
    }
  }

  ~Helpers() {
    {
      std::lock_guard<std::mutex> lock(m_);
      stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : helpers_) t.join();
  }

  uint64_t Started() const { return helpers_.size(); }

  // False once splitting has proved no faster than the writer alone in this
  // conversion (other processes have the processors, say): containers are
  // then converted on one thread.
  bool Paying() const { return paying_; }

  // A batch's budget check for `own` went past its piece (BudgetReached).
  bool Extend(Context& own) {
    uint64_t now = own.LastBudgetCheck;
    if (now > budget_) return OverBudget(own);  // one thread would fail here or sooner
    uint64_t spent = spent_ += now - own.Reported;
    own.Reported = now;
    if (spent > budget_ || closing_) throw BatchGivenUp();
    own.WorkBudget = std::min(budget_, now + kBudgetPiece);
    return true;
  }

  // The writer's part: writes entries [begin, e.count) of a container that
  // c is writing, whose first entries made `work` in `ns` nanoseconds.
  // Returns false at the first failure in entry order. When memory runs
  // short in a batch converted into memory, no batch is claimed any more:
  // the writer writes those claimed, then returns true with *stoppedAt the
  // first entry not written, for the caller to write alone once the
  // helpers and their buffers are gone. Otherwise *stoppedAt is e.count.
  bool Run(Context& c, const Entries& e, uint64_t begin, uint64_t work, uint64_t ns,
           uint64_t* stoppedAt) {
    *stoppedAt = e.count;
    {
      std::lock_guard<std::mutex> lock(m_);
      c_ = &c;
      e_ = e;
      path_ = c.Path;
      dictSpace_ = c.DictSpace;
      uint64_t at = WorkSoFar(c);
      // The batches' budget is what is left of the document's.
      budget_ = at < c.WorkBudget ? c.WorkBudget - at : 0;
      workPerEntry_ = std::max<uint64_t>(1, work / begin);
      perBatch_ = std::max<uint64_t>(1, c.Parallel.BatchBytes / workPerEntry_);
      ownWork_ += work;
      ownNs_ += ns;
      jobStart_ = Clock::now();
      workAtStart_ = at;
      solo_ = false;
      next_ = begin;
      claimed_ = written_ = 0;
      entriesWritten_ = workWritten_ = 0;
      failed_ = false;
      spent_ = 0;
      closing_ = false;
      short_ = false;
      open_ = true;
      ++job_;
    }
    wake_.notify_all();
    Job job(*this);
    Context& own = workers_[0]->c;
    Reset(own);
    std::unique_lock<std::mutex> lock(m_);
    while (written_ < claimed_ || next_ < e_.count) {
      if (short_ && written_ == claimed_) {
        *stoppedAt = next_;
        return true;
      }
      if (written_ == claimed_) {
        // Nobody has the next batch: convert it straight to the document,
        // without a slot.
        uint64_t from = next_, to = next_ + std::min(perBatch_, e_.count - next_);
        next_ = to;
        ++claimed_;
        ++written_;
        lock.unlock();
        if (!WriteStraight(from, to)) return false;
        lock.lock();
        Judge();
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
        Judge();
      } else if (MayClaim()) {
        Convert(Claim(), own, lock);
      } else if (!wake_.wait_for(lock, Patience(next), [&] { return next.done; })) {
        // The thread converting the next batch is slow, most likely waiting
        // for a processor: convert the batch straight rather than wait.
        uint64_t from = next.begin, to = next.end;
        ++written_;
        wake_.notify_all();
        lock.unlock();
        if (!WriteStraight(from, to)) return false;
        lock.lock();
      }
    }
    return true;
  }

 private:
  // Ends a job however Run returns: no batch is claimed any more, and once
  // every helper has left the job, what the workers did is added to the
  // writer's count.
  class Job {
   public:
    explicit Job(Helpers& h) : h_(h) {}
    ~Job() {
      std::unique_lock<std::mutex> lock(h_.m_);
      h_.open_ = false;
      h_.closing_ = true;  // batches still converting stop at their next piece
      h_.wake_.notify_all();
      h_.idle_.wait(lock, [this] { return h_.busy_ == 0; });
      h_.splitNs_ += NanosecondsSince(h_.jobStart_);
      h_.splitWork_ += WorkSoFar(*h_.c_) - h_.workAtStart_;
      if (h_.c_->Parallel.StopWhenSlower && h_.splitWork_ >= kProbeWork &&
          !h_.Faster(h_.splitWork_, h_.splitNs_))
        h_.paying_ = false;
      for (auto& w : h_.workers_) {
        h_.c_->Done.objects += w->c.Done.objects;
        h_.c_->Done.bytes += w->c.Done.bytes;
        w->c.Done = WorkDone();
      }
    }

   private:
    Helpers& h_;
  };

  Batch& Slot(uint64_t n) { return *ring_[n % ring_.size()]; }

  // How long the writer waits for batch b, which another thread is
  // converting, before it converts the batch itself: twice the time the
  // writer would take for it, judged from the work per entry so far and
  // the writer's own speed, within bounds.
  std::chrono::nanoseconds Patience(const Batch& b) const {
    double expected = double(b.end - b.begin) * double(workPerEntry_) * NsPerWork();
    return std::chrono::nanoseconds(int64_t(std::clamp(2 * expected, 2e5, 2e9)));
  }

  // The writer's own speed, from the entries it converted straight.
  double NsPerWork() const { return double(ownNs_) / double(std::max<uint64_t>(1, ownWork_)); }

  // Whether `work` written in `ns` by splitting beats the writer alone.
  bool Faster(uint64_t work, uint64_t ns) const { return double(ns) < double(work) * NsPerWork(); }

  // After each batch written, once enough has been split: when splitting
  // does not pay, no batch is claimed any more, and the writer goes on
  // alone. Called with the lock held.
  void Judge() {
    uint64_t work = splitWork_ + (WorkSoFar(*c_) - workAtStart_);
    if (solo_ || !c_->Parallel.StopWhenSlower || work < kProbeWork ||
        Faster(work, splitNs_ + NanosecondsSince(jobStart_)))
      return;
    solo_ = true;
    paying_ = false;
  }

  // Whether a thread may take the next batch. Once the batches have made
  // more work than the budget left, the writer converts the rest alone.
  bool MayClaim() {
    return open_ && !solo_ && !failed_ && !short_ && next_ < e_.count &&
           claimed_ - written_ < ring_.size() && !Slot(claimed_).converting && spent_ <= budget_;
  }

  // Takes the next entries as a new batch; the lock must be held.
  Batch& Claim() {
    Batch& b = Slot(claimed_++);
    b.begin = next_;
    b.end = next_ + std::min(perBatch_, e_.count - next_);
    b.done = false;
    b.converting = true;
    next_ = b.end;
    return b;
  }

  // Puts a converting context at the container's place in the document.
  // Equal sizes or less: the copy reuses the storage and cannot fail. A
  // batch starts its text as the container's first value would; Write adds
  // the comma when values come before it.
  void Reset(Context& own) {
    own.Path.assign(path_.begin(), path_.end());
    own.DictSpace = dictSpace_;
    own.Pending = JsonPending::Newline;
    own.Damage.clear();
    own.TooLarge = false;
  }

  // Converts batch b into memory with the context `own`, then marks it done.
  // Called and returning with the lock held; converts without it.
  void Convert(Batch& b, Context& own, std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    b.ok = b.redo = false;
    b.error = nullptr;
    b.damage.clear();
    b.tooLarge = false;
    own.Out.Clear();
    own.Work = 0;
    own.WorkBudget = std::min(budget_, kBudgetPiece);
    own.LastBudgetCheck = 0;
    own.Reported = 0;
    own.Pending = JsonPending::Newline;
    bool outOfMemory = false;
    try {
      b.ok = WriteEntries(own, e_, b.begin, b.end);
      b.damage = own.Damage;
      b.tooLarge = own.TooLarge;
      b.pending = own.Pending;
      b.lastBudgetCheck = own.LastBudgetCheck;
      b.work = own.Work;
    } catch (const MemoryLimitReached&) {
      b.redo = true;
    } catch (const BatchGivenUp&) {
      b.redo = true;
    } catch (const std::bad_alloc&) {
      // The writer converts the batch again straight to the document, which
      // needs no memory of its own.
      b.redo = true;
      outOfMemory = true;
    } catch (...) {
      b.error = std::current_exception();
      b.lastBudgetCheck = own.LastBudgetCheck;
    }
    own.Done.bytes += own.Out.Written();
    spent_ += WorkSoFar(own) - own.Reported;
    if (b.ok) {
      b.text.Swap(own.Out);
    } else {
      // A failure or an exception can leave the context mid-document: put
      // it back at the container's place for the next batch.
      Reset(own);
    }
    lock.lock();
    b.done = true;
    b.converting = false;
    if (outOfMemory) short_ = true;
    // After a failure the batches that follow are not needed.
    if (!b.ok && !b.redo) failed_ = true;
    wake_.notify_all();
  }

  // Writes entries [begin, end) straight to the document, counting their
  // work as spent.
  bool WriteStraight(uint64_t begin, uint64_t end) {
    Clock::time_point start = Clock::now();
    uint64_t before = WorkSoFar(*c_);
    bool ok = WriteEntries(*c_, e_, begin, end);
    uint64_t work = WorkSoFar(*c_) - before;
    spent_ += work;
    ownWork_ += work;
    ownNs_ += NanosecondsSince(start);
    return ok;
  }

  // Writes a converted batch to the document, or ends with the failure a
  // single thread would have met first.
  bool Write(Batch& b) {
    Context& c = *c_;
    if (b.redo) return WriteStraight(b.begin, b.end);
    uint64_t at = WorkSoFar(c);
    if (at > c.WorkBudget || b.lastBudgetCheck > c.WorkBudget - at) return OverBudget(c);
    if (b.error) std::rethrow_exception(b.error);
    if (!b.ok) {
      // A batch's own budget check measures from the batch, not the document.
      if (b.tooLarge) return OverBudget(c);
      if (!b.damage.empty()) Damaged(c, b.damage);
      return false;
    }
    if (c.Format == OutputFormat::Json && b.pending != JsonPending::Newline) {
      if (c.Pending == JsonPending::Comma) {
        // The batch counted its first value as XML, without this comma.
        c.Out.Put(",");
        c.Work -= 1;
      }
      c.Pending = b.pending;
    }
    c.Out.PutText(b.text);
    c.Copied += b.text.Written();
    c.Work += b.work;
    return true;
  }

  // Learns the work per entry from a written batch, to size the next ones.
  void Account(const Batch& b) {
    entriesWritten_ += b.end - b.begin;
    workWritten_ += b.text.Written() + b.work;
    workPerEntry_ = std::max<uint64_t>(1, workWritten_ / entriesWritten_);
    perBatch_ = std::max<uint64_t>(1, c_->Parallel.BatchBytes / workPerEntry_);
  }

  // A helper thread's part: joins each job and converts its batches until
  // none are left to claim.
  void Help(Context& own) {
    std::unique_lock<std::mutex> lock(m_);
    uint64_t seen = 0;
    for (;;) {
      wake_.wait(lock, [&] { return stop_ || (open_ && job_ != seen); });
      if (stop_) return;
      seen = job_;
      ++busy_;
      Reset(own);
      while (!failed_ && next_ < e_.count && open_) {
        if (MayClaim())
          Convert(Claim(), own, lock);
        else
          wake_.wait(lock);
      }
      if (--busy_ == 0) idle_.notify_all();
    }
  }

  std::vector<std::unique_ptr<Batch>> ring_;
  std::vector<std::unique_ptr<Worker>> workers_;  // [0] is the writer's
  std::vector<std::thread> helpers_;

  std::mutex m_;
  std::condition_variable wake_;  // a batch done or written, a job opened or closed
  std::condition_variable idle_;  // the last helper left a job
  bool stop_ = false;
  // The job: set by the writer under the lock while no helper is in a job,
  // and constant until it ends.
  Context* c_ = nullptr;
  Entries e_{0, 0, false};
  // The container's place in the document, as every batch starts from it.
  std::vector<uint64_t> path_;
  size_t dictSpace_ = 0;
  uint64_t budget_ = 0;
  // The job's work so far, as far as reported: batches converted into memory
  // and straight to the document. Once it passes the budget left when the
  // job began, some of it cannot be written: the batches still converting
  // are given up, and the writer goes on alone.
  std::atomic<uint64_t> spent_{0};
  std::atomic<bool> closing_{false};  // the job is ending
  // The job's progress.
  uint64_t job_ = 0;   // jobs opened so far
  bool open_ = false;  // batches may be claimed
  unsigned busy_ = 0;  // helpers in the job
  uint64_t perBatch_ = 1;
  uint64_t next_ = 0;     // the first entry not yet claimed
  uint64_t claimed_ = 0;  // batches claimed so far
  uint64_t written_ = 0;  // batches written to the document so far
  uint64_t entriesWritten_ = 0;
  uint64_t workWritten_ = 0;
  bool failed_ = false;  // a batch failed: later ones are not needed
  bool short_ = false;   // memory ran short in a batch: the writer goes on alone
  // What the writer has learnt, for the batch sizes, its patience and
  // whether splitting pays; only the writer uses them. The time and work of
  // its straight conversions, and of all splits, are for the conversion.
  uint64_t workPerEntry_ = 1;
  uint64_t ownNs_ = 0, ownWork_ = 0;
  uint64_t splitNs_ = 0, splitWork_ = 0;
  Clock::time_point jobStart_;
  uint64_t workAtStart_ = 0;
  bool solo_ = false;  // no batch is claimed any more in this job
  bool paying_ = true;
};

void StopHelpers::operator()(Helpers* h) const {
  delete h;
}

bool BudgetReached(Context& c) {
  return c.Split ? c.Split->Extend(c) : OverBudget(c);
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

}  // namespace

bool WriteEntriesInParallel(Context& c, const Entries& e) {
  // Entries on this thread, as one thread would write them, in chunks that
  // double, until what they cost says the rest is worth splitting.
  uint64_t done = 0, chunk = std::max<uint64_t>(1, c.Parallel.FirstBatch);
  uint64_t start = WorkSoFar(c);
  Clock::time_point startTime = Clock::now();
  bool worth = false;
  while (done < e.count && !worth) {
    uint64_t to = done + std::min(chunk, e.count - done);
    if (!WriteEntries(c, e, done, to)) return false;
    done = to;
    uint64_t perEntry = std::max<uint64_t>(1, (WorkSoFar(c) - start) / done);
    worth = e.count - done >= c.Parallel.MinWork / perEntry;
    chunk = done;
  }
  if (done == e.count || (c.Pool && !c.Pool->Paying())) return WriteEntries(c, e, done, e.count);
  uint64_t ns = NanosecondsSince(startTime);
  if (!c.Pool) {
    try {
      c.Pool.reset(new Helpers(c));
    } catch (const std::bad_alloc&) {
      return WriteAlone(c, e, done);
    }
    if (c.Pool->Started() == 0) return WriteAlone(c, e, done);
    c.Done.threads += c.Pool->Started();
  }
  ++c.Done.splits;
  c.MaySplit = false;
  uint64_t stoppedAt = e.count;
  bool ok = c.Pool->Run(c, e, done, WorkSoFar(c) - start, ns, &stoppedAt);
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
