#include "platform/file_privacy.h"

#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/path_charset.h"

namespace zel {

bool FileIsPrivate(std::string_view path) {
  std::string native;
  struct stat st{};
  return NativePath(path, native) && ::stat(native.c_str(), &st) == 0 && st.st_uid == ::geteuid() &&
         (st.st_mode & 077) == 0;
}

}  // namespace zel
