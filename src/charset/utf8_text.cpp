#include "charset/utf8_text.h"

namespace zel {
namespace {

// Bytes of the character whose lead byte is `c`: 1 for ASCII, 2 to 4 for a
// lead byte, 0 for a byte that cannot start a character.
std::size_t sequenceLength(unsigned char c) {
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) return 2;
  if (c >= 0xE0 && c <= 0xEF) return 3;
  if (c >= 0xF0 && c <= 0xF4) return 4;
  return 0;
}

// The allowed range of the byte after lead byte `c` (RFC 3629 table).
bool secondByteFits(unsigned char c, unsigned char next) {
  if (c == 0xE0) return next >= 0xA0 && next <= 0xBF;
  if (c == 0xED) return next >= 0x80 && next <= 0x9F;
  if (c == 0xF0) return next >= 0x90 && next <= 0xBF;
  if (c == 0xF4) return next >= 0x80 && next <= 0x8F;
  return next >= 0x80 && next <= 0xBF;
}

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

std::size_t utf8InvalidAt(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    if (s[i] < 0x80) {
      ++i;
      continue;
    }
    const std::size_t length = sequenceLength(s[i]);
    if (length == 0 || n - i < length || !secondByteFits(s[i], s[i + 1])) return i;
    for (std::size_t k = 2; k < length; ++k) {
      if (!isContinuation(s[i + k])) return i;
    }
    i += length;
  }
  return std::string_view::npos;
}

std::size_t utf8WholeCharsLength(std::string_view text) {
  // A cut character starts at most three bytes before the end.
  const std::size_t n = text.size();
  for (std::size_t back = 1; back <= 3 && back <= n; ++back) {
    const auto c = static_cast<unsigned char>(text[n - back]);
    if (isContinuation(c)) continue;
    return sequenceLength(c) > back ? n - back : n;
  }
  return n;
}

}  // namespace zel
