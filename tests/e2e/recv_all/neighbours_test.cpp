// Hostile neighbours and concurrent runs (POSIX): entries planted at every
// path the library writes, in a folder another user could write, and two
// writers on one mailbox, list and seen-UIDL file.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "api/inet_mail.h"
#include "platform/profile_file.h"
#include "recv_all_support.h"
#include "ui/dialog_ids.h"
#include "zelpost.h"
#include "zelpost_ui.h"
#endif

namespace zel::e2e {
namespace {

#ifndef _WIN32
namespace fs = std::filesystem;

enum class Plant { kLinkToSentinel, kDanglingLink, kFifo, kOthersFile };
constexpr Plant kPlants[] = {Plant::kLinkToSentinel, Plant::kDanglingLink, Plant::kFifo, Plant::kOthersFile};
const char* const kPlantNames[] = {"link to a sentinel", "dangling link", "FIFO", "another user's file"};
constexpr const char* kSentinel = "the sentinel\n";
constexpr const char* kOthers = "another user's\n";

// The type of the entry at `path` as lstat sees it, with its owner and, for
// a link, its target: what a planted entry must still be when untouched.
std::string EntryOf(const std::string& path) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0) return "none";
  if (S_ISLNK(st.st_mode)) return "link to " + fs::read_symlink(path).string();
  if (S_ISFIFO(st.st_mode)) return "fifo";
  if (!S_ISREG(st.st_mode)) return "other";
  return (st.st_uid == ::geteuid() ? "own file: " : "foreign file: ") + ReadFileBytes(path);
}

class Neighbours : public RecvAllTest {
 protected:
  void SetUp() override {
    RecvAllTest::SetUp();
    sentinel_ = dir_.File("sentinel");
    WriteFileBytes(sentinel_, kSentinel);
    nowhere_ = dir_.File("nowhere");
  }

  void PlantAt(const std::string& path, Plant plant) const {
    fs::remove(path);
    switch (plant) {
      case Plant::kLinkToSentinel: fs::create_symlink(sentinel_, path); break;
      case Plant::kDanglingLink: fs::create_symlink(nowhere_, path); break;
      case Plant::kFifo: ASSERT_EQ(::mkfifo(path.c_str(), 0666), 0); break;
      case Plant::kOthersFile: {
        WriteFileBytes(path, kOthers);
        const passwd* nobody = ::getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        ASSERT_EQ(::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        break;
      }
    }
  }

  // A receive-all as "result/error text".
  std::string RunAll(bool mailbox) {
    const RunResult r = Run(true, mailbox);
    return std::to_string(r.result) + "/" + std::to_string(r.error) + " " + r.errorText;
  }

  // The attachment dialog on a message with one attachment, saving it to
  // `target` and answering Yes when asked to overwrite: "asked" or "new",
  // then the dialog's result.
  std::string SaveAttachment(const std::string& target) {
    const std::string mail = dir_.File("attach.wml");
    WriteFileBytes(mail,
                   "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\ntext\r\n--b\r\n"
                   "Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; "
                   "filename=a.bin\r\n\r\nYWJj\r\n--b--\r\n");
    int result = -99;
    std::thread host([&] { result = zelDialogAttach(mail.c_str()); });
    constexpr int kWait = 5000;
    const zeluiWindow dialog = zeluiWaitDialog(0, ZEL_IDD_ATTACHMENT, kWait);
    std::string outcome = "no dialog";
    if (dialog != 0) {
      zeluiPressButton(dialog, ZEL_IDC_ATTACH_SAVE);
      const zeluiWindow save = zeluiWaitDialog(0, ZELUI_SAVE_DIALOG, kWait);
      zeluiAnswerSave(save, target.c_str());
      zeluiWaitGone(save, kWait);
      // The question, or (no question) the save has run by the time the
      // dialog takes the Close.
      const zeluiWindow question = zeluiWaitDialog(0, ZELUI_MESSAGE_BOX, 300);
      outcome = question != 0 ? "asked" : "new";
      if (question != 0) {
        zeluiPressButton(question, ZELUI_IDYES);
        zeluiWaitGone(question, kWait);
      }
      zeluiPressButton(dialog, ZELUI_IDCANCEL);
    }
    host.join();
    return outcome + " " + std::to_string(result);
  }

  std::string sentinel_, nowhere_;
};

// Every path the library writes, with an entry planted there: the sentinel
// stays as it was, the dangling link's target is never made, nothing
// blocks, and each call either writes its own regular file (the planted
// entry replaced, or left alone when the call never needed the name) or
// fails with its documented error.
TEST_F(Neighbours, PlantedEntriesAreNeverWrittenThrough) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to plant another user's file";
  ::alarm(120);  // a call that blocks on the FIFO ends the test program

  struct Row {
    const char* what;
    std::string path;                   // where the entry is planted
    std::function<std::string()> call;  // its outcome
    std::string expected;
    enum { kReplaced, kLeftAlone, kRefused } planted;
  };
  const std::string list = list_, seen = seen_;
  const std::string profile = dir_.File("config/zelpost.ini");
  const Row rows[] = {
      {"reading copy", folder_ + "/zel00001.qml", [&] { return RunAll(true); }, "1/0 ",
       Row::kReplaced},
      {"list and seen temporaries (the old fixed names)", list_ + ".zeltmp",
       [&] {
         PlantAt(seen + ".zeltmp", Plant::kLinkToSentinel);
         const std::string outcome = RunAll(true);
         return outcome + EntryOf(list).substr(0, 9) + ", " + EntryOf(seen).substr(0, 9);
       },
       "1/0 own file:, own file:", Row::kLeftAlone},
      {"list file", list_, [&] { return RunAll(false); },
       "-1/-1104 リストファイルのオープンに失敗 [" + list + "]", Row::kRefused},
      {"seen file", seen_, [&] { return RunAll(false); },
       "-1/-1104 既読UIDLファイルのオープンに失敗 [" + seen + "]", Row::kRefused},
      {"index", dir_.File("box.dir"),
       [&] {
         WriteFileBytes(mailbox_, "X-MailFile: m.wml\r\nSubject: s\r\n\r\nbody\r\n.\r\n");
         return std::to_string(zelMakeIndexMBX(mailbox_.c_str()));
       },
       "0", Row::kRefused},
      {"single-receive display file", dir_.File("single.wml"),
       [&] {
         WriteFileBytes(dir_.File("raw.eml"), TestMessage("raw"));
         const int r = zelRecvMailDummy(dir_.File("single.wml").c_str(), dir_.File("raw.eml").c_str());
         return std::to_string(r) + "/" + std::to_string(zelGetErrorInt());
       },
       "0/-1200", Row::kRefused},
      {"Save target", dir_.File("saved.bin"), [&] { return SaveAttachment(dir_.File("saved.bin")); },
       "asked 0", Row::kReplaced},
      {"profile", profile, [&] { return RunAll(false); },
       "0/-1105 表示ファイル番号の保存に失敗 [" + profile + "]", Row::kRefused},
  };
  for (const Row& row : rows) {
    for (const Plant plant : kPlants) {
      SCOPED_TRACE(std::string(row.what) + ", " + kPlantNames[static_cast<int>(plant)]);
      Fresh(1, "p");
      PlantAt(row.path, plant);
      const std::string planted = EntryOf(row.path);
      EXPECT_EQ(row.call(), row.expected);
      EXPECT_EQ(ReadFileBytes(sentinel_), kSentinel);
      EXPECT_FALSE(fs::exists(fs::symlink_status(nowhere_)));
      const std::string now = EntryOf(row.path);
      if (row.planted == Row::kReplaced) {
        EXPECT_TRUE(now == "none" || now.rfind("own file: ", 0) == 0) << now;
      } else {
        EXPECT_EQ(now, planted);
      }
      // A run that failed touched nothing: the message is still there.
      if (row.expected.rfind("-1/", 0) == 0 || row.expected.rfind("0/-1105", 0) == 0) {
        EXPECT_EQ(ListMaildir("alice").size(), 1u);
      }
      fs::remove(row.path);
    }
  }

  // Without HOME the profile is in the user database's home, never in a
  // shared folder.
  const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  const std::string config = std::getenv("XDG_CONFIG_HOME");
  ::unsetenv("HOME");
  ::unsetenv("XDG_CONFIG_HOME");
  const std::string path = ProfileFilePath();
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  if (!home.empty()) ::setenv("HOME", home.c_str(), 1);
  EXPECT_EQ(path, std::string(::getpwuid(::geteuid())->pw_dir) + "/.config/zelpost.ini");
  ::alarm(0);
}

// Two writers at once. A child whose files may not grow past a limit (a
// full disk) and the parent append to one mailbox: every entry either
// reported stored is whole, none is glued to another. Two runs share a list
// and seen-UIDL file: the second fails at once and touches nothing, the
// first stores everything, and no seen key is lost.
TEST_F(Neighbours, TwoWritersNeverLoseOrMixEntries) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "a child forked from a threaded process cannot start threads under TSan";
#endif
  {
    SCOPED_TRACE("a mailbox: a writer under a size limit and one without");
    constexpr int kEntries = 40;
    for (int round = 0; round < 5; ++round) {
      SCOPED_TRACE("round " + std::to_string(round));
      fs::remove(mailbox_);
      // Each writer's reading copies and the list naming them.
      std::vector<std::string> copies[2];
      for (int w = 0; w < 2; ++w) {
        std::string list;
        for (int i = 0; i < kEntries; ++i) {
          const std::string name = folder_ + "/w" + std::to_string(w) + "_" + std::to_string(i);
          std::string text = "Subject: " + std::to_string(w) + "/" + std::to_string(i) + "\n\n";
          while (text.size() < 3000) text += "line of writer " + std::to_string(w) + "\n";
          WriteFileBytes(name + ".qml", text);
          copies[w].push_back(name);
          list += name + ".qml\tx\n";
        }
        WriteFileBytes(dir_.File("list" + std::to_string(w)), list);
      }
      const auto append = [&](int w) {
        InetMail session;
        return session.AppendToMailbox(dir_.File("list" + std::to_string(w)).c_str(), mailbox_.c_str());
      };
      const pid_t child = fork();
      if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit size{90000, 90000};
        setrlimit(RLIMIT_FSIZE, &size);
        _exit(append(1) == -1 ? 0 : 1);
      }
      EXPECT_EQ(append(0), kEntries);
      int status = 0;
      waitpid(child, &status, 0);
      EXPECT_EQ(WEXITSTATUS(status), 0) << "the limited writer did not fail";
      // The mailbox as entries, each "X-MailFile: name.wml" ... ".".
      const std::string box = ReadFileBytes(mailbox_);
      std::set<std::string> found;
      std::size_t at = 0;
      while (at < box.size()) {
        const std::size_t end = box.find("\r\n.\r\n", at);
        ASSERT_NE(end, std::string::npos) << "a cut entry at " << at;
        const std::string entry = box.substr(at, end + 5 - at);
        const std::size_t nameEnd = entry.find(".wml\r\n");
        ASSERT_EQ(entry.rfind("X-MailFile: ", 0), 0u) << entry.substr(0, 60);
        ASSERT_NE(nameEnd, std::string::npos);
        const std::string name = entry.substr(12, nameEnd - 12);
        const int w = name.find("/w1_") != std::string::npos ? 1 : 0;
        std::string expected = "X-MailFile: " + name + ".wml\r\nSubject: " + std::to_string(w) + "/" +
                               name.substr(name.rfind('_') + 1) + "\r\n\r\n";
        while (expected.size() < entry.size() - 5) expected += "line of writer " + std::to_string(w) + "\r\n";
        EXPECT_EQ(entry, expected + ".\r\n") << "glued or cut: " << name;
        EXPECT_TRUE(found.insert(name).second) << name << " twice";
        at = end + 5;
      }
      // Reported stored: the parent's count, and each copy the child deleted.
      for (int w = 0; w < 2; ++w) {
        for (const std::string& name : copies[w]) {
          const bool stored = !fs::exists(name + ".qml");
          EXPECT_EQ(found.count(name), stored ? 1u : 0u) << name;
        }
      }
    }
  }
  {
    SCOPED_TRACE("a list and seen-UIDL file: a run while another holds them");
    const auto ids = Fresh(5, "t");
    int toParent[2], toChild[2];
    ASSERT_EQ(pipe(toParent), 0);
    ASSERT_EQ(pipe(toChild), 0);
    const pid_t child = fork();
    if (child == 0) {
      // The first run stops at its second message until the parent has
      // tried its own.
      zelSetValueInt("SILENT", 0);
      int result = -99;
      {
        ProgressHook hook([&](WindowHandle, const RecvProgress& record) {
          if (record.retrievedCount != 2) return;
          char c = 'x';
          if (write(toParent[1], &c, 1) != 1 || read(toChild[0], &c, 1) != 1) _exit(97);
        });
        result = Run().result;
      }
      _exit(result + 100);
    }
    char c = 0;
    ASSERT_EQ(read(toParent[0], &c, 1), 1);
    const std::string listBefore = ReadFileBytes(list_), seenBefore = ReadFileBytes(seen_);
    const RunResult second = Run();
    EXPECT_EQ(second.result, -1);
    EXPECT_EQ(second.error, -1104);
    EXPECT_EQ(second.errorText, "リストファイルが他の受信処理で使用中 [" + list_ + "]");
    EXPECT_EQ(ReadFileBytes(list_), listBefore);
    EXPECT_EQ(ReadFileBytes(seen_), seenBefore);
    ASSERT_EQ(write(toChild[1], &c, 1), 1);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status) - 100, 5);
    EXPECT_EQ(StoredIds(), ids);
    ExpectListMatchesFolder();
    EXPECT_EQ(ReadFileBytes(seen_).size(), 5u * 80);
    EXPECT_EQ(Run().result, 0);  // every key kept: nothing again
    EXPECT_EQ(ServerIds(), ids);
    for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) close(fd);
  }
}
#endif

}  // namespace
}  // namespace zel::e2e
