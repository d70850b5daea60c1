#include <cstring>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "../net/script_server.h"
#include "api/inet_mail.h"
#include "api/session_list.h"
#include "library.h"
#include "platform/log.h"
#include "platform/socket.h"
#include "scratch.h"

namespace zel::test {
namespace {

// "SMTPサーバ名が指定されていない" and "SMPTサーバ名が指定されていない" in Shift-JIS.
const std::string kSmtpMissingText = Hex("534d54508354815b836f96bc82aa8e7792e882b382ea82c482a282c882a2");
const std::string kSmtpMissingLog = Hex("534d50548354815b836f96bc82aa8e7792e882b382ea82c482a282c882a2");

// Moves the loaded library's log into `dir`.
void LogInto(const ScratchDir& dir) {
  ASSERT_GT(Api().SetValueStr("LOGDIR", dir.Path().c_str()), 0);
}

TEST(Initialize, MissingSmtpServerIsRejectedWithExactTexts) {
  ScratchDir dir;
  LogInto(dir);
  const Exports& api = Api();
  EXPECT_EQ(api.Initialize("pop", "", "user", "pw", "me@example.jp", "Me"), 0);
  EXPECT_EQ(api.GetErrorInt(), -1000);
  char text[256];
  EXPECT_EQ(api.GetErrorStr(text, 0), static_cast<int>(kSmtpMissingText.size()));  // bytes, not characters
  EXPECT_EQ(std::string(text), kSmtpMissingText);
  const auto lines = LogLines(dir.File("zelpost.log"));
  ASSERT_EQ(lines.size(), 1u);
  const int line = SourceLine("src/api/inet_mail.cpp", "ZEL_LOG(InetMail, \"SMPT");
  const std::regex entry("\\d{4}/\\d{2}/\\d{2} \\d{2}:\\d{2}:\\d{2} InetMail\\.cpp " +
                         std::to_string(line) + " (.*)");
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[0], m, entry)) << lines[0];
  EXPECT_EQ(m[1].str(), kSmtpMissingLog);
}

TEST(Initialize, EachMissingArgumentHasItsText) {
  const Exports& api = Api();
  const char* a[5] = {"pop", "smtp", "user", "pw", "me@x"};
  const char* texts[5] = {"POP3サーバ名が指定されていない", "SMTPサーバ名が指定されていない",
                          "ユーザ名が指定されていない", "パスワードが指定されていない",
                          "メールアドレスが指定されていない"};
  for (int missing = 0; missing < 5; ++missing) {
    const char* args[5];
    for (int i = 0; i < 5; ++i) args[i] = i == missing ? (missing % 2 ? "" : nullptr) : a[i];
    EXPECT_EQ(api.Initialize(args[0], args[1], args[2], args[3], args[4], nullptr), 0);
    EXPECT_EQ(api.GetErrorInt(), -1000);
    char text[256] = {};
    api.GetErrorStr(text, 0);
    EXPECT_STREQ(text, texts[missing]) << missing;
  }
}

TEST(Initialize, SuccessClearsAnEarlierError) {
  const Exports& api = Api();
  EXPECT_EQ(api.Initialize(nullptr, "s", "u", "p", "a@b", nullptr), 0);
  EXPECT_EQ(api.Initialize("p", "s", "u", "p", "a@b", nullptr), 1);  // fullname absent is fine
  EXPECT_EQ(api.GetErrorInt(), 0);
  char text[256] = "stale";
  EXPECT_EQ(api.GetErrorStr(text, 0), 0);
  EXPECT_STREQ(text, "");
}

TEST(Initialize, DomainIsTheTextAfterTheFirstAt) {
  InetMail s;
  ASSERT_EQ(s.Initialize("p", "s", "u", "pw", "me@example.jp", ""), 1);
  EXPECT_STREQ(s.domain, "example.jp");
  EXPECT_STREQ(s.displayName, "");
  ASSERT_EQ(s.Initialize("p", "s", "u", "pw", "local-only", "Name"), 1);
  EXPECT_STREQ(s.domain, "domain");
  EXPECT_STREQ(s.displayName, "Name");
  ASSERT_EQ(s.Initialize("p", "s", "u", "pw", "a@b@c", nullptr), 1);
  EXPECT_STREQ(s.domain, "b@c");
  EXPECT_STREQ(s.displayName, "");
  EXPECT_GT(std::strlen(s.hostName), 0u);
}

TEST(Initialize, RejectionKeepsTheAcceptedAccount) {
  InetMail s;
  ASSERT_EQ(s.Initialize("pop1", "smtp1", "user1", "pw1", "a@one", "One"), 1);
  EXPECT_EQ(s.Initialize("pop2", "smtp2", "user2", "pw2", "", "Two"), 0);
  EXPECT_STREQ(s.pop3Server, "pop1");
  EXPECT_STREQ(s.smtpServer, "smtp1");
  EXPECT_STREQ(s.userName, "user1");
  EXPECT_STREQ(s.password, "pw1");
  EXPECT_STREQ(s.mailAddress, "a@one");
  EXPECT_STREQ(s.displayName, "One");
  EXPECT_STREQ(s.domain, "one");
  EXPECT_EQ(s.errorNumber, -1000);
}

TEST(Initialize, OverLongArgumentsAreCutAtACharacterBoundaryAndLogged) {
  ScratchDir dir;
  SetLogDirectory(dir.Path());
  InetMail s;
  std::string longName;
  for (int i = 0; i < 60; ++i) longName += "\x83\x41";  // ア, 120 bytes
  const std::string longAddress = "x@" + std::string(150, 'd');
  ASSERT_EQ(s.Initialize("pop", "smtp", "u", "p", longAddress.c_str(), longName.c_str()), 1);
  EXPECT_EQ(std::string(s.displayName), longName.substr(0, 98));  // 99 would split a character
  EXPECT_EQ(std::strlen(s.mailAddress), kAccountSize - 1);
  EXPECT_EQ(std::string(s.domain), std::string(kAccountSize - 3, 'd'));
  const std::string log = ReadBytes(dir.File("zelpost.log"));
  EXPECT_NE(log.find("displayName"), std::string::npos) << log;
  EXPECT_NE(log.find("mailAddress"), std::string::npos) << log;
  EXPECT_EQ(log.find("smtpServer"), std::string::npos) << log;
}

// A private hosts table: every name looked up is recorded, and names that
// start with "mailbox-" are the loopback address.
std::vector<std::string> lookedUp;
LookupStatus PrivateHosts(const char* name, std::vector<IpAddress>& addresses) {
  lookedUp.push_back(name);
  if (std::string(name).rfind("mailbox-", 0) != 0) return LookupStatus::kNoSuchHost;
  addresses.resize(1);
  ParseIpAddress("127.0.0.1", &addresses[0]);
  return LookupStatus::kOk;
}

// Any DNS name with its port is held whole; a longer server name is refused.
// Nothing ever looks up or connects to a cut name.
TEST(Initialize, ServerNamesAreHeldWholeOrRefusedNeverCut) {
  ScratchDir dir;
  SetLogDirectory(dir.Path());
  const NameLookup systemLookup = SetNameLookup(&PrivateHosts);
  lookedUp.clear();
  ScriptServer pop;
  pop.Send("+OK\r\n").Reply("+OK\r\n").Reply("+OK\r\n").Reply("+OK 4 40\r\n");
  pop.Start();
  const std::string port = ":" + std::to_string(pop.port());
  const std::string name = "mailbox-" + std::string(kHostNameSize - 1 - port.size() - 11, 'x') + ".au";
  const std::string whole = name + port;  // fills the field exactly
  InetMail s;
  ASSERT_EQ(s.Initialize(whole.c_str(), whole.c_str(), "u", "pw", "a@b", nullptr), 1);
  EXPECT_EQ(std::string(s.pop3Server), whole);
  EXPECT_EQ(std::string(s.smtpServer), whole);
  EXPECT_EQ(s.MailBiff(), 4);
  EXPECT_EQ(lookedUp, std::vector<std::string>{name});

  const std::string longer = whole + "0";  // one byte more: port 10 times larger
  const struct {
    const char* pop3;
    const char* smtp;
    const char* text;
  } refused[] = {{longer.c_str(), "smtp", "POP3サーバ名が長すぎる"},
                 {"pop", longer.c_str(), "SMTPサーバ名が長すぎる"}};
  for (const auto& r : refused) {
    EXPECT_EQ(s.Initialize(r.pop3, r.smtp, "v", "qw", "c@d", "N"), 0);
    EXPECT_EQ(s.GetErrorInt(), -1000);
    EXPECT_STREQ(s.errorText, r.text);
    const std::string entry = LogLines(dir.File("zelpost.log")).back();
    EXPECT_NE(entry.find(" InetMail.cpp "), std::string::npos) << entry;
    EXPECT_EQ(entry.substr(entry.size() - std::strlen(r.text)), r.text);
    EXPECT_EQ(std::string(s.pop3Server), whole);  // no setting changed
    EXPECT_EQ(std::string(s.smtpServer), whole);
    EXPECT_STREQ(s.userName, "u");
  }
  // The channel refuses such a text itself rather than looking it up cut.
  EXPECT_EQ(s.Connect(longer.c_str(), 110), -1);
  EXPECT_EQ(s.smtp.Open(longer.c_str(), 25, "d"), -100);
  // A local host name that could not be held is none: the single-message
  // receive fails at its login, as without a host name.
  s.hostName[0] = '\0';
  EXPECT_EQ(s.RecvMailDummy(dir.File("x.wml").c_str(), nullptr), -1);
  EXPECT_EQ(lookedUp.size(), 1u);
  SetNameLookup(systemLookup);
}

TEST(Initialize, LineBreaksAreDroppedFromEveryFieldAndLogged) {
  // Each field reaches a command line (USER, PASS, MAIL FROM, HELO) or a
  // header line; a CR LF inside one would send a command of its own.
  ScratchDir dir;
  SetLogDirectory(dir.Path());
  InetMail s;
  ASSERT_EQ(s.Initialize("pop\r\n", "smtp", "u\r\nQUIT", "pw\nDELE 1", "a@b\r\n.\r\nRSET",
                         "Na\nme"),
            1);
  EXPECT_STREQ(s.pop3Server, "pop");
  EXPECT_STREQ(s.smtpServer, "smtp");
  EXPECT_STREQ(s.userName, "uQUIT");
  EXPECT_STREQ(s.password, "pwDELE 1");
  EXPECT_STREQ(s.mailAddress, "a@b.RSET");
  EXPECT_STREQ(s.domain, "b.RSET");
  EXPECT_STREQ(s.displayName, "Name");
  const std::string log = ReadBytes(dir.File("zelpost.log"));
  EXPECT_NE(log.find("password"), std::string::npos) << log;
  EXPECT_EQ(log.find("smtpServer"), std::string::npos) << log;
}

TEST(ErrorState, LongTextIsCutAtACharacterBoundary) {
  InetMail s;
  std::string path = "c:";
  for (int i = 0; i < 200; ++i) path += "\x95\x5C";  // 表
  s.SetError(-1100, "送信ファイルが開けない [%s]", path.c_str());
  const std::string text = s.errorText;
  EXPECT_LE(text.size(), kErrorTextSize - 1);
  EXPECT_GE(text.size(), kErrorTextSize - 2);
  EXPECT_TRUE(EndsOnCharacterBoundary(text));
  EXPECT_EQ(s.GetErrorInt(), -1100);
  // A bounded read stops before a character that would not fit whole.
  s.SetError(-1, "%s", "ab\x95\x5C");
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(s.GetErrorStr(buf, 4), 2);
  EXPECT_STREQ(buf, "ab");
  EXPECT_EQ(buf[3], 'x');
  EXPECT_EQ(s.GetErrorStr(buf, 5), 4);
  EXPECT_EQ(s.GetErrorStr(nullptr, 5), 0);
  s.ClearError();
  EXPECT_EQ(s.GetErrorInt(), 0);
  EXPECT_EQ(s.GetErrorStr(buf, 0), 0);
}

TEST(ExportChecks, RecvMailAllWithoutListFileLogsOnceAndKeepsTheError) {
  ScratchDir dir;
  LogInto(dir);
  const Exports& api = Api();
  ASSERT_EQ(api.Initialize("p", "", "u", "pw", "a@b", nullptr), 0);  // error -1000
  std::remove(dir.File("zelpost.log").c_str());
  EXPECT_EQ(api.RecvMailAll("", "dir", nullptr, nullptr), 0);
  EXPECT_EQ(api.GetErrorInt(), -1000);
  auto lines = LogLines(dir.File("zelpost.log"));
  ASSERT_EQ(lines.size(), 1u);
  // The first such entry is the missing list file.
  const int line = SourceLine("src/api/entry_checks.cpp", "ZEL_LOG(zelexport, \"zelRecvMailAll:");
  EXPECT_NE(lines[0].find(" zelexport.cpp " + std::to_string(line) + " zelRecvMailAll:" +
                          Hex("838a83588367837483408343838b82aa204e554c4c")),
            std::string::npos)
      << lines[0];
  EXPECT_EQ(api.RecvMailAll("list", nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(api.RecvMailDummy("", nullptr), 0);
  lines = LogLines(dir.File("zelpost.log"));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[1].find("zelRecvMailAll:メールフォルダが NULL"), std::string::npos);
  EXPECT_NE(lines[2].find("zelRecvMailDummy:メールファイルが NULL"), std::string::npos);
  EXPECT_EQ(api.GetErrorInt(), -1000);
}

TEST(SessionList, SessionsEnterAndLeaveInCreationOrder) {
  const int before = SessionListSize();
  {
    InetMail a, b;
    EXPECT_EQ(SessionListSize(), before + 2);
    EXPECT_TRUE(SessionListContains(&a));
    b.controlWindow = 77;
    EXPECT_EQ(SessionForControlWindow(77), &b);
    EXPECT_EQ(SessionForControlWindow(78), nullptr);
    EXPECT_EQ(a.pop3Port, 110);
    EXPECT_EQ(a.smtpPort, 25);
  }
  EXPECT_EQ(SessionListSize(), before);
}

}  // namespace
}  // namespace zel::test
