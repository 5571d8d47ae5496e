// Random expressions over the edges of every value kind: each must give a
// value or raise the engine's error, never crash (run it under the
// sanitizers). The generator is seeded, so a failure names its expression
// and repeats.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "engine/base/orb_exception.h"
#include "engine/expr/expression.h"
#include "engine/platform/codepage.h"
#include "engine/platform/dataset_error.h"

namespace orb {
namespace {

class Generator {
 public:
  explicit Generator(uint32_t seed) : FRandom(seed) {}

  std::string Value(int depth) {
    if (depth <= 0 || Pick(4) == 0) return Literal();
    switch (Pick(16)) {
      case 0: return "(" + Value(depth - 1) + " " + Choose(kArithmetic) + " " + Value(depth - 1) + ")";
      case 1: return "-(" + Value(depth - 1) + ")";
      case 2: return Choose(kNumericFunctions) + "(" + Value(depth - 1) + ")";
      case 3: return "POWER(" + Value(depth - 1) + ", " + Value(depth - 1) + ")";
      case 4: return Round(depth);
      case 5: return Substring(depth);
      case 6: return Choose(kStringFunctions) + "(" + Value(depth - 1) + ")";
      case 7: return (Pick(2) == 0 ? "POS(" : "POSITION(") + Value(depth - 1) + (Pick(2) == 0 ? ", " : " IN ") +
                     Value(depth - 1) + ")";
      case 8: return "CAST(" + Value(depth - 1) + " AS " + Choose(kTypes) + ")";
      case 9: return "TODATE(" + Value(depth - 1) + ", '" + Choose(kFormats) + "')";
      case 10: return "TOSTRING(" + Value(depth - 1) + ", '" + Choose(kFormats) + "')";
      case 11: return "EXTRACT(" + Choose(kExtractFields) + " FROM " + Value(depth - 1) + ")";
      case 12: return "COALESCE(" + Value(depth - 1) + ", " + Value(depth - 1) + ")";
      case 13:
        return "CASE WHEN " + Condition(depth - 1) + " THEN " + Value(depth - 1) + " ELSE " + Value(depth - 1) +
               " END";
      case 14: return "(" + Value(depth - 1) + " || " + Value(depth - 1) + ")";
      default: return Choose(kDateArithmetic) + " " + Choose(kArithmetic) + " " + Value(depth - 1);
    }
  }

  std::string Condition(int depth) {
    switch (Pick(depth <= 0 ? 3 : 7)) {
      case 0: return Value(depth) + " " + Choose(kComparisons) + " " + Value(depth);
      case 1: return Value(depth) + " IS " + (Pick(2) == 0 ? "NULL" : "NOT NULL");
      case 2:
        return Value(depth) + (Pick(2) == 0 ? " LIKE " : " NOT LIKE ") + Value(depth) +
               (Pick(3) == 0 ? " ESCAPE '\\'" : "");
      case 3: return Value(depth) + " BETWEEN " + Value(depth) + " AND " + Value(depth);
      case 4: return Value(depth) + " IN (" + Value(depth) + ", " + Value(depth) + ")";
      case 5: return "NOT (" + Condition(depth - 1) + ")";
      default: return "(" + Condition(depth - 1) + (Pick(2) == 0 ? " AND " : " OR ") + Condition(depth - 1) + ")";
    }
  }

 private:
  static constexpr const char* kArithmetic[] = {"+", "-", "*", "/"};
  static constexpr const char* kComparisons[] = {"=", "<>", "<", ">", "<=", ">="};
  static constexpr const char* kNumericFunctions[] = {"ABS",   "ACOS", "ASIN", "ATAN", "CEIL", "COS",  "EXP",
                                                      "FLOOR", "LOG",  "SIGN", "SIN",  "SQR",  "SQRT", "RAND"};
  static constexpr const char* kStringFunctions[] = {"UPPER", "LOWER", "TRIM", "LTRIM", "RTRIM", "LENGTH"};
  static constexpr const char* kTypes[] = {"INTEGER",  "SMALLINT", "SHORTINT", "LARGEINT", "WORD",
                                           "BYTE",     "CARDINAL", "FLOAT",    "CURRENCY", "BOOLEAN",
                                           "DATE",     "TIME",     "DATETIME", "VARCHAR",  "VARCHAR(0)",
                                           "CHAR(1)",  "WIDESTRING", "MEMO",   "BLOB",     "VARCHAR(-5)",
                                           "VARCHAR(2147483647)"};
  static constexpr const char* kFormats[] = {"",           "DD.MM.YYYY", "YYYY-MM-DD HH24:NN:SS", "HH12 AMPM",
                                             "MONTH DAY",  "Q RM DY DW", "'lit'YY",               "D.M.YY H:N:S"};
  static constexpr const char* kExtractFields[] = {"YEAR", "MONTH", "DAY", "HOUR", "MINUTE", "SECOND"};
  static constexpr const char* kModes[] = {"HALFEVEN", "HALFPOS", "HALFNEG", "HALFDOWN", "HALFUP",
                                           "RNDNEG",   "RNDPOS",  "RNDDOWN", "RNDUP",    "NOSUCHMODE"};
  static constexpr const char* kDateArithmetic[] = {"DATE '0001-01-01'", "DATE '9999-12-31'",
                                                    "TIMESTAMP '9999-12-31 23:59:59'", "TIME '23:59:59'",
                                                    "SYSDATE", "CURRENT_DATE", "CURRENT_TIME"};
  // Edges of every kind of value.
  static constexpr const char* kLiterals[] = {
      "0",  "1", "-1", "2147483647", "-2147483648", "2147483648", "-2147483649", "9223372036854775807",
      "-9223372036854775807", "4294967295", "0.5", "-0.0", "1.5", "1e308", "-1e308", "1e-308", "2.675",
      "NULL", "''", "'abc'", "'ABC'", "' a '", "'%'", "'a%'", "'_b%'", "'\\%'", "'12'", "'-3.5'", "'1e400'",
      "'05.03.2024'", "'2024-03-05 14:07:09'", "'\xc3\xa9t\xc3\xa9'", "'\xe2\x82\xac'", "TRUE", "FALSE",
      "DATE '0001-01-01'", "DATE '9999-12-31'", "TIME '00:00:00'", "TIME '23:59:59'",
      "TIMESTAMP '0001-01-01 00:00:00'", "TIMESTAMP '9999-12-31 23:59:59'", "MIMETOBIN('QUJD')",
      "MIMETOBIN('')", "ROWNUM"};

  std::string Round(int depth) {
    std::string text = "ROUND(" + Value(depth - 1);
    if (Pick(3) != 0) text += ", " + Digits(depth);
    if (Pick(3) == 0) text += std::string(", ") + Choose(kModes);
    return text + ")";
  }

  std::string Substring(int depth) {
    std::string text = "SUBSTRING(" + Value(depth - 1) + " FROM " + Digits(depth);
    if (Pick(2) == 0) text += " FOR " + Digits(depth);
    return text + ")";
  }

  // Counts and positions: small, huge, negative or computed.
  std::string Digits(int depth) {
    static constexpr const char* kDigits[] = {"0",          "1",           "2",           "-1",
                                              "-2",         "-400",        "400",         "2147483647",
                                              "-2147483648", "9223372036854775806", "9223372036854775807",
                                              "-9223372036854775807", "NULL", "1.5", "'3'"};
    return Pick(4) == 0 ? Value(depth - 1) : Choose(kDigits);
  }

  std::string Literal() {
    if (Pick(20) == 0) return "'" + std::string(300 + Pick(5000), 'x') + "'";
    return Choose(kLiterals);
  }

  template <size_t N>
  std::string Choose(const char* const (&items)[N]) {
    return items[Pick(N)];
  }

  size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(FRandom); }

  std::mt19937 FRandom;
};

// Parses and evaluates `text` and asks its type and size. A value or the
// engine's error is fine; the value layer's conversion error (the
// platform's) is too.
void Exercise(const std::string& text) {
  try {
    TORBExpression expression;
    expression.ParseForCondition(Utf8ToWide(text));
    if (expression.IsAggregated()) {
      expression.Init();
      expression.Accumulate();
    }
    const TORBVariant& value = expression.GetValue();
    if (!value.IsNull() && !value.IsBlobDataType()) (void)value.AsWideString();
    (void)expression.GetDataType();
    (void)expression.GetDataSize();
  } catch (const Exception&) {
  } catch (const std::exception& e) {
    ADD_FAILURE() << text << ": " << e.what();
  }
}

TEST(ExpressionGeneratedTest, ValuesAtTheEdgesOfTheirTypes) {
  for (uint32_t seed : {1u, 2u, 3u, 4u}) {
    Generator generator(seed);
    for (int i = 0; i < 600; ++i) Exercise(generator.Value(1 + i % 4));
  }
}

TEST(ExpressionGeneratedTest, ConditionsAtTheEdgesOfTheirTypes) {
  for (uint32_t seed : {11u, 12u, 13u}) {
    Generator generator(seed);
    for (int i = 0; i < 500; ++i) Exercise(generator.Condition(1 + i % 3));
  }
}

}  // namespace
}  // namespace orb
