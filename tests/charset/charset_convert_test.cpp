// Charset conversion to and from CP932: one table over both directions, and
// the same texts fed in pieces cut at every byte.
#include <gtest/gtest.h>

#include <string>

#include "charset/charset_convert.h"

namespace zel {
namespace {

using Direction = CharsetConverter::Direction;

struct Row {
  const char* label;
  Direction direction;
  std::string input;
  std::string expected;
  std::size_t replaced;
};

const Row kRows[] = {
    // 日本 in UTF-8, any case of the label.
    {"UTF-8", Direction::kToCp932, "\xE6\x97\xA5\xE6\x9C\xAC", "\x93\xFA\x96\x7B", 0},
    {"utf8", Direction::kToCp932, "a\xE6\x97\xA5", "a\x93\xFA", 0},
    // Characters other systems write for CP932 codes: WAVE DASH (0x8160),
    // YEN SIGN (0x5C, as Japanese fonts show it).
    {"UTF-8", Direction::kToCp932, "\xE3\x80\x9C\xC2\xA5", "\x81\x60\x5C", 0},
    // An emoji (4 bytes) and a lone continuation byte: one 〓 each.
    {"utf-8", Direction::kToCp932, "x\xF0\x9F\x98\x80y", "x\x81\xACy", 1},
    {"utf-8", Direction::kToCp932, "x\x80y", "x\x81\xACy", 1},
    // An overlong form: one 〓 per byte, as Python's decoder replaces it.
    {"utf-8", Direction::kToCp932, "\xE0\x80\x80", "\x81\xAC\x81\xAC\x81\xAC", 3},
    {"utf-16", Direction::kToCp932, std::string("\xFF\xFE\xE5\x65", 4), "\x93\xFA", 0},
    // Shift_JIS labels mean CP932: an IBM extension kanji (髙 FB FC) stays.
    {"Shift_JIS", Direction::kToCp932, "\xFB\xFC", "\xFB\xFC", 0},
    // ...an IBM extension symbol becomes its NEC row 13 code (㈱).
    {"Shift_JIS", Direction::kToCp932, "\xFA\x58", "\x87\x8A", 0},
    {"EUC-JP", Direction::kToCp932, "\xC6\xFC\xCB\xDC", "\x93\xFA\x96\x7B", 0},
    {"iso-2022-jp", Direction::kToCp932, "\x1B$BF|K\\\x1B(B", "\x93\xFA\x96\x7B", 0},
    // NEC row 13 (①) and half-width katakana (ｱ) of the extensions.
    {"ISO-2022-JP", Direction::kToCp932, "\x1B$B-!\x1B(I1\x1B(Bx", "\x87\x40\xB1x", 0},
    {"gb2312", Direction::kToCp932, "\xD6\xD0\xCE\xC4", "\x92\x86\x95\xB6", 0},  // 中文
    {"big5", Direction::kToCp932, "\xA4\xA4", "\x92\x86", 0},                       // 中
    // é in Latin-1 has no CP932 form.
    {"ISO-8859-1", Direction::kToCp932, "caf\xE9", "caf\x81\xAC", 1},
    {"windows-1252", Direction::kToCp932, "\x93q\x94\x80", "\x81gq\x81h\x81\xAC", 1},  // “q”€
    {"koi8-r", Direction::kToCp932, "\xE1", "\x84\x40", 0},  // А (Cyrillic)
    {"ks_c_5601-1987", Direction::kToCp932, "\xB0\xA1", "\x81\xAC", 1},  // 가
    {"utf-16be", Direction::kToCp932, std::string("\x65\xE5", 2), "\x93\xFA", 0},
    // CP932 to UTF-8: 髙 and a byte that is no character.
    {"UTF-8", Direction::kFromCp932, "\xFB\xFC", "\xE9\xAB\x99", 0},
    {"UTF-8", Direction::kFromCp932, "a\x80" "b", "a?b", 1},
    {"UTF-8", Direction::kFromCp932, "\x87\x40\xB1", "\xE2\x91\xA0\xEF\xBD\xB1", 0},  // ①ｱ
    {"iso-8859-1", Direction::kFromCp932, "caf\x81\x60", "caf?", 1},
};

TEST(CharsetConvert, TableWholeAndInPieces) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(std::string(row.label) + " " + row.input);
    std::string whole;
    std::size_t replaced = 99;
    const bool ok = row.direction == Direction::kToCp932
                        ? ConvertToCp932(row.label, row.input, whole, &replaced)
                        : ConvertFromCp932(row.label, row.input, whole, &replaced);
    ASSERT_TRUE(ok);
    EXPECT_EQ(whole, row.expected);
    EXPECT_EQ(replaced, row.replaced);
    // Cut into two pieces at every byte: the same text comes out.
    for (std::size_t cut = 0; cut <= row.input.size(); ++cut) {
      CharsetConverter converter;
      ASSERT_TRUE(converter.Open(row.label, row.direction));
      std::string pieces;
      std::size_t count = converter.Convert(row.input.substr(0, cut), pieces, false);
      count += converter.Convert(row.input.substr(cut), pieces, true);
      EXPECT_EQ(pieces, row.expected) << "cut at " << cut;
      EXPECT_EQ(count, row.replaced) << "cut at " << cut;
    }
  }
}

TEST(CharsetConvert, UnknownLabelsAreRefused) {
  std::string out = "kept";
  EXPECT_FALSE(ConvertToCp932("x-unknown", "abc", out));
  EXPECT_FALSE(ConvertFromCp932("", "abc", out));
  EXPECT_EQ(out, "kept");
  EXPECT_FALSE(IsKnownCharset("unknown-8bit"));
  EXPECT_TRUE(IsKnownCharset("Windows-31J"));
  EXPECT_EQ(CanonicalCharset("LATIN1"), "ISO-8859-1");
}

}  // namespace
}  // namespace zel
