// Today's providers against the real servers: Dovecot and aiosmtpd on ::1
// only, reached by "[::1]:port" and by names whose first address refuses;
// over TLS with a certificate naming ::1; and SMTP AUTH XOAUTH2 against
// aiosmtpd's token handler. The Windows build runs these under Wine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../net/hosts_table.h"
#include "net/inet_socket.h"
#include "platform/log.h"
#include "servers.h"
#include "zelpost.h"

namespace zel {
namespace {

using e2e::TestServers;

std::string ErrorText() {
  char text[256] = {};
  zelGetErrorStr(text, sizeof text);
  return text;
}

std::string ErrDetail() {
  char text[1024] = {};
  zelGetValueStr("ERRDETAIL", text, sizeof text);
  return text;
}

class ProvidersE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(e2e::HasServers());
    e2e::ClearMaildir("alice");
    SetLogDirectory(dir.path());
  }
  void TearDown() override {
    e2e::ClearMaildir("alice");
    zelSetValueInt("TLS", kTlsOff);
    zelSetValueInt("SMTPAUTH", 0);
    zelSetValueInt("POPBEFORESMTP", 1);
    zelSetValueInt("SILENT", 0);
    zelSetValueStr("TLSCAFILE", "");
  }
  e2e::TempDir dir;
};

// Send, new-mail check and receive-all with servers that listen on ::1
// only: by address, and by names the private hosts table resolves to
// 127.0.0.254 first (refused there) and ::1 second, plain and over TLS.
// Not 127.0.0.1: a scripted server of a test running beside this one may
// hold the same port number there and take the mail.
TEST_F(ProvidersE2e, SendCheckAndReceiveOverIpv6) {
  const e2e::Servers& s = TestServers();
  const test::HostsTable hosts(test::HostsTable::Entries{{"dual.zelpost.test", {"127.0.0.254", "::1"}},
                                                         {"localhost", {"127.0.0.254", "::1"}}});
  const auto at = [](const std::string& host, int port) { return host + ":" + std::to_string(port); };
  const struct {
    std::string pop3, smtp;
    int tls, smtpAuth;
  } rows[] = {
      {at("[::1]", s.pop3V6Port), at("[::1]", s.smtpV6Port), kTlsOff, 0},
      {at("dual.zelpost.test", s.pop3V6Port), at("dual.zelpost.test", s.smtpV6Port), kTlsOff, 0},
      {at("[::1]", s.pop3sV6Port), at("[::1]", s.smtpsV6Port), kTlsImplicit, 1},
      {at("localhost", s.pop3sV6Port), at("localhost", s.smtpsV6Port), kTlsImplicit, 1},
      {at("[::1]", s.pop3V6Port), at("[::1]", s.smtpV6Port), kTlsStartTls, 1},
  };
  int n = 0;
  for (const auto& r : rows) {
    SCOPED_TRACE(r.pop3 + " TLS " + std::to_string(r.tls));
    const std::string subject = "ipv6 " + std::to_string(++n);
    e2e::WriteFileBytes(dir.File("mail.qml"), "To: alice@localhost\r\nSubject: " + subject + "\r\n\r\nbody\r\n");
    ASSERT_EQ(zelInitialize(r.pop3.c_str(), r.smtp.c_str(), "alice", s.Password("alice").c_str(),
                            "alice@localhost", "Alice"),
              1);
    zelSetValueStr("TLSCAFILE", s.caFile.c_str());
    zelSetValueInt("TLS", r.tls);
    zelSetValueInt("SMTPAUTH", r.smtpAuth);
    zelSetValueInt("POPBEFORESMTP", 0);
    zelSetValueInt("SILENT", 1);
    EXPECT_EQ(zelSendMailOne(dir.File("mail.qml").c_str(), nullptr), 1) << ErrorText() << ErrDetail();
    EXPECT_EQ(ErrDetail(), "");
    ASSERT_TRUE(e2e::WaitForMessageCount("alice", 1));
    EXPECT_EQ(zelMailBiff(), 1) << ErrDetail();
    EXPECT_EQ(zelRecvMailAll(dir.File("list").c_str(), dir.path().c_str(), nullptr, nullptr), 1)
        << ErrDetail();
    EXPECT_NE(e2e::ReadFileBytes(dir.File("list")).find(subject), std::string::npos);
    e2e::ClearMaildir("alice");
  }
  // Each connection by name looked it up once: send, check and receive of
  // the two rows that use names.
  EXPECT_EQ(test::HostsTable::Names().size(), 6u);
}

// SMTP AUTH XOAUTH2 (SMTPAUTH 2) against aiosmtpd: the right token sends;
// a wrong one gives the AUTH error, the server's reply and its decoded JSON
// as the reason and in the log, and no token anywhere in the log.
TEST_F(ProvidersE2e, XOAuth2AgainstAiosmtpd) {
  const e2e::Servers& s = TestServers();
  const std::string smtps = "[::1]:" + std::to_string(s.smtpsV6Port);
  e2e::WriteFileBytes(dir.File("mail.qml"), "To: alice@localhost\r\nSubject: token\r\n\r\nbody\r\n");
  const std::string json = R"({"status":"401","schemes":"bearer","scope":"https://mail.zelpost.test/"})";
  const struct {
    std::string token;
    int result, error;
    std::string text, detail;
    int errorClass;
  } rows[] = {
      {s.Token("alice"), 1, 0, "", "", 0},
      {"not-" + s.Token("alice"), 0, kAuthRefused, "SMTP認証に失敗 [" + smtps + "]",
       "535 5.7.8 Username and Password not accepted " + json, ZELPOST_ERRCLASS_AUTH},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.token);
    ASSERT_EQ(zelInitialize("pop3", smtps.c_str(), "alice", r.token.c_str(), "alice@localhost", ""), 1);
    zelSetValueStr("TLSCAFILE", s.caFile.c_str());
    zelSetValueInt("TLS", kTlsImplicit);
    EXPECT_EQ(zelSetValueInt("SMTPAUTH", 2), 2);
    zelSetValueInt("POPBEFORESMTP", 0);
    EXPECT_EQ(zelSendMailOne(dir.File("mail.qml").c_str(), nullptr), r.result);
    EXPECT_EQ(zelGetErrorInt(), r.error);
    EXPECT_EQ(ErrorText(), r.text);
    EXPECT_EQ(ErrDetail(), r.detail);
    EXPECT_EQ(zelGetValueInt("ERRCLASS"), r.errorClass);
    EXPECT_EQ(e2e::WaitForMessageCount("alice", 1, r.result == 1 ? 3000 : 300), r.result == 1);
    e2e::ClearMaildir("alice");
  }
  const std::string log = e2e::ReadFileBytes(dir.File("zelpost.log"));
  EXPECT_NE(log.find("AUTH XOAUTH2 コマンドエラー 535 5.7.8 Username and Password not accepted " + json),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find(s.Token("alice")), std::string::npos) << log;
}

}  // namespace
}  // namespace zel
