// InetSmtp: the SMTP (RFC 821) client of a session.
//
// Open connects and greets with HELO; Deliver sends MAIL FROM, one RCPT TO
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

namespace zel {

class InetSmtp : public InetSocket {
 public:
  // Connects to `host` (":port" overrides `port`), reads the greeting
  // (not checked) and sends "HELO heloName".
  // Returns 1 greeted; -100 no host / name does not resolve; -101 no socket;
  // -102 connection failed; -301 HELO refused or unanswered.
  int Open(const char* host, int port, const char* heloName);

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
  // Reads one reply, skipping continuation lines (fourth character "-").
  // Returns true when a final line was read into replyLine and every line
  // carried the first line's code.
  bool RecvReply();
  // Sends the formatted command and reads its reply; true when the reply's
  // first character is `success`.
  bool Command(char success, const char* format, const char* arg);
};

}  // namespace zel
