// Conversion of a binary property list (bplist00) into an XML property list
// or a JSON document.
#pragma once

#include <string>

// Converts the binary plist at InputP into an XML plist at OutputP (standard
// output when OutputP is empty). Returns false when nothing was converted,
// after printing the reason where there is one; a file already at OutputP is
// then left as it was. A failed file operation or exhausted memory throws
// bplist::RuntimeFailure or std::bad_alloc. With `unarchive`, a keyed
// archive is written as the object graph it encodes.
bool BinaryToXML(const std::string& InputP, const std::string& OutputP, bool unarchive = false);
// The same with a JSON document instead of the XML one.
bool BinaryToJSON(const std::string& InputP, const std::string& OutputP, bool unarchive = false);
// Converts the XML, JSON or binary property list at InputP into a binary
// plist at OutputP, as BinaryToXML does.
bool PlistToBinary(const std::string& InputP, const std::string& OutputP);
