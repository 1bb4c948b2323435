// The container: trailer, offset table and object lookup, and the document's
// frame around the top object.
#include "bplist/Convert.h"

#include "bplist/Context.h"

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
    : Binary(binary),
      T(trailer),
      End(trailer.OffsetTableOffset),
      Out(out),
      Parallel(parallel),
      MaySplit(true) {
  Format = format;
  OutputStart = out.Written();
  WorkBudget = OutputStart + limits.BudgetBase + limits.BudgetPerInputByte * size;
  Hook = &DocumentBudget();
  Path.reserve(kMaxDepth);
}

Context::Context(const Context& parent, OutputBuffer& out)
    : Binary(parent.Binary),
      T(parent.T),
      End(parent.End),
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

std::string DecodeTrailer(const uint8_t* data, uint64_t size, Trailer* t) {
  if (size < kHeaderSize + kTrailerSize) return "too short to hold a header and a trailer";
  const uint8_t* trailer = data + size - kTrailerSize;
  t->OffsetSize = trailer[kTrailerOffsetSize];
  t->ObjRefSize = trailer[kTrailerObjRefSize];
  t->NumObjects = ReadBigEndian(trailer + kTrailerNumObjects, 8);
  t->TopObject = ReadBigEndian(trailer + kTrailerTopObject, 8);
  t->OffsetTableOffset = ReadBigEndian(trailer + kTrailerOffsetTableOffset, 8);
  if (t->OffsetSize < 1 || t->OffsetSize > kMaxFieldWidth)
    return "offset size " + std::to_string(t->OffsetSize) + " is not between 1 and 8";
  if (t->ObjRefSize < 1 || t->ObjRefSize > kMaxFieldWidth)
    return "object reference size " + std::to_string(t->ObjRefSize) + " is not between 1 and 8";
  // The table must lie between the header and the trailer.
  uint64_t tableEnd = size - kTrailerSize;
  if (t->OffsetTableOffset < kHeaderSize || t->OffsetTableOffset >= size)
    return "offset table lies outside the file";
  if (t->OffsetTableOffset > tableEnd ||
      t->NumObjects > (tableEnd - t->OffsetTableOffset) / t->OffsetSize)
    return "offset table of " + std::to_string(t->NumObjects) + " entries runs into the trailer";
  if (t->TopObject >= t->NumObjects)
    return "top object " + std::to_string(t->TopObject) + " is not below the object count " +
           std::to_string(t->NumObjects);
  return "";
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
  if (!Inside(c, o + 1, 1)) return Damaged(c, "a count runs past the end of the object data");
  uint64_t width = uint64_t(1) << (c.Binary[o + 1] & 0x0F);
  if (!Inside(c, o + 2, width)) return Damaged(c, "a count runs past the end of the object data");
  const uint8_t* p = c.Binary + o + 2;
  // Only the last eight bytes can hold a count that fits any file.
  for (uint64_t i = 0; i + 8 < width; ++i)
    if (p[i] != 0) return Damaged(c, "a count is larger than the file");
  if (width > 8) {  // reading it costs time whatever the text
    c.Work += width;
    c.Done.bytes += width;
  }
  unsigned low8 = width < 8 ? unsigned(width) : 8;
  *count = ReadBigEndian(p + width - low8, low8);
  *start = o + 2 + width;
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
  if (unarchive ? WriteArchive(c) : GetTopObject(c)) {
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
  // fails the same way sorted or not.
  if (sorted && result.outcome != Outcome::Converted) {
    OutputBuffer dry(platform::kNoFile, "", size);
    return ConvertBuffer(data, size, dry, parallel, limits, format, unarchive, typed, false);
  }
  return result;
}

}  // namespace bplist
