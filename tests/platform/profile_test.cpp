#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/file_ops.h"
#include "platform/profile_file.h"
#include "platform/profile_text.h"
#include "scratch_dir.h"

namespace zel {
namespace {

TEST(ProfileText, FindsAndSetsKeysWithoutRegardToCase) {
  const std::string text = "[Other]\r\ncount=7\r\n[ZelSend]\r\n Count = 12 \r\nx=1\r\n";
  EXPECT_EQ(FindProfileValue(text, "zelsend", "COUNT").value_or("?"), "12");
  EXPECT_EQ(FindProfileValue(text, "other", "count").value_or("?"), "7");
  EXPECT_FALSE(FindProfileValue(text, "zelsend", "none").has_value());
  EXPECT_EQ(SetProfileValue(text, "zelsend", "count", "13"),
            "[Other]\r\ncount=7\r\n[ZelSend]\r\ncount=13\r\nx=1\r\n");
  EXPECT_EQ(SetProfileValue("[a]\r\nk=1\r\n\r\n[b]\r\n", "a", "n", "2"),
            "[a]\r\nk=1\r\nn=2\r\n\r\n[b]\r\n");
  EXPECT_EQ(SetProfileValue("", "zelsend", "count", "1"), "[zelsend]\r\ncount=1\r\n");
}

TEST(ProfileText, IntegerReadsLeadingDigits) {
  EXPECT_EQ(ProfileValueToInt("42abc"), 42);
  EXPECT_EQ(ProfileValueToInt("abc"), 0);
  EXPECT_EQ(ProfileValueToInt("-3"), -3);
  EXPECT_EQ(ProfileValueToInt("99999999999999"), 0x7FFFFFFF);
}

#ifndef _WIN32
// The profile file follows XDG_CONFIG_HOME; each test gets its own.
class ProfileFile : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    had_ = old != nullptr;
    if (had_) saved_ = old;
    setenv("XDG_CONFIG_HOME", dir_.Path().c_str(), 1);
  }
  void TearDown() override {
    if (had_) setenv("XDG_CONFIG_HOME", saved_.c_str(), 1); else unsetenv("XDG_CONFIG_HOME");
  }
  test::ScratchDir dir_;
  bool had_ = false;
  std::string saved_;
};

TEST_F(ProfileFile, LivesInXdgConfigHome) {
  EXPECT_EQ(ProfileFilePath(), dir_.File("zelpost.ini"));
  EXPECT_EQ(ProfileInt("zelsend", "count", -5), -5);
  ASSERT_TRUE(WriteProfileText("zelsend", "count", "41"));
  EXPECT_EQ(test::ReadBytes(dir_.File("zelpost.ini")), "[zelsend]\r\ncount=41\r\n");
  EXPECT_EQ(ProfileInt("ZELSEND", "Count", 0), 41);
}

TEST_F(ProfileFile, CounterGrowsAndWrapsAtTheModulo) {
  int n = -1;
  ASSERT_TRUE(NextProfileCounter("zelsend", "count", 100000, n));
  EXPECT_EQ(n, 1);
  ASSERT_TRUE(WriteProfileText("zelsend", "count", "99998"));
  ASSERT_TRUE(NextProfileCounter("zelsend", "count", 100000, n));
  EXPECT_EQ(n, 99999);
  ASSERT_TRUE(NextProfileCounter("zelsend", "count", 100000, n));
  EXPECT_EQ(n, 0);
  EXPECT_EQ(ProfileInt("zelsend", "count", -1), 0);
}

TEST_F(ProfileFile, ConcurrentUpdatesNeverRepeatANumber) {
  constexpr int kThreads = 4, kEach = 50;
  std::vector<std::vector<int>> got(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        int n = 0;
        if (NextProfileCounter("zelsend", "count", 100000, n)) got[t].push_back(n);
      }
    });
  }
  for (auto& th : threads) th.join();
  std::set<int> all;
  for (const auto& v : got) all.insert(v.begin(), v.end());
  EXPECT_EQ(all.size(), static_cast<std::size_t>(kThreads * kEach));
  EXPECT_EQ(*all.rbegin(), kThreads * kEach);
}
#endif

}  // namespace
}  // namespace zel
