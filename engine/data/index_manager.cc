#include "engine/data/index_manager.h"

#include <algorithm>

#include "engine/base/orb_exception.h"
#include "engine/base/temporary_name.h"
#include "engine/data/btree_record_index.h"
#include "engine/data/cursor_interface.h"
#include "engine/data/database_data.h"
#include "engine/data/index.h"
#include "engine/data/record_manager.h"
#include "engine/data/table_data.h"
#include "engine/platform/text_case.h"

namespace orb {

namespace {

// Swaps the cursor's current and edit buffers for its lifetime: an index
// update run on swapped buffers undoes the other half of an update.
class TSwappedBuffers {
 public:
  explicit TSwappedBuffers(TORBCursorInterface* cursor)
      : FCursor(cursor), FCurrent(cursor->GetCurrentRecordBuffer()), FEdit(cursor->GetEditRecordBuffer()) {
    FCursor->SetCurrentRecordBuffer(FEdit);
    FCursor->SetEditRecordBuffer(FCurrent);
  }
  ~TSwappedBuffers() {
    FCursor->SetCurrentRecordBuffer(FCurrent);
    FCursor->SetEditRecordBuffer(FEdit);
  }
  TSwappedBuffers(const TSwappedBuffers&) = delete;
  TSwappedBuffers& operator=(const TSwappedBuffers&) = delete;

 private:
  TORBCursorInterface* FCursor;
  uint8_t* FCurrent;
  uint8_t* FEdit;
};

}  // namespace

TORBBaseIndexManager::TORBBaseIndexManager(TORBTableData* table_data, TORBPageManager* temporary_page_manager)
    : FTableData(table_data),
      FPageManager(table_data != nullptr ? table_data->PageManager() : nullptr),
      FTemporaryPageManager(temporary_page_manager) {}

TORBBaseIndexManager::~TORBBaseIndexManager() { CloseAllIndexes(); }

void TORBBaseIndexManager::LoadMetadata(TStream& stream) {
  CloseAllIndexes();
  FIndexDefs.LoadFromStream(stream);
}

void TORBBaseIndexManager::SaveMetadata(TStream& stream) const { FIndexDefs.SaveToStream(stream); }

void TORBBaseIndexManager::CreateIndexDefs(const TORBIndexDefs& index_defs) {
  CloseAllIndexes();
  FIndexDefs.Assign(index_defs);
}

std::unique_ptr<TORBIndex> TORBBaseIndexManager::CreateIndexObject(const TORBIndexDef& index_def) {
  std::unique_ptr<TORBIndex> index = FTableData->CreateIndexObject(index_def);
  if (index == nullptr && index_def.FIndexType == itBTree)
    index = std::make_unique<TORBBTreeRecordIndex>(index_def, this);
  if (index == nullptr) RaiseORB(kErrNoIndexObject, kMsgNilPointer);
  return index;
}

TORBPageManager* TORBBaseIndexManager::GetPageManager(const TORBIndex& index) const {
  return index.IndexDef().FTemporary ? FTemporaryPageManager : FPageManager;
}

void TORBBaseIndexManager::StoreBuiltDef(TORBIndexDef& def, const TORBIndex& index) {
  const int32_t object_id = def.FObjectID;
  def.Assign(index.IndexDef());
  def.FObjectID = object_id;
}

void TORBBaseIndexManager::CreateIndexesByIndexDefs(TORBCursorInterface* cursor) {
  CloseAllIndexes();
  for (int32_t i = 0; i < FIndexDefs.GetCount(); ++i) {
    TORBIndexDef* def = FIndexDefs.GetIndexDef(i);
    std::unique_ptr<TORBIndex> index = CreateIndexObject(*def);
    index->CreateIndex(cursor, *def);
    StoreBuiltDef(*def, *index);
    FOpenIndexList.push_back(std::move(index));
  }
}

int32_t TORBBaseIndexManager::CreateIndex(TORBCursorInterface* cursor, const TORBIndexDef& index_def) {
  auto copy = std::make_unique<TORBIndexDef>();
  copy->Assign(index_def);
  copy->FObjectID = FTableData->DatabaseData()->GetNewObjectId();
  const int32_t object_id = copy->FObjectID;
  TORBIndexDef* def = copy.get();
  FIndexDefs.Add(std::move(copy));
  try {
    std::unique_ptr<TORBIndex> index = CreateIndexObject(*def);
    index->CreateIndex(cursor, *def);
    StoreBuiltDef(*def, *index);
    FOpenIndexList.push_back(std::move(index));
  } catch (...) {
    const int32_t number = FIndexDefs.GetDefNumberByObjectId(object_id);
    if (number >= 0) FIndexDefs.Delete(number);
    throw;
  }
  return object_id;
}

int32_t TORBBaseIndexManager::CreateTemporaryIndex(TORBCursorInterface* cursor,
                                                   const std::vector<std::u16string>& field_names,
                                                   const std::vector<std::u16string>& asc_desc_list,
                                                   const std::vector<std::u16string>& case_sensitivity_list) {
  TORBIndexDef def;
  std::string name;
  do {
    name = ToShortString(std::string_view(GetTemporaryName("TEMPORARY_INDEX_")));
  } while (FIndexDefs.GetDefNumberByName(std::string_view(name)) >= 0);
  def.SetName(std::string_view(name));
  def.FIndexType = itBTree;
  def.FUnique = false;
  def.FPrimary = false;
  def.FTemporary = true;
  def.FSessionID = cursor->GetSessionID();
  def.FTableState = FTableData->RecordManager()->FTableState;
  def.AssignByNames(field_names, asc_desc_list, case_sensitivity_list);
  return CreateIndex(cursor, def);
}

int32_t TORBBaseIndexManager::FindIndex(TORBCursorInterface* cursor, const std::vector<std::u16string>& field_names,
                                        const std::vector<std::u16string>& asc_desc_list,
                                        const std::vector<std::u16string>& case_sensitivity_list) const {
  const TORBFieldDefs* field_defs =
      FTableData->FieldManager() != nullptr ? &FTableData->FieldManager()->FieldDefs() : nullptr;
  return FIndexDefs.FindIndex(&field_names, &asc_desc_list, &case_sensitivity_list, cursor->GetSessionID(),
                              field_defs);
}

int32_t TORBBaseIndexManager::FindOrCreateIndex(TORBCursorInterface* cursor,
                                                const std::vector<std::u16string>& field_names,
                                                const std::vector<std::u16string>& asc_desc_list,
                                                const std::vector<std::u16string>& case_sensitivity_list,
                                                bool& is_created) {
  is_created = false;
  const int32_t found = FindIndex(cursor, field_names, asc_desc_list, case_sensitivity_list);
  if (found != -1) return found;
  is_created = true;
  return CreateTemporaryIndex(cursor, field_names, asc_desc_list, case_sensitivity_list);
}

TORBIndex* TORBBaseIndexManager::OpenIndex(int32_t index_id) {
  for (const auto& index : FOpenIndexList)
    if (index->IndexDef().FObjectID == index_id) return index.get();
  TORBIndexDef* def = static_cast<TORBIndexDef*>(FIndexDefs.GetDefByObjectId(index_id));
  if (def == nullptr) RaiseORB(kErrIndexNotFound, "Index not found");
  std::unique_ptr<TORBIndex> index = CreateIndexObject(*def);
  index->OpenIndex(*def);
  FOpenIndexList.push_back(std::move(index));
  return FOpenIndexList.back().get();
}

void TORBBaseIndexManager::CloseIndex(int32_t index_id) {
  std::erase_if(FOpenIndexList, [&](const auto& index) { return index->IndexDef().FObjectID == index_id; });
}

void TORBBaseIndexManager::CloseAllIndexes() { FOpenIndexList.clear(); }

void TORBBaseIndexManager::DropIndex(int32_t session_id, int32_t index_id) {
  OpenIndex(index_id)->DropIndex(session_id);
  CloseIndex(index_id);
  const int32_t number = FIndexDefs.GetDefNumberByObjectId(index_id);
  if (number >= 0) FIndexDefs.Delete(number);
}

void TORBBaseIndexManager::DropAllIndexes(int32_t session_id) {
  while (FIndexDefs.GetCount() > 0) DropIndex(session_id, FIndexDefs.GetIndexDef(0)->FObjectID);
}

void TORBBaseIndexManager::DropTemporaryIndexes(int32_t session_id) {
  std::vector<int32_t> ids;
  for (int32_t i = 0; i < FIndexDefs.GetCount(); ++i) {
    const TORBIndexDef* def = FIndexDefs.GetIndexDef(i);
    if (def->FTemporary && def->FSessionID == session_id) ids.push_back(def->FObjectID);
  }
  for (int32_t id : ids) DropIndex(session_id, id);
}

void TORBBaseIndexManager::EmptyIndex(int32_t session_id, int32_t index_id) {
  OpenIndex(index_id)->EmptyIndex(session_id);
}

void TORBBaseIndexManager::EmptyAllIndexes(int32_t session_id) {
  for (int32_t i = 0; i < FIndexDefs.GetCount(); ++i) EmptyIndex(session_id, FIndexDefs.GetIndexDef(i)->FObjectID);
}

void TORBBaseIndexManager::GetRecordBuffer(int32_t session_id, TORBNavigationInfo& navigation_info,
                                           TORBIndexPositionCache* cache, int32_t table_state) {
  TORBIndex* index = OpenIndex(navigation_info.IndexID);
  if (!navigation_info.FirstPosition && !navigation_info.LastPosition) {
    // Does the record we stand on still exist? Read it into the buffer, so
    // the index also finds its key there.
    TORBNavigationInfo current = navigation_info;
    current.GetRecordMode = grmCurrent;
    FTableData->RecordManager()->GetRecordBuffer(session_id, current);
    if (current.GetRecordResult == grrError) {
      index->GetClosestRecordBuffer(session_id, navigation_info, cache, table_state);
      return;
    }
  }
  index->GetRecordBuffer(session_id, navigation_info, cache, table_state);
}

void TORBBaseIndexManager::InsertRecord(TORBCursorInterface* cursor) {
  const int32_t count = FIndexDefs.GetCount();
  for (int32_t i = 0; i < count; ++i) {
    TORBIndexDef* def = FIndexDefs.GetIndexDef(i);
    try {
      TORBIndex* index = OpenIndex(def->FObjectID);
      index->InsertRecord(cursor);
      ++def->FTableState;
      if (index->IndexDef().FRootPageNo != def->FRootPageNo) def->FRootPageNo = index->IndexDef().FRootPageNo;
    } catch (...) {
      for (int32_t j = i - 1; j >= 0; --j) {
        try {
          OpenIndex(FIndexDefs.GetIndexDef(j)->FObjectID)->DeleteRecord(cursor);
        } catch (...) {
        }
      }
      throw;
    }
  }
}

void TORBBaseIndexManager::UpdateRecord(TORBCursorInterface* cursor, bool before_new_record_is_stored) {
  const int32_t count = FIndexDefs.GetCount();
  for (int32_t i = 0; i < count; ++i) {
    TORBIndexDef* def = FIndexDefs.GetIndexDef(i);
    try {
      TORBIndex* index = OpenIndex(def->FObjectID);
      index->UpdateRecord(cursor, before_new_record_is_stored);
      if (!before_new_record_is_stored) ++def->FTableState;
      def->FRootPageNo = index->IndexDef().FRootPageNo;
    } catch (...) {
      TSwappedBuffers swapped(cursor);
      for (int32_t j = i - 1; j >= 0; --j) {
        try {
          OpenIndex(FIndexDefs.GetIndexDef(j)->FObjectID)->UpdateRecord(cursor, !before_new_record_is_stored);
        } catch (...) {
        }
      }
      throw;
    }
  }
}

bool TORBBaseIndexManager::DeleteRecord(TORBCursorInterface* cursor) {
  // Already gone: nothing to remove.
  std::vector<uint8_t> scratch(static_cast<size_t>(std::max(FTableData->RecordManager()->FRecordBufferSize, 1)));
  if (FTableData->ReadRecordByID(cursor->GetSessionID(), cursor->GetCurrentRecordID(), scratch.data()) == grrError)
    return false;
  const int32_t count = FIndexDefs.GetCount();
  for (int32_t i = 0; i < count; ++i) {
    TORBIndexDef* def = FIndexDefs.GetIndexDef(i);
    try {
      TORBIndex* index = OpenIndex(def->FObjectID);
      index->DeleteRecord(cursor);
      ++def->FTableState;
      def->FRootPageNo = index->IndexDef().FRootPageNo;
    } catch (...) {
      for (int32_t j = i - 1; j >= 0; --j) {
        try {
          OpenIndex(FIndexDefs.GetIndexDef(j)->FObjectID)->InsertRecord(cursor);
        } catch (...) {
        }
      }
      throw;
    }
  }
  return true;
}

void TORBBaseIndexManager::UndoInsertRecord(TORBCursorInterface* cursor) noexcept {
  for (int32_t j = FIndexDefs.GetCount() - 1; j >= 0; --j) {
    try {
      OpenIndex(FIndexDefs.GetIndexDef(j)->FObjectID)->DeleteRecord(cursor);
    } catch (...) {
    }
  }
}

void TORBBaseIndexManager::UndoUpdateRecord(TORBCursorInterface* cursor, bool before_new_record_is_stored) noexcept {
  TSwappedBuffers swapped(cursor);
  for (int32_t j = FIndexDefs.GetCount() - 1; j >= 0; --j) {
    try {
      OpenIndex(FIndexDefs.GetIndexDef(j)->FObjectID)->UpdateRecord(cursor, !before_new_record_is_stored);
    } catch (...) {
    }
  }
}

void TORBBaseIndexManager::UndoDeleteRecord(TORBCursorInterface* cursor) noexcept {
  for (int32_t j = FIndexDefs.GetCount() - 1; j >= 0; --j) {
    try {
      OpenIndex(FIndexDefs.GetIndexDef(j)->FObjectID)->InsertRecord(cursor);
    } catch (...) {
    }
  }
}

void TORBBaseIndexManager::SynchronizeTemporaryIndexes(TORBCursorInterface* cursor, bool& is_changed) {
  is_changed = false;
  if (FSynchronizingTemporaryIndexes) return;
  FSynchronizingTemporaryIndexes = true;
  try {
    const int32_t table_state = FTableData->RecordManager()->FTableState;
    for (int32_t i = 0; i < FIndexDefs.GetCount(); ++i) {
      TORBIndexDef* def = FIndexDefs.GetIndexDef(i);
      if (!def->FTemporary || def->FTableState == table_state) continue;
      TORBIndex* index = OpenIndex(def->FObjectID);
      index->RebuildTemporaryIndex(cursor);
      def->FRootPageNo = index->IndexDef().FRootPageNo;
      def->FTableState = table_state;
      index->IndexDef().FTableState = table_state;
      is_changed = true;
    }
  } catch (...) {
    FSynchronizingTemporaryIndexes = false;
    throw;
  }
  FSynchronizingTemporaryIndexes = false;
}

void TORBBaseIndexManager::RenameField(const std::u16string& field_name, const std::u16string& new_field_name) {
  const std::u16string wanted = UpperCaseW(field_name);
  auto rename_columns = [&](TORBIndexDef& def) {
    for (TORBIndexColumn& column : def.FIndexColumns)
      if (UpperCaseW(column.GetFieldName()) == wanted) column.SetFieldName(new_field_name);
  };
  for (int32_t i = 0; i < FIndexDefs.GetCount(); ++i) rename_columns(*FIndexDefs.GetIndexDef(i));
  for (const auto& index : FOpenIndexList) rename_columns(index->IndexDef());
}

}  // namespace orb
