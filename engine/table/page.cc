#include "engine/table/page.h"

#include <cstring>

#include "engine/base/orb_exception.h"
#include "engine/table/memory_manager.h"
#include "engine/table/page_manager.h"

namespace orb {

TORBPage::TORBPage(TORBPageManager* manager) : LPageManager(manager) {}

TORBPage::~TORBPage() {
  try {
    FreeAndNilPageBuffer();
  } catch (...) {
    // A damaged guard was reported by the memory manager; the block is gone.
    FPageBuffer = nullptr;
  }
}

uint16_t TORBPage::GetPageHeaderSize() const { return LPageManager->GetPageHeaderSize(); }

uint16_t TORBPage::GetPageDataSize() const { return LPageManager->GetPageDataSize(); }

uint16_t TORBPage::GetPageSize() const { return LPageManager->GetPageSize(); }

void TORBPage::InitHeader() {
  if (FPageBuffer == nullptr || GetPageHeaderSize() < TORBDiskPageHeader::kSize) return;
  TORBDiskPageHeader{}.SaveTo(FPageBuffer);
}

void TORBPage::AllocPageBuffer() {
  FreeAndNilPageBuffer();
  FPageBuffer = MemoryManager().AllocMem(GetPageSize());
  FOwnBuffer = true;
  InitHeader();
}

void TORBPage::ClearPageBuffer() {
  if (FPageBuffer != nullptr) std::memset(FPageBuffer, 0, GetPageSize());
}

void TORBPage::FreeAndNilPageBuffer() {
  if (FPageBuffer == nullptr) return;
  if (FOwnBuffer) {
    MemoryManager().FreeAndNillMem(FPageBuffer);
  } else {
    FPageBuffer = nullptr;
  }
}

void TORBPage::EnlargePageBuffer(int32_t size) {
  if (FPageBuffer == nullptr) RaiseORB(20038, "Invalid page buffer. Buffer is Nil");
  if (size < GetPageSize()) RaiseORB(20039, "Invalid page modification");
  if (FOwnBuffer) {
    MemoryManager().ReallocMem(FPageBuffer, static_cast<size_t>(size), true);
    return;
  }
  uint8_t* own = MemoryManager().AllocMem(static_cast<size_t>(size));
  std::memcpy(own, FPageBuffer, GetPageSize());
  FPageBuffer = own;
  FOwnBuffer = true;
}

bool TORBPage::Synchronize() {
  TORBPageManager* manager = LPageManager;
  if (!manager->IsDiskMultiUser() || manager->GetPageHeaderSize() < TORBDiskPageHeader::kSize ||
      FPageBuffer == nullptr) {
    return true;
  }
  int32_t stored = manager->InternalReadPageState(FPageNo);
  if (stored == kInvalidPageState || stored == GetState()) {
    SetState(stored);
    return true;
  }
  if (!manager->InternalReadPage(*this)) return false;
  FReloaded = true;
  return true;
}

bool TORBPage::GetTableState(int32_t session, int32_t& state) const {
  int32_t table_id = -1;
  return GetTableState(session, table_id, state);
}

void TORBPage::SetTableState(int32_t session, int32_t state) { SetTableState(session, -1, state); }

bool TORBPage::GetTableState(int32_t session, int32_t& table_id, int32_t& state) const {
  int64_t index = static_cast<int64_t>(session) + 2;
  if (index < 0 || index >= static_cast<int64_t>(FTableStates.size())) return false;
  const TORBPageTableStateInfo& info = FTableStates[index];
  if (!info.IsTableStateValueAssigned) return false;
  table_id = info.TableID;
  state = info.TableState;
  return true;
}

void TORBPage::SetTableState(int32_t session, int32_t table_id, int32_t state) {
  int64_t index = static_cast<int64_t>(session) + 2;
  if (index < 0) return;
  if (index >= static_cast<int64_t>(FTableStates.size())) FTableStates.resize(index + 1);
  FTableStates[index] = TORBPageTableStateInfo{state, true, table_id};
}

}  // namespace orb
