// The date of an index record: a message's "Date:" value turned into local
// time text "YYYY/MM/DD(曜) hh:mm:ss".
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace zel {

// AppendIndexDate - converts a captured "Date:" value (what follows the field
// name and one blank).
//
// Reads [weekday] day month year hh:mm:ss [zone], blanks (spaces only)
// between the words. Day, year and time are read as decimal numbers (a
// missing one is 0); a two-digit year below 70 is 20xx, else 19xx; an unknown
// month is the December before. The fields are taken as local standard time,
// then moved by the zone: "+0900", "900" and "JST" leave them; a numeric
// zone (minutes ignored) or one of UT GMT Z EST CDT CST MDT MST PDT PST YDT
// YST HDT HST BDT BST adds the local standard offset minus the zone's; any
// other zone leaves them. A time before 1970 gives 1970-01-01 00:00 UTC.
// `clock` is the update's (one per index update). Appends the text, in the
// local time of the platform (daylight saving included), to `out`;
// weekdays 日 月 火 水 木 金 土.
class IndexClock;
void AppendIndexDate(std::string& out, std::string_view value, IndexClock& clock);

// Appends `value` in decimal, zero-padded to `width` characters ("%0*lld").
void AppendDecimal(std::string& out, std::int64_t value, int width);

// The local zone's standard offset east of UTC in seconds (no daylight
// saving): the smaller offset of 1 January and 1 July of the current year.
long StandardUtcOffset();

// The local time of one index update: the standard offset, taken once, and
// the UTC offsets of the hours its dates fall in. The platform's conversion
// (a lock and a zone lookup per call) is asked once per hour seen, the rest
// is arithmetic; an hour whose offset changes inside it (daylight saving
// begins or ends, a leap second) is converted by the platform every time.
class IndexClock {
 public:
  IndexClock() : standard_(StandardUtcOffset()) {}

  long StandardOffset() const { return standard_; }

  // Appends `t` (0 or later) in local time as "YYYY/MM/DD(曜) hh:mm:ss";
  // a time the platform cannot convert as 0 is.
  void AppendLocal(std::string& out, std::int64_t t);

 private:
  // No day (day numbers before 1970 are negative).
  static constexpr std::int64_t kNoDay = INT64_MIN;
  struct Hour {
    std::int64_t number = -1;  // t / 3600; -1 none
    std::int64_t offset = 0;   // local minus UTC seconds
    // The text "YYYY/MM/DD(曜) " of the local day `day` last written in
    // this hour (an hour lies in one local day but for zones half an hour
    // off).
    std::int64_t day = kNoDay;
    char dayText[24] = {};
    std::size_t dayTextSize = 0;
  };
  // The hour of `t`, its offset known, or nullptr when the offset changes
  // inside it (or the platform cannot convert it).
  Hour* HourOf(std::int64_t t);
  // Hours kept (a power of two), placed by a mixing hash of their number,
  // so that hours a day or a week apart do not collide: a mailbox's
  // neighbouring messages mostly share one.
  static constexpr int kHourBits = 8;
  static constexpr std::size_t kHours = std::size_t{1} << kHourBits;

  const long standard_;
  Hour hours_[kHours];
};

}  // namespace zel
