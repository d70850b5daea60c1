// The argument checks made before the receive operations, the same for the
// flat exports and the automation members.
#pragma once

namespace zel {

class InetMail;

// RecvMailAll on `session` after the checks: an absent or empty list file
// or mail folder refuses the call (result 0 and a log entry; the error state
// is not touched); an empty seen-UIDL file or mailbox name counts as absent.
int CheckedRecvMailAll(InetMail& session, const char* listfile, const char* maildir, const char* dupfile,
                       const char* mailbox);

// RecvMailDummy on `session` after the checks: an absent or empty mail file
// refuses the call (result 0 and a log entry); an empty dummy file name
// counts as absent.
int CheckedRecvMailDummy(InetMail& session, const char* mailfile, const char* dummyfile);

}  // namespace zel
