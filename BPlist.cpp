// The conversion driver: checks and loads the input, converts it, and puts
// the document in place only once it is complete.
#include "BPlist.h"

#include "bplist/Convert.h"
#include "bplist/InputFile.h"
#include "bplist/Platform.h"
#include "bplist/RuntimeFailure.h"
#include "bplist/Values.h"

using namespace bplist;

namespace {

bool NotBinaryPlist(const std::string& InputP) {
  PrintLine("File " + InputP + " is not a binary plist!");
  return false;
}

// What is written: the document in `format`, or with `binary` a binary plist
// from any property list.
struct Job {
  OutputFormat format;
  bool unarchive;
  bool binary;
};

// Runs the conversion into `out`; *notPlist is set when the input is no
// property list at all.
ConvertResult Run(const InputFile& in, XmlWriter& out, const Parallelism& parallel, const Job& job,
                  bool* notPlist) {
  if (!job.binary)
    return ConvertBuffer(in.data(), in.size(), out, parallel, Limits(), job.format, job.unarchive);
  BinaryResult r = ConvertToBinary(in.data(), in.size(), out);
  *notPlist = r.notPlist;
  return r.result;
}

// Prints why the conversion failed, where the engine knows.
bool Report(const ConvertResult& r, const std::string& InputP, bool notPlist = false) {
  if (notPlist) {
    PrintLine("File " + InputP + " is not a property list!");
    return false;
  }
  if (r.outcome == Outcome::Damaged) PrintLine("File " + InputP + " is damaged: " + r.reason);
  if (r.outcome == Outcome::TooLarge) PrintLine("File " + InputP + " is valid but " + r.reason);
  return r.outcome == Outcome::Converted;
}

// Writes to an output that cannot be taken back (standard output, a device,
// a pipe, an open descriptor): a dry run first, so a failing file writes
// nothing at all.
bool ConvertInPlace(const InputFile& in, const std::string& InputP, const std::string& path,
                    const std::string& OutputP, const Parallelism& parallel, const Job& job) {
  XmlWriter dry(platform::kNoFile, OutputP, in.size());
  bool notPlist = false;
  ConvertResult tried = Run(in, dry, parallel, job, &notPlist);
  if (!Report(tried, InputP, notPlist)) return false;
  platform::InPlaceOutput stream(path, OutputP);
  XmlWriter out(stream.handle(), OutputP, in.size());
  Run(in, out, parallel, job, &notPlist);
  out.Flush();
  return true;
}

// Writes a temporary file and puts it in place when complete. A failed
// conversion's temporary file is gone before the reason is printed, so a
// message that cannot be written (or a signal meanwhile) leaves nothing.
bool ConvertToFile(const InputFile& in, const std::string& InputP, const std::string& target,
                   const Parallelism& parallel, const Job& job) {
  ConvertResult result;
  bool notPlist = false;
  {
    platform::TempFile temp(target);
    XmlWriter out(temp.handle(), target, in.size());
    result = Run(in, out, parallel, job, &notPlist);
    if (result.outcome == Outcome::Converted) {
      out.Flush();
      temp.PutInPlace();
    }
  }
  return Report(result, InputP, notPlist);
}

bool Convert(const std::string& InputP, const std::string& OutputP, const Job& job) {
  platform::PathKind kind = platform::KindOf(InputP);
  if (kind == platform::PathKind::kMissing || kind == platform::PathKind::kDirectory) {
    PrintLine("File " + InputP + " not found!");
    return false;
  }
  InputFile in;
  if (!in.Load(InputP, job.binary)) return NotBinaryPlist(InputP);
  const Parallelism parallel = ForThisMachine();
  platform::OutputPlan plan = platform::PlanOutput(OutputP);
  if (plan.inPlace) return ConvertInPlace(in, InputP, plan.path, OutputP, parallel, job);
  return ConvertToFile(in, InputP, plan.path, parallel, job);
}

}  // namespace

bool BinaryToXML(const std::string& InputP, const std::string& OutputP, bool unarchive) {
  return Convert(InputP, OutputP, Job{OutputFormat::Xml, unarchive, false});
}

bool BinaryToJSON(const std::string& InputP, const std::string& OutputP, bool unarchive) {
  return Convert(InputP, OutputP, Job{OutputFormat::Json, unarchive, false});
}

bool PlistToBinary(const std::string& InputP, const std::string& OutputP) {
  return Convert(InputP, OutputP, Job{OutputFormat::Xml, false, true});
}
