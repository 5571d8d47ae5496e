#pragma once

// Nodes of a parsed expression tree. A node owns its children and its
// value; GetDataValue refreshes the value from the children (or from the
// current row) and returns it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/expr/data_operator.h"
#include "engine/expr/date_format.h"
#include "engine/expr/field_resolver.h"
#include "engine/base/decimal_round.h"
#include "engine/base/variant.h"

namespace orb {

// Codes of errors raised while evaluating or typing nodes.
inline constexpr int32_t kErrCannotDetermineType = 30283;
inline constexpr int32_t kErrFieldNotFound = 30115;
inline constexpr int32_t kErrNotBound = 30196;
inline constexpr int32_t kErrUnsupportedDataType = 30466;

class TORBExprNode {
 public:
  explicit TORBExprNode(TORBDataOperator op = doUNDEFINED) : Operator(op) {}
  // Frees the subtree without recursing, so a tree of any depth is freed
  // within a fixed stack.
  virtual ~TORBExprNode();
  TORBExprNode(const TORBExprNode&) = delete;
  TORBExprNode& operator=(const TORBExprNode&) = delete;

  TORBExprNode* AddChild(std::unique_ptr<TORBExprNode> child);
  TORBExprNode* Child(size_t i) const { return Children.at(i).get(); }
  size_t ChildCount() const { return Children.size(); }

  // In comparisons of byte-string fields with UTF-16 constants, turns the
  // constants into byte strings.
  virtual void PatchWideStrings();
  virtual TORBVariant& GetDataValue() = 0;
  virtual bool IsAggregated() const;
  virtual bool IsAggregatedCountAll() const;
  // Group boundaries for aggregates: Init starts a group, Accumulate adds
  // the current row.
  virtual void Init();
  virtual void Accumulate();
  virtual void SetCountAll(int32_t count);
  // Binds every field reference below this node.
  virtual void AssignResolver(TORBFieldResolver* resolver);
  virtual TORBAdvancedFieldType GetDataType();
  virtual int32_t GetDataSize();
  virtual int32_t GetPrecision();
  virtual bool CanBeAssigned() const;
  virtual bool IsField() const { return false; }
  virtual bool IsConst() const { return false; }
  // True when this node or one below it reads a field.
  bool RefersToFields() const;
  // Sets the case rule for this node and every node below it.
  void SetCaseInsensitive(bool value);

  std::vector<std::unique_ptr<TORBExprNode>> Children;
  TORBDataOperator Operator;
  TORBVariant Value;
  bool FCaseInsensitive = false;
  bool FPartialKey = false;
};

class TORBExprNodeConst : public TORBExprNode {
 public:
  explicit TORBExprNodeConst(const TORBVariant& value);
  TORBVariant& GetDataValue() override { return Value; }
  TORBAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;
  bool IsConst() const override { return true; }
};

class TORBExprNodeField : public TORBExprNode {
 public:
  TORBExprNodeField(std::u16string table_name, std::u16string field_name);
  TORBVariant& GetDataValue() override;
  // Looks the field up; raises 30115 when the resolver has no such field.
  void AssignResolver(TORBFieldResolver* resolver) override;
  TORBAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;
  int32_t GetPrecision() override;
  bool IsField() const override { return true; }

  const std::u16string& TableName() const { return FTableName; }
  const std::u16string& FieldName() const { return FFieldName; }
  bool IsBound() const { return LResolver != nullptr; }
  TORBBaseFieldType BaseFieldType() const { return FField.BaseFieldType; }

 private:
  void CheckBound() const;

  TORBFieldResolver* LResolver = nullptr;
  std::u16string FTableName;
  std::u16string FFieldName;
  TORBFieldInfo FField;
};

// Logical operators and predicates other than comparisons.
class TORBExprNodeBoolean : public TORBExprNode {
 public:
  explicit TORBExprNodeBoolean(TORBDataOperator op) : TORBExprNode(op) {}
  TORBVariant& GetDataValue() override;
  TORBAdvancedFieldType GetDataType() override { return aftBoolean; }

  // LIKE: the escape character, empty when none.
  std::u16string EscapeStr;

 private:
  std::optional<bool> Like();
  TORBVariant TempVal;
};

class TORBExprNodeComparison : public TORBExprNode {
 public:
  TORBExprNodeComparison(TORBDataOperator op, bool three_value_logic)
      : TORBExprNode(op), F3ValueLogic(three_value_logic) {}
  TORBVariant& GetDataValue() override;
  TORBAdvancedFieldType GetDataType() override { return aftBoolean; }
  void PatchWideStrings() override;

  bool F3ValueLogic;
  TORBQuantifier FQuantifier = qUNDEFINED;
};

// Arithmetic and the numeric functions.
class TORBExprNodeArithmetic : public TORBExprNode {
 public:
  explicit TORBExprNodeArithmetic(TORBDataOperator op) : TORBExprNode(op) {}
  TORBVariant& GetDataValue() override;
  TORBAdvancedFieldType GetDataType() override;
  bool IsUnaryMinus() const { return Operator == doSUB && Children.size() == 1; }

  // ROUND with a mode word: the mode.
  tDecimalRoundingCtrl RoundingMode = drHalfEven;

 private:
  void EvaluateFunction();
};

class TORBExprNodeStringFunction : public TORBExprNode {
 public:
  explicit TORBExprNodeStringFunction(TORBDataOperator op) : TORBExprNode(op) {}
  TORBVariant& GetDataValue() override;
  TORBAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;
};

class TORBExprNodeDateFunction : public TORBExprNode {
 public:
  explicit TORBExprNodeDateFunction(TORBDataOperator op) : TORBExprNode(op) {}
  TORBVariant& GetDataValue() override;
  TORBAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;

  std::unique_ptr<TDateFormater> DateFormater;
  TORBDateTimeExtractField ExtractDateTimeField = dtefYear;
};

class TORBExprNodeCast : public TORBExprNode {
 public:
  // Child 0 is the value, child 1 (optional) the size expression.
  explicit TORBExprNodeCast(TORBAdvancedFieldType cast_type) : TORBExprNode(doCAST), FCastType(cast_type) {}
  TORBVariant& GetDataValue() override;
  TORBAdvancedFieldType GetDataType() override { return FCastType; }
  int32_t GetDataSize() override;

  TORBAdvancedFieldType FCastType;
  bool HasSize() const { return Children.size() > 1; }
};

// CASE (searched or simple) and COALESCE. The parts are also children, so
// the generic walks reach them.
class TORBExprNodeCase : public TORBExprNode {
 public:
  TORBExprNodeCase() : TORBExprNode(doUNDEFINED) {}
  TORBVariant& GetDataValue() override;
  TORBAdvancedFieldType GetDataType() override;
  int32_t GetDataSize() override;

  std::vector<TORBExprNode*> FWhenExpressions;
  std::vector<TORBExprNode*> FResultExpressions;
  TORBExprNode* FElseResultExpression = nullptr;
  TORBExprNode* FInputExpression = nullptr;
  std::vector<TORBExprNode*> FCoalesceNodes;
  bool FIsCoalesceExpression = false;

 private:
  std::vector<TORBExprNode*> Results();
};

class TORBExprNodeAggregated : public TORBExprNode {
 public:
  TORBExprNodeAggregated(TORBDataOperator op, bool is_distinct) : TORBExprNode(op), distinct(is_distinct) {}
  TORBVariant& GetDataValue() override;
  bool IsAggregated() const override { return true; }
  bool IsAggregatedCountAll() const override { return Operator == doCOUNTALL; }
  void Init() override;
  void Accumulate() override;
  void SetCountAll(int32_t n) override;
  // Aggregates read no field outside a group; children bind as usual.
  TORBAdvancedFieldType GetDataType() override;
  bool CanBeAssigned() const override { return true; }

  int32_t count = 0;
  bool distinct;
  TORBVariant AvgSum;
};

class TORBExprNodeSystem : public TORBExprNode {
 public:
  explicit TORBExprNodeSystem(TORBDataOperator op) : TORBExprNode(op) {}
  TORBVariant& GetDataValue() override;
  TORBAdvancedFieldType GetDataType() override { return aftInteger; }

  int32_t FRowNumValue = 0;
};

class TORBExprNodeBlob : public TORBExprNode {
 public:
  explicit TORBExprNodeBlob(std::u16string text) : TORBExprNode(doMIMETOBIN), FText(std::move(text)) {}
  TORBVariant& GetDataValue() override;
  TORBAdvancedFieldType GetDataType() override { return aftBlob; }

 private:
  std::u16string FText;
};

// Decodes MIME base64 text; characters outside the alphabet are skipped.
// False for a truncated group.
bool DecodeBase64(std::u16string_view text, std::string& bytes);

// Helpers shared by the node implementations.
void SetLogicalResult(TORBVariant& value, std::optional<bool> result);
// The logical reading of a value: nullopt for null.
std::optional<bool> LogicalOf(const TORBVariant& value);

}  // namespace orb
