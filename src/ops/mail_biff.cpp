#include "api/inet_mail.h"

namespace zel {

int InetMail::MailBiff() {
  ClearError();
  return -1;  // not built yet
}

}  // namespace zel
