// Where the console programs take a password from when the command line
// does not give it, so that it need not stand there, where other users can
// read it: the accounts file (the password itself, or a command that
// prints it), a file, an environment variable, or the terminal.
#pragma once

#include <cstddef>

#include <string>
#include <string_view>

#include "platform/file_privacy.h"
#include "platform/sjis_text.h"

namespace zel::sender {

// The longest line read from a password file, a command or the terminal:
// beyond the password field, which holds an OAuth 2.0 access token, so
// that a longer line is reported as too long rather than cut.
inline constexpr std::size_t kPasswordLineLimit = kSecretSize + 1;
// Seconds a password command may take when no TIMEOUT is given.
inline constexpr int kPasswordCommandSeconds = 300;

// The sources a command line names, and how they are named in messages.
struct PasswordSources {
  std::string_view file;            // a file (host text) whose first line it is; "" none
  std::string_view fileOption;      // the option that named it ("-BF")
  std::string_view variable;        // an environment variable holding it; "" none
  std::string_view variableOption;  // the option that named it ("-BE")
  std::string_view prompt;          // asked on the terminal (Shift-JIS)
  std::string_view plain;           // the password itself (accounts file "password")
  std::string_view command;         // a command printing it (accounts file "passwordeval")
  std::string_view origin;          // where plain or command was given ("path:line")
  int seconds = kPasswordCommandSeconds;  // the command's deadline (TIMEOUT; 0 none)
};

// UntrustedFileMessage - the message (Shift-JIS, "err: ...", ending with a
// line feed) for the file `path` (host text) that ReadTrustedFile refused:
// `what` names it ("アカウントファイル"), then the reason and the fix.
std::string UntrustedFileMessage(std::string_view what, std::string_view path, const TrustedFile& file);

// PasswordFromSources - the password of the first source named: `plain`,
// the first line of the file (its line end dropped; a trusted regular
// file, see ReadTrustedFile), the environment variable, or the first line
// the command prints (run through the shell; it must end with exit status
// 0 within `seconds` and print a line); each is console text,
// like an argument. Stores it in `password` (a field of `size` bytes) as
// Shift-JIS.
// Returns "" when the field was filled or no source is named (the field
// is then empty); otherwise the message (Shift-JIS, ending with a line
// feed): the file cannot be read or is not trusted, the variable is not
// set, the command failed or did not end in time, or the password is
// longer than the field.
// `refused`, when given, is set when the failure is one of the machine's
// setup whatever the command line says: a file refused as untrusted or not
// regular, or a command that did not end in time (exit status 78).
std::string PasswordFromSources(const PasswordSources& sources, char* password,
                                std::size_t size, bool* refused = nullptr);

// ReadPassword - as PasswordFromSources; when neither source is named and
// standard input is a terminal, asks for the password there with the echo
// off (an empty line, or nothing read, leaves the field empty; a line too
// long for the field gives its message).
std::string ReadPassword(const PasswordSources& sources, char* password, std::size_t size,
                         bool* refused = nullptr);

}  // namespace zel::sender
