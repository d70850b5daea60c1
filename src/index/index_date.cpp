#include "index/index_date.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "codec/calendar.h"
#include "platform/clock.h"

namespace zel {

namespace {

constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::string_view kWeekdays[] = {"日", "月", "火", "水", "木", "金", "土"};

// "00" to "99", for writing two digits at once.
constexpr auto kTwoDigits = [] {
  std::array<char, 200> digits{};
  for (int k = 0; k < 100; ++k) {
    digits[2 * k] = static_cast<char>('0' + k / 10);
    digits[2 * k + 1] = static_cast<char>('0' + k % 10);
  }
  return digits;
}();

struct Zone {
  std::string_view name;
  int hours;
};
constexpr Zone kZones[] = {{"UT", 0},   {"GMT", 0},  {"Z", 0},    {"EST", -5}, {"CDT", -5}, {"CST", -6},
                           {"MDT", -6}, {"MST", -7}, {"PDT", -7}, {"PST", -8}, {"YDT", -8}, {"YST", -9},
                           {"HDT", -9}, {"HST", -10}, {"BDT", -10}, {"BST", -11}};

// Numbers are read as atoi reads them, held within a range no date needs to
// leave, so no arithmetic below can overflow.
constexpr std::int64_t kNumberLimit = 1000000000;

// Latest time converted: the end of the year 3000, which every platform's
// local-time conversion handles.
constexpr std::int64_t kLatestTime = 32535215999;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// atoi of the text at `at` (nothing past its end: 0).
std::int64_t numberAt(std::string_view v, std::size_t at) {
  std::size_t i = at;
  while (i < v.size() && (v[i] == ' ' || (v[i] >= '\t' && v[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < v.size() && (v[i] == '+' || v[i] == '-')) negative = v[i++] == '-';
  std::int64_t n = 0;
  for (; i < v.size() && isDigit(v[i]); ++i) n = std::min(n * 10 + (v[i] - '0'), kNumberLimit);
  return negative ? -n : n;
}

// numberAt of a number that starts with a digit at `i`: its digits read
// and passed (`i` moves past them).
std::int64_t readDigits(std::string_view v, std::size_t& i) {
  std::int64_t n = 0;
  for (; i < v.size() && isDigit(v[i]); ++i) n = std::min(n * 10 + (v[i] - '0'), kNumberLimit);
  return n;
}

// The number at `i` as numberAt reads it; `i` moves past its digits when
// it starts with one (the word's end is still to be skipped).
std::int64_t readNumber(std::string_view v, std::size_t& i) {
  return i < v.size() && isDigit(v[i]) ? readDigits(v, i) : numberAt(v, i);
}

// True when "hh:mm:ss" (two digits each) stands at `at`, followed by the
// end or a blank: numberAt reads each the same.
bool isClock(std::string_view v, std::size_t at) {
  if (v.size() < at + 8 || (v.size() > at + 8 && v[at + 8] != ' ')) return false;
  for (std::size_t k = 0; k < 8; ++k) {
    if (k % 3 == 2 ? v[at + k] != ':' : !isDigit(v[at + k])) return false;
  }
  return true;
}

void skipBlanks(std::string_view v, std::size_t& i) {
  while (i < v.size() && v[i] == ' ') ++i;
}

void skipWord(std::string_view v, std::size_t& i) {
  while (i < v.size() && v[i] != ' ') ++i;
}

}  // namespace

long StandardUtcOffset() {
  std::int64_t year;
  int month, day;
  civilFromDays(static_cast<std::int64_t>(CalendarTime()) / 86400, year, month, day);
  const auto january = static_cast<std::time_t>(daysFromCivil(year, 0, 1) * 86400);
  const auto july = static_cast<std::time_t>(daysFromCivil(year, 6, 1) * 86400);
  return std::min(LocalUtcOffset(january), LocalUtcOffset(july));
}

namespace {

// Writes "YYYY/MM/DD(曜) " at `p`; returns its end.
char* WriteDay(char* p, std::int64_t year, int month0, int day, int weekday) {
  std::memcpy(p, &kTwoDigits[2 * (year / 100 % 100)], 2);  // 1970 to 3000
  std::memcpy(p + 2, &kTwoDigits[2 * (year % 100)], 2);
  p[4] = '/';
  std::memcpy(p + 5, &kTwoDigits[2 * ((month0 + 1) % 100)], 2);
  p[7] = '/';
  std::memcpy(p + 8, &kTwoDigits[2 * (day % 100)], 2);
  p[10] = '(';
  p += 11;
  const std::string_view name = kWeekdays[weekday % 7];
  std::memcpy(p, name.data(), name.size());
  p += name.size();
  *p++ = ')';
  *p++ = ' ';
  return p;
}

// Writes "hh:mm:ss" at `p`.
void WriteClock(char* p, int hour, int minute, int second) {
  std::memcpy(p, &kTwoDigits[2 * (hour % 100)], 2);
  p[2] = ':';
  std::memcpy(p + 3, &kTwoDigits[2 * (minute % 100)], 2);
  p[5] = ':';
  std::memcpy(p + 6, &kTwoDigits[2 * (second % 100)], 2);
}

}  // namespace

IndexClock::Hour* IndexClock::HourOf(std::int64_t t) {
  // Local seconds minus UTC seconds of a broken-down time of `at`.
  const auto offsetOf = [](std::int64_t at, const std::tm& local) {
    return daysFromCivil(local.tm_year + 1900, local.tm_mon, local.tm_mday) * 86400 +
           local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec - at;
  };
  std::uint64_t mixed = static_cast<std::uint64_t>(t / 3600);  // splitmix64's finaliser
  mixed = (mixed ^ (mixed >> 30)) * 0xBF58476D1CE4E5B9ull;
  mixed = (mixed ^ (mixed >> 27)) * 0x94D049BB133111EBull;
  Hour& hour = hours_[(mixed ^ (mixed >> 31)) >> (64 - kHourBits)];
  if (hour.number != t / 3600) {
    const std::int64_t start = t / 3600 * 3600;
    std::tm first{}, last{};
    hour.number = -1;
    hour.day = kNoDay;
    if (!LocalTime(static_cast<std::time_t>(start), first) ||
        !LocalTime(static_cast<std::time_t>(start + 3599), last) ||
        offsetOf(start, first) != offsetOf(start + 3599, last)) {
      return nullptr;
    }
    hour.number = t / 3600;
    hour.offset = offsetOf(start, first);
  }
  return &hour;
}

void IndexClock::AppendLocal(std::string& out, std::int64_t t) {
  char text[40];
  Hour* hour = HourOf(t);
  if (hour == nullptr) {
    std::tm f{};
    if (!LocalTime(static_cast<std::time_t>(t), f)) LocalTime(0, f);
    char* p = WriteDay(text, f.tm_year + 1900, f.tm_mon, f.tm_mday, f.tm_wday);
    WriteClock(p, f.tm_hour, f.tm_min, f.tm_sec);
    out.append(text, static_cast<std::size_t>(p + 8 - text));
    return;
  }
  const std::int64_t local = t + hour->offset;
  const std::int64_t days = local >= 0 ? local / 86400 : -((86399 - local) / 86400);
  const auto seconds = static_cast<int>(local - days * 86400);
  if (hour->day != days) {
    std::int64_t year;
    int month0, day;
    civilFromDays(days, year, month0, day);
    hour->dayTextSize = static_cast<std::size_t>(
        WriteDay(hour->dayText, year, month0, day, weekdayFromDays(days)) - hour->dayText);
    hour->day = days;
  }
  out.append(hour->dayText, hour->dayTextSize);
  WriteClock(text, seconds / 3600, seconds / 60 % 60, seconds % 60);
  out.append(text, 8);
}

void AppendIndexDate(std::string& out, std::string_view v, IndexClock& clock) {
  const long standard = clock.StandardOffset();
  std::size_t i = 0;
  skipBlanks(v, i);
  if (i < v.size() && !isDigit(v[i])) skipWord(v, i);  // the weekday
  skipBlanks(v, i);
  const std::int64_t day = readNumber(v, i);
  skipWord(v, i);
  skipBlanks(v, i);
  int month = -1;
  for (int m = 0; m < 12 && i + 3 <= v.size(); ++m) {
    if (v[i] == kMonths[m][0] && v[i + 1] == kMonths[m][1] && v[i + 2] == kMonths[m][2]) {
      month = m;
      i += 3;
      break;
    }
  }
  skipWord(v, i);
  skipBlanks(v, i);
  std::int64_t year = readNumber(v, i);
  if (year < 100) year += year < 70 ? 2000 : 1900;
  skipWord(v, i);
  skipBlanks(v, i);
  std::int64_t hour, minute, second;
  if (isClock(v, i)) {  // the usual "hh:mm:ss", read at once
    const auto two = [&](std::size_t at) { return (v[at] - '0') * 10 + (v[at + 1] - '0'); };
    hour = two(i);
    minute = two(i + 3);
    second = two(i + 6);
    i += 8;
  } else {
    hour = numberAt(v, i);
    minute = numberAt(v, i + 3);
    second = numberAt(v, i + 6);
  }
  skipWord(v, i);
  skipBlanks(v, i);
  const std::string_view zone = v.substr(i);

  std::int64_t t = (daysFromCivil(year, month, 1) + day - 1) * 86400 + hour * 3600 + minute * 60 + second -
                   standard;
  const auto startsWith = [&](std::string_view p) { return zone.substr(0, p.size()) == p; };
  if (startsWith("900") || startsWith("+0900") || startsWith("JST")) {
    // taken as local time
  } else if (!zone.empty() && (zone[0] == '+' || zone[0] == '-' || isDigit(zone[0]))) {
    t += standard - numberAt(zone, 0) / 100 * 3600;
  } else {
    for (const Zone& z : kZones) {
      if (startsWith(z.name)) {
        t += standard - z.hours * 3600;
        break;
      }
    }
  }
  t = std::clamp<std::int64_t>(t, 0, kLatestTime);
  clock.AppendLocal(out, t);
}

void AppendDecimal(std::string& out, std::int64_t value, int width) {
  char text[48];
  char* end = text + sizeof text;
  char* p = end;
  const bool negative = value < 0;
  std::uint64_t v = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  for (; v >= 100; v /= 100) {  // two digits at a time
    p -= 2;
    std::memcpy(p, &kTwoDigits[2 * (v % 100)], 2);
  }
  if (v >= 10) {
    p -= 2;
    std::memcpy(p, &kTwoDigits[2 * v], 2);
  } else {
    *--p = static_cast<char>('0' + v);
  }
  while (end - p < std::min(width, 40) - (negative ? 1 : 0)) *--p = '0';
  if (negative) *--p = '-';
  out.append(p, static_cast<std::size_t>(end - p));
}

}  // namespace zel
