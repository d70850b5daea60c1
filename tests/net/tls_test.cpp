// TLS under the channel and the secure steps of both clients, against the
// scripted server: handshake outcomes, lines and files over TLS, a cut and
// a cancel, STLS, STARTTLS, AUTH and the refusal to send a password in the
// clear. Cases that need the server's TLS side run on native builds.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "codec/md5.h"
#include "net/inet_pop3.h"
#include "net/inet_smtp.h"
#include "hosts_table.h"
#include "net_test_util.h"
#include "platform/log.h"
#include "script_server.h"

namespace zel {
namespace {

using test::ScriptServer;
using Lines = std::vector<std::string>;

std::string Certificate(const char* name) { return ScriptServer::TestCertificates() + "/" + name; }

// "mail.zelpost.test", a name the test certificate lacks, is 127.0.0.1, as
// localhost is (the lookup stands in for the system's).
test::HostsTable::Entries PrivateNames() {
  return {{"mail.zelpost.test", {"127.0.0.1"}}, {"localhost", {"127.0.0.1"}}};
}

// An IPv4 address of this machine that is not a loopback address (the one
// a datagram to the outside would leave from; nothing is sent), or "".
std::string OutsideAddress() {
  const SocketHandle s = static_cast<SocketHandle>(socket(AF_INET, SOCK_DGRAM, 0));
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(9);
  peer.sin_addr.s_addr = inet_addr("198.51.100.1");
  sockaddr_in local{};
#ifdef _WIN32
  int length = sizeof local;
#else
  socklen_t length = sizeof local;
#endif
  std::string found;
  if (connect(s, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
      (ntohl(local.sin_addr.s_addr) >> 24) != 127 && local.sin_addr.s_addr != 0) {
    found = inet_ntoa(local.sin_addr);
  }
  SocketClose(s);
  return found;
}

TEST(ChannelTls, HandshakeOutcomes) {
  const test::HostsTable hosts(PrivateNames());
  test::ScratchDir dir;
  test::WriteAll(dir.File("not-pem"), "no certificate here\n");
  enum Server { kTls, kPlainText, kCloses, kSilent };
  struct Case {
    const char* name;
    Server server;
    std::string caFile;
    int result;
    bool needsTls;
  };
  const Case cases[] = {
      {"localhost", kTls, Certificate("ca.pem"), 1, true},
      {"127.0.0.1", kTls, Certificate("ca.pem"), 1, true},  // an IP address of the certificate
      {"mail.zelpost.test", kTls, Certificate("ca.pem"), -6, true},
      {"localhost", kTls, "", -5, true},  // the system's store does not know the test CA
      {"localhost", kTls, Certificate("other-ca.pem"), -5, true},
      {"localhost", kTls, dir.File("missing.pem"), -5, true},
      {"localhost", kTls, dir.File("not-pem"), -5, true},
      {"127.0.0.1", kPlainText, "", -4, false},
      {"127.0.0.1", kCloses, "", -4, false},
      {"127.0.0.1", kSilent, "", -4, false},
  };
  for (const Case& c : cases) {
    if (c.needsTls && !ScriptServer::TlsAvailable()) continue;
    SCOPED_TRACE(std::string(c.name) + " " + c.caFile + " " + std::to_string(c.server));
    ScriptServer server;
    switch (c.server) {
      case kTls: server.StartTls().Send("+OK over TLS\r\n"); break;
      case kPlainText: server.Send("+OK plain text, not TLS\r\n"); break;
      case kCloses: server.Close(); break;
      case kSilent: server.Pause(std::chrono::milliseconds(2500)); break;
    }
    server.Start();
    InetSocket channel;
    channel.SetTls(kTlsImplicit, c.caFile.c_str());
    channel.SetTimeout(1);
    const std::string host = std::string(c.name) + ":" + std::to_string(server.port());
    EXPECT_EQ(channel.Connect(host.c_str(), 995), c.result) << channel.TlsDetail();
    EXPECT_EQ(channel.IsEncrypted(), c.result == 1);
    EXPECT_EQ(channel.IsConnected(), c.result == 1);  // a failed handshake closes
    // Plain text can read as the header of a long record: SChannel under
    // Wine waits for the rest, and the time-out ends the handshake.
    if (c.server != kPlainText) {
      EXPECT_EQ(channel.TimedOut(), c.server == kSilent);
    }
    if (c.result == 1) {
      EXPECT_GT(channel.RecvLine(), 0);
      EXPECT_STREQ(channel.replyLine, "+OK over TLS");
    } else if (c.server == kTls) {
      EXPECT_NE(std::string(channel.TlsDetail()), "");
    }
    channel.Quit();
  }
}

// Lines, pieces and a file over TLS; a record larger than one receive
// leaves decrypted bytes that must be read without waiting on the socket;
// a cut inside a retrieval and a cancel from another thread end as they do
// in plain text.
TEST(ChannelTls, LinesFilesCutAndCancel) {
  if (!ScriptServer::TlsAvailable()) GTEST_SKIP() << "no TLS side of the scripted server";
  test::ScratchDir dir;
  std::string block;  // one record of 16,000 bytes: lines of 99 bytes
  for (int i = 0; block.size() + 101 <= 16000; ++i) block += std::string(99, 'a' + i % 26) + "\r\n";
  const std::string longLine(5000, 'L');
  std::string file;
  for (int i = 0; i < 30000; ++i) file += static_cast<char>(i * 7);
  file += "\r\n.\r\n";
  test::WriteAll(dir.File("file"), file);
  {
    ScriptServer server;
    server.StartTls().Send(block).Send("x\r\n").Send(longLine + "\r\n").ReadData().Send("250 ok\r\n");
    server.Start();
    InetSocket channel;
    channel.SetTls(kTlsImplicit, Certificate("ca.pem").c_str());
    channel.SetTimeout(2);  // a read that waits on the socket instead fails
    ASSERT_EQ(channel.Connect(server.address().c_str(), 995), 1);
    std::size_t lines = 0;
    for (; lines < block.size() / 101; ++lines) {
      ASSERT_EQ(channel.RecvLine(), 100) << lines;
      EXPECT_EQ(channel.replyLine[0], static_cast<char>('a' + lines % 26));
    }
    EXPECT_EQ(channel.RecvLine(), 2);
    EXPECT_STREQ(channel.replyLine, "x");
    char piece[4096];
    InetSocket::LineState state;
    EXPECT_EQ(channel.RecvLinePiece(piece, sizeof piece, &state), 4095u);
    EXPECT_EQ(state, InetSocket::kLinePiece);
    EXPECT_EQ(channel.RecvLinePiece(piece, sizeof piece, &state), 905u);
    EXPECT_EQ(state, InetSocket::kLineEnded);
    std::FILE* in = std::fopen(dir.File("file").c_str(), "rb");
    EXPECT_EQ(channel.SendFileData(in), 1);
    std::fclose(in);
    EXPECT_EQ(channel.RecvLine(), 7);
    channel.Quit();
    server.Join();
    EXPECT_EQ(server.data(), file);
  }
  {
    ScriptServer server;  // the connection ends inside the message
    server.StartTls().Send("+OK\r\n").Reply("+OK\r\n").Reply("+OK\r\n")
        .Reply("+OK message\r\nSubject: cut\r\n\r\nfirst line\r\nsecond").Close();
    server.Start();
    InetPop3 client;
    client.SetTls(kTlsImplicit, Certificate("ca.pem").c_str());
    ASSERT_EQ(client.Login(server.address().c_str(), 995, "alice", "pw", 0), 1);
    EXPECT_EQ(client.Retr(1, dir.File("cut").c_str()), -211);
    EXPECT_EQ(test::ReadAll(dir.File("cut")), "Subject: cut\r\n\r\nfirst line\r\nsecond");
    client.Quit();
  }
  {
    ScriptServer server;  // the server says nothing more: the time-out ends the wait
    server.StartTls().Pause(std::chrono::milliseconds(2000));
    server.Start();
    InetSocket channel;
    channel.SetTls(kTlsImplicit, Certificate("ca.pem").c_str());
    channel.SetTimeout(1);
    ASSERT_EQ(channel.Connect(server.address().c_str(), 995), 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(channel.RecvLine(), 0);
    EXPECT_TRUE(channel.TimedOut());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    channel.Quit();
  }
  {
    ScriptServer server;  // the server says nothing more; another thread cancels
    server.StartTls().Send("+OK\r\n");
    server.Start();
    InetSocket channel;
    channel.SetTls(kTlsImplicit, Certificate("ca.pem").c_str());
    channel.SetTimeout(30);
    ASSERT_EQ(channel.Connect(server.address().c_str(), 995), 1);
    ASSERT_EQ(channel.RecvLine(), 4);
    std::thread canceller([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      channel.Disable();
      channel.Quit();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(channel.RecvLine(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    canceller.join();
  }
}

// STLS: refused means no login at all; bytes the server sends before the
// handshake are not read as replies after it; APOP takes the greeting's
// timestamp from before STLS.
TEST(Pop3Tls, StlsDialogues) {
  {
    ScriptServer server;
    server.Send("+OK ready <1.2@x>\r\n").Reply("-ERR no STLS here\r\n");
    server.Start();
    InetPop3 client;
    client.SetTls(kTlsStartTls, "");
    EXPECT_EQ(client.Login(server.address().c_str(), 110, "alice", "secret", 0), kTlsNotOffered);
    client.Quit();
    server.Join();
    EXPECT_EQ(server.commands(), (Lines{"STLS", "QUIT"}));
  }
  if (!ScriptServer::TlsAvailable()) return;
  Md5 md5;
  md5.update("<1.2@x>pw", 9);
  unsigned char digest[kMd5DigestSize];
  md5.finish(digest);
  std::string hex;
  for (unsigned char byte : digest) {
    static const char kDigits[] = "0123456789abcdef";
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  for (const int apop : {0, 1}) {
    ScriptServer server;
    server.Send("+OK ready <1.2@x>\r\n").Reply("+OK begin TLS\r\n-ERR injected\r\n").StartTls();
    if (apop == 0) server.Reply("+OK\r\n");
    server.Reply("+OK logged in\r\n");
    server.Start();
    InetPop3 client;
    client.SetTls(kTlsStartTls, Certificate("ca.pem").c_str());
    EXPECT_EQ(client.Login(server.address().c_str(), 110, "alice", "pw", apop), 1);
    EXPECT_TRUE(client.IsEncrypted());
    client.Quit();
    server.Join();
    EXPECT_EQ(server.commands(), apop == 0 ? (Lines{"STLS", "USER alice", "PASS pw", "QUIT"})
                                           : (Lines{"STLS", "APOP alice " + hex, "QUIT"}));
  }
}

// EHLO, STARTTLS and AUTH on loopback connections (a password may go to
// this machine in the clear): what is sent, and the code of each refusal.
TEST(SmtpSecure, EhloStartTlsAndAuthDialogues) {
  test::ScratchDir dir;
  SetLogDirectory(dir.path());
  struct Case {
    int tls;
    bool auth;
    std::vector<std::string> replies;  // the greeting, then one per command
    int result;
    Lines commands;  // Quit's included
    bool needsTls;
  };
  const std::string plain = "AUTH PLAIN AGFsaWNlAFNlY3JldDk=";  // \0alice\0Secret9
  const Case cases[] = {
      {0, true, {"220 hi\r\n", "250-x\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n", "235 ok\r\n"},
       1, {"EHLO d", plain, "QUIT"}, false},
      {0, true,
       {"220 hi\r\n", "250-x\r\n250 AUTH LOGIN\r\n", "334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n",
        "235 ok\r\n"},
       1, {"EHLO d", "AUTH LOGIN", "YWxpY2U=", "U2VjcmV0OQ==", "QUIT"}, false},
      {0, true, {"220 hi\r\n", "250-x\r\n250 AUTH PLAIN\r\n", "535 5.7.8 bad credentials\r\n"},
       kAuthRefused, {"EHLO d", plain, "QUIT"}, false},
      {0, true, {"220 hi\r\n", "250-x\r\n250 SIZE 10\r\n"}, kAuthRefused, {"EHLO d", "QUIT"}, false},
      {0, true, {"220 hi\r\n", "502 no EHLO\r\n"}, -301, {"EHLO d", "QUIT"}, false},
      {2, true, {"220 hi\r\n", "250-x\r\n250 AUTH PLAIN\r\n"}, kTlsNotOffered, {"EHLO d", "QUIT"},
       false},
      {2, false, {"220 hi\r\n", "250-x\r\n250 STARTTLS\r\n", "454 not now\r\n"}, kTlsNotOffered,
       {"EHLO d", "STARTTLS", "QUIT"}, false},
      {2, true, {"220 hi\r\n", "250-x\r\n250 STARTTLS\r\n", "220 go ahead\r\n"}, 1,
       {"EHLO d", "STARTTLS", "EHLO d", plain, "QUIT"}, true},
  };
  for (const Case& c : cases) {
    if (c.needsTls && !ScriptServer::TlsAvailable()) continue;
    SCOPED_TRACE(c.commands[1]);
    ScriptServer server;
    server.Send(c.replies[0]);
    for (std::size_t i = 1; i < c.replies.size(); ++i) server.Reply(c.replies[i]);
    if (c.needsTls) server.StartTls().Reply("250-x\r\n250 AUTH PLAIN\r\n").Reply("235 ok\r\n");
    server.Start();
    InetSmtp client;
    client.SetTls(c.tls, Certificate("ca.pem").c_str());
    EXPECT_EQ(client.Open(server.address().c_str(), 25, "d", c.auth ? "alice" : nullptr, "Secret9"),
              c.result);
    client.Quit();
    server.Join();
    EXPECT_EQ(server.commands(), c.commands);
  }
  // The refusal is logged with the server's reply, never with the password.
  const std::string log = test::ReadAll(dir.File("zelpost.log"));
  EXPECT_NE(log.find("AUTH PLAIN コマンドエラー 535 5.7.8 bad credentials"), std::string::npos) << log;
  EXPECT_EQ(log.find("Secret9"), std::string::npos);
  EXPECT_EQ(log.find("AGFsaWNl"), std::string::npos);
  EXPECT_EQ(log.find("U2VjcmV0OQ"), std::string::npos);
  SetLogDirectory("/tmp");
}

// To a server on another machine, over a plain connection, AUTH is refused
// before the first command: the server sees nothing but QUIT.
TEST(SmtpSecure, AuthRefusedOnPlainRemoteConnection) {
  const std::string outside = OutsideAddress();
  if (outside.empty()) GTEST_SKIP() << "no address of this machine outside the loopback network";
  ScriptServer server;
  server.ListenOn(outside);
  server.Send("220 hi\r\n");
  server.Start();
  InetSmtp client;
  EXPECT_EQ(client.Open(server.address().c_str(), 25, "d", "alice", "Secret9"), kAuthUnencrypted);
  EXPECT_FALSE(client.PeerIsLoopback());
  client.Quit();
  server.Join();
  EXPECT_EQ(server.commands(), Lines{"QUIT"});
}

}  // namespace
}  // namespace zel
