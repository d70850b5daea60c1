// POP3 and SMTP clients against the real Dovecot and SMTP servers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/inet_pop3.h"
#include "net/inet_smtp.h"
#include "servers.h"

namespace zel {
namespace {

using e2e::TestServers;

// A message of CR LF lines with a body line that starts with a dot.
std::string Message(int i) {
  return "Message-Id: <m" + std::to_string(i) + "@zelpost.test>\r\n"
         "Subject: number " + std::to_string(i) + "\r\n"
         "From: sender@zelpost.test\r\n"
         "\r\n"
         "first line\r\n"
         ".starts with a dot\r\n"
         "..two dots\r\n"
         "last\r\n";
}

// What Retr stores: the message as served, dot-stuffing kept.
std::string Stuffed(const std::string& message) {
  std::string out;
  std::size_t start = 0;
  while (start < message.size()) {
    std::size_t end = message.find("\r\n", start);
    end = end == std::string::npos ? message.size() : end + 2;
    if (message[start] == '.') out += '.';
    out += message.substr(start, end - start);
    start = end;
  }
  return out;
}

class Pop3E2e : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(e2e::HasServers());
    e2e::ClearMaildir("alice");
    server = TestServers().Pop3Server();
  }
  void TearDown() override { e2e::ClearMaildir("alice"); }
  std::string server;
};

TEST_F(Pop3E2e, UserPassAndApopLogins) {
  InetPop3 client;
  EXPECT_EQ(client.Login(server.c_str(), 110, "alice", "alicepw", 0), 1);
  client.Quit();
  EXPECT_EQ(client.Login(server.c_str(), 110, "alice", "alicepw", 1), 1);
  client.Quit();
  EXPECT_EQ(client.Login(server.c_str(), 110, "alice", "wrong", 0), -201);
  client.Quit();
  EXPECT_EQ(client.Login(server.c_str(), 110, "alice", "wrong", 1), -214);
  client.Quit();
}

TEST_F(Pop3E2e, ListingTopRetrDele) {
  e2e::TempDir dir;
  constexpr int kCount = 3;
  for (int i = 1; i <= kCount; ++i) e2e::DropMessage("alice", Message(i));
  InetPop3 client;
  ASSERT_EQ(client.Login(server.c_str(), 110, "alice", "alicepw", 1), 1);
  std::vector<std::string> uidls;
  for (int expected = 1; expected <= kCount; ++expected) {
    const int n = client.NextMessage();
    ASSERT_EQ(n, expected);
    ASSERT_NE(client.CurrentEntry(), nullptr);
    uidls.push_back(client.CurrentEntry()->uidl);
    EXPECT_FALSE(uidls.back().empty());
    EXPECT_EQ(client.Top(n, 0), 1);
    EXPECT_EQ(std::string(client.messageId), " <m" + std::to_string(n) + "@zelpost.test>");
    const std::string path = dir.File("msg" + std::to_string(n));
    EXPECT_EQ(client.Retr(n, path.c_str()), 1);
    EXPECT_EQ(e2e::ReadFileBytes(path), Stuffed(Message(n)));
    EXPECT_EQ(std::string(client.subject), " number " + std::to_string(n));
    EXPECT_EQ(client.Dele(n), 1);
  }
  EXPECT_EQ(client.totalCount, kCount);
  EXPECT_EQ(client.retrievedCount, kCount);
  EXPECT_NE(uidls[0], uidls[1]);
  EXPECT_NE(uidls[1], uidls[2]);
  EXPECT_EQ(client.NextMessage(), 0);
  EXPECT_EQ(client.Stat(), 0);  // marked messages no longer count
  client.Quit();
  EXPECT_TRUE(e2e::WaitForMessageCount("alice", 0));
}

TEST_F(Pop3E2e, QuitWithoutDeleKeepsMessages) {
  e2e::DropMessage("alice", Message(1));
  InetPop3 client;
  ASSERT_EQ(client.Login(server.c_str(), 110, "alice", "alicepw", 0), 1);
  EXPECT_EQ(client.Stat(), 1);
  client.Quit();
  ASSERT_EQ(client.Login(server.c_str(), 110, "alice", "alicepw", 0), 1);
  EXPECT_EQ(client.Stat(), 1);
  client.Quit();
}

class SmtpE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(e2e::HasServers());
    e2e::ClearMaildir("alice");
    e2e::ClearMaildir("bob");
    server = TestServers().SmtpServer();
    // The DATA phase as the builder writes it: stuffed dots, final ".".
    message = "From: me@zelpost.test\r\nSubject: smtp\r\n\r\nbody\r\n..dot\r\n" +
              std::string(998, 'x') + "\r\n.\r\n";
    e2e::WriteFileBytes(dir.File("msg"), message);
  }
  void TearDown() override {
    e2e::ClearMaildir("alice");
    e2e::ClearMaildir("bob");
  }
  int Send(const char* sender, std::string recipients) {
    InetSmtp client;
    int r = client.Open(server.c_str(), 25, "zelpost.test");
    if (r == 1) r = client.Deliver(sender, recipients.data(), dir.File("msg").c_str());
    client.Quit();
    return r;
  }
  e2e::TempDir dir;
  std::string server;
  std::string message;
};

TEST_F(SmtpE2e, DeliveredMessageArrivesAndComesBackOverPop3) {
  EXPECT_EQ(Send("me@zelpost.test", "alice@localhost,bob@localhost"), 1);
  // The server removes the transparency dots and the end line.
  const std::string unstuffed =
      "From: me@zelpost.test\r\nSubject: smtp\r\n\r\nbody\r\n.dot\r\n" +
      std::string(998, 'x') + "\r\n";
  ASSERT_EQ(e2e::ReadMaildir("alice"), std::vector<std::string>{unstuffed});
  ASSERT_EQ(e2e::ReadMaildir("bob"), std::vector<std::string>{unstuffed});

  InetPop3 pop3;
  ASSERT_EQ(pop3.Login(TestServers().Pop3Server().c_str(), 110, "alice", "alicepw", 0), 1);
  ASSERT_EQ(pop3.NextMessage(), 1);
  EXPECT_EQ(pop3.Retr(1, dir.File("back").c_str()), 1);
  pop3.Quit();
  EXPECT_EQ(e2e::ReadFileBytes(dir.File("back")),
            message.substr(0, message.size() - 3));  // all but ".\r\n"
}

TEST_F(SmtpE2e, RefusedRecipientStopsBeforeLaterOnes) {
  EXPECT_EQ(Send("me@zelpost.test", "reject@localhost,bob@localhost"), -303);
  EXPECT_TRUE(e2e::ListMaildir("bob").empty());
}

TEST_F(SmtpE2e, NoRecipientsMakesTheServerRefuseData) {
  EXPECT_EQ(Send("me@zelpost.test", ""), -304);
  EXPECT_EQ(Send("me@zelpost.test", ",,"), -304);
}

TEST_F(SmtpE2e, RefusalAfterTheMessage) {
  EXPECT_EQ(Send("datafail@zelpost.test", "alice@localhost"), -305);
  EXPECT_TRUE(e2e::ListMaildir("alice").empty());
}

TEST_F(SmtpE2e, NothingListens) {
  InetSmtp client;
  EXPECT_EQ(client.Open("127.0.0.1:1", 25, "d"), -102);
  client.Quit();
}

}  // namespace
}  // namespace zel
