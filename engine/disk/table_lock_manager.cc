#include "engine/disk/table_lock_manager.h"

#include <algorithm>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/disk/table_locks_file.h"
#include "engine/platform/clock.h"
#include "engine/platform/random.h"

namespace orb {

namespace {

void CheckLockTypeValue(TORBLockType type) {
  if (!IsValidLockType(type)) RaiseORB(kErrLockType, "Invalid table lock type %d", {static_cast<int>(type)});
}

// How many types may coexist with `type`: the weaker a type, the more.
int32_t CompatibleCount(TORBLockType type) {
  int32_t count = 0;
  for (int32_t t = 0; t < kLockTypeCount; ++t) {
    if (IsLockCompatible(type, static_cast<TORBLockType>(t))) ++count;
  }
  return count;
}

const char* UnlockMessage(int32_t error_code) {
  return error_code == 20206 ? "Cannot unlock record" : "Cannot unlock table";
}

}  // namespace

// A table's file lock for the duration of a scope. Constructed over a lock
// the session's ltX already holds, it takes and releases nothing.
class TORBDatabaseTableLockManager::FileLockHold {
 public:
  FileLockHold(TORBTableLocksFile& file, bool already_held) : FFile(file), FHeld(already_held) {}
  ~FileLockHold() {
    if (!FOwned) return;
    try {
      FFile.UnlockFile();
    } catch (...) {
    }
  }
  FileLockHold(const FileLockHold&) = delete;
  FileLockHold& operator=(const FileLockHold&) = delete;

  bool TakeOnce() {
    if (!FHeld && FFile.LockFile()) FHeld = FOwned = true;
    return FHeld;
  }
  // Up to `tries` attempts, the manager's critical section left while
  // sleeping between them.
  bool Take(TORBDatabaseTableLockManager& manager, int32_t tries, int32_t delay_ms) {
    const int32_t attempts = std::max(tries, 1);
    for (int32_t i = 0; i < attempts; ++i) {
      if (TakeOnce()) return true;
      if (i + 1 < attempts) manager.SleepOutside(delay_ms);
    }
    return false;
  }
  // The lock stays held past the scope (it now belongs to an ltX entry).
  void Keep() { FOwned = false; }

 private:
  TORBTableLocksFile& FFile;
  bool FHeld;
  bool FOwned = false;
};

TORBDatabaseTableLockManager::TORBDatabaseTableLockManager(TORBDiskPageManager* page_manager,
                                                           int32_t max_session_count)
    : FMaxSessionCount(max_session_count), LPageManager(page_manager) {
  if (max_session_count <= 0) {
    RaiseORB(kErrMaxSessionCount, "Invalid maximum number of sessions %d", {max_session_count});
  }
  FSessionLockList.resize(static_cast<size_t>(max_session_count));
}

TORBTableLockList& TORBDatabaseTableLockManager::SessionList(int32_t session) {
  if (session < 0 || session >= FMaxSessionCount) {
    RaiseORB(kErrLockSessionID, "Invalid session id %d. Maximum number of sessions is %d",
             {session, FMaxSessionCount});
  }
  return FSessionLockList[static_cast<size_t>(session)];
}

const TORBTableLockList& TORBDatabaseTableLockManager::SessionLocks(int32_t session) const {
  return const_cast<TORBDatabaseTableLockManager*>(this)->SessionList(session);
}

void TORBDatabaseTableLockManager::CheckNoLocks() const {
  for (const TORBTableLockList& list : FSessionLockList) list.CheckEmpty();
}

void TORBDatabaseTableLockManager::SleepOutside(int64_t ms) {
  TCriticalSectionRelease release(FCSect);
  SleepMs(ms);
}

bool TORBDatabaseTableLockManager::HoldsFileLock(const TORBTableLockList& list, int32_t table) {
  return list.PhysicalLockExists(ltX, table);
}

uint32_t TORBDatabaseTableLockManager::OwnFreeMask(const TORBTableLockList& list, int32_t table) {
  uint32_t mask = 0;
  for (int32_t t = 0; t < kLockByteTypeCount; ++t) {
    if (!list.PhysicalLockExists(static_cast<TORBLockType>(t), table)) mask |= 1u << t;
  }
  return mask;
}

// ---------------------------------------------------------------------------
// Table locks

bool TORBDatabaseTableLockManager::LockTable(int32_t session, TORBLockType type, TORBTableLocksFile& locks_file,
                                             int32_t tries, int32_t delay_ms, bool allow_xirw_after_sirw) {
  CheckLockTypeValue(type);
  if (LPageManager->GetExclusive()) return true;
  TCriticalSectionGuard guard(FCSect);
  TORBTableLockList& list = SessionList(session);
  const int32_t table = locks_file.GetStartPageNo();
  if (list.LockExists(type, table)) {
    if (type == ltSIRW) return false;
    list.AddLock(type, table, false, allow_xirw_after_sirw);
    return true;
  }
  if (list.StrongerLockExists(type, table)) {
    list.AddLock(type, table, false, allow_xirw_after_sirw);
    return true;
  }
  const int32_t attempts = std::max(tries, 1);
  const int32_t half = std::max(delay_ms, 0) / 2;
  for (int32_t i = 0; i < attempts; ++i) {
    if (TryPhysicalTableLock(session, type, locks_file, allow_xirw_after_sirw, list)) return true;
    if (i + 1 < attempts) SleepOutside(half + RandomInt(half));
  }
  return false;
}

bool TORBDatabaseTableLockManager::TryPhysicalTableLock(int32_t session, TORBLockType type,
                                                        TORBTableLocksFile& file, bool allow,
                                                        TORBTableLockList& list) {
  if (type != ltX) return TryByteFirstTableLock(session, type, file, allow, list);
  // ltX is the file lock itself, kept for as long as ltX is held.
  const int32_t table = file.GetStartPageNo();
  FileLockHold hold(file, false);
  if (!hold.TakeOnce()) return false;
  if (!file.IsTableLockAllowed(session, type, allow, OwnFreeMask(list, table))) return false;
  list.AddLock(ltX, table, true, allow);
  hold.Keep();
  return true;
}

// Every type but ltX skips the file lock (two system calls): the request
// locks its own byte of the type, then probes the file lock, then the rows
// of the types it conflicts with, and gives its byte back when a probe
// finds one held. ltX checks the rows under the file lock and keeps it, so
// for an ltX request R and such a request Q, the only orders are:
// - R's check ran after Q's byte was locked: R sees it and is refused.
// - R's check ran before Q's byte was locked: R holds the file lock from
//   before its check on. Q's probe of the file lock comes after its byte,
//   hence after R's check, and finds it: Q is refused.
// Two requests of this kind, Q1 and Q2, that conflict (of one type, as two
// ltRW, or of two): each locks its byte before it probes the other's row,
// so the later of the two to lock its byte finds the other's (both may be
// refused, never both let in). So no two sessions ever hold conflicting
// locks; a byte given back after a refused probe only made others retry,
// as the file lock held by a check does, and the retries wait a random
// time, so two requests that keep meeting this way part soon.
bool TORBDatabaseTableLockManager::TryByteFirstTableLock(int32_t session, TORBLockType type,
                                                         TORBTableLocksFile& file, bool allow,
                                                         TORBTableLockList& list) {
  const int32_t table = file.GetStartPageNo();
  // The probes skip the session's own bytes: its byte of `type` is held now.
  const uint32_t own_free = OwnFreeMask(list, table) & ~(1u << type);
  if (!file.LockTable(session, type)) RaiseORB(20203, "Cannot set table lock");
  bool allowed = false;
  try {
    allowed = !file.IsFileLocked() && file.IsTableLockAllowed(session, type, allow, own_free);
    if (allowed) list.AddLock(type, table, true, allow);
  } catch (...) {
    file.UnlockTable(session, type);
    throw;
  }
  if (!allowed && !file.UnlockTable(session, type)) RaiseORB(20204, "Cannot unlock table");
  return allowed;
}

bool TORBDatabaseTableLockManager::UnlockTable(int32_t session, TORBLockType type, TORBTableLocksFile& locks_file,
                                               bool ignore_if_no_lock, bool ignore_count) {
  CheckLockTypeValue(type);
  if (LPageManager->GetExclusive()) return true;
  TCriticalSectionGuard guard(FCSect);
  TORBTableLockList& list = SessionList(session);
  if (ignore_if_no_lock && !list.LockExists(type, locks_file.GetStartPageNo())) return true;
  return RemoveAndRelease(session, type, locks_file, list, ignore_count, type == ltU ? 20206 : 20204);
}

bool TORBDatabaseTableLockManager::RemoveAndRelease(int32_t session, TORBLockType type, TORBTableLocksFile& file,
                                                    TORBTableLockList& list, bool ignore_count,
                                                    int32_t error_code) {
  const int32_t table = file.GetStartPageNo();
  TORBTableLock entry;
  bool had_physical = false;
  if (!list.RemoveLock(type, table, had_physical, ignore_count, &entry) || !had_physical) return true;
  bool released = false;
  try {
    const bool file_lock_held = type == ltX || HoldsFileLock(list, table);
    released = SetPhysicalLockForWeakerLocks(session, type, file, list, file_lock_held) &&
               ReleasePhysicalLock(session, type, file, file_lock_held, error_code);
  } catch (...) {
    list.Restore(entry);
    throw;
  }
  if (!released) list.Restore(entry);
  return released;
}

bool TORBDatabaseTableLockManager::SetPhysicalLockForWeakerLocks(int32_t session, TORBLockType type,
                                                                 TORBTableLocksFile& file, TORBTableLockList& list,
                                                                 bool file_lock_held) {
  const int32_t table = file.GetStartPageNo();
  std::vector<size_t> weaker;
  for (size_t i = 0; i < list.Count(); ++i) {
    const TORBTableLock& lock = list.Item(i);
    if (lock.LocksFilePageNo == table && lock.LockType != ltX && list.IsWeakerNonPhysicalLock(i, type)) {
      weaker.push_back(i);
    }
  }
  if (weaker.empty()) return true;
  FileLockHold hold(file, file_lock_held);
  if (!hold.Take(*this, FFileLockTries, FFileLockDelayMs)) return false;
  for (size_t i : weaker) {
    const TORBTableLock& lock = list.Item(i);
    // A row lock taken under a stronger lock stores its row id only now.
    const bool locked =
        lock.LockType == ltU ? file.LockRecord(session, lock.RecordID) : file.LockTable(session, lock.LockType);
    if (!locked) RaiseORB(20203, "Cannot set table lock");
    list.SetPhysicalLock(i);
  }
  return true;
}

bool TORBDatabaseTableLockManager::ReleasePhysicalLock(int32_t session, TORBLockType type, TORBTableLocksFile& file,
                                                       bool /*file_lock_held*/, int32_t error_code) {
  if (type == ltX) {
    const int32_t attempts = std::max(FFileLockTries, 1);
    for (int32_t i = 0; i < attempts; ++i) {
      if (file.UnlockFile()) return true;
      if (i + 1 < attempts) SleepOutside(FFileLockDelayMs);
    }
    return false;
  }
  // Giving up one's own byte needs no file lock: it only lets others in,
  // and a check made meanwhile under the file lock sees the byte either
  // still held (and waits) or free. This spares two system calls on every
  // read step of a shared file.
  if (!file.UnlockTable(session, type)) RaiseORB(error_code, UnlockMessage(error_code));
  return true;
}

// ---------------------------------------------------------------------------
// Row locks

bool TORBDatabaseTableLockManager::LockRecord(int32_t session, TORBTableLocksFile& locks_file,
                                              const TORBPageItemID& record_id, int32_t tries, int32_t delay_ms) {
  const uint64_t deadline =
      GetTickCount() + static_cast<uint64_t>(std::max(tries, 0)) * static_cast<uint64_t>(std::max(delay_ms, 0));
  TCriticalSectionGuard guard(FCSect);
  TORBTableLockList& list = SessionList(session);
  const int32_t table = locks_file.GetStartPageNo();
  if (list.LockExists(ltU, table)) return false;
  if (list.LockExists(ltX, table) || list.LockExists(ltXIRW, table, false)) {
    list.AddLock(ltU, table, false, false, record_id);
    return true;
  }
  const int32_t attempts = std::max(tries, 1);
  for (int32_t i = 0; i < attempts; ++i) {
    if (TryRecordLock(session, locks_file, record_id, list)) return true;
    if (i + 1 >= attempts || GetTickCount() >= deadline) break;
    SleepOutside(delay_ms);
  }
  return false;
}

// A row lock skips the file lock as a read step does (one system call per
// row lock): it locks its own row byte and stores its row id, then probes
// the file lock, then reads the stored ids and probes the bytes of the
// sessions whose id matches; a probe that finds one held gives the byte
// back. The other writers of row bytes:
// - Another request of this kind for the same row: each stores its id
//   after locking its byte and reads the other ids after that, so the later
//   of the two to store its id finds the other's id with its byte locked
//   (both may be refused, never both let in). An id left from an earlier
//   lock beside a byte taken since can only refuse a request, which then
//   retries.
// - A row lock that rode on ltX or ltXIRW takes its byte and stores its id
//   under the file lock, before that lock is released. Here the file lock
//   is probed after this byte and id were written: if it is still held the
//   request is refused, and if not, that byte and id were written before
//   the probe of the ids, which finds them.
// - ltX itself (the file lock) held by another session refuses the request
//   at the probe, as taking the file lock did.
// A table request checked under the file lock sees this byte or, when its
// check came first, keeps the file lock until its own byte is taken, which
// this probe finds held; a byte given back after a refused probe only made
// others retry.
bool TORBDatabaseTableLockManager::TryRecordLock(int32_t session, TORBTableLocksFile& file,
                                                 const TORBPageItemID& record_id, TORBTableLockList& list) {
  if (!file.LockRecord(session, record_id)) RaiseORB(20205, "Cannot lock record");
  bool allowed = false;
  try {
    allowed = !file.IsFileLocked() && !file.IsRecordLockedByAnyOtherSession(session, record_id);
    if (allowed) list.AddLock(ltU, file.GetStartPageNo(), true, false, record_id);
  } catch (...) {
    file.UnlockRecord(session);
    throw;
  }
  if (!allowed && !file.UnlockRecord(session)) RaiseORB(20206, "Cannot unlock record");
  return allowed;
}

bool TORBDatabaseTableLockManager::UnlockRecord(int32_t session, TORBTableLocksFile& locks_file,
                                                const TORBPageItemID& record_id) {
  TCriticalSectionGuard guard(FCSect);
  TORBTableLockList& list = SessionList(session);
  const size_t index = list.Find(ltU, locks_file.GetStartPageNo());
  // Another row's lock is not this caller's to release.
  if (index == TORBTableLockList::kNone || !(list.Item(index).RecordID == record_id)) return false;
  return RemoveAndRelease(session, ltU, locks_file, list, true, 20206);
}

bool TORBDatabaseTableLockManager::IsRecordLocked(int32_t session, TORBTableLocksFile& locks_file,
                                                  const TORBPageItemID& record_id) {
  TCriticalSectionGuard guard(FCSect);
  SessionList(session);
  return locks_file.IsRecordLockedByAnyOtherSession(session, record_id);
}

// ---------------------------------------------------------------------------
// Transactions and sessions

bool TORBDatabaseTableLockManager::ReleaseRWLocks(int32_t session, const std::vector<int32_t>& tables) {
  TORBTableLockList& list = SessionList(session);
  bool all = true;
  for (int32_t table : tables) {
    TORBTableLocksFile file(LPageManager);
    file.OpenFile(table);
    UnlockTable(session, ltRW, file, true, false);
    if (list.LockExists(ltRW, table)) all = false;
  }
  return all;
}

bool TORBDatabaseTableLockManager::AddRWLocksBeforeCommit(int32_t session) {
  TCriticalSectionGuard guard(FCSect);
  TORBTableLockList& list = SessionList(session);
  std::vector<int32_t> tables;
  for (size_t i = 0; i < list.Count(); ++i) {
    const TORBTableLock& lock = list.Item(i);
    const int32_t table = lock.LocksFilePageNo;
    if (lock.LockType != ltXIRW || list.LockExists(ltRW, table) || list.StrongerLockExists(ltRW, table)) continue;
    if (std::find(tables.begin(), tables.end(), table) == tables.end()) tables.push_back(table);
  }
  std::vector<int32_t> taken;
  bool all = true;
  try {
    for (int32_t table : tables) {
      TORBTableLocksFile file(LPageManager);
      file.OpenFile(table);
      if (!LockTable(session, ltRW, file, FCommitTries, FCommitDelayMs, true)) {
        all = false;
        break;
      }
      taken.push_back(table);
    }
  } catch (...) {
    try {
      ReleaseRWLocks(session, taken);
    } catch (...) {
    }
    throw;
  }
  if (all) return true;
  if (!ReleaseRWLocks(session, taken)) RaiseORB(20234, "Some table locks still exist");
  return false;
}

bool TORBDatabaseTableLockManager::ClearTransactionLocks(int32_t session) {
  TCriticalSectionGuard guard(FCSect);
  TORBTableLockList& list = SessionList(session);
  std::vector<int32_t> row_tables;
  for (size_t i = 0; i < list.Count(); ++i) {
    if (list.Item(i).LockType == ltU) row_tables.push_back(list.Item(i).LocksFilePageNo);
  }
  for (int32_t table : row_tables) {
    if (list.LockExists(ltSIRW, table)) continue;
    TORBTableLocksFile file(LPageManager);
    file.OpenFile(table);
    if (!LockTable(session, ltSIRW, file, FCommitTries, FCommitDelayMs, false)) return false;
  }
  std::vector<TORBTableLock> transaction_locks;
  for (size_t i = 0; i < list.Count(); ++i) {
    const TORBTableLock& lock = list.Item(i);
    if (lock.LockType == ltXIRW || lock.LockType == ltRW) transaction_locks.push_back(lock);
  }
  bool all = true;
  for (const TORBTableLock& lock : transaction_locks) {
    TORBTableLocksFile file(LPageManager);
    file.OpenFile(lock.LocksFilePageNo);
    if (!UnlockTable(session, lock.LockType, file, true, true)) all = false;
  }
  return all;
}

bool TORBDatabaseTableLockManager::ReleaseSessionLocks(int32_t session) {
  TCriticalSectionGuard guard(FCSect);
  TORBTableLockList& list = SessionList(session);
  std::vector<int32_t> tables;
  for (size_t i = 0; i < list.Count(); ++i) {
    const int32_t table = list.Item(i).LocksFilePageNo;
    if (std::find(tables.begin(), tables.end(), table) == tables.end()) tables.push_back(table);
  }
  bool all = true;
  for (int32_t table : tables) {
    std::vector<TORBLockType> types;
    for (size_t i = 0; i < list.Count(); ++i) {
      if (list.Item(i).LocksFilePageNo == table) types.push_back(list.Item(i).LockType);
    }
    // Weakest first and ltX last: no release then has byteless weaker locks
    // to convert, and the bytes go while ltX still holds the file lock.
    std::stable_sort(types.begin(), types.end(), [](TORBLockType a, TORBLockType b) {
      return CompatibleCount(a) > CompatibleCount(b);
    });
    TORBTableLocksFile file(LPageManager);
    file.OpenFile(table);
    for (TORBLockType type : types) {
      if (!list.LockExists(type, table)) continue;
      if (!RemoveAndRelease(session, type, file, list, true, type == ltU ? 20206 : 20204)) all = false;
    }
  }
  return all;
}

}  // namespace orb
