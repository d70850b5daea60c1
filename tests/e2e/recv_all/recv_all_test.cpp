// Receive-all end to end against the real Dovecot: display files and list
// lines, the seen-UIDL file across runs, deletion on the server, failures
// inside the loop, the mailbox step, and the calling thread's message loop
// (dialogs, Cancel, re-entrant calls, a foreign quit message).
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "api/flat_session.h"
#include "api/inet_mail.h"
#include "platform/path.h"
#include "recv_all_support.h"
#include "window/window.h"
#include "zelpost.h"

namespace zel::e2e {
namespace {

namespace fs = std::filesystem;

using RecvAllE2e = RecvAllTest;

// The 1,000-message maildrop of a host that keeps its mail on the server.
TEST_F(RecvAllE2e, ThousandMessagesOnceEachAcrossRuns) {
  const auto ids = DropMessages("m", 1000, 1000);
  const RunResult first = Run();
  EXPECT_EQ(first.result, 1000);
  EXPECT_EQ(first.error, 0) << first.errorText;
  EXPECT_EQ(StoredIds(), ids);  // zel00001.wml ... in server order
  const auto lines = ListLines();
  ASSERT_EQ(lines.size(), 1000u);
  EXPECT_EQ(lines[0], JoinPath(folder_, "zel00001.wml") +
                          "\t2001/10/02 09:05:07\tFrom: 山田 <sender@zelpost.test>\tSubject: テスト m1");
  ExpectListMatchesFolder();
  const std::string seen = ReadFileBytes(seen_);
  EXPECT_EQ(seen.size(), 1000u * 80);

  // Everything is known: nothing is fetched, the list is made and removed
  // again, the seen file is rewritten with the same keys.
  fs::remove(seen_ + ".old");
  const RunResult second = Run();
  EXPECT_EQ(second.result, 0);
  EXPECT_EQ(second.error, 0);
  EXPECT_FALSE(fs::exists(list_));
  EXPECT_EQ(ReadFileBytes(seen_), seen);
  EXPECT_EQ(StoredIds().size(), 1000u);
  EXPECT_EQ(ServerIds(), ids);
}

// A message beyond what receive-all holds in memory (it passes through a
// file of its own) and small ones with lone CRs: each display file is what
// the single receive makes of the same retrieval output in a file, and no
// temporary file stays.
TEST_F(RecvAllE2e, MessagesInMemoryAndInAFileDecodeAlike) {
  Fresh(0);
  const std::vector<std::string> messages = {
      TestMessage("b1", 1536 * 1024), TestMessage("b2") + "a lone\rCR\r\nends in CR\r\r\n\r\r\n",
      TestMessage("b3", 70000)};
  for (const std::string& message : messages) DropMessage("alice", message);
  ASSERT_EQ(Run().result, 3);
  for (std::size_t i = 0; i < messages.size(); ++i) {
    SCOPED_TRACE(i);
    // The retrieval output: lines dot-stuffed as the server sends them.
    std::string raw;
    for (std::size_t at = 0; at < messages[i].size();) {
      const std::size_t end = messages[i].find("\r\n", at) + 2;
      if (messages[i][at] == '.') raw += '.';
      raw += messages[i].substr(at, end - at);
      at = end;
    }
    WriteFileBytes(dir_.File("raw"), raw);
    ASSERT_EQ(zelRecvMailDummy(dir_.File("single.wml").c_str(), dir_.File("raw").c_str()), 1);
    EXPECT_EQ(ReadFileBytes(JoinPath(folder_, "zel0000" + std::to_string(i + 1) + ".wml")),
              ReadFileBytes(dir_.File("single.wml")));
  }
  EXPECT_TRUE(fs::is_empty(dir_.File("tmp")));
}

// How runs end: deletion, a failure inside the loop, the mailbox step, an
// empty maildrop, a refused login.
TEST_F(RecvAllE2e, RunsEndAsStated) {
  struct Case {
    const char* name;
    int messages;
    int dele;
    bool seen;
    bool mailbox;
    int failAt;        // message whose display file cannot be made, 0: none
    const char* password;
    int result;
    int error;
    std::vector<int> onServer;  // message numbers left on the server
  } cases[] = {
      {"dele empties the maildrop", 5, 1, false, false, 0, "alicepw", 5, 0, {}},
      {"failure at 3 of 5 deletes only 1 and 2", 5, 1, false, false, 3, "alicepw", 2, -1105,
       {3, 4, 5}},
      {"failure at 3 of 5 keeping mail", 5, 0, true, false, 3, "alicepw", 2, -1105,
       {1, 2, 3, 4, 5}},
      {"failure at message 1 of 3", 3, 0, true, false, 1, "alicepw", 0, -1105, {1, 2, 3}},
      {"mailbox", 3, 0, true, true, 0, "alicepw", 3, 0, {1, 2, 3}},
      {"empty maildrop", 0, 1, true, true, 0, "alicepw", 0, 0, {}},
      {"refused login", 2, 1, true, false, 0, "wrong", -1, 0, {1, 2}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClearServer();
    for (const auto& entry : fs::directory_iterator(folder_)) fs::remove(entry.path());
    fs::remove(seen_);
    fs::remove(mailbox_);
    ResetDisplayCounter();
    WriteFileBytes(list_, "an earlier list\r\n");
    const auto ids = DropMessages("r", c.messages);
    zelSetValueInt("DELE", c.dele);
    zelInitialize(TestServers().Pop3Server().c_str(), "127.0.0.1", "alice", c.password,
                  "alice@zelpost.test", "");
    // The folder goes away once message failAt has arrived.
    const std::string away = folder_ + ".away";
    zelSetValueInt("SILENT", c.failAt != 0 ? 0 : 1);
    RunResult run;
    {
      ProgressHook hook([&](WindowHandle, const RecvProgress& record) {
        if (record.retrievedCount != c.failAt) return;
        fs::rename(folder_, away);
        WriteFileBytes(folder_, "not a folder");
      });
      run = Run(c.seen, c.mailbox);
    }
    if (fs::exists(away)) {
      fs::remove(folder_);
      fs::rename(away, folder_);
    }
    // The message that could not be stored stays in a temporary file.
    std::vector<std::string> kept;
    for (const auto& entry : fs::directory_iterator(dir_.File("tmp"))) {
      kept.push_back(ReadFileBytes(entry.path().string()));
      fs::remove(entry.path());
    }
    EXPECT_EQ(IdsOf(kept), c.failAt != 0 ? std::vector<std::string>{ids[c.failAt - 1]}
                                         : std::vector<std::string>{});
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(run.error, c.error) << run.errorText;
    std::vector<std::string> left;
    for (int n : c.onServer) left.push_back(ids[n - 1]);
    EXPECT_EQ(ServerIds(static_cast<int>(left.size())), left);
    if (c.result <= 0 && c.failAt == 0) {
      // Nothing stored: an earlier list stays (login failed, empty maildrop).
      EXPECT_EQ(ReadFileBytes(list_), "an earlier list\r\n");
      EXPECT_FALSE(fs::exists(seen_));
      continue;
    }
    // A failure inside the loop: the list file exists, empty when it came
    // at the first message.
    EXPECT_TRUE(fs::exists(list_));
    const std::vector<std::string> stored(ids.begin(), ids.begin() + c.result);
    EXPECT_EQ(StoredIds(), stored);
    EXPECT_EQ(ListLines().size(), stored.size());
    if (c.seen) {
      EXPECT_EQ(ReadFileBytes(seen_).size(), 80u * stored.size());
    }
    if (c.mailbox) {
      const std::string box = ReadFileBytes(mailbox_);
      for (int i = 1; i <= c.result; ++i) {
        const std::string name = JoinPath(folder_, "zel0000" + std::to_string(i));
        EXPECT_NE(box.find("X-MailFile: " + name + ".wml\r\n"), std::string::npos);
        EXPECT_EQ(ListLines()[i - 1].substr(0, name.size() + 4), name + ".qml");
      }
      EXPECT_EQ(box.substr(box.size() - 5), "\r\n.\r\n");
    } else {
      ExpectListMatchesFolder();
    }
    if (c.failAt != 0 && c.seen) {
      // The next run fetches the rest, and nothing twice.
      const RunResult rest = Run(c.seen, c.mailbox);
      EXPECT_EQ(rest.result, c.messages - c.result);
      EXPECT_EQ(StoredIds(), ids);
    }
  }
  zelSetValueInt("DELE", 0);
}

// The dialog shown (or none) and its texts after each message, read through
// the message layer's public header (Win32 on Windows) while the run goes on.
TEST_F(RecvAllE2e, DialogsShowEachMessage) {
  DropMessages("d", 3);
  struct Case {
    int silent;
    int executeType;
    int dialogId;  // 0: no dialog
    const char* title;
  } cases[] = {{0, 1, 229, "zelpostw"}, {0, 2, 232, "zelsend"}, {0, 0, 232, "zelsend"},
               {1, 1, 0, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.silent) + "/" + std::to_string(c.executeType));
    zelSetValueInt("SILENT", c.silent);
    FlatSession()->executeType = c.executeType;  // 0: the value never set
    std::vector<std::string> shown;
    {
      ProgressHook hook([&](WindowHandle window, const RecvProgress&) {
        shown.push_back(DialogLine(window));
      });
      EXPECT_EQ(Run(false).result, 3);
    }
    EXPECT_EQ(FlatSession()->progressWindow, 0u);
    if (c.dialogId == 0) {
      EXPECT_TRUE(shown.empty());
      continue;
    }
    ASSERT_EQ(shown.size(), 3u);
    for (int i = 1; i <= 3; ++i) {
      // The header values keep the blank after their colon.
      const std::string n = std::to_string(i);
      EXPECT_EQ(shown[i - 1], std::to_string(c.dialogId) + "|" + c.title + "|  " + n +
                                  " /   3| テスト d" + n + "| 山田 <sender@zelpost.test>" +
                                  (c.dialogId == 232 ? "|" + n : ""));
    }
  }
  zelSetValueInt("SILENT", 1);
}

// Number of threads of this process (POSIX; 0 elsewhere).
int ThreadCount() {
  int n = 0;
#ifndef _WIN32
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/task")) ++n;
#endif
  return n;
}

// Cancel pressed in the dialog during a long run: -2 at once, nothing
// deleted, the files so far whole, no worker left; the next run fetches
// the rest and nothing twice.
TEST_F(RecvAllE2e, CancelInTheDialogStopsALongRun) {
  constexpr int kMessages = 300;
  // A first run (of an empty maildrop) starts whatever threads a process
  // keeps (a sanitizer's); the threads counted after it are the baseline.
  ASSERT_EQ(Run().result, 0);
  const int threads = ThreadCount();
  const auto ids = DropMessages("c", kMessages, 4000);
  zelSetValueInt("DELE", 1);
  const RunResult run = RunCancelledAt(3);
  EXPECT_EQ(run.result, -2);
  EXPECT_EQ(run.error, 0) << run.errorText;
  EXPECT_EQ(ThreadCount(), threads);
  EXPECT_EQ(FlatSession()->workerThread, 0u);
  EXPECT_EQ(ServerIds(), ids);  // no QUIT went out: nothing deleted
  const auto stored = StoredIds();
  EXPECT_GE(stored.size(), 2u);
  EXPECT_LT(stored.size(), static_cast<std::size_t>(kMessages) / 2);
  ExpectListMatchesFolder();
  for (const auto& entry : fs::directory_iterator(folder_)) {
    const std::string text = ReadFileBytes(entry.path().string());
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_NE(text.find("\r\n\r\n本文 "), std::string::npos);
  }

  zelSetValueInt("DELE", 0);
  const RunResult rest = Run();
  EXPECT_EQ(rest.result, kMessages - static_cast<int>(stored.size()));
  EXPECT_EQ(StoredIds(), ids);
}

// DELE and a cancel: no QUIT, so the stored messages stay on the server,
// recorded as seen. The next run with DELESEEN 1 deletes them as it skips
// them and leaves the maildrop empty; with DELESEEN 0 they stay, as ever.
TEST_F(RecvAllE2e, DeleteSeenDeletesWhatACancelledRunStored) {
  for (const int deleteSeen : {0, 1}) {
    SCOPED_TRACE("DELESEEN " + std::to_string(deleteSeen));
    const auto ids = Fresh(6, "s");
    zelSetValueInt("DELE", 1);
    ASSERT_EQ(RunCancelledAt(3).result, -2);
    EXPECT_EQ(ServerIds(), ids);
    const auto stored = StoredIds();
    ASSERT_GE(stored.size(), 2u);
    EXPECT_EQ(zelSetValueInt("DELESEEN", deleteSeen), deleteSeen);
    EXPECT_EQ(Run().result, static_cast<int>(ids.size() - stored.size()));
    EXPECT_EQ(StoredIds(), ids);
    const std::vector<std::string> left = deleteSeen == 1 ? std::vector<std::string>() : stored;
    EXPECT_EQ(ServerIds(static_cast<int>(left.size())), left);
  }
  zelSetValueInt("DELESEEN", 0);
  zelSetValueInt("DELE", 0);
}

// MAXSIZE: a message whose LIST size is larger stays on the server,
// unrecorded and logged, whether the retrievals go out ahead (DELE 0) or
// not (DELE 1); once the limit is raised it is fetched.
TEST_F(RecvAllE2e, MaxSizeLeavesLargerMessagesUntilTheLimitIsRaised) {
  const std::string logDir = dir_.File("log");
  fs::create_directories(logDir);
  zelSetValueStr("LOGDIR", logDir.c_str());
  for (const int dele : {0, 1}) {
    SCOPED_TRACE("DELE " + std::to_string(dele));
    Fresh(0);
    fs::remove(logDir + "/zelpost.log");
    DropMessage("alice", TestMessage("z1"));
    DropMessage("alice", TestMessage("z2", 30000));
    DropMessage("alice", TestMessage("z3"));
    const std::size_t bigSize = ReadMaildir("alice")[1].size();
    zelSetValueInt("DELE", dele);
    EXPECT_EQ(zelSetValueInt("MAXSIZE", 10000), 10000);
    const RunResult limited = Run();
    EXPECT_EQ(limited.result, 2);
    EXPECT_EQ(limited.error, 0) << limited.errorText;
    EXPECT_EQ(StoredIds(), (std::vector<std::string>{"z1", "z3"}));
    EXPECT_EQ(ReadFileBytes(seen_).size(), 2u * 80);
    const std::vector<std::string> left = dele == 1 ? std::vector<std::string>{"z2"}
                                                   : std::vector<std::string>{"z1", "z2", "z3"};
    EXPECT_EQ(ServerIds(static_cast<int>(left.size())), left);
    EXPECT_NE(ReadFileBytes(logDir + "/zelpost.log").find("[2: " + std::to_string(bigSize) + " バイト]"),
              std::string::npos);
    zelSetValueInt("MAXSIZE", 0);
    EXPECT_EQ(Run().result, 1);
    EXPECT_EQ(StoredIds(), (std::vector<std::string>{"z1", "z3", "z2"}));
  }
  zelSetValueInt("DELE", 0);
  // The limit is the largest size fetched: one byte more stays, a
  // message of exactly MAXSIZE bytes comes whole.
  Fresh(0);
  DropMessage("alice", TestMessage("z4", 30000));
  const int size = static_cast<int>(ReadMaildir("alice")[0].size());
  zelSetValueInt("MAXSIZE", size - 1);
  EXPECT_EQ(Run().result, 0);
  EXPECT_EQ(StoredIds(), std::vector<std::string>{});
  zelSetValueInt("MAXSIZE", size);
  const RunResult exact = Run();
  EXPECT_EQ(exact.result, 1);
  EXPECT_EQ(exact.error, 0) << exact.errorText;
  EXPECT_EQ(StoredIds(), std::vector<std::string>{"z4"});
  zelSetValueInt("MAXSIZE", 0);
}

// Host-side messages dispatched by the receive-all loop: calls back into
// the library, and a quit message of the host.
constexpr unsigned kCallBack = kWmUser + 7;
constexpr unsigned kHostQuit = kWmUser + 8;
struct HostCalls {
  int mailBiff = 99;
  int recvMailAll = 99;
};
HostCalls hostCalls;

MessageResult HostProcedure(WindowHandle window, unsigned message, MessageParam wParam,
                            MessageLong lParam) {
  if (message == kCallBack) {
    hostCalls.mailBiff = zelMailBiff();
    hostCalls.recvMailAll = zelRecvMailAll("x", "y", nullptr, nullptr);
    return 0;
  }
  if (message == kHostQuit) {
    PostQuit(7);
    return 0;
  }
  return DefaultWindowProc(window, message, wParam, lParam);
}

TEST_F(RecvAllE2e, ReentrantCallsFailAndAQuitMessageCancelsAndStays) {
  const auto ids = DropMessages("q", 5);
  const std::string logDir = dir_.File("log");
  fs::create_directories(logDir);
  zelSetValueStr("LOGDIR", logDir.c_str());
  ASSERT_TRUE(RegisterWindowClass("zelTestHostClass", HostProcedure, 0));
  const WindowHandle host = CreateHiddenWindow("zelTestHostClass", "host", kWsPopup, 0, 0, 10,
                                               10, 0);
  ASSERT_NE(host, 0u);
  zelSetValueInt("SILENT", 0);
  zelSetValueInt("DELE", 1);
  zelSetValueInt("HWND", static_cast<int>(host));
  hostCalls = HostCalls{};
  InetMail other;  // a second session of the process, during the run
  int otherResult = 99;
  RunResult run;
  {
    ProgressHook hook([&](WindowHandle, const RecvProgress& record) {
      if (record.retrievedCount == 1) {
        PostWindowMessage(host, kCallBack, 0, 0);
        otherResult = other.RecvMailAll("x", "y", nullptr, nullptr);
      }
      if (record.retrievedCount == 2) PostWindowMessage(host, kHostQuit, 0, 0);
    });
    run = Run();
  }
  EXPECT_EQ(hostCalls.mailBiff, -1);
  EXPECT_EQ(hostCalls.recvMailAll, 0);
  EXPECT_EQ(otherResult, 0);  // the control window class is taken
  EXPECT_EQ(other.GetErrorInt(), -1);
  EXPECT_EQ(run.result, -2);  // the quit message cancelled the run...
  EXPECT_EQ(run.error, 0);
  EXPECT_EQ(ServerIds(), ids);
  Message message;
  EXPECT_FALSE(GetNextMessage(message));  // ...and is there for the host
  EXPECT_EQ(message.wParam, 7u);
  const std::string log = ReadFileBytes(logDir + "/zelpost.log");
  EXPECT_NE(log.find("受信処理の実行中は MailBiff を実行できない"), std::string::npos);
  EXPECT_NE(log.find("受信処理の実行中は RecvMailAll を実行できない"), std::string::npos);
  EXPECT_NE(log.find("RegisterClassで失敗 1410"), std::string::npos);

  // An HWND option naming no window: the control window cannot be made.
  DestroyWindowTree(host);
  UnregisterWindowClass("zelTestHostClass");
  const RunResult orphan = Run();
  EXPECT_EQ(orphan.result, 0);
  EXPECT_EQ(orphan.error, -1);
  EXPECT_EQ(orphan.errorText, "メインウィンドウ作成に失敗");
  zelSetValueInt("HWND", 0);
  zelSetValueInt("SILENT", 1);
  zelSetValueInt("DELE", 0);
}

}  // namespace
}  // namespace zel::e2e
