// Deadlines of the socket calls, shared by both backends.
#include "platform/clock.h"
#include "platform/socket.h"

namespace zel {

namespace {
std::int64_t NowMs() { return static_cast<std::int64_t>(TickCount64()); }
}  // namespace

SocketDeadline SocketDeadlineAfter(int seconds) {
  if (seconds <= 0) return kNoDeadline;
  return NowMs() + static_cast<std::int64_t>(seconds) * 1000;
}

long long SocketTimeLeft(SocketDeadline deadline) {
  if (deadline == kNoDeadline) return -1;
  const std::int64_t left = deadline - NowMs();
  return left > 0 ? left : 0;
}

}  // namespace zel
