// New-mail check: the number of messages waiting in the POP3 mailbox.
#include "api/inet_mail.h"

namespace zel {

// MailBiff - logs in to the POP3 server, asks STAT and quits.
// Nothing is retrieved, marked or deleted. Like every login, the check's
// own connection starts without a listing and ends discarding any.
// Returns the message count (>= 0); -1 when the login failed (the
// connection is closed at once); -203 when STAT was refused or unanswered.
// The error state stays clear, the result being the only signal, except
// after a failure of TLS or AUTH (-400 to -405), which it names; ERRDETAIL
// tells why any failure happened.
int InetMail::MailBiff() {
  if (RefuseWhileReceiving("MailBiff")) return -1;
  ClearError();
  Enable();  // a cancel of an earlier receive-all does not outlive it
  if (protocol == kProtocolImap) return MailBiffImap();
  const int login = Login(pop3Server, Pop3PortInUse(), userName, password, useApop);
  if (login != 1) {
    TakeFailure(*this);
    ReportSecureFailure(login, pop3Server, true);
    Close();  // Login may leave the connection open
    return -1;
  }
  const int count = Stat();
  if (count < 0) TakeFailure(*this);
  Quit();
  return count;
}

}  // namespace zel
