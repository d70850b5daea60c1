#include "platform/profile_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

#include "platform/path_charset.h"
#include "platform/posix/own_files.h"
#include "platform/profile_text.h"

namespace zel {
namespace {

constexpr const char* kProfileName = "zelpost.ini";

// UTF-8 path of the profile file's folder and of the file itself: never
// a shared folder, so without HOME the user database names the home.
std::string NativeProfileDir() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && *xdg == '/') return xdg;
  const std::string home = HomeFolder();
  return home.empty() ? std::string() : home + "/.config";
}

std::string NativeProfilePath() {
  const std::string dir = NativeProfileDir();
  return dir.empty() ? std::string() : dir + "/" + kProfileName;
}

// Opens the profile file and locks it (exclusive for writing). Only a
// regular file of the effective user, reached without a link, is used.
int OpenLocked(bool write) {
  const std::string path = NativeProfilePath();
  if (path.empty()) return -1;
  const int flags = write ? O_RDWR | O_CREAT : O_RDONLY;
  int fd = OpenOwnFile(path.c_str(), flags, 0600);
  if (fd < 0 && errno == ENOENT && write && MakePrivateFolders(NativeProfileDir())) {
    fd = OpenOwnFile(path.c_str(), flags, 0600);  // a first use: no folder yet
  }
  if (fd < 0) return -1;
  while (::flock(fd, write ? LOCK_EX : LOCK_SH) != 0) {
    if (errno != EINTR) {
      ::close(fd);
      return -1;
    }
  }
  return fd;
}

bool ReadAll(int fd, std::string& out) {
  out.clear();
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::pread(fd, chunk, sizeof chunk, static_cast<off_t>(out.size()));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out.append(chunk, static_cast<std::size_t>(n));
    // A regular file reads short only at its end.
    if (static_cast<std::size_t>(n) < sizeof chunk) return true;
  }
}

// Writes `text` as the whole file, whose length was `oldSize`; `sync` also
// waits until it is on disk.
// The text is written over the old one and the rest cut off afterwards: a
// truncation to zero first would make ext4 flush the file on close, a disk
// wait for every display file of a receive-all.
bool WriteAll(int fd, const std::string& text, std::size_t oldSize, bool sync) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done, static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  if (text.size() < oldSize && ::ftruncate(fd, static_cast<off_t>(text.size())) != 0) return false;
  return !sync || ::fsync(fd) == 0 || errno == EINVAL;
}


}  // namespace

std::string ProfileFilePath() {
  std::string host;
  HostPath(NativeProfilePath(), host);
  return host;
}

int ProfileInt(std::string_view section, std::string_view key, int fallback) {
  const int fd = OpenLocked(false);
  if (fd < 0) return fallback;
  std::string text;
  const bool ok = ReadAll(fd, text);
  ::close(fd);  // also releases the lock
  if (!ok) return fallback;
  const auto value = FindProfileValue(text, section, key);
  return value ? ProfileValueToInt(*value) : fallback;
}

bool WriteProfileText(std::string_view section, std::string_view key, std::string_view value) {
  const int fd = OpenLocked(true);
  if (fd < 0) return false;
  std::string text;
  bool ok = ReadAll(fd, text);
  if (ok) ok = WriteAll(fd, SetProfileValue(text, section, key, value), text.size(), true);
  ::close(fd);
  return ok;
}

bool UpdateProfileCounter(std::string_view section, std::string_view key,
                          const std::function<std::optional<long long>(long long)>& step) {
  const int fd = OpenLocked(true);
  std::string text;
  const bool readable = fd >= 0 && ReadAll(fd, text);
  const auto value = readable ? FindProfileValue(text, section, key) : std::nullopt;
  const std::optional<long long> next = step(value ? ProfileValueToInt(*value) : 0LL);
  // Not synced: it would stall a receive-all on the disk, and a number
  // lost in a crash only comes back as a name that exists, which the
  // display files skip.
  bool ok = readable && (!next || WriteAll(fd, SetProfileValue(text, section, key, std::to_string(*next)),
                                             text.size(), false));
  if (fd >= 0) ::close(fd);
  return ok;
}

}  // namespace zel
