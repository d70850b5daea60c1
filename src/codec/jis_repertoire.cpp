#include "codec/jis_repertoire.h"

#include <bit>
#include <cstring>

#include "codec/charset.h"

namespace zel {
namespace {

constexpr unsigned kTrailFirst = 0x40;  // trail bytes 0x40-0x7E and 0x80-0xFC
constexpr unsigned kTrailCount = 0xFD - kTrailFirst;

// Cells of the JIS rows that CP932 fills only in part (rows 1, 16-46 and
// 48-83 are full; 9-12, 14, 15 and 85-94 hold no character of JIS X 0208
// or row 13).
struct CellRange {
  unsigned char row, first, last;
};
constexpr CellRange kPartialRows[] = {
    {2, 0x21, 0x2E},  {2, 0x3A, 0x41},  {2, 0x4A, 0x50},  {2, 0x5C, 0x6A},  {2, 0x72, 0x79},
    {2, 0x7E, 0x7E},  {3, 0x30, 0x39},  {3, 0x41, 0x5A},  {3, 0x61, 0x7A},  {4, 0x21, 0x73},
    {5, 0x21, 0x76},  {6, 0x21, 0x38},  {6, 0x41, 0x58},  {7, 0x21, 0x41},  {7, 0x51, 0x71},
    {8, 0x21, 0x40},  {13, 0x21, 0x3E}, {13, 0x40, 0x56}, {13, 0x5F, 0x7C}, {47, 0x21, 0x53},
    {84, 0x21, 0x26},
};

constexpr bool jisAssigned(unsigned row, unsigned cell) {
  if (cell < 0x21 || cell > 0x7E) return false;
  if (row == 1 || (row >= 16 && row <= 46) || (row >= 48 && row <= 83)) return true;
  for (const CellRange& r : kPartialRows) {
    if (r.row == row && cell >= r.first && cell <= r.last) return true;
  }
  return false;
}

// The IBM extensions (and the NEC-selected ￢) that CP932's own round trip
// writes as a character of JIS X 0208 or row 13.
struct Equivalent {
  std::uint16_t extension, carried;  // CP932 pairs
};
constexpr Equivalent kEquivalents[] = {
    {0xEEF9, 0x81CA}, {0xFA4A, 0x8754}, {0xFA4B, 0x8755}, {0xFA4C, 0x8756}, {0xFA4D, 0x8757},
    {0xFA4E, 0x8758}, {0xFA4F, 0x8759}, {0xFA50, 0x875A}, {0xFA51, 0x875B}, {0xFA52, 0x875C},
    {0xFA53, 0x875D}, {0xFA54, 0x81CA}, {0xFA58, 0x878A}, {0xFA59, 0x8782}, {0xFA5A, 0x8784},
    {0xFA5B, 0x81E6},
};

constexpr bool isTrail(unsigned c) { return c >= kTrailFirst && c <= 0xFC && c != 0x7F; }

// The JIS pair of a CP932 pair of JIS X 0208 or row 13 (lead bytes up to
// 0xEA), or 0.
constexpr std::uint16_t ownPair(unsigned s1, unsigned s2) {
  if (!((s1 >= 0x81 && s1 <= 0x9F) || (s1 >= 0xE0 && s1 <= 0xEA)) || !isTrail(s2)) return 0;
  const unsigned j1 = jisFirst(s1, s2), j2 = jisSecond(s2);
  return jisAssigned(j1 - 0x20, j2) ? static_cast<std::uint16_t>(j1 << 8 | j2) : 0;
}

constexpr std::uint16_t carriedPairOf(unsigned s1, unsigned s2) {
  for (const Equivalent& e : kEquivalents) {
    if (e.extension == (s1 << 8 | s2)) return ownPair(e.carried >> 8, e.carried & 0xFF);
  }
  return ownPair(s1, s2);
}

constexpr bool leadCarries(unsigned s1) {
  for (unsigned s2 = kTrailFirst; s2 < kTrailFirst + kTrailCount; ++s2) {
    if (carriedPairOf(s1, s2) != 0) return true;
  }
  return false;
}

constexpr unsigned countCarryingLeads() {
  unsigned n = 0;
  for (unsigned s1 = 0x81; s1 <= 0xFC; ++s1) n += leadCarries(s1) ? 1 : 0;
  return n;
}

constexpr unsigned kCarryingLeads = countCarryingLeads();

// One row of pairs per lead byte that carries anything, indexed by the
// trail byte itself: one lookup per character, which is all the converter
// does for it. Row 0 is empty (lead bytes that carry nothing); half-width
// katakana bytes are marked apart.
constexpr unsigned char kKanaRow = 0xFF;

struct CarrierTable {
  unsigned char row[256];                       // row of `pairs`, or kKanaRow
  std::uint16_t pairs[kCarryingLeads + 1][256];  // the two JIS bytes in memory order, or 0
};

// A JIS pair as the two bytes the converter stores, read as one word.
constexpr std::uint16_t storedPair(std::uint16_t pair) {
  return std::endian::native == std::endian::little
             ? static_cast<std::uint16_t>((pair >> 8) | (pair << 8))
             : pair;
}

constexpr CarrierTable makeCarrierTable() {
  CarrierTable t{};
  unsigned row = 0;
  for (unsigned s1 = 0x81; s1 <= 0xFC; ++s1) {
    if (!leadCarries(s1)) continue;
    t.row[s1] = static_cast<unsigned char>(++row);
    for (unsigned s2 = kTrailFirst; s2 < kTrailFirst + kTrailCount; ++s2) {
      t.pairs[row][s2] = storedPair(carriedPairOf(s1, s2));
    }
  }
  for (unsigned k = 0xA1; k <= 0xDF; ++k) t.row[k] = kKanaRow;
  return t;
}

constexpr CarrierTable kCarrier = makeCarrierTable();

static_assert(kCarryingLeads + 1 < kKanaRow, "rows and the katakana mark stay apart");

inline std::uint16_t carried(unsigned s1, unsigned s2) {
  const unsigned row = kCarrier.row[s1];
  return row == kKanaRow ? 0 : storedPair(kCarrier.pairs[row][s2]);
}

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
constexpr unsigned char kEsc = 0x1B;

static_assert(std::endian::native == std::endian::little, "the eight-byte scan assumes little-endian words");

inline unsigned char* putEscape(unsigned char* d, char a, char b) {
  d[0] = kEsc;
  d[1] = static_cast<unsigned char>(a);
  d[2] = static_cast<unsigned char>(b);
  return d + 3;
}


}  // namespace

std::uint16_t iso2022JpPair(unsigned char lead, unsigned char trail) { return carried(lead, trail); }

std::size_t cp932ToIso2022Jp(const char* source, std::size_t length, char* destination) {
  const auto* s = reinterpret_cast<const unsigned char*>(source);
  const unsigned char* const end = s + length;
  auto* d = reinterpret_cast<unsigned char*>(destination);
  unsigned char* const start = d;
  while (s < end) {
    // Bytes below 0x80 outside a run are copied, eight at a time where they
    // come in eights.
    while (end - s >= 8) {
      std::uint64_t w;
      std::memcpy(&w, s, 8);
      if (w & kHighBits) break;
      std::memcpy(d, &w, 8);
      s += 8;
      d += 8;
    }
    while (s < end && *s < 0x80) *d++ = *s++;
    if (s == end) break;
    // A run of characters of two bytes (and widened half-width katakana).
    d = putEscape(d, '$', 'B');
    while (s < end && *s >= 0x80) {
      const unsigned row = kCarrier.row[*s];
      std::uint16_t pair;
      if (row == kKanaRow) {
        const unsigned char* wide = kanaWideningTable[*s - 0xA1];
        pair = kCarrier.pairs[kCarrier.row[wide[0]]][wide[1]];
        s += 1;
      } else {
        pair = end - s >= 2 ? kCarrier.pairs[row][s[1]] : 0;
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

}  // namespace zel
