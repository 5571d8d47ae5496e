#pragma once

// START TRANSACTION, COMMIT [words] [FLUSH] [words] and ROLLBACK: they
// control the transaction of the statement's session.

#include "engine/sql/sql_command.h"

namespace orb {

// Error codes of the transaction statements.
inline constexpr int32_t kErrStartExpected = 30458;
inline constexpr int32_t kErrStartEnd = 30459;
inline constexpr int32_t kErrTransactionExpected = 30460;
inline constexpr int32_t kErrCommitExpected = 30462;
inline constexpr int32_t kErrRollbackExpected = 30464;

class TORBSQLStartTransaction : public TORBSQLCommand {
 public:
  using TORBSQLCommand::TORBSQLCommand;
  void Parse() override;
  // A second START TRANSACTION in the open one raises
  // kErrSQLTransactionActive.
  void ExecSQL(TORBSQLContext& context) override;
};

class TORBSQLCommit : public TORBSQLCommand {
 public:
  using TORBSQLCommand::TORBSQLCommand;
  void Parse() override;
  void ExecSQL(TORBSQLContext& context) override;

  bool FFlush = false;
};

class TORBSQLRollback : public TORBSQLCommand {
 public:
  using TORBSQLCommand::TORBSQLCommand;
  void Parse() override;
  void ExecSQL(TORBSQLContext& context) override;
};

}  // namespace orb
