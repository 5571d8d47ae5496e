#pragma once

// Index pages of in-memory tables: 4096-byte pages held in memory.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/data/bits_array.h"
#include "engine/table/page_manager.h"

namespace orb {

inline constexpr int32_t kErrMemoryPageReadFree = 10392;
inline constexpr int32_t kErrMemoryPageWriteFree = 10393;
inline constexpr int32_t kErrMemoryPageAddInUse = 20037;
inline constexpr const char* kMsgPageAllocationNotReleased = "Page allocation not released";

// Numbered page buffers in memory. A number is in use from Allocate until
// Release; Allocate hands out the lowest free number, so numbers stay dense
// and memory follows the pages in use. A released buffer is kept, with its
// contents, for the next page that takes its number. Buffers never move.
class TORBMemoryPageStore {
 public:
  static constexpr int32_t kAllocateBy = 50;

  explicit TORBMemoryPageStore(int32_t page_size);
  TORBMemoryPageStore(const TORBMemoryPageStore&) = delete;
  TORBMemoryPageStore& operator=(const TORBMemoryPageStore&) = delete;

  // The lowest free number, now in use, with a zero-filled buffer the
  // first time the number is used.
  int32_t Allocate();
  // REQUIRES: InUse(page_no).
  void Release(int32_t page_no);
  bool InUse(int32_t page_no) const;
  // The stored buffer of page `page_no`; `error_code` when the number is
  // not in use.
  uint8_t* Buffer(int32_t page_no, int32_t error_code) const;
  int32_t PageCount() const { return static_cast<int32_t>(FAllocatedPageMap.GetNonZeroBitCount()); }
  int32_t PageSize() const { return FPageSize; }
  // Highest number ever handed out; -1 when none.
  int32_t LastAllocatedPageNo() const { return FLastAllocatedPageNo; }

 private:
  int32_t FPageSize;
  // Bit set = page number in use; its size is the numbers covered.
  TORBBitsArray FAllocatedPageMap;
  int32_t FLastAllocatedPageNo = -1;
  // Page buffers indexed by page number.
  std::vector<std::unique_ptr<uint8_t[]>> FDataPtrs;
};

// The page manager of an in-memory table. A page handed out points straight
// at the stored buffer and does not own it: reads copy nothing, and a
// change is in storage as soon as it is made. Pages the manager's cache
// gives private copies (own buffers) are copied back on write.
class TORBMemoryPageManager : public TORBPageManager {
 public:
  static constexpr uint16_t kMemoryPageSize = 4096;

  TORBMemoryPageManager();
  ~TORBMemoryPageManager() override;

  TORBMemoryPageStore& Store() { return FStore; }

 protected:
  void InternalAddPage(TORBPage& page) override;
  void InternalRemovePage(int32_t page_no) override;
  bool InternalReadPage(TORBPage& page) override;
  void InternalWritePage(TORBPage& page) override;

 private:
  TORBMemoryPageStore FStore;
};

// Points `page` at `buffer`, which it does not own, freeing an own buffer.
void BorrowPageBuffer(TORBPage& page, uint8_t* buffer);

}  // namespace orb
