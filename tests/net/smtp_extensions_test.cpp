// EHLO extensions.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/smtp_extensions.h"

namespace zel {
namespace {

TEST(SmtpExtensions, EhloLinesAnnounceWhatTheySay) {
  struct Case {
    std::vector<const char*> lines;
    bool startTls, plain, login, xoauth2 = false, oauthBearer = false;
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
      {{"250-x", "250 AUTH XOAUTH2 OAUTHBEARER"}, false, false, false, true, true},
      {{"250-x", "250 AUTH=oauthbearer"}, false, false, false, false, true},
  };
  for (const Case& c : cases) {
    SmtpExtensions e;
    for (std::size_t i = 0; i < c.lines.size(); ++i) NoteEhloLine(c.lines[i], i == 0, e);
    const std::string where = c.lines.back();
    EXPECT_EQ(e.startTls, c.startTls) << where;
    EXPECT_EQ(e.auth.plain, c.plain) << where;
    EXPECT_EQ(e.auth.login, c.login) << where;
    EXPECT_EQ(e.auth.xoauth2, c.xoauth2) << where;
    EXPECT_EQ(e.auth.oauthBearer, c.oauthBearer) << where;
  }
}

}  // namespace
}  // namespace zel
