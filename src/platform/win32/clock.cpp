#include "platform/clock.h"

#include <windows.h>

#include <cstring>
#include <ctime>

namespace zel {

std::uint32_t TickCount() { return static_cast<std::uint32_t>(GetTickCount()); }

std::uint64_t TickCount64() { return static_cast<std::uint64_t>(GetTickCount64()); }

unsigned long ProcessId() { return static_cast<unsigned long>(GetCurrentProcessId()); }

std::time_t CalendarTime() { return std::time(nullptr); }

bool LocalTime(std::time_t t, std::tm& out) {
  if (localtime_s(&out, &t) != 0) {
    std::memset(&out, 0, sizeof out);
    return false;
  }
  return true;
}

long LocalUtcOffset(std::time_t t) {
  std::tm local{};
  if (localtime_s(&local, &t) != 0) return 0;
  // The local broken-down time read as if it were UTC, minus the instant.
  const std::time_t asUtc = _mkgmtime(&local);
  if (asUtc == static_cast<std::time_t>(-1)) return 0;
  return static_cast<long>(asUtc - t);
}

}  // namespace zel
