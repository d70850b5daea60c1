#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/path_charset.h"
#include "platform/text_file.h"

namespace zel {

std::FILE* OpenHostFile(std::string_view path, const char* mode, bool privateFile) {
  std::string native;
  if (path.empty() || !NativePath(path, native)) return nullptr;
  int flags = O_CLOEXEC;
  switch (mode[0]) {
    case 'r': flags |= O_RDONLY; break;
    case 'w': flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case 'a': flags |= O_WRONLY | O_CREAT | O_APPEND; break;
    default: return nullptr;
  }
  // A FIFO would block the open until a writer (or reader) came. On a
  // regular file O_NONBLOCK changes nothing, so it stays set.
  const bool reading = mode[0] == 'r';
  if (reading || privateFile) flags |= O_NONBLOCK;
  // "x": a new file only, never one that exists.
  if (std::strchr(mode, 'x') != nullptr) flags = (flags & ~O_TRUNC) | O_EXCL;
  if (privateFile) flags |= O_NOFOLLOW;
  const mode_t perms = privateFile ? 0600 : 0666;
  const int fd = ::open(native.c_str(), flags, perms);
  if (fd < 0) return nullptr;
  struct stat st{};
  bool usable = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
  if (usable && (reading || privateFile)) usable = S_ISREG(st.st_mode);
  if (usable && privateFile) usable = st.st_uid == ::geteuid();
  if (!usable) {
    ::close(fd);
    return nullptr;
  }
  const char stdioMode[3] = {mode[0], 'b', '\0'};
  std::FILE* file = ::fdopen(fd, stdioMode);
  if (file == nullptr) ::close(fd);
  return file;
}

bool SeekHostFile(std::FILE* file, std::int64_t offset, int whence) {
  return ::fseeko(file, static_cast<off_t>(offset), whence) == 0;
}

std::int64_t TellHostFile(std::FILE* file) { return static_cast<std::int64_t>(::ftello(file)); }

}  // namespace zel
