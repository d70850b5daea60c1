// Receive-all when the connection is cut (through a fault-injecting proxy
// in front of the real Dovecot) or the disk is full: a defined result and
// error state, and no mail lost or fetched twice. After each fault the run
// is repeated without it, with the same seen-UIDL file:
//  - every message is on the server or in the mail folder and list file;
//  - none is fetched twice across the two runs;
//  - none is deleted on the server that was not stored.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "cut_proxy.h"
#include "platform/host_name.h"
#include "platform/path.h"
#include "recv_all_support.h"
#include "store/flush_batch.h"
#include "zelpost.h"

namespace zel::e2e {
namespace {

namespace fs = std::filesystem;
using Direction = CutProxy::Direction;

// A family of cuts: the account and options of its runs.
struct Family {
  int messages;
  int dele;
  bool apop;
  bool refuseUidl;       // the seen keys then come from TOP n 0
  bool maildir = false;  // delivered into a Maildir too (KEEPDISPLAY)
};

// Ids of the messages in the files of `folder` (a Maildir's new/), sorted.
std::vector<std::string> FolderIds(const std::string& folder) {
  std::vector<std::string> texts;
  if (fs::exists(folder)) {
    for (const auto& entry : fs::directory_iterator(folder)) texts.push_back(ReadFileBytes(entry.path().string()));
  }
  auto ids = IdsOf(texts);
  std::sort(ids.begin(), ids.end());
  return ids;
}

class RecvAllFaults : public RecvAllTest {
 protected:
  // Every cut of every stage of the family's run, each followed by the
  // same run without the cut.
  void CheckCuts(const Family& f);

#ifndef _WIN32
  // The run in a child process whose files may not grow beyond `limit`
  // bytes (a full disk for every file the run writes).
  RunResult RunLimited(rlim_t limit, bool mailbox);

  // The run (with the seen file) in a child process killed (SIGKILL)
  // `pauseUs` microseconds after message `at` has arrived. Returns the
  // child's process id, which is gone.
  pid_t RunKilledAfter(int at, int pauseUs);
#endif
};

// The command word of a transcript line ("" for the greeting).
std::string Word(const std::string& line) { return line.substr(0, line.find(' ')); }

void RecvAllFaults::CheckCuts(const Family& f) {
  CutProxy proxy(TestServers().pop3Host, TestServers().pop3Port);
  proxy.Refuse(f.refuseUidl ? "UIDL" : "");
  zelSetValueInt("APOP", f.apop ? 1 : 0);
  zelSetValueInt("DELE", f.dele);
  const std::string maildir = dir_.File("maildir");
  if (f.maildir) {
    zelSetValueStr("MAILDIR", maildir.c_str());
    zelSetValueInt("KEEPDISPLAY", 1);
  }
  // A Maildir holds what the display files hold, only in new/, and tmp/
  // keeps nothing of a finished run.
  const auto expectMaildirMatches = [&] {
    if (!f.maildir) return;
    auto stored = StoredIds();
    std::sort(stored.begin(), stored.end());
    EXPECT_EQ(FolderIds(maildir + "/new"), stored);
    EXPECT_TRUE(!fs::exists(maildir) || fs::is_empty(maildir + "/tmp"));
  };

  // A run without cuts shows the stages and their lengths.
  Fresh(f.messages);
  const RunResult reference = Run(true, false, proxy.address());
  ASSERT_EQ(reference.result, f.messages) << reference.error << " " << reference.errorText;
  std::int64_t downTotal = 0;
  const auto transcript = proxy.Transcript(&downTotal);
  ASSERT_FALSE(transcript.empty());

  std::vector<CutProxy::Cut> cuts;
  std::map<std::string, int> occurrences;
  for (std::size_t i = 0; i < transcript.size(); ++i) {
    const std::string word = Word(transcript[i].line);
    const int occurrence = ++occurrences[word];
    if (f.refuseUidl && word == "UIDL") continue;  // answered by the proxy
    const std::int64_t replyEnd = i + 1 < transcript.size() ? transcript[i + 1].down : downTotal;
    const std::int64_t replyLength = replyEnd - transcript[i].down;
    if (!word.empty()) {
      // Half a command line, and all but its LF, reach the server; QUIT also
      // whole (the connection ends before its reply is read).
      const auto commandLength = static_cast<std::int64_t>(transcript[i].line.size() + 2);
      cuts.push_back({Direction::kToServer, word, occurrence, 1});
      cuts.push_back({Direction::kToServer, word, occurrence, commandLength - 1});
      if (word == "QUIT") {
        cuts.push_back({Direction::kToServer, word, occurrence, commandLength});
        continue;
      }
    }
    std::set<std::int64_t> offsets = {0, 1, replyLength / 2, replyLength - 1};
    for (std::int64_t offset : offsets) {
      if (offset >= 0 && offset < replyLength) {
        cuts.push_back({Direction::kToClient, word, occurrence, offset});
      }
    }
  }

  for (const CutProxy::Cut& cut : cuts) {
    SCOPED_TRACE((cut.direction == Direction::kToClient ? "reply of " : "command ") +
                 (cut.command.empty() ? std::string("greeting") : cut.command) + " #" +
                 std::to_string(cut.occurrence) + " cut at byte " + std::to_string(cut.offset));
    const auto ids = Fresh(f.messages);
    fs::remove_all(maildir);
    proxy.SetCut(cut);
    const RunResult cutRun = Run(true, false, proxy.address());
    proxy.SetCut({});
    proxy.Transcript();  // the proxy is done with the connection

    // A defined result and error state for the stage that was cut.
    const int k = cut.occurrence;
    const int n = f.messages;
    const std::string& w = cut.command;
    if (w.empty() || w == "USER" || w == "PASS" || w == "APOP" || w == "STAT" || w == "LIST" ||
        w == "UIDL") {
      // Login or listing failed; or the listing was whole but for its last
      // byte, and the first retrieval failed.
      const bool loginFailed = cutRun.result == -1 && cutRun.error == 0;
      const bool firstFailed = cutRun.result == 0 && (cutRun.error == -205 || cutRun.error == -206);
      EXPECT_TRUE(loginFailed || firstFailed) << cutRun.result << " " << cutRun.error;
    } else if (w == "RETR") {
      // A RETR sent ahead is cut before the replies of those before it
      // have all arrived.
      if (cut.direction == Direction::kToClient) {
        EXPECT_EQ(cutRun.result, k - 1);
      } else {
        EXPECT_TRUE(cutRun.result >= 0 && cutRun.result <= k - 1) << cutRun.result;
      }
      EXPECT_TRUE(cutRun.error == -205 || cutRun.error == -211) << cutRun.error;
    } else if (w == "TOP") {
      EXPECT_EQ(cutRun.result, k - 1);
      EXPECT_EQ(cutRun.error, -206);
    } else if (w == "DELE") {
      EXPECT_EQ(cutRun.result, k);
      if (k < n) {
        EXPECT_TRUE(cutRun.error == -205 || cutRun.error == -206) << cutRun.error;
      } else {
        EXPECT_EQ(cutRun.error, 0);
      }
    } else if (w == "QUIT") {
      EXPECT_EQ(cutRun.result, n);
      EXPECT_EQ(cutRun.error, 0);
    }

    // No part of a message cut short stays in the temporary folder.
    EXPECT_TRUE(fs::is_empty(dir_.File("tmp")));

    // Nothing lost: each message on the server or stored and listed.
    const auto stored = StoredIds();
    if (cutRun.result > 0) {
      EXPECT_EQ(stored.size(), static_cast<std::size_t>(cutRun.result));
    }
    if (fs::exists(list_)) {
      ExpectListMatchesFolder();
    }
    expectMaildirMatches();
    const auto onServer = ServerIds();
    for (const std::string& id : ids) {
      EXPECT_TRUE(std::count(stored.begin(), stored.end(), id) == 1 ||
                  std::count(onServer.begin(), onServer.end(), id) == 1)
          << id << " lost";
    }

    // The run again without the cut: the rest arrives, nothing twice.
    const RunResult again = Run(true, false, proxy.address());
    proxy.Transcript();
    EXPECT_GE(again.result, 0);
    EXPECT_EQ(again.error, 0) << again.errorText;
    auto all = StoredIds();
    std::sort(all.begin(), all.end());
    auto expected = ids;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(all, expected);
    expectMaildirMatches();
  }
  zelSetValueStr("MAILDIR", "");
  zelSetValueInt("KEEPDISPLAY", 0);

  if (f.refuseUidl) {
    // The seen file already holding every key, the run cut before its end
    // (the TOP of message 2): the keys it did not reach are kept, so the
    // next run stores nothing.
    SCOPED_TRACE("seen file holding every key, reply of TOP #2 cut");
    const auto ids = Fresh(f.messages);
    ASSERT_EQ(Run(true, false, proxy.address()).result, f.messages);
    proxy.Transcript();
    const std::string seen = ReadFileBytes(seen_);
    proxy.SetCut({Direction::kToClient, "TOP", 2, 0});
    const RunResult cutRun = Run(true, false, proxy.address());
    proxy.SetCut({});
    proxy.Transcript();
    EXPECT_EQ(cutRun.result, 0);
    EXPECT_EQ(cutRun.error, -206);
    EXPECT_EQ(ReadFileBytes(seen_), seen);
    const RunResult again = Run(true, false, proxy.address());
    proxy.Transcript();
    EXPECT_EQ(again.result, 0);
    EXPECT_EQ(StoredIds(), ids);
  }
}

TEST_F(RecvAllFaults, CutsOfAUserPassRunThatDeletes) { CheckCuts({3, 1, false, false}); }

// Keeping the mail, the retrievals go out ahead of their replies.
TEST_F(RecvAllFaults, CutsOfAnApopRunThatKeepsMail) { CheckCuts({3, 0, true, false}); }

TEST_F(RecvAllFaults, CutsOfARunWhoseKeysComeFromTop) { CheckCuts({3, 0, false, true}); }

// Delivered into a Maildir beside the display files: new/ gets a message
// only once it is recorded, whatever stage is cut.
TEST_F(RecvAllFaults, CutsOfARunThatDeliversIntoAMaildir) { CheckCuts({3, 1, false, false, true}); }

#ifndef _WIN32
RunResult RecvAllFaults::RunLimited(rlim_t limit, bool mailbox) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    signal(SIGXFSZ, SIG_IGN);  // a write beyond the limit fails instead
    const rlimit size{limit, limit};
    setrlimit(RLIMIT_FSIZE, &size);
    const RunResult r = Run(true, mailbox);
    const int out[2] = {r.result, r.error};
    const ssize_t written = write(fds[1], out, sizeof out);
    _exit(written == sizeof out ? 0 : 1);
  }
  close(fds[1]);
  int in[2] = {0, 0};
  const ssize_t got = read(fds[0], in, sizeof in);
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  RunResult r;
  if (got == sizeof in) {
    r.result = in[0];
    r.error = in[1];
  } else {
    r.result = 12345;  // the child died
  }
  return r;
}

pid_t RecvAllFaults::RunKilledAfter(int at, int pauseUs) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    zelSetValueInt("SILENT", 0);  // the hook sees each message's header
    ProgressHook hook(
        [&](WindowHandle, const RecvProgress&) {
          const char c = 'm';
          if (write(fds[1], &c, 1) != 1) _exit(1);
        },
        false);
    Run();
    _exit(0);
  }
  close(fds[1]);
  char c = 0;
  for (int arrived = 0; arrived < at && read(fds[0], &c, 1) == 1;) ++arrived;
  std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  close(fds[0]);
  return child;
}

// A message whose Subject line is `subjectBytes` long (folded into lines of
// about 100 bytes), so that its display file is about twice its size.
std::string BigHeaderMessage(const std::string& id, std::size_t subjectBytes) {
  std::string message = "Message-Id: <" + id + "@zelpost.test>\r\nSubject: " + id;
  for (std::size_t n = 0; n < subjectBytes; n += 100) message += "\r\n " + std::string(98, 's');
  return message + "\r\nFrom: a@zelpost.test\r\n\r\nbody\r\n";
}

TEST_F(RecvAllFaults, FullDiskEndsTheRunWithItsErrorAndDeletesNothingUnstored) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a child forked from a threaded process cannot start threads under TSan";
#endif
  const std::string logDir = dir_.File("log");
  fs::create_directories(logDir);
  zelSetValueStr("LOGDIR", logDir.c_str());
  zelSetValueInt("DELE", 1);

  {
    SCOPED_TRACE("mail folder: the third display file does not fit");
    Fresh(0);
    std::vector<std::string> ids = {"f1", "f2", "f3", "f4"};
    for (const auto& id : ids) {
      DropMessage("alice", id == "f3" ? BigHeaderMessage(id, 20000) : TestMessage(id));
    }
    const RunResult r = RunLimited(30000, false);
    EXPECT_EQ(r.result, 2);
    EXPECT_TRUE(r.error == -1102 || r.error == -1103) << r.error;
    EXPECT_EQ(StoredIds(), (std::vector<std::string>{"f1", "f2"}));
    ExpectListMatchesFolder();
    EXPECT_EQ(ServerIds(2), (std::vector<std::string>{"f3", "f4"}));
  }
  {
    SCOPED_TRACE("list file: a line does not fit");
    Fresh(0);
    std::vector<std::string> ids;
    for (int i = 1; i <= 12; ++i) {
      ids.push_back("l" + std::to_string(i));
      DropMessage("alice", "Message-Id: <" + ids.back() + "@zelpost.test>\r\nSubject: " +
                               std::string(900, 's') + "\r\n\r\nbody\r\n");
    }
    const RunResult r = RunLimited(8000, false);
    EXPECT_EQ(r.error, -1104);
    ASSERT_GT(r.result, 3);
    ASSERT_LT(r.result, 12);
    EXPECT_EQ(ListLines().size(), static_cast<std::size_t>(r.result));  // cut back whole
    ExpectListMatchesFolder();
    EXPECT_EQ(ServerIds(12 - r.result), std::vector<std::string>(ids.begin() + r.result, ids.end()));
  }
  {
    SCOPED_TRACE("mailbox: no entry fits");
    const auto ids = Fresh(3);
    const std::string earlier(15000, 'e');
    WriteFileBytes(mailbox_, earlier);
    const RunResult r = RunLimited(15100, true);
    EXPECT_EQ(r.result, -1);
    EXPECT_EQ(r.error, -1104);
    EXPECT_TRUE(ReadFileBytes(mailbox_) == earlier);  // cut back to its last entry
    EXPECT_EQ(StoredIds(), ids);                  // stored, so deleted
    EXPECT_TRUE(ServerIds(0).empty());
    for (int i = 1; i <= 3; ++i) {
      EXPECT_TRUE(fs::exists(JoinPath(folder_, "zel0000" + std::to_string(i) + ".qml")));
    }
  }
  {
    SCOPED_TRACE("seen file: the new keys do not fit");
    zelSetValueInt("DELE", 0);
    Fresh(40);
    ASSERT_EQ(Run().result, 40);
    const std::string seen = ReadFileBytes(seen_);
    DropMessages("n", 30);
    const RunResult r = RunLimited(5000, false);
    // The seen file is not updated: the run's result does not change.
    EXPECT_EQ(r.result, 30);
    EXPECT_EQ(r.error, 0);
    EXPECT_EQ(ReadFileBytes(seen_), seen);  // the old file whole
    EXPECT_NE(ReadFileBytes(logDir + "/zelpost.log").find("既読UIDLファイルの保存に失敗"),
              std::string::npos);
    EXPECT_EQ(ServerIds().size(), 70u);
  }
  zelSetValueInt("DELE", 0);
}

// A run deleting on the server killed (SIGKILL) at a random point after a
// random message, then a whole run after it (DELESEEN: what the first one
// recorded goes too), the first run's files filed away in between as a host
// does: nothing missing from the server is missing from the first run's
// list and display files, the second run uses no display name the first
// one used (the counter was past them), and in the end every message is
// stored and none on the server.
TEST_F(RecvAllFaults, KilledRunLosesNothingAndUsesNoNameTwice) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a child forked from a threaded process cannot start threads under TSan";
#endif
  constexpr int kMessages = 30, kRounds = 10;
  std::mt19937 random(std::random_device{}());
  const auto names = [&] {
    std::set<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder_)) found.insert(entry.path().filename().string());
    return found;
  };
  // Ids of the display files the list names.
  const auto listed = [&] {
    std::set<std::string> ids;
    for (const std::string& line : ListLines()) {
      const std::string path = line.substr(0, line.find('\t'));
      EXPECT_TRUE(fs::exists(path)) << line;
      if (fs::exists(path)) ids.insert(IdsOf({ReadFileBytes(path)}).front());
    }
    return ids;
  };
  zelSetValueInt("DELE", 1);
  zelSetValueInt("DELESEEN", 1);
  for (int round = 0; round < kRounds; ++round) {
    const int at = std::uniform_int_distribution<int>(1, kMessages)(random);
    const int pauseUs = std::uniform_int_distribution<int>(0, 600)(random);
    SCOPED_TRACE("killed " + std::to_string(pauseUs) + " us after message " + std::to_string(at));
    const auto ids = Fresh(kMessages, "k" + std::to_string(round) + "_");
    RunKilledAfter(at, pauseUs);

    std::set<std::string> stored = listed();
    const auto onServer = ServerIds();
    for (const std::string& id : ids) {
      EXPECT_TRUE(stored.count(id) == 1 || std::count(onServer.begin(), onServer.end(), id) == 1)
          << id << " deleted but not stored";
    }
    const std::set<std::string> firstNames = names();
    fs::remove_all(folder_ + ".filed");
    fs::rename(folder_, folder_ + ".filed");
    fs::create_directories(folder_);

    const RunResult again = Run();
    EXPECT_GE(again.result, 0);
    EXPECT_EQ(again.error, 0) << again.errorText;
    for (const std::string& name : names()) {
      EXPECT_EQ(firstNames.count(name), 0u) << name << " used twice";
    }
    const std::set<std::string> second = listed();
    stored.insert(second.begin(), second.end());
    EXPECT_EQ(stored, std::set<std::string>(ids.begin(), ids.end()));
    EXPECT_TRUE(ServerIds(0).empty());
  }
  zelSetValueInt("DELESEEN", 0);
  zelSetValueInt("DELE", 0);
}

// A keeping run with a seen file, delivering into an mbox or a Maildir,
// killed (SIGKILL) at a random message, then run again to its end: every
// message is delivered whole at least once (nothing recorded that is not
// stored), and no more than one batch twice; Maildir's new/ holds only
// whole messages, even right after the kill; the mbox's dot-lock of the
// killed run (planted, in case the kill missed it) does not hold the next
// run up.
TEST_F(RecvAllFaults, KilledDeliveryRepeatsAtMostOneBatch) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a child forked from a threaded process cannot start threads under TSan";
#endif
  constexpr int kMessages = static_cast<int>(2 * kBatchMessages + 50);
  constexpr int kRounds = 2;
  std::mt19937 random(std::random_device{}());
  const std::string mbox = dir_.File("mbox"), maildir = dir_.File("maildir");
  char host[256] = {};
  ASSERT_TRUE(LocalHostName(host, sizeof host));
  // The message as delivered: LF line ends, the dot-stuffing undone.
  const auto delivered = [](const std::string& id) {
    std::string text = TestMessage(id), out;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = text.find("\r\n", at);
      out += text.substr(at, end - at) + "\n";
      at = end + 2;
    }
    return out;
  };
  // Whole copies of each message: the mbox's entries, or the files of new/.
  const auto copies = [&](bool intoMbox) {
    std::map<std::string, int> count;
    std::vector<std::string> texts;
    if (intoMbox) {
      const std::string all = ReadFileBytes(mbox);
      for (std::size_t at = 0; at < all.size();) {
        // Every line that starts with "From " starts an entry (mboxrd).
        std::size_t next = all.find("\nFrom ", at);
        next = next == std::string::npos ? all.size() : next + 1;
        const std::string entry = all.substr(at, next - at);
        texts.push_back(entry.substr(entry.find('\n') + 1));  // without its "From " line
        at = next;
      }
    } else {
      for (const auto& entry : fs::directory_iterator(maildir + "/new")) {
        texts.push_back(ReadFileBytes(entry.path().string()));
      }
    }
    for (const std::string& text : texts) {
      const std::string id = IdsOf({text}).front();
      // mbox: an empty line follows each entry.
      const bool whole = text == delivered(id) || text == delivered(id) + "\n";
      EXPECT_TRUE(whole || intoMbox) << id << " in new/ is not whole";
      if (whole) ++count[id];
    }
    return count;
  };
  for (const bool intoMbox : {true, false}) {
    zelSetValueStr(intoMbox ? "MBOX" : "MAILDIR", (intoMbox ? mbox : maildir).c_str());
    for (int round = 0; round < kRounds; ++round) {
      const int at = std::uniform_int_distribution<int>(1, kMessages)(random);
      const int pauseUs = std::uniform_int_distribution<int>(0, 600)(random);
      SCOPED_TRACE(std::string(intoMbox ? "mbox" : "maildir") + ": killed " + std::to_string(pauseUs) +
                   " us after message " + std::to_string(at));
      const auto ids = Fresh(kMessages, "b" + std::to_string(round) + "_");
      fs::remove_all(maildir);
      fs::remove(mbox);
      const pid_t child = RunKilledAfter(at, pauseUs);
      if (!intoMbox) copies(false);  // new/: whole messages only
      if (intoMbox) WriteFileBytes(mbox + ".lock", std::to_string(child) + " " + host + "\n");

      const auto started = std::chrono::steady_clock::now();
      const RunResult again = Run();
      EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
      EXPECT_GE(again.result, 0);
      EXPECT_EQ(again.error, 0) << again.errorText;
      const auto count = copies(intoMbox);
      int twice = 0;
      for (const std::string& id : ids) {
        const auto found = count.find(id);
        EXPECT_TRUE(found != count.end()) << id << " recorded but not stored";
        if (found == count.end()) continue;
        EXPECT_LE(found->second, 2) << id;
        if (found->second > 1) ++twice;
      }
      EXPECT_LE(twice, static_cast<int>(kBatchMessages));
    }
    zelSetValueStr(intoMbox ? "MBOX" : "MAILDIR", "");
  }
}
#endif

}  // namespace
}  // namespace zel::e2e
