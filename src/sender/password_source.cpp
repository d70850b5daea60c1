// Password sources of zelsend: a file, an environment variable, the terminal.
#include "sender/password_source.h"

#include <cstdio>
#include <cstdlib>

#include "platform/path_charset.h"
#include "platform/terminal.h"
#include "sender/console_text.h"

namespace zel::sender {
namespace {

// The first line of the file `path` (host text), at most kPasswordLineLimit
// bytes, without its line end. Returns false when the file cannot be read.
bool ReadFirstLine(const char* path, std::string& line) {
  line.clear();
  std::string native;
  if (!NativePath(path, native)) return false;
  std::FILE* file = std::fopen(native.c_str(), "rb");
  if (file == nullptr) return false;
  int c;
  while (line.size() < kPasswordLineLimit && (c = std::fgetc(file)) != EOF && c != '\n') {
    line += static_cast<char>(c);
  }
  const bool read = std::ferror(file) == 0;
  std::fclose(file);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return read;
}

// Stores `console` as the password; the message of `option` when too long.
std::string Store(SenderFields& fields, const std::string& console, const char* option) {
  if (StoreConsoleText(fields.password, sizeof fields.password, console)) return "";
  fields.password[0] = '\0';
  return TooLongMessage(option);
}

}  // namespace

bool NeedsPassword(const SenderFields& fields) {
  return (fields.pop3Server[0] != '\0' || fields.smtpAuth) && fields.userName[0] != '\0' &&
         fields.password[0] == '\0';
}

std::string PasswordFromSources(SenderFields& fields) {
  if (fields.passwordFile[0] != '\0') {
    std::string line;
    if (!ReadFirstLine(fields.passwordFile, line)) {
      return std::string("err: パスワードファイルが読めません [") + fields.passwordFile + "]\n";
    }
    return Store(fields, line, "-BF");
  }
  if (fields.passwordVariable[0] != '\0') {
    const char* value = std::getenv(fields.passwordVariable);
    if (value == nullptr) {
      return std::string("err: 環境変数が設定されていません [") + fields.passwordVariable + "]\n";
    }
    return Store(fields, value, "-BE");
  }
  return "";
}

std::string PasswordFromTerminal(SenderFields& fields) {
  std::string line;
  const char* prompt = fields.pop3Server[0] != '\0' ? "POP3パスワード: " : "パスワード: ";
  if (!ReadSecretLine(ConsoleText(prompt), kPasswordLineLimit, line)) return "";
  return Store(fields, line, "-BP");
}

}  // namespace zel::sender
