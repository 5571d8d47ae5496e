#include "engine/expr/expression_parser.h"

#include <algorithm>
#include <charconv>

#include "engine/base/orb_exception.h"
#include "engine/platform/codepage.h"
#include "engine/expr/expression.h"
#include "engine/base/value_text.h"

namespace orb {

namespace {

using NodePtr = TORBExprParser::NodePtr;

constexpr std::string_view kTokenExpected = "Token '%s' expected, but '%s' found at line %d, column %d";
constexpr std::string_view kArgumentExpected = "Argument expected for function '%s' at line %d, column %d";
constexpr std::string_view kBooleanExpected = "Boolean expression expected, but '%s' found at line %d, column %d";
constexpr std::string_view kDateFormatExpected = "Const DateFormat string expected, but '%s' found at line %d, column %d";
constexpr int32_t kErrEndOfCommand = 30063;

bool IsNumericConstOrNull(const TORBExprNode& n) {
  return !n.IsConst() || n.Value.IsNull() || n.Value.IsNumericDataType();
}

bool IsStringConst(const TORBExprNode& n) { return n.IsConst() && n.Value.IsStringDataType(); }

bool IsNullConst(const TORBExprNode& n) { return n.IsConst() && n.Value.IsNull(); }

bool IsDateOrNullConst(const TORBExprNode& n) {
  return n.IsConst() && (n.Value.IsNull() || n.Value.IsDateTimeDataType());
}

NodePtr MakeConst(const TORBVariant& v) { return std::make_unique<TORBExprNodeConst>(v); }

NodePtr MakeLogicalConst(bool b) {
  TORBVariant v(bftLogical);
  v.SetAsBoolean(b);
  return MakeConst(v);
}

template <class Node>
std::unique_ptr<Node> MakeNode(TORBDataOperator op) {
  return std::make_unique<Node>(op);
}

NodePtr Unary(TORBDataOperator op, NodePtr child) {
  auto node = std::make_unique<TORBExprNodeArithmetic>(op);
  node->AddChild(std::move(child));
  return node;
}

NodePtr BooleanNode(TORBDataOperator op, NodePtr a, NodePtr b = nullptr) {
  auto node = std::make_unique<TORBExprNodeBoolean>(op);
  node->AddChild(std::move(a));
  if (b) node->AddChild(std::move(b));
  return node;
}

}  // namespace

// Sets the primary log for its lifetime.
class TORBExprParser::TLogScope {
 public:
  TLogScope(TORBExprParser& parser, TPrimaryLog* log) : FParser(parser), FSaved(parser.FPrimaryLog) {
    parser.FPrimaryLog = log;
  }
  ~TLogScope() { FParser.FPrimaryLog = FSaved; }
  TLogScope(const TLogScope&) = delete;
  TLogScope& operator=(const TLogScope&) = delete;

 private:
  TORBExprParser& FParser;
  TPrimaryLog* FSaved;
};

// Counts a call of an entry rule for its lifetime.
class TEnteredScope {
 public:
  explicit TEnteredScope(int32_t& entered) : FEntered(entered) { ++FEntered; }
  ~TEnteredScope() { --FEntered; }
  TEnteredScope(const TEnteredScope&) = delete;
  TEnteredScope& operator=(const TEnteredScope&) = delete;

  bool Outermost() const { return FEntered == 1; }

 private:
  int32_t& FEntered;
};

TORBExprParser::TORBExprParser(TORBLexer& lexer, TORBExprParseOptions options)
    : FLex(lexer), FOptions(options) {
  FLex.GetCurrentToken(FTok);
  const int32_t cmd = FLex.CurrentCommandNo();
  if (cmd < 0 || cmd >= FLex.NumCommands()) return;
  const TSQLCommand& c = FLex.Command(cmd);
  FSubqueryAt.assign(static_cast<size_t>(c.NumTokens), false);
  for (int32_t i = c.NumTokens - 2; i >= 0; --i) {
    const auto at = static_cast<size_t>(i);
    if (c.Tokens[at].TokenType != tktLeftParenthesis) continue;
    FSubqueryAt[at] = IsReservedWord(c.Tokens[at + 1], rwSELECT) || FSubqueryAt[at + 1];
  }
  // Every rule that recurses is entered inside a bracket or a CASE, so
  // their count bounds the parser's recursion.
  FNestingAt.resize(static_cast<size_t>(c.NumTokens));
  int32_t nesting = 0;
  for (size_t i = 0; i < FNestingAt.size(); ++i) {
    const TToken& t = c.Tokens[i];
    if (t.TokenType == tktRightParenthesis || IsReservedWord(t, rwEND)) nesting = std::max(nesting - 1, 0);
    FNestingAt[i] = nesting;
    if (t.TokenType == tktLeftParenthesis || IsReservedWord(t, rwCASE)) ++nesting;
  }
}

// ---------------------------------------------------------------------------
// Tokens and errors

void TORBExprParser::Advance() { FLex.GetNextToken(FTok); }

int32_t TORBExprParser::Save() const { return FLex.GetCurrentTokenNo(); }

void TORBExprParser::Restore(int32_t token_no) { FLex.SetCurrentTokenNo(token_no, FTok); }

bool TORBExprParser::IsSym(std::u16string_view text) const {
  return FTok.TokenType == tktString && FTok.Text == text;
}

bool TORBExprParser::IsNameToken() const {
  if (FTok.TokenType == tktBracketedString) return true;
  if (FTok.TokenType != tktString || FTok.Text.empty()) return false;
  static constexpr std::u16string_view kOperators[] = {u"+", u"-",  u"*",  u"/",  u"=", u"<",
                                                       u">", u"<=", u">=", u"<>", u"||", u"|"};
  for (std::u16string_view op : kOperators) {
    if (FTok.Text == op) return false;
  }
  return true;
}

bool TORBExprParser::IsComparisonOperator(TORBDataOperator& op) const {
  if (FTok.TokenType != tktString) return false;
  if (FTok.Text == u"=") op = doEQ;
  else if (FTok.Text == u"<>") op = doNE;
  else if (FTok.Text == u">") op = doGT;
  else if (FTok.Text == u"<") op = doLT;
  else if (FTok.Text == u">=") op = doGE;
  else if (FTok.Text == u"<=") op = doLE;
  else return false;
  return true;
}

const TToken* TORBExprParser::PeekToken(int32_t offset) const {
  const int32_t cmd = FLex.CurrentCommandNo();
  if (cmd < 0 || cmd >= FLex.NumCommands()) return nullptr;
  const TSQLCommand& c = FLex.Command(cmd);
  const int32_t at = c.CurrentTokenNo + offset;
  if (at < 0 || at >= c.NumTokens) return nullptr;
  return &c.Tokens[static_cast<size_t>(at)];
}

bool TORBExprParser::SubqueryAhead() const {
  const int32_t at = Save();
  return at >= 0 && static_cast<size_t>(at) < FSubqueryAt.size() && FSubqueryAt[static_cast<size_t>(at)];
}

NodePtr TORBExprParser::TakeParked(TMemoRule rule, bool& failed) {
  const int64_t key = MemoKey(rule, Save());
  failed = FFailed.count(key) != 0;
  auto it = FParked.find(key);
  if (it == FParked.end()) return nullptr;
  NodePtr node = std::move(it->second.Node);
  const int32_t end = it->second.End;
  FParked.erase(it);
  Restore(end);
  return node;
}

void TORBExprParser::Park(TMemoRule rule, int32_t start, int32_t end, NodePtr node) {
  FParked.insert_or_assign(MemoKey(rule, start), TParked{end, std::move(node)});
}

void TORBExprParser::SalvagePrimaries(NodePtr tree, const TPrimaryLog* log) {
  if (!tree || log == nullptr || log->empty()) return;
  std::vector<NodePtr> pending;
  pending.push_back(std::move(tree));
  while (!pending.empty()) {
    NodePtr node = std::move(pending.back());
    pending.pop_back();
    if (!node) continue;
    auto it = log->find(node.get());
    if (it != log->end()) {
      Park(it->second.Rule, it->second.Start, it->second.End, std::move(node));
      continue;
    }
    for (NodePtr& child : node->Children) pending.push_back(std::move(child));
    node->Children.clear();
  }
}

void TORBExprParser::RaiseTooDeep(int32_t max_depth, const TToken& at) {
  RaiseORB(kErrExpressionTooDeep, "Expression is nested too deeply. Maximum depth is %d at line %d, column %d",
           FormatArgs{max_depth, at.LineNum, at.ColumnNum});
}

void TORBExprParser::CheckNesting() {
  const int32_t at = Save();
  if (at >= 0 && static_cast<size_t>(at) < FNestingAt.size() &&
      FNestingAt[static_cast<size_t>(at)] > kMaxExpressionDepth) {
    RaiseTooDeep(kMaxExpressionDepth, FTok);
  }
}

void TORBExprParser::CheckTreeDepth(const TORBExprNode& root, int32_t start) {
  std::vector<std::pair<const TORBExprNode*, int32_t>> pending{{&root, 0}};
  while (!pending.empty()) {
    const auto [node, depth] = pending.back();
    pending.pop_back();
    if (depth > kMaxExpressionTreeDepth) {
      const TToken* first = PeekToken(start - Save());
      RaiseTooDeep(kMaxExpressionTreeDepth, first != nullptr ? *first : FTok);
    }
    for (const NodePtr& child : node->Children) {
      if (child) pending.emplace_back(child.get(), depth + 1);
    }
  }
}

void RaiseEndOfCommand(const TORBLexer& lex, int32_t code) {
  int32_t line = 1, column = 1;
  const int32_t cmd = lex.CurrentCommandNo();
  if (cmd >= 0 && cmd < lex.NumCommands() && !lex.Command(cmd).Tokens.empty()) {
    const TToken& last = lex.Command(cmd).Tokens.back();
    line = last.LineNum;
    column = last.ColumnNum;
  }
  RaiseORB(code, "Unexpected end of SQL command found at line %d, column %d", FormatArgs{line, column});
}

void TORBExprParser::RaiseEnd(int32_t code) { RaiseEndOfCommand(FLex, code); }

void TORBExprParser::RaiseUnexpectedToken() {
  if (AtEnd()) RaiseEnd(kErrEndOfCommand);
  RaiseORB(kErrUnexpectedToken, "Unexpected token '%s' found at line %d, column %d",
           FormatArgs{FTok.Text, FTok.LineNum, FTok.ColumnNum});
}

void TORBExprParser::RaiseBooleanExpected(int32_t code) { RaiseFound(code, kBooleanExpected); }

void TORBExprParser::RaiseTokenExpected(int32_t code, std::string_view what) {
  if (AtEnd()) RaiseEnd(kErrEndOfCommand);
  RaiseORB(code, kTokenExpected, FormatArgs{what, FTok.Text, FTok.LineNum, FTok.ColumnNum});
}

void TORBExprParser::RaiseArgumentExpected(int32_t code, std::string_view function) {
  if (AtEnd()) RaiseEnd(kErrEndOfCommand);
  RaiseORB(code, kArgumentExpected, FormatArgs{function, FTok.LineNum, FTok.ColumnNum});
}

void TORBExprParser::RaiseFound(int32_t code, std::string_view format) {
  if (AtEnd()) RaiseEnd(kErrEndOfCommand);
  RaiseORB(code, format, FormatArgs{FTok.Text, FTok.LineNum, FTok.ColumnNum});
}

void TORBExprParser::RaiseSubquery() {
  RaiseORB(kErrSubqueryUnavailable, "Subqueries are not available in this context (line %d, column %d)",
           FormatArgs{FTok.LineNum, FTok.ColumnNum});
}

void TORBExprParser::ExpectLParen(int32_t code) {
  if (!IsLParen()) RaiseTokenExpected(code, "(");
  Advance();
}

void TORBExprParser::ExpectRParen(int32_t code) {
  if (!IsRParen()) RaiseTokenExpected(code, ")");
  Advance();
}

NodePtr TORBExprParser::ExpectArgument(int32_t code, std::string_view function) {
  NodePtr n = ValueExpression();
  if (!n) RaiseArgumentExpected(code, function);
  return n;
}

// ---------------------------------------------------------------------------
// Conditions

NodePtr TORBExprParser::SearchCondition() {
  const int32_t start = Save();
  CheckNesting();
  TEnteredScope entered(FEntered);
  NodePtr condition = ParseSearchCondition();
  if (condition && entered.Outermost()) CheckTreeDepth(*condition, start);
  return condition;
}

NodePtr TORBExprParser::ParseSearchCondition() {
  NodePtr left = BooleanTerm();
  if (!left) return nullptr;
  while (IsKw(rwOR)) {
    Advance();
    NodePtr right = BooleanTerm();
    if (!right) RaiseFound(30070, kBooleanExpected);
    left = BooleanNode(doOR, std::move(left), std::move(right));
  }
  return left;
}

NodePtr TORBExprParser::BooleanTerm() {
  NodePtr first = BooleanFactor();
  if (!first) return nullptr;
  if (!IsKw(rwAND)) return first;
  auto node = std::make_unique<TORBExprNodeBoolean>(doAND);
  node->AddChild(std::move(first));
  while (IsKw(rwAND)) {
    Advance();
    NodePtr next = BooleanFactor();
    if (!next) RaiseFound(30069, kBooleanExpected);
    node->AddChild(std::move(next));
  }
  return node;
}

NodePtr TORBExprParser::BooleanFactor() {
  if (!IsKw(rwNOT)) return BooleanTest();
  const int32_t start = Save();
  Advance();
  NodePtr test = BooleanTest();
  if (!test) {
    Restore(start);
    return nullptr;
  }
  return BooleanNode(doNOT, std::move(test));
}

NodePtr TORBExprParser::BooleanTest() {
  NodePtr primary = BooleanPrimary();
  if (!primary || !IsKw(rwIS)) return primary;
  Advance();
  bool negated = false;
  if (IsKw(rwNOT)) {
    negated = true;
    Advance();
  }
  if (IsKw(rwTRUE) || IsKw(rwFALSE)) {
    const bool wants_true = IsKw(rwTRUE) != negated;
    Advance();
    return wants_true ? std::move(primary) : BooleanNode(doNOT, std::move(primary));
  }
  if (IsKw(rwUNKNOWN)) {
    Advance();
    return BooleanNode(negated ? doISNOTNULL : doISNULL, std::move(primary));
  }
  if (IsKw(rwNULL)) {
    Advance();
    return BooleanNode(negated ? doISNOTNULL : doISNULL, std::move(primary));
  }
  RaiseTokenExpected(30067, "TRUE, FALSE or UNKNOWN");
}

NodePtr TORBExprParser::BooleanPrimary() {
  const int32_t start = Save();
  if (IsKw(rwEXISTS)) {
    Advance();
    int32_t depth = 0;
    while (IsLParen()) {
      ++depth;
      Advance();
    }
    if (IsKw(rwSELECT)) RaiseSubquery();
    if (depth == 0) RaiseTokenExpected(30492, "(");
    RaiseTokenExpected(30492, "SELECT");
  }
  // The value is read once: a predicate follows it, or it is the condition
  // itself. A value that starts with "(" reaches at least its ")", where a
  // parenthesised condition would end with the same tree, so the
  // condition reading is needed only when no value can be read.
  NodePtr value = RowValueConstructor();
  if (value) {
    if (NodePtr p = Predicate(value)) return p;
    return value;
  }
  Restore(start);
  if (IsLParen() && !SubqueryAhead()) {
    Advance();
    NodePtr condition = SearchCondition();
    if (condition && IsRParen()) {
      Advance();
      return condition;
    }
  }
  Restore(start);
  return nullptr;
}

NodePtr TORBExprParser::RowValueConstructor() {
  if (SubqueryAhead()) RaiseSubquery();
  return ValueExpression();
}

NodePtr TORBExprParser::Predicate(NodePtr& left) {
  const int32_t start = Save();
  TORBDataOperator op;
  if (IsComparisonOperator(op)) {
    Advance();
    if (IsKw(rwALL) || IsKw(rwANY) || IsKw(rwSOME)) {
      Advance();
      RaiseSubquery();
    }
    NodePtr right = RowValueConstructor();
    if (!right) {
      Restore(start);
      return nullptr;
    }
    return MakeComparison(op, std::move(left), std::move(right));
  }
  bool negated = false;
  if (IsKw(rwNOT)) {
    negated = true;
    Advance();
  }
  if (IsKw(rwLIKE)) {
    Advance();
    if (NodePtr like = LikePredicate(left, negated)) return like;
    Restore(start);
    return nullptr;
  }
  if (IsKw(rwBETWEEN)) {
    Advance();
    NodePtr low = RowValueConstructor();
    if (!low || !IsKw(rwAND)) {
      Restore(start);
      return nullptr;
    }
    Advance();
    NodePtr high = RowValueConstructor();
    if (!high) {
      Restore(start);
      return nullptr;
    }
    auto node = std::make_unique<TORBExprNodeBoolean>(negated ? doNOTBETWEEN : doBETWEEN);
    node->AddChild(std::move(left));
    node->AddChild(std::move(low));
    node->AddChild(std::move(high));
    return node;
  }
  if (IsKw(rwIN)) {
    Advance();
    if (SubqueryAhead()) RaiseSubquery();
    if (!IsLParen()) {
      Restore(start);
      return nullptr;
    }
    Advance();
    std::vector<NodePtr> items;
    while (true) {
      NodePtr item = ValueExpression();
      if (!item) {
        Restore(start);
        return nullptr;
      }
      items.push_back(std::move(item));
      if (!IsComma()) break;
      Advance();
    }
    if (!IsRParen()) {
      Restore(start);
      return nullptr;
    }
    Advance();
    auto node = std::make_unique<TORBExprNodeBoolean>(negated ? doNOTIN : doIN);
    node->AddChild(std::move(left));
    for (NodePtr& item : items) node->AddChild(std::move(item));
    return node;
  }
  if (!negated && IsKw(rwIS)) {
    Advance();
    bool is_not = false;
    if (IsKw(rwNOT)) {
      is_not = true;
      Advance();
    }
    if (IsKw(rwNULL)) {
      Advance();
      return BooleanNode(is_not ? doISNOTNULL : doISNULL, std::move(left));
    }
  }
  Restore(start);
  return nullptr;
}

NodePtr TORBExprParser::MakeComparison(TORBDataOperator op, NodePtr left, NodePtr right) {
  // field = NULL and field <> NULL test for null.
  if (op == doEQ || op == doNE) {
    if (left->IsField() && IsNullConst(*right)) return BooleanNode(op == doEQ ? doISNULL : doISNOTNULL, std::move(left));
    if (right->IsField() && IsNullConst(*left)) return BooleanNode(op == doEQ ? doISNULL : doISNOTNULL, std::move(right));
  }
  bool partial = false;
  if (FOptions.partial_key) {
    // A filter constant ending in '*' compares as a prefix; the constant
    // goes to the right side, where the prefix length is taken from.
    if (IsStringConst(*left) && !IsStringConst(*right)) {
      std::swap(left, right);
      op = ReverseComparisonOperator(op);
    }
    if (IsStringConst(*right)) {
      std::u16string text = right->Value.AsWideString();
      if (!text.empty() && text.back() == u'*') {
        text.pop_back();
        right->Value.Clear(bftWideVarchar);
        right->Value.SetAsWideString(text);
        right->Value.TryToReduceWideStringToAnsiString();
        // A lone '*' is the empty prefix, not a null.
        if (text.empty()) right->Value.SetData("", 1, bftVarchar, true);
        partial = true;
      }
    }
  }
  const bool lc = left->IsConst();
  const bool rc = right->IsConst();
  bool three_valued = true;
  if ((IsStringConst(*left) && !rc) || (IsStringConst(*right) && !lc)) three_valued = false;
  if ((left->IsField() && IsDateOrNullConst(*right)) || (right->IsField() && IsDateOrNullConst(*left))) {
    three_valued = false;
  }
  if (partial) three_valued = false;
  auto node = std::make_unique<TORBExprNodeComparison>(op, three_valued);
  node->FPartialKey = partial;
  node->AddChild(std::move(left));
  node->AddChild(std::move(right));
  return node;
}

NodePtr TORBExprParser::LikePredicate(NodePtr& value, bool negated) {
  NodePtr pattern = ValueExpression();
  if (!pattern) return nullptr;
  std::u16string escape;
  bool has_escape = false;
  if (IsKw(rwESCAPE)) {
    Advance();
    if (FTok.TokenType == tktQuotedString) {
      escape = FTok.Text;
    } else if (FTok.TokenType == tktParameter && FTok.ParamValue) {
      escape = FTok.ParamValue->AsWideString();
    } else {
      escape.clear();
      if (AtEnd()) RaiseEnd(kErrEndOfCommand);
    }
    if (escape.size() != 1) {
      RaiseORB(20294, "Invalid escape character length (should be a single character) at line %d, column %d",
               FormatArgs{FTok.LineNum, FTok.ColumnNum});
    }
    has_escape = true;
    Advance();
  }
  if (!has_escape && IsStringConst(*pattern)) {
    // A constant pattern whose only wildcard is a final '%' is a prefix
    // comparison.
    const std::u16string text = pattern->Value.AsWideString();
    const size_t percent = text.find(u'%');
    if (text.size() >= 2 && percent == text.size() - 1 && text.find(u'_') == std::u16string::npos) {
      TORBVariant prefix(bftWideVarchar);
      prefix.SetAsWideString(text.substr(0, text.size() - 1));
      prefix.TryToReduceWideStringToAnsiString();
      auto node = std::make_unique<TORBExprNodeComparison>(negated ? doNE : doEQ, false);
      node->FPartialKey = true;
      node->AddChild(std::move(value));
      node->AddChild(MakeConst(prefix));
      return node;
    }
  }
  auto node = std::make_unique<TORBExprNodeBoolean>(negated ? doNOTLIKE : doLIKE);
  node->EscapeStr = escape;
  node->AddChild(std::move(value));
  node->AddChild(std::move(pattern));
  return node;
}

// ---------------------------------------------------------------------------
// Values

NodePtr TORBExprParser::ValueExpression() {
  const int32_t start = Save();
  CheckNesting();
  TEnteredScope entered(FEntered);
  TLogScope no_log(*this, nullptr);
  bool failed = false;
  NodePtr value = TakeParked(kMemoValue, failed);
  if (!value && !failed) {
    value = ParseValueExpression();
    if (!value) {
      Restore(start);
      FFailed.insert(MemoKey(kMemoValue, start));
    }
  }
  if (value && entered.Outermost()) CheckTreeDepth(*value, start);
  return value;
}

NodePtr TORBExprParser::ParseValueExpression() {
  const int32_t start = Save();
  {
    TPrimaryLog log;
    if (NodePtr n = NumericValueExpression(log)) {
      if (!IsSym(u"||")) return n;
      // A concatenation: the string rules read the same primaries again.
      SalvagePrimaries(std::move(n), &log);
    }
  }
  Restore(start);
  if (NodePtr n = DateTimeValueExpression()) {
    if (IsSym(u"+") || IsSym(u"-")) return IntervalTail(std::move(n));
    return n;
  }
  Restore(start);
  if (NodePtr n = StringValueExpression()) return n;
  Restore(start);
  if (IsKw(rwTRUE) || IsKw(rwFALSE)) {
    const bool b = IsKw(rwTRUE);
    Advance();
    return MakeLogicalConst(b);
  }
  if (FTok.TokenType == tktParameter && FTok.ParamValue) {
    // Parameters of the kinds no other rule takes (logical).
    NodePtr n = MakeConst(*FTok.ParamValue);
    Advance();
    return n;
  }
  if (IsKw(rwNULL)) {
    Advance();
    return MakeConst(TORBVariant(bftUnknown));
  }
  if (IsKw(rwMIMETOBIN)) return MimeToBin();
  return nullptr;
}

NodePtr TORBExprParser::NumericValueExpression(TPrimaryLog& log) {
  TLogScope scope(*this, &log);
  const int32_t start = Save();
  NodePtr first = Term();
  if (!first) return nullptr;
  if (!IsSym(u"+") && !IsSym(u"-")) return first;
  auto node = std::make_unique<TORBExprNodeArithmetic>(doADD);
  node->AddChild(std::move(first));
  while (IsSym(u"+") || IsSym(u"-")) {
    const bool minus = IsSym(u"-");
    Advance();
    if (AtEnd()) RaiseEnd(kErrEndOfCommand);
    NodePtr term = Term();
    if (!term) {
      SalvagePrimaries(std::move(node), &log);
      Restore(start);
      return nullptr;
    }
    node->AddChild(minus ? Unary(doSUB, std::move(term)) : std::move(term));
  }
  return node;
}

NodePtr TORBExprParser::Term() {
  const int32_t start = Save();
  NodePtr left = Factor();
  if (!left) return nullptr;
  while (IsSym(u"*") || IsSym(u"/")) {
    const TORBDataOperator op = IsSym(u"*") ? doMUL : doDIV;
    Advance();
    if (AtEnd()) RaiseEnd(kErrEndOfCommand);
    NodePtr right = Factor();
    if (!right) {
      SalvagePrimaries(std::move(left), FPrimaryLog);
      Restore(start);
      return nullptr;
    }
    auto node = std::make_unique<TORBExprNodeArithmetic>(op);
    node->AddChild(std::move(left));
    node->AddChild(std::move(right));
    left = std::move(node);
  }
  return left;
}

NodePtr TORBExprParser::Factor() {
  const int32_t start = Save();
  bool minus = false;
  if (IsSym(u"+") || IsSym(u"-")) {
    minus = IsSym(u"-");
    Advance();
  }
  NodePtr primary = NumericPrimary();
  if (!primary) {
    Restore(start);
    return nullptr;
  }
  return minus ? Unary(doSUB, std::move(primary)) : std::move(primary);
}

NodePtr TORBExprParser::NumericPrimary() {
  const int32_t start = Save();
  TMemoRule rule = kMemoPrimary;
  NodePtr p = ValueExpressionPrimary();
  if (p && !IsNumericConstOrNull(*p)) {
    // Non-numeric constants are left to the string rules.
    Park(kMemoPrimary, start, Save(), std::move(p));
    Restore(start);
  }
  if (!p) {
    rule = kMemoNumericFunction;
    p = NumericFunction();
  }
  if (p && FPrimaryLog != nullptr) FPrimaryLog->insert_or_assign(p.get(), TPrimaryRead{rule, start, Save()});
  return p;
}

NodePtr TORBExprParser::ValueExpressionPrimary() {
  const int32_t start = Save();
  bool failed = false;
  if (NodePtr n = TakeParked(kMemoPrimary, failed)) return n;
  if (failed) return nullptr;
  NodePtr n = ValueExpressionPrimaryOnce();
  if (!n) {
    Restore(start);
    FFailed.insert(MemoKey(kMemoPrimary, start));
  }
  return n;
}

NodePtr TORBExprParser::ValueExpressionPrimaryOnce() {
  const int32_t start = Save();
  if (NodePtr n = UnsignedLiteral()) return n;
  if (NodePtr n = ColumnReference()) return n;
  if (NodePtr n = Aggregate()) return n;
  if (SubqueryAhead()) RaiseSubquery();
  if (IsKw(rwCASE)) return Case();
  if (IsKw(rwCOALESCE)) return Coalesce();
  if (IsLParen()) {
    Advance();
    const int32_t inner_start = Save();
    NodePtr inner = ValueExpression();
    if (inner && IsRParen()) {
      Advance();
      return inner;
    }
    // The bracket holds more than a value (a condition): keep what was read
    // for the condition rules.
    if (inner) Park(kMemoValue, inner_start, Save(), std::move(inner));
    Restore(start);
    return nullptr;
  }
  if (IsKw(rwCAST)) return Cast();
  return nullptr;
}

NodePtr TORBExprParser::UnsignedLiteral() {
  switch (FTok.TokenType) {
    case tktInt: {
      const std::string text = WideToUtf8(FTok.Text);
      int64_t v = 0;
      const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
      if (ec != std::errc() || end != text.data() + text.size()) {
        RaiseORB(30062, "Invalid numeric symbol '%s' at line %d, column %d",
                 FormatArgs{FTok.Text, FTok.LineNum, FTok.ColumnNum});
      }
      TORBVariant value(v < 2147483647 ? bftSignedInt32 : bftSignedInt64);
      if (v < 2147483647) {
        value.SetAsInteger(static_cast<int32_t>(v));
      } else {
        value.SetAsInt64(v);
      }
      Advance();
      return MakeConst(value);
    }
    case tktFloat: {
      const std::optional<double> d = ParseFloatText(WideToUtf8(FTok.Text));
      if (!d.has_value()) {
        RaiseORB(30062, "Invalid numeric symbol '%s' at line %d, column %d",
                 FormatArgs{FTok.Text, FTok.LineNum, FTok.ColumnNum});
      }
      TORBVariant value(bftDouble);
      value.SetAsDouble(*d);
      Advance();
      return MakeConst(value);
    }
    case tktQuotedString: {
      TORBVariant value(bftWideVarchar);
      value.SetAsWideString(FTok.Text);
      value.TryToReduceWideStringToAnsiString();
      Advance();
      return MakeConst(value);
    }
    case tktParameter: {
      if (!FTok.ParamValue) return nullptr;
      const TORBVariant& p = *FTok.ParamValue;
      const TORBBaseFieldType t = p.DataType();
      if (t == bftLogical || IsDateTimeFieldType(t)) return nullptr;
      NodePtr n = MakeConst(p);
      Advance();
      return n;
    }
    case tktReservedWord:
      if (IsKw(rwDATE) || IsKw(rwTIME) || IsKw(rwTIMESTAMP)) return DateTimeLiteral();
      if (IsKw(rwNULL)) {
        // NULL is a literal of every type: arithmetic with it is null.
        Advance();
        return MakeConst(TORBVariant(bftUnknown));
      }
      return nullptr;
    default:
      return nullptr;
  }
}

NodePtr TORBExprParser::DateTimeLiteral() {
  const TReservedWord word = FTok.ReservedWord;
  const int32_t missing_code = word == rwDATE ? 20284 : (word == rwTIME ? 20286 : 20288);
  const int32_t bad_code = word == rwDATE ? 20283 : (word == rwTIME ? 20285 : 20287);
  Advance();
  if (FTok.TokenType != tktQuotedString) RaiseTokenExpected(missing_code, "string");
  const std::string text = WideToAnsi(FTok.Text);
  TORBVariant value;
  if (word == rwDATE) {
    const std::optional<TORBDateTime> d = ParseISODateText(text);
    if (!d.has_value()) {
      RaiseORB(bad_code, "Date string expected \"YYYY-MM-DD\", but found \"%s\" at line %d, column %d",
               FormatArgs{FTok.Text, FTok.LineNum, FTok.ColumnNum});
    }
    value.Clear(bftDate);
    value.SetAsORBDate(d->Date);
  } else if (word == rwTIME) {
    const std::optional<int32_t> t = ParseISOTimeText(text);
    if (!t.has_value()) {
      RaiseORB(bad_code, "Time string expected \"HH:MM:SS\", but found \"%s\" at line %d, column %d",
               FormatArgs{FTok.Text, FTok.LineNum, FTok.ColumnNum});
    }
    value.Clear(bftTime);
    value.SetAsORBTime(*t);
  } else {
    std::optional<TORBDateTime> ts = ParseISOTimeStampText(text);
    if (!ts.has_value()) ts = ParseISODateText(text);
    if (!ts.has_value()) {
      RaiseORB(bad_code, "Time string expected \"HH:MM:SS\", but found \"%s\" at line %d, column %d",
               FormatArgs{FTok.Text, FTok.LineNum, FTok.ColumnNum});
    }
    value.Clear(bftDateTime);
    value.SetAsORBDateTime(*ts);
  }
  Advance();
  return MakeConst(value);
}

NodePtr TORBExprParser::ColumnReference() {
  if (!IsNameToken()) return nullptr;
  const TToken* next = PeekToken(1);
  if (next != nullptr && next->TokenType == tktLeftParenthesis) return nullptr;
  std::u16string first = FTok.Text;
  Advance();
  if (FTok.TokenType == tktDot) {
    const int32_t at_dot = Save();
    Advance();
    if (IsNameToken()) {
      std::u16string second = FTok.Text;
      Advance();
      return std::make_unique<TORBExprNodeField>(std::move(first), std::move(second));
    }
    Restore(at_dot);
  }
  return std::make_unique<TORBExprNodeField>(std::u16string(), std::move(first));
}

NodePtr TORBExprParser::Aggregate() {
  TORBDataOperator op;
  if (IsKw(rwCOUNT)) op = doCOUNT;
  else if (IsKw(rwSUM)) op = doSUM;
  else if (IsKw(rwAVG)) op = doAVG;
  else if (IsKw(rwMIN)) op = doMIN;
  else if (IsKw(rwMAX)) op = doMAX;
  else return nullptr;
  const std::string name(GetOperatorName(op));
  Advance();
  ExpectLParen(30073);
  if (op == doCOUNT && IsSym(u"*")) {
    Advance();
    ExpectRParen(30074);
    return std::make_unique<TORBExprNodeAggregated>(doCOUNTALL, false);
  }
  bool distinct = false;
  if (IsKw(rwDISTINCT)) {
    distinct = true;
    Advance();
  } else if (IsKw(rwALL)) {
    Advance();
  }
  NodePtr arg = ExpectArgument(30102, name);
  ExpectRParen(30075);
  auto node = std::make_unique<TORBExprNodeAggregated>(op, distinct);
  node->AddChild(std::move(arg));
  return node;
}

NodePtr TORBExprParser::Cast() {
  Advance();
  ExpectLParen(30465);
  NodePtr value = ExpectArgument(30465, "CAST");
  if (IsComma() || IsKw(rwAS)) {
    Advance();
  } else {
    RaiseTokenExpected(30076, "AS");
  }
  if (AtEnd()) RaiseEnd(kErrEndOfCommand);
  const std::u16string type_name = FTok.Text;
  const TORBAdvancedFieldType type = GetFieldType(type_name);
  if (type == aftUnknown || !IsConvertableFieldType(type) ||
      (FTok.TokenType != tktString && FTok.TokenType != tktReservedWord)) {
    RaiseORB(30077, "Cannot convert an expression to specified type: '%s'", FormatArgs{type_name});
  }
  Advance();
  auto node = std::make_unique<TORBExprNodeCast>(type);
  node->AddChild(std::move(value));
  if (IsLParen()) {
    // Only the string types have a size.
    if (!IsStringFieldType(type)) RaiseORB(kErrUnsupportedDataType, "Unsupported data type '%s'", FormatArgs{type_name});
    Advance();
    NodePtr size = ExpectArgument(30076, "CAST");
    ExpectRParen(30076);
    node->AddChild(std::move(size));
  }
  ExpectRParen(30076);
  return node;
}

NodePtr TORBExprParser::Case() {
  Advance();
  auto node = std::make_unique<TORBExprNodeCase>();
  const bool searched = IsKw(rwWHEN);
  if (!searched) {
    NodePtr input = ValueExpression();
    if (!input) RaiseFound(30467, "Input expression for CASE function expected, but '%s' found at line %d, column %d");
    node->FInputExpression = node->AddChild(std::move(input));
    if (!IsKw(rwWHEN)) RaiseTokenExpected(30468, "WHEN");
  }
  while (IsKw(rwWHEN)) {
    Advance();
    NodePtr when;
    if (searched) {
      when = SearchCondition();
      if (!when) RaiseFound(30474, "Search Condition for CASE function expected, but '%s' found at line %d, column %d");
    } else {
      when = ValueExpression();
      if (!when) RaiseFound(30469, "When Expression for CASE function expected, but '%s' found at line %d, column %d");
    }
    node->FWhenExpressions.push_back(node->AddChild(std::move(when)));
    if (!IsKw(rwTHEN)) RaiseTokenExpected(searched ? 30475 : 30470, "THEN");
    Advance();
    NodePtr result = ValueExpression();
    if (!result) RaiseTokenExpected(searched ? 30476 : 30471, "result expression");
    node->FResultExpressions.push_back(node->AddChild(std::move(result)));
  }
  if (searched && node->FWhenExpressions.empty()) RaiseTokenExpected(30473, "WHEN");
  if (IsKw(rwELSE)) {
    Advance();
    NodePtr else_result = ValueExpression();
    if (!else_result) {
      RaiseFound(searched ? 30477 : 30471,
                 "'Else Result Expression' for CASE function expected, but '%s' found at line %d, column %d");
    }
    node->FElseResultExpression = node->AddChild(std::move(else_result));
  }
  if (!IsKw(rwEND)) RaiseTokenExpected(searched ? 30478 : 30472, "END");
  Advance();
  return node;
}

NodePtr TORBExprParser::Coalesce() {
  Advance();
  ExpectLParen(20275);
  auto node = std::make_unique<TORBExprNodeCase>();
  node->FIsCoalesceExpression = true;
  while (true) {
    NodePtr item = ValueExpression();
    if (!item) {
      if (node->FCoalesceNodes.empty()) {
        if (AtEnd()) RaiseEnd(kErrEndOfCommand);
        RaiseORB(20276, "COALESCE arguments are missing at line %d, column %d",
                 FormatArgs{FTok.LineNum, FTok.ColumnNum});
      }
      RaiseArgumentExpected(20276, "COALESCE");
    }
    node->FCoalesceNodes.push_back(node->AddChild(std::move(item)));
    if (!IsComma()) break;
    Advance();
  }
  ExpectRParen(20275);
  return node;
}

NodePtr TORBExprParser::DateTimeValueExpression() {
  if (IsKw(rwSYSDATE) || IsKw(rwNOW) || IsKw(rwCURRENT_TIMESTAMP)) {
    Advance();
    return MakeNode<TORBExprNodeDateFunction>(doSYSDATE);
  }
  if (IsKw(rwCURRENT_DATE)) {
    Advance();
    return MakeNode<TORBExprNodeDateFunction>(doCURRENT_DATE);
  }
  if (IsKw(rwCURRENT_TIME)) {
    Advance();
    return MakeNode<TORBExprNodeDateFunction>(doCURRENT_TIME);
  }
  if (IsKw(rwTODATE)) {
    Advance();
    ExpectLParen(30105);
    NodePtr text = ExpectArgument(30107, "TODATE");
    if (!IsComma()) RaiseTokenExpected(30108, ",");
    Advance();
    if (FTok.TokenType != tktQuotedString) RaiseFound(30109, kDateFormatExpected);
    auto node = MakeNode<TORBExprNodeDateFunction>(doTODATE);
    node->DateFormater = std::make_unique<TDateFormater>(FTok.Text);
    Advance();
    ExpectRParen(30106);
    node->AddChild(std::move(text));
    return node;
  }
  if (FTok.TokenType == tktParameter && FTok.ParamValue && IsDateTimeFieldType(FTok.ParamValue->DataType())) {
    NodePtr n = MakeConst(*FTok.ParamValue);
    Advance();
    return n;
  }
  // Typed literals take part in date arithmetic like the functions above.
  if (IsKw(rwDATE) || IsKw(rwTIME) || IsKw(rwTIMESTAMP)) return DateTimeLiteral();
  return nullptr;
}

NodePtr TORBExprParser::IntervalTail(NodePtr date) {
  auto node = std::make_unique<TORBExprNodeArithmetic>(doADD);
  node->AddChild(std::move(date));
  while (IsSym(u"+") || IsSym(u"-")) {
    const bool minus = IsSym(u"-");
    Advance();
    const int32_t operand_start = Save();
    NodePtr operand = Term();
    if (!operand) {
      Restore(operand_start);
      operand = DateTimeValueExpression();
    }
    if (!operand) RaiseArgumentExpected(30501, minus ? "-" : "+");
    node->AddChild(minus ? Unary(doSUB, std::move(operand)) : std::move(operand));
  }
  return node;
}

NodePtr TORBExprParser::StringValueExpression() {
  NodePtr first = CharacterFactor();
  if (!first) return nullptr;
  if (!IsSym(u"||") && !IsSym(u"+")) return first;
  auto node = std::make_unique<TORBExprNodeStringFunction>(doCONCAT);
  node->AddChild(std::move(first));
  while (IsSym(u"||") || IsSym(u"+")) {
    const int32_t at_operator = Save();
    Advance();
    if (AtEnd()) RaiseEnd(kErrEndOfCommand);
    NodePtr next = CharacterFactor();
    if (!next) {
      Restore(at_operator);
      break;
    }
    node->AddChild(std::move(next));
  }
  if (node->ChildCount() == 1) return std::move(node->Children[0]);
  return node;
}

NodePtr TORBExprParser::CharacterFactor() {
  const int32_t start = Save();
  if (NodePtr n = ValueExpressionPrimary()) return n;
  Restore(start);
  if (NodePtr n = StringFunction()) return n;
  Restore(start);
  if (NodePtr n = DateTimeValueExpression()) return n;
  Restore(start);
  if (IsKw(rwNULL)) {
    // A null part of a concatenation counts as empty.
    Advance();
    return MakeConst(TORBVariant(bftUnknown));
  }
  return NumericFunction();
}

NodePtr TORBExprParser::StringFunction() {
  TORBDataOperator op;
  if (IsKw(rwUPPER)) op = doUPPER;
  else if (IsKw(rwLOWER)) op = doLOWER;
  else if (IsKw(rwTRIM)) op = doTRIM;
  else if (IsKw(rwLTRIM)) op = doLTRIM;
  else if (IsKw(rwRTRIM)) op = doRTRIM;
  else if (IsKw(rwSUBSTRING)) op = doSUBSTRING;
  else if (IsKw(rwTOSTRING)) op = doTOSTRING;
  else return nullptr;
  const std::string name(GetOperatorName(op));
  Advance();
  if (op == doSUBSTRING) {
    ExpectLParen(30093);
    auto node = MakeNode<TORBExprNodeStringFunction>(doSUBSTRING);
    node->AddChild(ExpectArgument(30094, name));
    if (!IsComma() && !IsKw(rwFROM)) RaiseTokenExpected(30095, "FROM");
    Advance();
    node->AddChild(ExpectArgument(30096, name));
    if (IsComma() || IsKw(rwFOR)) {
      Advance();
      node->AddChild(ExpectArgument(30097, name));
    }
    ExpectRParen(30098);
    return node;
  }
  if (op == doTOSTRING) {
    ExpectLParen(30099);
    NodePtr value = ExpectArgument(30100, name);
    if (!IsComma() && !IsKw(rwFROM)) RaiseTokenExpected(30101, "FROM");
    Advance();
    if (FTok.TokenType != tktQuotedString) RaiseFound(30103, kDateFormatExpected);
    auto node = MakeNode<TORBExprNodeDateFunction>(doTOSTRING);
    node->DateFormater = std::make_unique<TDateFormater>(FTok.Text);
    Advance();
    ExpectRParen(30104);
    node->AddChild(std::move(value));
    return node;
  }
  ExpectLParen(30090);
  auto node = MakeNode<TORBExprNodeStringFunction>(op);
  node->AddChild(ExpectArgument(30091, name));
  ExpectRParen(30092);
  return node;
}

NodePtr TORBExprParser::NumericFunction() {
  const int32_t start = Save();
  bool failed = false;
  if (NodePtr n = TakeParked(kMemoNumericFunction, failed)) return n;
  if (failed) return nullptr;
  NodePtr n = NumericFunctionOnce();
  if (!n) {
    Restore(start);
    FFailed.insert(MemoKey(kMemoNumericFunction, start));
  }
  return n;
}

NodePtr TORBExprParser::NumericFunctionOnce() {
  if (IsKw(rwPOSITION) || IsKw(rwPOS)) {
    const std::string name = IsKw(rwPOS) ? "POS" : "POSITION";
    Advance();
    ExpectLParen(30078);
    auto node = MakeNode<TORBExprNodeStringFunction>(doPOS);
    node->AddChild(ExpectArgument(30079, name));
    if (!IsComma() && !IsKw(rwIN)) RaiseTokenExpected(30080, "IN");
    Advance();
    node->AddChild(ExpectArgument(30081, name));
    ExpectRParen(30082);
    return node;
  }
  if (IsKw(rwLENGTH)) {
    Advance();
    ExpectLParen(30083);
    auto node = MakeNode<TORBExprNodeStringFunction>(doLENGTH);
    node->AddChild(ExpectArgument(30085, "LENGTH"));
    ExpectRParen(30084);
    return node;
  }
  if (IsKw(rwEXTRACT)) {
    Advance();
    ExpectLParen(20277);
    static constexpr std::string_view kFields = "YEAR, MONTH, DAY, HOUR, MINUTE or SECOND";
    if (FTok.TokenType != tktReservedWord) RaiseTokenExpected(20278, kFields);
    TORBDateTimeExtractField field;
    switch (FTok.ReservedWord) {
      case rwYEAR: field = dtefYear; break;
      case rwMONTH: field = dtefMonth; break;
      case rwDAY: field = dtefDay; break;
      case rwHOUR: field = dtefHour; break;
      case rwMINUTE: field = dtefMinute; break;
      case rwSECOND: field = dtefSecond; break;
      default: RaiseTokenExpected(20279, kFields);
    }
    Advance();
    if (!IsKw(rwFROM)) RaiseTokenExpected(20280, "FROM");
    Advance();
    auto node = MakeNode<TORBExprNodeDateFunction>(doEXTRACT);
    node->ExtractDateTimeField = field;
    node->AddChild(ExpectArgument(20281, "EXTRACT"));
    ExpectRParen(20282);
    return node;
  }
  if (IsKw(rwLAST_AUTOINC)) {
    Advance();
    ExpectLParen(30086);
    if (!IsNameToken()) RaiseTokenExpected(30086, "table name");
    Advance();
    if (IsKw(rwMEMORY)) Advance();
    if (!IsComma()) RaiseTokenExpected(30334, ",");
    Advance();
    if (!IsNameToken()) RaiseTokenExpected(30334, "column name");
    Advance();
    ExpectRParen(30089);
    RaiseORB(kErrTableFunctionUnavailable, "Function '%s' needs a database table, which is not available here",
             FormatArgs{"LASTAUTOINC"});
  }
  if (IsKw(rwROWNUM)) {
    Advance();
    return MakeNode<TORBExprNodeSystem>(doROWNUM);
  }
  if (IsKw(rwPOWER)) {
    Advance();
    ExpectLParen(20264);
    auto node = MakeNode<TORBExprNodeArithmetic>(doPOWER);
    node->AddChild(ExpectArgument(20265, "POWER"));
    if (!IsComma()) {
      if (AtEnd()) RaiseEnd(kErrEndOfCommand);
      RaiseORB(20267, "comma (\",\") expected but not found at line %d, column %d",
               FormatArgs{FTok.LineNum, FTok.ColumnNum});
    }
    Advance();
    node->AddChild(ExpectArgument(20268, "POWER"));
    ExpectRParen(20266);
    return node;
  }
  if (IsKw(rwROUND)) {
    Advance();
    ExpectLParen(30502);
    auto node = MakeNode<TORBExprNodeArithmetic>(doROUND);
    node->AddChild(ExpectArgument(30503, "ROUND"));
    if (IsComma()) {
      Advance();
      node->AddChild(ExpectArgument(30504, "ROUND"));
      if (IsComma()) {
        Advance();
        if (FTok.TokenType != tktReservedWord && FTok.TokenType != tktString) {
          RaiseTokenExpected(30505, "HALFEVEN, HALFPOS, HALFNEG, HALFDOWN, HALFUP, RNDNEG, RNDPOS, RNDDOWN or RNDUP");
        }
        switch (FTok.ReservedWord) {
          case rwHALFEVEN: node->RoundingMode = drHalfEven; break;
          case rwHALFPOS: node->RoundingMode = drHalfPos; break;
          case rwHALFNEG: node->RoundingMode = drHalfNeg; break;
          case rwHALFDOWN: node->RoundingMode = drHalfDown; break;
          case rwHALFUP: node->RoundingMode = drHalfUp; break;
          case rwRNDNEG: node->RoundingMode = drRndNeg; break;
          case rwRNDPOS: node->RoundingMode = drRndPos; break;
          case rwRNDDOWN: node->RoundingMode = drRndDown; break;
          case rwRNDUP: node->RoundingMode = drRndUp; break;
          default: node->RoundingMode = drNone; break;
        }
        Advance();
      }
    }
    ExpectRParen(30506);
    return node;
  }
  TORBDataOperator op;
  switch (FTok.TokenType == tktReservedWord ? FTok.ReservedWord : rwNone) {
    case rwABS: op = doABS; break;
    case rwACOS: op = doACOS; break;
    case rwASIN: op = doASIN; break;
    case rwATAN: op = doATAN; break;
    case rwCEIL: op = doCEIL; break;
    case rwCOS: op = doCOS; break;
    case rwEXP: op = doEXP; break;
    case rwFLOOR: op = doFLOOR; break;
    case rwLOG: op = doLOG; break;
    case rwRAND: op = doRAND; break;
    case rwSIGN: op = doSIGN; break;
    case rwSIN: op = doSIN; break;
    case rwSQR: op = doSQR; break;
    case rwSQRT: op = doSQRT; break;
    default: return nullptr;
  }
  const std::string name(GetOperatorName(op));
  Advance();
  ExpectLParen(20261);
  auto node = MakeNode<TORBExprNodeArithmetic>(op);
  node->AddChild(ExpectArgument(20262, name));
  ExpectRParen(20263);
  return node;
}

NodePtr TORBExprParser::MimeToBin() {
  Advance();
  ExpectLParen(30479);
  if (FTok.TokenType != tktQuotedString) {
    if (AtEnd()) RaiseEnd(kErrEndOfCommand);
    RaiseORB(30480, "String argument expected for function '%s', but '%s' found at line %d, column %d",
             FormatArgs{"MIMETOBIN", FTok.Text, FTok.LineNum, FTok.ColumnNum});
  }
  auto node = std::make_unique<TORBExprNodeBlob>(FTok.Text);
  Advance();
  ExpectRParen(30481);
  return node;
}

}  // namespace orb
