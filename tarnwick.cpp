// tarnwick: converts a binary property list into an XML property list.
#include <new>
#include <stdexcept>
#include <string>

#include "BPlist.h"
#include "Version.h"
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

int Run(int argc, char** argv) {
  int count = argc - 1;
  if (count == 1 || count == 3) {
    std::string option = argv[1];
    if (option == "-about") {
      PrintAbout();
      return kExitOk;
    }
    if (option == "-c" && count == 3) {
      if (BinaryToXML(argv[2], argv[3])) return kExitOk;
      bplist::PrintLine(std::string("Error: Unable convert file ") + argv[2]);
      return kExitConversionFailed;
    }
  }
  PrintUsage();
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const bplist::RuntimeFailure& failure) {
    bplist::PrintRuntimeFailureReport(failure);
  } catch (const std::bad_alloc&) {
    bplist::PrintRuntimeFailureReport(bplist::OutOfMemory());
  } catch (const std::length_error&) {
    bplist::PrintRuntimeFailureReport(bplist::OutOfMemory());
  }
  return bplist::kRuntimeFailureExitCode;
}
