#include "charset/charset_guess.h"

#include <cstddef>

#include "charset/utf8_text.h"

namespace zel {

namespace {

// JIS X 0208 rows (1-94) of everyday text: symbols, digits and letters,
// kana, Greek, Cyrillic and box drawing (1-8) and the level-1 kanji
// (16-47). Everything else counts as rare.
bool commonRow(unsigned row) { return (row >= 1 && row <= 8) || (row >= 16 && row <= 47); }

// How one reading of the text went.
struct Reading {
  bool clean = true;     // every byte belonged to a character
  std::size_t rare = 0;  // characters outside the common rows
};

Reading readEucJp(std::string_view t) {
  Reading r;
  const auto high = [&](std::size_t i) {
    return i < t.size() && static_cast<unsigned char>(t[i]) >= 0xA1 && static_cast<unsigned char>(t[i]) <= 0xFE;
  };
  for (std::size_t i = 0; i < t.size() && r.clean;) {
    const unsigned char c = static_cast<unsigned char>(t[i]);
    if (c < 0x80) {
      ++i;
    } else if (c == 0x8E && i + 1 < t.size() && static_cast<unsigned char>(t[i + 1]) >= 0xA1 &&
               static_cast<unsigned char>(t[i + 1]) <= 0xDF) {
      ++r.rare;  // half-width katakana
      i += 2;
    } else if (c == 0x8F && high(i + 1) && high(i + 2)) {
      ++r.rare;  // JIS X 0212
      i += 3;
    } else if (high(i) && high(i + 1)) {
      if (!commonRow(c - 0xA0u)) ++r.rare;
      i += 2;
    } else {
      r.clean = false;
    }
  }
  return r;
}

Reading readShiftJis(std::string_view t) {
  Reading r;
  for (std::size_t i = 0; i < t.size() && r.clean;) {
    const unsigned char c = static_cast<unsigned char>(t[i]);
    if (c < 0x80) {
      ++i;
    } else if (c >= 0xA1 && c <= 0xDF) {
      ++r.rare;  // half-width katakana
      ++i;
    } else if (((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && i + 1 < t.size()) {
      const unsigned char d = static_cast<unsigned char>(t[i + 1]);
      if (d < 0x40 || d == 0x7F || d > 0xFC) {
        r.clean = false;
        break;
      }
      const unsigned first = ((c - (c <= 0x9F ? 0x70u : 0xB0u)) << 1) - (d < 0x9F ? 1u : 0u);
      if (!commonRow(first - 0x20u)) ++r.rare;
      i += 2;
    } else {
      r.clean = false;
    }
  }
  return r;
}

bool hasJisEscape(std::string_view t) {
  for (std::size_t at = t.find('\x1B'); at != std::string_view::npos; at = t.find('\x1B', at + 1)) {
    const std::string_view s = t.substr(at + 1, 3);
    if (s.starts_with("$B") || s.starts_with("$@") || s.starts_with("(J") || s.starts_with("(I") ||
        s.starts_with("$(D") || s.starts_with("$(Q")) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::string_view GuessCharset(std::string_view text) {
  bool eightBit = false;
  for (const char c : text) eightBit = eightBit || (c & 0x80) != 0;
  if (eightBit && utf8InvalidAt(text) == std::string_view::npos) return "UTF-8";
  if (hasJisEscape(text)) return "ISO-2022-JP";
  if (!eightBit) return "";
  const Reading euc = readEucJp(text);
  const Reading sjis = readShiftJis(text);
  if (euc.clean && (!sjis.clean || euc.rare < sjis.rare)) return "EUC-JP";
  return "CP932";
}

}  // namespace zel
