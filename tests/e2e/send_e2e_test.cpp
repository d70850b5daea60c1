// The send path end to end: zelsend (and a host program calling the
// library) deliver Japanese mail with attachments to the real SMTP server;
// it is fetched back from Dovecot and parsed by Python's email package,
// an independent MIME parser with its own iso2022_jp codec.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#ifndef _WIN32
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "servers.h"
#include "zelpost.h"

namespace zel {
namespace {

namespace fs = std::filesystem;
using e2e::TestServers;

std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// Fetches the one message of a mailbox over POP3 and compares it with the
// expectations in DIR: expect_subject, expect_from_name, expect_body (UTF-8)
// and expect_attachments (one "name<TAB>path" line per attachment, in order).
const char kChecker[] = R"PY(
import sys, os, poplib, email, email.policy
host, port, user, password, work = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]
def expect(name):
    return open(os.path.join(work, name), encoding="utf-8").read()
pop = poplib.POP3(host, port)
pop.user(user)
pop.pass_(password)
count, _ = pop.stat()
if count != 1:
    sys.exit("expected one message, found %d" % count)
raw = b"\r\n".join(pop.retr(1)[1]) + b"\r\n"
pop.quit()
msg = email.message_from_bytes(raw, policy=email.policy.default)
problems = []
def check(what, got, want):
    if got != want:
        problems.append("%s: got %r, want %r" % (what, got, want))
check("subject", str(msg["Subject"]), expect("expect_subject"))
check("from name", msg["From"].addresses[0].display_name, expect("expect_from_name"))
check("date count", len(msg.get_all("Date")), 1)
check("message-id count", len(msg.get_all("Message-Id")), 1)
body = msg.get_body(preferencelist=("plain",))
check("body charset", body.get_content_charset(), "iso-2022-jp")
check("body", body.get_content().replace("\r\n", "\n"), expect("expect_body"))
wanted = [l.split("\t") for l in expect("expect_attachments").splitlines() if l]
got = [p for p in msg.iter_attachments()]
check("attachment count", len(got), len(wanted))
for part, (name, path) in zip(got, wanted):
    check("attachment name", part.get_filename(), name)
    check("attachment bytes of " + name, part.get_payload(decode=True), open(path, "rb").read())
if problems:
    sys.exit("\n".join(problems))
print("OK")
)PY";

#ifndef _WIN32
struct TerminalRun {
  int exitCode = -1;
  std::string screen;  // everything the terminal showed
};

// Runs `command` (shell words) on a new pseudo-terminal and types `answer`
// once `prompt` shows.
TerminalRun RunOnTerminal(const std::string& command, const std::string& prompt,
                          const std::string& answer) {
  TerminalRun run;
  int terminal = -1;
  const pid_t child = forkpty(&terminal, nullptr, nullptr, nullptr);
  if (child < 0) return run;
  if (child == 0) {
    execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  bool answered = false;
  char buffer[512];
  pollfd ready = {terminal, POLLIN, 0};
  while (poll(&ready, 1, 10000) > 0) {
    const ssize_t n = read(terminal, buffer, sizeof buffer);
    if (n <= 0) break;  // EIO once the program has ended
    run.screen.append(buffer, static_cast<std::size_t>(n));
    if (!answered && run.screen.find(prompt) != std::string::npos) {
      answered = write(terminal, answer.data(), answer.size()) ==
                 static_cast<ssize_t>(answer.size());
    }
  }
  close(terminal);
  int status = 0;
  waitpid(child, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}
#endif

class SendE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!e2e::HasServers()) GTEST_SKIP() << "real servers not running";
    e2e::ClearMaildir("alice");
    fs::create_directories(dir.File("tmp"));
    e2e::WriteFileBytes(dir.File("check.py"), kChecker);
  }

  // Runs zelsend with `args` in a UTF-8 locale and a private temporary
  // folder. Returns the exit code; stdout and stderr land in `out`/`err`.
  int Zelsend(const std::string& args) {
#ifdef _WIN32
    (void)args;
    return -1;
#else
    const std::string command = ZelsendCommand(args) + " < /dev/null > out 2> err";
    const int status = std::system(command.c_str());
    out = e2e::ReadFileBytes(dir.File("out"));
    err = e2e::ReadFileBytes(dir.File("err"));
    return (status >> 8) & 0xFF;
#endif
  }

  std::string ZelsendCommand(const std::string& args) const {
    return "cd '" + dir.path() + "' && LC_ALL=C.UTF-8 TMPDIR='" + dir.File("tmp") +
           "' '" ZEL_BINARY_DIR "/zelsend' " + args;
  }

  std::string SmtpArg() const { return "-S" + TestServers().SmtpServer(); }
  std::string PopArgs(const std::string& password) const {
    return " -BS" + TestServers().Pop3Server() + " -BUalice -BP" + password;
  }

  // Writes the Japanese send file with two "X-AttachmentFile:" lines and
  // the expectations of the checker. `tag` makes the subject unique.
  std::string PrepareMail(const std::string& tag) {
    std::string binary;
    for (int i = 0; i < 3000; ++i) binary += static_cast<char>((i * 131 + 7) & 0xFF);
    e2e::WriteFileBytes(dir.File("data.bin"), binary);
    // The second attachment has a Japanese name: UTF-8 on disk, Shift-JIS
    // in the send file.
    e2e::WriteFileBytes(dir.File(U8(u8"見積書.txt")), "\x8C\xA9\x90\xCF\r\nline 2\r\n");
    const std::string sendFile = "To: 山田花子 <alice@localhost>\r\n"
                                 "Subject: お見積もりの件 " + tag + "\r\n"
                                 "X-AttachmentFile: " + dir.File("data.bin") + "\r\n"
                                 "X-AttachmentFile: " + dir.path() + "/見積書.txt\r\n"
                                 "Date: Mon, 01 Jan 2001 00:00:00 +0000\r\n"
                                 "---------\r\n"
                                 "山田様\r\n"
                                 "\r\n"
                                 ".お見積もりを添付いたします。\r\n"
                                 "よろしくお願いいたします。\r\n";
    e2e::WriteFileBytes(dir.File("mail.qml"), sendFile);
    e2e::WriteFileBytes(dir.File("expect_subject"), U8(u8"お見積もりの件 ") + tag);
    e2e::WriteFileBytes(dir.File("expect_from_name"), U8(u8"鈴木一郎"));
    e2e::WriteFileBytes(dir.File("expect_body"),
                        U8(u8"山田様\n\n.お見積もりを添付いたします。\nよろしくお願いいたします。\n"));
    e2e::WriteFileBytes(dir.File("expect_attachments"),
                        "data.bin\t" + dir.File("data.bin") + "\n" + U8(u8"見積書.txt\t") +
                            dir.File(U8(u8"見積書.txt")) + "\n");
    return dir.File("mail.qml");
  }

  // Runs the Python checker; returns its output ("OK" on success).
  std::string CheckDelivered() {
    const std::string command = "/usr/bin/python3 '" + dir.File("check.py") + "' " +
                                TestServers().pop3Host + " " +
                                std::to_string(TestServers().pop3Port) + " alice " +
                                TestServers().Password("alice") + " '" + dir.path() + "' > '" +
                                dir.File("check.out") + "' 2>&1";
    std::system(command.c_str());
    return e2e::ReadFileBytes(dir.File("check.out"));
  }

  bool TempFolderEmpty() { return fs::is_empty(dir.File("tmp")); }

  e2e::TempDir dir;
  std::string out;
  std::string err;
};

#ifndef _WIN32
TEST_F(SendE2e, ZelsendDeliversJapaneseMailWithTwoAttachments) {
  const std::string mail = PrepareMail("plain");
  ASSERT_EQ(Zelsend(SmtpArg() + U8(u8" -Mbob@localhost -N鈴木一郎 -F") + mail), 0) << err;
  EXPECT_EQ(err, "");
  ASSERT_TRUE(e2e::WaitForMessageCount("alice", 1));
  EXPECT_EQ(CheckDelivered(), "OK\n");
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(SendE2e, ZelsendWithPopBeforeSmtp) {
  const std::string mail = PrepareMail("pop");
  ASSERT_EQ(Zelsend(SmtpArg() + U8(u8" -Mbob@localhost -N鈴木一郎 -F") + mail +
                    PopArgs(TestServers().Password("alice"))),
            0)
      << err;
  EXPECT_NE(out.find("POP3Name: " + TestServers().Pop3Server() + "\n"), std::string::npos);
  EXPECT_NE(out.find("Password: ********\n"), std::string::npos);
  ASSERT_TRUE(e2e::WaitForMessageCount("alice", 1));
  EXPECT_EQ(CheckDelivered(), "OK\n");
}

// Without -BP the password comes from a file, an environment variable or
// the terminal, which does not show it.
TEST_F(SendE2e, ZelsendPasswordFromFileVariableOrTerminal) {
  const std::string mail = PrepareMail("sources");
  const std::string password = TestServers().Password("alice");
  e2e::WriteFileBytes(dir.File("password"), password + "\n");
  const std::string args = SmtpArg() + " -Mbob@localhost -Nn -F" + mail + " -BS" +
                           TestServers().Pop3Server() + " -BUalice";
  EXPECT_EQ(Zelsend(args + " -BF" + dir.File("password")), 0) << err;
  setenv("ZEL_E2E_PASSWORD", password.c_str(), 1);
  EXPECT_EQ(Zelsend(args + " -BEZEL_E2E_PASSWORD"), 0) << err;
  unsetenv("ZEL_E2E_PASSWORD");
  const TerminalRun typed =
      RunOnTerminal(ZelsendCommand(args), U8(u8"POP3パスワード: "), password + "\n");
  EXPECT_EQ(typed.exitCode, 0) << typed.screen;
  EXPECT_EQ(typed.screen.find(password), std::string::npos) << typed.screen;
  EXPECT_NE(typed.screen.find("Password: ********"), std::string::npos) << typed.screen;
  EXPECT_TRUE(e2e::WaitForMessageCount("alice", 3));
}

// zelsend over TLS with SMTP AUTH: STARTTLS with the CA of -C; implicit
// TLS trusting the system's store (SSL_CERT_FILE stands in for it); and
// implicit TLS that trusts neither, which fails on the certificate.
TEST_F(SendE2e, ZelsendOverTlsWithAuth) {
  const std::string mail = PrepareMail("tls");
  const std::string smtps = "127.0.0.1:" + std::to_string(TestServers().smtpsPort);
  const std::string args = U8(u8" -Mbob@localhost -N鈴木一郎 -F") + mail + " -BUalice -BP" +
                           TestServers().Password("alice") + " -A";
  ASSERT_EQ(Zelsend(SmtpArg() + args + " -T2 -C" + TestServers().caFile), 0) << err;
  EXPECT_NE(out.find("TLS: 2\nSMTPAuth: 1\nCAFile: " + TestServers().caFile + "\n"),
            std::string::npos) << out;
  ASSERT_TRUE(e2e::WaitForMessageCount("alice", 1));
  EXPECT_EQ(CheckDelivered(), "OK\n");
  e2e::ClearMaildir("alice");
  setenv("SSL_CERT_FILE", TestServers().caFile.c_str(), 1);
  setenv("SSL_CERT_DIR", dir.File("no-such-folder").c_str(), 1);
  EXPECT_EQ(Zelsend("-S" + smtps + args + " -T1"), 0) << err;
  unsetenv("SSL_CERT_FILE");
  unsetenv("SSL_CERT_DIR");
  ASSERT_TRUE(e2e::WaitForMessageCount("alice", 1));
  EXPECT_EQ(CheckDelivered(), "OK\n");
  EXPECT_EQ(Zelsend("-S" + smtps + args + " -T1"), 255);
  EXPECT_EQ(err.rfind(U8(u8"err: サーバ証明書が信頼できない [") + smtps + U8(u8"]\n詳細: サーバ証明書が信頼できない [") +
                          smtps + "]: ",
                      0),
            0u)
      << err;
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(SendE2e, WrongPop3PasswordNeverReachesSmtp) {
  const std::string mail = PrepareMail("wrong");
  EXPECT_EQ(Zelsend(SmtpArg() + " -Mbob@localhost -Nn -F" + mail + PopArgs("wrongpw")), 255);
  EXPECT_EQ(err, U8(u8"err: POP Before SMTP:POP3認証で失敗\n詳細: -ERR [AUTH] Authentication failed.\n"));
  EXPECT_FALSE(e2e::WaitForMessageCount("alice", 1, 300));
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(SendE2e, RefusedRecipientIsNamed) {
  e2e::WriteFileBytes(dir.File("mail.qml"),
                      "To: alice@localhost\r\nCc: (Boss) reject@localhost\r\n\r\nbody\r\n");
  EXPECT_EQ(Zelsend(SmtpArg() + " -Mbob@localhost -Nn -F" + dir.File("mail.qml")), 255);
  EXPECT_EQ(err, U8(u8"err: SMTP送信:送信先メールアドレスを再確認してください [reject@localhost]\n"
                    "詳細: 550 5.1.1 <reject@localhost>: recipient refused\n"));
  EXPECT_FALSE(e2e::WaitForMessageCount("alice", 1, 300));
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(SendE2e, UnreachableSmtpServer) {
  const std::string mail = PrepareMail("unreachable");
  EXPECT_EQ(Zelsend("-S127.0.0.1:1 -Mbob@localhost -Nn -F" + mail), 255);
  EXPECT_EQ(err, U8(u8"err: SMTP初期化でエラー発生 [127.0.0.1:1]\n詳細: 接続を拒否された [127.0.0.1:1]\n"));
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(SendE2e, MissingAttachmentSendsNothing) {
  const std::string missing = dir.File("missing.bin");
  e2e::WriteFileBytes(dir.File("mail.qml"),
                      "To: alice@localhost\r\nX-AttachmentFile: " + missing + "\r\n\r\nbody\r\n");
  EXPECT_EQ(Zelsend(SmtpArg() + " -Mbob@localhost -Nn -F" + dir.File("mail.qml")), 255);
  EXPECT_EQ(err, U8(u8"err: 添付ファイル[") + missing + U8(u8"]がオープンできません\n詳細: 添付ファイル[") + missing +
                     U8(u8"]がオープンできません: No such file or directory\n"));
  EXPECT_FALSE(e2e::WaitForMessageCount("alice", 1, 300));
  EXPECT_TRUE(TempFolderEmpty());
}

TEST_F(SendE2e, UnopenableSendFileLeavesNoTemporaryFile) {
  EXPECT_EQ(Zelsend(SmtpArg() + " -Mbob@localhost -Nn -F" + dir.File("nothere.qml")), 255);
  EXPECT_EQ(err, U8(u8"err: 送信ファイルが開けない [") + dir.File("nothere.qml") + U8(u8"]\n詳細: 送信ファイルが開けない [") +
                     dir.File("nothere.qml") + "]: No such file or directory\n");
  EXPECT_TRUE(TempFolderEmpty());
}
#endif

// A host program: APOP chosen by option, then zelSendMailOne.
TEST_F(SendE2e, HostProgramWithApopPopBeforeSmtp) {
  const std::string mail = PrepareMail("apop");
  const e2e::Servers& servers = TestServers();
  ASSERT_EQ(zelInitialize(servers.Pop3Server().c_str(), servers.SmtpServer().c_str(), "alice",
                          servers.Password("alice").c_str(), "bob@localhost", "鈴木一郎"),
            1);
  zelSetValueInt("APOP", 1);
  zelSetValueInt("POPBEFORESMTP", 1);
  char error[256] = {};
  EXPECT_EQ(zelSendMailOne(mail.c_str(), nullptr), 1) << (zelGetErrorStr(error, 256), error);
  ASSERT_TRUE(e2e::WaitForMessageCount("alice", 1));
  EXPECT_EQ(CheckDelivered(), "OK\n");

  // The same with a wrong password: the APOP login fails, nothing is sent.
  e2e::ClearMaildir("alice");
  ASSERT_EQ(zelInitialize(servers.Pop3Server().c_str(), servers.SmtpServer().c_str(), "alice",
                          "wrongpw", "bob@localhost", "鈴木一郎"),
            1);
  EXPECT_EQ(zelSendMailOne(mail.c_str(), nullptr), 0);
  EXPECT_EQ(zelGetErrorInt(), -220);
  EXPECT_FALSE(e2e::WaitForMessageCount("alice", 1, 300));
  zelSetValueInt("APOP", 0);
}

// Send files a hostile host could write, through the real SMTP server: the
// message arrives once, as written. A 66,500-byte Subject whose blank
// falls at the end of the first part the builder encodes, followed by ".",
// once put a lone "." into the DATA stream; a CR alone in the body ends its
// line (a server that takes it for a line end reads the same lines).
TEST_F(SendE2e, HostileSendFilesArriveOnceAsWritten) {
  // 160 letters, then half-width katakana (single bytes: every read of the
  // send file is 1,023 bytes) up to byte 66,494 of the line, a blank, ".".
  const std::string subject = std::string(160, 'x') + " " + std::string(66324, '\xB1') + " .";
  std::string expectSubject = std::string(160, 'x') + " ";
  for (int i = 0; i < 66324; ++i) expectSubject += U8(u8"ア");  // widened on the way out
  struct Case {
    std::string sendFile, subject, body;
  };
  const Case cases[] = {
      {"To: alice@localhost\r\nSubject: " + subject + "\r\n\r\n本文\r\n", expectSubject + " .",
       U8(u8"本文\n")},
      {"To: alice@localhost\r\nSubject: cr\r\n\r\nline 1\rline 2\r.\r\nline 3\r.\rx\r\n", "cr",
       "line 1\nline 2\n.\nline 3\n.\nx\n"},
  };
  const e2e::Servers& servers = TestServers();
  ASSERT_EQ(zelInitialize(servers.Pop3Server().c_str(), servers.SmtpServer().c_str(), "alice",
                          servers.Password("alice").c_str(), "bob@localhost", "Bob"),
            1);
  zelSetValueInt("POPBEFORESMTP", 0);
  e2e::WriteFileBytes(dir.File("expect_from_name"), "Bob");
  e2e::WriteFileBytes(dir.File("expect_attachments"), "");
  for (const Case& c : cases) {
    e2e::ClearMaildir("alice");
    e2e::WriteFileBytes(dir.File("mail.qml"), c.sendFile);
    e2e::WriteFileBytes(dir.File("expect_subject"), c.subject);
    e2e::WriteFileBytes(dir.File("expect_body"), c.body);
    char error[256] = {};
    EXPECT_EQ(zelSendMailOne(dir.File("mail.qml").c_str(), nullptr), 1)
        << (zelGetErrorStr(error, 256), error);
    ASSERT_TRUE(e2e::WaitForMessageCount("alice", 1)) << c.subject.substr(0, 20);
    EXPECT_EQ(CheckDelivered(), "OK\n") << c.subject.substr(0, 20);
  }
}

}  // namespace
}  // namespace zel
