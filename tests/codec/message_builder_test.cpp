// Byte-exact messages of the outgoing message builder (lines end LF here;
// the text file stores them CR LF, see the send operation's tests).
#include "codec/message_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "charset/jis_convert.h"
#include "codec/base64.h"
#include "codec/encoded_word.h"
#include "codec/mime_params.h"
#include "codec/recipient_list.h"
#include "compose_test_streams.h"
#include "fixed_clock.h"
#include "memory_streams.h"

namespace zel {
namespace {

using compose_test::MapOpener;
using test::MemorySink;
using test::MemorySource;
using namespace std::string_literals;

// What is wrong with a composed message as the SMTP server reads it, or ""
// when nothing is: a line other than the last that begins with a single "."
// (a lone one ends the data), a header line that begins neither with a
// field name nor with a blank, a continuation of blanks alone, a CR or NUL.
std::string DataStreamFault(const std::string& message) {
  if (!message.ends_with("\n.\n")) return "no end line";
  if (message.find_first_of("\r\0"s) != std::string::npos) return "CR or NUL";
  const auto nameByte = [](char c) { return c > ' ' && c < 0x7F && c != ':'; };
  bool header = true;
  for (std::size_t at = 0; at < message.size() - 2;) {
    const std::size_t lf = message.find('\n', at);
    const std::string line = message.substr(at, lf - at);
    at = lf + 1;
    if (line.starts_with(".") && !line.starts_with("..")) return "unstuffed: " + line.substr(0, 80);
    if (!header) continue;
    const auto name = std::find_if_not(line.begin(), line.end(), nameByte);
    if (line.empty()) {
      header = false;
    } else if (line[0] == ' ' || line[0] == '\t') {
      if (line.find_first_not_of(" \t") == std::string::npos) return "blank continuation";
    } else if (name == line.begin() || name == line.end() || *name != ':') {
      return "no field name: " + line.substr(0, 80);
    }
  }
  return "";
}

const char kGenerated[] =
    "Date: Mon, 01 Jan 2001 12:00:00 +0900\n"
    "Message-Id: <200101011200.0000ABCD.00001234@myhost.example.jp>\n"
    "From: Taro Yamada <taro@example.jp>\n";
const char kSinglePart[] =
    "MIME-Version: 1.0\n"
    "Content-Transfer-Encoding: 7bit\n"
    "Content-Type: text/plain; charset=iso-2022-jp\n"
    "\n";
const char kBoundary[] = "--------3A4FF2B00000ABCD";
const char kMultipart[] =
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed;\n"
    "\tboundary=\"--------3A4FF2B00000ABCD\"\n"
    "\n"
    "This is multipart message.\n"
    "\n"
    "----------3A4FF2B00000ABCD\n"
    "Content-Transfer-Encoding: 7bit\n"
    "Content-Type: text/plain; charset=iso-2022-jp\n"
    "\n";

std::string PartHeader(const std::string& name) {
  return "\n----------3A4FF2B00000ABCD\n"
         "Content-Type: application/octet-stream\n"
         "Content-Transfer-Encoding: base64\n"
         "Content-Disposition: attachment; filename=\"" +
         name + "\"\n\n";
}
const char kClosing[] = "\n----------3A4FF2B00000ABCD--\n";

// The MIME header `mime` of a message in UTF-8.
std::string Utf8Mime(std::string mime) {
  const std::string jis = "Content-Transfer-Encoding: 7bit\nContent-Type: text/plain; charset=iso-2022-jp\n";
  return mime.replace(mime.find(jis), jis.size(),
                      "Content-Transfer-Encoding: base64\nContent-Type: text/plain; charset=UTF-8\n");
}

std::string U8(std::u8string_view text) { return std::string(text.begin(), text.end()); }

std::string Base64(const std::string& bytes) {
  std::string out(base64EncodedSize(bytes.size()) + 1, '\0');
  out.resize(base64Encode(bytes.data(), bytes.size(), out.data()));
  return out;
}

std::string Utf8Word(const std::string& text) { return "=?UTF-8?B?" + Base64(text) + "?="; }

// Shift-JIS text as one ISO-2022-JP word.
std::string JisWord(const std::string& sjis) {
  std::string jis(sjisToJisBound(sjis.size()), '\0');
  jis.resize(sjisToJis(sjis.data(), sjis.size(), jis.data()));
  return "=?ISO-2022-JP?B?" + Base64(jis) + "?=";
}

// A UTF-8 body: base64 lines of 72 characters.
std::string Base64Lines(const std::string& bytes) {
  std::string out;
  for (std::size_t at = 0; at < bytes.size(); at += kAttachmentLineBytes) {
    out += Base64(bytes.substr(at, kAttachmentLineBytes)) + "\n";
  }
  return out;
}

class BuilderFixture : public ::testing::Test {
 protected:
  explicit BuilderFixture(MessageCharset charset) : builder(clock) {
    builder.identity = {"myhost", "example.jp", "Taro Yamada", "taro@example.jp"};
    builder.stamp = {0xABCD, 0x1234};
    builder.charset = charset;
  }

  // Composes `sendFile` with the attachment list `attach`; returns the text.
  std::string Compose(const std::string& sendFile, const std::string& attach = "",
                      std::size_t failAfter = std::string::npos) {
    MemorySource source(sendFile);
    MemorySink sink(failAfter);
    builder.attachmentList = attach;
    result = composeMessage(builder, source, sink, opener);
    return sink.text();
  }

  FixedClock clock;
  MessageBuilder builder;
  MapOpener opener;
  ComposeResult result;
};

// The messages both ISO-2022-JP values write alike: the classic builder's
// bytes, with the default and with "ISO-2022-JP-EXT".
class MessageBuilderTest : public BuilderFixture, public ::testing::WithParamInterface<MessageCharset> {
 protected:
  MessageBuilderTest() : BuilderFixture(GetParam()) {}
};
INSTANTIATE_TEST_SUITE_P(Iso2022Jp, MessageBuilderTest,
                         ::testing::Values(MessageCharset::kIso2022Jp, MessageCharset::kIso2022JpExt));

// The classic builder's bytes where the default writes others: with
// "ISO-2022-JP-EXT" they stay.
class ClassicBuilderTest : public BuilderFixture {
 protected:
  ClassicBuilderTest() : BuilderFixture(MessageCharset::kIso2022JpExt) {}
};

// The default: whole words, RFC 2231 file names, JIS X 0208.
class DefaultBuilderTest : public BuilderFixture {
 protected:
  DefaultBuilderTest() : BuilderFixture(MessageCharset::kIso2022Jp) {}
};

TEST_P(MessageBuilderTest, SinglePartJapaneseMail) {
  const std::string text = Compose(
      "To: hanako@example.jp\n"
      "Subject: テスト\n"
      "----------------\n"
      "日本語\n");
  EXPECT_EQ(result.failure, ComposeFailure::kNone);
  EXPECT_EQ(text, std::string(kGenerated) +
                      "To: hanako@example.jp\n"
                      "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\n" +
                      kSinglePart + "\x1b$BF|K\\8l\x1b(B\n.\n");
  EXPECT_EQ(builder.recipients, " hanako@example.jp\n");
  EXPECT_TRUE(builder.boundary.empty());
}

TEST_P(MessageBuilderTest, EmptyLineEndsTheHeaderLikeDashes) {
  const std::string dashes = Compose("To: a@x.jp\n-\nbody\n");
  const std::string empty = Compose("To: a@x.jp\n\nbody\n");
  EXPECT_EQ(dashes, empty);
  EXPECT_EQ(empty, std::string(kGenerated) + "To: a@x.jp\n" + kSinglePart + "body\n.\n");
}

TEST_P(MessageBuilderTest, JapaneseDisplayNameIsEncoded) {
  builder.identity.displayName = "山田";
  const std::string text = Compose("To: a@x.jp\n\n");
  EXPECT_NE(text.find("From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <taro@example.jp>\n"),
            std::string::npos);
  builder.identity.displayName = "";
  EXPECT_NE(Compose("To: a@x.jp\n\n").find("From:  <taro@example.jp>\n"), std::string::npos);
}

TEST_P(MessageBuilderTest, DroppedHeadersAndTheirContinuations) {
  const std::string text = Compose(
      "To: a@x.jp\n"
      "Bcc: secret@x.jp,\n"
      "\thidden@x.jp\n"
      "From: someone@else.jp\n"
      " (continued)\n"
      "Date: Tue, 02 Jan 2001 00:00:00 +0000\n"
      "Message-ID: <own@id>\n"
      "content-type: text/html\n"
      "Content-Transfer-Encoding: 8bit\n"
      "X-zel-Folder: inbox\n"
      "X-Mailer: host\n"
      "  continued\n"
      "\n"
      "x\n");
  EXPECT_EQ(text, std::string(kGenerated) +
                      "To: a@x.jp\n"
                      "X-Mailer: host\n"
                      "  continued\n" +
                      kSinglePart + "x\n.\n");
  EXPECT_EQ(NormaliseRecipients(builder.recipients), "a@x.jp,secret@x.jp,hidden@x.jp");
}

TEST_P(MessageBuilderTest, BareCcIsDroppedAndANamedOneKept) {
  const std::string text = Compose("To: a@x.jp\nCc: \nCc: b@x.jp\n\n");
  EXPECT_EQ(text, std::string(kGenerated) + "To: a@x.jp\nCc: b@x.jp\n" + kSinglePart + ".\n");
  EXPECT_EQ(NormaliseRecipients(builder.recipients), "a@x.jp,b@x.jp");
}

TEST_P(MessageBuilderTest, DotStuffingAndFinalLineFeed) {
  const std::string text = Compose("To: a@x.jp\n\n.x\n.\nend");
  EXPECT_EQ(text, std::string(kGenerated) + "To: a@x.jp\n" + kSinglePart + "..x\n..\nend\n.\n");
}

// Send-file lines a hostile or careless host may write: each header line
// of the message begins with a field name or a blank, and a CR alone ends a
// line wherever it stands.
TEST_P(MessageBuilderTest, SendFileLinesKeepToTheirFields) {
  struct Case {
    std::string sendFile, header, body, recipients;
  };
  const Case cases[] = {
      // Lines without a field name continue the field before.
      {"To: a@x.jp\nSubject: s\n.\n.x\nBcc: b@x.jp\nc@x.jp\n\nb\n",
       "To: a@x.jp\nSubject: s\n .\n .x\n", "b\n", "a@x.jp,b@x.jp,c@x.jp"},
      // A CR alone ends the line: the Bcc is a field of its own, the lone
      // "." a body line of its own.
      {"To: a@x.jp\rBcc: b@x.jp\rSubject: s\r\rbody\r.\r\nend", "To: a@x.jp\nSubject: s\n",
       "body\n..\nend\n", "a@x.jp,b@x.jp"},
      {"Subject: s\r\n.\r", "Subject: s\n .\n", "", ""},
      // NUL bytes are dropped; a line of NULs alone is an empty line.
      {"To: a@\0x.jp\n\0Subject: s\n\0\nb\0c\n"s, "To: a@x.jp\nSubject: s\n",
       "bc\n", "a@x.jp"},
      // A continuation before any field, or of blanks alone, is left out.
      {" hidden\nTo: a@x.jp\n \t\n\n", "To: a@x.jp\n", "", "a@x.jp"},
  };
  for (const Case& c : cases) {
    const std::string text = Compose(c.sendFile);
    EXPECT_EQ(text, kGenerated + c.header + kSinglePart + c.body + ".\n") << c.sendFile;
    EXPECT_EQ(NormaliseRecipients(builder.recipients), c.recipients) << c.sendFile;
  }
}

// A header line longer than the gather limit is encoded in parts: a part
// never ends on a fold, so the text after it never starts a line alone.
TEST_P(MessageBuilderTest, LongHeaderLinePartsNeverEndOnAFold) {
  // The first part is 65 reads of 1,023 bytes; its last byte is a blank
  // where the estimate has long passed 1,000.
  const std::size_t partSize = 65 * (kSendFileReadSize - 1);
  std::string subject = "Subject: " + std::string(partSize - 10, 'a') + " .\n";
  std::string text = Compose("To: a@x.jp\n" + subject + "\n");
  EXPECT_NE(text.find("\n" + subject), std::string::npos);
  EXPECT_EQ(DataStreamFault(text), "");
  // Words: the folds run on from part to part, every physical line stays
  // near the estimate.
  subject = "Subject:";
  while (subject.size() < 3 * kHeaderGatherLimit) subject += " word";
  text = Compose("To: a@x.jp\n" + subject + "\n\n");
  EXPECT_EQ(DataStreamFault(text), "");
  std::size_t longest = 0;
  for (std::size_t at = 0, lf; (lf = text.find('\n', at)) != std::string::npos; at = lf + 1) {
    longest = std::max(longest, lf - at);
  }
  EXPECT_LT(longest, static_cast<std::size_t>(kFoldEstimate) + 10);
}

// Attachment names cannot add parameters or lines to the part header.
TEST_F(ClassicBuilderTest, AttachmentNamesAreQuoted) {
  const std::pair<std::string, std::string> cases[] = {
      {"x.txt\"; filename*=utf-8''evil.exe; a=\"", "x.txt\\\"; filename*=utf-8''evil.exe; a=\\\""},
      {"a\rb.\x01" "c\x7F.txt", "ab.c.txt"},
      // 表 (0x95 0x5C) is a character, its trail byte no backslash.
      {"表.txt", "=?ISO-2022-JP?B?GyRCST0bKEI=?=.txt"},
#ifndef _WIN32
      {"a\\b.txt", "a\\\\b.txt"},
#endif
  };
  for (const auto& [name, quoted] : cases) {
    opener.files[name] = "abc";
    const std::string text = Compose("To: a@x.jp\n\n", name);
    EXPECT_NE(text.find("Content-Disposition: attachment; filename=\"" + quoted + "\"\n\nYWJj\n"),
              std::string::npos)
        << text;
  }
}

TEST_P(MessageBuilderTest, LineBreaksInTheIdentityNeverSplitGeneratedLines) {
  // The domain is the mail address after "@" and the names come from the
  // host: a line feed in one must not put a lone "." line into the header.
  builder.identity = {"my\rhost", "example.jp\n.\nQUIT", "Taro\n.\nYamada", "taro@ex\r\n.\r\nx"};
  const std::string text = Compose("To: a@x.jp\n\nb\n");
  EXPECT_EQ(text.find("\n.\n"), text.size() - 3) << text;
  EXPECT_EQ(text.find('\r'), std::string::npos) << text;
  EXPECT_NE(text.find("Message-Id: <200101011200.0000ABCD.00001234@myhost.example.jp.QUIT>\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("From: Taro.Yamada <taro@ex.x>\n"), std::string::npos) << text;
}

TEST_P(MessageBuilderTest, HeaderWithoutSeparatorOrFinalLineFeed) {
  const std::string text = Compose("To: a@x.jp\nSubject: s");
  EXPECT_EQ(text, std::string(kGenerated) + "To: a@x.jp\nSubject: s\n" + kSinglePart + ".\n");
}

TEST_P(MessageBuilderTest, AttachmentFromTheSendFile) {
  opener.files["/home/taro/docs/a.bin"] = "abc";
  const std::string text =
      Compose("To: a@x.jp\nX-AttachmentFile: /home/taro/docs/a.bin \n\nbody\n");
  EXPECT_EQ(result.failure, ComposeFailure::kNone);
  EXPECT_EQ(text, std::string(kGenerated) + "To: a@x.jp\n" + kMultipart + "body\n" +
                      PartHeader("a.bin") + "YWJj\n" + kClosing + ".\n");
  EXPECT_EQ(builder.boundary, kBoundary);
}

TEST_P(MessageBuilderTest, AttachmentsFromTheArgumentInListOrder) {
  opener.files["one"] = "a";
  opener.files["dir/two"] = "ab";
  opener.files["three"] = "abc";
  const std::string text = Compose("To: a@x.jp\nX-AttachmentFile: three\n\n", "one\t\tdir/two\n");
  EXPECT_EQ(text, std::string(kGenerated) + "To: a@x.jp\n" + kMultipart + PartHeader("one") +
                      "YQ==\n" + PartHeader("two") + "YWI=\n" + PartHeader("three") + "YWJj\n" +
                      kClosing + ".\n");
}

TEST_P(MessageBuilderTest, EmptyAnd55ByteAttachments) {
  std::string bytes;
  for (int i = 0; i < 55; ++i) bytes += static_cast<char>(i);
  opener.files["empty"] = "";
  opener.files["b55"] = bytes;
  const std::string text = Compose("To: a@x.jp\n\n", "empty\tb55");
  EXPECT_EQ(text, std::string(kGenerated) + "To: a@x.jp\n" + kMultipart + PartHeader("empty") +
                      PartHeader("b55") +
                      "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1\n"
                      "Ng==\n" +
                      kClosing + ".\n");
}

TEST_P(MessageBuilderTest, LargeAttachmentLinesAre72Characters) {
  std::string bytes(kAttachmentLineBytes * kAttachmentLinesPerRead * 2 + 10, 'z');
  opener.files["big"] = bytes;
  const std::string text = Compose("To: a@x.jp\n\n", "big");
  const std::size_t start = text.find("\n\n", text.find("filename=")) + 2;
  const std::size_t end = text.find("\n\n--", start);
  std::size_t lines = 0;
  for (std::size_t pos = start; pos < end; ++lines) {
    const std::size_t lf = text.find('\n', pos);
    EXPECT_EQ(lf - pos, lf + 1 < end ? 72u : 16u);
    pos = lf + 1;
  }
  EXPECT_EQ(lines, kAttachmentLinesPerRead * 2 + 1);
}

TEST_F(ClassicBuilderTest, JapaneseFileNameIsOneEncodedWord) {
  opener.files["/tmp/テスト"] = "abc";
  const std::string text = Compose("To: a@x.jp\n\n", "/tmp/テスト");
  EXPECT_NE(text.find("filename=\"=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\"\n"), std::string::npos);
}

// The charset follows the text: ISO-2022-JP where it carries all of it (an
// IBM extension with an equivalent written as that), else the whole message
// in UTF-8; the options CHARSET and SENDFILECHARSET.
TEST_F(ClassicBuilderTest, CharsetFollowsTheText) {
  EXPECT_EQ(Compose("To: a@x.jp\nSubject: \xFA\x58\n\n\xFA\x5B\xFA\x4B\xEE\xF9\n"),
            Compose("To: a@x.jp\nSubject: \x87\x8A\n\n\x81\xE6\x87\x55\x81\xCA\n"));
  EXPECT_FALSE(builder.utf8());
  struct Case {
    std::string sendFile;
    SendFileCharset in;
    MessageCharset option;
    std::string subject, body;  // the Subject line and the body's UTF-8 text
  };
  const Case cases[] = {
      // 髙 of the IBM extensions, in the body only.
      {"To: a@x.jp\nSubject: s\n\n\xFB\xFC\n", SendFileCharset::kShiftJis,
       MessageCharset::kIso2022JpExt, "Subject: s\n", U8(u8"髙\r\n")},
      // 﨑 of the NEC-selected extensions; the user-defined area.
      {"To: a@x.jp\nSubject: \xED\x95 a\n\n\xF0\x40", SendFileCharset::kShiftJis,
       MessageCharset::kIso2022JpExt, "Subject: " + Utf8Word(U8(u8"﨑")) + " a\n", U8(u8"\ue000\r\n")},
      // CHARSET UTF-8; half-width katakana stay as written.
      {"To: a@x.jp\nSubject: テスト ｶﾅ\n\n本文\n", SendFileCharset::kShiftJis,
       MessageCharset::kUtf8, "Subject: " + Utf8Word(U8(u8"テスト ｶﾅ")) + "\n", U8(u8"本文\r\n")},
      // A UTF-8 send file with emoji, Hangul and accented Latin.
      {U8(u8"To: a@x.jp\nSubject: 😀 한국어 café\n\n😀\nline 2"), SendFileCharset::kUtf8,
       MessageCharset::kIso2022JpExt,
       "Subject: " + Utf8Word(U8(u8"😀 한국어")) + " caf" + Utf8Word(U8(u8"é")) + "\n",
       U8(u8"😀\r\nline 2\r\n")},
  };
  for (const Case& c : cases) {
    builder.sendFileCharset = c.in;
    builder.charset = c.option;
    EXPECT_EQ(Compose(c.sendFile), kGenerated + ("To: a@x.jp\n" + c.subject) +
                                       Utf8Mime(kSinglePart) + Base64Lines(c.body) + ".\n")
        << c.sendFile;
    EXPECT_TRUE(builder.utf8());
  }
  // A UTF-8 send file ISO-2022-JP carries (a byte-order mark first) gives
  // the message of the Shift-JIS one.
  builder.charset = MessageCharset::kIso2022JpExt;
  const std::string fromUtf8 = Compose("\xEF\xBB\xBF" + U8(u8"To: a@x.jp\nSubject: テスト\n\n本文\n"));
  builder.sendFileCharset = SendFileCharset::kShiftJis;
  EXPECT_EQ(fromUtf8, Compose("To: a@x.jp\nSubject: テスト\n\n本文\n"));
}

// The display name and the attachment names count too; a message begun in
// ISO-2022-JP is composed anew with the caller's attachment list.
TEST_F(ClassicBuilderTest, NamesBeyondIso2022JpMakeTheMessageUtf8) {
  builder.identity.displayName = "\xFB\xFC橋 一郎";
  opener.files["/tmp/\xFB\xFC.txt"] = "abc";
  opener.files["one"] = "a";
  const std::string text = Compose("To: a@x.jp\nX-AttachmentFile: /tmp/\xFB\xFC.txt\n\nb\n", "one");
  const std::string generated = std::string(kGenerated).replace(
      std::string(kGenerated).find("Taro Yamada"), 11, Utf8Word(U8(u8"髙橋 一郎")));
  EXPECT_EQ(text, generated + "To: a@x.jp\n" + Utf8Mime(kMultipart) + Base64Lines("b\r\n") +
                      PartHeader("one") + "YQ==\n" + PartHeader(Utf8Word(U8(u8"髙")) + ".txt") +
                      "YWJj\n" + kClosing + ".\n");
  EXPECT_EQ(builder.attachmentList, "one\t/tmp/\xFB\xFC.txt");
}

// A line of a UTF-8 send file that is no UTF-8 stops the build: the step and
// the line (CR, LF and CR LF end lines) are reported.
TEST_P(MessageBuilderTest, LinesThatAreNoUtf8StopTheBuild) {
  struct Case {
    std::string sendFile;
    ComposeFailure failure;
    std::size_t line;
  };
  const Case cases[] = {
      {"To: a@x.jp\nSubject: \xE6\x97\n\nb\n", ComposeFailure::kHeader, 2},
      {"To: a@x.jp\r\n\r\nline\r\n\xC0\xAF\r\n", ComposeFailure::kBody, 4},  // overlong "/"
      {"To: a@x.jp\r\rx\n" + std::string(1500, 'a') + "\xED\xA0\x80\n", ComposeFailure::kBody, 4},
      {"To: a@x.jp\n\nend \xE6\x97", ComposeFailure::kBody, 3},  // cut by the end of the file
      // Found after the restart that the emoji asked for.
      {U8(u8"To: a@x.jp\nSubject: 😀\n\n") + "\xFF\n", ComposeFailure::kBody, 4},
  };
  builder.sendFileCharset = SendFileCharset::kUtf8;
  for (const Case& c : cases) {
    Compose(c.sendFile);
    EXPECT_EQ(result.failure, c.failure) << c.sendFile;
    EXPECT_EQ(result.invalidLine, c.line) << c.sendFile;
  }
}

// The default writes whole encoded words (the ASCII beside a run inside its
// word, blanks between two words inside the first; no address or quote in
// a word), file names that are not ASCII in RFC 2231 form with the word in
// Content-Type, and ISO-2022-JP of JIS X 0208 alone: NEC row 13 makes the message UTF-8,
// its doubles of JIS X 0208 symbols go as those.
TEST_F(DefaultBuilderTest, WholeWordsRfc2231NamesAndJisX0208) {
  builder.identity.displayName = "ABC商事 山田";
  const std::string name = "report_2024Q2_見積.xlsx";
  const std::string longName = "議事録（第3回）議事録（第3回）議事録（第3回）議事録（第3回）.pdf";
  opener.files[name] = "abc";
  opener.files["/tmp/" + longName] = "";
  std::string text = Compose(
      "To: 山田<a@x.jp>, \"鈴木 花子\" <b@x.jp>\nSubject: 会議のご案内 第3回 (Re:資料) 2024\n\nbody\n",
      name + "\t/tmp/" + longName);
  const std::string pct = "report_2024Q2_%E8%A6%8B%E7%A9%8D.xlsx";
  std::string generated = kGenerated;
  generated.replace(generated.find("Taro Yamada"), 11, JisWord("ABC商事 山田"));
  const std::string first = generated + "To: " + JisWord("山田") + "<a@x.jp>, \"" + JisWord("鈴木 花子") +
                            "\" <b@x.jp>\nSubject: " + JisWord("会議のご案内 第3回 (Re:資料)") + " 2024\n" +
                            kMultipart + "body\n" + "\n----------3A4FF2B00000ABCD\n" +
                            "Content-Type: application/octet-stream;\n name=\"" + JisWord(name) +
                            "\"\nContent-Transfer-Encoding: base64\n" +
                            "Content-Disposition: attachment;\n filename*=UTF-8''" + pct + "\n\nYWJj\n";
  EXPECT_EQ(text.substr(0, first.size()), first);
  // The long name in pieces of lines under 78 characters, which the
  // receiving side joins back into the name.
  const std::size_t at = text.find("Content-Disposition", first.size());
  const std::string field = text.substr(at, text.find("\n\n", at) - at);
  EXPECT_NE(field.find("attachment;\n filename*0*=UTF-8''%E8%AD%B0"), std::string::npos) << field;
  EXPECT_NE(field.find(";\n filename*2*="), std::string::npos) << field;
  for (std::size_t from = 0, lf = 0; lf != std::string::npos; from = lf + 1) {
    lf = field.find('\n', from);
    EXPECT_LT(field.substr(from, lf - from).size(), 78u);
  }
  EXPECT_EQ(mimeParameter(field, "filename"), longName);

  // ≒ of row 13 goes as ≒ of JIS X 0208; ① makes the message UTF-8, with
  // whole words there too.
  EXPECT_EQ(Compose("To: a@x.jp\nSubject: \x87\x90\n\n"), Compose("To: a@x.jp\nSubject: \x81\xE0\n\n"));
  EXPECT_FALSE(builder.utf8());
  text = Compose("To: a@x.jp\nSubject: 第3回①\n\n①\n");
  EXPECT_TRUE(builder.utf8());
  EXPECT_NE(text.find("Subject: " + Utf8Word(U8(u8"第3回①")) + "\n"), std::string::npos) << text;
  builder.charset = MessageCharset::kUtf8;
  text = Compose("To: a@x.jp\nSubject: UTF-8テスト abc\n\n", name);
  EXPECT_NE(text.find("Subject: " + Utf8Word(U8(u8"UTF-8テスト")) + " abc\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" name=\"" + Utf8Word(U8(u8"report_2024Q2_見積.xlsx")) + "\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" filename*=UTF-8''" + pct + "\n\n"), std::string::npos) << text;
}

TEST(AttachmentFileName, LastComponentOnly) {
  EXPECT_EQ(AttachmentFileName("/a/b/c.txt", false), "c.txt");
  EXPECT_EQ(AttachmentFileName("c.txt", false), "c.txt");
  EXPECT_EQ(AttachmentFileName("C:\\mail\\c.txt", false), "C:\\mail\\c.txt");
  EXPECT_EQ(AttachmentFileName("C:\\mail\\c.txt", true), "c.txt");
  EXPECT_EQ(AttachmentFileName("C:/mail/c.txt", true), "c.txt");
  // 表 is 0x95 0x5C: its trail byte is no separator.
  EXPECT_EQ(AttachmentFileName("C:\\dir\\表.txt", true), "表.txt");
  EXPECT_EQ(AttachmentFileName("表", true), "表");
}

TEST_P(MessageBuilderTest, LongBccLineNeverReachesTheMessage) {
  std::string line = "Bcc: ";
  int count = 0;
  while (line.size() < 3000) line += "user" + std::to_string(count++) + "@example.jp, ";
  const std::string text = Compose("To: a@x.jp\n" + line + "\nSubject: s\n\n");
  EXPECT_EQ(text, std::string(kGenerated) + "To: a@x.jp\nSubject: s\n" + kSinglePart + ".\n");
  std::string expected = "a@x.jp";
  for (int i = 0; i < count; ++i) expected += ",user" + std::to_string(i) + "@example.jp";
  EXPECT_EQ(NormaliseRecipients(builder.recipients), expected);
}

TEST_P(MessageBuilderTest, LongLinesKeepTheirCharactersAndLineStarts) {
  // Body: 1,022 ASCII bytes then 日本: the first read ends inside 日.
  // A piece that starts with "." inside a line is no line start.
  const std::string body1 = std::string(1022, 'a') + "日本\n";
  const std::string body2 = std::string(1023, 'b') + ".c\n";
  // A long dashes line ends the header with all its pieces.
  const std::string text = Compose("To: a@x.jp\n" + std::string(2100, '-') + "\n" + body1 + body2);
  EXPECT_EQ(text, std::string(kGenerated) + "To: a@x.jp\n" + kSinglePart + std::string(1022, 'a') +
                      "\x1b$BF|K\\\x1b(B\n" + std::string(1023, 'b') + ".c\n.\n");
}

TEST_P(MessageBuilderTest, LongSubjectIsOneEncodedLine) {
  std::string subject = "Subject: ";
  for (int i = 0; i < 200; ++i) subject += "日";
  subject += "\n";
  const std::string text = Compose("To: a@x.jp\n" + subject + "\n");
  // 200 characters in one run: one encoded word, no fold below the estimate.
  const std::size_t start = text.find("Subject: =?ISO-2022-JP?B?");
  ASSERT_NE(start, std::string::npos);
  const std::size_t end = text.find('\n', start);
  EXPECT_EQ(text.substr(start, end - start).find("?==?"), std::string::npos);
}

TEST_P(MessageBuilderTest, FailingStepsAreReported) {
  Compose("To: a@x.jp\n\nbody\n", "", 10);
  EXPECT_EQ(result.failure, ComposeFailure::kHeader);

  const std::size_t headerSize = Compose("To: a@x.jp\n\n").size() - 2;
  Compose("To: a@x.jp\n\nbody\n", "", headerSize + 2);
  EXPECT_EQ(result.failure, ComposeFailure::kBody);

  Compose("To: a@x.jp\n\n", "", headerSize);
  EXPECT_EQ(result.failure, ComposeFailure::kBody);  // the end line

  opener.files["a"] = std::string(1000, 'x');
  const std::size_t withPart = Compose("To: a@x.jp\n\n", "a").size();
  Compose("To: a@x.jp\n\n", "a", withPart - 200);
  EXPECT_EQ(result.failure, ComposeFailure::kAttachment);
  EXPECT_EQ(result.path, "a");

  Compose("To: a@x.jp\n\n", "a\tmissing");
  EXPECT_EQ(result.failure, ComposeFailure::kAttachmentOpen);
  EXPECT_EQ(result.path, "missing");

  opener.unreadable["folder"] = "";
  Compose("To: a@x.jp\n\n", "folder");
  EXPECT_EQ(result.failure, ComposeFailure::kAttachment);
  EXPECT_EQ(result.path, "folder");
}

// A sink that holds what is written until the step ends, as the send
// operation's file buffer does: a late failing write (a full disk) is still
// the error of the step whose bytes it carried.
TEST_P(MessageBuilderTest, FailedFlushIsTheErrorOfItsStep) {
  opener.files["a"] = std::string(1000, 'x');
  const std::string whole = Compose("To: a@x.jp\n\nbody\n", "a");
  const std::size_t header = whole.find("body\n");
  const std::size_t body = header + 5;
  const std::size_t part = whole.find("\n----------3A4FF2B00000ABCD--\n");
  struct Case {
    std::size_t room;
    ComposeFailure failure;
  };
  for (const Case& c : {Case{header - 1, ComposeFailure::kHeader},
                        Case{body - 1, ComposeFailure::kBody},
                        Case{part - 1, ComposeFailure::kAttachment},
                        Case{whole.size() - 1, ComposeFailure::kBody}}) {
    MemorySource source("To: a@x.jp\n\nbody\n");
    MemorySink pending;
    std::size_t stored = 0;
    builder.attachmentList = "a";
    result = composeMessage(builder, source, pending, opener, [&] {
      stored = pending.text().size();
      return stored <= c.room;
    });
    EXPECT_EQ(result.failure, c.failure) << "room " << c.room;
  }
}

}  // namespace
}  // namespace zel

namespace zel {
namespace {

// Random send files (long lines, Shift-JIS lead bytes at every position,
// invalid trail bytes, dots, separators, CR and NUL bytes): every message is
// a sound DATA stream (see DataStreamFault).
TEST(MessageBuilderRandom, EveryMessageIsASoundDataStream) {
  FixedClock clock;
  unsigned seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
  };
  const std::string pieces[] = {"\n", ".", "-", "To:", "Bcc:", "X:", " ", "\x93\xFA", "\x81",
                                "\x81)", "a", "\t", "\r", "\0"s};
  for (int round = 0; round < 400; ++round) {
    std::string text;
    const int parts = next() % 400;
    for (int i = 0; i < parts; ++i) {
      if (next() % 50 == 0) text.append(1000 + next() % 1500, static_cast<char>('b' + next() % 3));
      text += pieces[next() % std::size(pieces)];
    }
    MemorySource source(text);
    MemorySink sink;
    compose_test::MapOpener opener;
    MessageBuilder builder(clock);
    builder.identity = {"h", "d", "n", "a@d"};
    builder.charset = round % 2 ? MessageCharset::kIso2022JpExt : MessageCharset::kIso2022Jp;
    const ComposeResult result = composeMessage(builder, source, sink, opener);
    ASSERT_EQ(result.failure, ComposeFailure::kNone);
    EXPECT_EQ(DataStreamFault(sink.text()), "") << "round " << round;
    // Headers and 7bit parts ASCII, a UTF-8 body base64: no 8-bit byte.
    EXPECT_EQ(std::count_if(sink.text().begin(), sink.text().end(),
                            [](char c) { return static_cast<unsigned char>(c) >= 0x80; }),
              0)
        << "round " << round;
  }
}

}  // namespace
}  // namespace zel
