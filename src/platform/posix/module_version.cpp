#include "platform/module_version.h"

#include <dlfcn.h>

#include "platform/path_charset.h"

namespace zel {

bool OwnModulePath(std::string& out) {
  out.clear();
  Dl_info info{};
  static const int anchor = 0;  // any address inside this module
  if (::dladdr(&anchor, &info) == 0 || info.dli_fname == nullptr) return false;
  return HostPath(info.dli_fname, out);
}

bool OwnFileVersion(std::uint32_t& high, std::uint32_t& low) {
  high = (static_cast<std::uint32_t>(ZELPOST_VERSION_MAJOR) << 16) | ZELPOST_VERSION_MINOR;
  low = static_cast<std::uint32_t>(ZELPOST_VERSION_PATCH) << 16;
  return true;
}

bool OwnResource(const char*, int, std::string& out) {
  out.clear();
  return false;
}

}  // namespace zel
