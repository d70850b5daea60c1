#include "platform/clock.h"

#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "codec/sjis_text.h"
#include "platform/host_name.h"

namespace zel {
namespace {

TEST(Clock, TickCountAdvancesAndIdentityIsStable) {
  const std::uint32_t a = TickCount();
  std::uint32_t b = a;
  // The tick may be coarse (10-16 ms on Windows): wait up to a second.
  for (int i = 0; i < 50 && b == a; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    b = TickCount();
  }
  EXPECT_NE(a, b);
  EXPECT_EQ(ProcessId(), ProcessId());
  EXPECT_NE(ProcessId(), 0ul);
}

TEST(Clock, LocalTimeAndOffsetAgree) {
  const std::time_t t = CalendarTime();
  std::tm local{};
  ASSERT_TRUE(LocalTime(t, local));
  std::tm utc = *std::gmtime(&t);
  // Offset = local wall clock minus UTC wall clock, day wrap included.
  long diff = ((local.tm_hour - utc.tm_hour) * 60 + (local.tm_min - utc.tm_min)) * 60;
  if (local.tm_yday != utc.tm_yday) diff += (local.tm_yday > utc.tm_yday || local.tm_year > utc.tm_year) ? 86400 : -86400;
  EXPECT_EQ(LocalUtcOffset(t), diff);
}

#ifndef _WIN32
TEST(Clock, JapanOffsetIsNineHoursEast) {
  const char* old = std::getenv("TZ");
  const std::string saved = old != nullptr ? old : "";
  setenv("TZ", "JST-9", 1);
  tzset();
  EXPECT_EQ(LocalUtcOffset(1109809805), 9 * 3600);  // 2005-03-03 00:30:05 UTC
  std::tm local{};
  ASSERT_TRUE(LocalTime(1109809805, local));
  EXPECT_EQ(local.tm_hour, 9);
  EXPECT_EQ(local.tm_min, 30);
  if (old != nullptr) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
  tzset();
}
#endif

TEST(HostName, IsWholeOrNone) {
  char name[kHostNameSize];
  ASSERT_TRUE(LocalHostName(name, sizeof name));
  EXPECT_GT(std::string(name).size(), 0u);
  // A name that does not fit is none: a cut name would be another host.
  char tiny[2] = "x";
  EXPECT_FALSE(LocalHostName(tiny, sizeof tiny));
  EXPECT_STREQ(tiny, "");
}

}  // namespace
}  // namespace zel
