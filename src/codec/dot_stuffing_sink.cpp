#include "codec/dot_stuffing_sink.h"

namespace zel {

bool DotStuffingSink::write(std::string_view text) {
  if (text.empty()) return true;
  // Written in runs that end before each line start with a dot.
  std::size_t start = 0;
  if (lineStart_ && text[0] == '.' && !out_.write(".")) return false;
  for (std::size_t dot = text.find("\n."); dot != std::string_view::npos; dot = text.find("\n.", dot + 1)) {
    if (!out_.write(text.substr(start, dot + 1 - start)) || !out_.write(".")) return false;
    start = dot + 1;
  }
  lineStart_ = text.back() == '\n';
  return out_.write(text.substr(start));
}

}  // namespace zel
