// Whether splitting pays: the writer's own speed, measured on the entries it
// converts straight to the document, against the speed of the splits.
#include <algorithm>

#include "bplist/Split.h"

namespace bplist {

namespace {

// Split work after which the writer judges whether splitting pays on this
// machine, as busy as it is now, and again after every batch.
constexpr uint64_t kProbeWork = 8 << 20;

// The writer's own speed, from the entries it converted straight.
double NsPerWork(const SpeedProbe& p) {
  return double(p.ownNs) / double(std::max<uint64_t>(1, p.ownWork));
}

// Whether `work` written in `ns` by splitting beats the writer alone.
bool Faster(const SpeedProbe& p, uint64_t work, uint64_t ns) {
  return double(ns) < double(work) * NsPerWork(p);
}

}  // namespace

uint64_t NanosecondsSince(Clock::time_point start) {
  return uint64_t(
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
}

std::chrono::nanoseconds Patience(const SpeedProbe& p, uint64_t entries) {
  double expected = double(entries) * double(p.workPerEntry) * NsPerWork(p);
  return std::chrono::nanoseconds(int64_t(std::clamp(2 * expected, 2e5, 2e9)));
}

void JudgeSplit(SpeedProbe& p, const Context& c) {
  uint64_t work = p.splitWork + (WorkSoFar(c) - p.workAtStart);
  if (p.solo || !c.Parallel.StopWhenSlower || work < kProbeWork ||
      Faster(p, work, p.splitNs + NanosecondsSince(p.splitStart)))
    return;
  p.solo = true;
  p.paying = false;
}

void EndSplit(SpeedProbe& p, const Context& c) {
  p.splitNs += NanosecondsSince(p.splitStart);
  p.splitWork += WorkSoFar(c) - p.workAtStart;
  if (c.Parallel.StopWhenSlower && p.splitWork >= kProbeWork && !Faster(p, p.splitWork, p.splitNs))
    p.paying = false;
}

}  // namespace bplist
