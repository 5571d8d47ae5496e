// Expressions built to hurt the engine: extreme arguments, deep nesting,
// long chains. Each must give the right value or a coded error.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/expr/expression.h"
#include "engine/expr/expression_parser.h"
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

std::string Repeat(const std::string& part, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += part;
  return out;
}

// Shapes of nesting, each `levels` deep, with the value they give.
struct Nesting {
  const char* name;
  std::function<std::string(int levels)> text;
  const char* expected;
};

const Nesting kNestings[] = {
    {"brackets", [](int n) { return Repeat("(", n) + "1" + Repeat(")", n); }, "INTEGER 1"},
    {"string in brackets", [](int n) { return Repeat("(", n) + "'a'" + Repeat(")", n); }, "STRING a"},
    {"condition in brackets", [](int n) { return Repeat("(", n) + "1 = 1" + Repeat(")", n); }, "LOGICAL True"},
    {"negated conditions", [](int n) { return Repeat("(NOT ", n) + "1 = 2" + Repeat(")", n); },
     nullptr},
    {"concatenations", [](int n) { return Repeat("(", n) + "'a'" + Repeat(" || 'b')", n); }, nullptr},
    {"numbers concatenated", [](int n) { return Repeat("(", n) + "1" + Repeat(") || 'b'", n); }, nullptr},
    {"strings added", [](int n) { return Repeat("(", n) + "'a'" + Repeat(" + 'a')", n); }, nullptr},
    {"sums", [](int n) { return Repeat("(1 + ", n) + "1" + Repeat(")", n); }, nullptr},
    {"unary minus", [](int n) { return Repeat("-(", n) + "1" + Repeat(")", n); }, nullptr},
    {"functions", [](int n) { return Repeat("ABS(", n) + "-1" + Repeat(")", n); }, "LARGEINT 1"},
    {"string functions", [](int n) { return Repeat("UPPER(", n) + "'a'" + Repeat(")", n); }, "STRING A"},
    {"CASE", [](int n) { return Repeat("CASE WHEN 1 = 1 THEN ", n) + "7" + Repeat(" END", n); }, "INTEGER 7"},
    {"casts", [](int n) { return Repeat("CAST(", n) + "2" + Repeat(" AS INTEGER)", n); }, "INTEGER 2"},
    // TODATE's own bracket is the innermost level.
    {"dates", [](int n) { return Repeat("(", n - 1) + "TODATE('05.03.2024', 'DD.MM.YYYY')" + Repeat(")", n - 1); },
     "DATE 2024-03-05"},
};

// Each nesting shape parses at the deepest allowed level, in time linear in
// its length: a parser that reads a bracket's content again at every level
// does not finish these within the test run.
TEST(ExpressionHostileTest, DeepNestingParsesAtTheLimit) {
  for (const Nesting& n : kNestings) {
    for (int levels : {999, kMaxExpressionDepth}) {
      const std::string text = n.text(levels);
      try {
        const std::string value = EvalTyped(text);
        if (n.expected != nullptr) {
          EXPECT_EQ(n.expected, value) << n.name;
        }
      } catch (const std::exception& e) {
        ADD_FAILURE() << n.name << " at " << levels << " levels: " << e.what();
      }
    }
  }
}

TEST(ExpressionHostileTest, NestingPastTheLimitRaises) {
  for (const Nesting& n : kNestings) {
    const std::string text = n.text(kMaxExpressionDepth + 1);
    EXPECT_EQ(kErrExpressionTooDeep, RaisedCode([&] { EvalTyped(text); })) << n.name;
  }
  // The position is that of the first token too deep.
  EXPECT_EQ(0u, RaisedMessage([] { EvalTyped(Repeat("(", 1001) + "1" + Repeat(")", 1001)); })
                    .rfind("Expression is nested too deeply. Maximum depth is 1000 at line 1, column 1002", 0));
  // Far past the limit, and in every entry point.
  const std::u16string deep = Utf8ToWide(Repeat("(", 20000) + "1" + Repeat(")", 20000));
  EXPECT_EQ(kErrExpressionTooDeep, RaisedCode([&] { TORBExpression().ParseForCondition(deep); }));
  EXPECT_EQ(kErrExpressionTooDeep,
            RaisedCode([&] { TORBExpression().ParseForFilter(nullptr, deep, false, false); }));
  EXPECT_FALSE(TORBExpression().ParseForDefaultValueExpression(deep));
  TORBLexer lexer(deep, nullptr, true);
  ASSERT_TRUE(lexer.GetNextCommand());
  EXPECT_EQ(kErrExpressionTooDeep, RaisedCode([&] { TORBExpression().ParseForValueExpression(lexer); }));
}

// Brackets that hold conditions inside values, and values inside
// conditions, each read once: unbalanced alternatives fail fast too.
TEST(ExpressionHostileTest, MixedNestingFailsFast) {
  const std::string texts[] = {
      Repeat("((1) = ", 999) + "1" + Repeat(")", 999),
      Repeat("(1 IN (", 499) + "1" + Repeat("))", 499),
      Repeat("-(", 999) + "'a'" + Repeat(")", 999),
      Repeat("((", 499) + "1 = 1) AND (1" + Repeat(")", 998),
  };
  for (const std::string& text : texts) {
    try {
      EvalTyped(text);
    } catch (const EORBException&) {
    }
  }
  EXPECT_EQ("LOGICAL False", EvalTyped(Repeat("(", 500) + "1 = 1) AND (1 = 2" + Repeat(")", 500)));
}

// Chains of binary operators nest their nodes: up to the tree limit they
// evaluate and type, past it they raise, and a chain of any length frees.
TEST(ExpressionHostileTest, LongOperatorChains) {
  auto chain = [](const std::string& term, const std::string& op, int n) {
    std::string text = term;
    for (int i = 1; i < n; ++i) text += op + term;
    return text;
  };
  EXPECT_EQ("LARGEINT 1", EvalTyped(chain("1", " * ", kMaxExpressionTreeDepth + 1)));
  EXPECT_NO_THROW(EvalTyped(chain("1", " / ", kMaxExpressionTreeDepth + 1)));
  EXPECT_EQ("LOGICAL True", EvalTyped(chain("1 = 1", " OR ", kMaxExpressionTreeDepth)));
  for (const char* op : {" * ", " / ", " OR "}) {
    const std::string term = std::string(op) == " OR " ? "1 = 1" : "1";
    EXPECT_EQ(kErrExpressionTooDeep, RaisedCode([&] { EvalTyped(chain(term, op, kMaxExpressionTreeDepth + 2)); }))
        << op;
  }
  // Flat chains build one node whatever their length.
  EXPECT_EQ("LARGEINT 20000", EvalTyped(chain("1", " + ", 20000)));
  EXPECT_EQ("LOGICAL True", EvalTyped(chain("1 = 1", " AND ", 5000)));
  EXPECT_EQ(5000u, EvalTyped(chain("'a'", " || ", 5000)).size() - std::string("STRING ").size());
  TORBExpression typed;
  typed.ParseForCondition(Utf8ToWide(chain("1.5", " * ", kMaxExpressionTreeDepth + 1)));
  EXPECT_EQ(aftDouble, typed.GetDataType());
}

TEST(ExpressionHostileTest, DeepTreesFreeWithoutRecursion) {
  // Far deeper than any stack holds frames for.
  auto root = std::make_unique<TORBExprNodeArithmetic>(doSUB);
  TORBExprNode* tip = root.get();
  for (int i = 0; i < 200000; ++i) {
    tip = tip->AddChild(std::make_unique<TORBExprNodeArithmetic>(doSUB));
  }
  root.reset();
  // A node whose child was moved out frees too.
  auto concat = std::make_unique<TORBExprNodeStringFunction>(doCONCAT);
  concat->AddChild(std::make_unique<TORBExprNodeConst>(TORBVariant(bftVarchar)));
  concat->AddChild(std::make_unique<TORBExprNodeConst>(TORBVariant(bftVarchar)));
  std::unique_ptr<TORBExprNode> taken = std::move(concat->Children[0]);
  concat.reset();
  // The parser leaves such nodes behind in a concatenation it gives up.
  EXPECT_NE(0, RaisedCode([] { EvalTyped("UPPER('a' || -) || 1"); }));
}

}  // namespace
}  // namespace orb
