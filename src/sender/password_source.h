// Where zelsend and zelrecv take a password from when the command line
// does not give it, so that it need not stand there, where other users can
// read it: a file, an environment variable, or the terminal.
#pragma once

#include <cstddef>

#include "platform/sjis_text.h"
#include <string>
#include <string_view>

namespace zel::sender {

// The longest line read from a password file or the terminal: beyond the
// password field, which holds an OAuth 2.0 access token, so that a longer
// line is reported as too long rather than cut.
inline constexpr std::size_t kPasswordLineLimit = kSecretSize + 1;

// The sources a command line names, and how they are named in messages.
struct PasswordSources {
  std::string_view file;            // a file (host text) whose first line it is; "" none
  std::string_view fileOption;      // the option that named it ("-BF")
  std::string_view variable;        // an environment variable holding it; "" none
  std::string_view variableOption;  // the option that named it ("-BE")
  std::string_view prompt;          // asked on the terminal (Shift-JIS)
};

// PasswordFromSources - the password from the first line of the file (its
// line end dropped) or, without a file, from the environment variable;
// either is console text, like an argument. Stores it in `password` (a
// field of `size` bytes) as Shift-JIS.
// Returns "" when the field was filled or neither source is named (the
// field is then empty); otherwise the message (Shift-JIS, ending with a
// line feed): the file cannot be read, the variable is not set, or the
// password is longer than the field.
std::string PasswordFromSources(const PasswordSources& sources, char* password,
                                std::size_t size);

// ReadPassword - as PasswordFromSources; when neither source is named and
// standard input is a terminal, asks for the password there with the echo
// off (an empty line, or nothing read, leaves the field empty; a line too
// long for the field gives its message).
std::string ReadPassword(const PasswordSources& sources, char* password, std::size_t size);

}  // namespace zel::sender
