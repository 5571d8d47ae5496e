#include "engine/cursor/disk_table_locks.h"

#include "engine/data/cursor_interface.h"
#include "engine/disk/disk_table_data.h"

namespace orb {

std::unique_ptr<TORBCursorTableLocks> TORBDiskTableLocks::ForTable(TORBTableData* table_data,
                                                                   const TORBCursorInterface& cursor,
                                                                   bool multi_user) {
  auto* disk = dynamic_cast<TORBDiskTableData*>(table_data);
  if (disk == nullptr || !multi_user) return nullptr;
  return std::make_unique<TORBDiskTableLocks>(*disk, cursor);
}

bool TORBDiskTableLocks::LockTable(TORBLockType type, bool allow_exclusive_after_shared) {
  return FTableData.LockTable(FCursor.GetSessionID(), type, 1, 0, allow_exclusive_after_shared);
}

bool TORBDiskTableLocks::UnlockTable(TORBLockType type, bool ignore_if_not_locked) {
  return FTableData.UnlockTable(FCursor.GetSessionID(), type, ignore_if_not_locked);
}

bool TORBDiskTableLocks::ReleaseTable(TORBLockType type) {
  return FTableData.UnlockTable(FCursor.GetSessionID(), type, true, true);
}

bool TORBDiskTableLocks::LockRecord(const TORBPageItemID& record_id) {
  return FTableData.LockRecord(FCursor.GetSessionID(), record_id, 1, 0);
}

bool TORBDiskTableLocks::UnlockRecord(const TORBPageItemID& record_id) {
  return FTableData.UnlockRecord(FCursor.GetSessionID(), record_id);
}

bool TORBDiskTableLocks::IsRecordLocked(const TORBPageItemID& record_id) {
  return FTableData.IsRecordLocked(FCursor.GetSessionID(), record_id);
}

}  // namespace orb
