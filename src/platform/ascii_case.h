// ASCII letters compared without regard to case: header names, option-like
// keywords, MIME parameters, profile keys, window class names and
// certificate host names. Other bytes (Shift-JIS included) compare exactly.
#pragma once

#include <cstddef>
#include <string_view>

namespace zel {

constexpr char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when `a` equals `b`, ASCII letters compared without regard to case.
constexpr bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

// True when `text` begins with `prefix`, ASCII letters compared without
// regard to case.
constexpr bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

// Position of the first occurrence of `needle` in `text`, ASCII letters
// compared without regard to case; npos when there is none.
constexpr std::size_t findNoCase(std::string_view text, std::string_view needle) {
  for (std::size_t i = 0; i + needle.size() <= text.size(); ++i) {
    if (equalsNoCase(text.substr(i, needle.size()), needle)) return i;
  }
  return std::string_view::npos;
}

}  // namespace zel
