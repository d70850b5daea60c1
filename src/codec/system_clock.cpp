#include <time.h>

#include "codec/calendar.h"
#include "codec/clock.h"

namespace zel {

namespace {

bool toTimeT(std::int64_t time, std::time_t& out) {
  out = static_cast<std::time_t>(time);
  return static_cast<std::int64_t>(out) == time;
}

class SystemClock final : public Clock {
 public:
  std::int64_t now() const override { return static_cast<std::int64_t>(std::time(nullptr)); }

  bool localTime(std::int64_t time, std::tm& fields) const override {
    std::time_t t;
    if (!toTimeT(time, t)) return false;
#if defined(_WIN32)
    return localtime_s(&fields, &t) == 0;
#else
    return localtime_r(&t, &fields) != nullptr;
#endif
  }

  long utcOffset(std::int64_t time) const override {
    std::time_t t;
    if (!toTimeT(time, t)) return 0;
    std::tm local{}, utc{};
#if defined(_WIN32)
    if (localtime_s(&local, &t) != 0 || gmtime_s(&utc, &t) != 0) return 0;
#else
    if (!localtime_r(&t, &local) || !gmtime_r(&t, &utc)) return 0;
#endif
    auto seconds = [](const std::tm& f) {
      return daysFromCivil(1900 + static_cast<std::int64_t>(f.tm_year), f.tm_mon, f.tm_mday) * 86400 +
             f.tm_hour * 3600 + f.tm_min * 60 + f.tm_sec;
    };
    return static_cast<long>(seconds(local) - seconds(utc));
  }
};

}  // namespace

const Clock& systemClock() {
  static const SystemClock clock;
  return clock;
}

}  // namespace zel
