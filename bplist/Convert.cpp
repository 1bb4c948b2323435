// The container: trailer, offset table and object lookup, and the document's
// frame around the top object.
#include "bplist/Convert.h"

#include "bplist/Keyed.h"
#include "bplist/Walk.h"

namespace bplist {

namespace {

// The three prologue lines of an XML property list.
constexpr std::string_view kXmlHeader =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple Computer//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\r\n"
    "<plist version=\"1.0\">\r\n";

}  // namespace

Context::Context(const uint8_t* binary, uint64_t size, const Trailer& trailer, OutputBuffer& out,
                 const Parallelism& parallel, const Limits& limits, OutputFormat format)
    : Reader(binary, trailer), Out(out), Parallel(parallel), MaySplit(true) {
  Format = format;
  OutputStart = out.Written();
  WorkBudget = OutputStart + limits.BudgetBase + limits.BudgetPerInputByte * size;
  Hook = &DocumentBudget();
  Path.reserve(kMaxDepth);
}

Context::Context(const Context& parent, OutputBuffer& out)
    : Reader(parent),
      Out(out),
      Typed(parent.Typed),
      Sorted(parent.Sorted),
      Parallel(parent.Parallel),
      MaySplit(false),
      OpensData(parent.OpensData),
      Nesting(parent.Nesting) {
  Format = parent.Format;
  OutputStart = out.Written();
  WorkBudget = parent.WorkBudget;
  Hook = &DocumentBudget();
  Path.reserve(kMaxDepth);
}

Context::Context(const Context& outer, const Reader& file, OutputBuffer& out)
    : Reader(file),
      Out(out),
      Typed(outer.Typed),
      Sorted(outer.Sorted),
      Parallel(outer.Parallel),
      MaySplit(false),
      OpensData(outer.OpensData),
      Nesting(outer.Nesting + 1) {
  MoveTo(*this, outer);
  OutputStart = out.Written();
  uint64_t used = WorkSoFar(outer);
  WorkBudget = OutputStart + (used < outer.WorkBudget ? outer.WorkBudget - used : 0);
  Hook = &DocumentBudget();
  Path.reserve(kMaxDepth);
}

bool Damaged(Context& c, const std::string& reason) {
  if (c.Damage.empty()) c.Damage = reason;
  return false;
}

bool LocateFailed(Context& c, uint64_t Pos) {
  if (Pos >= c.T.NumObjects)
    return Damaged(c, "reference to object " + std::to_string(Pos) + " names no object");
  return Damaged(c, "object " + std::to_string(Pos) + " lies outside the object data");
}

bool GetExtendedCount(Context& c, uint64_t o, uint64_t* count, uint64_t* start) {
  CountRead read = ReadExtendedCount(c, o, count, start);
  if (read == CountRead::PastEnd) return Damaged(c, "a count runs past the end of the object data");
  if (read == CountRead::TooLarge) return Damaged(c, "a count is larger than the file");
  CountWideCount(c, *start - o - 2);
  return true;
}

ConvertResult ConvertBuffer(const uint8_t* data, size_t size, OutputBuffer& out,
                            const Parallelism& parallel, const Limits& limits, OutputFormat format,
                            bool unarchive, bool typed, bool sorted) {
  ConvertResult result;
  Trailer trailer;
  std::string damage = DecodeTrailer(data, size, &trailer);
  if (!damage.empty()) {
    result.outcome = Outcome::Damaged;
    result.reason = damage;
    return result;
  }
  Context c(data, size, trailer, out, parallel, limits, format);
  c.Typed = typed && format == OutputFormat::Json;
  c.Sorted = sorted;
  bool xml = format == OutputFormat::Xml;
  // JSON counts the prologue as work too (CountAsXml).
  if (xml) {
    out.Put(kXmlHeader);
  } else {
    c.Work += kXmlHeader.size();
  }
  // The budget is checked before each entry, and once more at the end, so
  // that the document's last value cannot carry it past the limit: the
  // limit then holds in whatever order the entries are written.
  if ((unarchive ? WriteArchive(c) : GetTopObject(c)) && WithinBudget(c, 0)) {
    out.Put(xml ? "</plist>\r\n" : "\r\n");
    result.outcome = Outcome::Converted;
  } else if (!c.Damage.empty()) {
    result.outcome = c.TooLarge ? Outcome::TooLarge : Outcome::Damaged;
    result.reason = c.Damage;
  }
  result.work = c.Done;
  result.work.bytes += out.Written() - c.OutputStart - c.Copied;
  // Written in another order, a file with several faults may meet another
  // one first. The file order decides which is reported, so that a file
  // fails the same way sorted or not. A keyed archive's view reads the key
  // texts it makes once more to sort them, so its budget may run out sorted
  // alone: the sorted failure stands then, since `out` holds no document.
  if (sorted && result.outcome != Outcome::Converted) {
    OutputBuffer dry(platform::kNoFile, "", size);
    ConvertResult plain =
        ConvertBuffer(data, size, dry, parallel, limits, format, unarchive, typed, false);
    if (plain.outcome != Outcome::Converted) return plain;
  }
  return result;
}

}  // namespace bplist
