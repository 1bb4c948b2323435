// The conversion driver: checks and loads the input, converts it, and puts
// the document in place only once it is complete.
#include "BPlist.h"

#include "bplist/Convert.h"
#include "bplist/InputFile.h"
#include "bplist/Platform.h"
#include "bplist/RuntimeFailure.h"

using namespace bplist;

namespace {

bool NotBinaryPlist(const std::string& InputP) {
  PrintLine("File " + InputP + " is not a binary plist!");
  return false;
}

// Prints why the conversion failed, where the engine knows.
bool Report(const ConvertResult& r, const std::string& InputP) {
  if (r.outcome == Outcome::Damaged) PrintLine("File " + InputP + " is damaged: " + r.reason);
  if (r.outcome == Outcome::TooLarge) PrintLine("File " + InputP + " is valid but " + r.reason);
  return r.outcome == Outcome::Converted;
}

// Writes to an output that cannot be taken back (standard output, a device,
// a pipe, an open descriptor): a dry run first, so a failing file writes
// nothing at all.
bool ConvertInPlace(const InputFile& in, const std::string& InputP, const std::string& path,
                    const std::string& OutputP, const Parallelism& parallel, OutputFormat format,
                    bool unarchive) {
  OutputBuffer dry(platform::kNoFile, OutputP, in.size());
  if (!Report(ConvertBuffer(in.data(), in.size(), dry, parallel, Limits(), format, unarchive),
              InputP))
    return false;
  platform::InPlaceOutput stream(path, OutputP);
  OutputBuffer out(stream.handle(), OutputP, in.size());
  ConvertBuffer(in.data(), in.size(), out, parallel, Limits(), format, unarchive);
  out.Flush();
  return true;
}

// Writes a temporary file and puts it in place when complete. A failed
// conversion's temporary file is gone before the reason is printed, so a
// message that cannot be written (or a signal meanwhile) leaves nothing.
bool ConvertToFile(const InputFile& in, const std::string& InputP, const std::string& target,
                   const Parallelism& parallel, OutputFormat format, bool unarchive) {
  ConvertResult result;
  {
    platform::TempFile temp(target);
    OutputBuffer out(temp.handle(), target, in.size());
    result = ConvertBuffer(in.data(), in.size(), out, parallel, Limits(), format, unarchive);
    if (result.outcome == Outcome::Converted) {
      out.Flush();
      temp.PutInPlace();
    }
  }
  return Report(result, InputP);
}

bool Convert(const std::string& InputP, const std::string& OutputP, OutputFormat format,
             bool unarchive) {
  platform::PathKind kind = platform::KindOf(InputP);
  if (kind == platform::PathKind::kMissing || kind == platform::PathKind::kDirectory) {
    PrintLine("File " + InputP + " not found!");
    return false;
  }
  InputFile in;
  if (!in.Load(InputP)) return NotBinaryPlist(InputP);
  const Parallelism parallel = ForThisMachine();
  platform::OutputPlan plan = platform::PlanOutput(OutputP);
  if (plan.inPlace)
    return ConvertInPlace(in, InputP, plan.path, OutputP, parallel, format, unarchive);
  return ConvertToFile(in, InputP, plan.path, parallel, format, unarchive);
}

}  // namespace

bool BinaryToXML(const std::string& InputP, const std::string& OutputP, bool unarchive) {
  return Convert(InputP, OutputP, OutputFormat::Xml, unarchive);
}

bool BinaryToJSON(const std::string& InputP, const std::string& OutputP, bool unarchive) {
  return Convert(InputP, OutputP, OutputFormat::Json, unarchive);
}
