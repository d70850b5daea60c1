// The command line of zelsend: options, fields and their checks.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/sjis_text.h"
#include "programs/accounts_file.h"
#include "programs/long_options.h"
#include "programs/password_source.h"

namespace zel::sender {

// The text fields of one run (Shift-JIS, NUL-terminated, zero-filled).
struct SenderFields {
  char pop3Server[kHostNameSize] = {};       // -BS
  char smtpServer[kHostNameSize] = {};       // -S
  char userName[kAccountSize] = {};          // -BU
  char password[kSecretSize] = {};           // -BP (or an access token)
  char mailAddress[kAccountSize] = {};       // -M
  char fullName[kAccountSize] = {};          // -N
  char sendFile[kPathSize] = {};             // -F
  char passwordFile[kPathSize] = {};         // -BF: a file holding the password
  char passwordVariable[kAccountSize] = {};  // -BE: an environment variable holding it
  int tls = -1;                              // -T: 0, 1 or 2; -1 not given
  int smtpAuth = 0;                          // -A (1) or --smtpauth N: option SMTPAUTH with -BU
  char caFile[kPathSize] = {};               // -C: extra trusted certificates (PEM)
  bool utf8SendFile = false;                 // -U, --utf8: the send file is UTF-8
  char charset[kShortTextSize] = {};         // --charset NAME: option CHARSET
  LongOptions longOptions;                   // --help, --version, --sysexits, --timeout N
};

// The long options zelsend takes.
inline constexpr unsigned kSendLongOptions = kLongHelp | kLongVersion | kLongSysexits | kLongTimeout |
                                             kLongSmtpAuth | kLongUtf8 | kLongCharset | kLongConfig |
                                             kLongAccount | kLongDebug | kLongConnection;

enum class ParseResult {
  kOk,
  kUsage,    // an unknown option letter: the usage text, exit -1
  kTooLong,  // a value longer than its field: `option` names it, exit -1
};

// ParseArguments - fills `fields` from argv[1..argc-1].
// An option starts with "-" or "/", its letters (any case) follow and the
// value follows them directly (-Ssmtp); other arguments are skipped; a later
// option overwrites an earlier one. Values are taken as console text and
// stored as Shift-JIS. -T takes 0, 1 or 2, -A and -U no value; the long
// options of kSendLongOptions are taken too (--smtpauth sets smtpAuth,
// --utf8 utf8SendFile as -U does, --charset NAME charset). Stops at
// the first unknown letter or long option, value -T, -A or a long option
// does not take (kUsage) or too long value; `option` then holds the
// offending argument's option letters.
ParseResult ParseArguments(int argc, const char* const* argv, SenderFields& fields,
                           std::string& option);

// MissingFieldMessage - the message of the first empty mandatory field
// (SMTP server, mail address, full name, send file), or nullptr when all
// are given. The text is Shift-JIS and ends with a line feed.
const char* MissingFieldMessage(const SenderFields& fields);

// ApplyPopBeforeSmtp - the POP-before-SMTP flag of the fields.
// Without a POP3 server the POP3 fields get placeholders (the library's
// initialisation wants all three) and the flag is 0; with SMTP AUTH (-A)
// only the server does, and the account stays for AUTH. With a POP3 server,
// user name and password the flag is 1. Returns 0 or 1; -1 when a POP3
// server was given without user name or password; -2 when -A was given
// without them.
int ApplyPopBeforeSmtp(SenderFields& fields);

// NeedsPassword - true when the fields ask for POP before SMTP (a POP3
// server and a user name) or SMTP AUTH (-A and a user name) but hold no
// password.
bool NeedsPassword(const SenderFields& fields);

// PasswordSourcesOf - the password sources -BF and -BE name; the prompt
// names the POP3 password when POP before SMTP asks for it.
PasswordSources PasswordSourcesOf(const SenderFields& fields);

// ApplySendAccount - fills what the command line left open from `account`
// of `file`: SMTP server (smtp_host, smtp_port), -M (from), -N (fullname),
// the user name, TLS, the CA file, SMTP AUTH, time-out and charsets, and
// with pop_before_smtp the POP3 server. Returns "" or the message of a
// value too long for its field.
std::string ApplySendAccount(const AccountsFile& file, const Account& account, SenderFields& fields);

// The usage text (Shift-JIS), an example command line included: the
// classic text, shown after a wrong option.
extern const char kUsageText[];

// The help of --help (Shift-JIS): every option, the classic and the new.
extern const char kHelpText[];

}  // namespace zel::sender
