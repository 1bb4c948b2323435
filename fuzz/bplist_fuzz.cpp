// Feeds arbitrary bytes to the converter the way BinaryToXML and
// BinaryToJSON do after they have loaded a file, writing each document to a
// dry-run writer that only counts bytes, on one thread and with the fuzz
// build's small work budget. Both formats run the same checks, so they must
// agree on the outcome unless one of them runs out of budget. The XML is
// made again with sorted keys, as -s makes it, which must end the same way.
// An input that names NSKeyedArchiver is converted again as -k and -kj do.
// Any crash, sanitizer report, leak, uncaught exception, slow input, work
// past the budget or memory blow-up is a finding. The mutator (StructureMutator.cpp) keeps most
// inputs' offset table and trailer valid.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "FuzzCheck.h"
#include "FuzzLimits.h"
#include "bplist/Context.h"
#include "bplist/Convert.h"
#include "bplist/OutputBuffer.h"
#include "bplist/Platform.h"

namespace {

// Inputs by outcome, and damaged ones refused at the trailer or offset
// table, printed at exit when TARNWICK_FUZZ_STATS is set: the share that
// gets past the trailer check says how well the mutator works.
struct Outcomes {
  const bool counting = std::getenv("TARNWICK_FUZZ_STATS") != nullptr;
  uint64_t converted = 0, failed = 0, damaged = 0, trailer = 0;
  ~Outcomes() {
    if (!counting) return;
    std::fprintf(stderr,
                 "outcomes: %llu converted, %llu failed, %llu damaged (%llu at the trailer)\n",
                 (unsigned long long)converted, (unsigned long long)failed,
                 (unsigned long long)damaged, (unsigned long long)trailer);
  }
};
Outcomes outcomes;

void Count(const uint8_t* data, size_t size, const bplist::ConvertResult& result) {
  if (!outcomes.counting) return;
  if (result.outcome == bplist::Outcome::Converted) ++outcomes.converted;
  if (result.outcome == bplist::Outcome::Failed) ++outcomes.failed;
  if (result.outcome != bplist::Outcome::Damaged) return;
  ++outcomes.damaged;
  bplist::Trailer trailer;
  if (!bplist::DecodeTrailer(data, size, &trailer).empty()) ++outcomes.trailer;
}

// Converts the input in `format`, as -k and -kj do with `unarchive` and -s
// with `sorted`, and checks the result.
bplist::ConvertResult Convert(const uint8_t* data, size_t size, bplist::OutputFormat format,
                              bool unarchive, bool sorted = false) {
  // One writer serves every input: its megabyte buffer, allocated afresh
  // each time, would cost more than most conversions. A dry run writes
  // nothing, and the flush below empties the buffer, so every input starts
  // from the same state; the converter counts its budget from the writer's
  // position at the start.
  static bplist::OutputBuffer out(bplist::platform::kNoFile, "");
  static const bplist::Limits limits = fuzzlimits::Small();
  bplist::ConvertResult result;
  fuzzcheck::Timed(
      "ConvertBuffer",
      [&] {
        result = bplist::ConvertBuffer(data, size, out, bplist::Parallelism(), limits, format,
                                       unarchive, false, sorted);
      },
      fuzzcheck::kSlowConversionNanos);
  out.Flush();
  // A damaged file must always say why; an empty reason would print a
  // "File ... is damaged: " line with nothing after it.
  if (result.outcome == bplist::Outcome::Damaged && result.reason.empty()) __builtin_trap();
  // The work stays within the budget, so the time stays linear in the input.
  if (!fuzzlimits::WithinBudget(result.work, size)) __builtin_trap();
  return result;
}

// XML and JSON agree on the outcome and its reason, unless one of them
// passed the budget (their texts differ in length), or XML failed on an
// object it has no element for (a set), which JSON writes and reads past.
void ExpectAgreement(const bplist::ConvertResult& xml, const bplist::ConvertResult& json) {
  bool budget =
      json.outcome == bplist::Outcome::TooLarge || xml.outcome == bplist::Outcome::TooLarge;
  bool xmlLacks = xml.outcome == bplist::Outcome::Failed && json.outcome != bplist::Outcome::Failed;
  if (!budget && !xmlLacks && (json.outcome != xml.outcome || json.reason != xml.reason))
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bplist::ConvertResult xml = Convert(data, size, bplist::OutputFormat::Xml, false);
  Count(data, size, xml);
  ExpectAgreement(xml, Convert(data, size, bplist::OutputFormat::Json, false));
  // Sorted keys change the order of the work alone, so even the budget's
  // outcome is the same.
  bplist::ConvertResult sorted = Convert(data, size, bplist::OutputFormat::Xml, false, true);
  if (sorted.outcome != xml.outcome || sorted.reason != xml.reason) __builtin_trap();
  // Inputs that name NSKeyedArchiver again as -k and -kj.
  static constexpr char kArchiver[] = "NSKeyedArchiver";
  if (memmem(data, size, kArchiver, sizeof kArchiver - 1))
    ExpectAgreement(Convert(data, size, bplist::OutputFormat::Xml, true),
                    Convert(data, size, bplist::OutputFormat::Json, true));
  return 0;
}
