// The accounts file of the console programs: the settings of each mail
// account, so that a run names an account instead of repeating its options.
//
//   # comment
//   defaults
//   tls 1
//   account home
//   pop3_host pop.example.jp
//   user taro
//   passwordeval pass show mail/taro
//
// Sections "defaults" and "account NAME"; one "key value" per line, the
// value the rest of the line (blanks around it dropped). An account starts
// with the values of the defaults sections before it; its own lines
// override them, a later line an earlier one. Keys are one table
// (accounts_file.cpp): a new key is one row and one field.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "programs/long_options.h"
#include "programs/password_source.h"

namespace zel::sender {

// One value of an account (console text) and the line that gave it.
struct Setting {
  std::string value;
  int line = 0;  // 0: not given
  bool Given() const { return line > 0; }
};

struct Account {
  std::string name;
  Setting pop3Host, pop3Port, smtpHost, smtpPort, user, from, fullName;
  Setting tls;            // "0", "1" or "2"
  Setting tlsTrustFile;
  Setting smtpAuth;       // "0", "1" or "2" (as --smtpauth)
  Setting popAuth;        // "0", "1" or "2" (as --popauth)
  Setting apop;           // "0" or "1" (on/off in the file)
  Setting popBeforeSmtp;  // "0" or "1": zelsend logs in to pop3_host first
  Setting timeout, maxSize;
  Setting listFile, mailFolder, seenFile, mailbox;
  Setting deleteOnServer;  // "0" or "1"
  Setting delivery;        // "display", "maildir DIR", "mbox FILE" or "mda COMMAND"
  Setting keepDisplay;     // "0" or "1"
  Setting charset, sendFileCharset;
  Setting protocol;    // "pop3" or "imap"
  Setting imapFolder;  // the IMAP folder (console text)
  Setting tlsFingerprint;  // SHA-256 of the server certificate (TLSFINGERPRINT)
  Setting tlsMinVersion;   // "1.2" or "1.3" (TLSMINVERSION)
  Setting proxy;           // SOCKS5 "[user:password@]host:port" (PROXY)
  Setting filter;          // command screening new mail (FILTER)
  Setting killSize;        // bytes above which mail is deleted unread (KILLSIZE)
  // The password source, the last of password, passwordeval, passwordfile
  // and passwordenv given.
  Setting password;
  std::string passwordKey;
};

struct AccountsFile {
  std::string path;  // console text, as messages name it
  std::vector<Account> accounts;
  int passwordLine = 0;  // the first "password" line: the file must be private

  const Account* Find(std::string_view name) const;
};

// DefaultAccountsPath - $XDG_CONFIG_HOME/zelpost/accounts, else
// ~/.config/zelpost/accounts (Windows: %APPDATA%\zelpost\accounts); empty
// when no folder is known.
std::string DefaultAccountsPath();

// ParseAccounts - the accounts of the file text `text` into `out` (whose
// path names the file in messages). Returns "" or the message of the first
// bad line (Shift-JIS, "err: ... [path:line] ...", ending with a line
// feed): an unknown key, a value the key does not take, a key outside an
// account or defaults section, an account without a name or given twice.
std::string ParseAccounts(std::string_view text, AccountsFile& out);

// LoadAccounts - reads and parses the file `path` (console text). A file
// that does not exist is no error unless `required` (then `out` has no
// accounts). A file holding a "password" line that others may read is
// refused. Returns "" or the message (Shift-JIS, ending with a line feed).
std::string LoadAccounts(const std::string& path, bool required, AccountsFile& out);

// SelectAccounts - the accounts a command line picks: every one with
// --all, those named by --account in their order, else the one named
// "default", else the only one; none when the file has several and none
// is named "default". Returns "" or the message for a name the file lacks.
std::string SelectAccounts(const AccountsFile& file, const LongOptions& options,
                           std::vector<const Account*>& out);

// LoadSelectedAccounts - loads the accounts file of --config, else the
// default one, and selects the accounts of the command line into `out`;
// `out` holds one nullptr (the command line alone) when none applies. A
// missing file is an error only when --config, --account or --all asks
// for it. Returns "" or the message (Shift-JIS, ending with a line feed).
std::string LoadSelectedAccounts(const LongOptions& options, AccountsFile& file,
                                 std::vector<const Account*>& out);

// AccountSource - "path:line" of a setting, for messages (console text).
std::string AccountSource(const AccountsFile& file, const Setting& setting);

// The texts an account's password sources name (PasswordSources holds
// views of them).
struct AccountPassword {
  std::string file;    // host text
  std::string origin;  // "path:line"
};

// AddAccountPassword - `sources` with the account's password source added,
// unless the command line named one (a file or a variable) already.
PasswordSources AddAccountPassword(PasswordSources sources, const AccountsFile& file,
                                   const Account& account, AccountPassword& storage);

// FillFromAccount - stores `setting` (console text; with `path` a leading
// "~/" expanded) in the empty field `field` of `size` bytes as Shift-JIS.
// A field already filled (by the command line) or a setting not given is
// left alone. Returns "" or the message of a value too long for the field.
std::string FillFromAccount(char* field, std::size_t size, const AccountsFile& file,
                            const Setting& setting, bool path = false);
template <std::size_t N>
std::string FillFromAccount(char (&field)[N], const AccountsFile& file, const Setting& setting,
                            bool path = false) {
  return FillFromAccount(field, N, file, setting, path);
}

// DeliveryOf - the library option ("MAILDIR", "MBOX", "MDA"; "" for
// display files) and its value (Shift-JIS, "~/" expanded for paths) of a
// delivery setting.
void DeliveryOf(const Setting& delivery, std::string& option, std::string& target);

// ExpandHome - a leading "~/" of a path becomes the home folder.
std::string ExpandHome(std::string_view path);

// AccountServer - "host" or "host:port" ("[v6]:port" for an IPv6 address)
// from a host and a port setting.
std::string AccountServer(const Setting& host, const Setting& port);

}  // namespace zel::sender
