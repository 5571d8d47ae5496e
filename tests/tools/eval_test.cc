#include <gtest/gtest.h>

#include <string>

#include "tests/support/cli.h"

namespace orb {
namespace {

using test::RunOrbdb;

TEST(EvalCommandTest, PrintsValues) {
  struct Case {
    std::vector<std::string> args;
    const char* out;
  };
  const Case cases[] = {
      {{"eval", "ROUND(2.675, 2)"}, "2.68\n"},
      {{"eval", "SUBSTRING('abcdef' FROM 2 FOR 3)"}, "bcd\n"},
      {{"eval", "1 + 2 * 3"}, "7\n"},
      {{"eval", "NULL"}, "NULL\n"},
      {{"eval", "'a' || NULL || 'b'"}, "ab\n"},
      {{"eval", "1 < 2 AND 'abc' LIKE 'a%'"}, "True\n"},
      {{"eval", "UPPER('\xc5\x82\xc3\xb3" "d\xc5\xba')"}, "\xc5\x81\xc3\x93" "D\xc5\xb9\n"},
      {{"eval", "MIMETOBIN('aGVsbG8=')"}, "hello\n"},
      {{"eval", "--type", "2147483647"}, "LARGEINT\t2147483647\n"},
      {{"eval", "--type", "2147483646"}, "INTEGER\t2147483646\n"},
      {{"eval", "--type", "1.5"}, "FLOAT\t1.5\n"},
      {{"eval", "--type", "DATE '2024-03-05' + 1"}, "DATE\t2024-03-06\n"},
      {{"eval", "--type", "CAST(NULL AS INTEGER)"}, "INTEGER\tNULL\n"},
      {{"eval", "--type", "COUNT(*)"}, "INTEGER\t1\n"},
      {{"eval", "--type", "'--type'"}, "STRING\t--type\n"},
  };
  for (const Case& c : cases) {
    const test::CliResult r = RunOrbdb(c.args);
    EXPECT_EQ(r.status, 0) << c.args.back() << ": " << r.err;
    EXPECT_EQ(r.out, c.out) << c.args.back();
    EXPECT_EQ(r.err, "") << c.args.back();
  }
}

TEST(EvalCommandTest, ErrorsGoToStderrWithStatus1) {
  struct Case {
    const char* expr;
    const char* err;
  };
  const Case cases[] = {
      {"1 +", "Unexpected end of SQL command found at line 1, column 3 - Native error: 30063\n"},
      {"1\n+ 2 3", "Unexpected token '3' found at line 2, column 5 - Native error: 30064\n"},
      {"'abc", "Unterminated string at line 1, column 1 - Native error: 30061\n"},
      {"1 / 0", "Division error"},
      {"x + 1", "Field 'x' not found - Native error: 30115\n"},
  };
  for (const Case& c : cases) {
    const test::CliResult r = RunOrbdb({"eval", c.expr});
    EXPECT_EQ(r.status, 1) << c.expr;
    EXPECT_EQ(r.out, "") << c.expr;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.expr << ": " << r.err;
  }
}

TEST(EvalCommandTest, UsageErrors) {
  EXPECT_EQ(RunOrbdb({"eval"}).status, 2);
  EXPECT_EQ(RunOrbdb({"eval", "1", "2"}).status, 2);
  EXPECT_EQ(RunOrbdb({"eval", "--type"}).status, 2);
}

}  // namespace
}  // namespace orb
