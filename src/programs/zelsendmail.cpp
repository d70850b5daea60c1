// zelsendmail: the sendmail interface of the zelpost library. A finished
// message on standard input goes to the SMTP server of an account as it is
// (line ends CR LF, dot-stuffed, Bcc fields left out), to the recipients of
// the arguments or, with -t, of its To, Cc and Bcc fields; mail user
// agents, cron and scripts call it where they call sendmail.
//
// Quiet on success. Exit status (sysexits.h): 0 sent; 64 a wrong command
// line or no recipient; 65 a recipient refused for good (5xx); 75 refused
// for now (4xx) or a time-out; 69 the server unusable; 77 authentication
// refused; 74 a local file; 78 the accounts file or a missing setting. Each
// failure with one line beginning "err: " on standard error.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/path_charset.h"
#include "platform/temp_file.h"
#include "platform/system_log.h"
#include "programs/accounts_file.h"
#include "programs/connection_options.h"
#include "programs/console_text.h"
#include "programs/exit_status.h"
#include "programs/sender_options.h"
#include "programs/sendmail_options.h"
#include "programs/zelpost_library.h"
#include "zelpost.h"

namespace {

using namespace zel::sender;

// The library's error numbers zelsendmail tells apart.
constexpr int kRecipientRefused = -303;
constexpr int kNoRecipient = -1102;
// The RECIPIENTS option's longest value (the library's limit, NUL excluded).
constexpr std::size_t kRecipientsLimit = 64 * 1024 - 1;

// Copies standard input into the file `native`; without `ignoreDots` a line
// "." alone ends the message. False when reading or writing fails.
bool CopyMessage(const std::string& native, bool ignoreDots) {
  std::FILE* out = std::fopen(native.c_str(), "wb");
  if (out == nullptr) return false;
  bool ok = true;
  std::string line;
  char buffer[64 * 1024];
  std::size_t n;
  while (ok && (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
    if (ignoreDots) {
      ok = std::fwrite(buffer, 1, n, out) == n;
      continue;
    }
    bool ended = false;
    for (std::size_t i = 0; i < n && !ended; ++i) {
      line += buffer[i];
      if (buffer[i] != '\n') continue;
      ended = line == ".\n" || line == ".\r\n";
      if (!ended) ok = ok && std::fwrite(line.data(), 1, line.size(), out) == line.size();
      line.clear();
    }
    if (ended) break;
  }
  if (ok && !line.empty()) ok = std::fwrite(line.data(), 1, line.size(), out) == line.size();
  ok = ok && std::ferror(stdin) == 0;
  if (std::fclose(out) != 0) ok = false;
  return ok;
}

// Removes the temporary message file when the run ends.
struct MessageFile {
  char path[zel::kPathSize] = {};
  std::string native;
  ~MessageFile() {
    if (!native.empty()) std::remove(native.c_str());
  }
};

int Fail(const std::string& message, int status) {
  PutConsoleText(stderr, message);
  return status;
}

int Run(int argc, const char* const* argv) {
  InitConsoleText();
  SendmailFields args;
  std::string option;
  switch (ParseSendmailArguments(argc, argv, args, option)) {
    case SendmailParse::kOk:
      break;
    case SendmailParse::kUsage:
      return Fail(kSendmailUsageText, kExitUsage);
    case SendmailParse::kUnsupported:
      return Fail("err: この動作モードには対応していません [" + HostText(option) + "]\n", kExitUsage);
  }
  if (args.longOptions.help) {
    PutConsoleText(stdout, kSendmailUsageText);
    return kExitOk;
  }
  if (args.longOptions.version) {
    PrintVersion("zelsendmail");
    return kExitOk;
  }

  // The account and the command line's sender.
  SenderFields fields;
  fields.longOptions = args.longOptions;  // --timeout, --debug and the connection's options
  if (!args.sender.empty() && !StoreConsoleText(fields.mailAddress, args.sender)) {
    return Fail(TooLongMessage("-f"), kExitUsage);
  }
  AccountsFile file;
  std::vector<const Account*> accounts;
  if (const std::string message = LoadSelectedAccounts(args.longOptions, file, accounts); !message.empty()) {
    return Fail(message, kExitConfig);
  }
  if (accounts.size() > 1) return Fail("err: 送信に使うアカウントは1つだけです\n", kExitUsage);
  const Account* account = accounts.front();
  if (account != nullptr) {
    if (const std::string message = ApplySendAccount(file, *account, fields); !message.empty()) {
      return Fail(message, kExitConfig);
    }
    FillConnectionOptions(*account, fields.longOptions);
  }
  if (fields.longOptions.syslog) zel::OpenSystemLog("zelsendmail");
  if (fields.smtpServer[0] == '\0') {
    return Fail("err: SMTPサーバ名がありません (アカウントファイルの smtp_host)\n", kExitConfig);
  }
  if (fields.mailAddress[0] == '\0') {
    return Fail("err: 送信者のアドレスがありません (-f またはアカウントファイルの from)\n", kExitConfig);
  }

  // The recipients: the arguments, or with -t the message's own.
  if (args.fromHeader && !args.recipients.empty()) {
    return Fail("err: -t と送信先の引数は一緒に使えません\n", kExitUsage);
  }
  if (!args.fromHeader && args.recipients.empty()) {
    return Fail("err: 送信先がありません (引数で指定するか -t)\n", kExitUsage);
  }
  std::string recipients;
  for (const std::string& recipient : args.recipients) {
    recipients += (recipients.empty() ? "" : ",") + HostText(recipient);
  }
  if (recipients.size() > kRecipientsLimit) return Fail("err: 送信先が多すぎます\n", kExitUsage);

  if (NeedsPassword(fields)) {
    AccountPassword storage;
    PasswordSources sources = PasswordSourcesOf(fields);
    if (account != nullptr) sources = AddAccountPassword(sources, file, *account, storage);
    bool refused = false;
    if (const std::string message = ReadPassword(sources, fields.password, sizeof fields.password, &refused);
        !message.empty()) {
      return Fail(message, sources.origin.empty() && !refused ? kExitUsage : kExitConfig);
    }
  }
  const int popBeforeSmtp = ApplyPopBeforeSmtp(fields);
  if (popBeforeSmtp == -1) {
    return Fail("err: POP3サーバのユーザ名／パスワードが指定されていません\n", kExitConfig);
  }
  if (popBeforeSmtp < 0) return Fail("err: SMTP認証のユーザ名／パスワードが指定されていません\n", kExitConfig);

  // The message, from standard input into a private file.
  MessageFile message;
  if (zel::MakeTempName(message.path) != 1 || !zel::NativePath(message.path, message.native)) {
    return Fail("err: 一時ファイルを作成できません\n", kExitTempFail);
  }
  if (!CopyMessage(message.native, args.ignoreDots)) {
    return Fail("err: メッセージを読み込めません\n", kExitIoError);
  }

  const zel::LibraryHandle library = OpenZelpost();
  const auto initialize = ZEL_EXPORT(library, zelInitialize);
  const auto sendMailOne = ZEL_EXPORT(library, zelSendMailOne);
  const auto setValueInt = ZEL_EXPORT(library, zelSetValueInt);
  const auto setValueStr = ZEL_EXPORT(library, zelSetValueStr);
  const auto getErrorInt = ZEL_EXPORT(library, zelGetErrorInt);
  const auto getErrorStr = ZEL_EXPORT(library, zelGetErrorStr);
  if (initialize == nullptr || sendMailOne == nullptr || setValueInt == nullptr || setValueStr == nullptr ||
      getErrorInt == nullptr || getErrorStr == nullptr) {
    return Fail(std::string("err: ") + kLibraryName + " がロードできません\n", kExitUnavailable);
  }
  // The sender interface knows no full name: the message has its From.
  if (initialize(fields.pop3Server, fields.smtpServer, fields.userName, fields.password, fields.mailAddress,
                 fields.fullName) != 0) {
    setValueInt("POPBEFORESMTP", popBeforeSmtp);
    if (fields.tls >= 0) setValueInt("TLS", fields.tls);
    if (fields.smtpAuth != 0) setValueInt("SMTPAUTH", fields.smtpAuth);
    if (fields.longOptions.timeout >= 0) setValueInt("TIMEOUT", fields.longOptions.timeout);
    if (fields.caFile[0] != '\0') setValueStr("TLSCAFILE", fields.caFile);
    setValueStr("SENDFILEFORMAT", "RFC5322");
    setValueStr("RECIPIENTS", recipients.c_str());
    if (const std::string refused = SetConnectionOptions(setValueStr, setValueInt, fields.longOptions);
        !refused.empty()) {
      return Fail(refused, kExitConfig);
    }
    if (sendMailOne(message.path, nullptr) != 0) {
      zel::SystemLogLine("送信: " + recipients + " [" + fields.smtpServer + "]\n", false);
      return kExitOk;
    }
  }
  char error[zel::kErrorTextSize] = {};
  getErrorStr(error, sizeof error);
  const FailureReason reason = ReadFailureReason(library);
  PrintFailure(error, reason);
  const int number = getErrorInt();
  if (number == kRecipientRefused) {
    return reason.errorClass == ZELPOST_ERRCLASS_TEMPORARY ? kExitTempFail : kExitDataErr;
  }
  if (number == kNoRecipient) return kExitUsage;
  return ExitStatusOf(reason.errorClass, number);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (...) {  // out of memory: a failure like any other, not a crash
    std::fputs("err: zelsendmail\n", stderr);
    return kExitTempFail;
  }
}
