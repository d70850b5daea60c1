// EHLO extensions and the AUTH PLAIN / LOGIN lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/smtp_extensions.h"

namespace zel {
namespace {

TEST(SmtpExtensions, EhloLinesAnnounceWhatTheySay) {
  struct Case {
    std::vector<const char*> lines;
    bool startTls, plain, login;
  };
  const Case cases[] = {
      {{"250-mail.example greets you", "250-STARTTLS", "250 AUTH LOGIN PLAIN"}, true, true, true},
      {{"250-x", "250-auth=login", "250 starttls"}, true, false, true},
      {{"250-x", "250-AUTH CRAM-MD5 PLAINX", "250 SIZE 100"}, false, false, false},
      {{"250-x", "250-AUTH  plain", "250 8BITMIME"}, false, true, false},
      // The first line is the server's name, and a bare code is no keyword.
      {{"250 STARTTLS AUTH PLAIN"}, false, false, false},
      {{"250-x", "250", "250-"}, false, false, false},
      {{"250-x", "250-STARTTLSX", "250 AUTHPLAIN"}, false, false, false},
  };
  for (const Case& c : cases) {
    SmtpExtensions e;
    for (std::size_t i = 0; i < c.lines.size(); ++i) NoteEhloLine(c.lines[i], i == 0, e);
    const std::string where = c.lines.back();
    EXPECT_EQ(e.startTls, c.startTls) << where;
    EXPECT_EQ(e.authPlain, c.plain) << where;
    EXPECT_EQ(e.authLogin, c.login) << where;
  }
}

TEST(SmtpExtensions, AuthLinesAndTheirLimits) {
  char out[300];
  // RFC 4616's example without an authorisation identity.
  ASSERT_TRUE(AuthPlainCommand("tim", "tanstaaftanstaaf", out, sizeof out));
  EXPECT_STREQ(out, "AUTH PLAIN AHRpbQB0YW5zdGFhZnRhbnN0YWFm");
  ASSERT_TRUE(AuthLoginResponse("alice", out, sizeof out));
  EXPECT_STREQ(out, "YWxpY2U=");
  ASSERT_TRUE(AuthLoginResponse("", out, sizeof out));
  EXPECT_STREQ(out, "");
  // Two whole account fields fit; a buffer too small is wiped, not cut.
  const std::string field(99, 'p');
  EXPECT_TRUE(AuthPlainCommand(field.c_str(), field.c_str(), out, sizeof out));
  EXPECT_EQ(std::string(out).size(), 11u + 268u);
  char small[16];
  EXPECT_FALSE(AuthPlainCommand("user", "secret-password", small, sizeof small));
  EXPECT_EQ(std::string(small, sizeof small), std::string(sizeof small, '\0'));
  EXPECT_FALSE(AuthLoginResponse("secret-password", small, sizeof small));
  EXPECT_EQ(std::string(small, sizeof small), std::string(sizeof small, '\0'));
  const std::string tooLong(150, 'q');
  EXPECT_FALSE(AuthPlainCommand(tooLong.c_str(), tooLong.c_str(), out, sizeof out));
}

}  // namespace
}  // namespace zel
