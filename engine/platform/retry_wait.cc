#include "engine/platform/retry_wait.h"

#include <algorithm>

#include "engine/platform/random.h"

namespace orb {

TRetryWait::TRetryWait(int32_t attempts, int32_t delay_ms)
    : FDelayMs(delay_ms),
      FAttemptsLeft(std::max(attempts, 1)),
      FBudgetMs(static_cast<int64_t>(std::max(attempts, 1) - 1) * std::max(delay_ms, 0)) {}

bool TRetryWait::Next(int64_t* wait_ms) {
  if (FDelayMs <= 1) {
    if (FAttemptsLeft <= 1) return false;
    --FAttemptsLeft;
    *wait_ms = std::max(FDelayMs, 0);
    return true;
  }
  if (FWaitedMs >= FBudgetMs) return false;
  const int32_t step = std::min(FStepMs, FDelayMs);
  const int64_t wait = std::min<int64_t>(step - step / 2 + RandomInt(step / 2 + 1), FBudgetMs - FWaitedMs);
  FWaitedMs += wait;
  FStepMs = std::min(FStepMs * 2, FDelayMs);
  *wait_ms = wait;
  return true;
}

}  // namespace orb
