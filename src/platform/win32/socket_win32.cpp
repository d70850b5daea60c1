// Windows Sockets backend of platform/socket.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

#include "platform/socket.h"
#include "platform/socket_backend.h"

namespace zel {

int SocketStartup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(1, 1), &data);
}

int SocketCleanup() {
  return WSACleanup() == 0 ? 0 : WSAGetLastError();
}

int LastSocketError() { return WSAGetLastError(); }

bool ParseDottedIpv4(const char* host, IpAddress* address) {
  // inet_addr, as the classic library parsed a dotted address.
  const unsigned long dotted = inet_addr(host);
  if (dotted == INADDR_NONE && std::strcmp(host, "255.255.255.255") != 0) return false;
  *address = IpAddress{};
  address->family = 4;
  std::memcpy(address->bytes, &dotted, 4);
  return true;
}


SocketHandle SocketCreateTcp(int family) {
  const SOCKET s = socket(family == 6 ? AF_INET6 : AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kNoSocket;
  const BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  u_long nonBlocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    closesocket(s);
    return kNoSocket;
  }
  return static_cast<SocketHandle>(s);
}

int SocketConnectBegin(SocketHandle s, const IpAddress& address, int port) {
  sockaddr_storage peer;
  const int size = IpToSockaddr(address, port, &peer, sizeof peer);
  if (connect(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&peer), size) == 0) return 0;
  const int error = WSAGetLastError();
  return error == WSAEWOULDBLOCK ? kConnectPending : error;
}

int SocketConnectError(SocketHandle s) {
  int failure = 0;
  int length = sizeof failure;
  if (getsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&failure), &length) != 0) {
    failure = WSAGetLastError();
  }
  return failure;
}

int SocketWaitAny(const SocketHandle* sockets, std::size_t count, SocketEvent event, SocketDeadline deadline) {
  for (;;) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    for (std::size_t i = 0; i < count && i < FD_SETSIZE; ++i) {
      FD_SET(static_cast<SOCKET>(sockets[i]), &ready);
      FD_SET(static_cast<SOCKET>(sockets[i]), &failed);  // a failed non-blocking connect shows here
    }
    constexpr long long kMaxSliceMs = 1000LL * 1000 * 1000;
    const long long left = SocketTimeLeft(deadline);
    const long long slice = left < 0 ? -1 : std::min(left, kMaxSliceMs);
    timeval limit{};
    limit.tv_sec = static_cast<long>(slice / 1000);
    limit.tv_usec = static_cast<long>(slice % 1000 * 1000);
    const int r = event == SocketEvent::kReadable
                      ? select(0, &ready, nullptr, &failed, slice < 0 ? nullptr : &limit)
                      : select(0, nullptr, &ready, &failed, slice < 0 ? nullptr : &limit);
    if (r > 0) {
      for (std::size_t i = 0; i < count; ++i) {
        const SOCKET socket = static_cast<SOCKET>(sockets[i]);
        if (FD_ISSET(socket, &ready) || FD_ISSET(socket, &failed)) return static_cast<int>(i);
      }
    }
    if (r == SOCKET_ERROR && WSAGetLastError() != WSAEINTR) return -2;
    if (r == 0 && SocketTimeLeft(deadline) == 0) return -1;
  }
}

SocketStatus SocketWait(SocketHandle s, SocketEvent event, SocketDeadline deadline) {
  const int ready = SocketWaitAny(&s, 1, event, deadline);
  return ready == 0 ? SocketStatus::kOk : ready == -1 ? SocketStatus::kTimedOut : SocketStatus::kFailed;
}

SocketStatus SocketConnect(SocketHandle s, const IpAddress& address, int port,
                           SocketDeadline deadline, int* error) {
  int ignored = 0;
  int& failure = error != nullptr ? *error : ignored;
  failure = SocketConnectBegin(s, address, port);
  if (failure == 0) return SocketStatus::kOk;
  if (failure != kConnectPending) return SocketStatus::kFailed;
  failure = 0;
  const SocketStatus waited = SocketWait(s, SocketEvent::kWritable, deadline);
  if (waited != SocketStatus::kOk) return waited;
  failure = SocketConnectError(s);
  return failure == 0 ? SocketStatus::kOk : SocketStatus::kFailed;
}

SocketStatus SocketSendAll(SocketHandle s, const void* data, std::size_t size,
                           SocketDeadline deadline) {
  // Largest amount handed to one send call (its length is an int).
  constexpr std::size_t kMaxSend = 1 << 30;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const int chunk = static_cast<int>(size < kMaxSend ? size : kMaxSend);
    const int n = send(static_cast<SOCKET>(s), p, chunk, 0);
    if (n == SOCKET_ERROR) {
      const int error = WSAGetLastError();
      if (error == WSAEINTR) continue;
      if (error != WSAEWOULDBLOCK) return SocketStatus::kFailed;
      const SocketStatus waited = SocketWait(s, SocketEvent::kWritable, deadline);
      if (waited != SocketStatus::kOk) return waited;
      continue;
    }
    if (n == 0) return SocketStatus::kFailed;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return SocketStatus::kOk;
}

long SocketRecv(SocketHandle s, void* buffer, std::size_t size, SocketDeadline deadline) {
  for (;;) {
    const int n = recv(static_cast<SOCKET>(s), static_cast<char*>(buffer),
                       static_cast<int>(size), 0);
    if (n != SOCKET_ERROR) return static_cast<long>(n);
    const int error = WSAGetLastError();
    if (error == WSAEINTR) continue;
    if (error != WSAEWOULDBLOCK) return kSocketFailed;
    switch (SocketWait(s, SocketEvent::kReadable, deadline)) {
      case SocketStatus::kOk: break;
      case SocketStatus::kTimedOut: return kSocketTimedOut;
      case SocketStatus::kFailed: return kSocketFailed;
    }
  }
}

void SocketShutdown(SocketHandle s) { shutdown(static_cast<SOCKET>(s), SD_BOTH); }

void SocketClose(SocketHandle s) { closesocket(static_cast<SOCKET>(s)); }

SocketHandle SocketListenLoopback(int* port, int backlog) {
  IpAddress loopback;
  ParseDottedIpv4("127.0.0.1", &loopback);
  *port = 0;
  return SocketListenAt(loopback, port, backlog);
}

SocketHandle SocketListenAt(const IpAddress& address, int* port, int backlog) {
  const int family = address.family == 6 ? AF_INET6 : AF_INET;
  const SOCKET s = socket(family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kNoSocket;
  const DWORD on = 1;
  if (family == AF_INET6) {
    setsockopt(s, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&on), sizeof on);
  }
  sockaddr_storage local;
  const int size = IpToSockaddr(address, *port, &local, sizeof local);
  int length = sizeof local;
  if (bind(s, reinterpret_cast<sockaddr*>(&local), size) != 0 ||
      listen(s, backlog < 0 ? SOMAXCONN : backlog) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    closesocket(s);
    return kNoSocket;
  }
  *port = SockaddrPort(&local);
  return static_cast<SocketHandle>(s);
}

SocketHandle SocketAccept(SocketHandle listener) {
  const SOCKET s = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
  if (s == INVALID_SOCKET) return kNoSocket;
  const BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  return static_cast<SocketHandle>(s);
}

}  // namespace zel
