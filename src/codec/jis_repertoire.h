// What ISO-2022-JP carries of code page 932 text.
//
// Japanese mail in ISO-2022-JP carries JIS X 0208 and, as Japanese mail
// programs have always written it, NEC row 13 (circled numbers, ㈱, the
// Roman numerals). Code page 932 holds more: the NEC-selected IBM extensions
// (lead bytes 0xED, 0xEE), the IBM extensions (0xFA-0xFC) and the
// user-defined area (0xF0-0xF9), which have no place in ISO-2022-JP. An IBM
// extension that CP932 itself maps to a character of JIS X 0208 or row 13
// (its own round trip: 0xFA58 ㈱ -> 0x878A, 0xFA5B ∵ -> 0x81E6, the IBM
// Roman numerals -> row 13) is carried as that character.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zel {

// iso2022JpPair: the JIS pair (j1 << 8 | j2) that carries the CP932
// character `lead` `trail` in ISO-2022-JP, or 0 when ISO-2022-JP cannot
// carry it (an extension without equivalent, the user-defined area, or a
// pair that is no CP932 character).
std::uint16_t iso2022JpPair(unsigned char lead, unsigned char trail);

// cp932ToIso2022Jp's result for text ISO-2022-JP cannot carry.
inline constexpr std::size_t kNotCarried = static_cast<std::size_t>(-1);

// cp932ToIso2022Jp: converts CP932 text to ISO-2022-JP as sjisToJis does
// (charset.h: the same escapes and runs, half-width katakana widened, bytes
// below 0x80 copied), but every byte of 0x80 and above must belong to a
// character iso2022JpPair carries.
//   destination  at least sjisToJisBound(length) bytes, distinct from source
// Returns the length of the output (NUL-terminated), or kNotCarried when the
// text holds a byte or character ISO-2022-JP cannot carry (the destination
// then holds a part of the output).
std::size_t cp932ToIso2022Jp(const char* source, std::size_t length, char* destination);

}  // namespace zel
