#pragma once

// How table and row locks work between processes
// ===============================================
//
// 1. Every process keeps, per session slot, the list of table and row locks
//    the session holds (TORBTableLockList) and turns requests into byte
//    locks in the table's locks file (table_locks_file.h). The byte locks
//    are the only shared state: the system releases them when a process
//    ends, so a killed process leaves nothing behind.
//
// 2. A request locks its own byte first and then probes the file lock and
//    the bytes it conflicts with, giving its byte back when one is held
//    (TryByteFirstTableLock, TryRecordLock): of two conflicting requests
//    the later to lock its byte sees the other's. ltX is the file lock
//    itself, taken before its check and kept until the ltX lock is
//    released; bytes set for weaker locks when a lock goes are set under
//    the file lock. A session that holds ltX on a table
//    therefore never takes that file lock again (it would wait on itself):
//    its row locks and weaker locks ride on ltX without bytes, and
//    releasing bytes it took before ltX happens under the lock it already
//    holds.
//
// 3. A request the session already holds is counted (nesting), not
//    retried; only a second ltSIRW is refused. A request for which the
//    session holds a stronger lock on the same table is recorded without a
//    byte. Before a physical lock goes, the session's weaker locks on the
//    table that have no byte take theirs, so the table never stands
//    unprotected in between; a row lock taken without a byte takes its
//    byte and stores its row id at that point.
//
// 4. Waiting is bounded: a table request makes `tries` attempts, sleeping
//    delay / 2 plus a random 0 .. delay / 2 - 1 ms between them; a row
//    request sleeps `delay` ms and stops at its tries or at tries * delay
//    ms, whichever comes first; releases wait for the file lock at most
//    4500 times 20 ms and commit locks make 900 attempts 100 ms apart
//    (SetInternalRetries). The manager's critical section is left during
//    every sleep, at every depth the thread holds it, so the process's
//    other sessions can release meanwhile.
//
// 5. Nothing taken outlives a failure: an error after a byte or the file
//    lock was taken releases it before the error leaves the manager; a
//    release that fails puts the entry back, so the list always says
//    which bytes the session holds; the ltRW locks of a commit are taken
//    for all tables or for none.
//
// 6. An exclusively opened database has no other process to coordinate
//    with: table locks and releases succeed at once without touching the
//    lists.

#include <cstdint>
#include <vector>

#include "engine/base/page_item_id.h"
#include "engine/disk/lock_type.h"
#include "engine/disk/table_lock_list.h"
#include "engine/platform/critical_section.h"

namespace orb {

class TORBDiskPageManager;
class TORBTableLocksFile;

// The table and row locks of every session of this process on one
// database. Created when the database is opened, with M from its active
// sessions file; the session ids are the slots of that file.
class TORBDatabaseTableLockManager {
 public:
  // The default retries of a request (the session's TryCount and DelayMS).
  static constexpr int32_t kDefaultTryCount = 20;
  static constexpr int32_t kDefaultDelayMS = 50;
  static constexpr int32_t kFileLockTries = 4500;
  static constexpr int32_t kFileLockDelayMs = 20;
  static constexpr int32_t kCommitTries = 900;
  static constexpr int32_t kCommitDelayMs = 100;

  // kErrMaxSessionCount unless `max_session_count` is positive.
  TORBDatabaseTableLockManager(TORBDiskPageManager* page_manager, int32_t max_session_count);
  // Never raises; locks still recorded are left to the file's close.
  ~TORBDatabaseTableLockManager() = default;
  TORBDatabaseTableLockManager(const TORBDatabaseTableLockManager&) = delete;
  TORBDatabaseTableLockManager& operator=(const TORBDatabaseTableLockManager&) = delete;

  // Every call below raises kErrLockSessionID for a session outside
  // 0 .. M - 1, and kErrLockType for a type outside TORBLockType.

  // Takes `type` on the table of `locks_file` for the session; false when
  // other sessions' locks keep it out through every attempt, or for a
  // second ltSIRW. 20203 when the byte cannot be locked although the check
  // allowed it.
  bool LockTable(int32_t session, TORBLockType type, TORBTableLocksFile& locks_file,
                 int32_t tries = kDefaultTryCount, int32_t delay_ms = kDefaultDelayMS,
                 bool allow_xirw_after_sirw = false);
  // Counts one request of `type` off (all with `ignore_count`) and releases
  // the lock when none is left. A missing lock raises 20202 unless
  // `ignore_if_no_lock`. False when the release could not be made (the lock
  // stays recorded); 20204 when the byte cannot be unlocked.
  bool UnlockTable(int32_t session, TORBLockType type, TORBTableLocksFile& locks_file,
                   bool ignore_if_no_lock = false, bool ignore_count = false);
  // Locks one row of the table for the session (one row per session and
  // table); false when the session already holds a row lock there or
  // another session holds this row through every attempt. 20205 when the
  // byte cannot be locked although the row was free.
  bool LockRecord(int32_t session, TORBTableLocksFile& locks_file, const TORBPageItemID& record_id,
                  int32_t tries = kDefaultTryCount, int32_t delay_ms = kDefaultDelayMS);
  // Releases the session's row lock on `record_id`; false when the session
  // holds no row lock on that row of the table, or the release could not be
  // made. 20206 when the byte cannot be unlocked.
  bool UnlockRecord(int32_t session, TORBTableLocksFile& locks_file, const TORBPageItemID& record_id);
  // Whether another session holds a row lock on `record_id`.
  bool IsRecordLocked(int32_t session, TORBTableLocksFile& locks_file, const TORBPageItemID& record_id);
  // Takes ltRW on every table the session changed under ltXIRW, all or
  // none: false (holding none of them) when one cannot be had.
  bool AddRWLocksBeforeCommit(int32_t session);
  // After a commit or rollback: gives every table where the session still
  // holds a row lock an ltSIRW lock, then drops the session's ltXIRW and
  // ltRW locks whatever their counts. False when an ltSIRW cannot be had.
  bool ClearTransactionLocks(int32_t session);
  // Releases every lock the session holds (disconnect); false when some
  // release could not be made (those stay recorded).
  bool ReleaseSessionLocks(int32_t session);

  // The manager's critical section.
  void Lock() { FCSect.Enter(); }
  void Unlock() { FCSect.Leave(); }

  int32_t GetMaxSessionCount() const { return FMaxSessionCount; }
  const TORBTableLockList& SessionLocks(int32_t session) const;
  // 20201 when any session still holds a lock.
  void CheckNoLocks() const;

  void SetInternalRetries(int32_t file_lock_tries, int32_t file_lock_delay_ms, int32_t commit_tries,
                          int32_t commit_delay_ms) {
    FFileLockTries = file_lock_tries;
    FFileLockDelayMs = file_lock_delay_ms;
    FCommitTries = commit_tries;
    FCommitDelayMs = commit_delay_ms;
  }

 private:
  class FileLockHold;

  TORBTableLockList& SessionList(int32_t session);
  void SleepOutside(int64_t ms);
  // One attempt at a physical table lock.
  bool TryPhysicalTableLock(int32_t session, TORBLockType type, TORBTableLocksFile& file, bool allow,
                            TORBTableLockList& list);
  // Every type but ltX without the file lock: the session's byte first,
  // then the probes (the reasoning is beside the code).
  bool TryByteFirstTableLock(int32_t session, TORBLockType type, TORBTableLocksFile& file, bool allow,
                             TORBTableLockList& list);
  // One attempt at a row lock without the file lock: the session's row
  // byte and id first, then the probes (the reasoning is beside the code).
  bool TryRecordLock(int32_t session, TORBTableLocksFile& file, const TORBPageItemID& record_id,
                     TORBTableLockList& list);
  // Whether the session's ltX on the table holds the table's file lock.
  static bool HoldsFileLock(const TORBTableLockList& list, int32_t table);
  // Bit t set: the session holds no byte of type t on the table.
  static uint32_t OwnFreeMask(const TORBTableLockList& list, int32_t table);
  // Gives the session's weaker byteless locks on the table their bytes,
  // before a lock of `type` goes. `file_lock_held`: the caller holds the
  // table's file lock. False when the file lock could not be had.
  bool SetPhysicalLockForWeakerLocks(int32_t session, TORBLockType type, TORBTableLocksFile& file,
                                     TORBTableLockList& list, bool file_lock_held);
  // Releases the byte (or for ltX the file lock) of a removed entry.
  bool ReleasePhysicalLock(int32_t session, TORBLockType type, TORBTableLocksFile& file,
                           bool file_lock_held, int32_t error_code);
  // Removes the entry (wholly with `ignore_count`) and, when it goes with
  // a physical lock, releases that; on failure the entry is put back.
  bool RemoveAndRelease(int32_t session, TORBLockType type, TORBTableLocksFile& file, TORBTableLockList& list,
                        bool ignore_count, int32_t error_code);
  // Releases the ltRW locks of `tables`; false when one stays recorded.
  bool ReleaseRWLocks(int32_t session, const std::vector<int32_t>& tables);

  std::vector<TORBTableLockList> FSessionLockList;
  int32_t FMaxSessionCount;
  TCriticalSection FCSect;
  TORBDiskPageManager* LPageManager;
  int32_t FFileLockTries = kFileLockTries;
  int32_t FFileLockDelayMs = kFileLockDelayMs;
  int32_t FCommitTries = kCommitTries;
  int32_t FCommitDelayMs = kCommitDelayMs;
};

}  // namespace orb
