#include "engine/table/memory_manager.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <vector>

#include <sys/mman.h>

#include "engine/base/orb_exception.h"
#include "engine/platform/byte_order.h"
#include "engine/platform/memory_info.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORB_HAS_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef ORB_HAS_ADDRESS_SANITIZER
#define ORB_HAS_ADDRESS_SANITIZER 0
#endif

namespace orb {

namespace {

constexpr uint8_t kMethodHeap = 0;
constexpr uint8_t kMethodPool = 1;
constexpr size_t kOffSize = 0;
constexpr size_t kOffMethod = 4;
constexpr size_t kOffGuard = 5;
constexpr size_t kOverhead = TORBMemoryManager::kPrefixSize + TORBMemoryManager::kSuffixSize;

// Blocks of a page size (a power of two from 1 KB to 64 KB) come from
// regions of 2 MB that the kernel is asked to back with huge pages: a
// transaction keeps every page it changes until it commits, and memory
// touched for the first time 4 KB at a time costs a fault per 4 KB. A
// freed block goes to the free list of its size and is reused; regions
// stay with the process. Under AddressSanitizer nothing is pooled, so that
// page buffers keep its checks.
class TPageBlockPool {
 public:
  static constexpr int kFirstShift = 10;
  static constexpr int kLastShift = 16;
  static constexpr size_t kRegionSize = size_t{2} << 20;

  // Pool index of a block of `size` requested bytes, or -1.
  static int ClassOf(size_t size) {
    if (size < (size_t{1} << kFirstShift) || size > (size_t{1} << kLastShift) || (size & (size - 1)) != 0) return -1;
    int shift = kFirstShift;
    while ((size_t{1} << shift) < size) ++shift;
    return shift - kFirstShift;
  }
  // A framed block for `size` requested bytes, or null (use the heap).
  uint8_t* Get(size_t size) {
#if defined(__SANITIZE_ADDRESS__) || ORB_HAS_ADDRESS_SANITIZER
    (void)size;
    return nullptr;
#else
    const int index = ClassOf(size);
    if (index < 0) return nullptr;
    const size_t slot = SlotSize(size);
    std::lock_guard<std::mutex> lock(FLock);
    TSizeClass& c = FClasses[index];
    if (!c.Free.empty()) {
      uint8_t* block = c.Free.back();
      c.Free.pop_back();
      return block;
    }
    if (c.Next == nullptr || static_cast<size_t>(c.End - c.Next) < slot) {
      uint8_t* region = NewRegion();
      if (region == nullptr) return nullptr;
      c.Next = region;
      c.End = region + kRegionSize;
    }
    // Room on the free list for every block handed out: Put never allocates.
    if (c.Carved == c.Free.capacity()) c.Free.reserve(std::max<size_t>(64, 2 * c.Carved));
    ++c.Carved;
    uint8_t* block = c.Next;
    c.Next += slot;
    return block;
#endif
  }
  // REQUIRES: `block` came from Get(size).
  void Put(uint8_t* block, size_t size) {
    std::lock_guard<std::mutex> lock(FLock);
    FClasses[ClassOf(size)].Free.push_back(block);
  }

 private:
  struct TSizeClass {
    std::vector<uint8_t*> Free;
    size_t Carved = 0;  // blocks handed out from the regions so far
    uint8_t* Next = nullptr;
    uint8_t* End = nullptr;
  };

  static size_t SlotSize(size_t size) { return (size + kOverhead + 15) & ~size_t{15}; }
  // A region aligned to its size, so that the kernel can map it whole.
  static uint8_t* NewRegion() {
    void* raw = mmap(nullptr, 2 * kRegionSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    auto* start = static_cast<uint8_t*>(raw);
    const auto address = reinterpret_cast<uintptr_t>(start);
    uint8_t* region = start + ((kRegionSize - address % kRegionSize) % kRegionSize);
    if (region > start) munmap(start, static_cast<size_t>(region - start));
    uint8_t* end = region + kRegionSize;
    if (end < start + 2 * kRegionSize) munmap(end, static_cast<size_t>(start + 2 * kRegionSize - end));
    madvise(region, kRegionSize, MADV_HUGEPAGE);
    return region;
  }

  std::mutex FLock;
  TSizeClass FClasses[kLastShift - kFirstShift + 1];
};

TPageBlockPool& PageBlockPool() {
  static TPageBlockPool* pool = new TPageBlockPool;  // outlives every static user
  return *pool;
}

}  // namespace

bool TORBMemoryManager::PrefixValid(const uint8_t* block) {
  const uint8_t method = LoadU8(block + kOffMethod);
  return (method == kMethodHeap || method == kMethodPool) && LoadU32LE(block + kOffGuard) == kPrefixGuard;
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
  uint8_t method = kMethodPool;
  auto* block = PageBlockPool().Get(size);
  if (block == nullptr) {
    method = kMethodHeap;
    block = static_cast<uint8_t*>(std::malloc(size + kOverhead));
  }
  if (block == nullptr) {
    TCriticalSectionGuard lock(MMLock);
    FTotalMemAllocated -= static_cast<int64_t>(size);
    throw std::bad_alloc();
  }
  StoreU32LE(block + kOffSize, static_cast<uint32_t>(size));
  StoreU8(block + kOffMethod, method);
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
  if (LoadU8(block + kOffMethod) == kMethodPool) {
    PageBlockPool().Put(block, size);
  } else {
    std::free(block);
  }
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
