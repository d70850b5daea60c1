// SMTP client against a scripted loopback server: reply codes, multi-line
// replies, recipient splitting and the DATA phase.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/inet_smtp.h"
#include "platform/log.h"
#include "net_test_util.h"
#include "script_server.h"

namespace zel {
namespace {

using test::ScriptServer;
using Lines = std::vector<std::string>;

constexpr char kMessage[] = "Subject: x\r\n\r\n..dot\r\n.\r\n";

struct Smtp {
  Smtp() { test::WriteAll(dir.File("msg"), kMessage); }
  std::string path() const { return dir.File("msg"); }
  test::ScratchDir dir;
  ScriptServer server;
  InetSmtp client;
};

TEST(SmtpDeliver, WholeDialogueWithMultiLineReplies) {
  Smtp s;
  s.server.Send("220-first greeting line\r\n220-second\r\n220 ready\r\n")
      .Reply("250-hello\r\n250 PIPELINING\r\n")
      .Reply("250 ok\r\n")
      .Reply("251 forwarded\r\n")
      .Reply("250 ok\r\n")
      .Reply("354 go ahead\r\n")
      .ReadData()
      .Send("250-queued\r\n250 as 1\r\n");
  s.server.Start();
  ASSERT_EQ(s.client.Open(s.server.address().c_str(), 25, "example.jp"), 1);
  char recipients[] = ",a@x,,b@y,";
  EXPECT_EQ(s.client.Deliver("me@example.jp", recipients, s.path().c_str()), 1);
  EXPECT_STREQ(recipients, "");  // split in place: the first piece was empty
  s.client.Quit();
  s.server.Join();
  EXPECT_EQ(s.server.commands(),
            (Lines{"HELO example.jp", "MAIL FROM:<me@example.jp>", "RCPT TO:<a@x>",
                   "RCPT TO:<b@y>", "DATA", "QUIT"}));
  EXPECT_EQ(s.server.data(), kMessage);
}

// Every line of a reply must carry the same code: a reply that changes it
// is no answer, whichever line says 2xx.
TEST(SmtpOpen, MultiLineReplyWithMixedCodesFails) {
  const struct {
    const char* helo;
    int result;
  } cases[] = {
      {"250-hello\r\n250 ok\r\n", 1},
      {"250-hello\r\n550 denied\r\n", -301},
      {"550-denied\r\n250 ok\r\n", -301},
      {"250-hello\r\n251-odd\r\n250 ok\r\n", -301},
  };
  for (const auto& c : cases) {
    ScriptServer server;
    server.Send("220 ready\r\n").Reply(c.helo);
    server.Start();
    InetSmtp client;
    EXPECT_EQ(client.Open(server.address().c_str(), 25, "d"), c.result) << c.helo;
    client.Quit();
  }
}

TEST(SmtpDeliver, RefusedRecipientStopsTheList) {
  Smtp s;
  s.server.Send("220 ok\r\n").Reply("250 hi\r\n").Reply("250 ok\r\n")
      .Reply("250 ok\r\n").Reply("550 no such user\r\n");
  s.server.Start();
  ASSERT_EQ(s.client.Open(s.server.address().c_str(), 25, "d"), 1);
  char recipients[] = "a@x,b@x,c@x";
  EXPECT_EQ(s.client.Deliver("me@d", recipients, s.path().c_str()), -303);
  EXPECT_STREQ(recipients, "a@x");
  s.client.Quit();
  s.server.Join();
  EXPECT_EQ(s.server.commands(), (Lines{"HELO d", "MAIL FROM:<me@d>", "RCPT TO:<a@x>",
                                        "RCPT TO:<b@x>", "QUIT"}));
}

TEST(SmtpDeliver, CodesOfEachStep) {
  {
    Smtp s;  // HELO refused
    s.server.Send("554 go away\r\n").Reply("503 no\r\n");
    s.server.Start();
    EXPECT_EQ(s.client.Open(s.server.address().c_str(), 25, "d"), -301);
    s.client.Quit();
  }
  {
    Smtp s;  // MAIL FROM refused
    s.server.Send("220 ok\r\n").Reply("250 ok\r\n").Reply("451 later\r\n");
    s.server.Start();
    ASSERT_EQ(s.client.Open(s.server.address().c_str(), 25, "d"), 1);
    char r[] = "a@x";
    EXPECT_EQ(s.client.Deliver("me@d", r, s.path().c_str()), -302);
    s.client.Quit();
  }
  {
    Smtp s;  // 250 to DATA is not 354; no recipients at all
    s.server.Send("220 ok\r\n").Reply("250 ok\r\n").Reply("250 ok\r\n").Reply("250 ok\r\n");
    s.server.Start();
    ASSERT_EQ(s.client.Open(s.server.address().c_str(), 25, "d"), 1);
    char r[] = "";
    EXPECT_EQ(s.client.Deliver("me@d", r, s.path().c_str()), -304);
    s.client.Quit();
    s.server.Join();
    EXPECT_EQ(s.server.commands(), (Lines{"HELO d", "MAIL FROM:<me@d>", "DATA", "QUIT"}));
  }
  {
    Smtp s;  // message file missing after DATA was accepted
    s.server.Send("220 ok\r\n").Reply("250 ok\r\n").Reply("250 ok\r\n")
        .Reply("250 ok\r\n").Reply("354 go\r\n");
    s.server.Start();
    ASSERT_EQ(s.client.Open(s.server.address().c_str(), 25, "d"), 1);
    char r[] = "a@x";
    EXPECT_EQ(s.client.Deliver("me@d", r, s.dir.File("none").c_str()), -311);
    s.client.Quit();
  }
  {
    Smtp s;  // refused after the message
    s.server.Send("220 ok\r\n").Reply("250 ok\r\n").Reply("250 ok\r\n")
        .Reply("250 ok\r\n").Reply("354 go\r\n").ReadData().Send("554 refused\r\n");
    s.server.Start();
    ASSERT_EQ(s.client.Open(s.server.address().c_str(), 25, "d"), 1);
    char r[] = "a@x";
    EXPECT_EQ(s.client.Deliver("me@d", r, s.path().c_str()), -305);
    s.client.Quit();
  }
}

TEST(SmtpDeliver, ConnectionCutInsideData) {
  Smtp s;
  s.server.Send("220 ok\r\n").Reply("250 ok\r\n").Reply("250 ok\r\n")
      .Reply("250 ok\r\n").Reply("354 go\r\n").ReadData().Close();
  s.server.Start();
  ASSERT_EQ(s.client.Open(s.server.address().c_str(), 25, "d"), 1);
  char r[] = "a@x";
  EXPECT_EQ(s.client.Deliver("me@d", r, s.path().c_str()), -305);
  s.client.Quit();
}

TEST(SmtpDeliver, ConnectionLostWhileSendingTheFile) {
  // The server closes as soon as it has said 354: a file far larger than the
  // socket buffers cannot all be sent, and the failure is not taken for the
  // server's final reply.
  Smtp s;
  SetLogDirectory(s.dir.path());
  std::string big;
  while (big.size() < (16u << 20)) big += std::string(998, 'z') + "\r\n";
  big += ".\r\n";
  test::WriteAll(s.dir.File("big"), big);
  s.server.Send("220 ok\r\n").Reply("250 ok\r\n").Reply("250 ok\r\n")
      .Reply("250 ok\r\n").Reply("354 go\r\n").Close();
  s.server.Start();
  ASSERT_EQ(s.client.Open(s.server.address().c_str(), 25, "d"), 1);
  char r[] = "a@x";
  EXPECT_EQ(s.client.Deliver("me@d", r, s.dir.File("big").c_str()), -312);
  EXPECT_EQ(s.client.Quit(), 1);
  s.server.Join();
  const std::string log = test::ReadAll(s.dir.File("zelpost.log"));
  EXPECT_NE(log.find("ファイル送信エラー [" + s.dir.File("big") + "]"), std::string::npos)
      << log;
  SetLogDirectory("/tmp");
}

TEST(SmtpDeliver, QuitAfterServiceClosingDoesNotKillTheProcess) {
  Smtp s;
  s.server.Send("421 closing\r\n").Close();
  s.server.Start();
  EXPECT_EQ(s.client.Open(s.server.address().c_str(), 25, "d"), -301);
  s.server.Join();
  EXPECT_EQ(s.client.Quit(), 1);
  EXPECT_EQ(s.client.Quit(), 1);
}

}  // namespace
}  // namespace zel
