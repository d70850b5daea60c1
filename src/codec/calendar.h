// Calendar arithmetic of the proleptic Gregorian calendar, independent of
// the C library's time range.
#pragma once

#include <cstdint>

namespace zel {

// Days from 1970-01-01 to the given date. Any month value is accepted and
// carried into the year (month 12 is January of the next year).
constexpr std::int64_t daysFromCivil(std::int64_t year, std::int64_t month0, std::int64_t day) {
  year += month0 >= 0 ? month0 / 12 : -((11 - month0) / 12);
  month0 -= 12 * (month0 >= 0 ? month0 / 12 : -((11 - month0) / 12));
  const std::int64_t m = month0 + 1;  // 1..12
  year -= m <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yoe = year - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Weekday (0 = Sunday) of a day number of daysFromCivil.
constexpr int weekdayFromDays(std::int64_t days) {
  return static_cast<int>(days >= -4 ? (days + 4) % 7 : (days + 5) % 7 + 6);
}

// Year, month (0-11) and day of a day number of daysFromCivil.
constexpr void civilFromDays(std::int64_t z, std::int64_t& year, int& month0, int& day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = yoe + era * 400 + (m <= 2);
  month0 = m - 1;
}

}  // namespace zel
