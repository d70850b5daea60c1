// Single-message receive from a dummy file: no network involved.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "api/inet_mail.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zel {
namespace {

class RecvDummy : public ::testing::Test {
 protected:
  void SetUp() override {
    Saved();
    std::random_device random;
    dir_ = std::filesystem::temp_directory_path() /
           ("zel-recv-" + std::to_string(random()) + std::to_string(random()));
    temp_ = dir_ / "tmp";
    std::filesystem::create_directories(temp_);
    // Temporary files of the operation go to a folder of this test alone.
#ifdef _WIN32
    _putenv_s("TMP", (temp_.string() + "\\").c_str());
#else
    setenv("TMPDIR", temp_.c_str(), 1);
#endif
  }
  void TearDown() override {
    std::filesystem::remove_all(dir_);
#ifdef _WIN32
    _putenv_s("TMP", Saved().c_str());
#else
    if (Saved().empty()) {
      unsetenv("TMPDIR");
    } else {
      setenv("TMPDIR", Saved().c_str(), 1);
    }
#endif
  }
  // The temporary folder setting before the tests changed it.
  static const std::string& Saved() {
#ifdef _WIN32
    static const std::string saved = std::getenv("TMP") ? std::getenv("TMP") : "";
#else
    static const std::string saved = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
#endif
    return saved;
  }

  static std::string Bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::size_t TempFiles() const {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(temp_)) ++n;
    return n;
  }
  std::string Path(const char* name) const { return (dir_ / name).string(); }

  std::filesystem::path dir_;
  std::filesystem::path temp_;
  InetMail mail_;
};

TEST_F(RecvDummy, DummyFileBecomesDisplayFile) {
  const std::string raw =
      "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n"
      "From: a@example.jp\r\n"
      "Date: Tue, 02 Oct 2001 09:05:07 +0900\r\n"
      "\r\n"
      "\x1b$BK\\J8\x1b(B\r\n"
      "..dot\r\n"
      ".\r\n"
      "not part of the message\r\n";
  std::ofstream(Path("raw.eml"), std::ios::binary) << raw;
  mail_.SetError(-5, "old");
  EXPECT_EQ(mail_.RecvMailDummy(Path("out.wml").c_str(), Path("raw.eml").c_str()), 1);
  EXPECT_EQ(mail_.GetErrorInt(), 0);
  EXPECT_EQ(Bytes(Path("out.wml")),
            "X-Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n"
            "Subject: テスト\r\n"
            "From: a@example.jp\r\n"
            "Date: Tue, 02 Oct 2001 09:05:07 +0900\r\n"
            "\r\n"
            "本文\r\n"
            ".dot\r\n");
  EXPECT_EQ(Bytes(Path("raw.eml")), raw);  // the dummy file is left alone
  EXPECT_EQ(TempFiles(), 0u);              // the raw temporary file is gone
  EXPECT_STREQ(mail_.messageInfo.subject, "Subject: テスト");
  EXPECT_STREQ(mail_.messageInfo.from, "From: a@example.jp");
  EXPECT_EQ(mail_.messageInfo.date.tm_min, 5);
}

TEST_F(RecvDummy, UnreadableDummyFileIsAnErrorNotAnEmptyMessage) {
  const std::string missing = Path("missing.eml");
  EXPECT_EQ(mail_.RecvMailDummy(Path("out.wml").c_str(), missing.c_str()), 0);
  EXPECT_EQ(mail_.GetErrorInt(), -1201);
  char text[kErrorTextSize];
  mail_.GetErrorStr(text, sizeof text);
  EXPECT_EQ(std::string(text), "受信テンポラリファイルのオープンに失敗 " + missing);
  EXPECT_FALSE(std::filesystem::exists(Path("out.wml")));
  EXPECT_EQ(TempFiles(), 0u);
}

#ifndef _WIN32
// A FIFO (which blocked in open) and a device (which never ends) as the
// dummy file fail as a dummy file that cannot be read.
TEST_F(RecvDummy, SpecialDummyFilesFailAsUnreadable) {
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  ::alarm(30);  // a blocking open would hang the test, not fail it
  for (const std::string& special : {Path("fifo"), std::string("/dev/zero")}) {
    EXPECT_EQ(mail_.RecvMailDummy(Path("out.wml").c_str(), special.c_str()), 0) << special;
    EXPECT_EQ(mail_.GetErrorInt(), -1201) << special;
    EXPECT_EQ(TempFiles(), 0u);
  }
  ::alarm(0);
}
#endif

TEST_F(RecvDummy, DisplayFileInMissingFolderKeepsTheRawFile) {
  std::ofstream(Path("raw.eml"), std::ios::binary) << "Subject: x\r\n\r\nbody\r\n";
  const std::string target = Path("no-such-folder/out.wml");
  EXPECT_EQ(mail_.RecvMailDummy(target.c_str(), Path("raw.eml").c_str()), 0);
  EXPECT_EQ(mail_.GetErrorInt(), -1200);
  char text[kErrorTextSize];
  mail_.GetErrorStr(text, sizeof text);
  EXPECT_EQ(std::string(text), "受信ファイルのオープンに失敗 " + target);
  EXPECT_EQ(TempFiles(), 1u);
}

}  // namespace
}  // namespace zel
