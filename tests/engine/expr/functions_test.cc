#include <gtest/gtest.h>

#include <string>

#include "engine/base/orb_exception.h"
#include "engine/expr/expression.h"
#include "tests/engine/expr/expression_test_util.h"

namespace orb {
namespace {

using test::EvalText;
using test::EvalTyped;
using test::TestRow;

struct Case {
  const char* text;
  const char* expected;  // "TYPE value"
};

void ExpectAll(const Case* begin, const Case* end, TORBFieldResolver* row = nullptr) {
  for (const Case* c = begin; c != end; ++c) {
    try {
      EXPECT_EQ(EvalTyped(c->text, row), c->expected) << c->text;
    } catch (const std::exception& e) {
      ADD_FAILURE() << c->text << ": " << e.what();
    }
  }
}

void ExpectError(const std::string& text, int32_t code, TORBFieldResolver* row = nullptr) {
  try {
    EvalText(text, row);
    ADD_FAILURE() << "no error for " << text;
  } catch (const EORBException& e) {
    EXPECT_EQ(e.NativeError(), code) << text << ": " << e.what();
  }
}

TEST(FunctionsTest, Arithmetic) {
  const Case cases[] = {
      {"1 + 2 * 3", "LARGEINT 7"},
      {"7 / 2", "LARGEINT 3"},
      {"-7 / 2", "LARGEINT -3"},
      {"7.0 / 2", "FLOAT 3.5"},
      {"2 * 1.5", "FLOAT 3"},
      {"10 - 2 - 3", "LARGEINT 5"},
      {"-(2 + 3)", "LARGEINT -5"},
      {"2147483646 + 1", "LARGEINT 2147483647"},
      {"'a' + 'b'", "STRING ab"},
  };
  ExpectAll(std::begin(cases), std::end(cases));
  ExpectError("1 / 0", 30128);
  ExpectError("1.5 / 0", 30128);
}

TEST(FunctionsTest, NumericFunctions) {
  const Case cases[] = {
      {"ROUND(2.5)", "LARGEINT 2"},
      {"ROUND(3.5)", "LARGEINT 4"},
      {"ROUND(-2.5)", "LARGEINT -2"},
      {"ROUND(2.675, 2)", "FLOAT 2.68"},
      {"ROUND(-2.5, 0, HALFUP)", "FLOAT -3"},
      {"ROUND(1234.5, -2)", "FLOAT 1200"},
      {"ROUND(2.5, 0, HALFEVEN)", "FLOAT 2"},
      {"ROUND(2.5, 0, HALFDOWN)", "FLOAT 2"},
      {"ROUND(-2.5, 0, HALFPOS)", "FLOAT -2"},
      {"ROUND(-2.5, 0, HALFNEG)", "FLOAT -3"},
      {"ROUND(2.41, 1, RNDUP)", "FLOAT 2.5"},
      {"ROUND(2.49, 1, RNDDOWN)", "FLOAT 2.4"},
      {"ROUND(-2.41, 1, RNDNEG)", "FLOAT -2.5"},
      {"ROUND(-2.49, 1, RNDPOS)", "FLOAT -2.4"},
      {"ROUND(1.25, 1, SOMETHING)", "FLOAT 1.25"},
      // Whole-number results are 64-bit.
      {"ROUND(3000000000.4)", "LARGEINT 3000000000"},
      {"CEIL(3000000000.5)", "LARGEINT 3000000001"},
      {"FLOOR(-3000000000.5)", "LARGEINT -3000000001"},
      {"CEIL(2.1)", "LARGEINT 3"},
      {"FLOOR(-2.5)", "LARGEINT -3"},
      {"ABS(-5)", "LARGEINT 5"},
      {"ABS(-2.5)", "FLOAT 2.5"},
      {"ABS(CAST(-3 AS SMALLINT))", "LARGEINT 3"},
      {"SQR(3)", "LARGEINT 9"},
      {"SQR(1.5)", "FLOAT 2.25"},
      {"SQRT(16)", "FLOAT 4"},
      {"POWER(2, 10)", "FLOAT 1024"},
      {"EXP(0)", "FLOAT 1"},
      {"LOG(1)", "FLOAT 0"},
      {"SIGN(-3.5)", "LARGEINT -1"},
      {"SIGN(0)", "LARGEINT 0"},
      {"SIGN(7)", "LARGEINT 1"},
      {"SIN(0) + COS(0) + ATAN(0) + ACOS(1) + ASIN(0)", "FLOAT 1"},
      {"RAND(1)", "LARGEINT 0"},
      {"RAND(0)", "LARGEINT 0"},
      {"RAND(-5)", "LARGEINT 0"},
  };
  ExpectAll(std::begin(cases), std::end(cases));
  EXPECT_THROW(EvalText("SQRT(-1)"), Exception);
  EXPECT_THROW(EvalText("LOG(-1)"), Exception);
  ExpectError("CEIL(1e300)", kErrNumericOverflow);
  for (int i = 0; i < 20; ++i) {
    const int v = std::stoi(EvalText("RAND(10)"));
    EXPECT_GE(v, 0);
    EXPECT_LT(v, 10);
  }
}

TEST(FunctionsTest, StringFunctions) {
  const Case cases[] = {
      {"UPPER('abc')", "STRING ABC"},
      {"LOWER('ABC')", "STRING abc"},
      {"UPPER('\xc3\xa0\xc3\xa9')", "STRING \xc3\x80\xc3\x89"},
      {"UPPER('\xc5\x82\xc3\xb3" "d\xc5\xba')", "WIDESTRING \xc5\x81\xc3\x93" "D\xc5\xb9"},
      {"TRIM('  a b  ')", "STRING a b"},
      {"LTRIM('  a ')", "STRING a "},
      {"RTRIM('  a ')", "STRING   a"},
      {"TRIM('   ')", "STRING NULL"},
      {"LENGTH('abc')", "INTEGER 3"},
      {"LENGTH('\xc5\x81\xc3\xb3" "d\xc5\xba')", "INTEGER 4"},
      {"LENGTH(12345)", "INTEGER 5"},
      {"POS('c', 'abc')", "INTEGER 3"},
      {"POS('x', 'abc')", "INTEGER 0"},
      {"POSITION('b' IN 'abc')", "INTEGER 2"},
      {"POS('\xc3\xb3', '\xc5\x81\xc3\xb3" "d\xc5\xba')", "INTEGER 2"},
      {"SUBSTRING('abcdef' FROM 2 FOR 3)", "STRING bcd"},
      {"SUBSTRING('abc' FROM 2)", "STRING bc"},
      {"SUBSTRING('abc', 2, 100)", "STRING bc"},
      {"SUBSTRING('abc' FROM 0 FOR 2)", "STRING a"},
      {"SUBSTRING('abc' FROM 5)", "STRING NULL"},
      {"SUBSTRING('abc' FROM 2 FOR 0)", "STRING NULL"},
      {"'a' || NULL || 'b'", "STRING ab"},
      {"'a' || 1 || 2.5", "STRING a12.5"},
      {"1 || 2", "STRING 12"},
      {"'x' || '\xc5\x81'", "WIDESTRING x\xc5\x81"},
      {"CAST('12' AS INTEGER) + 1", "LARGEINT 13"},
      {"CAST(1.9 AS INTEGER)", "INTEGER 1"},
      {"CAST(5 AS VARCHAR)", "STRING 5"},
      {"CAST('abcdef' AS VARCHAR(3))", "STRING abc"},
      {"CAST('abcdef', CHAR(2))", "CHAR ab"},
      {"CAST('2024-03-05' AS DATE)", "DATE 2024-03-05"},
      {"CAST(NULL AS INTEGER)", "INTEGER NULL"},
      {"MIMETOBIN('aGVsbG8=')", "BLOB NULL"},
  };
  // MIMETOBIN has its own check below; its text form is not a string.
  ExpectAll(std::begin(cases), std::end(cases) - 1);
  ExpectError("CAST('x' AS INTEGER)", 30051);
  ExpectError("UPPER(MIMETOBIN('aGVsbG8='))", 30052);

  const TORBVariant blob = test::Eval("MIMETOBIN('aGVsbG8=')");
  ASSERT_EQ(blob.DataType(), bftBlob);
  EXPECT_EQ(std::string(static_cast<const char*>(blob.Data()), static_cast<size_t>(blob.DataSize())), "hello");
  EXPECT_EQ(test::Eval("MIMETOBIN('aGVsbG8')").DataSize(), 5);
  try {
    test::Eval("MIMETOBIN('aGVsb')");
    ADD_FAILURE() << "truncated base64 decoded";
  } catch (const EORBException& e) {
    EXPECT_EQ(e.NativeError(), 30051);
  }
}

TEST(FunctionsTest, CastToStringWithoutSizeKeepsTheWholeValue) {
  TestRow row;
  const std::string long_text(5000, 'q');
  row.AddString("t", long_text, 5000);
  EXPECT_EQ(EvalText("CAST(t AS VARCHAR)", &row), long_text);
  EXPECT_EQ(EvalText("CAST(t AS VARCHAR(4096))", &row), long_text.substr(0, 4096));
}

// Each LIKE case runs through the byte-string matcher and, with the value
// held as UTF-16, through the wide matcher.
TEST(FunctionsTest, LikeThroughBothMatchers) {
  struct LikeCase {
    const char* value;
    const char* pattern;
    const char* escape;  // empty: no ESCAPE clause
    bool expected;
  };
  const LikeCase cases[] = {
      {"abc", "a%", "", true},        {"abc", "%c", "", true},        {"abc", "ab", "", false},
      {"abc", "a_c", "", true},       {"abc", "a__c", "", false},     {"abc", "%b%", "", true},
      {"abc", "%", "", true},         {"abc", "_%_", "", true},       {"a%c", "a\\%c", "\\", true},
      {"abc", "a\\%c", "\\", false},  {"a_c", "a!_c", "!", true},     {"abc", "a!_c", "!", false},
      {"abc", "ABC", "", false},      {"ab", "a%b%", "", true},
  };
  for (const LikeCase& c : cases) {
    for (bool wide : {false, true}) {
      TestRow row;
      TORBVariant v(wide ? bftWideVarchar : bftVarchar);
      v.SetAsAnsiString(c.value);
      row.Add("v", wide ? aftWideString : aftString, v, 10);
      std::string text = std::string("v LIKE '") + c.pattern + "'";
      if (*c.escape) text += std::string(" ESCAPE '") + c.escape + "'";
      EXPECT_EQ(EvalText(text, &row), c.expected ? "True" : "False") << text << (wide ? " (wide)" : "");
    }
  }
  TestRow row;
  row.AddInt("n", 5);
  ExpectError("n LIKE '5_'", 30120, &row);
}

TEST(FunctionsTest, DateFunctions) {
  const Case cases[] = {
      {"TOSTRING(TIMESTAMP '2024-03-05 14:07:09', 'DD.MM.YYYY HH24:NN')", "STRING 05.03.2024 14:07"},
      {"TOSTRING(TIMESTAMP '2024-03-05 14:07:09', 'HH12 AMPM')", "STRING 02 PM"},
      {"TOSTRING(TIMESTAMP '2024-03-05 12:00:00', 'HH12')", "STRING 00"},
      {"TOSTRING(TIMESTAMP '2024-03-05 09:05:03', 'H:N:S H24 AMPM')", "STRING 9:5:3 9 AM"},
      {"TOSTRING(DATE '2024-03-05', 'YYYY YY Q MM M RM DD D DY DW')", "STRING 2024 24 1 03 3 III 05 5 65 2"},
      {"TOSTRING(DATE '2024-03-05', 'DDD DAY MON MONTH')", "STRING Tue Tuesday Mar March"},
      {"TOSTRING(DATE '2024-12-31' FROM 'yyyy \"year\" DY')", "STRING 2024 year 366"},
      {"TOSTRING('2024-03-05', 'DD/MM')", "STRING 05/03"},
      {"TOSTRING(TIME '14:07:09', 'HH24:NN:SS')", "STRING 14:07:09"},
      {"TODATE('05.03.2024', 'DD.MM.YYYY')", "DATE 2024-03-05"},
      {"TODATE('14:07', 'HH24:NN')", "TIME 14:07:00"},
      {"TODATE('05.03.2024 14:07', 'DD.MM.YYYY HH24:NN')", "DATETIME 2024-03-05 14:07:00"},
      {"TODATE('5.3.24', 'D.M.YY')", "DATE 2024-03-05"},
      {"TODATE('5.3.95', 'D.M.YY')", "DATE 1995-03-05"},
      {"TODATE('02 pm', 'HH12 AMPM')", "TIME 14:00:00"},
      {"EXTRACT(MONTH FROM DATE '2024-03-05')", "WORD 3"},
      {"EXTRACT(YEAR FROM TIMESTAMP '2024-03-05 14:07:09')", "WORD 2024"},
      {"EXTRACT(DAY FROM '2024-03-05')", "WORD 5"},
      {"EXTRACT(HOUR FROM TIME '14:07:09')", "WORD 14"},
      {"EXTRACT(MINUTE FROM TIMESTAMP '2024-03-05 14:07:09')", "WORD 7"},
      {"EXTRACT(SECOND FROM TIMESTAMP '2024-03-05 14:07:09')", "WORD 9"},
      {"DATE '2024-03-05' + 1", "DATE 2024-03-06"},
      {"DATE '2024-03-01' - 1", "DATE 2024-02-29"},
      {"TIMESTAMP '2024-03-05 23:00:00' - 1", "DATETIME 2024-03-04 23:00:00"},
  };
  ExpectAll(std::begin(cases), std::end(cases));
  ExpectError("TODATE('07 XM', 'HH AMPM')", 30129);
  // Midnight, and a year and quarter without a day, carry no date part.
  for (const char* text : {"TODATE('12 AM', 'HH AMPM')", "TODATE('2024 3', 'YYYY Q')"}) {
    const TORBVariant v = test::Eval(text);
    EXPECT_EQ(v.DataType(), bftTime) << text;
    EXPECT_EQ(v.AsORBTime(), 0) << text;
  }
  // Reading past the end of the text fails instead of reading beyond it.
  EXPECT_THROW(EvalText("TODATE('05.03', 'DD.MM.YYYY')"), Exception);
  EXPECT_THROW(EvalText("TODATE('5', 'DD')"), Exception);
  EXPECT_THROW(EvalText("TODATE('ab.03.2024', 'DD.MM.YYYY')"), Exception);
  EXPECT_THROW(EvalText("TODATE('31.02.2024', 'DD.MM.YYYY')"), Exception);
}

TEST(FunctionsTest, CurrentDateAndTime) {
  const TORBVariant now = test::Eval("NOW");
  const TORBVariant date = test::Eval("CURRENT_DATE");
  const TORBVariant time = test::Eval("CURRENT_TIME");
  EXPECT_EQ(now.DataType(), bftDateTime);
  EXPECT_EQ(date.DataType(), bftDate);
  EXPECT_EQ(time.DataType(), bftTime);
  EXPECT_EQ(test::Eval("SYSDATE").DataType(), bftDateTime);
  EXPECT_EQ(test::Eval("CURRENT_TIMESTAMP").DataType(), bftDateTime);
  // The date may have moved on between the two reads, never back.
  EXPECT_GE(date.AsORBDate(), now.AsORBDateTime().Date);
  EXPECT_LE(date.AsORBDate() - now.AsORBDateTime().Date, 1);
  EXPECT_GE(time.AsORBTime(), 0);
  EXPECT_LT(time.AsORBTime(), kMSecsPerDay);
  EXPECT_EQ(EvalText("NOW - 1 < NOW"), "True");
}

}  // namespace
}  // namespace orb
