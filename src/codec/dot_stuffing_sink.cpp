#include "codec/dot_stuffing_sink.h"

namespace zel {

bool DotStuffingSink::write(std::string_view text) {
  if (text.empty()) return true;
  // Dots are rare (base64 has none): the search is for them, not for line
  // starts, and the text goes out in runs that end before a stuffed dot.
  std::size_t start = 0;
  for (std::size_t dot = text.find('.'); dot != std::string_view::npos; dot = text.find('.', dot + 1)) {
    if (!(dot == 0 ? lineStart_ : text[dot - 1] == '\n')) continue;
    if ((dot > start && !out_.write(text.substr(start, dot - start))) || !out_.write(".")) return false;
    start = dot;
  }
  lineStart_ = text.back() == '\n';
  return out_.write(text.substr(start));
}

}  // namespace zel
