// Where zelsend takes the POP3 password from when -BP does not give it, so
// that it need not stand on the command line, where other users can read
// it: the file named by -BF, the environment variable named by -BE, or the
// terminal.
#pragma once

#include <cstddef>
#include <string>

#include "sender/sender_options.h"

namespace zel::sender {

// The longest line read from a password file or the terminal; anything
// near it is far beyond the password field anyway.
inline constexpr std::size_t kPasswordLineLimit = 1024;

// NeedsPassword - true when the fields ask for POP before SMTP (a POP3
// server and a user name) or SMTP AUTH (-A and a user name) but hold no
// password.
bool NeedsPassword(const SenderFields& fields);

// PasswordFromSources - fills the empty password field from the first line
// of the -BF file (its line end dropped) or, without -BF, from the -BE
// environment variable; either is console text, like an argument.
// Returns "" when the field was filled or neither source is named (the
// field then stays empty); otherwise the message (Shift-JIS, ending with a
// line feed): the file cannot be read, the variable is not set, or the
// password is longer than its field.
std::string PasswordFromSources(SenderFields& fields);

// PasswordFromTerminal - asks for the password on the terminal with the
// echo off and stores the line typed. Returns "" when a line was read (an
// empty one leaves the field empty) or nothing could be read; the message
// of a password longer than its field otherwise.
std::string PasswordFromTerminal(SenderFields& fields);

}  // namespace zel::sender
