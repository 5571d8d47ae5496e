#include "engine/platform/retry_wait.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace orb {
namespace {

std::vector<int64_t> Waits(int32_t attempts, int32_t delay_ms) {
  TRetryWait waits(attempts, delay_ms);
  std::vector<int64_t> all;
  int64_t wait = -1;
  while (waits.Next(&wait)) all.push_back(wait);
  return all;
}

int64_t Sum(const std::vector<int64_t>& waits) {
  int64_t sum = 0;
  for (int64_t w : waits) sum += w;
  return sum;
}

// Short delays keep the fixed schedule: one wait fewer than the attempts.
TEST(RetryWaitTest, DelaysUpToOneMillisecondAreFixed) {
  EXPECT_EQ(Waits(1, 40), std::vector<int64_t>{});
  EXPECT_EQ(Waits(0, 40), std::vector<int64_t>{});
  EXPECT_EQ(Waits(4, 1), (std::vector<int64_t>{1, 1, 1}));
  EXPECT_EQ(Waits(3, 0), (std::vector<int64_t>{0, 0}));
  EXPECT_EQ(Waits(3, -5), (std::vector<int64_t>{0, 0}));
}

// Longer delays: the waits start at 1 ms, grow by steps that double up to
// the delay (each between half and all of its step) and add up to the
// fixed schedule's total wait.
TEST(RetryWaitTest, WaitsGrowToTheDelayAndKeepTheBound) {
  struct Case {
    int32_t attempts;
    int32_t delay_ms;
  };
  for (const Case& c : {Case{2250, 40}, Case{900, 100}, Case{15, 100}, Case{5, 10}, Case{2, 40}}) {
    SCOPED_TRACE(::testing::Message() << c.attempts << " x " << c.delay_ms);
    for (int run = 0; run < 20; ++run) {
      const std::vector<int64_t> waits = Waits(c.attempts, c.delay_ms);
      ASSERT_FALSE(waits.empty());
      EXPECT_EQ(Sum(waits), static_cast<int64_t>(c.attempts - 1) * c.delay_ms);
      EXPECT_EQ(waits[0], 1);
      int64_t step = 1;
      for (size_t i = 0; i + 1 < waits.size(); ++i) {  // the last one may be cut to the bound
        EXPECT_GE(waits[i], (step + 1) / 2) << i;
        EXPECT_LE(waits[i], step) << i;
        step = std::min<int64_t>(step * 2, c.delay_ms);
      }
      EXPECT_GT(waits.back(), 0);
      // At least as many attempts as the fixed schedule makes.
      EXPECT_GE(waits.size() + 1, static_cast<size_t>(c.attempts));
    }
  }
}

}  // namespace
}  // namespace orb
