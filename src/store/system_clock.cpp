#include "store/system_clock.h"

#include "platform/clock.h"

namespace zel {

namespace {

// False when `time` does not fit the platform's calendar time.
bool toTimeT(std::int64_t time, std::time_t& out) {
  out = static_cast<std::time_t>(time);
  return static_cast<std::int64_t>(out) == time;
}

class SystemClock final : public Clock {
 public:
  std::int64_t now() const override { return static_cast<std::int64_t>(CalendarTime()); }

  bool localTime(std::int64_t time, std::tm& fields) const override {
    std::time_t t;
    return toTimeT(time, t) && LocalTime(t, fields);
  }

  long utcOffset(std::int64_t time) const override {
    std::time_t t;
    return toTimeT(time, t) ? LocalUtcOffset(t) : 0;
  }
};

}  // namespace

const Clock& systemClock() {
  static const SystemClock clock;
  return clock;
}

}  // namespace zel
