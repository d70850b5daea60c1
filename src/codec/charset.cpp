#include "codec/charset.h"

#include <cstdint>
#include <cstring>

// The full-width character of each half-width katakana 0xA1..0xDF, in order
// (JIS X 0201 -> JIS X 0208), as Shift-JIS pairs.
#define ZEL_KANA_WIDE_PAIRS \
    {0x81, 0x42}, {0x81, 0x75}, {0x81, 0x76}, {0x81, 0x41}, {0x81, 0x45}, {0x83, 0x92}, {0x83, 0x40}, {0x83, 0x42}, \
    {0x83, 0x44}, {0x83, 0x46}, {0x83, 0x48}, {0x83, 0x83}, {0x83, 0x85}, {0x83, 0x87}, {0x83, 0x62}, {0x81, 0x5B}, \
    {0x83, 0x41}, {0x83, 0x43}, {0x83, 0x45}, {0x83, 0x47}, {0x83, 0x49}, {0x83, 0x4A}, {0x83, 0x4C}, {0x83, 0x4E}, \
    {0x83, 0x50}, {0x83, 0x52}, {0x83, 0x54}, {0x83, 0x56}, {0x83, 0x58}, {0x83, 0x5A}, {0x83, 0x5C}, {0x83, 0x5E}, \
    {0x83, 0x60}, {0x83, 0x63}, {0x83, 0x65}, {0x83, 0x67}, {0x83, 0x69}, {0x83, 0x6A}, {0x83, 0x6B}, {0x83, 0x6C}, \
    {0x83, 0x6D}, {0x83, 0x6E}, {0x83, 0x71}, {0x83, 0x74}, {0x83, 0x77}, {0x83, 0x7A}, {0x83, 0x7D}, {0x83, 0x7E}, \
    {0x83, 0x80}, {0x83, 0x81}, {0x83, 0x82}, {0x83, 0x84}, {0x83, 0x86}, {0x83, 0x88}, {0x83, 0x89}, {0x83, 0x8A}, \
    {0x83, 0x8B}, {0x83, 0x8C}, {0x83, 0x8D}, {0x83, 0x8F}, {0x83, 0x93}, {0x81, 0x4A}, {0x81, 0x4B},

namespace zel {

const unsigned char kanaWideningTable[kKanaCount][2] = {ZEL_KANA_WIDE_PAIRS};

namespace {

constexpr unsigned char kEsc = 0x1B;

// Byte classes of the outgoing converter.
enum : unsigned char { kSingle = 0, kLead = 1, kKana = 2 };

// Shift-JIS pair -> JIS pair, by the standard arithmetic (modulo 256).
constexpr unsigned char jisFirst(unsigned s1, unsigned s2) {
  return static_cast<unsigned char>(2 * (s1 - (s1 < 0xA0 ? 0x70 : 0xB0)) - (s2 < 0x9F ? 1 : 0));
}
constexpr unsigned char jisSecond(unsigned s2) {
  return static_cast<unsigned char>(s2 >= 0x9F ? s2 - 0x7E : (s2 > 0x7F ? s2 - 0x20 : s2 - 0x1F));
}

struct Tables {
  unsigned char byteClass[256];
  unsigned char kanaJis[kKanaCount][2];  // widened kana, already as JIS pairs
};

constexpr Tables makeTables() {
  Tables t{};
  for (unsigned c = 0; c < 256; ++c) {
    if ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEF)) t.byteClass[c] = kLead;
    else if (c >= 0xA1 && c <= 0xDF) t.byteClass[c] = kKana;
    else t.byteClass[c] = kSingle;
  }
  const unsigned char wide[kKanaCount][2] = {ZEL_KANA_WIDE_PAIRS};
  for (std::size_t k = 0; k < kKanaCount; ++k) {
    t.kanaJis[k][0] = jisFirst(wide[k][0], wide[k][1]);
    t.kanaJis[k][1] = jisSecond(wide[k][1]);
  }
  return t;
}

constexpr Tables kTables = makeTables();

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
constexpr std::uint64_t kLowBits = 0x0101010101010101ull;

inline std::uint64_t load64(const unsigned char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

// True when one of the eight bytes of `w` is ESC or has its top bit set.
inline bool hasEscOrHigh(std::uint64_t w) {
  const std::uint64_t x = w ^ (kLowBits * kEsc);
  return (((x - kLowBits) & ~x) | w) & kHighBits;
}

}  // namespace

std::size_t sjisToJis(const char* source, std::size_t length, char* destination) {
  const auto* s = reinterpret_cast<const unsigned char*>(source);
  const unsigned char* const end = s + length;
  auto* d = reinterpret_cast<unsigned char*>(destination);
  unsigned char* const start = d;
  bool run = false;
  while (s < end) {
    if (!run) {
      // ASCII outside a run is copied as it is, eight bytes at a time.
      while (end - s >= 8) {
        const std::uint64_t w = load64(s);
        if (w & kHighBits) break;
        std::memcpy(d, &w, 8);
        s += 8;
        d += 8;
      }
      if (s == end) break;
    }
    const unsigned c = *s;
    const unsigned char cls = kTables.byteClass[c];
    // A line feed is never a trail byte: the line keeps its end.
    if (cls == kLead && s + 1 < end && s[1] != '\n') {
      if (!run) {
        d[0] = kEsc; d[1] = '$'; d[2] = 'B';
        d += 3;
        run = true;
      }
      const unsigned t = s[1];
      d[0] = jisFirst(c, t);
      d[1] = jisSecond(t);
      d += 2;
      s += 2;
    } else if (cls == kKana) {
      if (!run) {
        d[0] = kEsc; d[1] = '$'; d[2] = 'B';
        d += 3;
        run = true;
      }
      d[0] = kTables.kanaJis[c - 0xA1][0];
      d[1] = kTables.kanaJis[c - 0xA1][1];
      d += 2;
      s += 1;
    } else {
      // Also a lead byte without a trail byte (last, or before a line
      // feed): copied as is.
      if (run) {
        d[0] = kEsc; d[1] = '('; d[2] = 'B';
        d += 3;
        run = false;
      }
      *d++ = static_cast<unsigned char>(c);
      s += 1;
    }
  }
  if (run) {
    d[0] = kEsc; d[1] = '('; d[2] = 'B';
    d += 3;
  }
  *d = 0;
  return static_cast<std::size_t>(d - start);
}

std::size_t sjisToJis(const char* source, char* destination) {
  return sjisToJis(source, std::strlen(source), destination);
}

std::size_t jisToSjis(const char* source, std::size_t length, char* destination) {
  const auto* s = reinterpret_cast<const unsigned char*>(source);
  const unsigned char* const end = s + length;
  auto* d = reinterpret_cast<unsigned char*>(destination);
  unsigned char* const start = d;
  enum { kAscii, kKanji, kKatakana } state = kAscii;
  // The output never overtakes the input, so the conversion may run in place.
  while (s < end) {
    if (state == kAscii) {
      while (end - s >= 8) {
        const std::uint64_t w = load64(s);
        if (hasEscOrHigh(w)) break;
        std::memmove(d, &w, 8);
        s += 8;
        d += 8;
      }
      if (s == end) break;
    }
    const unsigned c = *s;
    if (c == kEsc && end - s >= 3) {
      const unsigned a = s[1], b = s[2];
      if (a == '$' && (b == 'B' || b == '@')) {
        state = kKanji;
        s += 3;
        continue;
      }
      if (a == '(' && (b == 'B' || b == 'J')) {
        state = kAscii;
        s += 3;
        continue;
      }
      if (a == '(' && b == 'I') {
        state = kKatakana;
        s += 3;
        continue;
      }
    }
    if (state == kAscii) {
      *d++ = static_cast<unsigned char>(c);
      s += 1;
    } else if (state == kKatakana) {
      *d++ = static_cast<unsigned char>(c | 0x80);
      s += 1;
    } else if (s + 1 < end && c != '\n' && s[1] != '\n') {
      const unsigned j1 = c, j2 = s[1];
      const unsigned s1 = ((j1 + 1) >> 1) + (j1 < 0x5F ? 0x70 : 0xB0);
      const unsigned s2 = (j1 & 1) ? j2 + (j2 > 0x5F ? 0x20 : 0x1F) : j2 + 0x7E;
      d[0] = static_cast<unsigned char>(s1);
      d[1] = static_cast<unsigned char>(s2);
      d += 2;
      s += 2;
    } else {
      // The last byte of a kanji run has no partner, and a line feed is
      // never part of a pair: copied unchanged.
      *d++ = static_cast<unsigned char>(c);
      s += 1;
    }
  }
  *d = 0;
  return static_cast<std::size_t>(d - start);
}

std::size_t jisToSjis(const char* source, char* destination) {
  return jisToSjis(source, std::strlen(source), destination);
}

}  // namespace zel
