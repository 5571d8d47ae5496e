// Expressions built to hurt the engine: extreme arguments, deep nesting,
// long chains. Each must give the right value or a coded error.

#include <gtest/gtest.h>

#include <string>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/expr/expression.h"
#include "tests/engine/expr/expression_test_util.h"
#include "tests/support/raised.h"

namespace orb {
namespace {

using test::EvalTyped;
using test::RaisedCode;
using test::RaisedMessage;

struct Case {
  const char* text;
  const char* expected;  // "TYPE value"
};

void ExpectValues(std::initializer_list<Case> cases) {
  for (const Case& c : cases) {
    try {
      EXPECT_EQ(EvalTyped(c.text), c.expected) << c.text;
    } catch (const std::exception& e) {
      ADD_FAILURE() << c.text << ": " << e.what();
    }
  }
}

TEST(ExpressionHostileTest, RoundWithExtremeDigits) {
  ExpectValues({
      {"ROUND(1.5, -2147483648)", "FLOAT 0"},
      {"ROUND(-1.5, -2147483648, HALFUP)", "FLOAT -0"},
      {"ROUND(1.5, 2147483647)", "FLOAT 1.5"},
      {"ROUND(1.5, -400)", "FLOAT 0"},
      {"ROUND(1234.5, -2)", "FLOAT 1200"},
  });
}

TEST(ExpressionHostileTest, SubstringWithExtremePositionsAndLengths) {
  ExpectValues({
      {"SUBSTRING('abcdef' FROM 3 FOR 9223372036854775806)", "STRING cdef"},
      {"SUBSTRING('abcdef' FROM 3 FOR 9223372036854775807)", "STRING cdef"},
      {"SUBSTRING('abcdef' FROM 9223372036854775807 FOR 9223372036854775807)", "STRING NULL"},
      {"SUBSTRING('abcdef' FROM -9223372036854775807 FOR 9223372036854775807)", "STRING NULL"},
      {"SUBSTRING('abcdef' FROM -2 FOR 5)", "STRING ab"},
      {"SUBSTRING('abcdef' FROM 2 FOR -5)", "STRING NULL"},
      {"SUBSTRING('abcdef' FROM 9223372036854775807)", "STRING NULL"},
      {"SUBSTRING('abcdef' FROM -9223372036854775807)", "STRING abcdef"},
      {"SUBSTRING('abcdef' FROM 6 FOR 2147483647)", "STRING f"},
  });
}

TEST(ExpressionHostileTest, DateTextTheFormatDoesNotConsumeRaises) {
  for (const char* text : {"TODATE('abc', '')", "TODATE('05.03.2024x', 'DD.MM.YYYY')",
                           "TODATE('14:07:00', 'HH24:NN')", "TODATE('1', '')"}) {
    EXPECT_EQ(kErrDateTextNotConsumed, RaisedCode([&] { EvalTyped(text); })) << text;
  }
  EXPECT_EQ(0u, RaisedMessage([] { EvalTyped("TODATE('05.03.2024x', 'DD.MM.YYYY')"); })
                    .rfind("Text '05.03.2024x' does not match the date format: 'x' is left over", 0));
  // Text the format reads to its end still converts.
  ExpectValues({
      {"TODATE('05.03.2024', 'DD.MM.YYYY')", "DATE 2024-03-05"},
      {"TODATE('14:07', 'HH24:NN')", "TIME 14:07:00"},
  });
}

}  // namespace
}  // namespace orb
