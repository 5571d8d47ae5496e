#include <gtest/gtest.h>

#include <string>

#include "engine/sql/sql_transaction.h"
#include "tests/engine/sql/sql_fixture.h"

namespace orb::test {
namespace {

using SqlTransactionTest = SqlTest;

// Rows of table t through a fresh cursor.
int64_t RowCount(SqlTest& test, TORBLocalCursor& cursor) {
  (void)test;
  uint8_t* buffer = cursor.AllocateRecordBuffer();
  cursor.FCurrentRecordBuffer = buffer;
  int64_t n = 0;
  cursor.InternalFirst();
  while (cursor.GetRecordBuffer(grmNext) == grrOK) ++n;
  cursor.FreeRecordBuffer(buffer);
  cursor.FCurrentRecordBuffer = nullptr;
  return n;
}

void InsertRow(TORBLocalCursor& cursor, int32_t value) {
  uint8_t* buffer = cursor.AllocateRecordBuffer();
  cursor.FCurrentRecordBuffer = buffer;
  cursor.InternalInitRecord(buffer, true);
  TORBVariant v(bftSignedInt32);
  v.SetAsInteger(value);
  cursor.SetFieldValue(v, 0, false);
  cursor.InternalPost(true);
  ASSERT_EQ(cursor.FErrorCode, 0);
  cursor.FreeRecordBuffer(buffer);
  cursor.FCurrentRecordBuffer = nullptr;
}

TEST_F(SqlTransactionTest, RollbackDiscardsAndCommitKeepsTheRowsOfTheTransaction) {
  Run("CREATE TABLE t (a INTEGER)");
  auto cursor = OpenTable(u"t");
  Run("START TRANSACTION");
  EXPECT_TRUE(FSession->GetInTransaction());
  InsertRow(*cursor, 1);
  Run("ROLLBACK");
  EXPECT_FALSE(FSession->GetInTransaction());
  EXPECT_EQ(RowCount(*this, *cursor), 0);

  Run("START TRANSACTION");
  InsertRow(*cursor, 2);
  Run("COMMIT WORK FLUSH");
  EXPECT_FALSE(FSession->GetInTransaction());
  Run("START TRANSACTION; ROLLBACK WORK");
  EXPECT_EQ(RowCount(*this, *cursor), 1);
}

TEST_F(SqlTransactionTest, SecondStartAndEndsOutsideATransactionAreRefused) {
  EXPECT_EQ(CodeOf("COMMIT"), 20229);
  EXPECT_EQ(CodeOf("ROLLBACK"), 20229);
  Run("START TRANSACTION");
  EXPECT_EQ(CodeOf("START TRANSACTION"), kErrSQLTransactionActive);
  EXPECT_TRUE(FSession->GetInTransaction());
  Run("COMMIT");
  struct Case {
    std::string sql;
    int32_t code;
  };
  for (const Case& c : {Case{"START", kErrStartEnd}, Case{"START WORK", kErrTransactionExpected},
                        Case{"START TRANSACTION now", 30246}, Case{"ROLLBACK everything", 30246}})
    EXPECT_EQ(CodeOf(c.sql), c.code) << c.sql;
  EXPECT_FALSE(FSession->GetInTransaction());
}

}  // namespace
}  // namespace orb::test
