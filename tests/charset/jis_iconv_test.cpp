// Differential test of the converters against glibc iconv over every JIS X
// 0208 character that both CP932 and ISO-2022-JP know.
// glibc iconv is the anchor; the Windows C library has none.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "charset/jis_convert.h"

namespace zel {
namespace {

// iconv from CP932 to ISO-2022-JP; false when iconv rejects the text.
bool iconvToJis(const std::string& sjis, std::string& jis) {
  iconv_t cd = iconv_open("ISO-2022-JP", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::vector<char> out(sjis.size() * 5 + 16);
  char* in = const_cast<char*>(sjis.data());
  std::size_t inLeft = sjis.size();
  char* o = out.data();
  std::size_t outLeft = out.size();
  bool ok = iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<std::size_t>(-1) &&
            iconv(cd, nullptr, nullptr, &o, &outLeft) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  if (ok) jis.assign(out.data(), o);
  return ok;
}

std::string ourJis(const std::string& sjis) {
  std::vector<char> out(sjisToJisBound(sjis.size()));
  return std::string(out.data(), sjisToJis(sjis.data(), sjis.size(), out.data()));
}

std::string ourSjis(const std::string& jis) {
  std::vector<char> out(jis.size() + 1);
  return std::string(out.data(), jisToSjis(jis.data(), jis.size(), out.data()));
}

// Lead bytes of the JIS X 0208 rows (1-8 and 16-84); rows 9-15 and 85-94
// hold vendor extensions, not JIS X 0208.
bool isJisX0208Lead(unsigned c) { return (c >= 0x81 && c <= 0x84) || (c >= 0x88 && c <= 0x9F) || (c >= 0xE0 && c <= 0xEA); }

TEST(CharsetIconv, EveryDoubleByteCharacter) {
  std::size_t compared = 0;
  std::string all;  // every compared character, for the one-line check below
  for (unsigned s1 = 0x81; s1 <= 0xEF; ++s1) {
    if (!isJisX0208Lead(s1)) continue;
    for (unsigned s2 = 0x40; s2 <= 0xFC; ++s2) {
      if (s2 == 0x7F) continue;
      const std::string sjis{static_cast<char>(s1), static_cast<char>(s2)};
      std::string expected;
      if (!iconvToJis(sjis, expected)) continue;  // a character iconv does not know
      ASSERT_EQ(ourJis(sjis), expected) << std::hex << s1 << ' ' << s2;
      ASSERT_EQ(ourSjis(expected), sjis) << std::hex << s1 << ' ' << s2;
      all += sjis;
      ++compared;
    }
  }
  // JIS X 0208 has 6,879 characters; CP932 maps a handful differently.
  EXPECT_GT(compared, 6800u);
  std::string expected;
  ASSERT_TRUE(iconvToJis(all, expected));
  EXPECT_EQ(ourJis(all), expected);
  EXPECT_EQ(ourSjis(expected), all);
}

TEST(CharsetIconv, HalfWidthKanaMatchTheirFullWidthForms) {
  for (unsigned k = 0xA1; k <= 0xDF; ++k) {
    const unsigned char* wide = kanaWideningTable[k - 0xA1];
    const std::string full{static_cast<char>(wide[0]), static_cast<char>(wide[1])};
    std::string expected;
    ASSERT_TRUE(iconvToJis(full, expected)) << std::hex << k;
    EXPECT_EQ(ourJis(std::string(1, static_cast<char>(k))), expected) << std::hex << k;
  }
}

TEST(CharsetIconv, MixedText) {
  // ASCII, kanji and punctuation mixed on several lines.
  const std::string text =
      "To: a@b\n\x93\xFA\x96\x7B\x8C\xEA abc \x82\xA0\x82\xA2\x81\x42\n\x88\x9F\x88\xA0-\xEA\xA4\n";
  std::string expected;
  ASSERT_TRUE(iconvToJis(text, expected));
  EXPECT_EQ(ourJis(text), expected);
  EXPECT_EQ(ourSjis(expected), text);
}

}  // namespace
}  // namespace zel
#endif  // _WIN32
