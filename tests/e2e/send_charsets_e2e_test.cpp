// The charsets of the send path end to end: send files of every kind go
// through the library (and zelsend) to the real SMTP server. charset_mail.py
// writes them and reads what arrived with Python's email package and with
// notmuch; this program sends the plan it wrote. Under Wine the send-file
// table runs through the x64 DLL against the same servers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "codec/mail_file.h"
#include "servers.h"
#include "ui/host_part_files.h"
#include "zelpost.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using e2e::TestServers;

#ifdef _WIN32
// The longest a run of charset_mail.py may take.
constexpr int kScriptSeconds = 300;
#endif

// The POSIX form of a path this program names (Z:\... under Wine).
std::string PosixPath(std::string path) {
#ifdef _WIN32
  if (path.rfind("Z:", 0) == 0) path.erase(0, 2);
  std::replace(path.begin(), path.end(), '\\', '/');
#endif
  return path;
}

// Starts /usr/bin/python3 with `args` (words without blanks or quotes); the
// POSIX program also runs from under Wine, which cannot wait for its end.
void StartPython(const std::string& args) {
#ifdef _WIN32
  std::string command = "Z:\\usr\\bin\\python3 " + args;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &process)) {
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
#else
  std::system(("/usr/bin/python3 " + args).c_str());
#endif
}

class SendCharsetsE2e : public ::testing::Test {
 protected:
  // The work folder lies below the servers' folder, a path the Python side
  // reads under Wine too. charset_mail.py makes it anew; under Wine it goes
  // with the servers' folder (removing it from there races with the POSIX
  // programs that use it).
  void SetUp() override {
    if (!e2e::HasServers()) GTEST_SKIP() << "real servers not running";
    e2e::ClearMaildir("alice");
    posixDir = PosixPath(TestServers().dir) + "/charsets-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
#ifndef _WIN32
  void TearDown() override {
    std::error_code ignored;
    if (!posixDir.empty()) fs::remove_all(posixDir, ignored);
  }
#endif

  std::string File(const std::string& name) const { return e2e::LocalPath(posixDir + "/" + name); }

  // charset_mail.py COMMAND with the work folder and `more` arguments; its
  // end is the file COMMAND.status, which holds its exit code.
  void Script(const std::string& command, const std::string& more) {
    const std::string status = File(command + ".status");
    std::error_code absent;
    fs::remove(status, absent);
    StartPython(std::string(ZEL_SOURCE_DIR) + "/tests/e2e/charset_mail.py " + command + " " +
                posixDir + " " + more);
#ifdef _WIN32
    for (int waited = 0; waited < kScriptSeconds * 10 && !fs::exists(status); ++waited) Sleep(100);
#endif
    ASSERT_EQ(e2e::ReadFileBytes(status), "0") << command;
  }

  // Sends every case of plan.tsv as its row says and checks the result of
  // each failing one.
  void SendPlan() {
    std::istringstream plan(e2e::ReadFileBytes(File("plan.tsv")));
    std::string line;
    const e2e::Servers& servers = TestServers();
    while (std::getline(plan, line)) {
      std::vector<std::string> row;
      std::istringstream fields(line);
      for (std::string field; std::getline(fields, field, '\t');) row.push_back(field);
      ASSERT_EQ(row.size(), 5u) << line;
      const std::string number = row[0], charset = row[1], fileCharset = row[2], result = row[4];
      const std::string name = e2e::ReadFileBytes(File("case" + number + ".name"));
      const std::string error = e2e::ReadFileBytes(File("case" + number + ".err"));
      const std::string sendFile = File("case" + number + ".qml");
      if (row[3] == "zelsend") {
        SendWithZelsend(sendFile, name, charset, fileCharset, result, error);
        continue;
      }
      ASSERT_EQ(zelInitialize(servers.Pop3Server().c_str(), servers.SmtpServer().c_str(), "alice",
                              servers.Password("alice").c_str(), "bob@localhost", name.c_str()),
                1);
      zelSetValueInt("POPBEFORESMTP", 0);
      ASSERT_NE(zelSetValueStr("CHARSET", charset.empty() ? "ISO-2022-JP" : charset.c_str()), 0);
      ASSERT_NE(zelSetValueStr("SENDFILECHARSET", fileCharset.empty() ? "SHIFT_JIS" : fileCharset.c_str()), 0);
      const int sent = zelSendMailOne(sendFile.c_str(), nullptr);
      char text[256] = {};
      zelGetErrorStr(text, sizeof text);
      if (result == "sent") {
        EXPECT_EQ(sent, 1) << "case " << number << ": " << text;
      } else {
        EXPECT_EQ(sent, 0) << "case " << number;
        EXPECT_EQ(zelGetErrorInt(), std::stoi(result)) << "case " << number;
        EXPECT_EQ(text, error) << "case " << number;
      }
    }
    zelSetValueStr("CHARSET", "ISO-2022-JP");
    zelSetValueStr("SENDFILECHARSET", "SHIFT_JIS");
  }

  void SendWithZelsend(const std::string& sendFile, const std::string& name,
                       const std::string& charset, const std::string& fileCharset,
                       const std::string& result, const std::string& error) {
#ifdef _WIN32
    (void)sendFile, (void)name, (void)charset, (void)fileCharset, (void)result, (void)error;
    ADD_FAILURE() << "zelsend rows are not planned under Wine";
#else
    fs::create_directories(File("tmp"));
    std::string command = "LC_ALL=C.UTF-8 TMPDIR='" + File("tmp") + "' '" ZEL_BINARY_DIR "/zelsend' -S" +
                          TestServers().SmtpServer() + " -Mbob@localhost '-N" + name + "' -F" + sendFile;
    if (fileCharset == "UTF-8") command += " -u";
    if (!charset.empty()) command += " --charset=" + charset;
    command += " < /dev/null > '" + File("zelsend.out") + "' 2> '" + File("zelsend.err") + "'";
    const int status = std::system(command.c_str());
    const std::string err = e2e::ReadFileBytes(File("zelsend.err"));
    EXPECT_EQ((status >> 8) & 0xFF, result == "sent" ? 0 : std::stoi(result)) << err;
    EXPECT_EQ(err, error);
#endif
  }

  // Each delivered message through zelRecvMailDummy and the part walker:
  // readback/N.wml, the display file, and readback/N.names, the names of
  // its attachments one a line, for charset_mail.py's check.
  void ReadBack() {
    const std::string maildir = PosixPath(TestServers().mailDir) + "/alice";
    fs::create_directories(File("readback"));
    int number = 0;
    for (const char* sub : {"/new", "/cur"}) {
      for (const fs::directory_entry& entry : fs::directory_iterator(e2e::LocalPath(maildir + sub))) {
        const std::string display = File("readback/" + std::to_string(++number) + ".wml");
        ASSERT_EQ(zelRecvMailDummy(display.c_str(), entry.path().string().c_str()), 1) << entry.path();
        HostPartFiles files;
        MailFile mail(files);
        ASSERT_TRUE(mail.open(display));
        mail.parse();
        std::string names;
        char name[kPathSize];
        for (int part = 0; part < mail.partCount(); ++part) {
          if (*mail.partFileName(part, name) != '\0') names.append(name).append("\n");
        }
        mail.close();
        std::FILE* out = std::fopen(File("readback/" + std::to_string(number) + ".names").c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fwrite(names.data(), 1, names.size(), out);
        std::fclose(out);
      }
    }
  }

  // charset_mail.py's check of alice's maildir: "OK" or the problems.
  std::string CheckDelivered() {
    Script("check", PosixPath(TestServers().mailDir) + "/alice");
    return e2e::ReadFileBytes(File("check.out"));
  }

  std::string posixDir;
};

#ifndef _WIN32
// Every character CP932 has in two bytes (9,604 pairs: JIS X 0208, NEC row
// 13, the NEC-selected and IBM extensions, the user-defined area) in the
// Subject, the display name, the body and an attachment name: ISO-2022-JP
// where it carries the group, UTF-8 otherwise, and a few groups with
// CHARSET UTF-8.
TEST_F(SendCharsetsE2e, EveryCp932CharacterArrivesAsWritten) {
  Script("repertoire", e2e::LocalPath(posixDir));
  SendPlan();
  EXPECT_EQ(CheckDelivered(), "OK\n");
}
#endif

// Send files of the kinds a host writes, Shift-JIS and UTF-8, read back by
// Python's email package and notmuch; a send file that is no UTF-8 fails
// with its line and sends nothing.
TEST_F(SendCharsetsE2e, SendFilesArriveAsWritten) {
#ifdef _WIN32
  Script("table", e2e::LocalPath(posixDir));
#else
  Script("table", posixDir + " zelsend");
#endif
  SendPlan();
  EXPECT_EQ(CheckDelivered(), "OK\n");
#ifndef _WIN32
  EXPECT_TRUE(fs::is_empty(File("tmp")));  // zelsend's temporary folder
#endif
}

// One table, four readers: IBM kanji, NEC row 13, ASCII digits between
// Japanese words in the Subject and the file names, a Japanese display name
// after ASCII, a UTF-8 send file with emoji, plain JIS X 0208 and a file
// name in RFC 2231 continuations, each shown as written by Python's email,
// notmuch, mblaze and s-nail, and read back by zelRecvMailDummy and the
// part walker.
TEST_F(SendCharsetsE2e, FourReadersShowEveryFieldAsWritten) {
  Script("readers", e2e::LocalPath(posixDir));
  SendPlan();
  ReadBack();
  EXPECT_EQ(CheckDelivered(), "OK\n");
}

}  // namespace
}  // namespace zel
