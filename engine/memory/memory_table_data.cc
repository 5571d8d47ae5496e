#include "engine/memory/memory_table_data.h"

#include <algorithm>

#include "engine/base/orb_exception.h"
#include "engine/base/record_layout.h"
#include "engine/data/constraint_manager.h"
#include "engine/data/database_data.h"
#include "engine/data/index_manager.h"
#include "engine/memory/memory_database_data.h"
#include "engine/memory/table_index_factory.h"
#include "engine/platform/byte_order.h"

namespace orb {

TORBMemoryTableData::TORBMemoryTableData(TORBDatabaseData* database_data, std::u16string table_name,
                                         int32_t alloc_records_by, std::function<bool()> is_design_mode)
    : TORBTableData(database_data, std::move(table_name)),
      FAllocRecordsBy(alloc_records_by),
      FIsDesignMode(std::move(is_design_mode)),
      FMemoryPageManager(std::make_unique<TORBMemoryPageManager>()) {
  FPageManager = FMemoryPageManager.get();
  FDisableTempFiles = true;
}

TORBMemoryTableData::~TORBMemoryTableData() {
  try {
    TORBTableDataLock lock(this);
    if (FRecordManager != nullptr) EmptyTable(nullptr);
    if (FIndexManager != nullptr) DeleteAllIndexes(nullptr);
    FPageManager->ApplyChanges(TORBPageManager::kSystemSession);
  } catch (...) {
  }
  // The indexes use the page manager: close them before it goes.
  FIndexManager.reset();
  FPageManager = nullptr;
}

TORBMemoryRecordManager* TORBMemoryTableData::MemoryRecordManager() const {
  return static_cast<TORBMemoryRecordManager*>(FRecordManager.get());
}

void TORBMemoryTableData::CreateRecordManager() {
  const bool has_fields = FFieldManager != nullptr && FFieldManager->FieldDefs().GetCount() > 0;
  const bool design_mode = FIsDesignMode && FIsDesignMode();
  FRecordManager = std::make_unique<TORBMemoryRecordManager>(
      has_fields ? FFieldManager->GetMemoryRecordBufferSize() : 0, FAllocRecordsBy, design_mode);
}

void TORBMemoryTableData::CreateIndexManager(const TORBIndexDefs& index_defs) {
  FIndexManager = std::make_unique<TORBBaseIndexManager>(this, FPageManager);
  TORBTableData::CreateIndexManager(index_defs);
}

void TORBMemoryTableData::CreateConstraintManager(const TORBConstraintDefs& constraint_defs) {
  for (int32_t i = 0; i < constraint_defs.GetCount(); ++i)
    if (constraint_defs.GetDef(i)->GetConstraintType() == ctFK) RaiseORB(kErrMemoryForeignKey, kMsgNotImplemented);
  TORBTableData::CreateConstraintManager(constraint_defs);
}

void TORBMemoryTableData::ApplyChanges(int32_t /*session_id*/, bool in_transaction) {
  if (in_transaction)
    if (auto* database = dynamic_cast<TORBMemoryDatabaseData*>(FDatabaseData)) database->NoteTransactionChange();
  FPageManager->ApplyChanges(0);
}

// Index pages are changed in place, so there is no earlier copy to go back
// to: a record change that failed half way has already been undone entry by
// entry, and what its pages hold now is the table's state. Keeping them
// (rather than dropping the pages the failed change added, which the trees
// may still point to) is the only sound cancel here.
void TORBMemoryTableData::CancelChanges(int32_t /*session_id*/, bool /*in_transaction*/) {
  FPageManager->ApplyChanges(0);
}

void TORBMemoryTableData::CreateTable(TORBCursorInterface* cursor, const TORBFieldDefs& field_defs,
                                      const TORBIndexDefs& index_defs, const TORBConstraintDefs& constraint_defs) {
  TORBTableDataLock lock(this);
  if (field_defs.GetCount() == 0 && !(FIsDesignMode && FIsDesignMode()))
    RaiseORB(kErrMemoryNoFields, "Error creating table - no fields were specified");
  FTableName = cursor->GetTableName();
  CreateFieldManager(field_defs);
  CreateIndexManager(index_defs);
  CreateConstraintManager(constraint_defs);
  CreateRecordManager();
  InitCursor(cursor);
  try {
    FIndexManager->CreateIndexesByIndexDefs(cursor);
  } catch (...) {
    // Only the new trees took pages, and nothing else points to them.
    try {
      FPageManager->CancelChanges(0);
    } catch (...) {
    }
    throw;
  }
  ApplyChanges(cursor->GetSessionID(), false);
}

void TORBMemoryTableData::DeleteTable(TORBCursorInterface* cursor, bool design_mode) {
  TORBDatabaseData* database = FDatabaseData;
  database->Lock();
  try {
    TORBTableData::DeleteTable(cursor, design_mode);
    if (!(design_mode && !FCursorList.empty())) database->FreeTableData(this);
  } catch (...) {
    database->Unlock();
    throw;
  }
  database->Unlock();
}

void TORBMemoryTableData::EmptyTable(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  TORBTableData::EmptyTable(cursor);
  FBlobs.clear();
  FUnpostedBlobs.clear();
  if (FRecordManager != nullptr) FRecordManager->Empty(TORBPageManager::kSystemSession);
  FPageManager->ApplyChanges(0);
}

int32_t TORBMemoryTableData::AddIndex(const TORBIndexDef& index_def, TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  int32_t index_id = -1;
  try {
    index_id = TORBTableData::AddIndex(index_def, cursor);
  } catch (...) {
    // The index manager has dropped the definition; give back the pages
    // the build took, which nothing else points to.
    try {
      FPageManager->CancelChanges(0);
    } catch (...) {
    }
    throw;
  }
  ApplyChanges(cursor->GetSessionID(), cursor->InTransaction());
  return index_id;
}

void TORBMemoryTableData::DeleteIndex(int32_t index_id, TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  TORBTableData::DeleteIndex(index_id, cursor);
  ApplyChanges(cursor != nullptr ? cursor->GetSessionID() : TORBPageManager::kSystemSession,
               cursor != nullptr && cursor->InTransaction());
}

int64_t TORBMemoryTableData::GetBitmapRecordCount(int32_t /*session_id*/) {
  TORBMemoryRecordManager* records = MemoryRecordManager();
  if (records == nullptr) RaiseORB(kErrMemoryNoRecordManager, kMsgNilPointer);
  // Bit numbers are slot numbers: cover every slot in use.
  return records->FRecordCount == 0 ? 0 : records->LastRecordID() + 1;
}

int64_t TORBMemoryTableData::GetBitmapRecNoByRecordID(const TORBPageItemID& record_id) { return record_id.PageNo; }

TORBPageItemID TORBMemoryTableData::GetRecordIDByBitmapRecNo(int64_t bit_no) {
  return {static_cast<int32_t>(bit_no), 0};
}

bool TORBMemoryTableData::InsertRecord(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  if (FRecordManager == nullptr) RaiseORB(10010, kMsgNilPointer);
  if (cursor->GetCurrentRecordBuffer() == nullptr) RaiseORB(10018, kMsgNilPointer);
  if (!TORBTableData::InsertRecord(cursor)) return false;
  MarkPosted(cursor->GetCurrentRecordBuffer());
  return true;
}

bool TORBMemoryTableData::UpdateRecord(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  if (FRecordManager == nullptr) RaiseORB(10014, kMsgNilPointer);
  if (cursor->GetCurrentRecordBuffer() == nullptr) RaiseORB(10017, kMsgNilPointer);
  const std::vector<uint64_t> old_handles =
      cursor->GetEditRecordBuffer() != nullptr ? BlobHandles(cursor->GetEditRecordBuffer()) : std::vector<uint64_t>{};
  if (!TORBTableData::UpdateRecord(cursor)) return false;
  const std::vector<uint64_t> new_handles = BlobHandles(cursor->GetCurrentRecordBuffer());
  MarkPosted(cursor->GetCurrentRecordBuffer());
  for (uint64_t handle : old_handles)
    if (std::find(new_handles.begin(), new_handles.end(), handle) == new_handles.end()) FreeBlob(handle);
  return true;
}

bool TORBMemoryTableData::DeleteRecord(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  if (FRecordManager == nullptr || cursor->GetCurrentRecordBuffer() == nullptr) RaiseORB(10013, kMsgNilPointer);
  // The stored record's values, freed once it is gone.
  std::vector<uint64_t> handles;
  {
    std::vector<uint8_t> stored(static_cast<size_t>(std::max(FRecordManager->FRecordBufferSize, 1)));
    if (ReadRecordByID(cursor->GetSessionID(), cursor->GetCurrentRecordID(), stored.data()) == grrOK)
      handles = BlobHandles(stored.data());
  }
  if (!TORBTableData::DeleteRecord(cursor)) return false;
  for (uint64_t handle : handles) FreeBlob(handle);
  return true;
}

TORBPageItemID TORBMemoryTableData::InternalSetRecNo(int32_t /*session_id*/, int64_t rec_no) {
  TORBMemoryRecordManager* records = MemoryRecordManager();
  if (records == nullptr) RaiseORB(10074, kMsgNilPointer);
  const int64_t slot = records->FindRecord(rec_no - 1);
  return {static_cast<int32_t>(slot), 0};
}

int64_t TORBMemoryTableData::InternalGetRecNo(int32_t /*session_id*/, const TORBPageItemID& record_id) {
  TORBMemoryRecordManager* records = MemoryRecordManager();
  if (records == nullptr) RaiseORB(10033, kMsgNilPointer);
  return records->GetTablePositionByRecordID(record_id.PageNo);
}

int64_t TORBMemoryTableData::InternalGetRecordCount(int32_t /*session_id*/) {
  if (FRecordManager == nullptr) RaiseORB(kErrMemoryNoRecordManager, kMsgNilPointer);
  return FRecordManager->FRecordCount;
}

int64_t TORBMemoryTableData::LastAutoincValue(TORBAutoincSession* session, int32_t field_no) {
  if (FFieldManager == nullptr) return 0;
  return FFieldManager->GetLastAutoinc(session, field_no);
}

std::unique_ptr<TORBIndex> TORBMemoryTableData::CreateIndexObject(const TORBIndexDef& index_def) {
  return CreateTableIndex(index_def, FIndexManager.get());
}

// ---------------------------------------------------------------------------
// BLOB values

const TORBFieldDef& TORBMemoryTableData::BlobField(int32_t field_no) const {
  const TORBFieldDefs& defs = FFieldManager->FieldDefs();
  if (field_no < 0 || field_no >= defs.GetCount())
    RaiseORB(10118, kMsgInvalidFieldNumber, {field_no, defs.GetCount()});
  return *defs.GetDef(field_no);
}

uint64_t TORBMemoryTableData::BlobHandle(int32_t field_no, const uint8_t* record_buffer) const {
  if (CheckNullFlag(field_no, record_buffer)) return 0;
  return LoadU64LE(record_buffer + BlobField(field_no).FMemoryOffset);
}

void TORBMemoryTableData::SetBlobHandle(int32_t field_no, uint8_t* record_buffer, uint64_t handle) {
  uint8_t* slot = record_buffer + BlobField(field_no).FMemoryOffset;
  std::fill_n(slot, 14, uint8_t{0});
  StoreU64LE(slot, handle);
  SetNullFlag(handle == 0, field_no, record_buffer);
}

uint64_t TORBMemoryTableData::StoreBlob(TORBStoredBLOB stored) {
  const uint64_t handle = FNextBlobHandle++;
  FBlobs.emplace(handle, std::move(stored));
  FUnpostedBlobs.insert(handle);
  return handle;
}

std::vector<uint64_t> TORBMemoryTableData::BlobHandles(const uint8_t* record_buffer) const {
  std::vector<uint64_t> handles;
  if (FFieldManager == nullptr || record_buffer == nullptr) return handles;
  const TORBFieldDefs& defs = FFieldManager->FieldDefs();
  for (int32_t i = 0; i < defs.GetCount(); ++i)
    if (IsBlobField(*defs.GetDef(i)))
      if (const uint64_t handle = BlobHandle(i, record_buffer); handle != 0) handles.push_back(handle);
  return handles;
}

void TORBMemoryTableData::MarkPosted(const uint8_t* record_buffer) {
  for (uint64_t handle : BlobHandles(record_buffer)) FUnpostedBlobs.erase(handle);
}

void TORBMemoryTableData::FreeBlob(uint64_t handle) {
  FBlobs.erase(handle);
  FUnpostedBlobs.erase(handle);
}

void TORBMemoryTableData::WriteBLOBFieldToRecordBuffer(int32_t /*session_id*/, int32_t field_no, TStream& source,
                                                       uint8_t* record_buffer) {
  TORBTableDataLock lock(this);
  const TORBFieldDef& field = BlobField(field_no);
  const uint64_t old_handle = BlobHandle(field_no, record_buffer);
  uint64_t handle = 0;
  if (source.GetSize() > 0) handle = StoreBlob(CompressBLOB(field, source));
  SetBlobHandle(field_no, record_buffer, handle);
  // A value no stored record holds can go at once; a stored one goes when
  // the record is posted (UpdateRecord).
  if (old_handle != 0 && FUnpostedBlobs.count(old_handle) != 0) FreeBlob(old_handle);
}

void TORBMemoryTableData::ClearBLOBFieldInRecordBuffer(int32_t field_no, uint8_t* record_buffer) {
  TORBTableDataLock lock(this);
  if (record_buffer == nullptr || CheckNullFlag(field_no, record_buffer)) return;
  const uint64_t handle = BlobHandle(field_no, record_buffer);
  if (FUnpostedBlobs.count(handle) != 0) FreeBlob(handle);
  SetBlobHandle(field_no, record_buffer, 0);
}

std::unique_ptr<TStream> TORBMemoryTableData::InternalCreateBlobStream(TORBCursorInterface* /*cursor*/,
                                                                       int32_t field_no, uint8_t* record_buffer,
                                                                       bool for_writing) {
  TORBTableDataLock lock(this);
  const TORBFieldDef& field = BlobField(field_no);
  if (field.FBLOBBlockSize == 0) RaiseORB(kErrBlobBlockSizeZero, kMsgStreamBlockSizeZero);
  const uint64_t handle = record_buffer != nullptr ? BlobHandle(field_no, record_buffer) : 0;
  if (for_writing || handle == 0) return OpenBLOBStream(field, nullptr);
  auto it = FBlobs.find(handle);
  if (it == FBlobs.end()) RaiseORB(kErrMemoryBlobMissing, "BLOB value of field %d not found", {field_no});
  return OpenBLOBStream(field, &it->second);
}

std::vector<uint8_t> TORBMemoryTableData::GetDirectBlobData(int32_t /*session_id*/, int32_t field_no,
                                                            const uint8_t* record_buffer) {
  TORBTableDataLock lock(this);
  const uint64_t handle = BlobHandle(field_no, record_buffer);
  if (handle == 0) return {};
  auto it = FBlobs.find(handle);
  if (it == FBlobs.end()) RaiseORB(kErrMemoryBlobMissing, "BLOB value of field %d not found", {field_no});
  return PackDirectBLOB(it->second.Descriptor, it->second.StoredForm.data(),
                        static_cast<int64_t>(it->second.StoredForm.size()));
}

void TORBMemoryTableData::SetDirectBlobData(int32_t /*session_id*/, int32_t field_no, uint8_t* record_buffer,
                                            const std::vector<uint8_t>& data) {
  TORBTableDataLock lock(this);
  BlobField(field_no);
  const uint64_t old_handle = BlobHandle(field_no, record_buffer);
  TORBStoredBLOB stored;
  const uint64_t handle = UnpackDirectBLOB(data, stored) ? StoreBlob(std::move(stored)) : 0;
  SetBlobHandle(field_no, record_buffer, handle);
  if (old_handle != 0 && FUnpostedBlobs.count(old_handle) != 0) FreeBlob(old_handle);
}

void TORBMemoryTableData::FreeDirectBlobData(int32_t, int32_t, uint8_t*) {}

}  // namespace orb
