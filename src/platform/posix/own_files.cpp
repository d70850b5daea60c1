#include "platform/posix/own_files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <vector>

namespace zel {

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

bool MakePrivateFolders(const std::string& dir) {
  for (std::size_t slash = dir.find('/', 1); slash != std::string::npos; slash = dir.find('/', slash + 1)) {
    ::mkdir(dir.substr(0, slash).c_str(), 0700);  // most exist already
  }
  ::mkdir(dir.c_str(), 0700);
  struct stat st{};
  return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

int OpenOwnFile(const char* native, int flags, mode_t mode) {
  const int fd = ::open(native, (flags & ~O_TRUNC) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  struct stat st{};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    ::close(fd);
    errno = EPERM;
    return -1;
  }
  return fd;
}

bool LockDescriptor(int fd, bool wait) {
  // Polled rather than blocking, so that the wait has a bound; the pause
  // grows from 1 ms to 50 ms.
  int pause = 1;
  for (int waited = 0;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK || !wait || waited >= kLockWaitMilliseconds) return false;
    const timespec delay{0, pause * 1000000L};
    ::nanosleep(&delay, nullptr);
    waited += pause;
    pause = std::min(pause * 2, 50);
  }
}

}  // namespace zel
