// Encrypted connections and SMTP AUTH against the real servers: Dovecot's
// POP3S listener and STLS, aiosmtpd's implicit-TLS listener, STARTTLS and
// AUTH, all with the test CA. The Windows build runs these cases under Wine
// (SChannel) against the same servers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "net/inet_pop3.h"
#include "net/inet_smtp.h"
#include "platform/log.h"
#include "platform/socket.h"
#include "../net/hosts_table.h"
#include "servers.h"
#include "zelpost.h"

namespace zel {
namespace {

using e2e::TestServers;

std::string At(int port) { return TestServers().pop3Host + ":" + std::to_string(port); }


// A TCP relay from 127.0.0.1 to a server port that ends both connections
// once `limit` bytes have come from the server: the TLS stream is cut in
// the middle of whatever it carries then.
class CuttingRelay {
 public:
  CuttingRelay(int serverPort, std::size_t limit) : listener_(SocketListenLoopback(&port)) {
    thread_ = std::thread([this, serverPort, limit] { Run(serverPort, limit); });
  }
  ~CuttingRelay() {
    SocketShutdown(listener_);
    thread_.join();
    SocketClose(listener_);
  }
  int port = 0;

 private:
  void Run(int serverPort, std::size_t limit) {
    const SocketHandle client = SocketAccept(listener_);
    if (client == kNoSocket) return;
    const SocketHandle server = SocketCreateTcp();
    IpAddress address;
    ParseIpAddress("127.0.0.1", &address);
    if (SocketConnect(server, address, serverPort, SocketDeadlineAfter(5)) == SocketStatus::kOk) {
      std::thread up([&] {
        char buffer[4096];
        long n;
        while ((n = SocketRecv(client, buffer, sizeof buffer, kNoDeadline)) > 0 &&
               SocketSendAll(server, buffer, static_cast<std::size_t>(n), kNoDeadline) ==
                   SocketStatus::kOk) {
        }
        SocketShutdown(server);
      });
      char buffer[4096];
      std::size_t relayed = 0;
      long n;
      while (relayed < limit &&
             (n = SocketRecv(server, buffer, std::min(sizeof buffer, limit - relayed), kNoDeadline)) > 0 &&
             SocketSendAll(client, buffer, static_cast<std::size_t>(n), kNoDeadline) == SocketStatus::kOk) {
        relayed += static_cast<std::size_t>(n);
      }
      SocketShutdown(client);
      SocketShutdown(server);
      up.join();
    }
    SocketClose(server);
    SocketClose(client);
  }
  SocketHandle listener_;
  std::thread thread_;
};

class TlsE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(e2e::HasServers());
    e2e::ClearMaildir("alice");
    e2e::ClearMaildir("bob");
  }
  void TearDown() override {
    e2e::ClearMaildir("alice");
    e2e::ClearMaildir("bob");
  }
  e2e::TempDir dir;
};

TEST_F(TlsE2e, SendWithAuthOverStartTlsAndImplicitTls) {
  std::string lines;  // several TLS records' worth
  for (int i = 0; i < 40; ++i) lines += std::string(998, static_cast<char>('a' + i % 26)) + "\r\n";
  const std::string message =
      "From: me@zelpost.test\r\nSubject: tls\r\n\r\nbody\r\n..dot\r\n" + lines + ".\r\n";
  const std::string arrived = "From: me@zelpost.test\r\nSubject: tls\r\n\r\nbody\r\n.dot\r\n" + lines;
  e2e::WriteFileBytes(dir.File("msg"), message);
  struct Case {
    int tls, port;
    const char* user;
  };
  const Case cases[] = {{kTlsStartTls, TestServers().smtpPort, "alice"},
                        {kTlsImplicit, TestServers().smtpsPort, "bob"},
                        {kTlsStartTls, TestServers().smtpPort, nullptr}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tls);
    e2e::ClearMaildir("bob");
    InetSmtp client;
    client.SetTls(c.tls, TestServers().caFile.c_str());
    const std::string password = c.user != nullptr ? TestServers().Password(c.user) : "";
    ASSERT_EQ(client.Open(At(c.port).c_str(), 25, "zelpost.test", c.user, password.c_str()), 1);
    EXPECT_TRUE(client.IsEncrypted());
    std::string recipients = "bob@localhost";
    EXPECT_EQ(client.Deliver("me@zelpost.test", recipients.data(), dir.File("msg").c_str()), 1);
    client.Quit();
    EXPECT_EQ(e2e::ReadMaildir("bob"), std::vector<std::string>{arrived});
  }
}

TEST_F(TlsE2e, ReceiveOverPop3sAndStls) {
  const std::string message = "Message-Id: <tls@zelpost.test>\r\nSubject: over tls\r\n\r\n"
                              "line\r\n.dot line\r\n" + std::string(30000, 'y') + "\r\n";
  e2e::DropMessage("alice", message);
  const std::string stuffed = "Message-Id: <tls@zelpost.test>\r\nSubject: over tls\r\n\r\n"
                              "line\r\n..dot line\r\n" + std::string(30000, 'y') + "\r\n";
  struct Case {
    int tls, port, apop;
  };
  const Case cases[] = {{kTlsImplicit, TestServers().pop3sPort, 0},
                        {kTlsImplicit, TestServers().pop3sPort, 1},
                        {kTlsStartTls, TestServers().pop3Port, 0},
                        {kTlsStartTls, TestServers().pop3Port, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.tls) + " apop " + std::to_string(c.apop));
    InetPop3 client;
    client.SetTls(c.tls, TestServers().caFile.c_str());
    ASSERT_EQ(client.Login(At(c.port).c_str(), 110, "alice", "alicepw", c.apop), 1);
    EXPECT_TRUE(client.IsEncrypted());
    ASSERT_EQ(client.NextMessage(), 1);
    const std::string path = dir.File("retr");
    EXPECT_EQ(client.Retr(1, path.c_str()), 1);
    EXPECT_EQ(e2e::ReadFileBytes(path), stuffed);
    client.Quit();
  }
  // The new-mail check through the library, both ways.
  ASSERT_EQ(zelInitialize(At(TestServers().pop3sPort).c_str(), "127.0.0.1", "alice", "alicepw",
                          "alice@localhost", "Alice"),
            1);
  zelSetValueStr("TLSCAFILE", TestServers().caFile.c_str());
  zelSetValueInt("TLS", kTlsImplicit);
  EXPECT_EQ(zelMailBiff(), 1);
  ASSERT_EQ(zelInitialize(At(TestServers().pop3Port).c_str(), "127.0.0.1", "alice", "alicepw",
                          "alice@localhost", "Alice"),
            1);
  zelSetValueInt("TLS", kTlsStartTls);
  EXPECT_EQ(zelMailBiff(), 1);
  // Receive-all over STLS stores the message.
  zelSetValueInt("SILENT", 1);
  EXPECT_EQ(zelRecvMailAll(dir.File("list").c_str(), dir.path().c_str(), nullptr, nullptr), 1);
  EXPECT_EQ(zelGetErrorInt(), 0);
  EXPECT_NE(e2e::ReadFileBytes(dir.File("list")).find("over tls"), std::string::npos);
  zelSetValueInt("SILENT", 0);
  zelSetValueInt("TLS", kTlsOff);
  zelSetValueStr("TLSCAFILE", "");
}

// The TLS stream cut inside a retrieval gives the classic -211 with the
// part received; a cancel from another thread ends a receive that waits on
// an encrypted connection.
TEST_F(TlsE2e, CutRetrievalAndCancel) {
  std::string message = "Subject: big\r\n\r\n";
  for (int i = 0; i < 3000; ++i) message += std::string(98, static_cast<char>('a' + i % 26)) + "\r\n";
  e2e::DropMessage("alice", message);
  {
    CuttingRelay relay(TestServers().pop3sPort, message.size() / 2);
    InetPop3 client;
    client.SetTls(kTlsImplicit, TestServers().caFile.c_str());
    ASSERT_EQ(client.Login(("127.0.0.1:" + std::to_string(relay.port)).c_str(), 995, "alice",
                           "alicepw", 0),
              1);
    ASSERT_EQ(client.NextMessage(), 1);
    EXPECT_EQ(client.Retr(1, dir.File("cut").c_str()), -211);
    const std::string part = e2e::ReadFileBytes(dir.File("cut"));
    EXPECT_GT(part.size(), message.size() / 4);
    EXPECT_LT(part.size(), message.size() / 2);
    EXPECT_EQ(part, message.substr(0, part.size()));
    client.Quit();
  }
  InetPop3 client;
  client.SetTls(kTlsImplicit, TestServers().caFile.c_str());
  ASSERT_EQ(client.Login(At(TestServers().pop3sPort).c_str(), 995, "alice", "alicepw", 0), 1);
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    client.Disable();
    client.Quit();
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client.RecvLine(), 0);  // Dovecot waits for a command
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  canceller.join();
}

// Through the library: a certificate of another CA, a name the certificate
// lacks, a wrong AUTH password; each fails with its own error, nothing is
// delivered, and the password is not in the log.
TEST_F(TlsE2e, RefusalsHaveTheirErrorsAndSendNothing) {
  const e2e::Servers& servers = TestServers();
  // "mail.zelpost.test" is 127.0.0.1 but not in the servers' certificate.
  const test::HostsTable hosts(test::HostsTable::Entries{{"mail.zelpost.test", {"127.0.0.1"}}});
  SetLogDirectory(dir.path());
  e2e::WriteFileBytes(dir.File("mail.qml"), "To: bob@localhost\r\nSubject: refused\r\n\r\nbody\r\n");
  const std::string smtp = At(servers.smtpPort);
  const std::string smtps = At(servers.smtpsPort);
  const std::string mismatch = "mail.zelpost.test:" + std::to_string(servers.smtpsPort);
  struct Case {
    std::string pop3, smtp, caFile, password;
    int tls, popBeforeSmtp, error;
    std::string text;
  };
  const Case cases[] = {
      {At(servers.pop3Port), smtp, servers.otherCaFile, "alicepw", kTlsStartTls, 0, -401,
       "サーバ証明書が信頼できない [" + smtp + "]"},
      {At(servers.pop3Port), smtp, "", "alicepw", kTlsStartTls, 1, -401,
       "サーバ証明書が信頼できない [" + At(servers.pop3Port) + "]"},
      {At(servers.pop3Port), mismatch, servers.caFile, "alicepw", kTlsImplicit, 0, -402,
       "サーバ証明書のホスト名が一致しない [" + mismatch + "]"},
      {At(servers.pop3Port), smtps, servers.caFile, "Wrong-Pw1", kTlsImplicit, 0, -404,
       "SMTP認証に失敗 [" + smtps + "]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_EQ(zelInitialize(c.pop3.c_str(), c.smtp.c_str(), "alice", c.password.c_str(),
                            "alice@localhost", "Alice"),
              1);
    zelSetValueStr("TLSCAFILE", c.caFile.c_str());
    zelSetValueInt("TLS", c.tls);
    zelSetValueInt("SMTPAUTH", 1);
    zelSetValueInt("POPBEFORESMTP", c.popBeforeSmtp);
    EXPECT_EQ(zelSendMailOne(dir.File("mail.qml").c_str(), nullptr), 0);
    EXPECT_EQ(zelGetErrorInt(), c.error);
    char text[256] = {};
    zelGetErrorStr(text, sizeof text);
    EXPECT_EQ(std::string(text), c.text);
  }
  // Without a CA file the new-mail check fails on the certificate too.
  zelSetValueStr("TLSCAFILE", "");
  zelSetValueInt("TLS", kTlsStartTls);
  EXPECT_EQ(zelMailBiff(), -1);
  EXPECT_EQ(zelGetErrorInt(), -401);
  zelSetValueInt("TLS", kTlsOff);
  zelSetValueInt("SMTPAUTH", 0);
  zelSetValueInt("POPBEFORESMTP", 1);
  EXPECT_FALSE(e2e::WaitForMessageCount("bob", 1, 300));
  const std::string log = e2e::ReadFileBytes(dir.File("zelpost.log"));
  EXPECT_NE(log.find("AUTH PLAIN コマンドエラー 535"), std::string::npos) << log;
  EXPECT_EQ(log.find("Wrong-Pw1"), std::string::npos);
}

}  // namespace
}  // namespace zel
