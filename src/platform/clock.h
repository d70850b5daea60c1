// Clock, process identity and local time.
#pragma once

#include <cstdint>
#include <ctime>

namespace zel {

// Milliseconds since an arbitrary fixed point (system start on Windows);
// wraps around after about 49.7 days. Never fails.
std::uint32_t TickCount();

// Milliseconds since an arbitrary fixed point, from the same clock as
// TickCount but without the wrap-around. Never fails.
std::uint64_t TickCount64();

// Identifier of the calling process. Never fails.
unsigned long ProcessId();

// Current calendar time in seconds since 1970-01-01 UTC.
std::time_t CalendarTime();

// Breaks `t` down into local time in `out`. Returns false (and zeroes `out`)
// when the time cannot be represented.
bool LocalTime(std::time_t t, std::tm& out);

// Offset of local time from UTC at the instant `t`, in seconds east of
// Greenwich (JST gives +32400); daylight saving time included.
long LocalUtcOffset(std::time_t t);

}  // namespace zel
