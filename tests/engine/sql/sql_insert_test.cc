#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/sql/sql_dml.h"
#include "tests/engine/sql/sql_fixture.h"

namespace orb::test {
namespace {

using Strings = std::vector<std::string>;

class SqlInsertTest : public SqlTest {
 protected:
  SqlInsertTest() { Run("CREATE TABLE t (a INTEGER, b VARCHAR(10), c INTEGER)"); }
  Strings Col(int32_t field_no, const std::u16string& table = u"t") { return ColumnValues(*OpenTable(table), field_no); }
};

TEST_F(SqlInsertTest, RowsByPositionOrByColumnListAndTheirCount) {
  EXPECT_EQ(Run("INSERT INTO t VALUES (1, 'x', 10), (2, 'y', 20)"), 2);
  EXPECT_EQ(Run("INSERT INTO t (c, a) VALUES (30, 3); INSERT INTO t VALUES (4)"), 2);
  EXPECT_EQ(Run("INSERT INTO t VALUES (2 * 3 + 1, UPPER('z'), NULL)"), 1);
  EXPECT_EQ(Col(0), (Strings{"1", "2", "3", "4", "7"}));
  EXPECT_EQ(Col(1), (Strings{"x", "y", "<null>", "<null>", "Z"}));
  EXPECT_EQ(Col(2), (Strings{"10", "20", "30", "<null>", "<null>"}));
}

TEST_F(SqlInsertTest, EveryRowIsCheckedAgainstTheColumnsBeforeAnyIsWritten) {
  struct Case {
    std::string sql;
    int32_t code;
  };
  const std::vector<Case> cases = {
      {"INSERT INTO t (a, b) VALUES (1)", kErrInsertValueCount},
      {"INSERT INTO t (a, b) VALUES (1, 'x'), (2)", kErrInsertValueCount},
      {"INSERT INTO t (a) VALUES (1), (2, 'x')", kErrInsertValueCount},
      // Longer than the table, without a column list.
      {"INSERT INTO t VALUES (1, 'x', 2), (1, 'x', 2, 3)", kErrInsertValueCount},
      {"INSERT INTO t (a, nosuch) VALUES (1, 2)", kErrSQLInsertFieldNotFound},
      {"INSERT INTO t VALUES (a)", kErrInsertValueParse},
      {"INSERT t VALUES (1)", kErrIntoExpected},
      {"INSERT INTO t (1) VALUES (1)", kErrInsertFieldExpected},
      {"INSERT INTO t VALUES 1", kErrValuesParenthesis},
      {"INSERT INTO t VALUES (1 2)", kErrInsertColumnSeparator},
      {"INSERT INTO t VALUES (1) (2)", 30246},
      {"INSERT INTO", kErrInsertEnd},
  };
  for (const Case& c : cases) EXPECT_EQ(CodeOf(c.sql), c.code) << c.sql;
  EXPECT_EQ(Col(0), Strings{});
}

TEST_F(SqlInsertTest, AFailingRowKeepsTheRowsPostedBeforeIt) {
  Run("CREATE UNIQUE INDEX ua ON t (a)");
  // The cursor's post status, raised as the engine error of a post.
  EXPECT_THROW(Run("INSERT INTO t (a) VALUES (1), (2), (1), (3)"), EORBEngineError);
  EXPECT_EQ(Col(0), (Strings{"1", "2"}));
  Run("CREATE TABLE r (a INTEGER NOT NULL)");
  EXPECT_THROW(Run("INSERT INTO r VALUES (5), (NULL)"), EORBEngineError);
  EXPECT_EQ(Col(0, u"r"), Strings{"5"});
}

TEST_F(SqlInsertTest, RowsOfATransactionGoWithItsRollback) {
  Run("START TRANSACTION; INSERT INTO t (a) VALUES (1), (2); ROLLBACK");
  EXPECT_EQ(Col(0), Strings{});
  Run("START TRANSACTION; INSERT INTO t (a) VALUES (3); COMMIT; INSERT INTO t (a) VALUES (4)");
  EXPECT_EQ(Col(0), (Strings{"3", "4"}));
}

TEST_F(SqlInsertTest, MemoryTables) {
  Run("CREATE TABLE MEMORY m (a INTEGER); INSERT INTO MEMORY m VALUES (1), (2)");
  TORBSQLContext memory(FSession.get());
  EXPECT_EQ(ColumnValues(*OpenTable(u"m", memory.SessionFor(true)), 0), (Strings{"1", "2"}));
  Run("DROP TABLE MEMORY m");
}

}  // namespace
}  // namespace orb::test
