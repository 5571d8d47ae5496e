#include "engine/cursor/local_cursor.h"

#include <algorithm>
#include <cstring>

#include "engine/base/error_codes.h"
#include "engine/base/field_manager.h"
#include "engine/base/orb_exception.h"
#include "engine/base/record_layout.h"
#include "engine/cursor/disk_table_locks.h"
#include "engine/cursor/session_autoinc.h"
#include "engine/data/constraint_manager.h"
#include "engine/data/database_data.h"
#include "engine/data/index.h"
#include "engine/data/index_manager.h"
#include "engine/data/scan_condition.h"
#include "engine/data/table_data.h"
#include "engine/disk/disk_database_data.h"
#include "engine/memory/temporary_table_data.h"
#include "engine/platform/clock.h"
#include "engine/platform/text_case.h"
#include "engine/session/local_session.h"
#include "engine/table/memory_manager.h"

namespace orb {

namespace {

constexpr std::string_view kMsgTableNotFound = "Table '%s' not found";
constexpr std::string_view kMsgTableNotFoundName = "Table not found, table name = %s";

// Holds the database data's lock for a scope.
class TDatabaseDataGuard {
 public:
  explicit TDatabaseDataGuard(TORBDatabaseData* data) : FData(data) { FData->Lock(); }
  ~TDatabaseDataGuard() { FData->Unlock(); }
  TDatabaseDataGuard(const TDatabaseDataGuard&) = delete;
  TDatabaseDataGuard& operator=(const TDatabaseDataGuard&) = delete;

 private:
  TORBDatabaseData* FData;
};

// A record buffer of the memory manager, freed with the scope.
class TScratchBuffer {
 public:
  explicit TScratchBuffer(int32_t size) : FBuffer(MemoryManager().AllocMem(static_cast<size_t>(std::max(size, 1)))) {}
  ~TScratchBuffer() { MemoryManager().FreeAndNillMem(FBuffer); }
  TScratchBuffer(const TScratchBuffer&) = delete;
  TScratchBuffer& operator=(const TScratchBuffer&) = delete;
  uint8_t* Get() const { return FBuffer; }

 private:
  uint8_t* FBuffer;
};

bool IsBlobType(TORBBaseFieldType type) { return type == bftBlob || type == bftClob || type == bftWideClob; }

}  // namespace

TORBLocalCursor::~TORBLocalCursor() {
  try {
    CloseTable();
  } catch (...) {
  }
}

// ---------------------------------------------------------------------------
// Opening and closing

TORBDatabaseData* TORBLocalCursor::AcquireDatabaseData() {
  auto* session = dynamic_cast<TORBLocalSession*>(FSession);
  TORBDatabaseData* data = session != nullptr ? session->DatabaseData() : nullptr;
  if (data == nullptr) RaiseORB(kErrCursorNoDatabase, "Cursor has no connected session. Table: '%s'", {FTableName});
  FDatabaseData = data;
  return data;
}

void TORBLocalCursor::OpenTableByFieldDefs(const TORBFieldDefs& field_defs, const TORBIndexDefs& index_defs,
                                           const TORBConstraintDefs& constraint_defs) {
  if (FIsOpen) return;
  TORBDatabaseData* data = AcquireDatabaseData();
  TDatabaseDataGuard guard(data);
  TORBTableData* table = data->FindTableData(this);
  if (table == nullptr) {
    if (dynamic_cast<TORBDiskDatabaseData*>(data) != nullptr) {
      table = data->FindOrCreateTableData(this);
    } else {
      if (!FIsDesignMode) RaiseORB(kErrOpenTableNotFound, kMsgTableNotFoundName, {FTableName});
      table = data->FindOrCreateTableData(this);
      table->CreateTable(this, field_defs, index_defs, constraint_defs);
    }
  }
  OpenTable(table);
}

void TORBLocalCursor::OpenTable(TORBTableData* table_data) {
  if (FIsOpen) return;
  FDatabaseData = table_data->DatabaseData();
  TDatabaseDataGuard guard(FDatabaseData);
  FTableData = table_data;
  FIsTemporary = dynamic_cast<const TORBTemporaryTableData*>(table_data) != nullptr;
  // A database that this process may only read makes every table of it
  // read-only, whatever the opener asked for.
  if (FDatabaseData->FReadOnly) FReadOnly = true;
  try {
    FTableData->FIsRepairing = FIsRepairing;
    FTableData->OpenTable(this);
    FFirstPosition = true;
    FLastPosition = false;
    FIndexDefs.Assign(FTableData->IndexManager()->IndexDefs());
    FBLOBStreams.clear();
    FRecordBitmap = std::make_unique<TORBRecordBitmap>(FTableData);
    InternalInitFieldDefs();
    if (!FIndexName.empty()) SetIndexName(FIndexName);
    SetTableLocks(TORBDiskTableLocks::ForTable(FTableData, *this, FSession != nullptr && FSession->GetMultiUser()));
  } catch (...) {
    FTableData->CloseTable(this);
    FTableData = nullptr;
    FRecordBitmap.reset();
    throw;
  }
  FIsOpen = true;
}

void TORBLocalCursor::InternalInitFieldDefs() {
  FFieldDefs.Assign(FTableData->FieldManager()->FieldDefs());
  FFieldDefs.RecalcFieldOffsets();
  for (int32_t i = 0; i < FFieldDefs.GetCount(); ++i) FFieldDefs.GetDef(i)->FFieldNoReference = i;
  ComputeBufferLayout();
  if (!FSettingProjection) {
    FVisibleFieldDefs.Assign(FFieldDefs);
    for (int32_t i = 0; i < FVisibleFieldDefs.GetCount(); ++i) {
      TORBFieldDef* def = FVisibleFieldDefs.GetDef(i);
      def->FMemoryOffset = FFieldDefs.GetDef(i)->FMemoryOffset;
      def->FDiskOffset = FFieldDefs.GetDef(i)->FDiskOffset;
      def->FFieldNoReference = i;
    }
  }
  FConstraintDefs.Assign(FTableData->ConstraintManager()->ConstraintDefs());
}

void TORBLocalCursor::CloseTable() {
  // A batch left open is dropped, as a disconnect drops a transaction.
  if (FTableData != nullptr && FBatchUpdate) CancelBatchUpdate();
  if (FTableData != nullptr) {
    TORBTableData* table = FTableData;
    TORBDatabaseData* data = table->DatabaseData();
    TDatabaseDataGuard guard(data);
    // Nothing is left to write into: every stream is dropped unwritten.
    while (!FBLOBStreams.empty()) DestroyStream(FBLOBStreams.back().get(), true);
    FTableLocks.reset();
    table->CloseTable(this);
    const bool disk = dynamic_cast<TORBDiskDatabaseData*>(data) != nullptr;
    FTableData = nullptr;
    if (FIsDesignMode && !disk)
      table->DeleteTable(this, true);
    else if (disk && table->CursorList().empty())
      data->FreeTableData(table);
  }
  FBLOBStreams.clear();
  FEditStart.clear();
  FRecordBitmap.reset();
  FFilterExpression.reset();
  FFieldDefs.Clear();
  if (!FSettingProjection) FVisibleFieldDefs.Clear();
  FIndexDefs.Clear();
  FConstraintDefs.Clear();
}

// ---------------------------------------------------------------------------
// Table management

template <typename Fn>
void TORBLocalCursor::ManageTable(Fn&& fn) {
  CloseTable();
  FIsOpen = false;
  TORBDatabaseData* data = AcquireDatabaseData();
  TDatabaseDataGuard guard(data);
  try {
    fn(data);
  } catch (...) {
    CloseTable();
    throw;
  }
  CloseTable();
}

bool TORBLocalCursor::InternalTableExists() { return FDatabaseData->TableExists(FTableName); }

void TORBLocalCursor::CreateTable(const TORBFieldDefs& field_defs, const TORBIndexDefs& index_defs,
                                  const TORBConstraintDefs& constraint_defs) {
  ManageTable([&](TORBDatabaseData* data) {
    if (data->FReadOnly)
      RaiseORB(kErrCreateTableReadOnly, "Cannot create table '%s'. Database is open read-only", {FTableName});
    // An engine that stores tables replaces a stored one in the same
    // commit that creates the new one, so a failed create keeps the old
    // data; only a table data already in hand is deleted first.
    if (TORBTableData* old = data->FindTableData(this)) old->DeleteTable(this, false);
    TORBTableData* table = data->FindOrCreateTableData(this);
    if (table == nullptr) RaiseORB(kErrCreateTableNoData, kMsgPointerIsNil);
    table->CreateTable(this, field_defs, index_defs, constraint_defs);
  });
}

void TORBLocalCursor::DeleteTable() {
  ManageTable([&](TORBDatabaseData* data) {
    if (data->FReadOnly)
      RaiseORB(kErrDeleteTableReadOnly, "Cannot delete table '%s'. Database is open read-only", {FTableName});
    if (!InternalTableExists()) RaiseORB(kErrDeleteTableNotFound, kMsgTableNotFound, {FTableName});
    TORBTableData* table = data->FindOrCreateTableData(this);
    if (table == nullptr) RaiseORB(kErrDeleteTableNoData, kMsgTableNotFoundName, {FTableName});
    // A stored table that no cursor has open has no fields loaded (the
    // engine opens it itself to delete it); the session then holds no
    // values of its fields either.
    if (FSession != nullptr && table->FieldManager() != nullptr) {
      const TORBFieldDefs& fields = table->FieldManager()->FieldDefs();
      for (int32_t i = 0; i < fields.GetCount(); ++i) FSession->DeleteObject(fields.GetDef(i)->FObjectID);
    }
    table->DeleteTable(this, false);
  });
}

void TORBLocalCursor::EmptyTable() {
  ManageTable([&](TORBDatabaseData* data) {
    if (data->FReadOnly)
      RaiseORB(kErrEmptyTableReadOnly, "Cannot empty table '%s'. Database is open read-only", {FTableName});
    if (!InternalTableExists()) RaiseORB(kErrEmptyTableNotFound, kMsgTableNotFound, {FTableName});
    TORBTableData* table = data->FindOrCreateTableData(this);
    if (table == nullptr) RaiseORB(kErrEmptyTableNoData, kMsgTableNotFoundName, {FTableName});
    table->EmptyTable(this);
  });
}

void TORBLocalCursor::RenameTable(const std::u16string& new_name) {
  ManageTable([&](TORBDatabaseData* data) {
    if (data->FReadOnly)
      RaiseORB(kErrRenameTableReadOnly, "Cannot rename table '%s'. Database is open read-only", {FTableName});
    if (!InternalTableExists()) RaiseORB(kErrRenameTableNotFound, kMsgTableNotFound, {FTableName});
    if (new_name == FTableName) RaiseORB(kErrRenameTableItself, "Cannot rename table '%s' into itself", {FTableName});
    if (UpperCaseW(new_name) != UpperCaseW(FTableName) && data->TableExists(new_name))
      RaiseORB(kErrRenameTableExists, "Table %s already exists", {new_name});
    TORBTableData* table = data->FindOrCreateTableData(this);
    if (table == nullptr) RaiseORB(kErrRenameTableNoData, kMsgTableNotFoundName, {FTableName});
    table->RenameTable(new_name, this);
    FTableName = new_name;
  });
}

void TORBLocalCursor::RenameField(const std::u16string& field_name, const std::u16string& new_field_name) {
  if (FTableData == nullptr) RaiseORB(kErrCursorNotOpen, "Table '%s' is not open", {FTableName});
  if (FDatabaseData->FReadOnly)
    RaiseORB(kErrRenameFieldReadOnly, "Cannot rename field '%s' of table '%s'. Database is open read-only",
             {field_name, FTableName});
  TORBTableDataLock lock(FTableData);
  FTableData->RenameField(field_name, new_field_name);
  InternalInitFieldDefs();
  RefreshDefs();
}

void TORBLocalCursor::RefreshDefs() {
  FIndexDefs.Assign(FTableData->IndexManager()->IndexDefs());
  FConstraintDefs.Assign(FTableData->ConstraintManager()->ConstraintDefs());
  const TORBIndexDef* def =
      FIndexName.empty() ? nullptr : FIndexDefs.GetIndexDefByName(std::u16string_view(FIndexName));
  FIndexID = def != nullptr ? def->FObjectID : -1;
}

TORBIndexDefs& TORBLocalCursor::GetIndexDefs() {
  if (FTableData != nullptr) {
    TORBTableDataLock lock(FTableData);
    FIndexDefs.Assign(FTableData->IndexManager()->IndexDefs());
  }
  return FIndexDefs;
}

void TORBLocalCursor::AddIndex(const TORBIndexDef& index_def) {
  if (FTableData == nullptr) RaiseORB(kErrCursorNotOpen, "Table '%s' is not open", {FTableName});
  if (FDatabaseData->FReadOnly)
    RaiseORB(kErrAddIndexReadOnly, "Cannot create index '%s' of table '%s'. Database is open read-only",
             {index_def.GetName(), FTableName});
  if (FIndexDefs.GetIndexDefByName(index_def.GetName()) != nullptr)
    RaiseORB(kErrAddIndexExists, "Cannot create index '%s'. Index already exists", {index_def.GetName()});
  TORBTableDataLock lock(FTableData);
  FTableData->AddIndex(index_def, this);
  RefreshDefs();
}

void TORBLocalCursor::DeleteIndex(const std::u16string& index_name) {
  if (FTableData == nullptr) RaiseORB(kErrCursorNotOpen, "Table '%s' is not open", {FTableName});
  if (FDatabaseData->FReadOnly)
    RaiseORB(kErrDeleteIndexReadOnly, "Cannot delete index '%s' of table '%s'. Database is open read-only",
             {index_name, FTableName});
  const TORBIndexDef* def = FIndexDefs.GetIndexDefByName(std::u16string_view(index_name));
  if (def == nullptr) RaiseORB(kErrDeleteIndexNotFound, "Cannot delete index '%s'. Index not found", {index_name});
  TORBTableDataLock lock(FTableData);
  const int32_t index_id = def->FObjectID;
  if (index_id == FIndexID) SetIndexName(u"");
  FTableData->DeleteIndex(index_id, this);
  RefreshDefs();
}

void TORBLocalCursor::DeleteAllIndexes() {
  if (FTableData == nullptr) RaiseORB(kErrCursorNotOpen, "Table '%s' is not open", {FTableName});
  if (FDatabaseData->FReadOnly)
    RaiseORB(kErrDeleteAllIndexesReadOnly, "Cannot delete the indexes of table '%s'. Database is open read-only",
             {FTableName});
  TORBTableDataLock lock(FTableData);
  SetIndexName(u"");
  FTableData->DeleteAllIndexes(this);
  RefreshDefs();
}

namespace {

// Projection aliases stand for their physical fields.
std::vector<std::u16string> PhysicalNames(const TORBFieldDefs& fields, const TORBFieldDefs& visible,
                                          const std::vector<std::u16string>& names) {
  std::vector<std::u16string> result = names;
  for (std::u16string& name : result) {
    if (fields.GetDefNumberByName(std::u16string_view(name)) >= 0) continue;
    const int32_t v = visible.GetDefNumberByName(std::u16string_view(name));
    if (v >= 0) name = fields.GetDef(visible.GetDef(v)->FFieldNoReference)->GetWideName();
  }
  return result;
}

}  // namespace

std::u16string TORBLocalCursor::FindOrCreateIndex(const std::vector<std::u16string>& field_names,
                                                  const std::vector<std::u16string>& asc_desc_list,
                                                  const std::vector<std::u16string>& case_sensitivity_list,
                                                  bool& is_created) {
  if (FTableData == nullptr) RaiseORB(kErrCursorNotOpen, "Table '%s' is not open", {FTableName});
  TORBTableDataLock lock(FTableData);
  std::u16string name =
      FTableData->FindOrCreateIndex(this, PhysicalNames(FFieldDefs, FVisibleFieldDefs, field_names), asc_desc_list,
                                    case_sensitivity_list, is_created);
  FIndexDefs.Assign(FTableData->IndexManager()->IndexDefs());
  return name;
}

bool TORBLocalCursor::IndexExists(const std::vector<std::u16string>& field_names,
                                  const std::vector<std::u16string>& asc_desc_list,
                                  const std::vector<std::u16string>& case_sensitivity_list) {
  if (FTableData == nullptr) RaiseORB(kErrCursorNotOpen, "Table '%s' is not open", {FTableName});
  TORBTableDataLock lock(FTableData);
  return FTableData->IndexExists(this, PhysicalNames(FFieldDefs, FVisibleFieldDefs, field_names), asc_desc_list,
                                 case_sensitivity_list);
}

// ---------------------------------------------------------------------------
// Locks

void TORBLocalCursor::LockTableData() {
  if (FTableData == nullptr) RaiseORB(kErrLockTableDataNil, kMsgNilPointer);
  FTableData->Lock();
}

void TORBLocalCursor::UnlockTableData() {
  if (FTableData == nullptr) RaiseORB(kErrUnlockTableDataNil, kMsgNilPointer);
  FTableData->Unlock();
}

bool TORBLocalCursor::LockTable(TORBLockType type, int32_t try_count, int32_t delay_ms,
                                bool allow_exclusive_after_shared) {
  if (FTableData == nullptr) RaiseORB(kErrLockTableNil, kMsgPointerIsNil);
  if (FTableLocks == nullptr) return true;
  for (int32_t i = 0; i < std::max(try_count, 1); ++i) {
    if (i > 0 && delay_ms > 0) SleepMs(delay_ms);
    if (FTableLocks->LockTable(type, allow_exclusive_after_shared)) return true;
  }
  return false;
}

bool TORBLocalCursor::UnlockTable(TORBLockType type, bool ignore_if_not_locked) {
  if (FTableData == nullptr) RaiseORB(kErrUnlockTableNil, kMsgPointerIsNil);
  if (FTableLocks == nullptr) return true;
  return FTableLocks->UnlockTable(type, ignore_if_not_locked);
}

// ---------------------------------------------------------------------------
// Records and fields

void TORBLocalCursor::InternalInitRecord(uint8_t* buffer, bool inserting) {
  const int32_t count = FFieldDefs.GetCount();
  const int32_t bitmap = GetNullBitmapSize(count);
  std::memset(buffer, 0xFF, static_cast<size_t>(bitmap));
  if (FBookmarkOffset > bitmap) std::memset(buffer + bitmap, 0, static_cast<size_t>(FBookmarkOffset - bitmap));
  if (inserting && FTableData != nullptr && !IsTemporaryTable()) {
    TORBTableDataLock lock(FTableData);
    TORBSessionAutoinc session(FSession);
    FTableData->FieldManager()->ApplyDefaultValuesToRecordBuffer(&session, buffer);
  }
}

void TORBLocalCursor::FreeRecordBuffer(uint8_t*& buffer) {
  if (buffer == nullptr) return;
  // Streams opened on this buffer would write into freed memory.
  std::vector<TORBLocalBLOBStream*> on_buffer;
  for (const auto& stream : FBLOBStreams)
    if (stream->RecordBuffer() == buffer) on_buffer.push_back(stream.get());
  for (TORBLocalBLOBStream* stream : on_buffer) DestroyStream(stream, true);
  if (FTableData != nullptr) FTableData->ClearBlobsCacheInRecordBuffer(buffer);
  TORBCursor::FreeRecordBuffer(buffer);
}

void TORBLocalCursor::CopyFieldValue(int32_t source_field_no, bool direct, int32_t dest_field_no,
                                     TORBCursor& dest_cursor) {
  const TORBFieldDef& source = FieldOf(source_field_no, direct, kErrCopyFieldSourceNo);
  const int32_t source_physical = direct ? source_field_no : PhysicalFieldNo(source_field_no);
  if (dest_field_no < 0 || dest_field_no >= dest_cursor.VisibleFieldCount())
    RaiseORB(kErrCopyFieldDestNo, kMsgInvalidFieldNumber, {dest_field_no, dest_cursor.VisibleFieldCount()});
  const int32_t dest_physical = dest_cursor.PhysicalFieldNo(dest_field_no);
  const TORBFieldDef& dest = *dest_cursor.FFieldDefs.GetDef(dest_physical);
  uint8_t* dest_buffer = dest_cursor.FCurrentRecordBuffer;
  if (CheckNullFlag(source_physical, FCurrentRecordBuffer)) {
    SetNullFlag(true, dest_physical, dest_buffer);
    return;
  }
  const bool source_blob = IsBlobType(source.FBaseFieldType);
  if (source_blob && IsBlobType(dest.FBaseFieldType)) {
    auto* dest_local = dynamic_cast<TORBLocalCursor*>(&dest_cursor);
    if (dest_local == nullptr || dest_local->FTableData == nullptr)
      RaiseORB(kErrCursorNotOpen, "Table '%s' is not open", {dest_cursor.FTableName});
    std::vector<uint8_t> data = FTableData->GetDirectBlobData(GetSessionID(), source_physical, FCurrentRecordBuffer);
    dest_local->FTableData->SetDirectBlobData(dest_cursor.GetSessionID(), dest_physical, dest_buffer, data);
    return;
  }
  if (!source_blob && source.FBaseFieldType == dest.FBaseFieldType &&
      source.FMemoryDataSize == dest.FMemoryDataSize) {
    std::memcpy(dest_buffer + dest.FMemoryOffset, FCurrentRecordBuffer + source.FMemoryOffset,
                static_cast<size_t>(source.FMemoryDataSize));
    SetNullFlag(false, dest_physical, dest_buffer);
    return;
  }
  TORBVariant value;
  GetFieldValue(value, source_field_no, direct);
  dest_cursor.SetFieldValue(value, dest_field_no, false);
}

int64_t TORBLocalCursor::LastAutoincValue(int32_t field_no) {
  if (FTableData == nullptr) RaiseORB(kErrCursorNotOpen, "Table '%s' is not open", {FTableName});
  TORBTableDataLock lock(FTableData);
  // A visible field number, mapped to its physical field under a
  // projection.
  if (field_no < 0 || field_no >= FVisibleFieldDefs.GetCount())
    RaiseORB(kErrAutoincFieldNoUpdate, "Field #%d not found", {field_no});
  TORBSessionAutoinc session(FSession);
  return FTableData->LastAutoincValue(&session, PhysicalFieldNo(field_no));
}

// ---------------------------------------------------------------------------
// Navigation

void TORBLocalCursor::InternalFirst() {
  FFirstPosition = true;
  FLastPosition = false;
}

void TORBLocalCursor::InternalLast() {
  FFirstPosition = false;
  FLastPosition = true;
}

TORBGetRecordResult TORBLocalCursor::GetRecordBuffer(TORBGetRecordMode mode) {
  // The table data takes its lock for the read; what follows touches only
  // this cursor's own buffer.
  if (FTableData == nullptr) RaiseORB(kErrLockTableDataNil, kMsgNilPointer);
  const TORBGetRecordResult result = FTableData->GetRecordBuffer(this, mode);
  if (result == grrOK && FCurrentRecordBuffer != nullptr) {
    SetBookmark(FCurrentRecordBuffer, FCurrentRecordID);
    SetBookmarkFlag(FCurrentRecordBuffer, bfCurrent);
  }
  return result;
}

int64_t TORBLocalCursor::GetRecordCount() {
  TTableDataScope lock(*this);
  return FTableData->GetRecordCount(this);
}

int64_t TORBLocalCursor::GetRecNo() {
  TTableDataScope lock(*this);
  return FTableData->GetRecNo(this);
}

void TORBLocalCursor::SetRecNo(int64_t rec_no) {
  TTableDataScope lock(*this);
  FTableData->SetRecNo(this, rec_no);
}

int TORBLocalCursor::CompareRecordsOrder(const TORBPageItemID& record_id1, const TORBPageItemID& record_id2) {
  TTableDataScope lock(*this);
  if (FIndexID != -1) {
    TScratchBuffer buffer1(FRecordBufferSize);
    TScratchBuffer buffer2(FRecordBufferSize);
    if (FTableData->ReadRecordByID(GetSessionID(), record_id1, buffer1.Get()) != grrOK) return -1;
    if (FTableData->ReadRecordByID(GetSessionID(), record_id2, buffer2.Get()) != grrOK) return 1;
    TORBIndex* index = FTableData->IndexManager()->OpenIndex(FIndexID);
    const int result =
        index->CompareRecordBuffersByIndex(buffer1.Get(), buffer2.Get(), index->IndexDef().GetColumnCount());
    if (result != 0) return result < 0 ? -1 : 1;
  }
  if (record_id1.PageNo != record_id2.PageNo) return record_id1.PageNo < record_id2.PageNo ? -1 : 1;
  if (record_id1.PageItemNo != record_id2.PageItemNo) return record_id1.PageItemNo < record_id2.PageItemNo ? -1 : 1;
  return 0;
}

bool TORBLocalCursor::Locate(const std::u16string& key_field_names, const std::vector<TORBVariant>& key_values,
                             bool case_insensitive, bool partial_key) {
  TTableDataScope lock(*this);
  TORBExpression expression;
  expression.ParseForLocate(this, key_field_names, key_values, case_insensitive, partial_key);
  const bool found = FTableData->Locate(this, &expression);
  if (found && FCurrentRecordBuffer != nullptr) {
    SetBookmark(FCurrentRecordBuffer, FCurrentRecordID);
    SetBookmarkFlag(FCurrentRecordBuffer, bfCurrent);
  }
  return found;
}

bool TORBLocalCursor::FindKey(TORBSearchCondition condition, int32_t key_field_count, bool partial_compare) {
  TTableDataScope lock(*this);
  TORBScanCondition scan;
  scan.Condition = condition;
  scan.KeyRecordBuffer = FKeyBuffer;
  scan.KeyRecordBufferSize = FKeyBufferSize;
  scan.KeyFieldCount = key_field_count;
  scan.IndexID = FIndexID;
  scan.PartialCompare = partial_compare;
  if (!FTableData->FindKey(this, scan)) return false;
  if (FCurrentRecordBuffer != nullptr) {
    SetBookmark(FCurrentRecordBuffer, FCurrentRecordID);
    SetBookmarkFlag(FCurrentRecordBuffer, bfCurrent);
  }
  return true;
}

bool TORBLocalCursor::IsAnyRecordMatchCondition(const std::u16string& field_name, TORBDataOperator op,
                                                const TORBVariant& value) {
  TTableDataScope lock(*this);
  TORBExpression expression;
  expression.ParseForIsAnyRecordMatchCondition(this, field_name, op, value);
  // A search of the view that leaves the cursor where it is.
  const TORBCursorPosition saved = SavePosition();
  uint8_t* saved_buffer = FCurrentRecordBuffer;
  TScratchBuffer scratch(FRecordBufferSize);
  FCurrentRecordBuffer = scratch.Get();
  bool found = false;
  try {
    found = FTableData->Locate(this, &expression);
  } catch (...) {
    FCurrentRecordBuffer = saved_buffer;
    RestorePosition(saved);
    throw;
  }
  FCurrentRecordBuffer = saved_buffer;
  RestorePosition(saved);
  return found;
}

// ---------------------------------------------------------------------------
// View restriction

void TORBLocalCursor::ActivateFilters(const std::u16string& filter_text, bool case_insensitive, bool partial_key) {
  auto expression = std::make_unique<TORBExpression>();
  expression->ParseForFilter(this, filter_text, case_insensitive, partial_key);
  FFilterExpression = std::move(expression);
  DisableRecordBitmap();
}

void TORBLocalCursor::DeactivateFilters() {
  FFilterExpression.reset();
  DisableRecordBitmap();
}

void TORBLocalCursor::ApplyDistinct(const std::vector<std::u16string>& field_names,
                                    const std::vector<std::u16string>& asc_desc_list,
                                    const std::vector<std::u16string>& case_sensitivity_list) {
  TTableDataScope lock(*this);
  bool is_created = false;
  const std::u16string name = FindOrCreateIndex(field_names, asc_desc_list, case_sensitivity_list, is_created);
  SetIndexName(name);
  FDistinctFieldCount = static_cast<int32_t>(field_names.size());
  DisableRecordBitmap();
}

}  // namespace orb
