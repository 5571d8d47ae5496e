#pragma once

// Recursive-descent parser of expressions over the tokens of one command.
// Each rule returns a node, having consumed its tokens, or null with the
// token position restored; errors are raised only once a construct has
// been recognised by its leading keyword.
//
// Alternatives that start alike are tried in turn, so one stretch of tokens
// may be read by several rules. To keep parsing linear in the input, value
// expressions and primaries remember where they failed, and a primary that
// a failed alternative gives up is kept for the next rule that reads the
// same tokens. Nesting and tree depth are limited (30620), so that parsing,
// evaluating and freeing stay within a fixed stack.

#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/expr/expression_nodes.h"
#include "engine/expr/lexer.h"

namespace orb {

// Deepest nesting of brackets (function arguments included) and CASE
// expressions that an expression may have.
inline constexpr int32_t kMaxExpressionDepth = 1000;
// Deepest tree below its root that an expression may have: long chains of
// "*", "/" or OR nest their nodes too.
inline constexpr int32_t kMaxExpressionTreeDepth = 4 * kMaxExpressionDepth;

struct TORBExprParseOptions {
  bool case_insensitive = false;
  // Filters: a string constant ending in '*' compares as a prefix.
  bool partial_key = false;
};

// Raises "Unexpected end of SQL command" with `code`, at the last token of
// `lex`'s current command (line 1, column 1 when it has none).
[[noreturn]] void RaiseEndOfCommand(const TORBLexer& lex, int32_t code);

class TORBExprParser {
 public:
  using NodePtr = std::unique_ptr<TORBExprNode>;

  TORBExprParser(TORBLexer& lexer, TORBExprParseOptions options);

  NodePtr SearchCondition();
  NodePtr ValueExpression();

  bool AtEnd() const { return FTok.TokenType == tktNone; }
  const TToken& Current() const { return FTok; }
  // 30064 naming the current token.
  [[noreturn]] void RaiseUnexpectedToken();
  // "Unexpected end of SQL command" with `code`, at the last token.
  [[noreturn]] void RaiseEnd(int32_t code);
  // "Boolean expression expected, but ... found" with `code`.
  [[noreturn]] void RaiseBooleanExpected(int32_t code);

 private:
  // Token walking.
  void Advance();
  int32_t Save() const;
  void Restore(int32_t token_no);
  bool IsSym(std::u16string_view text) const;
  bool IsKw(TReservedWord word) const { return IsReservedWord(FTok, word); }
  bool IsLParen() const { return FTok.TokenType == tktLeftParenthesis; }
  bool IsRParen() const { return FTok.TokenType == tktRightParenthesis; }
  bool IsComma() const { return FTok.TokenType == tktComma; }
  bool IsNameToken() const;
  bool IsComparisonOperator(TORBDataOperator& op) const;
  bool SubqueryAhead() const;
  const TToken* PeekToken(int32_t offset) const;

  // Errors; at the end of the command each raises 30063 instead.
  [[noreturn]] void RaiseTokenExpected(int32_t code, std::string_view what);
  [[noreturn]] void RaiseArgumentExpected(int32_t code, std::string_view function);
  [[noreturn]] void RaiseFound(int32_t code, std::string_view format);
  [[noreturn]] void RaiseSubquery();

  // Consumes the expected token or raises.
  void ExpectLParen(int32_t code);
  void ExpectRParen(int32_t code);
  NodePtr ExpectArgument(int32_t code, std::string_view function);

  // Memo of rule results by the token number they start at.
  enum TMemoRule : uint8_t { kMemoValue, kMemoPrimary, kMemoNumericFunction };
  struct TParked {
    int32_t End;
    NodePtr Node;
  };
  struct TPrimaryRead {
    TMemoRule Rule;
    int32_t Start;
    int32_t End;
  };
  // Primaries read by one numeric value expression, by node.
  using TPrimaryLog = std::unordered_map<const TORBExprNode*, TPrimaryRead>;
  class TLogScope;

  static int64_t MemoKey(TMemoRule rule, int32_t start) { return (int64_t{start} << 8) | rule; }
  // A parked result of `rule` at the current token, moving past it; or
  // null. `failed` tells that the rule is known to fail here.
  NodePtr TakeParked(TMemoRule rule, bool& failed);
  void Park(TMemoRule rule, int32_t start, int32_t end, NodePtr node);
  // Parks every primary of `tree` that the log holds, freeing the rest.
  void SalvagePrimaries(NodePtr tree, const TPrimaryLog* log);
  // 30620 when the current token lies deeper than kMaxExpressionDepth.
  void CheckNesting();
  // 30620 when the tree is deeper than kMaxExpressionTreeDepth below its
  // root; `start` is the token number the expression started at.
  void CheckTreeDepth(const TORBExprNode& root, int32_t start);
  [[noreturn]] void RaiseTooDeep(int32_t max_depth, const TToken& at);

  NodePtr ParseSearchCondition();
  NodePtr ParseValueExpression();

  // Conditions.
  NodePtr BooleanTerm();
  NodePtr BooleanFactor();
  NodePtr BooleanTest();
  NodePtr BooleanPrimary();
  // The predicate that follows `left`, taking it; null leaves `left` and
  // the position after it.
  NodePtr Predicate(NodePtr& left);
  NodePtr RowValueConstructor();
  NodePtr MakeComparison(TORBDataOperator op, NodePtr left, NodePtr right);
  NodePtr LikePredicate(NodePtr& value, bool negated);

  // Values.
  NodePtr NumericValueExpression(TPrimaryLog& log);
  NodePtr Term();
  NodePtr Factor();
  NodePtr NumericPrimary();
  NodePtr ValueExpressionPrimary();
  NodePtr UnsignedLiteral();
  NodePtr DateTimeLiteral();
  NodePtr ColumnReference();
  NodePtr Aggregate();
  NodePtr Cast();
  NodePtr Case();
  NodePtr Coalesce();
  // `date` "+" or "-" value ...: the interval after a date-time value.
  NodePtr IntervalTail(NodePtr date);
  NodePtr DateTimeValueExpression();
  NodePtr StringValueExpression();
  NodePtr CharacterFactor();
  NodePtr StringFunction();
  NodePtr NumericFunction();
  NodePtr MimeToBin();

  NodePtr NumericFunctionOnce();
  NodePtr ValueExpressionPrimaryOnce();

  TORBLexer& FLex;
  TORBExprParseOptions FOptions;
  TToken FTok;
  // Per token of the command: a run of "(" that ends in SELECT starts here.
  std::vector<bool> FSubqueryAt;
  // Per token of the command: the brackets and CASE expressions around it.
  std::vector<int32_t> FNestingAt;
  std::unordered_map<int64_t, TParked> FParked;
  std::unordered_set<int64_t> FFailed;
  // Where the primaries of the numeric expression being read are logged.
  TPrimaryLog* FPrimaryLog = nullptr;
  // Calls of the two entry rules under way: the outermost checks the tree.
  int32_t FEntered = 0;
};

}  // namespace orb
