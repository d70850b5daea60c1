// ESMTP pieces of the SMTP client: the extensions an EHLO reply offers, and
// the command lines of AUTH PLAIN (RFC 4616) and AUTH LOGIN.
//
// Pure functions over caller-owned buffers. Buffers that held a password
// are wiped with WipeSecret before they go out of scope.
#pragma once

#include <cstddef>

namespace zel {

// What an EHLO reply offers, as far as the client uses it.
struct SmtpExtensions {
  bool startTls = false;
  bool authPlain = false;
  bool authLogin = false;
};

// Notes the extension one line of an EHLO reply announces ("250-STARTTLS",
// "250 AUTH LOGIN PLAIN", also the old form "250-AUTH=LOGIN"). Keywords and
// mechanisms are matched without regard to case; the reply code and the
// line's first line (the server's name) announce nothing. `line` is a text
// without its CR LF; `first` is true for the reply's first line.
void NoteEhloLine(const char* line, bool first, SmtpExtensions& extensions);

// Writes "AUTH PLAIN " and base64 of NUL, user, NUL, password (no
// authorisation identity) into `out` (capacity `size`). Returns false, with
// `out` wiped, when it does not fit.
bool AuthPlainCommand(const char* user, const char* password, char* out, std::size_t size);

// Writes base64 of `text` into `out` (capacity `size`): a reply to an AUTH
// LOGIN challenge. Returns false, with `out` wiped, when it does not fit.
bool AuthLoginResponse(const char* text, char* out, std::size_t size);

// Overwrites `size` bytes at `buffer` with zeros in a way the compiler
// cannot drop because the buffer is not read again.
void WipeSecret(void* buffer, std::size_t size);

}  // namespace zel
