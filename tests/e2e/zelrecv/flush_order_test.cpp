// The order of flushes and records of zelrecv, read from `strace -f -y`: in
// every delivery mode, over POP3 and IMAP, every file the run wrote and
// every folder that gained an entry is flushed (fsync, fdatasync) before the
// run records anything: the seen file's new version renamed into place, a
// UID STORE or EXPUNGE, a QUIT after DELE. With --no-sync none is flushed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <ostream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../servers.h"
#include "store/flush_batch.h"

namespace zel::e2e {
namespace {

namespace fs = std::filesystem;

struct Row {
  const char* name;
  bool imap;
  const char* options;  // zelrecv's options besides server, user, password
  int messages;         // of about 200 bytes each
  bool sync;
};

// The row's name in test names and messages.
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// What the trace shows of one run.
struct Replay {
  int records = 0;      // seen file replacements, UID STOREs and EXPUNGEs, QUITs after DELE
  int seenRenames = 0;  // of them, the seen file's
  int flushes = 0;      // fsync and fdatasync of the run's own files and folders
  std::map<std::string, int> folderFlushes;
  std::vector<std::string> faults;  // what a record found unflushed
};

// The path `name` names relative to the folder `at` (a trace's "AT_FDCWD<dir>"
// or "5<dir>").
std::string Resolve(const std::string& at, const std::string& name) {
  return !name.empty() && name[0] == '/' ? name : at + "/" + name;
}

// Replays the trace of a run whose files are all under `data`: each write
// makes its file unflushed until an fsync of it; a file made or moved into
// a folder makes the folder unflushed until an fsync of the folder.
Replay ReplayTrace(const std::string& trace, const std::string& data, const std::string& seen) {
  static const std::regex call(R"(^\d+ +(?:<\.\.\. )?(\w+)(?: resumed>)?\((.*)\) += (-?\d+)(?:<([^>]*)>)?)");
  static const std::regex fdPath(R"(^(?:AT_FDCWD|\d+)<([^>]*)>)");
  static const std::regex pathArg(R"re("((?:[^"\\]|\\.)*)")re");
  static const std::regex twoPaths(
      R"re(^(?:AT_FDCWD|\d+)<([^>]*)>, "([^"]*)", (?:AT_FDCWD|\d+)<([^>]*)>, "([^"]*)")re");
  const auto ours = [&](const std::string& path) { return path.rfind(data + "/", 0) == 0; };
  Replay r;
  std::set<std::string> dirtyFiles;
  std::map<std::string, std::set<std::string>> gained;  // folder -> new entries
  std::set<std::string> created;                         // made during the run
  bool deleted = false;
  const auto record = [&](const std::string& what) {
    ++r.records;
    for (const std::string& file : dirtyFiles) r.faults.push_back(what + ": file " + file + " unflushed");
    for (const auto& [folder, entries] : gained) {
      for (const std::string& entry : entries) {
        r.faults.push_back(what + ": folder " + folder + " unflushed after " + entry);
      }
    }
  };
  // Unfinished calls, by process id, joined with their resumption.
  std::map<std::string, std::string> pending;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    const std::string pid = line.substr(0, line.find(' '));
    if (line.find("<unfinished ...>") != std::string::npos) {
      pending[pid] = line.substr(0, line.find(" <unfinished ...>"));
      continue;
    }
    if (line.find(" resumed>") != std::string::npos && pending.count(pid) != 0) {
      line = pending[pid] + line.substr(line.find(" resumed>") + 9);
      pending.erase(pid);
    }
    std::smatch m;
    if (!std::regex_search(line, m, call)) continue;
    const std::string name = m[1], args = m[2], result = m[4];
    const bool ok = m[3] != "-1";
    std::smatch a;
    if (name == "write" || name == "pwrite64" || name == "writev" || name == "sendto" || name == "sendmsg") {
      if (!std::regex_search(args, a, fdPath)) continue;
      const std::string path = a[1];
      if (ours(path)) {
        dirtyFiles.insert(path);
      } else if (path.rfind("TCP:", 0) == 0 || path.rfind("socket:", 0) == 0) {
        if (args.find("DELE ") != std::string::npos) deleted = true;
        if (args.find("UID STORE") != std::string::npos) record("UID STORE");
        if (args.find(" EXPUNGE") != std::string::npos || args.find("UID EXPUNGE") != std::string::npos) {
          record("EXPUNGE");
        }
        if (args.find("\"QUIT\\r\\n\"") != std::string::npos && deleted) record("QUIT after DELE");
      }
    } else if ((name == "openat" || name == "open" || name == "creat") && ok) {
      if (args.find("O_CREAT") == std::string::npos || !ours(result)) continue;
      // Only the first open that may create makes a new entry: the run's
      // folder starts empty.
      if (created.insert(result).second) gained[result.substr(0, result.rfind('/'))].insert(result);
    } else if ((name == "mkdir" || name == "mkdirat") && ok) {
      std::string at = data;  // the run's working folder
      if (name == "mkdirat" && std::regex_search(args, a, fdPath)) at = a[1];
      if (!std::regex_search(args, a, pathArg)) continue;
      const std::string path = Resolve(at, a[1]);
      if (ours(path)) gained[path.substr(0, path.rfind('/'))].insert(path);
    } else if ((name == "rename" || name == "renameat" || name == "renameat2") && ok) {
      std::string from, to;
      if (name == "rename") {
        std::sregex_iterator it(args.begin(), args.end(), pathArg);
        from = Resolve(data, (*it)[1]);
        to = Resolve(data, (*++it)[1]);
      } else if (std::regex_search(args, a, twoPaths)) {
        from = Resolve(a[1], a[2]);
        to = Resolve(a[3], a[4]);
      }
      if (!ours(to)) continue;
      // The entry renamed away, and the seen file's own entry, need no
      // flush: a lost rename leaves the old seen file, which records less.
      gained[from.substr(0, from.rfind('/'))].erase(from);
      if (to == seen) {
        gained[to.substr(0, to.rfind('/'))].erase(to);
        ++r.seenRenames;
        record("seen file replaced");
      }
      if (dirtyFiles.erase(from) != 0) dirtyFiles.insert(to);
      if (to != seen) gained[to.substr(0, to.rfind('/'))].insert(to);
    } else if ((name == "unlink" || name == "unlinkat") && ok) {
      // A file removed needs no flush (the dot-lock, a reading copy in the
      // mailbox now).
      std::string at = data;
      if (name == "unlinkat" && std::regex_search(args, a, fdPath)) at = a[1];
      if (!std::regex_search(args, a, pathArg)) continue;
      const std::string path = Resolve(at, a[1]);
      dirtyFiles.erase(path);
      gained[path.substr(0, path.rfind('/'))].erase(path);
    } else if ((name == "fsync" || name == "fdatasync") && ok && std::regex_search(args, a, fdPath)) {
      const std::string path = a[1];
      if (!ours(path) && path != data) continue;
      ++r.flushes;
      dirtyFiles.erase(path);
      gained.erase(path);
      if (fs::is_directory(path)) ++r.folderFlushes[path];
    }
    for (auto it = gained.begin(); it != gained.end();) it = it->second.empty() ? gained.erase(it) : ++it;
  }
  return r;
}

class FlushOrder : public ::testing::TestWithParam<Row> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(HasServers());
    ClearMaildir("alice");
  }
  void TearDown() override { ClearMaildir("alice"); }
  TempDir dir;
};

TEST_P(FlushOrder, EverythingStoredIsFlushedBeforeItIsRecorded) {
  if (std::system("strace -V > /dev/null 2>&1") != 0) GTEST_SKIP() << "no strace";
  const Row& row = GetParam();
  const std::string data = fs::canonical(dir.path()).string() + "/data";
  for (const char* folder : {"data", "data/mail", "config", "state", "tmp"}) fs::create_directories(dir.File(folder));
  WriteFileBytes(dir.File("password"), TestServers().Password("alice") + "\n");
  for (int i = 1; i <= row.messages; ++i) {
    DropMessage("alice", "Message-Id: <f" + std::to_string(i) + "@flush.test>\r\nSubject: flush " +
                             std::to_string(i) + "\r\n\r\n" + std::string(150, 'b') + "\r\n");
  }
  const bool maxSize = std::string(row.options).find("--max-size") != std::string::npos;
  if (maxSize) DropMessage("alice", "Subject: large\r\n\r\n" + std::string(20000, 'l') + "\r\n");
  const std::string server =
      row.imap ? "--imap -S" + TestServers().ImapServer() : "-S" + TestServers().Pop3Server();
  const std::string trace = dir.File("trace");
  // LeakSanitizer cannot run under ptrace.
  const std::string command =
      "cd " + data + " && LC_ALL=C.UTF-8 XDG_CONFIG_HOME=" + dir.File("config") + " XDG_STATE_HOME=" +
      dir.File("state") + " TMPDIR=" + dir.File("tmp") +
      " ASAN_OPTIONS=detect_leaks=0 strace -f -qq -y -s 64 -o " + trace +
      " -e trace=open,openat,creat,write,pwrite64,writev,sendto,sendmsg,fsync,fdatasync,rename,renameat,"
      "renameat2,mkdir,mkdirat,unlink,unlinkat " ZEL_BINARY_DIR "/zelrecv " + server + " -Ualice -F" + dir.File("password") +
      " -Llist -Mmail " + row.options + " > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;

  const Replay r = ReplayTrace(ReadFileBytes(trace), data, data + "/seen");
  EXPECT_GT(r.records, 0);
  if (!row.sync) {
    EXPECT_EQ(r.flushes, 0);
    return;
  }
  for (const std::string& fault : r.faults) ADD_FAILURE() << fault;
  // One flush per folder and batch at most.
  const int batches = (row.messages + static_cast<int>(kBatchMessages) - 1) / static_cast<int>(kBatchMessages);
  for (const auto& [folder, count] : r.folderFlushes) EXPECT_LE(count, batches) << folder;
  if (std::string(row.options).find("-Kseen") != std::string::npos) {
    EXPECT_EQ(r.seenRenames, batches);
  }
  if (maxSize) {
    EXPECT_TRUE(WaitForMessageCount("alice", 1));  // the large one stays
  }
  std::printf("[ flushes  ] %s: %d flush calls, %d records\n", row.name, r.flushes, r.records);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FlushOrder,
    ::testing::Values(Row{"display_pop3", false, "-Kseen", 3, true},
                      Row{"display_pop3_dele_mailbox", false, "-D -Kseen -Bbox --max-size 10000", 3, true},
                      Row{"display_imap", true, "-Kseen", 3, true},
                      Row{"display_imap_dele", true, "-D", 3, true},
                      Row{"mbox_pop3", false, "--mbox mbox -Kseen", 3, true},
                      Row{"mbox_imap_dele", true, "--mbox mbox -D -Kseen", 3, true},
                      Row{"maildir_pop3_batches", false, "--maildir maildir -Kseen",
                          static_cast<int>(2 * kBatchMessages + 50), true},
                      Row{"maildir_imap_dele", true, "--maildir maildir -D", 3, true},
                      Row{"maildir_keep_display_pop3_dele", false, "--maildir maildir --keep-display -D -Kseen", 3,
                          true},
                      Row{"mda_pop3", false, "--mda 'cat > /dev/null' -D -Kseen", 3, true},
                      Row{"no_sync", false, "--maildir maildir --keep-display -D -Kseen --no-sync", 3, false}),
    [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zel::e2e
