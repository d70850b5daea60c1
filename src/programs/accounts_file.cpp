// The accounts file: its keys, its parsing and the choice of accounts.
#include "programs/accounts_file.h"

#include <climits>
#include <cstdlib>

#include "platform/file_privacy.h"
#include "platform/path_charset.h"
#include "programs/console_text.h"

namespace zel::sender {
namespace {

// The largest accounts file read: far beyond any list of accounts.
constexpr std::size_t kAccountsFileLimit = 1024 * 1024;

enum class Kind {
  kText,      // any value
  kPort,      // 1 to 65535
  kSeconds,   // 0 to 999999, as --timeout
  kBytes,     // 0 to INT_MAX, as --max-size
  kOnOff,     // on or off, stored as "1" or "0"
  kLevel,     // 0, 1 or 2 (off and on for 0 and 1)
  kDelivery,  // display, maildir DIR, mbox FILE or mda COMMAND
  kPassword,  // one of the four password sources
  kProtocol,  // pop3 or imap
};

struct Key {
  const char* name;
  Setting Account::*field;
  Kind kind;
};

// Every key of the file. A new key: a row here and a field in Account.
constexpr Key kKeys[] = {
    {"pop3_host", &Account::pop3Host, Kind::kText},
    {"pop3_port", &Account::pop3Port, Kind::kPort},
    {"smtp_host", &Account::smtpHost, Kind::kText},
    {"smtp_port", &Account::smtpPort, Kind::kPort},
    {"user", &Account::user, Kind::kText},
    {"from", &Account::from, Kind::kText},
    {"fullname", &Account::fullName, Kind::kText},
    {"tls", &Account::tls, Kind::kLevel},
    {"tls_trust_file", &Account::tlsTrustFile, Kind::kText},
    {"smtp_auth", &Account::smtpAuth, Kind::kLevel},
    {"pop_auth", &Account::popAuth, Kind::kLevel},
    {"apop", &Account::apop, Kind::kOnOff},
    {"pop_before_smtp", &Account::popBeforeSmtp, Kind::kOnOff},
    {"timeout", &Account::timeout, Kind::kSeconds},
    {"max_size", &Account::maxSize, Kind::kBytes},
    {"list_file", &Account::listFile, Kind::kText},
    {"mail_folder", &Account::mailFolder, Kind::kText},
    {"seen_file", &Account::seenFile, Kind::kText},
    {"mailbox", &Account::mailbox, Kind::kText},
    {"delete", &Account::deleteOnServer, Kind::kOnOff},
    {"delivery", &Account::delivery, Kind::kDelivery},
    {"keep_display", &Account::keepDisplay, Kind::kOnOff},
    {"charset", &Account::charset, Kind::kText},
    {"sendfile_charset", &Account::sendFileCharset, Kind::kText},
    {"protocol", &Account::protocol, Kind::kProtocol},
    {"imap_folder", &Account::imapFolder, Kind::kText},
    {"tls_fingerprint", &Account::tlsFingerprint, Kind::kText},
    {"tls_min_version", &Account::tlsMinVersion, Kind::kText},
    {"proxy", &Account::proxy, Kind::kText},
    {"filter", &Account::filter, Kind::kText},
    {"kill_size", &Account::killSize, Kind::kBytes},
    {"password", &Account::password, Kind::kPassword},
    {"passwordeval", &Account::password, Kind::kPassword},
    {"passwordfile", &Account::password, Kind::kPassword},
    {"passwordenv", &Account::password, Kind::kPassword},
};

constexpr std::string_view kBlanks = " \t";

std::string_view Trim(std::string_view text) {
  const std::size_t start = text.find_first_not_of(kBlanks);
  if (start == std::string_view::npos) return {};
  return text.substr(start, text.find_last_not_of(kBlanks) - start + 1);
}

bool Number(std::string_view text, long long low, long long high) {
  if (text.empty() || text.size() > 10) return false;
  long long n = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  return n >= low && n <= high;
}

// Checks `value` for `kind` and writes it in its stored form.
bool Normalise(Kind kind, std::string& value) {
  switch (kind) {
    case Kind::kText:
    case Kind::kPassword:
      return true;
    case Kind::kPort:
      return Number(value, 1, 65535);
    case Kind::kSeconds:
      return Number(value, 0, 999999);
    case Kind::kBytes:
      return Number(value, 0, INT_MAX);
    case Kind::kOnOff:
    case Kind::kLevel:
      if (value == "on") value = "1";
      if (value == "off") value = "0";
      return value == "0" || value == "1" || (kind == Kind::kLevel && value == "2");
    case Kind::kProtocol:
      return value == "pop3" || value == "imap";
    case Kind::kDelivery: {
      if (value == "display") return true;
      const std::size_t blank = value.find_first_of(kBlanks);
      if (blank == std::string::npos) return false;
      const std::string_view what = std::string_view(value).substr(0, blank);
      return (what == "maildir" || what == "mbox" || what == "mda") &&
             !Trim(std::string_view(value).substr(blank)).empty();
    }
  }
  return false;
}

// The message of a bad line.
std::string BadLine(const AccountsFile& file, int line, const std::string& reason) {
  return "err: アカウントファイルの誤り [" + HostText(file.path) + ":" + std::to_string(line) + "] " +
         reason + "\n";
}

}  // namespace

const Account* AccountsFile::Find(std::string_view name) const {
  for (const Account& account : accounts) {
    if (account.name == name) return &account;
  }
  return nullptr;
}

std::string DefaultAccountsPath() {
#ifdef _WIN32
  const char* appData = std::getenv("APPDATA");
  return appData != nullptr && appData[0] != '\0' ? std::string(appData) + "\\zelpost\\accounts" : "";
#else
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return std::string(config) + "/zelpost/accounts";
  const char* home = std::getenv("HOME");
  return home != nullptr && home[0] == '/' ? std::string(home) + "/.config/zelpost/accounts" : "";
#endif
}

std::string ParseAccounts(std::string_view text, AccountsFile& out) {
  out.accounts.clear();
  out.passwordLine = 0;
  Account defaults;
  Account* section = nullptr;
  int number = 0;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = Trim(text.substr(at, end - at));
    at = end + 1;
    ++number;
    if (line.empty() || line[0] == '#') continue;
    const std::size_t blank = line.find_first_of(kBlanks);
    const std::string key(line.substr(0, blank));
    std::string value(blank == std::string_view::npos ? std::string_view() : Trim(line.substr(blank)));
    if (key == "defaults") {
      if (!value.empty()) return BadLine(out, number, "defaults の後に値は書けません");
      section = &defaults;
      continue;
    }
    if (key == "account") {
      if (value.empty() || value.find_first_of(kBlanks) != std::string::npos) {
        return BadLine(out, number, "account の名前がないか、空白を含んでいます");
      }
      if (out.Find(value) != nullptr) return BadLine(out, number, "アカウント " + value + " が2度あります");
      out.accounts.push_back(defaults);
      out.accounts.back().name = value;
      section = &out.accounts.back();
      continue;
    }
    const Key* known = nullptr;
    for (const Key& k : kKeys) {
      if (key == k.name) known = &k;
    }
    if (known == nullptr) return BadLine(out, number, "知らないキーです: " + HostText(key));
    if (section == nullptr) return BadLine(out, number, key + " が defaults または account の前にあります");
    if (value.empty()) return BadLine(out, number, key + " に値がありません");
    if (!Normalise(known->kind, value)) return BadLine(out, number, key + " に指定できない値です: " + HostText(value));
    Setting& setting = section->*(known->field);
    setting.value = value;
    setting.line = number;
    if (known->kind == Kind::kPassword) section->passwordKey = key;
    if (key == "password" && out.passwordLine == 0) out.passwordLine = number;
  }
  return "";
}

std::string LoadAccounts(const std::string& path, bool required, AccountsFile& out) {
  out.path = path;
  out.accounts.clear();
  // Its commands run with our rights: it is read only when no other user
  // can have written it.
  std::string text;
  const TrustedFile file = ReadTrustedFile(HostText(path), kAccountsFileLimit, text);
  if (file.trust == FileTrust::kMissing && !required) return "";
  if (file.trust != FileTrust::kTrusted) return UntrustedFileMessage("アカウントファイル", HostText(path), file);
  std::string message = ParseAccounts(text, out);
  if (message.empty() && out.passwordLine > 0 && !file.privateFile) {
    message = BadLine(out, out.passwordLine,
                      "password を書いたファイルは所有者だけが読み書きできるようにしてください (chmod 600)");
  }
  if (!message.empty()) out.accounts.clear();
  return message;
}

std::string SelectAccounts(const AccountsFile& file, const LongOptions& options,
                           std::vector<const Account*>& out) {
  out.clear();
  if (options.all) {
    for (const Account& account : file.accounts) out.push_back(&account);
    if (out.empty()) return "err: アカウントがありません [" + HostText(file.path) + "]\n";
    return "";
  }
  for (const std::string& name : options.accounts) {
    const Account* account = file.Find(name);
    if (account == nullptr) {
      return "err: アカウントがありません [" + HostText(name) + "] (" + HostText(file.path) + ")\n";
    }
    out.push_back(account);
  }
  if (!out.empty()) return "";
  if (const Account* named = file.Find("default")) {
    out.push_back(named);
  } else if (file.accounts.size() == 1) {
    out.push_back(&file.accounts.front());
  }
  return "";
}

std::string LoadSelectedAccounts(const LongOptions& options, AccountsFile& file,
                                 std::vector<const Account*>& out) {
  out.clear();
  const bool asked = !options.config.empty() || !options.accounts.empty() || options.all;
  const std::string path = options.config.empty() ? DefaultAccountsPath() : options.config;
  std::string message;
  if (path.empty()) {
    if (asked) message = "err: アカウントファイルが見つかりません\n";
  } else {
    message = LoadAccounts(path, asked, file);
    if (message.empty()) message = SelectAccounts(file, options, out);
  }
  if (out.empty()) out.push_back(nullptr);
  return message;
}

std::string AccountSource(const AccountsFile& file, const Setting& setting) {
  return file.path + ":" + std::to_string(setting.line);
}

PasswordSources AddAccountPassword(PasswordSources sources, const AccountsFile& file,
                                   const Account& account, AccountPassword& storage) {
  if (!sources.file.empty() || !sources.variable.empty() || !account.password.Given()) return sources;
  storage.origin = AccountSource(file, account.password);
  sources.origin = storage.origin;
  const std::string& value = account.password.value;
  if (account.passwordKey == "password") sources.plain = value;
  if (account.passwordKey == "passwordeval") sources.command = value;
  if (account.passwordKey == "passwordenv") {
    sources.variable = value;
    sources.variableOption = "passwordenv";
  }
  if (account.passwordKey == "passwordfile") {
    storage.file = HostText(ExpandHome(value));
    sources.file = storage.file;
    sources.fileOption = "passwordfile";
  }
  return sources;
}

std::string FillFromAccount(char* field, std::size_t size, const AccountsFile& file,
                            const Setting& setting, bool path) {
  if (field[0] != '\0' || !setting.Given()) return "";
  if (StoreConsoleText(field, size, path ? ExpandHome(setting.value) : setting.value)) return "";
  field[0] = '\0';
  return "err: 値が長すぎます [" + HostText(AccountSource(file, setting)) + "]\n";
}

void DeliveryOf(const Setting& delivery, std::string& option, std::string& target) {
  option.clear();
  target.clear();
  const std::string& value = delivery.value;
  const std::size_t blank = value.find_first_of(kBlanks);
  if (!delivery.Given() || blank == std::string::npos) return;
  const std::string what = value.substr(0, blank);
  const std::string rest(Trim(std::string_view(value).substr(blank)));
  if (what == "maildir") option = "MAILDIR";
  if (what == "mbox") option = "MBOX";
  if (what == "mda") option = "MDA";
  target = HostText(what == "mda" ? rest : ExpandHome(rest));
}

std::string ExpandHome(std::string_view path) {
  if (path.substr(0, 2) != "~/") return std::string(path);
#ifdef _WIN32
  const char* home = std::getenv("USERPROFILE");
#else
  const char* home = std::getenv("HOME");
#endif
  if (home == nullptr || home[0] == '\0') return std::string(path);
  return std::string(home) + std::string(path.substr(1));
}

std::string AccountServer(const Setting& host, const Setting& port) {
  if (!port.Given()) return host.value;
  const bool v6 = host.value.find(':') != std::string::npos && host.value[0] != '[';
  return (v6 ? "[" + host.value + "]" : host.value) + ":" + port.value;
}

}  // namespace zel::sender
