#include "codec/rfc822_date.h"

#include <cstdio>
#include <cstring>

#include "codec/calendar.h"

namespace zel {

namespace {

constexpr const char* kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* kWeekdays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

// Bound of the numbers read from a date, far beyond any real field, so that
// no arithmetic on them can overflow.
constexpr long kNumberLimit = 100000000;

// The C library's atoi, saturated at kNumberLimit: leading white space and a
// sign allowed, stops at the first non-digit.
long readNumber(const char* p) {
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  long v = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (v < kNumberLimit) v = v * 10 + (*p - '0');
  }
  if (v > kNumberLimit) v = kNumberLimit;
  return negative ? -v : v;
}

// Past the next blank (or to the end of the text).
const char* skipPastBlank(const char* p) {
  while (*p && *p != ' ') ++p;
  return *p ? p + 1 : p;
}

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

struct Zone {
  const char* name;
  int correction;  // seconds added to the local time to give UTC
};
constexpr Zone kZones[] = {{"GMT", 0},     {"EST", 18000}, {"EDT", 14400}, {"CST", 21600},
                           {"CDT", 18000}, {"MST", 25200}, {"MDT", 21600}, {"PST", 28800},
                           {"PDT", 25200}, {"JST", -32400}};

std::int64_t zoneCorrection(const char* p) {
  const std::size_t rest = std::strlen(p);
  if ((p[0] == '+' || p[0] == '-') && rest >= 5) {
    const long hh = (p[1] - '0') * 10 + (p[2] - '0');
    const long mm = readNumber(p + 3);
    const std::int64_t offset = static_cast<std::int64_t>(hh) * 3600 + static_cast<std::int64_t>(mm) * 60;
    return p[0] == '+' ? -offset : offset;
  }
  if (std::strncmp(p, "UT", 2) == 0) return 0;
  for (const Zone& z : kZones) {
    if (std::strncmp(p, z.name, 3) == 0) return z.correction;
  }
  if (p[0] >= 'A' && p[0] <= 'J') return (p[0] - 'A' + 1) * 3600;
  if (p[0] >= 'N' && p[0] <= 'Y') return (77 - p[0]) * 3600;
  return 0;
}

// Two digits of a date field, the way "%02d" writes them.
void appendTwo(std::string& out, int v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d", v);
  out += buf;
}

}  // namespace

std::int64_t parseRfc822Date(const char* text) {
  const char* p = text;
  // A leading weekday is skipped; it does not change the result.
  if (isLetter(*p)) p = skipPastBlank(p);
  const long day = readNumber(p);
  p = skipPastBlank(p);
  int month = 0;
  for (int m = 0; m < 12; ++m) {
    if (std::strncmp(p, kMonths[m], 3) == 0) {
      month = m;
      break;
    }
  }
  p = skipPastBlank(p);
  long year = readNumber(p);
  if (year >= 1900) year -= 1900;
  else if (year < 30) year += 100;
  p = skipPastBlank(p);
  long hour = 0, minute = 0, second = 0;
  if (std::strlen(p) >= 8) {
    hour = readNumber(p);
    minute = readNumber(p + 3);
    second = readNumber(p + 6);
    p += 8;
  }
  if (*p) ++p;
  const std::int64_t days = daysFromCivil(1900 + static_cast<std::int64_t>(year), month, day);
  std::int64_t t = days * 86400 + static_cast<std::int64_t>(hour) * 3600 +
                   static_cast<std::int64_t>(minute) * 60 + second;
  t += zoneCorrection(p);
  // Dates outside the range both platforms' C libraries convert: unusable.
  if (t < 0 || t > kLatestDate) return 0;
  return t;
}

int parseCaptureDate(const char* line, std::tm& fields) {
  fields = std::tm{};
  // Tokens split at blanks, then the time at colons, as strtok would.
  const char* p = line;
  auto token = [&p](const char* delimiters, std::string& out) {
    while (*p && std::strchr(delimiters, *p)) ++p;
    if (!*p) return false;
    const char* start = p;
    while (*p && !std::strchr(delimiters, *p)) ++p;
    out.assign(start, p);
    if (*p) ++p;
    return true;
  };
  const char* const kBlanks = " \t\r\n";
  std::string t;
  if (!token(kBlanks, t)) return 0;  // the header name
  if (!token(kBlanks, t)) return 0;
  if (isLetter(t[0]) && !token(kBlanks, t)) return 0;  // a weekday first
  fields.tm_mday = static_cast<int>(readNumber(t.c_str()));
  if (!token(kBlanks, t)) return 0;
  for (int m = 0; m < 12; ++m) {
    if (t == kMonths[m]) {
      fields.tm_mon = m;
      break;
    }
  }
  if (!token(kBlanks, t)) return 0;
  long year = readNumber(t.c_str());
  if (year < 80) year += 100;
  if (year > 1900) year -= 1900;
  fields.tm_year = static_cast<int>(year);
  if (!token(":", t)) return 0;
  fields.tm_hour = static_cast<int>(readNumber(t.c_str()));
  if (!token(":", t)) return 0;
  fields.tm_min = static_cast<int>(readNumber(t.c_str()));
  if (token(":", t)) fields.tm_sec = static_cast<int>(readNumber(t.c_str()));
  return 1;
}

std::string formatDateValue(const Clock& clock, std::int64_t time) {
  std::tm tm{};
  if (!clock.localTime(time, tm)) {
    time = clock.now();
    if (!clock.localTime(time, tm)) {
      // A clock that converts nothing: UTC by our own arithmetic.
      std::int64_t y;
      int mon, day;
      const std::int64_t days = (time >= 0 ? time : time - 86399) / 86400;
      civilFromDays(days, y, mon, day);
      const std::int64_t secs = time - days * 86400;
      tm.tm_year = static_cast<int>(y - 1900);
      tm.tm_mon = mon;
      tm.tm_mday = day;
      tm.tm_hour = static_cast<int>(secs / 3600);
      tm.tm_min = static_cast<int>(secs / 60 % 60);
      tm.tm_sec = static_cast<int>(secs % 60);
    }
  }
  // The weekday is worked out from the date, not trusted from the clock.
  const int wday = weekdayFromDays(daysFromCivil(1900 + static_cast<std::int64_t>(tm.tm_year), tm.tm_mon, tm.tm_mday));
  std::string out = kWeekdays[wday];
  out += ", ";
  appendTwo(out, tm.tm_mday);
  out += ' ';
  out += kMonths[((tm.tm_mon % 12) + 12) % 12];
  out += ' ';
  out += std::to_string(1900 + static_cast<long long>(tm.tm_year));
  out += ' ';
  appendTwo(out, tm.tm_hour);
  out += ':';
  appendTwo(out, tm.tm_min);
  out += ':';
  appendTwo(out, tm.tm_sec);
  // The local zone's real offset, rounded to minutes.
  long offset = clock.utcOffset(time);
  const char sign = offset < 0 ? '-' : '+';
  if (offset < 0) offset = -offset;
  offset = (offset + 30) / 60;
  char zone[32];
  std::snprintf(zone, sizeof zone, " %c%02ld%02ld", sign, (offset / 60) % 100, offset % 60);
  out += zone;
  return out;
}

std::string formatDateLine(const Clock& clock, std::int64_t time) {
  return "Date: " + formatDateValue(clock, time) + "\n";
}

}  // namespace zel
