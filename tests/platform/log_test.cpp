#include "platform/log.h"

#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "platform/path.h"
#include "scratch_dir.h"

#ifndef _WIN32
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

#ifndef _WIN32
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
