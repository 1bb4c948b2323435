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

// How one conversion runs and where its messages go.
struct Job {
  OutputFormat format = OutputFormat::Xml;
  bool unarchive = false;
  bool sorted = false;
  // A binary plist from any property list, instead of `format`.
  bool binary = false;
  Parallelism parallel;
  // Lines are appended here when set, else printed.
  std::string* messages = nullptr;
};

void Say(const Job& job, const std::string& line) {
  if (job.messages != nullptr) {
    *job.messages += line + "\r\n";
  } else {
    PrintLine(line);
  }
}

bool NotBinaryPlist(const Job& job, const std::string& InputP) {
  Say(job, "File " + InputP + " is not a binary plist!");
  return false;
}

// The b verbs load a file that may be a property list of any format, as
// FormatOfContent tells from its first bytes: that many are read first,
// far more than the byte-order mark and white space before a text's first
// character in any real file. A longer file whose first bytes are white
// space alone is refused, as an endless stream of it must be.
constexpr size_t kPlistTestBytes = size_t(64) << 10;
const ContentTest kAnyPlistContent = {kPlistTestBytes, [](const uint8_t* data, size_t size) {
                                        return FormatOfContent(data, size) != PlistFormat::None;
                                      }};

ContentTest ContentOf(const Job& job) {
  return job.binary ? kAnyPlistContent : ContentTest{kSignatureSize, IsSignature};
}

// Prints why the conversion failed, where the engine knows.
bool Report(const Job& job, const ConvertResult& r, const std::string& InputP,
            bool notPlist = false) {
  if (notPlist) {
    Say(job, "File " + InputP + " is not a property list!");
    return false;
  }
  if (r.outcome == Outcome::Damaged) Say(job, "File " + InputP + " is damaged: " + r.reason);
  if (r.outcome == Outcome::TooLarge) Say(job, "File " + InputP + " is valid but " + r.reason);
  return r.outcome == Outcome::Converted;
}

// Runs the conversion into `out`; *notPlist is set when a binary job's
// input is no property list at all.
ConvertResult Run(const Job& job, const InputFile& in, OutputBuffer& out, bool* notPlist) {
  if (!job.binary)
    return ConvertBuffer(in.data(), in.size(), out, job.parallel, Limits(), job.format,
                         job.unarchive, false, job.sorted);
  BinaryResult r = ConvertToBinary(in.data(), in.size(), out, job.sorted);
  *notPlist = r.notPlist;
  return r.result;
}

// Writes to an output that cannot be taken back (standard output, a device,
// a pipe, an open descriptor): a dry run first, so a failing file writes
// nothing at all.
bool ConvertInPlace(const Job& job, const InputFile& in, const std::string& InputP,
                    const std::string& path, const std::string& OutputP) {
  OutputBuffer dry(platform::kNoFile, OutputP, in.size());
  bool notPlist = false;
  ConvertResult tried = Run(job, in, dry, &notPlist);
  if (!Report(job, tried, InputP, notPlist)) return false;
  platform::InPlaceOutput stream(path, OutputP);
  OutputBuffer out(stream.handle(), OutputP, in.size());
  Run(job, in, out, &notPlist);
  out.Flush();
  return true;
}

// Writes a temporary file and puts it in place when complete. A failed
// conversion's temporary file is gone before the reason is printed, so a
// message that cannot be written (or a signal meanwhile) leaves nothing.
bool ConvertToFile(const Job& job, const InputFile& in, const std::string& InputP,
                   const std::string& target) {
  ConvertResult result;
  bool notPlist = false;
  {
    platform::TempFile temp(target);
    OutputBuffer out(temp.handle(), target, in.size());
    result = Run(job, in, out, &notPlist);
    if (result.outcome == Outcome::Converted) {
      out.Flush();
      temp.PutInPlace();
    }
  }
  return Report(job, result, InputP, notPlist);
}

bool Missing(const Job& job, const std::string& InputP) {
  platform::PathKind kind = platform::KindOf(InputP);
  if (kind != platform::PathKind::kMissing && kind != platform::PathKind::kDirectory) return false;
  Say(job, "File " + InputP + " not found!");
  return true;
}

bool ConvertLoaded(const Job& job, const InputFile& in, const std::string& InputP,
                   const std::string& OutputP) {
  platform::OutputPlan plan = platform::PlanOutput(OutputP);
  if (plan.inPlace) return ConvertInPlace(job, in, InputP, plan.path, OutputP);
  return ConvertToFile(job, in, InputP, plan.path);
}

bool Convert(const std::string& InputP, const std::string& OutputP, const Job& job) {
  if (Missing(job, InputP)) return false;
  InputFile in;
  if (!in.Load(InputP, ContentOf(job))) {
    if (job.binary) return Report(job, ConvertResult(), InputP, true);
    return NotBinaryPlist(job, InputP);
  }
  return ConvertLoaded(job, in, InputP, OutputP);
}

Job CommandLineJob(OutputFormat format, bool unarchive, bool sorted) {
  Job job;
  job.format = format;
  job.unarchive = unarchive;
  job.sorted = sorted;
  job.parallel = ForThisMachine();
  return job;
}

}  // namespace

bool BinaryToXML(const std::string& InputP, const std::string& OutputP, bool unarchive,
                 bool sorted) {
  return Convert(InputP, OutputP, CommandLineJob(OutputFormat::Xml, unarchive, sorted));
}

bool BinaryToJSON(const std::string& InputP, const std::string& OutputP, bool unarchive,
                  bool sorted) {
  return Convert(InputP, OutputP, CommandLineJob(OutputFormat::Json, unarchive, sorted));
}

bool PlistToBinary(const std::string& InputP, const std::string& OutputP, bool sorted) {
  Job job = CommandLineJob(OutputFormat::Xml, false, sorted);
  job.binary = true;
  return Convert(InputP, OutputP, job);
}

FileConversion ConvertOneOfMany(const std::string& InputP, const std::string& OutputP,
                                OutputKind kind, bool unarchive, bool sorted,
                                std::string* messages) {
  Job job;
  job.format = kind == OutputKind::kJson ? OutputFormat::Json : OutputFormat::Xml;
  job.binary = kind == OutputKind::kBinary;
  job.unarchive = unarchive;
  job.sorted = sorted;
  job.messages = messages;
  InputFile in;
  bool ok = false;
  try {
    if (Missing(job, InputP)) {
      ok = false;
    } else if (!in.Load(InputP, ContentOf(job))) {
      return FileConversion::kNotBinaryPlist;
    } else {
      ok = true;
    }
  } catch (const RuntimeFailure& failure) {
    // The input alone cannot be read: the other files go on.
    Say(job, "File " + InputP + " cannot be read: " + failure.Message);
  }
  if (ok) ok = ConvertLoaded(job, in, InputP, OutputP);
  if (ok) return FileConversion::kConverted;
  Say(job, "Error: Unable convert file " + InputP);
  return FileConversion::kFailed;
}
