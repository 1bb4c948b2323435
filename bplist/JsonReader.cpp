// The JSON reader: RFC 8259, strictly, in one pass with an explicit stack.
// Objects become dictionaries (a key given twice is refused), and an object
// of the one member "CF$UID" with a whole number a UID; null is refused, as
// a property list has no null value.
#include <cstring>

#include "bplist/Values.h"

namespace bplist {

namespace {

bool IsSpace(uint8_t b) {
  return b == ' ' || b == '\t' || b == '\n' || b == '\r';
}

bool IsDigit(uint8_t b) {
  return b >= '0' && b <= '9';
}

class JsonReader {
 public:
  JsonReader(const uint8_t* data, size_t size, ValueTree* tree)
      : p_(data), n_(size), b_(tree, ValueBudget(size), true) {}

  ReadResult Read();

 private:
  // What comes next inside the innermost container.
  enum class Next : uint8_t {
    FirstValue,   // '[' was read: a value or ']'
    Value,        // ',' in an array: a value
    AfterValue,   // ',' or ']'
    FirstKey,     // '{' was read: a key or '}'
    Key,          // ',' in an object: a key
    AfterKey,     // ':'
    MemberValue,  // a member's value
    AfterMember,  // ',' or '}'
  };

  bool Fail(const std::string& reason, size_t at) {
    if (error_.empty()) {
      error_ = reason;
      errorAt_ = at;
    }
    return false;
  }
  void SkipSpace() {
    while (pos_ < n_ && IsSpace(p_[pos_])) ++pos_;
  }
  bool String(std::string* out);
  bool Number();
  bool Literal(const char* word, size_t at);
  bool Value();
  bool Budget(size_t at) {
    if (b_.TooDeep())
      return Fail("containers nest deeper than " + std::to_string(kMaxValueDepth) + " levels", at);
    return Fail("the document holds more values than its size allows", at);
  }
  // After a value is complete: the container around it moves on.
  void ValueDone() {
    if (next_.empty()) {
      done_ = true;
    } else {
      next_.back() = next_.back() == Next::MemberValue ? Next::AfterMember : Next::AfterValue;
    }
  }
  bool CloseObject(size_t at);
  void CloseArray();
  // Reads what comes next inside the innermost container, whose next byte
  // is b at `at`.
  bool Step(uint8_t b, size_t at);

  const uint8_t* p_;
  size_t n_;
  size_t pos_ = 0;
  TreeBuilder b_;
  std::vector<Next> next_;
  bool done_ = false;
  std::string text_;
  std::string error_;
  size_t errorAt_ = 0;
};

bool JsonReader::String(std::string* out) {
  size_t start = pos_++;
  out->clear();
  for (;;) {
    size_t run = pos_;
    while (pos_ < n_ && p_[pos_] >= 0x20 && p_[pos_] < 0x80 && p_[pos_] != '"' && p_[pos_] != '\\')
      ++pos_;
    out->append(reinterpret_cast<const char*>(p_) + run, pos_ - run);
    if (pos_ == n_) return Fail("the document ends inside a string", start);
    uint8_t b = p_[pos_];
    if (b == '"') {
      ++pos_;
      return true;
    }
    if (b < 0x20) return Fail("a control character inside a string", pos_);
    if (b >= 0x80) {
      uint32_t cp;
      size_t len = DecodeUtf8(p_ + pos_, n_ - pos_, &cp);
      if (len == 0) return Fail("invalid UTF-8", pos_);
      out->append(reinterpret_cast<const char*>(p_) + pos_, len);
      pos_ += len;
      continue;
    }
    // An escape.
    size_t at = pos_++;
    if (pos_ == n_) return Fail("the document ends inside a string", start);
    char e = char(p_[pos_++]);
    const char* simple = std::strchr("\"\\/bfnrt", e);
    if (e != 0 && simple != nullptr) {
      static const char kMeaning[] = "\"\\/\b\f\n\r\t";
      out->push_back(kMeaning[simple - "\"\\/bfnrt"]);
      continue;
    }
    if (e != 'u') return Fail("the escape \\" + std::string(1, e) + " inside a string", at);
    auto hex4 = [&](uint32_t* u) {
      if (n_ - pos_ < 4) return false;
      *u = 0;
      for (int i = 0; i < 4; ++i) {
        uint8_t h = p_[pos_++];
        int d = IsDigit(h)                               ? h - '0'
                : (h | 0x20) >= 'a' && (h | 0x20) <= 'f' ? (h | 0x20) - 'a' + 10
                                                         : -1;
        if (d < 0) return false;
        *u = *u << 4 | uint32_t(d);
      }
      return true;
    };
    uint32_t u;
    if (!hex4(&u)) return Fail("a malformed \\u escape", at);
    if (u >= 0xD800 && u < 0xDC00) {
      uint32_t lo;
      if (n_ - pos_ < 2 || p_[pos_] != '\\' || p_[pos_ + 1] != 'u')
        return Fail("a lone surrogate escape", at);
      pos_ += 2;
      if (!hex4(&lo) || lo < 0xDC00 || lo >= 0xE000) return Fail("a lone surrogate escape", at);
      u = 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00);
    } else if (u >= 0xDC00 && u < 0xE000) {
      return Fail("a lone surrogate escape", at);
    }
    AppendUtf8(u, out);
  }
}

bool JsonReader::Number() {
  size_t start = pos_;
  if (p_[pos_] == '-') ++pos_;
  if (pos_ == n_ || !IsDigit(p_[pos_])) return Fail("a malformed number", start);
  if (p_[pos_] == '0') {
    ++pos_;
  } else {
    while (pos_ < n_ && IsDigit(p_[pos_])) ++pos_;
  }
  bool real = false;
  if (pos_ < n_ && p_[pos_] == '.') {
    real = true;
    ++pos_;
    if (pos_ == n_ || !IsDigit(p_[pos_])) return Fail("a malformed number", start);
    while (pos_ < n_ && IsDigit(p_[pos_])) ++pos_;
  }
  if (pos_ < n_ && (p_[pos_] == 'e' || p_[pos_] == 'E')) {
    real = true;
    ++pos_;
    if (pos_ < n_ && (p_[pos_] == '+' || p_[pos_] == '-')) ++pos_;
    if (pos_ == n_ || !IsDigit(p_[pos_])) return Fail("a malformed number", start);
    while (pos_ < n_ && IsDigit(p_[pos_])) ++pos_;
  }
  std::string_view text(reinterpret_cast<const char*>(p_) + start, pos_ - start);
  uint64_t bits;
  ValueKind kind = ValueKind::Real64;
  std::string why =
      real ? RealFromText(text, false, &bits) : IntegerFromText(text, false, &kind, &bits);
  if (!why.empty()) return Fail(why, start);
  if (!b_.Scalar(kind, bits)) return Budget(start);
  ValueDone();
  return true;
}

bool JsonReader::Literal(const char* word, size_t at) {
  size_t len = std::strlen(word);
  if (n_ - pos_ < len || std::memcmp(p_ + pos_, word, len) != 0) return Fail("an unknown word", at);
  pos_ += len;
  return true;
}

bool JsonReader::Value() {
  size_t at = pos_;
  uint8_t b = p_[pos_];
  if (b == '{' || b == '[') {
    ++pos_;
    if (!b_.Open(b == '{' ? ValueKind::Dict : ValueKind::Array)) return Budget(at);
    next_.push_back(b == '{' ? Next::FirstKey : Next::FirstValue);
    return true;
  }
  if (b == '"') {
    if (!String(&text_)) return false;
    if (!b_.Text(text_)) return Budget(at);
    ValueDone();
    return true;
  }
  if (b == '-' || IsDigit(b)) return Number();
  if (b == 't' || b == 'f') {
    bool t = b == 't';
    if (!Literal(t ? "true" : "false", at)) return false;
    if (!b_.Scalar(t ? ValueKind::True : ValueKind::False, 0)) return Budget(at);
    ValueDone();
    return true;
  }
  if (b == 'n' && Literal("null", at)) return Fail("null (a property list has no null value)", at);
  return Fail("a character that starts no value", at);
}

bool JsonReader::CloseObject(size_t at) {
  // {"CF$UID": N} with N from 0 to 2^64 - 1 is a UID, as -j writes UIDs.
  if (b_.Entries() == 2 && b_.EntryBytes(0) == "CF$UID") {
    const bplist::Value& v = b_.Entry(1);
    if (v.kind == ValueKind::BigInt || (v.kind == ValueKind::Int && int64_t(v.at) >= 0)) {
      b_.CloseAsUid(v.at);
      next_.pop_back();
      ValueDone();
      return true;
    }
  }
  std::string duplicate;
  if (!b_.Close(&duplicate)) return Fail("an object holds the key \"" + duplicate + "\" twice", at);
  next_.pop_back();
  ValueDone();
  return true;
}

// Closes the innermost array at its ']'.
void JsonReader::CloseArray() {
  ++pos_;
  std::string unused;
  b_.Close(&unused);
  next_.pop_back();
  ValueDone();
}

bool JsonReader::Step(uint8_t b, size_t at) {
  switch (next_.back()) {
    case Next::FirstValue:
      if (b == ']') {
        CloseArray();
        return true;
      }
      [[fallthrough]];
    case Next::Value:
    case Next::MemberValue:
      return Value();
    case Next::AfterValue:
      if (b == ',') {
        ++pos_;
        next_.back() = Next::Value;
        return true;
      }
      if (b != ']') return Fail("an array's values without a ',' between them", at);
      CloseArray();
      return true;
    case Next::FirstKey:
      if (b == '}') {
        ++pos_;
        return CloseObject(at);
      }
      [[fallthrough]];
    case Next::Key: {
      if (b != '"') return Fail("an object's member without a string key", at);
      bool ok = String(&text_) && (b_.Key(text_) || Budget(at));
      next_.back() = Next::AfterKey;
      return ok;
    }
    case Next::AfterKey:
      if (b != ':') return Fail("an object's key without a ':'", at);
      ++pos_;
      next_.back() = Next::MemberValue;
      return true;
    case Next::AfterMember:
      if (b == ',') {
        ++pos_;
        next_.back() = Next::Key;
        return true;
      }
      if (b != '}') return Fail("an object's members without a ',' between them", at);
      ++pos_;
      return CloseObject(at);
  }
  return true;
}

ReadResult JsonReader::Read() {
  if (n_ >= 3 && p_[0] == 0xEF && p_[1] == 0xBB && p_[2] == 0xBF) pos_ = 3;
  bool ok = true;
  while (ok) {
    SkipSpace();
    if (done_) {
      if (pos_ != n_) ok = Fail("text after the document", pos_);
      break;
    }
    if (pos_ == n_) {
      ok = Fail(next_.empty() ? "the document holds no value" : "the document ends inside a value",
                pos_);
      break;
    }
    ok = next_.empty() ? Value() : Step(p_[pos_], pos_);
  }
  return TextResult(ok, b_, error_, p_, errorAt_);
}

}  // namespace

ReadResult ReadJsonPlist(const uint8_t* data, size_t size, ValueTree* tree) {
  return JsonReader(data, size, tree).Read();
}

}  // namespace bplist
