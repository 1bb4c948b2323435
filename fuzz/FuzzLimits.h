// The work budget of the whole-file fuzz targets: much smaller than the
// product's, so that a mutant that expands its shared objects is refused
// after a few milliseconds instead of running to the product's budget. The
// seeds and most inputs stay far below it.
#pragma once

#include "bplist/Convert.h"

namespace fuzzlimits {

// Output a conversion may make before any input byte is counted.
constexpr uint64_t kBudgetBase = uint64_t(64) << 10;
// Output allowed per input byte on top of kBudgetBase.
constexpr uint64_t kBudgetPerInputByte = 16;

inline bplist::Limits Small() {
  bplist::Limits limits;
  limits.BudgetBase = kBudgetBase;
  limits.BudgetPerInputByte = kBudgetPerInputByte;
  return limits;
}

// The work budget for an input of `size` bytes.
inline uint64_t Budget(size_t size) {
  return kBudgetBase + kBudgetPerInputByte * size;
}

// Returns false when a conversion of `size` bytes under Small() reports more
// work than its budget allows: the objects it visited, and the text it made,
// may pass the budget only by the last entry checked against it (at most a
// container's count of objects, or about eight bytes of text per input byte).
inline bool WithinBudget(const bplist::WorkDone& work, size_t size) {
  return work.objects <= Budget(size) + size && work.bytes <= Budget(size) + 8 * size;
}

}  // namespace fuzzlimits
