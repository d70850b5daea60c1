// Date fields of mail headers: the RFC 822 date parser, the capture of a
// message's own wall-clock time, and the generated "Date:" text.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "codec/clock.h"

namespace zel {

// Calendar range a parsed date must fall in (that of the Windows C library's
// 64-bit time functions, so both platforms accept the same dates):
// 1970-01-01 00:00:00 UTC up to 3000-12-31 23:59:59 UTC.
inline constexpr std::int64_t kLatestDate = 32535215999;

// parseRfc822Date: parses the value of a Date field ("Mon, 01 Jan 2001
// 12:00:00 +0900"): optional weekday, day, month name, year (00-29 mean
// 2000-2029, 30-99 mean 1930-1999), optional HH:MM:SS and zone (+hhmm,
// -hhmm, GMT UT EST EDT CST CDT MST MDT PST PDT JST, military letters).
//   text  NUL-terminated; read no further than its end
// Returns seconds since 1970-01-01 UTC; 0 means no usable date, which is
// also the result for a date outside 1970..3000 (see kLatestDate).
std::int64_t parseRfc822Date(const char* text);

// parseCaptureDate: reads the wall-clock time of a whole "Date:" line
// ("Date: Tue, 02 Oct 2001 09:05:07 +0900") without applying the zone.
// Years below 80 are 2000-2079, 80-99 are 1980-1999, four digits as written.
//   fields  cleared, then day, month (0-11), year (since 1900), hour,
//           minute, second filled
// Returns 1 on success, 0 when the line ends before the day, month, year,
// hour or minute.
int parseCaptureDate(const char* line, std::tm& fields);

// formatDateValue: "Mon, 01 Jan 2001 12:00:00 +0900" for `time` in the
// clock's local time with the local zone's real offset (English names).
// A time the clock cannot convert is replaced by the current time.
std::string formatDateValue(const Clock& clock, std::int64_t time);

// formatDateLine: "Date: " + formatDateValue(...) + line feed.
std::string formatDateLine(const Clock& clock, std::int64_t time);

}  // namespace zel
