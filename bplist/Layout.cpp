// The layout of each format around values: containers' openings and
// closings, indentation, and JSON's separators.
#include <cstring>

#include "bplist/Writers.h"

namespace bplist {

namespace {

// Indentation added per open container.
constexpr size_t kXmlIndent = 4;
constexpr size_t kJsonIndent = 2;

// Room for a JSON separator: a comma and a line end.
constexpr size_t kSeparator = 3;

// Writes the indentation of a new line in JSON.
char* Indent(char* dst, size_t spaces) {
  std::memset(dst, ' ', spaces);
  return dst + spaces;
}

// The lines XML opens and closes containers with.
constexpr std::string_view kXmlOpenDict = "<dict>", kXmlCloseDict = "</dict>",
                           kXmlOpenArray = "    <array>", kXmlCloseArray = "    </array>";

// Opens a JSON container with `bracket`: its elements start on new lines.
// `xml` is the line XML opens it with, one level deeper.
void OpenJson(Context& c, char bracket, std::string_view xml) {
  uint64_t before = c.Out.Written();
  char* dst = BeginText(c, 1);
  *dst++ = bracket;
  c.Out.CommitTo(dst);
  c.DictSpace += kJsonIndent;
  c.Pending = JsonPending::Newline;
  CountAsXml(c, before, XmlLineSize(c, xml.size()));
}

// Closes a JSON container with `bracket`: right after the opening when it
// wrote nothing, else on a line of its own. `xml` is the line XML closes it
// with, at the level of its elements.
void CloseJson(Context& c, char bracket, std::string_view xml) {
  uint64_t before = c.Out.Written(), xmlBytes = XmlLineSize(c, xml.size());
  c.DictSpace -= kJsonIndent;
  bool empty = c.Pending == JsonPending::Newline;
  char* dst = c.Out.Reserve(kSeparator + c.DictSpace + 1);
  if (!empty) {
    *dst++ = '\r';
    *dst++ = '\n';
    dst = Indent(dst, c.DictSpace);
  }
  *dst++ = bracket;
  c.Out.CommitTo(dst);
  c.Pending = JsonPending::Comma;
  CountAsXml(c, before, xmlBytes);
}

}  // namespace

char* BeginJsonText(Context& c, size_t maxText) {
  JsonPending pending = c.Pending;
  c.Pending = JsonPending::Comma;
  // Room for the text and the line end the document's last value gets.
  char* dst = c.Out.Reserve(kSeparator + c.DictSpace + maxText + 2);
  if (pending == JsonPending::None) return dst;
  if (pending == JsonPending::Comma) *dst++ = ',';
  *dst++ = '\r';
  *dst++ = '\n';
  return Indent(dst, c.DictSpace);
}

size_t DocumentDepth(const Context& c) {
  return c.DictSpace / (c.Format == OutputFormat::Json ? kJsonIndent : kXmlIndent);
}

void OpenDict(Context& c) {
  if (c.Format == OutputFormat::Json) return OpenJson(c, '{', kXmlOpenDict);
  c.DictSpace += kXmlIndent;
  Line(c, kXmlOpenDict);
}

void CloseDict(Context& c) {
  if (c.Format == OutputFormat::Json) return CloseJson(c, '}', kXmlCloseDict);
  Line(c, kXmlCloseDict);
  c.DictSpace -= kXmlIndent;
}

void OpenArray(Context& c) {
  if (c.Format == OutputFormat::Json) return OpenJson(c, '[', kXmlOpenArray);
  c.DictSpace += kXmlIndent;
  Line(c, kXmlOpenArray);
}

void CloseArray(Context& c) {
  if (c.Format == OutputFormat::Json) return CloseJson(c, ']', kXmlCloseArray);
  Line(c, kXmlCloseArray);
  c.DictSpace -= kXmlIndent;
}

}  // namespace bplist
