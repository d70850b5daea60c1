// Password sources of zelsend and zelrecv: a file, an environment
// variable, the terminal.
#include "programs/password_source.h"

#include <cstdio>
#include <cstdlib>

#include "platform/command.h"
#include "platform/path_charset.h"
#include "platform/terminal.h"
#include "programs/console_text.h"

namespace zel::sender {
namespace {

// The first line of the file `path` (host text), at most kPasswordLineLimit
// bytes, without its line end. Returns false when the file cannot be read.
bool ReadFirstLine(std::string_view path, std::string& line) {
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

// Stores `console` as the password; `tooLong` when it does not fit.
std::string Store(const std::string& console, char* password, std::size_t size,
                  const std::string& tooLong) {
  if (StoreConsoleText(password, size, console)) return "";
  password[0] = '\0';
  return tooLong;
}

}  // namespace

std::string PasswordFromSources(const PasswordSources& sources, char* password,
                                std::size_t size) {
  password[0] = '\0';
  const std::string origin = " [" + HostText(sources.origin) + "]\n";
  if (!sources.plain.empty()) {
    return Store(std::string(sources.plain), password, size, "err: パスワードが長すぎます" + origin);
  }
  if (!sources.file.empty()) {
    std::string line;
    if (!ReadFirstLine(sources.file, line)) {
      return "err: パスワードファイルが読めません [" + std::string(sources.file) + "]\n";
    }
    return Store(line, password, size, TooLongMessage(std::string(sources.fileOption)));
  }
  if (!sources.variable.empty()) {
    const char* value = std::getenv(std::string(sources.variable).c_str());
    if (value == nullptr) {
      return "err: 環境変数が設定されていません [" + std::string(sources.variable) + "]\n";
    }
    return Store(value, password, size, TooLongMessage(std::string(sources.variableOption)));
  }
  if (!sources.command.empty()) {
    std::string line;
    int status = -1;
    if (!ReadCommandLine(HostText(sources.command), kPasswordLineLimit, line, status)) {
      return "err: パスワードのコマンドを起動できません" + origin;
    }
    if (status != 0) {
      return "err: パスワードのコマンドが失敗しました (終了コード " + std::to_string(status) + ")" + origin;
    }
    if (line.empty()) return "err: パスワードのコマンドが何も出力しません" + origin;
    return Store(line, password, size, "err: パスワードが長すぎます" + origin);
  }
  return "";
}

std::string ReadPassword(const PasswordSources& sources, char* password, std::size_t size) {
  if (!sources.plain.empty() || !sources.file.empty() || !sources.variable.empty() ||
      !sources.command.empty() || !StdinIsTerminal()) {
    return PasswordFromSources(sources, password, size);
  }
  password[0] = '\0';
  std::string line;
  if (!ReadSecretLine(ConsoleText(sources.prompt), kPasswordLineLimit, line)) return "";
  return Store(line, password, size, "err: パスワードが長すぎます\n");
}

}  // namespace zel::sender
