#include "engine/expr/expression_nodes.h"

#include "engine/base/orb_exception.h"
#include "engine/platform/codepage.h"
#include "engine/base/like_match.h"
#include "engine/base/variant_convert.h"

namespace orb {

void SetLogicalResult(TORBVariant& value, std::optional<bool> result) {
  value.Clear(bftLogical);
  if (result.has_value()) value.SetAsBoolean(*result);
}

std::optional<bool> LogicalOf(const TORBVariant& value) {
  if (value.IsNull()) return std::nullopt;
  return value.AsBoolean();
}

// ---------------------------------------------------------------------------
// Base

TORBExprNode::~TORBExprNode() {
  if (Children.empty()) return;
  // Each node taken from the list gives up its children first, so its own
  // destructor finds none.
  std::vector<std::unique_ptr<TORBExprNode>> pending = std::move(Children);
  while (!pending.empty()) {
    std::unique_ptr<TORBExprNode> node = std::move(pending.back());
    pending.pop_back();
    if (!node) continue;  // a child moved out earlier
    for (auto& child : node->Children) pending.push_back(std::move(child));
    node->Children.clear();
  }
}

TORBExprNode* TORBExprNode::AddChild(std::unique_ptr<TORBExprNode> child) {
  Children.push_back(std::move(child));
  return Children.back().get();
}

void TORBExprNode::PatchWideStrings() {
  for (auto& c : Children) c->PatchWideStrings();
}

bool TORBExprNode::IsAggregated() const {
  for (const auto& c : Children) {
    if (c->IsAggregated()) return true;
  }
  return false;
}

bool TORBExprNode::IsAggregatedCountAll() const {
  for (const auto& c : Children) {
    if (c->IsAggregatedCountAll()) return true;
  }
  return false;
}

void TORBExprNode::Init() {
  for (auto& c : Children) c->Init();
}

void TORBExprNode::Accumulate() {
  for (auto& c : Children) c->Accumulate();
}

void TORBExprNode::SetCountAll(int32_t count) {
  for (auto& c : Children) c->SetCountAll(count);
}

void TORBExprNode::AssignResolver(TORBFieldResolver* resolver) {
  for (auto& c : Children) c->AssignResolver(resolver);
}

TORBAdvancedFieldType TORBExprNode::GetDataType() {
  // Children without a type of their own (NULL) take no part.
  TORBAdvancedFieldType result = aftUnknown;
  bool any = false;
  for (auto& c : Children) {
    const TORBAdvancedFieldType t = c->GetDataType();
    if (t == aftUnknown) continue;
    result = any ? GetCommonDataType(result, t, false) : t;
    any = true;
    if (result == aftUnknown) break;
  }
  if (result == aftUnknown) RaiseORB(kErrCannotDetermineType, "Cannot determine expression type");
  return result;
}

int32_t TORBExprNode::GetDataSize() {
  if (!IsStringFieldType(GetDataType())) return 0;
  int32_t size = 0;
  for (auto& c : Children) size += c->GetDataSize();
  return size;
}

int32_t TORBExprNode::GetPrecision() { return 0; }

bool TORBExprNode::CanBeAssigned() const {
  for (const auto& c : Children) {
    if (!c->CanBeAssigned()) return false;
  }
  return true;
}

bool TORBExprNode::RefersToFields() const {
  if (IsField()) return true;
  for (const auto& c : Children) {
    if (c->RefersToFields()) return true;
  }
  return false;
}

void TORBExprNode::SetCaseInsensitive(bool value) {
  FCaseInsensitive = value;
  for (auto& c : Children) c->SetCaseInsensitive(value);
}

// ---------------------------------------------------------------------------
// Constant

TORBExprNodeConst::TORBExprNodeConst(const TORBVariant& value) { Value.Assign(value, true); }

TORBAdvancedFieldType TORBExprNodeConst::GetDataType() {
  return BaseFieldTypeToAdvancedFieldType(Value.DataType());
}

int32_t TORBExprNodeConst::GetDataSize() {
  return Value.IsStringDataType() && !Value.IsNull() ? Value.StrLen() : 0;
}

// ---------------------------------------------------------------------------
// Field

TORBExprNodeField::TORBExprNodeField(std::u16string table_name, std::u16string field_name)
    : FTableName(std::move(table_name)), FFieldName(std::move(field_name)) {}

void TORBExprNodeField::AssignResolver(TORBFieldResolver* resolver) {
  LResolver = nullptr;
  if (resolver == nullptr) return;
  TORBFieldInfo info;
  if (!resolver->FindField(FTableName, FFieldName, info)) {
    const std::u16string name = FTableName.empty() ? FFieldName : FTableName + u"." + FFieldName;
    RaiseORB(kErrFieldNotFound, "Field '%s' not found", FormatArgs{name});
  }
  FField = info;
  LResolver = resolver;
}

void TORBExprNodeField::CheckBound() const {
  if (LResolver == nullptr) RaiseORB(kErrNotBound, "Dataset and AO not assigned");
}

TORBVariant& TORBExprNodeField::GetDataValue() {
  CheckBound();
  LResolver->ReadFieldValue(FField, Value);
  return Value;
}

TORBAdvancedFieldType TORBExprNodeField::GetDataType() {
  CheckBound();
  return FField.FieldType;
}

int32_t TORBExprNodeField::GetDataSize() {
  CheckBound();
  return FField.FieldSize;
}

int32_t TORBExprNodeField::GetPrecision() {
  CheckBound();
  return FField.Precision;
}

// ---------------------------------------------------------------------------
// Logical operators and predicates

std::optional<bool> TORBExprNodeBoolean::Like() {
  const TORBVariant& text = Child(0)->GetDataValue();
  const TORBVariant& pattern = Child(1)->GetDataValue();
  if (pattern.IsNull()) return std::nullopt;
  if (!text.IsNull() && !text.IsStringDataType()) {
    RaiseORB(30120, "Non-string argument in function '%s'", FormatArgs{"LIKE"});
  }
  const bool use_escape = !EscapeStr.empty();
  const char16_t escape = use_escape ? EscapeStr[0] : u'\0';
  bool match;
  if (text.IsWideStringDataType() || pattern.IsWideStringDataType()) {
    match = IsWideStrMatchPattern(text.AsWideString(), pattern.AsWideString(), use_escape, escape,
                                  FCaseInsensitive);
  } else {
    match = IsStrMatchPattern(text.AsAnsiString(), pattern.AsAnsiString(), use_escape,
                              static_cast<char>(WideCharToAnsi(escape)), FCaseInsensitive);
  }
  return Operator == doNOTLIKE ? !match : match;
}

TORBVariant& TORBExprNodeBoolean::GetDataValue() {
  std::optional<bool> result;
  switch (Operator) {
    case doAND:
      result = true;
      for (auto& c : Children) {
        const std::optional<bool> v = LogicalOf(c->GetDataValue());
        if (!v.has_value()) {
          result.reset();
        } else if (!*v) {
          result = false;
          break;
        }
      }
      break;
    case doOR:
      result = false;
      for (auto& c : Children) {
        const std::optional<bool> v = LogicalOf(c->GetDataValue());
        if (!v.has_value()) {
          result.reset();
        } else if (*v) {
          result = true;
          break;
        }
      }
      break;
    case doNOT: {
      const std::optional<bool> v = LogicalOf(Child(0)->GetDataValue());
      if (v.has_value()) result = !*v;
      break;
    }
    case doISNULL:
      result = Child(0)->GetDataValue().IsNull();
      break;
    case doISNOTNULL:
      result = !Child(0)->GetDataValue().IsNull();
      break;
    case doBETWEEN:
    case doNOTBETWEEN: {
      TempVal.Assign(Child(0)->GetDataValue(), true);
      const TORBVariant& low = Child(1)->GetDataValue();
      const TORBVariant& high = Child(2)->GetDataValue();
      if (TempVal.IsNull() || low.IsNull() || high.IsNull()) break;
      const TORBCompareResult lo = TempVal.Compare(low, true, true, false);
      const TORBCompareResult hi = TempVal.Compare(high, true, true, false);
      const bool inside = (lo == cmprEqual || lo == cmprGreater) && (hi == cmprEqual || hi == cmprLower);
      result = Operator == doBETWEEN ? inside : !inside;
      break;
    }
    case doIN:
    case doNOTIN: {
      TempVal.Assign(Child(0)->GetDataValue(), true);
      if (TempVal.IsNull()) break;
      bool found = false;
      for (size_t i = 1; i < Children.size() && !found; ++i) {
        found = TempVal.Compare(Child(i)->GetDataValue(), true, true, false) == cmprEqual;
      }
      result = Operator == doIN ? found : !found;
      break;
    }
    case doLIKE:
    case doNOTLIKE:
      result = Like();
      break;
    case doEXISTS:
      RaiseORB(kErrSubqueryUnavailable, "Subqueries are not available in this context");
    default:
      RaiseORB(30116, "Unknown operator: '%s'", FormatArgs{GetOperatorName(Operator)});
  }
  SetLogicalResult(Value, result);
  return Value;
}

// ---------------------------------------------------------------------------
// Comparison

TORBVariant& TORBExprNodeComparison::GetDataValue() {
  const TORBVariant& left = Child(0)->GetDataValue();
  const TORBVariant& right = Child(1)->GetDataValue();
  // The empty prefix (a lone '*' in a filter) matches every value, null
  // included.
  const bool any_value = FPartialKey && right.StrLen() == 0;
  const TORBCompareResult c =
      any_value ? cmprEqual : left.Compare(right, F3ValueLogic, FCaseInsensitive, FPartialKey);
  bool result;
  switch (Operator) {
    case doEQ: result = c == cmprEqual; break;
    case doNE: result = F3ValueLogic ? (c == cmprLower || c == cmprGreater) : c != cmprEqual; break;
    case doGT: result = c == cmprGreater; break;
    case doLT: result = c == cmprLower; break;
    case doGE: result = c == cmprEqual || c == cmprGreater; break;
    case doLE: result = c == cmprEqual || c == cmprLower; break;
    default:
      RaiseORB(30117, "Unknown operator: '%s'", FormatArgs{GetOperatorName(Operator)});
  }
  SetLogicalResult(Value, result);
  return Value;
}

void TORBExprNodeComparison::PatchWideStrings() {
  TORBExprNode::PatchWideStrings();
  if (Children.size() != 2) return;
  for (int side = 0; side < 2; ++side) {
    auto* field = dynamic_cast<TORBExprNodeField*>(Child(static_cast<size_t>(side)));
    TORBExprNode* other = Child(static_cast<size_t>(1 - side));
    if (field == nullptr || !field->IsBound() || !other->IsConst()) continue;
    const TORBBaseFieldType t = field->BaseFieldType();
    const bool byte_string = t == bftChar || t == bftVarchar || t == bftClob;
    if (byte_string && other->Value.IsWideStringDataType()) other->Value.Cast(bftVarchar);
  }
}

// ---------------------------------------------------------------------------
// CAST

TORBVariant& TORBExprNodeCast::GetDataValue() {
  const TORBBaseFieldType target = AdvancedFieldTypeToBaseFieldType(FCastType);
  const TORBVariant& source = Child(0)->GetDataValue();
  if (source.IsNull()) {
    Value.Clear(target);
    return Value;
  }
  Value.Assign(source, true);
  Value.Cast(target);
  if (HasSize() && Value.IsStringDataType()) {
    const TORBVariant& size_value = Child(1)->GetDataValue();
    if (!size_value.IsNull()) {
      const int32_t size = std::max(size_value.AsInteger(), 0);
      if (Value.StrLen() > size) {
        if (Value.IsWideStringDataType()) {
          const std::u16string text = Value.AsWideString().substr(0, static_cast<size_t>(size));
          Value.Clear(target);
          Value.SetAsWideString(text);
        } else {
          const std::string text = Value.AsAnsiString().substr(0, static_cast<size_t>(size));
          Value.Clear(target);
          Value.SetAsAnsiString(text);
        }
      }
    }
  }
  return Value;
}

int32_t TORBExprNodeCast::GetDataSize() {
  if (!IsStringFieldType(FCastType)) return 0;
  if (HasSize()) {
    const TORBVariant& size_value = Child(1)->GetDataValue();
    if (!size_value.IsNull()) return std::max(size_value.AsInteger(), 0);
  }
  const int32_t child_size = Child(0)->GetDataSize();
  return child_size > 0 ? child_size : 4096;
}

// ---------------------------------------------------------------------------
// CASE and COALESCE

std::vector<TORBExprNode*> TORBExprNodeCase::Results() {
  if (FIsCoalesceExpression) return FCoalesceNodes;
  std::vector<TORBExprNode*> results = FResultExpressions;
  if (FElseResultExpression != nullptr) results.push_back(FElseResultExpression);
  return results;
}

TORBVariant& TORBExprNodeCase::GetDataValue() {
  TORBExprNode* chosen = nullptr;
  if (FIsCoalesceExpression) {
    for (TORBExprNode* n : FCoalesceNodes) {
      if (!n->GetDataValue().IsNull()) {
        chosen = n;
        break;
      }
    }
  } else if (FInputExpression != nullptr) {
    TORBVariant input;
    input.Assign(FInputExpression->GetDataValue(), true);
    for (size_t i = 0; i < FWhenExpressions.size() && chosen == nullptr; ++i) {
      if (input.Compare(FWhenExpressions[i]->GetDataValue(), true, FCaseInsensitive, false) == cmprEqual) {
        chosen = FResultExpressions[i];
      }
    }
  } else {
    for (size_t i = 0; i < FWhenExpressions.size() && chosen == nullptr; ++i) {
      if (LogicalOf(FWhenExpressions[i]->GetDataValue()).value_or(false)) chosen = FResultExpressions[i];
    }
  }
  if (chosen == nullptr && !FIsCoalesceExpression) chosen = FElseResultExpression;
  if (chosen == nullptr) {
    Value.Clear(bftUnknown);
  } else {
    Value.Assign(chosen->GetDataValue(), true);
  }
  return Value;
}

TORBAdvancedFieldType TORBExprNodeCase::GetDataType() {
  TORBAdvancedFieldType result = aftUnknown;
  bool any = false;
  for (TORBExprNode* n : Results()) {
    const TORBAdvancedFieldType t = n->GetDataType();
    if (t == aftUnknown) continue;
    result = any ? GetCommonDataType(result, t, false) : t;
    any = true;
  }
  if (result == aftUnknown) RaiseORB(30284, "Cannot determine expression type");
  return result;
}

int32_t TORBExprNodeCase::GetDataSize() {
  int32_t size = 0;
  for (TORBExprNode* n : Results()) size = std::max(size, n->GetDataSize());
  return size;
}

// ---------------------------------------------------------------------------
// Aggregates

void TORBExprNodeAggregated::Init() {
  TORBExprNode::Init();
  Value.Clear(bftUnknown);
  AvgSum.Clear(bftDouble);
  count = 0;
}

void TORBExprNodeAggregated::Accumulate() {
  TORBExprNode::Accumulate();
  if (Operator == doCOUNTALL) {
    ++count;
    return;
  }
  const TORBVariant& v = Child(0)->GetDataValue();
  if (v.IsNull()) return;
  switch (Operator) {
    case doCOUNT:
      ++count;
      break;
    case doSUM: {
      if (!v.IsNumericDataType()) {
        RaiseORB(30132, "Non-numeric argument in numeric operator '%s'", FormatArgs{"SUM"});
      }
      const TORBBaseFieldType t = v.DataType();
      const bool floating = t == bftSingle || t == bftDouble || t == bftExtended || t == bftCurrency;
      if (Value.IsNull()) {
        Value.Assign(v, true);
        // Integers add up in 64 bits whatever their width.
        if (!floating) Value.Cast(bftSignedInt64);
      } else {
        Value.Add(v);
      }
      ++count;
      break;
    }
    case doAVG: {
      if (!v.IsNumericDataType()) {
        RaiseORB(30133, "Non-numeric argument in numeric operator '%s'", FormatArgs{"AVG"});
      }
      const double sum = AvgSum.IsNull() ? 0.0 : AvgSum.AsDouble();
      AvgSum.Clear(bftDouble);
      AvgSum.SetAsDouble(sum + v.AsDouble());
      ++count;
      break;
    }
    case doMIN:
    case doMAX: {
      if (Value.IsNull()) {
        Value.Assign(v, true);
      } else {
        const TORBCompareResult c = v.Compare(Value, false, true, false);
        if ((Operator == doMIN && c == cmprLower) || (Operator == doMAX && c == cmprGreater)) {
          Value.Assign(v, true);
        }
      }
      ++count;
      break;
    }
    default:
      RaiseORB(30131, "Unknown operator: '%s'", FormatArgs{GetOperatorName(Operator)});
  }
}

void TORBExprNodeAggregated::SetCountAll(int32_t n) {
  TORBExprNode::SetCountAll(n);
  count = n;
}

TORBVariant& TORBExprNodeAggregated::GetDataValue() {
  switch (Operator) {
    case doCOUNT:
    case doCOUNTALL:
      Value.Clear(bftSignedInt32);
      Value.SetAsInteger(count);
      break;
    case doAVG:
      Value.Clear(bftDouble);
      if (count > 0 && !AvgSum.IsNull()) Value.SetAsDouble(AvgSum.AsDouble() / count);
      break;
    default:
      break;
  }
  return Value;
}

TORBAdvancedFieldType TORBExprNodeAggregated::GetDataType() {
  switch (Operator) {
    case doCOUNT:
    case doCOUNTALL:
      return aftInteger;
    case doAVG:
      return aftDouble;
    case doSUM: {
      const TORBAdvancedFieldType t = Child(0)->GetDataType();
      if (t == aftSingle || t == aftDouble || t == aftExtended || t == aftCurrency) return t;
      return aftLargeint;
    }
    default:
      return Child(0)->GetDataType();
  }
}

// ---------------------------------------------------------------------------
// ROWNUM

TORBVariant& TORBExprNodeSystem::GetDataValue() {
  if (Operator != doROWNUM) {
    RaiseORB(30338, "Unknown operator: '%s'", FormatArgs{GetOperatorName(Operator)});
  }
  Value.Clear(bftSignedInt32);
  Value.SetAsInteger(++FRowNumValue);
  return Value;
}

// ---------------------------------------------------------------------------
// MIMETOBIN

bool DecodeBase64(std::u16string_view text, std::string& bytes) {
  bytes.clear();
  uint32_t buffer = 0;
  int bits = 0;
  int pending = 0;  // characters of the current group
  for (char16_t c : text) {
    int v;
    if (c >= u'A' && c <= u'Z') {
      v = c - u'A';
    } else if (c >= u'a' && c <= u'z') {
      v = c - u'a' + 26;
    } else if (c >= u'0' && c <= u'9') {
      v = c - u'0' + 52;
    } else if (c == u'+') {
      v = 62;
    } else if (c == u'/') {
      v = 63;
    } else if (c == u'=') {
      break;
    } else {
      continue;
    }
    buffer = (buffer << 6) | static_cast<uint32_t>(v);
    bits += 6;
    pending = (pending + 1) % 4;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<char>((buffer >> bits) & 0xFF));
    }
  }
  return pending != 1;
}

TORBVariant& TORBExprNodeBlob::GetDataValue() {
  std::string bytes;
  if (!DecodeBase64(FText, bytes)) {
    RaiseORB(30051, "Cannot cast from '%s' to '%s'", FormatArgs{"STRING", "BLOB"});
  }
  Value.Clear(bftBlob);
  if (!bytes.empty()) Value.SetData(bytes.data(), static_cast<int32_t>(bytes.size()), bftBlob, true);
  return Value;
}

}  // namespace orb
