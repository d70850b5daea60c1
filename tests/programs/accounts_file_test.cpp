// The accounts file: each fault a user can make in it, with the exit
// status and the message naming the file and line, through the programs
// themselves; and how an account fills a command line. The cases run the
// programs through a POSIX shell and read a POSIX home folder, so the
// Windows build leaves them out.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "programs/accounts_file.h"
#include "programs/console_text.h"
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
