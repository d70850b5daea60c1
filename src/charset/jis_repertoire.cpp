#include "charset/jis_repertoire.h"

#include <bit>

#include "charset/jis_convert.h"

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

constexpr bool jisAssigned(unsigned row, unsigned cell, Iso2022JpRepertoire repertoire) {
  if (cell < 0x21 || cell > 0x7E) return false;
  if (row == 13 && repertoire == Iso2022JpRepertoire::kJisX0208) return false;
  if (row == 1 || (row >= 16 && row <= 46) || (row >= 48 && row <= 83)) return true;
  for (const CellRange& r : kPartialRows) {
    if (r.row == row && cell >= r.first && cell <= r.last) return true;
  }
  return false;
}

// The characters that CP932's own round trip writes as another character of
// JIS X 0208 or row 13: IBM extensions (and the NEC-selected ￢), and the
// row 13 doubles of JIS X 0208 symbols (≒ ≡ ∫ √ ⊥ ∠ ∵ ∩ ∪). An equivalent
// in a row the repertoire lacks carries nothing.
struct Equivalent {
  std::uint16_t extension, carried;  // CP932 pairs
};
constexpr Equivalent kEquivalents[] = {
    {0xEEF9, 0x81CA}, {0xFA4A, 0x8754}, {0xFA4B, 0x8755}, {0xFA4C, 0x8756}, {0xFA4D, 0x8757},
    {0xFA4E, 0x8758}, {0xFA4F, 0x8759}, {0xFA50, 0x875A}, {0xFA51, 0x875B}, {0xFA52, 0x875C},
    {0xFA53, 0x875D}, {0xFA54, 0x81CA}, {0xFA58, 0x878A}, {0xFA59, 0x8782}, {0xFA5A, 0x8784},
    {0xFA5B, 0x81E6},
};
constexpr Equivalent kRow13Doubles[] = {
    {0x8790, 0x81E0}, {0x8791, 0x81DF}, {0x8792, 0x81E7}, {0x8795, 0x81E3}, {0x8796, 0x81DB},
    {0x8797, 0x81DA}, {0x879A, 0x81E6}, {0x879B, 0x81BF}, {0x879C, 0x81BE},
};

constexpr bool isTrail(unsigned c) { return c >= kTrailFirst && c <= 0xFC && c != 0x7F; }

// The JIS pair of a CP932 pair of JIS X 0208 or row 13 (lead bytes up to
// 0xEA), or 0.
constexpr std::uint16_t ownPair(unsigned s1, unsigned s2,
                                Iso2022JpRepertoire repertoire = Iso2022JpRepertoire::kExtended) {
  if (!((s1 >= 0x81 && s1 <= 0x9F) || (s1 >= 0xE0 && s1 <= 0xEA)) || !isTrail(s2)) return 0;
  const unsigned j1 = jisFirst(s1, s2), j2 = jisSecond(s2);
  return jisAssigned(j1 - 0x20, j2, repertoire) ? static_cast<std::uint16_t>(j1 << 8 | j2) : 0;
}

// The lead bytes of the characters ISO-2022-JP carries: JIS X 0208 and
// row 13 (rows 9-12 and 85-94 hold none of them) and the two of the
// extensions with an equivalent.
constexpr bool leadCarries(unsigned s1) {
  return (s1 >= 0x81 && s1 <= 0x84) || (s1 >= 0x87 && s1 <= 0x9F) || (s1 >= 0xE0 && s1 <= 0xEA) ||
         s1 == 0xEE || s1 == 0xFA;
}

constexpr bool carriesNothing(unsigned s1) {
  for (unsigned s2 = kTrailFirst; s2 < kTrailFirst + kTrailCount; ++s2) {
    if (ownPair(s1, s2) != 0) return false;
  }
  return true;
}

static_assert(carriesNothing(0x85) && carriesNothing(0x86) && carriesNothing(0xEB) &&
                  carriesNothing(0xEC) && carriesNothing(0xEF),
              "the lead bytes left out carry no character of JIS X 0208 or row 13");

constexpr unsigned countCarryingLeads() {
  unsigned n = 0;
  for (unsigned s1 = 0x81; s1 <= 0xFC; ++s1) n += leadCarries(s1) ? 1 : 0;
  return n;
}

// A JIS pair as the two bytes the converter stores, read as one word.
constexpr std::uint16_t storedPair(std::uint16_t pair) {
  return std::endian::native == std::endian::little
             ? static_cast<std::uint16_t>((pair >> 8) | (pair << 8))
             : pair;
}

constexpr Iso2022JpTable makeCarrierTable(Iso2022JpRepertoire repertoire) {
  Iso2022JpTable t{};
  unsigned row = 0;
  for (unsigned s1 = 0x81; s1 <= 0xFC; ++s1) {
    if (!leadCarries(s1)) continue;
    t.row[s1] = static_cast<unsigned char>(++row);
    for (unsigned s2 = kTrailFirst; s2 < kTrailFirst + kTrailCount; ++s2) {
      t.pairs[row][s2] = storedPair(ownPair(s1, s2, repertoire));
    }
  }
  const auto equivalent = [&](const Equivalent& e) {
    const std::uint16_t pair = ownPair(e.carried >> 8, e.carried & 0xFF, repertoire);
    t.pairs[t.row[e.extension >> 8]][e.extension & 0xFF] = storedPair(pair);
  };
  for (const Equivalent& e : kEquivalents) equivalent(e);
  // Row 13 itself carries its doubles; without it they go as JIS X 0208.
  if (repertoire == Iso2022JpRepertoire::kJisX0208) {
    for (const Equivalent& e : kRow13Doubles) equivalent(e);
  }
  for (unsigned k = 0xA1; k <= 0xDF; ++k) t.row[k] = kKanaRow;
  return t;
}

static_assert(countCarryingLeads() + 1 == kIso2022JpRows, "one row per lead byte that carries, and row 0");

}  // namespace

constinit const Iso2022JpTable kIso2022JpTable = makeCarrierTable(Iso2022JpRepertoire::kJisX0208);
constinit const Iso2022JpTable kIso2022JpExtTable = makeCarrierTable(Iso2022JpRepertoire::kExtended);

}  // namespace zel
