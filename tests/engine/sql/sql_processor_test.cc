#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/expr/sql_params.h"
#include "engine/sql/sql_processor.h"
#include "tests/engine/sql/sql_fixture.h"

namespace orb::test {
namespace {

using SqlProcessorTest = SqlTest;

TEST_F(SqlProcessorTest, ScriptsWithoutCommandsAndUnknownFirstTokensRaiseTheirCodes) {
  struct Case {
    std::string sql;
    int32_t code;
  };
  const std::vector<Case> cases = {
      {"", kErrBlankScript},
      {"   \n\t ", kErrBlankScript},
      {"HELLO world", kErrSQLTokenExpected},
      {"WHERE a = 1", kErrSQLKeywordExpected},
      {"CREATE", kErrCreateObjectEnd},
      {"CREATE VIEW v", kErrCreateObjectType},
      {"CREATE UNIQUE TABLE t (a INTEGER)", 30267},
      {"DROP", kErrDropObjectEnd},
      {"DROP COLUMN c", kErrDropObjectType},
      {"ALTER", kErrAlterObjectEnd},
      {"ALTER INDEX i", kErrAlterObjectType},
      {"RENAME", kErrRenameEnd},
  };
  for (const Case& c : cases) EXPECT_EQ(CodeOf(c.sql), c.code) << c.sql;
}

TEST_F(SqlProcessorTest, StatementsNotYetRunRaiseACodedErrorAndChangeNothing) {
  Run("CREATE TABLE t (a INTEGER)");
  for (const char* sql : {"SELECT * FROM t", "(SELECT * FROM t)", "INSERT INTO t SELECT * FROM t", "UPDATE t SET a = 1",
                          "DELETE FROM t", "TRUNCATE TABLE t", "RENAME TABLE t TO u", "ALTER TABLE t ADD (b INTEGER)"}) {
    const std::string message = RaisedMessage([&] { Run(sql); });
    EXPECT_EQ(CodeOf(sql), kErrSQLNotSupported) << sql;
    EXPECT_NE(message.find("is not supported yet"), std::string::npos) << message;
  }
  EXPECT_TRUE(FSession->TableExists(u"t"));
  EXPECT_FALSE(FSession->TableExists(u"u"));
}

TEST_F(SqlProcessorTest, RunsCommandsInOrderAndAnErrorLeavesTheEarlierOnesApplied) {
  Run("CREATE TABLE a (x INTEGER); CREATE TABLE b (x INTEGER);");
  EXPECT_EQ(FProcessor->FCommandsDone, 2);
  EXPECT_TRUE(FSession->TableExists(u"a"));
  EXPECT_TRUE(FSession->TableExists(u"b"));

  // The third command fails: the two before it stay, the fourth never runs.
  EXPECT_EQ(CodeOf("DROP TABLE a; CREATE TABLE c (x INTEGER); CREATE TABLE b (y INTEGER); CREATE TABLE d (x INTEGER)"),
            30247);
  EXPECT_EQ(FProcessor->FCommandsDone, 2);
  EXPECT_FALSE(FSession->TableExists(u"a"));
  EXPECT_TRUE(FSession->TableExists(u"c"));
  EXPECT_FALSE(FSession->TableExists(u"d"));

  // A parse error stops the script the same way.
  EXPECT_EQ(CodeOf("CREATE TABLE e (x INTEGER); CREATE TABLE f (x NOSUCHTYPE); CREATE TABLE g (x INTEGER)"), 30232);
  EXPECT_TRUE(FSession->TableExists(u"e"));
  EXPECT_FALSE(FSession->TableExists(u"f"));
  EXPECT_FALSE(FSession->TableExists(u"g"));
}

TEST_F(SqlProcessorTest, ParameterAsTableName) {
  TORBSQLParams params;
  TORBSQLParam* name = params.AddCreated();
  name->Name = u"tab";
  name->SetAsAnsiString("PT");
  FProcessor->ExecuteScript(std::string_view("CREATE TABLE :tab (x INTEGER)"), &params);
  EXPECT_TRUE(FSession->TableExists(u"PT"));
}

}  // namespace
}  // namespace orb::test
