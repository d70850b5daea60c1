#include "codec/quoted_printable.h"

namespace zel {

namespace {

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

void quotedPrintableDecodeLine(std::string_view line, bool lineEnd, std::string& out) {
  std::size_t i = 0;
  while (i < line.size()) {
    const std::size_t eq = line.find('=', i);
    if (eq == std::string_view::npos) {
      out.append(line.substr(i));
      break;
    }
    out.append(line.substr(i, eq - i));
    if (line.find_first_not_of(" \t", eq + 1) == std::string_view::npos) return;  // soft line break
    const int hi = eq + 2 < line.size() ? hexDigit(line[eq + 1]) : -1;
    const int lo = hi >= 0 ? hexDigit(line[eq + 2]) : -1;
    if (lo >= 0) {
      out.push_back(static_cast<char>(hi << 4 | lo));
      i = eq + 3;
    } else {
      out.push_back('=');
      i = eq + 1;
    }
  }
  if (lineEnd) out.push_back('\n');
}

}  // namespace zel
