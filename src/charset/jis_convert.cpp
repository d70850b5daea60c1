#include "charset/jis_convert.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "charset/jis_repertoire.h"

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

struct Tables {
  unsigned char byteClass[256];
  unsigned char kanaJis[kKanaCount][2];  // widened kana, already as JIS pairs
  unsigned char sjisFirst[256];          // JIS first byte -> Shift-JIS lead byte
  unsigned char sjisSecond[2][256];      // [j1 odd][j2] -> Shift-JIS trail byte
};

constexpr Tables makeTables() {
  Tables t{};
  for (unsigned c = 0; c < 256; ++c) {
    if (isJisLead(static_cast<unsigned char>(c))) t.byteClass[c] = kLead;
    else if (isHalfWidthKana(static_cast<unsigned char>(c))) t.byteClass[c] = kKana;
    else t.byteClass[c] = kSingle;
  }
  const unsigned char wide[kKanaCount][2] = {ZEL_KANA_WIDE_PAIRS};
  for (unsigned j = 0; j < 256; ++j) {
    t.sjisFirst[j] = static_cast<unsigned char>(((j + 1) >> 1) + (j < 0x5F ? 0x70 : 0xB0));
    t.sjisSecond[1][j] = static_cast<unsigned char>(j + (j > 0x5F ? 0x20 : 0x1F));
    t.sjisSecond[0][j] = static_cast<unsigned char>(j + 0x7E);
  }
  for (std::size_t k = 0; k < kKanaCount; ++k) {
    t.kanaJis[k][0] = jisFirst(wide[k][0], wide[k][1]);
    t.kanaJis[k][1] = jisSecond(wide[k][1]);
  }
  return t;
}

constexpr Tables kTables = makeTables();

// The Shift-JIS pair of the JIS pair (j1, j2) as a little-endian 16-bit
// word. A pair the arithmetic would turn into a byte below 0x20 is no
// character: its bytes stand as they are.
constexpr std::uint16_t sjisPair(unsigned j1, unsigned j2) {
  const unsigned s1 = kTables.sjisFirst[j1], s2 = kTables.sjisSecond[j1 & 1][j2];
  if (s1 < 0x20 || s2 < 0x20) return static_cast<std::uint16_t>(j2 << 8 | j1);
  return static_cast<std::uint16_t>(s2 << 8 | s1);
}

// JIS pair -> Shift-JIS pair for a whole kanji run, one lookup per pair:
// indexed by j1 << 8 | j2 (one row of the character set stays within a few
// cache lines); 0 for a pair with a byte below 0x21 (an escape, a line
// feed, a blank), which the careful path handles.
struct PairTable {
  std::uint16_t sjis[65536];
};

constexpr PairTable makePairTable() {
  PairTable t{};
  for (unsigned j2 = 0x21; j2 < 256; ++j2) {
    for (unsigned j1 = 0x21; j1 < 256; ++j1) t.sjis[j1 << 8 | j2] = sjisPair(j1, j2);
  }
  return t;
}

constexpr PairTable kPairs = makePairTable();

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
constexpr std::uint64_t kLowBits = 0x0101010101010101ull;

inline std::uint64_t load64(const unsigned char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}

static_assert(std::endian::native == std::endian::little, "the eight-byte scans assume little-endian words");

// Top bit set in the byte of the first ESC of the eight bytes of `w` (bits
// above it may be set too); 0 when there is none.
inline std::uint64_t escMask(std::uint64_t w) {
  const std::uint64_t x = w ^ (kLowBits * kEsc);
  return (x - kLowBits) & ~x & kHighBits;
}

inline unsigned char* putEscape(unsigned char* d, char a, char b) {
  d[0] = kEsc;
  d[1] = static_cast<unsigned char>(a);
  d[2] = static_cast<unsigned char>(b);
  return d + 3;
}

// Copies bytes below 0x80 from `s` to `d` eight at a time while they come
// in eights (the rest is the caller's).
inline void copyAsciiEights(const unsigned char*& s, const unsigned char* end, unsigned char*& d) {
  while (end - s >= 8) {
    const std::uint64_t w = load64(s);
    if (w & kHighBits) break;
    std::memcpy(d, &w, 8);
    s += 8;
    d += 8;
  }
}

}  // namespace

std::size_t sjisToJis(const char* source, std::size_t length, char* destination) {
  const auto* s = reinterpret_cast<const unsigned char*>(source);
  const unsigned char* const end = s + length;
  auto* d = reinterpret_cast<unsigned char*>(destination);
  unsigned char* const start = d;
  while (s < end) {
    // Single bytes outside a run are copied as they are, eight at a time
    // while they are ASCII.
    copyAsciiEights(s, end, d);
    while (s < end && kTables.byteClass[*s] == kSingle) *d++ = *s++;
    if (s == end) break;
    // A lead byte without a trail byte: copied as it is.
    if (kTables.byteClass[*s] == kLead && (end - s < 2 || !isJisTrail(s[1]))) {
      *d++ = *s++;
      continue;
    }
    // A run of double-byte characters and widened half-width katakana.
    d = putEscape(d, '$', 'B');
    while (s < end) {
      const unsigned c = *s;
      const unsigned char cls = kTables.byteClass[c];
      if (cls == kLead) {
        if (end - s < 2 || !isJisTrail(s[1])) break;
        const unsigned t = s[1];
        d[0] = jisFirst(c, t);
        d[1] = jisSecond(t);
        d += 2;
        s += 2;
      } else if (cls == kKana) {
        d[0] = kTables.kanaJis[c - 0xA1][0];
        d[1] = kTables.kanaJis[c - 0xA1][1];
        d += 2;
        s += 1;
      } else {
        break;
      }
    }
    d = putEscape(d, '(', 'B');
  }
  *d = 0;
  return static_cast<std::size_t>(d - start);
}

std::size_t sjisToJis(const char* source, char* destination) {
  return sjisToJis(source, std::strlen(source), destination);
}

std::size_t cp932ToIso2022Jp(const char* source, std::size_t length, char* destination,
                             Iso2022JpRepertoire repertoire) {
  const Iso2022JpTable& table =
      repertoire == Iso2022JpRepertoire::kJisX0208 ? kIso2022JpTable : kIso2022JpExtTable;
  const auto* s = reinterpret_cast<const unsigned char*>(source);
  const unsigned char* const end = s + length;
  auto* d = reinterpret_cast<unsigned char*>(destination);
  unsigned char* const start = d;
  while (s < end) {
    copyAsciiEights(s, end, d);
    while (s < end && *s < 0x80) *d++ = *s++;
    if (s == end) break;
    // A run of characters of two bytes (and widened half-width katakana):
    // one lookup each.
    d = putEscape(d, '$', 'B');
    while (s < end && *s >= 0x80) {
      const unsigned row = table.row[*s];
      std::uint16_t pair;
      if (row == kKanaRow) {
        const unsigned char* wide = kanaWideningTable[*s - 0xA1];
        pair = table.pairs[table.row[wide[0]]][wide[1]];
        s += 1;
      } else {
        pair = end - s >= 2 ? table.pairs[row][s[1]] : 0;
        if (pair == 0) {
          *d = 0;
          return kNotCarried;
        }
        s += 2;
      }
      std::memcpy(d, &pair, 2);
      d += 2;
    }
    d = putEscape(d, '(', 'B');
  }
  *d = 0;
  return static_cast<std::size_t>(d - start);
}

std::size_t jisToSjis(const char* source, std::size_t length, char* destination) {
  const auto* s = reinterpret_cast<const unsigned char*>(source);
  const unsigned char* const end = s + length;
  auto* d = reinterpret_cast<unsigned char*>(destination);
  unsigned char* const start = d;
  enum { kAscii, kKanji, kKatakana } state = kAscii;
  // The output never overtakes the input, so the conversion may run in place.
  const auto from = reinterpret_cast<std::uintptr_t>(s), to = reinterpret_cast<std::uintptr_t>(d);
  const bool distinct = to + length < from || to >= from + length;
  while (s < end) {
    // The regular text of the current state, up to the next escape (or, in
    // a kanji run, a byte below 0x21: an escape, a line feed, a blank).
    if (state == kAscii) {
      // Eight bytes at a time; all eight are stored even when an ESC ends
      // the text among them, unless that would overwrite unread input.
      while (end - s >= 8) {
        const std::uint64_t w = load64(s);
        const std::uint64_t m = escMask(w);
        if (m && !distinct && s != d && s - d < 8) break;
        std::memcpy(d, &w, 8);
        if (m) {
          const int k = std::countr_zero(m) >> 3;
          s += k;
          d += k;
          break;
        }
        s += 8;
        d += 8;
      }
      while (s < end && *s != kEsc) *d++ = *s++;
    } else if (state == kKanji) {
      // Four pairs per step: all four are converted and stored, and the
      // text advances by the whole pairs before the first byte below 0x21.
      while (end - s >= 8) {
        const std::uint64_t w = load64(s);
        const std::uint64_t low = (w - kLowBits * 0x21) & ~w & kHighBits;
        const std::uint16_t o[4] = {kPairs.sjis[s[0] << 8 | s[1]], kPairs.sjis[s[2] << 8 | s[3]],
                                    kPairs.sjis[s[4] << 8 | s[5]], kPairs.sjis[s[6] << 8 | s[7]]};
        const int used = low ? (std::countr_zero(low) >> 3) & ~1 : 8;
        if (used == 8 || distinct || s - d >= 8) std::memcpy(d, o, 8);
        else std::memcpy(d, o, static_cast<std::size_t>(used));
        d += used;
        s += used;
        if (used < 8) break;
      }
      while (end - s >= 2) {
        const std::uint16_t out = kPairs.sjis[s[0] << 8 | s[1]];
        if (out == 0) break;
        std::memcpy(d, &out, 2);
        d += 2;
        s += 2;
      }
    } else {
      // A line end stays a line end (not 0x8D / 0x8A, which would join the
      // line with the next one).
      while (s < end && *s != kEsc) {
        const unsigned char k = *s++;
        *d++ = (k == '\n' || k == '\r') ? k : static_cast<unsigned char>(k | 0x80);
      }
    }
    if (s == end) break;
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
    // Any other byte sequence is one step of the current state.
    if (state == kAscii) {
      *d++ = static_cast<unsigned char>(c);
      s += 1;
    } else if (state == kKatakana) {
      *d++ = static_cast<unsigned char>(c | 0x80);
      s += 1;
    } else if (end - s >= 2 && c != '\n' && s[1] != '\n') {
      const std::uint16_t out = sjisPair(c, s[1]);
      std::memcpy(d, &out, 2);
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
