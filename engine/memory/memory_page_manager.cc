#include "engine/memory/memory_page_manager.h"

#include <cstring>

#include "engine/base/orb_exception.h"

namespace orb {

TORBMemoryPageStore::TORBMemoryPageStore(int32_t page_size) : FPageSize(page_size) {}

int32_t TORBMemoryPageStore::Allocate() {
  int64_t page_no = 0;
  if (!FAllocatedPageMap.FindBit(false, page_no)) {
    page_no = FAllocatedPageMap.GetSize();
    FAllocatedPageMap.SetSize(page_no + kAllocateBy);
  }
  if (FAllocatedPageMap.GetBit(page_no)) RaiseORB(kErrMemoryPageAddInUse, kMsgPageAllocationNotReleased);
  const auto index = static_cast<size_t>(page_no);
  if (index >= FDataPtrs.size()) FDataPtrs.resize(std::max(index + 1, FDataPtrs.size() + kAllocateBy));
  if (FDataPtrs[index] == nullptr) FDataPtrs[index].reset(new uint8_t[static_cast<size_t>(FPageSize)]());
  FAllocatedPageMap.SetBit(page_no, true);
  FLastAllocatedPageNo = std::max(FLastAllocatedPageNo, static_cast<int32_t>(page_no));
  return static_cast<int32_t>(page_no);
}

void TORBMemoryPageStore::Release(int32_t page_no) {
  if (InUse(page_no)) FAllocatedPageMap.SetBit(page_no, false);
}

bool TORBMemoryPageStore::InUse(int32_t page_no) const {
  return page_no >= 0 && page_no < FAllocatedPageMap.GetSize() && FAllocatedPageMap.GetBit(page_no);
}

uint8_t* TORBMemoryPageStore::Buffer(int32_t page_no, int32_t error_code) const {
  if (!InUse(page_no)) RaiseORB(error_code, kMsgPageAllocationNotReleased);
  return FDataPtrs[static_cast<size_t>(page_no)].get();
}

void BorrowPageBuffer(TORBPage& page, uint8_t* buffer) {
  page.FreeAndNilPageBuffer();
  page.FPageBuffer = buffer;
  page.FOwnBuffer = false;
}

TORBMemoryPageManager::TORBMemoryPageManager() : FStore(kMemoryPageSize) { SetPageSizes(kMemoryPageSize, 0); }

TORBMemoryPageManager::~TORBMemoryPageManager() {
  // Pages still cached point into the store: drop them while it exists.
  try {
    DiscardAllPages();
  } catch (...) {
  }
}

void TORBMemoryPageManager::InternalAddPage(TORBPage& page) {
  const int32_t page_no = FStore.Allocate();
  ++FPageCount;
  SetPageNo(page, page_no);
  BorrowPageBuffer(page, FStore.Buffer(page_no, kErrMemoryPageAddInUse));
}

void TORBMemoryPageManager::InternalRemovePage(int32_t page_no) {
  if (!FStore.InUse(page_no)) return;
  FStore.Release(page_no);
  --FPageCount;
}

bool TORBMemoryPageManager::InternalReadPage(TORBPage& page) {
  BorrowPageBuffer(page, FStore.Buffer(page.PageNo(), kErrMemoryPageReadFree));
  return true;
}

void TORBMemoryPageManager::InternalWritePage(TORBPage& page) {
  uint8_t* stored = FStore.Buffer(page.PageNo(), kErrMemoryPageWriteFree);
  if (page.FOwnBuffer && page.FPageBuffer != nullptr && page.FPageBuffer != stored)
    std::memcpy(stored, page.FPageBuffer, kMemoryPageSize);
}

}  // namespace orb
