// Charset conversion to and from CP932: one table over both directions, and
// the same texts fed in pieces cut at every byte.
#include <gtest/gtest.h>

#include <string>

#include "platform/charset_convert.h"

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
    // An emoji (4 bytes) and a lone continuation byte: one 〓 each.
    {"utf-8", Direction::kToCp932, "x\xF0\x9F\x98\x80y", "x\x81\xACy", 1},
    {"utf-8", Direction::kToCp932, "x\x80y", "x\x81\xACy", 1},
    // Shift_JIS labels mean CP932: an IBM extension kanji (髙 FB FC) stays.
    {"Shift_JIS", Direction::kToCp932, "\xFB\xFC", "\xFB\xFC", 0},
    {"EUC-JP", Direction::kToCp932, "\xC6\xFC\xCB\xDC", "\x93\xFA\x96\x7B", 0},
    {"iso-2022-jp", Direction::kToCp932, "\x1B$BF|K\\\x1B(B", "\x93\xFA\x96\x7B", 0},
    // é in Latin-1 has no CP932 form.
    {"ISO-8859-1", Direction::kToCp932, "caf\xE9", "caf\x81\xAC", 1},
    {"windows-1252", Direction::kToCp932, "\x93q\x94\x80", "\x81gq\x81h\x81\xAC", 1},  // “q”€
    {"koi8-r", Direction::kToCp932, "\xE1", "\x84\x40", 0},  // А (Cyrillic)
    {"ks_c_5601-1987", Direction::kToCp932, "\xB0\xA1", "\x81\xAC", 1},  // 가
    {"utf-16be", Direction::kToCp932, std::string("\x65\xE5", 2), "\x93\xFA", 0},
    // CP932 to UTF-8: 髙 and a byte that is no character.
    {"UTF-8", Direction::kFromCp932, "\xFB\xFC", "\xE9\xAB\x99", 0},
    {"UTF-8", Direction::kFromCp932, "a\x80" "b", "a?b", 1},
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
