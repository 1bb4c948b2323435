// Checks shared by the fuzz targets: the text targets compare the product's
// text with the exact reference and stop on any difference or on an input
// slower than kSlowTextNanos; the whole-file targets stop on a conversion
// slower than kSlowConversionNanos.
#pragma once

#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "bplist/OutputBuffer.h"

namespace fuzzcheck {

// The longest a text function may take for one input, in thread CPU time
// (wall time would count the other work on the machine).
constexpr uint64_t kSlowTextNanos = 10'000'000;
// The longest one conversion may take under the fuzz build's work budget,
// in thread CPU time: about ten times what the budget allows.
constexpr uint64_t kSlowConversionNanos = 100'000'000;

inline uint64_t ThreadNanos() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return uint64_t(t.tv_sec) * 1'000'000'000 + uint64_t(t.tv_nsec);
}

// Times of runs of a slow input: page faults and memory reclaim on a
// loaded machine are now and then charged to the thread, but a genuinely
// slow input is slow every time, so a slow run is repeated and the fastest
// of kSlowRuns counts.
constexpr int kSlowRuns = 3;

// Runs `f` (again when slow; it must give the same result every time) and
// stops the fuzzer when no run took less than `limit` ns.
template <class F>
void Timed(const char* what, F&& f, uint64_t limit = kSlowTextNanos) {
  uint64_t fastest = UINT64_MAX;
  for (int run = 0; run < kSlowRuns && fastest > limit; ++run) {
    uint64_t start = ThreadNanos();
    f();
    uint64_t took = ThreadNanos() - start;
    if (took < fastest) fastest = took;
  }
  if (fastest > limit) {
    std::fprintf(stderr, "%s took %llu us\n", what,
                 static_cast<unsigned long long>(fastest / 1000));
    __builtin_trap();
  }
}

// Stops the fuzzer when the product's text differs from the reference.
inline void ExpectSame(const std::string& got, const std::string& expected, const char* what) {
  if (got == expected) return;
  std::fprintf(stderr, "%s: got \"%s\", expected \"%s\"\n", what, got.c_str(), expected.c_str());
  __builtin_trap();
}

// The longest string input the escaping targets take: its text, at most six
// bytes per input byte, must fit the pipe it is read back through.
constexpr size_t kMaxStringInput = 8192;

// Returns what `put` writes to an OutputBuffer, passed through a pipe opened
// once; at most kMaxStringInput * 6 bytes, which the pipe holds.
template <class F>
std::string Written(F&& put) {
  static int ends[2] = {-1, -1};
  if (ends[0] < 0 && pipe(ends) != 0) __builtin_trap();
  static bplist::OutputBuffer out(ends[1], "pipe");
  uint64_t start = out.Written();
  put(out);
  out.Flush();
  std::string text(size_t(out.Written() - start), '\0');
  for (size_t got = 0; got < text.size();) {
    ssize_t n = read(ends[0], &text[got], text.size() - got);
    if (n <= 0) __builtin_trap();
    got += size_t(n);
  }
  return text;
}

}  // namespace fuzzcheck
