#include "engine/platform/memory_info.h"

#include <fstream>
#include <limits>
#include <mutex>
#include <sstream>
#include <string>

namespace orb {
namespace {

std::mutex g_provider_mutex;
std::function<int64_t()> g_provider;

int64_t ReadMemAvailable() {
  std::ifstream in("/proc/meminfo");
  std::string key;
  int64_t value = 0;
  std::string unit;
  int64_t free_kb = -1;
  while (in >> key >> value) {
    std::getline(in, unit);
    if (key == "MemAvailable:") return value * 1024;
    if (key == "MemFree:") free_kb = value;
  }
  // Older kernels lack MemAvailable; without /proc at all assume a modest
  // 256 MiB rather than nothing, so caches keep a useful size.
  return free_kb >= 0 ? free_kb * 1024 : int64_t{256} << 20;
}

// The cgroup v2 (then v1) memory limit minus current use; max when unlimited.
int64_t ReadCgroupHeadroom() {
  auto read_number = [](const char* path, int64_t& out) {
    std::ifstream in(path);
    std::string text;
    if (!(in >> text) || text == "max") return false;
    try {
      out = std::stoll(text);
    } catch (...) {
      return false;
    }
    return true;
  };
  int64_t limit = 0;
  int64_t usage = 0;
  if (read_number("/sys/fs/cgroup/memory.max", limit)) {
    read_number("/sys/fs/cgroup/memory.current", usage);
  } else if (read_number("/sys/fs/cgroup/memory/memory.limit_in_bytes", limit)) {
    read_number("/sys/fs/cgroup/memory/memory.usage_in_bytes", usage);
    // v1 reports a huge number when there is no limit.
    if (limit >= (int64_t{1} << 60)) return std::numeric_limits<int64_t>::max();
  } else {
    return std::numeric_limits<int64_t>::max();
  }
  return limit > usage ? limit - usage : 0;
}

}  // namespace

int64_t AvailablePhysicalMemory() {
  {
    std::lock_guard<std::mutex> lock(g_provider_mutex);
    if (g_provider) return g_provider();
  }
  const int64_t available = ReadMemAvailable();
  const int64_t headroom = ReadCgroupHeadroom();
  return available < headroom ? available : headroom;
}

void SetAvailableMemoryProvider(std::function<int64_t()> provider) {
  std::lock_guard<std::mutex> lock(g_provider_mutex);
  g_provider = std::move(provider);
}

}  // namespace orb
