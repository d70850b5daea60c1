// zelsend and zelrecv run as processes: messages, exit codes, echo and
// library binding. Messages come out in the locale's character set (UTF-8
// here).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exitCode;
  std::string out;
  std::string err;
};

#ifndef _WIN32
std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
#endif

std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

class ProgramProcess : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    // The build folder is a POSIX path and the console speaks CP932 here:
    // the program is run by these cases on the native build only.
    GTEST_SKIP() << "zelsend process cases run on the native build";
#endif
  }
  ProgramProcess() {
    dir = fs::temp_directory_path() /
          ("zelsend_proc_" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  ~ProgramProcess() override {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }

  // Runs `program` with `args` (shell words) in a UTF-8 locale; standard
  // input is no terminal, so no program waits for a typed password.
  Outcome Run(const std::string& args, const std::string& program = ZEL_BINARY_DIR "/zelsend") {
#ifdef _WIN32
    (void)args;
    (void)program;
    return {-1, "", ""};
#else
    // No accounts file of the user's reaches the run.
    const std::string command = "cd '" + dir.string() + "' && LC_ALL=C.UTF-8 XDG_CONFIG_HOME=. '" + program + "' " +
                                args + " < /dev/null > out 2> err";
    const int status = std::system(command.c_str());
    const int code = (status >> 8) & 0xFF;
    return {code, ReadAll(dir / "out"), ReadAll(dir / "err")};
#endif
  }

  fs::path dir;
};

const char kUsageStart[] = "Usage: zelsend $Id$\n  -S: ";

TEST_F(ProgramProcess, NoArgumentsAsksForTheSmtpServer) {
  const Outcome o = Run("");
  EXPECT_EQ(o.exitCode, 255);
  EXPECT_EQ(o.err, U8(u8"err: SMTPサーバ名が指定されていません\n"));
  EXPECT_EQ(o.out, "");
}

TEST_F(ProgramProcess, UnknownOptionPrintsTheUsageBeforeAnyCheck) {
  for (const char* args : {"-X", "-Ssmtp -BX", "/q"}) {
    const Outcome o = Run(args);
    EXPECT_EQ(o.exitCode, 255) << args;
    EXPECT_EQ(o.err.rfind(kUsageStart, 0), 0u) << o.err;
    EXPECT_NE(o.err.find(U8(u8" POP3 Befoer SMTP を利用する時\n")), std::string::npos);
    EXPECT_NE(o.err.find(U8(u8"例.\nzelsend -S")), std::string::npos);
  }
}

TEST_F(ProgramProcess, MandatoryFieldsAndPop3Account) {
  EXPECT_EQ(Run("-Ss").err, U8(u8"err: メールアドレスが指定されていません\n"));
  EXPECT_EQ(Run("-Ss -Mm").err, U8(u8"err: フルネームが指定されていません\n"));
  // A bare send file name is no -F option.
  EXPECT_EQ(Run("-Ss -Mm -Nn mail.qml").err, U8(u8"err: ファイル名が指定されていません\n"));
  const Outcome o = Run("-Ss -Mm -Nn -Ff -BSpop -BUuser");
  EXPECT_EQ(o.exitCode, 255);
  EXPECT_EQ(o.err, U8(u8"err: POP3サーバのユーザ名／パスワードが指定されていません\n"));
}

TEST_F(ProgramProcess, EchoHidesThePasswordAndFailureShowsTheLibraryText) {
  std::ofstream(dir / "mail.qml") << "To: a@example.jp\n\nbody\n";
  const Outcome o = Run(U8(u8"-S127.0.0.1:1 -Mtaro@example.jp -N山田 -Fmail.qml -BUu -BPsecret"));
  EXPECT_EQ(o.exitCode, 255);
  EXPECT_EQ(o.out, U8(u8"SMTPName: 127.0.0.1:1\n"
                      "Mailaddr: taro@example.jp\n"
                      "Fullname: 山田\n"
                      "Filename: mail.qml\n"
                      "POP3Name: pop3server\n"
                      "Username: username\n"
                      "Password: ********\n"));
  // The classic line, then the reason.
  EXPECT_EQ(o.err, U8(u8"err: SMTP初期化でエラー発生 [127.0.0.1:1]\n"
                      "詳細: 接続を拒否された [127.0.0.1:1]\n"));
}

TEST_F(ProgramProcess, MissingSendFileIsTheLibraryError) {
  const Outcome o = Run("-S127.0.0.1:1 -Mtaro@example.jp -Nn -Fnothere.qml");
  EXPECT_EQ(o.exitCode, 255);
  EXPECT_EQ(o.err, U8(u8"err: 送信ファイルが開けない [nothere.qml]\n"
                      "詳細: 送信ファイルが開けない [nothere.qml]: No such file or directory\n"));
}

// The long options: --help lists every option, --version names program and
// library, --sysexits turns zelsend's 255 into the status of the failure's
// kind, and a long option zelsend does not take is a usage error.
TEST_F(ProgramProcess, LongOptionsOfZelsend) {
  std::ofstream(dir / "mail.qml") << "To: a@example.jp\n\nbody\n";
  const std::string send = "-S127.0.0.1:1 -Mtaro@example.jp -Nn -Fmail.qml ";
  const struct {
    std::string args;
    int exitCode;
    std::string outStart;  // the beginning of standard output, or of standard error
    bool onOut;
  } cases[] = {
      {"--version", 0, "zelsend 1.", true},
      {send + "--timeout 3", 255, U8(u8"err: SMTP初期化でエラー発生"), false},
      {send + "--timeout=3 --sysexits", 69, U8(u8"err: SMTP初期化でエラー発生"), false},
      {send + "--sysexits -Fnothere.qml", 74, U8(u8"err: 送信ファイルが開けない"), false},
      {"--sysexits -Mm", 64, U8(u8"err: SMTPサーバ名が指定されていません"), false},
      {send + "--timeout x", 255, "Usage: zelsend $Id$", false},
      {send + "--popauth 1", 255, "Usage: zelsend $Id$", false},
  };
  for (const auto& c : cases) {
    const Outcome o = Run(c.args);
    EXPECT_EQ(o.exitCode, c.exitCode) << c.args;
    EXPECT_EQ((c.onOut ? o.out : o.err).rfind(c.outStart, 0), 0u) << c.args << ": " << o.out << o.err;
  }
  const Outcome help = Run("--help");
  EXPECT_EQ(help.exitCode, 0);
  for (const char* option : {"-S", "-M", "-N", "-F", "-BS", "-BU", "-BP", "-BF", "-BE", "-T", "-C", "-A",
                             "--smtpauth", "--timeout", "--sysexits", "--version", "--help"}) {
    EXPECT_NE(help.out.find(std::string("  ") + option), std::string::npos) << option;
  }
}

#ifndef _WIN32
// Both programs refuse to run without a library, and with one that lacks
// an export: zelsend with its classic line, zelrecv with a line end.
TEST_F(ProgramProcess, LibraryMissingOrIncomplete) {
  fs::copy_file(ZEL_BINARY_DIR "/zelsend", dir / "zelsend");
  fs::copy_file(ZEL_BINARY_DIR "/zelrecv", dir / "zelrecv");
  setenv("ZEL_PROCESS_PW", "pw", 1);
  for (const bool partial : {false, true}) {
    SCOPED_TRACE(partial ? "library without all functions" : "no library");
    if (partial)
      fs::copy_file(ZEL_PARTIAL_LIBRARY_DIR "/libzelpost.so", dir / "libzelpost.so");
    const Outcome o = Run("-Ss -Mm -Nn -Ff", (dir / "zelsend").string());
    EXPECT_EQ(o.exitCode, 255);
    EXPECT_EQ(o.err, U8(u8"err: libzelpost.so がロードできません"));
    const Outcome r = Run("-Ss -Uu -Ll -Mm -EZEL_PROCESS_PW", (dir / "zelrecv").string());
    EXPECT_EQ(r.exitCode, 69);
    EXPECT_EQ(r.err, U8(u8"err: libzelpost.so がロードできません\n"));
  }
}

// zelrecv: the usage on standard output with -H (exit 0), every fault of
// the command line with exit 64 before the server is contacted, a failed
// run with its sysexits status and nothing on standard output.
TEST_F(ProgramProcess, ZelrecvCommandLineAndExitStatus) {
  const std::string zelrecv = ZEL_BINARY_DIR "/zelrecv";
  const Outcome help = Run("-h", zelrecv);
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Usage: zelrecv -S", 0), 0u) << help.out;
  EXPECT_NE(help.out.find(U8(u8"Ctrl-C で受信を中断します")), std::string::npos);
  EXPECT_EQ(help.err, "");

  setenv("ZEL_PROCESS_PW", "pw", 1);
  unsetenv("ZEL_PROCESS_UNSET");
  const std::string account = "-Ss -Uu -Ll -Mm";
  const struct {
    std::string args;
    std::string err;  // its beginning
  } faults[] = {
      // Usage errors name the problem, then point at --help (the rest of
      // an unknown letter may be a password: only the letter is shown).
      {"-X", U8(u8"err: 不明なオプション: -X\n使い方は zelrecv --help で表示されます\n")},
      {"-P" + std::string("secret"), U8(u8"err: 不明なオプション: -P\n")},
      {"--bogus", U8(u8"err: 不明なオプション: --bogus\n")},
      {"--maildir a --mbox b", U8(u8"err: --maildir と --mbox は同時に指定できません\n")},
      {"-E NOPE", U8(u8"err: -E の値がありません\n")},
      {"-T7", U8(u8"err: -T の値が正しくありません: 7\n")},
      {"-Dx", U8(u8"err: -D は値を取りません\n")},
      {"--kill-size", U8(u8"err: --kill-size の値がありません\n")},
      {"--sysexits", U8(u8"err: 不明なオプション: --sysexits\n")},
      {"", U8(u8"err: POP3サーバ名が指定されていません\n")},
      {"-Ss -Uu -Mm", U8(u8"err: リストファイル名が指定されていません\n")},
      {"-S" + std::string(300, 'h'), U8(u8"err: オプションの値が長すぎます [-S]\n")},
      {account + " --timeout", U8(u8"err: --timeout の値がありません\n")},
      {account + " --popauth 3", U8(u8"err: --popauth の値が正しくありません: 3\n")},
      {account, U8(u8"err: パスワードが指定されていません (-F、-E または端末から入力)\n")},
      {account + " -Fnothere", U8(u8"err: パスワードファイルが読めません [nothere]\n")},
      {account + " -EZEL_PROCESS_UNSET",
       U8(u8"err: 環境変数が設定されていません [ZEL_PROCESS_UNSET]\n")},
  };
  for (const auto& fault : faults) {
    const Outcome o = Run(fault.args, zelrecv);
    EXPECT_EQ(o.exitCode, 64) << fault.args;
    EXPECT_EQ(o.err.rfind(fault.err, 0), 0u) << fault.args << ": " << o.err;
    EXPECT_EQ(o.out, "") << fault.args;
  }

  // Nothing listens on port 1: the login fails, which the library reports
  // without an error text but with its reason; -V shows the settings,
  // never the password.
  const Outcome failed =
      Run("-S127.0.0.1:1 -Ualice -Llist -Mmail -D -T0 -V -EZEL_PROCESS_PW --timeout 5", zelrecv);
  EXPECT_EQ(failed.exitCode, 69);
  EXPECT_EQ(failed.out, "");
  EXPECT_EQ(failed.err,
            "POP3Name: 127.0.0.1:1\nUsername: alice\nPassword: ********\nListFile: list\n"
            "MailFolder: mail\nDELE: 1\nTLS: 0\n" +
                U8(u8"err: POP3サーバへのログインまたはメール一覧の取得に失敗 [127.0.0.1:1]\n"
                   "詳細: 接続を拒否された [127.0.0.1:1]\n"));
  EXPECT_FALSE(fs::exists(dir / "list"));
}

// A lying-server row through the program: a name whose eight addresses
// never answer (a private hosts file in a mount namespace of its own, full
// listen queues on 127.0.0.2 to .9) ends within one time-out, not eight.
TEST_F(ProgramProcess, ZelrecvEightUnansweredAddressesShareOneTimeout) {
  if (std::system("unshare -rm true > /dev/null 2>&1") != 0) GTEST_SKIP() << "no mount namespace here";
  std::vector<zel::SocketHandle> sockets;
  std::string hosts = "127.0.0.1 localhost\n";
  int port = 0;
  for (int i = 2; i <= 9; ++i) {
    const std::string text = "127.0.0." + std::to_string(i);
    zel::IpAddress address;
    ASSERT_TRUE(zel::ParseIpAddress(text.c_str(), &address));
    const zel::SocketHandle listener = zel::SocketListenAt(address, &port, 0);
    ASSERT_NE(listener, zel::kNoSocket);
    const zel::SocketHandle filler = zel::SocketCreateTcp();
    ASSERT_EQ(zel::SocketConnect(filler, address, port, zel::SocketDeadlineAfter(5)), zel::SocketStatus::kOk);
    sockets.insert(sockets.end(), {listener, filler});
    hosts += text + " slow.zelpost.test\n";
  }
  std::ofstream(dir / "hosts") << hosts;
  setenv("ZEL_PROCESS_PW", "pw", 1);
  const std::string server = "slow.zelpost.test:" + std::to_string(port);
  const auto start = std::chrono::steady_clock::now();
  const std::string command = "cd '" + dir.string() + "' && LC_ALL=C.UTF-8 XDG_CONFIG_HOME=. unshare -rm sh -c "
                              "'mount --bind hosts /etc/hosts && exec " ZEL_BINARY_DIR "/zelrecv -S" + server +
                              " -Ualice -Llist -Mmail -EZEL_PROCESS_PW --timeout 2' < /dev/null > out 2> err";
  const int status = std::system(command.c_str());
  const Outcome o{(status >> 8) & 0xFF, ReadAll(dir / "out"), ReadAll(dir / "err")};
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(o.exitCode, 75) << o.err;
  EXPECT_GE(took, std::chrono::milliseconds(1900));
  EXPECT_LT(took, std::chrono::milliseconds(4500));
  EXPECT_NE(o.err.find(U8(u8"接続できない [") + server + "]: 127.0.0.2:"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("127.0.0.9:" + std::to_string(port) + U8(u8" 2秒でタイムアウト")), std::string::npos) << o.err;
  EXPECT_FALSE(fs::exists(dir / "list"));
  for (const zel::SocketHandle s : sockets) zel::SocketClose(s);
}
#endif

}  // namespace
