#include "codec/decode_lines.h"

#include "codec/sjis_text.h"

namespace zel {

namespace {
char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool readWholeLine(LineSource& in, std::string& line) {
  line.clear();
  char piece[kLineSize];
  for (;;) {
    const std::size_t n = in.readLine(piece, sizeof piece);
    if (n == 0) return !line.empty();
    line.append(piece, n);
    if (piece[n - 1] == '\n') return true;
  }
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && equalsNoCase(text.substr(0, prefix.size()), prefix);
}

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

}  // namespace zel
