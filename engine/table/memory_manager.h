#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/platform/critical_section.h"

namespace orb {

// Guarded allocator for page, record and key buffers. Each block is framed
// by a 9-byte prefix (uint32 size, allocation-method byte: 0 heap, 1 page
// pool; guard word 0xACCACCAC, little-endian) and a 4-byte suffix guard
// 0xACCEACCE, so that foreign pointers and overruns are detected when the
// block is freed. Blocks of a page size (a power of two from 1 KB to 64 KB)
// come from a pool of huge-page regions that keeps freed blocks for reuse.
// The byte counter and its optional limit are shared by all threads.
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

 private:
  static bool PrefixValid(const uint8_t* block);

  int64_t FMaxMemorySize = 0;
  int64_t FTotalMemAllocated = 0;
  mutable TCriticalSection MMLock;
};

// The process-wide memory manager.
TORBMemoryManager& MemoryManager();

}  // namespace orb
