// The texts around archived values in the XML document.
#include <cstring>

#include "bplist/Keyed.h"
#include "bplist/Texts.h"

namespace bplist {

namespace {

// One line: the indentation, `open`, the escaped UTF-8 text, `close`.
void TextLine(Context& c, std::string_view open, std::string_view text, std::string_view close) {
  char* dst = c.Out.BeginLine(c.DictSpace, open.size());
  std::memcpy(dst, open.data(), open.size());
  c.Out.CommitTo(dst + open.size());
  PutEscaped8(c.Out, reinterpret_cast<const uint8_t*>(text.data()), text.size());
  dst = c.Out.Reserve(close.size() + 2);
  std::memcpy(dst, close.data(), close.size());
  c.Out.EndLine(dst + close.size());
}

}  // namespace

void OpenDict(Context& c) {
  Line(c, "<dict>");
}
void CloseDict(Context& c) {
  Line(c, "</dict>");
}
void OpenArray(Context& c) {
  Line(c, "    <array>");
}
void CloseArray(Context& c) {
  Line(c, "    </array>");
}

void PutKey(Context& c, std::string_view utf8) {
  TextLine(c, "    <key>", utf8, "</key>");
}

void PutString(Context& c, std::string_view utf8) {
  TextLine(c, "    <string>", utf8, "</string>");
}

bool PutDate(Context& c, double secondsSince2001) {
  std::string text;
  if (!DateText(secondsSince2001, &text)) return false;
  TextLine(c, "    <date>", text, "</date>");
  return true;
}

void PutNull(Context&) {}

}  // namespace bplist
