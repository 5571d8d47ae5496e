// Record editing of the local cursor: edit, cancel, post, delete with
// their checks against changes by other sessions, batch updates and BLOB
// streams.

#include <algorithm>
#include <cstring>
#include <exception>

#include "engine/base/error_codes.h"
#include "engine/base/field_manager.h"
#include "engine/base/orb_exception.h"
#include "engine/cursor/local_cursor.h"
#include "engine/cursor/session_autoinc.h"
#include "engine/data/table_data.h"
#include "engine/disk/disk_table_data.h"
#include "engine/platform/clock.h"
#include "engine/platform/retry_wait.h"
#include "engine/session/base_session.h"
#include "engine/table/memory_manager.h"

namespace orb {

namespace {

// A record buffer of the memory manager, freed with the scope.
class TScratch {
 public:
  explicit TScratch(int32_t size) : FBuffer(MemoryManager().AllocMem(static_cast<size_t>(std::max(size, 1)))) {}
  ~TScratch() { MemoryManager().FreeAndNillMem(FBuffer); }
  TScratch(const TScratch&) = delete;
  TScratch& operator=(const TScratch&) = delete;
  uint8_t* Get() const { return FBuffer; }

 private:
  uint8_t* FBuffer;
};

}  // namespace

bool TORBLocalCursor::MultiUser() const {
  return FTableLocks != nullptr && FSession != nullptr && FSession->GetMultiUser();
}

bool TORBLocalCursor::TryTableLock(TORBLockType type, const TORBLockRetry& retry, bool release_data_lock) {
  TRetryWait waits(retry.Tries, retry.DelayMS);
  for (;;) {
    if (FTableLocks->LockTable(type, true)) return true;
    int64_t wait_ms = 0;
    if (!waits.Next(&wait_ms)) return false;
    // Other cursors of this process may finish their work meanwhile.
    if (release_data_lock) FTableData->Unlock();
    SleepMs(wait_ms);
    if (release_data_lock) FTableData->Lock();
  }
}

bool TORBLocalCursor::TryRecordLock(const TORBPageItemID& record_id) {
  TRetryWait waits(FLockWaits.Record.Tries, FLockWaits.Record.DelayMS);
  for (;;) {
    if (FTableLocks->LockRecord(record_id)) return true;
    int64_t wait_ms = 0;
    if (!waits.Next(&wait_ms)) return false;
    // The holder may be another session of this process.
    FTableData->Unlock();
    SleepMs(wait_ms);
    FTableData->Lock();
  }
}

TORBLocalCursor::TReread TORBLocalCursor::RereadAndCompare(const uint8_t* before) {
  uint8_t* current = FCurrentRecordBuffer;
  FCurrentRecordID = GetBookmark(current);
  TScratch copy(FRecordBufferSize);
  std::memcpy(copy.Get(), current, static_cast<size_t>(FRecordBufferSize));
  // The stored record by its ID, whatever the view shows.
  TReread result = TReread::kDeleted;
  TORBGetRecordResult read = grrError;
  if (!FTableData->ReadStoredRecord(this, FCurrentRecordID, current, read)) {
    result = TReread::kLocked;
  } else if (read == grrOK) {
    // Stored data only: a BLOB compares by its stored ID, never by the
    // value the buffer caches.
    const uint8_t* old = before != nullptr ? before : copy.Get();
    result = FTableData->FieldManager()->CompareRecordBuffers(old, current) ? TReread::kSame : TReread::kModified;
  }
  std::memcpy(current, copy.Get(), static_cast<size_t>(FRecordBufferSize));
  return result;
}

// ---------------------------------------------------------------------------
// Edit, cancel, post, delete

void TORBLocalCursor::InternalEdit() {
  TTableDataScope lock(*this);
  FErrorCode = 0;
  FEditStart.clear();
  if (IsTemporaryTable()) {
    FErrorCode = kStatusTemporaryEdit;
    return;
  }
  if (!MultiUser() || FCurrentRecordBuffer == nullptr) {
    KeepEditStart();
    return;
  }
  const TORBLockType type = InTransaction() ? ltXIRW : ltSIRW;
  if (!TryTableLock(type, FLockWaits.EditTable, true)) {
    FErrorCode = kStatusTableLocked;
    return;
  }
  FCurrentRecordID = GetBookmark(FCurrentRecordBuffer);
  if (!TryRecordLock(FCurrentRecordID)) {
    UnlockTable(type, true);
    FErrorCode = kStatusRecordLocked;
    return;
  }
  auto release = [&] {
    FTableLocks->UnlockRecord(FCurrentRecordID);
    UnlockTable(type, true);
  };
  TReread reread = TReread::kSame;
  try {
    reread = RereadAndCompare(nullptr);
  } catch (...) {
    // No edit begins: the locks it took go with the error.
    release();
    throw;
  }
  if (reread == TReread::kDeleted) FErrorCode = kStatusUpdateDeleted;
  if (reread == TReread::kModified) FErrorCode = kStatusUpdateModified;
  if (reread == TReread::kLocked) FErrorCode = kStatusTableLocked;
  if (FErrorCode != 0) {
    release();
    return;
  }
  KeepEditStart();
}

void TORBLocalCursor::KeepEditStart() {
  if (FCurrentRecordBuffer == nullptr) return;
  FEditStart.assign(FCurrentRecordBuffer, FCurrentRecordBuffer + FRecordBufferSize);
  FEditStartID = GetBookmark(FCurrentRecordBuffer);
}

void TORBLocalCursor::InternalCancel(bool inserting) {
  TTableDataScope lock(*this);
  FErrorCode = 0;
  ClearBLOBStreams(true);
  FEditStart.clear();
  if (FCurrentRecordBuffer != nullptr) {
    // The values set since the edit began go with it: a cache left here
    // would be lost to the next read into the buffer.
    FTableData->ClearModifiedBLOBFieldsInRecordBuffer(FCurrentRecordBuffer);
    if (inserting) FTableData->ClearBLOBFieldsInRecordBuffer(FCurrentRecordBuffer);
  }
  if (!inserting && MultiUser()) {
    FTableLocks->UnlockRecord(FCurrentRecordID);
    if (!InTransaction()) UnlockTable(ltSIRW, true);
  }
  // The copy taken when editing began belongs to the caller, who may free
  // it now.
  FEditRecordBuffer = nullptr;
}

void TORBLocalCursor::InternalPost(bool inserting) {
  TTableDataScope lock(*this);
  FErrorCode = 0;
  FErrorMessage.clear();
  if (FReadOnly) RaiseORB(kErrPostReadOnly, "Cannot post record. Table '%s' is open read-only", {FTableName});
  const bool multi_user = MultiUser();
  const bool in_transaction = InTransaction();
  const TORBLockType type = in_transaction ? ltXIRW : ltRW;
  if (multi_user && !TryTableLock(type, FLockWaits.PostTable, true)) {
    FErrorCode = kStatusTableLocked;
    return;
  }
  auto release = [&] {
    if (!multi_user) return;
    if (!inserting && FErrorCode != kStatusConstraint) {
      FTableLocks->UnlockRecord(FCurrentRecordID);
      UnlockTable(ltSIRW, true);
    }
    if (!in_transaction) UnlockTable(ltRW, true);
  };
  try {
    uint8_t* current = FCurrentRecordBuffer;
    if (!inserting) FCurrentRecordID = GetBookmark(current);
    // Without the caller's edit copy, the record as this cursor's edit
    // found it stands for it; without an edit, the stored record.
    TScratch stored(FRecordBufferSize);
    if (!inserting && FEditRecordBuffer == nullptr) {
      TORBGetRecordResult read = grrError;
      if (!FEditStart.empty() && FEditStartID == FCurrentRecordID) {
        std::memcpy(stored.Get(), FEditStart.data(), static_cast<size_t>(FRecordBufferSize));
        FEditRecordBuffer = stored.Get();
      } else if (FTableData->ReadStoredRecord(this, FCurrentRecordID, stored.Get(), read) && read == grrOK) {
        FEditRecordBuffer = stored.Get();
      }
    }
    bool proceed = true;
    try {
      if (inserting) {
        // The values follow the newest ones any session stored (this post
        // holds the table's write lock); in single-user mode the state in
        // memory is the newest.
        if (multi_user) FTableData->LoadMostUpdated(GetSessionID());
        TORBSessionAutoinc session(FSession);
        FTableData->FieldManager()->ApplyAutoincsToRecordBuffer(&session, current);
      }
      if (!IsTemporaryTable())
        FTableData->CheckConstraints(GetSessionID(), current, inserting ? current : FEditRecordBuffer, inserting,
                                     FCurrentRecordID, true, true);
    } catch (const Exception& e) {
      FErrorCode = kStatusConstraint;
      FErrorMessage = e.Message();
      proceed = false;
    }
    if (proceed) {
      ClearBLOBStreams(true);
      if (inserting) {
        if (FTableData->InsertRecord(this)) {
          SetBookmark(current, FCurrentRecordID);
          SetBookmarkFlag(current, bfInserted);
        } else {
          FErrorCode = kStatusInsertFailed;
        }
      } else if (FEditRecordBuffer == nullptr) {
        FErrorCode = kStatusUpdateDeleted;
      } else {
        const TReread reread = RereadAndCompare(FEditRecordBuffer);
        if (reread == TReread::kDeleted)
          FErrorCode = kStatusUpdateDeleted;
        else if (reread == TReread::kModified)
          FErrorCode = kStatusUpdateModified;
        else if (reread == TReread::kLocked)
          FErrorCode = kStatusTableLocked;
        else
          FErrorCode = FTableData->UpdateRecord(this) ? 0 : kStatusUpdateFailed;
      }
    }
  } catch (...) {
    release();
    FEditRecordBuffer = nullptr;
    throw;
  }
  release();
  // A constraint failure leaves the edit open, to be corrected and posted
  // again.
  if (!inserting && FErrorCode != kStatusConstraint) FEditStart.clear();
  // The edit copy belongs to the caller, who may free it now.
  FEditRecordBuffer = nullptr;
}

void TORBLocalCursor::InternalDelete() {
  TTableDataScope lock(*this);
  FErrorCode = 0;
  if (FReadOnly) RaiseORB(kErrDeleteReadOnly, "Cannot delete record. Table '%s' is open read-only", {FTableName});
  const bool multi_user = MultiUser();
  const bool in_transaction = InTransaction();
  const TORBLockType type = in_transaction ? ltXIRW : ltRW;
  if (FCurrentRecordBuffer != nullptr) FCurrentRecordID = GetBookmark(FCurrentRecordBuffer);
  // The delete moves the cursor on to a neighbour: the lock goes by this ID.
  const TORBPageItemID locked_id = FCurrentRecordID;
  if (multi_user) {
    if (!TryTableLock(type, FLockWaits.DeleteTable, true)) {
      FErrorCode = kStatusTableLocked;
      return;
    }
    if (!TryRecordLock(FCurrentRecordID)) {
      UnlockTable(type, true);
      FErrorCode = kStatusRecordLocked;
      return;
    }
  }
  try {
    if (IsTemporaryTable()) {
      FErrorCode = kStatusTemporaryDelete;
    } else {
      const TReread reread = RereadAndCompare(nullptr);
      if (reread == TReread::kDeleted)
        FErrorCode = kStatusDeleteDeleted;
      else if (reread == TReread::kModified)
        FErrorCode = kStatusDeleteModified;
      else if (reread == TReread::kLocked)
        FErrorCode = kStatusTableLocked;
      else
        FErrorCode = FTableData->DeleteRecord(this) ? 0 : kStatusDeleteFailed;
    }
  } catch (...) {
    if (multi_user) {
      FTableLocks->UnlockRecord(locked_id);
      if (!in_transaction) UnlockTable(ltRW, true);
    }
    throw;
  }
  if (multi_user) {
    FTableLocks->UnlockRecord(locked_id);
    if (!in_transaction) UnlockTable(ltRW, true);
  }
}

bool TORBLocalCursor::IsRecordLocked() {
  TTableDataScope lock(*this);
  if (FCurrentRecordBuffer != nullptr) FCurrentRecordID = GetBookmark(FCurrentRecordBuffer);
  return FTableLocks != nullptr && FTableLocks->IsRecordLocked(FCurrentRecordID);
}

bool TORBLocalCursor::CheckConstraints(bool inserting) {
  TTableDataScope lock(*this);
  const uint8_t* old = FEditRecordBuffer != nullptr ? FEditRecordBuffer : FCurrentRecordBuffer;
  return FTableData->CheckConstraints(GetSessionID(), FCurrentRecordBuffer, old, inserting, FCurrentRecordID, false,
                                      true);
}

// ---------------------------------------------------------------------------
// Batch update

// On a disk table the cursor reports a batch as a transaction to the table
// data (InTransaction), so each row change writes the session's private
// pages without applying them and, in multi-user mode, takes and keeps the
// table's ltXIRW. The batch's end applies the pages under ltRW, as a commit
// does; its cancel drops them and reloads the table's state.

bool TORBLocalCursor::BatchDefersChanges() const { return dynamic_cast<TORBDiskTableData*>(FTableData) != nullptr; }

void TORBLocalCursor::BeginBatchUpdate() {
  if (!SessionInTransaction()) FBatchUpdate = true;
}

void TORBLocalCursor::EndBatchUpdate() {
  if (SessionInTransaction() || !FBatchUpdate) return;
  TTableDataScope lock(*this);
  if (!BatchDefersChanges()) {
    FBatchUpdate = false;
    return;
  }
  const bool multi_user = MultiUser();
  if (multi_user && !TryTableLock(ltRW, FLockWaits.PostTable, true))
    RaiseORB(kErrBatchApplyLocked, "Cannot apply the batch update of table '%s'. Table is locked", {FTableName});
  try {
    FTableData->ApplyChanges(GetSessionID(), false);
  } catch (...) {
    if (multi_user) UnlockTable(ltRW, true);
    throw;
  }
  FBatchUpdate = false;
  if (multi_user) {
    UnlockTable(ltRW, true);
    FTableLocks->ReleaseTable(ltXIRW);
  }
}

void TORBLocalCursor::CancelBatchUpdate() {
  if (SessionInTransaction() || !FBatchUpdate) return;
  TTableDataScope lock(*this);
  FBatchUpdate = false;
  if (!BatchDefersChanges()) return;
  // The held-back pages go, then the table forgets what they changed; the
  // locks go whatever happens.
  std::exception_ptr failure;
  try {
    FTableData->CancelChanges(GetSessionID(), false);
  } catch (...) {
    failure = std::current_exception();
  }
  try {
    FTableData->Rollback(GetSessionID());
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  if (MultiUser()) {
    try {
      FTableLocks->ReleaseTable(ltXIRW);
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
  }
  if (failure) std::rethrow_exception(failure);
}

// ---------------------------------------------------------------------------
// BLOB streams

TORBLocalBLOBStream* TORBLocalCursor::InternalCreateBlobStream(bool inserting, bool editing, int32_t field_no,
                                                               TORBBLOBOpenMode open_mode, bool may_reread) {
  TTableDataScope lock(*this);
  auto open = [&]() -> TORBLocalBLOBStream* {
    CheckFieldNo(field_no, FVisibleFieldDefs.GetCount(), kErrBLOBOpenFieldNo);
    const int32_t physical = PhysicalFieldNo(field_no);
    const bool for_writing = open_mode != bomRead;
    if (for_writing) {
      for (const auto& other : FBLOBStreams) {
        if (other == nullptr) RaiseORB(kErrBLOBOpenNilEntry, kMsgNilPointer);
        if (other->FieldNo() == physical && other->IsForWriting())
          RaiseORB(kErrBLOBAlreadyOpen, "BLOB field already opened. FieldNo = %d, FieldName = %s",
                   {field_no, FFieldDefs.GetDef(physical)->GetName()});
      }
    }
    std::unique_ptr<TStream> temporary =
        FTableData->InternalCreateBlobStream(this, physical, FCurrentRecordBuffer, open_mode == bomWrite);
    if (temporary == nullptr) return nullptr;
    temporary->SetPosition(0);
    FBLOBStreams.push_back(std::make_unique<TORBLocalBLOBStream>(this, physical, open_mode, std::move(temporary),
                                                                 FCurrentRecordBuffer));
    return FBLOBStreams.back().get();
  };
  if (!MultiUser()) return open();
  // Waits between attempts leave the table data free, so that another
  // session of this process holding the table can finish.
  if (!TryTableLock(ltS, FLockWaits.BLOBShared, true)) return nullptr;
  TORBLocalBLOBStream* stream = nullptr;
  try {
    if (!inserting && !editing && may_reread && FBLOBStreams.empty() && FCurrentRecordBuffer != nullptr) {
      FCurrentRecordID = GetBookmark(FCurrentRecordBuffer);
      TORBGetRecordResult read = grrError;
      if (!FTableData->ReadStoredRecord(this, FCurrentRecordID, FCurrentRecordBuffer, read) || read != grrOK) {
        UnlockTable(ltS, true);
        return nullptr;
      }
    }
    stream = open();
  } catch (...) {
    UnlockTable(ltS, true);
    throw;
  }
  UnlockTable(ltS, true);
  return stream;
}

void TORBLocalCursor::WriteStreamToBuffer(TORBLocalBLOBStream& stream) {
  if (stream.RecordBuffer() == nullptr) return;
  if (stream.OpenMode() != bomWrite && !stream.Modified()) return;
  TStream& content = stream.TemporaryStream();
  content.SetPosition(0);
  FTableData->WriteBLOBFieldToRecordBuffer(GetSessionID(), stream.FieldNo(), content, stream.RecordBuffer());
}

void TORBLocalCursor::DestroyStream(TORBLocalBLOBStream* stream, bool tell_holder) {
  auto it = std::find_if(FBLOBStreams.begin(), FBLOBStreams.end(),
                         [stream](const auto& entry) { return entry.get() == stream; });
  if (it == FBLOBStreams.end()) return;
  std::unique_ptr<TORBLocalBLOBStream> owned = std::move(*it);
  FBLOBStreams.erase(it);
  if (tell_holder && owned->FUserBLOBStream != nullptr) owned->FUserBLOBStream->BLOBStreamClosed();
}

void TORBLocalCursor::InternalCloseBLOB(TORBLocalBLOBStream* stream) {
  if (FTableData == nullptr) RaiseORB(kErrBLOBCloseNoList, kMsgNilPointer);
  TTableDataScope lock(*this);
  auto it = std::find_if(FBLOBStreams.begin(), FBLOBStreams.end(),
                         [stream](const auto& entry) { return entry.get() == stream; });
  if (stream == nullptr || it == FBLOBStreams.end())
    RaiseORB(kErrBLOBStreamNotOpen, "BLOB stream is not open on this cursor. Table: '%s'", {FTableName});
  // Only this holder's stream closes; others on the same field stay.
  try {
    if (stream->IsForWriting()) WriteStreamToBuffer(*stream);
  } catch (...) {
    DestroyStream(stream, false);
    throw;
  }
  DestroyStream(stream, false);
}

void TORBLocalCursor::ClearBLOBStreams(bool write_streams_only) {
  std::vector<TORBLocalBLOBStream*> closing;
  for (const auto& stream : FBLOBStreams)
    if (!write_streams_only || stream->IsForWriting()) closing.push_back(stream.get());
  for (TORBLocalBLOBStream* stream : closing) {
    // Write streams put their content into their buffer; when the table
    // closes there is nothing left to write into.
    if (FTableData != nullptr && stream->IsForWriting()) {
      try {
        WriteStreamToBuffer(*stream);
      } catch (...) {
        for (TORBLocalBLOBStream* rest : closing) DestroyStream(rest, true);
        throw;
      }
    }
    DestroyStream(stream, true);
  }
}

}  // namespace orb
