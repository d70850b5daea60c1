// The long options of the console programs ("--timeout 30"): new options
// get long names because the classic one-letter options are matched
// without regard to case, and new letters would collide with them.
#pragma once

#include <string>
#include <vector>

namespace zel::sender {

// The long options one command line gave. -1: not given.
struct LongOptions {
  bool help = false;      // --help
  bool version = false;   // --version
  bool sysexits = false;  // --sysexits: exit statuses of sysexits.h
  int timeout = -1;       // --timeout N: option TIMEOUT (seconds, 0 waits for ever)
  int smtpAuth = -1;      // --smtpauth N: option SMTPAUTH (0, 1 or 2)
  int popAuth = -1;       // --popauth N: option POPAUTH (0, 1 or 2)
  bool deleteSeen = false;  // --delete-seen: option DELESEEN
  int maxSize = -1;       // --max-size N: option MAXSIZE (bytes)
  bool utf8 = false;      // --utf8: option SENDFILECHARSET "UTF-8"
  std::string charset;    // --charset NAME: option CHARSET; empty: not given
  std::string config;     // --config FILE: the accounts file (console text)
  std::vector<std::string> accounts;  // --account NAME, each one given
  bool all = false;       // --all: every account of the file
  // --maildir DIR, --mbox FILE or --mda COMMAND (one of them): options
  // MAILDIR, MBOX, MDA (console text).
  std::string maildir;
  std::string mbox;
  std::string mda;
  bool keepDisplay = false;  // --keep-display: option KEEPDISPLAY
  bool noSync = false;       // --no-sync: option SYNC 0
  bool count = false;        // --count: count the messages only
  bool imap = false;         // --imap: option PROTOCOL 1
  std::string folder;        // --folder NAME: option IMAPFOLDER (console text)
  bool idle = false;         // --idle: stay connected, receive each new message
  bool debug = false;         // --debug: option DEBUG (the protocol trace)
  bool syslog = false;        // --syslog: the result lines to the system log too
  std::string tlsFingerprint; // --tls-fingerprint HEX: option TLSFINGERPRINT
  std::string tlsMinVersion;  // --tls-min-version 1.2|1.3: option TLSMINVERSION
  std::string proxy;          // --proxy HOST:PORT: option PROXY (SOCKS5)
  std::string filter;         // --filter COMMAND: option FILTER (console text)
  int killSize = -1;          // --kill-size N: option KILLSIZE (bytes)
  // Why ParseLongOption answered kUsage, naming the option (Shift-JIS).
  std::string problem;
};

// Which long options a program takes.
enum LongOptionSet : unsigned {
  kLongHelp = 1u << 0,
  kLongVersion = 1u << 1,
  kLongSysexits = 1u << 2,
  kLongTimeout = 1u << 3,
  kLongSmtpAuth = 1u << 4,
  kLongPopAuth = 1u << 5,
  kLongDeleteSeen = 1u << 6,
  kLongMaxSize = 1u << 7,
  kLongUtf8 = 1u << 8,
  kLongCharset = 1u << 9,
  kLongConfig = 1u << 10,
  kLongAccount = 1u << 11,  // --account NAME
  kLongAll = 1u << 12,
  kLongDelivery = 1u << 13,  // --maildir, --mbox, --mda, --keep-display, --no-sync
  kLongCount = 1u << 14,
  kLongImap = 1u << 15,  // --imap, --folder NAME, --idle
  kLongDebug = 1u << 16,  // --debug, --syslog
  kLongConnection = 1u << 17,  // --tls-fingerprint, --tls-min-version, --proxy
  kLongScreen = 1u << 18,  // --filter COMMAND, --kill-size N
};

enum class LongParse {
  kNotLong,  // argv[i] is no long option (it does not begin with "--")
  kOk,       // taken; `i` is on its last argument
  kUsage,    // unknown to this program, or a value it does not take
};

// ParseLongOption - takes argv[i] when it is a long option of `allowed`:
// "--name", or "--name N" / "--name=N" for those with a number (N
// decimal digits only: up to 999999 for --timeout, 0 to 2 for the AUTH
// options, a byte count up to 2147483647 for --max-size), or "--charset
// NAME" / "--charset=NAME" (printable ASCII; the caller bounds its
// length), or a text option with its value in the same two forms: an
// account name (--account, printable ASCII, no blank), a path or a command
// (not empty). At most one of --maildir, --mbox and --mda is taken. A value
// given as the next argument advances `i` to it.
LongParse ParseLongOption(int argc, const char* const* argv, int& i, unsigned allowed,
                          LongOptions& options);

}  // namespace zel::sender
