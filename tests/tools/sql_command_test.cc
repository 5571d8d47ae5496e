#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "tests/support/cli.h"

namespace orb {
namespace {

using test::RunOrbdb;

class SqlCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (std::filesystem::temp_directory_path() / "orb_sql_cli_XXXXXX").string();
    ASSERT_NE(mkdtemp(templ.data()), nullptr);
    FDir = templ;
    FFile = FDir + "/db.orb";
    ASSERT_EQ(RunOrbdb({"create", FFile}).status, 0);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(FDir, ec);
  }
  std::string FDir;
  std::string FFile;
};

TEST_F(SqlCommandTest, ScriptsFromTheOptionAndFromStandardInputChangeTheFile) {
  const test::CliResult made = RunOrbdb({"sql", FFile, "-c", "CREATE TABLE t (a INTEGER, b VARCHAR(5))"});
  EXPECT_EQ(made.status, 0) << made.err;
  test::CliStdio stdio;
  stdio.input = "INSERT INTO t VALUES (1, 'x'),\n (2, 'y');\nCREATE INDEX ia ON t (a);\n";
  const test::CliResult filled = RunOrbdb({"sql", FFile}, stdio);
  EXPECT_EQ(filled.status, 0) << filled.err;
  EXPECT_EQ(filled.out, "");
  const test::CliResult dumped = RunOrbdb({"dump", FFile, "t"});
  EXPECT_EQ(dumped.status, 0) << dumped.err;
  EXPECT_NE(dumped.out.find("1\tx"), std::string::npos) << dumped.out;
  EXPECT_NE(dumped.out.find("2\ty"), std::string::npos) << dumped.out;
}

TEST_F(SqlCommandTest, TheFirstErrorStopsTheScriptWithItsCodeAndLine) {
  test::CliStdio stdio;
  stdio.input = "CREATE TABLE a (x INTEGER);\nCREATE TABLE b (x NOSUCH);\nCREATE TABLE c (x INTEGER);\n";
  const test::CliResult failed = RunOrbdb({"sql", FFile}, stdio);
  EXPECT_EQ(failed.status, 1);
  EXPECT_NE(failed.err.find("30232"), std::string::npos) << failed.err;
  EXPECT_NE(failed.err.find("line 2"), std::string::npos) << failed.err;
  const test::CliResult tables = RunOrbdb({"tables", FFile});
  EXPECT_EQ(tables.out, "a\t0\n");
}

}  // namespace
}  // namespace orb
