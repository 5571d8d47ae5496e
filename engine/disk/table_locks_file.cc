#include "engine/disk/table_locks_file.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/table/page_header.h"

namespace orb {

namespace {

constexpr const char* kNilPointer = "Nil pointer occured";

void CheckLockType(TORBLockType type) {
  if (!IsValidLockType(type)) RaiseORB(kErrLockType, "Invalid table lock type %d", {static_cast<int>(type)});
}

}  // namespace

TORBTableLocksFile::TORBTableLocksFile(TORBDiskPageManager* page_manager)
    : LPageManager(page_manager), FHandle(page_manager, kPageTypeTableLocks) {}

int32_t TORBTableLocksFile::CreateFile(int32_t max_session_count) {
  if (max_session_count <= 0 || max_session_count > std::numeric_limits<int32_t>::max() / kBytesPerSession) {
    RaiseORB(kErrMaxSessionCount, "Invalid maximum number of sessions %d", {max_session_count});
  }
  TORBInternalDBDirectAccessFile file(LPageManager, kPageTypeTableLocks);
  file.CreateFile(max_session_count * kBytesPerSession);
  return file.GetStartPageNo();
}

void TORBTableLocksFile::OpenFile(int32_t first_page) {
  CloseFile();
  FHandle.OpenFile(first_page);
  if (!FHandle.IsOpen()) return;
  const int32_t stored = FHandle.GetSize();
  const int32_t count = std::min(stored, FHandle.GetFileSize()) / kBytesPerSession;
  if (count <= 0) {
    FHandle.CloseFile();
    RaiseORB(kErrLocksFileSize,
             "Invalid table locks file. Probably database is corrupted and needs repair. StartPageNo=%d, Size=%d",
             {first_page, stored});
  }
  FMaxSessionCount = count;
}

void TORBTableLocksFile::CloseFile() {
  FHandle.CloseFile();
  FMaxSessionCount = 0;
}

void TORBTableLocksFile::DeleteFile() {
  FHandle.DeleteFile();
  FMaxSessionCount = 0;
}

int32_t TORBTableLocksFile::GetStartPageNo() const {
  CheckOpen(10483);
  return FHandle.GetStartPageNo();
}

void TORBTableLocksFile::CheckOpen(int32_t code) const {
  if (!FHandle.IsOpen()) RaiseORB(code, kNilPointer);
}

void TORBTableLocksFile::CheckSession(int32_t session) const {
  if (session < 0 || session >= FMaxSessionCount) {
    RaiseORB(20200, "Cannot set table lock. Try to repair the database or increase number of allowed connections");
  }
}

bool TORBTableLocksFile::IsFileLocked() { return LPageManager->IsPageByteLocked(GetStartPageNo(), 0); }

bool TORBTableLocksFile::LockTable(int32_t session, TORBLockType type) {
  CheckOpen(10489);
  CheckLockType(type);
  CheckSession(session);
  if (type == ltX) return false;
  return FHandle.LockByte(GetTableLockByteNo(session, type));
}

bool TORBTableLocksFile::UnlockTable(int32_t session, TORBLockType type) {
  CheckOpen(10494);
  CheckLockType(type);
  CheckSession(session);
  if (type == ltX) return false;
  return FHandle.UnlockByte(GetTableLockByteNo(session, type));
}

bool TORBTableLocksFile::IsTableLockedByAnyOtherSession(int32_t session, TORBLockType type, bool own_byte_free) {
  CheckOpen(10490);
  CheckLockType(type);
  CheckSession(session);
  if (type == ltX) return false;
  const int32_t row = GetTableLockByteNo(0, type);
  if (own_byte_free) return FHandle.IsRegionLocked(row, FMaxSessionCount);
  return FHandle.IsRegionLocked(row, session) ||
         FHandle.IsRegionLocked(row + session + 1, FMaxSessionCount - session - 1);
}

bool TORBTableLocksFile::IsTableLockAllowed(int32_t session, TORBLockType type, bool allow_xirw_after_sirw,
                                            uint32_t own_free_mask) {
  CheckLockType(type);
  CheckOpen(10490);
  CheckSession(session);
  auto conflicts = [&](int32_t t) {
    const auto held = static_cast<TORBLockType>(t);
    return !IsLockCompatible(held, type) && !(allow_xirw_after_sirw && type == ltXIRW && held == ltSIRW);
  };
  auto own_free = [&](int32_t t) { return ((own_free_mask >> t) & 1u) != 0; };
  // The rows go from the strongest type down. A session that gives a lock
  // up first gives its weaker locks on the table their bytes
  // (SetPhysicalLockForWeakerLocks in the lock manager), so when a request
  // that locked its byte first probes a stronger row and finds the byte
  // there gone, the weaker bytes were set before, and its later probe of
  // their rows finds them.
  for (int32_t t = kLockTypeCount - 1; t >= 0; --t) {
    if (!conflicts(t)) continue;
    // The rows of the table lock types lie one after the other: a run of
    // conflicting types is one probe, which finds exactly the locks the
    // probes row by row would. The probe skips the session's own byte when
    // it holds one in the run; with more than one, the rows go one by one.
    if (t >= ltU) {
      // ltU's row stands apart (the row ids follow it); ltX has no row.
      if (IsTableLockedByAnyOtherSession(session, static_cast<TORBLockType>(t), own_free(t))) return false;
      continue;
    }
    int32_t first = t;
    while (first > 0 && conflicts(first - 1)) --first;
    int32_t held_rows = 0;
    int32_t held = -1;
    for (int32_t r = first; r <= t; ++r) {
      if (own_free(r)) continue;
      ++held_rows;
      held = GetTableLockByteNo(session, static_cast<TORBLockType>(r));
    }
    const int32_t start = GetTableLockByteNo(0, static_cast<TORBLockType>(first));
    const int32_t count = (t - first + 1) * FMaxSessionCount;
    if (held_rows == 0) {
      if (FHandle.IsRegionLocked(start, count)) return false;
    } else if (held_rows == 1) {
      if (FHandle.IsRegionLockedExcept(start, count, held)) return false;
    } else {
      for (int32_t r = t; r >= first; --r)
        if (IsTableLockedByAnyOtherSession(session, static_cast<TORBLockType>(r), own_free(r))) return false;
    }
    t = first;
  }
  return true;
}

bool TORBTableLocksFile::LockRecord(int32_t session, const TORBPageItemID& record_id) {
  CheckOpen(10491);
  CheckSession(session);
  if (!FHandle.LockByte(GetRecordLockByteNo(session))) return false;
  try {
    uint8_t bytes[kPageItemIDSize];
    StorePageItemID(bytes, record_id);
    FHandle.WriteBuffer(bytes, kPageItemIDSize, GetRecordLockRecordIDByteNo(session));
  } catch (...) {
    FHandle.UnlockByte(GetRecordLockByteNo(session));
    throw;
  }
  return true;
}

bool TORBTableLocksFile::UnlockRecord(int32_t session) {
  CheckOpen(10492);
  CheckSession(session);
  return FHandle.UnlockByte(GetRecordLockByteNo(session));
}

bool TORBTableLocksFile::IsRecordLockedByAnyOtherSession(int32_t session, const TORBPageItemID& record_id) {
  CheckOpen(10493);
  CheckSession(session);
  std::vector<uint8_t> ids(static_cast<size_t>(FMaxSessionCount) * kPageItemIDSize);
  FHandle.ReadBuffer(ids.data(), static_cast<int32_t>(ids.size()), GetRecordLockRecordIDByteNo(0));
  for (int32_t s = 0; s < FMaxSessionCount; ++s) {
    if (s == session) continue;
    if (!(LoadPageItemID(ids.data() + static_cast<size_t>(s) * kPageItemIDSize) == record_id)) continue;
    if (FHandle.IsByteLocked(GetRecordLockByteNo(s))) return true;
  }
  return false;
}

TORBPageItemID TORBTableLocksFile::ReadRecordID(int32_t session) {
  CheckOpen(10493);
  CheckSession(session);
  uint8_t bytes[kPageItemIDSize];
  FHandle.ReadBuffer(bytes, kPageItemIDSize, GetRecordLockRecordIDByteNo(session));
  return LoadPageItemID(bytes);
}

}  // namespace orb
