#include "api/entry_checks.h"

#include "api/inet_mail.h"
#include "platform/log.h"

namespace zel {
namespace {

bool Empty(const char* text) { return text == nullptr || *text == '\0'; }

const char* AbsentIfEmpty(const char* text) { return Empty(text) ? nullptr : text; }

}  // namespace

int CheckedRecvMailAll(InetMail& session, const char* listfile, const char* maildir, const char* dupfile,
                       const char* mailbox) {
  // Delivered elsewhere alone (options MAILDIR, MBOX, MDA), a run writes
  // neither list nor display files: both may be absent.
  const bool display = session.WritesDisplayFiles();
  if (display && Empty(listfile)) {
    ZEL_LOG(zelexport, "zelRecvMailAll:リストファイルが NULL");
    return 0;
  }
  if (display && Empty(maildir)) {
    ZEL_LOG(zelexport, "zelRecvMailAll:メールフォルダが NULL");
    return 0;
  }
  return session.RecvMailAll(listfile, maildir, AbsentIfEmpty(dupfile), AbsentIfEmpty(mailbox));
}

int CheckedRecvMailDummy(InetMail& session, const char* mailfile, const char* dummyfile) {
  if (Empty(mailfile)) {
    ZEL_LOG(zelexport, "zelRecvMailDummy:メールファイルが NULL");
    return 0;
  }
  return session.RecvMailDummy(mailfile, AbsentIfEmpty(dummyfile));
}

}  // namespace zel
