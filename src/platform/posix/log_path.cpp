#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/log.h"
#include "platform/path_charset.h"

namespace zel {
namespace {

// The effective user's home folder: $HOME when absolute, else the user
// database. Empty when neither gives one.
std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
      found->pw_dir == nullptr || found->pw_dir[0] != '/') {
    return std::string();
  }
  return found->pw_dir;
}

// Creates every missing folder of the absolute path `dir` with mode 0700.
// True when `dir` is then a folder of the effective user (not a link).
bool MakePrivateFolders(const std::string& dir) {
  for (std::size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1)) {
    ::mkdir(dir.substr(0, slash).c_str(), 0700);  // most exist already
  }
  ::mkdir(dir.c_str(), 0700);
  struct stat st{};
  return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

}  // namespace

bool DefaultLogPath(std::string& out) {
  out.clear();
  std::string state;
  const char* xdg = std::getenv("XDG_STATE_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    state = xdg;
  } else {
    const std::string home = HomeFolder();
    if (home.empty()) return false;
    state = home + "/.local/state";
  }
  const std::string dir = state + "/zelpost";
  return MakePrivateFolders(dir) && HostPath(dir + "/zelpost.log", out);
}

}  // namespace zel
