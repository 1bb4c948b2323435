// Strings turned into UTF-8 that any XML reader accepts, or into the text of
// a JSON string. One walk for both; a policy gives each format's escapes.
#include <algorithm>
#include <cstring>

#include "bplist/Texts.h"

namespace bplist {

namespace {

// Input units handled per reserved stretch of the writer's buffer; each can
// grow to at most six output bytes ("&amp;" or a replaced character).
constexpr size_t kChunk = 65536;
constexpr size_t kMaxGrowth = 6;

// U+FFFD, written for every character XML 1.0 cannot carry.
constexpr char kReplacement[] = "\xEF\xBF\xBD";

// Bytes an 8-bit string cannot pass through unchanged: & < >, carriage
// return (XML readers would turn a raw one into a line feed), C0 controls
// other than tab and line feed, and bytes from 0x80 on.
// In text already known to be valid UTF-8, bytes from 0x80 on pass too,
// except 0xEF, which starts U+FFFE and U+FFFF.
struct SpecialTable {
  bool special[256];
  constexpr explicit SpecialTable(bool validUtf8) : special() {
    for (int b = 0; b < 256; ++b)
      special[b] = b == '&' || b == '<' || b == '>' || (b < 0x20 && b != '\t' && b != '\n') ||
                   (b >= 0x80 && (!validUtf8 || b == 0xEF));
  }
};
constexpr SpecialTable kSpecial(false);
constexpr SpecialTable kSpecialInUtf8(true);

// Bytes a JSON string cannot carry unchanged: the quote, the backslash and
// C0 controls, and bytes from 0x80 on unless the text is valid UTF-8.
// JSON carries every character, U+FFFE and U+FFFF included.
struct JsonSpecialTable {
  bool special[256];
  constexpr explicit JsonSpecialTable(bool validUtf8) : special() {
    for (int b = 0; b < 256; ++b)
      special[b] = b == '"' || b == '\\' || b < 0x20 || (b >= 0x80 && !validUtf8);
  }
};
constexpr JsonSpecialTable kJsonSpecial(false);
constexpr JsonSpecialTable kJsonSpecialInUtf8(true);

// Writes the escape or replacement for an ASCII byte that is special.
char* PutAsciiSpecial(char* dst, uint8_t b) {
  const char* text = b == '&'    ? "&amp;"
                     : b == '<'  ? "&lt;"
                     : b == '>'  ? "&gt;"
                     : b == '\r' ? "&#13;"
                                 : kReplacement;
  while (*text) *dst++ = *text++;
  return dst;
}

// Writes the escape of an ASCII byte that a JSON string cannot carry.
char* PutJsonAsciiSpecial(char* dst, uint8_t b) {
  constexpr char kHex[] = "0123456789abcdef";
  *dst++ = '\\';
  switch (b) {
    case '"':
    case '\\':
      *dst++ = char(b);
      return dst;
    case '\b':
      *dst++ = 'b';
      return dst;
    case '\f':
      *dst++ = 'f';
      return dst;
    case '\n':
      *dst++ = 'n';
      return dst;
    case '\r':
      *dst++ = 'r';
      return dst;
    case '\t':
      *dst++ = 't';
      return dst;
  }
  std::memcpy(dst, "u00", 3);
  dst[3] = kHex[b >> 4];
  dst[4] = kHex[b & 15];
  return dst + 5;
}

// The escapes of each format.
struct XmlEscapes {
  static bool Special(uint8_t b) { return kSpecial.special[b]; }
  static const bool* SpecialIn(bool utf8) {
    return utf8 ? kSpecialInUtf8.special : kSpecial.special;
  }
  static char* PutAscii(char* dst, uint8_t b) { return PutAsciiSpecial(dst, b); }
  // Whether U+FFFE and U+FFFF become U+FFFD.
  static constexpr bool kReplaceNonchars = true;
};
struct JsonEscapes {
  static bool Special(uint8_t b) { return kJsonSpecial.special[b]; }
  static const bool* SpecialIn(bool utf8) {
    return utf8 ? kJsonSpecialInUtf8.special : kJsonSpecial.special;
  }
  static char* PutAscii(char* dst, uint8_t b) { return PutJsonAsciiSpecial(dst, b); }
  static constexpr bool kReplaceNonchars = false;
};

template <typename Escapes>
char* PutCodePoint(char* dst, uint32_t cp) {
  if (cp < 0x80 && Escapes::Special(uint8_t(cp))) return Escapes::PutAscii(dst, uint8_t(cp));
  return PutUtf8(dst, cp);
}

// Length of the well-formed UTF-8 sequence at p (at most `left` bytes), or
// 0 when there is none: no overlong forms, surrogates or values past U+10FFFF.
size_t Utf8Length(const uint8_t* p, size_t left) {
  uint8_t b = p[0];
  size_t len = b < 0xC2 ? 0 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF5 ? 4 : 0;
  if (len == 0 || len > left) return 0;
  uint8_t lo = 0x80, hi = 0xBF;
  if (b == 0xE0) lo = 0xA0;
  if (b == 0xED) hi = 0x9F;
  if (b == 0xF0) lo = 0x90;
  if (b == 0xF4) hi = 0x8F;
  if (p[1] < lo || p[1] > hi) return 0;
  for (size_t i = 2; i < len; ++i)
    if ((p[i] & 0xC0) != 0x80) return 0;
  return len;
}

}  // namespace

bool IsUtf8(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n;) {
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    size_t len = Utf8Length(p + i, n - i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

namespace {

template <typename Escapes>
size_t PlainPrefixOf(const uint8_t* p, size_t n) {
  size_t i = 0;
  while (i < n && !Escapes::Special(p[i])) ++i;
  return i;
}

template <typename Escapes>
void PutEscaped8Of(OutputBuffer& out, const uint8_t* p, size_t n) {
  // Most strings need nothing done: find the first byte that does.
  size_t i = PlainPrefixOf<Escapes>(p, n);
  out.Put(std::string_view(reinterpret_cast<const char*>(p), i));
  if (i == n) return;
  bool utf8 = IsUtf8(p + i, n - i);
  const bool* special = Escapes::SpecialIn(utf8);
  while (i < n) {
    size_t stop = std::min(n, i + kChunk);
    char* start = out.Reserve((stop - i + 3) * kMaxGrowth);
    char* dst = start;
    while (i < stop) {
      // Copy the run of bytes that pass unchanged, then handle one that doesn't.
      size_t run = i;
      while (run < stop && !special[p[run]]) ++run;
      dst = std::copy(p + i, p + run, dst);
      i = run;
      if (i == stop) break;
      uint8_t b = p[i];
      if (b < 0x80) {
        dst = Escapes::PutAscii(dst, b);
        ++i;
      } else if (!utf8) {
        dst = PutCodePoint<Escapes>(dst, b);  // Latin-1
        ++i;
      } else {
        size_t len = Utf8Length(p + i, n - i);
        bool nonchar = Escapes::kReplaceNonchars && len == 3 && b == 0xEF && p[i + 1] == 0xBF &&
                       p[i + 2] >= 0xBE;
        if (nonchar) {
          dst = std::copy(kReplacement, kReplacement + 3, dst);
        } else {
          dst = std::copy(p + i, p + i + len, dst);
        }
        i += len;
      }
    }
    out.Commit(size_t(dst - start));
  }
}

// Writes the code units from *i up to `stop` of the `units` at p to dst, a
// pair that starts before `stop` whole, and returns the end; *i moves past
// them.
template <typename Escapes>
char* PutUnits16(char* dst, const uint8_t* p, size_t* i, size_t stop, size_t units) {
  while (*i < stop) {
    uint32_t u = uint32_t(p[2 * *i]) << 8 | p[2 * *i + 1];
    ++*i;
    bool high = u >= 0xD800 && u <= 0xDBFF, surrogate = u >= 0xD800 && u <= 0xDFFF;
    if (high && *i < units) {
      uint32_t next = uint32_t(p[2 * *i]) << 8 | p[2 * *i + 1];
      if (next >= 0xDC00 && next <= 0xDFFF) {
        dst = PutCodePoint<Escapes>(dst, 0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00));
        ++*i;
        continue;
      }
    }
    if (surrogate || (Escapes::kReplaceNonchars && (u == 0xFFFE || u == 0xFFFF))) u = 0xFFFD;
    dst = PutCodePoint<Escapes>(dst, u);
  }
  return dst;
}

template <typename Escapes>
void PutEscaped16Of(OutputBuffer& out, const uint8_t* p, size_t units) {
  size_t i = 0;
  while (i < units) {
    size_t stop = std::min(units, i + kChunk);
    char* start = out.Reserve((stop - i + 1) * kMaxGrowth);
    char* dst = PutUnits16<Escapes>(start, p, &i, stop, units);
    out.Commit(size_t(dst - start));
  }
}

}  // namespace

size_t PlainPrefix(const uint8_t* p, size_t n) {
  return PlainPrefixOf<XmlEscapes>(p, n);
}
void PutEscaped8(OutputBuffer& out, const uint8_t* p, size_t n) {
  PutEscaped8Of<XmlEscapes>(out, p, n);
}
void PutEscaped16(OutputBuffer& out, const uint8_t* p, size_t units) {
  PutEscaped16Of<XmlEscapes>(out, p, units);
}
namespace {

// Bytes PutAsciiSpecial writes beyond the one byte of an ASCII character.
struct XmlGrowthTable {
  uint8_t growth[128];
  constexpr XmlGrowthTable() : growth() {
    for (int b = 0; b < 128; ++b)
      growth[b] = b == '&' || b == '\r'                ? 4
                  : b == '<' || b == '>'               ? 3
                  : b < 0x20 && b != '\t' && b != '\n' ? 2  // U+FFFD
                                                       : 0;
  }
};
constexpr XmlGrowthTable kXmlGrowth;

}  // namespace

uint64_t XmlTextSize8(const uint8_t* p, size_t n) {
  size_t i = PlainPrefix(p, n);
  if (i == n) return n;
  // As PutEscaped8: valid UTF-8 passes with its own length (U+FFFE and U+FFFF
  // become U+FFFD, of the same length), else every byte from 0x80 on is a
  // two-byte Latin-1 character.
  bool utf8 = IsUtf8(p + i, n - i);
  uint64_t size = n;
  for (; i < n; ++i) size += p[i] < 0x80 ? kXmlGrowth.growth[p[i]] : !utf8;
  return size;
}

uint64_t XmlTextSize16(const uint8_t* p, size_t units) {
  uint64_t size = 0;
  for (size_t i = 0; i < units; ++i) {
    uint32_t u = uint32_t(p[2 * i]) << 8 | p[2 * i + 1];
    if (u < 0x80) {
      size += 1 + kXmlGrowth.growth[u];
    } else if (u < 0x800) {
      size += 2;
    } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units &&
               (p[2 * i + 2] & 0xFC) == 0xDC) {  // a pair: one four-byte character
      size += 4;
      ++i;
    } else {
      size += 3;  // lone surrogates and U+FFFE and U+FFFF become U+FFFD
    }
  }
  return size;
}

namespace {

// No escapes: the texts of strings that are looked at before they are
// written.
struct NoEscapes {
  static bool Special(uint8_t) { return false; }
  static char* PutAscii(char* dst, uint8_t b) {
    *dst = char(b);
    return dst + 1;
  }
  static constexpr bool kReplaceNonchars = false;
};

}  // namespace

std::string Utf8Of8(const uint8_t* p, size_t n) {
  if (IsUtf8(p, n)) return std::string(reinterpret_cast<const char*>(p), n);
  std::string text(2 * n, '\0');  // Latin-1 takes at most two bytes a character
  char* dst = &text[0];
  for (size_t i = 0; i < n; ++i) dst = PutCodePoint<NoEscapes>(dst, p[i]);
  text.resize(size_t(dst - text.data()));
  return text;
}

std::string Utf8Of16(const uint8_t* p, size_t units) {
  std::string text(3 * units, '\0');  // at most three bytes a unit
  size_t i = 0;
  char* dst = PutUnits16<NoEscapes>(&text[0], p, &i, units, units);
  text.resize(size_t(dst - text.data()));
  return text;
}

size_t JsonPlainPrefix(const uint8_t* p, size_t n) {
  return PlainPrefixOf<JsonEscapes>(p, n);
}

namespace {

// For each byte, whether a JSON string must escape it (kJsonBit) and
// whether an XML string may change it (kXmlBit), from the tables above.
constexpr uint8_t kJsonBit = 1, kXmlBit = 2;
struct BothSpecialTable {
  uint8_t bits[256];
  constexpr BothSpecialTable() : bits() {
    for (int b = 0; b < 256; ++b)
      bits[b] =
          uint8_t((kJsonSpecial.special[b] ? kJsonBit : 0) | (kSpecial.special[b] ? kXmlBit : 0));
  }
};
constexpr BothSpecialTable kBothSpecial;

}  // namespace

size_t JsonPlainPrefixAndXmlSize(const uint8_t* p, size_t n, uint64_t* xmlSize) {
  uint8_t seen = 0;
  size_t i = 0;
  for (; i < n; ++i) {
    uint8_t bits = kBothSpecial.bits[p[i]];
    if (bits & kJsonBit) return i;
    seen |= bits;
  }
  *xmlSize = seen & kXmlBit ? XmlTextSize8(p, n) : n;
  return n;
}
void PutJsonEscaped8(OutputBuffer& out, const uint8_t* p, size_t n) {
  PutEscaped8Of<JsonEscapes>(out, p, n);
}
void PutJsonEscaped16(OutputBuffer& out, const uint8_t* p, size_t units) {
  PutEscaped16Of<JsonEscapes>(out, p, units);
}

}  // namespace bplist
