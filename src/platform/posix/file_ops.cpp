#include "platform/file_ops.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/path_charset.h"

namespace zel {

bool DeleteFileAt(std::string_view path) {
  std::string native;
  return NativePath(path, native) && ::unlink(native.c_str()) == 0;
}

bool CopyFileReplace(std::string_view from, std::string_view to) {
  std::string src, dst;
  if (!NativePath(from, src) || !NativePath(to, dst)) return false;
  const int in = ::open(src.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st{};
  if (::fstat(in, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(in);
    return false;
  }
  // Opened without O_TRUNC: a target that is the source itself (the same
  // path, or a link to it) must be refused before anything is cut, as
  // CopyFile refuses it on Windows.
  const int out = ::open(dst.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
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

std::int64_t FileSizeAt(std::string_view path) {
  std::string native;
  struct stat st{};
  if (!NativePath(path, native) || ::stat(native.c_str(), &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool TruncateFileAt(std::string_view path, std::int64_t size) {
  std::string native;
  return size >= 0 && NativePath(path, native) &&
         ::truncate(native.c_str(), static_cast<off_t>(size)) == 0;
}

bool PathExists(std::string_view path) {
  std::string native;
  struct stat st{};
  return NativePath(path, native) && ::stat(native.c_str(), &st) == 0;
}

bool IsDirectory(std::string_view path) {
  std::string native;
  struct stat st{};
  return NativePath(path, native) && ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace zel
