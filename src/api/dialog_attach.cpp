#include "api/inet_mail.h"
#include "ui/attachment_dialog.h"

namespace zel {

// The attachment dialog; the error state and the log are not touched.
int InetMail::DialogAttach(const char* filename) { return RunAttachmentDialog(filename); }

}  // namespace zel
