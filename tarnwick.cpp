// tarnwick: converts a binary property list into an XML property list, or
// with -j into a JSON document; with -b any property list into a binary one.
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "BPlist.h"
#include "Version.h"
#include "bplist/Platform.h"
#include "bplist/RuntimeFailure.h"

namespace {

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitConversionFailed = 1;
constexpr int kExitUsage = 2;

void PrintAbout() {
  bplist::PrintLine("Tarnwick v" TARNWICK_VERSION);
  bplist::PrintLine("Conversion from Apple binary plist format to XML plist");
  bplist::PrintLine("Copyright (c) 2026 the tarnwick authors.");
  bplist::PrintLine("MIT License: see the LICENSE file.");
}

void PrintUsage() {
  bplist::PrintLine("Usage:");
  bplist::PrintLine("-about ");
  bplist::PrintLine("-c [input] [output]");
}

int Run(const std::vector<std::string>& args) {
  size_t count = args.size();
  if (count == 1 || count == 3) {
    const std::string& option = args[0];
    if (option == "-about") {
      PrintAbout();
      return kExitOk;
    }
    // -b: any property list (XML, JSON or binary) as a binary plist.
    if (option == "-b" && count == 3) {
      if (PlistToBinary(args[1], args[2])) return kExitOk;
      bplist::PrintLine("Error: Unable convert file " + args[1]);
      return kExitConversionFailed;
    }
    // -k and -kj: a keyed archive as the object graph it encodes, any other
    // file as -c and -j.
    bool json = option == "-j" || option == "-kj";
    if ((json || option == "-c" || option == "-k") && count == 3) {
      bool unarchive = option == "-k" || option == "-kj";
      bool ok = json ? BinaryToJSON(args[1], args[2], unarchive)
                     : BinaryToXML(args[1], args[2], unarchive);
      if (ok) return kExitOk;
      bplist::PrintLine("Error: Unable convert file " + args[1]);
      return kExitConversionFailed;
    }
  }
  PrintUsage();
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    bplist::platform::PrepareProcess();
    return Run(bplist::platform::Arguments(argc, argv));
  } catch (const bplist::RuntimeFailure& failure) {
    bplist::PrintRuntimeFailureReport(failure);
  } catch (const std::bad_alloc&) {
    bplist::PrintRuntimeFailureReport(bplist::OutOfMemory());
  } catch (const std::length_error&) {
    bplist::PrintRuntimeFailureReport(bplist::OutOfMemory());
  }
  return bplist::kRuntimeFailureExitCode;
}
