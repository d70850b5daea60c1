// A clock with a fixed current time and a fixed zone, for the codec tests.
#pragma once

#include "codec/calendar.h"
#include "codec/clock.h"

namespace zel {

// 2001-01-01 12:00:00 in a zone of +0900 (03:00:00 UTC): the instant most
// codec tests are written for.
inline constexpr std::int64_t kTestNow = 978318000;
inline constexpr long kJstOffset = 9 * 3600;

class FixedClock final : public Clock {
 public:
  FixedClock(std::int64_t now = kTestNow, long offset = kJstOffset) : now_(now), offset_(offset) {}

  std::int64_t now() const override { return now_; }

  bool localTime(std::int64_t time, std::tm& f) const override {
    const std::int64_t t = time + offset_;
    const std::int64_t days = (t >= 0 ? t : t - 86399) / 86400;
    std::int64_t year;
    civilFromDays(days, year, f.tm_mon, f.tm_mday);
    f.tm_year = static_cast<int>(year - 1900);
    const std::int64_t s = t - days * 86400;
    f.tm_hour = static_cast<int>(s / 3600);
    f.tm_min = static_cast<int>(s / 60 % 60);
    f.tm_sec = static_cast<int>(s % 60);
    f.tm_wday = weekdayFromDays(days);
    return true;
  }

  long utcOffset(std::int64_t) const override { return offset_; }

 private:
  std::int64_t now_;
  long offset_;
};

}  // namespace zel
