// The send operation without a server: the dummy file on disk, the error
// numbers and texts of each local failure, and the temporary file, which
// never outlives the call.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "../platform/scratch_dir.h"
#include "api/inet_mail.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zel {
namespace {

namespace fs = std::filesystem;

using test::SetTempDir;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

class SendMailTest : public ::testing::Test {
 protected:
  SendMailTest() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::temp_directory_path() / ("zelsend_ops_" + std::string(info->name()));
    fs::remove_all(dir);
    fs::create_directories(dir / "tmp");
    savedTmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    SetTempDir((dir / "tmp").string());
    // No server listens on port 1: every send that reaches SMTP fails.
    session.Initialize("127.0.0.1:1", "127.0.0.1:1", "user", "pass", "taro@example.jp", "Taro");
    session.SetValueInt("POPBEFORESMTP", 0);
    WriteAll(dir / "mail.qml",
             "To: Hanako <hanako@example.jp>\r\nSubject: テスト\r\n\r\n本文\r\n.\r\n");
  }
  ~SendMailTest() override {
    SetTempDir(savedTmp.empty() ? "/tmp" : savedTmp);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }

  std::string Path(const std::string& name) const { return (dir / name).string(); }
  bool TempDirEmpty() const { return fs::is_empty(dir / "tmp"); }

  fs::path dir;
  std::string savedTmp;
  InetMail session;
};

TEST_F(SendMailTest, DummyFileIsTheMessageWithCrLfLines) {
  ASSERT_EQ(session.SendMail(Path("mail.qml").c_str(), nullptr, Path("out.eml").c_str()), 1);
  EXPECT_EQ(session.GetErrorInt(), 0);
  const std::string message = ReadAll(dir / "out.eml");
  EXPECT_EQ(message.rfind("Date: ", 0), 0u);
  for (std::size_t i = 0; (i = message.find('\n', i)) != std::string::npos; ++i) {
    ASSERT_GT(i, 0u);
    ASSERT_EQ(message[i - 1], '\r') << "bare LF at " << i;
  }
  EXPECT_NE(message.find("\r\nFrom: Taro <taro@example.jp>\r\n"), std::string::npos);
  const std::size_t header = message.find("To: Hanako <hanako@example.jp>\r\n"
                                          "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?=\r\n"
                                          "MIME-Version: 1.0\r\n"
                                          "Content-Transfer-Encoding: 7bit\r\n"
                                          "Content-Type: text/plain; charset=iso-2022-jp\r\n"
                                          "\r\n"
                                          "\x1b$BK\\J8\x1b(B\r\n"
                                          "..\r\n"
                                          ".\r\n");
  ASSERT_NE(header, std::string::npos);
  EXPECT_TRUE(message.ends_with("\r\n..\r\n.\r\n"));
  EXPECT_TRUE(TempDirEmpty());
  EXPECT_EQ(session.boundary[0], '\0');
}

TEST_F(SendMailTest, TwoAttachmentsFromATabList) {
  WriteAll(dir / "one.bin", std::string("\x00\x01\x02", 3));
  WriteAll(dir / "two.txt", "ab");
  const std::string list = Path("one.bin") + "\t" + Path("two.txt");
  ASSERT_EQ(session.SendMail(Path("mail.qml").c_str(), list.c_str(), Path("out.eml").c_str()), 1);
  const std::string message = ReadAll(dir / "out.eml");
  const std::string b = session.boundary;
  ASSERT_EQ(b.size(), 24u);
  const std::string part = "\r\n--" + b + "\r\nContent-Type: application/octet-stream\r\n"
                           "Content-Transfer-Encoding: base64\r\n"
                           "Content-Disposition: attachment; filename=\"";
  const std::size_t one = message.find(part + "one.bin\"\r\n\r\nAAEC\r\n");
  const std::size_t two = message.find(part + "two.txt\"\r\n\r\nYWI=\r\n\r\n--" + b + "--\r\n.\r\n");
  EXPECT_NE(one, std::string::npos);
  EXPECT_NE(two, std::string::npos);
  EXPECT_LT(one, two);
  EXPECT_EQ(message.find(dir.string()), std::string::npos) << "a folder name went out";
  EXPECT_TRUE(TempDirEmpty());
}

TEST_F(SendMailTest, UnopenableSendFile) {
  const std::string missing = Path("missing.qml");
  EXPECT_EQ(session.SendMail(missing.c_str(), nullptr, nullptr), 0);
  EXPECT_EQ(session.GetErrorInt(), -1100);
  EXPECT_EQ(std::string(session.errorText), "送信ファイルが開けない [" + missing + "]");
  EXPECT_TRUE(TempDirEmpty());
}

TEST_F(SendMailTest, FolderAsSendFileIsNotSentEmpty) {
  fs::create_directories(dir / "folder.qml");
  EXPECT_EQ(session.SendMail(Path("folder.qml").c_str(), nullptr, Path("out.eml").c_str()), 0);
  EXPECT_EQ(session.GetErrorInt(), -1100);
  EXPECT_FALSE(fs::exists(dir / "out.eml"));
  EXPECT_TRUE(TempDirEmpty());
}

TEST_F(SendMailTest, MissingAttachmentSendsNothing) {
  const std::string missing = Path("nothere.bin");
  EXPECT_EQ(session.SendMail(Path("mail.qml").c_str(), missing.c_str(), Path("out.eml").c_str()),
            0);
  EXPECT_EQ(session.GetErrorInt(), -1104);
  EXPECT_EQ(std::string(session.errorText), "添付ファイル[" + missing + "]がオープンできません");
  EXPECT_FALSE(fs::exists(dir / "out.eml"));
  EXPECT_TRUE(TempDirEmpty());
}

TEST_F(SendMailTest, FolderAsAttachmentEndsWithAnError) {
  fs::create_directories(dir / "folder");
  WriteAll(dir / "mail2.qml", "To: a@x.jp\r\nX-AttachmentFile: " + Path("folder") + "\r\n\r\n");
  EXPECT_EQ(session.SendMail(Path("mail2.qml").c_str(), nullptr, Path("out.eml").c_str()), 0);
  EXPECT_TRUE(session.GetErrorInt() == -1105 || session.GetErrorInt() == -1104)
      << session.GetErrorInt();
  EXPECT_FALSE(fs::exists(dir / "out.eml"));
  EXPECT_TRUE(TempDirEmpty());
}

#ifndef _WIN32
// A FIFO (which blocked in open) and a device (which never ends) fail as
// files that cannot be opened, as the send file and as an attachment.
TEST_F(SendMailTest, SpecialFilesFailAsUnopenable) {
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  ::alarm(30);  // a blocking open would hang the test, not fail it
  for (const std::string& special : {Path("fifo"), std::string("/dev/zero")}) {
    EXPECT_EQ(session.SendMail(special.c_str(), nullptr, Path("out.eml").c_str()), 0);
    EXPECT_EQ(session.GetErrorInt(), -1100) << special;
    EXPECT_EQ(session.SendMail(Path("mail.qml").c_str(), special.c_str(), Path("out.eml").c_str()), 0);
    EXPECT_EQ(session.GetErrorInt(), -1104) << special;
    EXPECT_FALSE(fs::exists(dir / "out.eml"));
    EXPECT_TRUE(TempDirEmpty());
  }
  ::alarm(0);
}
#endif

TEST_F(SendMailTest, FailedDummyCopyIsAnError) {
  const std::string dummy = Path("no/such/folder/out.eml");
  EXPECT_EQ(session.SendMail(Path("mail.qml").c_str(), nullptr, dummy.c_str()), 0);
  EXPECT_EQ(session.GetErrorInt(), -1101);
  EXPECT_EQ(std::string(session.errorText), "送信用テンポラリファイルが開けない [" + dummy + "]");
  EXPECT_TRUE(TempDirEmpty());
}

TEST_F(SendMailTest, UnreachableSmtpServer) {
  EXPECT_EQ(session.SendMail(Path("mail.qml").c_str(), nullptr, nullptr), 0);
  EXPECT_EQ(session.GetErrorInt(), -300);
  EXPECT_EQ(std::string(session.errorText), "SMTP初期化でエラー発生 [127.0.0.1:1]");
  EXPECT_TRUE(TempDirEmpty());
  // A later success clears the error state.
  EXPECT_EQ(session.SendMail(Path("mail.qml").c_str(), "", Path("out.eml").c_str()), 1);
  EXPECT_EQ(session.GetErrorInt(), 0);
  EXPECT_EQ(session.errorText[0], '\0');
}

TEST_F(SendMailTest, UnreachablePop3ServerStopsBeforeSmtp) {
  session.SetValueInt("POPBEFORESMTP", 1);
  EXPECT_EQ(session.SendMail(Path("mail.qml").c_str(), nullptr, nullptr), 0);
  EXPECT_EQ(session.GetErrorInt(), -220);
  EXPECT_EQ(std::string(session.errorText), "POP Before SMTP:POP3認証で失敗");
  EXPECT_TRUE(TempDirEmpty());
}

}  // namespace
}  // namespace zel
