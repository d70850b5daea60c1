#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/path_charset.h"
#include "platform/posix/own_files.h"
#include "platform/text_file.h"

namespace zel {

std::FILE* OpenHostFile(std::string_view path, const char* mode, bool privateFile) {
  std::string native;
  if (path.empty() || !NativePath(path, native)) return nullptr;
  const bool exclusive = std::strchr(mode, 'x') != nullptr;
  int fd = -1;
  if (mode[0] == 'r' && !privateFile) {
    // A host file to read may be reached through a link; a FIFO would
    // block the open until a writer came, so it is opened without waiting
    // and refused after the check.
    fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat st{};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
      ::close(fd);
      fd = -1;
    }
  } else {
    int flags = 0;
    switch (mode[0]) {
      case 'r': flags = O_RDONLY; break;
      case 'w': flags = O_WRONLY | O_CREAT | (exclusive ? O_EXCL : 0); break;
      case 'a': flags = O_WRONLY | O_CREAT | O_APPEND; break;
      default: return nullptr;
    }
    fd = OpenOwnFile(native.c_str(), flags, privateFile ? 0600 : 0666);
    // Replaced only after the checks: another user's file planted at the
    // path is never cut.
    if (fd >= 0 && mode[0] == 'w' && !exclusive && ::ftruncate(fd, 0) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  if (fd < 0) return nullptr;
  const char stdioMode[3] = {mode[0], 'b', '\0'};
  std::FILE* file = ::fdopen(fd, stdioMode);
  if (file == nullptr) ::close(fd);
  return file;
}

bool SeekHostFile(std::FILE* file, std::int64_t offset, int whence) {
  return ::fseeko(file, static_cast<off_t>(offset), whence) == 0;
}

std::int64_t TellHostFile(std::FILE* file) { return static_cast<std::int64_t>(::ftello(file)); }

bool LockHostFile(std::FILE* file, bool lock) {
  if (!lock) return ::flock(::fileno(file), LOCK_UN) == 0;
  return LockDescriptor(::fileno(file), true);
}

std::int64_t HostFileSize(std::FILE* file) {
  struct stat st{};
  return ::fstat(::fileno(file), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
}

bool CloseHostFileAt(std::FILE* file, std::int64_t size) {
  // The copy keeps the file open past fclose, which may still hand the
  // buffered rest of a failed record to the OS; the cut comes after it.
  const int copy = ::dup(::fileno(file));
  std::fclose(file);
  if (copy < 0) return false;
  const bool cut = ::ftruncate(copy, static_cast<off_t>(size)) == 0;
  ::close(copy);
  return cut;
}

}  // namespace zel
