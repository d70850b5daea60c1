// zelsend: sends one send file through the zelpost library and exits.
//
// Exit code 0 when the mail was sent, -1 on every failure (one line
// beginning "err: " on standard error, or the usage text).
#include <cstdio>
#include <string>

#include "platform/dynamic_library.h"
#include "platform/terminal.h"
#include "sender/console_text.h"
#include "sender/password_source.h"
#include "sender/sender_options.h"
#include "zelpost.h"

namespace {

using namespace zel::sender;

// The library's name in messages, and the files tried in turn, each next
// to the program, then through the run path (the build folder, or the lib
// folder of an installed copy) and the library path.
#ifdef _WIN32
const char kLibraryName[] = "zelpost.dll";
const char* const kLibraryFiles[] = {kLibraryName};
#else
const char kLibraryName[] = "libzelpost.so";
// The run-time name (the SONAME, all an installed run-time copy has) first;
// the link name serves a library put beside the program by hand.
const char* const kLibraryFiles[] = {ZELPOST_SONAME, kLibraryName};
#endif

using InitializeFn = int(ZELPOST_CALL*)(const char*, const char*, const char*, const char*,
                                        const char*, const char*);
using SendMailOneFn = int(ZELPOST_CALL*)(const char*, const char*);
using GetErrorStrFn = int(ZELPOST_CALL*)(char*, int);
using SetValueIntFn = int(ZELPOST_CALL*)(const char*, int);
using SetValueStrFn = int(ZELPOST_CALL*)(const char*, const char*);

// Writes Shift-JIS text to `stream` in the console's character set.
void Put(std::FILE* stream, const std::string& sjis) {
  const std::string text = ConsoleText(sjis);
  std::fwrite(text.data(), 1, text.size(), stream);
}

void Echo(const char* label, const char* value) {
  Put(stdout, std::string(label) + value + "\n");
}

int Run(int argc, const char* const* argv) {
  InitConsoleText();
  SenderFields fields;
  std::string option;
  switch (ParseArguments(argc, argv, fields, option)) {
    case ParseResult::kOk:
      break;
    case ParseResult::kUsage:
      Put(stderr, kUsageText);
      return -1;
    case ParseResult::kTooLong:
      Put(stderr, TooLongMessage(option));
      return -1;
  }
  if (const char* message = MissingFieldMessage(fields)) {
    Put(stderr, message);
    return -1;
  }
  // Without -BP the password comes from -BF or -BE, else from the terminal.
  if (NeedsPassword(fields)) {
    std::string message = PasswordFromSources(fields);
    if (message.empty() && fields.password[0] == '\0' && zel::StdinIsTerminal()) {
      message = PasswordFromTerminal(fields);
    }
    if (!message.empty()) {
      Put(stderr, message);
      return -1;
    }
  }
  const int popBeforeSmtp = ApplyPopBeforeSmtp(fields);
  if (popBeforeSmtp == -1) {
    Put(stderr, "err: POP3サーバのユーザ名／パスワードが指定されていません\n");
    return -1;
  }
  if (popBeforeSmtp < 0) {
    Put(stderr, "err: SMTP認証のユーザ名／パスワードが指定されていません\n");
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
  std::fflush(stdout);

  zel::LibraryHandle library = nullptr;
  for (const char* file : kLibraryFiles) {
    if (library == nullptr) library = zel::OpenLibrary(file);
  }
  auto initialize =
      reinterpret_cast<InitializeFn>(zel::LibrarySymbol(library, "zelInitialize"));
  auto sendMailOne =
      reinterpret_cast<SendMailOneFn>(zel::LibrarySymbol(library, "zelSendMailOne"));
  auto getErrorStr =
      reinterpret_cast<GetErrorStrFn>(zel::LibrarySymbol(library, "zelGetErrorStr"));
  auto setValueInt =
      reinterpret_cast<SetValueIntFn>(zel::LibrarySymbol(library, "zelSetValueInt"));
  // zelSetValueStr only for -C: a run without it needs the classic four.
  auto setValueStr = fields.caFile[0] != '\0'
      ? reinterpret_cast<SetValueStrFn>(zel::LibrarySymbol(library, "zelSetValueStr"))
      : nullptr;
  if (initialize == nullptr || sendMailOne == nullptr || getErrorStr == nullptr ||
      setValueInt == nullptr || (fields.caFile[0] != '\0' && setValueStr == nullptr)) {
    Put(stderr, std::string("err: ") + kLibraryName + " がロードできません");
    return -1;
  }

  if (initialize(fields.pop3Server, fields.smtpServer, fields.userName, fields.password,
                 fields.mailAddress, fields.fullName) != 0) {
    setValueInt("POPBEFORESMTP", popBeforeSmtp);
    if (fields.tls >= 0) setValueInt("TLS", fields.tls);
    if (fields.smtpAuth) setValueInt("SMTPAUTH", 1);
    if (setValueStr != nullptr) setValueStr("TLSCAFILE", fields.caFile);
    if (sendMailOne(fields.sendFile, nullptr) != 0) {
      zel::CloseLibrary(library);
      return 0;
    }
  }
  char error[zel::kErrorTextSize] = {};
  getErrorStr(error, sizeof error);
  Put(stderr, std::string("err: ") + error + "\n");
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
