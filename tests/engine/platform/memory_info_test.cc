#include "engine/platform/memory_info.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace orb {
namespace {

int64_t MemAvailableFromProc() {
  std::ifstream in("/proc/meminfo");
  std::string key, unit;
  int64_t kb = 0;
  while (in >> key >> kb >> unit) {
    if (key == "MemAvailable:") return kb * 1024;
  }
  return -1;
}

TEST(MemoryInfoTest, ProviderCanBeReplacedAndRestored) {
  SetAvailableMemoryProvider([] { return int64_t{123456789}; });
  EXPECT_EQ(AvailablePhysicalMemory(), 123456789);
  SetAvailableMemoryProvider([] { return int64_t{0}; });
  EXPECT_EQ(AvailablePhysicalMemory(), 0);
  SetAvailableMemoryProvider(nullptr);
  int64_t real = AvailablePhysicalMemory();
  EXPECT_GT(real, 0);
  int64_t proc = MemAvailableFromProc();
  ASSERT_GT(proc, 0);
  // Never more than the system reports (the cgroup can only lower it);
  // allow for memory freed between the two readings.
  EXPECT_LE(real, proc + (int64_t{256} << 20));
}

}  // namespace
}  // namespace orb
