// POP3 client against a scripted loopback server: login variants, the
// listing and its failure states, byte-exact retrieval and the progress
// record.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "net/inet_pop3.h"
#include "net_test_util.h"
#include "platform/log.h"
#include "script_server.h"

namespace zel {
namespace {

using test::ScriptServer;

constexpr char kGreeting[] = "+OK ready\r\n";

// Runs `body` on a client logged in with USER/PASS to a server playing
// `script` after the login.
template <typename Body>
std::vector<std::string> WithLogin(ScriptServer& server, Body body) {
  server.Start();
  InetPop3 client;
  EXPECT_EQ(client.Login(server.address().c_str(), 110, "alice", "pw", 0), 1);
  body(client);
  client.Quit();
  server.Join();
  std::vector<std::string> commands = server.commands();
  commands.erase(commands.begin(), commands.begin() + 2);  // USER, PASS
  return commands;
}

ScriptServer& LoggedIn(ScriptServer& server) {
  return server.Send(kGreeting).Reply("+OK\r\n").Reply("+OK\r\n");
}

TEST(Pop3Login, UserPass) {
  ScriptServer server;
  LoggedIn(server);
  server.Start();
  InetPop3 client;
  EXPECT_EQ(client.Login(server.address().c_str(), 110, "alice", "secret", 0), 1);
  client.Quit();
  server.Join();
  EXPECT_EQ(server.commands(),
            (std::vector<std::string>{"USER alice", "PASS secret", "QUIT"}));
}

TEST(Pop3Login, RefusedPasswordIsNotLogged) {
  test::ScratchDir dir;
  SetLogDirectory(dir.path());
  ScriptServer server;
  server.Send(kGreeting).Reply("+OK\r\n").Reply("-ERR no\r\n").Close();
  server.Start();
  InetPop3 client;
  EXPECT_EQ(client.Login(server.address().c_str(), 110, "alice", "Hidden123", 0), -201);
  server.Join();
  EXPECT_EQ(client.Quit(), 1);  // sending to a closed peer must not kill us
  const std::string log = test::ReadAll(dir.File("zelpost.log"));
  EXPECT_NE(log.find("PASS ******** コマンドエラー [" + server.address() + "]"),
            std::string::npos) << log;
  EXPECT_EQ(log.find("Hidden123"), std::string::npos);
  SetLogDirectory("/tmp");
}

TEST(Pop3Login, GreetingFailures) {
  ScriptServer negative;
  negative.Send("-ERR busy\r\n");
  negative.Start();
  InetPop3 client;
  EXPECT_EQ(client.Login(negative.address().c_str(), 110, "a", "b", 0), -200);
  client.Quit();
  EXPECT_EQ(client.Login("no-such-host.invalid", 110, "a", "b", 0), -100);
}

struct ApopCase {
  const char* greeting;
  const char* timestamp;
};

TEST(Pop3Login, ApopDigestOfTheLastTimestamp) {
  // RFC 1939's example: digest of "<1896.697170952@dbc.mtview.ca.us>tanstaaf".
  const ApopCase cases[] = {
      {"+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n", nullptr},
      {"+OK <1896.697170952@dbc.mtview.ca.us> words after it\r\n", nullptr},
      {"+OK <old@x> then <1896.697170952@dbc.mtview.ca.us>\r\n", nullptr},
  };
  for (const ApopCase& c : cases) {
    ScriptServer server;
    server.Send(c.greeting).Reply("+OK\r\n");
    server.Start();
    InetPop3 client;
    EXPECT_EQ(client.Login(server.address().c_str(), 110, "mrose", "tanstaaf", 1), 1);
    client.Quit();
    server.Join();
    ASSERT_FALSE(server.commands().empty());
    EXPECT_EQ(server.commands()[0], "APOP mrose c4c9334bac560ecc979e58001b3e22fb")
        << c.greeting;
  }
}

TEST(Pop3Login, ApopWithoutTimestampOrRefused) {
  ScriptServer plain;
  plain.Send("+OK no stamp\r\n");
  plain.Start();
  InetPop3 client;
  EXPECT_EQ(client.Login(plain.address().c_str(), 110, "u", "p", 1), -213);
  client.Quit();
  plain.Join();
  EXPECT_EQ(plain.commands(), std::vector<std::string>{"QUIT"});  // no USER

  ScriptServer refused;
  refused.Send("+OK <1.2@h>\r\n").Reply("-ERR bad\r\n");
  refused.Start();
  EXPECT_EQ(client.Login(refused.address().c_str(), 110, "u", "p", 1), -214);
  client.Quit();
}

TEST(Pop3Listing, ThreeMessagesWithUidlThenEnd) {
  ScriptServer server;
  LoggedIn(server)
      .Reply("+OK 3 300\r\n")
      .Reply("+OK\r\n1 100\r\n2 100\r\n3 100\r\n.\r\n")
      .Reply("+OK\r\n1 aaa\r\n2 bbb\r\n3 ccc\r\n.\r\n")
      .Reply("+OK 1 1\r\n")
      .Reply("+OK\r\n1 1\r\n.\r\n")
      .Reply("-ERR\r\n");
  std::vector<int> numbers;
  std::vector<std::string> uidls;
  const auto commands = WithLogin(server, [&](InetPop3& c) {
    for (int i = 0; i < 4; ++i) {
      numbers.push_back(c.NextMessage());
      if (c.CurrentEntry() != nullptr) uidls.push_back(c.CurrentEntry()->uidl);
    }
    EXPECT_EQ(c.totalCount, 3);
    EXPECT_EQ(c.NextMessage(), 1);  // a new listing after the end
    EXPECT_EQ(c.totalCount, 1);
  });
  EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 0}));
  EXPECT_EQ(uidls, (std::vector<std::string>{"aaa", "bbb", "ccc"}));
  EXPECT_EQ(commands, (std::vector<std::string>{"STAT", "LIST", "UIDL", "STAT",
                                                "LIST", "UIDL", "QUIT"}));
}

// A listing belongs to its connection: however the connection ends, no
// number of it is handed out again, and the next connection lists afresh.
TEST(Pop3Listing, EveryConnectionListsAfresh) {
  const struct {
    const char* end;
    std::function<void(InetPop3&)> run;
  } ends[] = {
      {"Quit", [](InetPop3& c) { c.Quit(); }},
      {"Close", [](InetPop3& c) { c.Close(); }},
      {"cancel", [](InetPop3& c) {
         std::thread([&] { c.Disable(); c.Quit(); }).join();  // the socket only
         c.Enable();
         EXPECT_EQ(c.NextMessage(), -203);  // not message 2 of the old listing
       }},
      {"failed login", [](InetPop3& c) {
         ScriptServer busy;
         busy.Send("-ERR busy\r\n");
         busy.Start();
         EXPECT_EQ(c.Login(busy.address().c_str(), 110, "a", "b", 0), -200);
         c.Close();
       }},
  };
  for (const auto& e : ends) {
    ScriptServer first;
    LoggedIn(first)
        .Reply("+OK 3 30\r\n")
        .Reply("+OK\r\n1 10\r\n2 10\r\n3 10\r\n.\r\n")
        .Reply("+OK\r\n1 a1\r\n2 a2\r\n3 a3\r\n.\r\n");
    first.Start();
    InetPop3 client;
    ASSERT_EQ(client.Login(first.address().c_str(), 110, "u", "p", 0), 1);
    ASSERT_EQ(client.NextMessage(), 1);
    e.run(client);
    EXPECT_TRUE(client.Listing().Empty()) << e.end;
    EXPECT_EQ(client.CurrentEntry(), nullptr) << e.end;

    ScriptServer second;
    LoggedIn(second)
        .Reply("+OK 1 10\r\n")
        .Reply("+OK\r\n1 10\r\n.\r\n")
        .Reply("+OK\r\n1 b1\r\n.\r\n");
    second.Start();
    ASSERT_EQ(client.Login(second.address().c_str(), 110, "u", "p", 0), 1);
    EXPECT_EQ(client.NextMessage(), 1) << e.end;
    ASSERT_NE(client.CurrentEntry(), nullptr);
    EXPECT_STREQ(client.CurrentEntry()->uidl, "b1") << e.end;
    EXPECT_EQ(client.NextMessage(), 0) << e.end;
    client.Quit();
  }
}

// A listing keeps at most the STAT count of entries, and a count above the
// limit fails at once, before LIST, as a listing failure.
TEST(Pop3Listing, CountBeyondTheLimitFailsAndNoMoreThanTheCountIsKept) {
  test::ScratchDir dir;
  SetLogDirectory(dir.path());
  for (const char* stat : {"+OK 1000001 0\r\n", "+OK 2147483647 0\r\n", "+OK 99999999999 0\r\n"}) {
    ScriptServer server;
    LoggedIn(server).Reply(stat);
    const auto commands = WithLogin(server, [](InetPop3& c) {
      EXPECT_EQ(c.NextMessage(), -204);
      EXPECT_TRUE(c.Listing().Empty());
    });
    EXPECT_EQ(commands, (std::vector<std::string>{"STAT", "QUIT"})) << stat;
  }
  EXPECT_NE(test::ReadAll(dir.File("zelpost.log")).find("上限 1000000 を超えている"),
            std::string::npos);
  ScriptServer more;
  LoggedIn(more)
      .Reply("+OK 2 20\r\n")
      .Reply("+OK\r\n1 10\r\n2 10\r\n3 10\r\n.\r\n")
      .Reply("+OK\r\n1 a\r\n2 b\r\n.\r\n");
  WithLogin(more, [](InetPop3& c) {
    EXPECT_EQ(c.NextMessage(), 1);
    EXPECT_EQ(c.Listing().Size(), 2u);
  });
  SetLogDirectory("/tmp");
}

TEST(Pop3Listing, StatZeroSendsNothingMore) {
  ScriptServer server;
  LoggedIn(server).Reply("+OK 0 0\r\n");
  const auto commands = WithLogin(server, [](InetPop3& c) { EXPECT_EQ(c.NextMessage(), 0); });
  EXPECT_EQ(commands, (std::vector<std::string>{"STAT", "QUIT"}));
}

TEST(Pop3Listing, UidlRefusedLeavesEmptyIds) {
  ScriptServer server;
  LoggedIn(server)
      .Reply("+OK 2 200\r\n")
      .Reply("+OK\r\n1 100\r\n2 100\r\n.\r\n")
      .Reply("-ERR no UIDL\r\n");
  WithLogin(server, [](InetPop3& c) {
    EXPECT_EQ(c.NextMessage(), 1);
    EXPECT_STREQ(c.CurrentEntry()->uidl, "");
    EXPECT_EQ(c.NextMessage(), 2);
    EXPECT_STREQ(c.CurrentEntry()->uidl, "");
  });
}

TEST(Pop3Listing, StatRefused) {
  ScriptServer server;
  LoggedIn(server).Reply("-ERR\r\n");
  WithLogin(server, [](InetPop3& c) {
    EXPECT_EQ(c.NextMessage(), -203);
    EXPECT_EQ(c.Stat(), -203);
  });
}

TEST(Pop3Listing, ConnectionCutInsideList) {
  ScriptServer server;
  LoggedIn(server).Reply("+OK 3 300\r\n").Reply("+OK\r\n1 100\r\n").Close();
  server.Start();
  InetPop3 client;
  ASSERT_EQ(client.Login(server.address().c_str(), 110, "a", "b", 0), 1);
  EXPECT_EQ(client.NextMessage(), -204);
  EXPECT_TRUE(client.Listing().Empty());  // the next call lists afresh
  EXPECT_EQ(client.CurrentEntry(), nullptr);
  client.Quit();
}

TEST(Pop3Listing, ConnectionCutInsideUidl) {
  ScriptServer server;
  LoggedIn(server)
      .Reply("+OK 3 300\r\n")
      .Reply("+OK\r\n1 1\r\n2 1\r\n3 1\r\n.\r\n")
      .Reply("+OK\r\n1 a\r\n2 b\r\n")
      .Close();
  server.Start();
  InetPop3 client;
  ASSERT_EQ(client.Login(server.address().c_str(), 110, "a", "b", 0), 1);
  EXPECT_EQ(client.NextMessage(), -208);
  EXPECT_EQ(client.CurrentIndex(), 2u);  // the entry whose id was to come next
  client.Quit();
}

TEST(Pop3Retr, LongLinesNulBytesAndStuffedDotsStoredExactly) {
  test::ScratchDir dir;
  const std::string longLine(10000, 'L');
  // Longer than the blocks Retr gathers its writes in.
  std::string longerLine;
  for (int i = 0; longerLine.size() < 40000; ++i) longerLine += static_cast<char>('a' + i % 26);
  std::string manyLines;
  for (int i = 0; i < 700; ++i) manyLines += "short line " + std::to_string(i) + "\r\n";
  const std::string nulLine("\0starts with NUL\0and has more", 29);
  const std::string body = "Subject: =?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=\r\n"
                           "From: first\r\n"
                           "FROM:  second\r\n"
                           "Message-ID: <id@x>\r\n"
                           "\r\n" +
                           longLine + "\r\n" + nulLine + "\r\n" + longerLine + "\r\n" +
                           manyLines +
                           "..stuffed\r\n"
                           "lone\nLF\r\n"
                           "\r\n";
  ScriptServer server;
  LoggedIn(server).Reply("+OK message follows\r\n" + body + ".\r\n");
  WithLogin(server, [&](InetPop3& c) {
    EXPECT_EQ(c.Retr(1, dir.File("m").c_str()), 1);
    EXPECT_STREQ(c.messageId, " <id@x>");
    EXPECT_STREQ(c.from, "  second");
    EXPECT_STREQ(c.subject, " =?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=");
    EXPECT_EQ(c.retrievedCount, 1);
  });
  EXPECT_EQ(test::ReadAll(dir.File("m")), body);
}

TEST(Pop3Retr, HeaderOnlyMessageAndRefusal) {
  test::ScratchDir dir;
  ScriptServer server;
  LoggedIn(server).Reply("+OK\r\nSubject: s\r\n.\r\n").Reply("-ERR no such\r\n");
  WithLogin(server, [&](InetPop3& c) {
    EXPECT_EQ(c.Retr(1, dir.File("a").c_str()), 1);
    EXPECT_EQ(c.retrievedCount, 0);  // no empty line, no progress step
    EXPECT_EQ(c.Retr(2, dir.File("b").c_str()), -205);
    EXPECT_EQ(c.Retr(3, (dir.File("missing") + "/x").c_str()), -210);
  });
  EXPECT_EQ(test::ReadAll(dir.File("a")), "Subject: s\r\n");
  EXPECT_EQ(test::ReadAll(dir.File("b")), "");
}

TEST(Pop3Retr, RetrievalsSentAheadAreEachSentOnceAndReadInOrder) {
  test::ScratchDir dir;
  ScriptServer server;
  // The server reads both commands before it answers either.
  LoggedIn(server).Read().Read().Send("+OK\r\nA: 1\r\n.\r\n+OK\r\nA: 2\r\n.\r\n");
  const auto commands = WithLogin(server, [&](InetPop3& c) {
    EXPECT_EQ(c.SendRetrAhead(1), 1);
    EXPECT_EQ(c.SendRetrAhead(2), 1);
    EXPECT_EQ(c.Retr(1, dir.File("a").c_str()), 1);
    EXPECT_EQ(c.Retr(2, dir.File("b").c_str()), 1);
  });
  EXPECT_EQ(commands, (std::vector<std::string>{"RETR 1", "RETR 2", "QUIT"}));
  EXPECT_EQ(test::ReadAll(dir.File("a")), "A: 1\r\n");
  EXPECT_EQ(test::ReadAll(dir.File("b")), "A: 2\r\n");
}

TEST(Pop3Retr, ConnectionCutInsideTheBodyKeepsWhatCame) {
  test::ScratchDir dir;
  ScriptServer server;
  LoggedIn(server).Reply("+OK\r\nA: 1\r\n\r\nline one\r\nline t").Close();
  server.Start();
  InetPop3 client;
  ASSERT_EQ(client.Login(server.address().c_str(), 110, "a", "b", 0), 1);
  EXPECT_EQ(client.Retr(1, dir.File("m").c_str()), -211);
  client.Quit();
  EXPECT_EQ(test::ReadAll(dir.File("m")), "A: 1\r\n\r\nline one\r\nline t");
}

std::vector<RecvProgress> sentRecords;
std::vector<WindowHandle> sentWindows;
void RecordProgress(WindowHandle window, const RecvProgress& record) {
  sentWindows.push_back(window);
  sentRecords.push_back(record);
}

TEST(Pop3Retr, ProgressRecordGoesToTheWindow) {
  test::ScratchDir dir;
  sentRecords.clear();
  sentWindows.clear();
  const ProgressSender old = SetProgressSender(&RecordProgress);
  ScriptServer server;
  LoggedIn(server)
      .Reply("+OK 2 10\r\n")
      .Reply("+OK\r\n1 5\r\n2 5\r\n.\r\n")
      .Reply("+OK\r\n1 u1\r\n2 u2\r\n.\r\n")
      .Reply("+OK\r\nSubject: =?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=\r\nFrom: a@b\r\n\r\nx\r\n.\r\n")
      .Reply("+OK\r\nSubject: two\r\n\r\n.\r\n");
  WithLogin(server, [&](InetPop3& c) {
    ASSERT_EQ(c.NextMessage(), 1);
    c.progressWindow = 0x1234;
    EXPECT_EQ(c.Retr(1, dir.File("1").c_str()), 1);
    c.progressWindow = 0;
    EXPECT_EQ(c.Retr(2, dir.File("2").c_str()), 1);
    EXPECT_EQ(c.retrievedCount, 2);
  });
  SetProgressSender(old);
  ASSERT_EQ(sentRecords.size(), 1u);
  EXPECT_EQ(sentWindows[0], 0x1234u);
  EXPECT_EQ(sentRecords[0].totalCount, 2);
  EXPECT_EQ(sentRecords[0].retrievedCount, 1);
  EXPECT_STREQ(sentRecords[0].subject, " こんにちは");
  EXPECT_STREQ(sentRecords[0].from, " a@b");
}

TEST(Pop3Commands, TopDeleAndStat) {
  ScriptServer server;
  LoggedIn(server)
      .Reply("+OK\r\nMessage-Id: <top@x>\r\nSubject: t\r\n\r\nMessage-Id: <body@x>\r\n.\r\n")
      .Reply("-ERR\r\n")
      .Reply("+OK deleted\r\n")
      .Reply("-ERR\r\n")
      .Reply("+OK 7 1000\r\n");
  const auto commands = WithLogin(server, [](InetPop3& c) {
    EXPECT_EQ(c.Top(1, 0), 1);
    EXPECT_STREQ(c.messageId, " <top@x>");
    EXPECT_EQ(c.Top(2, 0), -206);
    EXPECT_EQ(c.Dele(1), 1);
    EXPECT_EQ(c.Dele(9), -211);
    EXPECT_EQ(c.Stat(), 7);
  });
  EXPECT_EQ(commands, (std::vector<std::string>{"TOP 1 0", "TOP 2 0", "DELE 1", "DELE 9",
                                                "STAT", "QUIT"}));
}

}  // namespace
}  // namespace zel

namespace zel {
namespace {

TEST(Pop3Commands, TopCutOff) {
  test::ScriptServer server;
  server.Send("+OK ready\r\n").Reply("+OK\r\n").Reply("+OK\r\n")
      .Reply("+OK\r\nSubject: cut").Close();
  server.Start();
  InetPop3 client;
  ASSERT_EQ(client.Login(server.address().c_str(), 110, "a", "b", 0), 1);
  EXPECT_EQ(client.Top(1, 0), -206);
  client.Quit();
}

}  // namespace
}  // namespace zel
