// Byte-exact messages of the outgoing message builder (lines end LF here;
// the text file stores them CR LF, see the send operation's tests).
#include "codec/message_builder.h"

#include <gtest/gtest.h>

#include <string>

#include "codec/recipient_list.h"
#include "compose_test_streams.h"
#include "fixed_clock.h"
#include "memory_streams.h"

namespace zel {
namespace {

using compose_test::MapOpener;
using test::MemorySink;
using test::MemorySource;

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

class MessageBuilderTest : public ::testing::Test {
 protected:
  MessageBuilderTest() : builder(clock) {
    builder.identity = {"myhost", "example.jp", "Taro Yamada", "taro@example.jp"};
    builder.stamp = {0xABCD, 0x1234};
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

TEST_F(MessageBuilderTest, SinglePartJapaneseMail) {
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

TEST_F(MessageBuilderTest, EmptyLineEndsTheHeaderLikeDashes) {
  const std::string dashes = Compose("To: a@x.jp\n-\nbody\n");
  const std::string empty = Compose("To: a@x.jp\n\nbody\n");
  EXPECT_EQ(dashes, empty);
  EXPECT_EQ(empty, std::string(kGenerated) + "To: a@x.jp\n" + kSinglePart + "body\n.\n");
}

TEST_F(MessageBuilderTest, JapaneseDisplayNameIsEncoded) {
  builder.identity.displayName = "山田";
  const std::string text = Compose("To: a@x.jp\n\n");
  EXPECT_NE(text.find("From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <taro@example.jp>\n"),
            std::string::npos);
  builder.identity.displayName = "";
  EXPECT_NE(Compose("To: a@x.jp\n\n").find("From:  <taro@example.jp>\n"), std::string::npos);
}

TEST_F(MessageBuilderTest, DroppedHeadersAndTheirContinuations) {
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

TEST_F(MessageBuilderTest, BareCcIsDroppedAndANamedOneKept) {
  const std::string text = Compose("To: a@x.jp\nCc: \nCc: b@x.jp\n\n");
  EXPECT_EQ(text, std::string(kGenerated) + "To: a@x.jp\nCc: b@x.jp\n" + kSinglePart + ".\n");
  EXPECT_EQ(NormaliseRecipients(builder.recipients), "a@x.jp,b@x.jp");
}

TEST_F(MessageBuilderTest, DotStuffingAndFinalLineFeed) {
  const std::string text = Compose("To: a@x.jp\n\n.x\n.\nend");
  EXPECT_EQ(text, std::string(kGenerated) + "To: a@x.jp\n" + kSinglePart + "..x\n..\nend\n.\n");
}

TEST_F(MessageBuilderTest, HeaderLinesBeginningWithADotAreStuffedToo) {
  // Unstuffed, the lone "." would end the SMTP data inside the header.
  const std::string text = Compose("To: a@x.jp\n.\n.x\n\nb\n");
  EXPECT_EQ(text, std::string(kGenerated) + "To: a@x.jp\n..\n..x\n" + kSinglePart + "b\n.\n");
}

TEST_F(MessageBuilderTest, LineBreaksInTheIdentityNeverSplitGeneratedLines) {
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

TEST_F(MessageBuilderTest, HeaderWithoutSeparatorOrFinalLineFeed) {
  const std::string text = Compose("To: a@x.jp\nSubject: s");
  EXPECT_EQ(text, std::string(kGenerated) + "To: a@x.jp\nSubject: s\n" + kSinglePart + ".\n");
}

TEST_F(MessageBuilderTest, AttachmentFromTheSendFile) {
  opener.files["/home/taro/docs/a.bin"] = "abc";
  const std::string text =
      Compose("To: a@x.jp\nX-AttachmentFile: /home/taro/docs/a.bin \n\nbody\n");
  EXPECT_EQ(result.failure, ComposeFailure::kNone);
  EXPECT_EQ(text, std::string(kGenerated) + "To: a@x.jp\n" + kMultipart + "body\n" +
                      PartHeader("a.bin") + "YWJj\n" + kClosing + ".\n");
  EXPECT_EQ(builder.boundary, kBoundary);
}

TEST_F(MessageBuilderTest, AttachmentsFromTheArgumentInListOrder) {
  opener.files["one"] = "a";
  opener.files["dir/two"] = "ab";
  opener.files["three"] = "abc";
  const std::string text = Compose("To: a@x.jp\nX-AttachmentFile: three\n\n", "one\t\tdir/two\n");
  EXPECT_EQ(text, std::string(kGenerated) + "To: a@x.jp\n" + kMultipart + PartHeader("one") +
                      "YQ==\n" + PartHeader("two") + "YWI=\n" + PartHeader("three") + "YWJj\n" +
                      kClosing + ".\n");
}

TEST_F(MessageBuilderTest, EmptyAnd55ByteAttachments) {
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

TEST_F(MessageBuilderTest, LargeAttachmentLinesAre72Characters) {
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

TEST_F(MessageBuilderTest, JapaneseFileNameIsOneEncodedWord) {
  opener.files["/tmp/テスト"] = "abc";
  const std::string text = Compose("To: a@x.jp\n\n", "/tmp/テスト");
  EXPECT_NE(text.find("filename=\"=?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\"\n"), std::string::npos);
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

TEST_F(MessageBuilderTest, LongBccLineNeverReachesTheMessage) {
  std::string line = "Bcc: ";
  int count = 0;
  while (line.size() < 3000) line += "user" + std::to_string(count++) + "@example.jp, ";
  const std::string text = Compose("To: a@x.jp\n" + line + "\nSubject: s\n\n");
  EXPECT_EQ(text, std::string(kGenerated) + "To: a@x.jp\nSubject: s\n" + kSinglePart + ".\n");
  std::string expected = "a@x.jp";
  for (int i = 0; i < count; ++i) expected += ",user" + std::to_string(i) + "@example.jp";
  EXPECT_EQ(NormaliseRecipients(builder.recipients), expected);
}

TEST_F(MessageBuilderTest, LongLinesKeepTheirCharactersAndLineStarts) {
  // Body: 1,022 ASCII bytes then 日本: the first read ends inside 日.
  // A piece that starts with "." inside a line is no line start.
  const std::string body1 = std::string(1022, 'a') + "日本\n";
  const std::string body2 = std::string(1023, 'b') + ".c\n";
  // A long dashes line ends the header with all its pieces.
  const std::string text = Compose("To: a@x.jp\n" + std::string(2100, '-') + "\n" + body1 + body2);
  EXPECT_EQ(text, std::string(kGenerated) + "To: a@x.jp\n" + kSinglePart + std::string(1022, 'a') +
                      "\x1b$BF|K\\\x1b(B\n" + std::string(1023, 'b') + ".c\n.\n");
}

TEST_F(MessageBuilderTest, LongSubjectIsOneEncodedLine) {
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

TEST_F(MessageBuilderTest, FailingStepsAreReported) {
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
TEST_F(MessageBuilderTest, FailedFlushIsTheErrorOfItsStep) {
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
// dots, separators): the message always ends with the one "." line, and no
// other line of it is a lone "." (the SMTP server would end the data there).
TEST(MessageBuilderRandom, EveryMessageEndsOnceWithItsDotLine) {
  FixedClock clock;
  unsigned seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) & 0x7FFF;
  };
  const char pieces[][8] = {"\n", ".", "-", "To:", "Bcc:", " ", "\x93\xFA", "\x81", "a", "\t"};
  for (int round = 0; round < 200; ++round) {
    std::string text;
    const int parts = next() % 400;
    for (int i = 0; i < parts; ++i) {
      if (next() % 50 == 0) text.append(1000 + next() % 1500, static_cast<char>('b' + next() % 3));
      text += pieces[next() % (sizeof pieces / sizeof pieces[0])];
    }
    MemorySource source(text);
    MemorySink sink;
    compose_test::MapOpener opener;
    MessageBuilder builder(clock);
    builder.identity = {"h", "d", "n", "a@d"};
    const ComposeResult result = composeMessage(builder, source, sink, opener);
    ASSERT_EQ(result.failure, ComposeFailure::kNone);
    const std::string& message = sink.text();
    ASSERT_TRUE(message.ends_with("\n.\n"));
    const std::size_t at = message.find("\n.\n");
    EXPECT_EQ(at, message.size() - 3)
        << "round " << round << ": " << message.substr(at > 80 ? at - 80 : 0, 160);
  }
}

}  // namespace
}  // namespace zel
