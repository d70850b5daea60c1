// The command line of zelrecv: options, fields and their checks.
#pragma once

#include <string>

#include "platform/sjis_text.h"
#include "programs/accounts_file.h"
#include "programs/long_options.h"
#include "programs/password_source.h"
#include "zelpost.h"

namespace zel::sender {

// The longest delivery target the library takes, NUL excluded.
inline constexpr std::size_t kDeliveryTargetLimit = ZELPOST_DELIVERY_TARGET_SIZE - 1;

// The fields of one run (Shift-JIS, NUL-terminated, zero-filled). The
// password is no option: it comes from -F, -E or the terminal.
struct RecvFields {
  char pop3Server[kHostNameSize] = {};       // -S: name[:port]
  char userName[kAccountSize] = {};          // -U
  char password[kSecretSize] = {};           // or an OAuth 2.0 access token
  char passwordFile[kPathSize] = {};         // -F: a file holding the password
  char passwordVariable[kAccountSize] = {};  // -E: an environment variable holding it
  char listFile[kPathSize] = {};             // -L
  char mailFolder[kPathSize] = {};           // -M
  char seenFile[kPathSize] = {};             // -K: seen-UIDL file, optional
  char mailbox[kPathSize] = {};              // -B: mailbox file, optional
  char caFile[kPathSize] = {};               // -C: extra trusted certificates (PEM)
  int tls = -1;                              // -T: 0, 1 or 2; -1 not given
  bool apop = false;                         // -A
  bool dele = false;                         // -D: delete what was stored on the server
  bool deleteSeen = false;                   // --delete-seen: with -D, the seen messages too
  int maxSize = 0;                           // --max-size N: bytes; 0 no limit
  bool verbose = false;                      // -V
  bool help = false;                         // -H, -?, --help
  // --maildir, --mbox or --mda (or the account's delivery): the option
  // MAILDIR, MBOX or MDA and its value (Shift-JIS); empty: display files.
  std::string deliveryOption;
  std::string deliveryTarget;
  bool keepDisplay = false;                  // --keep-display: the display files too
  bool imap = false;                         // --imap (or the account's protocol imap)
  char imapFolder[kPathSize] = {};           // --folder NAME: the IMAP folder; empty INBOX
  LongOptions longOptions;                   // --version, --timeout N, --popauth N, ...
};

// The long options zelrecv takes.
inline constexpr unsigned kRecvLongOptions = kLongHelp | kLongVersion | kLongTimeout | kLongPopAuth |
                                             kLongDeleteSeen | kLongMaxSize | kLongConfig |
                                             kLongAccount | kLongAll | kLongDelivery | kLongCount |
                                             kLongImap | kLongDebug | kLongConnection | kLongScreen;

enum class RecvParse {
  kOk,
  kUsage,    // an unknown option or a value an option does not take: `option` says which
  kTooLong,  // a value longer than its field: `option` names it
};

// ParseRecvArguments - fills `fields` from argv[1..argc-1] in the manner of
// zelsend: an option starts with "-" or "/", its letter (any case) follows
// and the value follows the letter directly (-Spop.example.jp); other
// arguments are skipped; a later option overwrites an earlier one. Values
// are console text, stored as Shift-JIS. -T takes 0, 1 or 2; -A, -D, -V and
// -H no value; the long options of kRecvLongOptions are taken too
// (--max-size N: a byte count of at most 2147483647). Stops at the first
// unknown option, a missing or wrong value (kUsage, `option` then holds the
// problem, Shift-JIS: "不明なオプション: --bogus", "-E の値がありません") or a
// value too long for its field (kTooLong, `option` then holds its letters).
RecvParse ParseRecvArguments(int argc, const char* const* argv, RecvFields& fields,
                             std::string& option);

// MissingRecvField - the message of the first empty mandatory field (POP3
// server, user name, and, when display files are written, list file and
// mail folder; --count needs neither), or nullptr when all are given.
// Shift-JIS, ends with a line feed.
const char* MissingRecvField(const RecvFields& fields);

// ApplyRecvAccount - fills what the command line left open from `account`
// of `file` (the command line wins). Returns "" or the message of a value
// too long for its field (naming the file and line).
std::string ApplyRecvAccount(const AccountsFile& file, const Account& account, RecvFields& fields);

// RecvPasswordSources - the password sources -F and -E name, else those of
// the account (`account` may be nullptr); `storage` keeps their texts.
PasswordSources RecvPasswordSources(const RecvFields& fields, const AccountsFile* file,
                                    const Account* account, AccountPassword& storage);

// The usage text (Shift-JIS), for -H on standard output and after a wrong
// option on standard error.
extern const char kRecvUsageText[];
// The line after a usage error.
extern const char kRecvHelpPointer[];

}  // namespace zel::sender
