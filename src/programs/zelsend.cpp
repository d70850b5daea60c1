// zelsend: sends one send file through the zelpost library and exits.
//
// Exit code 0 when the mail was sent, -1 (255) on every failure (one line
// beginning "err: " on standard error, then the library's reason, or the
// usage text); with --sysexits the failures end with the sysexits.h status
// of their kind instead (programs/exit_status.h); an accounts file that
// cannot be used then ends with 78. --account NAME (or the account
// "default", or the only one, of the accounts file) fills what the command
// line leaves open.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/system_log.h"
#include "programs/accounts_file.h"
#include "programs/connection_options.h"
#include "programs/console_text.h"
#include "programs/exit_status.h"
#include "programs/password_source.h"
#include "programs/sender_options.h"
#include "programs/zelpost_library.h"
#include "zelpost.h"

namespace {

using namespace zel::sender;

// The classic exit code of every failure.
constexpr int kClassicFailure = -1;

void Echo(const char* label, const char* value) {
  PutConsoleText(stdout, std::string(label) + value + "\n");
}

int Run(int argc, const char* const* argv) {
  InitConsoleText();
  SenderFields fields;
  std::string option;
  // A failure's exit code: the classic one unless --sysexits asked for
  // `sysexit`.
  const auto failed = [&fields](int sysexit) {
    return fields.longOptions.sysexits ? sysexit : kClassicFailure;
  };
  switch (ParseArguments(argc, argv, fields, option)) {
    case ParseResult::kOk:
      break;
    case ParseResult::kUsage:
      PutConsoleText(stderr, kUsageText);
      return failed(kExitUsage);
    case ParseResult::kTooLong:
      PutConsoleText(stderr, TooLongMessage(option));
      return failed(kExitUsage);
  }
  if (fields.longOptions.help) {
    PutConsoleText(stdout, kHelpText);
    return kExitOk;
  }
  if (fields.longOptions.version) {
    PrintVersion("zelsend");
    return kExitOk;
  }
  AccountsFile file;
  std::vector<const Account*> accounts;
  std::string accountMessage = LoadSelectedAccounts(fields.longOptions, file, accounts);
  if (accountMessage.empty() && accounts.size() > 1) {
    accountMessage = "err: 送信に使うアカウントは1つだけです\n";
  }
  if (accountMessage.empty() && accounts.front() != nullptr) {
    accountMessage = ApplySendAccount(file, *accounts.front(), fields);
    FillConnectionOptions(*accounts.front(), fields.longOptions);
  }
  if (fields.longOptions.syslog) zel::OpenSystemLog("zelsend");
  if (!accountMessage.empty()) {
    PutConsoleText(stderr, accountMessage);
    return failed(kExitConfig);
  }
  if (const char* message = MissingFieldMessage(fields)) {
    PutConsoleText(stderr, message);
    return failed(kExitUsage);
  }
  // Without -BP the password comes from -BF or -BE, else from the terminal.
  if (NeedsPassword(fields)) {
    AccountPassword storage;
    PasswordSources sources = PasswordSourcesOf(fields);
    if (accounts.front() != nullptr) sources = AddAccountPassword(sources, file, *accounts.front(), storage);
    bool refused = false;
    const std::string message = ReadPassword(sources, fields.password, sizeof fields.password, &refused);
    if (!message.empty()) {
      PutConsoleText(stderr, message);
      return failed(sources.origin.empty() && !refused ? kExitUsage : kExitConfig);
    }
  }
  const int popBeforeSmtp = ApplyPopBeforeSmtp(fields);
  if (popBeforeSmtp == -1) {
    PutConsoleText(stderr, "err: POP3サーバのユーザ名／パスワードが指定されていません\n");
    return failed(kExitUsage);
  }
  if (popBeforeSmtp < 0) {
    PutConsoleText(stderr, "err: SMTP認証のユーザ名／パスワードが指定されていません\n");
    return failed(kExitUsage);
  }

  Echo("SMTPName: ", fields.smtpServer);
  Echo("Mailaddr: ", fields.mailAddress);
  Echo("Fullname: ", fields.fullName);
  Echo("Filename: ", fields.sendFile);
  Echo("POP3Name: ", fields.pop3Server);
  Echo("Username: ", fields.userName);
  // The output ends up in logs: the password itself is never shown.
  Echo("Password: ", "********");
  // The lines of the newer options only when they are given: the classic
  // output stays as it was.
  if (fields.tls >= 0) Echo("TLS: ", std::to_string(fields.tls).c_str());
  if (fields.smtpAuth != 0) Echo("SMTPAuth: ", std::to_string(fields.smtpAuth).c_str());
  if (fields.caFile[0] != '\0') Echo("CAFile: ", fields.caFile);
  if (fields.utf8SendFile) Echo("SendFileCharset: ", "UTF-8");
  if (fields.charset[0] != '\0') Echo("Charset: ", fields.charset);
  if (fields.longOptions.timeout >= 0) {
    Echo("Timeout: ", std::to_string(fields.longOptions.timeout).c_str());
  }
  std::fflush(stdout);

  const zel::LibraryHandle library = OpenZelpost();
  const auto initialize = ZEL_EXPORT(library, zelInitialize);
  const auto sendMailOne = ZEL_EXPORT(library, zelSendMailOne);
  const auto getErrorStr = ZEL_EXPORT(library, zelGetErrorStr);
  const auto setValueInt = ZEL_EXPORT(library, zelSetValueInt);
  // zelSetValueStr only for -C, -U and --charset: a run without them needs
  // the classic four.
  const LongOptions& lo = fields.longOptions;
  const bool connection = lo.debug || !lo.tlsFingerprint.empty() || !lo.tlsMinVersion.empty() || !lo.proxy.empty();
  const bool textOptions =
      fields.caFile[0] != '\0' || fields.utf8SendFile || fields.charset[0] != '\0' || connection;
  const auto setValueStr = textOptions ? ZEL_EXPORT(library, zelSetValueStr) : nullptr;
  if (initialize == nullptr || sendMailOne == nullptr || getErrorStr == nullptr ||
      setValueInt == nullptr || (textOptions && setValueStr == nullptr)) {
    PutConsoleText(stderr, std::string("err: ") + kLibraryName + " がロードできません");
    return failed(kExitUnavailable);
  }

  if (initialize(fields.pop3Server, fields.smtpServer, fields.userName, fields.password,
                 fields.mailAddress, fields.fullName) != 0) {
    setValueInt("POPBEFORESMTP", popBeforeSmtp);
    if (fields.tls >= 0) setValueInt("TLS", fields.tls);
    if (fields.smtpAuth != 0) setValueInt("SMTPAUTH", fields.smtpAuth);
    if (fields.longOptions.timeout >= 0) setValueInt("TIMEOUT", fields.longOptions.timeout);
    if (fields.caFile[0] != '\0') setValueStr("TLSCAFILE", fields.caFile);
    if (fields.utf8SendFile) setValueStr("SENDFILECHARSET", "UTF-8");
    if (fields.charset[0] != '\0' && setValueStr("CHARSET", fields.charset) == 0) {
      PutConsoleText(stderr, std::string("err: --charset に指定できない値です [") + fields.charset + "]\n");
      return failed(kExitUsage);
    }
    if (connection) {
      if (const std::string message = SetConnectionOptions(setValueStr, setValueInt, lo); !message.empty()) {
        PutConsoleText(stderr, message);
        return failed(kExitConfig);
      }
    }
    if (sendMailOne(fields.sendFile, nullptr) != 0) {
      zel::SystemLogLine(std::string("送信: ") + fields.sendFile + " [" + fields.smtpServer + "]\n", false);
      zel::CloseLibrary(library);
      return kExitOk;
    }
  }
  char error[zel::kErrorTextSize] = {};
  getErrorStr(error, sizeof error);
  const FailureReason reason = ReadFailureReason(library);
  PrintFailure(error, reason);
  const auto getErrorInt = ZEL_EXPORT(library, zelGetErrorInt);
  return failed(ExitStatusOf(reason.errorClass, getErrorInt != nullptr ? getErrorInt() : 0));
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (...) {  // out of memory: a failure like any other, not a crash
    std::fputs("err: zelsend\n", stderr);
    return kClassicFailure;
  }
}
