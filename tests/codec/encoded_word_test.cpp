// Header lines: encoded words out (fold estimate and points) and in (B and
// Q words, adjacent words, malformed words, control bytes).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "charset/jis_convert.h"
#include "codec/base64.h"
#include "codec/encoded_word.h"

namespace zel {
namespace {

std::string word(const std::string& jis, const std::string& charset = "ISO-2022-JP") {
  std::vector<char> b64(base64EncodedSize(jis.size()) + 1);
  base64Encode(jis.data(), jis.size(), b64.data());
  return "=?" + charset + "?B?" + std::string(b64.data()) + "?=";
}

std::string utf8Word(const std::string& utf8) { return word(utf8, "UTF-8"); }

// Shift-JIS text (a narrow literal) in ISO-2022-JP.
std::string jis(const std::string& sjis) {
  std::vector<char> out(sjisToJisBound(sjis.size()));
  return std::string(out.data(), sjisToJis(sjis.data(), sjis.size(), out.data()));
}

std::string U8(std::u8string_view text) { return std::string(text.begin(), text.end()); }

std::string Repeat(const std::string& text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
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

// A blank (or run of blanks) between two Japanese runs travels inside the
// one word of both runs, which readers keep; where the line is folded among
// the blanks they end the word before the fold.
TEST(EncodeHeaderLine, BlanksBetweenRunsStayInsideTheWord) {
  EXPECT_EQ(encodeHeaderLine("Subject: 見積もりの件 ご確認ください\n"),
            "Subject: " + word(jis("見積もりの件") + " " + jis("ご確認ください")) + "\n");
  EXPECT_EQ(encodeHeaderLine("From: 山田 \t太郎 <a@b>\n"),
            "From: " + word(jis("山田") + " \t" + jis("太郎")) + " <a@b>\n");
  // "Subject: " costs 9, the run 20 and 3 per character: the first blank
  // after 323 characters passes 1,000.
  const std::string run = Repeat("日", 323);
  EXPECT_EQ(encodeHeaderLine("Subject: " + run + "  本\n"),
            "Subject: " + word(jis(run) + "  ") + "\n " + word(jis("本")) + "\n");
  // IBM extensions with an equivalent: ㈱ (0xFA58) as row 13, ∵ (0xFA5B) as
  // JIS X 0208. Without one (髙 0xFBFC) the line is not carried.
  bool carried = false;
  int estimate = 0;
  EXPECT_EQ(encodeHeaderPart("X: \xFA\x58\xFA\x5B\n", estimate, &carried), "X: " + word(jis("㈱∵")) + "\n");
  EXPECT_TRUE(carried);
  encodeHeaderPart("X: \xFB\xFC\n", estimate, &carried);
  EXPECT_FALSE(carried);
}

// Whole words: a run takes in the ASCII glued to it, blanks between two
// words stay inside, an address mark ends a word in fields of addresses,
// the field name never goes in; a fold never parts a Japanese character
// from the ASCII glued to it.
TEST(EncodeHeaderLine, WholeWords) {
  const WordRules whole{.whole = true}, addresses{.whole = true, .addresses = true};
  EXPECT_EQ(encodeHeaderLine("Subject:会議 第3回 (案) 2024\n", whole),
            "Subject:" + word(jis("会議 第3回 (案)")) + " 2024\n");
  EXPECT_EQ(encodeHeaderLine("To: ABC商事 山田<a@b>, \"鈴木\" <c@d>\n", addresses),
            "To: " + word(jis("ABC商事 山田")) + "<a@b>, \"" + word(jis("鈴木")) + "\" <c@d>\n");
  const std::string run = Repeat("日", 324);  // the estimate passes 1,000 at its end
  EXPECT_EQ(encodeHeaderLine("Subject: " + run + ".txt b\n", whole),
            "Subject: " + word(jis(run) + ".txt") + " \n b\n");
  EXPECT_EQ(encodeHeaderLine("Subject: " + run + "本.txt\n", whole),
            "Subject: " + word(jis(run)) + "\n " + word(jis("本.txt")) + "\n");
  EXPECT_EQ(encodeUtf8HeaderLine(U8(u8"From: ABC商事 山田 <a@b>\n"), true, true),
            "From: " + utf8Word(U8(u8"ABC商事 山田")) + " <a@b>\n");
  EXPECT_EQ(encodeUtf8HeaderLine(U8(u8"X: caf\u00e9 UTF-8テスト x\n"), false, true),
            "X: " + utf8Word(U8(u8"caf\u00e9 UTF-8テスト")) + " x\n");
}

// UTF-8 words: whole characters, at most 75 characters, a multiple of three
// bytes but for the last of a run; whole runs in address fields; folds
// before a blank past 76 characters.
TEST(EncodeUtf8HeaderLine, WordsRunsAndFolds) {
  const std::string name = U8(u8"山田 太郎");
  EXPECT_EQ(encodeUtf8HeaderLine("From: " + name + " <a@b>\n", true), "From: " + utf8Word(name) + " <a@b>\n");
  const std::string kanji = Repeat(U8(u8"日"), 20);  // 60 bytes
  EXPECT_EQ(encodeUtf8HeaderLine("Subject: " + kanji + "\n"),
            "Subject: " + utf8Word(kanji.substr(0, 45)) + "\n " + utf8Word(kanji.substr(45)) + "\n");
  EXPECT_EQ(encodeUtf8HeaderLine("To: " + kanji + " <a@b>\n", true), "To: " + utf8Word(kanji) + "\n <a@b>\n");
  const std::string accents = Repeat(U8(u8"é"), 30);  // 60 bytes: cut after 42
  EXPECT_EQ(encodeUtf8HeaderLine("X: a" + accents + "\n"),
            "X: a" + utf8Word(accents.substr(0, 42)) + "\n " + utf8Word(accents.substr(42)) + "\n");
  std::string words = "Subject:";
  for (int i = 0; i < 41; ++i) words += (i % 3 ? " word" : " " + U8(u8"語")) + std::to_string(i);
  const std::string out = encodeUtf8HeaderLine(words + "  \n");
  std::string unfolded;
  for (std::size_t at = 0, lf; (lf = out.find('\n', at)) != std::string::npos; at = lf + 1) {
    EXPECT_LE(lf - at, 76u) << out;
    if (lf + 1 < out.size()) {
      EXPECT_EQ(out[lf + 1], ' ') << out;
    }
    unfolded += out.substr(at, lf - at);
  }
  EXPECT_NE(out.find("\n "), std::string::npos);
  EXPECT_EQ(unfolded.find(" word40  "), unfolded.size() - 9);
  EXPECT_EQ(unfolded.find("Subject: " + utf8Word(U8(u8"語")) + "0 word1 word2 "), 0u);
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
