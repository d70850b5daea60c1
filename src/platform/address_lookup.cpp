// Name resolution, sockaddr conversion and connect errors of
// platform/socket.h: getaddrinfo, the sockaddr types and the error names
// (with "WSA" before them on Windows) are the same on POSIX and in Windows
// Sockets, so both backends share this file.
#ifdef _WIN32
#include "platform/win32/socket_api.h"
#else
#include "platform/posix/socket_api.h"
#endif

#include <cerrno>
#include <cstring>

#include "platform/socket_backend.h"

namespace zel {

namespace {

// The IpAddress of a sockaddr of either family; false for another family.
bool FromSockaddr(const sockaddr* from, IpAddress* address) {
  *address = IpAddress{};
  if (from->sa_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(from);
    address->family = 6;
    std::memcpy(address->bytes, &in6->sin6_addr, 16);
    address->scope = static_cast<std::uint32_t>(in6->sin6_scope_id);
    return true;
  }
  if (from->sa_family == AF_INET) {
    address->family = 4;
    std::memcpy(address->bytes, &reinterpret_cast<const sockaddr_in*>(from)->sin_addr, 4);
    return true;
  }
  return false;
}

// Appends `address` unless `addresses` holds it already or is full.
void AddAddress(std::vector<IpAddress>& addresses, const IpAddress& address) {
  if (addresses.size() >= kMaxAddresses) return;
  for (const IpAddress& a : addresses) {
    if (a.family == address.family && a.scope == address.scope &&
        std::memcmp(a.bytes, address.bytes, sizeof a.bytes) == 0) {
      return;
    }
  }
  addresses.push_back(address);
}

}  // namespace

bool ParseIpv6Literal(const char* host, IpAddress* address) {
  if (std::strchr(host, ':') == nullptr) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_flags = AI_NUMERICHOST;  // reads a "%zone" too, which inet_pton does not
  addrinfo* result = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &result) != 0 || result == nullptr) return false;
  const bool parsed = FromSockaddr(result->ai_addr, address);
  freeaddrinfo(result);
  return parsed;
}

LookupStatus LookUpHost(const char* host, std::vector<IpAddress>& addresses) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  switch (getaddrinfo(host, nullptr, &hints, &result)) {
    case 0:
      break;
    case EAI_NONAME:
#if defined(EAI_NODATA) && EAI_NODATA != EAI_NONAME
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
      return LookupStatus::kNoSuchHost;
    case EAI_AGAIN:
      return LookupStatus::kTemporary;
    default:
      return LookupStatus::kFailed;
  }
  for (const addrinfo* a = result; a != nullptr; a = a->ai_next) {
    IpAddress address;
    if (a->ai_addr != nullptr && FromSockaddr(a->ai_addr, &address)) AddAddress(addresses, address);
  }
  freeaddrinfo(result);
  return addresses.empty() ? LookupStatus::kNoSuchHost : LookupStatus::kOk;
}

int IpToSockaddr(const IpAddress& address, int port, void* storage, std::size_t size) {
  std::memset(storage, 0, size);
  const auto netPort = htons(static_cast<std::uint16_t>(port));
  if (address.family == 6) {
    auto* in6 = static_cast<sockaddr_in6*>(storage);
    in6->sin6_family = AF_INET6;
    in6->sin6_port = netPort;
    std::memcpy(&in6->sin6_addr, address.bytes, 16);
    in6->sin6_scope_id = address.scope;
    return static_cast<int>(sizeof(sockaddr_in6));
  }
  auto* in4 = static_cast<sockaddr_in*>(storage);
  in4->sin_family = AF_INET;
  in4->sin_port = netPort;
  std::memcpy(&in4->sin_addr, address.bytes, 4);
  return static_cast<int>(sizeof(sockaddr_in));
}

int SockaddrPort(const void* storage) {
  const auto* from = static_cast<const sockaddr*>(storage);
  return ntohs(from->sa_family == AF_INET6 ? static_cast<const sockaddr_in6*>(storage)->sin6_port
                                           : static_cast<const sockaddr_in*>(storage)->sin_port);
}

ConnectError ConnectErrorOf(int error) {
  switch (error) {
    case ZEL_SOCKET_ERROR(ECONNREFUSED):
      return ConnectError::kRefused;
    case ZEL_SOCKET_ERROR(ENETUNREACH):
    case ZEL_SOCKET_ERROR(EHOSTUNREACH):
    case ZEL_SOCKET_ERROR(EADDRNOTAVAIL):
    case ZEL_SOCKET_ERROR(EAFNOSUPPORT):
      return ConnectError::kUnreachable;
    default:
      return ConnectError::kOther;
  }
}

}  // namespace zel
