// Arithmetic of expressions: nulls, 64-bit integers, date and time ranges,
// and agreement between the type a node reports and the value it gives.

#include <gtest/gtest.h>

#include <string>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/expr/expression.h"
#include "tests/engine/expr/expression_test_util.h"
#include "tests/support/raised.h"

namespace orb {
namespace {

using test::EvalText;
using test::EvalTyped;
using test::RaisedCode;
using test::TestRow;

struct Case {
  const char* text;
  const char* expected;
};

struct ErrorCase {
  const char* text;
  int32_t code;
};

// A row with narrow unsigned and signed columns.
TestRow NarrowRow() {
  TestRow row;
  auto add = [&row](const char* name, TORBAdvancedFieldType type, auto v) {
    TORBVariant value(AdvancedFieldTypeToBaseFieldType(type));
    if constexpr (sizeof(v) == 1) {
      if (type == aftByte) value.SetAsByte(static_cast<uint8_t>(v)); else value.SetAsShortint(static_cast<int8_t>(v));
    } else if constexpr (sizeof(v) == 2) {
      if (type == aftWord) value.SetAsWord(static_cast<uint16_t>(v)); else value.SetAsSmallint(static_cast<int16_t>(v));
    } else {
      value.SetAsCardinal(static_cast<uint32_t>(v));
    }
    row.Add(name, type, value);
  };
  add("b10", aftByte, uint8_t{10});
  add("b200", aftByte, uint8_t{200});
  add("w1", aftWord, uint16_t{1});
  add("w60000", aftWord, uint16_t{60000});
  add("s30000", aftSmallint, int16_t{30000});
  add("t_min", aftShortint, int8_t{-128});
  add("c4g", aftCardinal, uint32_t{4000000000u});
  row.AddInt("n", 5);
  row.AddInt("imax", 2147483647);
  return row;
}

void ExpectTexts(const Case* begin, const Case* end, TORBFieldResolver* row = nullptr) {
  for (const Case* c = begin; c != end; ++c) {
    try {
      EXPECT_EQ(EvalText(c->text, row), c->expected) << c->text;
    } catch (const std::exception& e) {
      ADD_FAILURE() << c->text << ": " << e.what();
    }
  }
}

void ExpectTyped(const Case* begin, const Case* end, TORBFieldResolver* row = nullptr) {
  for (const Case* c = begin; c != end; ++c) {
    try {
      EXPECT_EQ(EvalTyped(c->text, row), c->expected) << c->text;
    } catch (const std::exception& e) {
      ADD_FAILURE() << c->text << ": " << e.what();
    }
  }
}

void ExpectCodes(const ErrorCase* begin, const ErrorCase* end, TORBFieldResolver* row = nullptr) {
  for (const ErrorCase* c = begin; c != end; ++c) {
    EXPECT_EQ(RaisedCode([&] { EvalText(c->text, row); }), c->code) << c->text;
  }
}

// NULL is a literal of every type: any arithmetic with it is null, while a
// concatenation still skips it.
TEST(ArithmeticRulesTest, NullIsNullInEveryOperator) {
  TestRow row = NarrowRow();
  const Case cases[] = {
      {"1 + NULL", "NULL"},
      {"NULL + 1", "NULL"},
      {"2 * NULL", "NULL"},
      {"NULL * 2", "NULL"},
      {"2 - NULL", "NULL"},
      {"2 / NULL", "NULL"},
      {"-NULL", "NULL"},
      {"1 + 2 * NULL", "NULL"},
      {"(1 + NULL) * 3", "NULL"},
      {"1.5 + NULL", "NULL"},
      {"n - NULL", "NULL"},
      {"ABS(NULL)", "NULL"},
      {"SQR(NULL)", "NULL"},
      {"DATE '2024-01-01' + NULL", "NULL"},
      {"DATE '2024-01-01' - NULL", "NULL"},
      {"TIMESTAMP '2024-01-01 10:00:00' + NULL", "NULL"},
      {"TIME '10:00:00' - NULL", "NULL"},
      {"1 + NULL IS NULL", "True"},
      {"COALESCE(1 + NULL, 7)", "7"},
      {"'a' || NULL || 'b'", "ab"},
      {"NULL || 'b'", "b"},
  };
  ExpectTexts(std::begin(cases), std::end(cases), &row);
}

// Integer arithmetic is done and typed in 64 bits whatever the operand
// kinds; only a result beyond 64 bits overflows.
TEST(ArithmeticRulesTest, IntegersMeetIn64Bits) {
  TestRow row = NarrowRow();
  const Case cases[] = {
      {"1 + 2 * 3", "LARGEINT 7"},
      {"2147483646 + 2", "LARGEINT 2147483648"},
      {"2147483647 + 2147483647", "LARGEINT 4294967294"},
      {"imax + 1", "LARGEINT 2147483648"},
      {"-2147483646 - 10", "LARGEINT -2147483656"},
      {"65536 * 65536", "LARGEINT 4294967296"},
      {"-(-2147483646 - 2)", "LARGEINT 2147483648"},
      {"SQR(100000)", "LARGEINT 10000000000"},
      {"SQR(-3)", "LARGEINT 9"},
      {"s30000 * s30000", "LARGEINT 900000000"},
      {"s30000 + s30000", "LARGEINT 60000"},
      {"ABS(t_min)", "LARGEINT 128"},
      {"-t_min", "LARGEINT 128"},
      {"ABS(-5)", "LARGEINT 5"},
      {"c4g + c4g", "LARGEINT 8000000000"},
      {"7 / 2", "LARGEINT 3"},
      {"-7 / 2", "LARGEINT -3"},
      {"ROUND(2.5)", "LARGEINT 2"},
      {"CEIL(2.1)", "LARGEINT 3"},
      {"FLOOR(-2.5)", "LARGEINT -3"},
      {"SIGN(-3.5)", "LARGEINT -1"},
      {"RAND(1)", "LARGEINT 0"},
      // Floats, strings and logical values keep their own rules.
      {"2 * 1.5", "FLOAT 3"},
      {"ABS(-2.5)", "FLOAT 2.5"},
      {"SQR(1.5)", "FLOAT 2.25"},
      {"'a' + 'b'", "STRING ab"},
      {"9223372036854775807 - 1", "LARGEINT 9223372036854775806"},
  };
  ExpectTyped(std::begin(cases), std::end(cases), &row);
  const ErrorCase errors[] = {
      {"9223372036854775807 + 1", kErrNumericOverflow},
      {"-9223372036854775807 - 2", kErrNumericOverflow},
      {"SQR(4294967296)", kErrNumericOverflow},
      {"3037000500 * 3037000500", kErrNumericOverflow},
      {"ABS(-9223372036854775807 - 1)", kErrNumericOverflow},
      {"-(-9223372036854775807 - 1)", kErrNumericOverflow},
      {"(-9223372036854775807 - 1) / -1", 30128},
      {"1 / 0", 30128},
  };
  ExpectCodes(std::begin(errors), std::end(errors), &row);
}

// Differences of unsigned values go below zero instead of failing.
TEST(ArithmeticRulesTest, UnsignedDifferencesAreSigned) {
  TestRow row = NarrowRow();
  const Case cases[] = {
      {"EXTRACT(YEAR FROM DATE '2000-01-01') - EXTRACT(YEAR FROM DATE '2024-01-01')", "LARGEINT -24"},
      {"b10 - b200", "LARGEINT -190"},
      {"b10 - b10 - b10", "LARGEINT -10"},
      {"w1 - w60000", "LARGEINT -59999"},
      {"-b200", "LARGEINT -200"},
      {"-w60000 + w1", "LARGEINT -59999"},
      {"0 - c4g", "LARGEINT -4000000000"},
      {"b10 * -1", "LARGEINT -10"},
  };
  ExpectTyped(std::begin(cases), std::end(cases), &row);
}

// The type an expression reports is the kind of every value it gives, so
// a result column holds exactly what was computed.
TEST(ArithmeticRulesTest, ReportedTypeMatchesTheValue) {
  TestRow row = NarrowRow();
  const char* texts[] = {
      "-b200",         "b10 - b200",      "w1 - w60000",      "-w60000",         "b10 + 1",
      "s30000 * 2",    "-t_min",          "ABS(t_min)",       "ABS(b200)",       "SQR(b200)",
      "SQR(s30000)",   "n + 1",           "n / 2",            "-n",              "c4g * 2",
      "CEIL(2.1)",     "CEIL(3e9)",       "FLOOR(n)",         "ROUND(2.5)",      "ROUND(n)",
      "SIGN(n)",       "RAND(3)",         "ABS(-2.5)",        "n + 1.5",         "SQR(1.5)",
      "DATE '2024-01-01' + b10",          "TIME '10:00:00' + n",                 "-(n + b10)",
      "EXTRACT(YEAR FROM DATE '2000-01-01') - EXTRACT(YEAR FROM DATE '2024-01-01')",
  };
  for (const char* text : texts) {
    try {
      TORBExpression e;
      e.ParseForCondition(Utf8ToWide(text));
      e.AssignResolver(&row);
      const TORBBaseFieldType reported = AdvancedFieldTypeToBaseFieldType(e.GetDataType());
      const TORBBaseFieldType given = e.GetValue().DataType();
      EXPECT_EQ(BftToStr(reported), BftToStr(given)) << text;
    } catch (const std::exception& ex) {
      ADD_FAILURE() << text << ": " << ex.what();
    }
  }
}

// A 64-bit result written into a narrower kind goes through the ordinary
// conversion, which narrows (as any integer written into a smaller kind).
TEST(ArithmeticRulesTest, WideResultsConvertIntoNarrowKinds) {
  TestRow row = NarrowRow();
  TORBVariant small(bftSignedInt16);
  small.SetDataValue(test::Eval("b10 + b200", &row).Data(), -1, bftSignedInt64);
  EXPECT_EQ(small.DataType(), bftSignedInt16);
  EXPECT_EQ(small.AsSmallint(), 210);
  TORBVariant narrow = test::Eval("b10 - b200", &row);
  narrow.Cast(bftSignedInt32);
  EXPECT_EQ(narrow.AsInteger(), -190);
  // Past the narrow kind's range the conversion keeps the low-order bits.
  TORBVariant byte(bftUnsignedInt8);
  byte.SetDataValue(test::Eval("b200 + b200", &row).Data(), -1, bftSignedInt64);
  EXPECT_EQ(byte.AsByte(), 144);
}

// Fractions of a day split with floor, so a negative number of days is
// the same moment both ways.
TEST(ArithmeticRulesTest, NegativeDayFractions) {
  const Case cases[] = {
      {"TIMESTAMP '2024-03-05 12:00:00' + CAST(-1.25 AS FLOAT)", "2024-03-04 06:00:00"},
      {"TIMESTAMP '2024-03-05 12:00:00' + -0.5", "2024-03-05"},
      {"TIMESTAMP '2024-03-05 12:00:00' - 1.25", "2024-03-04 06:00:00"},
      {"TIMESTAMP '2024-03-05 12:00:00' + 0.25", "2024-03-05 18:00:00"},
      {"CAST(CAST(-1.25 AS TIMESTAMP) AS FLOAT)", "-1.25"},
      {"CAST(CAST(-0.75 AS TIMESTAMP) AS FLOAT)", "-0.75"},
      {"CAST(CAST(739000.1 AS TIMESTAMP) AS FLOAT)", "739000.1"},
      {"CAST(CAST(-1.25 AS TIMESTAMP) AS INTEGER)", "-2"},
      {"CAST(CAST(-1.25 AS DATE) AS INTEGER)", "-2"},
      {"CAST(TIMESTAMP '2024-03-05 06:00:00' AS FLOAT) - CAST(DATE '2024-03-05' AS FLOAT)", "0.25"},
  };
  ExpectTexts(std::begin(cases), std::end(cases));
}

// Times stay within one day: sums and differences wrap around midnight,
// and so do numbers taken as times.
TEST(ArithmeticRulesTest, TimesStayWithinTheDay) {
  const Case cases[] = {
      {"TIME '23:00:00' + TIME '02:00:00' = TIME '01:00:00'", "True"},
      {"CAST(TIME '23:00:00' + TIME '02:00:00' AS INTEGER)", "3600000"},
      {"CAST(TIME '01:00:00' - TIME '02:00:00' AS INTEGER)", "82800000"},
      {"TIME '01:00:00' - TIME '02:00:00' = TIME '23:00:00'", "True"},
      {"CAST(TIME '00:00:00' - 1 AS INTEGER)", "86399999"},
      {"CAST(TIME '12:00:00' + TIME '12:00:00' + TIME '12:00:00' AS INTEGER)", "43200000"},
      {"CAST(CAST(90000000 AS TIME) AS INTEGER)", "3600000"},
      {"CAST(CAST(-1 AS TIME) AS INTEGER)", "86399999"},
      {"CAST(CAST(CAST(-1 AS SMALLINT) AS TIME) AS INTEGER)", "86399999"},
      {"CAST(CAST(CAST(4000000000 AS CARDINAL) AS TIME) AS INTEGER)", "25600000"},
      {"CAST(CAST(9000000000000 AS TIME) AS INTEGER)", "57600000"},
      {"CAST(TIME '10:00:00' AS INTEGER)", "36000000"},
  };
  ExpectTexts(std::begin(cases), std::end(cases));
}

// Dates made by arithmetic stay within 0001-01-01 to 9999-12-31; a day
// count is never cut to 32 bits.
TEST(ArithmeticRulesTest, DatesStayWithinTheCalendar) {
  const Case cases[] = {
      {"DATE '9999-12-30' + 1", "9999-12-31"},
      {"DATE '0001-01-02' - 1", "0001-01-01"},
      {"DATE '2000-01-01' + 0", "2000-01-01"},
      {"DATE '2000-01-01' + (3000000000 - 2999999999)", "2000-01-02"},
      {"TIMESTAMP '9999-12-31 22:00:00' + TIME '01:59:59'", "9999-12-31 23:59:59"},
      // The difference of two dates counts days and may be 0.
      {"CAST(DATE '2024-01-31' - DATE '2024-01-01' AS INTEGER)", "30"},
      {"CAST(DATE '2024-01-01' - DATE '2024-01-01' AS INTEGER)", "0"},
      {"CAST(TIMESTAMP '2024-03-05 12:00:00' - TIMESTAMP '2024-03-05 10:00:00' AS INTEGER)", "0"},
      {"CAST(TIMESTAMP '2024-03-05 12:00:00' - TIMESTAMP '2024-03-05 10:00:00' AS TIME) = TIME '02:00:00'",
       "True"},
      {"CAST(TIMESTAMP '2024-03-06 12:00:00' - DATE '2024-03-05' AS INTEGER)", "1"},
  };
  ExpectTexts(std::begin(cases), std::end(cases));
  const ErrorCase errors[] = {
      {"DATE '2000-01-01' + 4294967296", kErrDateArithmeticRange},
      {"DATE '2000-01-01' + 9223372036854775807", kErrDateArithmeticRange},
      {"DATE '2000-01-01' - 9223372036854775807 - 9223372036854775807", kErrDateArithmeticRange},
      {"DATE '2000-01-01' + 1e300", kErrDateArithmeticRange},
      {"DATE '9999-12-31' + 1", kErrDateArithmeticRange},
      {"EXTRACT(YEAR FROM DATE '9999-12-31' + 1)", kErrDateArithmeticRange},
      {"DATE '0001-01-01' - 1", kErrDateArithmeticRange},
      {"DATE '2000-01-01' - DATE '2024-01-01'", kErrDateArithmeticRange},
      {"TIMESTAMP '9999-12-31 23:00:00' + TIME '02:00:00'", kErrDateArithmeticRange},
      {"TIMESTAMP '0001-01-01 01:00:00' - TIME '02:00:00'", kErrDateArithmeticRange},
      {"TIMESTAMP '2000-01-01 00:00:00' + 4294967296", kErrDateArithmeticRange},
      {"TIMESTAMP '2000-01-01 00:00:00' - CAST(4294967296.5 AS FLOAT)", kErrDateArithmeticRange},
      {"CAST(4294967296 AS DATE)", 30051},
      {"CAST(CAST(4294967296 AS FLOAT) AS TIMESTAMP)", 30051},
  };
  ExpectCodes(std::begin(errors), std::end(errors));
}

// With partial keys a constant ending in '*' is a prefix; a lone '*' is the
// empty prefix and so matches every row, a null one too.
TEST(ArithmeticRulesTest, LoneStarMatchesEveryRow) {
  struct FilterCase {
    const char* filter;
    bool with_text;
    bool with_null;
  };
  const FilterCase cases[] = {
      {"name = '*'", true, true},
      {"'*' = name", true, true},
      {"name <> '*'", false, false},
      {"name >= '*'", true, true},
      {"name > '*'", false, false},
      {"name = 'ab*'", true, false},
      {"name = 'x*'", false, false},
  };
  for (const FilterCase& c : cases) {
    for (bool null_row : {false, true}) {
      TestRow row;
      if (null_row) {
        row.AddNull("name", aftString, 10);
      } else {
        row.AddString("name", "abc");
      }
      TORBExpression e;
      e.ParseForFilter(&row, Utf8ToWide(c.filter), false, true);
      EXPECT_EQ(e.GetResult(), null_row ? c.with_null : c.with_text) << c.filter << (null_row ? " (null)" : "");
    }
  }
}

// A size is only accepted for the types that have one.
TEST(ArithmeticRulesTest, CastSizeOnlyForSizedTypes) {
  const ErrorCase errors[] = {
      {"CAST(1 AS INTEGER(5))", 30466},
      {"CAST(1.5 AS FLOAT(3))", 30466},
      {"CAST('2024-01-01' AS DATE(10))", 30466},
  };
  ExpectCodes(std::begin(errors), std::end(errors));
  EXPECT_EQ(test::RaisedMessage([] { EvalText("CAST(1 AS integer(5))"); }), "Unsupported data type 'integer' - Native error: 30466");
  const Case cases[] = {
      {"CAST('abcdef' AS VARCHAR(2))", "STRING ab"},
      {"CAST('abcdef' AS CHAR(3))", "CHAR abc"},
      {"CAST(12345 AS WIDESTRING(2))", "WIDESTRING 12"},
      {"CAST(1 AS INTEGER)", "INTEGER 1"},
  };
  ExpectTyped(std::begin(cases), std::end(cases));
}

}  // namespace
}  // namespace orb
