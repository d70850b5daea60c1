// InetSmtp: the SMTP (RFC 821) client of a session.
//
// Open connects and greets with HELO, or, for STARTTLS (RFC 3207) or AUTH
// (RFC 4954: PLAIN, else LOGIN, with a password; XOAUTH2, else
// OAUTHBEARER, with an OAuth 2.0 access token), with EHLO; Deliver sends MAIL FROM, one RCPT TO
// per recipient, DATA and the prepared message file byte for byte. The
// caller ends every connection with Quit (also after a failure). A reply
// that spans several lines ("250-..." then "250 ...") is read whole and
// judged on its last line; one whose lines carry different codes counts as
// unanswered. Every failure writes one log entry (module
// InetSmtp) and returns a negative code. As for POP3, the send operation
// calls Enable() before Open: connecting does not re-enable the channel.
#pragma once

#include <string>

#include "net/inet_socket.h"
#include "net/smtp_extensions.h"

namespace zel {

class InetSmtp : public InetSocket {
 public:
  // Connects to `host` (":port" overrides `port`), reads the greeting
  // (not checked) and sends "HELO heloName". With implicit TLS (SetTls) the
  // connection is encrypted first. With kTlsStartTls, or with `authUser`,
  // it greets with EHLO instead; kTlsStartTls then sends STARTTLS and EHLO
  // again over the encrypted connection. With `authUser` it logs in with
  // AUTH PLAIN (AUTH LOGIN when only that is offered) and `authPassword`,
  // or, after SetAuthSecret(kToken), AUTH XOAUTH2 (OAUTHBEARER when only
  // that is offered) with `authPassword` as the access token; the secret is
  // never sent unencrypted to a host that is not on a loopback address.
  // Returns 1 greeted; -100 no host / name does not resolve; -101 no socket;
  // -102 connection failed; -301 HELO or EHLO refused or unanswered; -400
  // TLS handshake failed; -401 certificate not trusted; -402 certificate
  // names another host; -403 STARTTLS not offered or refused; -404 AUTH not
  // offered or refused; -405 AUTH refused before anything is sent, the
  // connection being plain and the server not on the loopback address.
  int Open(const char* host, int port, const char* heloName, const char* authUser = nullptr,
           const char* authPassword = nullptr);

  // What the AUTH secret of the opens to come is: a password (the
  // default) or an access token.
  void SetAuthSecret(SaslSecret secret) { authSecret_ = secret; }

  // Delivers one message. `recipients` holds bare addresses joined by ","
  // and is split in place (every "," overwritten by NUL; empty pieces are
  // skipped). `messagePath` names the file holding the DATA phase exactly as
  // sent, final "." line included.
  // Returns 1 accepted; -302 MAIL FROM refused; -303 a RCPT TO refused
  // (later recipients are not tried); -304 DATA refused; -311 message file
  // cannot be opened; -312 file cannot be read or sent; -305 final reply
  // missing or not 2xx.
  int Deliver(const char* sender, char* recipients, const char* messagePath);

  // The address whose RCPT TO the last Deliver saw refused (-303), else
  // empty: the send operation names it in its error text.
  std::string refusedRecipient;

 private:
  // Reads one reply, skipping continuation lines (fourth character "-"),
  // each line noted in `extensions` when given (the reply to EHLO).
  // Returns true when a final line was read into replyLine and every line
  // carried the first line's code.
  bool RecvReply(SmtpExtensions* extensions = nullptr);
  // Sends "EHLO heloName" and notes the extensions of the reply. Returns
  // false (logged) when it is refused or unanswered.
  bool Ehlo(const char* heloName, SmtpExtensions& extensions);
  friend class SmtpSasl;
  // AUTH with the mechanism the secret and the offer choose. Returns 1 or
  // kAuthRefused (logged).
  int Authenticate(const char* host, const char* user, const char* password,
                   const SmtpExtensions& extensions);
  // Logs a failed TLS step (channel result -4, -5, -6); returns its code.
  int ReportTlsFailure(int channelResult, const char* host);
  // Sends the formatted command and reads its reply; true when the reply's
  // first character is `success`.
  bool Command(char success, const char* format, const char* arg);
  // Notes a refused or unanswered command (a 4xx reply as temporary, others
  // as `permanent`).
  void NoteRefusal(FailureKind permanent);

  SaslSecret authSecret_ = SaslSecret::kPassword;
};

}  // namespace zel
