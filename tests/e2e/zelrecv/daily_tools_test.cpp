// zelrecv and zelsendmail as a Linux user's daily tools, against the real
// Dovecot and aiosmtpd: each delivery mode read back by Python's mailbox
// module, two runs appending to one mbox at once, the sendmail interface
// run as cron runs it (no terminal) and by Mutt, and its exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "../servers.h"

namespace zel::e2e {
namespace {

std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// The bytes with every CR LF as LF, and a line end after the last line
// (POP3 sends every line with its line end).
std::string Lf(std::string text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' || i + 1 >= text.size() || text[i + 1] != '\n') out += text[i];
  }
  if (!out.empty() && out.back() != '\n') out += '\n';
  return out;
}

// Exit status of the shell command `command`.
int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return (status >> 8) & 0xFF;
}

// Reads the messages of a Maildir or mbox with Python's mailbox module into
// `out`, sorted; mbox messages mboxrd-unquoted (">From " lines lose one
// ">"). Returns false when Python could not read it.
bool ReadWithPython(const TempDir& dir, const std::string& kind, const std::string& path,
                    std::vector<std::string>& out) {
  WriteFileBytes(dir.File("read.py"),
                 "import mailbox, re, sys\n"
                 "kind, path, out = sys.argv[1:4]\n"
                 "box = mailbox.Maildir(path, factory=None, create=False) if kind == 'maildir' "
                 "else mailbox.mbox(path, create=False)\n"
                 "msgs = sorted(box.get_bytes(k) for k in box.keys())\n"
                 "if kind == 'mbox':\n"
                 "    msgs = [re.sub(rb'(?m)^>(>*From )', rb'\\1', m) for m in msgs]\n"
                 "open(out, 'wb').write(b'\\0'.join(msgs))\n");
  if (Shell("/usr/bin/python3 " + dir.File("read.py") + " " + kind + " '" + path + "' " +
            dir.File("read.out")) != 0) {
    return false;
  }
  out.clear();
  const std::string all = ReadFileBytes(dir.File("read.out"));
  for (std::size_t at = 0; at <= all.size();) {
    std::size_t end = all.find('\0', at);
    if (end == std::string::npos) end = all.size();
    out.push_back(all.substr(at, end - at));
    at = end + 1;
  }
  return true;
}

class DailyTools : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(HasServers());
    for (const char* user : {"alice", "bob"}) ClearMaildir(user);
    WriteFileBytes(dir.File("alice.pw"), "alicepw\n");
    WriteFileBytes(dir.File("bob.pw"), "bobpw\n");
  }
  void TearDown() override {
    for (const char* user : {"alice", "bob"}) ClearMaildir(user);
  }

  // zelrecv for `user` with `options`, no terminal, no accounts file.
  std::string Zelrecv(const std::string& user, const std::string& options) const {
    return "cd " + dir.path() + " && LC_ALL=C.UTF-8 XDG_CONFIG_HOME=" + dir.path() +
           " XDG_STATE_HOME=" + dir.path() + " " ZEL_BINARY_DIR "/zelrecv -S" + TestServers().Pop3Server() +
           " -U" + user + " -F" + dir.File(user + ".pw") + " " + options + " < /dev/null";
  }

  TempDir dir;
};

// Each delivery mode: what a mail reader finds is every message as Dovecot
// holds it (LF line ends), also one too large to be held in memory on its
// way; with -D the server keeps only what was not delivered.
TEST_F(DailyTools, EachDeliveryModeHoldsWhatTheServerHeld) {
  std::string large = "From: d@example.jp\r\nSubject: large\r\n\r\n";
  while (large.size() < 1536 * 1024) large += ".dotted " + std::string(70, 'y') + "\r\n";
  const std::string messages[] = {
      "Return-Path: <hanako@example.jp>\r\nFrom: Hanako <hanako@example.jp>\r\nTo: alice@localhost\r\n"
      "Subject: mbox quoting\r\n\r\nFrom me, with love\r\n>From you\r\n>>From both\r\nFrom\r\n",
      "From: b@example.jp\r\nSubject: dots\r\n\r\n.\r\n..\r\n.leading dot\r\nend\r\n",
      "From: c@example.jp\r\nSubject: =?UTF-8?B?5pel5pys6Kqe?=\r\nContent-Type: text/plain; charset=UTF-8\r\n"
      "\r\n" + U8(u8"日本語の本文\r\n") + std::string(3000, 'x') + "\r\nno line end at the end",
      large,
  };
  const struct {
    const char* mode;
    std::string options;
    int status;
    std::size_t left;     // messages the server keeps
    std::string kind;     // what Python reads: "maildir", "mbox" or ""
    std::string path;
  } rows[] = {
      {"maildir", "-D --maildir " + dir.File("Maildir"), 0, 0, "maildir", dir.File("Maildir")},
      {"mbox", "-D --mbox " + dir.File("mbox"), 0, 0, "mbox", dir.File("mbox")},
      {"maildir beside the display files", "--maildir " + dir.File("both") + " --keep-display -Llist -Mmail",
       0, 4, "maildir", dir.File("both")},
      {"mda", "-D --mda 'cat >> " + dir.File("mda.out") + "'", 0, 0, "", ""},
      // Ended at the time-out with its children: the message stays (75).
      {"mda that never ends", "-D --timeout 2 --mda 'sleep 987657 & sleep 987658'", 75, 4, "", ""},
      {"mda that fails", "-D --mda 'cat > /dev/null; exit 75'", 74, 4, "", ""},
  };
  std::filesystem::create_directory(dir.File("mail"));
  for (const auto& r : rows) {
    SCOPED_TRACE(r.mode);
    ClearMaildir("alice");
    for (const std::string& m : messages) DropMessage("alice", m);
    std::vector<std::string> held;
    for (const std::string& m : ReadMaildir("alice")) held.push_back(Lf(m));
    std::sort(held.begin(), held.end());
    EXPECT_EQ(Shell(Zelrecv("alice", r.options) + " > out 2> err"), r.status) << ReadFileBytes(dir.File("err"));
    // The server expunges after QUIT, which the program does not wait for.
    EXPECT_TRUE(WaitForMessageCount("alice", r.left)) << ListMaildir("alice").size() << ReadFileBytes(dir.File("err"));
    if (!r.kind.empty()) {
      std::vector<std::string> read;
      ASSERT_TRUE(ReadWithPython(dir, r.kind, r.path, read));
      EXPECT_EQ(read, held);
    }
  }
  EXPECT_NE(Shell("pgrep -f 'sleep 98765[78]' > /dev/null"), 0) << "a child of the MDA was left behind";
  // mboxrd: a body line "From me" is stored as ">From me".
  const std::string mbox = ReadFileBytes(dir.File("mbox"));
  EXPECT_NE(mbox.find("\n\n>From me, with love\n>>From you\n>>>From both\nFrom\n\n"), std::string::npos) << mbox;
  EXPECT_EQ(mbox.rfind("From hanako@example.jp ", 0), 0u) << mbox;
  const std::string list = ReadFileBytes(dir.File("list"));
  EXPECT_EQ(std::count(list.begin(), list.end(), '\n'), 4);
  std::size_t piped = 0;
  for (const std::string& m : messages) piped += Lf(m).size();
  EXPECT_EQ(ReadFileBytes(dir.File("mda.out")).size(), piped);
  // The failed delivery names the command and its exit status.
  EXPECT_EQ(ReadFileBytes(dir.File("err")).rfind(U8(u8"err: MDAへの受け渡しに失敗 (終了コード 75) ["), 0), 0u);
}

// Two runs (alice's and bob's maildrops) append to one mbox at once: every
// message arrives whole, none lost, none interleaved with another.
TEST_F(DailyTools, TwoRunsAppendToOneMboxAtOnce) {
  constexpr int kEach = 150;
  for (const std::string user : {"alice", "bob"}) {
    for (int i = 0; i < kEach; ++i) {
      std::string body;
      const std::string mark = user + "-" + std::to_string(i);
      for (int line = 0; line < 400; ++line) body += mark + " line " + std::to_string(line) + "\r\n";
      DropMessage(user, "From: " + user + "@localhost\r\nMessage-Id: <" + mark + "@test>\r\n\r\n" + body);
    }
  }
  const std::string box = dir.File("shared.mbox");
  const std::string run = "(" + Zelrecv("alice", "-D --mbox " + box) + " > out1 2>&1; echo $? > " +
                          dir.File("status1") + ") & (" + Zelrecv("bob", "-D --mbox " + box) + " > out2 2>&1; echo $? > " +
                          dir.File("status2") + ") & wait";
  Shell(run);
  EXPECT_EQ(ReadFileBytes(dir.File("status1")), "0\n") << ReadFileBytes(dir.File("out1"));
  EXPECT_EQ(ReadFileBytes(dir.File("status2")), "0\n") << ReadFileBytes(dir.File("out2"));
  // Each message: its Message-Id, then its 400 lines, all of its own mark.
  WriteFileBytes(dir.File("check.py"),
                 "import mailbox, re, sys\n"
                 "seen = set()\n"
                 "for m in mailbox.mbox(sys.argv[1], create=False):\n"
                 "    mark = re.match(r'<(.*)@test>', m['Message-Id']).group(1)\n"
                 "    lines = m.get_payload().splitlines()\n"
                 "    assert lines == ['%s line %d' % (mark, n) for n in range(400)], mark\n"
                 "    seen.add(mark)\n"
                 "print(len(seen))\n");
  EXPECT_EQ(Shell("/usr/bin/python3 " + dir.File("check.py") + " " + box + " > " + dir.File("count")), 0);
  EXPECT_EQ(ReadFileBytes(dir.File("count")), std::to_string(2 * kEach) + "\n");
  EXPECT_FALSE(std::filesystem::exists(box + ".lock"));
  EXPECT_TRUE(ListMaildir("alice").empty());
  EXPECT_TRUE(ListMaildir("bob").empty());
}

// The sendmail interface, run as cron runs it (its own session, no
// terminal, the message on standard input): what arrives is the message as
// given (line ends and dot-stuffing aside) without its Bcc field; every
// failure ends with its sysexits status.
TEST_F(DailyTools, SendmailInterface) {
  const Servers& s = TestServers();
  int closedPort = 0;
  {
    // A port nothing listens on: that of a server started and stopped.
    const std::string probe = dir.File("port.py");
    WriteFileBytes(probe, "import socket\ns = socket.socket()\ns.bind(('127.0.0.1', 0))\n"
                          "print(s.getsockname()[1])\n");
    Shell("/usr/bin/python3 " + probe + " > " + dir.File("port"));
    closedPort = std::atoi(ReadFileBytes(dir.File("port")).c_str());
  }
  std::filesystem::create_directories(dir.File("zelpost"));
  WriteFileBytes(dir.File("secret.sh"), "#!/bin/sh\nprintf '%s\\n' \"$1\"\n");
  Shell("chmod 700 " + dir.File("secret.sh"));
  WriteFileBytes(dir.File("zelpost/accounts"),
                 "# sendmail accounts\n"
                 "defaults\n"
                 "smtp_host 127.0.0.1\n"
                 "smtp_port " + std::to_string(s.smtpPort) + "\n"
                 "from cron@example.jp\n"
                 "account default\n"
                 "account auth\n"
                 "tls 2\n"
                 "tls_trust_file " + s.caFile + "\n"
                 "smtp_auth on\n"
                 "user alice\n"
                 "passwordeval " + dir.File("secret.sh") + " alicepw\n"
                 "account wrongpw\n"
                 "tls 2\n"
                 "tls_trust_file " + s.caFile + "\n"
                 "smtp_auth on\n"
                 "user alice\n"
                 "passwordeval " + dir.File("secret.sh") + " wrong\n"
                 "account closed\n"
                 "smtp_port " + std::to_string(closedPort) + "\n");
  const std::string message =
      "From: Cron Daemon <cron@example.jp>\nTo: alice@localhost\nBcc: (blind copy)\n  bob@localhost\n"
      "Subject: =?UTF-8?B?5pel5aCx?=\nMIME-Version: 1.0\nContent-Type: text/plain; charset=UTF-8\n\n" +
      U8(u8"本日の報告\n") + ".\n..\n.dots\nFrom here\nlast line\n";
  const std::string withoutBcc =
      "From: Cron Daemon <cron@example.jp>\r\nTo: alice@localhost\r\n"
      "Subject: =?UTF-8?B?5pel5aCx?=\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n" +
      U8(u8"本日の報告\r\n") + ".\r\n..\r\n.dots\r\nFrom here\r\nlast line\r\n";
  WriteFileBytes(dir.File("message"), message);
  const std::string refused = U8(u8"err: SMTP送信:送信先メールアドレスを再確認してください [");
  const struct {
    const char* call;
    std::string args;
    int status;
    std::size_t alice, bob;  // messages that arrive
    std::string err;         // the beginning of standard error
  } rows[] = {
      {"-t", "-t -oi", 0, 1, 1, ""},
      {"recipients as arguments", "-oi -oem -f cron@example.jp -- alice@localhost", 0, 1, 0, ""},
      {"SMTP AUTH over STARTTLS, password from a command", "--account auth -i alice@localhost", 0, 1, 0, ""},
      {"a recipient refused for good", "-oi -- alice@localhost reject@localhost", 65, 0, 0, refused + "reject@localhost]\n"},
      {"a recipient refused for now", "-oi defer@localhost", 75, 0, 0, refused + "defer@localhost]\n"},
      {"authentication refused", "--account wrongpw -i alice@localhost", 77, 0, 0, ""},
      {"no server", "--account closed -i alice@localhost", 69, 0, 0, ""},
      {"no recipient", "-i", 64, 0, 0, U8(u8"err: 送信先がありません (引数で指定するか -t)\n")},
      {"a mode it does not have", "-bp", 64, 0, 0, U8(u8"err: この動作モードには対応していません [-bp]\n")},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.call);
    for (const char* user : {"alice", "bob"}) ClearMaildir(user);
    const std::string command = "cd " + dir.path() + " && LC_ALL=C.UTF-8 XDG_CONFIG_HOME=" + dir.path() +
                                " setsid -w " ZEL_BINARY_DIR "/zelsendmail " + r.args + " < message > out 2> err";
    EXPECT_EQ(Shell(command), r.status);
    EXPECT_EQ(ReadFileBytes(dir.File("out")), "");
    const std::string err = ReadFileBytes(dir.File("err"));
    if (r.status == 0) {
      EXPECT_EQ(err, "");
    }
    EXPECT_EQ(err.rfind(r.err, 0), 0u) << err;
    EXPECT_TRUE(WaitForMessageCount("alice", r.alice, 3000));
    EXPECT_TRUE(WaitForMessageCount("bob", r.bob, 3000));
    for (const std::string& got : ReadMaildir("alice")) EXPECT_EQ(got, withoutBcc);
    for (const std::string& got : ReadMaildir("bob")) EXPECT_EQ(got, withoutBcc);
  }
  // Piped as a script would: a message without header fields of its own.
  ClearMaildir("alice");
  EXPECT_EQ(Shell("cd " + dir.path() + " && echo 'disk almost full' | XDG_CONFIG_HOME=" + dir.path() +
                  " " ZEL_BINARY_DIR "/zelsendmail alice@localhost"),
            0);
  ASSERT_TRUE(WaitForMessageCount("alice", 1, 3000));
  EXPECT_EQ(ReadMaildir("alice")[0], "disk almost full\r\n");
}

// Mutt in batch mode sends through zelsendmail as its sendmail.
TEST_F(DailyTools, MuttSendsThroughZelsendmail) {
  const Servers& s = TestServers();
  std::filesystem::create_directories(dir.File("zelpost"));
  WriteFileBytes(dir.File("zelpost/accounts"), "account home\nsmtp_host 127.0.0.1\nsmtp_port " +
                                                   std::to_string(s.smtpPort) + "\nfrom taro@example.jp\n");
  WriteFileBytes(dir.File("muttrc"), "set sendmail=\"" ZEL_BINARY_DIR "/zelsendmail --account home\"\n"
                                     "set from=\"Taro <taro@example.jp>\"\nset use_from=yes\n"
                                     "set copy=no\nset charset=utf-8\nset send_charset=utf-8\n");
  WriteFileBytes(dir.File("body"), U8(u8"ミーティングは3時からです。\n"));
  EXPECT_EQ(Shell("cd " + dir.path() + " && HOME=" + dir.path() + " LC_ALL=C.UTF-8 XDG_CONFIG_HOME=" +
                  dir.path() + " mutt -n -F muttrc -s 'Meeting' -- alice@localhost < body > out 2> err"),
            0)
      << ReadFileBytes(dir.File("err"));
  ASSERT_TRUE(WaitForMessageCount("alice", 1, 3000));
  const std::string got = ReadMaildir("alice")[0];
  EXPECT_NE(got.find("\r\nSubject: Meeting\r\n"), std::string::npos) << got;
  EXPECT_NE(got.find("From: Taro <taro@example.jp>\r\n"), std::string::npos) << got;
  EXPECT_NE(got.find(U8(u8"\r\n\r\nミーティングは3時からです。\r\n")), std::string::npos) << got;
}

}  // namespace
}  // namespace zel::e2e
