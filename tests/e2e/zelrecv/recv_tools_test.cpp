// The receiving tools against real mail and real servers: messages that
// s-nail, neomutt and mailutils' mail compose as their users send them,
// received from Dovecot (attachments saved byte for byte as the sender's
// files, a header-less UTF-8 body readable, mbox envelopes); usage errors;
// accounts (--all, passwords kept to their own server); TLS pinning and
// versions; a SOCKS5 proxy for POP3, IMAP and SMTP; the protocol trace;
// the filter and the kill size.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "../servers.h"
#include "codec/mail_file.h"
#include "ui/host_part_files.h"

namespace zel::e2e {
namespace {

std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return (status >> 8) & 0xFF;
}

// The zelrecv of the build with its environment: no terminal, no accounts
// file unless the folder holds one.
std::string ZelrecvIn(const TempDir& dir) {
  return "cd " + dir.path() + " && LC_ALL=C.UTF-8 XDG_CONFIG_HOME=" + dir.path() + " XDG_STATE_HOME=" +
         dir.path() + " " ZEL_BINARY_DIR "/zelrecv";
}

// Runs `command` in the background; its process id.
int Background(const TempDir& dir, const std::string& name, const std::string& command) {
  Shell(command + " & echo $! > " + dir.File(name + ".pid"));
  return std::atoi(ReadFileBytes(dir.File(name + ".pid")).c_str());
}

// A free TCP port of 127.0.0.1 (free when asked).
int FreePort(const TempDir& dir) {
  Shell("/usr/bin/python3 -c 'import socket;s=socket.socket();s.bind((\"127.0.0.1\",0));"
        "print(s.getsockname()[1])' > " + dir.File("free.port"));
  return std::atoi(ReadFileBytes(dir.File("free.port")).c_str());
}

// One of the helper servers of recv_tools_helpers.py, stopped with the object.
class Helper {
 public:
  Helper(const TempDir& dir, const std::string& name, const std::string& kind, const std::string& extra = "")
      : dir_(dir), name_(name) {
    pid_ = Background(dir, name,
                      "/usr/bin/python3 " ZEL_SOURCE_DIR "/tests/e2e/zelrecv/recv_tools_helpers.py " + kind + " " +
                          dir.File(name + ".port") + " " + dir.File(name + ".log") + " " + extra);
    for (int i = 0; i < 100 && ReadFileBytes(dir.File(name + ".port")).empty(); ++i) {
      usleep(50 * 1000);
    }
    port = std::atoi(ReadFileBytes(dir.File(name + ".port")).c_str());
  }
  ~Helper() {
    if (pid_ > 0) kill(pid_, SIGTERM);
  }
  std::string Log() const { return ReadFileBytes(dir_.File(name_ + ".log")); }
  int port = 0;

 private:
  const TempDir& dir_;
  std::string name_;
  int pid_ = 0;
};

class RecvTools : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(HasServers());
    ClearMaildir("alice");
    WriteFileBytes(dir.File("alice.pw"), TestServers().Password("alice") + "\n");
  }
  void TearDown() override { ClearMaildir("alice"); }

  // zelrecv as alice with `options`; its standard error in err.txt.
  int Zelrecv(const std::string& options, const std::string& server = "") {
    return Shell(ZelrecvIn(dir) + " -S" + (server.empty() ? TestServers().Pop3Server() : server) +
                 " -Ualice -F" + dir.File("alice.pw") + " " + options + " < /dev/null > " + dir.File("out.txt") +
                 " 2> " + dir.File("err.txt"));
  }
  std::string Err() const { return ReadFileBytes(dir.File("err.txt")); }

  TempDir dir;
};

// --- Real mail programs ------------------------------------------------------

// The files attached, in the order given: Japanese names, Japanese text in
// UTF-8 with LF line ends, a text without a last line end, binary bytes.
struct Attachment {
  std::string name;
  std::string bytes;
};

std::vector<Attachment> Attachments() {
  std::mt19937 random(34);
  std::string binary;
  for (int i = 0; i < 5000; ++i) binary += static_cast<char>(random());
  return {{U8(u8"日本語メモ.txt"), U8(u8"こんにちは、世界\n二行目は=と長い行 ") + std::string(150, 'x') + "\n\n"},
          {"nonl.txt", "no newline at the end"},
          {U8(u8"画像.bin"), binary}};
}

TEST_F(RecvTools, RealMailProgramsAttachmentsBodiesAndEnvelopes) {
  const std::string mta = dir.File("mta.sh");
  // The MTA: the message as the program handed it over, with the
  // Return-Path a delivering MTA adds for an envelope sender (-f).
  WriteFileBytes(mta,
                 "#!/bin/sh\n: > \"$OUTFILE\"\nwhile [ $# -gt 0 ]; do case \"$1\" in -f) "
                 "echo \"Return-Path: <$2>\" > \"$OUTFILE\"; shift;; -f*) echo \"Return-Path: <${1#-f}>\" > "
                 "\"$OUTFILE\";; esac; shift; done\ncat >> \"$OUTFILE\"\n");
  Shell("chmod 700 " + mta);
  std::string attach[3];
  const std::vector<Attachment> files = Attachments();
  for (std::size_t i = 0; i < files.size(); ++i) {
    attach[i] = dir.File(files[i].name);
    WriteFileBytes(attach[i], files[i].bytes);
  }
  WriteFileBytes(dir.File("body.txt"), U8(u8"本文です\n"));
  const std::string env = "cd " + dir.path() + " && HOME=" + dir.path() + " LC_ALL=C.UTF-8 OUTFILE=";
  const std::string from = U8(u8"山田 太郎 <taro@example.jp>");
  const std::string subject = U8(u8"添付のテスト");
  const struct {
    const char* program;
    std::string command;  // composes the message into OUTFILE
    bool attached;
  } senders[] = {
      {"s-nail", "s-nail -:/ -S mta=" + mta + " -S 'from=" + from + "' -S ttycharset=utf-8 -s '" + subject +
                     "' -a '" + attach[0] + "' -a '" + attach[1] + "' -a '" + attach[2] + "' alice@localhost",
       true},
      {"neomutt", "neomutt -n -F /dev/null -e 'set sendmail=" + mta + "' -e 'set from=\"" + from +
                      "\"' -e 'set charset=utf-8' -e 'set send_charset=utf-8' -s '" + subject + "' -a '" +
                      attach[0] + "' '" + attach[1] + "' '" + attach[2] + "' -- alice@localhost",
       true},
      {"mailutils", "mail -E 'set sendmail=sendmail://" + mta + "' -a 'From: " + from + "' -s '" + subject +
                        "' -A '" + attach[0] + "' -A '" + attach[1] + "' -A '" + attach[2] + "' alice@localhost",
       true},
      // mail without attachments: raw UTF-8 header and body, no MIME fields.
      {"mailutils plain",
       "mail -E 'set sendmail=sendmail://" + mta + "' -r taro@example.jp -s '" + subject + "' alice@localhost",
       false},
  };
  int n = 0;
  for (const auto& s : senders) {
    const std::string out = dir.File("composed" + std::to_string(n++) + ".eml");
    ASSERT_EQ(Shell(env + out + " " + s.command + " < " + dir.File("body.txt")), 0) << s.program;
    DropMessage("alice", ReadFileBytes(out));
  }
  std::filesystem::create_directory(dir.File("mail"));
  ASSERT_EQ(Zelrecv("-Llist -Mmail --mbox " + dir.File("mbox") + " --keep-display"), 0) << Err();

  // Every attachment saved is its sender's file.
  HostPartFiles partFiles;
  for (int m = 0; m < 4; ++m) {
    SCOPED_TRACE(senders[m].program);
    char name[16];
    std::snprintf(name, sizeof name, "zel%05d.wml", m + 1);
    const std::string display = dir.File("mail/" + std::string(name));
    MailFile mail(partFiles);
    ASSERT_TRUE(mail.open(display));
    mail.parse();
    mail.close();
    if (!senders[m].attached) {
      EXPECT_EQ(mail.partCount(), 0);
      // The header-less UTF-8 body reads in Shift-JIS, as the subject does.
      const std::string text = ReadFileBytes(display);
      EXPECT_NE(text.find("\x96\x7b\x95\xb6\x82\xc5\x82\xb7"), std::string::npos) << text;  // 本文です
      EXPECT_NE(text.find("Subject: \x93\x59\x95\x74"), std::string::npos) << text;         // 添付
      continue;
    }
    ASSERT_EQ(mail.partCount(), 4);
    for (int i = 0; i < 3; ++i) {
      const std::string saved = dir.File("saved" + std::to_string(i));
      ASSERT_EQ(mail.savePart(i + 1, saved), 1);
      EXPECT_EQ(ReadFileBytes(saved), files[static_cast<std::size_t>(i)].bytes) << i;
    }
  }
  // Every mbox envelope line names an address.
  const std::string mbox = ReadFileBytes(dir.File("mbox"));
  int envelopes = 0;
  for (std::size_t at = 0; (at = mbox.find("From ", at)) != std::string::npos; at += 5) {
    if (at != 0 && mbox[at - 1] != '\n') continue;
    const std::string line = mbox.substr(at, mbox.find('\n', at) - at);
    const std::string sender = line.substr(5, line.find(' ', 5) - 5);
    EXPECT_NE(sender.find('@'), std::string::npos) << line;
    EXPECT_EQ(sender.find("=?"), std::string::npos) << line;
    ++envelopes;
  }
  EXPECT_EQ(envelopes, 4);
}

// --- Accounts ----------------------------------------------------------------

TEST_F(RecvTools, AllSkipsSendOnlyAccountsAndPasswordsStayWithTheirServer) {
  const Servers& s = TestServers();
  std::filesystem::create_directories(dir.File("zelpost"));
  const std::string accounts = dir.File("zelpost/accounts");
  WriteFileBytes(accounts, "account default\npop3_host " + s.pop3Host + "\npop3_port " +
                               std::to_string(s.pop3Port) + "\nuser alice\npasswordeval echo " +
                               s.Password("alice") + "-acct\ndelivery maildir " + dir.File("Maildir") +
                               "\n\naccount sender\nsmtp_host " + s.smtpHost + "\nfrom a@example.jp\n");
  Shell("chmod 600 " + accounts);
  // --all: the send-only account is named and skipped; the other one runs
  // (its password is wrong on purpose: the login fails, 77).
  EXPECT_EQ(Shell(ZelrecvIn(dir) + " --all < /dev/null 2> " + dir.File("err.txt")), 77) << Err();
  EXPECT_NE(Err().find(U8(u8"アカウント sender は受信サーバ (pop3_host) がないので飛ばします")), std::string::npos)
      << Err();

  // Another server on the command line: the account's password is not
  // sent there (nor its command run); named with --account it is.
  Helper recorder(dir, "recorder", "recorder");
  ASSERT_GT(recorder.port, 0);
  const std::string other = "127.0.0.1:" + std::to_string(recorder.port);
  EXPECT_EQ(Shell(ZelrecvIn(dir) + " -S" + other + " -Ualice -Ll -Mm < /dev/null 2> " + dir.File("err.txt")), 64);
  EXPECT_NE(Err().find(U8(u8"パスワードが指定されていません")), std::string::npos) << Err();
  EXPECT_EQ(recorder.Log().find("-acct"), std::string::npos) << recorder.Log();
  EXPECT_EQ(Shell(ZelrecvIn(dir) + " --account default -S" + other + " < /dev/null 2> /dev/null"), 77);
  EXPECT_NE(recorder.Log().find("PASS " + s.Password("alice") + "-acct"), std::string::npos) << recorder.Log();
}

// --- TLS ---------------------------------------------------------------------

std::string Sha256Of(const TempDir& dir, const std::string& pem) {
  Shell("openssl x509 -in " + pem + " -noout -fingerprint -sha256 | sed 's/.*=//' > " + dir.File("fp"));
  std::string fp = ReadFileBytes(dir.File("fp"));
  while (!fp.empty() && (fp.back() == '\n' || fp.back() == '\r')) fp.pop_back();
  return fp;
}

TEST_F(RecvTools, TlsPinsAndOldestVersion) {
  const Servers& s = TestServers();
  const std::string server = "localhost:" + std::to_string(s.pop3sPort);
  const std::string pin = Sha256Of(dir, s.dir + "/tls/cert.pem");
  const std::string otherPin = Sha256Of(dir, s.otherCaFile);
  ASSERT_EQ(pin.size(), 95u);
  std::filesystem::create_directory(dir.File("mail"));
  const struct {
    const char* what;
    std::string options;
    int status;
    std::string err;  // a text standard error holds
  } rows[] = {
      {"trusted CA", "-T1 -C" + s.caFile, 0, ""},
      {"pinned, no CA", "-T1 --tls-fingerprint " + pin, 0, ""},
      {"another pin, trusted CA", "-T1 -C" + s.caFile + " --tls-fingerprint " + otherPin, 69,
       "not the pinned certificate; subject /CN=localhost; issuer /CN=zelpost test CA; SHA-256 " + pin},
      {"untrusted: how to trust it", "-T1", 69, U8(u8"-C (アカウントファイルでは tls_trust_file)")},
      {"a pin that is no SHA-256", "-T1 --tls-fingerprint 12:34", 78, U8(u8"--tls-fingerprint の値が正しくありません")},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(Zelrecv("-Llist -Mmail " + r.options, server), r.status) << Err();
    EXPECT_NE(Err().find(r.err), std::string::npos) << Err();
  }
  // A server that speaks TLS 1.2 only: taken by default, refused at 1.3.
  const int port = FreePort(dir);
  const int server12 = Background(dir, "tls12", "timeout 30 openssl s_server -quiet -tls1_2 -accept 127.0.0.1:" +
                                                    std::to_string(port) + " -cert " + s.dir + "/tls/cert.pem -key " +
                                                    s.dir + "/tls/key.pem > /dev/null 2>&1");
  sleep(1);
  const std::string old = "localhost:" + std::to_string(port);
  EXPECT_NE(Zelrecv("-Llist -Mmail -T1 -C" + s.caFile + " --timeout 2 --tls-min-version 1.3", old), 0);
  EXPECT_NE(Err().find("TLS"), std::string::npos) << Err();
  EXPECT_NE(Err().find("protocol"), std::string::npos) << Err();
  Zelrecv("-Llist -Mmail -T1 -C" + s.caFile + " --timeout 2", old);
  EXPECT_EQ(Err().find("protocol"), std::string::npos) << Err();  // the handshake went through
  if (server12 > 0) kill(server12, SIGTERM);
}

// --- SOCKS5, the trace -------------------------------------------------------

TEST_F(RecvTools, ThroughSocks5AndTracedWithoutSecrets) {
  const Servers& s = TestServers();
  const std::string password = s.Password("alice");
  Helper open(dir, "open", "socks5");
  Helper login(dir, "login", "socks5", "puser ppass");
  ASSERT_GT(open.port, 0);
  ASSERT_GT(login.port, 0);
  const std::string viaOpen = " --proxy 127.0.0.1:" + std::to_string(open.port);
  const std::string viaLogin = " --proxy puser:ppass@127.0.0.1:" + std::to_string(login.port);
  DropMessage("alice", "From: a@example.jp\r\nSubject: through\r\n\r\nbody\r\n");
  std::filesystem::create_directory(dir.File("mail"));
  const std::string pop3 = "localhost:" + std::to_string(s.pop3Port);
  const std::string imap = "localhost:" + std::to_string(s.imapPort);
  const struct {
    const char* what;
    std::string options;
    std::string server;
    std::string traced;  // a command the trace holds
  } rows[] = {
      {"POP3 STLS and AUTH PLAIN, no authentication", "-T2 -C" + s.caFile + " --popauth 1 --debug" + viaOpen, pop3,
       "-> AUTH PLAIN ********"},
      {"IMAP LOGIN, user and password", "--imap --debug" + viaLogin, imap, "LOGIN "},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    EXPECT_EQ(Zelrecv("-Llist -Mmail " + r.options, r.server), 0) << Err();
    const std::string trace = Err();
    EXPECT_NE(trace.find(r.traced), std::string::npos) << trace;
    EXPECT_NE(trace.find("<- "), std::string::npos) << trace;
    EXPECT_EQ(trace.find(password), std::string::npos) << trace;
    EXPECT_NE(trace.find("********"), std::string::npos) << trace;
  }
  // The proxy got the names, not addresses: it resolved them.
  EXPECT_NE(open.Log().find("3 localhost " + std::to_string(s.pop3Port)), std::string::npos) << open.Log();
  EXPECT_NE(login.Log().find("3 localhost " + std::to_string(s.imapPort)), std::string::npos) << login.Log();

  // SMTP AUTH through the proxy with zelsendmail, traced.
  WriteFileBytes(dir.File("msg.eml"), "From: alice@localhost\nTo: alice@localhost\nSubject: sent\n\nhello\n");
  std::filesystem::create_directories(dir.File("zelpost"));
  const std::string accounts = dir.File("zelpost/accounts");
  WriteFileBytes(accounts, "account default\nsmtp_host localhost\nsmtp_port " + std::to_string(s.smtpPort) +
                               "\nfrom alice@localhost\nuser alice\nsmtp_auth 1\ntls 2\ntls_trust_file " +
                               s.caFile + "\npassword " + password + "\nproxy puser:ppass@127.0.0.1:" +
                               std::to_string(login.port) + "\n");
  Shell("chmod 600 " + accounts);
  EXPECT_EQ(Shell("cd " + dir.path() + " && XDG_CONFIG_HOME=" + dir.path() + " " ZEL_BINARY_DIR
                  "/zelsendmail --debug -t < " + dir.File("msg.eml") + " 2> " + dir.File("err.txt")),
            0)
      << Err();
  EXPECT_NE(Err().find("-> AUTH PLAIN ********"), std::string::npos) << Err();
  EXPECT_NE(Err().find("-> MAIL FROM:"), std::string::npos) << Err();
  EXPECT_EQ(Err().find(password), std::string::npos) << Err();
  EXPECT_NE(login.Log().find("3 localhost " + std::to_string(s.smtpPort)), std::string::npos) << login.Log();

  // A connection the proxy refuses: its reason in ERRDETAIL.
  EXPECT_EQ(Zelrecv("-Llist -Mmail" + viaOpen, "localhost:1"), 69) << Err();
  EXPECT_NE(Err().find(U8(u8"接続を拒否された (SOCKS5 応答 5)")), std::string::npos) << Err();
}

// --- Filter and kill size ----------------------------------------------------

TEST_F(RecvTools, FilterAndKillSizeDecideBeforeFetching) {
  const std::string filter = dir.File("filter.sh");
  WriteFileBytes(filter,
                 "#!/bin/sh\nh=$(cat)\ncase \"$h\" in *'Subject: leave'*) exit 1;; *'Subject: drop'*) exit 2;; esac\n"
                 "exit 0\n");
  Shell("chmod 700 " + filter);
  const std::string big = "From: a@example.jp\r\nSubject: big\r\n\r\n" + std::string(20000, 'b') + "\r\n";
  const struct {
    const char* what;
    std::vector<std::string> subjects;  // dropped in this order
    std::string options;
    std::vector<std::string> fetched;   // subjects in the Maildir
    std::vector<std::string> left;      // subjects still on the server
  } rows[] = {
      {"filter 0 1 2", {"fetch", "leave", "drop"}, "--filter " + filter, {"fetch"}, {"fetch", "leave"}},
      {"filter with -D", {"fetch", "leave", "drop"}, "-D --filter " + filter, {"fetch"}, {"leave"}},
      {"kill size", {"small", "big"}, "--kill-size 10000", {"small"}, {"small"}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    ClearMaildir("alice");
    std::filesystem::remove_all(dir.File("Maildir"));
    for (const std::string& subject : r.subjects) {
      DropMessage("alice", subject == "big" ? big : "From: a@example.jp\r\nSubject: " + subject + "\r\n\r\nx\r\n");
    }
    EXPECT_EQ(Zelrecv("--maildir " + dir.File("Maildir") + " " + r.options), 0) << Err();
    std::vector<std::string> fetched;
    for (const auto& sub : {"new", "cur"}) {
      if (!std::filesystem::exists(dir.File("Maildir/") + sub)) continue;
      for (const auto& e : std::filesystem::directory_iterator(dir.File("Maildir/") + sub)) {
        const std::string m = ReadFileBytes(e.path().string());
        const std::size_t at = m.find("Subject: ") + 9;
        fetched.push_back(m.substr(at, m.find_first_of("\r\n", at) - at));
      }
    }
    EXPECT_EQ(fetched, r.fetched);
    ASSERT_TRUE(WaitForMessageCount("alice", r.left.size()));
    std::vector<std::string> left;
    for (const std::string& m : ReadMaildir("alice")) {
      const std::size_t at = m.find("Subject: ") + 9;
      left.push_back(m.substr(at, m.find_first_of("\r\n", at) - at));
    }
    EXPECT_EQ(left, r.left);
  }
}

}  // namespace
}  // namespace zel::e2e
