// New-mail check and single-message receive through the exports, against
// the real Dovecot of the test servers.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "api/inet_mail.h"
#include "servers.h"
#include "zelpost.h"

namespace zel {
namespace {

using e2e::TestServers;

std::string Message(int i) {
  return "Message-Id: <recv" + std::to_string(i) + "@zelpost.test>\r\n"
         "Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= " + std::to_string(i) + "\r\n"
         "From: sender@zelpost.test\r\n"
         "Date: Tue, 02 Oct 2001 09:05:07 +0900\r\n"
         "\r\n"
         "\x1b$BK\\J8\x1b(B\r\n"
         ".starts with a dot\r\n"
         "last\r\n";
}

std::string ErrorText() {
  char text[256] = "unchanged";
  zelGetErrorStr(text, sizeof text);
  return text;
}

class RecvE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(e2e::HasServers());
    e2e::ClearMaildir("alice");
    server_ = TestServers().Pop3Server();
    zelSetValueInt("APOP", 0);
  }
  void TearDown() override { e2e::ClearMaildir("alice"); }

  void Account(const char* password) {
    ASSERT_EQ(zelInitialize(server_.c_str(), "127.0.0.1", "alice", password,
                            "alice@zelpost.test", ""),
              1);
  }

  std::string server_;
};

TEST_F(RecvE2e, MailBiffCountsWithUserPass) {
  Account("alicepw");
  EXPECT_EQ(zelMailBiff(), 0);
  for (int i = 1; i <= 3; ++i) e2e::DropMessage("alice", Message(i));
  EXPECT_EQ(zelMailBiff(), 3);
  EXPECT_EQ(zelGetErrorInt(), 0);
  // Nothing was retrieved, marked or deleted.
  EXPECT_EQ(e2e::ListMaildir("alice").size(), 3u);
  EXPECT_EQ(zelMailBiff(), 3);

  Account("wrong");
  EXPECT_EQ(zelMailBiff(), -1);
  EXPECT_EQ(zelGetErrorInt(), 0);
  EXPECT_EQ(ErrorText(), "");
}

TEST_F(RecvE2e, MailBiffCountsWithApop) {
  zelSetValueInt("APOP", 1);
  Account("alicepw");
  EXPECT_EQ(zelMailBiff(), 0);
  for (int i = 1; i <= 3; ++i) e2e::DropMessage("alice", Message(i));
  EXPECT_EQ(zelMailBiff(), 3);

  Account("wrong");
  EXPECT_EQ(zelMailBiff(), -1);
  EXPECT_EQ(zelGetErrorInt(), 0);
  EXPECT_EQ(ErrorText(), "");
  zelSetValueInt("APOP", 0);
}

TEST_F(RecvE2e, MailBiffUnreachableServer) {
  // A port nobody listens on: the login fails, the error state stays clear.
  ASSERT_EQ(zelInitialize("127.0.0.1:1", "127.0.0.1", "alice", "alicepw", "a@zelpost.test", ""), 1);
  EXPECT_EQ(zelMailBiff(), -1);
  EXPECT_EQ(zelGetErrorInt(), 0);
}

// A listing ends with its connection: a new-mail check between two logins
// changes nothing, and every login lists the maildrop as it is now.
TEST_F(RecvE2e, EveryLoginListsTheMaildropAfresh) {
  for (int i = 1; i <= 3; ++i) e2e::DropMessage("alice", Message(i));
  InetMail session;
  ASSERT_EQ(session.Initialize(server_.c_str(), "127.0.0.1", "alice", "alicepw",
                               "alice@zelpost.test", ""),
            1);
  ASSERT_EQ(session.Login(session.pop3Server, session.pop3Port, "alice", "alicepw", 0), 1);
  ASSERT_EQ(session.NextMessage(), 1);
  session.Quit();
  EXPECT_TRUE(session.Listing().Empty());
  EXPECT_EQ(session.MailBiff(), 3);
  ASSERT_EQ(session.Login(session.pop3Server, session.pop3Port, "alice", "alicepw", 0), 1);
  EXPECT_EQ(session.NextMessage(), 1);
  EXPECT_EQ(session.totalCount, 3);
  session.Quit();
}

// A cancel disables the channels; the next operation enables its own
// channels again instead of failing for good.
TEST_F(RecvE2e, OperationsAfterACancelStillWork) {
  e2e::DropMessage("alice", Message(1));
  InetMail session;
  ASSERT_EQ(session.Initialize(server_.c_str(), server_.c_str(), "alice", "alicepw",
                               "alice@zelpost.test", ""),
            1);
  session.Disable();
  session.smtp.Disable();
  EXPECT_EQ(session.MailBiff(), 1);
  session.Disable();
  session.smtp.Disable();
  session.popBeforeSmtp = 1;
  // The SMTP server is the POP3 one here: the send gets past POP before
  // SMTP (its login needs an enabled channel) and fails at the greeting.
  const std::string sendFile = std::string(ZEL_BINARY_DIR) + "/cancel_then_send.qml";
  FILE* f = std::fopen(sendFile.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("To: bob@localhost\r\nSubject: x\r\n\r\nbody\r\n", f);
  std::fclose(f);
  EXPECT_EQ(session.SendMail(sendFile.c_str(), nullptr, nullptr), 0);
  EXPECT_EQ(session.GetErrorInt(), -300);
  std::remove(sendFile.c_str());
}

// The single-message receive without a dummy file asks the POP3 service
// of the local machine: port 110 at the address the host name resolves to.
class LocalRecvE2e : public RecvE2e {
 protected:
  void SetUp() override {
    RecvE2e::SetUp();
    if (!TestServers().localPop3) {
      GTEST_SKIP() << "no Dovecot listener on port 110 at the address of the host name \""
                   << TestServers().localHostName
                   << "\": the name does not resolve to a loopback address, port 110 is "
                      "taken, or the servers' script did not run as root";
    }
  }
};

TEST_F(LocalRecvE2e, FirstMessageBecomesDisplayFileAndStaysOnServer) {
  e2e::TempDir dir;
  const std::string display = dir.File("zel00001.wml");
  Account("alicepw");

  // An empty maildrop: nothing to do, no error.
  EXPECT_EQ(zelRecvMailDummy(display.c_str(), nullptr), 0);
  EXPECT_EQ(zelGetErrorInt(), 0);

  e2e::DropMessage("alice", Message(1));
  e2e::DropMessage("alice", Message(2));
  ASSERT_EQ(zelRecvMailDummy(display.c_str(), nullptr), 1);
  EXPECT_EQ(zelGetErrorInt(), 0);
  EXPECT_EQ(e2e::ReadFileBytes(display),
            "Message-Id: <recv1@zelpost.test>\r\n"
            "X-Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= 1\r\n"
            "Subject: テスト 1\r\n"
            "From: sender@zelpost.test\r\n"
            "Date: Tue, 02 Oct 2001 09:05:07 +0900\r\n"
            "\r\n"
            "本文\r\n"
            ".starts with a dot\r\n"
            "last\r\n");
  // Both messages stay on the server.
  EXPECT_EQ(e2e::ListMaildir("alice").size(), 2u);
  EXPECT_EQ(zelMailBiff(), 2);
}

// Each call lists the maildrop afresh: the same single message comes back
// every time, and a message that replaced it comes back next.
TEST_F(LocalRecvE2e, CallsInARowEachGetTheMessageOnTheServer) {
  e2e::TempDir dir;
  Account("alicepw");
  const char* const expected[] = {"Subject: テスト 1\r\n", "Subject: テスト 1\r\n",
                                  "Subject: テスト 2\r\n"};
  e2e::DropMessage("alice", Message(1));
  for (int call = 0; call < 3; ++call) {
    if (call == 2) {
      e2e::ClearMaildir("alice");
      e2e::DropMessage("alice", Message(2));
    }
    const std::string display = dir.File("zel" + std::to_string(call) + ".wml");
    EXPECT_EQ(zelRecvMailDummy(display.c_str(), nullptr), 1) << call;
    EXPECT_NE(e2e::ReadFileBytes(display).find(expected[call]), std::string::npos) << call;
  }
}

TEST_F(LocalRecvE2e, WrongPasswordIsMinusOneWithoutError) {
  e2e::TempDir dir;
  e2e::DropMessage("alice", Message(1));
  Account("wrong");
  EXPECT_EQ(zelRecvMailDummy(dir.File("x.wml").c_str(), nullptr), -1);
  EXPECT_EQ(zelGetErrorInt(), 0);
  EXPECT_EQ(e2e::ListMaildir("alice").size(), 1u);
}

}  // namespace
}  // namespace zel
