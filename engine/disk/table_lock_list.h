#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/base/page_item_id.h"
#include "engine/disk/lock_type.h"

namespace orb {

// One lock a session holds on one table, as the lock manager records it.
struct TORBTableLock {
  TORBLockType LockType = ltIS;
  // First page of the table's locks file: identifies the table.
  int32_t LocksFilePageNo = -1;
  // Nesting count: requests of this type not yet released.
  int32_t LockCount = 0;
  // The lock byte in the locks file (for ltX: the locks file's file lock) is
  // held for this entry. Without it the entry rides on a stronger lock of
  // the same session and table.
  bool HasPhysicalLock = false;
  bool IsXIRWAfterSIRWAllowed = false;
  // ltU only: the locked row. Kept so that a row lock taken under a
  // stronger lock can be made physical later with its row id stored.
  TORBPageItemID RecordID;
};

// The locks one session holds, in the order they were first taken.
// Entries are kept while their count is positive.
class TORBTableLockList {
 public:
  TORBTableLockList() = default;
  // Never raises: a list that still holds entries is reported by CheckEmpty.
  ~TORBTableLockList() = default;
  TORBTableLockList(TORBTableLockList&&) = default;
  TORBTableLockList& operator=(TORBTableLockList&&) = default;
  TORBTableLockList(const TORBTableLockList&) = delete;
  TORBTableLockList& operator=(const TORBTableLockList&) = delete;

  // An existing entry of that type and table counts one more; otherwise a
  // new entry with count 1. Returns the entry's index.
  size_t AddLock(TORBLockType type, int32_t table, bool physical, bool allow_xirw_after_sirw,
                 TORBPageItemID record_id = {});
  // Counts one request of the entry off (all of them with `ignore_count`)
  // and removes the entry at 0; true when it went. `had_physical`: the
  // entry went and held the physical lock. `removed` (if given) receives
  // the entry as it was before the call. 20202 when absent.
  bool RemoveLock(TORBLockType type, int32_t table, bool& had_physical, bool ignore_count,
                  TORBTableLock* removed = nullptr);
  // Puts back an entry that RemoveLock took away (its count added to an
  // entry of the same type and table taken since).
  void Restore(const TORBTableLock& lock);
  bool LockExists(TORBLockType type, int32_t table) const { return Find(type, table) != kNone; }
  // The same, and the entry's allow flag equals `allow_xirw_after_sirw`.
  bool LockExists(TORBLockType type, int32_t table, bool allow_xirw_after_sirw) const;
  // Another entry on `table` whose type is at least as strong as `type`.
  bool StrongerLockExists(TORBLockType type, int32_t table) const;
  // The entry of `type` on `table` holds its physical lock.
  bool PhysicalLockExists(TORBLockType type, int32_t table) const;
  void SetPhysicalLock(size_t index) { FLockList.at(index).HasPhysicalLock = true; }
  // `type` is at least as strong as the entry's and the entry has no
  // physical lock.
  bool IsWeakerNonPhysicalLock(size_t index, TORBLockType type) const;

  // 20201 "Some table locks still exist" when entries remain.
  void CheckEmpty() const;

  size_t Count() const { return FLockList.size(); }
  bool Empty() const { return FLockList.empty(); }
  const TORBTableLock& Item(size_t index) const { return FLockList.at(index); }
  // Index of the entry of that type and table, or kNone.
  size_t Find(TORBLockType type, int32_t table) const;

  static constexpr size_t kNone = static_cast<size_t>(-1);

 private:
  std::vector<TORBTableLock> FLockList;
};

}  // namespace orb
