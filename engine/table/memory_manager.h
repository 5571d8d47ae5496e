#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "engine/platform/critical_section.h"

namespace orb {

// Blocks of page-buffer sizes carved from 2 MB arenas that ask the system
// for huge pages: a transaction that takes thousands of new pages then
// costs a handful of page faults instead of one per 4 KB. Freed blocks are
// reused; an arena whose blocks are all free stays mapped, its memory
// already touched, while at most kKeptEmptyArenas arenas are empty (and
// always the only one of its block size with room), so that the pages a
// commit frees serve the next transaction without the system clearing
// fresh memory again; beyond that it goes back to the system. Not
// thread-safe: the memory manager calls it under its lock.
//
// Arena layout (kArenaSize bytes, kArenaSize-aligned, so that a block finds
// its arena by masking its address): a kHeaderSize-byte header (TArena),
// then Capacity blocks of BlockSize bytes back to back. A free block holds
// the next free block's address at offset kLinkOffset.
class TORBBlockPool {
 public:
  static constexpr size_t kArenaSize = size_t{2} << 20;
  static constexpr size_t kHeaderSize = 64;
  static constexpr size_t kMinBlockSize = 2048;
  static constexpr size_t kMaxBlockSize = 128 * 1024;
  static constexpr size_t kBlockAlign = 64;
  static constexpr size_t kLinkOffset = 16;
  // Empty arenas kept mapped for reuse (16 MB).
  static constexpr size_t kKeptEmptyArenas = 8;

  TORBBlockPool() = default;
  // Releases the arenas without blocks in use; arenas with blocks still in
  // use stay mapped (their blocks remain valid).
  ~TORBBlockPool();
  TORBBlockPool(const TORBBlockPool&) = delete;
  TORBBlockPool& operator=(const TORBBlockPool&) = delete;

  // The block size serving `size` bytes, or 0 when the pool does not serve
  // it.
  static size_t BlockSizeFor(size_t size);
  // A block of `block_size` bytes (from BlockSizeFor); null when no arena
  // can be mapped.
  uint8_t* Take(size_t block_size);
  // Gives back a block that Take returned.
  void Give(uint8_t* block);
  // Arenas mapped now.
  size_t ArenaCount() const;

 private:
  struct TArena;
  struct TSizeClass {
    size_t BlockSize = 0;
    std::vector<TArena*> Arenas;
    // Arenas with a free or never used block.
    std::vector<TArena*> Open;
  };

  TSizeClass& ClassFor(size_t block_size);
  void Release(TSizeClass& size_class, TArena* arena);

  std::vector<TSizeClass> FClasses;
  // Arenas mapped with no block in use.
  size_t FEmptyArenas = 0;
};

// Guarded allocator for page, record and key buffers. Each block is framed
// by a 9-byte prefix (uint32 size, allocation-method byte, guard word
// 0xACCACCAC, little-endian) and a 4-byte suffix guard 0xACCEACCE, so that
// foreign pointers and overruns are detected when the block is freed. The
// method byte is 0 for a block from the heap, 1 for one from the block
// pool (blocks of page-buffer sizes; builds with AddressSanitizer take
// every block from the heap, so that it watches them). The byte counter
// and its optional limit are shared by all threads.
class TORBMemoryManager {
 public:
  static constexpr size_t kPrefixSize = 9;
  static constexpr size_t kSuffixSize = 4;
  static constexpr uint32_t kPrefixGuard = 0xACCACCACu;
  static constexpr uint32_t kSuffixGuard = 0xACCEACCEu;

  TORBMemoryManager() = default;
  TORBMemoryManager(const TORBMemoryManager&) = delete;
  TORBMemoryManager& operator=(const TORBMemoryManager&) = delete;

  // A block of `size` bytes with undefined contents. Size 0 raises 30286;
  // going over a non-zero limit raises 30004.
  uint8_t* GetMem(size_t size);
  // As GetMem, zero-filled.
  uint8_t* AllocMem(size_t size);
  // Replaces `buffer` by a block of `size` bytes holding the old contents up
  // to the smaller size; with `clear_tail` the bytes past the old size are
  // zero. A null `buffer` is allocated afresh.
  void ReallocMem(uint8_t*& buffer, size_t size, bool clear_tail);
  // Frees `buffer` and sets it to null (null is ignored). A block without a
  // valid prefix raises 30001 and is left alone; a damaged suffix raises 30137
  // after the block has been freed.
  void FreeAndNillMem(uint8_t*& buffer);
  // Size requested for `buffer`; 30005 when it is not a valid block.
  size_t GetMemoryBufferSize(const uint8_t* buffer) const;
  // Available physical memory, capped by what a non-zero limit still allows.
  int64_t GetFreeMemorySize() const;

  // 0 means no limit.
  int64_t MaxMemorySize() const;
  void SetMaxMemorySize(int64_t limit);
  // Bytes handed out and not yet freed.
  int64_t TotalMemAllocated() const;
  // Arenas the block pool has mapped now (always 0 without the pool).
  size_t PoolArenaCount() const;

 private:
  static bool PrefixValid(const uint8_t* block);

  int64_t FMaxMemorySize = 0;
  int64_t FTotalMemAllocated = 0;
  // Held only around the counters and the pool, never while anything else
  // is called: a plain mutex, not a re-entrant critical section (every row
  // takes it a few times).
  mutable std::mutex MMLock;
  // Guarded by MMLock.
  TORBBlockPool FPool;
};

// The process-wide memory manager.
TORBMemoryManager& MemoryManager();

}  // namespace orb
