// The XML property-list reader. One pass over the text with an explicit
// stack of open elements: it reads the elements of Apple's format and the
// XML around them (declaration, DOCTYPE, comments, processing instructions,
// CDATA, the five predefined entities and character references), and
// refuses everything else with the place of the fault. It declares and
// expands no entity and opens nothing the document names.
#include <cstring>

#include "bplist/Values.h"

namespace bplist {

namespace {

// The containers a reader can be inside.
enum class Open : uint8_t {
  Plist,     // <plist>, holding one value
  Array,     // <array>
  DictKey,   // <dict>, where a <key> or the end comes next
  DictValue  // <dict>, where the value of the key just read comes next
};

bool IsSpace(uint8_t b) {
  return b == ' ' || b == '\t' || b == '\n' || b == '\r';
}

// The bytes a name may hold: ASCII letters, digits, '_', ':', '.', '-', and
// every byte of a UTF-8 sequence.
constexpr struct NameBytes {
  bool name[256] = {};
  constexpr NameBytes() {
    for (int b = 0; b < 256; ++b)
      name[b] = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') ||
                b == '_' || b == ':' || b == '.' || b == '-' || b >= 0x80;
  }
  constexpr bool operator[](uint8_t b) const { return name[b]; }
} kNameByte;

// Trims XML white space from both ends.
std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && IsSpace(uint8_t(s.front()))) s.remove_prefix(1);
  while (!s.empty() && IsSpace(uint8_t(s.back()))) s.remove_suffix(1);
  return s;
}

// Decodes base64, skipping white space anywhere; "" or the reason.
std::string DecodeBase64(std::string_view s, std::string* out) {
  uint32_t acc = 0;
  unsigned bits = 0;
  bool padded = false;
  for (char ch : s) {
    uint8_t b = uint8_t(ch);
    if (IsSpace(b)) continue;
    if (b == '=') {
      padded = true;
      continue;
    }
    int v = b >= 'A' && b <= 'Z'   ? b - 'A'
            : b >= 'a' && b <= 'z' ? b - 'a' + 26
            : b >= '0' && b <= '9' ? b - '0' + 52
            : b == '+'             ? 62
            : b == '/'             ? 63
                                   : -1;
    if (v < 0) return "the character '" + std::string(1, ch) + "' in base64 data";
    if (padded) return "base64 data goes on after its padding";
    acc = acc << 6 | uint32_t(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out->push_back(char(acc >> bits & 0xFF));
    }
  }
  if (bits >= 6) return "base64 data ends inside a byte";
  return "";
}

// Bytes of text that need no attention: ASCII but NUL, CR, '<' and '&'.
constexpr struct PlainBytes {
  bool plain[256] = {};
  constexpr PlainBytes() {
    for (int b = 1; b < 0x80; ++b) plain[b] = b != '\r' && b != '<' && b != '&';
  }
  constexpr bool operator[](uint8_t b) const { return plain[b]; }
} kPlain;

class XmlReader {
 public:
  XmlReader(const uint8_t* data, size_t size, ValueTree* tree)
      : p_(data), n_(size), b_(tree, ValueBudget(size), true) {}

  ReadResult Read();

 private:
  bool Fail(const std::string& reason, size_t at) {
    if (error_.empty()) {
      error_ = reason;
      errorAt_ = at;
    }
    return false;
  }
  bool Fail(const std::string& reason) { return Fail(reason, pos_); }
  bool StartsWith(const char* s) const {
    size_t len = std::strlen(s);
    return n_ - pos_ >= len && std::memcmp(p_ + pos_, s, len) == 0;
  }
  // Skips white space; the indentation of a written document is runs of
  // spaces, taken eight at a time.
  void SkipSpace() {
    constexpr uint64_t kSpaces = 0x2020202020202020ull;
    uint64_t word;
    for (;;) {
      while (n_ - pos_ >= 8 && (std::memcpy(&word, p_ + pos_, 8), word == kSpaces)) pos_ += 8;
      if (pos_ == n_ || !IsSpace(p_[pos_])) return;
      ++pos_;
    }
  }
  // Skips past `end`, or fails with `what` when the text ends first.
  bool SkipPast(const char* end, const char* what);
  bool SkipDoctype();
  // Skips comments, processing instructions and white space.
  bool SkipMisc();
  // Skips the comment or processing instruction at pos_, setting *skipped;
  // leaves *skipped false where neither starts. False for one that does not
  // end.
  bool SkipNote(bool* skipped);
  // Reads a name at pos_.
  std::string_view Name();
  // Reads the rest of a start tag after its name: attributes, then '>' or
  // "/>" (*empty).
  bool TagEnd(bool* empty);
  // Reads text up to "</name>" into text_, with entities, character
  // references and CDATA resolved and line ends made LF.
  bool Content(std::string_view name);
  bool Reference();
  bool CheckedText(size_t from, size_t to);
  bool StartElement();
  bool EndElement();
  bool AddScalar(std::string_view name, size_t at, bool empty);
  bool Budget(size_t at) {
    if (b_.TooDeep())
      return Fail("containers nest deeper than " + std::to_string(kMaxValueDepth) + " levels", at);
    return Fail("the document holds more values than its size allows", at);
  }
  // After a value is added: the container around it moves on.
  bool ValueDone(size_t at);

  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
  TreeBuilder b_;
  std::vector<Open> open_;
  bool done_ = false;  // the top value is complete
  size_t plistValues_ = 0;
  std::string text_;
  std::string error_;
  size_t errorAt_ = 0;
};

bool XmlReader::SkipPast(const char* end, const char* what) {
  size_t len = std::strlen(end);
  for (size_t i = pos_; i + len <= n_; ++i) {
    if (p_[i] == uint8_t(end[0]) && std::memcmp(p_ + i, end, len) == 0) {
      if (!CheckedText(pos_, i)) return false;
      pos_ = i + len;
      return true;
    }
  }
  return Fail(std::string("the document ends inside ") + what);
}

bool XmlReader::SkipDoctype() {
  size_t start = pos_;
  pos_ += 9;  // "<!DOCTYPE"
  char quote = 0;
  for (; pos_ < n_; ++pos_) {
    uint8_t b = p_[pos_];
    if (quote != 0) {
      if (b == uint8_t(quote)) quote = 0;
    } else if (b == '"' || b == '\'') {
      quote = char(b);
    } else if (b == '[') {
      // An internal subset is where entities are declared: none is read.
      for (size_t i = pos_; i + 8 <= n_; ++i)
        if (std::memcmp(p_ + i, "<!ENTITY", 8) == 0)
          return Fail("an entity declaration (entities are not read)", i);
      return Fail("a DOCTYPE with an internal subset", pos_);
    } else if (b == '>') {
      ++pos_;
      return true;
    }
  }
  return Fail("the document ends inside its DOCTYPE", start);
}

bool XmlReader::SkipNote(bool* skipped) {
  *skipped = true;
  if (StartsWith("<!--")) {
    pos_ += 4;
    return SkipPast("-->", "a comment");
  }
  if (StartsWith("<?")) {
    pos_ += 2;
    return SkipPast("?>", "a processing instruction");
  }
  *skipped = false;
  return true;
}

bool XmlReader::SkipMisc() {
  for (;;) {
    SkipSpace();
    // Most often an element starts here.
    if (n_ - pos_ < 2 || p_[pos_] != '<' || (p_[pos_ + 1] != '!' && p_[pos_ + 1] != '?'))
      return true;
    bool skipped;
    if (!SkipNote(&skipped)) return false;
    if (!skipped) return true;
  }
}

std::string_view XmlReader::Name() {
  size_t start = pos_;
  while (pos_ < n_ && kNameByte[p_[pos_]]) ++pos_;
  return std::string_view(reinterpret_cast<const char*>(p_) + start, pos_ - start);
}

bool XmlReader::TagEnd(bool* empty) {
  for (;;) {
    size_t before = pos_;
    SkipSpace();
    if (pos_ == n_) return Fail("the document ends inside a tag");
    if (p_[pos_] == '>') {
      ++pos_;
      *empty = false;
      return true;
    }
    if (p_[pos_] == '/') {
      if (pos_ + 1 < n_ && p_[pos_ + 1] == '>') {
        pos_ += 2;
        *empty = true;
        return true;
      }
      return Fail("a '/' inside a tag");
    }
    // An attribute: name = "value"; its value is read for its end alone.
    if (pos_ == before || Name().empty()) return Fail("a malformed attribute");
    SkipSpace();
    if (pos_ == n_ || p_[pos_] != '=') return Fail("an attribute without a value");
    ++pos_;
    SkipSpace();
    if (pos_ == n_ || (p_[pos_] != '"' && p_[pos_] != '\'')) return Fail("an unquoted attribute");
    uint8_t quote = p_[pos_++];
    size_t start = pos_;
    while (pos_ < n_ && p_[pos_] != quote) {
      if (p_[pos_] == '<') return Fail("a '<' inside an attribute");
      ++pos_;
    }
    if (pos_ == n_) return Fail("the document ends inside an attribute", start);
    if (!CheckedText(start, pos_)) return false;
    ++pos_;
  }
}

// Checks that bytes [from, to) are UTF-8 without a NUL.
bool XmlReader::CheckedText(size_t from, size_t to) {
  for (size_t i = from; i < to;) {
    uint8_t b = p_[i];
    if (b >= 0x80) {
      uint32_t cp;
      size_t len = DecodeUtf8(p_ + i, to - i, &cp);
      if (len == 0) return Fail("invalid UTF-8", i);
      i += len;
      continue;
    }
    if (b == 0) return Fail("a NUL character", i);
    ++i;
  }
  return true;
}

bool XmlReader::Reference() {
  size_t start = pos_;
  size_t end = pos_ + 1;
  while (end < n_ && end - start < 12 && p_[end] != ';') ++end;
  if (end >= n_ || p_[end] != ';') return Fail("a '&' that starts no reference", start);
  std::string_view name(reinterpret_cast<const char*>(p_) + start + 1, end - start - 1);
  pos_ = end + 1;
  static const struct {
    const char* name;
    char ch;
  } kPredefined[] = {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
  for (const auto& e : kPredefined) {
    if (name == e.name) {
      text_.push_back(e.ch);
      return true;
    }
  }
  if (name.size() < 2 || name[0] != '#')
    return Fail("the entity &" + std::string(name) + "; (only the five XML predefines are read)",
                start);
  bool hex = name[1] == 'x';
  std::string_view digits = name.substr(hex ? 2 : 1);
  uint32_t cp = 0;
  if (digits.empty()) return Fail("an empty character reference", start);
  for (char ch : digits) {
    int d = ch >= '0' && ch <= '9'          ? ch - '0'
            : hex && ch >= 'a' && ch <= 'f' ? ch - 'a' + 10
            : hex && ch >= 'A' && ch <= 'F' ? ch - 'A' + 10
                                            : -1;
    if (d < 0) return Fail("a malformed character reference", start);
    cp = cp * (hex ? 16 : 10) + uint32_t(d);
    if (cp > 0x10FFFF) break;
  }
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000))
    return Fail("the character reference &" + std::string(name) + "; names no character", start);
  AppendUtf8(cp, &text_);
  return true;
}

bool XmlReader::Content(std::string_view name) {
  text_.clear();
  for (;;) {
    // ASCII text other than '<', '&', CR and NUL is taken as it is; UTF-8
    // sequences are checked as they come.
    size_t run = pos_;
    for (;;) {
      while (pos_ < n_ && kPlain[p_[pos_]]) ++pos_;
      if (pos_ == n_ || p_[pos_] < 0x80) break;
      uint32_t cp;
      size_t len = DecodeUtf8(p_ + pos_, n_ - pos_, &cp);
      if (len == 0) return Fail("invalid UTF-8");
      pos_ += len;
    }
    if (pos_ < n_ && p_[pos_] == 0) return Fail("a NUL character");
    text_.append(reinterpret_cast<const char*>(p_) + run, pos_ - run);
    if (pos_ == n_) return Fail("the document ends inside <" + std::string(name) + ">");
    uint8_t b = p_[pos_];
    if (b == '\r') {
      // XML reads CR LF and a lone CR as LF.
      text_.push_back('\n');
      ++pos_;
      if (pos_ < n_ && p_[pos_] == '\n') ++pos_;
    } else if (b == '&') {
      if (!Reference()) return false;
    } else if (StartsWith("</")) {
      size_t at = pos_;
      pos_ += 2;
      std::string_view end = Name();
      SkipSpace();
      if (end != name || pos_ == n_ || p_[pos_] != '>')
        return Fail("<" + std::string(name) + "> is closed by </" + std::string(end) + ">", at);
      ++pos_;
      return true;
    } else if (StartsWith("<![CDATA[")) {
      pos_ += 9;
      size_t from = pos_;
      if (!SkipPast("]]>", "a CDATA section")) return false;
      for (size_t i = from; i < pos_ - 3; ++i) {
        if (p_[i] != '\r') {
          text_.push_back(char(p_[i]));
        } else if (i + 1 >= pos_ - 3 || p_[i + 1] != '\n') {
          text_.push_back('\n');
        }
      }
    } else {
      bool skipped;
      if (!SkipNote(&skipped)) return false;
      if (!skipped) return Fail("an element inside <" + std::string(name) + ">");
    }
  }
}

bool XmlReader::ValueDone(size_t at) {
  if (open_.empty()) {
    done_ = true;
    return true;
  }
  Open& o = open_.back();
  if (o == Open::DictValue) {
    o = Open::DictKey;
  } else if (o == Open::Plist) {
    if (++plistValues_ > 1) return Fail("a <plist> holds more than one value", at);
  }
  return true;
}

bool XmlReader::AddScalar(std::string_view name, size_t at, bool empty) {
  bool ok = true;
  std::string why;
  if (name == "true" || name == "false") {
    if (!empty && (!Content(name) || !text_.empty()))
      return Fail("<" + std::string(name) + "> holds text", at);
    ok = b_.Scalar(name == "true" ? ValueKind::True : ValueKind::False, 0);
  } else {
    if (!empty && !Content(name)) return false;
    if (empty) text_.clear();
    if (name == "string" || name == "key") {
      ok = b_.Text(text_);
    } else if (name == "data") {
      std::string bytes;
      why = DecodeBase64(text_, &bytes);
      if (why.empty()) ok = b_.Bytes(ValueKind::Data, bytes);
    } else if (name == "integer") {
      ValueKind kind;
      uint64_t bits;
      why = IntegerFromText(Trimmed(text_), true, &kind, &bits);
      if (why.empty()) ok = b_.Scalar(kind, bits);
    } else if (name == "real") {
      uint64_t bits;
      why = RealFromText(Trimmed(text_), true, &bits);
      if (why.empty()) ok = b_.Scalar(ValueKind::Real64, bits);
    } else {  // date
      uint64_t bits;
      why = DateFromText(Trimmed(text_), &bits);
      if (why.empty()) ok = b_.Scalar(ValueKind::Date, bits);
    }
  }
  if (!why.empty()) return Fail(why, at);
  if (!ok) return Budget(at);
  return ValueDone(at);
}

bool XmlReader::StartElement() {
  size_t at = pos_;
  ++pos_;
  std::string_view name = Name();
  if (name.empty()) return Fail("a '<' that starts no element", at);
  bool empty = false;
  if (!TagEnd(&empty)) return false;
  if (done_) return Fail("a second top-level element <" + std::string(name) + ">", at);
  bool inDict =
      !open_.empty() && (open_.back() == Open::DictKey || open_.back() == Open::DictValue);
  if (inDict && open_.back() == Open::DictKey && name != "key")
    return Fail("<" + std::string(name) + "> where a dictionary key belongs", at);
  if (name == "key") {
    if (!inDict) return Fail("a <key> outside a dictionary", at);
    if (open_.back() == Open::DictValue) return Fail("a dictionary key without a value", at);
    open_.back() = Open::DictValue;
    if (!empty && !Content(name)) return false;
    if (empty) text_.clear();
    return b_.Key(text_) || Budget(at);
  }
  if (name == "plist") {
    if (!open_.empty()) return Fail("a <plist> inside a value", at);
    if (empty) return Fail("an empty <plist>", at);
    open_.push_back(Open::Plist);
    return true;
  }
  if (name == "dict" || name == "array") {
    bool dict = name == "dict";
    if (!b_.Open(dict ? ValueKind::Dict : ValueKind::Array)) return Budget(at);
    if (empty) {
      std::string duplicate;
      b_.Close(&duplicate);
      return ValueDone(at);
    }
    open_.push_back(dict ? Open::DictKey : Open::Array);
    return true;
  }
  static const char* const kScalars[] = {"string", "data", "date", "integer",
                                         "real",   "true", "false"};
  for (const char* scalar : kScalars)
    if (name == scalar) return AddScalar(name, at, empty);
  return Fail("the unknown element <" + std::string(name) + ">", at);
}

bool XmlReader::EndElement() {
  size_t at = pos_;
  pos_ += 2;
  std::string_view name = Name();
  SkipSpace();
  if (pos_ == n_ || p_[pos_] != '>') return Fail("a malformed end tag", at);
  ++pos_;
  if (open_.empty()) return Fail("the end tag </" + std::string(name) + "> closes nothing", at);
  Open o = open_.back();
  const char* expected = o == Open::Plist ? "plist" : o == Open::Array ? "array" : "dict";
  if (name != expected)
    return Fail("<" + std::string(expected) + "> is closed by </" + std::string(name) + ">", at);
  if (o == Open::DictValue) return Fail("a dictionary key without a value", at);
  open_.pop_back();
  if (o == Open::Plist) {
    if (plistValues_ != 1) return Fail("an empty <plist>", at);
    done_ = true;
    return true;
  }
  // A dictionary of one entry "CF$UID" and an integer from 0 to 2^64 - 1 is
  // a UID, as the writers of XML property lists put them.
  if (o == Open::DictKey && b_.Entries() == 2 && b_.EntryBytes(0) == "CF$UID") {
    const Value& value = b_.Entry(1);
    if (value.kind == ValueKind::BigInt ||
        (value.kind == ValueKind::Int && int64_t(value.at) >= 0)) {
      b_.CloseAsUid(value.at);
      return ValueDone(at);
    }
  }
  std::string duplicate;
  if (!b_.Close(&duplicate))
    return Fail("a dictionary holds the key \"" + duplicate + "\" twice", at);
  return ValueDone(at);
}

ReadResult XmlReader::Read() {
  if (n_ >= 3 && p_[0] == 0xEF && p_[1] == 0xBB && p_[2] == 0xBF) pos_ = 3;
  bool ok = SkipMisc();
  if (ok && StartsWith("<!DOCTYPE")) ok = SkipDoctype() && SkipMisc();
  while (ok) {
    if (open_.empty() && done_) {
      ok = SkipMisc();
      if (!ok) break;
      if (pos_ != n_) {
        ok = Fail(p_[pos_] == '<' ? "a second top-level element" : "text after the document");
      }
      break;
    }
    if (!open_.empty()) {
      ok = SkipMisc();
      if (!ok) break;
    }
    if (pos_ == n_) {
      ok = Fail(open_.empty() ? "the document holds no value"
                              : "the document ends inside an element");
      break;
    }
    if (p_[pos_] != '<') {
      ok = Fail("text outside the elements of a property list");
    } else if (StartsWith("</")) {
      ok = EndElement();
    } else if (StartsWith("<![CDATA[")) {
      ok = Fail("a CDATA section outside a string");
    } else if (StartsWith("<!ENTITY")) {
      ok = Fail("an entity declaration (entities are not read)");
    } else if (StartsWith("<!")) {
      ok = Fail("a declaration inside the document");
    } else {
      ok = StartElement();
    }
  }
  return TextResult(ok, b_, error_, p_, errorAt_);
}

}  // namespace

ReadResult ReadXmlPlist(const uint8_t* data, size_t size, ValueTree* tree) {
  bool big = size >= 2 && data[0] == 0xFE && data[1] == 0xFF;
  bool little = size >= 2 && data[0] == 0xFF && data[1] == 0xFE;
  if (!big && !little) return XmlReader(data, size, tree).Read();
  // UTF-16 with its byte-order mark is read as the UTF-8 text it holds.
  std::string text;
  text.reserve(size + size / 2);
  for (size_t i = 2; i + 1 < size || i < size; i += 2) {
    ReadResult r;
    auto unit = [&](size_t at) {
      return big ? uint32_t(data[at]) << 8 | data[at + 1] : uint32_t(data[at + 1]) << 8 | data[at];
    };
    if (i + 1 >= size) {
      r.reason = "the UTF-16 text ends inside a character" +
                 LineAndColumn(reinterpret_cast<const uint8_t*>(text.data()), text.size());
      return r;
    }
    uint32_t cp = unit(i);
    if (cp >= 0xD800 && cp < 0xDC00 && i + 3 < size && unit(i + 2) >= 0xDC00 &&
        unit(i + 2) < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
      i += 2;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      r.reason = "a lone UTF-16 surrogate" +
                 LineAndColumn(reinterpret_cast<const uint8_t*>(text.data()), text.size());
      return r;
    }
    AppendUtf8(cp, &text);
  }
  return XmlReader(reinterpret_cast<const uint8_t*>(text.data()), text.size(), tree).Read();
}

}  // namespace bplist
