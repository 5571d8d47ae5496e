#pragma once

// The in-memory database "MEMORY": one per process, shared by all
// sessions.

#include <cstdint>
#include <functional>
#include <memory>

#include "engine/base/error_codes.h"
#include "engine/data/database_data.h"

namespace orb {

inline constexpr int32_t kErrMemoryNilTable = 10258;

class TORBMemoryDatabaseData : public TORBDatabaseData {
 public:
  // `is_design_mode` (may be empty) tells whether the process is in design
  // mode.
  explicit TORBMemoryDatabaseData(std::function<bool()> is_design_mode = {});
  ~TORBMemoryDatabaseData() override;

  // Every session gets session ID 0.
  void ConnectSession(TORBSessionLink* session) override;
  TORBTableData* CreateTableData(TORBCursorInterface* cursor) override;
  // 1, 2, 3, ... under the database lock.
  int32_t GetNewObjectId() override;
  void Commit(int32_t session_id) override;
  // In-memory tables apply every change at once; a rollback cannot undo
  // them and raises 30781 when changes were made in the transaction
  // (nothing is undone, and the next rollback starts afresh). Without such
  // changes it rolls back as usual.
  void Rollback(int32_t session_id) override;

  // A table made a change inside a transaction.
  void NoteTransactionChange() { ++FTransactionChanges; }

 private:
  int32_t FLastObjectID = 0;
  int64_t FTransactionChanges = 0;
  std::function<bool()> FIsDesignMode;
};

std::unique_ptr<TORBMemoryDatabaseData> CreateMemoryDatabaseData(std::function<bool()> is_design_mode = {});

}  // namespace orb
