#include "platform/log.h"

#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "platform/path.h"
#include "scratch_dir.h"

#ifndef _WIN32
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#endif

namespace zel {
namespace {

using test::ReadBytes;
using test::ScratchDir;

TEST(Log, EntryHasStampModuleLineMessageAndCrLf) {
  ScratchDir dir;
  SetLogDirectory(dir.Path());
  const int line = __LINE__ + 1;
  ZEL_LOG(InetPop3, "value %d [%s]", 42, "\x95\x5C");
  SetLogDirectory(std::string(1, 'x') + std::string(300, 'y'));  // too long: ignored
  ZEL_LOG(zelexport, "second");
  const std::string text = ReadBytes(dir.File("zelpost.log"));
  const std::regex entry(
      "\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2} InetPop3\\.cpp (\\d+) value 42 \\[\x95\\\\\\]\r\n"
      "\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2} zelexport\\.cpp \\d+ second\r\n");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(text, m, entry)) << text;
  EXPECT_EQ(std::stoi(m[1]), line);
}

TEST(Log, MissingDirectoryLosesEntriesSilently) {
  ScratchDir dir;
  SetLogDirectory(dir.File("no-such-dir"));
  ZEL_LOG(MailFile, "lost");
  SetLogDirectory(dir.Path());
  ZEL_LOG(MailFile, "kept");
  const std::string text = ReadBytes(dir.File("zelpost.log"));
  EXPECT_EQ(text.find("lost"), std::string::npos);
  EXPECT_NE(text.find("MailFile.cpp"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 6), "kept\r\n");
}

TEST(Log, LongMessageIsWrittenWhole) {
  ScratchDir dir;
  SetLogDirectory(dir.Path());
  const std::string big(5000, 'z');
  ZEL_LOG(InetSmtp, "%s", big.c_str());
  const std::string text = ReadBytes(dir.File("zelpost.log"));
  EXPECT_NE(text.find(big + "\r\n"), std::string::npos);
}

TEST(Log, PeerTextCannotForgeEntries) {
  ScratchDir dir;
  SetLogDirectory(dir.Path());
  ZEL_LOG(InetSmtp, "reply [%s]", "550 no\r\n2005/03/03 09:30:05 InetMail.cpp 1 forged\x1B[2J\x7F\t.");
  const std::string text = ReadBytes(dir.File("zelpost.log"));
  EXPECT_NE(text.find(" reply [550 no  2005/03/03 09:30:05 InetMail.cpp 1 forged [2J  .]\r\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find('\n'), text.size() - 1);
}

#ifndef _WIN32
// Another user may plant a FIFO (which blocked every entry) or a file of
// their own at the log path: nothing waits and nothing is written there.
TEST(Log, PlantedFifoOrForeignFileGetsNothing) {
  ScratchDir dir;
  const std::string path = dir.File("zelpost.log");
  SetLogDirectory(dir.Path());
  ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0);
  const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);  // so an open for writing succeeds
  ASSERT_GE(reader, 0);
  ::alarm(30);  // a blocking open would hang the test, not fail it
  ZEL_LOG(InetPop3, "into the fifo");
  ::alarm(0);
  char byte;
  EXPECT_LE(::read(reader, &byte, 1), 0);
  ::close(reader);

  const passwd* nobody = ::getpwnam("nobody");
  if (::geteuid() != 0 || nobody == nullptr) GTEST_SKIP() << "needs root to plant another user's file";
  std::filesystem::remove(path);
  test::WriteBytes(path, "");
  ASSERT_EQ(::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  ZEL_LOG(InetPop3, "into their file");
  EXPECT_EQ(ReadBytes(path), "");
}

// The default log is per user and private: $XDG_STATE_HOME/zelpost when
// that is absolute, else ~/.local/state/zelpost; missing folders are made
// with mode 0700.
TEST(Log, DefaultPathIsPerUser) {
  ScratchDir dir;
  const char* savedHome = std::getenv("HOME");
  const char* savedState = std::getenv("XDG_STATE_HOME");
  const std::string home = savedHome != nullptr ? savedHome : "", state = savedState != nullptr ? savedState : "";
  struct Case {
    const char* xdgStateHome;  // nullptr: unset
    std::string folder;        // expected, below the scratch folder
  };
  const std::string xdg = dir.File("xdg");
  for (const Case& c : {Case{xdg.c_str(), "xdg/zelpost"}, Case{nullptr, "home/.local/state/zelpost"},
                        Case{"relative", "home/.local/state/zelpost"}}) {
    ::setenv("HOME", dir.File("home").c_str(), 1);
    if (c.xdgStateHome != nullptr) ::setenv("XDG_STATE_HOME", c.xdgStateHome, 1);
    else ::unsetenv("XDG_STATE_HOME");
    std::string path;
    ASSERT_TRUE(DefaultLogPath(path)) << c.folder;
    EXPECT_EQ(path, dir.File(c.folder) + "/zelpost.log");
    for (std::filesystem::path f = dir.File(c.folder); f != dir.Path(); f = f.parent_path()) {
      EXPECT_EQ(std::filesystem::status(f).permissions(), std::filesystem::perms::owner_all) << f;
    }
    std::filesystem::remove_all(dir.File("home"));
  }
  if (savedHome != nullptr) ::setenv("HOME", home.c_str(), 1);
  if (savedState != nullptr) ::setenv("XDG_STATE_HOME", state.c_str(), 1);
  else ::unsetenv("XDG_STATE_HOME");
}

TEST(Log, PlantedSymbolicLinkIsNotFollowed) {
  ScratchDir dir;
  const std::string victim = dir.File("victim");
  test::WriteBytes(victim, "precious");
  std::filesystem::create_symlink(victim, dir.File("zelpost.log"));
  SetLogDirectory(dir.Path());
  ZEL_LOG(InetMail, "attack");
  EXPECT_EQ(ReadBytes(victim), "precious");
}

TEST(Log, NewLogFileIsPrivate) {
  ScratchDir dir;
  SetLogDirectory(dir.Path());
  ZEL_LOG(InetMail, "x");
  const auto perms = std::filesystem::status(dir.File("zelpost.log")).permissions();
  EXPECT_EQ(perms & (std::filesystem::perms::group_all | std::filesystem::perms::others_all),
            std::filesystem::perms::none);
}
#endif

}  // namespace
}  // namespace zel
