#include "platform/mail_spool.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/host_name.h"
#include "platform/path.h"
#include "platform/path_charset.h"
#include "platform/posix/own_files.h"
#include "platform/sjis_text.h"

namespace zel {
namespace {

// A dot-lock older than this is left by a process that died (one of another
// host, or one without an owner we can read): a message is appended within
// seconds, and other mail programs take over older ones too.
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

// Opens the folder `name` of `at` (made, mode 0700, when missing: `made`
// then true) as the Maildir's: a real folder of the effective user, reached
// without a link. Returns its descriptor, or -1 with `status` telling why.
int OpenMailFolder(int at, const char* name, MaildirFolders::Status& status, bool& made) {
  made = ::mkdirat(at, name, 0700) == 0;  // mostly there already
  const int fd = ::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat st{};
  if (fd < 0) {
    const bool refused = ::fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode);
    status = refused ? MaildirFolders::Status::kRefused : MaildirFolders::Status::kFailed;
    return -1;
  }
  if (::fstat(fd, &st) != 0 || st.st_uid != ::geteuid()) {
    ::close(fd);
    status = MaildirFolders::Status::kRefused;
    return -1;
  }
  return fd;
}

// Removes the files of our own in the open tmp/ `tmp` that are older than
// kMaildirStaleSeconds.
void RemoveStaleFiles(int tmp) {
  const int listing = ::openat(tmp, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listing < 0) return;
  DIR* dir = ::fdopendir(listing);
  if (dir == nullptr) {
    ::close(listing);
    return;
  }
  const time_t now = ::time(nullptr);
  while (const dirent* entry = ::readdir(dir)) {
    struct stat st{};
    if (::fstatat(tmp, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        st.st_uid == ::geteuid() && now - st.st_mtime > kMaildirStaleSeconds) {
      ::unlinkat(tmp, entry->d_name, 0);
    }
  }
  ::closedir(dir);
}

// The dot-lock's text: "<pid> <host>" and LF.
std::string OwnerText() {
  char host[kHostNameSize] = {};
  if (!LocalHostName(host, sizeof host)) host[0] = '\0';
  return std::to_string(::getpid()) + " " + host + "\n";
}

// True when the dot-lock at `path` names a process of this host that no
// longer runs; `held` receives the lock file's identity.
bool OwnerGone(const std::string& path, struct stat& held) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  char text[kHostNameSize + 32] = {};
  const ssize_t n = ::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) ? ::read(fd, text, sizeof text - 1) : -1;
  ::close(fd);
  if (n <= 0) return false;
  char* end = nullptr;
  const long pid = std::strtol(text, &end, 10);
  if (pid <= 0 || end == text || *end != ' ') return false;
  std::string owner(end + 1);
  owner = owner.substr(0, owner.find('\n'));
  char host[kHostNameSize] = {};
  if (!LocalHostName(host, sizeof host) || owner != host) return false;
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

}  // namespace

MaildirFolders::Status MaildirFolders::Open(std::string_view path, std::string& folder,
                                            std::vector<std::string>& changed) {
  Close();
  folder.assign(path);
  std::string native;
  if (!NativePath(path, native)) return Status::kFailed;
  Status status = Status::kOpen;
  bool made = false;
  const int root = OpenMailFolder(AT_FDCWD, native.c_str(), status, made);
  if (root < 0) return status;
  if (made) changed.push_back(FolderPart(path));
  for (const char* name : {"tmp", "new", "cur"}) {
    const int fd = OpenMailFolder(root, name, status, made);
    if (made && (changed.empty() || changed.back() != std::string(path))) changed.emplace_back(path);
    if (fd < 0) {
      folder = JoinPath(path, name);
      break;
    }
    if (name[0] == 't') {
      tmp_ = fd;
    } else if (name[0] == 'n') {
      new_ = fd;
    } else {
      ::close(fd);
    }
  }
  ::close(root);
  if (status != Status::kOpen) {
    Close();
    return status;
  }
  path_.assign(path);
  RemoveStaleFiles(tmp_);
  return Status::kOpen;
}

void MaildirFolders::Close() {
  for (int* fd : {&tmp_, &new_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  path_.clear();
}

std::FILE* MaildirFolders::Create(const std::string& name) {
  if (tmp_ < 0) return nullptr;
  const int fd = ::openat(tmp_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "wb");
  if (file == nullptr) {
    ::close(fd);
    ::unlinkat(tmp_, name.c_str(), 0);
  }
  return file;
}

bool MaildirFolders::Publish(const std::string& name) {
  if (tmp_ < 0) return false;
  if (::renameat2(tmp_, name.c_str(), new_, name.c_str(), RENAME_NOREPLACE) == 0) return true;
  // A file system without the flag: a link never replaces either.
  if (errno != EINVAL && errno != ENOSYS) return false;
  if (::linkat(tmp_, name.c_str(), new_, name.c_str(), 0) != 0) return false;
  ::unlinkat(tmp_, name.c_str(), 0);
  return true;
}

void MaildirFolders::Discard(const std::string& name) {
  if (tmp_ >= 0) ::unlinkat(tmp_, name.c_str(), 0);
}

std::string MaildirFolders::TmpPath(const std::string& name) const {
  return JoinPath(JoinPath(path_, "tmp"), name);
}

std::string MaildirFolders::NewFolder() const { return JoinPath(path_, "new"); }

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
      const std::string owner = OwnerText();
      const bool written = ::write(fd, owner.data(), owner.size()) == static_cast<ssize_t>(owner.size());
      ::close(fd);
      dotLock_ = dotLock;
      if (!written) {
        Release();
        return Status::kFailed;
      }
      break;
    }
    if (errno == EACCES || errno == EROFS || errno == EPERM) break;  // a folder we cannot write
    if (errno != EEXIST) return Status::kFailed;
    // A lock whose owner died: gone at once when it names a process of
    // this host, else after kStaleDotLockSeconds. The file removed is the
    // one examined, not one another run made meanwhile.
    struct stat held{}, now{};
    const bool gone = OwnerGone(dotLock, held) ||
                      (::lstat(dotLock.c_str(), &held) == 0 && ::time(nullptr) - held.st_mtime > kStaleDotLockSeconds);
    if (gone && ::lstat(dotLock.c_str(), &now) == 0 && now.st_dev == held.st_dev && now.st_ino == held.st_ino) {
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
