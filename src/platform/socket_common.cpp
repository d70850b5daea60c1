// The parts of platform/socket.h shared by both backends: name resolution
// around the backend's parser and resolver, and deadlines.
#include <atomic>

#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/socket_backend.h"

namespace zel {

namespace {
std::int64_t NowMs() { return static_cast<std::int64_t>(TickCount64()); }
std::atomic<NameLookup> testLookup{nullptr};
}  // namespace

bool ResolveIpv4(const char* host, std::uint32_t* address) {
  if (host == nullptr || *host == '\0') return false;
  if (ParseDottedIpv4(host, address)) return true;
  if (const NameLookup lookup = testLookup.load()) return lookup(host, address);
  return LookUpIpv4(host, address);
}

NameLookup SetNameLookup(NameLookup lookup) { return testLookup.exchange(lookup); }

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
