#include "engine/table/memory_manager.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "engine/base/orb_exception.h"
#include "engine/platform/byte_order.h"
#include "engine/platform/memory_info.h"

namespace orb {

namespace {

constexpr uint8_t kMethodHeap = 0;
constexpr size_t kOffSize = 0;
constexpr size_t kOffMethod = 4;
constexpr size_t kOffGuard = 5;
constexpr size_t kOverhead = TORBMemoryManager::kPrefixSize + TORBMemoryManager::kSuffixSize;

}  // namespace

bool TORBMemoryManager::PrefixValid(const uint8_t* block) {
  return LoadU8(block + kOffMethod) == kMethodHeap && LoadU32LE(block + kOffGuard) == kPrefixGuard;
}

uint8_t* TORBMemoryManager::GetMem(size_t size) {
  if (size == 0) RaiseORB(30286, "Cannot allocate 0 bytes");
  if (size > std::numeric_limits<uint32_t>::max() - kOverhead) throw std::bad_alloc();
  {
    TCriticalSectionGuard lock(MMLock);
    if (FMaxMemorySize > 0 && FTotalMemAllocated + static_cast<int64_t>(size) > FMaxMemorySize) {
      RaiseORB(30004, "Memory limit exceeded (Limit = %d bytes)", {static_cast<long long>(FMaxMemorySize)});
    }
    FTotalMemAllocated += static_cast<int64_t>(size);
  }
  auto* block = static_cast<uint8_t*>(std::malloc(size + kOverhead));
  if (block == nullptr) {
    TCriticalSectionGuard lock(MMLock);
    FTotalMemAllocated -= static_cast<int64_t>(size);
    throw std::bad_alloc();
  }
  StoreU32LE(block + kOffSize, static_cast<uint32_t>(size));
  StoreU8(block + kOffMethod, kMethodHeap);
  StoreU32LE(block + kOffGuard, kPrefixGuard);
  StoreU32LE(block + kPrefixSize + size, kSuffixGuard);
  return block + kPrefixSize;
}

uint8_t* TORBMemoryManager::AllocMem(size_t size) {
  uint8_t* p = GetMem(size);
  std::memset(p, 0, size);
  return p;
}

void TORBMemoryManager::ReallocMem(uint8_t*& buffer, size_t size, bool clear_tail) {
  if (buffer == nullptr) {
    buffer = clear_tail ? AllocMem(size) : GetMem(size);
    return;
  }
  size_t old_size = GetMemoryBufferSize(buffer);
  uint8_t* fresh = GetMem(size);
  std::memcpy(fresh, buffer, std::min(old_size, size));
  if (clear_tail && size > old_size) std::memset(fresh + old_size, 0, size - old_size);
  uint8_t* old = buffer;
  buffer = fresh;
  FreeAndNillMem(old);
}

void TORBMemoryManager::FreeAndNillMem(uint8_t*& buffer) {
  if (buffer == nullptr) return;
  uint8_t* block = buffer - kPrefixSize;
  if (!PrefixValid(block)) RaiseORB(30001, "Invalid pointer");
  uint32_t size = LoadU32LE(block + kOffSize);
  bool overrun = LoadU32LE(block + kPrefixSize + size) != kSuffixGuard;
  // Clear the guard so a second free of the same block is caught.
  StoreU32LE(block + kOffGuard, 0);
  std::free(block);
  buffer = nullptr;
  {
    TCriticalSectionGuard lock(MMLock);
    FTotalMemAllocated -= size;
  }
  if (overrun) RaiseORB(30137, "Memory overrun detected");
}

size_t TORBMemoryManager::GetMemoryBufferSize(const uint8_t* buffer) const {
  if (buffer == nullptr || !PrefixValid(buffer - kPrefixSize)) RaiseORB(30005, "Invalid pointer");
  return LoadU32LE(buffer - kPrefixSize + kOffSize);
}

int64_t TORBMemoryManager::GetFreeMemorySize() const {
  int64_t available = AvailablePhysicalMemory();
  TCriticalSectionGuard lock(MMLock);
  if (FMaxMemorySize > 0) available = std::min(available, std::max<int64_t>(0, FMaxMemorySize - FTotalMemAllocated));
  return available;
}

int64_t TORBMemoryManager::MaxMemorySize() const {
  TCriticalSectionGuard lock(MMLock);
  return FMaxMemorySize;
}

void TORBMemoryManager::SetMaxMemorySize(int64_t limit) {
  TCriticalSectionGuard lock(MMLock);
  FMaxMemorySize = limit < 0 ? 0 : limit;
}

int64_t TORBMemoryManager::TotalMemAllocated() const {
  TCriticalSectionGuard lock(MMLock);
  return FTotalMemAllocated;
}

TORBMemoryManager& MemoryManager() {
  static TORBMemoryManager instance;
  return instance;
}

}  // namespace orb
