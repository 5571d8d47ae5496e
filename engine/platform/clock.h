#pragma once

// Tick counts, sleeping and the local date and time.

#include <cstdint>

namespace orb {

// Milliseconds from a fixed point in the past, from a monotonic clock. Never
// wraps and never goes back.
uint64_t GetTickCount();

// Sleeps the calling thread for `ms` milliseconds (no-op when not positive).
void SleepMs(int64_t ms);

struct LocalDateTime {
  int year = 0;
  int month = 0;        // 1..12
  int day = 0;          // 1..31
  int hour = 0;         // 0..23
  int minute = 0;       // 0..59
  int second = 0;       // 0..59 (60 never appears: a leap second reads as 59)
  int millisecond = 0;  // 0..999
  int day_of_week = 0;  // 0 = Sunday
};

// The current date and time in the host's local time zone.
LocalDateTime NowLocal();

}  // namespace orb
