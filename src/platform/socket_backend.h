// What each socket backend provides to the shared code of platform/socket.h.
#pragma once

#include <cstdint>

namespace zel {

// Parses `host` (not empty) as a dotted IPv4 address into `*address`
// (network byte order). Returns false when it is not one; looks nothing up.
bool ParseDottedIpv4(const char* host, std::uint32_t* address);

// Resolves the host name `host` (not empty) with the system resolver and
// stores its first IPv4 address. Returns false when the lookup fails.
bool LookUpIpv4(const char* host, std::uint32_t* address);

}  // namespace zel
