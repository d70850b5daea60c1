// Receive-all over IMAP against the real Dovecot, which serves the same
// maildir over POP3: one table of runs, each on the state the one before
// left, from the POP3 reference run to deletion on the server.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cut_proxy.h"
#include "recv_all_support.h"
#include "zelpost.h"

namespace zel::e2e {
namespace {

namespace fs = std::filesystem;

using RecvAllImapE2e = RecvAllTest;

// Display files (name -> bytes) and the list file of the mail folder.
std::map<std::string, std::string> FolderFiles(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] = ReadFileBytes(entry.path().string());
  }
  return files;
}

// Gives alice's INBOX another UIDVALIDITY, as a server whose folder was
// rebuilt: every message keeps its place and gets a new number.
void ChangeUidValidity(const std::string& mailDir) {
  const std::string path = mailDir + "/alice/dovecot-uidlist";
  std::string text = ReadFileBytes(path);
  const std::size_t v = text.find(" V");
  ASSERT_NE(v, std::string::npos);
  const std::size_t end = text.find(' ', v + 2);
  const unsigned long old = std::stoul(text.substr(v + 2, end - v - 2));
  text.replace(v + 2, end - v - 2, std::to_string(old + 1000));
  ASSERT_TRUE(WriteFileBytes(path, text));
}

TEST_F(RecvAllImapE2e, SameMailAsPop3AcrossRuns) {
  const Servers& s = TestServers();
  ASSERT_NE(s.imapPort, 0);
  const std::string japanese = "日本語";  // Shift-JIS: the host's text
  struct Step {
    const char* name;
    int protocol;       // PROTOCOL
    int tls;            // TLS: 0, 1 (the IMAPS port), 2 (STARTTLS)
    bool seen;          // with the seen-UIDL file
    int dele;           // DELE
    const char* folder; // IMAPFOLDER (nullptr: INBOX)
    int drop;           // messages dropped before the run (a Japanese-folder step drops there)
    bool newValidity;   // UIDVALIDITY changed before the run
    int stored;         // the run's result
    bool sameAsPop3;    // the mail folder equals the POP3 reference run's
    int left;           // messages left in INBOX afterwards (-1: not checked)
    int biff;           // zelMailBiff's count afterwards, none new (-1: not checked)
    int maxSize = 0;    // MAXSIZE; its step drops a small message, then one twice as large
  };
  const Step steps[] = {
      {"POP3 reference", 0, 0, false, 0, nullptr, 0, false, 1000, true, 1000, -1},
      {"IMAP", 1, 0, false, 0, nullptr, 0, false, 1000, true, 1000, -1},
      {"IMAPS", 1, 1, false, 0, nullptr, 0, false, 1000, true, 1000, -1},
      {"IMAP STARTTLS, seen file", 1, 2, true, 0, nullptr, 0, false, 1000, true, 1000, -1},
      {"second run fetches nothing", 1, 0, true, 0, nullptr, 0, false, 0, false, 1000, 1000},
      {"UIDVALIDITY changed: only the new message", 1, 0, true, 0, nullptr, 1, true, 1, false, 1001, 1001},
      {"and nothing after that", 1, 0, true, 0, nullptr, 0, false, 0, false, 1001, -1},
      {"Japanese folder", 1, 1, true, 0, japanese.c_str(), 3, false, 3, false, 1001, 3},
      {"MAXSIZE leaves the larger message", 1, 0, true, 0, nullptr, 2, false, 1, false, 1003, -1, 10000},
      {"DELE empties INBOX", 1, 0, false, 1, nullptr, 0, false, 1003, false, 0, 0},
  };
  ClearMaildir("alice/.&ZeVnLIqe-");
  DropMessages("m", 1000, 4000);
  std::map<std::string, std::string> reference;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    for (const auto& entry : fs::directory_iterator(folder_)) fs::remove_all(entry.path());
    fs::remove(list_);
    ResetDisplayCounter();
    if (step.newValidity) ChangeUidValidity(s.mailDir);
    for (int i = 0; i < step.drop; ++i) {
      const bool japanese = step.folder != nullptr;
      DropMessage(japanese ? "alice/.&ZeVnLIqe-" : "alice",
                  TestMessage((japanese ? "j" : "n") + std::to_string(step.drop + i),
                              step.maxSize > 0 && i > 0 ? 2 * step.maxSize : 200));
    }
    zelSetValueInt("PROTOCOL", step.protocol);
    zelSetValueInt("TLS", step.tls);
    zelSetValueStr("TLSCAFILE", step.tls != 0 ? s.caFile.c_str() : "");
    zelSetValueInt("DELE", step.dele);
    zelSetValueInt("MAXSIZE", step.maxSize);
    ASSERT_GT(zelSetValueStr("IMAPFOLDER", step.folder != nullptr ? step.folder : "INBOX"), 0);
    const std::string server = step.protocol == 0 ? s.Pop3Server() : s.ImapServer(step.tls == 1);
    // One seen-UIDL file per folder, as per maildrop.
    const std::string inboxSeen = seen_;
    if (step.folder != nullptr) seen_ += ".folder";
    const RunResult run = Run(step.seen, false, server);
    EXPECT_EQ(run.result, step.stored);
    EXPECT_EQ(run.error, 0) << run.errorText;
    if (step.stored > 0) ExpectListMatchesFolder();
    if (step.protocol == 0) reference = FolderFiles(folder_);
    if (step.sameAsPop3) {
      EXPECT_TRUE(FolderFiles(folder_) == reference);
    }
    if (step.left >= 0) {
      EXPECT_EQ(ServerIds(step.left).size(), static_cast<std::size_t>(step.left));
    }
    if (step.biff >= 0) {
      // The new-mail check over IMAP: the folder's count, none new.
      zelInitialize(server.c_str(), "127.0.0.1", "alice", "alicepw", "alice@zelpost.test", "");
      zelSetValueStr("BIFFSEENFILE", seen_.c_str());
      EXPECT_EQ(zelMailBiff(), step.biff);
      EXPECT_EQ(zelGetValueInt("BIFFNEW"), 0);
      zelSetValueStr("BIFFSEENFILE", "");
    }
    seen_ = inboxSeen;
  }
  zelSetValueInt("PROTOCOL", 0);
  zelSetValueInt("TLS", 0);
  zelSetValueInt("DELE", 0);
  zelSetValueInt("MAXSIZE", 0);
  zelSetValueStr("IMAPFOLDER", "INBOX");
}


// A cut at every stage of an IMAP run (through the proxy, at the start,
// the middle and the end of each command and reply), kept and deleting,
// and a Cancel in the progress dialog: each run ends with a defined result,
// and the run after it, without the fault, leaves every message stored
// exactly once or still on the server.
TEST_F(RecvAllImapE2e, CutsAndCancelKeepEveryMessage) {
  const Servers& s = TestServers();
  CutProxy proxy(s.pop3Host, s.imapPort, CutProxy::Protocol::kImap);
  zelSetValueInt("PROTOCOL", 1);
  constexpr int kMessages = 3;
  auto checkAfter = [&](const RunResult& run, const std::vector<std::string>& ids) {
    EXPECT_TRUE(fs::is_empty(dir_.File("tmp")));  // no part of a message left behind
    const auto stored = StoredIds();
    if (run.result > 0) {
      EXPECT_EQ(stored.size(), static_cast<std::size_t>(run.result));
    }
    if (fs::exists(list_)) ExpectListMatchesFolder();
    const auto onServer = ServerIds();
    for (const std::string& id : ids) {
      EXPECT_TRUE(std::count(stored.begin(), stored.end(), id) == 1 ||
                  std::count(onServer.begin(), onServer.end(), id) == 1)
          << id << " lost";
    }
    const RunResult again = Run(true, false, proxy.address());
    proxy.Transcript();
    EXPECT_GE(again.result, 0);
    EXPECT_EQ(again.error, 0) << again.errorText;
    auto all = StoredIds();
    std::sort(all.begin(), all.end());
    auto expected = ids;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(all, expected);
  };
  for (int dele : {0, 1}) {
    zelSetValueInt("DELE", dele);
    Fresh(kMessages);
    ASSERT_EQ(Run(true, false, proxy.address()).result, kMessages);
    std::int64_t downTotal = 0;
    const auto transcript = proxy.Transcript(&downTotal);
    std::vector<CutProxy::Cut> cuts;
    std::map<std::string, int> occurrences;
    for (std::size_t i = 0; i < transcript.size(); ++i) {
      // "UID FETCH 12 BODY.PEEK[]" counts as "UID FETCH"; "LOGIN ..." as "LOGIN".
      std::string word = transcript[i].line.substr(0, transcript[i].line.find(' '));
      if (word == "UID") word = transcript[i].line.substr(0, transcript[i].line.find(' ', 4));
      const int occurrence = ++occurrences[word];
      const std::int64_t replyEnd = i + 1 < transcript.size() ? transcript[i + 1].down : downTotal;
      const std::int64_t replyLength = replyEnd - transcript[i].down;
      if (!word.empty()) {
        cuts.push_back({CutProxy::Direction::kToServer, word, occurrence, 1});
      }
      for (std::int64_t offset : std::set<std::int64_t>{0, replyLength / 2, replyLength - 1}) {
        if (offset >= 0 && offset < replyLength) {
          cuts.push_back({CutProxy::Direction::kToClient, word, occurrence, offset});
        }
      }
    }
    ASSERT_GT(cuts.size(), 20u);
    for (const CutProxy::Cut& cut : cuts) {
      SCOPED_TRACE(std::string(dele ? "DELE, " : "") +
                   (cut.direction == CutProxy::Direction::kToClient ? "reply of " : "command ") +
                   (cut.command.empty() ? std::string("greeting") : cut.command) + " #" +
                   std::to_string(cut.occurrence) + " cut at byte " + std::to_string(cut.offset));
      const auto ids = Fresh(kMessages);
      proxy.SetCut(cut);
      const RunResult run = Run(true, false, proxy.address());
      proxy.SetCut({});
      proxy.Transcript();
      const std::string& w = cut.command;
      if (w == "UID FETCH" && cut.occurrence > 1) {
        // A message's retrieval: those before it are stored. The reply may
        // hold no more than the tagged line (its data came with the reply
        // before): the run then ends whole.
        EXPECT_GE(run.result, 0);
        EXPECT_TRUE(run.error == -205 || run.error == -211 || (run.error == 0 && run.result == kMessages))
            << run.result << " " << run.error;
      } else if (w == "UID FETCH") {
        // The Message-Id fetch: cut, the listing fails; cut at what was its
        // last byte in the measuring run (a reply of the same length: only
        // its LF goes), the listing may end whole and the first retrieval
        // fails. Nothing is stored either way.
        EXPECT_TRUE(run.result == -1 || (run.result == 0 && run.error == -205)) << run.result << " " << run.error;
      } else if (w == "UID STORE" || w == "UID EXPUNGE" || w == "LOGOUT") {
        EXPECT_EQ(run.result, kMessages);  // marking comes after storing
        EXPECT_EQ(run.error, 0);
      } else {
        // The login or the listing (the Message-Id fetch is UID FETCH #1).
        EXPECT_EQ(run.result, -1);
      }
      checkAfter(run, ids);
    }
  }
  SCOPED_TRACE("Cancel after the second message");
  zelSetValueInt("DELE", 1);
  const auto ids = Fresh(kMessages);
  zelInitialize(proxy.address().c_str(), "127.0.0.1", "alice", "alicepw", "alice@zelpost.test", "");
  const RunResult cancelled = RunCancelledAt(2);
  proxy.Transcript();
  EXPECT_EQ(cancelled.result, -2);
  EXPECT_EQ(ServerIds().size(), static_cast<std::size_t>(kMessages));  // nothing deleted
  checkAfter(cancelled, ids);
  zelSetValueInt("PROTOCOL", 0);
  zelSetValueInt("DELE", 0);
}

}  // namespace
}  // namespace zel::e2e
