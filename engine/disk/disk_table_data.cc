#include "engine/disk/disk_table_data.h"

#include <algorithm>
#include <cstring>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/base/record_layout.h"
#include "engine/base/stream_compressed_blob.h"
#include "engine/base/stream_memory.h"
#include "engine/data/constraint_manager.h"
#include "engine/data/index.h"
#include "engine/data/index_manager.h"
#include "engine/disk/disk_blob_manager.h"
#include "engine/disk/disk_database_data.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/disk/disk_record_manager.h"
#include "engine/disk/disk_temporary_page_manager.h"
#include "engine/disk/internal_file.h"
#include "engine/disk/table_lock_manager.h"
#include "engine/disk/table_locks_file.h"
#include "engine/disk/table_pages_cache.h"
#include "engine/platform/byte_order.h"
#include "engine/platform/retry_wait.h"
#include "engine/platform/clock.h"
#include "engine/table/page_header.h"

namespace orb {

namespace {

constexpr int32_t kSystem = TORBPageManager::kSystemSession;

bool IsBlobType(const TORBFieldDef& field) {
  return field.FBaseFieldType == bftBlob || field.FBaseFieldType == bftClob ||
         field.FBaseFieldType == bftWideClob;
}

TORBBLOBDescriptor FieldBlobDescriptor(const TORBFieldDef& field) {
  TORBBLOBDescriptor descriptor;
  descriptor.BlockSize = field.FBLOBBlockSize;
  descriptor.CompressionAlgorithm = field.FBLOBCompressionAlgorithm;
  descriptor.CompressionMode = field.FBLOBCompressionMode;
  return descriptor;
}

// The unposted BLOB values of a record buffer, kept while a change stores
// them, so that a failed change can put them back.
class TUnpostedBlobs {
 public:
  TUnpostedBlobs(TORBDiskBlobManager* blobs, const TORBFieldDefs& defs, uint8_t* record_buffer, int32_t size)
      : FBlobs(blobs), FDefs(defs), FRecord(record_buffer), FSaved(record_buffer, record_buffer + size) {
    if (FBlobs == nullptr) return;
    for (int32_t i = 0; i < defs.GetCount(); ++i) {
      if (!IsBlobType(*defs.GetDef(i))) continue;
      const TORBDiskBLOBCache* cache = FBlobs->AttachedCache(record_buffer, i);
      if (cache != nullptr && cache->Modified) FValues.push_back({i, *cache});
    }
  }
  // Puts the buffer and its unposted values back.
  void Restore() noexcept {
    try {
      for (auto& value : FValues) FBlobs->ClearBlobInRecordBuffer(FRecord, value.FieldNo, true);
      std::copy(FSaved.begin(), FSaved.end(), FRecord);
      for (auto& value : FValues) {
        TORBPartialTemporaryBLOBDescriptor descriptor;
        descriptor.NumBlocks = value.Cache.NumBlocks;
        descriptor.UncompressedSize = value.Cache.UncompressedSize;
        descriptor.CompressedSize = static_cast<int64_t>(value.Cache.BlobData.size());
        FBlobs->SetDirectBlobInfoFromRecordBuffer(kSystem, FRecord, value.FieldNo, descriptor,
                                                  value.Cache.BlobData.data());
        const bool is_null = CheckNullFlag(value.FieldNo, FSaved.data());
        SetNullFlag(is_null, value.FieldNo, FRecord);
      }
    } catch (...) {
    }
  }

 private:
  struct TValue {
    int32_t FieldNo;
    TORBDiskBLOBCache Cache;
  };
  TORBDiskBlobManager* FBlobs;
  const TORBFieldDefs& FDefs;
  uint8_t* FRecord;
  std::vector<uint8_t> FSaved;
  std::vector<TValue> FValues;
};

}  // namespace

// A read step in multi-user mode: ltS for its whole run, the most-updated
// data reloaded, and the table as the session's work table.
class TORBDiskTableData::TReadStep {
 public:
  TReadStep(TORBDiskTableData* table, int32_t session_id, int32_t error_code, bool* locked = nullptr)
      : FTable(table), FSession(session_id) {
    if (!table->MultiUser()) return;
    if (!table->LockTableWaiting(session_id, ltS, table->FReadLockWaits.Tries, table->FReadLockWaits.DelayMs)) {
      if (locked != nullptr) {
        *locked = false;
        return;
      }
      RaiseORB(error_code, "Table is locked");
    }
    FLocked = true;
    try {
      table->LoadMostUpdated(session_id);
      table->DiskPageManager()->TablePagesCacheManager().BeginWorkWithTable(session_id, table->FTableID);
      FWorking = true;
    } catch (...) {
      Release();
      throw;
    }
  }
  ~TReadStep() { Release(); }
  TReadStep(const TReadStep&) = delete;
  TReadStep& operator=(const TReadStep&) = delete;

 private:
  void Release() noexcept {
    try {
      if (FWorking)
        FTable->DiskPageManager()->TablePagesCacheManager().EndWorkWithTable(FSession, FTable->FTableID);
      FWorking = false;
      if (FLocked) FTable->UnlockTable(FSession, ltS, true);
      FLocked = false;
    } catch (...) {
    }
  }

  TORBDiskTableData* FTable;
  int32_t FSession;
  bool FLocked = false;
  bool FWorking = false;
};

// A row change in multi-user mode: the write lock (ltRW outside a
// transaction, released at the end; ltXIRW inside one, kept for the
// commit) and the most-updated data reloaded. Under ltRW the table is also
// the session's work table: no other process can commit a change of the
// table while the session holds ltRW, so a page checked once in the step
// needs no second look at its stamp (table_pages_cache.h). The session's
// own commit in the step leaves the cache holding what it wrote.
class TORBDiskTableData::TWriteStep {
 public:
  TWriteStep(TORBDiskTableData* table, TORBCursorInterface* cursor)
      : FTable(table), FSession(cursor->GetSessionID()), FType(cursor->InTransaction() ? ltXIRW : ltRW) {
    // The change comes after the reload: until then the kept most-updated
    // bytes and the read-aheads still hold.
    if (!table->MultiUser()) {
      table->ForgetReadAheads();
      return;
    }
    if (!table->LockTableWaiting(FSession, FType, kReadLockTries, kReadLockDelayMs))
      RaiseORB(kErrDiskTableWriteLocked, "Cannot change table '%s'. Table is locked", {table->FTableName});
    FLocked = FType == ltRW;
    try {
      // A post reloads the newest state itself, under this same lock,
      // before it assigns auto-increment values. While no one changed the
      // table since (same table state), the values in memory are that state
      // plus the ones just assigned: the reload must not put the stored,
      // older ones back over them.
      const int32_t state = table->FRecordManager->FTableState;
      std::vector<int64_t> counters = table->FFieldManager->LastAutoIncValues();
      table->LoadMostUpdated(FSession);
      if (table->FRecordManager->FTableState == state &&
          counters.size() == table->FFieldManager->LastAutoIncValues().size())
        table->FFieldManager->RestoreLastAutoIncValues(std::move(counters));
      if (FLocked) {
        table->DiskPageManager()->TablePagesCacheManager().BeginWorkWithTable(FSession, table->FTableID);
        FWorking = true;
      }
    } catch (...) {
      Release();
      throw;
    }
    table->ForgetReadAheads();
  }
  ~TWriteStep() { Release(); }
  TWriteStep(const TWriteStep&) = delete;
  TWriteStep& operator=(const TWriteStep&) = delete;

 private:
  void Release() noexcept {
    try {
      if (FWorking)
        FTable->DiskPageManager()->TablePagesCacheManager().EndWorkWithTable(FSession, FTable->FTableID);
    } catch (...) {
    }
    FWorking = false;
    try {
      if (FLocked) FTable->UnlockTable(FSession, FType, true);
    } catch (...) {
    }
    FLocked = false;
  }

  TORBDiskTableData* FTable;
  int32_t FSession;
  TORBLockType FType;
  bool FLocked = false;
  bool FWorking = false;
};

// Marks a cursor exclusive for the duration of a table-wide operation.
class TORBDiskTableData::TExclusiveUse {
 public:
  TExclusiveUse(TORBDiskTableData* table, TORBCursorInterface* cursor)
      : FTable(table), FCursor(cursor), FWas(table->FExclusiveCursors.count(cursor) != 0) {
    if (cursor != nullptr) table->FExclusiveCursors.insert(cursor);
  }
  ~TExclusiveUse() {
    if (FCursor != nullptr && !FWas) FTable->FExclusiveCursors.erase(FCursor);
  }
  TExclusiveUse(const TExclusiveUse&) = delete;
  TExclusiveUse& operator=(const TExclusiveUse&) = delete;

 private:
  TORBDiskTableData* FTable;
  TORBCursorInterface* FCursor;
  bool FWas;
};

TORBDiskTableData::TORBDiskTableData(TORBDiskDatabaseData* database_data, std::u16string table_name)
    : TORBTableData(database_data, std::move(table_name)), FDiskDatabase(database_data) {
  FPageManager = database_data->DiskPageManager();
}

TORBDiskTableData::~TORBDiskTableData() {
  try {
    TORBTableDataLock lock(this);
    // The cursors themselves may be gone: only their sessions are used.
    for (const auto& [cursor, session] : FLockHolders) UnlockTable(session, FExclusive ? ltX : ltIS, true);
  } catch (...) {
  }
  FLockHolders.clear();
  FCursorList.clear();
  try {
    FreeManagers();
  } catch (...) {
  }
}

bool TORBDiskTableData::MultiUser() const { return FDatabaseData->FMultiUser; }

TORBDiskPageManager* TORBDiskTableData::DiskPageManager() const { return FDiskDatabase->DiskPageManager(); }

TORBDiskRecordManager* TORBDiskTableData::DiskRecordManager() const {
  return static_cast<TORBDiskRecordManager*>(FRecordManager.get());
}

void TORBDiskTableData::CheckOpen() const {
  if (FRecordManager == nullptr || FFieldManager == nullptr || FIndexManager == nullptr)
    RaiseORB(kErrDiskTableNotOpen, "Table '%s' is not open", {FTableName});
}

int32_t TORBDiskTableData::GetDiskRecordBufferSize() const {
  if (FFieldManager == nullptr || FFieldManager->FieldDefs().GetCount() == 0)
    RaiseORB(20142, "Error creating table - no fields were specified");
  return FFieldManager->GetDiskRecordBufferSize();
}

// ---------------------------------------------------------------------------
// Managers and files

void TORBDiskTableData::CreateRecordManager() {
  auto records = std::make_unique<TORBDiskRecordManager>(DiskPageManager(), FFieldManager.get(), FTableID);
  FRecordManager = std::move(records);
}

void TORBDiskTableData::CreateIndexManager(const TORBIndexDefs& index_defs) {
  FIndexManager = std::make_unique<TORBBaseIndexManager>(this, FTemporaryPageManager.get());
  TORBTableData::CreateIndexManager(index_defs);
}

void TORBDiskTableData::CreateConstraintManager(const TORBConstraintDefs& constraint_defs) {
  for (int32_t i = 0; i < constraint_defs.GetCount(); ++i) {
    const TORBConstraintType type = constraint_defs.GetDef(i)->GetConstraintType();
    if (type != ctPK && type != ctUnique && type != ctNotNull && type != ctCheck)
      RaiseORB(kErrDiskForeignKey, kMsgNotImplemented);
  }
  TORBTableData::CreateConstraintManager(constraint_defs);
}

void TORBDiskTableData::CreateBlobManager() {
  FBlobManager = std::make_unique<TORBDiskBlobManager>(DiskPageManager(), FFieldManager.get(), DiskRecordManager());
}

void TORBDiskTableData::CreateManagers(const TORBFieldDefs& field_defs, const TORBIndexDefs& index_defs,
                                       const TORBConstraintDefs& constraint_defs) {
  TORBDiskPageManager* pages = DiskPageManager();
  FTemporaryPageManager =
      std::make_unique<TORBDiskTemporaryPageManager>(pages->GetPageSize(), pages->GetPageHeaderSize());
  CreateFieldManager(field_defs);
  CreateIndexManager(index_defs);
  CreateConstraintManager(constraint_defs);
  CreateRecordManager();
  CreateBlobManager();
}

void TORBDiskTableData::InitRecordManager() {
  DiskRecordManager()->Init(FFieldManager->GetMemoryRecordBufferSize(), GetDiskRecordBufferSize(),
                            FFieldManager->FieldDefs().GetCount());
}

void TORBDiskTableData::OpenStoredTable(int32_t session_id) {
  int32_t metadata_page = -1, most_updated_page = -1, locks_page = -1;
  FDiskDatabase->OpenTable(FTableName, FTableID, metadata_page, most_updated_page, locks_page);
  OpenTableFiles(metadata_page, most_updated_page, locks_page);
  CreateManagers(TORBFieldDefs(), TORBIndexDefs(), TORBConstraintDefs());
  LoadMetadataFile(session_id);
  InitRecordManager();
  if (FIsRepairing)
    ValidateAndRepairMostUpdatedAndRecordPageIndex(session_id);
  else
    LoadMostUpdated(session_id);
}

void TORBDiskTableData::Repair() {
  TORBTableDataLock lock(this);
  FIsRepairing = true;
  try {
    if (IsOpen()) {
      ValidateAndRepairMostUpdatedAndRecordPageIndex(kSystem);
    } else {
      FDiskDatabase->LockTables();
      try {
        OpenStoredTable(kSystem);
      } catch (...) {
        try {
          FreeManagers();
          FDiskDatabase->UnlockTables();
        } catch (...) {
        }
        throw;
      }
      FreeManagers();
      FDiskDatabase->UnlockTables();
    }
  } catch (...) {
    FIsRepairing = false;
    throw;
  }
  FIsRepairing = false;
}

void TORBDiskTableData::FreeManagers() {
  FReadAheads.clear();
  FFoundRows.clear();
  ForgetReadAheads();
  // The indexes use the temporary page manager: close them first.
  FIndexManager.reset();
  FBlobManager.reset();
  FConstraintManager.reset();
  FRecordManager.reset();
  FFieldManager.reset();
  FTemporaryPageManager.reset();
  FreeTableFiles();
}

int32_t TORBDiskTableData::CreateTableFiles() {
  TORBDiskPageManager* pages = DiskPageManager();
  // The locks file is read in place: it stays closed until it is applied.
  FTableLocksFile = std::make_unique<TORBTableLocksFile>(pages);
  const int32_t locks_page = FTableLocksFile->CreateFile(FDiskDatabase->GetMaxSessionCount());
  FTableMetadataFile = std::make_unique<TORBInternalDBTransactedAccessFile>(pages, kPageTypeTableMetaData);
  FTableMetadataFile->CreateFile(kSystem);
  FTableMostUpdatedFile = std::make_unique<TORBInternalDBTransactedAccessFile>(pages, kPageTypeTableMostUpdated);
  FTableMostUpdatedFile->CreateFile(kSystem);
  return locks_page;
}

void TORBDiskTableData::OpenTableFiles(int32_t metadata_page, int32_t most_updated_page, int32_t locks_page) {
  // A page number of a damaged entry fails the files' own reads with
  // their codes.
  TORBDiskPageManager* pages = DiskPageManager();
  FTableLocksFile = std::make_unique<TORBTableLocksFile>(pages);
  FTableLocksFile->OpenFile(locks_page);
  FTableMetadataFile = std::make_unique<TORBInternalDBTransactedAccessFile>(pages, kPageTypeTableMetaData);
  FTableMetadataFile->OpenFile(metadata_page);
  FTableMostUpdatedFile = std::make_unique<TORBInternalDBTransactedAccessFile>(pages, kPageTypeTableMostUpdated);
  FTableMostUpdatedFile->OpenFile(most_updated_page);
}

void TORBDiskTableData::DeleteTableFiles() {
  WriteKeptMostUpdated();
  if (FTableLocksFile != nullptr && FTableLocksFile->IsOpen()) FTableLocksFile->DeleteFile();
  if (FTableMetadataFile != nullptr && FTableMetadataFile->IsOpen()) FTableMetadataFile->DeleteFile(kSystem);
  if (FTableMostUpdatedFile != nullptr && FTableMostUpdatedFile->IsOpen())
    FTableMostUpdatedFile->DeleteFile(kSystem);
}

void TORBDiskTableData::FreeTableFiles() {
  ForgetKeptMostUpdated();
  FStampView.Reset();
  FStampViewPage = -1;
  FLoaded = TLoadedMostUpdated();
  if (FTableLocksFile != nullptr && FTableLocksFile->IsOpen()) FTableLocksFile->CloseFile();
  FTableLocksFile.reset();
  FTableMetadataFile.reset();
  FTableMostUpdatedFile.reset();
}

// ---------------------------------------------------------------------------
// Metadata and most-updated data

void TORBDiskTableData::LoadMetadataFile(int32_t session_id) {
  ForgetReadAheads();
  if (FTableMetadataFile == nullptr) RaiseORB(kErrDiskTableNotOpen, "Table '%s' is not open", {FTableName});
  std::vector<uint8_t> bytes;
  FTableMetadataFile->ReadAll(session_id, bytes, true);
  TORBMemoryStream stream(std::move(bytes));
  stream.SetPosition(0);
  FFieldManager->LoadMetadata(stream);
  FIndexManager->LoadMetadata(stream);
  FConstraintManager->LoadMetadata(stream);
  DiskRecordManager()->LoadMetadata(stream);
  FBlobManager->LoadMetadata(stream);
}

void TORBDiskTableData::SaveMetadataFile(int32_t session_id) {
  ForgetReadAheads();
  CheckOpen();
  TORBMemoryStream stream;
  FFieldManager->SaveMetadata(stream);
  FIndexManager->SaveMetadata(stream);
  FConstraintManager->SaveMetadata(stream);
  DiskRecordManager()->SaveMetadata(stream);
  FBlobManager->SaveMetadata(stream);
  FTableMetadataFile->WriteFile(session_id, stream.Memory(), static_cast<int32_t>(stream.GetSize()), acaZLIB, 1);
}

void TORBDiskTableData::LoadMostUpdated(int32_t session_id) {
  if (FTableMostUpdatedFile == nullptr) RaiseORB(kErrDiskMostUpdatedNoFile, kMsgPointerIsNil);
  WriteKeptMostUpdated();
  CheckOpen();
  // Another process may have committed since the last load. The stored
  // stamp of the file's page is taken before the bytes are read: when it
  // is still the same at a later load of the same session, with nothing
  // changed in this process in between (FLocalChange), the stored bytes
  // are those read then (every write of the page moves its stamp on, and
  // the kept bytes are only reused while they fit on that one page), and
  // so are the session's own uncommitted ones (any change of them counts
  // as a local change). A commit that ran during the read completes after
  // the stamp was taken, so its new stamp forces the next load to read.
  // Without a view of the stamp every load reads the file.
  const int32_t stamp = MostUpdatedStampForLoad();
  if (stamp != kInvalidPageState && stamp == FLoaded.Stamp && session_id == FLoaded.Session &&
      FLocalChange == FLoaded.LocalChange) {
    DiskRecordManager()->LoadMostUpdatedContents(FLoaded.Bytes);
  } else {
    FLoaded.Stamp = kInvalidPageState;
    std::vector<uint8_t> bytes;
    FTableMostUpdatedFile->ReadAll(session_id, bytes, true);
    DiskRecordManager()->LoadMostUpdatedContents(bytes);
    if (stamp != kInvalidPageState && static_cast<int64_t>(bytes.size()) + TORBInternalFileHeader::kSize <=
                                          DiskPageManager()->GetPageDataSize()) {
      FLoaded.Bytes = std::move(bytes);
      FLoaded.Session = session_id;
      FLoaded.LocalChange = FLocalChange;
      FLoaded.Stamp = stamp;
    }
  }
  if (session_id >= kSystem)
    DiskPageManager()->TablePagesCacheManager().SetIsMostUpdatedLoaded(session_id, FTableID,
                                                                       FRecordManager->FTableState);
}

void TORBDiskTableData::SaveMostUpdated(int32_t session_id) {
  ForgetReadAheads();
  if (FTableMostUpdatedFile == nullptr) RaiseORB(kErrDiskMostUpdatedNoFile, kMsgPointerIsNil);
  CheckOpen();
  WriteKeptMostUpdated();
  const std::vector<uint8_t> contents = DiskRecordManager()->SaveMostUpdatedContents();
  FTableMostUpdatedFile->WriteFile(session_id, contents.data(), static_cast<int32_t>(contents.size()));
}

void TORBDiskTableData::SaveRowMostUpdated(int32_t session_id, bool in_transaction) {
  if (!in_transaction || MultiUser()) {
    SaveMostUpdated(session_id);
    return;
  }
  ForgetReadAheads();
  if (FTableMostUpdatedFile == nullptr) RaiseORB(kErrDiskMostUpdatedNoFile, kMsgPointerIsNil);
  CheckOpen();
  TKeptMostUpdated& kept = FKeptMostUpdated;
  if (kept.Kept && kept.Session != session_id) WriteKeptMostUpdated();
  // Registered before anything is kept: a failed registration keeps nothing.
  if (kept.Manager == nullptr) {
    DiskPageManager()->AddDeferredWork(this);
    kept.Manager = DiskPageManager();
  }
  // Built beside the kept bytes: a failure leaves those as they were.
  DiskRecordManager()->SaveMostUpdatedContents(kept.Spare);
  kept.Bytes.swap(kept.Spare);
  kept.Session = session_id;
  kept.Kept = true;
}

void TORBDiskTableData::WriteKeptMostUpdated() {
  TKeptMostUpdated& kept = FKeptMostUpdated;
  if (!kept.Kept) return;
  if (FTableMostUpdatedFile == nullptr) RaiseORB(kErrDiskMostUpdatedNoFile, kMsgPointerIsNil);
  FTableMostUpdatedFile->WriteFile(kept.Session, kept.Bytes.data(), static_cast<int32_t>(kept.Bytes.size()));
  ForgetKeptMostUpdated();
}

void TORBDiskTableData::ForgetKeptMostUpdated() noexcept {
  TKeptMostUpdated& kept = FKeptMostUpdated;
  kept.Kept = false;
  if (kept.Manager != nullptr) kept.Manager->RemoveDeferredWork(this);
  kept.Manager = nullptr;
}

void TORBDiskTableData::WriteDeferred(int32_t session) {
  TORBTableDataLock lock(this);
  if (FKeptMostUpdated.Kept && FKeptMostUpdated.Session == session) WriteKeptMostUpdated();
}

void TORBDiskTableData::DropDeferred(int32_t session) noexcept {
  const TKeptMostUpdated& kept = FKeptMostUpdated;
  if (session == TORBPageManager::kEverySession || (kept.Kept && kept.Session == session)) ForgetKeptMostUpdated();
}

void TORBDiskTableData::CleanMostUpdated(int32_t session_id) {
  ForgetReadAheads();
  if (FTableMostUpdatedFile == nullptr) RaiseORB(kErrDiskMostUpdatedNoFile, kMsgPointerIsNil);
  WriteKeptMostUpdated();
  FTableMostUpdatedFile->InitFileHeader(session_id);
}

void TORBDiskTableData::RebuildRecordPageIndex(int32_t session_id) {
  CheckOpen();
  if (GetDiskRecordBufferSize() >= DiskPageManager()->GetPageDataSize())
    RaiseORB(kErrDiskRepairLargeTable, "Cannot repair page index for large table. Table name: \"%s\"", {FTableName});
  DiskRecordManager()->RebuildRecordPageIndex(session_id);
}

void TORBDiskTableData::ValidateRecordPageIndex(int32_t session_id) {
  CheckOpen();
  DiskRecordManager()->ValidateRecordPageIndex(session_id);
}

void TORBDiskTableData::ValidateAndRepairMostUpdatedAndRecordPageIndex(int32_t session_id) {
  try {
    LoadMostUpdated(session_id);
    ValidateRecordPageIndex(session_id);
    return;
  } catch (const EORBException&) {
  }
  try {
    RebuildRecordPageIndex(kSystem);
    SaveMetadataFile(kSystem);
    CleanMostUpdated(kSystem);
    SaveMostUpdated(kSystem);
    DiskPageManager()->ApplyChanges(kSystem);
  } catch (...) {
    try {
      DiskPageManager()->CancelChanges(kSystem);
    } catch (...) {
    }
    throw;
  }
}

// ---------------------------------------------------------------------------
// Locks

bool TORBDiskTableData::LockTable(int32_t session_id, TORBLockType type, int32_t tries, int32_t delay_ms,
                                  bool allow_xirw_after_sirw) {
  if (!MultiUser()) return true;
  if (FTableLocksFile == nullptr) RaiseORB(kErrDiskTableNotOpen, "Table '%s' is not open", {FTableName});
  if (!FDiskDatabase->TableLockManager()->LockTable(session_id, type, *FTableLocksFile, tries, delay_ms,
                                                    allow_xirw_after_sirw))
    return false;
  // A writer that died in the middle of a commit may have left pages of the
  // table half written: they are rolled back before anything is read.
  DiskPageManager()->RecoverOtherWritersJournal();
  TORBDiskTablePagesCacheManager& cache = DiskPageManager()->TablePagesCacheManager();
  if (type == ltS) cache.TableIsSLocked(session_id, FTableID);
  if (type == ltRW) cache.TableIsRWLocked(session_id, FTableID);
  return true;
}

bool TORBDiskTableData::UnlockTable(int32_t session_id, TORBLockType type, bool ignore_if_no_lock,
                                    bool ignore_count) {
  if (!MultiUser()) return true;
  if (FTableLocksFile == nullptr) return ignore_if_no_lock;
  if (!FDiskDatabase->TableLockManager()->UnlockTable(session_id, type, *FTableLocksFile, ignore_if_no_lock,
                                                      ignore_count))
    return false;
  TORBDiskTablePagesCacheManager& cache = DiskPageManager()->TablePagesCacheManager();
  if (type == ltS) cache.TableIsSUnlocked(session_id, FTableID);
  if (type == ltRW) cache.TableIsRWUnlocked(session_id, FTableID);
  return true;
}

bool TORBDiskTableData::LockTableWaiting(int32_t session_id, TORBLockType type, int32_t attempts,
                                         int32_t delay_ms) {
  TRetryWait waits(attempts, delay_ms);
  for (;;) {
    if (LockTable(session_id, type, 1, 0)) return true;
    int64_t wait_ms = 0;
    if (!waits.Next(&wait_ms)) return false;
    TCriticalSectionRelease release(FDatabaseData->CSect());
    SleepMs(wait_ms);
  }
}

bool TORBDiskTableData::LockRecord(int32_t session_id, const TORBPageItemID& record_id, int32_t tries,
                                   int32_t delay_ms) {
  if (!MultiUser()) return true;
  if (FTableLocksFile == nullptr) RaiseORB(kErrDiskTableNotOpen, "Table '%s' is not open", {FTableName});
  return FDiskDatabase->TableLockManager()->LockRecord(session_id, *FTableLocksFile, record_id, tries, delay_ms);
}

bool TORBDiskTableData::UnlockRecord(int32_t session_id, const TORBPageItemID& record_id) {
  if (!MultiUser()) return true;
  if (FTableLocksFile == nullptr) return false;
  return FDiskDatabase->TableLockManager()->UnlockRecord(session_id, *FTableLocksFile, record_id);
}

bool TORBDiskTableData::IsRecordLocked(int32_t session_id, const TORBPageItemID& record_id) {
  if (!MultiUser()) return true;
  if (FTableLocksFile == nullptr) return false;
  return FDiskDatabase->TableLockManager()->IsRecordLocked(session_id, *FTableLocksFile, record_id);
}

void TORBDiskTableData::SetCursorExclusive(TORBCursorInterface* cursor, bool exclusive) {
  TORBTableDataLock lock(this);
  if (exclusive)
    FExclusiveCursors.insert(cursor);
  else
    FExclusiveCursors.erase(cursor);
}

// ---------------------------------------------------------------------------
// Apply and cancel

void TORBDiskTableData::ApplyChanges(int32_t session_id, bool in_transaction) {
  ForgetReadAheads();
  if (FBeforeApply) {
    std::function<void(int32_t)> before = std::move(FBeforeApply);
    FBeforeApply = nullptr;
    before(session_id);
  }
  if (!in_transaction) DiskPageManager()->ApplyChanges(session_id);
  if (FTemporaryPageManager != nullptr) FTemporaryPageManager->ApplyChanges(session_id);
}

void TORBDiskTableData::CancelChanges(int32_t session_id, bool in_transaction) {
  ForgetReadAheads();
  FBeforeApply = nullptr;
  if (!in_transaction) DiskPageManager()->CancelChanges(session_id);
  if (FTemporaryPageManager != nullptr) FTemporaryPageManager->CancelChanges(session_id);
}

// ---------------------------------------------------------------------------
// Table operations

void TORBDiskTableData::DropStoredTable(int32_t session_id) {
  // Every step only schedules page removals for the session: nothing is
  // gone before the caller applies.
  if (FIndexManager != nullptr) {
    while (FIndexManager->IndexDefs().GetCount() > 0)
      FIndexManager->DropIndex(session_id, FIndexManager->IndexDefs().GetIndexDef(0)->FObjectID);
  }
  if (FBlobManager != nullptr) FBlobManager->Delete(session_id);
  if (FRecordManager != nullptr) DiskRecordManager()->Delete(session_id);
  DeleteTableFiles();
}

void TORBDiskTableData::CreateTable(TORBCursorInterface* cursor, const TORBFieldDefs& field_defs,
                                    const TORBIndexDefs& index_defs, const TORBConstraintDefs& constraint_defs) {
  TORBTableDataLock lock(this);
  if (field_defs.GetCount() == 0)
    RaiseORB(kErrDiskCreateNoFields, "Error creating table - no fields were specified");
  if (!FCursorList.empty())
    RaiseORB(kErrDeleteOpenTable, "Cannot delete table '%s'. Table is open by another dataset", {FTableName});
  FTableName = cursor->GetTableName();
  FDisableTempFiles = false;
  FDiskDatabase->LockTables();
  try {
    // The table of the same name, if any, goes in the same commit as the
    // new one arrives.
    if (FDiskDatabase->TableListed(FTableName)) {
      OpenStoredTable(kSystem);
      const int32_t session = cursor->GetSessionID();
      if (!LockTable(session, ltX, kOpenLockTries, kOpenLockDelayMs))
        RaiseORB(kErrDiskExclusiveOpenByUser,
                 "Cannot access table '%s' in exclusive mode. Table is open by another user", {FTableName});
      try {
        DropStoredTable(kSystem);
        FDiskDatabase->RemoveTable(FTableName);
      } catch (...) {
        UnlockTable(session, ltX, true);
        throw;
      }
      UnlockTable(session, ltX, true);
      FreeManagers();
    }
    FTableID = FDiskDatabase->GetNewObjectId();
    const int32_t locks_page = CreateTableFiles();
    CreateManagers(field_defs, index_defs, constraint_defs);
    InitRecordManager();
    SaveMostUpdated(kSystem);
    DiskRecordManager()->CreateRecordPageIndex();
    if (FFieldManager->BlobFieldsPresent()) FBlobManager->CreateBlobPageIndex();
    FIndexManager->CreateIndexesByIndexDefs(nullptr);
    SaveMetadataFile(kSystem);
    FDiskDatabase->AddTable(FTableID, FTableName, FTableMetadataFile->GetStartPageNo(),
                            FTableMostUpdatedFile->GetStartPageNo(), locks_page);
    FreeManagers();
    DiskPageManager()->ApplyChanges(kSystem);
  } catch (...) {
    try {
      FreeManagers();
      DiskPageManager()->CancelChanges(kSystem);
    } catch (...) {
    }
    try {
      FDiskDatabase->ReloadTableList();
    } catch (...) {
    }
    try {
      FDiskDatabase->UnlockTables();
    } catch (...) {
    }
    throw;
  }
  FDiskDatabase->UnlockTables();
}

void TORBDiskTableData::OpenTable(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  ForgetCursorReads(cursor);
  const bool lock_tables = !FIsChangingTableList;
  if (lock_tables) FDiskDatabase->LockTables();
  const bool first = FCursorList.empty();
  const bool exclusive = FExclusiveCursors.count(cursor) != 0;
  bool listed = false;
  try {
    if (!first && (exclusive || FExclusive) &&
        std::find(FCursorList.begin(), FCursorList.end(), cursor) == FCursorList.end())
      RaiseORB(kErrDiskExclusiveOpenByCursors,
               "Cannot access table '%s' in exclusive mode. Table is open by other cursors", {FTableName});
    if (first) {
      OpenStoredTable(cursor->GetSessionID());
      FExclusive = exclusive;
    }
    listed = std::find(FCursorList.begin(), FCursorList.end(), cursor) == FCursorList.end();
    TORBTableData::OpenTable(cursor);
    if (FLockHolders.count(cursor) == 0) {
      if (exclusive) {
        if (!LockTable(cursor->GetSessionID(), ltX, kOpenLockTries, kOpenLockDelayMs))
          RaiseORB(kErrDiskExclusiveOpenByUser,
                   "Cannot access table '%s' in exclusive mode. Table is open by another user", {FTableName});
      } else if (!LockTable(cursor->GetSessionID(), ltIS, kOpenLockTries, kOpenLockDelayMs)) {
        RaiseORB(kErrDiskTableLockedOnOpen, "Cannot open table '%s'. Table is locked", {FTableName});
      }
      FLockHolders[cursor] = cursor->GetSessionID();
    }
    InitCursor(cursor);
  } catch (...) {
    if (listed) TORBTableData::CloseTable(cursor);
    if (FCursorList.empty()) {
      try {
        FreeManagers();
      } catch (...) {
      }
      FExclusive = false;
    }
    if (lock_tables) {
      try {
        FDiskDatabase->UnlockTables();
      } catch (...) {
      }
    }
    throw;
  }
  if (lock_tables) FDiskDatabase->UnlockTables();
}

void TORBDiskTableData::CloseTable(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  // The managers go with the last cursor: kept bytes are written first
  // (a failure leaves the cursor open).
  if (FCursorList.size() <= 1) WriteKeptMostUpdated();
  ForgetCursorReads(cursor);
  if (auto it = FLockHolders.find(cursor); it != FLockHolders.end()) {
    const int32_t session = it->second;
    FLockHolders.erase(it);
    UnlockTable(session, FExclusive ? ltX : ltIS, true);
  }
  TORBTableData::CloseTable(cursor);
  if (FCursorList.empty()) {
    FreeManagers();
    FExclusive = false;
  }
}

void TORBDiskTableData::DeleteTable(TORBCursorInterface* cursor, bool design_mode) {
  TORBTableDataLock lock(this);
  TORBTableData::DeleteTable(cursor, design_mode);
  FDiskDatabase->LockTables();
  FIsChangingTableList = true;
  try {
    TExclusiveUse exclusive(this, cursor);
    OpenTable(cursor);
    std::exception_ptr failure;
    try {
      DropStoredTable(kSystem);
    } catch (...) {
      failure = std::current_exception();
    }
    // The entry goes even when a structure could not be dropped, so that a
    // damaged table can always be deleted; its leftovers are leaked pages.
    try {
      CloseTable(cursor);
      FDiskDatabase->RemoveTable(FTableName);
      DiskPageManager()->ApplyChanges(kSystem);
    } catch (...) {
      if (!failure) failure = std::current_exception();
      try {
        DiskPageManager()->CancelChanges(kSystem);
        FDiskDatabase->ReloadTableList();
      } catch (...) {
      }
    }
    if (failure) std::rethrow_exception(failure);
  } catch (...) {
    FIsChangingTableList = false;
    try {
      FDiskDatabase->UnlockTables();
    } catch (...) {
    }
    throw;
  }
  FIsChangingTableList = false;
  FDiskDatabase->UnlockTables();
}

void TORBDiskTableData::RenameTable(const std::u16string& new_table_name, TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  if (!FCursorList.empty())
    RaiseORB(kErrRenameOpenTable, "Cannot rename table '%s'. Table is open by another dataset", {FTableName});
  FDiskDatabase->LockTables();
  FIsChangingTableList = true;
  try {
    {
      TExclusiveUse exclusive(this, cursor);
      OpenTable(cursor);
      CloseTable(cursor);
    }
    try {
      FDiskDatabase->RenameTable(FTableName, new_table_name);
      DiskPageManager()->ApplyChanges(kSystem);
    } catch (...) {
      try {
        DiskPageManager()->CancelChanges(kSystem);
        FDiskDatabase->ReloadTableList();
      } catch (...) {
      }
      throw;
    }
    TORBTableData::RenameTable(new_table_name, cursor);
  } catch (...) {
    FIsChangingTableList = false;
    try {
      FDiskDatabase->UnlockTables();
    } catch (...) {
    }
    throw;
  }
  FIsChangingTableList = false;
  FDiskDatabase->UnlockTables();
}

void TORBDiskTableData::EmptyTable(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  TExclusiveUse exclusive(this, cursor);
  OpenTable(cursor);
  const int32_t session = cursor->GetSessionID();
  const bool in_transaction = cursor->InTransaction();
  try {
    TORBTableData::EmptyTable(cursor);
    FBlobManager->Empty(session);
    FRecordManager->Empty(session);
    SaveMostUpdated(session);
    ApplyChanges(session, in_transaction);
  } catch (...) {
    try {
      CancelChanges(session, in_transaction);
    } catch (...) {
    }
    try {
      CloseTable(cursor);
    } catch (...) {
    }
    throw;
  }
  CloseTable(cursor);
}

void TORBDiskTableData::RenameField(const std::u16string& field_name, const std::u16string& new_field_name) {
  TORBTableDataLock lock(this);
  CheckOpen();
  TORBTableData::RenameField(field_name, new_field_name);
  try {
    SaveMetadataFile(kSystem);
    DiskPageManager()->ApplyChanges(kSystem);
  } catch (...) {
    try {
      DiskPageManager()->CancelChanges(kSystem);
    } catch (...) {
    }
    throw;
  }
}

int32_t TORBDiskTableData::AddIndex(const TORBIndexDef& index_def, TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  CheckOpen();
  const int32_t session = cursor->GetSessionID();
  const bool in_transaction = cursor->InTransaction();
  int32_t index_id = -1;
  try {
    index_id = TORBTableData::AddIndex(index_def, cursor);
    SaveMetadataFile(session);
    ApplyChanges(session, in_transaction);
  } catch (...) {
    try {
      CancelChanges(session, in_transaction);
    } catch (...) {
    }
    throw;
  }
  return index_id;
}

void TORBDiskTableData::DeleteIndex(int32_t index_id, TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  CheckOpen();
  const TORBIndexDef* def = static_cast<TORBIndexDef*>(FIndexManager->IndexDefs().GetDefByObjectId(index_id));
  const bool temporary = def != nullptr && def->FTemporary;
  TORBTableData::DeleteIndex(index_id, cursor);
  if (cursor == nullptr) return;
  const int32_t session = cursor->GetSessionID();
  const bool in_transaction = cursor->InTransaction();
  try {
    if (!temporary) SaveMetadataFile(session);
    ApplyChanges(session, in_transaction);
  } catch (...) {
    try {
      CancelChanges(session, in_transaction);
    } catch (...) {
    }
    throw;
  }
}

// ---------------------------------------------------------------------------
// Record bitmaps

int64_t TORBDiskTableData::GetBitmapRecordCount(int32_t session_id) {
  CheckOpen();
  return DiskRecordManager()->GetBitmapSize(session_id);
}

int64_t TORBDiskTableData::GetBitmapRecNoByRecordID(const TORBPageItemID& record_id) {
  CheckOpen();
  return DiskRecordManager()->RecordIDToBitmapNo(record_id);
}

TORBPageItemID TORBDiskTableData::GetRecordIDByBitmapRecNo(int64_t bit_no) {
  CheckOpen();
  return DiskRecordManager()->BitmapNoToRecordID(bit_no);
}

// ---------------------------------------------------------------------------
// Reads

TORBGetRecordResult TORBDiskTableData::GetRecordBuffer(TORBCursorInterface* cursor, TORBGetRecordMode mode) {
  TORBTableDataLock lock(this);
  CheckOpen();
  if (!MultiUser()) {
    // No read step and no temporary indexes to synchronise; the row count
    // is the record manager's (InternalGetRecordCount without its nested
    // lock, once per row of a walk).
    if (FRecordManager->FRecordCount == 0) return grrEOF;
    return GetRecordBufferOfRecords(cursor, mode);
  }
  TORBGetRecordResult result = grrError;
  if (mode == grmNext && ServeReadAhead(cursor, result)) return result;
  if (mode == grmCurrent && ServeFoundRow(cursor, result)) return result;
  const bool plain_walk = IsPlainSharedWalk(cursor, mode);
  bool locked = true;
  TReadStep step(this, cursor->GetSessionID(), 0, &locked);
  if (!locked) return grrError;
  SynchronizeTemporaryIndexes(cursor, true);
  result = TORBTableData::GetRecordBuffer(cursor, mode);
  if (plain_walk && result == grrOK) FillReadAhead(cursor);
  return result;
}

bool TORBDiskTableData::IsPlainSharedWalk(TORBCursorInterface* cursor, TORBGetRecordMode mode) const {
  return mode == grmNext && cursor->GetIndexID() == -1 && IsSharedRead(cursor);
}

bool TORBDiskTableData::IsSharedRead(TORBCursorInterface* cursor) const {
  return MultiUser() && FTableMostUpdatedFile != nullptr && FTableLocksFile != nullptr &&
         FLockHolders.count(cursor) != 0 && FDiskDatabase->TableLockManager() != nullptr &&
         IsStillSharedRead(cursor, cursor->GetSessionID());
}

bool TORBDiskTableData::IsStillPlainWalk(TORBCursorInterface* cursor, int32_t session) const {
  return cursor->GetIndexID() == -1 && IsStillSharedRead(cursor, session);
}

bool TORBDiskTableData::IsStillSharedRead(TORBCursorInterface* cursor, int32_t session) const {
  return !FExclusive && !DiskPageManager()->GetExclusive() && !cursor->IsViewRestricted() &&
         !cursor->InTransaction() && cursor->GetCurrentRecordBuffer() != nullptr &&
         FDiskDatabase->TableLockManager()->SessionLocks(session).LockExists(ltIS, FTableLocksFile->GetStartPageNo());
}

// Why a row from the read-ahead is the committed row, although no ltS is
// held when it is served:
// - The rows were read under ltS, after the most-updated data was loaded:
//   no commit was writing the table (a commit writes rows under ltRW,
//   which excludes ltS), so they are the committed state of that moment,
//   and the stamp read then is the stored stamp of that committed state.
// - Every commit that changes a row of the table also rewrites the
//   table's most-updated data (the table state moves on with every
//   insert, update and delete), and the read-ahead is only kept while
//   that data fits on its first page. Every write of a page moves its
//   stored stamp on (wrapping after about 2^31 writes), and a removed page
//   reads kInvalidPageState. The page stays the table's while this cursor
//   holds ltIS: dropping the table needs ltX.
// - So a stored stamp still equal to the recorded one, read at the start
//   of a later step, means no commit that changed the table's rows has
//   completed since the rows were read: a commit completes after all its
//   pages are written. A commit still running then is ordered after this
//   step, as if it had waited for ltS. A read racing that page write can
//   only return the old stamp when it read the stamp's low byte, which
//   every write changes, before the write reached it: the commit had not
//   completed either. Any other value, unreadable included, takes the
//   locked step.
// - The session's own uncommitted changes do not show in the stored
//   stamp: the read-ahead is not used inside a transaction, and every
//   change, apply, cancel and metadata load or save in this process
//   (ForgetReadAheads) makes the filled read-aheads stale.
// - The rows come from copies of the record pages taken in that locked
//   step, walked the way a locked grmNext walks the pages (the copies stop
//   before any page it would treat otherwise) and converted by the same
//   conversion, which sets every byte of the memory record: a served row
//   equals what the locked step would have returned.
bool TORBDiskTableData::ServeReadAhead(TORBCursorInterface* cursor, TORBGetRecordResult& result) {
  if (FReadAheads.empty()) return false;
  const auto it = FReadAheads.find(cursor);
  if (it == FReadAheads.end()) return false;
  TReadAhead& ahead = it->second;
  if (ahead.LocalChange != FLocalChange || cursor->GetFirstPosition() || cursor->GetLastPosition() ||
      !(cursor->GetCurrentRecordID() == ahead.Last))
    return false;
  // A read-ahead exists only while the cursor is among the lock holders of
  // the shared table with its files open (CloseTable and FreeManagers drop
  // it); what the cursor may have changed since the fill is checked again.
  const int32_t session = cursor->GetSessionID();
  if (ahead.Session != session || !IsStillPlainWalk(cursor, session)) return false;
  if (StoredMostUpdatedStamp(FTableMostUpdatedFile->GetStartPageNo()) != ahead.Stamp) {
    FReadAheads.erase(it);
    return false;
  }
  TORBPageItemID id = ahead.Last;
  if (!DiskRecordManager()->NextInRun(ahead.Run, ahead.Page, id, cursor->GetCurrentRecordBuffer())) return false;
  cursor->SetCurrentRecordID(id);
  cursor->SetFirstPosition(false);
  cursor->SetLastPosition(false);
  ahead.Last = id;
  result = grrOK;
  return true;
}

bool TORBDiskTableData::HeldOpenInThisProcess() const {
  if (!MultiUser() || FExclusive || FLockHolders.empty()) return false;
  const TORBDatabaseTableLockManager* locks = FDiskDatabase->TableLockManager();
  if (locks == nullptr || FTableLocksFile == nullptr || !FTableLocksFile->IsOpen()) return false;
  const int32_t table = FTableLocksFile->GetStartPageNo();
  for (const auto& [cursor, session] : FLockHolders)
    if (locks->SessionLocks(session).LockExists(ltIS, table)) return true;
  return false;
}

int32_t TORBDiskTableData::MostUpdatedStampForLoad() {
  if (DiskPageManager()->GetExclusive() || !HeldOpenInThisProcess()) return kInvalidPageState;
  const int32_t page_no = FTableMostUpdatedFile->GetStartPageNo();
  MapMostUpdatedStamp(page_no);
  if (!FStampView.IsMapped()) return kInvalidPageState;
  return StoredMostUpdatedStamp(page_no);
}

int32_t TORBDiskTableData::StoredMostUpdatedStamp(int32_t page_no) {
  if (FStampViewPage != page_no || !FStampView.IsMapped()) return DiskPageManager()->InternalReadPageState(page_no);
  // One aligned load (MapMostUpdatedStamp keeps only aligned views): the
  // stamp as stored now, as a read of the file would return it.
  const auto* word = reinterpret_cast<const uint32_t*>(const_cast<const uint8_t*>(FStampView.Data()));
  const uint32_t raw = __atomic_load_n(word, __ATOMIC_ACQUIRE);
  uint8_t bytes[4];
  std::memcpy(bytes, &raw, sizeof bytes);
  return LoadI32LE(bytes);
}

void TORBDiskTableData::MapMostUpdatedStamp(int32_t page_no) {
  if (FStampViewPage == page_no) return;
  FStampView.Reset();
  FStampViewPage = page_no;
  // In design mode the file is open only around each operation.
  if (ORBIsDesignMode()) return;
  TORBDiskPageManager* pages = DiskPageManager();
  const int64_t position = pages->GetPageOffset(page_no) + TORBDiskPageHeader::kOffState;
  if (!pages->DatabaseFile().MapView(position, sizeof(int32_t), FStampView)) return;
  if (reinterpret_cast<uintptr_t>(FStampView.Data()) % alignof(uint32_t) != 0) FStampView.Reset();
}

int32_t TORBDiskTableData::StampForReadAhead(int32_t session) {
  const int32_t first_page = FTableMostUpdatedFile->GetStartPageNo();
  {
    TORBPageGuard page = DiskPageManager()->GetPageGuard(session, first_page, kPageTypeTableMostUpdated);
    if (page->GetNextPageNo() != -1) return kInvalidPageState;
  }
  MapMostUpdatedStamp(first_page);
  return StoredMostUpdatedStamp(first_page);
}

void TORBDiskTableData::FillReadAhead(TORBCursorInterface* cursor) {
  TReadAhead& ahead = FReadAheads[cursor];
  ahead.Session = -1;
  ahead.Page = 0;
  const int32_t session = cursor->GetSessionID();
  // A read-ahead that cannot be filled is simply not used: the next step
  // reads the same rows locked and reports what goes wrong there.
  try {
    const int32_t stamp = StampForReadAhead(session);
    if (stamp == kInvalidPageState) return;
    DiskRecordManager()->CopyPageRun(session, cursor->GetCurrentRecordID(), kReadAheadBytes, ahead.Run);
    ahead.Stamp = stamp;
  } catch (const EORBException&) {
    ahead.Run.PageNos.clear();
    ahead.Run.Bytes.clear();
    return;
  }
  ahead.Last = cursor->GetCurrentRecordID();
  ahead.LocalChange = FLocalChange;
  ahead.Session = session;
}

bool TORBDiskTableData::Locate(TORBCursorInterface* cursor, TORBExpression* search_expression) {
  TORBTableDataLock lock(this);
  CheckOpen();
  TReadStep step(this, cursor->GetSessionID(), 20214);
  SynchronizeTemporaryIndexes(cursor, true);
  return TORBTableData::Locate(cursor, search_expression);
}

bool TORBDiskTableData::FindKey(TORBCursorInterface* cursor, const TORBScanCondition& condition) {
  TORBTableDataLock lock(this);
  CheckOpen();
  TReadStep step(this, cursor->GetSessionID(), 20215);
  SynchronizeTemporaryIndexes(cursor, true);
  FFoundRows.erase(cursor);
  if (!TORBTableData::FindKey(cursor, condition)) return false;
  // The row is nearly always read next (to show or edit it): read it now,
  // under this step's ltS, instead of in a locked step of its own.
  if (IsSharedRead(cursor)) KeepFoundRow(cursor);
  return true;
}

void TORBDiskTableData::KeepFoundRow(TORBCursorInterface* cursor) {
  const int32_t session = cursor->GetSessionID();
  TFoundRow row;
  // A row that cannot be kept is simply read again by the locked step,
  // which reports what goes wrong there.
  try {
    row.Stamp = StampForReadAhead(session);
    if (row.Stamp == kInvalidPageState || FRecordManager->FRecordCount == 0) return;
    row.Record.resize(static_cast<size_t>(std::max(FRecordManager->FRecordBufferSize, 1)));
    if (ReadRecordByID(session, cursor->GetCurrentRecordID(), row.Record.data()) != grrOK) return;
  } catch (const EORBException&) {
    return;
  }
  row.Id = cursor->GetCurrentRecordID();
  row.LocalChange = FLocalChange;
  row.Session = session;
  FFoundRows[cursor] = std::move(row);
}

// A kept row is served under the conditions of ServeReadAhead: the cursor
// is still on it, nothing in this process changed the table since, the
// cursor still reads the shared table outside a transaction through an
// unrestricted view with its ltIS held, and the stored stamp is the one
// read in the search's locked step. The locked grmCurrent step would then
// read the same committed row through the same conversion.
bool TORBDiskTableData::ServeFoundRow(TORBCursorInterface* cursor, TORBGetRecordResult& result) {
  if (FFoundRows.empty()) return false;
  const auto it = FFoundRows.find(cursor);
  if (it == FFoundRows.end()) return false;
  const TFoundRow& row = it->second;
  const int32_t session = cursor->GetSessionID();
  if (row.LocalChange != FLocalChange || row.Session != session || cursor->GetFirstPosition() ||
      cursor->GetLastPosition() || !(cursor->GetCurrentRecordID() == row.Id) ||
      !IsStillSharedRead(cursor, session) ||
      StoredMostUpdatedStamp(FTableMostUpdatedFile->GetStartPageNo()) != row.Stamp) {
    FFoundRows.erase(it);
    return false;
  }
  std::memcpy(cursor->GetCurrentRecordBuffer(), row.Record.data(),
              static_cast<size_t>(FRecordManager->FRecordBufferSize));
  result = grrOK;
  return true;
}

void TORBDiskTableData::SetRecNo(TORBCursorInterface* cursor, int64_t rec_no) {
  TORBTableDataLock lock(this);
  CheckOpen();
  TReadStep step(this, cursor->GetSessionID(), 20216);
  SynchronizeTemporaryIndexes(cursor, true);
  TORBTableData::SetRecNo(cursor, rec_no);
}

int64_t TORBDiskTableData::GetRecNo(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  CheckOpen();
  TReadStep step(this, cursor->GetSessionID(), 20217);
  SynchronizeTemporaryIndexes(cursor, true);
  return TORBTableData::GetRecNo(cursor);
}

TORBPageItemID TORBDiskTableData::InternalSetRecNo(int32_t session_id, int64_t rec_no) {
  TORBTableDataLock lock(this);
  CheckOpen();
  TReadStep step(this, session_id, 20219);
  if (rec_no < 1 || rec_no > FRecordManager->FRecordCount) return {-1, 0};
  TORBPageItemID record_id{};
  DiskRecordManager()->SetRecNo(session_id, rec_no, record_id);
  return record_id;
}

int64_t TORBDiskTableData::InternalGetRecNo(int32_t session_id, const TORBPageItemID& record_id) {
  TORBTableDataLock lock(this);
  CheckOpen();
  TReadStep step(this, session_id, 20220);
  int64_t rec_no = -1;
  DiskRecordManager()->GetRecNo(session_id, record_id, rec_no);
  return rec_no;
}

int64_t TORBDiskTableData::InternalGetRecordCount(int32_t session_id) {
  TORBTableDataLock lock(this);
  CheckOpen();
  TReadStep step(this, session_id, 20218);
  return FRecordManager->FRecordCount;
}

int64_t TORBDiskTableData::LastAutoincValue(TORBAutoincSession* session, int32_t field_no) {
  TORBTableDataLock lock(this);
  if (FFieldManager == nullptr) return 0;
  return FFieldManager->GetLastAutoinc(session, field_no);
}

bool TORBDiskTableData::ReadStoredRecord(TORBCursorInterface* cursor, const TORBPageItemID& record_id,
                                         uint8_t* record_buffer, TORBGetRecordResult& result) {
  TORBTableDataLock lock(this);
  CheckOpen();
  const int32_t session = cursor->GetSessionID();
  bool locked = true;
  TReadStep step(this, session, 0, &locked);
  if (!locked) return false;
  result = ReadRecordByID(session, record_id, record_buffer);
  return true;
}

void TORBDiskTableData::SynchronizeTemporaryIndexes(TORBCursorInterface* cursor, bool apply) {
  if (!MultiUser() || FIndexManager == nullptr) return;
  bool is_changed = false;
  FIndexManager->SynchronizeTemporaryIndexes(cursor, is_changed);
  if (is_changed && apply && FTemporaryPageManager != nullptr)
    FTemporaryPageManager->ApplyChanges(cursor->GetSessionID());
}

// ---------------------------------------------------------------------------
// Row changes

bool TORBDiskTableData::RunRowChange(TORBCursorInterface* cursor, const std::function<bool()>& change,
                                     const std::function<void(int32_t)>& before_apply) {
  const int32_t session = cursor->GetSessionID();
  const bool in_transaction = cursor->InTransaction();
  FBeforeApply = before_apply;
  try {
    const bool done = change();
    FBeforeApply = nullptr;
    return done;
  } catch (...) {
    FBeforeApply = nullptr;
    // The base change cancels what it did; a failure of the work before
    // the apply comes after the change and is cancelled here.
    try {
      CancelChanges(session, in_transaction);
    } catch (...) {
    }
    try {
      if (!in_transaction || !MultiUser()) LoadMostUpdated(session);
    } catch (...) {
    }
    throw;
  }
}

bool TORBDiskTableData::WriteRow(TORBCursorInterface* cursor, int32_t manager_code, int32_t buffer_code,
                                 const std::function<bool()>& change) {
  TORBTableDataLock lock(this);
  if (FRecordManager == nullptr) RaiseORB(manager_code, kMsgNilPointer);
  uint8_t* record = cursor->GetCurrentRecordBuffer();
  if (record == nullptr) RaiseORB(buffer_code, kMsgNilPointer);
  TWriteStep step(this, cursor);
  SynchronizeTemporaryIndexes(cursor, false);
  const int32_t session = cursor->GetSessionID();
  TUnpostedBlobs unposted(FBlobManager.get(), FFieldManager->FieldDefs(), record, FRecordManager->FRecordBufferSize);
  bool written = false;
  try {
    FBlobManager->WriteBlobs(session, record);
    const bool in_transaction = cursor->InTransaction();
    written = RunRowChange(cursor, change, [this, in_transaction](int32_t s) { SaveRowMostUpdated(s, in_transaction); });
  } catch (...) {
    unposted.Restore();
    if (!cursor->InTransaction()) {
      try {
        CancelChanges(session, false);
      } catch (...) {
      }
    }
    throw;
  }
  if (!written) unposted.Restore();
  return written;
}

bool TORBDiskTableData::InsertRecord(TORBCursorInterface* cursor) {
  return WriteRow(cursor, 20135, 20136, [&] { return TORBTableData::InsertRecord(cursor); });
}

bool TORBDiskTableData::UpdateRecord(TORBCursorInterface* cursor) {
  return WriteRow(cursor, 20138, 20139, [&] { return TORBTableData::UpdateRecord(cursor); });
}

bool TORBDiskTableData::DeleteRecord(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  if (FRecordManager == nullptr || cursor->GetCurrentRecordBuffer() == nullptr) RaiseORB(20137, kMsgNilPointer);
  TWriteStep step(this, cursor);
  SynchronizeTemporaryIndexes(cursor, false);
  const int32_t session = cursor->GetSessionID();
  // The stored row's BLOB values go once the row is gone.
  std::vector<uint8_t> stored(static_cast<size_t>(std::max(FRecordManager->FRecordBufferSize, 1)));
  const bool has_stored = ReadRecordByID(session, cursor->GetCurrentRecordID(), stored.data()) == grrOK;
  const bool blobs = FFieldManager->BlobFieldsPresent();
  const bool in_transaction = cursor->InTransaction();
  const bool deleted = RunRowChange(
      cursor, [&] { return TORBTableData::DeleteRecord(cursor); },
      [&](int32_t s) {
        if (has_stored && blobs) FBlobManager->DeleteBlobs(s, stored.data());
        SaveRowMostUpdated(s, in_transaction);
      });
  return deleted;
}

void TORBDiskTableData::Rollback(int32_t session_id) {
  TORBTableDataLock lock(this);
  ForgetReadAheads();
  // The session's pages are cancelled already: what was kept for it goes
  // with them.
  DropDeferred(session_id);
  if (FRecordManager == nullptr) return;
  LoadMostUpdated(session_id);
  if (FTemporaryPageManager != nullptr) FTemporaryPageManager->CancelChanges(session_id);
  TORBTableData::Rollback(session_id);
  if (FTemporaryPageManager != nullptr) FTemporaryPageManager->ApplyChanges(session_id);
}

std::unique_ptr<TORBIndex> TORBDiskTableData::CreateIndexObject(const TORBIndexDef& /*index_def*/) {
  // The index manager's B-tree record index.
  return nullptr;
}

// ---------------------------------------------------------------------------
// BLOB values

bool TORBDiskTableData::IsBlobFieldNo(int32_t field_no) const {
  if (FFieldManager == nullptr) return false;
  const TORBFieldDefs& defs = FFieldManager->FieldDefs();
  return field_no >= 0 && field_no < defs.GetCount() && IsBlobType(*defs.GetDef(field_no));
}

void TORBDiskTableData::ClearBlobsCacheInRecordBuffer(uint8_t* record_buffer) {
  TORBTableDataLock lock(this);
  if (FBlobManager == nullptr || record_buffer == nullptr) return;
  const TORBFieldDefs& defs = FFieldManager->FieldDefs();
  for (int32_t i = 0; i < defs.GetCount(); ++i)
    if (IsBlobType(*defs.GetDef(i))) FBlobManager->ClearBlobInRecordBuffer(record_buffer, i, false);
}

void TORBDiskTableData::ClearModifiedBLOBFieldsInRecordBuffer(uint8_t* record_buffer) {
  TORBTableDataLock lock(this);
  if (FBlobManager == nullptr || record_buffer == nullptr) return;
  const TORBFieldDefs& defs = FFieldManager->FieldDefs();
  for (int32_t i = 0; i < defs.GetCount(); ++i)
    if (IsBlobType(*defs.GetDef(i))) FBlobManager->ClearBlobInRecordBuffer(record_buffer, i, true);
}

void TORBDiskTableData::ClearBLOBFieldInRecordBuffer(int32_t field_no, uint8_t* record_buffer) {
  TORBTableDataLock lock(this);
  if (FBlobManager == nullptr || record_buffer == nullptr || !IsBlobFieldNo(field_no)) return;
  FBlobManager->ClearBlobInRecordBuffer(record_buffer, field_no, true);
}

void TORBDiskTableData::WriteBLOBFieldToRecordBuffer(int32_t session_id, int32_t field_no, TStream& source,
                                                     uint8_t* record_buffer) {
  TORBTableDataLock lock(this);
  CheckOpen();
  if (!IsBlobFieldNo(field_no))
    RaiseORB(10118, kMsgInvalidFieldNumber, {field_no, FFieldManager->FieldDefs().GetCount()});
  const TORBFieldDef& field = *FFieldManager->FieldDefs().GetDef(field_no);
  if (field.FBLOBBlockSize == 0) RaiseORB(10420, kMsgStreamBlockSizeZero);
  source.SetPosition(0);
  if (source.GetSize() == 0) {
    // An empty value: the field becomes null when the record is posted.
    FBlobManager->SetDirectBlobInfoFromRecordBuffer(session_id, record_buffer, field_no, {}, nullptr);
    return;
  }
  const TORBBLOBDescriptor layout = FieldBlobDescriptor(field);
  // A stream this table opened for writing already holds the stored form.
  if (auto* owned = dynamic_cast<TORBOwnedBLOBStream*>(&source); owned != nullptr && owned->HasStoredFormOf(layout)) {
    TORBPartialTemporaryBLOBDescriptor info;
    info.NumBlocks = static_cast<int32_t>(owned->BLOBDescriptor().NumBlocks);
    info.UncompressedSize = owned->GetSize();
    info.CompressedSize = owned->StoredSize();
    FBlobManager->SetDirectBlobInfoFromRecordBuffer(session_id, record_buffer, field_no, info, owned->StoredData());
    return;
  }
  TORBMemoryStream storage;
  TORBCompressedBLOBStream blob(storage, layout, true, false);
  std::vector<uint8_t> chunk(64 * 1024);
  for (;;) {
    const int64_t read = source.Read(chunk.data(), static_cast<int64_t>(chunk.size()));
    if (read <= 0) break;
    SaveDataToStream(chunk.data(), read, blob, 10145);
  }
  blob.SetModified(true);
  FBlobManager->CopyBlobFromStreamToRecordBuffer(record_buffer, field_no, blob, storage);
}

std::unique_ptr<TStream> TORBDiskTableData::InternalCreateBlobStream(TORBCursorInterface* cursor, int32_t field_no,
                                                                     uint8_t* record_buffer, bool for_writing) {
  TORBTableDataLock lock(this);
  CheckOpen();
  if (!IsBlobFieldNo(field_no))
    RaiseORB(10118, kMsgInvalidFieldNumber, {field_no, FFieldManager->FieldDefs().GetCount()});
  const TORBFieldDef& field = *FFieldManager->FieldDefs().GetDef(field_no);
  if (field.FBLOBBlockSize == 0) RaiseORB(20149, kMsgStreamBlockSizeZero);
  TORBBLOBDescriptor descriptor = FieldBlobDescriptor(field);
  if (for_writing || record_buffer == nullptr || CheckNullFlag(field_no, record_buffer))
    return std::make_unique<TORBOwnedBLOBStream>(std::vector<uint8_t>(), descriptor, true);
  const int32_t session = cursor != nullptr ? cursor->GetSessionID() : kSystem;
  std::unique_ptr<TReadStep> step;
  if (FBlobManager->AttachedCache(record_buffer, field_no) == nullptr)
    step = std::make_unique<TReadStep>(this, session, kErrDiskBlobReadLocked);
  // The value goes to the stream: the record keeps no copy of a stored one.
  std::vector<uint8_t> stored = FBlobManager->TakeStoredForm(session, record_buffer, field_no, descriptor);
  descriptor.StartPosition = 0;
  return std::make_unique<TORBOwnedBLOBStream>(std::move(stored), descriptor, false);
}

std::vector<uint8_t> TORBDiskTableData::GetDirectBlobData(int32_t session_id, int32_t field_no,
                                                          const uint8_t* record_buffer) {
  TORBTableDataLock lock(this);
  CheckOpen();
  if (!IsBlobFieldNo(field_no))
    RaiseORB(10118, kMsgInvalidFieldNumber, {field_no, FFieldManager->FieldDefs().GetCount()});
  if (record_buffer == nullptr || CheckNullFlag(field_no, record_buffer)) return {};
  TORBDiskBLOBCache loaded;
  const TORBDiskBLOBCache* value = FBlobManager->AttachedCache(record_buffer, field_no);
  if (value == nullptr) {
    const int32_t offset = FFieldManager->FieldDefs().GetDef(field_no)->FMemoryOffset;
    const TORBPageItemID location = LoadPageItemID(record_buffer + offset);
    if (location.PageNo == 0 || location.PageNo == -1) return {};
    TReadStep step(this, session_id, kErrDiskBlobReadLocked);
    if (!FBlobManager->LoadValue(session_id, location, loaded)) RaiseORB(20291, "Cannot read BLOB field value");
    value = &loaded;
  }
  std::vector<uint8_t> data(TORBPartialTemporaryBLOBDescriptor::kSize + value->BlobData.size());
  TORBPartialTemporaryBLOBDescriptor head;
  head.NumBlocks = value->NumBlocks;
  head.UncompressedSize = value->UncompressedSize;
  head.CompressedSize = static_cast<int64_t>(value->BlobData.size());
  head.SaveTo(data.data());
  if (!value->BlobData.empty())
    std::memcpy(data.data() + TORBPartialTemporaryBLOBDescriptor::kSize, value->BlobData.data(),
                value->BlobData.size());
  return data;
}

void TORBDiskTableData::SetDirectBlobData(int32_t session_id, int32_t field_no, uint8_t* record_buffer,
                                          const std::vector<uint8_t>& data) {
  TORBTableDataLock lock(this);
  CheckOpen();
  if (!IsBlobFieldNo(field_no))
    RaiseORB(10118, kMsgInvalidFieldNumber, {field_no, FFieldManager->FieldDefs().GetCount()});
  TORBPartialTemporaryBLOBDescriptor head;
  const uint8_t* stored = nullptr;
  if (!data.empty()) {
    constexpr size_t kHead = TORBPartialTemporaryBLOBDescriptor::kSize;
    const int64_t available = static_cast<int64_t>(data.size()) - static_cast<int64_t>(kHead);
    if (available >= 0) head = TORBPartialTemporaryBLOBDescriptor::LoadFrom(data.data());
    if (available < 0 || head.CompressedSize != available || head.UncompressedSize < 0 || head.NumBlocks < 0)
      RaiseORB(kErrDiskDirectBlobData, "Invalid direct BLOB data. Size = %d", {static_cast<long long>(data.size())});
    stored = data.data() + kHead;
    if (head.UncompressedSize == 0) head = {};
  }
  FBlobManager->SetDirectBlobInfoFromRecordBuffer(session_id, record_buffer, field_no, head, stored);
}

void TORBDiskTableData::FreeDirectBlobData(int32_t, int32_t, uint8_t*) {}

}  // namespace orb
