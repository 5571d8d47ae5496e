#include "engine/table/memory_manager.h"

#include <sys/mman.h>

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
constexpr uint8_t kMethodPool = 1;
constexpr size_t kOffSize = 0;
constexpr size_t kOffMethod = 4;
constexpr size_t kOffGuard = 5;
constexpr size_t kOverhead = TORBMemoryManager::kPrefixSize + TORBMemoryManager::kSuffixSize;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kUsePool = false;
#else
constexpr bool kUsePool = true;
#endif

constexpr uint64_t kArenaMagic = 0x414E455241424F52ull;

}  // namespace

// ---------------------------------------------------------------------------
// Block pool

struct TORBBlockPool::TArena {
  uint64_t Magic;
  size_t BlockSize;
  uint32_t Capacity;
  // Blocks handed out at least once, from the first.
  uint32_t Carved;
  // Blocks handed out and not given back.
  uint32_t Live;
  bool InOpen;
  uint8_t* FreeList;

  uint8_t* Blocks() { return reinterpret_cast<uint8_t*>(this) + kHeaderSize; }
  bool HasRoom() const { return FreeList != nullptr || Carved < Capacity; }
};

TORBBlockPool::~TORBBlockPool() {
  for (TSizeClass& size_class : FClasses) {
    for (TArena* arena : size_class.Arenas) {
      if (arena->Live == 0) munmap(arena, kArenaSize);
    }
  }
}

size_t TORBBlockPool::BlockSizeFor(size_t size) {
  if (size < kMinBlockSize || size > kMaxBlockSize) return 0;
  return (size + kBlockAlign - 1) / kBlockAlign * kBlockAlign;
}

size_t TORBBlockPool::ArenaCount() const {
  size_t count = 0;
  for (const TSizeClass& size_class : FClasses) count += size_class.Arenas.size();
  return count;
}

TORBBlockPool::TSizeClass& TORBBlockPool::ClassFor(size_t block_size) {
  for (TSizeClass& size_class : FClasses) {
    if (size_class.BlockSize == block_size) return size_class;
  }
  FClasses.push_back(TSizeClass{block_size, {}, {}});
  return FClasses.back();
}

uint8_t* TORBBlockPool::Take(size_t block_size) {
  static_assert(sizeof(TArena) <= kHeaderSize);
  TSizeClass& size_class = ClassFor(block_size);
  while (!size_class.Open.empty() && !size_class.Open.back()->HasRoom()) {
    size_class.Open.back()->InOpen = false;
    size_class.Open.pop_back();
  }
  if (size_class.Open.empty()) {
    // Twice the size, so that an aligned arena lies inside; the rest goes
    // back at once.
    void* mapped = mmap(nullptr, 2 * kArenaSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (start + kArenaSize - 1) & ~(kArenaSize - 1);
    if (aligned > start) munmap(mapped, aligned - start);
    const uintptr_t end = start + 2 * kArenaSize;
    if (end > aligned + kArenaSize) munmap(reinterpret_cast<void*>(aligned + kArenaSize), end - aligned - kArenaSize);
    madvise(reinterpret_cast<void*>(aligned), kArenaSize, MADV_HUGEPAGE);  // a hint: failure is harmless
    auto* arena = reinterpret_cast<TArena*>(aligned);
    *arena = TArena{kArenaMagic, block_size, static_cast<uint32_t>((kArenaSize - kHeaderSize) / block_size), 0, 0,
                    true, nullptr};
    try {
      size_class.Arenas.push_back(arena);
      size_class.Open.push_back(arena);
    } catch (...) {
      std::erase(size_class.Arenas, arena);
      munmap(arena, kArenaSize);
      throw;
    }
    ++FEmptyArenas;
  }
  TArena* arena = size_class.Open.back();
  uint8_t* block;
  if (arena->FreeList != nullptr) {
    block = arena->FreeList;
    std::memcpy(&arena->FreeList, block + kLinkOffset, sizeof(uint8_t*));
  } else {
    block = arena->Blocks() + static_cast<size_t>(arena->Carved) * block_size;
    ++arena->Carved;
  }
  if (arena->Live == 0) --FEmptyArenas;
  ++arena->Live;
  return block;
}

void TORBBlockPool::Give(uint8_t* block) {
  auto* arena = reinterpret_cast<TArena*>(reinterpret_cast<uintptr_t>(block) & ~(kArenaSize - 1));
  std::memcpy(block + kLinkOffset, &arena->FreeList, sizeof(uint8_t*));
  arena->FreeList = block;
  --arena->Live;
  TSizeClass& size_class = ClassFor(arena->BlockSize);
  if (!arena->InOpen) {
    // Open always has room for its arenas: it never shrinks below them.
    size_class.Open.push_back(arena);
    arena->InOpen = true;
  }
  if (arena->Live > 0) return;
  ++FEmptyArenas;
  // An empty arena stays while few are empty, or when it is the class's
  // only one with room.
  if (FEmptyArenas <= kKeptEmptyArenas) return;
  for (TArena* other : size_class.Open) {
    if (other != arena && other->HasRoom()) {
      Release(size_class, arena);
      return;
    }
  }
}

void TORBBlockPool::Release(TSizeClass& size_class, TArena* arena) {
  --FEmptyArenas;
  std::erase(size_class.Open, arena);
  std::erase(size_class.Arenas, arena);
  munmap(arena, kArenaSize);
}

// ---------------------------------------------------------------------------
// Memory manager

bool TORBMemoryManager::PrefixValid(const uint8_t* block) {
  const uint8_t method = LoadU8(block + kOffMethod);
  return (method == kMethodHeap || method == kMethodPool) && LoadU32LE(block + kOffGuard) == kPrefixGuard;
}

uint8_t* TORBMemoryManager::GetMem(size_t size) {
  if (size == 0) RaiseORB(30286, "Cannot allocate 0 bytes");
  if (size > std::numeric_limits<uint32_t>::max() - kOverhead) throw std::bad_alloc();
  const size_t block_size = kUsePool ? TORBBlockPool::BlockSizeFor(size + kOverhead) : 0;
  uint8_t* block = nullptr;
  {
    std::lock_guard<std::mutex> lock(MMLock);
    if (FMaxMemorySize > 0 && FTotalMemAllocated + static_cast<int64_t>(size) > FMaxMemorySize) {
      RaiseORB(30004, "Memory limit exceeded (Limit = %d bytes)", {static_cast<long long>(FMaxMemorySize)});
    }
    if (block_size > 0) block = FPool.Take(block_size);
    FTotalMemAllocated += static_cast<int64_t>(size);
  }
  const uint8_t method = block != nullptr ? kMethodPool : kMethodHeap;
  if (block == nullptr) block = static_cast<uint8_t*>(std::malloc(size + kOverhead));
  if (block == nullptr) {
    std::lock_guard<std::mutex> lock(MMLock);
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
  const bool pooled = LoadU8(block + kOffMethod) == kMethodPool;
  // Clear the guard so a second free of the same block is caught.
  StoreU32LE(block + kOffGuard, 0);
  if (!pooled) std::free(block);
  buffer = nullptr;
  {
    std::lock_guard<std::mutex> lock(MMLock);
    if (pooled) FPool.Give(block);
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
  std::lock_guard<std::mutex> lock(MMLock);
  if (FMaxMemorySize > 0) available = std::min(available, std::max<int64_t>(0, FMaxMemorySize - FTotalMemAllocated));
  return available;
}

int64_t TORBMemoryManager::MaxMemorySize() const {
  std::lock_guard<std::mutex> lock(MMLock);
  return FMaxMemorySize;
}

void TORBMemoryManager::SetMaxMemorySize(int64_t limit) {
  std::lock_guard<std::mutex> lock(MMLock);
  FMaxMemorySize = limit < 0 ? 0 : limit;
}

size_t TORBMemoryManager::PoolArenaCount() const {
  std::lock_guard<std::mutex> lock(MMLock);
  return FPool.ArenaCount();
}

int64_t TORBMemoryManager::TotalMemAllocated() const {
  std::lock_guard<std::mutex> lock(MMLock);
  return FTotalMemAllocated;
}

TORBMemoryManager& MemoryManager() {
  static TORBMemoryManager instance;
  return instance;
}

}  // namespace orb
