// OAuth 2.0 and POP3 AUTH against scripted SMTP and POP3 servers that check
// the exact SASL strings: XOAUTH2, OAUTHBEARER when only that is offered,
// AUTH PLAIN of RFC 5034, an initial response too long for POP3's AUTH
// line, a refused token with the providers' JSON reason, and the loopback
// exception on ::1. A login that succeeds goes on to send or receive.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/inet_pop3.h"
#include "net/inet_smtp.h"
#include "net/sasl.h"
#include "net_test_util.h"
#include "platform/log.h"
#include "script_server.h"

namespace zel {
namespace {

using test::ScriptServer;
using Lines = std::vector<std::string>;

constexpr char kMessage[] = "Subject: oauth\r\n\r\nbody\r\n.\r\n";
// The error challenge of the providers, and its base64.
constexpr char kJson[] = R"({"status":"401","schemes":"bearer","scope":"https://mail.example/"})";

std::string Base64(const std::string& raw) {
  std::string out;
  SaslEncode(raw, out);
  return out;
}

// "{BEARER}" in `text` replaced by the OAUTHBEARER message for alice's
// TOKEN at 127.0.0.1 and `port`, in base64.
std::string WithBearer(std::string text, int port) {
  const std::size_t at = text.find("{BEARER}");
  if (at != std::string::npos) {
    text.replace(at, 8, Base64("n,a=alice,\x01host=127.0.0.1\x01port=" + std::to_string(port) +
                               "\x01" "auth=Bearer TOKEN\x01\x01"));
  }
  return text;
}

TEST(OAuth, ScriptedSmtpAndPop3CheckTheExactSaslStrings) {
  test::ScratchDir dir;
  SetLogDirectory(dir.path());
  test::WriteAll(dir.File("msg"), kMessage);
  // user=alice^Aauth=Bearer TOKEN^A^A
  const std::string xoauth2 = "dXNlcj1hbGljZQFhdXRoPUJlYXJlciBUT0tFTgEB";
  const std::string bearer = "{BEARER}";
  const std::string longToken(300, 'T');
  const std::string longXoauth2 = Base64("user=alice\x01" "auth=Bearer " + longToken + "\x01\x01");
  const std::string json = Base64(kJson);
  const std::string capa = "+OK\r\nUSER\r\nSASL PLAIN XOAUTH2 OAUTHBEARER\r\n.\r\n";
  const Lines send = {"250 ok\r\n", "250 ok\r\n", "354 go\r\n", "<DATA>", "250 queued\r\n"};
  const Lines receive = {"+OK 1 25\r\n", "+OK\r\n1 25\r\n.\r\n", "+OK\r\n1 u1\r\n.\r\n",
                         std::string("+OK\r\n") + kMessage};
  const Lines sent = {"MAIL FROM:<alice@example.jp>", "RCPT TO:<bob@example.jp>", "DATA"};
  const Lines received = {"STAT", "LIST", "UIDL", "RETR 1"};
  enum Protocol { kSmtp, kPop3 };
  struct Case {
    const char* what;
    Protocol protocol;
    int mode;  // SMTP: 1 password, 2 token; POP3: POPAUTH
    std::string secret;
    const char* address;
    Lines replies;  // the greeting, then one per command ("<DATA>": the message)
    int result;
    Lines commands;  // QUIT not included
    Lines more;      // the commands of the send or receive after the login
    std::string reason = "";  // a refusal's reason (Failure().text) begins so
  };
  const Case cases[] = {
      {"SMTP XOAUTH2", kSmtp, 2, "TOKEN", "127.0.0.1",
       {"220 hi\r\n", "250-x\r\n250 AUTH PLAIN LOGIN XOAUTH2 OAUTHBEARER\r\n", "235 ok\r\n"}, 1,
       {"EHLO d", "AUTH XOAUTH2 " + xoauth2}, sent},
      {"SMTP OAUTHBEARER, the only one offered", kSmtp, 2, "TOKEN", "127.0.0.1",
       {"220 hi\r\n", "250-x\r\n250 AUTH PLAIN OAUTHBEARER\r\n", "235 ok\r\n"}, 1,
       {"EHLO d", "AUTH OAUTHBEARER " + bearer}, sent},
      {"SMTP refused token", kSmtp, 2, "WRONG", "127.0.0.1",
       {"220 hi\r\n", "250-x\r\n250 AUTH XOAUTH2\r\n", "334 " + json + "\r\n",
        "535 5.7.8 Username and Password not accepted\r\n"},
       kAuthRefused,
       {"EHLO d", "AUTH XOAUTH2 " + Base64("user=alice\x01" "auth=Bearer WRONG\x01\x01"), ""}, {},
       std::string("535 5.7.8 Username and Password not accepted ") + kJson},
      {"SMTP no token mechanism", kSmtp, 2, "TOKEN", "127.0.0.1",
       {"220 hi\r\n", "250-x\r\n250 AUTH PLAIN LOGIN\r\n"}, kAuthRefused, {"EHLO d"}, {},
       "SMTP認証に対応していないサーバです"},
      {"SMTP AUTH PLAIN in the clear to ::1", kSmtp, 1, "pw", "::1",
       {"220 hi\r\n", "250-x\r\n250 AUTH PLAIN\r\n", "235 ok\r\n"}, 1,
       {"EHLO d", "AUTH PLAIN AGFsaWNlAHB3"}, sent},
      {"POP3 XOAUTH2 after CAPA", kPop3, kPopAuthToken, "TOKEN", "127.0.0.1",
       {"+OK ready\r\n", capa, "+OK welcome\r\n"}, 1, {"CAPA", "AUTH XOAUTH2 " + xoauth2}, received},
      {"POP3 OAUTHBEARER, the only one offered", kPop3, kPopAuthToken, "TOKEN", "127.0.0.1",
       {"+OK ready\r\n", "+OK\r\nSASL OAUTHBEARER\r\n.\r\n", "+OK welcome\r\n"}, 1,
       {"CAPA", "AUTH OAUTHBEARER " + bearer}, received},
      {"POP3 long token after the empty challenge", kPop3, kPopAuthToken, longToken, "::1",
       {"+OK ready\r\n", "-ERR no CAPA\r\n", "+ \r\n", "+OK welcome\r\n"}, 1,
       {"CAPA", "AUTH XOAUTH2", longXoauth2}, received},
      {"POP3 refused token", kPop3, kPopAuthToken, "WRONG", "127.0.0.1",
       {"+OK ready\r\n", capa, "+ " + json + "\r\n", "-ERR [AUTH] Invalid credentials\r\n"},
       kAuthRefused,
       {"CAPA", "AUTH XOAUTH2 " + Base64("user=alice\x01" "auth=Bearer WRONG\x01\x01"), ""}, {},
       std::string("-ERR [AUTH] Invalid credentials ") + kJson},
      {"POP3 AUTH PLAIN", kPop3, kPopAuthPlain, "pw", "::1", {"+OK ready\r\n", "+OK welcome\r\n"}, 1,
       {"AUTH PLAIN AGFsaWNlAHB3"}, received},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptServer server;
    server.ListenOn(c.address);
    server.Send(c.replies[0]);
    for (std::size_t i = 1; i < c.replies.size(); ++i) server.Reply(c.replies[i]);
    const bool ok = c.result == 1;
    bool afterData = false;  // the reply to the message follows it unasked
    for (const std::string& reply : ok ? (c.protocol == kSmtp ? send : receive) : Lines{}) {
      if (reply == "<DATA>") {
        server.ReadData();
      } else {
        afterData ? server.Send(reply) : server.Reply(reply);
      }
      afterData = reply == "<DATA>";
    }
    server.Start();
    Lines expected;
    for (const std::string& command : c.commands) expected.push_back(WithBearer(command, server.port()));
    if (c.protocol == kSmtp) {
      InetSmtp client;
      client.SetAuthSecret(c.mode == 2 ? SaslSecret::kToken : SaslSecret::kPassword);
      EXPECT_EQ(client.Open(server.address().c_str(), 25, "d", "alice", c.secret.c_str()), c.result);
      if (ok) {
        std::string recipients = "bob@example.jp";
        EXPECT_EQ(client.Deliver("alice@example.jp", recipients.data(), dir.File("msg").c_str()), 1);
      }
      if (!ok) {
        EXPECT_EQ(client.Failure().kind, FailureKind::kAuth);
        EXPECT_EQ(std::string(client.Failure().text).rfind(c.reason, 0), 0u) << client.Failure().text;
      }
      client.Quit();
    } else {
      InetPop3 client;
      client.SetAuth(c.mode);
      EXPECT_EQ(client.Login(server.address().c_str(), 110, "alice", c.secret.c_str(), 0), c.result);
      if (ok) {
        ASSERT_EQ(client.NextMessage(), 1);
        EXPECT_EQ(client.Retr(1, dir.File("retr").c_str()), 1);
        EXPECT_EQ(test::ReadAll(dir.File("retr")), "Subject: oauth\r\n\r\nbody\r\n");
      }
      if (!ok) {
        EXPECT_EQ(client.Failure().kind, FailureKind::kAuth);
        EXPECT_EQ(std::string(client.Failure().text).rfind(c.reason, 0), 0u) << client.Failure().text;
      }
      client.Quit();
    }
    server.Join();
    if (ok) expected.insert(expected.end(), c.more.begin(), c.more.end());
    expected.push_back("QUIT");
    EXPECT_EQ(server.commands(), expected);
  }
  // Refusals are logged with the server's reply and the decoded reason,
  // never with a token, plain or encoded.
  const std::string log = test::ReadAll(dir.File("zelpost.log"));
  EXPECT_NE(log.find(std::string("AUTH XOAUTH2 コマンドエラー 535 5.7.8 Username and Password not accepted ") +
                     kJson),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(std::string("-ERR [AUTH] Invalid credentials ") + kJson), std::string::npos) << log;
  for (const std::string& secret : {std::string("TOKEN"), std::string("WRONG"), longToken, xoauth2,
                                    Base64("user=alice\x01" "auth=Bearer WRONG\x01\x01")}) {
    EXPECT_EQ(log.find(secret), std::string::npos) << secret;
  }
  SetLogDirectory("/tmp");
}

}  // namespace
}  // namespace zel
