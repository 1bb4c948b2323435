// The pieces that convert one large container on several threads
// (Parallel.cpp puts them together): the batches and the threads' contexts,
// one container's split, and the speeds that say whether splitting pays.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "bplist/Context.h"
#include "bplist/ThreadPool.h"

namespace bplist {

// Thrown to give up a batch: the batches of its split have made more work
// than the budget left when it began.
struct BatchGivenUp {};

// Entries of a container converted into memory by one thread, to be written
// to the document in their turn.
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
  OutputBuffer text;

  explicit Batch(uint64_t limit) : text(limit) {}
};

// What one thread needs to convert batches into memory.
struct Worker {
  OutputBuffer out;
  Context c;

  Worker(const Context& parent, uint64_t limit) : out(limit), c(parent, out) {}
};

using Clock = std::chrono::steady_clock;

uint64_t NanosecondsSince(Clock::time_point start);

// What the writer has learnt, for the batch sizes, its patience and whether
// splitting pays; only the writer uses it. The time and work of its
// straight conversions, and of all splits, are for the whole conversion.
struct SpeedProbe {
  uint64_t workPerEntry = 1;
  uint64_t ownNs = 0, ownWork = 0;
  uint64_t splitNs = 0, splitWork = 0;
  // When the current split began, and the document's work then.
  Clock::time_point splitStart;
  uint64_t workAtStart = 0;
  bool solo = false;  // no batch is claimed any more in this split
  bool paying = true;
};

// How long the writer waits for a batch of `entries` that another thread is
// converting before it converts the batch itself: twice the time the writer
// would take for it, within bounds.
std::chrono::nanoseconds Patience(const SpeedProbe& p, uint64_t entries);

// After each batch written, once enough has been split: when splitting does
// not pay, sets p.solo (no batch is claimed any more) and p.paying.
void JudgeSplit(SpeedProbe& p, const Context& c);

// At the end of a split of c's container: adds its time and work to the
// conversion's, and stops splitting for good when it has not paid.
void EndSplit(SpeedProbe& p, const Context& c);

// One container's split: set by the writer under the pool's lock while no
// helper is in a job. The first fields stay constant until it ends.
struct SplitJob {
  Context* c = nullptr;
  Entries e{0, 0, false};
  // The container's place in the document, as every batch starts from it:
  // the containers on its path, and its place as its first value has it.
  std::vector<uint64_t> path;
  Place place;
  uint64_t budget = 0;
  // The split's work so far, as far as reported: batches converted into
  // memory and straight to the document. Once it passes the budget left
  // when the split began, some of it cannot be written: the batches still
  // converting are given up, and the writer goes on alone.
  std::atomic<uint64_t> spent{0};
  std::atomic<bool> closing{false};  // the split is ending
  uint64_t perBatch = 1;
  uint64_t next = 0;     // the first entry not yet claimed
  uint64_t claimed = 0;  // batches claimed so far
  uint64_t written = 0;  // batches written to the document so far
  uint64_t entriesWritten = 0;
  uint64_t workWritten = 0;
  bool failed = false;       // a batch failed: later ones are not needed
  bool memoryShort = false;  // memory ran short in a batch: the writer goes on alone
};

class Helpers;

// The budget hook of the contexts that convert batches into memory: asks
// their split for a further piece (ExtendBudget).
class SplitBudget final : public BudgetHook {
 public:
  explicit SplitBudget(Helpers& h) : h_(h) {}
  bool Reached(Context& own) override;

 private:
  Helpers& h_;
};

// The helper threads of one conversion, with their contexts and batch
// buffers, kept from its first split to its end.
class Helpers final : public SplitThreads {
 public:
  explicit Helpers(const Context& top);
  ~Helpers() override;

  // The writer's part of a split; see Parallel.cpp.
  bool Run(Context& c, const Entries& e, uint64_t begin, uint64_t work, uint64_t ns,
           uint64_t* stoppedAt);

  ThreadPool pool;
  std::vector<std::unique_ptr<Batch>> ring;
  std::vector<std::unique_ptr<Worker>> workers;  // [0] is the writer's
  unsigned started = 0;                          // helper threads running
  SplitJob job;
  SpeedProbe probe;
  SplitBudget budget{*this};
};

// The batches of a split (SplitBatches.cpp). Functions that take `lock`
// are called and return with the pool's lock held.

// The slot of batch number n.
inline Batch& Slot(Helpers& h, uint64_t n) {
  return *h.ring[n % h.ring.size()];
}

// Whether a thread may take the next batch. Once the batches have made more
// work than the budget left, the writer converts the rest alone.
bool MayClaim(Helpers& h);

// Takes the next entries as a new batch.
Batch& Claim(Helpers& h);

// Puts a converting context at the container's place in the document.
void ResetToPlace(const SplitJob& job, Context& own);

// Converts batch b into memory with the context `own`, then marks it done;
// converts without the lock.
void ConvertBatch(Helpers& h, Batch& b, Context& own, std::unique_lock<std::mutex>& lock);

// Writes entries [begin, end) straight to the document, counting their work
// as spent.
bool WriteStraight(Helpers& h, uint64_t begin, uint64_t end);

// Writes a converted batch to the document, or ends with the failure a
// single thread would have met first.
bool WriteBatch(Helpers& h, Batch& b);

// Learns the work per entry from a written batch, to size the next ones.
void Account(Helpers& h, const Batch& b);

// A batch's budget check for `own` went past its piece (SplitBudget::Reached):
// a further piece, or BatchGivenUp when the batches of its split have made
// more work than could ever be written.
bool ExtendBudget(Helpers& h, Context& own);

}  // namespace bplist
