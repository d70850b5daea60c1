#include "platform/host_name.h"

#include <windows.h>

#include <cstring>

namespace zel {

bool LocalHostName(char* out, std::size_t size) {
  constexpr DWORD kMaxHostName = 256;  // DNS host names are at most 255 bytes
  char name[kMaxHostName] = {};
  DWORD length = kMaxHostName;
  out[0] = '\0';
  if (!GetComputerNameExA(ComputerNameDnsHostname, name, &length)) return false;
  if (std::strlen(name) >= size) return false;
  std::memcpy(out, name, std::strlen(name) + 1);
  return true;
}

}  // namespace zel
