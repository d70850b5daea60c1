#include "api/inet_mail.h"

namespace zel {

int InetMail::RecvMailDummy(const char*, const char*) {
  ClearError();
  return 0;  // not built yet
}

}  // namespace zel
