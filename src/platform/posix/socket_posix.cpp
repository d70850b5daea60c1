// BSD socket backend of platform/socket.h.
#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/socket.h"

namespace zel {

namespace {
// Start-ups not yet cleaned up; POSIX needs no library start, only the count.
std::atomic<int> startupCount{0};
}  // namespace

int SocketStartup() {
  ++startupCount;
  return 0;
}

int SocketCleanup() {
  if (startupCount.load() > 0) --startupCount;
  return 0;
}

int LastSocketError() { return errno; }

bool ResolveIpv4(const char* host, std::uint32_t* address) {
  if (host == nullptr || *host == '\0') return false;
  in_addr dotted{};
  if (inet_pton(AF_INET, host, &dotted) == 1) {
    *address = dotted.s_addr;
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &result) != 0 || result == nullptr) {
    return false;
  }
  bool found = false;
  for (addrinfo* a = result; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addr != nullptr) {
      *address = reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
      found = true;
      break;
    }
  }
  freeaddrinfo(result);
  return found;
}

SocketHandle SocketCreateTcp() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return kNoSocket;
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

bool SocketConnect(SocketHandle s, std::uint32_t address, int port) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<std::uint16_t>(port));
  peer.sin_addr.s_addr = address;
  int r;
  do {
    r = connect(static_cast<int>(s), reinterpret_cast<sockaddr*>(&peer), sizeof peer);
  } while (r != 0 && errno == EINTR);
  return r == 0;
}

bool SocketSendAll(SocketHandle s, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = send(static_cast<int>(s), p, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

long SocketRecv(SocketHandle s, void* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = recv(static_cast<int>(s), buffer, size, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -1;
  }
}

void SocketShutdown(SocketHandle s) { shutdown(static_cast<int>(s), SHUT_RDWR); }

void SocketClose(SocketHandle s) { close(static_cast<int>(s)); }

SocketHandle SocketListenLoopback(int* port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return kNoSocket;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof local;
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      listen(fd, SOMAXCONN) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    close(fd);
    return kNoSocket;
  }
  *port = ntohs(local.sin_port);
  return fd;
}

SocketHandle SocketAccept(SocketHandle listener) {
  int fd;
  do {
    fd = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return kNoSocket;
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

}  // namespace zel
