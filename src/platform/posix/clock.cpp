#include "platform/clock.h"

#include <unistd.h>

#include <cstring>
#include <ctime>

namespace zel {

std::uint64_t TickCount64() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

std::uint32_t TickCount() { return static_cast<std::uint32_t>(TickCount64()); }

unsigned long ProcessId() { return static_cast<unsigned long>(::getpid()); }

std::time_t CalendarTime() { return std::time(nullptr); }

bool LocalTime(std::time_t t, std::tm& out) {
  if (::localtime_r(&t, &out) == nullptr) {
    std::memset(&out, 0, sizeof out);
    return false;
  }
  return true;
}

long LocalUtcOffset(std::time_t t) {
  std::tm local{};
  if (::localtime_r(&t, &local) == nullptr) return 0;
  return local.tm_gmtoff;
}

}  // namespace zel
