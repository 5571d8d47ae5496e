#pragma once

// The table and record locks between sessions of a cursor on a disk table
// in multi-user mode: each call is one attempt on the disk table's locks
// for the cursor's session; the cursor makes the retries.

#include <memory>

#include "engine/cursor/table_locks.h"

namespace orb {

class TORBCursorInterface;
class TORBDiskTableData;
class TORBTableData;

class TORBDiskTableLocks : public TORBCursorTableLocks {
 public:
  // REQUIRES: both outlive the object (the cursor drops it when it closes
  // the table).
  TORBDiskTableLocks(TORBDiskTableData& table_data, const TORBCursorInterface& cursor)
      : FTableData(table_data), FCursor(cursor) {}
  TORBDiskTableLocks(const TORBDiskTableLocks&) = delete;
  TORBDiskTableLocks& operator=(const TORBDiskTableLocks&) = delete;

  // The locks for `cursor` on `table_data`: null unless it is a disk table
  // and the session is multi-user.
  static std::unique_ptr<TORBCursorTableLocks> ForTable(TORBTableData* table_data, const TORBCursorInterface& cursor,
                                                        bool multi_user);

  bool LockTable(TORBLockType type, bool allow_exclusive_after_shared) override;
  bool UnlockTable(TORBLockType type, bool ignore_if_not_locked) override;
  bool ReleaseTable(TORBLockType type) override;
  bool LockRecord(const TORBPageItemID& record_id) override;
  bool UnlockRecord(const TORBPageItemID& record_id) override;
  bool IsRecordLocked(const TORBPageItemID& record_id) override;

 private:
  TORBDiskTableData& FTableData;
  const TORBCursorInterface& FCursor;
};

}  // namespace orb
