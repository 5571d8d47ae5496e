#include "engine/sql/sql_transaction.h"

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/session/base_session.h"

namespace orb {

namespace {

constexpr int32_t kErrTrailingToken = 30246;

}  // namespace

void TORBSQLStartTransaction::Parse() {
  if (!IsWord(rwSTART)) RaiseExpected(kErrStartExpected, "Token 'START' expected", kErrStartEnd);
  Next();
  if (!IsWord(rwTRANSACTION)) RaiseExpected(kErrTransactionExpected, "Token 'TRANSACTION' expected", kErrStartEnd);
  Next();
  ExpectEnd(kErrTrailingToken);
}

void TORBSQLStartTransaction::ExecSQL(TORBSQLContext& context) {
  if (context.FSession->GetInTransaction()) RaiseORB(kErrSQLTransactionActive, "Database is already within a transaction");
  context.FSession->StartTransaction();
}

void TORBSQLCommit::Parse() {
  if (!IsWord(rwCOMMIT)) RaiseExpected(kErrCommitExpected, "Token 'COMMIT' expected", kErrCommitExpected);
  // Any words may follow (COMMIT WORK, COMMIT TRANSACTION ...); FLUSH
  // among them flushes.
  for (Next(); !AtEnd(); Next())
    if (IsWord(rwFLUSH)) FFlush = true;
}

void TORBSQLCommit::ExecSQL(TORBSQLContext& context) { context.FSession->Commit(FFlush); }

void TORBSQLRollback::Parse() {
  if (!IsWord(rwROLLBACK)) RaiseExpected(kErrRollbackExpected, "Token 'ROLLBACK' expected", kErrRollbackExpected);
  Next();
  // ROLLBACK WORK / ROLLBACK TRANSACTION read as ROLLBACK.
  if (IsWord(rwWORK) || IsWord(rwTRANSACTION)) Next();
  ExpectEnd(kErrTrailingToken);
}

void TORBSQLRollback::ExecSQL(TORBSQLContext& context) { context.FSession->Rollback(); }

}  // namespace orb
