#pragma once

#include <cstdint>
#include <functional>

namespace orb {

// Bytes of physical memory available to this process: MemAvailable from
// /proc/meminfo, capped by the cgroup memory limit when one is set.
int64_t AvailablePhysicalMemory();

// Replaces the source of AvailablePhysicalMemory (tests); an empty function
// restores the real one.
void SetAvailableMemoryProvider(std::function<int64_t()> provider);

}  // namespace orb
