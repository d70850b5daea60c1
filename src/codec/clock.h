// The clock the codec reads: current time, local broken-down time and the
// local zone's offset. The codec never finds a clock itself: the caller hands
// one in (store/system_clock.h for the machine's, a fixed one in the tests).
#pragma once

#include <cstdint>
#include <ctime>

namespace zel {

class Clock {
 public:
  virtual ~Clock() = default;

  // Seconds since 1970-01-01 00:00 UTC.
  virtual std::int64_t now() const = 0;

  // Fills `fields` with the local broken-down time of `time` (seconds since
  // 1970 UTC). Returns false when the time cannot be converted.
  virtual bool localTime(std::int64_t time, std::tm& fields) const = 0;

  // Offset of the local zone from UTC at `time`, in seconds east of UTC
  // (32400 in Japan standard time).
  virtual long utcOffset(std::int64_t time) const = 0;
};

}  // namespace zel
