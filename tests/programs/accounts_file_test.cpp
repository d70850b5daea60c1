// The accounts file: each fault a user can make in it, with the exit
// status and the message naming the file and line, through the programs
// themselves; and how an account fills a command line. The cases run the
// programs through a POSIX shell and read a POSIX home folder, so the
// Windows build leaves them out.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <thread>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "programs/accounts_file.h"
#include "programs/console_text.h"
#include "programs/password_source.h"
#include "programs/recv_options.h"

namespace zel::sender {
namespace {

namespace fs = std::filesystem;

std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class AccountsFileTest : public ::testing::Test {
 protected:
  AccountsFileTest() : dir(fs::temp_directory_path() / ("zel_accounts_" + std::to_string(::getpid()))) {
    fs::remove_all(dir);
    fs::create_directories(dir);
    InitConsoleText();
  }
  ~AccountsFileTest() override { fs::remove_all(dir); }

  // Writes the accounts file with `mode` and runs `program` with `args`;
  // standard input is no terminal. Returns the exit status.
  int Run(const std::string& text, int mode, const std::string& program, const std::string& args) {
    fs::create_directories(dir / "zelpost");
    const fs::path file = dir / "zelpost" / "accounts";  // where XDG_CONFIG_HOME puts it
    std::ofstream(file, std::ios::binary) << text;
    ::chmod(file.c_str(), static_cast<mode_t>(mode));
    const std::string command = "cd '" + dir.string() + "' && LC_ALL=C.UTF-8 XDG_CONFIG_HOME='" +
                                dir.string() + "' '" ZEL_BINARY_DIR "/" + program + "' " + args +
                                " < /dev/null > out 2> err";
    const int status = std::system(command.c_str());
    return (status >> 8) & 0xFF;
  }

  fs::path dir;
};

TEST_F(AccountsFileTest, EachFaultHasItsStatusAndNamesTheLine) {
  const std::string path = (dir / "zelpost" / "accounts").string();
  const std::string config = "--config " + path;
  const std::string bad = U8(u8"err: アカウントファイルの誤り [") + path + ":";
  const std::string runnable = "pop3_host 127.0.0.1:1\nuser u\nlist_file l\nmail_folder m\n";
  const struct {
    const char* fault;
    std::string text;
    int mode;
    std::string program;
    std::string args;
    int status;
    std::string err;
  } rows[] = {
      {"unknown key", "account a\nfoo bar\n", 0644, "zelrecv", config, 78, bad + U8(u8"2] 知らないキーです: foo\n")},
      {"a value the key does not take", "# tls\naccount a\ntls 3\n", 0644, "zelrecv", config, 78,
       bad + U8(u8"3] tls に指定できない値です: 3\n")},
      {"a key before any section", "user x\n", 0644, "zelrecv", config, 78,
       bad + U8(u8"1] user が defaults または account の前にあります\n")},
      {"a key without value", "defaults\n\n  # note\nuser\n", 0644, "zelrecv", config, 78,
       bad + U8(u8"4] user に値がありません\n")},
      {"an account twice", "account a\naccount a\n", 0644, "zelrecv", config, 78,
       bad + U8(u8"2] アカウント a が2度あります\n")},
      {"a delivery without its folder", "account a\ndelivery maildir\n", 0644, "zelrecv", config, 78,
       bad + U8(u8"2] delivery に指定できない値です: maildir\n")},
      {"a protocol other than pop3 and imap", "account a\nprotocol smtp\n", 0644, "zelrecv", config, 78,
       bad + U8(u8"2] protocol に指定できない値です: smtp\n")},
      {"a password others may read", "account a\n" + runnable + "password secret\n", 0640, "zelrecv", "", 78,
       bad + U8(u8"6] password を書いたファイルは所有者だけが読み書きできるようにしてください (chmod 600)\n")},
      {"an account the file lacks", "account a\n", 0644, "zelrecv", "--account b", 78,
       U8(u8"err: アカウントがありません [b] (") + path + ")\n"},
      {"no accounts file", "", 0644, "zelrecv", "--config " + path + ".none", 78,
       U8(u8"err: アカウントファイルが読めません [") + path + ".none]\n"},
      {"a password command that fails", "account a\n" + runnable + "passwordeval exit 3\n", 0644, "zelrecv",
       "--all", 78, U8(u8"err: パスワードのコマンドが失敗しました (終了コード 3) [") + path + ":6]\n"},
      {"zelsend, classic exit code", "account a\ntls 9\n", 0644, "zelsend", "-Fmail.qml", 255,
       bad + U8(u8"2] tls に指定できない値です: 9\n")},
      {"zelsend --sysexits", "account a\ntls 9\n", 0644, "zelsend", "--sysexits -Fmail.qml", 78,
       bad + U8(u8"2] tls に指定できない値です: 9\n")},
      {"zelsendmail", "account a\nsmtp_port 0\n", 0644, "zelsendmail", "-t", 78,
       bad + U8(u8"2] smtp_port に指定できない値です: 0\n")},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.fault);
    EXPECT_EQ(Run(r.text, r.mode, r.program, r.args), r.status);
    EXPECT_EQ(ReadAll(dir / "err"), r.err);
    EXPECT_EQ(ReadAll(dir / "out"), "");
  }
}

// True while a process whose command line holds `mark` runs.
bool Running(const std::string& mark) {
  for (const auto& entry : fs::directory_iterator("/proc")) {
    std::string line = ReadAll(entry.path() / "cmdline");
    for (char& c : line) {
      if (c == '\0') c = ' ';
    }
    if (line.find(mark) != std::string::npos && line.find("sh -c") == std::string::npos) return true;
  }
  return false;
}

// The trust table of local inputs: each file another user could have
// written, or that would hold the run, is refused (exit 78) within the
// time-out; the sentinel stays as it was, no command of the refused file
// runs, and no child of a command is left behind.
TEST_F(AccountsFileTest, TrustTableOfLocalInputs) {
  if (::geteuid() != 0) GTEST_SKIP() << "the cells give files to another user: root only";
  constexpr uid_t kOther = 65534;  // nobody
  const fs::path accounts = dir / "accounts";
  const fs::path secret = dir / "pw";
  const fs::path sentinel = dir / "sentinel";
  const fs::path ran = dir / "ran";
  const std::string runnable = "account a\npop3_host 127.0.0.1:1\nuser u\nlist_file l\nmail_folder m\ntimeout 2\n";
  const std::string evaluating = runnable + "passwordeval touch '" + ran.string() + "'; echo pw\n";
  const std::string fromFile = runnable + "passwordfile " + secret.string() + "\n";
  const auto write = [](const fs::path& path, const std::string& text, mode_t mode) {
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), mode);
  };
  const struct {
    const char* cell;
    std::function<void()> prepare;
    std::string config;  // the --config path
    std::string err;     // a part of the message
  } cells[] = {
      {"accounts file: another user's", [&] {
         write(accounts, evaluating, 0600);
         ::chown(accounts.c_str(), kOther, kOther);
       }, accounts.string(), U8(u8"他のユーザのファイルです。自分のものにしてください (chown $USER ")},
      {"accounts file: group-writable", [&] { write(accounts, evaluating, 0620); }, accounts.string(),
       U8(u8"グループか他のユーザが書き込めます。グループと他のユーザの書き込みを禁止してください (chmod go-w ")},
      {"accounts file: a link to another user's file", [&] {
         write(sentinel, evaluating, 0600);
         ::chown(sentinel.c_str(), kOther, kOther);
         fs::create_symlink(sentinel, accounts);
       }, accounts.string(), U8(u8"他のユーザのファイルです")},
      {"accounts file: a FIFO", [&] { ::mkfifo(accounts.c_str(), 0600); }, accounts.string(),
       U8(u8"通常のファイルではありません")},
      {"accounts file: in a folder others may write", [&] {
         fs::create_directories(dir / "open");
         ::chmod((dir / "open").c_str(), 0777);
         write(dir / "open" / "accounts", evaluating, 0600);
       }, (dir / "open" / "accounts").string(), U8(u8"にグループか他のユーザが書き込めます")},
      {"password file: another user's", [&] {
         write(accounts, fromFile, 0600);
         write(secret, "pw\n", 0600);
         ::chown(secret.c_str(), kOther, kOther);
       }, accounts.string(), U8(u8"err: パスワードファイルを使いません [") + secret.string() + U8(u8"] 他のユーザのファイルです")},
      {"password file: world-writable", [&] {
         write(accounts, fromFile, 0600);
         write(secret, "pw\n", 0602);
       }, accounts.string(), U8(u8"グループか他のユーザが書き込めます")},
      {"password file: a link to another user's file", [&] {
         write(accounts, fromFile, 0600);
         write(sentinel, "pw\n", 0600);
         ::chown(sentinel.c_str(), kOther, kOther);
         fs::create_symlink(sentinel, secret);
       }, accounts.string(), U8(u8"他のユーザのファイルです")},
      {"password file: a FIFO", [&] {
         write(accounts, fromFile, 0600);
         ::mkfifo(secret.c_str(), 0600);
       }, accounts.string(), U8(u8"通常のファイルではありません")},
      {"passwordeval: never ends, its child holds the pipe", [&] {
         write(accounts, runnable + "passwordeval sleep 987655 & sleep 987656\n", 0600);
       }, accounts.string(), U8(u8"err: パスワードのコマンドが 2 秒で終わりません [")},
  };
  for (const auto& c : cells) {
    SCOPED_TRACE(c.cell);
    for (const fs::path& path : {accounts, secret, sentinel, ran, dir / "open"}) fs::remove_all(path);
    c.prepare();
    const std::string before = ReadAll(sentinel);
    const auto start = std::chrono::steady_clock::now();
    const std::string command = "cd '" + dir.string() + "' && LC_ALL=C.UTF-8 XDG_CONFIG_HOME='" + dir.string() +
                                "' '" ZEL_BINARY_DIR "/zelrecv' --config '" + c.config +
                                "' < /dev/null > out 2> err";
    const int status = (std::system(command.c_str()) >> 8) & 0xFF;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(status, 78);
    EXPECT_NE(ReadAll(dir / "err").find(c.err), std::string::npos) << ReadAll(dir / "err");
    EXPECT_EQ(ReadAll(dir / "out"), "");
    EXPECT_EQ(ReadAll(sentinel), before);
    EXPECT_FALSE(fs::exists(ran));
    EXPECT_FALSE(Running("98765")) << "a child of the command was left behind";
  }
}

// A password command's first line is the password; what it prints after
// that (as "pass show" does) is not read.
TEST_F(AccountsFileTest, PasswordCommandGivesItsFirstLineOnly) {
  char password[kSecretSize];
  PasswordSources sources{};
  const std::string lines = "printf 'pw\\r\\nlogin: taro\\nurl: x\\n'";
  sources.command = lines;
  sources.origin = "accounts:3";
  EXPECT_EQ(PasswordFromSources(sources, password, sizeof password), "");
  EXPECT_STREQ(password, "pw");
  // A token of 16 KB is taken whole; one byte more is refused, not cut.
  const std::string token(kSecretMax, 't');
  const std::string whole = "printf '%s\\n' " + token;
  sources.command = whole;
  EXPECT_EQ(PasswordFromSources(sources, password, sizeof password), "");
  EXPECT_EQ(std::string(password), token);
  const std::string longer = "printf '%s\\n' " + token + "t";
  sources.command = longer;
  EXPECT_NE(PasswordFromSources(sources, password, sizeof password), "");
  EXPECT_STREQ(password, "");
}

// Defaults go to the accounts after them; the command line wins over the
// account; "~/" is the home folder; the account "default", else the only
// one, is taken without --account.
TEST_F(AccountsFileTest, AccountFillsWhatTheCommandLineLeavesOpen) {
  AccountsFile file;
  file.path = "accounts";
  ASSERT_EQ(ParseAccounts("defaults\ntls on\npop3_port 995\naccount one\npop3_host pop.example.jp\n"
                          "user taro\nlist_file ~/recv.lst\ndelivery mbox ~/mbox\ntls 2\n"
                          "protocol imap\nimap_folder Archive\n"
                          "account default\npop3_host ::1\ndelete on\n",
                          file),
            "");
  const char* const argv[] = {"zelrecv", "-Uhanako", "--account", "one"};
  RecvFields fields;
  std::string option;
  ASSERT_EQ(ParseRecvArguments(4, argv, fields, option), RecvParse::kOk);
  ASSERT_EQ(ApplyRecvAccount(file, *file.Find("one"), fields), "");
  const std::string home = std::getenv("HOME");
  EXPECT_STREQ(fields.pop3Server, "pop.example.jp:995");
  EXPECT_STREQ(fields.userName, "hanako");
  EXPECT_EQ(std::string(fields.listFile), home + "/recv.lst");
  EXPECT_EQ(fields.tls, 2);
  EXPECT_EQ(fields.deliveryOption, "MBOX");
  EXPECT_EQ(fields.deliveryTarget, home + "/mbox");
  EXPECT_FALSE(fields.dele);
  EXPECT_TRUE(fields.imap);
  EXPECT_STREQ(fields.imapFolder, "Archive");

  std::vector<const Account*> chosen;
  ASSERT_EQ(SelectAccounts(file, LongOptions{}, chosen), "");
  ASSERT_EQ(chosen.size(), 1u);
  EXPECT_EQ(chosen[0]->name, "default");
  EXPECT_EQ(chosen[0]->tls.value, "1");
  EXPECT_EQ(AccountServer(chosen[0]->pop3Host, chosen[0]->pop3Port), "[::1]:995");
  file.accounts.pop_back();
  ASSERT_EQ(SelectAccounts(file, LongOptions{}, chosen), "");
  EXPECT_EQ(chosen[0]->name, "one");
  // The example of the source tree is a file the programs take.
  std::ifstream example(ZEL_SOURCE_DIR "/examples/accounts", std::ios::binary);
  AccountsFile parsed;
  EXPECT_EQ(ParseAccounts(std::string(std::istreambuf_iterator<char>(example), {}), parsed), "");
  EXPECT_EQ(parsed.accounts.size(), 3u);
  EXPECT_EQ(parsed.Find("work")->tls.value, "2");
  // Several, none named "default": none.
  file.accounts.push_back(Account{});
  file.accounts.back().name = "two";
  EXPECT_EQ(SelectAccounts(file, LongOptions{}, chosen), "");
  EXPECT_TRUE(chosen.empty());
}

}  // namespace
}  // namespace zel::sender

#endif  // _WIN32
