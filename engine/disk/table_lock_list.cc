#include "engine/disk/table_lock_list.h"

#include "engine/base/orb_exception.h"

namespace orb {

size_t TORBTableLockList::Find(TORBLockType type, int32_t table) const {
  for (size_t i = 0; i < FLockList.size(); ++i) {
    if (FLockList[i].LockType == type && FLockList[i].LocksFilePageNo == table) return i;
  }
  return kNone;
}

size_t TORBTableLockList::AddLock(TORBLockType type, int32_t table, bool physical, bool allow_xirw_after_sirw,
                                  TORBPageItemID record_id) {
  const size_t index = Find(type, table);
  if (index != kNone) {
    ++FLockList[index].LockCount;
    return index;
  }
  TORBTableLock lock;
  lock.LockType = type;
  lock.LocksFilePageNo = table;
  lock.LockCount = 1;
  lock.HasPhysicalLock = physical;
  lock.IsXIRWAfterSIRWAllowed = allow_xirw_after_sirw;
  lock.RecordID = record_id;
  FLockList.push_back(lock);
  return FLockList.size() - 1;
}

bool TORBTableLockList::RemoveLock(TORBLockType type, int32_t table, bool& had_physical, bool ignore_count,
                                   TORBTableLock* removed) {
  had_physical = false;
  const size_t index = Find(type, table);
  if (index == kNone) RaiseORB(20202, "Cannot remove table lock. Lock not found");
  TORBTableLock& lock = FLockList[index];
  if (removed != nullptr) *removed = lock;
  if (!ignore_count && lock.LockCount > 1) {
    --lock.LockCount;
    return false;
  }
  had_physical = lock.HasPhysicalLock;
  FLockList.erase(FLockList.begin() + static_cast<std::ptrdiff_t>(index));
  return true;
}

void TORBTableLockList::Restore(const TORBTableLock& lock) {
  const size_t index = Find(lock.LockType, lock.LocksFilePageNo);
  if (index == kNone) {
    FLockList.push_back(lock);
    return;
  }
  FLockList[index].LockCount += lock.LockCount;
  FLockList[index].HasPhysicalLock = FLockList[index].HasPhysicalLock || lock.HasPhysicalLock;
}

bool TORBTableLockList::LockExists(TORBLockType type, int32_t table, bool allow_xirw_after_sirw) const {
  const size_t index = Find(type, table);
  return index != kNone && FLockList[index].IsXIRWAfterSIRWAllowed == allow_xirw_after_sirw;
}

bool TORBTableLockList::StrongerLockExists(TORBLockType type, int32_t table) const {
  for (const TORBTableLock& lock : FLockList) {
    if (lock.LocksFilePageNo == table && lock.LockType != type && IsLockStronger(lock.LockType, type)) return true;
  }
  return false;
}

bool TORBTableLockList::PhysicalLockExists(TORBLockType type, int32_t table) const {
  const size_t index = Find(type, table);
  return index != kNone && FLockList[index].HasPhysicalLock;
}

bool TORBTableLockList::IsWeakerNonPhysicalLock(size_t index, TORBLockType type) const {
  const TORBTableLock& lock = FLockList.at(index);
  return !lock.HasPhysicalLock && IsLockStronger(type, lock.LockType);
}

void TORBTableLockList::CheckEmpty() const {
  if (!FLockList.empty()) RaiseORB(20201, "Some table locks still exist");
}

}  // namespace orb
