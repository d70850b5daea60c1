// zelsend: sends one send file through the zelpost library and exits.
//
// Exit code 0 when the mail was sent, -1 on every failure (one line
// beginning "err: " on standard error, or the usage text).
#include <cstdio>
#include <string>

#include "sender/console_text.h"
#include "sender/password_source.h"
#include "sender/sender_options.h"
#include "sender/zelpost_library.h"
#include "zelpost.h"

namespace {

using namespace zel::sender;

void Echo(const char* label, const char* value) {
  PutConsoleText(stdout, std::string(label) + value + "\n");
}

int Run(int argc, const char* const* argv) {
  InitConsoleText();
  SenderFields fields;
  std::string option;
  switch (ParseArguments(argc, argv, fields, option)) {
    case ParseResult::kOk:
      break;
    case ParseResult::kUsage:
      PutConsoleText(stderr, kUsageText);
      return -1;
    case ParseResult::kTooLong:
      PutConsoleText(stderr, TooLongMessage(option));
      return -1;
  }
  if (const char* message = MissingFieldMessage(fields)) {
    PutConsoleText(stderr, message);
    return -1;
  }
  // Without -BP the password comes from -BF or -BE, else from the terminal.
  if (NeedsPassword(fields)) {
    const std::string message =
        ReadPassword(PasswordSourcesOf(fields), fields.password, sizeof fields.password);
    if (!message.empty()) {
      PutConsoleText(stderr, message);
      return -1;
    }
  }
  const int popBeforeSmtp = ApplyPopBeforeSmtp(fields);
  if (popBeforeSmtp == -1) {
    PutConsoleText(stderr, "err: POP3サーバのユーザ名／パスワードが指定されていません\n");
    return -1;
  }
  if (popBeforeSmtp < 0) {
    PutConsoleText(stderr, "err: SMTP認証のユーザ名／パスワードが指定されていません\n");
    return -1;
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
  if (fields.smtpAuth) Echo("SMTPAuth: ", "1");
  if (fields.caFile[0] != '\0') Echo("CAFile: ", fields.caFile);
  if (fields.utf8SendFile) Echo("SendFileCharset: ", "UTF-8");
  if (fields.charset[0] != '\0') Echo("Charset: ", fields.charset);
  std::fflush(stdout);

  const zel::LibraryHandle library = OpenZelpost();
  const auto initialize = ZEL_EXPORT(library, zelInitialize);
  const auto sendMailOne = ZEL_EXPORT(library, zelSendMailOne);
  const auto getErrorStr = ZEL_EXPORT(library, zelGetErrorStr);
  const auto setValueInt = ZEL_EXPORT(library, zelSetValueInt);
  // zelSetValueStr only for -C, -U and --charset: a run without them needs
  // the classic four.
  const bool textOptions = fields.caFile[0] != '\0' || fields.utf8SendFile || fields.charset[0] != '\0';
  const auto setValueStr = textOptions ? ZEL_EXPORT(library, zelSetValueStr) : nullptr;
  if (initialize == nullptr || sendMailOne == nullptr || getErrorStr == nullptr ||
      setValueInt == nullptr || (textOptions && setValueStr == nullptr)) {
    PutConsoleText(stderr, std::string("err: ") + kLibraryName + " がロードできません");
    return -1;
  }

  if (initialize(fields.pop3Server, fields.smtpServer, fields.userName, fields.password,
                 fields.mailAddress, fields.fullName) != 0) {
    setValueInt("POPBEFORESMTP", popBeforeSmtp);
    if (fields.tls >= 0) setValueInt("TLS", fields.tls);
    if (fields.smtpAuth) setValueInt("SMTPAUTH", 1);
    if (fields.caFile[0] != '\0') setValueStr("TLSCAFILE", fields.caFile);
    if (fields.utf8SendFile) setValueStr("SENDFILECHARSET", "UTF-8");
    if (fields.charset[0] != '\0' && setValueStr("CHARSET", fields.charset) == 0) {
      PutConsoleText(stderr, std::string("err: --charset に指定できない値です [") + fields.charset + "]\n");
      return -1;
    }
    if (sendMailOne(fields.sendFile, nullptr) != 0) {
      zel::CloseLibrary(library);
      return 0;
    }
  }
  char error[zel::kErrorTextSize] = {};
  getErrorStr(error, sizeof error);
  PutConsoleText(stderr, std::string("err: ") + error + "\n");
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (...) {  // out of memory: a failure like any other, not a crash
    std::fputs("err: zelsend\n", stderr);
    return -1;
  }
}
