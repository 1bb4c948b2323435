// The shortest text that reads back as a given double or float, as
// std::to_chars writes it. Where the standard library has no floating-point
// std::to_chars (the libc++ of Emscripten 3.1), a portable version built on
// snprintf and strtod makes the same text, so that every build writes the
// same bytes.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdlib>
#include <string>
#include <string_view>

namespace bplist {

// The room the shortest text of any double or float needs.
constexpr size_t kMaxShortestText = 32;

// The portable versions: the same text as std::to_chars(first, last, v);
// [first, first + kMaxShortestText) must be writable. Returns the text's end.
char* ShortestTextPortable(char* first, double v);
char* ShortestTextPortable(char* first, float v);
// The same as std::to_chars(first, last, v, std::chars_format::scientific):
// the shortest digits in scientific notation alone.
char* ScientificTextPortable(char* first, double v);
char* ScientificTextPortable(char* first, float v);

// Writes the shortest text of v at `first` and returns its end.
template <typename Real>
char* PutShortestText(char* first, Real v) {
#if defined(__cpp_lib_to_chars)
  return std::to_chars(first, first + kMaxShortestText, v).ptr;
#else
  return ShortestTextPortable(first, v);
#endif
}

// Writes the shortest digits of v in scientific notation at `first` and
// returns its end.
template <typename Real>
char* PutScientificText(char* first, Real v) {
#if defined(__cpp_lib_to_chars)
  return std::to_chars(first, first + kMaxShortestText, v, std::chars_format::scientific).ptr;
#else
  return ScientificTextPortable(first, v);
#endif
}

// Reads the decimal number at the start of [first, last) as std::from_chars
// does (no sign '+', no spaces, no hexadecimal): returns its end, or first
// when none is there. Without a floating-point std::from_chars it reads the
// same characters with strtod, which rounds as correctly where it is used.
inline const char* ReadDecimal(const char* first, const char* last, double* value) {
#if defined(__cpp_lib_to_chars)
  auto [end, error] = std::from_chars(first, last, *value);
  return error == std::errc() ? end : first;
#else
  const char* end = first;
  while (end != last && (std::string_view("0123456789.eE-+").find(*end) != std::string_view::npos))
    ++end;
  if (end == first || *first == '+') return first;
  std::string token(first, end);
  char* stop = nullptr;
  *value = std::strtod(token.c_str(), &stop);
  return first + (stop - token.c_str());
#endif
}

}  // namespace bplist
