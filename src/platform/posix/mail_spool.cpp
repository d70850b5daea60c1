#include "platform/mail_spool.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/path_charset.h"
#include "platform/posix/own_files.h"

namespace zel {
namespace {

// A dot-lock older than this is left by a process that died: a message is
// appended within seconds, and other mail programs take over older ones too.
constexpr time_t kStaleDotLockSeconds = 300;

// Sleeps for the next step of a bounded wait (1 ms growing to 50 ms);
// false once kLockWaitMilliseconds have passed.
bool Pause(int& waited, int& pause) {
  if (waited >= kLockWaitMilliseconds) return false;
  const timespec delay{0, pause * 1000000L};
  ::nanosleep(&delay, nullptr);
  waited += pause;
  pause = std::min(pause * 2, 50);
  return true;
}

// Takes the fcntl write lock on the whole of `fd`, waiting a bounded time.
bool LockRecords(int fd) {
  struct flock whole{};
  whole.l_type = F_WRLCK;
  whole.l_whence = SEEK_SET;
  for (int waited = 0, pause = 1;;) {
    if (::fcntl(fd, F_SETLK, &whole) == 0) return true;
    if (errno == EINTR) continue;
    if ((errno != EACCES && errno != EAGAIN) || !Pause(waited, pause)) return false;
  }
}

}  // namespace

bool MakeMailFolder(std::string_view path) {
  std::string native;
  if (!NativePath(path, native)) return false;
  ::mkdir(native.c_str(), 0700);  // mostly there already
  struct stat st{};
  return ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid();
}

bool RenameFileNew(std::string_view from, std::string_view to) {
  std::string source, target;
  if (!NativePath(from, source) || !NativePath(to, target)) return false;
  if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
  // A file system without the flag: a link never replaces either.
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::link(source.c_str(), target.c_str()) != 0) return false;
  ::unlink(source.c_str());
  return true;
}

bool SyncHostFile(std::FILE* file) {
  return std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0;
}

bool CutHostFile(std::FILE* file, std::int64_t size) {
  return ::ftruncate(::fileno(file), static_cast<off_t>(size)) == 0;
}

SpoolLock::Status SpoolLock::Take(std::FILE* file, std::string_view path) {
  Release();
  std::string native;
  if (!NativePath(path, native)) return Status::kFailed;
  const std::string dotLock = native + ".lock";
  for (int waited = 0, pause = 1;;) {
    const int fd = ::open(dotLock.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      dotLock_ = dotLock;
      break;
    }
    if (errno == EACCES || errno == EROFS || errno == EPERM) break;  // a folder we cannot write
    if (errno != EEXIST) return Status::kFailed;
    struct stat st{};
    if (::lstat(dotLock.c_str(), &st) == 0 && ::time(nullptr) - st.st_mtime > kStaleDotLockSeconds) {
      ::unlink(dotLock.c_str());
      continue;
    }
    if (!Pause(waited, pause)) return Status::kFailed;
  }
  file_ = file;
  const int fd = ::fileno(file);
  if (!LockRecords(fd)) {
    Release();
    return Status::kFailed;
  }
  // Another program may have written a new file over the path (as a mail
  // reader that rewrites the mbox does) while this one waited.
  struct stat held{}, named{};
  if (::fstat(fd, &held) != 0 || ::lstat(native.c_str(), &named) != 0 || held.st_dev != named.st_dev ||
      held.st_ino != named.st_ino) {
    Release();
    return Status::kReplaced;
  }
  return Status::kLocked;
}

void SpoolLock::Release() {
  if (file_ != nullptr) {
    struct flock whole{};
    whole.l_type = F_UNLCK;
    whole.l_whence = SEEK_SET;
    ::fcntl(::fileno(file_), F_SETLK, &whole);
    file_ = nullptr;
  }
  if (!dotLock_.empty()) ::unlink(dotLock_.c_str());
  dotLock_.clear();
}

}  // namespace zel
