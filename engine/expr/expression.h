#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/expr/expression_nodes.h"
#include "engine/expr/field_resolver.h"
#include "engine/expr/lexer.h"

namespace orb {

// Codes of the entry points.
inline constexpr int32_t kErrBlankCommand = 30119;
inline constexpr int32_t kErrUnexpectedToken = 30064;

// A parsed expression: filters and Locate, field default values, check
// conditions and the expressions of SQL statements. Owns its tree.
class TORBExpression {
 public:
  TORBExpression();
  explicit TORBExpression(std::unique_ptr<TORBExprNode> root);
  ~TORBExpression();
  TORBExpression(const TORBExpression&) = delete;
  TORBExpression& operator=(const TORBExpression&) = delete;

  // Frees the tree.
  void Clear();

  // A filter over `resolver`: lexes `filter` without binding parameters,
  // parses one search condition and binds it. A blank filter raises 30119;
  // text after the condition raises 30064.
  void ParseForFilter(TORBFieldResolver* resolver, std::u16string_view filter, bool case_insensitive,
                      bool partial_key);
  // Locate: `field = key` for each of the ';'-separated field names, joined
  // by AND when there are several, bound to `resolver`. Nulls compare as
  // values (a null key matches only null fields). A count mismatch raises
  // 30112.
  void ParseForLocate(TORBFieldResolver* resolver, std::u16string_view field_names,
                      const std::vector<TORBVariant>& key_values, bool case_insensitive, bool partial_key);
  // `field op value`, nulls comparing as values.
  void ParseForIsAnyRecordMatchCondition(TORBFieldResolver* resolver, std::u16string_view field_name,
                                         TORBDataOperator op, const TORBVariant& value);
  // A search condition from the lexer's current token (the lexer stays
  // after it). No token raises 30118, no condition 30066.
  void ParseForBooleanExpression(TORBLexer& lexer);
  // A value expression from the lexer's current token.
  void ParseForValueExpression(TORBLexer& lexer);
  // A default value: true when the text is exactly one value expression;
  // never raises.
  bool ParseForDefaultValueExpression(std::u16string_view default_value);
  // A whole text as one search condition (check conditions, stand-alone
  // evaluation); a value expression is a condition too. Raises on errors.
  void ParseForCondition(std::u16string_view text);

  // Evaluates the root: its value (null included).
  TORBVariant& GetValue();
  // The root's logical value, null as false. No tree raises 30110.
  bool GetResult();
  // Check-condition rule: true unless the root is false.
  bool ConditionHolds();

  void AssignResolver(TORBFieldResolver* resolver);
  void Init();
  void Accumulate();
  void SetCountAll(int32_t count);
  bool IsAggregated() const;
  bool IsAggregatedCountAll() const;
  TORBAdvancedFieldType GetDataType();
  int32_t GetDataSize();
  int32_t GetPrecision();

  bool IsEmpty() const { return FRootExprNode == nullptr; }
  bool IsField() const { return FRootExprNode != nullptr && FRootExprNode->IsField(); }
  // True when the tree reads some field.
  bool RefersToFields() const { return FRootExprNode != nullptr && FRootExprNode->RefersToFields(); }
  // Table and field name of a root field; raises 30198 otherwise.
  void GetFieldInfo(std::u16string& table_name, std::u16string& field_name) const;
  TORBExprNode* Root() const { return FRootExprNode.get(); }

 private:
  void SetRoot(std::unique_ptr<TORBExprNode> root);
  // Merges the top-level AND nodes into one AND root.
  void MoveAndNodesToRoot();

  std::unique_ptr<TORBExprNode> FRootExprNode;
  bool FCaseInsensitive = false;
  bool FPartialKey = false;
};

// True when a non-null string value parses as a value expression that
// reads no field and whose result, as text, differs from the text itself
// (a default such as NOW).
bool IsNonConstantExpression(const TORBVariant& value);

// User type of an SQL type name (any case), aftUnknown when none.
TORBAdvancedFieldType GetFieldType(std::u16string_view name);

}  // namespace orb
