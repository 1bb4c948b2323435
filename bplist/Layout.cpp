// The layout of each format around values: containers' openings and
// closings, indentation, and JSON's separators.
#include <cstring>

#include "bplist/Writers.h"

namespace bplist {

namespace {

// Indentation added per open container.
constexpr size_t kXmlIndent = 4;
constexpr size_t kJsonIndent = 2;

// The lines XML opens and closes containers with.
constexpr std::string_view kXmlOpenDict = "<dict>", kXmlCloseDict = "</dict>",
                           kXmlOpenArray = "    <array>", kXmlCloseArray = "    </array>";

// Opens a JSON container with `bracket`: its elements start on new lines.
// `xml` is the line XML opens it with, one level deeper.
void OpenJson(Context& c, char bracket, std::string_view xml) {
  uint64_t before = c.Out.Written();
  char* dst = BeginJsonText(c, 1);
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
  char* dst = c.Out.Reserve(kJsonSeparator + c.DictSpace + 1);
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

// Opens an XML container with its line `xml`, one level deeper.
void OpenXml(Context& c, std::string_view xml) {
  c.DictSpace += kXmlIndent;
  Line<OutputFormat::Xml>(c, xml);
}

// Closes an XML container with its line `xml`.
void CloseXml(Context& c, std::string_view xml) {
  Line<OutputFormat::Xml>(c, xml);
  c.DictSpace -= kXmlIndent;
}

}  // namespace

size_t DocumentDepth(const Context& c) {
  return c.DictSpace / (c.Format == OutputFormat::Json ? kJsonIndent : kXmlIndent);
}

void JoinText(Context& c, const Place& after) {
  // XML has no separators: its place never holds a comma to come, and a
  // text's place stays what it was. So does JSON's when the text is empty.
  if (after.Pending == JsonPending::Newline || c.Format == OutputFormat::Xml) return;
  if (c.Pending == JsonPending::Comma) {
    // The text counted its first value as XML, without this comma.
    c.Out.Put(",");
    c.Work -= 1;
  }
  c.Pending = after.Pending;
}

template <OutputFormat F>
void OpenDict(Context& c) {
  if constexpr (F == OutputFormat::Json) {
    OpenJson(c, '{', kXmlOpenDict);
  } else {
    OpenXml(c, kXmlOpenDict);
  }
}

template <OutputFormat F>
void CloseDict(Context& c) {
  if constexpr (F == OutputFormat::Json) {
    CloseJson(c, '}', kXmlCloseDict);
  } else {
    CloseXml(c, kXmlCloseDict);
  }
}

template <OutputFormat F>
void OpenArray(Context& c) {
  if constexpr (F == OutputFormat::Json) {
    OpenJson(c, '[', kXmlOpenArray);
  } else {
    OpenXml(c, kXmlOpenArray);
  }
}

template <OutputFormat F>
void CloseArray(Context& c) {
  if constexpr (F == OutputFormat::Json) {
    CloseJson(c, ']', kXmlCloseArray);
  } else {
    CloseXml(c, kXmlCloseArray);
  }
}

void OpenDict(Context& c) {
  InFormat(c, [&](auto f) { OpenDict<decltype(f)::value>(c); });
}
void CloseDict(Context& c) {
  InFormat(c, [&](auto f) { CloseDict<decltype(f)::value>(c); });
}
void OpenArray(Context& c) {
  InFormat(c, [&](auto f) { OpenArray<decltype(f)::value>(c); });
}
void CloseArray(Context& c) {
  InFormat(c, [&](auto f) { CloseArray<decltype(f)::value>(c); });
}

template void OpenDict<OutputFormat::Xml>(Context&);
template void OpenDict<OutputFormat::Json>(Context&);
template void CloseDict<OutputFormat::Xml>(Context&);
template void CloseDict<OutputFormat::Json>(Context&);
template void OpenArray<OutputFormat::Xml>(Context&);
template void OpenArray<OutputFormat::Json>(Context&);
template void CloseArray<OutputFormat::Xml>(Context&);
template void CloseArray<OutputFormat::Json>(Context&);

}  // namespace bplist
