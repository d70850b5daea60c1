#include "platform/file_privacy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <algorithm>
#include <string>

#include "platform/path_charset.h"
#include "platform/posix/own_files.h"

namespace zel {

namespace {

// A folder that may hold a trusted file: the user's or root's, writable by
// neither group nor others, unless it is root's and sticky (others may not
// replace what is in it).
FileTrust FolderTrust(const struct stat& st) {
  if (st.st_uid != ::geteuid() && st.st_uid != 0) return FileTrust::kOthersFolder;
  if ((st.st_mode & 022) != 0 && !(st.st_uid == 0 && (st.st_mode & S_ISVTX) != 0)) return FileTrust::kOpenFolder;
  return FileTrust::kTrusted;
}

// Checks the folders above the absolute, link-free native path `file`: up
// to the home folder when it lies inside, else up to the root.
FileTrust CheckFolders(const std::string& file, std::string& culprit) {
  std::string home = HomeFolder();
  char resolved[PATH_MAX];
  if (!home.empty() && ::realpath(home.c_str(), resolved) != nullptr) home = resolved;
  const bool inHome = !home.empty() && home != "/" && file.compare(0, home.size() + 1, home + "/") == 0;
  std::string folder = file;
  for (;;) {
    const std::size_t slash = folder.rfind('/');
    if (slash == std::string::npos) return FileTrust::kTrusted;
    folder.erase(slash == 0 ? 1 : slash);
    struct stat st{};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      if (!HostPath(folder, culprit)) culprit = folder;
      return FileTrust::kUnreadable;
    }
    const FileTrust trust = FolderTrust(st);
    if (trust != FileTrust::kTrusted) {
      if (!HostPath(folder, culprit)) culprit = folder;
      return trust;
    }
    if ((inHome && folder == home) || folder == "/") return FileTrust::kTrusted;
  }
}

}  // namespace

TrustedFile ReadTrustedFile(std::string_view path, std::size_t limit, std::string& text) {
  text.clear();
  TrustedFile result;
  result.culprit = std::string(path);
  std::string native;
  if (!NativePath(path, native)) return result;
  // A link counts only when it is the user's own.
  struct stat link{};
  if (::lstat(native.c_str(), &link) != 0) {
    result.trust = errno == ENOENT ? FileTrust::kMissing : FileTrust::kUnreadable;
    return result;
  }
  if (S_ISLNK(link.st_mode) && link.st_uid != ::geteuid()) {
    result.trust = FileTrust::kOthersFile;
    return result;
  }
  const int fd = ::open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    result.trust = errno == ENOENT ? FileTrust::kMissing : FileTrust::kUnreadable;
    return result;
  }
  struct stat st{};
  char resolved[PATH_MAX];
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = ::readlink(self.c_str(), resolved, sizeof resolved - 1);
  std::string real;
  if (length > 0 && resolved[0] == '/') {
    real.assign(resolved, static_cast<std::size_t>(length));
  } else if (::realpath(native.c_str(), resolved) != nullptr) {
    real = resolved;
  }
  if (::fstat(fd, &st) != 0 || real.empty()) {
    result.trust = FileTrust::kUnreadable;
  } else if (!S_ISREG(st.st_mode)) {
    result.trust = FileTrust::kNotRegular;
  } else if (st.st_uid != ::geteuid()) {
    result.trust = FileTrust::kOthersFile;
  } else if ((st.st_mode & 022) != 0) {
    result.trust = FileTrust::kWritable;
  } else {
    result.trust = CheckFolders(real, result.culprit);
  }
  result.privateFile = (st.st_mode & 077) == 0;
  // The file is read only once it is trusted; through the descriptor
  // checked, never the name again.
  if (result.trust == FileTrust::kTrusted) {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 || text.size() + static_cast<std::size_t>(std::max<ssize_t>(n, 0)) > limit) {
        result.trust = FileTrust::kUnreadable;
        text.clear();
        break;
      }
      if (n == 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(fd);
  return result;
}

std::string TrustFix(const TrustedFile& result) {
  const std::string& what = result.culprit;
  switch (result.trust) {
    case FileTrust::kOthersFile:
    case FileTrust::kOthersFolder:
      return "自分のものにしてください (chown $USER " + what + ")";
    case FileTrust::kWritable:
    case FileTrust::kOpenFolder:
      return "グループと他のユーザの書き込みを禁止してください (chmod go-w " + what + ")";
    case FileTrust::kNotRegular:
      return "通常のファイルにしてください";
    default:
      return "";
  }
}

}  // namespace zel
