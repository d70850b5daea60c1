#include "api/inet_mail.h"

namespace zel {

// The attachment dialog is not built in this version: nothing is shown.
int InetMail::DialogAttach(const char*) { return 0; }  // not built yet

}  // namespace zel
