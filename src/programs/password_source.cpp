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

// The largest password file read: a token and whatever notes follow it.
constexpr std::size_t kPasswordFileLimit = 64 * 1024;

// The first line of `text` without its line end.
std::string FirstLine(std::string_view text) {
  std::string line(text.substr(0, text.find('\n')));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

// Stores `console` as the password; `tooLong` when it does not fit.
std::string Store(const std::string& console, char* password, std::size_t size,
                  const std::string& tooLong) {
  if (StoreConsoleText(password, size, console)) return "";
  password[0] = '\0';
  return tooLong;
}

}  // namespace

std::string UntrustedFileMessage(std::string_view what, std::string_view path, const TrustedFile& file) {
  std::string reason;
  switch (file.trust) {
    case FileTrust::kTrusted:
    case FileTrust::kMissing:
    case FileTrust::kUnreadable:
      return "err: " + std::string(what) + "が読めません [" + std::string(path) + "]\n";
    case FileTrust::kNotRegular: reason = "通常のファイルではありません"; break;
    case FileTrust::kOthersFile: reason = "他のユーザのファイルです"; break;
    case FileTrust::kWritable: reason = "グループか他のユーザが書き込めます"; break;
    case FileTrust::kOthersFolder: reason = "上のフォルダ " + file.culprit + " が他のユーザのものです"; break;
    case FileTrust::kOpenFolder:
      reason = "上のフォルダ " + file.culprit + " にグループか他のユーザが書き込めます";
      break;
  }
  return "err: " + std::string(what) + "を使いません [" + std::string(path) + "] " + reason + "。" + TrustFix(file) +
         "\n";
}

std::string PasswordFromSources(const PasswordSources& sources, char* password,
                                std::size_t size, bool* refused) {
  password[0] = '\0';
  if (refused != nullptr) *refused = false;
  const std::string origin = " [" + HostText(sources.origin) + "]\n";
  if (!sources.plain.empty()) {
    return Store(std::string(sources.plain), password, size, "err: パスワードが長すぎます" + origin);
  }
  if (!sources.file.empty()) {
    std::string text;
    const TrustedFile file = ReadTrustedFile(sources.file, kPasswordFileLimit, text);
    if (file.trust != FileTrust::kTrusted) {
      if (refused != nullptr) *refused = file.trust != FileTrust::kMissing && file.trust != FileTrust::kUnreadable;
      return UntrustedFileMessage("パスワードファイル", sources.file, file);
    }
    const std::string line = FirstLine(text);
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
    if (!ReadCommandLine(HostText(sources.command), kPasswordLineLimit, sources.seconds, line, status)) {
      return "err: パスワードのコマンドを起動できません" + origin;
    }
    if (status == kCommandTimedOut) {
      if (refused != nullptr) *refused = true;
      return "err: パスワードのコマンドが " + std::to_string(sources.seconds) + " 秒で終わりません" + origin;
    }
    if (line.size() > kPasswordLineLimit) return "err: パスワードが長すぎます" + origin;
    if (status != 0) {
      return "err: パスワードのコマンドが失敗しました (終了コード " + std::to_string(status) + ")" + origin;
    }
    if (line.empty()) return "err: パスワードのコマンドが何も出力しません" + origin;
    return Store(line, password, size, "err: パスワードが長すぎます" + origin);
  }
  return "";
}

std::string ReadPassword(const PasswordSources& sources, char* password, std::size_t size,
                         bool* refused) {
  if (refused != nullptr) *refused = false;
  if (!sources.plain.empty() || !sources.file.empty() || !sources.variable.empty() ||
      !sources.command.empty() || !StdinIsTerminal()) {
    return PasswordFromSources(sources, password, size, refused);
  }
  password[0] = '\0';
  std::string line;
  if (!ReadSecretLine(ConsoleText(sources.prompt), kPasswordLineLimit, line)) return "";
  return Store(line, password, size, "err: パスワードが長すぎます\n");
}

}  // namespace zel::sender
