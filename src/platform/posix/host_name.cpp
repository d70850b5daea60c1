#include "platform/host_name.h"

#include <unistd.h>

#include <cstring>

namespace zel {

bool LocalHostName(char* out, std::size_t size) {
  constexpr std::size_t kMaxHostName = 256;  // HOST_NAME_MAX is 64; leave room
  char name[kMaxHostName] = {};
  out[0] = '\0';
  if (::gethostname(name, sizeof name - 1) != 0) return false;
  if (std::strlen(name) >= size) return false;
  std::memcpy(out, name, std::strlen(name) + 1);
  return true;
}

}  // namespace zel
