#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>

#include "platform/file_ops.h"
#include "platform/path.h"
#include "platform/path_charset.h"
#include "platform/temp_file.h"
#include "platform/text_file.h"
#include "scratch_dir.h"

namespace zel {
namespace {

using test::ReadBytes;
using test::ScratchDir;
using test::WriteBytes;

TEST(TempFile, MakeTempNameCreatesDistinctEmptyZelFiles) {
  std::string dir;
  ASSERT_TRUE(TempDirectory(dir));
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), kPathSeparator);
  std::set<std::string> names;
  for (int i = 0; i < 3; ++i) {
    char path[kPathSize] = "garbage";
    ASSERT_EQ(MakeTempName(path), 1);
    const std::string p = path;
    EXPECT_EQ(p.compare(0, dir.size(), dir), 0) << p;
    EXPECT_EQ(std::string(FileNamePart(p)).substr(0, 3), "zel") << p;
    EXPECT_TRUE(PathExists(p));
    EXPECT_EQ(ReadBytes(p), "");
    names.insert(p);
  }
  for (const auto& p : names) EXPECT_TRUE(DeleteFileAt(p));
  EXPECT_EQ(names.size(), 3u);
}

#ifndef _WIN32
TEST(TempFile, UnusableTempDirectoryFailsWithEmptyName) {
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old != nullptr ? old : "";
  setenv("TMPDIR", "/nonexistent-zel-dir", 1);
  char path[kPathSize] = "garbage";
  EXPECT_EQ(MakeTempName(path), 0);
  EXPECT_STREQ(path, "");
  // A directory longer than a path may be is refused, not cut.
  setenv("TMPDIR", ("/" + std::string(300, 'd')).c_str(), 1);
  std::string dir;
  EXPECT_FALSE(TempDirectory(dir));
  if (old != nullptr) setenv("TMPDIR", saved.c_str(), 1); else unsetenv("TMPDIR");
}
#endif

TEST(FileOps, CopyRenameDeleteExistsReplaceTargets) {
  ScratchDir dir;
  const std::string a = dir.File("a"), b = dir.File("b"), c = dir.File("c");
  WriteBytes(a, "first");
  WriteBytes(b, "old content that is longer");
  ASSERT_TRUE(CopyFileReplace(a, b));
  EXPECT_EQ(ReadBytes(b), "first");
  WriteBytes(c, "other");
  ASSERT_TRUE(RenameFileReplace(c, a));
  EXPECT_EQ(ReadBytes(a), "other");
  EXPECT_FALSE(PathExists(c));
  EXPECT_TRUE(PathExists(a));
  EXPECT_FALSE(IsDirectory(a));
  EXPECT_TRUE(IsDirectory(dir.Path()));
  EXPECT_TRUE(DeleteFileAt(a));
  EXPECT_FALSE(DeleteFileAt(a));
  EXPECT_FALSE(CopyFileReplace(dir.File("none"), b));
  EXPECT_EQ(ReadBytes(b), "first");  // a failed copy leaves the target alone
}

// Copying a file onto itself must not cut it to nothing.
TEST(FileOps, CopyOntoItselfIsRefusedAndKeepsTheFile) {
  ScratchDir dir;
  const std::string a = dir.File("a");
  WriteBytes(a, "precious");
  EXPECT_FALSE(CopyFileReplace(a, a));
  EXPECT_EQ(ReadBytes(a), "precious");
  EXPECT_FALSE(CopyFileReplace(a, dir.Path() + kPathSeparator + "." + kPathSeparator + "a"));
  EXPECT_EQ(ReadBytes(a), "precious");
}

#ifndef _WIN32
// A private temporary file moved to the host's path gets the mode of a file
// the host would create there (not 0600), and replaces the old file.
TEST(FileOps, MoveFileToHostGivesTheHostsFileMode) {
  ScratchDir dir;
  char temp[kPathSize] = {};
  ASSERT_EQ(MakeTempName(temp), 1);
  WriteBytes(temp, "message");
  const std::string target = dir.File("dummy.eml");
  WriteBytes(target, "old");
  ASSERT_TRUE(MoveFileToHost(temp, target));
  EXPECT_EQ(ReadBytes(target), "message");
  EXPECT_FALSE(PathExists(temp));
  const mode_t mask = ::umask(022);
  ::umask(mask);
  struct stat st{};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
  EXPECT_FALSE(MoveFileToHost(dir.File("none"), target));
}
#endif

TEST(PathCharset, ShiftJisRoundTripsThroughUtf8) {
  const std::string sjis = "\x95\x5C\x8E\xA6.txt";  // 表示.txt, trail byte 0x5C
  std::string utf8, back;
  ASSERT_TRUE(SjisToUtf8(sjis, utf8));
  EXPECT_EQ(utf8, std::string(reinterpret_cast<const char*>(u8"表示.txt")));
  ASSERT_TRUE(Utf8ToSjis(utf8, back));
  EXPECT_EQ(back, sjis);
}

TEST(PathCharset, UnconvertibleTextFails) {
  std::string out = "x";
  EXPECT_FALSE(SjisToUtf8("\x81", out));  // a lead byte without trail
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(Utf8ToSjis("\xC3\x28", out));  // broken UTF-8
  // U+00E9 has no CP932 form.
  EXPECT_FALSE(Utf8ToSjis(reinterpret_cast<const char*>(u8"\u00e9"), out));
  EXPECT_FALSE(NativePath(std::string("a\0b", 3), out));
}

TEST(PathCharset, JapaneseFileNameIsUsableEverywhere) {
  ScratchDir dir;
  const std::string name = dir.Path() + std::string(1, kPathSeparator) + "\x95\x5C\x8E\xA6.txt";
  TextFile f;
  ASSERT_TRUE(f.Open(name, TextFile::Mode::kWrite));
  ASSERT_TRUE(f.Write("x\n"));
  ASSERT_TRUE(f.Close());
  EXPECT_TRUE(PathExists(name));
#ifndef _WIN32
  // The OS sees the UTF-8 spelling.
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(dir.Path()) /
                                      std::filesystem::path(u8"表示.txt")));
  // A Shift-JIS path that cannot be converted is a failure, not a garbled name.
  EXPECT_FALSE(f.Open(dir.Path() + "/\x81", TextFile::Mode::kWrite));
#endif
  EXPECT_TRUE(DeleteFileAt(name));
}

TEST(Path, SeparatorSearchAndJoin) {
  const std::string sep(1, kPathSeparator);
  EXPECT_EQ(FileNamePart("dir" + sep + "name.txt"), "name.txt");
  EXPECT_EQ(FileNamePart("plain"), "plain");
  EXPECT_EQ(JoinPath("d", "f"), "d" + sep + "f");
  EXPECT_EQ(JoinPath("", "f"), "f");
#ifdef _WIN32
  // 表 ends with the byte 0x5C, which is no separator.
  EXPECT_EQ(FileNamePart("c:\\x\\\x95\x5C.txt"), "\x95\x5C.txt");
  EXPECT_EQ(LastSeparator("\x95\x5C"), std::string_view::npos);
#endif
}

TEST(CodePage, HostTextIsCodePage932) {
  // Under Wine this holds only with LC_ALL=ja_JP.UTF-8.
  EXPECT_EQ(AnsiCodePage(), 932u);
}

}  // namespace
}  // namespace zel
