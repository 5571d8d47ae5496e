#include <gtest/gtest.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "engine/platform/clock.h"
#include "engine/platform/random.h"

namespace orb {
namespace {

TEST(ClockTest, TickCountIsMonotonicAndSleepWaits) {
  uint64_t a = GetTickCount();
  SleepMs(30);
  uint64_t b = GetTickCount();
  EXPECT_GE(b - a, 30u);
  SleepMs(0);
  SleepMs(-5);
  for (int i = 0; i < 1000; ++i) {
    uint64_t c = GetTickCount();
    EXPECT_GE(c, b);
    b = c;
  }
}

TEST(ClockTest, LocalDateTimeMatchesTheSystemClock) {
  time_t before = time(nullptr);
  LocalDateTime now = NowLocal();
  time_t after = time(nullptr);
  bool matched = false;
  for (time_t t = before; t <= after; ++t) {
    struct tm tm;
    localtime_r(&t, &tm);
    matched = matched || (now.year == tm.tm_year + 1900 && now.month == tm.tm_mon + 1 && now.day == tm.tm_mday &&
                          now.hour == tm.tm_hour && now.minute == tm.tm_min && now.second == tm.tm_sec &&
                          now.day_of_week == tm.tm_wday);
  }
  EXPECT_TRUE(matched);
  EXPECT_GE(now.millisecond, 0);
  EXPECT_LE(now.millisecond, 999);
}

TEST(RandomTest, RangeAndCoverage) {
  EXPECT_EQ(RandomInt(0), 0);
  EXPECT_EQ(RandomInt(-3), 0);
  std::vector<int> seen(10);
  for (int i = 0; i < 2000; ++i) {
    EXPECT_EQ(RandomInt(1), 0);
    int v = RandomInt(10);
    ASSERT_GE(v, 0);
    ASSERT_LT(v, 10);
    ++seen[v];
  }
  for (int n : seen) EXPECT_GT(n, 0);
}

std::vector<int32_t> Draw(int n) {
  std::vector<int32_t> v;
  for (int i = 0; i < n; ++i) v.push_back(RandomInt(1 << 30));
  return v;
}

TEST(RandomTest, ThreadsAndForkedChildrenDrawDifferentSequences) {
  std::vector<int32_t> a, b;
  std::thread ta([&] { a = Draw(8); });
  std::thread tb([&] { b = Draw(8); });
  ta.join();
  tb.join();
  EXPECT_NE(a, b);

  Draw(1);  // this thread's generator exists before the fork
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    std::vector<int32_t> child = Draw(8);
    ssize_t n = write(fds[1], child.data(), child.size() * sizeof(int32_t));
    _exit(n == static_cast<ssize_t>(child.size() * sizeof(int32_t)) ? 0 : 1);
  }
  close(fds[1]);
  std::vector<int32_t> child(8);
  ASSERT_EQ(read(fds[0], child.data(), child.size() * sizeof(int32_t)),
            static_cast<ssize_t>(child.size() * sizeof(int32_t)));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_NE(Draw(8), child);
}

TEST(GuidTest, BracedUpperCaseAndUnique) {
  std::set<std::string> seen;
  for (int i = 0; i < 10000; ++i) {
    std::string g = NewGuidText();
    ASSERT_EQ(g.size(), 38u) << g;
    for (size_t k = 0; k < g.size(); ++k) {
      char c = g[k];
      if (k == 0) {
        ASSERT_EQ(c, '{');
      } else if (k == 37) {
        ASSERT_EQ(c, '}');
      } else if (k == 9 || k == 14 || k == 19 || k == 24) {
        ASSERT_EQ(c, '-') << g;
      } else {
        ASSERT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << g;
      }
    }
    seen.insert(g);
  }
  EXPECT_EQ(seen.size(), 10000u);
}

}  // namespace
}  // namespace orb
