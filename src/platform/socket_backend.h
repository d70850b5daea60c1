// What each socket backend provides to the shared code of platform/socket.h,
// and what the shared code gives the backends.
#pragma once

#include <cstddef>
#include <vector>

#include "platform/socket.h"

namespace zel {

// Backend: parses `host` (not empty) as a dotted IPv4 address, as the
// platform's classic parser does. Looks nothing up.
bool ParseDottedIpv4(const char* host, IpAddress* address);

// Shared (address_lookup.cpp, getaddrinfo on both platforms): `host` as
// an IPv6 literal (a "%zone" allowed); the system resolver's addresses of
// a name, any family, in its order, at most kMaxAddresses, without repeats.
bool ParseIpv6Literal(const char* host, IpAddress* address);
LookupStatus LookUpHost(const char* host, std::vector<IpAddress>& addresses);

// Shared: writes the sockaddr of `address` and `port` into `storage` (a
// sockaddr_storage of `size` bytes) and returns its length.
int IpToSockaddr(const IpAddress& address, int port, void* storage, std::size_t size);

// Shared: the port of a sockaddr_in or sockaddr_in6 (host byte order).
int SockaddrPort(const void* storage);

}  // namespace zel
