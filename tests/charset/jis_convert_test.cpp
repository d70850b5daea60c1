// Shift-JIS <-> ISO-2022-JP converters: published examples, escapes, kana
// widening and the edges of a line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "charset/jis_convert.h"

namespace zel {
namespace {

std::string toJis(const std::string& sjis) {
  std::vector<char> out(sjisToJisBound(sjis.size()));
  const std::size_t n = sjisToJis(sjis.data(), sjis.size(), out.data());
  EXPECT_EQ(out[n], '\0');
  return std::string(out.data(), n);
}

std::string toSjis(const std::string& jis) {
  std::vector<char> out(jis.size() + 1);
  const std::size_t n = jisToSjis(jis.data(), jis.size(), out.data());
  EXPECT_EQ(out[n], '\0');
  return std::string(out.data(), n);
}

TEST(Charset, NihonBothWays) {
  const std::string sjis = "\x93\xFA\x96\x7B";
  const std::string jis = "\x1B$BF|K\\\x1B(B";
  EXPECT_EQ(toJis(sjis), jis);
  EXPECT_EQ(toSjis(jis), sjis);
  // The same through the NUL-terminated forms.
  char out[64];
  EXPECT_EQ(sjisToJis("\x93\xFA\x96\x7B", out), 10u);
  EXPECT_EQ(std::string(out), jis);
  EXPECT_EQ(jisToSjis(out, out), 4u);  // in place
  EXPECT_EQ(std::string(out), sjis);
}

TEST(Charset, EmptyAndAscii) {
  EXPECT_EQ(toJis(""), "");
  EXPECT_EQ(toSjis(""), "");
  const std::string ascii = "Subject: plain text, 0123456789 ~!@#$%^&*()\n";
  EXPECT_EQ(toJis(ascii), ascii);
  EXPECT_EQ(toSjis(ascii), ascii);
}

TEST(Charset, RunsGetTheirOwnEscapes) {
  // 日a本: two runs separated by one ASCII character.
  EXPECT_EQ(toJis("\x93\xFA" "a" "\x96\x7B"), "\x1B$BF|\x1B(Ba\x1B$BK\\\x1B(B");
  // A line feed ends a run; the next line starts a new one.
  EXPECT_EQ(toJis("\x93\xFA\n\x96\x7B\n"), "\x1B$BF|\x1B(B\n\x1B$BK\\\x1B(B\n");
}

TEST(Charset, HalfWidthKanaAreWidened) {
  // ｱｲｳ gives the same as アイウ.
  EXPECT_EQ(toJis("\xB1\xB2\xB3"), toJis("\x83\x41\x83\x43\x83\x45"));
  // ｶﾞ gives カ゛ (two characters), not ガ.
  EXPECT_EQ(toJis("\xB6\xDE"), toJis("\x83\x4A\x81\x4A"));
  EXPECT_NE(toJis("\xB6\xDE"), toJis("\x83\x4B"));
  // Every table entry is a full-width character: lead byte 0x81 or 0x83.
  for (std::size_t k = 0; k < kKanaCount; ++k) {
    EXPECT_TRUE(kanaWideningTable[k][0] == 0x81 || kanaWideningTable[k][0] == 0x83) << k;
  }
  // Mixed kana and ASCII stays in one escape per switch.
  EXPECT_EQ(toJis("a\xB1" "b"), "a\x1B$B%\"\x1B(Bb");
}

TEST(Charset, IncomingEscapes) {
  EXPECT_EQ(toSjis("\x1B(I1\x1B(B"), "\xB1");               // katakana set: ｱ
  EXPECT_EQ(toSjis("\x1B$@F|\x1B(J!"), "\x93\xFA!");        // 1978 set, Roman
  EXPECT_EQ(toSjis("\x1B$BF|K"), "\x93\xFAK");              // odd run keeps its last byte
  EXPECT_EQ(toSjis("a\x1B$Zb"), "a\x1B$Zb");                // unknown escape copied
  EXPECT_EQ(toSjis("\x1B$"), "\x1B$");                      // cut escape copied
  // No state survives a call: a second line starts in ASCII.
  EXPECT_EQ(toSjis("F|"), "F|");
}

TEST(Charset, InPlaceEqualsSeparateBuffer) {
  // Escapes at every distance from each other, so that the eight-byte copy
  // meets every gap between output and unread input.
  std::string jis;
  for (int i = 0; i < 12; ++i) {
    jis += std::string(i, 'a') + "\x1B$BF|\x1B(B" + std::string(11 - i, 'b') + "\x1B(J";
  }
  const std::string expected = toSjis(jis);
  std::string copy = jis;
  copy.resize(jisToSjis(copy.data(), copy.size(), copy.data()));
  EXPECT_EQ(copy, expected);
  EXPECT_EQ(expected.find('\x1B'), std::string::npos);
}

TEST(Charset, LeadByteAtTheEnd) {
  // A lead byte without a trail byte is copied alone and closes the run.
  EXPECT_EQ(toJis("\x93\xFA\x96"), "\x1B$BF|\x1B(B\x96");
  EXPECT_EQ(toJis("\x96"), "\x96");
  // Nor is a line feed ever a trail byte: the line keeps its end.
  EXPECT_EQ(toJis("\x93\xFA\x96\n"), "\x1B$BF|\x1B(B\x96\n");
}

TEST(Charset, LineFeedInsideKanjiRun) {
  // A run not closed before the line end: the line feed stays a line feed.
  EXPECT_EQ(toSjis("\x1B$BF|K\n"), "\x93\xFAK\n");
  EXPECT_EQ(toSjis("\x1B$BF|\n"), "\x93\xFA\n");
  EXPECT_EQ(toSjis("\x1B$B\nF|"), "\n\x93\xFA");
  // Nor does a katakana run left open turn the line end into kana bytes.
  EXPECT_EQ(toSjis("\x1B(I12\n"), "\xB1\xB2\n");
  EXPECT_EQ(toSjis("\x1B(I1\r\n"), "\xB1\r\n");
}

TEST(Charset, WorstCaseLineFitsTheBound) {
  // Alternating kana and ASCII is the longest output per input byte.
  std::string line;
  while (line.size() < 1023) line += (line.size() % 2) ? "a" : "\xB1";
  std::vector<char> out(kJisLineSize, '\x55');
  const std::size_t n = sjisToJis(line.data(), line.size(), out.data());
  EXPECT_LT(n, kJisLineSize);
  EXPECT_EQ(n, 512u * 5 + 511u * 4 + 3);  // 512 kana runs, 511 letters
}

// A pair the arithmetic would turn into a control byte is no character, in
// either direction: neither converter ever makes a control byte (a line end
// least of all) that its input did not hold.
TEST(Charset, ControlBytesAreNeverMade) {
  // Outgoing: a lead byte before a byte that is no trail byte stays single.
  EXPECT_EQ(toJis("\x81)"), "\x81)");                       // would give a line feed
  EXPECT_EQ(toJis("\x93\xFA\x81,"), "\x1B$BF|\x1B(B\x81,");  // would give a CR
  for (unsigned lead = 0x81; lead <= 0xEF; ++lead) {
    for (unsigned trail = 0; trail < 256; ++trail) {
      const std::string out = toJis(std::string{static_cast<char>(lead), static_cast<char>(trail)});
      for (char c : out) {
        const auto b = static_cast<unsigned char>(c);
        ASSERT_TRUE(b >= 0x20 || b == 0x1B || b == trail) << std::hex << lead << " " << trail;
      }
    }
  }
  // Incoming: such a pair stands as it is (ESC $ B B3 0F would give a line
  // feed and ".", 0xA0 a NUL), in a short run and in a long one.
  EXPECT_EQ(toSjis("\x1B$B\xB3\x0F"), "\xB3\x0F");
  EXPECT_EQ(toSjis("\x1B$B\xA0\x41\x1B(B"), "\xA0\x41");
  for (unsigned j1 = 0; j1 < 256; ++j1) {
    for (unsigned j2 = 0; j2 < 256; ++j2) {
      if (j1 == 0x1B || j1 == '\n' || j2 == '\n') continue;
      const std::string pair{static_cast<char>(j1), static_cast<char>(j2)};
      for (const std::string& out : {toSjis("\x1B$B" + pair), toSjis("\x1B$B" + pair + pair + pair + pair)}) {
        for (std::size_t i = 0; i < out.size(); ++i) {
          const auto b = static_cast<unsigned char>(out[i]);
          ASSERT_TRUE(b >= 0x20 || b == static_cast<unsigned char>(pair[i % 2])) << std::hex << j1 << " " << j2;
        }
      }
    }
  }
}

TEST(Charset, UserDefinedAreaIsSingleByte) {
  // 0xF0-0xFC are not lead bytes here: copied as single bytes.
  EXPECT_EQ(toJis("\xF0\x40"), "\xF0\x40");
}

}  // namespace
}  // namespace zel
