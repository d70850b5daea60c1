// What each socket backend provides to the shared code of platform/socket.h,
// and the conversion between IpAddress and the sockaddr types, which both
// backends instantiate with their own (same-named) system types.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/socket.h"

namespace zel {

// Parses `host` (not empty) as an address literal (see ParseIpAddress).
bool ParseIpLiteral(const char* host, IpAddress* address);

// Resolves the host name `host` (not empty) with the system resolver, any
// family, in its order; at most kMaxAddresses, without repeats.
LookupStatus LookUpHost(const char* host, std::vector<IpAddress>& addresses);

// Appends `address` unless `addresses` holds it already or is full.
inline void AddAddress(std::vector<IpAddress>& addresses, const IpAddress& address) {
  if (addresses.size() >= kMaxAddresses) return;
  for (const IpAddress& a : addresses) {
    if (a.family == address.family && a.scope == address.scope &&
        std::memcmp(a.bytes, address.bytes, sizeof a.bytes) == 0) {
      return;
    }
  }
  addresses.push_back(address);
}

// The sockaddr of `address` and `port` in `storage` (a sockaddr_storage);
// returns its length. SockaddrIn/SockaddrIn6 are the system's sockaddr_in
// and sockaddr_in6, `af4`/`af6` its AF_INET/AF_INET6, `toNet` its htons.
template <typename SockaddrIn, typename SockaddrIn6, typename Storage, typename ToNet>
int ToSockaddr(const IpAddress& address, int port, Storage& storage, int af4, int af6, ToNet toNet) {
  std::memset(&storage, 0, sizeof storage);
  const auto netPort = toNet(static_cast<std::uint16_t>(port));
  if (address.family == 6) {
    auto* in6 = reinterpret_cast<SockaddrIn6*>(&storage);
    in6->sin6_family = static_cast<decltype(in6->sin6_family)>(af6);
    in6->sin6_port = netPort;
    std::memcpy(&in6->sin6_addr, address.bytes, 16);
    in6->sin6_scope_id = address.scope;
    return static_cast<int>(sizeof(SockaddrIn6));
  }
  auto* in4 = reinterpret_cast<SockaddrIn*>(&storage);
  in4->sin_family = static_cast<decltype(in4->sin_family)>(af4);
  in4->sin_port = netPort;
  std::memcpy(&in4->sin_addr, address.bytes, 4);
  return static_cast<int>(sizeof(SockaddrIn));
}

// The IpAddress of a sockaddr of family `af4` or `af6`; false for another.
template <typename SockaddrIn, typename SockaddrIn6, typename Sockaddr>
bool FromSockaddr(const Sockaddr* from, IpAddress* address, int af4, int af6) {
  *address = IpAddress{};
  if (from->sa_family == af6) {
    const auto* in6 = reinterpret_cast<const SockaddrIn6*>(from);
    address->family = 6;
    std::memcpy(address->bytes, &in6->sin6_addr, 16);
    address->scope = static_cast<std::uint32_t>(in6->sin6_scope_id);
    return true;
  }
  if (from->sa_family == af4) {
    const auto* in4 = reinterpret_cast<const SockaddrIn*>(from);
    address->family = 4;
    std::memcpy(address->bytes, &in4->sin_addr, 4);
    return true;
  }
  return false;
}

}  // namespace zel
