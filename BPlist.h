// Conversion of a binary property list (bplist00) into an XML property list
// or a JSON document.
#pragma once

#include <string>

// Converts the binary plist at InputP into an XML plist at OutputP (standard
// output when OutputP is empty). Returns false when nothing was converted,
// after printing the reason where there is one; a file already at OutputP is
// then left as it was. A failed file operation or exhausted memory throws
// bplist::RuntimeFailure or std::bad_alloc. With `unarchive`, a keyed
// archive is written as the object graph it encodes; with `sorted`, each
// dictionary's entries in the order of their keys.
bool BinaryToXML(const std::string& InputP, const std::string& OutputP, bool unarchive = false,
                 bool sorted = false);
// The same with a JSON document instead of the XML one.
bool BinaryToJSON(const std::string& InputP, const std::string& OutputP, bool unarchive = false,
                  bool sorted = false);
// Converts the XML, JSON or binary property list at InputP into a binary
// plist at OutputP, as BinaryToXML does; with `sorted`, each dictionary's
// entries in the order of their keys.
bool PlistToBinary(const std::string& InputP, const std::string& OutputP, bool sorted = false);

// What the conversion of one file of a folder came to.
enum class FileConversion {
  kConverted,
  kFailed,         // the lines BinaryToXML prints for it are in *messages
  kNotBinaryPlist  // it does not begin with the signature (for a binary plist out: it is no
                   // property list by its content); nothing is said
};

// The document each file of a folder becomes.
enum class OutputKind { kXml, kJson, kBinary };

// Converts InputP into OutputP as BinaryToXML, BinaryToJSON or PlistToBinary
// do (by `kind`),
// on the calling thread alone, for one file among many converted at once:
// the lines that they would print are appended to *messages instead,
// failure line included, and an input that cannot be read is a failed file
// (its message names the cause). A failed write of the output, or exhausted
// memory, throws as they do.
FileConversion ConvertOneOfMany(const std::string& InputP, const std::string& OutputP,
                                OutputKind kind, bool unarchive, bool sorted,
                                std::string* messages);
