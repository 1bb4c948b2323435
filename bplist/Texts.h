// Texts of scalar values, shared by the object writers, the tests and the
// benchmarks. None of them reads the file; all are pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "bplist/OutputBuffer.h"

namespace bplist {

// Decimal text of a real from its IEEE double bits: the integer part, ".",
// then the fraction's digits made by BinFrac2Dec.
std::string BinaryToReal(uint64_t bits);

// Digits after the point for the fraction m / 2^shift (0 <= m < 2^shift,
// m < 2^53, shift <= 1100); empty for a zero fraction. Sets *carry when the
// fraction rounds up to 1, which the caller adds to the integer part.
std::string BinFrac2Dec(uint64_t m, unsigned shift, bool* carry);

// The longest integer text: a sign and twenty digits.
constexpr size_t kMaxIntegerText = 21;
// Writes the decimal text of an integer object's value bytes p[0, width) at
// dst and returns its end.
char* PutIntegerText(char* dst, const uint8_t* p, size_t width);

// Decimal text of a UID's value bytes p[0, width), width 1 to 16.
std::string UidText(const uint8_t* p, size_t width);

// Splits seconds since 2001-01-01T00:00:00Z into whole seconds and the
// microseconds after them, the fraction rounded exactly, half to even (a
// fraction that rounds to a whole second carries into *whole). Returns false
// for a non-finite value or whole seconds outside a signed 64-bit integer.
bool SplitSeconds(double seconds, int64_t* whole, uint32_t* micros);

// Writes `seconds` whole seconds since 2001-01-01T00:00:00Z as
// YYYY-MM-DDTHH:MM:SSZ into text, in the proleptic Gregorian calendar: the
// year with at least four digits, and a minus sign before year 0000.
void WholeDateText(int64_t seconds, std::string* text);

// Days from 1970-01-01 to the proleptic Gregorian date y-m-d (month 1 to
// 12), for years whose day count an int64_t holds. The readers of date
// texts use it too.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d);

// Writes seconds since 2001-01-01T00:00:00Z as WholeDateText does, the
// fraction of a second dropped (rounded toward the past). Returns false for
// a non-finite value or whole seconds outside a signed 64-bit integer.
bool DateText(double seconds, std::string* text);

// The JSON text of a real from its IEEE double bits: the shortest decimal
// that reads back as the same value, always with a "." or an exponent; NaN
// and the infinities as the strings "nan", "+infinity" and "-infinity".
std::string JsonRealText(uint64_t bits);
// The same for a 4-byte real: the shortest text of the float.
std::string JsonFloatText(uint32_t bits);

// Writes seconds since 2001-01-01T00:00:00Z as a JSON date text,
// YYYY-MM-DDTHH:MM:SS[.ffffff]Z without the quotes: the fraction of a second
// rounded to the microsecond, without trailing zeros, and left out when
// zero. Returns false where DateText does.
bool JsonDateText(double seconds, std::string* text);

// Writes the padded standard base64 of p[0, n) to out, on one line.
void PutBase64(OutputBuffer& out, const uint8_t* p, size_t n);

// True when p[0, n) is well-formed UTF-8 (no overlong forms, surrogates or
// values past U+10FFFF).
bool IsUtf8(const uint8_t* p, size_t n);

// Writes the UTF-8 form of code point `cp` (at most U+10FFFF) at dst and
// returns the end: one to four bytes.
inline char* PutUtf8(char* dst, uint32_t cp) {
  if (cp < 0x80) {
    *dst++ = char(cp);
  } else if (cp < 0x800) {
    *dst++ = char(0xC0 | cp >> 6);
    *dst++ = char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *dst++ = char(0xE0 | cp >> 12);
    *dst++ = char(0x80 | (cp >> 6 & 0x3F));
    *dst++ = char(0x80 | (cp & 0x3F));
  } else {
    *dst++ = char(0xF0 | cp >> 18);
    *dst++ = char(0x80 | (cp >> 12 & 0x3F));
    *dst++ = char(0x80 | (cp >> 6 & 0x3F));
    *dst++ = char(0x80 | (cp & 0x3F));
  }
  return dst;
}

// The UTF-8 of an 8-bit string, unescaped: unchanged when it is valid
// UTF-8, each byte taken as Latin-1 otherwise, as PutEscaped8 reads it. For
// texts that are looked at before they are written (URLs, class names).
std::string Utf8Of8(const uint8_t* p, size_t n);
// The UTF-8 of `units` big-endian UTF-16 code units at p, unescaped:
// surrogate pairs joined, unpaired surrogates U+FFFD.
std::string Utf8Of16(const uint8_t* p, size_t units);

// Length of the leading run of p[0, n) that PutEscaped8 writes unchanged.
size_t PlainPrefix(const uint8_t* p, size_t n);

// Writes an 8-bit string as UTF-8 with & < > escaped: unchanged when it is
// valid UTF-8, each byte taken as Latin-1 otherwise. Characters XML cannot
// carry become U+FFFD.
void PutEscaped8(OutputBuffer& out, const uint8_t* p, size_t n);

// Writes `units` big-endian UTF-16 code units at p as escaped UTF-8;
// surrogate pairs are joined, anything XML cannot carry becomes U+FFFD.
void PutEscaped16(OutputBuffer& out, const uint8_t* p, size_t units);

// The number of bytes PutEscaped8 and PutEscaped16 write for the same text,
// without writing it.
uint64_t XmlTextSize8(const uint8_t* p, size_t n);
uint64_t XmlTextSize16(const uint8_t* p, size_t units);

// Length of the leading run of p[0, n) that PutJsonEscaped8 writes unchanged.
size_t JsonPlainPrefix(const uint8_t* p, size_t n);
// The same, in one reading of the text with XmlTextSize8: when the whole
// text passes unchanged into JSON, *xmlSize receives its XML size.
size_t JsonPlainPrefixAndXmlSize(const uint8_t* p, size_t n, uint64_t* xmlSize);

// Write the text of a JSON string, without the quotes, as PutEscaped8 and
// PutEscaped16 do for XML: " \ and C0 controls escaped, text that is not
// valid UTF-8 taken as Latin-1, unpaired surrogates as U+FFFD, everything
// else kept.
void PutJsonEscaped8(OutputBuffer& out, const uint8_t* p, size_t n);
void PutJsonEscaped16(OutputBuffer& out, const uint8_t* p, size_t units);

}  // namespace bplist
