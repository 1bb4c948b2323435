// The work budget: how much work a conversion may do, what it did, and the
// state each converting context keeps to stay within its share.
#pragma once

#include <cstdint>

namespace bplist {

struct Context;

// How much work one conversion may do. A file whose shared objects would
// make more is refused as too large, so the work stays linear in the input
// and a small hostile file cannot make a huge document. The defaults leave
// honest files far below the bound (a few kilobytes of shared strings or deep
// nesting an application writes can make hundreds of megabytes); the fuzz
// build and the work-bound tests set a much smaller one.
struct Limits {
  // The budget is BudgetBase + BudgetPerInputByte times the input's size.
  uint64_t BudgetBase = uint64_t(1) << 30;
  uint64_t BudgetPerInputByte = 512;
};

// The work a conversion did, on every thread, counted for the tests that
// check it stays linear in the input.
struct WorkDone {
  uint64_t objects = 0;  // objects visited: elements, keys and values, skipped ones included
  uint64_t bytes = 0;    // text made by every writer (a batch made twice counts twice, a
                         // batch copied to the document once), and the bytes read of
                         // counts wider than eight bytes
  uint64_t splits = 0;   // containers whose entries were split across threads
  uint64_t threads = 0;  // helper threads started
};

// Work is measured in bytes of text: every byte written, plus
// kWorkPerElement for each element, key and value a container refers to
// (skipped null and fill elements write nothing but take about as long as
// writing eight bytes), plus the bytes read of counts wider than eight
// bytes. A file whose shared objects would make more work than the budget
// (Limits) is refused as too large.
constexpr uint64_t kWorkPerElement = 8;

// What a context does when its work passes its budget: the document's
// context refuses to go on (OverBudget); a batch converted into memory,
// which gets its budget a piece at a time, asks its split for a further
// piece. Returns whether the conversion goes on.
class BudgetHook {
 public:
  virtual bool Reached(Context& c) = 0;

 protected:
  ~BudgetHook() = default;
};

// The hook of every context that converts straight to its document, which
// its constructor sets.
BudgetHook& DocumentBudget();

// The budget's state in one converting context.
struct BudgetState {
  // Work beyond the bytes written (see kWorkPerElement).
  uint64_t Work = 0;
  // Where the output stood when the conversion began; the most that the
  // work, counted from there, may reach.
  uint64_t OutputStart = 0;
  uint64_t WorkBudget = 0;
  // The work at the last budget check.
  uint64_t LastBudgetCheck = 0;
  // In a batch converted into memory: the work of the current batch it has
  // reported to its split so far.
  uint64_t Reported = 0;
  // Called when the work passes WorkBudget; a split sets its own.
  BudgetHook* Hook = nullptr;
};

}  // namespace bplist
