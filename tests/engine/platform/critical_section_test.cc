#include "engine/platform/critical_section.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace orb {
namespace {

// Whether another thread could take the section right now.
bool FreeForOthers(TCriticalSection& cs) {
  bool got = false;
  std::thread t([&] {
    got = cs.TryEnter();
    if (got) cs.Leave();
  });
  t.join();
  return got;
}

TEST(CriticalSectionTest, ReentrantWithDepth) {
  TCriticalSection cs;
  EXPECT_EQ(cs.Depth(), 0);
  EXPECT_FALSE(cs.HeldByCurrentThread());
  cs.Enter();
  cs.Enter();
  EXPECT_TRUE(cs.TryEnter());
  EXPECT_EQ(cs.Depth(), 3);
  EXPECT_TRUE(cs.HeldByCurrentThread());
  EXPECT_FALSE(FreeForOthers(cs));
  cs.Leave();
  cs.Leave();
  EXPECT_EQ(cs.Depth(), 1);
  EXPECT_FALSE(FreeForOthers(cs));
  cs.Leave();
  EXPECT_EQ(cs.Depth(), 0);
  EXPECT_TRUE(FreeForOthers(cs));
}

TEST(CriticalSectionTest, OnlyTheOwnerCanLeave) {
  TCriticalSection cs;
  cs.Enter();
  std::thread([&] {
    EXPECT_FALSE(cs.HeldByCurrentThread());
    EXPECT_EQ(cs.Depth(), 0);
    cs.Leave();
    EXPECT_EQ(cs.ReleaseAll(), 0);
  }).join();
  EXPECT_EQ(cs.Depth(), 1);
  EXPECT_FALSE(FreeForOthers(cs));
  cs.Leave();
}

TEST(CriticalSectionTest, ReleaseAllLetsOthersInAndReacquireRestoresDepth) {
  TCriticalSection cs;
  cs.Enter();
  cs.Enter();
  cs.Enter();
  std::atomic<bool> other_done{false};
  std::thread other([&] {
    TCriticalSectionGuard guard(cs);  // blocks until the owner releases
    other_done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(other_done);
  int depth = cs.ReleaseAll();
  EXPECT_EQ(depth, 3);
  EXPECT_FALSE(cs.HeldByCurrentThread());
  other.join();
  EXPECT_TRUE(other_done);
  cs.Reacquire(depth);
  EXPECT_EQ(cs.Depth(), 3);
  cs.Leave();
  cs.Leave();
  EXPECT_FALSE(FreeForOthers(cs));
  cs.Leave();
  EXPECT_TRUE(FreeForOthers(cs));

  EXPECT_EQ(cs.ReleaseAll(), 0);
  cs.Reacquire(0);
  EXPECT_EQ(cs.Depth(), 0);
}

TEST(CriticalSectionTest, ScopedReleaseAroundAWait) {
  TCriticalSection cs;
  TCriticalSectionGuard outer(cs);
  TCriticalSectionGuard inner(cs);
  std::atomic<bool> entered{false};
  std::thread other;
  {
    TCriticalSectionRelease release(cs);
    EXPECT_EQ(cs.Depth(), 0);
    other = std::thread([&] {
      TCriticalSectionGuard guard(cs);
      entered = true;
    });
    other.join();
  }
  EXPECT_TRUE(entered);
  EXPECT_EQ(cs.Depth(), 2);
}

TEST(CriticalSectionTest, ExcludesOtherThreads) {
  TCriticalSection cs;
  int64_t counter = 0;  // guarded by cs only
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        TCriticalSectionGuard a(cs);
        TCriticalSectionGuard b(cs);
        if (i % 1000 == 0) {
          TCriticalSectionRelease r(cs);
          std::this_thread::yield();
        }
        int64_t v = counter;
        std::this_thread::yield();
        counter = v + 1;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 20000);
}

// Threads taking the section by Enter and by TryEnter loops while others
// hand it over: no two hold it at once and no waiter is left asleep.
TEST(CriticalSectionTest, MixedEnterAndTryEnterUnderContention) {
  TCriticalSection cs;
  std::atomic<int> inside{0};
  std::atomic<bool> overlap{false};
  int64_t counter = 0;  // guarded by cs only
  auto body = [&] {
    if (inside.fetch_add(1) != 0) overlap = true;
    ++counter;
    inside.fetch_sub(1);
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20000; ++i) {
        if (t % 2 == 0) {
          while (!cs.TryEnter()) std::this_thread::yield();
        } else {
          cs.Enter();
        }
        cs.Enter();  // re-entry never blocks the owner
        body();
        cs.Leave();
        body();
        cs.Leave();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_FALSE(overlap);
  EXPECT_EQ(counter, 6 * 20000 * 2);
  EXPECT_TRUE(FreeForOthers(cs));
}

}  // namespace
}  // namespace orb
