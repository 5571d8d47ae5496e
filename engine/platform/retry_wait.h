#pragma once

// Waits between the attempts at a lock that is held only briefly.

#include <cstdint>

namespace orb {

// The waits of `attempts` attempts `delay_ms` apart, shorter at first: a
// lock held for microseconds is nearly always free again within a
// millisecond, and a fixed wait of tens of milliseconds would leave the
// waiter idle long after. The waits start at 1 ms and double up to
// `delay_ms`, each drawn between half and all of its step (two waiters
// refused together do not retry in step); the attempts go on until the
// waits add up to what the fixed schedule waits in all,
// (attempts - 1) * delay_ms. With `delay_ms` <= 1 the schedule is the
// fixed one.
class TRetryWait {
 public:
  TRetryWait(int32_t attempts, int32_t delay_ms);
  TRetryWait(const TRetryWait&) = delete;
  TRetryWait& operator=(const TRetryWait&) = delete;

  // After a failed attempt: false when none is left, else true with the
  // wait in ms before the next one.
  bool Next(int64_t* wait_ms);

 private:
  int32_t FDelayMs;
  int32_t FAttemptsLeft;
  int64_t FBudgetMs;
  int64_t FWaitedMs = 0;
  int32_t FStepMs = 1;
};

}  // namespace orb
