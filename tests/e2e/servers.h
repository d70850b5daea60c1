// Access of the e2e tests to the real test servers started by
// scripts/test-servers.sh: their addresses, users and maildirs.
//
// The state folder is $ZEL_SERVERS_DIR when set, else the one the build
// configured (ZEL_SERVERS_DIR). Messages are dropped into and read from the
// maildirs Dovecot serves and the SMTP server delivers into.
#pragma once

#include <string>
#include <vector>

namespace zel::e2e {

struct Servers {
  std::string dir;        // state folder
  std::string pop3Host;   // 127.0.0.1
  int pop3Port = 0;
  std::string smtpHost;   // 127.0.0.1
  int smtpPort = 0;
  std::string mailDir;    // DIR/mail; one maildir per user below it
  std::vector<std::pair<std::string, std::string>> users;  // user, password
  int pop3sPort = 0;      // implicit TLS; the plain ports offer STLS / STARTTLS
  int smtpsPort = 0;
  std::string caFile;       // the CA that signed the servers' certificate
  std::string otherCaFile;  // a CA that signed nothing the servers show
  bool localPop3 = false;          // Dovecot also listens on port 110 at...
  std::string localPop3Address;    // ...the address the host name resolves to
  std::string localHostName;
  // The same listeners on ::1 only (127.0.0.1 refuses these ports).
  int pop3V6Port = 0;
  int pop3sV6Port = 0;
  int smtpV6Port = 0;
  int smtpsV6Port = 0;
  std::vector<std::pair<std::string, std::string>> tokens;  // user, XOAUTH2 access token
  int imapPort = 0;   // IMAP of the same maildirs (STARTTLS offered)
  int imapsPort = 0;  // IMAP over implicit TLS

  // Server names in the "host:port" form the clients accept.
  std::string Pop3Server() const;
  std::string SmtpServer() const;
  std::string ImapServer(bool tls = false) const;
  // Password and access token of `user`; empty when unknown.
  std::string Password(const std::string& user) const;
  std::string Token(const std::string& user) const;
};

// A path of the POSIX side as this program opens it: unchanged on POSIX,
// on drive Z: (Wine's view of the POSIX root) in a Windows build.
std::string LocalPath(const std::string& posixPath);

// Loads the state of the running servers. Returns false, with a reason in
// `*error`, when the state file is missing or incomplete.
bool LoadServers(Servers& out, std::string* error);

// The loaded state; the first call loads it and a missing state makes every
// later call fail the calling test with the reason (check with HasServers).
const Servers& TestServers();
bool HasServers();

// Drops `bytes` as a new message into the maildir of `user`. Drops of one
// process keep their order in the POP3 listing. Returns the file path.
std::string DropMessage(const std::string& user, const std::string& bytes);

// Paths of the messages in the maildir of `user` (new and cur), in listing
// order (the order they arrived in).
std::vector<std::string> ListMaildir(const std::string& user);

// Contents of those messages, in the same order.
std::vector<std::string> ReadMaildir(const std::string& user);

// Removes every message of the maildir of `user`.
void ClearMaildir(const std::string& user);

// Waits up to `milliseconds` until the maildir of `user` holds `count`
// messages. Returns true when it does.
bool WaitForMessageCount(const std::string& user, std::size_t count,
                         int milliseconds = 3000);

// Whole contents of a file ("" when it cannot be read) and a writer.
std::string ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const std::string& bytes);

// A private folder for one test's files, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string File(const std::string& name) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace zel::e2e
