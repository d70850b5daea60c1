// Header lines: encoded words out (fold estimate and points) and in (B and
// Q words, adjacent words, malformed words, control bytes).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/base64.h"
#include "codec/encoded_word.h"

namespace zel {
namespace {

std::string word(const std::string& jis) {
  std::vector<char> b64(base64EncodedSize(jis.size()) + 1);
  base64Encode(jis.data(), jis.size(), b64.data());
  return "=?ISO-2022-JP?B?" + std::string(b64.data()) + "?=";
}

TEST(EncodeHeaderLine, PublishedExamples) {
  EXPECT_EQ(encodeHeaderLine("Subject: テスト\n"), "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\n");
  EXPECT_EQ(encodeHeaderLine("Subject: 日本語abc\n"), "Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=abc\n");
  const std::string ascii = "To: someone <a@example.com>, other@example.jp\n";
  EXPECT_EQ(encodeHeaderLine(ascii), ascii);
  EXPECT_EQ(encodeHeaderLine(""), "");
}

TEST(EncodeHeaderLine, TwoRunsTwoWords) {
  EXPECT_EQ(encodeHeaderLine("Subject: テスト (1) テスト\n"),
            "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= (1) =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\n");
  // Half-width kana are widened inside the word.
  EXPECT_EQ(encodeHeaderLine("Subject: ﾃｽﾄ\n"), "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\n");
}

TEST(EncodeHeaderLine, JapaneseFoldsAfterEstimate) {
  // "Subject: " costs 9, the run 20, each character 3: the estimate passes
  // 1,000 with the 324th character.
  std::string line = "Subject: ";
  for (int i = 0; i < 400; ++i) line += "日";
  line += "\n";
  std::string first = "\x1B$B", second = "\x1B$B";
  for (int i = 0; i < 324; ++i) first += "F|";
  for (int i = 0; i < 76; ++i) second += "F|";
  first += "\x1B(B";
  second += "\x1B(B";
  const std::string out = encodeHeaderLine(line);
  EXPECT_EQ(out, "Subject: " + word(first) + "\n " + word(second) + "\n");
  EXPECT_GT(out.size(), 1024u);  // nothing is cut at the old buffer size
}

TEST(EncodeHeaderLine, AsciiFoldsAfterBlankPastEstimate) {
  std::string line = "X-Long:";
  while (line.size() < 1100) line += " abcd";
  line += "\n";
  const std::string out = encodeHeaderLine(line);
  // The estimate passes 1,000 at the 1,001st byte; the fold follows the
  // first blank from there on.
  const std::size_t firstBlank = line.find(' ', 1000);
  EXPECT_EQ(out, line.substr(0, firstBlank + 1) + "\n " + line.substr(firstBlank + 1));
  // A short ASCII line is never folded.
  EXPECT_EQ(encodeHeaderLine("To: a b c\n"), "To: a b c\n");
}

TEST(EncodeHeaderLine, NoFoldLeavesBlanksAloneOnALine) {
  // Past the estimate, at a blank and after a Japanese character, with only
  // blanks after them: no continuation of blanks alone.
  const std::string ascii = "X: " + std::string(1000, 'a') + "  \n";
  EXPECT_EQ(encodeHeaderLine(ascii), ascii);
  const std::string wide = "X: " + std::string(997, 'a') + "日 \n";
  EXPECT_EQ(encodeHeaderLine(wide), "X: " + std::string(997, 'a') + word("\x1B$BF|\x1B(B") + " \n");
  // A part ends on no fold either; the estimate runs on into the next part,
  // which folds at its first blank.
  int estimate = 0;
  EXPECT_EQ(encodeHeaderPart("X: " + std::string(1000, 'a') + " ", estimate), "X: " + std::string(1000, 'a') + " ");
  EXPECT_EQ(encodeHeaderPart(". b\n", estimate), ". \n b\n");
}

TEST(EncodeHeaderLine, WorstCaseLineIsKeptWhole) {
  // 1,023 bytes alternating half-width kana and ASCII: the longest output.
  std::string line;
  while (line.size() < 1022) line += line.size() % 2 ? "a" : "\xB1";
  line += "\n";
  const std::string out = encodeHeaderLine(line);
  // Every ASCII letter survives, in order.
  std::string letters;
  for (char c : out) {
    if (c == 'a') letters += c;
  }
  EXPECT_GE(letters.size(), 511u);
  EXPECT_EQ(out.back(), '\n');
}

TEST(EncodeHeaderLine, StrayEscapeInSourceKeepsTheLineEnd) {
  // ESC $ B typed into the source opens a word; it ends at the line feed
  // instead of swallowing it.
  const std::string out = encodeHeaderLine("X-A: \x1B$Bab\n");
  EXPECT_EQ(out, "X-A: " + word("\x1B$Bab") + "\n");
  EXPECT_EQ(encodeHeaderLine("X-A: \x1B$@x"), "X-A: " + word("\x1B$@x"));
}

TEST(DecodeHeaderLine, AdjacentWordsLoseTheBlank) {
  EXPECT_EQ(decodeHeaderLine("Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\n"),
            "Subject: テストテスト\n");
  // Blanks before the first word and after ASCII stay.
  EXPECT_EQ(decodeHeaderLine("Subject: Re: =?iso-2022-jp?b?GyRCJUYlOSVIGyhC?= x\n"), "Subject: Re: テスト x\n");
}

TEST(DecodeHeaderLine, QWords) {
  EXPECT_EQ(decodeHeaderLine("=?iso-8859-1?Q?caf=E9_au_lait?="), "caf\xE9_au_lait");
  EXPECT_EQ(decodeHeaderLine("=?x?q?a=3Db=zc?="), "a=bzc");    // "=" before a non-hex character dropped
  EXPECT_EQ(decodeHeaderLine("=?x?Q?ab=4"), "ab=4");            // "=" near the end read as text
  // "=4" and the line feed make one byte (4 << 4 | 0x0A - 0x37).
  EXPECT_EQ(decodeHeaderLine("=?x?Q?ab=4\n"), "ab\xD3\n");
}

TEST(DecodeHeaderLine, MalformedWordsAreCopied) {
  EXPECT_EQ(decodeHeaderLine("=?ISO-2022-JP?X?abc?="), "=?ISO-2022-JP?X?abc?=");
  EXPECT_EQ(decodeHeaderLine("a =?abc"), "a =?abc");
  EXPECT_EQ(decodeHeaderLine("a =?"), "a =?");
  EXPECT_EQ(decodeHeaderLine("=?x?"), "=?x?");
  EXPECT_EQ(decodeHeaderLine("=?x?Z?abc\n"), "=?x?Z?abc\n");
}

TEST(DecodeHeaderLine, UnterminatedAndCutWords) {
  EXPECT_EQ(decodeHeaderLine("Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC"), "Subject: テスト");
  // A cut group ends the word; its characters are read as text.
  EXPECT_EQ(decodeHeaderLine("=?x?B?YWJjYQ\n"), "abcYQ\n");
  // A line feed swallowed by the last group still ends the line.
  EXPECT_EQ(decodeHeaderLine("=?x?B?YWJ\n"), "ab@\n");
}

TEST(DecodeHeaderLine, ControlBytesBecomeBlanks) {
  // A forged line break inside a word stays on the one line.
  EXPECT_EQ(decodeHeaderLine("Subject: =?UTF-8?Q?a=0D=0A=0D=0Ab?=\n"), "Subject: a    b\n");
  EXPECT_EQ(decodeHeaderLine("Subject: =?UTF-8?B?YQ0KYg==?=\n"), "Subject: a  b\n");
  // NUL, ESC left over and other controls too; TAB stays.
  EXPECT_EQ(decodeHeaderLine("S: =?x?Q?a=00b=1Bc=09d=7F?=\n"), "S: a b c\td\x7F\n");
  EXPECT_EQ(decodeHeaderLine(std::string_view("raw\rtext\x01\n")), "raw text \n");
  // A decoded line feed at the very end of a line without its own one.
  EXPECT_EQ(decodeHeaderLine("S: =?x?Q?a=0A?="), "S: a ");
}

TEST(DecodeHeaderLine, InPlaceCharBuffer) {
  char line[128] = "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\n";
  const std::size_t n = decodeHeaderLine(line, line);
  EXPECT_EQ(std::string(line), "Subject: テスト\n");
  EXPECT_EQ(n, std::string(line).size());
  // A decoded NUL does not cut the line.
  char nul[] = "=?x?Q?a=00b?=";
  EXPECT_EQ(decodeHeaderLine(nul, nul), 3u);
  EXPECT_EQ(std::string(nul), "a b");
}

TEST(HeaderLine, RoundTrip) {
  const std::string line = "Subject: 会議の件 (ｶﾅ) と予定\n";
  EXPECT_EQ(decodeHeaderLine(encodeHeaderLine(line)), "Subject: 会議の件 (カナ) と予定\n");
}

}  // namespace
}  // namespace zel
