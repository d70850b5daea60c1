// The clients against servers that lie or stall: every case ends within
// its bound with its error, and nothing is left to mark or delete.
#include <gtest/gtest.h>

#include <thread>
#include <functional>
#include <string>
#include <vector>

#include "../codec/memory_streams.h"
#include "hosts_table.h"
#include "net/inet_imap.h"
#include "net/sasl.h"
#include "script_server.h"

namespace zel {
namespace {

using test::ScriptServer;
using Clock = std::chrono::steady_clock;

std::string Base64(std::string_view text) {
  std::string out;
  SaslEncode(text, out);
  return out;
}

// One lying server: its script after the greeting, the client's step,
// and what must come of it.
struct Lie {
  const char* name;
  bool imap;
  std::function<void(ScriptServer&)> script;  // after the greeting
  std::function<int(InetPop3&, InetImap&)> step;
  int result;
  std::chrono::milliseconds bound;  // the step ends within this
  bool connected;                   // the connection is still held after it
  std::vector<std::string> commands;  // what the server read ("-": not checked)
};

TEST(LyingServer, EachEndsWithinItsBoundWithItsError) {
  test::MemorySink raw;
  const std::string message = "Subject: hi\r\n\r\nbody\r\n";
  const std::string literal = "{" + std::to_string(message.size()) + "}\r\n" + message;
  // An IMAP server that answers every command with untagged lines, one
  // each 100 ms for 4 s: no receive waits its time-out.
  const auto flood = [](ScriptServer& s) {
    s.Read();
    for (int i = 0; i < 40; ++i) s.Send("* OK still here\r\n").Pause(std::chrono::milliseconds(100));
  };
  const Lie lies[] = {
      {"IMAP untagged flood: one time-out for the command", true, flood,
       [](InetPop3&, InetImap& c) { return c.Select("INBOX", false); }, -203, std::chrono::milliseconds(2500), true,
       {"Z0001 SELECT \"INBOX\""}},
      {"IMAP untagged flood before IDLE's +: a stop request ends it", true, flood,
       [](InetPop3&, InetImap& c) {
         const auto start = Clock::now();
         return c.Idle(60, [start] { return Clock::now() - start < std::chrono::milliseconds(500); });
       },
       0, std::chrono::milliseconds(1500), false, {"Z0001 IDLE"}},
      {"IMAP oversized literal: not read, connection dropped", true,
       [](ScriptServer& s) { s.Reply("* 1 FETCH (UID 7 BODY[] {200000000}\r\n" + std::string(100000, 'x')); },
       [&](InetPop3& p, InetImap& c) {
         p.SetMessageLimit(1000);
         return c.FetchBody(7, raw);
       },
       kMessageTooLarge, std::chrono::milliseconds(2000), false, {"Z0001 UID FETCH 7 BODY.PEEK[]"}},
      {"IMAP late UID names another message: -205, connection dropped", true,
       [&](ScriptServer& s) { s.Reply("* 5 FETCH (BODY[] " + literal + " UID 5)\r\nZ0001 OK\r\n"); },
       [&](InetPop3&, InetImap& c) { return c.FetchBody(1, raw); }, -205, std::chrono::milliseconds(2000), false,
       {"Z0001 UID FETCH 1 BODY.PEEK[]"}},
      {"IMAP late UID that is ours", true,
       [&](ScriptServer& s) { s.Reply("* 1 FETCH (BODY[] " + literal + " UID 1)\r\nZ0001 OK\r\n"); },
       [&](InetPop3&, InetImap& c) { return c.FetchBody(1, raw); }, 1, std::chrono::milliseconds(2000), true,
       {"Z0001 UID FETCH 1 BODY.PEEK[]"}},
      {"IMAP another message's header literal read to its last byte, not beyond", true,
       [&](ScriptServer& s) {
         s.Reply("* 2 FETCH (UID 8 BODY[HEADER] {3}\r\nxyz\r\n* 1 FETCH (UID 7 BODY[] " + literal +
                 ")\r\nZ0001 OK\r\n");
       },
       [&](InetPop3&, InetImap& c) { return c.FetchBody(7, raw); }, 1, std::chrono::milliseconds(2000), true,
       {"Z0001 UID FETCH 7 BODY.PEEK[]"}},
      {"POP3 oversized stream: LIST said 20 bytes", false,
       [](ScriptServer& s) {
         s.Reply("+OK 1 20\r\n").Reply("+OK\r\n1 20\r\n.\r\n").Reply("+OK\r\n1 a\r\n.\r\n");
         s.Reply("+OK\r\nSubject: big\r\n\r\n" + std::string(200000, 'y') + "\r\n.\r\n");
       },
       [&](InetPop3& p, InetImap&) {
         p.SetMessageLimit(1000);
         if (p.NextMessage() != 1) return 0;
         raw.rewind();
         return p.Retr(1, raw, "raw");
       },
       kMessageTooLarge, std::chrono::milliseconds(2000), false, {"STAT", "LIST", "UIDL", "RETR 1"}},
  };
  for (const Lie& lie : lies) {
    SCOPED_TRACE(lie.name);
    raw.rewind();
    ScriptServer server;
    server.Send(lie.imap ? "* PREAUTH hi\r\n" : "+OK hi\r\n");
    if (!lie.imap) server.Reply("+OK\r\n").Reply("+OK\r\n");  // USER, PASS
    lie.script(server);
    server.Start();
    InetPop3 session;
    session.SetTimeout(1);
    InetImap client(session);
    if (lie.imap) {
      ASSERT_EQ(client.Login(server.address().c_str(), kImapPort, "alice", "pw"), 1);
    } else {
      ASSERT_EQ(session.Login(server.address().c_str(), 110, "alice", "pw", 0), 1);
    }
    const auto start = Clock::now();
    EXPECT_EQ(lie.step(session, client), lie.result);
    EXPECT_LT(Clock::now() - start, lie.bound);
    EXPECT_EQ(session.IsConnected(), lie.connected);
    // Nothing more is sent: no QUIT, no mark, no expunge.
    session.Close();
    server.Join();
    std::vector<std::string> commands = server.commands();
    if (!lie.imap) commands.erase(commands.begin(), commands.begin() + 2);
    EXPECT_EQ(commands, lie.commands);
  }
}

// A secret too long for a command line of its own is sent whole by AUTH,
// or refused with its reason; never cut, never sent as two lines.
TEST(LyingServer, LongSecretsAreSentWholeOrRefused) {
  const std::string password(4000, 'p');
  const std::string token(10000, 't');
  struct Case {
    const char* name;
    bool imap;
    int auth;
    std::string secret;
    std::vector<std::string> replies;  // after the greeting, one per client line
    int result;
    std::vector<std::string> commands;
  };
  const Case cases[] = {
      {"POP3 4,000-byte password: AUTH PLAIN when offered", false, kPopAuthClassic, password,
       {"+OK\r\nSASL PLAIN\r\n.\r\n", "+ \r\n", "+OK in\r\n"}, 1,
       {"CAPA", "AUTH PLAIN", Base64(std::string("\0alice\0", 7) + password)}},
      {"POP3 4,000-byte password without AUTH PLAIN: refused, nothing sent", false, kPopAuthClassic, password,
       {"+OK\r\nTOP\r\n.\r\n"}, -201, {"CAPA"}},
      {"POP3 10,000-byte token: XOAUTH2 takes it whole", false, kPopAuthToken, token,
       {"+OK\r\nSASL XOAUTH2\r\n.\r\n", "+ \r\n", "+OK in\r\n"}, 1,
       {"CAPA", "AUTH XOAUTH2", Base64("user=alice\x01" "auth=Bearer " + token + "\x01\x01")}},
      {"IMAP 10,000-byte token: XOAUTH2 with SASL-IR takes it whole", true, kPopAuthToken, token,
       {"+ \r\n", "Z0001 OK in\r\n"}, 1,
       {"Z0001 AUTHENTICATE XOAUTH2", Base64("user=alice\x01" "auth=Bearer " + token + "\x01\x01")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptServer server;
    server.Send(c.imap ? "* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] hi\r\n" : "+OK hi\r\n");
    for (const std::string& reply : c.replies) server.Reply(reply);
    server.Close();
    server.Start();
    InetPop3 session;
    session.SetTimeout(5);
    session.SetAuth(c.auth);
    InetImap client(session);
    client.SetAuth(c.auth);
    const int result = c.imap ? client.Login(server.address().c_str(), kImapPort, "alice", c.secret.c_str())
                              : session.Login(server.address().c_str(), 110, "alice", c.secret.c_str(), 0);
    EXPECT_EQ(result, c.result);
    if (result != 1) {
      EXPECT_NE(std::string(session.Failure().text).find("長すぎる"), std::string::npos) << session.Failure().text;
    }
    session.Close();
    server.Join();
    EXPECT_EQ(server.commands(), c.commands);
  }
}

#ifndef _WIN32
// Eight addresses that never answer (full listen queues on 127.0.0.2 to
// .9): one time-out for the whole connect, not one per address.
TEST(LyingServer, EightUnansweredAddressesShareOneTimeout) {
  struct Full {
    SocketHandle listener = kNoSocket;
    SocketHandle filler = kNoSocket;
  };
  std::vector<Full> full(8);
  std::vector<std::string> addresses;
  int port = 0;
  for (std::size_t i = 0; i < full.size(); ++i) {
    IpAddress address;
    const std::string text = "127.0.0." + std::to_string(i + 2);
    ASSERT_TRUE(ParseIpAddress(text.c_str(), &address));
    full[i].listener = SocketListenAt(address, &port, 0);
    ASSERT_NE(full[i].listener, kNoSocket) << text;
    full[i].filler = SocketCreateTcp();
    ASSERT_EQ(SocketConnect(full[i].filler, address, port, SocketDeadlineAfter(5)), SocketStatus::kOk);
    addresses.push_back(text);
  }
  const test::HostsTable hosts(test::HostsTable::Entries{{"slow.zelpost.test", addresses}});
  InetSocket channel;
  channel.SetTimeout(2);
  const auto start = Clock::now();
  EXPECT_EQ(channel.Connect(("slow.zelpost.test:" + std::to_string(port)).c_str(), 110), -3);
  const auto took = Clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(1900));
  EXPECT_LT(took, std::chrono::milliseconds(3500));
  EXPECT_TRUE(channel.TimedOut());
  EXPECT_EQ(channel.Failure().kind, FailureKind::kTimedOut);
  // Every address was tried, 250 ms apart.
  const std::string text = channel.Failure().text;
  for (const std::string& address : addresses) EXPECT_NE(text.find(address), std::string::npos) << text;
  for (const Full& f : full) {
    SocketClose(f.filler);
    SocketClose(f.listener);
  }
}
#endif

}  // namespace
}  // namespace zel
