#include "engine/disk/table_pages_cache.h"

#include <algorithm>

#include "engine/base/orb_exception.h"
#include "engine/table/page.h"

namespace orb {

void TORBDTPCTableInfo::ForgetLoadedState() {
  IsMostUpdatedLoaded = false;
  TableState = -1;
}

void TORBDTPCTableInfo::Locked(bool s_lock) {
  if (!IsLockedFromModification()) ForgetLoadedState();
  if (s_lock) {
    ++TableSLockCount;
  } else {
    ++TableRWLockCount;
  }
}

void TORBDTPCTableInfo::Unlocked(bool s_lock) {
  int32_t& count = s_lock ? TableSLockCount : TableRWLockCount;
  if (count > 0) --count;
  if (!IsLockedFromModification()) ForgetLoadedState();
}

void TORBDTPCTableInfo::SetMostUpdatedLoaded(int32_t table_state) {
  if (IsMostUpdatedLoaded) return;
  IsMostUpdatedLoaded = true;
  TableState = table_state;
}

TORBDTPCTableInfo& TORBDTPCSessionInfo::GetTableInfo(int32_t table_id) {
  for (auto& info : FTableInfo) {
    if (info->TableID == table_id) return *info;
  }
  FTableInfo.push_back(std::make_unique<TORBDTPCTableInfo>(table_id));
  return *FTableInfo.back();
}

const TORBDTPCTableInfo* TORBDTPCSessionInfo::FindTableInfo(int32_t table_id) const {
  for (const auto& info : FTableInfo) {
    if (info->TableID == table_id) return info.get();
  }
  return nullptr;
}

void TORBDTPCSessionInfo::EndWorkWithTable(int32_t table_id) {
  auto it = std::find(FWorkTableIDs.begin(), FWorkTableIDs.end(), table_id);
  if (it != FWorkTableIDs.end()) FWorkTableIDs.erase(it);
}

TORBDTPCSessionInfo& TORBDiskTablePagesCacheManager::GetSessionInfo(int32_t session) {
  if (session < -2) RaiseORB(20186, "Invalid Session ID");
  const size_t index = static_cast<size_t>(static_cast<int64_t>(session) + 2);
  if (index >= FSessionInfo.size()) FSessionInfo.resize(index + 1);
  if (!FSessionInfo[index]) FSessionInfo[index] = std::make_unique<TORBDTPCSessionInfo>();
  return *FSessionInfo[index];
}

const TORBDTPCSessionInfo* TORBDiskTablePagesCacheManager::FindSessionInfo(int32_t session) const {
  const int64_t index = static_cast<int64_t>(session) + 2;
  if (index < 0 || index >= static_cast<int64_t>(FSessionInfo.size())) return nullptr;
  return FSessionInfo[index].get();
}

void TORBDiskTablePagesCacheManager::TableIsSLocked(int32_t session, int32_t table_id) {
  GetSessionInfo(session).GetTableInfo(table_id).Locked(true);
}

void TORBDiskTablePagesCacheManager::TableIsSUnlocked(int32_t session, int32_t table_id) {
  GetSessionInfo(session).GetTableInfo(table_id).Unlocked(true);
}

void TORBDiskTablePagesCacheManager::TableIsRWLocked(int32_t session, int32_t table_id) {
  GetSessionInfo(session).GetTableInfo(table_id).Locked(false);
}

void TORBDiskTablePagesCacheManager::TableIsRWUnlocked(int32_t session, int32_t table_id) {
  GetSessionInfo(session).GetTableInfo(table_id).Unlocked(false);
}

bool TORBDiskTablePagesCacheManager::GetIsMostUpdatedLoaded(int32_t session, int32_t table_id) const {
  const TORBDTPCSessionInfo* info = FindSessionInfo(session);
  const TORBDTPCTableInfo* table = info ? info->FindTableInfo(table_id) : nullptr;
  return table != nullptr && table->IsMostUpdatedLoaded;
}

void TORBDiskTablePagesCacheManager::SetIsMostUpdatedLoaded(int32_t session, int32_t table_id,
                                                            int32_t table_state) {
  GetSessionInfo(session).GetTableInfo(table_id).SetMostUpdatedLoaded(table_state);
}

void TORBDiskTablePagesCacheManager::BeginWorkWithTable(int32_t session, int32_t table_id) {
  GetSessionInfo(session).BeginWorkWithTable(table_id);
}

void TORBDiskTablePagesCacheManager::EndWorkWithTable(int32_t session, int32_t table_id) {
  GetSessionInfo(session).EndWorkWithTable(table_id);
}

bool TORBDiskTablePagesCacheManager::GetWorkTableState(int32_t session, int32_t& table_state) const {
  int32_t table_id = -1;
  return GetWorkTableState(session, table_id, table_state);
}

bool TORBDiskTablePagesCacheManager::GetWorkTableState(int32_t session, int32_t& table_id,
                                                       int32_t& table_state) const {
  const TORBDTPCSessionInfo* info = FindSessionInfo(session);
  if (info == nullptr) return false;
  const int32_t work_table = info->CurrentWorkTable();
  if (work_table == -1) return false;
  const TORBDTPCTableInfo* table = info->FindTableInfo(work_table);
  if (table == nullptr || !table->IsLockedFromModification() || !table->IsMostUpdatedLoaded) return false;
  table_id = work_table;
  table_state = table->TableState;
  return true;
}

bool TORBDiskTablePagesCacheManager::IsSafeNotToSyncPage(bool multi_user, int32_t session,
                                                         const TORBPage& page) const {
  if (!multi_user) return true;
  int32_t table_id = -1;
  int32_t table_state = 0;
  if (!GetWorkTableState(session, table_id, table_state)) return false;
  int32_t page_table_id = -1;
  int32_t page_state = 0;
  if (!page.GetTableState(session, page_table_id, page_state)) return false;
  return page_table_id == table_id && page_state == table_state;
}

void TORBDiskTablePagesCacheManager::UpdatePageTableState(bool multi_user, int32_t session, TORBPage& page) const {
  if (!multi_user) return;
  int32_t table_id = -1;
  int32_t table_state = 0;
  if (GetWorkTableState(session, table_id, table_state)) page.SetTableState(session, table_id, table_state);
}

}  // namespace orb
