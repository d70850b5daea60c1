// The TIMEOUT option through the exports: a silent POP3 server ends the
// new-mail check at the time-out, a slow one within it does not.
#include <string>
#include <thread>  // std::chrono without <chrono>, which has no CP932 form

#include <gtest/gtest.h>

#include "../net/script_server.h"
#include "library.h"
#include "scratch.h"

namespace zel::test {
namespace {

// The flat session pointed at `server` (POP3 only), TIMEOUT `seconds`.
void Account(const ScriptServer& server, int seconds) {
  const Exports& api = Api();
  ASSERT_EQ(api.Initialize(server.address().c_str(), "127.0.0.1", "u", "pw", "me@x", ""), 1);
  ASSERT_EQ(api.SetValueInt("TIMEOUT", seconds), seconds);
}

TEST(Timeout, OptionReadsBackAndNegativeWaitsForEver) {
  const Exports& api = Api();
  EXPECT_EQ(api.GetValueInt("TIMEOUT"), 300);
  EXPECT_EQ(api.SetValueInt("timeout", 1), 1);
  EXPECT_EQ(api.GetValueInt("TIMEOUT"), 1);
  EXPECT_EQ(api.SetValueInt("TIMEOUT", -1), 0);  // a host's INFINITE
  EXPECT_EQ(api.GetValueInt("TIMEOUT"), 0);
  EXPECT_EQ(api.SetValueStr("TIMEOUT", "5"), 0);
  EXPECT_EQ(api.SetValueInt("TIMEOUT", 300), 300);
}

TEST(Timeout, SilentServerEndsMailBiffAtTheTimeout) {
  ScratchDir dir;
  const Exports& api = Api();
  ASSERT_GT(api.SetValueStr("LOGDIR", dir.Path().c_str()), 0);
  ScriptServer silent;  // accepts and never says a word
  silent.Start();
  Account(silent, 1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(api.MailBiff(), -1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
  EXPECT_EQ(api.GetErrorInt(), 0);
  silent.Join();
  EXPECT_TRUE(silent.commands().empty());  // nothing sent after the time-out, not even QUIT
  const auto lines = LogLines(dir.File("zelpost.log"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(" InetPop3.cpp "), std::string::npos);
  EXPECT_NE(lines[0].find("POP3接続応答エラー [" + silent.address() + "] (タイムアウト 1秒)"),
            std::string::npos)
      << lines[0];
  api.SetValueInt("TIMEOUT", 300);
}

TEST(Timeout, SlowServerWithinTheTimeoutIsUnaffected) {
  // Every reply comes 0.4 s late: the whole check takes longer than the
  // time-out, each single wait does not.
  const auto late = std::chrono::milliseconds(400);
  ScriptServer slow;
  slow.Pause(late).Send("+OK ready\r\n")
      .Read().Pause(late).Send("+OK\r\n")
      .Read().Pause(late).Send("+OK\r\n")
      .Read().Pause(late).Send("+OK 2 20\r\n");
  slow.Start();
  Account(slow, 1);
  EXPECT_EQ(Api().MailBiff(), 2);
  slow.Join();
  EXPECT_EQ(slow.commands(), (std::vector<std::string>{"USER u", "PASS pw", "STAT", "QUIT"}));
  Api().SetValueInt("TIMEOUT", 300);
}

}  // namespace
}  // namespace zel::test
