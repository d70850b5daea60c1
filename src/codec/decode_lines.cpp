#include "codec/decode_lines.h"

#include "platform/sjis_text.h"

namespace zel {

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

}  // namespace zel
