#pragma once

// Recursive-descent parser of expressions over the tokens of one command.
// Each rule returns a node, having consumed its tokens, or null with the
// token position restored; errors are raised only once a construct has
// been recognised by its leading keyword.

#include <memory>
#include <string_view>

#include "engine/expr/expression_nodes.h"
#include "engine/expr/lexer.h"

namespace orb {

struct TORBExprParseOptions {
  bool case_insensitive = false;
  // Filters: a string constant ending in '*' compares as a prefix.
  bool partial_key = false;
};

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

  // Conditions.
  NodePtr BooleanTerm();
  NodePtr BooleanFactor();
  NodePtr BooleanTest();
  NodePtr BooleanPrimary();
  NodePtr Predicate();
  NodePtr RowValueConstructor();
  NodePtr MakeComparison(TORBDataOperator op, NodePtr left, NodePtr right);
  NodePtr LikePredicate(NodePtr value, bool negated);

  // Values.
  NodePtr NumericValueExpression();
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
  NodePtr IntervalExpression();
  NodePtr DateTimeValueExpression();
  NodePtr StringValueExpression();
  NodePtr CharacterFactor();
  NodePtr StringFunction();
  NodePtr NumericFunction();
  NodePtr MimeToBin();

  TORBLexer& FLex;
  TORBExprParseOptions FOptions;
  TToken FTok;
};

}  // namespace orb
