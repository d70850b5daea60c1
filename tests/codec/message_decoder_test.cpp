// Incoming message decoder and reading copy: raw messages written by
// Python's email package (an independent writer), compared byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <string>

#include "codec/header_table.h"
#include "codec/message_decoder.h"
#include "codec/reading_copy.h"
#include "decode_test_support.h"
#include "fixed_clock.h"
#include "memory_streams.h"

namespace zel {
namespace {

using decode_test::AsText;
using test::MemorySink;
using test::MemorySource;

// Writes one raw message per case, as a POP3 server sends it: CR LF line
// ends and leading dots doubled (smtplib.quotedata), no final "." line.
constexpr std::u8string_view kWriter = u8R"py(
import os, sys, smtplib
from email.mime.text import MIMEText
from email.mime.multipart import MIMEMultipart
from email.mime.application import MIMEApplication
from email.header import Header

def save(name, msg, tail=b''):
    data = smtplib.quotedata(msg.as_string()).encode('ascii') + tail
    with open(os.path.join(sys.argv[1], name), 'wb') as f:
        f.write(data)

def jp(text):
    return Header(text, 'iso-2022-jp')

m = MIMEText('本文です\n.\n..二つ\n', 'plain', 'iso-2022-jp')
m['Subject'] = jp('テスト')
m['From'] = jp('山田') .encode() + ' <a@example.jp>'
m['Date'] = 'Tue, 02 Oct 2001 09:05:07 +0900'
save('b.eml', m, b'.\r\nafter the end line\r\n')

m = MIMEText('x', 'plain', 'us-ascii')
m['Subject'] = Header('café au lait', 'iso-8859-1')
save('q.eml', m)

for name, ws in (('fold_blank.eml', ' '), ('fold_tab.eml', '\t')):
    m = MIMEText('x\n', 'plain', 'us-ascii')
    m['Subject'] = Header('日本語の件名です。' * 2, 'iso-2022-jp',
                          header_name='Subject', continuation_ws=ws).encode(maxlinelen=60)
    save(name, m)

m = MIMEMultipart('mixed', boundary='=_b1')
m['Subject'] = jp('テスト')
m['From'] = 'a@example.jp'
m['Date'] = 'Tue, 02 Oct 2001 09:05:07 +0900'
m.attach(MIMEText('本文です\n', 'plain', 'iso-2022-jp'))
a = MIMEApplication(b'hello\n', 'octet-stream')
a.add_header('Content-Disposition', 'attachment', filename='a.txt')
m.attach(a)
m.attach(MIMEApplication(b'\x00\x01', 'octet-stream'))
i = MIMEApplication(b'x', 'octet-stream')
i.add_header('Content-Disposition', 'inline')
m.attach(i)
j = MIMEApplication(b'y', 'octet-stream')
j.add_header('Content-Disposition', 'attachment', filename=jp('添付.txt').encode())
m.attach(j)
save('mixed.eml', m)

m = MIMEMultipart('alternative', boundary='alt')
m['Subject'] = 'plain'
m.attach(MIMEText('text\n', 'plain', 'us-ascii'))
m.attach(MIMEText('<p>text</p>\n', 'html', 'us-ascii'))
save('alt.eml', m)

m = MIMEMultipart('mixed', boundary='nf', **{'report-type': 'x'})
m.attach(MIMEText('t\n', 'plain', 'us-ascii'))
save('notfirst.eml', m)
)py";

class PythonMessages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new std::filesystem::path(decode_test::FreshFolder("zel-decoder"));
#ifndef _WIN32
    ok_ = decode_test::RunPython(*dir_, decode_test::Utf8(kWriter));
#endif
  }
  static void TearDownTestSuite() {
    std::filesystem::remove_all(*dir_);
    delete dir_;
  }
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "the Python message writer runs with the native Linux build only";
#endif
    ASSERT_TRUE(ok_) << "python3 could not write the messages";
  }

  // The raw message `name` as the decoder reads it.
  static std::string Raw(const char* name) { return AsText(decode_test::ReadAll(*dir_ / name)); }

  // The display file of `raw`; `info` receives the capture. Unless the
  // message has words in other charsets, decoding in any charset (DECODE 1)
  // gives the same file.
  static std::string Display(const std::string& raw, MessageInfo& info, bool sameInAnyCharset = true) {
    const std::string display = DisplayIn(DecodeMode::kClassic, raw, info);
    MessageInfo any;
    if (sameInAnyCharset) {
      EXPECT_EQ(DisplayIn(DecodeMode::kAnyCharset, raw, any), display);
    }
    return display;
  }
  static std::string DisplayIn(DecodeMode mode, const std::string& raw, MessageInfo& info) {
    MemorySource in(raw);
    MemorySink out;
    info.clear();
    MessageDecoder decoder(mode);
    EXPECT_EQ(decoder.decodeHeader(in, out, info), 1);
    EXPECT_EQ(decoder.decodeBody(in, out), 1);
    return out.text();
  }

  // The reading copy of the display file `display`.
  static std::string ReadingCopy(const std::string& display) {
    static const FixedClock clock;
    HeaderTable table(clock);
    MemorySource in(display);
    MemorySink out;
    EXPECT_EQ(makeReadingCopy("/mail/zel00001.wml", in, out, table), 1);
    return out.text();
  }

  static inline std::filesystem::path* dir_ = nullptr;
  static inline bool ok_ = false;
};

TEST_F(PythonMessages, IsoB_WordsBodyDotsAndEndLine) {
  MessageInfo info;
  const std::string display = Display(Raw("b.eml"), info);
  EXPECT_EQ(display,
            "Content-Type: text/plain; charset=\"iso-2022-jp\"\n"
            "MIME-Version: 1.0\n"
            "Content-Transfer-Encoding: 7bit\n"
            "X-Subject: =?iso-2022-jp?b?GyRCJUYlOSVIGyhC?=\n"
            "Subject: テスト\n"
            "From: 山田 <a@example.jp>\n"
            "Date: Tue, 02 Oct 2001 09:05:07 +0900\n"
            "\n"
            "本文です\n"
            ".\n"
            "..二つ\n");
  EXPECT_STREQ(info.subject, "Subject: テスト");
  EXPECT_STREQ(info.from, "From: 山田 <a@example.jp>");
  EXPECT_EQ(info.date.tm_year, 101);
  EXPECT_EQ(info.date.tm_mon, 9);
  EXPECT_EQ(info.date.tm_mday, 2);
  EXPECT_EQ(info.date.tm_hour, 9);
  EXPECT_EQ(info.date.tm_min, 5);
  EXPECT_EQ(info.date.tm_sec, 7);

  // Single part: X-MailFile, the table (Date in local time), the body.
  EXPECT_EQ(ReadingCopy(display),
            "X-MailFile: /mail/zel00001.wml\n"
            "Date: Tue, 02 Oct 2001 09:05:07 +0900\n"
            "Subject: テスト\n"
            "From: 山田 <a@example.jp>\n"
            "\n"
            "本文です\n"
            ".\n"
            "..二つ\n");
}

TEST_F(PythonMessages, QWordInAnotherCharsetKeepsItsBytes) {
  MessageInfo info;
  const std::string display = Display(Raw("q.eml"), info, false);
  EXPECT_EQ(display,
            "Content-Type: text/plain; charset=\"us-ascii\"\n"
            "MIME-Version: 1.0\n"
            "Content-Transfer-Encoding: 7bit\n"
            "X-Subject: =?iso-8859-1?q?caf=E9_au_lait?=\n"
            "Subject: caf\xE9_au_lait\n"
            "\n"
            "x\n");  // the line feed the raw body lacked is added
  EXPECT_STREQ(info.from, "");
  EXPECT_EQ(info.date.tm_year, 0);
  // In any charset: converted (é has no Shift-JIS form), "_" a blank.
  EXPECT_NE(DisplayIn(DecodeMode::kAnyCharset, Raw("q.eml"), info).find("\nSubject: caf〓 au lait\n"),
            std::string::npos);
}

TEST_F(PythonMessages, SubjectFoldedWithBlankIsJoined) {
  MessageInfo info;
  const std::string display = Display(Raw("fold_blank.eml"), info);
  EXPECT_NE(display.find("X-Subject: =?iso-2022-jp?b?GyRCRnxLXDhsJE43b0w+JEckOSEjGyhC?= "
                         "=?iso-2022-jp?b?GyRCRnxLXDhsJE43b0w+JEckOSEjGyhC?=\n"
                         "Subject: 日本語の件名です。日本語の件名です。\n\nx\n"),
            std::string::npos)
      << display;
  EXPECT_STREQ(info.subject, "Subject: 日本語の件名です。日本語の件名です。");
}

TEST_F(PythonMessages, SubjectFoldedWithTabStaysTwoLines) {
  MessageInfo info;
  const std::string display = Display(Raw("fold_tab.eml"), info);
  EXPECT_NE(display.find("X-Subject: =?iso-2022-jp?b?GyRCRnxLXDhsJE43b0w+JEckOSEjGyhC?=\n"
                         "Subject: 日本語の件名です。\n"
                         "\t日本語の件名です。\n\nx\n"),
            std::string::npos)
      << display;
  EXPECT_STREQ(info.subject, "Subject: 日本語の件名です。");
  // The reading copy joins the tab continuation, dropping the tab.
  EXPECT_NE(ReadingCopy(display).find("Subject: 日本語の件名です。日本語の件名です。\n"),
            std::string::npos);
}

TEST_F(PythonMessages, MixedTextAndAttachments) {
  MessageInfo info;
  const std::string display = Display(Raw("mixed.eml"), info);
  // MIME structure and base64 pass unchanged; the text part is Shift-JIS.
  EXPECT_NE(display.find("\n\n本文です\n\n--=_b1\n"), std::string::npos);
  EXPECT_NE(display.find("filename=\"=?iso-2022-jp?b?GyRCRTpJVRsoQi50eHQ=?=\"\n\neQ==\n\n--=_b1--\n"),
            std::string::npos);
  EXPECT_EQ(ReadingCopy(display),
            "X-MailFile: /mail/zel00001.wml\n"
            "Date: Tue, 02 Oct 2001 09:05:07 +0900\n"
            "Subject: テスト\n"
            "From: a@example.jp\n"
            "\n"
            "本文です\n"
            "\n"
            "\n--- このメールにはファイルが添付されています ---\n\n"
            "添付: 1 \"a.txt\"\n"
            "添付: 2 \"-*-no-name-*-\"\n"
            "添付: 3 \"-*-inline-*-\"\n"
            "添付: 4 \"添付.txt\"\n");
}

TEST_F(PythonMessages, AlternativeListsTheHtmlPartWithoutName) {
  MessageInfo info;
  EXPECT_EQ(ReadingCopy(Display(Raw("alt.eml"), info)),
            "X-MailFile: /mail/zel00001.wml\n"
            "Date: Mon, 01 Jan 2001 12:00:00 +0900\n"  // none in the message: now
            "Subject: plain\n"
            "From: \n"
            "\n"
            "text\n"
            "\n"
            "\n--- このメールにはファイルが添付されています ---\n\n"
            "添付: 1 \"-*-no-name-*-\"\n");
}

TEST_F(PythonMessages, BoundaryNotFirstParameterIsSinglePart) {
  MessageInfo info;
  const std::string copy = ReadingCopy(Display(Raw("notfirst.eml"), info));
  EXPECT_NE(copy.find("From: \n\n--nf\nContent-Type: text/plain;"), std::string::npos) << copy;
  EXPECT_NE(copy.find("\nt\n\n--nf--\n"), std::string::npos);
  EXPECT_EQ(copy.find("添付"), std::string::npos);
}

// Cases no mail writer produces on purpose, as byte literals.

// The display file of `raw`, the same in both modes.
std::string DisplayOf(const std::string& raw, MessageInfo* info = nullptr) {
  MessageInfo local;
  MemorySource in(raw);
  MemorySink out;
  EXPECT_EQ(decodeHeaderBlock(in, out, info ? *info : local), 1);
  EXPECT_EQ(decodeBodyText(in, out), 1);
  MemorySource again(raw);
  MemorySink any;
  MessageDecoder decoder(DecodeMode::kAnyCharset);
  EXPECT_EQ(decoder.decodeHeader(again, any, local), 1);
  EXPECT_EQ(decoder.decodeBody(again, any), 1);
  EXPECT_EQ(any.text(), out.text());
  return out.text();
}

std::string CopyOf(const std::string& display) {
  const FixedClock clock;
  HeaderTable table(clock);
  MemorySource in(display);
  MemorySink out;
  EXPECT_EQ(makeReadingCopy("d.wml", in, out, table), 1);
  return out.text();
}

constexpr std::string_view kNotice = "\n--- このメールにはファイルが添付されています ---\n\n";

TEST(DecoderEdges, EmptyMessageGivesTheSeparatorOnly) {
  EXPECT_EQ(DisplayOf(""), "\n");
  EXPECT_EQ(DisplayOf("Subject: a"), "X-Subject: a\nSubject: a\n\n");
}

// No control byte of the raw message, nor one the JIS arithmetic would
// make, gives the display file a line the message did not have.
TEST(DecoderEdges, ControlBytesMakeNoLines) {
  const std::pair<std::string, std::string> cases[] = {
      {"Subject: a\rFrom: forged@x\n\n", "X-Subject: a From: forged@x\nSubject: a From: forged@x\n\n"},
      {"Subject: a\x1B[2J\x07\tb\n\n", "X-Subject: a [2J \tb\nSubject: a [2J \tb\n\n"},
      {"X: " + std::string(1100, 'x') + " a\rb\n\n", "X: " + std::string(1100, 'x') + " a b\n\n"},
      {"\n\x1B$B\xB3\x0F\n", "\n\xB3\x0F\n"},
  };
  for (const auto& [raw, display] : cases) EXPECT_EQ(DisplayOf(raw), display);
}

TEST(DecoderEdges, LongBodyLineIsOneLine) {
  // A dot at the start of the second 1,023-byte piece is data, and a piece
  // that is exactly "." is not the end line.
  const std::string first(1023, 'a');
  const std::string raw = "\n" + first + ".x\n" + std::string(1023, 'b') + ".\n..tail\n";
  EXPECT_EQ(DisplayOf(raw), "\n" + first + ".x\n" + std::string(1023, 'b') + ".\n.tail\n");
}

TEST(DecoderEdges, LongHeaderFieldLosesNothing) {
  std::string value;
  for (int i = 0; i < 60; ++i) value += " =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=";
  MessageInfo info;
  const std::string display = DisplayOf("Subject:" + value + "\n\nbody\n", &info);
  // The field is cut after the last blank inside the 1,023-byte work area
  // (before word 29): 28 words are decoded, the rest follows unchanged.
  std::string decoded = "Subject: ";
  for (int i = 0; i < 28; ++i) decoded += "テスト";
  EXPECT_EQ(display, "X-Subject:" + value + "\n" + decoded + value.substr(28 * 35) + "\n\nbody\n");
  EXPECT_EQ(std::string_view(info.subject).rfind("Subject: テストテスト", 0), 0u);
  EXPECT_EQ(std::strlen(info.subject), kInfoSubjectSize - 1);
}

TEST(DecoderEdges, UnfoldsOnBlankOnlyAndKeepsCaptureBounded) {
  MessageInfo info;
  const std::string from(300, 'f');
  EXPECT_EQ(DisplayOf("From: " + from + "\n x\n\tt\n\n", &info),
            "From: " + from + " x\n\tt\n\n");
  EXPECT_EQ(std::strlen(info.from), kInfoFromSize - 1);
}

TEST(DecoderEdges, WriteFailureIsReported) {
  MemorySource in("Subject: a\n\nbody\n");
  MemorySink out(5);
  MessageInfo info;
  EXPECT_EQ(decodeHeaderBlock(in, out, info), 0);
  MemorySource body("\nbody\n");
  MemorySink full(0);
  EXPECT_EQ(decodeBodyText(body, full), 0);
  MemorySource copy("Subject: a\n\nbody\n");
  MemorySink copyOut(30);
  const FixedClock clock;
  HeaderTable table(clock);
  EXPECT_EQ(makeReadingCopy("d.wml", copy, copyOut, table), 0);
}

TEST(ReadingCopyEdges, UnquotedBoundaryIsSinglePart) {
  const std::string copy = CopyOf(
      "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nt\n--b--\n");
  EXPECT_NE(copy.find("\n\n--b\nContent-Type: text/plain\n\nt\n--b--\n"), std::string::npos);
  EXPECT_EQ(copy.find("添付"), std::string::npos);
}

TEST(ReadingCopyEdges, DispositionVariants) {
  const std::string copy = CopyOf(
      "Content-Type: multipart/mixed;\n\tboundary=\"b b\"\n\n"
      "preamble\n--b b\nContent-Type: text/plain\n\ntext\n--B B\n"
      "Content-Type: application/x\nContent-Disposition: attachment;\n filename=\"late.txt\"\n\nA\n"
      "--b b\nContent-Disposition: attachment; filename=\"x\"\n\nB\n"
      "--b b\nContent-Type: image/png\nContent-Disposition: attachment; filename=noquote.png\n\nC\n"
      "--b b--\n");
  EXPECT_EQ(copy.substr(copy.find("\n\n") + 2),
            "text\n" + std::string(kNotice) +
                "添付: 1 \"-*-attachment;-*-\"\n"
                "添付: 1 \"-*-no-content-type-*-\"\n"
                "添付: 2 \"noquote.png\"\n");
}

TEST(ReadingCopyEdges, UnclosedQuoteInDispositionEndsAtTheLineEnd) {
  // Stripping keeps a line feed inside an open quote; the listing line must
  // still be one line.
  const std::string copy = CopyOf(
      "Content-Type: multipart/mixed; boundary=\"q\"\n\n--q\n\n\n"
      "--q\nContent-Type: a/b\nContent-Disposition: attachment; filename=\"open\n\nx\n"
      "--q\nContent-Type: a/b\nContent-Disposition: \"inline\n\ny\n--q--\n");
  EXPECT_EQ(copy.substr(copy.find(kNotice)),
            std::string(kNotice) + "添付: 0 \"-*-no-content-type-*-\"\n"
                                   "添付: 1 \"open\"\n"
                                   "添付: 2 \"-*-\"inline-*-\"\n");
}

TEST(ReadingCopyEdges, OnlyTextPartListsNoContentTypeZero) {
  const std::string copy =
      CopyOf("Content-Type: multipart/mixed; boundary=\"q\"\n\n--q\nContent-Type: text/plain\n\nt\n--q--\nepilogue\n");
  EXPECT_EQ(copy.substr(copy.find("\n\n") + 2),
            "t\n--q--\nepilogue\n" + std::string(kNotice) + "添付: 0 \"-*-no-content-type-*-\"\n");
}

TEST(ReadingCopyEdges, FirstPartNotTextStartsTheListingInItsBody) {
  const std::string copy = CopyOf(
      "Content-Type: multipart/mixed; boundary=\"q\"\n\n--q\nContent-Type: text/html\n\n<p>\n\n"
      "--q\nContent-Type: image/gif\n\nR0lG\n--q--\n");
  EXPECT_EQ(copy.substr(copy.find("\n\n") + 2),
            std::string(kNotice) + "添付: 0 \"-*-no-content-type-*-\"\n添付: 1 \"-*-no-name-*-\"\n");
}

TEST(ReadingCopyEdges, LongFileNameIsCutAtCharacterBoundary) {
  std::string name = "a";
  for (int i = 0; i < 200; ++i) name += "名";  // Shift-JIS: 2 bytes each
  const std::string copy = CopyOf("Content-Type: multipart/mixed; boundary=\"q\"\n\n--q\n\n\n--q\n"
                                  "Content-Type: a/b\nContent-Disposition: attachment; filename=\"" +
                                  name + "\"\n\nx\n");
  // 1 + 129 * 2 = 259 bytes: the last whole character that fits.
  EXPECT_NE(copy.find("添付: 1 \"" + name.substr(0, 259) + "\"\n"), std::string::npos) << copy;
}

}  // namespace
}  // namespace zel
