#include "engine/expr/expression.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/base/orb_exception.h"
#include "engine/expr/expression_parser.h"
#include "engine/expr/sql_params.h"
#include "tests/engine/expr/expression_test_util.h"

namespace orb {
namespace {

using test::Eval;
using test::EvalText;
using test::EvalTyped;
using test::TestRow;

// Tree shape: OP(child,child), fields by name, constants by value.
std::string Dump(const TORBExprNode* n) {
  if (n->IsField()) return WideToUtf8(static_cast<const TORBExprNodeField*>(n)->FieldName());
  if (n->IsConst()) return test::Text(n->Value);
  std::string op(GetOperatorName(n->Operator));
  if (dynamic_cast<const TORBExprNodeCase*>(n) != nullptr) op = "CASE";
  if (auto* c = dynamic_cast<const TORBExprNodeComparison*>(n); c != nullptr && c->FPartialKey) op += "prefix";
  std::string out = op + "(";
  for (size_t i = 0; i < n->ChildCount(); ++i) {
    if (i > 0) out += ",";
    out += Dump(n->Child(i));
  }
  return out + ")";
}

std::string Tree(const std::string& text) {
  TORBExpression e;
  e.ParseForCondition(Utf8ToWide(text));
  return Dump(e.Root());
}

TEST(ExpressionParseTest, PrecedenceAndAssociativity) {
  struct Case {
    const char* text;
    const char* tree;
  };
  const Case cases[] = {
      {"a = 1 OR b = 2 AND c = 3", "OR(=(a,1),AND(=(b,2),=(c,3)))"},
      {"NOT a = 1 AND b = 2", "AND(NOT(=(a,1)),=(b,2))"},
      {"a OR b OR c", "OR(OR(a,b),c)"},
      {"a AND b AND c", "AND(a,b,c)"},
      {"(a OR b) AND c", "AND(OR(a,b),c)"},
      {"a - b - c", "+(a,-(b),-(c))"},
      {"a + b * c", "+(a,*(b,c))"},
      {"a * b / c", "/(*(a,b),c)"},
      {"(a + b) * c", "*(+(a,b),c)"},
      {"-a * b", "*(-(a),b)"},
      {"a || b || c", "||(a,b,c)"},
      {"'x' + a", "||(x,a)"},
      {"a + 1 || b", "||(a,1,b)"},
      {"a IS TRUE", "a"},
      {"a IS NOT TRUE", "NOT(a)"},
      {"a IS FALSE", "NOT(a)"},
      {"a IS NOT FALSE", "a"},
      {"a IS UNKNOWN", "IS NULL(a)"},
      {"a IS NOT UNKNOWN", "IS NOT NULL(a)"},
      {"a IS NULL", "IS NULL(a)"},
      {"a IS NOT NULL", "IS NOT NULL(a)"},
      {"a = NULL", "IS NULL(a)"},
      {"NULL <> a", "IS NOT NULL(a)"},
      {"a BETWEEN 1 AND 2 AND b", "AND(BETWEEN(a,1,2),b)"},
      {"a NOT BETWEEN 1 AND 2", "NOT BETWEEN(a,1,2)"},
      {"a IN (1, 2, 3)", "IN(a,1,2,3)"},
      {"a NOT IN (1)", "NOT IN(a,1)"},
      {"name LIKE 'Jo%'", "=prefix(name,Jo)"},
      {"name NOT LIKE 'Jo%'", "<>prefix(name,Jo)"},
      {"name LIKE 'J_%'", "LIKE(name,J_%)"},
      {"name LIKE '%o'", "LIKE(name,%o)"},
      {"name LIKE '%'", "LIKE(name,%)"},
      {"name LIKE 'Jo%' ESCAPE '\\'", "LIKE(name,Jo%)"},
      {"t.a = 1", "=(a,1)"},
      {"[a b] >= `c`", ">=(a b,c)"},
      {"CASE WHEN a THEN 1 ELSE 2 END", "CASE(a,1,2)"},
      {"NOW - 1 + 2", "+(SYSDATE(),-(1),2)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Tree(c.text), c.tree) << c.text;
  }
}

TEST(ExpressionParseTest, TopLevelAndsAreMergedForBooleanExpressions) {
  TORBLexer lexer("a = 1 AND (b = 2 AND (c = 3 AND d = 4)) AND e = 5", nullptr, true);
  ASSERT_TRUE(lexer.GetNextCommand());
  TORBExpression e;
  e.ParseForBooleanExpression(lexer);
  EXPECT_EQ(Dump(e.Root()), "AND(=(a,1),=(b,2),=(c,3),=(d,4),=(e,5))");
}

TEST(ExpressionParseTest, LiteralTypingAtThe32BitEdges) {
  struct Case {
    const char* text;
    const char* typed;
  };
  const Case cases[] = {
      {"2147483646", "INTEGER 2147483646"},
      {"2147483647", "LARGEINT 2147483647"},
      {"2147483648", "LARGEINT 2147483648"},
      // A sign is arithmetic, which is done in 64 bits.
      {"-2147483646", "LARGEINT -2147483646"},
      {"-2147483647", "LARGEINT -2147483647"},
      {"9223372036854775807", "LARGEINT 9223372036854775807"},
      {"0", "INTEGER 0"},
      {"1.5", "FLOAT 1.5"},
      {".5", "FLOAT 0.5"},
      {"1e3", "FLOAT 1000"},
      {"'abc'", "STRING abc"},
      {"'\xc5\x81\xc3\xb3" "d\xc5\xba'", "WIDESTRING \xc5\x81\xc3\xb3" "d\xc5\xba"},
      {"'caf\xc3\xa9'", "STRING caf\xc3\xa9"},
      {"TRUE", "LOGICAL True"},
      {"DATE '2024-03-05'", "DATE 2024-03-05"},
      {"TIME '14:07:09'", "TIME 14:07:09"},
      {"TIMESTAMP '2024-03-05 14:07:09'", "DATETIME 2024-03-05 14:07:09"},
      {"NULL", "Unknown NULL"},
      {"2147483646 + 1", "LARGEINT 2147483647"},
      {"2147483647 + 1", "LARGEINT 2147483648"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EvalTyped(c.text), c.typed) << c.text;
  }
  try {
    Eval("99999999999999999999");
    ADD_FAILURE() << "no error for an integer beyond 64 bits";
  } catch (const EORBException& e) {
    EXPECT_EQ(e.NativeError(), 30062);
  }
}

// Every null rule in one table, over a row where x is a null integer, s a
// null string and n the integer 5.
TEST(ExpressionEvalTest, NullRules) {
  TestRow row;
  row.AddNull("x", aftInteger);
  row.AddNull("s", aftString, 10);
  row.AddInt("n", 5);
  row.AddString("name", "abc");
  struct Case {
    const char* text;
    const char* result;
  };
  const Case cases[] = {
      {"x = NULL", "True"},
      {"x <> NULL", "False"},
      {"n = NULL", "False"},
      {"n <> NULL", "True"},
      {"x > 5", "False"},
      {"x < 5", "False"},
      {"x = 5", "False"},
      {"x <> 5", "False"},
      {"x = x", "False"},
      {"s < 'm'", "True"},
      {"s = 'm'", "False"},
      {"s <> 'm'", "True"},
      {"x < DATE '2024-01-01'", "True"},
      {"NOT x > 5", "True"},
      {"1 = NULL", "False"},
      {"x IS NULL", "True"},
      {"n IS NOT NULL", "True"},
      {"NULL AND FALSE", "False"},
      {"NULL AND TRUE", "NULL"},
      {"NULL OR TRUE", "True"},
      {"NULL OR FALSE", "NULL"},
      {"NOT NULL", "NULL"},
      {"x BETWEEN 1 AND 9", "NULL"},
      {"n BETWEEN x AND 9", "NULL"},
      {"x NOT BETWEEN 1 AND 9", "NULL"},
      {"x IN (1, 2)", "NULL"},
      {"x NOT IN (1, 2)", "NULL"},
      {"n IN (1, NULL)", "False"},
      {"n IN (5, NULL)", "True"},
      {"s LIKE 'a%c'", "False"},
      {"s LIKE '%'", "True"},
      {"name LIKE NULL", "NULL"},
      {"x + 1", "NULL"},
      {"-x", "NULL"},
      {"x * 2", "NULL"},
      {"n / x", "NULL"},
      {"'a' || NULL || 'b'", "ab"},
      {"NULL || 'b'", "b"},
      {"s || NULL", "NULL"},
      {"UPPER(s)", "NULL"},
      {"LENGTH(s)", "0"},
      {"SUBSTRING(s FROM 1)", "NULL"},
      {"ABS(x)", "NULL"},
      {"ROUND(x, 2)", "NULL"},
      {"CAST(x AS VARCHAR)", "NULL"},
      {"COALESCE(x, s, n)", "5"},
      {"COALESCE(x, s)", "NULL"},
      {"CASE x WHEN NULL THEN 1 ELSE 2 END", "2"},
      {"CASE WHEN x > 1 THEN 1 END", "NULL"},
      {"TOSTRING(x, 'YYYY')", "NULL"},
      {"EXTRACT(YEAR FROM x)", "NULL"},
  };
  for (const Case& c : cases) {
    try {
      EXPECT_EQ(EvalText(c.text, &row), c.result) << c.text;
    } catch (const std::exception& e) {
      ADD_FAILURE() << c.text << ": " << e.what();
    }
  }
}

TEST(ExpressionEvalTest, ComparisonsAndPredicates) {
  TestRow row;
  row.AddInt("n", 5);
  row.AddString("name", "John");
  struct Case {
    const char* text;
    const char* result;
  };
  const Case cases[] = {
      {"n = 5 AND n <> 4 AND n > 4 AND n < 6 AND n >= 5 AND n <= 5", "True"},
      {"n > 5 OR n < 5", "False"},
      {"'abc' BETWEEN 'ABA' AND 'ABD'", "True"},
      {"'abc' IN ('ABC', 'x')", "True"},
      {"'abc' = 'ABC'", "False"},
      {"name LIKE 'Jo%'", "True"},
      {"name LIKE 'jo%'", "False"},
      {"name NOT LIKE 'Jo%'", "False"},
      {"name LIKE 'J_%'", "True"},
      {"name LIKE 'J__'", "False"},
      {"name LIKE '%hn'", "True"},
      {"'a%c' LIKE 'a\\%c' ESCAPE '\\'", "True"},
      {"'abc' LIKE 'a\\%c' ESCAPE '\\'", "False"},
      {"'abc' NOT LIKE 'a\\%c' ESCAPE '\\'", "True"},
      {"'\xc5\x81\xc3\xb3" "d\xc5\xba' LIKE '_\xc3\xb3" "%'", "True"},
      {"CASE n WHEN 4 THEN 'four' WHEN 5 THEN 'five' ELSE 'other' END", "five"},
      {"CASE WHEN n > 9 THEN 'big' WHEN n > 3 THEN 'mid' ELSE 'small' END", "mid"},
      {"CASE WHEN n > 9 THEN 'big' END", "NULL"},
      {"DATE '2024-01-31' = '2024-01-31'", "True"},
  };
  for (const Case& c : cases) {
    try {
      EXPECT_EQ(EvalText(c.text, &row), c.result) << c.text;
    } catch (const std::exception& e) {
      ADD_FAILURE() << c.text << ": " << e.what();
    }
  }
}

TEST(ExpressionEvalTest, CaseInsensitiveFilterAndPartialKey) {
  TestRow row;
  row.AddString("name", "ABC");
  EXPECT_EQ(test::Text(Eval("name LIKE 'a%'", &row, true)), "True");
  EXPECT_EQ(test::Text(Eval("name LIKE 'a%'", &row, false)), "False");
  EXPECT_EQ(test::Text(Eval("'ABC' LIKE 'a_c'", &row, true)), "True");
  EXPECT_EQ(test::Text(Eval("name = 'abc'", &row, true)), "True");

  TORBExpression e;
  e.ParseForFilter(&row, u"name = 'AB*'", false, true);
  EXPECT_TRUE(e.GetResult());
  e.ParseForFilter(&row, u"'AB*' = name", false, true);
  EXPECT_TRUE(e.GetResult());
  e.ParseForFilter(&row, u"name = 'AB*'", false, false);
  EXPECT_FALSE(e.GetResult());
}

TEST(ExpressionEvalTest, SubtractionNeverWrapsThroughUnsignedNegation) {
  TestRow row;
  TORBVariant b(bftUnsignedInt8);
  b.SetAsByte(200);
  row.Add("b", aftByte, b);
  TORBVariant w(bftUnsignedInt16);
  w.SetAsWord(60000);
  row.Add("w", aftWord, w);
  EXPECT_EQ(EvalText("300 - b", &row), "100");
  EXPECT_EQ(EvalText("1000 - b - b", &row), "600");
  EXPECT_EQ(EvalTyped("-b", &row), "LARGEINT -200");
  EXPECT_EQ(EvalText("0 - w", &row), "-60000");
  EXPECT_EQ(EvalText("-w + 1", &row), "-59999");
}

TEST(ExpressionEvalTest, AggregatesOverRows) {
  TestRow row;
  row.AddNull("v", aftInteger);
  TORBExpression sum, count, count_all, avg, mn, mx;
  sum.ParseForCondition(u"SUM(v)");
  count.ParseForCondition(u"COUNT(v)");
  count_all.ParseForCondition(u"COUNT(*)");
  avg.ParseForCondition(u"AVG(v)");
  mn.ParseForCondition(u"MIN(v)");
  mx.ParseForCondition(u"MAX(v)");
  TORBExpression* all[] = {&sum, &count, &count_all, &avg, &mn, &mx};
  for (TORBExpression* e : all) {
    e->AssignResolver(&row);
    e->Init();
  }
  EXPECT_EQ(test::Text(avg.GetValue()), "NULL");
  // Three rows of 2147483647 and one null: the sum leaves 32 bits.
  for (int i = 0; i < 4; ++i) {
    if (i == 3) {
      row.Set("v", TORBVariant(bftSignedInt32));
    } else {
      TORBVariant v(bftSignedInt32);
      v.SetAsInteger(i == 1 ? -5 : 2147483647);
      row.Set("v", v);
    }
    for (TORBExpression* e : all) e->Accumulate();
  }
  EXPECT_EQ(test::Text(sum.GetValue()), "4294967289");
  EXPECT_EQ(sum.GetValue().DataType(), bftSignedInt64);
  EXPECT_EQ(sum.GetDataType(), aftLargeint);
  EXPECT_EQ(test::Text(count.GetValue()), "3");
  EXPECT_EQ(test::Text(count_all.GetValue()), "4");
  EXPECT_DOUBLE_EQ(avg.GetValue().AsDouble(), 4294967289.0 / 3);
  EXPECT_EQ(test::Text(mn.GetValue()), "-5");
  EXPECT_EQ(test::Text(mx.GetValue()), "2147483647");
  count_all.SetCountAll(42);
  EXPECT_EQ(test::Text(count_all.GetValue()), "42");
  EXPECT_TRUE(count_all.IsAggregatedCountAll());

  TestRow text_row;
  text_row.AddString("t", "x");
  TORBExpression bad;
  bad.ParseForCondition(u"SUM(t)");
  bad.AssignResolver(&text_row);
  bad.Init();
  try {
    bad.Accumulate();
    ADD_FAILURE() << "SUM of a string";
  } catch (const EORBException& e) {
    EXPECT_EQ(e.NativeError(), 30132);
  }
}

TEST(ExpressionEvalTest, RownumCounts) {
  TORBExpression e;
  e.ParseForCondition(u"ROWNUM");
  EXPECT_EQ(test::Text(e.GetValue()), "1");
  EXPECT_EQ(test::Text(e.GetValue()), "2");
  EXPECT_EQ(test::Text(e.GetValue()), "3");
}

TEST(ExpressionEvalTest, ParametersBecomeConstants) {
  TORBSQLParams params;
  TORBSQLParam* limit = params.AddCreated();
  limit->Name = u"limit";
  limit->SetAsInteger(10);
  TORBSQLParam* missing = params.AddCreated();
  missing->Name = u"missing";
  missing->Clear(bftSignedInt32);
  TORBSQLParam* flag = params.AddCreated();
  flag->Name = u"flag";
  flag->SetAsBoolean(true);

  TestRow row;
  row.AddInt("n", 5);
  row.AddNull("x", aftInteger);
  TORBLexer lexer("n < :limit AND x = :missing AND :flag", &params, false);
  ASSERT_TRUE(lexer.GetNextCommand());
  TORBExpression e;
  e.ParseForBooleanExpression(lexer);
  EXPECT_EQ(Dump(e.Root()), "AND(<(n,10),IS NULL(x),True)");
  e.AssignResolver(&row);
  EXPECT_TRUE(e.GetResult());
}

TEST(ExpressionEvalTest, FieldBinding) {
  TestRow row;
  row.AddInt("n", 5);
  TORBExpression e;
  e.ParseForCondition(u"n + m");
  try {
    e.AssignResolver(&row);
    ADD_FAILURE() << "unknown field bound";
  } catch (const EORBException& ex) {
    EXPECT_EQ(ex.NativeError(), 30115);
    EXPECT_NE(std::string(ex.what()).find("Field 'm' not found"), std::string::npos);
  }
  TORBExpression unbound;
  unbound.ParseForCondition(u"n");
  try {
    unbound.GetValue();
    ADD_FAILURE() << "unbound field read";
  } catch (const EORBException& ex) {
    EXPECT_EQ(ex.NativeError(), 30196);
  }
  EXPECT_TRUE(unbound.IsField());
  std::u16string table, field;
  unbound.GetFieldInfo(table, field);
  EXPECT_EQ(field, u"n");
  TORBExpression not_field;
  not_field.ParseForCondition(u"1");
  try {
    not_field.GetFieldInfo(table, field);
    ADD_FAILURE();
  } catch (const EORBException& ex) {
    EXPECT_EQ(ex.NativeError(), 30198);
  }
  TORBExpression empty;
  try {
    empty.GetResult();
    ADD_FAILURE();
  } catch (const EORBException& ex) {
    EXPECT_EQ(ex.NativeError(), 30110);
  }
}

TEST(ExpressionEvalTest, WideConstantsAgainstByteStringFieldsArePatched) {
  TestRow row;
  row.AddString("name", "a?b");
  TORBExpression e;
  // U+0141 has no place in the code page and becomes '?'.
  e.ParseForFilter(&row, u"name = 'a\u0141b'", false, false);
  EXPECT_EQ(e.Root()->Child(1)->Value.DataType(), bftVarchar);
  EXPECT_TRUE(e.GetResult());
}

TEST(ExpressionEvalTest, ResultTypes) {
  TestRow row;
  row.AddInt("n", 5);
  row.AddString("name", "abc", 30);
  struct Case {
    const char* text;
    TORBAdvancedFieldType type;
    int32_t size;
  };
  const Case cases[] = {
      {"n + 1", aftLargeint, 0},
      {"n + 1.5", aftDouble, 0},
      {"name || 'xy'", aftString, 32},
      {"UPPER(name)", aftString, 30},
      {"LENGTH(name)", aftInteger, 0},
      {"CAST(n AS VARCHAR(12))", aftString, 12},
      {"CAST(name AS VARCHAR)", aftString, 30},
      {"TOSTRING(NOW, 'DD.MM.YYYY')", aftString, 10},
      {"TODATE('05.03.2024', 'DD.MM.YYYY')", aftDate, 0},
      {"TODATE('14:07', 'HH24:NN')", aftTime, 0},
      {"COUNT(*)", aftInteger, 0},
      {"CASE WHEN n > 1 THEN 1 ELSE 2.5 END", aftDouble, 0},
      {"CEIL(1.5)", aftLargeint, 0},
      {"CEIL(n)", aftLargeint, 0},
      {"n > 1", aftBoolean, 0},
  };
  for (const Case& c : cases) {
    TORBExpression e;
    e.ParseForCondition(Utf8ToWide(c.text));
    e.AssignResolver(&row);
    EXPECT_EQ(e.GetDataType(), c.type) << c.text;
    EXPECT_EQ(e.GetDataSize(), c.size) << c.text;
  }
}

struct ErrorCase {
  const char* text;
  int32_t code;
  const char* message;
};

TEST(ExpressionParseTest, SyntaxErrors) {
  const ErrorCase cases[] = {
      {"COALESCE()", 20276, "COALESCE arguments are missing at line 1, column 10"},
      {"CAST(1 AS NOSUCHTYPE)", 30077, "Cannot convert an expression to specified type: 'NOSUCHTYPE'"},
      {"CAST(1 AS BLOB)", 30077, "specified type: 'BLOB'"},
      {"CAST(1 INTEGER)", 30076, "Token 'AS' expected, but 'INTEGER' found at line 1, column 8"},
      {"1 +", 30063, "Unexpected end of SQL command found at line 1, column 3"},
      {"1 2", 30064, "Unexpected token '2' found at line 1, column 3"},
      {"a = 1 AND", 30063, "Unexpected end of SQL command"},
      {"a = 1 AND ,", 30069, "Boolean expression expected, but ',' found at line 1, column 11"},
      {"a = 1 OR ,", 30070, "Boolean expression expected, but ',' found at line 1, column 10"},
      {"a IS 5", 30067, "Token 'TRUE, FALSE or UNKNOWN' expected, but '5' found at line 1, column 6"},
      {"UPPER 'x'", 30090, "Token '(' expected, but 'x' found"},
      {"UPPER()", 30091, "Argument expected for function 'UPPER' at line 1, column 7"},
      {"UPPER('x' 'y')", 30092, "Token ')' expected, but 'y' found at line 1, column 11"},
      {"SUBSTRING('x' 1)", 30095, "Token 'FROM' expected, but '1' found"},
      {"POS('x' 'y')", 30080, "Token 'IN' expected"},
      {"LENGTH()", 30085, "Argument expected for function 'LENGTH'"},
      {"EXTRACT(WEEK FROM NOW)", 20278, "Token 'YEAR, MONTH, DAY, HOUR, MINUTE or SECOND' expected"},
      {"EXTRACT(DATE FROM NOW)", 20279, "expected, but 'DATE' found"},
      {"EXTRACT(YEAR NOW)", 20280, "Token 'FROM' expected"},
      {"ABS()", 20262, "Argument expected for function 'ABS'"},
      {"POWER(2 3)", 20267, "comma (\",\") expected but not found at line 1, column 9"},
      {"ROUND(1, 2, )", 30505, "expected, but ')' found"},
      {"TODATE('x' 'y')", 30108, "Token ',' expected"},
      {"TODATE('x', y)", 30109, "Const DateFormat string expected, but 'y' found at line 1, column 13"},
      {"TOSTRING(NOW, 5)", 30103, "Const DateFormat string expected, but '5' found"},
      {"COUNT(* 1)", 30074, "Token ')' expected, but '1' found"},
      {"SUM()", 30102, "Argument expected for function 'SUM' at line 1, column 5"},
      {"CASE 1 THEN 2 END", 30468, "Token 'WHEN' expected, but 'THEN' found"},
      {"CASE WHEN 1 = 1 THEN 2", 30063, "Unexpected end"},
      {"CASE WHEN 1 = 1 THEN 2 ELSE 3 4", 30478, "Token 'END' expected, but '4' found"},
      {"CASE WHEN THEN 2 END", 30474, "Search Condition for CASE function expected, but 'THEN' found"},
      {"CASE 1 WHEN 1 THEN 2 ELSE , END", 30471, "'Else Result Expression' for CASE function expected"},
      {"DATE 5", 20284, "Token 'string' expected, but '5' found"},
      {"DATE '2024-02-30'", 20283, "Date string expected \"YYYY-MM-DD\", but found \"2024-02-30\" at line 1, column 6"},
      {"TIME '25:00:00'", 20285, "Time string expected \"HH:MM:SS\", but found \"25:00:00\""},
      {"TIMESTAMP 'x'", 20287, "Time string expected"},
      {"'a' LIKE 'b' ESCAPE 'xy'", 20294, "Invalid escape character length (should be a single character) at line 1, column 21"},
      {"MIMETOBIN(5)", 30480, "String argument expected for function 'MIMETOBIN', but '5' found"},
      {"a = (SELECT 1)", 30602, "Subqueries are not available"},
      {"EXISTS (SELECT 1)", 30602, "Subqueries are not available"},
      {"a IN (SELECT 1)", 30602, "Subqueries are not available"},
      {"LASTAUTOINC(t, c)", 30603, "LASTAUTOINC"},
      {"   ", 30119, "Blank SQL command"},
      {"1; 2", 30064, "Unexpected token '2' found at line 1, column 4"},
  };
  for (const ErrorCase& c : cases) {
    try {
      TORBExpression e;
      e.ParseForCondition(Utf8ToWide(c.text));
      ADD_FAILURE() << "no error for " << c.text;
    } catch (const EORBException& e) {
      EXPECT_EQ(e.NativeError(), c.code) << c.text << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.text << ": " << e.what();
    }
  }
}

TEST(ExpressionParseTest, EntryPointErrors) {
  TestRow row;
  TORBExpression e;
  try {
    e.ParseForFilter(&row, u"  /* nothing */ ", false, false);
    ADD_FAILURE();
  } catch (const EORBException& ex) {
    EXPECT_EQ(ex.NativeError(), 30119);
  }
  TORBLexer lexer("select", nullptr, true);
  ASSERT_TRUE(lexer.GetNextCommand());
  lexer.SetCurrentTokenNo(1);
  try {
    e.ParseForBooleanExpression(lexer);
    ADD_FAILURE();
  } catch (const EORBException& ex) {
    EXPECT_EQ(ex.NativeError(), 30118);
  }
  lexer.SetCurrentTokenNo(0);
  try {
    e.ParseForBooleanExpression(lexer);
    ADD_FAILURE();
  } catch (const EORBException& ex) {
    EXPECT_EQ(ex.NativeError(), 30066);
    EXPECT_NE(std::string(ex.what()).find("Boolean expression expected, but 'select' found at line 1, column 1"),
              std::string::npos);
  }
}

TEST(ExpressionParseTest, ValueExpressionLeavesTheLexerAfterIt) {
  TORBLexer lexer("a + 1, b", nullptr, true);
  ASSERT_TRUE(lexer.GetNextCommand());
  TORBExpression e;
  e.ParseForValueExpression(lexer);
  EXPECT_EQ(Dump(e.Root()), "+(a,1)");
  TToken t;
  ASSERT_TRUE(lexer.GetCurrentToken(t));
  EXPECT_EQ(t.TokenType, tktComma);
}

TEST(ExpressionParseTest, DefaultValues) {
  struct Case {
    const char* text;
    bool parses;
    bool non_constant;
  };
  const Case cases[] = {
      {"NOW", true, true},
      {"CURRENT_DATE", true, true},
      {"1 + 1", true, true},
      {"5", true, false},
      {"abc", true, false},  // a field name: refers to a field
      {"1 +", false, false},
      {"1; 2", false, false},
      {"(1", false, false},
      {"1 2", false, false},
  };
  for (const Case& c : cases) {
    TORBExpression e;
    EXPECT_EQ(e.ParseForDefaultValueExpression(Utf8ToWide(c.text)), c.parses) << c.text;
    TORBVariant v(bftVarchar);
    v.SetAsAnsiString(c.text);
    EXPECT_EQ(IsNonConstantExpression(v), c.non_constant) << c.text;
  }
  TORBVariant number(bftSignedInt32);
  number.SetAsInteger(1);
  EXPECT_FALSE(IsNonConstantExpression(number));
}

TEST(ExpressionParseTest, CheckConditions) {
  TestRow row;
  row.AddInt("n", 15);
  row.AddNull("x", aftInteger);
  TORBExpression e;
  e.ParseForCondition(u"n BETWEEN 10 AND 20");
  e.AssignResolver(&row);
  EXPECT_TRUE(e.ConditionHolds());
  e.ParseForCondition(u"x BETWEEN 10 AND 20");
  e.AssignResolver(&row);
  EXPECT_TRUE(e.ConditionHolds());
  EXPECT_FALSE(e.GetResult());
  e.ParseForCondition(u"n > 20");
  e.AssignResolver(&row);
  EXPECT_FALSE(e.ConditionHolds());
}

TEST(ExpressionEvalTest, LocateConditions) {
  TestRow row;
  row.AddInt("n", 5);
  row.AddString("name", "Smith");
  row.AddNull("x", aftInteger);
  TORBVariant five(bftSignedInt32);
  five.SetAsInteger(5);
  TORBVariant smi(bftVarchar);
  smi.SetAsAnsiString("smi");
  TORBVariant null_int(bftSignedInt32);

  TORBExpression e;
  e.ParseForLocate(&row, u"n", {five}, false, false);
  EXPECT_TRUE(e.GetResult());
  e.ParseForLocate(&row, u"n;name", {five, smi}, true, true);
  EXPECT_EQ(Dump(e.Root()), "AND(=(n,5),=prefix(name,smi))");
  EXPECT_TRUE(e.GetResult());
  e.ParseForLocate(&row, u"n;name", {five, smi}, false, true);
  EXPECT_FALSE(e.GetResult());
  e.ParseForLocate(&row, u"x", {null_int}, false, false);
  EXPECT_TRUE(e.GetResult());
  e.ParseForLocate(&row, u"n", {null_int}, false, false);
  EXPECT_FALSE(e.GetResult());
  try {
    e.ParseForLocate(&row, u"n;name", {five}, false, false);
    ADD_FAILURE();
  } catch (const EORBException& ex) {
    EXPECT_EQ(ex.NativeError(), 30112);
    EXPECT_NE(std::string(ex.what()).find("Count of FieldNames (2) does not equal counts of KeyValues (1)"),
              std::string::npos);
  }
  e.ParseForIsAnyRecordMatchCondition(&row, u"n", doGT, five);
  EXPECT_FALSE(e.GetResult());
  e.ParseForIsAnyRecordMatchCondition(&row, u"x", doLT, five);
  EXPECT_TRUE(e.GetResult());
}

TEST(ExpressionParseTest, TypeNames) {
  EXPECT_EQ(GetFieldType(u"varchar"), aftString);
  EXPECT_EQ(GetFieldType(u"Float"), aftDouble);
  EXPECT_EQ(GetFieldType(u"TIMESTAMP"), aftTimeStamp);
  EXPECT_EQ(GetFieldType(u"nosuch"), aftUnknown);
  EXPECT_EQ(GetOperatorName(doNOTLIKE), "NOT LIKE");
  EXPECT_EQ(ReverseComparisonOperator(doGE), doLE);
  EXPECT_EQ(ReverseComparisonOperator(doNE), doNE);
  EXPECT_EQ(InvertComparisonOperator(doGT), doLE);
  EXPECT_EQ(InvertComparisonOperator(doEQ), doNE);
}

}  // namespace
}  // namespace orb
