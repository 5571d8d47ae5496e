#include "engine/platform/clock.h"

#include <time.h>

#include <chrono>
#include <thread>

namespace orb {

uint64_t GetTickCount() {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void SleepMs(int64_t ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

LocalDateTime NowLocal() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  time_t secs = ts.tv_sec;
  struct tm tm;
  localtime_r(&secs, &tm);
  LocalDateTime now;
  now.year = tm.tm_year + 1900;
  now.month = tm.tm_mon + 1;
  now.day = tm.tm_mday;
  now.hour = tm.tm_hour;
  now.minute = tm.tm_min;
  now.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;
  now.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  now.day_of_week = tm.tm_wday;
  return now;
}

}  // namespace orb
