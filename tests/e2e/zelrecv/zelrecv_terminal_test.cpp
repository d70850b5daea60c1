// zelrecv on a terminal: a tmux session runs it against the real Dovecot;
// the test types into it (send-keys) and reads the screen (capture-pane).
// Its failures, with their exit statuses and reasons, run it plainly.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "../recv_all/cut_proxy.h"
#include "../servers.h"
#include "platform/socket.h"

namespace zel::e2e {
namespace {

std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// Output of the shell command `command`.
std::string Output(const std::string& command) {
  std::string out;
  if (std::FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

// A tmux server of its own with one 80 x 24 pane that runs `command`, then
// shows "[exit N]" with its exit status and stays. Each instance has its
// own socket: a killed server may still hold the previous one for a moment.
class Tmux {
 public:
  explicit Tmux(const std::string& command)
      : tmux_("LC_ALL=C.UTF-8 tmux -u -L zelrecv-test-" + std::to_string(getpid()) + "-" +
              std::to_string(++instances_) + " ") {
    const std::string shell = command + "; echo \"[exit $?]\"; sleep 600";
    std::system((tmux_ + "new-session -d -x 80 -y 24 '" + shell + "'").c_str());
  }
  ~Tmux() { std::system((tmux_ + "kill-server 2>/dev/null").c_str()); }

  std::string Screen() const { return Output(tmux_ + "capture-pane -p"); }
  void Keys(const std::string& keys) const {
    std::system((tmux_ + "send-keys " + keys).c_str());
  }
  // Waits up to `ms` until the screen matches `pattern`; returns the screen.
  std::string WaitFor(const std::string& pattern, int ms = 20000) const {
    const std::regex wanted(pattern);
    std::string screen;
    for (int waited = 0; waited < ms; waited += 10) {
      screen = Screen();
      if (std::regex_search(screen, wanted)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return screen;
  }
  // The exit status the screen shows once the program has ended, or -1.
  int ExitStatus(int ms = 20000) const {
    std::smatch status;
    const std::string screen = WaitFor(R"(\[exit \d+\])", ms);
    std::regex_search(screen, status, std::regex(R"(\[exit (\d+)\])"));
    return status.empty() ? -1 : std::stoi(status[1]);
  }

 private:
  static inline int instances_ = 0;
  std::string tmux_;
};

class ZelrecvTerminal : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(HasServers());
    ClearMaildir("alice");
    WriteFileBytes(dir.File("password"), TestServers().Password("alice") + "\n");
    std::filesystem::create_directory(dir.File("mail"));
  }
  void TearDown() override { ClearMaildir("alice"); }

  // Drops `count` messages of about `bodyBytes`, each with a Japanese
  // subject wider than the terminal: in ISO-2022-JP, and in every second
  // message in UTF-8 words folded over three lines.
  static void Drop(int count, std::size_t bodyBytes) {
    std::string body;
    while (body.size() < bodyBytes) body += "line of the body, long enough to fill some space.\r\n";
    for (int i = 1; i <= count; ++i) {
      const std::string header =
          i % 2 == 1 ? "From: =?ISO-2022-JP?B?GyRCOzNFRDJWO1IbKEI=?= <hanako@example.jp>\r\n"
                       "To: alice@localhost\r\nSubject: =?ISO-2022-JP?B?GyRCJCo4K0BRJGIkaiRON28kSyREJC"
                       "QkRkQ5JCQ3b0w+JCxDPEt2JE5JfSRyRDYkKCRrJEgkLSROST08KCRyM04kKyRhJGskPyRhJE4lRiU5"
                       "JUgkRyQ5GyhC?=\r\n"
                     : "From: =?utf-8?b?5bGx55Sw6Iqx5a2Q?= <hanako@example.jp>\r\n"
                       "To: alice@localhost\r\nSubject: =?utf-8?b?44GK6KaL56mN44KC44KK44Gu5Lu244Gr44Gk44GE44Gm6ZW344GE5Lu2?=\r\n"
                       " =?utf-8?b?5ZCN44GM56uv5pyr44Gu5bmF44KS6LaF44GI44KL44Go44GN44Gu6KGo56S644KS?=\r\n"
                       " =?utf-8?b?56K644GL44KB44KL44Gf44KB44Gu44OG44K544OI44Gn44GZ?=\r\n";
      DropMessage("alice", header + "Message-Id: <m" + std::to_string(i) + "@zelrecv.test>\r\n\r\n" + body);
    }
  }

  // The zelrecv command line for alice with `options`, in a UTF-8 locale
  // and with the profile and log in the test's folder; `wrapper` runs it.
  std::string Command(const std::string& options, const std::string& wrapper = "") const {
    return "cd " + dir.path() + " && LC_ALL=C.UTF-8 XDG_CONFIG_HOME=" + dir.path() +
           " XDG_STATE_HOME=" + dir.path() + " " + wrapper + ZEL_BINARY_DIR "/zelrecv -S" +
           TestServers().Pop3Server() + " -Ualice -Llist -Mmail " + options;
  }

  TempDir dir;
};

// The live line: one line, redrawn in place, cut to the terminal's width,
// that ends at "1000 / 1000"; the run stores and deletes every message.
TEST_F(ZelrecvTerminal, LiveLineReachesTheTotal) {
  Drop(1000, 2000);
  const Tmux tmux(Command("-D -F" + dir.File("password")));
  EXPECT_EQ(tmux.ExitStatus(), 0) << tmux.Screen();
  const std::string screen = tmux.Screen();
  EXPECT_EQ(screen.substr(0, screen.find("]\n") + 2),
            U8(u8"1000 / 1000  お見積もりの件について長い件名が端末の幅を超えるときの表示を確かめ\n"
               "[exit 0]\n"));
  EXPECT_TRUE(WaitForMessageCount("alice", 0));
}

// --idle over IMAP: a message delivered while it waits appears within two
// seconds; the connection cut under it (the relay drops it, as a server
// restart does), it connects again and the next message still comes;
// Ctrl-C ends it with status 130.
TEST_F(ZelrecvTerminal, IdleReceivesEachMessageAndReconnects) {
  CutProxy relay(TestServers().pop3Host, TestServers().imapPort, CutProxy::Protocol::kImap);
  const std::string command = "cd " + dir.path() + " && LC_ALL=C.UTF-8 XDG_CONFIG_HOME=" + dir.path() +
                              " XDG_STATE_HOME=" + dir.path() + " " ZEL_BINARY_DIR "/zelrecv -S" +
                              relay.address() + " -Ualice -Llist -Mmail -Kseen --imap --idle -F" +
                              dir.File("password");
  Drop(1, 100);
  const Tmux tmux(command);
  ASSERT_TRUE(std::regex_search(tmux.WaitFor(R"(1 / +1 )"), std::regex(R"(1 / +1 )"))) << tmux.Screen();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // waiting in IDLE now
  for (const char* id : {"idle-a", "idle-b"}) {
    SCOPED_TRACE(id);
    DropMessage("alice", std::string("Message-Id: <") + id + "@zelrecv.test>\r\nSubject: " + id +
                             "\r\n\r\nbody\r\n");
    const auto dropped = std::chrono::steady_clock::now();
    const std::string screen = tmux.WaitFor(id, 5000);
    EXPECT_NE(screen.find(id), std::string::npos) << screen;
    EXPECT_LT(std::chrono::steady_clock::now() - dropped, std::chrono::seconds(2));
    // The server goes away under the waiting check; zelrecv says so and
    // connects again after its pause.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    relay.DropConnection();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  }
  EXPECT_NE(tmux.Screen().find("err: "), std::string::npos) << tmux.Screen();
  tmux.Keys("C-c");
  EXPECT_EQ(tmux.ExitStatus(5000), 130) << tmux.Screen();
  EXPECT_NE(tmux.Screen().find(U8(u8"err: 受信待ちを中断しました\n[exit 130]")), std::string::npos)
      << tmux.Screen();
  EXPECT_EQ(ListMaildir("alice").size(), 3u);  // kept on the server
}

// Ctrl-C during a large run with DELE: Cancel is pressed, the run ends at
// once with the cancelled result and the server keeps every message.
TEST_F(ZelrecvTerminal, CtrlCCancelsAndDeletesNothing) {
  constexpr int kMessages = 3000;
  Drop(kMessages, 10000);
  const Tmux tmux(Command("-D -F" + dir.File("password")));
  const std::string running = tmux.WaitFor(R"(\d+ / 3000)");
  ASSERT_NE(running.find(" / 3000"), std::string::npos) << running;
  tmux.Keys("C-c");
  const auto pressed = std::chrono::steady_clock::now();
  EXPECT_EQ(tmux.ExitStatus(), 130) << tmux.Screen();
  EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(3));
  const std::string screen = tmux.Screen();
  EXPECT_NE(screen.find(U8(u8"\nerr: 受信を中断しました\n[exit 130]")), std::string::npos)
      << screen;
  EXPECT_EQ(screen.find("3000 / 3000"), std::string::npos) << screen;
  EXPECT_EQ(ListMaildir("alice").size(), static_cast<std::size_t>(kMessages));
}

// A wrong password typed on the terminal: not shown, and the run fails with
// exit status 77 (permission refused) and the server's reply.
TEST_F(ZelrecvTerminal, WrongPasswordTypedWithoutEcho) {
  Drop(1, 100);
  const Tmux tmux(Command(""));
  tmux.WaitFor(U8(u8"POP3パスワード:"));
  tmux.Keys("wrong-secret Enter");
  EXPECT_EQ(tmux.ExitStatus(), 77);
  const std::string screen = tmux.Screen();
  EXPECT_EQ(screen.find("wrong-secret"), std::string::npos) << screen;
  EXPECT_NE(screen.find(U8(u8"err: POP3サーバへのログインまたはメール一覧の取得に失敗 [")),
            std::string::npos)
      << screen;
  EXPECT_EQ(ListMaildir("alice").size(), 1u);
}

// Over implicit TLS: a certificate the -C file does not trust fails with
// the library's error text; the right CA receives the message, and with
// standard output no terminal it prints one plain line for it.
TEST_F(ZelrecvTerminal, TlsErrorTextAndPlainLines) {
  Drop(2, 100);
  const std::string server = "127.0.0.1:" + std::to_string(TestServers().pop3sPort);
  const std::string tls = " -T1 -S" + server + " -F" + dir.File("password") + " -C";
  const std::string output = " > out 2> err; echo $?";
  EXPECT_EQ(Output(Command(tls + TestServers().otherCaFile) + output), "69\n");
  EXPECT_EQ(ReadFileBytes(dir.File("err")).rfind(U8(u8"err: サーバ証明書が信頼できない [") + server +
                                                     U8(u8"]\n詳細: サーバ証明書が信頼できない [") + server + "]: ",
                                                 0),
            0u);
  EXPECT_EQ(Output(Command(tls + TestServers().caFile) + output), "0\n");
  const std::string line = U8(u8"\tお見積もりの件について長い件名が端末の幅を超えるときの表示を"
                              u8"確かめるためのテストです\t山田花子 <hanako@example.jp>\n");
  EXPECT_EQ(ReadFileBytes(dir.File("out")), "1" + line + "2" + line);
  EXPECT_EQ(ReadFileBytes(dir.File("err")), "");
}

// A POP3 server that greets and then never answers: each connection gets
// "+OK" and silence, until the object goes.
class SilentServer {
 public:
  SilentServer() : listener_(SocketListenLoopback(&port)) {
    thread_ = std::thread([this] {
      std::vector<SocketHandle> peers;
      for (SocketHandle peer; (peer = SocketAccept(listener_)) != kNoSocket;) {
        SocketSendAll(peer, "+OK hello\r\n", 11, kNoDeadline);
        peers.push_back(peer);
      }
      for (const SocketHandle peer : peers) SocketClose(peer);
    });
  }
  ~SilentServer() {
    SocketShutdown(listener_);
    thread_.join();
    SocketClose(listener_);
  }
  int port = 0;

 private:
  SocketHandle listener_;
  std::thread thread_;
};

// Why a run failed: the exit status of the failure's kind, the classic
// line, and the reason after it, for each fault a user meets.
TEST_F(ZelrecvTerminal, EachFailureHasItsExitStatusAndReason) {
  const e2e::Servers& s = TestServers();
  WriteFileBytes(dir.File("wrong"), "wrong-password\n");
  int closedPort = 0;
  SocketClose(SocketListenLoopback(&closedPort));  // nothing listens there any more
  const SilentServer silent;
  const std::string login = U8(u8"err: POP3サーバへのログインまたはメール一覧の取得に失敗 [");
  const std::string pop3s = "127.0.0.1:" + std::to_string(s.pop3sPort);
  const std::string closed = "127.0.0.1:" + std::to_string(closedPort);
  const std::string mute = "127.0.0.1:" + std::to_string(silent.port);
  const struct {
    const char* fault;
    std::string options;
    int status;
    std::string classic;  // the first line of standard error
    std::string reason;   // the beginning of the second
    int maxSeconds;
  } rows[] = {
      {"wrong password", "-F" + dir.File("wrong"), 77, login + s.Pop3Server() + "]",
       "-ERR [AUTH] Authentication failed.", 10},
      {"connection refused", "-S" + closed + " -Fpassword", 69, login + closed + "]",
       U8(u8"接続を拒否された [") + closed + "]", 10},
      {"unknown host", "-Snosuchhost.invalid -Fpassword", 68, login + "nosuchhost.invalid]",
       U8(u8"ホスト名が見つからない [nosuchhost.invalid]"), 30},
      {"time-out", "-S" + mute + " -Fpassword --timeout 1", 75, login + mute + "]",
       U8(u8"1秒待ってもサーバが応答しない [") + mute + "]", 5},
      {"untrusted certificate", "-S" + pop3s + " -T1 -C" + s.otherCaFile + " -Fpassword", 69,
       U8(u8"err: サーバ証明書が信頼できない [") + pop3s + "]",
       U8(u8"サーバ証明書が信頼できない [") + pop3s + "]: ", 10},
      {"STARTTLS against the implicit-TLS port", "-S" + pop3s + " -T2 -C" + s.caFile + " -Fpassword --timeout 2",
       75, login + pop3s + "]",
       U8(u8"2秒待ってもサーバが応答しない (TLSで始まるポートかもしれない) [") + pop3s + "]", 6},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.fault);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Output(Command(r.options) + " > out 2> err; echo $?"), std::to_string(r.status) + "\n");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(r.maxSeconds));
    const std::string err = ReadFileBytes(dir.File("err"));
    const std::size_t end = err.find('\n');
    EXPECT_EQ(err.substr(0, end), r.classic);
    EXPECT_EQ(err.substr(end + 1).rfind(U8(u8"詳細: ") + r.reason, 0), 0u) << err;
    EXPECT_EQ(ReadFileBytes(dir.File("out")), "");
  }
}

// An accounts file with two accounts, plain POP3 and POP3S with the test
// CA, each password from a small script (passwordeval): --account runs one,
// --all both in turn; the same file, readable by others once it holds a
// password, is refused with its line.
TEST_F(ZelrecvTerminal, AccountsFileRunsOneAccountOrAll) {
  const Servers& s = TestServers();
  ClearMaildir("bob");
  const std::string script = dir.File("secret.sh");
  WriteFileBytes(script, "#!/bin/sh\ncase \"$1\" in alice) echo alicepw ;; bob) echo bobpw ;; esac\n");
  std::filesystem::permissions(script, std::filesystem::perms::owner_all);
  std::filesystem::create_directories(dir.File("zelpost"));
  const std::string accounts = dir.File("zelpost/accounts");
  const std::string text =
      "# two accounts\n"
      "defaults\n"
      "pop3_host 127.0.0.1\n"
      "list_file recv.lst\n"
      "mail_folder mail\n"
      "\n"
      "account plain\n"
      "pop3_port " + std::to_string(s.pop3Port) + "\n"
      "user alice\n"
      "passwordeval " + script + " alice\n"
      "seen_file seen-alice\n"
      "\n"
      "account secure\n"
      "pop3_port " + std::to_string(s.pop3sPort) + "\n"
      "tls 1\n"
      "tls_trust_file " + s.caFile + "\n"
      "user bob\n"
      "passwordeval " + script + " bob\n"
      "delivery maildir " + dir.File("Maildir") + "\n"
      "delete on\n";
  WriteFileBytes(accounts, text);
  const auto drop = [](const std::string& user, const std::string& subject) {
    DropMessage(user, "From: hanako@example.jp\r\nTo: " + user + "@localhost\r\nSubject: " + subject +
                          "\r\n\r\nbody\r\n");
  };
  const std::string zelrecv = "cd " + dir.path() + " && LC_ALL=C.UTF-8 XDG_CONFIG_HOME=" + dir.path() +
                              " XDG_STATE_HOME=" + dir.path() + " " ZEL_BINARY_DIR "/zelrecv ";

  drop("alice", "first for alice");
  {
    const Tmux tmux(zelrecv + "--account plain");
    EXPECT_EQ(tmux.ExitStatus(), 0) << tmux.Screen();
    EXPECT_NE(tmux.Screen().find("1 /   1  first for alice"), std::string::npos) << tmux.Screen();
  }
  EXPECT_EQ(ListMaildir("alice").size(), 1u);  // left on the server, recorded as seen
  EXPECT_EQ(std::filesystem::file_size(dir.File("seen-alice")), 80u);

  drop("alice", "second for alice");
  drop("bob", "one for bob");
  drop("bob", "two for bob");
  {
    const Tmux tmux(zelrecv + "--all");
    EXPECT_EQ(tmux.ExitStatus(), 0) << tmux.Screen();
    const std::string screen = tmux.Screen();
    EXPECT_NE(screen.find("1 /   1  second for alice"), std::string::npos) << screen;
    // The delivered run's line: its total (the count drawn last may be
    // 1 or 2, as the run's end overtakes the progress line or not; the
    // folder below tells what was delivered).
    EXPECT_NE(screen.find(" /   2"), std::string::npos) << screen;
  }
  EXPECT_EQ(ListMaildir("alice").size(), 2u);
  EXPECT_TRUE(WaitForMessageCount("bob", 0));  // delivered over TLS, then deleted
  std::size_t delivered = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.File("Maildir/new"))) {
    delivered += ReadFileBytes(entry.path().string()).find("Subject: ") != std::string::npos;
  }
  EXPECT_EQ(delivered, 2u);

  // A password in the file: only when the file is private to its owner.
  WriteFileBytes(accounts, text + "account inline\npop3_port " + std::to_string(s.pop3Port) +
                               "\nuser alice\nseen_file seen-alice\npassword alicepw\n");
  std::filesystem::permissions(accounts, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                             std::filesystem::perms::group_read | std::filesystem::perms::others_read);
  {
    const Tmux tmux(zelrecv + "--account inline");
    EXPECT_EQ(tmux.ExitStatus(), 78) << tmux.Screen();
    EXPECT_NE(tmux.Screen().find(U8(u8"err: アカウントファイルの誤り [") + accounts + ":25]"), std::string::npos)
        << tmux.Screen();
  }
  std::filesystem::permissions(accounts, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(Output(zelrecv + "--account inline --count; echo $?"), U8(u8"inline: 新着 0 件 / 全 2 件\n0\n"));
  ClearMaildir("bob");
}

}  // namespace
}  // namespace zel::e2e
