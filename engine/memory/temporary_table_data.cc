#include "engine/memory/temporary_table_data.h"

#include <algorithm>

#include "engine/base/orb_exception.h"
#include "engine/base/record_layout.h"
#include "engine/base/stream_memory.h"
#include "engine/base/stream_temporary.h"
#include "engine/data/database_data.h"
#include "engine/data/index_manager.h"
#include "engine/memory/table_index_factory.h"
#include "engine/platform/byte_order.h"

namespace orb {

TORBTemporaryTableData::TORBTemporaryTableData(TORBDatabaseData* database_data, std::u16string table_name,
                                               int32_t records_per_page, int32_t alloc_records_by)
    : TORBTableData(database_data, std::move(table_name)),
      FRecordsPerPage(records_per_page),
      FAllocRecordsBy(alloc_records_by) {}

TORBTemporaryTableData::~TORBTemporaryTableData() {
  try {
    TORBTableDataLock lock(this);
    if (FRecordManager != nullptr) EmptyTable(nullptr);
    if (FIndexManager != nullptr) DeleteAllIndexes(nullptr);
    if (FPageManager != nullptr) FPageManager->ApplyChanges(TORBPageManager::kSystemSession);
  } catch (...) {
  }
  FIndexManager.reset();
  FPageManager = nullptr;
}

TORBTemporaryRecordManager* TORBTemporaryTableData::TemporaryRecordManager() const {
  return static_cast<TORBTemporaryRecordManager*>(FRecordManager.get());
}

void TORBTemporaryTableData::CreateRecordManager() {
  FRecordManager = std::make_unique<TORBTemporaryRecordManager>(
      FFieldManager != nullptr && FFieldManager->FieldDefs().GetCount() > 0 ? FFieldManager->GetMemoryRecordBufferSize()
                                                                          : 0,
      FRecordsPerPage, FAllocRecordsBy, FDisableTempFiles, FMaxCachedRecordCount);
}

void TORBTemporaryTableData::ApplyChanges(int32_t /*session_id*/, bool /*in_transaction*/) {
  if (FPageManager != nullptr) FPageManager->ApplyChanges(0);
}

// As for in-memory tables: index pages below the budget are changed in
// place, and a failed insert has already been undone entry by entry, so its
// pages are kept rather than dropped under the trees that point to them.
void TORBTemporaryTableData::CancelChanges(int32_t /*session_id*/, bool /*in_transaction*/) {
  if (FPageManager != nullptr) FPageManager->ApplyChanges(0);
}

void TORBTemporaryTableData::CreateIndexManager(const TORBIndexDefs& index_defs) {
  FIndexManager = std::make_unique<TORBBaseIndexManager>(this, FPageManager);
  TORBTableData::CreateIndexManager(index_defs);
}

void TORBTemporaryTableData::CreateTable(TORBCursorInterface* cursor, const TORBFieldDefs& field_defs,
                                         const TORBIndexDefs& index_defs, const TORBConstraintDefs& constraint_defs) {
  TORBTableDataLock lock(this);
  if (field_defs.GetCount() == 0) RaiseORB(kErrTemporaryNoFields, "Error creating table - no fields were specified");
  FTableName = cursor->GetTableName();
  FDisableTempFiles = cursor->GetDisableTempFiles();
  // The index manager keeps the page manager it was made with: a new page
  // manager needs a new index manager.
  FIndexManager.reset();
  FTemporaryPageManager = std::make_unique<TORBTemporaryPageManager>(FDisableTempFiles, FMaxMemoryPageCount);
  FPageManager = FTemporaryPageManager.get();
  CreateFieldManager(field_defs);
  CreateIndexManager(index_defs);
  CreateConstraintManager(constraint_defs);
  CreateRecordManager();
  InitCursor(cursor);
  CreateBLOBFile();
  try {
    FIndexManager->CreateIndexesByIndexDefs(cursor);
  } catch (...) {
    try {
      if (FPageManager != nullptr) FPageManager->CancelChanges(0);
    } catch (...) {
    }
    throw;
  }
  ApplyChanges(0, false);
}

void TORBTemporaryTableData::CreateBLOBFile() {
  FBLOBFile.reset();
  if (FFieldManager == nullptr || !FFieldManager->BlobFieldsPresent()) return;
  if (FDisableTempFiles)
    FBLOBFile = std::make_unique<TORBMemoryStream>(kBLOBFileMemorySize);
  else
    FBLOBFile = std::make_unique<TORBTemporaryStream>(false);
}

void TORBTemporaryTableData::DeleteTable(TORBCursorInterface* cursor, bool design_mode) {
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

void TORBTemporaryTableData::EmptyTable(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  TORBTableData::EmptyTable(cursor);
  if (FRecordManager != nullptr) FRecordManager->Empty(TORBPageManager::kSystemSession);
  ApplyChanges(0, false);
  // A fresh BLOB file: the old entries are gone with the records, and the
  // table stays usable for BLOB writes.
  CreateBLOBFile();
}

int32_t TORBTemporaryTableData::AddIndex(const TORBIndexDef& index_def, TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  int32_t index_id = -1;
  try {
    index_id = TORBTableData::AddIndex(index_def, cursor);
  } catch (...) {
    try {
      if (FPageManager != nullptr) FPageManager->CancelChanges(0);
    } catch (...) {
    }
    throw;
  }
  ApplyChanges(0, false);
  return index_id;
}

void TORBTemporaryTableData::DeleteIndex(int32_t index_id, TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  TORBTableData::DeleteIndex(index_id, cursor);
  ApplyChanges(0, false);
}

int64_t TORBTemporaryTableData::GetBitmapRecordCount(int32_t /*session_id*/) {
  if (FRecordManager == nullptr) RaiseORB(kErrTemporaryNoRecordManager, kMsgNilPointer);
  return FRecordManager->FRecordCount;
}

int64_t TORBTemporaryTableData::GetBitmapRecNoByRecordID(const TORBPageItemID& record_id) {
  return TORBTemporaryRecordManager::IndexOf(record_id);
}

TORBPageItemID TORBTemporaryTableData::GetRecordIDByBitmapRecNo(int64_t bit_no) {
  return TORBTemporaryRecordManager::IDOf(bit_no);
}

bool TORBTemporaryTableData::InsertRecord(TORBCursorInterface* cursor) {
  if (FRecordManager == nullptr) RaiseORB(10134, kMsgNilPointer);
  if (cursor->GetCurrentRecordBuffer() == nullptr) RaiseORB(10135, kMsgNilPointer);
  return TORBTableData::InsertRecord(cursor);
}

bool TORBTemporaryTableData::UpdateRecord(TORBCursorInterface* /*cursor*/) { return false; }

bool TORBTemporaryTableData::DeleteRecord(TORBCursorInterface* /*cursor*/) { return false; }

TORBPageItemID TORBTemporaryTableData::InternalSetRecNo(int32_t /*session_id*/, int64_t rec_no) {
  if (FRecordManager == nullptr) RaiseORB(10136, kMsgNilPointer);
  return TORBTemporaryRecordManager::IDOf(rec_no < 2 ? 0 : rec_no - 1);
}

int64_t TORBTemporaryTableData::InternalGetRecNo(int32_t /*session_id*/, const TORBPageItemID& record_id) {
  if (FRecordManager == nullptr) RaiseORB(10137, kMsgNilPointer);
  const int64_t index = TORBTemporaryRecordManager::IndexOf(record_id);
  return index < FRecordManager->FRecordCount ? index + 1 : -1;
}

int64_t TORBTemporaryTableData::InternalGetRecordCount(int32_t /*session_id*/) {
  if (FRecordManager == nullptr) RaiseORB(kErrTemporaryNoRecordManager, kMsgNilPointer);
  return FRecordManager->FRecordCount;
}

std::unique_ptr<TORBIndex> TORBTemporaryTableData::CreateIndexObject(const TORBIndexDef& index_def) {
  return CreateTableIndex(index_def, FIndexManager.get());
}

// ---------------------------------------------------------------------------
// BLOB values

const TORBFieldDef& TORBTemporaryTableData::BlobField(int32_t field_no) const {
  const TORBFieldDefs& defs = FFieldManager->FieldDefs();
  if (field_no < 0 || field_no >= defs.GetCount())
    RaiseORB(kErrTemporaryBlobFileMissing, kMsgInvalidFieldNumber, {field_no, defs.GetCount()});
  return *defs.GetDef(field_no);
}

void TORBTemporaryTableData::SetBlobOffset(int32_t field_no, uint8_t* record_buffer, int64_t offset) {
  if (offset < 0) {
    SetNullFlag(true, field_no, record_buffer);
    return;
  }
  uint8_t* slot = record_buffer + BlobField(field_no).FMemoryOffset;
  std::fill_n(slot, 14, uint8_t{0});
  StoreI64LE(slot, offset);
  SetNullFlag(false, field_no, record_buffer);
}

int64_t TORBTemporaryTableData::AppendBlob(const TORBPartialBLOBDescriptor& descriptor, const uint8_t* stored_form,
                                           int64_t size) {
  const int64_t position = FBLOBFile->Seek(0, soEnd);
  uint8_t head[TORBPartialTemporaryBLOBDescriptor::kSize];
  TORBPartialTemporaryBLOBDescriptor entry;
  entry.NumBlocks = descriptor.NumBlocks;
  entry.UncompressedSize = descriptor.UncompressedSize;
  entry.CompressedSize = size;
  entry.SaveTo(head);
  try {
    SaveDataToStream(head, sizeof head, *FBLOBFile, kErrTemporaryBlobWrite);
    if (size > 0) SaveDataToStream(stored_form, size, *FBLOBFile, kErrTemporaryBlobWrite);
  } catch (...) {
    // No half entry stays behind.
    try {
      FBLOBFile->SetSize(position);
    } catch (...) {
    }
    throw;
  }
  return position;
}

TORBStoredBLOB TORBTemporaryTableData::ReadBlob(int64_t offset) {
  SetStreamPosition(*FBLOBFile, offset, kErrTemporaryBlobSeek);
  uint8_t head[TORBPartialTemporaryBLOBDescriptor::kSize];
  LoadDataFromStream(head, sizeof head, *FBLOBFile, kErrTemporaryBlobRead);
  const TORBPartialTemporaryBLOBDescriptor entry = TORBPartialTemporaryBLOBDescriptor::LoadFrom(head);
  const int64_t available = FBLOBFile->GetSize() - offset - static_cast<int64_t>(sizeof head);
  if (entry.CompressedSize < 0 || entry.CompressedSize > available)
    RaiseORB(kErrTemporaryBlobEntry, "Invalid BLOB entry at %d. Stored size = %d, bytes left = %d",
             {static_cast<long long>(offset), static_cast<long long>(entry.CompressedSize),
              static_cast<long long>(available)});
  TORBStoredBLOB stored;
  stored.Descriptor.NumBlocks = entry.NumBlocks;
  stored.Descriptor.UncompressedSize = entry.UncompressedSize;
  stored.StoredForm.resize(static_cast<size_t>(entry.CompressedSize));
  if (entry.CompressedSize > 0)
    LoadDataFromStream(stored.StoredForm.data(), entry.CompressedSize, *FBLOBFile, kErrTemporaryBlobRead);
  return stored;
}

void TORBTemporaryTableData::WriteBLOBFieldToRecordBuffer(int32_t /*session_id*/, int32_t field_no, TStream& source,
                                                          uint8_t* record_buffer) {
  TORBTableDataLock lock(this);
  if (FBLOBFile == nullptr) RaiseORB(kErrTemporaryBlobFileMissing, kMsgNilPointer);
  const TORBFieldDef& field = BlobField(field_no);
  if (source.GetSize() == 0) {
    SetNullFlag(true, field_no, record_buffer);
    return;
  }
  const TORBStoredBLOB stored = CompressBLOB(field, source);
  SetBlobOffset(field_no, record_buffer,
                AppendBlob(stored.Descriptor, stored.StoredForm.data(), static_cast<int64_t>(stored.StoredForm.size())));
}

std::unique_ptr<TStream> TORBTemporaryTableData::InternalCreateBlobStream(TORBCursorInterface* /*cursor*/,
                                                                          int32_t field_no, uint8_t* record_buffer,
                                                                          bool for_writing) {
  TORBTableDataLock lock(this);
  if (FBLOBFile == nullptr) RaiseORB(10140, kMsgNilPointer);
  const TORBFieldDef& field = BlobField(field_no);
  if (for_writing || record_buffer == nullptr || CheckNullFlag(field_no, record_buffer))
    return OpenBLOBStream(field, nullptr);
  const TORBStoredBLOB stored = ReadBlob(LoadI64LE(record_buffer + field.FMemoryOffset));
  return OpenBLOBStream(field, &stored);
}

std::vector<uint8_t> TORBTemporaryTableData::GetDirectBlobData(int32_t /*session_id*/, int32_t field_no,
                                                               const uint8_t* record_buffer) {
  TORBTableDataLock lock(this);
  if (CheckNullFlag(field_no, record_buffer)) return {};
  if (FBLOBFile == nullptr) RaiseORB(kErrTemporaryBlobFileMissing, kMsgNilPointer);
  const TORBStoredBLOB stored = ReadBlob(LoadI64LE(record_buffer + BlobField(field_no).FMemoryOffset));
  return PackDirectBLOB(stored.Descriptor, stored.StoredForm.data(), static_cast<int64_t>(stored.StoredForm.size()));
}

void TORBTemporaryTableData::SetDirectBlobData(int32_t /*session_id*/, int32_t field_no, uint8_t* record_buffer,
                                               const std::vector<uint8_t>& data) {
  TORBTableDataLock lock(this);
  if (FBLOBFile == nullptr) RaiseORB(10506, kMsgNilPointer);
  BlobField(field_no);
  TORBStoredBLOB stored;
  if (!UnpackDirectBLOB(data, stored)) {
    SetNullFlag(true, field_no, record_buffer);
    return;
  }
  SetBlobOffset(field_no, record_buffer,
                AppendBlob(stored.Descriptor, stored.StoredForm.data(), static_cast<int64_t>(stored.StoredForm.size())));
}

void TORBTemporaryTableData::FreeDirectBlobData(int32_t, int32_t, uint8_t*) {}

}  // namespace orb
