// New-mail check: the number of messages waiting in the POP3 mailbox.
#include "api/inet_mail.h"
#include "store/seen_set.h"

namespace zel {

// MailBiff - logs in to the POP3 server, asks STAT and quits.
// Nothing is retrieved, marked or deleted. Like every login, the check's
// own connection starts without a listing and ends discarding any.
// Returns the message count (>= 0); -1 when the login failed (the
// connection is closed at once); -203 when STAT was refused or unanswered.
// The error state stays clear, the result being the only signal, except
// after a failure of TLS or AUTH (-400 to -405), which it names; ERRDETAIL
// tells why any failure happened.
// With BIFFSEENFILE the check also lists the maildrop (LIST and UIDL) and
// leaves in BIFFNEW the count of messages whose UIDL the seen-UIDL file
// lacks (one without a UIDL counts as new); BIFFNEW is -1 when the count
// could not be made.
int InetMail::MailBiff() {
  if (RefuseWhileReceiving("MailBiff")) return -1;
  ClearError();
  biffNew = -1;
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
  if (count >= 0 && biffSeenFile[0] != '\0') CountNew();
  Quit();
  return count;
}

void InetMail::CountNew() {
  if (NextMessage() < 0) {  // the listing failed
    TakeFailure(*this);
    return;
  }
  SeenSet seen;
  seen.Load(biffSeenFile);
  const MessageListing& listing = Listing();
  int fresh = 0;
  for (std::size_t i = 0; i < listing.Size(); ++i) {
    const char* uidl = listing.Uidl(i);
    if (uidl[0] == '\0' || !seen.Holds(uidl)) ++fresh;
  }
  biffNew = fresh;
}

}  // namespace zel
