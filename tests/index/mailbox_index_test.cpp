// Mailbox index: records, resuming, marked records, line counting in pieces
// of 3,999 bytes, paths, and the date text under two time zones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <string>

#include "index/index_date.h"
#include "index/mailbox_index.h"
#include "index_support.h"

namespace zel::test {
namespace {

TEST(MailboxIndex, RecordsOfEveryCompleteMessage) {
  ScratchDir dir;
  const std::string mailbox = dir.File("inbox.mbx");
  std::string wide;
  for (int i = 0; i < 600; ++i) wide += "あ";  // 1,200 bytes
  WriteBytes(mailbox,
             OnDisk("junk before the first message\n" +
                    Entry("zel00001", "Message-Id: <a@x>\nSubject: テスト\nFrom: 山田 <a@x>\nTo: b@x\n",
                          "..body\n") +
                    Entry("zel00002", "Subject: a\tb\x01" "c\rd\nFrom: x\t<y>\nMessage-ID: <caps@x>\n", "") +
                    Entry("zel00003", "Message-Id: <t\t1>\nSubject:\nSubject: " + wide + "\n", "body\n") +
                    "X-MailFile: /mail/cut.wml\nSubject: no empty line yet\n"));
  ASSERT_EQ(MakeMailboxIndex(mailbox.c_str()), 1);
  const std::vector<std::string> expected = {
      Record("00000002", "テスト", "山田 <a@x>", "", "<a@x>"),
      Record("00000010", "a b c d", "x <y>", "", ""),
      Record("00000016", wide.substr(0, 998), "", "", "<t\t1>"),
  };
  EXPECT_EQ(TextLines(dir.File("inbox.dir")), expected);
}

TEST(MailboxIndex, ResumesAfterTheLastNumberedRecord) {
  ScratchDir dir;
  const std::string mailbox = dir.File("box.mbx");
  const std::string index = dir.File("box.dir");
  WriteBytes(mailbox, OnDisk(Entry("m1", "Subject: 1\n", "") + Entry("m2", "Subject: 2\n", "x\n") +
                             Entry("m3", "Subject: 3\n", "y\n")));
  ASSERT_EQ(MakeMailboxIndex(mailbox.c_str()), 1);
  ASSERT_EQ(TextLines(index).size(), 3u);
  EXPECT_EQ(MakeMailboxIndex(mailbox.c_str()), 1);  // nothing new
  ASSERT_EQ(TextLines(index).size(), 3u);

  AppendBytes(mailbox, OnDisk(Entry("m4", "Subject: 4\n", "") + Entry("m5", "Subject: 5\n", "")));
  ASSERT_EQ(MakeMailboxIndex(mailbox.c_str()), 1);
  auto lines = TextLines(index);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[3], Record("00000015", "4", "", "", ""));
  EXPECT_EQ(lines[4], Record("00000019", "5", "", "", ""));

  // A marked last record does not count: the update resumes after the one
  // before it and indexes the marked message again.
  std::string text = ReadBytes(index);
  const std::size_t last = text.rfind("00000019");
  ASSERT_NE(last, std::string::npos) << text;  // never a write at npos
  text[last] = '*';
  WriteBytes(index, text);
  ASSERT_EQ(MakeMailboxIndex(mailbox.c_str()), 1);
  lines = TextLines(index);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[5], Record("00000019", "5", "", "", ""));

  // Every record marked: the whole mailbox again.
  WriteBytes(index, OnDisk("*0000001\n*junk\n"));
  ASSERT_EQ(MakeMailboxIndex(mailbox.c_str()), 1);
  EXPECT_EQ(TextLines(index).size(), 7u);

  // A resume point beyond the end (a shorter mailbox): nothing appended.
  WriteBytes(index, OnDisk(Record("00000999", "", "", "", "") + "\n"));
  ASSERT_EQ(MakeMailboxIndex(mailbox.c_str()), 1);
  EXPECT_EQ(TextLines(index).size(), 1u);

  // A cut last line: the records start on a line of their own.
  WriteBytes(index, "*cut");
  ASSERT_EQ(MakeMailboxIndex(mailbox.c_str()), 1);
  lines = TextLines(index);
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "*cut");
  EXPECT_EQ(lines[1], Record("00000001", "1", "", "", ""));
}

TEST(MailboxIndex, LongLinesCountInPiecesAndNeverEndAMessage) {
  ScratchDir dir;
  const std::string mailbox = dir.File("long.mbx");
  // Message 1, lines counted in pieces of 3,999 bytes (CR LF read as LF):
  // 1 X-MailFile; 2-3 a header line of 3,999 bytes (its second piece is a
  // bare line feed, no empty line); 4 Subject; 5 empty; 6-7 a line whose
  // second piece is "." ; 8-9 a line whose second piece starts
  // "X-MailFile:"; 10-85 a line of 300,000 bytes; 86 ".". Message 2: 87.
  const std::string header = "X-Long: " + std::string(3999 - 8, 'h') + "\n" + "Subject: s\n";
  const std::string body = std::string(3999, 'a') + ".\n" + std::string(3999, 'b') + "X-MailFile: fake\n" +
                           std::string(300000, 'c') + "\n";
  WriteBytes(mailbox, OnDisk(Entry("m1", header, body) + Entry("m2", "Subject: t\n", "")));
  ASSERT_EQ(MakeMailboxIndex(mailbox.c_str()), 1);
  EXPECT_EQ(TextLines(dir.File("long.dir")),
            (std::vector<std::string>{Record("00000001", "s", "", "", ""), Record("00000087", "t", "", "", "")}));

  // Resuming counts the same way.
  AppendBytes(mailbox, OnDisk(Entry("m3", "Subject: u\n", "")));
  ASSERT_EQ(MakeMailboxIndex(mailbox.c_str()), 1);
  EXPECT_EQ(TextLines(dir.File("long.dir")).back(), Record("00000091", "u", "", "", ""));
}

// Line numbers of the records of `text` (CR LF already read as LF), counted
// the plain way: every piece of 3,999 bytes a line, only a line's first
// piece classified.
std::vector<std::string> ExpectedNumbers(const std::string& text) {
  std::vector<std::string> numbers;
  long long n = 0;
  int state = 0;  // seeking, header, body
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    const std::string line = text.substr(start, std::min<std::size_t>(end - start, 3999));
    const long long at = n + 1;
    n += static_cast<long long>((end - start + 3998) / 3999);
    start = end;
    if (state == 0 && line.rfind("X-MailFile:", 0) == 0) {
      state = 1;
      char number[32];
      std::snprintf(number, sizeof number, "%08lld", at);
      numbers.push_back(number);
    } else if (state == 1 && line == "\n") {
      state = 2;
    } else if (state == 2 && (line == ".\n" || line == ".")) {
      state = 0;
    }
  }
  return numbers;
}

TEST(MailboxIndex, LineNumbersOfARandomMailboxOfSeveralReads) {
  std::mt19937 random(11);
  const std::size_t lengths[] = {0, 1, 2, 40, 3997, 3998, 3999, 4000, 9000};
  const char* starts[] = {"", ".", "..", ".x", "X-MailFile: in body", "Subject: s"};
  std::string text, disk;
  auto add = [&](const std::string& line) {  // LF in memory; CR LF or LF on disk
    text += line + "\n";
    disk += line + (random() % 4 == 0 ? "\n" : "\r\n");
  };
  while (text.size() < 3 * 1024 * 1024) {
    add("X-MailFile: /mail/m.wml");
    for (int i = random() % 4; i > 0; --i) add("X-Long: " + std::string(lengths[random() % 9], 'h'));
    add("");
    for (int i = random() % 12; i > 0; --i) {
      std::string line = starts[random() % 6] + std::string(lengths[random() % 9], 'b');
      if (random() % 50 == 0) line = std::string(300000, 'c');
      add(line);
    }
    add(".");
    if (random() % 5 == 0) add("junk between messages");
  }
  text += "X-MailFile: /mail/last.wml\n\n.";  // the last end line without its line end
  disk += "X-MailFile: /mail/last.wml\r\n\r\n.";
  ScratchDir dir;
  WriteBytes(dir.File("r.mbx"), disk);
  ASSERT_EQ(MakeMailboxIndex(dir.File("r.mbx").c_str()), 1);
  std::vector<std::string> numbers;
  for (const std::string& record : TextLines(dir.File("r.dir"))) numbers.push_back(record.substr(0, 8));
  EXPECT_EQ(numbers, ExpectedNumbers(text));

  // Resumed after every record but the last few: the same numbers.
  std::string index = ReadBytes(dir.File("r.dir"));
  for (int i = 0; i < 3; ++i) {
    const std::size_t end = index.rfind("\r\n", index.size() - 3);
    ASSERT_NE(end, std::string::npos) << index;
    index.erase(end + 2);
  }
  WriteBytes(dir.File("r.dir"), index);
  ASSERT_EQ(MakeMailboxIndex(dir.File("r.mbx").c_str()), 1);
  numbers.clear();
  for (const std::string& record : TextLines(dir.File("r.dir"))) numbers.push_back(record.substr(0, 8));
  EXPECT_EQ(numbers, ExpectedNumbers(text));
}

TEST(MailboxIndex, PathsAndFolders) {
  ScratchDir dir;
  const std::string mailbox = dir.File("mailbox");
  WriteBytes(mailbox, OnDisk(Entry("m", "Subject: x\n", "")));
  EXPECT_EQ(MakeMailboxIndex(mailbox.c_str()), 1);
  EXPECT_EQ(TextLines(dir.File("mai.dir")).size(), 1u);
  EXPECT_EQ(MakeMailboxIndex(nullptr), 0);
  EXPECT_EQ(MakeMailboxIndex(dir.File("missing.mbx").c_str()), 0);
  EXPECT_EQ(MakeMailboxIndex(dir.Path().c_str()), 0);
  EXPECT_EQ(MakeMailboxIndex(std::string(300, 'x').c_str()), 0);

  const std::string empty = dir.File("empty.mbx");
  WriteBytes(empty, "");
  EXPECT_EQ(MakeMailboxIndex(empty.c_str()), 1);
  EXPECT_EQ(ReadBytes(dir.File("empty.dir")), "");  // created, empty

  EXPECT_EQ(CheckMailFolder(nullptr), 0);
  EXPECT_EQ(CheckMailFolder(dir.File("none").c_str()), 0);
  EXPECT_EQ(CheckMailFolder(mailbox.c_str()), 0);
  EXPECT_EQ(CheckMailFolder(dir.Path().c_str()), 1);
  EXPECT_EQ(ReadBytes(dir.File("mail.dir")), "<missing>");
}

#ifndef _WIN32
TEST(IndexDate, ZoneTableAndLocalOffset) {
  const struct {
    const char* zone;
    const char* value;
    const char* text;
  } cases[] = {
      {"Asia/Tokyo", "Tue, 5 Dec 2000 10:00:00 +0900", "2000/12/05(火) 10:00:00"},
      {"Asia/Tokyo", "5 Dec 00 01:00:00 GMT", "2000/12/05(火) 10:00:00"},
      {"Asia/Tokyo", "1 Jun 2001 12:00:00 -0700", "2001/06/02(土) 04:00:00"},
      {"Asia/Tokyo", "Fri, 1 Jun 2001 12:00:00 EDT", "2001/06/01(金) 12:00:00"},  // not in the table
      {"Asia/Tokyo", "1 Xyz 2001 00:00:00 JST", "2000/12/01(金) 00:00:00"},
      {"Asia/Tokyo", "1 Jan 69 00:00:00 JST", "2069/01/01(火) 00:00:00"},
      {"Asia/Tokyo", "1 Jan 1960 00:00:00 GMT", "1970/01/01(木) 09:00:00"},
      {"Asia/Tokyo", "Mon, 01 Jan 2001", "2001/01/01(月) 00:00:00"},
      {"Asia/Tokyo", "Mon, 01 Jan 2001 1", "2001/01/01(月) 01:00:00"},  // nothing read past the end
      {"America/New_York", "Tue, 5 Dec 2000 10:00:00 +0900", "2000/12/05(火) 10:00:00"},
      {"America/New_York", "5 Dec 00 01:00:00 GMT", "2000/12/04(月) 20:00:00"},
      {"America/New_York", "Sat, 1 Jul 2000 12:00:00 GMT", "2000/07/01(土) 08:00:00"},
      {"America/New_York", "Sat, 1 Jul 2000 12:00:00 EST", "2000/07/01(土) 13:00:00"},
      {"America/New_York", "1 Jan 1960 00:00:00 GMT", "1969/12/31(水) 19:00:00"},
      // One clock per zone: hours already seen, and those where the offset
      // changes, convert as the platform does.
      {"America/New_York", "2 Apr 2000 06:59:59 GMT", "2000/04/02(日) 01:59:59"},
      {"America/New_York", "2 Apr 2000 07:00:00 GMT", "2000/04/02(日) 03:00:00"},
      {"America/New_York", "29 Oct 2000 05:30:00 GMT", "2000/10/29(日) 01:30:00"},
      {"America/New_York", "29 Oct 2000 05:59:59 GMT", "2000/10/29(日) 01:59:59"},
      {"America/New_York", "29 Oct 2000 06:30:00 GMT", "2000/10/29(日) 01:30:00"},
      {"America/New_York", "Sat, 1 Jul 2000 12:59:00 GMT", "2000/07/01(土) 08:59:00"},
  };
  std::unique_ptr<ZoneScope> zone;
  std::unique_ptr<IndexClock> clock;
  std::string zoneName;
  for (const auto& c : cases) {
    if (zoneName != c.zone) {
      zoneName = c.zone;
      zone.reset();
      zone = std::make_unique<ZoneScope>(c.zone);
      clock = std::make_unique<IndexClock>();
    }
    std::string text = "x";
    AppendIndexDate(text, c.value, *clock);
    EXPECT_EQ(text, std::string("x") + c.text) << c.zone << " " << c.value;
  }
}

TEST(IndexDate, RecordsCarryTheConvertedDate) {
  ZoneScope zone("Asia/Tokyo");
  ScratchDir dir;
  const std::string mailbox = dir.File("d.mbx");
  WriteBytes(mailbox, OnDisk(Entry("m", "Date: Tue, 5 Dec 2000 10:00:00 +0900\n", "") +
                             Entry("n", "Date: 5 Dec 00 01:00:00 GMT\n", "")));
  ASSERT_EQ(MakeMailboxIndex(mailbox.c_str()), 1);
  EXPECT_EQ(TextLines(dir.File("d.dir")),
            (std::vector<std::string>{Record("00000001", "", "", "2000/12/05(火) 10:00:00", ""),
                                      Record("00000005", "", "", "2000/12/05(火) 10:00:00", "")}));
}
#endif

}  // namespace
}  // namespace zel::test
