// zelrecv: receives all new mail through the zelpost library, showing the
// progress dialog's counts, subject and sender, and exits.
//
// The main thread runs zelRecvMailAll, which pumps the dialog's messages;
// a watcher thread reads the dialog and, after Ctrl-C, presses its Cancel
// button. Exit status: 0 when the run succeeded (also with nothing new),
// the sysexits.h status of the failure's kind (programs/exit_status.h: 64 a
// wrong command line, 68 no such host, 69 refused, TLS failed or no
// library, 74 a local file, 75 time-out or temporary failure, 77 login
// refused, 78 a setting or the accounts file), 130 after Ctrl-C; each
// failure with one line beginning "err: " on standard error, and the
// library's reason after it. After a failed account the next one still
// runs; the status is the first failure's.
//
// --idle (IMAP): after the first run, the new-mail check waits in IDLE
// (BIFFIDLE) and each new message is received as it arrives; a failed
// wait or run is tried again after a pause that doubles up to a minute.
// Ctrl-C ends the wait (BIFFIDLE set to 0 from the watcher thread) or the
// run (Cancel), and the program with status 130.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/interrupt.h"
#include "platform/system_log.h"
#include "platform/terminal.h"
#include "programs/accounts_file.h"
#include "programs/connection_options.h"
#include "programs/console_text.h"
#include "programs/dialog_access.h"
#include "programs/exit_status.h"
#include "programs/password_source.h"
#include "programs/progress_view.h"
#include "programs/progress_watch.h"
#include "programs/recv_options.h"
#include "programs/zelpost_library.h"
#include "zelpost.h"

namespace {

using namespace zel::sender;

// zelRecvMailAll's result after Cancel.
constexpr int kCancelled = -2;

// The library's initialisation wants an SMTP server and a mail address,
// which receiving never uses.
constexpr const char* kUnusedSmtpServer = "smtpserver";
constexpr const char* kUnusedMailAddress = "mailaddress";
// The library's TIMEOUT when none is given.
constexpr int kDefaultTimeout = 300;
// --idle: one wait of the new-mail check (the library renews IDLE within
// it), and the pauses before trying again after a failure.
constexpr int kIdleWaitSeconds = 29 * 60;
constexpr int kIdleFirstPauseMs = 1000;
constexpr int kIdleLongestPauseMs = 60 * 1000;
// How often the idle loop's watcher looks for Ctrl-C.
constexpr int kInterruptPollMs = 100;

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
  if (f.imap) text += std::string("IMAP: ") + (f.imapFolder[0] != '\0' ? f.imapFolder : "INBOX") + "\n";
  PutConsoleText(stderr, text);
}

// A path field as zelRecvMailAll takes an optional path: nullptr for none.
const char* Optional(const char* field) { return field[0] != '\0' ? field : nullptr; }

// The exports a run uses, resolved once for every account.
struct Zelpost {
  zel::LibraryHandle library = nullptr;
  decltype(&zelInitialize) initialize = nullptr;
  decltype(&zelSetValueInt) setValueInt = nullptr;
  decltype(&zelSetValueStr) setValueStr = nullptr;
  decltype(&zelGetValueStr) getValueStr = nullptr;
  decltype(&zelGetValueInt) getValueInt = nullptr;
  decltype(&zelRecvMailAll) recvMailAll = nullptr;
  decltype(&zelMailBiff) mailBiff = nullptr;
  decltype(&zelGetErrorInt) getErrorInt = nullptr;
  decltype(&zelGetErrorStr) getErrorStr = nullptr;
  DialogAccess access;

  // Loads the library when not yet loaded. False when it or an export is missing.
  bool Load() {
    if (library != nullptr) return true;
    library = OpenZelpost();
    initialize = ZEL_EXPORT(library, zelInitialize);
    setValueInt = ZEL_EXPORT(library, zelSetValueInt);
    setValueStr = ZEL_EXPORT(library, zelSetValueStr);
    getValueStr = ZEL_EXPORT(library, zelGetValueStr);
    getValueInt = ZEL_EXPORT(library, zelGetValueInt);
    recvMailAll = ZEL_EXPORT(library, zelRecvMailAll);
    mailBiff = ZEL_EXPORT(library, zelMailBiff);
    getErrorInt = ZEL_EXPORT(library, zelGetErrorInt);
    getErrorStr = ZEL_EXPORT(library, zelGetErrorStr);
    return initialize != nullptr && setValueInt != nullptr && setValueStr != nullptr && getValueStr != nullptr &&
           getValueInt != nullptr && recvMailAll != nullptr && mailBiff != nullptr &&
           getErrorInt != nullptr && getErrorStr != nullptr && DialogAccessForThisThread(library, access);
  }

  // "err: <text>" and the reason; the exit status of the failure.
  int Failed(const std::string& text) {
    const FailureReason reason = ReadFailureReason(library);
    PrintFailure(text, reason);
    return ExitStatusOf(reason.errorClass, getErrorInt());
  }
};

// Sets every option of a run: an account's values never stay for the next.
void SetOptions(Zelpost& z, const RecvFields& f) {
  z.setValueInt("DELE", f.dele ? 1 : 0);
  z.setValueInt("DELESEEN", f.deleteSeen ? 1 : 0);
  z.setValueInt("MAXSIZE", f.maxSize);
  z.setValueInt("APOP", f.apop ? 1 : 0);
  z.setValueInt("TLS", f.tls >= 0 ? f.tls : 0);
  z.setValueStr("TLSCAFILE", f.caFile);
  z.setValueInt("TIMEOUT", f.longOptions.timeout >= 0 ? f.longOptions.timeout : kDefaultTimeout);
  z.setValueInt("POPAUTH", f.longOptions.popAuth >= 0 ? f.longOptions.popAuth : 0);
  for (const char* option : {"MAILDIR", "MBOX", "MDA"}) z.setValueStr(option, "");
  if (!f.deliveryOption.empty()) z.setValueStr(f.deliveryOption.c_str(), f.deliveryTarget.c_str());
  z.setValueInt("KEEPDISPLAY", f.keepDisplay ? 1 : 0);
  z.setValueInt("SYNC", f.longOptions.noSync ? 0 : 1);
  z.setValueStr("BIFFSEENFILE", f.seenFile);
  z.setValueInt("PROTOCOL", f.imap ? 1 : 0);
  z.setValueStr("IMAPFOLDER", f.imapFolder[0] != '\0' ? f.imapFolder : "INBOX");
  z.setValueInt("BIFFIDLE", 0);
}

// --count: the new and the total count, one line.
int Count(Zelpost& z, const RecvFields& f, const Account* account) {
  const int total = z.mailBiff();
  if (total < 0) {
    char error[zel::kErrorTextSize] = {};
    z.getErrorStr(error, sizeof error);
    return z.Failed(error[0] != '\0' ? std::string(error)
                                     : std::string("POP3サーバへのログインに失敗 [") + f.pop3Server + "]");
  }
  // Without a seen-UIDL file every message is new.
  const int fresh = f.seenFile[0] != '\0' ? z.getValueInt("BIFFNEW") : total;
  std::string line = "新着 " + (fresh >= 0 ? std::to_string(fresh) : std::string("?")) + " 件 / 全 " +
                     std::to_string(total) + " 件\n";
  if (account != nullptr) line = HostText(account->name) + ": " + line;
  PutConsoleText(stdout, line);
  return kExitOk;
}

int RunOnce(Zelpost& z, RecvFields& fields);
int IdleLoop(Zelpost& z, RecvFields& fields);

// A folder name the library refused ("err: " line): true.
bool ImapFolderRefused(Zelpost& z, const RecvFields& fields) {
  if (fields.imapFolder[0] == '\0') return false;
  char folder[zel::kPathSize] = {};
  z.getValueStr("IMAPFOLDER", folder, sizeof folder);
  if (std::string(folder) == fields.imapFolder) return false;
  PutConsoleText(stderr, std::string("err: IMAPのフォルダ名に使えない文字があります [") + fields.imapFolder + "]\n");
  return true;
}

// One run with the settings `fields` (those of `account` in `file`, when
// given): checks, password, the library's run. Returns the exit status.
int ReceiveOne(Zelpost& z, RecvFields& fields, const AccountsFile& file, const Account* account) {
  if (const char* message = MissingRecvField(fields)) {
    PutConsoleText(stderr, message);
    return kExitUsage;
  }
  AccountPassword storage;
  // An account's password goes to its own server only, unless the run
  // names the account (--account, --all) for whatever server it gives.
  const bool named = fields.longOptions.all || !fields.longOptions.accounts.empty();
  const bool ownServer = account != nullptr &&
                         HostText(AccountServer(account->pop3Host, account->pop3Port)) == fields.pop3Server;
  const PasswordSources sources =
      RecvPasswordSources(fields, &file, named || ownServer ? account : nullptr, storage);
  bool refused = false;
  if (const std::string message = ReadPassword(sources, fields.password, sizeof fields.password, &refused);
      !message.empty()) {
    PutConsoleText(stderr, message);
    return sources.origin.empty() && !refused ? kExitUsage : kExitConfig;
  }
  if (fields.password[0] == '\0') {
    PutConsoleText(stderr, "err: パスワードが指定されていません (-F、-E または端末から入力)\n");
    return kExitUsage;
  }
  if (fields.verbose) EchoSettings(fields);

  if (!z.Load()) {
    PutConsoleText(stderr, std::string("err: ") + kLibraryName + " がロードできません\n");
    return kExitUnavailable;
  }
  char error[zel::kErrorTextSize] = {};
  if (z.initialize(fields.pop3Server, kUnusedSmtpServer, fields.userName, fields.password,
                   kUnusedMailAddress, "") == 0) {
    z.getErrorStr(error, sizeof error);
    return z.Failed(error);
  }
  SetOptions(z, fields);
  if (const std::string message = SetConnectionOptions(z.setValueStr, z.setValueInt, fields.longOptions);
      !message.empty()) {
    PutConsoleText(stderr, message);
    return kExitConfig;
  }
  if (ImapFolderRefused(z, fields)) return kExitConfig;
  if (fields.longOptions.count) return Count(z, fields, account);
  const int status = RunOnce(z, fields);
  if (!fields.longOptions.idle || status == kExitInterrupted || status == kExitUsage ||
      status == kExitNoPerm || status == kExitConfig) {
    return status;
  }
  return IdleLoop(z, fields);
}

// One zelRecvMailAll with the progress line. Returns the exit status.
int RunOnce(Zelpost& z, RecvFields& fields) {
  char error[zel::kErrorTextSize] = {};
  const bool listed = fields.deliveryOption.empty() || fields.keepDisplay;
  ProgressView view(zel::StdoutIsTerminal(), listed ? fields.listFile : "");
  zel::CatchInterrupt();
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    try {
      WatchProgress(z.access, view, done);
    } catch (...) {  // out of memory: the run goes on without its display
    }
  });
  const int result = z.recvMailAll(fields.listFile, fields.mailFolder, Optional(fields.seenFile),
                                   Optional(fields.mailbox));
  done.store(true);
  zel::WakeInterruptWait();  // the watcher ends now, not at its next look
  watcher.join();

  const bool succeeded = result >= 0 && z.getErrorInt() == 0;
  view.Finish(result, succeeded);
  if (result == kCancelled) {
    PutConsoleText(stderr, "err: 受信を中断しました\n");
    return kExitInterrupted;
  }
  if (!succeeded) {
    z.getErrorStr(error, sizeof error);
    // A refused login or listing leaves no error text (the classic
    // interface reports it in the log only); the reason tells what it was.
    return z.Failed(error[0] != '\0' ? std::string(error)
                                     : std::string("POP3サーバへのログインまたはメール一覧の取得に失敗 [") +
                                           fields.pop3Server + "]");
  }
  const std::string received = "受信: " + std::to_string(result) + "件 [" + fields.pop3Server + "]\n";
  zel::SystemLogLine(received, false);
  if (fields.verbose) PutConsoleText(stderr, "受信: " + std::to_string(result) + "件\n");
  return kExitOk;
}

// --idle: waits for new mail and receives it until Ctrl-C.
int IdleLoop(Zelpost& z, RecvFields& fields) {
  int pause = kIdleFirstPauseMs;
  // After a failure: a pause that Ctrl-C ends; false when it did.
  auto rest = [&pause] {
    if (zel::WaitInterrupt(pause)) return false;
    pause = std::min(pause * 2, kIdleLongestPauseMs);
    return true;
  };
  for (;;) {
    zel::CatchInterrupt();
    z.setValueInt("BIFFIDLE", kIdleWaitSeconds);
    std::atomic<bool> done{false};
    std::atomic<bool> interrupted{false};
    std::thread watcher([&] {
      while (!done.load()) {
        if (zel::WaitInterrupt(kInterruptPollMs)) {
          interrupted.store(true);
          z.setValueInt("BIFFIDLE", 0);  // ends the wait
          return;
        }
      }
    });
    const int waited = z.mailBiff();
    done.store(true);
    watcher.join();
    z.setValueInt("BIFFIDLE", 0);
    if (interrupted.load()) break;
    if (waited < 0) {
      char error[zel::kErrorTextSize] = {};
      z.getErrorStr(error, sizeof error);
      z.Failed(error[0] != '\0' ? std::string(error)
                                : std::string("IMAPサーバで新着を待てません [") + fields.pop3Server + "]");
      if (!rest()) break;
      continue;
    }
    const int status = RunOnce(z, fields);
    if (status == kExitInterrupted) return status;
    if (status != kExitOk) {
      if (!rest()) break;
      continue;
    }
    pause = kIdleFirstPauseMs;
  }
  PutConsoleText(stderr, "err: 受信待ちを中断しました\n");
  return kExitInterrupted;
}

int Run(int argc, const char* const* argv) {
  InitConsoleText();
  RecvFields fields;
  std::string option;
  switch (ParseRecvArguments(argc, argv, fields, option)) {
    case RecvParse::kOk:
      break;
    case RecvParse::kUsage:
      PutConsoleText(stderr, "err: " + option + "\n" + kRecvHelpPointer);
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
  if (fields.longOptions.syslog) zel::OpenSystemLog("zelrecv");
  AccountsFile file;
  std::vector<const Account*> accounts;
  if (const std::string message = LoadSelectedAccounts(fields.longOptions, file, accounts); !message.empty()) {
    PutConsoleText(stderr, message);
    return kExitConfig;
  }
  Zelpost z;
  int status = kExitOk;
  for (const Account* account : accounts) {
    if (fields.longOptions.all && account != nullptr && !account->pop3Host.Given()) {
      PutConsoleText(stderr, "アカウント " + HostText(account->name) + " は受信サーバ (pop3_host) がないので飛ばします\n");
      continue;
    }
    RecvFields run = fields;
    if (account != nullptr) {
      if (const std::string message = ApplyRecvAccount(file, *account, run); !message.empty()) {
        PutConsoleText(stderr, message);
        return kExitConfig;
      }
      FillConnectionOptions(*account, run.longOptions);
    }
    const int ended = ReceiveOne(z, run, file, account);
    if (ended == kExitInterrupted) return ended;
    if (ended != kExitOk && accounts.size() > 1) {
      PutConsoleText(stderr, "err: アカウント " + HostText(account->name) + " の受信に失敗\n");
    }
    if (status == kExitOk) status = ended;
  }
  return status;
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
