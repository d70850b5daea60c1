// The date of an index record: a message's "Date:" value turned into local
// time text "YYYY/MM/DD(曜) hh:mm:ss".
#pragma once

#include <cstdint>
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
// `standardOffset` is StandardUtcOffset(), taken once per index update.
// Appends the text, in the local time of the platform (daylight saving
// included), to `out`; weekdays 日 月 火 水 木 金 土.
void AppendIndexDate(std::string& out, std::string_view value, long standardOffset);

// Appends `value` in decimal, zero-padded to `width` characters ("%0*lld").
void AppendDecimal(std::string& out, std::int64_t value, int width);

// The local zone's standard offset east of UTC in seconds (no daylight
// saving): the smaller offset of 1 January and 1 July of the current year.
long StandardUtcOffset();

}  // namespace zel
