// The command line of zelsendmail, in the manner of sendmail: one-letter
// options (case matters) that may share one argument ("-ti"), a value glued
// on or in the next argument ("-f me@example.jp", "-fme@example.jp"), the
// recipients after the options (or after "--").
#pragma once

#include <string>
#include <vector>

#include "programs/long_options.h"

namespace zel::sender {

struct SendmailFields {
  bool fromHeader = false;              // -t: recipients from To, Cc and Bcc
  bool ignoreDots = false;              // -i, -oi: a line "." does not end the message
  std::string sender;                   // -f ADDRESS (or -r): the envelope sender
  std::vector<std::string> recipients;  // the arguments after the options
  LongOptions longOptions;              // --account NAME, --config FILE, --timeout N, ...
};

// The long options zelsendmail takes.
inline constexpr unsigned kSendmailLongOptions =
    kLongHelp | kLongVersion | kLongTimeout | kLongConfig | kLongAccount | kLongDebug | kLongConnection;

enum class SendmailParse {
  kOk,
  kUsage,        // an unknown option, or one without its value
  kUnsupported,  // a mode other than delivering one message (-bs, -bp, ...)
};

// ParseSendmailArguments - fills `fields` from argv[1..argc-1]. Taken and
// ignored, as sendmail-compatible programs do: -i and every -o option
// (-oi also sets ignoreDots, -oem ...), -v, -m, -n, -U, -bm, and the values
// of -F (full name), -B, -N, -R, -V, -X, -L, -O and -h. The first argument
// that is no option, or "--", ends the options; the rest are recipients.
// `option` names the offending argument.
SendmailParse ParseSendmailArguments(int argc, const char* const* argv, SendmailFields& fields,
                                     std::string& option);

// The usage text (Shift-JIS).
extern const char kSendmailUsageText[];

}  // namespace zel::sender
