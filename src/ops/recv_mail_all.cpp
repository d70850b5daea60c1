#include "api/inet_mail.h"

namespace zel {

int InetMail::RecvMailAll(const char*, const char*, const char*, const char*) {
  ClearError();
  return 0;  // not built yet
}

void InetMail::ReportTotal(int) {}

}  // namespace zel
