// The parts of platform/socket.h shared by both backends: name resolution
// around the backend's parser and resolver, address texts, and deadlines.
#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/clock.h"
#include "platform/socket.h"
#include "platform/socket_backend.h"

namespace zel {

namespace {
std::int64_t NowMs() { return static_cast<std::int64_t>(TickCount64()); }
std::atomic<NameLookup> testLookup{nullptr};

// The first 12 bytes of an IPv4 address mapped into IPv6 (::ffff:0:0/96).
constexpr std::uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

bool ParseIpLiteral(const char* host, IpAddress* address) {
  return ParseDottedIpv4(host, address) || ParseIpv6Literal(host, address);
}
}  // namespace

bool ParseIpAddress(const char* text, IpAddress* address) {
  if (text == nullptr || *text == '\0') return false;
  return ParseIpLiteral(text, address);
}

LookupStatus ResolveHost(const char* host, std::vector<IpAddress>& addresses) {
  addresses.clear();
  if (host == nullptr || *host == '\0') return LookupStatus::kFailed;
  IpAddress literal;
  if (ParseIpLiteral(host, &literal)) {
    addresses.push_back(literal);
    return LookupStatus::kOk;
  }
  const NameLookup lookup = testLookup.load();
  const LookupStatus status = lookup != nullptr ? lookup(host, addresses) : LookUpHost(host, addresses);
  if (status == LookupStatus::kOk && addresses.empty()) return LookupStatus::kNoSuchHost;
  if (status != LookupStatus::kOk) addresses.clear();
  return status;
}

NameLookup SetNameLookup(NameLookup lookup) { return testLookup.exchange(lookup); }

bool IsLoopbackAddress(const IpAddress& address) {
  if (address.family == 4) return address.bytes[0] == 127;
  if (address.family != 6) return false;
  static constexpr std::uint8_t kLoopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  if (std::memcmp(address.bytes, kLoopback6, 16) == 0) return true;
  return std::memcmp(address.bytes, kMappedPrefix, 12) == 0 && address.bytes[12] == 127;
}

void FormatIpAddress(const IpAddress& address, char* out, std::size_t size) {
  if (size == 0) return;
  const std::uint8_t* b = address.bytes;
  if (address.family == 4) {
    std::snprintf(out, size, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return;
  }
  if (address.family != 6) {
    out[0] = '\0';
    return;
  }
  if (std::memcmp(b, kMappedPrefix, 12) == 0) {
    std::snprintf(out, size, "::ffff:%u.%u.%u.%u", b[12], b[13], b[14], b[15]);
    return;
  }
  // RFC 5952: the longest run of two or more zero groups becomes "::".
  unsigned groups[8];
  for (int i = 0; i < 8; ++i) groups[i] = static_cast<unsigned>(b[2 * i] << 8 | b[2 * i + 1]);
  int bestStart = -1, bestLength = 1;
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && groups[j] == 0) ++j;
    if (j - i > bestLength) {
      bestStart = i;
      bestLength = j - i;
    }
    i = j > i ? j : i + 1;
  }
  char text[kIpTextSize] = {};
  std::size_t used = 0;
  for (int i = 0; i < 8; ++i) {
    if (i == bestStart) {
      used += static_cast<std::size_t>(std::snprintf(text + used, sizeof text - used, "::"));
      i += bestLength - 1;
      continue;
    }
    const bool colon = i > 0 && i != bestStart + bestLength;
    used += static_cast<std::size_t>(
        std::snprintf(text + used, sizeof text - used, colon ? ":%x" : "%x", groups[i]));
  }
  if (address.scope != 0) {
    std::snprintf(text + used, sizeof text - used, "%%%u", static_cast<unsigned>(address.scope));
  }
  std::snprintf(out, size, "%s", text);
}

SocketDeadline SocketDeadlineAfter(int seconds) {
  if (seconds <= 0) return kNoDeadline;
  return NowMs() + static_cast<std::int64_t>(seconds) * 1000;
}

SocketDeadline SocketDeadlineAfterMs(int milliseconds) { return NowMs() + milliseconds; }

long long SocketTimeLeft(SocketDeadline deadline) {
  if (deadline == kNoDeadline) return -1;
  const std::int64_t left = deadline - NowMs();
  return left > 0 ? left : 0;
}

}  // namespace zel
