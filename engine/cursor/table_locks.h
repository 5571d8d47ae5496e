#pragma once

// Table and record locks between sessions for the table a cursor has open.
// A disk table in multi-user mode supplies them; tables of the in-memory
// and temporary engines have none and count as locked.

#include <cstdint>

#include "engine/base/page_item_id.h"
#include "engine/disk/lock_type.h"

namespace orb {

class TORBCursorTableLocks {
 public:
  virtual ~TORBCursorTableLocks() = default;

  // One attempt each; the cursor retries.
  virtual bool LockTable(TORBLockType type, bool allow_exclusive_after_shared) = 0;
  virtual bool UnlockTable(TORBLockType type, bool ignore_if_not_locked) = 0;
  // Drops every request of `type` the session made on the table.
  virtual bool ReleaseTable(TORBLockType type) = 0;
  virtual bool LockRecord(const TORBPageItemID& record_id) = 0;
  virtual bool UnlockRecord(const TORBPageItemID& record_id) = 0;
  // Another session holds a lock on the record.
  virtual bool IsRecordLocked(const TORBPageItemID& record_id) = 0;
};

// How often and how far apart lock attempts are made.
struct TORBLockRetry {
  int32_t Tries = 1;
  int32_t DelayMS = 0;
};

// Lock attempts of the record operations.
struct TORBCursorLockWaits {
  TORBLockRetry EditTable{900, 100};
  TORBLockRetry PostTable{2250, 40};
  TORBLockRetry DeleteTable{900, 100};
  TORBLockRetry Record{15, 100};
  TORBLockRetry BLOBShared{2250, 40};
};

}  // namespace orb
