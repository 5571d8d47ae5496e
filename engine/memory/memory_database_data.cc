#include "engine/memory/memory_database_data.h"

#include "engine/base/orb_exception.h"
#include "engine/memory/memory_table_data.h"

namespace orb {

TORBMemoryDatabaseData::TORBMemoryDatabaseData(std::function<bool()> is_design_mode)
    : TORBDatabaseData(u"MEMORY", u""), FIsDesignMode(std::move(is_design_mode)) {}

TORBMemoryDatabaseData::~TORBMemoryDatabaseData() {
  // Tables first, while this object is whole: they note changes with it.
  try {
    TCriticalSectionGuard guard(FCSect);
    while (!FTableDataList.empty()) FTableDataList.pop_back();
  } catch (...) {
  }
}

void TORBMemoryDatabaseData::ConnectSession(TORBSessionLink* session) {
  session->SetSessionID(0);
  TORBDatabaseData::ConnectSession(session);
}

TORBTableData* TORBMemoryDatabaseData::CreateTableData(TORBCursorInterface* cursor) {
  return AddTableData(std::make_unique<TORBMemoryTableData>(
      this, cursor->GetTableName(), TORBMemoryTableData::kDefaultAllocRecordsBy, FIsDesignMode));
}

int32_t TORBMemoryDatabaseData::GetNewObjectId() {
  TCriticalSectionGuard guard(FCSect);
  return ++FLastObjectID;
}

void TORBMemoryDatabaseData::Commit(int32_t session_id) {
  TCriticalSectionGuard guard(FCSect);
  TORBDatabaseData::Commit(session_id);
  FTransactionChanges = 0;
}

void TORBMemoryDatabaseData::Rollback(int32_t session_id) {
  TCriticalSectionGuard guard(FCSect);
  if (const int64_t changes = FTransactionChanges; changes != 0) {
    FTransactionChanges = 0;
    RaiseORB(kErrMemoryRollback, "Rollback is not supported for in-memory tables: %d changes were already applied",
             {static_cast<long long>(changes)});
  }
  TORBDatabaseData::Rollback(session_id);
}

std::unique_ptr<TORBMemoryDatabaseData> CreateMemoryDatabaseData(std::function<bool()> is_design_mode) {
  return std::make_unique<TORBMemoryDatabaseData>(std::move(is_design_mode));
}

}  // namespace orb
