// What ISO-2022-JP carries of code page 932 text.
//
// ISO-2022-JP as RFC 1468 defines it, and as strict readers (the C
// library's iconv, Python) decode it, is ASCII and JIS X 0208. Japanese mail
// programs have also always written NEC row 13 in it (circled numbers, ㈱,
// the Roman numerals): the extended repertoire. Code page 932 holds more:
// the NEC-selected IBM extensions (lead bytes 0xED, 0xEE), the IBM
// extensions (0xFA-0xFC) and the user-defined area (0xF0-0xF9), which have
// no place in either. A character that CP932 itself maps to another (its
// own round trip: 0xFA58 ㈱ -> 0x878A, 0xFA5B ∵ -> 0x81E6, the IBM Roman
// numerals -> row 13, row 13's ≒ 0x8790 -> 0x81E0) is carried as that
// character where the repertoire holds it.
#pragma once

#include <cstdint>

namespace zel {

// What cp932ToIso2022Jp (jis_convert.h) writes for each character: for each
// byte its row of `pairs` (0 for a byte that is no lead byte of a carried
// character, kKanaRow for a half-width katakana byte); in each row, for
// every trail byte, the two JIS bytes of the character ISO-2022-JP carries
// in the order they are written, or 0 when it carries none (an extension
// without equivalent, the user-defined area, a pair that is no CP932
// character).
inline constexpr unsigned kIso2022JpRows = 43;
inline constexpr unsigned char kKanaRow = 0xFF;
struct Iso2022JpTable {
  unsigned char row[256];
  std::uint16_t pairs[kIso2022JpRows][256];
};
extern const Iso2022JpTable kIso2022JpTable;     // JIS X 0208
extern const Iso2022JpTable kIso2022JpExtTable;  // JIS X 0208 and NEC row 13

}  // namespace zel
