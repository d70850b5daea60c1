// Shift-JIS <-> ISO-2022-JP (7-bit JIS) line converters.
//
// Both converters work on one line at a time and keep no state between calls:
// every call starts in the ASCII state and sjisToJis always ends in it.
// Shift-JIS byte classes as seen here: a lead byte (isJisLead below) with a
// trail byte after it (isJisTrail) is one character, a half-width katakana
// byte (0xA1-0xDF) another, and every other byte single. Half-width katakana
// are widened on the way out.
#pragma once

#include <cstddef>

namespace zel {

// True for a lead byte the converters pair with the byte after it: the lead
// bytes whose characters the standard Shift-JIS arithmetic maps into JIS X
// 0208 (0x81-0x9F, 0xE0-0xEF). Code page 932 text has lead bytes up to 0xFC
// (user-defined and IBM extension areas), which have no JIS X 0208 code and
// stay single bytes here; a host text cut to fit a field counts them as lead
// bytes (IsSjisLead, platform/sjis_text.h).
constexpr bool isJisLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEF); }

// True for a byte that can follow a lead byte as its trail byte: 0x40-0x7E
// and 0x80-0xFC. Any other byte after a lead byte (a control byte, a blank,
// a digit, ASCII punctuation) is no part of a character; the lead byte then
// stays a single byte, so the arithmetic never turns such a pair into a
// line end or another control byte the text did not hold.
constexpr bool isJisTrail(unsigned char c) { return c >= 0x40 && c <= 0xFC && c != 0x7F; }

// Shift-JIS pair -> JIS pair, by the standard arithmetic (modulo 256).
constexpr unsigned char jisFirst(unsigned s1, unsigned s2) {
  return static_cast<unsigned char>(2 * (s1 - (s1 < 0xA0 ? 0x70 : 0xB0)) - (s2 < 0x9F ? 1 : 0));
}
constexpr unsigned char jisSecond(unsigned s2) {
  return static_cast<unsigned char>(s2 >= 0x9F ? s2 - 0x7E : (s2 > 0x7F ? s2 - 0x20 : s2 - 0x1F));
}

// True for a half-width katakana byte (0xA1-0xDF), widened on the way out.
constexpr bool isHalfWidthKana(unsigned char c) { return c >= 0xA1 && c <= 0xDF; }

// Full-width Shift-JIS pair for each half-width katakana byte 0xA1..0xDF.
inline constexpr std::size_t kKanaCount = 63;
extern const unsigned char kanaWideningTable[kKanaCount][2];

// Output capacity sjisToJis needs for `length` input bytes, NUL included:
// each byte grows to at most two bytes plus one three-byte escape, and one
// closing escape follows the text.
constexpr std::size_t sjisToJisBound(std::size_t length) { return 5 * length + 4; }

// Worst-case converted form of one 1,023-byte line (alternating kana/ASCII).
inline constexpr std::size_t kJisLineSize = sjisToJisBound(1023);

// sjisToJis: converts the Shift-JIS text `source` to ISO-2022-JP.
//   source       NUL-terminated (first form) or `length` bytes (second form;
//                a NUL byte there is an ordinary single byte)
//   destination  distinct buffer of at least sjisToJisBound(length) bytes
// Returns the length of the output, which is NUL-terminated.
// A lead byte without a trail byte after it (last, or before a line feed or
// any other byte that is no trail byte) is copied unchanged: every control
// byte of the output, line feeds included, was in the source.
std::size_t sjisToJis(const char* source, char* destination);
std::size_t sjisToJis(const char* source, std::size_t length, char* destination);

// cp932ToIso2022Jp's result for text ISO-2022-JP cannot carry.
inline constexpr std::size_t kNotCarried = static_cast<std::size_t>(-1);

// The characters cp932ToIso2022Jp carries (jis_repertoire.h).
enum class Iso2022JpRepertoire {
  kJisX0208,  // ASCII and JIS X 0208, as RFC 1468 and strict readers have it
  kExtended,  // and NEC row 13, as Japanese mail programs have written it
};

// cp932ToIso2022Jp: converts CP932 text to ISO-2022-JP as sjisToJis does
// (the same escapes and runs, half-width katakana widened, bytes below 0x80
// copied), for the text ISO-2022-JP carries in `repertoire`: every byte of
// 0x80 and above must belong to such a character; a character with an
// equivalent there is written as that.
//   destination  at least sjisToJisBound(length) bytes, distinct from source
// Returns the length of the output (NUL-terminated), or kNotCarried when the
// text holds a byte or character ISO-2022-JP cannot carry (the destination
// then holds a part of the output).
std::size_t cp932ToIso2022Jp(const char* source, std::size_t length, char* destination,
                             Iso2022JpRepertoire repertoire = Iso2022JpRepertoire::kJisX0208);

// jisToSjis: converts ISO-2022-JP text to Shift-JIS.
//   source       NUL-terminated (first form) or `length` bytes (second form)
//   destination  at least length + 1 bytes; may equal `source` (in place)
// Returns the length of the output, which is NUL-terminated and never longer
// than the input. Incoming half-width katakana (ESC ( I) stay half-width; a
// lone last byte of a kanji run, a line feed inside one, and a CR or line
// feed inside a katakana run are copied unchanged. A kanji-run pair whose
// arithmetic would give a byte below 0x20 (ESC $ B B3 0F would give a line
// feed and ".") is written as it stands: decoding never makes a control
// byte, a line end least of all, that the message did not hold.
std::size_t jisToSjis(const char* source, char* destination);
std::size_t jisToSjis(const char* source, std::size_t length, char* destination);

}  // namespace zel
