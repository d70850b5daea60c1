#include "platform/file_ops.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <set>
#include <string>

#include "platform/path_charset.h"
#include "platform/posix/own_files.h"

namespace zel {

bool DeleteFileAt(std::string_view path) {
  std::string native;
  return NativePath(path, native) && ::unlink(native.c_str()) == 0;
}

bool CopyFileReplace(std::string_view from, std::string_view to) {
  std::string src, dst;
  if (!NativePath(from, src) || !NativePath(to, dst)) return false;
  // Only a regular file is copied: opened without blocking (a FIFO would
  // wait for a writer), checked after opening (a device never ends).
  const int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (in < 0) return false;
  struct stat st{};
  if (::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(in);
    return false;
  }
  // Cut only after the checks: a target that is the source itself must be
  // refused before anything is cut, as CopyFile refuses it on Windows.
  const int out = OpenOwnFile(dst.c_str(), O_WRONLY | O_CREAT, 0666);
  if (out < 0) {
    ::close(in);
    return false;
  }
  struct stat target{};
  if (::fstat(out, &target) != 0 || (target.st_dev == st.st_dev && target.st_ino == st.st_ino)) {
    ::close(in);
    ::close(out);
    return false;
  }
  if (::ftruncate(out, 0) != 0) {
    ::close(in);
    ::close(out);
    return false;
  }
  constexpr std::size_t kChunk = 64 * 1024;  // one read per chunk
  static thread_local char buffer[kChunk];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(in, buffer, kChunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (n == 0) break;
    ssize_t done = 0;
    while (done < n) {
      const ssize_t w = ::write(out, buffer + done, static_cast<std::size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  ::close(in);
  if (::close(out) != 0) ok = false;
  if (!ok) ::unlink(dst.c_str());
  return ok;
}

bool RenameFileReplace(std::string_view from, std::string_view to) {
  std::string src, dst;
  return NativePath(from, src) && NativePath(to, dst) && ::rename(src.c_str(), dst.c_str()) == 0;
}

namespace {

// The process's file creation mask, read without changing it (umask()
// would, and another thread of the host may create files meanwhile).
mode_t CurrentUmask() {
  constexpr mode_t kUsual = 022;  // when /proc is not mounted
  std::FILE* status = std::fopen("/proc/self/status", "re");
  if (status == nullptr) return kUsual;
  char line[256];
  mode_t mask = kUsual;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    unsigned value = 0;
    if (std::sscanf(line, "Umask: %o", &value) == 1) {
      mask = static_cast<mode_t>(value);
      break;
    }
  }
  std::fclose(status);
  return mask;
}

}  // namespace

bool MoveFileToHost(std::string_view from, std::string_view to) {
  std::string src, dst;
  if (!NativePath(from, src) || !NativePath(to, dst)) return false;
  if (::rename(src.c_str(), dst.c_str()) != 0) {
    if (errno != EXDEV || !CopyFileReplace(from, to)) return false;
    ::unlink(src.c_str());
    return true;  // the copy was created with the host's mode already
  }
  ::chmod(dst.c_str(), 0666 & ~CurrentUmask());
  return true;
}

bool MakeTempBeside(std::string_view path, std::string& out) {
  out.clear();
  std::string native;
  if (!NativePath(path, native)) return false;
  // Names a stranger cannot guess, so that planting them in advance fails.
  constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  constexpr int kAttempts = 16;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    unsigned char random[8];
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return false;
    std::string name = native + ".zel";
    for (const unsigned char r : random) name += kLetters[r % (sizeof kLetters - 1)];
    const int fd = OpenOwnFile(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      return false;
    }
    ::close(fd);
    if (HostPath(name, out)) return true;
    ::unlink(name.c_str());
    return false;
  }
  return false;
}

namespace {

// Files flushed together: their descriptors are open at the same time.
constexpr std::size_t kSyncBatch = 64;

// fsync that counts a file system without it (EINVAL, EROFS) as done.
bool Fsync(int fd) { return ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS; }

}  // namespace

bool SyncFiles(const std::vector<std::string>& files, const std::vector<std::string>& folders) {
  bool ok = true;
  std::vector<int> open;
  auto flush = [&] {
    for (const int fd : open) {
      if (!Fsync(fd)) ok = false;
      ::close(fd);
    }
    open.clear();
  };
  for (const std::string& path : files) {
    std::string native;
    if (!NativePath(path, native)) {
      ok = false;
      continue;
    }
    const int fd = ::open(native.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      if (errno != ENOENT && errno != ENOTDIR) ok = false;  // gone: nothing to flush
      continue;
    }
#ifdef __linux__
    // Writing starts now for every file; the fsync calls below then mostly
    // wait, and one journal commit covers them all.
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
    open.push_back(fd);
    if (open.size() == kSyncBatch) flush();
  }
  flush();
  const std::set<std::string> distinct(folders.begin(), folders.end());
  for (const std::string& folder : distinct) {
    std::string native;
    if (!NativePath(folder, native)) {
      ok = false;
      continue;
    }
    const int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      if (errno != ENOENT && errno != ENOTDIR) ok = false;  // gone, as a file is
      continue;
    }
    open.push_back(fd);
    if (open.size() == kSyncBatch) flush();
  }
  flush();
  return ok;
}

bool PathExists(std::string_view path) {
  std::string native;
  struct stat st{};
  return NativePath(path, native) && ::lstat(native.c_str(), &st) == 0;
}

bool IsDirectory(std::string_view path) {
  std::string native;
  struct stat st{};
  return NativePath(path, native) && ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace zel
