// The mailbox step of receive-all (reading copies, list conversion, mailbox
// entries) and the display file names, over files of a scratch folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../platform/scratch_dir.h"
#include "api/inet_mail.h"
#include "platform/text_file.h"
#include "store/display_name.h"

namespace zel {
namespace {

using test::ReadBytes;
using test::WriteBytes;
namespace fs = std::filesystem;

// A display file as receive-all writes it.
std::string Display(const std::string& subject, const std::string& body) {
  return "Message-Id: <" + subject + "@zelpost.test>\r\nSubject: " + subject +
         "\r\nFrom: a@zelpost.test\r\nDate: Tue, 02 Oct 2001 09:05:07 +0900\r\n\r\n" + body;
}

class MailboxStep : public ::testing::Test {
 protected:
  std::string ListLine(const std::string& display, const std::string& subject) {
    return display + "\t2001/10/02 09:05:07\tFrom: a@zelpost.test\tSubject: " + subject + "\r\n";
  }
  test::ScratchDir dir_;
  InetMail session_;
};

TEST_F(MailboxStep, EntriesFollowTheListWithDotRulesAndLongLines) {
  const std::string one = dir_.File("zel00001.wml");
  const std::string two = dir_.File("zel00002.wml");
  WriteBytes(one, Display("one", "first\r\n.\r\n..two dots\r\nlast\r\n"));
  WriteBytes(two, Display("two", ".\r\n"));
  const std::string longSubject(3000, 's');
  const std::string list = dir_.File("list.txt");
  WriteBytes(list, ListLine(one, "one") + "no tab here\r\n" + ListLine(two, longSubject));
  const std::string mailbox = dir_.File("box.mbx");
  WriteBytes(mailbox, "earlier entry\r\n.\r\n");

  ASSERT_EQ(session_.ConvertList(list.c_str()), 1);
  const std::string qmlOne = dir_.File("zel00001.qml");
  const std::string qmlTwo = dir_.File("zel00002.qml");
  // The list names the reading copies; the line without a TAB is gone and
  // the long line is whole.
  EXPECT_EQ(ReadBytes(list), ListLine(qmlOne, "one") + ListLine(qmlTwo, longSubject));
  EXPECT_EQ(ReadBytes(qmlOne).rfind("X-MailFile: " + one + "\r\n", 0), 0u);

  EXPECT_EQ(session_.AppendToMailbox(list.c_str(), mailbox.c_str()), 2);
  const std::string box = ReadBytes(mailbox);
  // Two entries after the earlier one, each its display path, its copy
  // without the copy's own X-MailFile line, and "."; the body line "."
  // never ends an entry.
  EXPECT_EQ(box.rfind("earlier entry\r\n.\r\nX-MailFile: " + one + "\r\nMessage-Id:", 0), 0u);
  EXPECT_NE(box.find("\r\n\r\nfirst\r\n..\r\n..two dots\r\nlast\r\n.\r\nX-MailFile: " + two +
                     "\r\n"),
            std::string::npos);
  EXPECT_EQ(box.substr(box.size() - 9), "\r\n..\r\n.\r\n");
  EXPECT_FALSE(fs::exists(qmlOne));  // appended, then deleted
  EXPECT_FALSE(fs::exists(qmlTwo));
  EXPECT_TRUE(fs::exists(one));      // display files stay
}

TEST_F(MailboxStep, ForeignCopiesAreDotStuffedAndEndedOnTheirOwnLine) {
  // A list line naming a file that is no reading copy of ours.
  struct Case {
    const char* copy;
    const char* entry;
  } cases[] = {
      {"first\r\n.dot\r\n.\r\nlast", "first\r\n..dot\r\n..\r\nlast\r\n.\r\n"},
      {".\r\n", "..\r\n.\r\n"},
      {"x-mailfile: own\r\n.dot\r\n", ".dot\r\n.\r\n"},
      {"", ".\r\n"},
  };
  for (const Case& c : cases) {
    const std::string copy = dir_.File("foreign.qml");
    WriteBytes(copy, c.copy);
    const std::string list = dir_.File("list.txt");
    WriteBytes(list, copy + "\tdate\tfrom\tsubject\r\n");
    const std::string mailbox = dir_.File("box.mbx");
    fs::remove(mailbox);
    EXPECT_EQ(session_.AppendToMailbox(list.c_str(), mailbox.c_str()), 1) << c.copy;
    EXPECT_EQ(ReadBytes(mailbox), "X-MailFile: " + dir_.File("foreign.wml") + "\r\n" + c.entry)
        << c.copy;
  }
}

TEST_F(MailboxStep, FailuresLeaveListDisplayFilesAndMailboxAlone) {
  const std::string one = dir_.File("zel00001.wml");
  WriteBytes(one, Display("one", "body\r\n"));
  const std::string list = dir_.File("list.txt");
  const std::string missing = dir_.File("zel00002.wml");
  const std::string listBytes = ListLine(one, "one") + ListLine(missing, "gone");
  WriteBytes(list, listBytes);
  const std::string mailbox = dir_.File("box.mbx");
  std::snprintf(session_.listFilePath, sizeof session_.listFilePath, "%s", list.c_str());
  std::snprintf(session_.mailboxFilePath, sizeof session_.mailboxFilePath, "%s",
                mailbox.c_str());

  // A display file that cannot be read: the conversion fails, and nothing
  // is appended (the unconverted list names the display files themselves).
  EXPECT_EQ(session_.MailboxStep(nullptr), -1);
  EXPECT_EQ(session_.GetErrorInt(), -1105);
  EXPECT_EQ(ReadBytes(list), listBytes);
  EXPECT_EQ(ReadBytes(one), Display("one", "body\r\n"));
  EXPECT_FALSE(fs::exists(mailbox));
  for (const auto& entry : fs::directory_iterator(dir_.Path())) {
    EXPECT_EQ(entry.path().filename().string().find("list.txt.zel"), std::string::npos);  // no new list left
  }

  // A mailbox in a missing folder: -1104 naming it; copies and display
  // files stay.
  WriteBytes(list, ListLine(one, "one"));
  const std::string noFolder = dir_.File("none/box.mbx");
  std::snprintf(session_.mailboxFilePath, sizeof session_.mailboxFilePath, "%s",
                noFolder.c_str());
  EXPECT_EQ(session_.MailboxStep(nullptr), -1);
  EXPECT_EQ(session_.GetErrorInt(), -1104);
  char text[256];
  session_.GetErrorStr(text, sizeof text);
  EXPECT_NE(std::string(text).find(noFolder), std::string::npos);
  EXPECT_TRUE(fs::exists(dir_.File("zel00001.qml")));
  EXPECT_TRUE(fs::exists(one));
}

#ifndef _WIN32
// The profile counter of the display names, in a profile file of the test.
class DisplayNames : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    had_ = old != nullptr;
    if (had_) saved_ = old;
    fs::create_directories(dir_.File("config"));
    setenv("XDG_CONFIG_HOME", dir_.File("config").c_str(), 1);
  }
  void TearDown() override {
    if (had_) setenv("XDG_CONFIG_HOME", saved_.c_str(), 1); else unsetenv("XDG_CONFIG_HOME");
  }
  test::ScratchDir dir_;
  bool had_ = false;
  std::string saved_;
};

TEST_F(DisplayNames, CounterWrapsAndExistingNamesAreSkipped) {
  WriteBytes(dir_.File("config/zelpost.ini"), "[zelsend]\r\ncount=99998\r\n");
  WriteBytes(dir_.File("zel00000.wml"), "someone else's");
  std::string path;
  TextFile display;
  DisplayNameBlock names;
  ASSERT_EQ(names.Next(dir_.Path(), 1, path, display), 1);
  EXPECT_EQ(path, dir_.File("zel99999.wml"));
  display.Close();
  ASSERT_EQ(names.Next(dir_.Path(), 1, path, display), 1);
  EXPECT_EQ(path, dir_.File("zel00001.wml"));  // zel00000.wml exists: skipped
  display.Close();
  EXPECT_EQ(ReadBytes(dir_.File("zel00000.wml")), "someone else's");
  EXPECT_EQ(ReadBytes(dir_.File("config/zelpost.ini")), "[zelsend]\r\ncount=1\r\n");

  // A missing folder is no name clash.
  EXPECT_EQ(names.Next(dir_.File("none"), 1, path, display), -1);
  EXPECT_EQ(path, dir_.File("none/zel00002.wml"));
}

// A block is reserved before its first name is used and its unused end
// given back at the end, unless another run has reserved after it; two
// blocks never share a number.
TEST_F(DisplayNames, ABlockIsReservedAtOnceAndItsRestGivenBack) {
  const std::string ini = dir_.File("config/zelpost.ini");
  std::string path;
  TextFile display;
  DisplayNameBlock first, second;
  ASSERT_EQ(first.Next(dir_.Path(), 5, path, display), 1);
  EXPECT_EQ(path, dir_.File("zel00001.wml"));
  EXPECT_EQ(ReadBytes(ini), "[zelsend]\r\ncount=5\r\n");
  ASSERT_EQ(first.Next(dir_.Path(), 4, path, display), 1);
  EXPECT_EQ(path, dir_.File("zel00002.wml"));
  first.Release();
  EXPECT_EQ(ReadBytes(ini), "[zelsend]\r\ncount=2\r\n");

  ASSERT_EQ(first.Next(dir_.Path(), 3, path, display), 1);   // 3..5
  ASSERT_EQ(second.Next(dir_.Path(), 2, path, display), 1);  // 6..7
  EXPECT_EQ(path, dir_.File("zel00006.wml"));
  ASSERT_EQ(first.Next(dir_.Path(), 2, path, display), 1);
  EXPECT_EQ(path, dir_.File("zel00004.wml"));
  first.Release();  // another block came after it: 5 stays unused
  EXPECT_EQ(ReadBytes(ini), "[zelsend]\r\ncount=7\r\n");
  second.Release();
  EXPECT_EQ(ReadBytes(ini), "[zelsend]\r\ncount=6\r\n");
}

TEST_F(DisplayNames, UnwritableCounterCreatesNoFile) {
  // A folder in the profile file's place cannot be written, even by root.
  fs::create_directory(dir_.File("config/zelpost.ini"));
  std::string path;
  TextFile display;
  DisplayNameBlock names;
  EXPECT_EQ(names.Next(dir_.Path(), 1, path, display), 0);
  EXPECT_FALSE(display.IsOpen());
  EXPECT_EQ(path, dir_.File("config/zelpost.ini"));
  EXPECT_FALSE(fs::exists(dir_.File("zel00001.wml")));
}
#endif

}  // namespace
}  // namespace zel
