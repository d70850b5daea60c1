#include "codec/header_words.h"

#include <algorithm>

#include "charset/charset_convert.h"
#include "charset/jis_convert.h"
#include "charset/charset_guess.h"
#include "charset/utf8_text.h"
#include "codec/encoded_word.h"

namespace zel {

namespace {

bool startsWith(std::string_view text, std::size_t at, std::string_view what) {
  return text.size() - at >= what.size() && text.compare(at, what.size(), what) == 0;
}

// Value of a hexadecimal digit of a Q word: digits as such, any other
// character c as c - 0x37 (so "A".."F" give 10..15).
int hexValue(unsigned char c) { return (c >= '0' && c <= '9') ? c - '0' : c - 0x37; }

bool isQHexFirst(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

unsigned base64Value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return 0;
}

// Decodes the B text of a word from `k` on. Returns where scanning goes on.
std::size_t decodeB(std::string_view s, std::size_t k, std::string& out) {
  const std::size_t n = s.size();
  while (k < n) {
    if (startsWith(s, k, "?=")) return k + 2;
    if (n - k < 4) break;  // a cut group: read on as ordinary text
    const auto* g = reinterpret_cast<const unsigned char*>(s.data() + k);
    const unsigned w = base64Value(g[0]), x = base64Value(g[1]), y = base64Value(g[2]), z = base64Value(g[3]);
    out.push_back(static_cast<char>((w << 2) | (x >> 4)));
    if (g[2] != '=') out.push_back(static_cast<char>((x << 4) | (y >> 2)));
    if (g[3] != '=') out.push_back(static_cast<char>((y << 6) | z));
    k += 4;
  }
  return k;
}

// Decodes the Q text of a word from `k` on. Returns where scanning goes on.
std::size_t decodeQ(std::string_view s, std::size_t k, bool blankUnderscore, std::string& out) {
  const std::size_t n = s.size();
  while (k < n) {
    if (startsWith(s, k, "?=")) return k + 2;
    const auto c = static_cast<unsigned char>(s[k]);
    if (c != '=') {
      out.push_back(c == '_' && blankUnderscore ? ' ' : static_cast<char>(c));
      ++k;
      continue;
    }
    if (n - k < 3) break;  // "=" near the end: read on as ordinary text
    const auto h = static_cast<unsigned char>(s[k + 1]);
    if (isQHexFirst(h)) {
      const int v = (hexValue(h) << 4) | hexValue(static_cast<unsigned char>(s[k + 2]));
      out.push_back(static_cast<char>(v & 0xFF));
      k += 3;
    } else {
      out.push_back(static_cast<char>(h));
      k += 2;
    }
  }
  return k;
}

// The label without an RFC 2231 language ("utf-8*ja" -> "utf-8").
std::string_view withoutLanguage(std::string_view label) { return label.substr(0, label.find('*')); }

bool sameCharset(std::string_view a, std::string_view b) {
  return CanonicalCharset(withoutLanguage(a)) == CanonicalCharset(withoutLanguage(b));
}

bool isConverted(const WordPiece& p) { return p.kind == WordPiece::Kind::kWord && convertsCharset(p.charset); }

// RFC 2047 reads an underscore of a Q word as a blank; the classic decoder
// keeps it, and so it stays for charsets this build does not know.
bool blanksUnderscore(std::string_view charset) { return IsKnownCharset(withoutLanguage(charset)); }

// The charset of unencoded text above 0x7F that is converted: UTF-8 (RFC
// 6532, and senders that write it anyway) or EUC-JP, as GuessCharset tells
// them; "" for text that stays as it is (ASCII, Shift-JIS, escapes).
std::string_view rawCharset(const WordPiece& p) {
  if (p.kind != WordPiece::Kind::kText || p.bytes.find('\x1B') != std::string::npos) return {};
  const std::string_view guess = GuessCharset(p.bytes);
  return guess == "UTF-8" || guess == "EUC-JP" ? guess : std::string_view();
}

bool differs(const std::vector<WordPiece>& pieces) {
  for (const WordPiece& p : pieces) {
    if (p.blanked || isConverted(p) || !rawCharset(p).empty()) return true;
  }
  return false;
}

// True when pieces[k] continues the joined words before it in `charset`:
// a word of that charset right after them, or after blanks only.
bool joins(const std::vector<WordPiece>& pieces, std::size_t k, std::string_view charset) {
  return k < pieces.size() && pieces[k].adjacent && isConverted(pieces[k]) &&
         sameCharset(pieces[k].charset, charset);
}

}  // namespace

void scanEncodedWords(std::string_view s, std::vector<WordPiece>& pieces, UnderscoreRule blankUnderscore) {
  const std::size_t n = s.size();
  bool afterWord = false;
  WordPiece* text = nullptr;  // the text piece being collected
  std::size_t i = 0;
  while (i < n) {
    if (!(s[i] == '=' && i + 1 < n && s[i + 1] == '?')) {
      if (text == nullptr) text = &pieces.emplace_back();
      text->bytes.push_back(s[i]);
      if (s[i] != ' ') afterWord = false;
      ++i;
      continue;
    }
    // An encoded word starts.
    WordPiece& word = pieces.emplace_back();
    text = nullptr;
    word.adjacent = afterWord;
    afterWord = true;
    const std::size_t charsetEnd = s.find('?', i + 2);
    const std::size_t p = charsetEnd == std::string_view::npos ? n : charsetEnd + 1;
    const char kind = p + 1 < n && s[p + 1] == '?' ? s[p] : '\0';
    if (kind == 'B' || kind == 'b' || kind == 'Q' || kind == 'q') {
      word.kind = WordPiece::Kind::kWord;
      word.charset = s.substr(i + 2, p - 1 - (i + 2));
      if (kind == 'B' || kind == 'b') {
        i = decodeB(s, p + 2, word.bytes);
      } else {
        const bool blank = blankUnderscore != nullptr && blankUnderscore(word.charset);
        i = decodeQ(s, p + 2, blank, word.bytes);
        word.blanked = blank && s.substr(p + 2, i - (p + 2)).find('_') != std::string_view::npos;
      }
    } else {
      // Another encoding or a malformed word: copied through its "?=".
      const std::size_t close = s.find("?=", i + 2);
      const std::size_t stop = close == std::string_view::npos ? n : close + 2;
      word.kind = WordPiece::Kind::kMalformed;
      word.bytes.assign(s.substr(i, stop - i));
      i = stop;
    }
  }
}

bool convertsCharset(std::string_view label) {
  const std::string_view canonical = CanonicalCharset(withoutLanguage(label));
  if (canonical.empty() || canonical.starts_with("ISO-2022-JP") || canonical == "US-ASCII") return false;
  return IsKnownCharset(canonical);
}

bool decodesDifferently(std::string_view line) {
  std::vector<WordPiece> pieces;
  scanEncodedWords(line, pieces, &blanksUnderscore);
  return differs(pieces);
}

std::string decodeHeaderWords(std::string_view line) {
  std::vector<WordPiece> pieces;
  scanEncodedWords(line, pieces, &blanksUnderscore);
  if (!differs(pieces)) return decodeHeaderLine(line);

  std::string out;
  std::string classic;  // text, ISO-2022-JP and unknown words since the last conversion
  for (std::size_t k = 0; k < pieces.size(); ++k) {
    const WordPiece& p = pieces[k];
    // Blanks between two words are no part of the text.
    if (p.adjacent && k > 0 && pieces[k - 1].kind == WordPiece::Kind::kText) {
      classic.resize(classic.size() - pieces[k - 1].bytes.size());
    }
    if (const std::string_view raw = rawCharset(p); !raw.empty()) {
      classic.resize(jisToSjis(classic.data(), classic.size(), classic.data()));
      out += classic;
      classic.clear();
      ConvertToCp932(raw, p.bytes, out);
      continue;
    }
    if (!isConverted(p)) {
      classic += p.bytes;
      continue;
    }
    std::string bytes = p.bytes;
    while (true) {
      if (joins(pieces, k + 1, p.charset)) {
        bytes += pieces[++k].bytes;
      } else if (k + 2 < pieces.size() && pieces[k + 1].kind == WordPiece::Kind::kText &&
                 joins(pieces, k + 2, p.charset)) {
        k += 2;
        bytes += pieces[k].bytes;
      } else {
        break;
      }
    }
    classic.resize(jisToSjis(classic.data(), classic.size(), classic.data()));
    out += classic;
    classic.clear();
    ConvertToCp932(withoutLanguage(p.charset), bytes, out);
  }
  classic.resize(jisToSjis(classic.data(), classic.size(), classic.data()));
  out += classic;
  finishHeaderLine(line, out);
  return out;
}

void finishHeaderLine(std::string_view source, std::string& out) {
  // A decoded line stays one line, and a line that came with a line feed
  // ends with exactly one.
  blankControlBytes(out);
  const bool ownLineFeed = !source.empty() && source.back() == '\n';
  if (!ownLineFeed && !out.empty() && out.back() == '\n') out.back() = ' ';
  if (ownLineFeed && (out.empty() || out.back() != '\n')) out.push_back('\n');
}

}  // namespace zel
