#include "platform/temp_file.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstring>

#include "platform/path_charset.h"

namespace zel {

bool TempDirectory(std::string& out) {
  out.clear();
  const char* env = std::getenv("TMPDIR");
  std::string native = (env != nullptr && *env != '\0') ? env : "/tmp";
  if (native.back() != '/') native += '/';
  std::string host;
  if (!HostPath(native, host) || host.size() >= kPathSize) return false;
  out = std::move(host);
  return true;
}

int MakeTempName(char (&out)[kPathSize]) {
  out[0] = '\0';
  std::string dir;
  if (!TempDirectory(dir)) return 0;
  std::string native;
  if (!NativePath(dir + "zelXXXXXX", native)) return 0;
  const int fd = ::mkstemp(native.data());
  if (fd < 0) return 0;
  ::close(fd);
  std::string host;
  if (!HostPath(native, host) || host.size() >= kPathSize) {
    ::unlink(native.c_str());
    return 0;
  }
  std::memcpy(out, host.c_str(), host.size() + 1);
  return 1;
}

}  // namespace zel
