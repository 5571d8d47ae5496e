#include "engine/data/table_data.h"

#include <algorithm>
#include <cassert>

#include "engine/base/orb_exception.h"
#include "engine/base/record_layout.h"
#include "engine/data/constraint_manager.h"
#include "engine/data/database_data.h"
#include "engine/data/index.h"
#include "engine/data/index_manager.h"
#include "engine/data/record_bitmap.h"
#include "engine/data/record_manager.h"
#include "engine/data/record_search.h"
#include "engine/data/scan_condition.h"
#include "engine/expr/expression.h"
#include "engine/platform/codepage.h"
#include "engine/platform/text_case.h"
#include "engine/table/page_manager.h"

namespace orb {

namespace {

// Points the cursor's current record buffer elsewhere for its lifetime.
class TBufferSwap {
 public:
  TBufferSwap(TORBCursorInterface* cursor, uint8_t* buffer)
      : FCursor(cursor), FSaved(cursor->GetCurrentRecordBuffer()) {
    FCursor->SetCurrentRecordBuffer(buffer);
  }
  ~TBufferSwap() { FCursor->SetCurrentRecordBuffer(FSaved); }
  TBufferSwap(const TBufferSwap&) = delete;
  TBufferSwap& operator=(const TBufferSwap&) = delete;

 private:
  TORBCursorInterface* FCursor;
  uint8_t* FSaved;
};

// Holds the cursor's distinct buffer for the duration of one navigation.
class TDistinctBufferHold {
 public:
  TDistinctBufferHold(TORBCursorInterface* cursor, uint8_t* buffer)
      : FCursor(cursor), FSaved(cursor->GetDistinctRecordBuffer()) {
    FCursor->SetDistinctRecordBuffer(buffer);
  }
  ~TDistinctBufferHold() { FCursor->SetDistinctRecordBuffer(FSaved); }
  TDistinctBufferHold(const TDistinctBufferHold&) = delete;
  TDistinctBufferHold& operator=(const TDistinctBufferHold&) = delete;

 private:
  TORBCursorInterface* FCursor;
  uint8_t* FSaved;
};

template <typename Def>
void GiveNewObjectIds(TORBDatabaseData* database_data, const Def& defs) {
  for (int32_t i = 0; i < defs.GetCount(); ++i) defs.GetDef(i)->FObjectID = database_data->GetNewObjectId();
}

}  // namespace

TORBTableData::TORBTableData(TORBDatabaseData* database_data, std::u16string table_name)
    : FDatabaseData(database_data), FTableName(std::move(table_name)) {}

TORBTableData::~TORBTableData() {
  FFieldManager.reset();
  FIndexManager.reset();
  FConstraintManager.reset();
  FRecordManager.reset();
}

void TORBTableData::Lock() {
  if (FDatabaseData != nullptr) FDatabaseData->Lock();
}

void TORBTableData::Unlock() {
  if (FDatabaseData != nullptr) FDatabaseData->Unlock();
}

void TORBTableData::CreateFieldManager(const TORBFieldDefs& field_defs) {
  if (FFieldManager == nullptr) FFieldManager = std::make_unique<TORBBaseFieldManager>(this);
  TORBFieldDefs& defs = FFieldManager->FieldDefs();
  defs.Assign(field_defs);
  GiveNewObjectIds(FDatabaseData, defs);
  FFieldManager->RecalcFieldOffsets();
  FFieldManager->InitLastAutoIncValues();
}

void TORBTableData::CreateIndexManager(const TORBIndexDefs& index_defs) {
  if (FIndexManager == nullptr) FIndexManager = std::make_unique<TORBBaseIndexManager>(this, nullptr);
  FIndexManager->CreateIndexDefs(index_defs);
  GiveNewObjectIds(FDatabaseData, FIndexManager->IndexDefs());
}

void TORBTableData::CreateConstraintManager(const TORBConstraintDefs& constraint_defs) {
  for (int32_t i = 0; i < constraint_defs.GetCount(); ++i) {
    const TORBConstraintType type = constraint_defs.GetDef(i)->GetConstraintType();
    if (type != ctPK && type != ctUnique && type != ctNotNull && type != ctCheck)
      RaiseORB(kErrUnsupportedConstraint, kMsgNotImplemented);
  }
  if (FConstraintManager == nullptr) FConstraintManager = std::make_unique<TORBBaseConstraintManager>(this);
  TORBConstraintDefs& defs = FConstraintManager->ConstraintDefs();
  defs.Assign(constraint_defs);
  const std::string table_name = WideToAnsi(FTableName);
  for (int32_t i = 0; i < defs.GetCount(); ++i) {
    TORBConstraintDef* def = defs.GetDef(i);
    def->FObjectID = FDatabaseData->GetNewObjectId();
    if (def->GetConstraintType() == ctPK || def->GetConstraintType() == ctUnique)
      static_cast<TORBConstraintDefUnique*>(def)->SetTableName(table_name);
    else
      static_cast<TORBConstraintDefNotNull*>(def)->SetTableName(table_name);
  }
  FConstraintManager->LinkObjectIds();
  FConstraintManager->FillConstraintAutoNames();
}

int32_t TORBTableData::GetRecordBufferSize() const {
  if (FFieldManager == nullptr || FFieldManager->FieldDefs().GetCount() == 0)
    RaiseORB(kErrNoFieldsSpecified, "Error creating table - no fields were specified");
  return FFieldManager->GetMemoryRecordBufferSize();
}

void TORBTableData::InitCursor(TORBCursorInterface* cursor) {
  const bool has_fields = FFieldManager != nullptr && FFieldManager->FieldDefs().GetCount() > 0;
  cursor->SetRecordBufferSize(has_fields ? GetRecordBufferSize() : 0);
  cursor->SetFieldValuesOffset(has_fields ? FFieldManager->FieldDefs().GetNullBitmapSize() : 0);
}

void TORBTableData::ApplyChanges(int32_t session_id, bool in_transaction) {
  if (!in_transaction && FPageManager != nullptr) FPageManager->ApplyChanges(session_id);
}

void TORBTableData::CancelChanges(int32_t session_id, bool in_transaction) {
  if (!in_transaction && FPageManager != nullptr) FPageManager->CancelChanges(session_id);
}

void TORBTableData::DeleteTable(TORBCursorInterface* /*cursor*/, bool design_mode) {
  TORBTableDataLock lock(this);
  if (!design_mode && !FCursorList.empty())
    RaiseORB(kErrDeleteOpenTable, "Cannot delete table '%s'. Table is open by another dataset", {FTableName});
}

void TORBTableData::EmptyTable(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  if (FFieldManager != nullptr) FFieldManager->InitLastAutoIncValues();
  if (FIndexManager != nullptr)
    FIndexManager->EmptyAllIndexes(cursor != nullptr ? cursor->GetSessionID() : TORBPageManager::kSystemSession);
}

void TORBTableData::RenameTable(const std::u16string& new_table_name, TORBCursorInterface* /*cursor*/) {
  TORBTableDataLock lock(this);
  if (!FCursorList.empty())
    RaiseORB(kErrRenameOpenTable, "Cannot rename table '%s'. Table is open by another dataset", {FTableName});
  FTableName = new_table_name;
}

void TORBTableData::OpenTable(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  if (std::find(FCursorList.begin(), FCursorList.end(), cursor) == FCursorList.end()) FCursorList.push_back(cursor);
}

void TORBTableData::CloseTable(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  std::erase(FCursorList, cursor);
}

void TORBTableData::RenameField(const std::u16string& field_name, const std::u16string& new_field_name) {
  TORBTableDataLock lock(this);
  TORBFieldDefs& defs = FFieldManager->FieldDefs();
  TORBFieldDef* field = defs.GetFieldDefByName(std::u16string_view(field_name));
  if (field == nullptr) RaiseORB(kErrRenameFieldNotFound, "Field '%s' not found", {field_name});
  TORBFieldDef* existing = defs.GetFieldDefByName(std::u16string_view(new_field_name));
  // A change of letter case alone renames the field to itself.
  if (existing != nullptr && existing != field)
    RaiseORB(kErrRenameFieldExists, "Cannot rename field '%s'. Field '%s' already exists",
             {field_name, new_field_name});
  field->SetName(std::u16string_view(new_field_name));
  if (FIndexManager != nullptr) FIndexManager->RenameField(field_name, new_field_name);
}

int32_t TORBTableData::AddIndex(const TORBIndexDef& index_def, TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  const TORBCursorPosition saved = cursor->SavePosition();
  int32_t index_id = -1;
  try {
    index_id = FIndexManager->CreateIndex(cursor, index_def);
    const TORBIndexDef* created = static_cast<TORBIndexDef*>(FIndexManager->IndexDefs().GetDefByObjectId(index_id));
    if (!created->FTemporary && !cursor->IsTemporary() && FConstraintManager != nullptr) {
      try {
        FConstraintManager->AddConstraintFromIndex(*created);
      } catch (...) {
        // No index without the constraint it implies.
        try {
          FConstraintManager->DeleteConstraintForIndexID(index_id);
          FIndexManager->DropIndex(cursor->GetSessionID(), index_id);
        } catch (...) {
        }
        throw;
      }
    }
  } catch (...) {
    cursor->RestorePosition(saved);
    throw;
  }
  cursor->RestorePosition(saved);
  return index_id;
}

void TORBTableData::DeleteIndex(int32_t index_id, TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  const TORBIndexDef* def = static_cast<TORBIndexDef*>(FIndexManager->IndexDefs().GetDefByObjectId(index_id));
  const bool temporary_cursor = cursor != nullptr && cursor->IsTemporary();
  if (def != nullptr && !def->FTemporary && !temporary_cursor && FConstraintManager != nullptr)
    FConstraintManager->DeleteConstraintForIndexID(index_id);
  FIndexManager->DropIndex(cursor != nullptr ? cursor->GetSessionID() : TORBPageManager::kSystemSession, index_id);
}

void TORBTableData::EmptyIndex(int32_t index_id, int32_t session_id) {
  TORBTableDataLock lock(this);
  FIndexManager->EmptyIndex(session_id, index_id);
}

void TORBTableData::DeleteAllIndexes(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  while (FIndexManager->IndexDefs().GetCount() > 0)
    DeleteIndex(FIndexManager->IndexDefs().GetIndexDef(0)->FObjectID, cursor);
}

void TORBTableData::EmptyAllIndexes(int32_t session_id) {
  TORBTableDataLock lock(this);
  FIndexManager->EmptyAllIndexes(session_id);
}

std::u16string TORBTableData::FindOrCreateIndex(TORBCursorInterface* cursor,
                                                const std::vector<std::u16string>& field_names,
                                                const std::vector<std::u16string>& asc_desc_list,
                                                const std::vector<std::u16string>& case_sensitivity_list,
                                                bool& is_created) {
  TORBTableDataLock lock(this);
  const TORBCursorPosition saved = cursor->SavePosition();
  std::u16string name;
  try {
    const int32_t index_id =
        FIndexManager->FindOrCreateIndex(cursor, field_names, asc_desc_list, case_sensitivity_list, is_created);
    const TORBMetaObjectDef* def = FIndexManager->IndexDefs().GetDefByObjectId(index_id);
    if (def == nullptr) RaiseORB(kErrIndexIDNotFound, "Cannot find index by ID = %d", {index_id});
    name = def->GetWideName();
    ApplyChanges(cursor->GetSessionID(), cursor->InTransaction());
  } catch (...) {
    try {
      CancelChanges(cursor->GetSessionID(), cursor->InTransaction());
    } catch (...) {
    }
    cursor->RestorePosition(saved);
    throw;
  }
  cursor->RestorePosition(saved);
  return name;
}

bool TORBTableData::IndexExists(TORBCursorInterface* cursor, const std::vector<std::u16string>& field_names,
                                const std::vector<std::u16string>& asc_desc_list,
                                const std::vector<std::u16string>& case_sensitivity_list) {
  TORBTableDataLock lock(this);
  return FIndexManager->IsIndexExists(cursor, field_names, asc_desc_list, case_sensitivity_list);
}

bool TORBTableData::IsUniqueConstraintFailed(int32_t session_id, int32_t index_id, const uint8_t* new_record_buffer,
                                             const uint8_t* old_record_buffer, bool to_insert,
                                             const TORBPageItemID& /*record_id*/) {
  TORBTableDataLock lock(this);
  if (InternalGetRecordCount(session_id) == 0) return false;
  TORBIndex* index = FIndexManager->OpenIndex(index_id);
  if (to_insert) return !index->CanInsertRecord(session_id, new_record_buffer);
  return !index->CanUpdateRecord(session_id, old_record_buffer, new_record_buffer);
}

bool TORBTableData::CheckConstraints(int32_t session_id, const uint8_t* new_record_buffer,
                                     const uint8_t* old_record_buffer, bool to_insert,
                                     const TORBPageItemID& current_record_id, bool raise_exception,
                                     bool check_unique_indexes) {
  TORBTableDataLock lock(this);
  if (FConstraintManager == nullptr) return true;
  return FConstraintManager->CheckConstraints(session_id, new_record_buffer, old_record_buffer, to_insert,
                                              current_record_id, raise_exception, check_unique_indexes);
}

void TORBTableData::ClearBLOBFieldsInRecordBuffer(uint8_t* record_buffer) {
  if (FFieldManager == nullptr || record_buffer == nullptr) return;
  const TORBFieldDefs& defs = FFieldManager->FieldDefs();
  for (int32_t i = 0; i < defs.GetCount(); ++i) {
    const TORBBaseFieldType type = defs.GetDef(i)->FBaseFieldType;
    if (type == bftBlob || type == bftClob || type == bftWideClob) ClearBLOBFieldInRecordBuffer(i, record_buffer);
  }
}

bool TORBTableData::FindKey(TORBCursorInterface* cursor, const TORBScanCondition& condition) {
  TORBTableDataLock lock(this);
  TORBScanCondition key = condition;
  if (key.IndexID == -1) key.IndexID = cursor->GetIndexID();
  const TORBCursorPosition saved = cursor->SavePosition();
  try {
    TORBPageItemID found{};
    if (!FindRecord(cursor, nullptr, &key, true, true, &found, nullptr, false)) {
      cursor->RestorePosition(saved);
      return false;
    }
    cursor->SetFirstPosition(false);
    cursor->SetLastPosition(false);
    cursor->SetCurrentRecordID(found);
    return true;
  } catch (...) {
    cursor->RestorePosition(saved);
    throw;
  }
}

// ---------------------------------------------------------------------------
// Record bitmaps

void TORBTableData::InitRecordBitmap(TORBRecordBitmap* bitmap, int32_t index_id) {
  bitmap->Clear();
  bitmap->FTableState = FRecordManager->FTableState;
  bitmap->FIndexBased = index_id != -1;
  bitmap->FIndexID = index_id;
}

void TORBTableData::RefreshCursorRecordBitmap(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  TORBRecordBitmap* bitmap = cursor->GetRecordBitmap();
  if (bitmap == nullptr) return;
  if ((bitmap->FActive && bitmap->GetOutdated()) || (!bitmap->FActive && cursor->IsViewRestricted()))
    BuildCursorRecordBitmap(cursor);
}

void TORBTableData::BuildCursorRecordBitmap(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  TORBRecordBitmap* bitmap = cursor->GetRecordBitmap();
  InitRecordBitmap(bitmap, cursor->GetIndexID());
  const int32_t session_id = cursor->GetSessionID();
  if (!bitmap->FIndexBased) bitmap->SetSize(GetBitmapRecordCount(session_id));
  if (InternalGetRecordCount(session_id) > 0) {
    const TORBCursorPosition saved = cursor->SavePosition();
    try {
      FindRecord(cursor, nullptr, nullptr, true, true, nullptr, bitmap, true);
    } catch (...) {
      cursor->RestorePosition(saved);
      bitmap->Clear();
      throw;
    }
    cursor->RestorePosition(saved);
  }
  // Complete, also for an empty table.
  bitmap->FActive = true;
}

int64_t TORBTableData::GetBitmapRecNoByIndexPosition(int32_t index_id, const TORBIndexPosition& position) {
  return FIndexManager->OpenIndex(index_id)->GetBitNoByIndexPosition(position);
}

void TORBTableData::GetIndexPositionByBitmapRecNo(int32_t index_id, int64_t bit_no, TORBIndexPosition& position) {
  FIndexManager->OpenIndex(index_id)->GetIndexPositionByBitNo(bit_no, position);
}

bool TORBTableData::GetIndexPositionByRecordID(int32_t session_id, int32_t index_id, const TORBPageItemID& record_id,
                                               TORBIndexPosition& position) {
  std::vector<uint8_t> buffer(static_cast<size_t>(std::max(FRecordManager->FRecordBufferSize, 1)));
  if (ReadRecordByID(session_id, record_id, buffer.data()) != grrOK) return false;
  return FIndexManager->OpenIndex(index_id)->GetIndexPosition(session_id, record_id, buffer.data(), position);
}

void TORBTableData::GetRecordIDByIndexPosition(int32_t session_id, int32_t index_id,
                                               const TORBIndexPosition& position, TORBPageItemID& record_id) {
  FIndexManager->OpenIndex(index_id)->GetRecordIDByIndexPosition(session_id, position, record_id);
}

void TORBTableData::UpdateCursorBitmap(TORBCursorInterface* cursor) {
  TORBRecordBitmap* bitmap = cursor->GetRecordBitmap();
  if (bitmap == nullptr || !bitmap->FActive) return;
  if (bitmap->FIndexBased) {
    bitmap->Clear();
    return;
  }
  if (IsRecordVisible(cursor))
    bitmap->ShowRecord(cursor->GetCurrentRecordID());
  else
    bitmap->HideRecord(cursor->GetCurrentRecordID());
}

// ---------------------------------------------------------------------------
// Visibility

bool TORBTableData::IsRecordInRange(TORBCursorInterface* cursor) {
  if (!cursor->IsRangeApplied()) return true;
  TORBIndex* index = FIndexManager->OpenIndex(cursor->GetIndexID());
  const uint8_t* record = cursor->GetCurrentRecordBuffer();
  if (const uint8_t* start = cursor->GetRangeStartBuffer()) {
    const int order = index->CompareRecordBuffersByIndex(record, start, cursor->GetRangeStartKeyFieldCount());
    if (cursor->GetRangeStartExclusive() ? order <= 0 : order < 0) return false;
  }
  if (const uint8_t* end = cursor->GetRangeEndBuffer()) {
    const int order = index->CompareRecordBuffersByIndex(record, end, cursor->GetRangeEndKeyFieldCount());
    if (cursor->GetRangeEndExclusive() ? order >= 0 : order > 0) return false;
  }
  return true;
}

bool TORBTableData::IsRecordVisible(TORBCursorInterface* cursor) {
  if (!IsRecordInRange(cursor)) return false;
  if (TORBExpression* filter = cursor->GetFilterExpression(); filter != nullptr && !filter->GetResult()) return false;
  if (TORBExpression* filter = cursor->GetSQLFilterExpression(); filter != nullptr && !filter->GetResult())
    return false;
  if (cursor->HasRecordFilter() && !cursor->FilterRecord(cursor->GetCurrentRecordBuffer())) return false;
  return true;
}

// ---------------------------------------------------------------------------
// Navigation

TORBGetRecordResult TORBTableData::ReadRecordByID(int32_t session_id, const TORBPageItemID& record_id,
                                                  uint8_t* record_buffer) {
  TORBNavigationInfo info;
  info.GetRecordMode = grmCurrent;
  info.RecordID = record_id;
  info.RecordBuffer = record_buffer;
  InternalGetRecordBuffer(session_id, info, nullptr, FRecordManager->FTableState);
  return info.GetRecordResult;
}

bool TORBTableData::ReadStoredRecord(TORBCursorInterface* cursor, const TORBPageItemID& record_id,
                                     uint8_t* record_buffer, TORBGetRecordResult& result) {
  TORBTableDataLock lock(this);
  result = ReadRecordByID(cursor->GetSessionID(), record_id, record_buffer);
  return true;
}

void TORBTableData::InternalGetRecordBuffer(int32_t session_id, TORBNavigationInfo& navigation_info,
                                            TORBIndexPositionCache* cache, int32_t table_state) {
  if (FRecordManager == nullptr) RaiseORB(kErrNoRecordManager, kMsgNilPointer);
  if (FIndexManager == nullptr) RaiseORB(kErrNoIndexManager, kMsgNilPointer);
  if (navigation_info.RecordBuffer == nullptr) RaiseORB(kErrNoRecordBuffer, kMsgNilPointer);
  if (navigation_info.IndexID != -1 && navigation_info.GetRecordMode != grmCurrent)
    FIndexManager->GetRecordBuffer(session_id, navigation_info, cache, table_state);
  else
    FRecordManager->GetRecordBuffer(session_id, navigation_info);
}

TORBGetRecordResult TORBTableData::GetRecordBuffer(TORBCursorInterface* cursor, TORBGetRecordMode mode) {
  TORBTableDataLock lock(this);
  if (InternalGetRecordCount(cursor->GetSessionID()) == 0) return grrEOF;
  return GetRecordBufferOfRecords(cursor, mode);
}

TORBGetRecordResult TORBTableData::GetRecordBufferOfRecords(TORBCursorInterface* cursor, TORBGetRecordMode mode) {
  assert(FDatabaseData == nullptr || FDatabaseData->CSect().HeldByCurrentThread());
  const int32_t session_id = cursor->GetSessionID();
  if (cursor->IsDistinctApplied() && mode != grmCurrent && !cursor->GetFirstPosition() &&
      !cursor->GetLastPosition()) {
    // The record being left, for the distinct search to compare against.
    std::vector<uint8_t> distinct(static_cast<size_t>(std::max(FRecordManager->FRecordBufferSize, 1)));
    if (ReadRecordByID(session_id, cursor->GetCurrentRecordID(), distinct.data()) != grrOK) return grrError;
    TDistinctBufferHold hold(cursor, distinct.data());
    return InternalFindOrGetRecordBuffer(cursor, mode);
  }
  return InternalFindOrGetRecordBuffer(cursor, mode);
}

TORBGetRecordResult TORBTableData::InternalFindOrGetRecordBuffer(TORBCursorInterface* cursor,
                                                                 TORBGetRecordMode mode) {
  const int32_t session_id = cursor->GetSessionID();
  const bool restricted = cursor->IsViewRestricted();
  if (mode != grmCurrent && restricted) {
    const bool forward = mode == grmNext;
    if (forward && cursor->GetLastPosition()) return grrEOF;
    if (!forward && cursor->GetFirstPosition()) return grrBOF;
    // Distinct views are served by their bitmap, which the index thins out.
    if (cursor->IsDistinctApplied()) RefreshCursorRecordBitmap(cursor);
    const bool restart = forward ? cursor->GetFirstPosition() : cursor->GetLastPosition();
    TORBPageItemID found{};
    if (FindRecord(cursor, nullptr, nullptr, restart, forward, &found, cursor->GetRecordBitmap(), false)) {
      const TORBGetRecordResult read = ReadRecordByID(session_id, found, cursor->GetCurrentRecordBuffer());
      if (read != grrOK) return read;
      cursor->SetCurrentRecordID(found);
      cursor->SetFirstPosition(false);
      cursor->SetLastPosition(false);
      return grrOK;
    }
    cursor->SetFirstPosition(!forward);
    cursor->SetLastPosition(forward);
    return forward ? grrEOF : grrBOF;
  }
  TORBNavigationInfo info;
  info.GetRecordMode = mode;
  info.IndexID = cursor->GetIndexID();
  info.RecordID = cursor->GetCurrentRecordID();
  info.RecordBuffer = cursor->GetCurrentRecordBuffer();
  info.FirstPosition = cursor->GetFirstPosition();
  info.LastPosition = cursor->GetLastPosition();
  InternalGetRecordBuffer(session_id, info, cursor->GetIndexPositionCache(), FRecordManager->FTableState);
  if (info.GetRecordResult != grrOK || !restricted || IsRecordVisible(cursor)) {
    cursor->SetCurrentRecordID(info.RecordID);
    cursor->SetFirstPosition(info.FirstPosition);
    cursor->SetLastPosition(info.LastPosition);
    return info.GetRecordResult;
  }
  return grrError;
}

// ---------------------------------------------------------------------------
// Record search

bool TORBTableData::FindRecord(TORBCursorInterface* cursor, TORBExpression* search_expression,
                               const TORBScanCondition* key_condition, bool restart, bool go_forward,
                               TORBPageItemID* record_id, TORBRecordBitmap* bitmap, bool fill_bitmap) {
  TORBTableDataLock lock(this);
  if (InternalGetRecordCount(cursor->GetSessionID()) == 0) return false;
  if (bitmap != nullptr && (fill_bitmap || (bitmap->FActive && bitmap->GetOutdated())))
    InitRecordBitmap(bitmap, cursor->GetIndexID());
  // An active bitmap answers a plain walk through the view alone.
  if (bitmap != nullptr && bitmap->FActive && search_expression == nullptr && key_condition == nullptr)
    return FindRecordInBitmap(cursor, restart, go_forward, record_id, bitmap);
  const bool found =
      FindRecordByScan(cursor, search_expression, key_condition, restart, go_forward, record_id, bitmap, fill_bitmap);
  if (bitmap != nullptr && fill_bitmap) {
    bitmap->FActive = true;
    if (restart && cursor->IsDistinctApplied() && cursor->GetIndexID() != -1)
      FIndexManager->OpenIndex(cursor->GetIndexID())
          ->ApplyDistinctToRecordBitmap(cursor->GetSessionID(), bitmap, cursor->GetDistinctFieldCount());
  }
  return found;
}

bool TORBTableData::FindRecordInBitmap(TORBCursorInterface* cursor, bool restart, bool go_forward,
                                       TORBPageItemID* record_id, TORBRecordBitmap* bitmap) {
  const int32_t session_id = cursor->GetSessionID();
  TORBPageItemID found{};
  if (bitmap->FIndexBased) {
    TORBIndex* index = FIndexManager->OpenIndex(bitmap->FIndexID);
    std::unique_ptr<TORBIndexPosition> current;
    if (!restart) {
      current = index->CreateIndexPosition();
      if (!GetIndexPositionByRecordID(session_id, bitmap->FIndexID, cursor->GetCurrentRecordID(), *current))
        return false;
    }
    std::unique_ptr<TORBIndexPosition> found_position = index->CreateIndexPosition();
    if (!bitmap->FindRecord(restart, go_forward, current.get(), *found_position, bitmap->FIndexID)) return false;
    index->GetRecordIDByIndexPosition(session_id, *found_position, found);
  } else if (!bitmap->FindRecord(restart, go_forward, cursor->GetCurrentRecordID(), found)) {
    return false;
  }
  if (record_id != nullptr) *record_id = found;
  return true;
}

bool TORBTableData::FindRecordByScan(TORBCursorInterface* cursor, TORBExpression* search_expression,
                                     const TORBScanCondition* key_condition, bool restart, bool go_forward,
                                     TORBPageItemID* record_id, TORBRecordBitmap* bitmap, bool fill_bitmap) {
  TORBRecordSearch search(this, cursor);
  return search.Run(search_expression, key_condition, restart, go_forward, record_id, bitmap, fill_bitmap);
}

bool TORBTableData::Locate(TORBCursorInterface* cursor, TORBExpression* search_expression) {
  TORBTableDataLock lock(this);
  if (search_expression == nullptr) RaiseORB(kErrLocateNoExpression, kMsgNilPointer);
  const TORBCursorPosition saved = cursor->SavePosition();
  try {
    TORBPageItemID found{};
    if (!FindRecord(cursor, search_expression, nullptr, true, true, &found, nullptr, false)) {
      cursor->RestorePosition(saved);
      return false;
    }
    cursor->SetFirstPosition(false);
    cursor->SetLastPosition(false);
    cursor->SetCurrentRecordID(found);
    return GetRecordBuffer(cursor, grmCurrent) == grrOK;
  } catch (...) {
    cursor->RestorePosition(saved);
    throw;
  }
}

// ---------------------------------------------------------------------------
// Counting and numbering

int64_t TORBTableData::GetRecordCount(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  if (cursor->IsViewRestricted()) {
    RefreshCursorRecordBitmap(cursor);
    return cursor->GetRecordBitmap()->GetRecordCount();
  }
  return InternalGetRecordCount(cursor->GetSessionID());
}

void TORBTableData::SetRecNo(TORBCursorInterface* cursor, int64_t rec_no) {
  TORBTableDataLock lock(this);
  const int64_t count = GetRecordCount(cursor);
  if (count <= 0) return;
  rec_no = std::clamp<int64_t>(rec_no, 1, count);
  const int32_t session_id = cursor->GetSessionID();
  const int32_t index_id = cursor->GetIndexID();
  TORBRecordBitmap* bitmap = cursor->GetRecordBitmap();
  const bool restricted = cursor->IsViewRestricted();
  TORBPageItemID record_id{};
  if (restricted && bitmap->FIndexBased) {
    TORBIndex* index = FIndexManager->OpenIndex(bitmap->FIndexID);
    std::unique_ptr<TORBIndexPosition> position = index->CreateIndexPosition();
    bitmap->GetIndexPosByRecNo(bitmap->FIndexID, rec_no, *position);
    index->GetRecordIDByIndexPosition(session_id, *position, record_id);
  } else if (restricted) {
    record_id = bitmap->GetRecordIDByRecNo(rec_no);
  } else if (index_id != -1) {
    record_id = FIndexManager->OpenIndex(index_id)->GetRecordIDByRecNo(session_id, rec_no);
  } else {
    record_id = InternalSetRecNo(session_id, rec_no);
  }
  cursor->SetFirstPosition(false);
  cursor->SetLastPosition(false);
  cursor->SetCurrentRecordID(record_id);
}

int64_t TORBTableData::GetRecNo(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  if (cursor->GetFirstPosition() || cursor->GetLastPosition()) return -1;
  if (GetRecordCount(cursor) == 0) return -1;
  const int32_t session_id = cursor->GetSessionID();
  const bool restricted = cursor->IsViewRestricted();
  TORBRecordBitmap* bitmap = cursor->GetRecordBitmap();
  if (restricted) RefreshCursorRecordBitmap(cursor);
  const TORBPageItemID record_id = cursor->GetCurrentRecordID();
  if (cursor->GetIndexID() != -1) {
    std::vector<uint8_t> buffer(static_cast<size_t>(std::max(FRecordManager->FRecordBufferSize, 1)));
    if (ReadRecordByID(session_id, record_id, buffer.data()) != grrOK) return -1;
    if (restricted && bitmap->FIndexBased) {
      TORBIndex* index = FIndexManager->OpenIndex(bitmap->FIndexID);
      std::unique_ptr<TORBIndexPosition> position = index->CreateIndexPosition();
      if (!index->GetIndexPosition(session_id, record_id, buffer.data(), *position)) return -1;
      return bitmap->GetRecNoByIndexPos(bitmap->FIndexID, *position);
    }
    if (restricted) return bitmap->GetRecNoByRecordID(record_id);
    return FIndexManager->OpenIndex(cursor->GetIndexID())->GetRecNoByRecordID(session_id, record_id, buffer.data());
  }
  if (restricted) return bitmap->GetRecNoByRecordID(record_id);
  return InternalGetRecNo(session_id, record_id);
}

// ---------------------------------------------------------------------------
// Record changes

bool TORBTableData::InsertRecord(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  const int32_t session_id = cursor->GetSessionID();
  const bool in_transaction = cursor->InTransaction();
  const TORBPageItemID old_id = cursor->GetCurrentRecordID();
  TORBPageItemID record_id{};
  bool stored = false;
  try {
    if (!FRecordManager->AddRecord(session_id, cursor->GetCurrentRecordBuffer(), record_id)) {
      CancelChanges(session_id, in_transaction);
      return false;
    }
    stored = true;
    cursor->SetCurrentRecordID(record_id);
    FIndexManager->InsertRecord(cursor);
  } catch (...) {
    // The index manager has undone its own part; take the record out again.
    try {
      if (stored) FRecordManager->RemoveAddedRecord(session_id, record_id);
    } catch (...) {
    }
    cursor->SetCurrentRecordID(old_id);
    try {
      CancelChanges(session_id, in_transaction);
    } catch (...) {
    }
    throw;
  }
  UpdateCursorBitmap(cursor);
  cursor->SetFirstPosition(false);
  cursor->SetLastPosition(false);
  ApplyChanges(session_id, in_transaction);
  return true;
}

bool TORBTableData::UpdateRecord(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  const int32_t session_id = cursor->GetSessionID();
  const bool in_transaction = cursor->InTransaction();
  const TORBPageItemID record_id = cursor->GetCurrentRecordID();
  enum { kNothing, kOldKeysRemoved, kRecordStored } done = kNothing;
  auto undo = [&]() noexcept {
    if (done == kRecordStored) {
      try {
        FRecordManager->UpdateRecord(session_id, cursor->GetEditRecordBuffer(), record_id);
      } catch (...) {
      }
    }
    if (done >= kOldKeysRemoved) FIndexManager->UndoUpdateRecord(cursor, true);
    try {
      CancelChanges(session_id, in_transaction);
    } catch (...) {
    }
  };
  try {
    FIndexManager->UpdateRecord(cursor, true);
    done = kOldKeysRemoved;
    if (!FRecordManager->UpdateRecord(session_id, cursor->GetCurrentRecordBuffer(), record_id)) {
      undo();
      return false;
    }
    done = kRecordStored;
    FIndexManager->UpdateRecord(cursor, false);
  } catch (...) {
    undo();
    throw;
  }
  UpdateCursorBitmap(cursor);
  ApplyChanges(session_id, in_transaction);
  return true;
}

bool TORBTableData::DeleteRecord(TORBCursorInterface* cursor) {
  TORBTableDataLock lock(this);
  const int32_t session_id = cursor->GetSessionID();
  const bool in_transaction = cursor->InTransaction();
  ClearBLOBFieldsInRecordBuffer(cursor->GetCurrentRecordBuffer());

  // Where the cursor goes afterwards: the next record of its view, else the
  // prior one, else BOF.
  const TORBCursorPosition saved = cursor->SavePosition();
  TORBCursorPosition after{true, false, TORBPageItemID{}};
  {
    std::vector<uint8_t> scratch(static_cast<size_t>(std::max(FRecordManager->FRecordBufferSize, 1)));
    std::copy_n(cursor->GetCurrentRecordBuffer(), FRecordManager->FRecordBufferSize, scratch.data());
    TBufferSwap swap(cursor, scratch.data());
    try {
      if (InternalFindOrGetRecordBuffer(cursor, grmNext) == grrOK) {
        after = cursor->SavePosition();
      } else {
        cursor->RestorePosition(saved);
        if (InternalFindOrGetRecordBuffer(cursor, grmPrior) == grrOK) after = cursor->SavePosition();
      }
    } catch (...) {
      cursor->RestorePosition(saved);
      throw;
    }
    cursor->RestorePosition(saved);
  }

  TORBRecordBitmap* bitmap = cursor->GetRecordBitmap();
  const bool bitmap_current = bitmap != nullptr && bitmap->FActive && !bitmap->GetOutdated();
  bool indexes_done = false;
  try {
    indexes_done = FIndexManager->DeleteRecord(cursor);
    if (!FRecordManager->DeleteRecord(session_id, saved.RecordID)) {
      if (indexes_done) FIndexManager->UndoDeleteRecord(cursor);
      CancelChanges(session_id, in_transaction);
      return false;
    }
  } catch (...) {
    if (indexes_done) FIndexManager->UndoDeleteRecord(cursor);
    try {
      CancelChanges(session_id, in_transaction);
    } catch (...) {
    }
    throw;
  }
  if (bitmap != nullptr && bitmap->FActive) {
    if (bitmap->FIndexBased) {
      bitmap->Clear();
    } else {
      bitmap->HideRecord(saved.RecordID);
      if (bitmap_current && !cursor->IsDistinctApplied()) bitmap->FTableState = FRecordManager->FTableState;
    }
  }
  cursor->RestorePosition(after);
  ApplyChanges(session_id, in_transaction);
  return true;
}

void TORBTableData::Rollback(int32_t session_id) {
  TORBTableDataLock lock(this);
  if (FIndexManager == nullptr) return;
  for (TORBCursorInterface* cursor : std::vector<TORBCursorInterface*>(FCursorList)) {
    if (cursor->GetSessionID() != session_id) continue;
    bool is_changed = false;
    FIndexManager->SynchronizeTemporaryIndexes(cursor, is_changed);
  }
}

}  // namespace orb
