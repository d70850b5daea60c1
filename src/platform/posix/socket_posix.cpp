// BSD socket backend of platform/socket.h.
#include <arpa/inet.h>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>

#include "platform/socket.h"
#include "platform/socket_backend.h"

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

bool ParseDottedIpv4(const char* host, IpAddress* address) {
  in_addr dotted{};
  if (inet_pton(AF_INET, host, &dotted) != 1) return false;
  *address = IpAddress{};
  address->family = 4;
  std::memcpy(address->bytes, &dotted, 4);
  return true;
}


SocketHandle SocketCreateTcp(int family) {
  const int fd = socket(family == 6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
  if (fd < 0) return kNoSocket;
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

int SocketConnectBegin(SocketHandle s, const IpAddress& address, int port) {
  sockaddr_storage peer;
  const int size = IpToSockaddr(address, port, &peer, sizeof peer);
  if (connect(static_cast<int>(s), reinterpret_cast<sockaddr*>(&peer), static_cast<socklen_t>(size)) == 0) return 0;
  // An interrupted connect goes on in the background, as a non-blocking one.
  if (errno == EINPROGRESS || errno == EINTR) return kConnectPending;
  return errno != 0 ? errno : EIO;
}

int SocketConnectError(SocketHandle s) {
  int failure = 0;
  socklen_t length = sizeof failure;
  if (getsockopt(static_cast<int>(s), SOL_SOCKET, SO_ERROR, &failure, &length) != 0) failure = errno;
  return failure;
}

int SocketWaitAny(const SocketHandle* sockets, std::size_t count, SocketEvent event, SocketDeadline deadline) {
  // At most one socket per address of a name: no allocation per wait.
  pollfd entries[kMaxAddresses] = {};
  if (count > kMaxAddresses) count = kMaxAddresses;
  for (std::size_t i = 0; i < count; ++i) {
    entries[i].fd = static_cast<int>(sockets[i]);
    entries[i].events = event == SocketEvent::kReadable ? POLLIN : POLLOUT;
  }
  for (;;) {
    const long long left = SocketTimeLeft(deadline);
    const int slice = left < 0 ? -1 : static_cast<int>(std::min<long long>(left, INT_MAX));
    const int r = poll(entries, static_cast<nfds_t>(count), slice);
    if (r > 0) {
      for (std::size_t i = 0; i < count; ++i) {
        if (entries[i].revents != 0) return static_cast<int>(i);
      }
    }
    if (r < 0 && errno != EINTR) return -2;
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
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = send(static_cast<int>(s), p, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return SocketStatus::kFailed;
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
    const ssize_t n = recv(static_cast<int>(s), buffer, size, 0);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return kSocketFailed;
    switch (SocketWait(s, SocketEvent::kReadable, deadline)) {
      case SocketStatus::kOk: break;
      case SocketStatus::kTimedOut: return kSocketTimedOut;
      case SocketStatus::kFailed: return kSocketFailed;
    }
  }
}

void SocketShutdown(SocketHandle s) { shutdown(static_cast<int>(s), SHUT_RDWR); }

void SocketClose(SocketHandle s) { close(static_cast<int>(s)); }

SocketHandle SocketListenLoopback(int* port, int backlog) {
  IpAddress loopback;
  ParseDottedIpv4("127.0.0.1", &loopback);
  *port = 0;
  return SocketListenAt(loopback, port, backlog);
}

SocketHandle SocketListenAt(const IpAddress& address, int* port, int backlog) {
  const int family = address.family == 6 ? AF_INET6 : AF_INET;
  const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return kNoSocket;
  const int on = 1;
  if (family == AF_INET6) setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
  sockaddr_storage local;
  const int size = IpToSockaddr(address, *port, &local, sizeof local);
  socklen_t length = sizeof local;
  if (bind(fd, reinterpret_cast<sockaddr*>(&local), static_cast<socklen_t>(size)) != 0 ||
      listen(fd, backlog < 0 ? SOMAXCONN : backlog) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
    close(fd);
    return kNoSocket;
  }
  *port = SockaddrPort(&local);
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
