// Line rules, sending and cancellation of the channel against a scripted
// loopback server.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "hosts_table.h"
#include "net/inet_socket.h"
#include "net_test_util.h"
#include "script_server.h"

namespace zel {
namespace {

using test::ScriptServer;

// A listener that never accepts: connections complete in its queue, and
// nothing is ever read from them or sent to them.
struct DeafListener {
  explicit DeafListener(int backlog = -1) : socket(SocketListenLoopback(&port, backlog)) {}
  ~DeafListener() { SocketClose(socket); }
  int port = 0;
  SocketHandle socket;
};

// A channel connected to a server that sends `bytes` and then waits.
struct Fed {
  explicit Fed(const std::string& bytes, bool closeAfter = false) {
    server.Send(bytes);
    if (closeAfter) server.Close();
    server.Start();
    connected = channel.Connect("127.0.0.1", server.port());
  }
  ScriptServer server;
  InetSocket channel;
  int connected = 0;
};

TEST(ChannelLines, CrLfEndsALineAndLoneLfIsData) {
  Fed fed(std::string("\r\nabc\ndef\r\n\nx\r\n"), true);
  ASSERT_EQ(fed.connected, 1);
  EXPECT_EQ(fed.channel.RecvLine(), 1);
  EXPECT_STREQ(fed.channel.replyLine, "");
  EXPECT_EQ(fed.channel.RecvLine(), 8);
  EXPECT_STREQ(fed.channel.replyLine, "abc\ndef");
  EXPECT_EQ(fed.channel.RecvLine(), 3);  // a LF first in a line is data
  EXPECT_STREQ(fed.channel.replyLine, "\nx");
  EXPECT_EQ(fed.channel.RecvLine(), 0);
}

TEST(ChannelLines, LongLinesComeInPiecesOf4095) {
  const std::string whole(4093, 'w');
  const std::string longer(5000, 'l');
  Fed fed(whole + "\r\n" + longer + "\r\n", true);
  EXPECT_EQ(fed.channel.RecvLine(), 4094);
  EXPECT_EQ(std::string(fed.channel.replyLine), whole);
  EXPECT_EQ(fed.channel.RecvLine(), 4095);
  EXPECT_EQ(std::string(fed.channel.replyLine), longer.substr(0, 4095));
  EXPECT_EQ(fed.channel.RecvLine(), 906);
  EXPECT_EQ(std::string(fed.channel.replyLine), longer.substr(4095));
}

TEST(ChannelLines, NulEndsTheTextAndFFIsData) {
  static const char kBytes[] = "ab\0cd\r\n\0xy\r\n\xFF\xFE\r\n";
  Fed fed(std::string(kBytes, sizeof kBytes - 1), true);
  EXPECT_EQ(fed.channel.RecvLine(), 2);
  EXPECT_STREQ(fed.channel.replyLine, "ab");
  EXPECT_EQ(fed.channel.RecvLine(), 3);
  EXPECT_STREQ(fed.channel.replyLine, "cd");
  EXPECT_EQ(fed.channel.RecvLine(), 0);  // a line that begins with NUL
  EXPECT_EQ(fed.channel.RecvLine(), 3);
  EXPECT_STREQ(fed.channel.replyLine, "xy");
  EXPECT_EQ(fed.channel.RecvLine(), 3);
  EXPECT_STREQ(fed.channel.replyLine, "\xFF\xFE");
}

TEST(ChannelLines, CloseInMidLineGivesNoLine) {
  Fed fed("+OK first\r\npartial", true);
  EXPECT_EQ(fed.channel.RecvLine(), 10);
  EXPECT_EQ(fed.channel.RecvLine(), 0);
  EXPECT_EQ(fed.channel.RecvChar(), -1);
}

TEST(ChannelLines, PhysicalLinePiecesKeepEveryByte) {
  // A CR falling on the piece boundary must still pair with its LF.
  std::string line(4094, 'p');
  line += '\r';
  const std::string nul("a\0b\nc", 5);
  Fed fed(line + "\n" + nul + "\r\ncut", true);
  char piece[kReplyLineSize];
  InetSocket::LineState state;
  std::size_t n = fed.channel.RecvLinePiece(piece, sizeof piece, &state);
  EXPECT_EQ(state, InetSocket::kLinePiece);
  EXPECT_EQ(n, 4094u);
  n = fed.channel.RecvLinePiece(piece, sizeof piece, &state);
  EXPECT_EQ(state, InetSocket::kLineEnded);
  EXPECT_EQ(n, 0u);
  n = fed.channel.RecvLinePiece(piece, sizeof piece, &state);
  EXPECT_EQ(state, InetSocket::kLineEnded);
  EXPECT_EQ(std::string(piece, n), nul);
  n = fed.channel.RecvLinePiece(piece, sizeof piece, &state);
  EXPECT_EQ(state, InetSocket::kLineCut);
  EXPECT_EQ(std::string(piece, n), "cut");
}

TEST(ChannelConnect, ResolutionAndRefusal) {
  InetSocket channel;
  EXPECT_EQ(channel.Connect(nullptr, 110), -1);
  EXPECT_EQ(channel.Connect("", 110), -1);
  EXPECT_EQ(channel.Connect("no-such-host.invalid", 110), -1);
  int port = 0;
  const SocketHandle probe = SocketListenLoopback(&port);
  ASSERT_NE(probe, kNoSocket);
  SocketClose(probe);  // nothing listens there any more
  EXPECT_EQ(channel.Connect("127.0.0.1", port), -3);
  EXPECT_EQ(channel.Close(), 1);
  EXPECT_EQ(channel.Close(), 0);
}

TEST(ChannelConnect, NameWithPortOverridesTheFixedPort) {
  ScriptServer server;
  server.Send("hello\r\n");
  server.Start();
  InetSocket channel;
  EXPECT_EQ(channel.Connect(("localhost:" + std::to_string(server.port())).c_str(), 1), 1);
  EXPECT_EQ(channel.Port(), server.port());
  EXPECT_EQ(channel.RecvLine(), 6);
  channel.Quit();
  server.Join();
  ASSERT_EQ(server.commands().size(), 1u);
  EXPECT_EQ(server.commands()[0], "QUIT");
}

TEST(ChannelConnect, CloseWithoutSocketDoesNothing) {
  InetSocket channel;
  EXPECT_EQ(channel.Close(), 0);
  EXPECT_EQ(channel.Quit(), 1);
}

TEST(ServerName, PortAfterTheLastColon) {
  char name[32];
  int port = 0;
  ASSERT_TRUE(SplitServerName("127.0.0.1:11110", 110, name, sizeof name, &port));
  EXPECT_STREQ(name, "127.0.0.1");
  EXPECT_EQ(port, 11110);
  ASSERT_TRUE(SplitServerName("mail.example.jp", 25, name, sizeof name, &port));
  EXPECT_STREQ(name, "mail.example.jp");
  EXPECT_EQ(port, 25);
  // Not a port: the whole text is the name and the fixed port stays.
  for (const char* text : {"host:0", "host:65536", "host:12a", "host:", "host:99999999999"}) {
    ASSERT_TRUE(SplitServerName(text, 110, name, sizeof name, &port)) << text;
    EXPECT_STREQ(name, text);
    EXPECT_EQ(port, 110);
  }
  ASSERT_TRUE(SplitServerName("host:65535", 110, name, sizeof name, &port));
  EXPECT_EQ(port, 65535);
  EXPECT_FALSE(SplitServerName(":110", 110, name, sizeof name, &port));
  // A name part that does not fit is refused, never cut.
  EXPECT_TRUE(SplitServerName("abc:110", 25, name, 4, &port));
  EXPECT_FALSE(SplitServerName("abcd:110", 25, name, 4, &port));
  EXPECT_FALSE(SplitServerName("abcd", 25, name, 4, &port));
  EXPECT_FALSE(SplitServerName(nullptr, 110, name, sizeof name, &port));
}

// The forms of IPv6: in brackets with or without a port, and bare (two or
// more colons and no brackets are an address, never an address and port).
TEST(ServerName, Ipv6InBracketsOrBare) {
  const struct {
    const char* server;
    bool ok;
    const char* name;
    int port;
  } cases[] = {
      {"[2001:db8::1]:995", true, "2001:db8::1", 995}, {"[::1]", true, "::1", 110},
      {"2001:db8::1", true, "2001:db8::1", 110},       {"::1:995", true, "::1:995", 110},
      {"[::1]:0", false, "", 0},                        {"[::1", false, "", 0},
      {"[::1]x", false, "", 0},                         {"[]:110", false, "", 0},
  };
  for (const auto& c : cases) {
    char name[64] = {};
    int port = 0;
    EXPECT_EQ(SplitServerName(c.server, 110, name, sizeof name, &port), c.ok) << c.server;
    if (!c.ok) continue;
    EXPECT_STREQ(name, c.name);
    EXPECT_EQ(port, c.port) << c.server;
  }
}

// A name's addresses are raced: the next starts 250 ms after one that has
// not answered, the first to connect wins, all within one time-out; the
// reason names every address tried.
TEST(ChannelConnect, AddressesRacedWithinOneTimeout) {
  // A port where 127.0.0.1 does not answer (a full queue: the connect
  // waits) and ::1 serves, and one refused on both.
  DeafListener full(0);
  const SocketHandle filler = SocketCreateTcp();
  IpAddress loopback;
  ASSERT_TRUE(ParseIpAddress("127.0.0.1", &loopback));
  ASSERT_EQ(SocketConnect(filler, loopback, full.port, SocketDeadlineAfter(5)), SocketStatus::kOk);
  ScriptServer server;
  server.ListenOn("::1", full.port);
  server.Send("+OK over IPv6\r\n");
  server.Start();
  int refused = 0;
  SocketClose(SocketListenLoopback(&refused));
  const test::HostsTable hosts(test::HostsTable::Entries{{"mail.zelpost.test", {"127.0.0.1", "::1"}}});
  InetSocket channel;
  channel.SetTimeout(1);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(channel.Connect(("mail.zelpost.test:" + std::to_string(full.port)).c_str(), 110), 1);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(240));
  EXPECT_LT(took, std::chrono::milliseconds(900));
  EXPECT_FALSE(channel.TimedOut());  // the second address connected
  EXPECT_GT(channel.RecvLine(), 0);
  EXPECT_STREQ(channel.replyLine, "+OK over IPv6");
  EXPECT_TRUE(channel.PeerIsLoopback());
  channel.Quit();
  server.Join();

  const std::string both = "mail.zelpost.test:" + std::to_string(refused);
  EXPECT_EQ(channel.Connect(both.c_str(), 110), -3);
  EXPECT_EQ(channel.Failure().kind, FailureKind::kRefused);
  const std::string port = std::to_string(refused);
  EXPECT_EQ(std::string(channel.Failure().text), "接続できない [" + both + "]: 127.0.0.1:" + port +
                                                    " 接続を拒否された; [::1]:" + port + " 接続を拒否された");
  EXPECT_EQ(channel.Connect("no-such-name.zelpost.test", 110), -1);
  EXPECT_EQ(channel.Failure().kind, FailureKind::kNoHost);
  EXPECT_STREQ(channel.Failure().text, "ホスト名が見つからない [no-such-name.zelpost.test]");
  SocketClose(filler);
}

TEST(ChannelSend, LinesAndFilesGoOutUnchanged) {
  test::ScratchDir dir;
  std::string block;
  for (int i = 0; i < 10000; ++i) block += static_cast<char>(i * 7 % 256);
  block += "\r\n.\r\n";
  test::WriteAll(dir.File("big"), block);
  test::WriteAll(dir.File("empty"), "");
  ScriptServer server;
  server.Read().ReadData();
  server.Start();
  InetSocket channel;
  ASSERT_EQ(channel.Connect("127.0.0.1", server.port()), 1);
  EXPECT_EQ(channel.SendLine("..not stuffed"), 15);
  std::FILE* empty = std::fopen(dir.File("empty").c_str(), "rb");
  EXPECT_EQ(channel.SendFileData(empty), 1);
  std::fclose(empty);
  std::FILE* big = std::fopen(dir.File("big").c_str(), "rb");
  EXPECT_EQ(channel.SendFileData(big), 1);
  std::fclose(big);
  EXPECT_EQ(channel.SendFileData(nullptr), 0);
  channel.Quit();
  server.Join();
  EXPECT_EQ(server.commands().at(0), "..not stuffed");
  EXPECT_EQ(server.data(), block);
}

TEST(ChannelSend, OverlongCommandIsRefusedNotCut) {
  ScriptServer server;
  server.Start();
  InetSocket channel;
  ASSERT_EQ(channel.Connect("127.0.0.1", server.port()), 1);
  EXPECT_EQ(channel.SendCommand("RCPT TO:<%s>", std::string(1100, 'a').c_str()), 0);
  EXPECT_EQ(channel.SendCommand("NOOP %d", 1), 8);
  channel.Quit();
  server.Join();
  ASSERT_EQ(server.commands().size(), 2u);
  EXPECT_EQ(server.commands()[0], "NOOP 1");
}

// An argument holding a line end would smuggle a second command through.
TEST(ChannelSend, LineEndInsideACommandIsRefused) {
  ScriptServer server;
  server.Start();
  InetSocket channel;
  ASSERT_EQ(channel.Connect("127.0.0.1", server.port()), 1);
  EXPECT_EQ(channel.SendCommand("RCPT TO:<%s>", "a>\r\nRCPT TO:<b"), 0);
  EXPECT_EQ(channel.SendCommand("USER %s", "me\nDELE 1"), 0);
  EXPECT_EQ(channel.SendLine("PASS x\ry"), 0);
  EXPECT_EQ(channel.SendLine("NOOP"), 6);
  channel.Quit();
  server.Join();
  ASSERT_EQ(server.commands().size(), 2u);
  EXPECT_EQ(server.commands()[0], "NOOP");
  EXPECT_EQ(server.commands()[1], "QUIT");
}

TEST(ChannelSend, SendingToAClosedPeerFailsWithoutSignal) {
  ScriptServer server;
  server.Close();
  server.Start();
  InetSocket channel;
  ASSERT_EQ(channel.Connect("127.0.0.1", server.port()), 1);
  server.Join();
  EXPECT_EQ(channel.RecvLine(), 0);  // the peer has gone
  // The first send may still be accepted; later ones meet the reset. With
  // SIGPIPE the test program would die here.
  int failures = 0;
  for (int i = 0; i < 20; ++i) {
    if (channel.SendLine("NOOP") == 0) ++failures;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_GT(failures, 0);
  EXPECT_EQ(channel.Quit(), 1);
}

TEST(ChannelCancel, DisableKeepsBufferedLinesThenStops) {
  Fed fed("one\r\ntwo\r\n");
  EXPECT_EQ(fed.channel.RecvLine(), 4);
  fed.channel.Disable();
  EXPECT_EQ(fed.channel.RecvLine(), 4);  // already in the buffer
  EXPECT_STREQ(fed.channel.replyLine, "two");
  EXPECT_EQ(fed.channel.RecvLine(), 0);  // no refill while disabled
  EXPECT_EQ(fed.channel.SendLine("NOOP"), 0);
  fed.channel.Quit();
  fed.server.Join();
  EXPECT_TRUE(fed.server.commands().empty());  // no QUIT while disabled
}

TEST(ChannelCancel, DisableAndQuitFromAnotherThreadWakeABlockedReceive) {
  Fed fed("+OK waiting\r\n");
  ASSERT_EQ(fed.channel.RecvLine(), 12);
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    fed.channel.Disable();
    fed.channel.Quit();
  });
  EXPECT_EQ(fed.channel.RecvLine(), 0);  // blocked until the cancel
  canceller.join();
  fed.server.Join();
  EXPECT_TRUE(fed.server.commands().empty());
  EXPECT_TRUE(fed.server.sawEof());
  EXPECT_FALSE(fed.channel.IsConnected());
}

// Retiring wakes a blocked receive, and nothing revives the channel: an
// operation that was about to start fails at once instead of connecting.
TEST(ChannelCancel, RetireIsForGood) {
  Fed fed("+OK waiting\r\n");
  ASSERT_EQ(fed.channel.RecvLine(), 12);
  fed.channel.SetTimeout(0);  // only the retire can end the wait
  std::thread owner([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    fed.channel.Retire();
  });
  EXPECT_EQ(fed.channel.RecvLine(), 0);
  owner.join();
  fed.channel.Enable();
  EXPECT_FALSE(fed.channel.IsEnabled());
  DeafListener listening;
  EXPECT_EQ(fed.channel.Connect("127.0.0.1", listening.port), -3);
  EXPECT_FALSE(fed.channel.IsConnected());
}

TEST(ChannelCancel, ConnectDoesNotUndoACancel) {
  ScriptServer server;
  server.Send("+OK\r\n");
  server.Start();
  InetSocket channel;
  channel.Disable();
  ASSERT_EQ(channel.Connect("127.0.0.1", server.port()), 1);
  EXPECT_FALSE(channel.IsEnabled());
  EXPECT_EQ(channel.RecvLine(), 0);
  channel.Enable();
  EXPECT_EQ(channel.RecvLine(), 4);
  channel.Quit();
}

// A wait that times out fails its step; the channel then fails every later
// step at once, so the operation ends at the step that waited.
TEST(ChannelTimeout, SilentPeerEndsTheStepThatWaits) {
  test::ScratchDir dir;
  test::WriteAll(dir.File("big"), std::string(32 << 20, 'x'));  // more than both buffers hold
  const std::string big = dir.File("big");
  const struct {
    const char* step;
    std::function<int(InetSocket&)> run;
  } cases[] = {
      {"receive", [](InetSocket& c) { return c.RecvLine(); }},
      {"send", [&](InetSocket& c) {
         std::FILE* file = std::fopen(big.c_str(), "rb");
         const int sent = c.SendFileData(file);
         std::fclose(file);
         return sent;
       }},
  };
  for (const auto& c : cases) {
    DeafListener deaf;
    InetSocket channel;
    channel.SetTimeout(1);
    ASSERT_EQ(channel.Connect("127.0.0.1", deaf.port), 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.run(channel), 0) << c.step;
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900)) << c.step;
    EXPECT_TRUE(channel.TimedOut()) << c.step;
    EXPECT_STREQ(channel.TimeoutNote(), " (タイムアウト 1秒)");
    EXPECT_EQ(channel.SendLine("NOOP"), 0) << c.step;
    EXPECT_EQ(channel.RecvLine(), 0) << c.step;
    EXPECT_EQ(channel.Quit(), 1);
  }
#ifndef _WIN32
  // A listener whose queue is full leaves a further SYN unanswered (Linux).
  DeafListener full(0);
  InetSocket queued;
  ASSERT_EQ(queued.Connect("127.0.0.1", full.port), 1);
  InetSocket late;
  late.SetTimeout(1);
  EXPECT_EQ(late.Connect("127.0.0.1", full.port), -3);
  EXPECT_TRUE(late.TimedOut());
  EXPECT_FALSE(queued.TimedOut());
  // A new connection starts without the mark.
  ScriptServer server;
  server.Send("+OK\r\n");
  server.Start();
  EXPECT_EQ(late.Connect("127.0.0.1", server.port()), 1);
  EXPECT_FALSE(late.TimedOut());
  EXPECT_STREQ(late.TimeoutNote(), "");
  EXPECT_EQ(late.RecvLine(), 4);
  late.Quit();
#endif
}

// The protocol trace never shows a secret: the argument of PASS, APOP,
// AUTH, AUTHENTICATE and LOGIN, and any line answering a challenge.
TEST(ProtocolTraceMask, SecretsAreMasked) {
  const struct {
    const char* line;
    bool challenged;
    const char* shown;
  } rows[] = {
      {"USER alice", false, "USER alice"},
      {"PASS s3cret", false, "PASS ********"},
      {"APOP alice 0123456789abcdef", false, "APOP alice ********"},
      {"AUTH PLAIN AGFsaWNlAHMzY3JldA==", false, "AUTH PLAIN ********"},
      {"AUTH LOGIN", false, "AUTH LOGIN"},
      {"YWxpY2U=", true, "********"},
      {"A1 LOGIN alice s3cret", false, "A1 LOGIN alice ********"},
      {"A2 AUTHENTICATE XOAUTH2 dXNlcj1h", false, "A2 AUTHENTICATE XOAUTH2 ********"},
      {"MAIL FROM:<a@example.jp>", false, "MAIL FROM:<a@example.jp>"},
  };
  for (const auto& r : rows) EXPECT_EQ(ProtocolTrace::Masked(r.line, r.challenged), r.shown) << r.line;
}

}  // namespace
}  // namespace zel
