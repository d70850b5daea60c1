// The long options of the console programs ("--timeout 30"): new options
// get long names because the classic one-letter options are matched
// without regard to case, and new letters would collide with them.
#pragma once

namespace zel::sender {

// The long options one command line gave. -1: not given.
struct LongOptions {
  bool help = false;      // --help
  bool version = false;   // --version
  bool sysexits = false;  // --sysexits: exit statuses of sysexits.h
  int timeout = -1;       // --timeout N: option TIMEOUT (seconds, 0 waits for ever)
  int smtpAuth = -1;      // --smtpauth N: option SMTPAUTH (0, 1 or 2)
  int popAuth = -1;       // --popauth N: option POPAUTH (0, 1 or 2)
};

// Which long options a program takes.
enum LongOptionSet : unsigned {
  kLongHelp = 1u << 0,
  kLongVersion = 1u << 1,
  kLongSysexits = 1u << 2,
  kLongTimeout = 1u << 3,
  kLongSmtpAuth = 1u << 4,
  kLongPopAuth = 1u << 5,
};

enum class LongParse {
  kNotLong,  // argv[i] is no long option (it does not begin with "--")
  kOk,       // taken; `i` is on its last argument
  kUsage,    // unknown to this program, or a value it does not take
};

// ParseLongOption - takes argv[i] when it is a long option of `allowed`:
// "--name", or "--name N" / "--name=N" for those with a number (N a
// decimal of at most 6 digits; 0 to 2 for the AUTH options). A value given
// as the next argument advances `i` to it.
LongParse ParseLongOption(int argc, const char* const* argv, int& i, unsigned allowed,
                          LongOptions& options);

}  // namespace zel::sender
