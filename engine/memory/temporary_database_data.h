#pragma once

// The temporary database "TEMP": one per process, holding the
// intermediate and result tables of queries.

#include <cstdint>
#include <memory>

#include "engine/data/database_data.h"

namespace orb {

inline constexpr int32_t kErrTemporaryNilTable = 10379;

class TORBTemporaryDatabaseData : public TORBDatabaseData {
 public:
  TORBTemporaryDatabaseData();
  ~TORBTemporaryDatabaseData() override;

  TORBTableData* CreateTableData(TORBCursorInterface* cursor) override;
  // 1, 2, 3, ... under the database lock.
  int32_t GetNewObjectId() override;

 private:
  int32_t FLastObjectID = 0;
};

std::unique_ptr<TORBTemporaryDatabaseData> CreateTemporaryDatabaseData();

}  // namespace orb
