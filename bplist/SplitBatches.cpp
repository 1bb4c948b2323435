// The batches of a split: claimed in order, converted into memory by
// whichever thread is free, and written to the document in order.
#include <algorithm>
#include <new>

#include "bplist/Split.h"

namespace bplist {

namespace {

// The budget a batch converted into memory gets at a time. Between pieces
// it reports its work to the split, so that the batches of one split never
// make much more work than could be written.
constexpr uint64_t kBudgetPiece = 64 << 10;

// Prepares `own` and batch b for converting b into memory.
void StartBatch(const SplitJob& job, Batch& b, Context& own) {
  b.ok = b.redo = false;
  b.error = nullptr;
  b.damage.clear();
  b.tooLarge = false;
  own.Out.Clear();
  own.Work = 0;
  own.WorkBudget = std::min(job.budget, kBudgetPiece);
  own.LastBudgetCheck = 0;
  own.Reported = 0;
  own.Pending = JsonPending::Newline;
}

}  // namespace

bool MayClaim(Helpers& h) {
  const SplitJob& job = h.job;
  return h.pool.open && !h.probe.solo && !job.failed && !job.memoryShort &&
         job.next < job.e.count && job.claimed - job.written < h.ring.size() &&
         !Slot(h, job.claimed).converting && job.spent <= job.budget;
}

Batch& Claim(Helpers& h) {
  SplitJob& job = h.job;
  Batch& b = Slot(h, job.claimed++);
  b.begin = job.next;
  b.end = job.next + std::min(job.perBatch, job.e.count - job.next);
  b.done = false;
  b.converting = true;
  job.next = b.end;
  return b;
}

// Equal sizes or less: the copy reuses the storage and cannot fail. A batch
// starts its text as the container's first value would; WriteBatch adds the
// comma when values come before it.
void ResetToPlace(const SplitJob& job, Context& own) {
  own.Path.assign(job.path.begin(), job.path.end());
  MoveTo(own, job.place);
  own.Damage.clear();
  own.TooLarge = false;
}

void ConvertBatch(Helpers& h, Batch& b, Context& own, std::unique_lock<std::mutex>& lock) {
  SplitJob& job = h.job;
  lock.unlock();
  StartBatch(job, b, own);
  bool outOfMemory = false;
  try {
    b.ok = WriteEntries(own, job.e, b.begin, b.end);
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
  job.spent += WorkSoFar(own) - own.Reported;
  if (b.ok) {
    b.text.Swap(own.Out);
  } else {
    // A failure or an exception can leave the context mid-document: put it
    // back at the container's place for the next batch.
    ResetToPlace(job, own);
  }
  lock.lock();
  b.done = true;
  b.converting = false;
  if (outOfMemory) job.memoryShort = true;
  // After a failure the batches that follow are not needed.
  if (!b.ok && !b.redo) job.failed = true;
  h.pool.wake.notify_all();
}

bool WriteStraight(Helpers& h, uint64_t begin, uint64_t end) {
  Context& c = *h.job.c;
  Clock::time_point start = Clock::now();
  uint64_t before = WorkSoFar(c);
  bool ok = WriteEntries(c, h.job.e, begin, end);
  uint64_t work = WorkSoFar(c) - before;
  h.job.spent += work;
  h.probe.ownWork += work;
  h.probe.ownNs += NanosecondsSince(start);
  return ok;
}

bool WriteBatch(Helpers& h, Batch& b) {
  Context& c = *h.job.c;
  if (b.redo) return WriteStraight(h, b.begin, b.end);
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

void Account(Helpers& h, const Batch& b) {
  SplitJob& job = h.job;
  job.entriesWritten += b.end - b.begin;
  job.workWritten += b.text.Written() + b.work;
  h.probe.workPerEntry = std::max<uint64_t>(1, job.workWritten / job.entriesWritten);
  job.perBatch = std::max<uint64_t>(1, job.c->Parallel.BatchBytes / h.probe.workPerEntry);
}

bool ExtendBudget(Helpers& h, Context& own) {
  SplitJob& job = h.job;
  uint64_t now = own.LastBudgetCheck;
  if (now > job.budget) return OverBudget(own);  // one thread would fail here or sooner
  uint64_t spent = job.spent += now - own.Reported;
  own.Reported = now;
  if (spent > job.budget || job.closing) throw BatchGivenUp();
  own.WorkBudget = std::min(job.budget, now + kBudgetPiece);
  return true;
}

}  // namespace bplist
