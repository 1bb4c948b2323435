// Conversion of every binary plist under a folder into another folder.
#pragma once

#include <string>

#include "BPlist.h"

// What a folder conversion came to.
enum class FolderOutcome {
  kAllConverted,  // no file failed (files that are not binary plists are skipped)
  kSomeFailed,    // at least one file failed; its lines were printed
  kRefused        // nothing was written; the line saying why was printed
};

// Converts every regular file under folder `input` (links to files followed,
// links to folders not) that begins with the signature (for kBinary: that
// is a property list by its content) into `output`, at the same relative
// path with ".xml", ".json" or ".bplist" appended, by `kind`. The
// files convert on all processors; the lines of failed files are printed in
// the order of the walk, then one line of counts. A failed write of an
// output or exhausted memory throws as BinaryToXML does, after the lines of
// the files before it.
FolderOutcome ConvertFolder(const std::string& input, const std::string& output, OutputKind kind,
                            bool unarchive, bool sorted);
