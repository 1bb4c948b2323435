// tarnwick: converts a binary property list into an XML property list, or
// with -j into a JSON document; with -d every binary plist under a folder;
// with -b any property list into a binary one.
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "BPlist.h"
#include "Folders.h"
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

// What a conversion verb asks for: a dash, then letters, each at most once,
// in any order.
struct Verb {
  bool folders = false;    // d: the two paths are folders
  bool unarchive = false;  // k: a keyed archive as the object graph it encodes
  bool sorted = false;     // s: dictionary entries in the order of their keys
  bool json = false;       // j: JSON; c, or neither, XML
  bool binary = false;     // b: a binary plist from any property list
};

// Reads `option` as a verb; false when it is not one (no letter, a letter
// twice, both c and j, or a letter with no meaning).
bool ParseVerb(const std::string& option, Verb* verb) {
  if (option.size() < 2 || option[0] != '-') return false;
  std::string seen;
  for (size_t i = 1; i < option.size(); ++i) {
    char letter = option[i];
    if (seen.find(letter) != std::string::npos) return false;
    seen += letter;
    switch (letter) {
      case 'd':
        verb->folders = true;
        break;
      case 'k':
        verb->unarchive = true;
        break;
      case 's':
        verb->sorted = true;
        break;
      case 'j':
        verb->json = true;
        break;
      case 'c':
        break;
      case 'b':
        verb->binary = true;
        break;
      default:
        return false;
    }
  }
  // b is a third output beside c and j; keyed archives are not written
  // to binary.
  if (verb->binary) return seen.find_first_of("cjk") == std::string::npos;
  return !(verb->json && seen.find('c') != std::string::npos);
}

int Run(const std::vector<std::string>& args) {
  size_t count = args.size();
  if (count == 1 || count == 3) {
    const std::string& option = args[0];
    if (option == "-about") {
      PrintAbout();
      return kExitOk;
    }
    Verb verb;
    if (count == 3 && ParseVerb(option, &verb)) {
      if (verb.folders) {
        OutputKind kind = verb.binary ? OutputKind::kBinary
                          : verb.json ? OutputKind::kJson
                                      : OutputKind::kXml;
        switch (ConvertFolder(args[1], args[2], kind, verb.unarchive, verb.sorted)) {
          case FolderOutcome::kAllConverted:
            return kExitOk;
          case FolderOutcome::kSomeFailed:
          case FolderOutcome::kRefused:
            return kExitConversionFailed;
        }
      }
      bool ok = verb.binary ? PlistToBinary(args[1], args[2], verb.sorted)
                : verb.json ? BinaryToJSON(args[1], args[2], verb.unarchive, verb.sorted)
                            : BinaryToXML(args[1], args[2], verb.unarchive, verb.sorted);
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
