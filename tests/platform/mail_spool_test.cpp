// The Maildir and mbox primitives: a Maildir used only through real folders
// of the user, its files moved into new/ without replacing any, old
// leftovers of tmp/ removed; an mbox dot-lock of a dead process taken over
// at once.
#ifndef _WIN32
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <thread>  // std::chrono without <chrono>, whose "µs" the CP932 build cannot spell
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host_name.h"
#include "platform/mail_spool.h"
#include "scratch_dir.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::ScratchDir;
using test::WriteBytes;

#ifndef _WIN32
TEST(MailSpool, MaildirIsUsedOnlyThroughRealFoldersOfTheUser) {
  ScratchDir dir;
  const std::string maildir = dir.File("Maildir"), elsewhere = dir.File("elsewhere");
  struct Row {
    const char* what;
    std::function<void()> plant;
    MaildirFolders::Status status;
    std::string folder;  // the folder the failure names
  };
  const Row rows[] = {
      {"missing: made", [] {}, MaildirFolders::Status::kOpen, maildir},
      {"a link to another folder", [&] { fs::create_symlink(elsewhere, maildir); },
       MaildirFolders::Status::kRefused, maildir},
      {"new/ a link", [&] {
         fs::create_directories(maildir);
         fs::create_symlink(elsewhere, maildir + "/new");
       },
       MaildirFolders::Status::kRefused, maildir + "/new"},
      {"another user's folder", [&] {
         fs::create_directories(maildir);
         const passwd* nobody = ::getpwnam("nobody");
         if (::geteuid() == 0 && nobody != nullptr) {
           ASSERT_EQ(::chown(maildir.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
         } else {
           fs::remove(maildir);
           fs::create_symlink(elsewhere, maildir);  // refused all the same
         }
       },
       MaildirFolders::Status::kRefused, maildir},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(maildir);
    fs::remove_all(elsewhere);
    fs::create_directories(elsewhere);
    row.plant();
    MaildirFolders folders;
    std::string folder;
    std::vector<std::string> changed;
    EXPECT_EQ(folders.Open(maildir, folder, changed), row.status);
    EXPECT_EQ(folder, row.folder);
    EXPECT_TRUE(fs::is_empty(elsewhere));  // nothing made through a link
    if (row.status == MaildirFolders::Status::kOpen) {
      EXPECT_EQ(changed, (std::vector<std::string>{dir.Path(), maildir}));
      for (const char* sub : {"/tmp", "/new", "/cur"}) EXPECT_TRUE(fs::is_directory(maildir + sub)) << sub;
    }
  }

  // Files: made in tmp/ (0600), moved into new/ never over another, and a
  // leftover of tmp/ older than 36 hours removed by the next Open.
  fs::remove_all(maildir);
  fs::create_directories(maildir + "/tmp");
  fs::create_directories(maildir + "/new");
  fs::create_directories(maildir + "/cur");
  MaildirFolders folders;
  std::string folder;
  std::vector<std::string> changed;
  ASSERT_EQ(folders.Open(maildir, folder, changed), MaildirFolders::Status::kOpen);
  EXPECT_TRUE(changed.empty());  // nothing made
  for (const char* name : {"one", "two"}) {
    std::FILE* file = folders.Create(name);
    ASSERT_NE(file, nullptr);
    std::fputs(name, file);
    std::fclose(file);
  }
  EXPECT_EQ(folders.Create("one"), nullptr);  // exists
  EXPECT_EQ(fs::status(maildir + "/tmp/one").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  WriteBytes(maildir + "/new/two", "earlier");
  EXPECT_TRUE(folders.Publish("one"));
  EXPECT_FALSE(folders.Publish("two"));
  EXPECT_EQ(ReadBytes(maildir + "/new/one"), "one");
  EXPECT_EQ(ReadBytes(maildir + "/new/two"), "earlier");
  folders.Discard("two");
  EXPECT_TRUE(fs::is_empty(maildir + "/tmp"));
  WriteBytes(maildir + "/tmp/old", "o");
  WriteBytes(maildir + "/tmp/recent", "r");
  fs::last_write_time(maildir + "/tmp/old", fs::file_time_type::clock::now() - std::chrono::hours(37));
  ASSERT_EQ(folders.Open(maildir, folder, changed), MaildirFolders::Status::kOpen);
  EXPECT_FALSE(fs::exists(maildir + "/tmp/old"));
  EXPECT_TRUE(fs::exists(maildir + "/tmp/recent"));
}

// A dot-lock left by a process of this host that is gone is taken over at
// once; the new one names this process and host.
TEST(MailSpool, DotLockOfADeadProcessIsTakenOverAtOnce) {
  ScratchDir dir;
  const std::string mbox = dir.File("mbox");
  WriteBytes(mbox, "");
  char host[256] = {};
  ASSERT_TRUE(LocalHostName(host, sizeof host));
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  WriteBytes(mbox + ".lock", std::to_string(gone) + " " + host + "\n");
  std::FILE* file = std::fopen(mbox.c_str(), "ab");
  ASSERT_NE(file, nullptr);
  SpoolLock lock;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(lock.Take(file, mbox), SpoolLock::Status::kLocked);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(ReadBytes(mbox + ".lock"), std::to_string(getpid()) + " " + host + "\n");
  lock.Release();
  EXPECT_FALSE(fs::exists(mbox + ".lock"));
  std::fclose(file);
}
#endif

}  // namespace
}  // namespace zel
