// zelrecv: receives all new mail through the zelpost library, showing the
// progress dialog's counts, subject and sender, and exits.
//
// The main thread runs zelRecvMailAll, which pumps the dialog's messages;
// a watcher thread reads the dialog and, after Ctrl-C, presses its Cancel
// button. Exit status: 0 when the run succeeded (also with nothing new),
// the sysexits.h status of the failure's kind (sender/exit_status.h: 64 a
// wrong command line, 68 no such host, 69 refused, TLS failed or no
// library, 74 a local file, 75 time-out or temporary failure, 77 login
// refused, 78 a setting), 130 after Ctrl-C; each failure with one line
// beginning "err: " on standard error, and the library's reason after it.
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/interrupt.h"
#include "platform/terminal.h"
#include "sender/console_text.h"
#include "sender/dialog_access.h"
#include "sender/exit_status.h"
#include "sender/password_source.h"
#include "sender/progress_view.h"
#include "sender/progress_watch.h"
#include "sender/recv_options.h"
#include "sender/zelpost_library.h"
#include "zelpost.h"

namespace {

using namespace zel::sender;

// zelRecvMailAll's result after Cancel.
constexpr int kCancelled = -2;

// The library's initialisation wants an SMTP server and a mail address,
// which receiving never uses.
constexpr const char* kUnusedSmtpServer = "smtpserver";
constexpr const char* kUnusedMailAddress = "mailaddress";

// With -V: the settings on standard error; the password is never shown.
void EchoSettings(const RecvFields& f) {
  std::string text = std::string("POP3Name: ") + f.pop3Server + "\nUsername: " + f.userName +
                     "\nPassword: ********\nListFile: " + f.listFile +
                     "\nMailFolder: " + f.mailFolder + "\n";
  if (f.seenFile[0] != '\0') text += std::string("SeenFile: ") + f.seenFile + "\n";
  if (f.mailbox[0] != '\0') text += std::string("Mailbox: ") + f.mailbox + "\n";
  if (f.dele) text += "DELE: 1\n";
  if (f.deleteSeen) text += "DELESEEN: 1\n";
  if (f.maxSize > 0) text += "MAXSIZE: " + std::to_string(f.maxSize) + "\n";
  if (f.apop) text += "APOP: 1\n";
  if (f.tls >= 0) text += "TLS: " + std::to_string(f.tls) + "\n";
  if (f.caFile[0] != '\0') text += std::string("CAFile: ") + f.caFile + "\n";
  PutConsoleText(stderr, text);
}

// A path field as zelRecvMailAll takes an optional path: nullptr for none.
const char* Optional(const char* field) { return field[0] != '\0' ? field : nullptr; }

int Run(int argc, const char* const* argv) {
  InitConsoleText();
  RecvFields fields;
  std::string option;
  switch (ParseRecvArguments(argc, argv, fields, option)) {
    case RecvParse::kOk:
      break;
    case RecvParse::kUsage:
      PutConsoleText(stderr, kRecvUsageText);
      return kExitUsage;
    case RecvParse::kTooLong:
      PutConsoleText(stderr, TooLongMessage(option));
      return kExitUsage;
  }
  if (fields.help) {
    PutConsoleText(stdout, kRecvUsageText);
    return kExitOk;
  }
  if (fields.longOptions.version) {
    PrintVersion("zelrecv");
    return kExitOk;
  }
  if (const char* message = MissingRecvField(fields)) {
    PutConsoleText(stderr, message);
    return kExitUsage;
  }
  if (const std::string message = ReadPassword(RecvPasswordSources(fields), fields.password,
                                               sizeof fields.password);
      !message.empty()) {
    PutConsoleText(stderr, message);
    return kExitUsage;
  }
  if (fields.password[0] == '\0') {
    PutConsoleText(stderr, "err: パスワードが指定されていません (-F、-E または端末から入力)\n");
    return kExitUsage;
  }
  if (fields.verbose) EchoSettings(fields);

  const zel::LibraryHandle library = OpenZelpost();
  const auto initialize = ZEL_EXPORT(library, zelInitialize);
  const auto setValueInt = ZEL_EXPORT(library, zelSetValueInt);
  const auto setValueStr = ZEL_EXPORT(library, zelSetValueStr);
  const auto recvMailAll = ZEL_EXPORT(library, zelRecvMailAll);
  const auto getErrorInt = ZEL_EXPORT(library, zelGetErrorInt);
  const auto getErrorStr = ZEL_EXPORT(library, zelGetErrorStr);
  DialogAccess access;
  if (initialize == nullptr || setValueInt == nullptr || setValueStr == nullptr ||
      recvMailAll == nullptr || getErrorInt == nullptr || getErrorStr == nullptr ||
      !DialogAccessForThisThread(library, access)) {
    PutConsoleText(stderr, std::string("err: ") + kLibraryName + " がロードできません\n");
    return kExitUnavailable;
  }

  char error[zel::kErrorTextSize] = {};
  if (initialize(fields.pop3Server, kUnusedSmtpServer, fields.userName, fields.password,
                 kUnusedMailAddress, "") == 0) {
    getErrorStr(error, sizeof error);
    const FailureReason reason = ReadFailureReason(library);
    PrintFailure(error, reason);
    return ExitStatusOf(reason.errorClass, getErrorInt());
  }
  setValueInt("DELE", fields.dele ? 1 : 0);
  setValueInt("DELESEEN", fields.deleteSeen ? 1 : 0);
  setValueInt("MAXSIZE", fields.maxSize);
  setValueInt("APOP", fields.apop ? 1 : 0);
  if (fields.tls >= 0) setValueInt("TLS", fields.tls);
  if (fields.caFile[0] != '\0') setValueStr("TLSCAFILE", fields.caFile);
  if (fields.longOptions.timeout >= 0) setValueInt("TIMEOUT", fields.longOptions.timeout);
  if (fields.longOptions.popAuth >= 0) setValueInt("POPAUTH", fields.longOptions.popAuth);

  ProgressView view(zel::StdoutIsTerminal(), fields.listFile);
  zel::CatchInterrupt();
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    try {
      WatchProgress(access, view, done);
    } catch (...) {  // out of memory: the run goes on without its display
    }
  });
  const int result = recvMailAll(fields.listFile, fields.mailFolder, Optional(fields.seenFile),
                                 Optional(fields.mailbox));
  done.store(true);
  zel::WakeInterruptWait();  // the watcher ends now, not at its next look
  watcher.join();

  const bool succeeded = result >= 0 && getErrorInt() == 0;
  view.Finish(result, succeeded);
  if (result == kCancelled) {
    PutConsoleText(stderr, "err: 受信を中断しました\n");
    return kExitInterrupted;
  }
  if (!succeeded) {
    getErrorStr(error, sizeof error);
    const FailureReason reason = ReadFailureReason(library);
    // A refused login or listing leaves no error text (the classic
    // interface reports it in the log only); the reason tells what it was.
    PrintFailure(error[0] != '\0' ? std::string(error)
                                  : std::string("POP3サーバへのログインまたはメール一覧の取得に失敗 [") +
                                        fields.pop3Server + "]",
                 reason);
    return ExitStatusOf(reason.errorClass, getErrorInt());
  }
  if (fields.verbose) PutConsoleText(stderr, "受信: " + std::to_string(result) + "件\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (...) {  // out of memory, no thread: a failure like any other, not a crash
    std::fputs("err: zelrecv\n", stderr);
    return kExitTempFail;
  }
}
