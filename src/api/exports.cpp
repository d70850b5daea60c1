// The exported functions: argument checks of the export layer, then the
// process-wide session. No exception leaves an export.
#include <new>

#include "api/call_gate.h"
#include "api/flat_session.h"
#include "api/inet_mail.h"
#include "platform/log.h"
#include "zelpost.h"

namespace zel {
namespace {

// How long unloading waits for calls still running on the flat session to
// leave it after they were cancelled. A cancelled network step returns at
// once; only a name lookup or file work can keep a call longer.
constexpr std::chrono::milliseconds kSessionCloseWait{5000};

// The flat session and the calls running on it, in static storage that is
// never destroyed: a host thread may still call an export while the process
// exits; it then finds the gate shut instead of a destroyed session.
struct FlatState {
  CallGate gate;
  InetMail* session = nullptr;
};
alignas(FlatState) unsigned char flatStorage[sizeof(FlatState)];
FlatState* const flat = new (flatStorage) FlatState;

// Creates the flat session while the library loads and destroys it while it
// unloads: running calls are cancelled and waited for, and a session that a
// call still uses is left in memory rather than freed under it.
struct FlatSessionHolder {
  FlatSessionHolder() {
    try {
      flat->session = new InetMail();
    } catch (...) {
      flat->session = nullptr;
    }
  }
  ~FlatSessionHolder() {
    flat->gate.Shut();
    InetMail* session = flat->session;
    if (session == nullptr) return;
    session->CancelOperations();
    if (!flat->gate.WaitIdle(kSessionCloseWait)) {
      ZEL_LOG(zelexport, "実行中の処理が終わらないためセッションを解放しない");
      return;
    }
    flat->session = nullptr;
    delete session;
  }
} flatSession;

bool Empty(const char* text) { return text == nullptr || *text == '\0'; }

// Runs `body` on the flat session; no session or an exception gives
// `failure` (the exception with a log entry naming the export). The call
// counts as running on the session until it returns.
template <typename Body>
int Forward(const char* exportName, int failure, Body body) {
  try {
    if (!flat->gate.Enter()) return failure;
    struct Leave {
      ~Leave() { flat->gate.Leave(); }
    } leave;
    InetMail* session = flat->session;
    if (session == nullptr) return failure;
    return body(*session);
  } catch (...) {
    ZEL_LOG(zelexport, "%s:例外が発生", exportName);
    return failure;
  }
}

}  // namespace

InetMail* FlatSession() { return flat->session; }

}  // namespace zel

using zel::Empty;
using zel::Forward;
using zel::InetMail;

extern "C" {

int ZELPOST_CALL zelVersion(char* buffer, int size) {
  try {
    return InetMail::Version(buffer, size);
  } catch (...) {
    return 0;
  }
}

int ZELPOST_CALL zelInitialize(const char* pop3name, const char* smtpname, const char* username,
                               const char* password, const char* mailaddr, const char* fullname) {
  return Forward("zelInitialize", 0, [&](InetMail& s) {
    return s.Initialize(pop3name, smtpname, username, password, mailaddr, fullname);
  });
}

int ZELPOST_CALL zelSendMailOne(const char* mailfile, const char* attachfile) {
  return Forward("zelSendMailOne", 0,
                 [&](InetMail& s) { return s.SendMail(mailfile, attachfile, nullptr); });
}

int ZELPOST_CALL zelSendMailDummy(const char* mailfile, const char* attachfile, const char* dummyfile) {
  return Forward("zelSendMailDummy", 0,
                 [&](InetMail& s) { return s.SendMail(mailfile, attachfile, dummyfile); });
}

int ZELPOST_CALL zelRecvMailAll(const char* listfile, const char* maildir, const char* dupfile,
                                const char* mailbox) {
  return Forward("zelRecvMailAll", 0, [&](InetMail& s) {
    if (Empty(listfile)) {
      ZEL_LOG(zelexport, "zelRecvMailAll:リストファイルが NULL");
      return 0;
    }
    if (Empty(maildir)) {
      ZEL_LOG(zelexport, "zelRecvMailAll:メールフォルダが NULL");
      return 0;
    }
    return s.RecvMailAll(listfile, maildir, Empty(dupfile) ? nullptr : dupfile,
                         Empty(mailbox) ? nullptr : mailbox);
  });
}

int ZELPOST_CALL zelRecvMailDummy(const char* mailfile, const char* dummyfile) {
  return Forward("zelRecvMailDummy", 0, [&](InetMail& s) {
    if (Empty(mailfile)) {
      ZEL_LOG(zelexport, "zelRecvMailDummy:メールファイルが NULL");
      return 0;
    }
    return s.RecvMailDummy(mailfile, Empty(dummyfile) ? nullptr : dummyfile);
  });
}

int ZELPOST_CALL zelMailBiff(void) {
  return Forward("zelMailBiff", 0, [&](InetMail& s) { return s.MailBiff(); });
}

int ZELPOST_CALL zelSetValueInt(const char* name, int value) {
  return Forward("zelSetValueInt", 0, [&](InetMail& s) { return s.SetValueInt(name, value); });
}

int ZELPOST_CALL zelGetValueInt(const char* name) {
  return Forward("zelGetValueInt", 0, [&](InetMail& s) { return s.GetValueInt(name); });
}

int ZELPOST_CALL zelSetValueStr(const char* name, const char* value) {
  return Forward("zelSetValueStr", 0, [&](InetMail& s) { return s.SetValueStr(name, value); });
}

int ZELPOST_CALL zelGetValueStr(const char* name, char* buffer, int size) {
  return Forward("zelGetValueStr", 0, [&](InetMail& s) { return s.GetValueStr(name, buffer, size); });
}

int ZELPOST_CALL zelGetErrorInt(void) {
  return Forward("zelGetErrorInt", 0, [&](InetMail& s) { return s.GetErrorInt(); });
}

int ZELPOST_CALL zelGetErrorStr(char* buffer, int size) {
  return Forward("zelGetErrorStr", 0, [&](InetMail& s) { return s.GetErrorStr(buffer, size); });
}

int ZELPOST_CALL zelDialogAttach(const char* filename) {
  return Forward("zelDialogAttach", 0, [&](InetMail& s) { return s.DialogAttach(filename); });
}

int ZELPOST_CALL zelGetAttach(int) { return 0; }

int ZELPOST_CALL zelGetAttachList(int, int) { return -1; }

int ZELPOST_CALL zelPoplist(int, int, int) { return 1; }

int ZELPOST_CALL zelPencode(const char* plain, char* buffer) {
  try {
    return InetMail::Pencode(plain, buffer);
  } catch (...) {
    return 0;
  }
}

int ZELPOST_CALL zelPdecode(const char* scrambled, char* buffer) {
  try {
    return InetMail::Pdecode(scrambled, buffer);
  } catch (...) {
    return 0;
  }
}

}  // extern "C"
