// Windows Sockets backend of platform/socket.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "platform/socket.h"

namespace zel {

int SocketStartup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(1, 1), &data);
}

int SocketCleanup() {
  return WSACleanup() == 0 ? 0 : WSAGetLastError();
}

int LastSocketError() { return WSAGetLastError(); }

bool ResolveIpv4(const char* host, std::uint32_t* address) {
  if (host == nullptr || *host == '\0') return false;
  const unsigned long dotted = inet_addr(host);
  if (dotted != INADDR_NONE || std::strcmp(host, "255.255.255.255") == 0) {
    *address = static_cast<std::uint32_t>(dotted);
    return true;
  }
  const hostent* entry = gethostbyname(host);
  if (entry == nullptr || entry->h_addrtype != AF_INET ||
      entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
    return false;
  }
  std::uint32_t a;
  std::memcpy(&a, entry->h_addr_list[0], sizeof a);
  *address = a;
  return true;
}

SocketHandle SocketCreateTcp() {
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kNoSocket;
  const BOOL on = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
  return static_cast<SocketHandle>(s);
}

bool SocketConnect(SocketHandle s, std::uint32_t address, int port) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<u_short>(port));
  peer.sin_addr.s_addr = address;
  return connect(static_cast<SOCKET>(s), reinterpret_cast<sockaddr*>(&peer),
                 sizeof peer) == 0;
}

bool SocketSendAll(SocketHandle s, const void* data, std::size_t size) {
  // Largest amount handed to one send call (its length is an int).
  constexpr std::size_t kMaxSend = 1 << 30;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const int chunk = static_cast<int>(size < kMaxSend ? size : kMaxSend);
    const int n = send(static_cast<SOCKET>(s), p, chunk, 0);
    if (n == SOCKET_ERROR) {
      if (WSAGetLastError() == WSAEINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

long SocketRecv(SocketHandle s, void* buffer, std::size_t size) {
  const int n = recv(static_cast<SOCKET>(s), static_cast<char*>(buffer),
                     static_cast<int>(size), 0);
  return n == SOCKET_ERROR ? -1 : static_cast<long>(n);
}

void SocketShutdown(SocketHandle s) { shutdown(static_cast<SOCKET>(s), SD_BOTH); }

void SocketClose(SocketHandle s) { closesocket(static_cast<SOCKET>(s)); }

SocketHandle SocketListenLoopback(int* port) {
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kNoSocket;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof local;
  if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      listen(s, SOMAXCONN) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    closesocket(s);
    return kNoSocket;
  }
  *port = ntohs(local.sin_port);
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
