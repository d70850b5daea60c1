#include "platform/host_name.h"

#include <unistd.h>

#include "platform/sjis_text.h"

namespace zel {

bool LocalHostName(char* out, std::size_t size) {
  constexpr std::size_t kMaxHostName = 256;  // HOST_NAME_MAX is 64; leave room
  char name[kMaxHostName] = {};
  out[0] = '\0';
  if (::gethostname(name, sizeof name - 1) != 0) return false;
  CopyBounded(out, size, name);
  return true;
}

}  // namespace zel
