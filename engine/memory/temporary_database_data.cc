#include "engine/memory/temporary_database_data.h"

#include "engine/memory/temporary_table_data.h"

namespace orb {

TORBTemporaryDatabaseData::TORBTemporaryDatabaseData() : TORBDatabaseData(u"TEMP", u"") {}

TORBTemporaryDatabaseData::~TORBTemporaryDatabaseData() {
  try {
    TCriticalSectionGuard guard(FCSect);
    while (!FTableDataList.empty()) FTableDataList.pop_back();
  } catch (...) {
  }
}

TORBTableData* TORBTemporaryDatabaseData::CreateTableData(TORBCursorInterface* cursor) {
  return AddTableData(std::make_unique<TORBTemporaryTableData>(this, cursor->GetTableName()));
}

int32_t TORBTemporaryDatabaseData::GetNewObjectId() {
  TCriticalSectionGuard guard(FCSect);
  return ++FLastObjectID;
}

std::unique_ptr<TORBTemporaryDatabaseData> CreateTemporaryDatabaseData() {
  return std::make_unique<TORBTemporaryDatabaseData>();
}

}  // namespace orb
