// IMAP client against a scripted loopback server: the login forms, and
// the byte-level cases of fetch, expunge and IDLE a real server does not
// produce on demand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../codec/memory_streams.h"
#include "net/inet_imap.h"
#include "net/sasl.h"
#include "net_test_util.h"
#include "script_server.h"

namespace zel {
namespace {

using test::ScriptServer;

std::string Base64(std::string_view text) {
  std::string out;
  SaslEncode(text, out);
  return out;
}

TEST(ImapLogin, Forms) {
  struct Case {
    const char* name;
    int auth;
    int tls;
    const char* password;
    std::vector<std::string> script;  // greeting, then one reply per client line
    int result;
    std::vector<std::string> commands;
  };
  const std::string xoauth2 = Base64("user=alice\x01" "auth=Bearer tok\x01\x01");
  const std::string plain = Base64(std::string("\0alice\0pw", 9));
  const Case cases[] = {
      {"LOGIN, quoted", kPopAuthClassic, kTlsOff, "p\"w\\", {"* OK [CAPABILITY IMAP4rev1] hi\r\n", "Z0001 OK in\r\n"},
       1, {R"(Z0001 LOGIN "alice" "p\"w\\")"}},
      {"LOGIN, 8-bit password as a literal", kPopAuthClassic, kTlsOff, "\x82\xA0",
       {"* OK [CAPABILITY IMAP4rev1] hi\r\n", "+ go\r\n", "Z0001 OK in\r\n"},
       1, {"Z0001 LOGIN \"alice\" {2}", "\x82\xA0"}},
      {"LOGIN refused", kPopAuthClassic, kTlsOff, "pw",
       {"* OK [CAPABILITY IMAP4rev1] hi\r\n", "Z0001 NO [AUTHENTICATIONFAILED] no\r\n"}, -201,
       {R"(Z0001 LOGIN "alice" "pw")"}},
      {"PLAIN after CAPABILITY, without SASL-IR", kPopAuthPlain, kTlsOff, "pw",
       {"* OK hi\r\n", "* CAPABILITY IMAP4rev1 AUTH=PLAIN\r\nZ0001 OK\r\n", "+ \r\n", "Z0002 OK in\r\n"},
       1, {"Z0001 CAPABILITY", "Z0002 AUTHENTICATE PLAIN", plain}},
      {"XOAUTH2 with SASL-IR", kPopAuthToken, kTlsOff, "tok",
       {"* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2 AUTH=OAUTHBEARER] hi\r\n", "Z0001 OK in\r\n"},
       1, {"Z0001 AUTHENTICATE XOAUTH2 " + xoauth2}},
      {"OAUTHBEARER refused: the error answered", kPopAuthToken, kTlsOff, "tok",
       {"* OK [CAPABILITY IMAP4rev1 AUTH=OAUTHBEARER] hi\r\n", "+ \r\n", "+ eyJzdGF0dXMiOiI0MDEifQ==\r\n",
        "Z0001 NO [AUTHENTICATIONFAILED] no\r\n"},
       kAuthRefused, {"Z0001 AUTHENTICATE OAUTHBEARER", "", "AQ=="}},
      {"greeting BYE", kPopAuthClassic, kTlsOff, "pw", {"* BYE busy\r\n"}, -200, {}},
      {"PREAUTH", kPopAuthClassic, kTlsOff, "pw", {"* PREAUTH welcome\r\n"}, 1, {}},
      {"STARTTLS refused", kPopAuthClassic, kTlsStartTls, "pw",
       {"* OK [CAPABILITY IMAP4rev1] hi\r\n", "Z0001 BAD no\r\n"}, kTlsNotOffered, {"Z0001 STARTTLS"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptServer server;
    server.Send(c.script[0]);
    for (std::size_t i = 1; i < c.script.size(); ++i) server.Reply(c.script[i]);
    server.Close();
    server.Start();
    InetPop3 session;
    session.SetTls(c.tls, nullptr);
    InetImap client(session);
    client.SetAuth(c.auth);
    const int result = client.Login(server.address().c_str(), kImapPort, "alice", c.password);
    // OAUTHBEARER's second step: the decoded user part is not compared.
    EXPECT_EQ(result, c.result);
    session.Close();
    server.Join();
    std::vector<std::string> commands = server.commands();
    if (std::string(c.name).rfind("OAUTHBEARER", 0) == 0 && commands.size() > 1) commands[1] = "";
    EXPECT_EQ(commands, c.commands);
  }
}

// The steps after a login (PREAUTH): fetch, expunge, IDLE.
TEST(ImapSession, ByteLevelCases) {
  test::MemorySink raw;
  const std::string message = "Subject: hi\r\nFrom: a@b\r\n\r\n.dot\r\nlast";  // no final line end
  struct Case {
    const char* name;
    std::vector<std::string> replies;  // one per client line
    bool close;                        // the server hangs up after its replies
    std::function<int(InetImap&)> step;
    int result;
    std::string file;  // what the fetch wrote ("-": not checked)
    std::vector<std::string> commands;
  };
  const Case cases[] = {
      {"fetch: dot-stuffed, last line ended, another UID's data passed over",
       {"* 2 FETCH (UID 8 BODY[] {3}\r\nxyz)\r\n* 1 FETCH (UID 7 BODY[] {" + std::to_string(message.size()) +
        "}\r\n" + message + ")\r\nZ0001 OK\r\n"},
       false, [&](InetImap& c) { return c.FetchBody(7, raw); }, 1,
       "Subject: hi\r\nFrom: a@b\r\n\r\n..dot\r\nlast\r\n", {"Z0001 UID FETCH 7 BODY.PEEK[]"}},
      {"fetch: no such message", {"Z0001 OK\r\n"}, false,
       [&](InetImap& c) { return c.FetchBody(9, raw); }, -205, "", {"Z0001 UID FETCH 9 BODY.PEEK[]"}},
      {"fetch: cut inside the literal", {"* 1 FETCH (UID 7 BODY[] {100}\r\nSubject: x\r\n"}, true,
       [&](InetImap& c) { return c.FetchBody(7, raw); }, -211, "Subject: x\r\n",
       {"Z0001 UID FETCH 7 BODY.PEEK[]"}},
      {"expunge without UIDPLUS: another message is marked", {"* SEARCH 3 4 5\r\nZ0001 OK\r\n"}, false,
       [&](InetImap& c) { return c.Expunge({3, 4}); }, 0, "-", {"Z0001 UID SEARCH DELETED"}},
      {"expunge without UIDPLUS: only ours", {"* SEARCH 3 4\r\nZ0001 OK\r\n", "* 1 EXPUNGE\r\nZ0002 OK\r\n"},
       false, [&](InetImap& c) { return c.Expunge({3, 4}); }, 1, "-", {"Z0001 UID SEARCH DELETED", "Z0002 EXPUNGE"}},
      {"IDLE: a new message", {"+ idling\r\n* 4 EXISTS\r\n", "Z0001 OK\r\n"}, false,
       [&](InetImap& c) {
         c.exists = 3;
         return c.Idle(5);
       },
       1, "-", {"Z0001 IDLE", "DONE"}},
      {"IDLE: the server goes away", {"+ idling\r\n* BYE shutting down\r\n"}, true,
       [&](InetImap& c) { return c.Idle(5); }, -1, "-", {"Z0001 IDLE"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    raw.rewind();
    ScriptServer server;
    server.Send("* PREAUTH hi\r\n");
    for (const std::string& reply : c.replies) server.Reply(reply);
    if (c.close) server.Close();
    server.Start();
    InetPop3 session;
    InetImap client(session);
    ASSERT_EQ(client.Login(server.address().c_str(), kImapPort, "alice", "pw"), 1);
    EXPECT_EQ(c.step(client), c.result);
    session.Close();
    server.Join();
    EXPECT_EQ(server.commands(), c.commands);
    if (c.file != "-") {
      EXPECT_EQ(raw.text(), c.file);
    }
  }
}

}  // namespace
}  // namespace zel
