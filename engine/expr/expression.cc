#include "engine/expr/expression.h"

#include "engine/base/orb_exception.h"
#include "engine/expr/expression_parser.h"
#include "engine/expr/sql_names.h"

namespace orb {

TORBExpression::TORBExpression() = default;

TORBExpression::TORBExpression(std::unique_ptr<TORBExprNode> root) : FRootExprNode(std::move(root)) {}

TORBExpression::~TORBExpression() = default;

void TORBExpression::Clear() { FRootExprNode.reset(); }

void TORBExpression::SetRoot(std::unique_ptr<TORBExprNode> root) {
  FRootExprNode = std::move(root);
  if (FRootExprNode) FRootExprNode->SetCaseInsensitive(FCaseInsensitive);
}

void TORBExpression::MoveAndNodesToRoot() {
  if (!FRootExprNode || FRootExprNode->Operator != doAND ||
      dynamic_cast<TORBExprNodeBoolean*>(FRootExprNode.get()) == nullptr) {
    return;
  }
  std::vector<std::unique_ptr<TORBExprNode>> flat;
  std::vector<std::unique_ptr<TORBExprNode>> pending = std::move(FRootExprNode->Children);
  FRootExprNode->Children.clear();
  // Depth-first, keeping the order of the conditions.
  while (!pending.empty()) {
    std::unique_ptr<TORBExprNode> n = std::move(pending.front());
    pending.erase(pending.begin());
    if (n->Operator == doAND && dynamic_cast<TORBExprNodeBoolean*>(n.get()) != nullptr) {
      auto children = std::move(n->Children);
      pending.insert(pending.begin(), std::make_move_iterator(children.begin()),
                     std::make_move_iterator(children.end()));
    } else {
      flat.push_back(std::move(n));
    }
  }
  FRootExprNode->Children = std::move(flat);
}

void TORBExpression::ParseForFilter(TORBFieldResolver* resolver, std::u16string_view filter,
                                    bool case_insensitive, bool partial_key) {
  Clear();
  FCaseInsensitive = case_insensitive;
  FPartialKey = partial_key;
  TORBLexer lexer(filter, nullptr, true);
  if (!lexer.GetNextCommand()) RaiseORB(kErrBlankCommand, "Blank SQL command");
  TORBExprParser parser(lexer, {case_insensitive, partial_key});
  std::unique_ptr<TORBExprNode> root = parser.SearchCondition();
  if (!root) parser.RaiseBooleanExpected(30066);
  if (!parser.AtEnd()) parser.RaiseUnexpectedToken();
  SetRoot(std::move(root));
  MoveAndNodesToRoot();
  AssignResolver(resolver);
  FRootExprNode->PatchWideStrings();
}

namespace {

std::unique_ptr<TORBExprNode> FieldComparison(std::u16string field_name, TORBDataOperator op,
                                              const TORBVariant& value, bool partial_key) {
  auto node = std::make_unique<TORBExprNodeComparison>(op, false);
  node->FPartialKey = partial_key && value.IsStringDataType();
  node->AddChild(std::make_unique<TORBExprNodeField>(std::u16string(), std::move(field_name)));
  node->AddChild(std::make_unique<TORBExprNodeConst>(value));
  return node;
}

}  // namespace

void TORBExpression::ParseForLocate(TORBFieldResolver* resolver, std::u16string_view field_names,
                                    const std::vector<TORBVariant>& key_values, bool case_insensitive,
                                    bool partial_key) {
  Clear();
  FCaseInsensitive = case_insensitive;
  FPartialKey = partial_key;
  std::vector<std::u16string> names;
  size_t begin = 0;
  while (begin <= field_names.size()) {
    size_t end = field_names.find(u';', begin);
    if (end == std::u16string_view::npos) end = field_names.size();
    names.emplace_back(field_names.substr(begin, end - begin));
    begin = end + 1;
  }
  if (names.size() != key_values.size()) {
    RaiseORB(30112, "Count of FieldNames (%d) does not equal counts of KeyValues (%d)",
             FormatArgs{static_cast<int>(names.size()), static_cast<int>(key_values.size())});
  }
  if (names.size() == 1) {
    SetRoot(FieldComparison(names[0], doEQ, key_values[0], partial_key));
  } else {
    auto root = std::make_unique<TORBExprNodeBoolean>(doAND);
    for (size_t i = 0; i < names.size(); ++i) {
      root->AddChild(FieldComparison(names[i], doEQ, key_values[i], partial_key));
    }
    SetRoot(std::move(root));
  }
  AssignResolver(resolver);
}

void TORBExpression::ParseForIsAnyRecordMatchCondition(TORBFieldResolver* resolver,
                                                       std::u16string_view field_name, TORBDataOperator op,
                                                       const TORBVariant& value) {
  Clear();
  SetRoot(FieldComparison(std::u16string(field_name), op, value, false));
  AssignResolver(resolver);
}

void TORBExpression::ParseForBooleanExpression(TORBLexer& lexer) {
  Clear();
  TORBExprParser parser(lexer, {FCaseInsensitive, FPartialKey});
  if (parser.AtEnd()) parser.RaiseEnd(30118);
  std::unique_ptr<TORBExprNode> root = parser.SearchCondition();
  if (!root) parser.RaiseBooleanExpected(30066);
  SetRoot(std::move(root));
  MoveAndNodesToRoot();
}

void TORBExpression::ParseForValueExpression(TORBLexer& lexer) {
  Clear();
  TORBExprParser parser(lexer, {FCaseInsensitive, FPartialKey});
  if (parser.AtEnd()) parser.RaiseEnd(30136);
  std::unique_ptr<TORBExprNode> root = parser.ValueExpression();
  if (!root) parser.RaiseUnexpectedToken();
  SetRoot(std::move(root));
}

bool TORBExpression::ParseForDefaultValueExpression(std::u16string_view default_value) {
  Clear();
  try {
    TORBLexer lexer(default_value, nullptr, true);
    if (lexer.NumCommands() != 1 || !lexer.GetNextCommand()) return false;
    TORBExprParser parser(lexer, {FCaseInsensitive, FPartialKey});
    std::unique_ptr<TORBExprNode> root = parser.ValueExpression();
    if (!root || !parser.AtEnd()) return false;
    SetRoot(std::move(root));
    return true;
  } catch (const std::exception&) {
    Clear();
    return false;
  }
}

void TORBExpression::ParseForCondition(std::u16string_view text) {
  Clear();
  TORBLexer lexer(text, nullptr, true);
  if (!lexer.GetNextCommand()) RaiseORB(kErrBlankCommand, "Blank SQL command");
  TORBExprParser parser(lexer, {FCaseInsensitive, FPartialKey});
  std::unique_ptr<TORBExprNode> root = parser.SearchCondition();
  if (!root) parser.RaiseBooleanExpected(30066);
  if (!parser.AtEnd()) parser.RaiseUnexpectedToken();
  if (lexer.NumCommands() > 1) {
    const TToken& extra = lexer.Command(1).Tokens.front();
    RaiseORB(kErrUnexpectedToken, "Unexpected token '%s' found at line %d, column %d",
             FormatArgs{extra.Text, extra.LineNum, extra.ColumnNum});
  }
  SetRoot(std::move(root));
}

TORBVariant& TORBExpression::GetValue() {
  if (!FRootExprNode) RaiseORB(30110, "Value is Null");
  return FRootExprNode->GetDataValue();
}

bool TORBExpression::GetResult() { return LogicalOf(GetValue()).value_or(false); }

bool TORBExpression::ConditionHolds() { return LogicalOf(GetValue()).value_or(true); }

void TORBExpression::AssignResolver(TORBFieldResolver* resolver) {
  if (FRootExprNode) FRootExprNode->AssignResolver(resolver);
}

void TORBExpression::Init() {
  if (FRootExprNode) FRootExprNode->Init();
}

void TORBExpression::Accumulate() {
  if (FRootExprNode) FRootExprNode->Accumulate();
}

void TORBExpression::SetCountAll(int32_t count) {
  if (FRootExprNode) FRootExprNode->SetCountAll(count);
}

bool TORBExpression::IsAggregated() const { return FRootExprNode && FRootExprNode->IsAggregated(); }

bool TORBExpression::IsAggregatedCountAll() const {
  return FRootExprNode && FRootExprNode->IsAggregatedCountAll();
}

TORBAdvancedFieldType TORBExpression::GetDataType() {
  if (!FRootExprNode) RaiseORB(kErrCannotDetermineType, "Cannot determine expression type");
  return FRootExprNode->GetDataType();
}

int32_t TORBExpression::GetDataSize() { return FRootExprNode ? FRootExprNode->GetDataSize() : 0; }

int32_t TORBExpression::GetPrecision() { return FRootExprNode ? FRootExprNode->GetPrecision() : 0; }

void TORBExpression::GetFieldInfo(std::u16string& table_name, std::u16string& field_name) const {
  auto* field = dynamic_cast<TORBExprNodeField*>(FRootExprNode.get());
  if (field == nullptr) RaiseORB(30198, "Node is not a field");
  table_name = field->TableName();
  field_name = field->FieldName();
}

bool IsNonConstantExpression(const TORBVariant& value) {
  if (value.IsNull() || !value.IsStringDataType()) return false;
  const std::u16string text = value.AsWideString();
  TORBExpression expression;
  if (!expression.ParseForDefaultValueExpression(text)) return false;
  if (expression.RefersToFields()) return false;
  try {
    return expression.GetValue().AsWideString() != text;
  } catch (const std::exception&) {
    return false;
  }
}

TORBAdvancedFieldType GetFieldType(std::u16string_view name) {
  const std::u16string upper = SqlNameUpper(name);
  for (const TORBSQLFieldType& row : SQLFieldTypes) {
    if (row.SqlName == upper) return row.AdvancedFieldType;
  }
  return aftUnknown;
}

}  // namespace orb
