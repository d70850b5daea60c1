#include "platform/file_lock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/path_charset.h"
#include "platform/posix/own_files.h"

namespace zel {
namespace {

// Opens of a file that was replaced or removed under us, before giving up:
// each one means another run let the lock go, which happens once a run.
constexpr int kAcquireAttempts = 8;

// True when `fd` is the file `native` names now.
bool Names(int fd, const std::string& native) {
  struct stat held{}, named{};
  return ::fstat(fd, &held) == 0 && ::lstat(native.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

FileLock::Status FileLock::Acquire(std::string_view path) {
  Release(false);
  if (!NativePath(path, native_)) return Status::kUnusable;
  for (int attempt = 0; attempt < kAcquireAttempts; ++attempt) {
    bool created = true;
    int fd = OpenOwnFile(native_.c_str(), O_RDONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0 && errno == EEXIST) {
      created = false;
      fd = OpenOwnFile(native_.c_str(), O_RDONLY, 0);
      if (fd < 0 && errno == ENOENT) continue;  // removed meanwhile
    }
    if (fd < 0) return Status::kUnusable;
    if (!LockDescriptor(fd, false)) {
      const bool busy = errno == EWOULDBLOCK;
      ::close(fd);
      return busy ? Status::kBusy : Status::kUnusable;
    }
    if (Names(fd, native_)) {
      handle_ = fd;
      created_ = created;
      return Status::kLocked;
    }
    ::close(fd);  // replaced or removed by the run that held it
  }
  return Status::kBusy;
}

bool FileLock::Replace(std::string_view replacement) {
  std::string source;
  if (handle_ == kNone || !NativePath(replacement, source)) return false;
  const int fd = OpenOwnFile(source.c_str(), O_RDONLY, 0);
  if (fd < 0) return false;
  if (!LockDescriptor(fd, false) || ::rename(source.c_str(), native_.c_str()) != 0) {
    ::close(fd);
    return false;
  }
  ::close(static_cast<int>(handle_));
  handle_ = fd;
  created_ = false;
  return true;
}

void FileLock::Release(bool removeIfCreated) {
  if (handle_ == kNone) return;
  const int fd = static_cast<int>(handle_);
  if (removeIfCreated && created_ && Names(fd, native_)) ::unlink(native_.c_str());
  ::close(fd);
  handle_ = kNone;
  created_ = false;
}

}  // namespace zel
