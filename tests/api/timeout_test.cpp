// Silent servers through the exports: the TIMEOUT option ends the new-mail
// check at the time-out (a slow server within it is unaffected), and a
// process that exits while a check waits destroys the flat session safely.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>  // std::chrono without <chrono>, which has no CP932 form

#include <gtest/gtest.h>

#include "../net/script_server.h"
#include "library.h"
#include "scratch.h"

namespace zel::test {
namespace {

// The flat session pointed at the POP3 server `address`, TIMEOUT `seconds`.
void Account(const std::string& address, int seconds) {
  const Exports& api = Api();
  ASSERT_EQ(api.Initialize(address.c_str(), "127.0.0.1", "u", "pw", "me@x", ""), 1);
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
  Account(silent.address(), 1);
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
  Account(slow.address(), 1);
  EXPECT_EQ(Api().MailBiff(), 2);
  slow.Join();
  EXPECT_EQ(slow.commands(), (std::vector<std::string>{"USER u", "PASS pw", "STAT", "QUIT"}));
  Api().SetValueInt("TIMEOUT", 300);
}

#if GTEST_HAS_DEATH_TEST && !defined(_WIN32)
// The result of a check still running when the process exits (1: none yet).
std::atomic<int> exitBiff{1};

// Runs at exit after the library's own clean-up, which was registered later.
void ReportExitBiff() {
  for (int i = 0; i < 100 && exitBiff.load() == 1; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  std::fprintf(stderr, "biff ended with %d\n", exitBiff.load());
}

// exit() destroys the flat session while another thread waits in
// zelMailBiff on a server that never answers (no time-out). The check is
// cancelled and fails, and the session is freed only after it has left:
// a sanitizer build reports nothing and the exit code stays 0.
TEST(SessionExit, ExitWhileMailBiffWaitsCancelsIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        std::atexit(ReportExitBiff);  // before the library is loaded
        int port = 0;
        SocketListenLoopback(&port);  // connects, never accepts, never answers
        Account("127.0.0.1:" + std::to_string(port), 0);
        std::thread([] { exitBiff = Api().MailBiff(); }).detach();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "biff ended with -1\n$");
}
#endif

}  // namespace
}  // namespace zel::test
