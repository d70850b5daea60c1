#include "servers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <thread>

namespace zel::e2e {

namespace fs = std::filesystem;

namespace {

std::string StateDir() {
  const char* env = std::getenv("ZEL_SERVERS_DIR");
  if (env != nullptr && *env != '\0') return LocalPath(env);
#ifdef ZEL_SERVERS_DIR
  return LocalPath(ZEL_SERVERS_DIR);
#else
  return LocalPath("/tmp/zsrv");
#endif
}

// The order key of a maildir file: its name up to the flags (":2,...").
std::string BaseName(const fs::path& p) {
  std::string name = p.filename().string();
  const std::size_t colon = name.find(':');
  return colon == std::string::npos ? name : name.substr(0, colon);
}

}  // namespace

std::string LocalPath(const std::string& posixPath) {
#ifdef _WIN32
  if (posixPath.empty() || posixPath[0] != '/') return posixPath;
  std::string path = "Z:" + posixPath;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
#else
  return posixPath;
#endif
}

std::string Servers::Pop3Server() const {
  return pop3Host + ":" + std::to_string(pop3Port);
}

std::string Servers::ImapServer(bool tls) const {
  return pop3Host + ":" + std::to_string(tls ? imapsPort : imapPort);
}

std::string Servers::SmtpServer() const {
  return smtpHost + ":" + std::to_string(smtpPort);
}

namespace {

// The value of `key` in a list of (key, value) pairs; empty when absent.
std::string Lookup(const std::vector<std::pair<std::string, std::string>>& pairs,
                   const std::string& key) {
  for (const auto& [name, value] : pairs) {
    if (name == key) return value;
  }
  return {};
}

// "user:value,user:value" as (user, value) pairs.
std::vector<std::pair<std::string, std::string>> UserPairs(const std::string& list) {
  std::vector<std::pair<std::string, std::string>> pairs;
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    const std::string entry = list.substr(start, end - start);
    const std::size_t colon = entry.find(':');
    if (colon != std::string::npos) pairs.emplace_back(entry.substr(0, colon), entry.substr(colon + 1));
    start = end + 1;
  }
  return pairs;
}

}  // namespace

std::string Servers::Password(const std::string& user) const { return Lookup(users, user); }

std::string Servers::Token(const std::string& user) const { return Lookup(tokens, user); }

bool LoadServers(Servers& out, std::string* error) {
  out = Servers{};
  out.dir = StateDir();
  std::ifstream in(out.dir + "/servers.env");
  if (!in) {
    *error = "no test servers running (" + out.dir +
             "/servers.env missing; start them with scripts/test-servers.sh start " +
             out.dir + " or run the tests through ctest)";
    return false;
  }
  std::map<std::string, std::string> values;
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
  }
  out.pop3Host = values["POP3_HOST"];
  out.pop3Port = std::atoi(values["POP3_PORT"].c_str());
  out.smtpHost = values["SMTP_HOST"];
  out.smtpPort = std::atoi(values["SMTP_PORT"].c_str());
  out.mailDir = LocalPath(values["MAIL_DIR"]);
  out.pop3sPort = std::atoi(values["POP3S_PORT"].c_str());
  out.smtpsPort = std::atoi(values["SMTPS_PORT"].c_str());
  out.caFile = LocalPath(values["TLS_CA_FILE"]);
  out.otherCaFile = LocalPath(values["TLS_OTHER_CA_FILE"]);
  out.localPop3 = values["LOCAL_POP3"] == "1";
  out.localPop3Address = values["LOCAL_POP3_ADDRESS"];
  out.localHostName = values["LOCAL_HOST_NAME"];
  out.pop3V6Port = std::atoi(values["POP3_V6_PORT"].c_str());
  out.pop3sV6Port = std::atoi(values["POP3S_V6_PORT"].c_str());
  out.smtpV6Port = std::atoi(values["SMTP_V6_PORT"].c_str());
  out.smtpsV6Port = std::atoi(values["SMTPS_V6_PORT"].c_str());
  out.users = UserPairs(values["USERS"]);
  out.tokens = UserPairs(values["TOKENS"]);
  out.imapPort = std::atoi(values["IMAP_PORT"].c_str());
  out.imapsPort = std::atoi(values["IMAPS_PORT"].c_str());
  if (out.pop3Port == 0 || out.smtpPort == 0 || out.mailDir.empty()) {
    *error = "incomplete server state in " + out.dir;
    return false;
  }
  return true;
}

namespace {
struct Loaded {
  Servers servers;
  std::string error;
  bool ok = false;
};
const Loaded& Load() {
  static const Loaded loaded = [] {
    Loaded l;
    l.ok = LoadServers(l.servers, &l.error);
    return l;
  }();
  return loaded;
}
}  // namespace

const Servers& TestServers() {
  const Loaded& l = Load();
  if (!l.ok) ADD_FAILURE() << l.error;
  return l.servers;
}

bool HasServers() {
  if (!Load().ok) ADD_FAILURE() << Load().error;
  return Load().ok;
}

std::string DropMessage(const std::string& user, const std::string& bytes) {
  static std::atomic<unsigned> counter{0};
  const Servers& s = TestServers();
  // Names sort in drop order: Dovecot lists new messages by name.
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  char name[96];
  std::snprintf(name, sizeof name, "%012lld.%06u_zeltest.drop",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(now).count()),
                counter++);
  const fs::path dir = fs::path(s.mailDir) / user;
  const fs::path tmp = dir / "tmp" / name;
  const fs::path target = dir / "new" / name;
  WriteFileBytes(tmp.string(), bytes);
  fs::rename(tmp, target);
  return target.string();
}

std::vector<std::string> ListMaildir(const std::string& user) {
  const Servers& s = TestServers();
  std::vector<fs::path> files;
  for (const char* sub : {"new", "cur"}) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::path(s.mailDir) / user / sub, ec)) {
      if (entry.is_regular_file()) files.push_back(entry.path());
    }
  }
  std::sort(files.begin(), files.end(),
            [](const fs::path& a, const fs::path& b) { return BaseName(a) < BaseName(b); });
  std::vector<std::string> out;
  for (const auto& f : files) out.push_back(f.string());
  return out;
}

std::vector<std::string> ReadMaildir(const std::string& user) {
  std::vector<std::string> out;
  for (const auto& path : ListMaildir(user)) out.push_back(ReadFileBytes(path));
  return out;
}

void ClearMaildir(const std::string& user) {
  // Dovecot may still be moving a message from new/ to cur/ after a
  // session's QUIT, whose reply the clients do not wait for: a file that
  // moved away while it was being removed is looked for again.
  for (int pass = 0; pass < 100; ++pass) {
    bool moved = false;
    for (const auto& path : ListMaildir(user)) {
      std::error_code ec;
      moved = !fs::remove(path, ec) || moved;
    }
    if (!moved) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool WaitForMessageCount(const std::string& user, std::size_t count, int milliseconds) {
  for (int waited = 0;; waited += 20) {
    if (ListMaildir(user).size() == count) return true;
    if (waited >= milliseconds) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

TempDir::TempDir() {
  std::random_device random;
  path_ = (fs::temp_directory_path() / ("zele2e-" + std::to_string(random()))).string();
  fs::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const {
  return (fs::path(path_) / name).string();
}

}  // namespace zel::e2e
