// ESMTP pieces of the SMTP client: the extensions an EHLO reply offers.
#pragma once

#include "net/sasl.h"

namespace zel {

// What an EHLO reply offers, as far as the client uses it.
struct SmtpExtensions {
  bool startTls = false;
  SaslMechanisms auth;  // the mechanisms of the AUTH keyword
};

// Notes the extension one line of an EHLO reply announces ("250-STARTTLS",
// "250 AUTH LOGIN PLAIN XOAUTH2", also the old form "250-AUTH=LOGIN").
// Keywords and mechanisms are matched without regard to case; the reply
// code and the line's first line (the server's name) announce nothing.
// `line` is a text without its CR LF; `first` is true for the reply's
// first line.
void NoteEhloLine(const char* line, bool first, SmtpExtensions& extensions);

}  // namespace zel
