// Header table, RFC 822 dates, the captured date and the line cleaners.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "codec/calendar.h"
#include "codec/header_table.h"
#include "codec/header_text.h"
#include "codec/rfc822_date.h"
#include "fixed_clock.h"

namespace zel {
namespace {

constexpr long kJst = 9 * 3600;
constexpr long kEst = -5 * 3600;

class StringSink final : public LineSink {
 public:
  bool write(std::string_view text) override {
    if (fail) return false;
    out.append(text);
    return true;
  }
  std::string out;
  bool fail = false;
};

TEST(Rfc822Date, PublishedValues) {
  EXPECT_EQ(parseRfc822Date("Mon, 01 Jan 2001 12:00:00 +0900"), 978318000);
  EXPECT_EQ(parseRfc822Date("01 Jan 2001 12:00:00 GMT"), 978350400);
  EXPECT_EQ(parseRfc822Date("Mon, 01 Jan 2001 12:00:00 EST"), 978368400);
  EXPECT_EQ(parseRfc822Date("Mon, 01 Jan 01 12:00:00 JST"), 978318000);
  const std::int64_t y1999 = parseRfc822Date("Sat, 01 Jan 99 00:00:00 +0000");
  EXPECT_EQ(y1999, 915148800);  // 1999-01-01 00:00 UTC
  EXPECT_EQ(parseRfc822Date("Mon, 01 Jan 2001"), 978307200);
}

TEST(Rfc822Date, TwoDigitYearPivot) {
  // 00-29 are 2000-2029, 30-99 are 1930-1999 (before 1970: no usable date).
  const std::pair<const char*, std::int64_t> cases[] = {
      {"00", 2000}, {"29", 2029}, {"30", 0}, {"69", 0}, {"70", 1970}, {"75", 1975}, {"99", 1999}};
  for (const auto& [year, full] : cases) {
    const std::int64_t expected = full == 0 ? 0 : daysFromCivil(full, 0, 1) * 86400;
    EXPECT_EQ(parseRfc822Date((std::string("1 Jan ") + year + " 00:00:00 GMT").c_str()), expected) << year;
  }
}

TEST(Rfc822Date, Zones) {
  const std::int64_t noon = 978350400;  // 2001-01-01 12:00 UTC
  EXPECT_EQ(parseRfc822Date("1 Jan 2001 12:00:00 -0130"), noon + 5400);
  EXPECT_EQ(parseRfc822Date("1 Jan 2001 12:00:00 UT"), noon);
  EXPECT_EQ(parseRfc822Date("1 Jan 2001 12:00:00 PDT"), noon + 25200);
  EXPECT_EQ(parseRfc822Date("1 Jan 2001 12:00:00 A"), noon + 3600);
  EXPECT_EQ(parseRfc822Date("1 Jan 2001 12:00:00 Y"), noon - 12 * 3600);
  EXPECT_EQ(parseRfc822Date("1 Jan 2001 12:00:00 Z"), noon);
  EXPECT_EQ(parseRfc822Date("1 Jan 2001 12:00:00 +09"), noon);  // too short: ignored
  EXPECT_EQ(parseRfc822Date("1 Dec 2001 12:00:00 +0000"), 1007208000);
  // Month names compare with case; an unknown month is January.
  EXPECT_EQ(parseRfc822Date("1 jan 2001 12:00:00 +0000"), noon);
}

TEST(Rfc822Date, OutOfRangeAndGarbage) {
  // No fields at all: day 0 of January 2000, that is 1999-12-31.
  EXPECT_EQ(parseRfc822Date(""), 946598400);
  EXPECT_EQ(parseRfc822Date("garbage"), 946598400);
  EXPECT_EQ(parseRfc822Date("1 Jan 1969 00:00:00 GMT"), 0);
  EXPECT_EQ(parseRfc822Date("1 Jan 99999999999 00:00:00 GMT"), 0);
  EXPECT_EQ(parseRfc822Date("99999999999 Jan 2001 99999999:99:99 +9999"), 0);
  EXPECT_EQ(parseRfc822Date("1 Jan 3001 00:00:00 GMT"), 0);
  EXPECT_EQ(parseRfc822Date("31 Dec 3000 23:59:59 GMT"), kLatestDate);
  // Out-of-range fields are carried over: 32 Jan is 1 Feb.
  EXPECT_EQ(parseRfc822Date("32 Jan 2001 00:00:00 GMT"), parseRfc822Date("1 Feb 2001 00:00:00 GMT"));
}

TEST(CaptureDate, ReadsWallClock) {
  std::tm f{};
  ASSERT_EQ(parseCaptureDate("Date: Tue, 02 Oct 2001 09:05:07 +0900\n", f), 1);
  EXPECT_EQ(f.tm_year, 101);
  EXPECT_EQ(f.tm_mon, 9);
  EXPECT_EQ(f.tm_mday, 2);
  EXPECT_EQ(f.tm_hour, 9);
  EXPECT_EQ(f.tm_min, 5);
  EXPECT_EQ(f.tm_sec, 7);
  ASSERT_EQ(parseCaptureDate("Date: 2 Aug 79 1:02:03", f), 1);
  EXPECT_EQ(f.tm_year, 179);
  EXPECT_EQ(f.tm_mon, 7);
  EXPECT_EQ(f.tm_mday, 2);
  EXPECT_EQ(f.tm_hour, 1);
  EXPECT_EQ(f.tm_min, 2);
  EXPECT_EQ(f.tm_sec, 3);
  ASSERT_EQ(parseCaptureDate("Date: 2 Aug 85 1:02", f), 1);
  EXPECT_EQ(f.tm_year, 85);
  EXPECT_EQ(f.tm_sec, 0);
}

TEST(CaptureDate, ShortLinesFail) {
  std::tm f{};
  EXPECT_EQ(parseCaptureDate("Date:", f), 0);
  EXPECT_EQ(parseCaptureDate("Date:\n", f), 0);
  EXPECT_EQ(parseCaptureDate("", f), 0);
  EXPECT_EQ(parseCaptureDate("Date: Tue,", f), 0);
  EXPECT_EQ(parseCaptureDate("Date: Tue, 02 Oct", f), 0);
  EXPECT_EQ(parseCaptureDate("Date: Tue, 02 Oct 2001\n", f), 0);
  EXPECT_EQ(parseCaptureDate("Date: Tue, 02 Oct 2001 09", f), 0);
}

TEST(HeaderTable, CaptureByPrefix) {
  FixedClock clock(978318000, kJst);
  HeaderTable table(clock);
  EXPECT_EQ(table.capture("reply-to: r@x\n"), 1);
  EXPECT_EQ(table.capture("To: t@x\n"), 1);
  EXPECT_EQ(table.capture("X-Other: z\n"), 0);
  EXPECT_EQ(table.value(6), "r@x\n");
  EXPECT_EQ(table.value(7), "t@x\n");
  EXPECT_EQ(table.capture("TO: second@x\n"), 1);  // a later line replaces
  EXPECT_EQ(table.value(7), "second@x\n");
  EXPECT_EQ(table.capture("To:"), 1);
  EXPECT_EQ(table.value(7), "");
  table.reset();
  for (std::size_t i = 0; i < HeaderTable::kEntryCount; ++i) EXPECT_EQ(table.value(i), "");
}

TEST(HeaderTable, WritesInTableOrder) {
  FixedClock clock(1000000000, kJst);
  HeaderTable table(clock);
  table.capture("From: a@x\n");
  table.capture("Date: Mon, 01 Jan 2001 12:00:00 +0900\n");
  table.capture("Message-Id: <1@x>\n");
  table.capture("To: t@x\n");
  StringSink sink;
  EXPECT_EQ(table.write(sink), 1);
  EXPECT_EQ(sink.out,
            "Message-Id: <1@x>\n"
            "Date: Mon, 01 Jan 2001 12:00:00 +0900\n"
            "To: t@x\n"
            "Subject: \n"
            "From: a@x\n");
  sink.fail = true;
  EXPECT_EQ(table.write(sink), 0);
}

TEST(HeaderTable, DateUsesTheRealLocalZone) {
  // The same instant on a machine in New York: local time, real offset.
  FixedClock clock(1000000000, kEst);
  HeaderTable table(clock);
  table.capture("Date: Mon, 01 Jan 2001 12:00:00 +0900\n");
  StringSink sink;
  table.write(sink);
  EXPECT_EQ(sink.out, "Date: Sun, 31 Dec 2000 22:00:00 -0500\nSubject: \nFrom: \n");
  // Half-hour zones keep their minutes.
  FixedClock india(978318000, 5 * 3600 + 1800);
  EXPECT_EQ(formatDateLine(india, 978318000), "Date: Mon, 01 Jan 2001 08:30:00 +0530\n");
}

TEST(HeaderTable, MissingOrBadDateGivesNow) {
  FixedClock clock(1000000000, kJst);  // 2001-09-09 01:46:40 UTC
  HeaderTable table(clock);
  StringSink sink;
  table.write(sink);
  EXPECT_EQ(sink.out, "Date: Sun, 09 Sep 2001 10:46:40 +0900\nSubject: \nFrom: \n");
  table.capture("Date: 1 Jan 99999 00:00:00 GMT\n");
  sink.out.clear();
  table.write(sink);
  EXPECT_EQ(sink.out.substr(0, 38), "Date: Sun, 09 Sep 2001 10:46:40 +0900\n");
}

TEST(HeaderTable, ValueWithoutLineFeedStaysOneLine) {
  FixedClock clock(1000000000, kJst);
  HeaderTable table(clock);
  table.capture("Subject: last line");
  StringSink sink;
  table.write(sink);
  EXPECT_NE(sink.out.find("Subject: last line\nFrom: \n"), std::string::npos);
}

TEST(HeaderText, TrimBlanks) {
  char text[] = " a\tb \n";
  char* p = trimBlanks(text);
  EXPECT_EQ(p, text + 1);
  EXPECT_STREQ(p, "a b");
  char blank[] = " \t\n";
  EXPECT_STREQ(trimBlanks(blank), "");
  char empty[] = "";
  EXPECT_STREQ(trimBlanks(empty), "");
}

TEST(HeaderText, StripUnquotedBlanks) {
  char text[] = "Content-Type: multipart/mixed;\n\tboundary=\"a b\"\r\n";
  EXPECT_STREQ(stripUnquotedBlanks(text), "Content-Type:multipart/mixed;boundary=\"a b\"");
  char open[] = "x \"a b";  // an unclosed quote keeps the rest
  EXPECT_STREQ(stripUnquotedBlanks(open), "x\"a b");
}

}  // namespace
}  // namespace zel
