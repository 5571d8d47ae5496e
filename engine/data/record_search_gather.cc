#include "engine/data/record_search_gather.h"

#include <algorithm>
#include <cstring>

#include "engine/base/field_data.h"
#include "engine/base/field_defs.h"
#include "engine/base/index_defs.h"
#include "engine/base/record_layout.h"
#include "engine/base/variant.h"
#include "engine/data/record_search_merge.h"
#include "engine/expr/expression.h"
#include "engine/expr/expression_nodes.h"

namespace orb {

namespace {

void AddConjuncts(const TORBExprNode* node, std::vector<const TORBExprNode*>& out) {
  // Iterative: trees of any depth stay within a fixed stack.
  std::vector<const TORBExprNode*> pending{node};
  while (!pending.empty()) {
    const TORBExprNode* n = pending.back();
    pending.pop_back();
    if (n->Operator == doAND && dynamic_cast<const TORBExprNodeBoolean*>(n) != nullptr) {
      for (size_t i = n->ChildCount(); i-- > 0;) pending.push_back(n->Child(i));
    } else {
      out.push_back(n);
    }
  }
}

// `field op value`, read off a comparison node.
struct TComparisonTerm {
  int32_t FieldNo = -1;
  TORBSearchCondition Op = scNone;
  TORBVariant Value;
  bool CaseInsensitive = false;
  bool Partial = false;
  // Nulls compare as the lowest values instead of failing the comparison.
  bool NullsAsValues = false;
};

TORBSearchCondition Mirror(TORBSearchCondition op) {
  switch (op) {
    case scLower: return scGreater;
    case scGreater: return scLower;
    case scLowerEqual: return scGreaterEqual;
    case scGreaterEqual: return scLowerEqual;
    default: return op;
  }
}

bool IsKeyableType(TORBBaseFieldType type) {
  if (IsStringFieldType(type)) return type != bftClob && type != bftWideClob;
  return IsNumericFieldType(type) || IsDateTimeFieldType(type) || type == bftLogical;
}

bool ReadComparison(const TORBExprNode* node, const TORBFieldDefs& field_defs, TComparisonTerm& term) {
  const auto* comparison = dynamic_cast<const TORBExprNodeComparison*>(node);
  if (comparison == nullptr || comparison->ChildCount() != 2 || comparison->FQuantifier != qUNDEFINED) return false;
  TORBSearchCondition op = scNone;
  switch (comparison->Operator) {
    case doEQ: op = scEqual; break;
    case doLT: op = scLower; break;
    case doGT: op = scGreater; break;
    case doLE: op = scLowerEqual; break;
    case doGE: op = scGreaterEqual; break;
    default: return false;
  }
  const auto* field = dynamic_cast<const TORBExprNodeField*>(comparison->Child(0));
  const TORBExprNode* constant = comparison->Child(1);
  if (field == nullptr) {
    // `constant op field`: the partial rule reads the right side, so only
    // plain comparisons turn around.
    if (comparison->FPartialKey) return false;
    field = dynamic_cast<const TORBExprNodeField*>(comparison->Child(1));
    constant = comparison->Child(0);
    op = Mirror(op);
  }
  if (field == nullptr || !field->IsBound() || constant == nullptr || !constant->IsConst()) return false;
  if (constant->Value.IsNull()) return false;
  term.FieldNo = field_defs.GetDefNumberByName(std::u16string_view(field->FieldName()));
  if (term.FieldNo < 0) return false;
  const TORBFieldDef* def = field_defs.GetDef(term.FieldNo);
  if (!IsKeyableType(def->FBaseFieldType)) return false;
  const bool is_string = IsStringFieldType(def->FBaseFieldType);
  if (comparison->FPartialKey) {
    // A prefix is an equality on strings only.
    if (!is_string || op != scEqual || constant->Value.StrLen() == 0) return false;
    term.Partial = true;
  }
  // The constant as the field stores it, accepted only when nothing was
  // lost on the way.
  term.Value = constant->Value;
  term.Value.Cast(def->FBaseFieldType);
  if (term.Value.IsNull() || term.Value.DataType() != def->FBaseFieldType) return false;
  if (term.Value.Compare(constant->Value, false, false, false) != cmprEqual) return false;
  term.Op = op;
  term.CaseInsensitive = is_string && comparison->FCaseInsensitive;
  term.NullsAsValues = !comparison->F3ValueLogic;
  return true;
}

// Writes the term's value into `key` as the record buffer holds it, and
// checks it reads back equal.
bool StoreTerm(const TComparisonTerm& term, const TORBFieldDef& def, uint8_t* key) {
  TORBFieldLayout layout;
  layout.AdvancedFieldType = def.FAdvancedFieldType;
  layout.BaseFieldType = def.FBaseFieldType;
  layout.MemoryDataSize = def.FMemoryDataSize;
  layout.DiskDataSize = def.FDiskDataSize;
  layout.MemoryOffset = def.FMemoryOffset;
  layout.DiskOffset = def.FDiskOffset;
  StoreFieldValue(term.FieldNo, layout, term.Value.Data(), term.Value.DataSize(), key);
  TORBVariant stored;
  stored.SetData(key + def.FMemoryOffset, def.FMemoryDataSize, def.FBaseFieldType, true);
  return stored.Compare(term.Value, false, false, false) == cmprEqual;
}

// Whether the index column can stand for the term: the same field, the
// same letter-case rule for strings, and the whole value indexed.
bool ColumnServes(const TORBIndexColumn& column, const TORBFieldDefs& field_defs, const TComparisonTerm& term) {
  if (field_defs.GetDefNumberByName(std::u16string_view(column.GetFieldName())) != term.FieldNo) return false;
  const TORBFieldDef* def = field_defs.GetDef(term.FieldNo);
  if (IsStringFieldType(def->FBaseFieldType)) {
    if (column.FCaseInsensitive != term.CaseInsensitive) return false;
    if (column.FMaxIndexedSize > 0 && column.FMaxIndexedSize < def->FFieldSize) return false;
  }
  return true;
}

// The comparison in index order: a descending column reverses it.
TORBSearchCondition IndexOp(const TORBIndexColumn& column, TORBSearchCondition op) {
  return column.FDescending ? Mirror(op) : op;
}

// A range from `op` holds exactly the records the comparison accepts,
// except that a lower bound's range holds the null keys (which sort
// first) while a comparison that treats null as unknown rejects them.
bool Covers(const TComparisonTerm& term) {
  return term.NullsAsValues || term.Op == scEqual || term.Op == scGreater || term.Op == scGreaterEqual;
}

struct TTermNode {
  TComparisonTerm Term;
  TORBExpression* Expression;
  const TORBExprNode* Node;
};

}  // namespace

std::vector<const TORBExprNode*> CollectConjuncts(const TORBExpression& expression) {
  std::vector<const TORBExprNode*> out;
  if (expression.Root() != nullptr) AddConjuncts(expression.Root(), out);
  return out;
}

bool EvaluateConjuncts(TORBExpression& expression, const std::vector<const TORBExprNode*>& left_out) {
  if (expression.IsEmpty()) return true;
  if (left_out.empty()) return expression.GetResult();
  for (const TORBExprNode* node : CollectConjuncts(expression)) {
    if (std::find(left_out.begin(), left_out.end(), node) != left_out.end()) continue;
    if (!LogicalOf(const_cast<TORBExprNode*>(node)->GetDataValue()).value_or(false)) return false;
  }
  return true;
}

void CreateIndexScanConditionsFromExpressions(TORBScanSearchConditionArray& conditions,
                                              const TORBFieldDefs& field_defs, const TORBIndexDefs& index_defs,
                                              int32_t record_buffer_size,
                                              const std::function<bool(int32_t)>& can_scan) {
  std::vector<TTermNode> terms;
  for (const auto& item : conditions.Items) {
    if (!item->IsExpressionCondition()) continue;
    for (const TORBExprNode* node : CollectConjuncts(*item->Expression)) {
      TTermNode t{{}, item->Expression, node};
      if (ReadComparison(node, field_defs, t.Term)) terms.push_back(std::move(t));
    }
  }
  if (terms.empty()) return;

  std::vector<const TORBIndexDef*> indexes;
  for (int32_t i = 0; i < index_defs.GetCount(); ++i) {
    const TORBIndexDef* def = index_defs.GetIndexDef(i);
    if (def->GetColumnCount() > 0 && can_scan(def->FObjectID)) indexes.push_back(def);
  }

  // Single-column conditions on every index the field leads.
  for (const TTermNode& t : terms) {
    const TORBFieldDef* field = field_defs.GetDef(t.Term.FieldNo);
    for (const TORBIndexDef* index : indexes) {
      const TORBIndexColumn& column = *index->GetIndexColumn(0);
      if (!ColumnServes(column, field_defs, t.Term)) continue;
      TORBScanSearchCondition c;
      if (!StoreTerm(t.Term, *field, c.AllocateKey(record_buffer_size))) continue;
      c.Condition = IndexOp(column, t.Term.Op);
      c.KeyFieldCount = 1;
      c.IndexID = index->FObjectID;
      c.PartialCompare = t.Term.Partial;
      c.CreatedFromExpression = true;
      c.CoversParentNodes = Covers(t.Term);
      c.ParentExpressions.push_back(t.Expression);
      c.ParentExpressionNodes.push_back(t.Node);
      conditions.Items.push_back(std::make_unique<TORBScanSearchCondition>(std::move(c)));
    }
  }

  // Equalities on leading columns extended by a term on the next column.
  // Each extension adds a condition, so the loop ends when no equality can
  // grow further.
  for (size_t i = 0; i < conditions.Items.size(); ++i) {
    const TORBScanSearchCondition base = *conditions.Items[i];
    if (!base.IsIndexCondition() || base.Condition != scEqual || base.PartialCompare ||
        base.KeyRecordBuffer == nullptr || base.KeyRecordBufferSize < record_buffer_size)
      continue;
    const auto index = std::find_if(indexes.begin(), indexes.end(),
                                    [&](const TORBIndexDef* d) { return d->FObjectID == base.IndexID; });
    if (index == indexes.end()) continue;
    const int32_t columns = (*index)->GetColumnCount();
    const int32_t count = EffectiveKeyFieldCount(base.KeyFieldCount, columns);
    if (count >= columns) continue;
    const TORBIndexColumn& column = *(*index)->GetIndexColumn(count);
    for (const TTermNode& t : terms) {
      if (!ColumnServes(column, field_defs, t.Term)) continue;
      if (std::find(base.ParentExpressionNodes.begin(), base.ParentExpressionNodes.end(), t.Node) !=
          base.ParentExpressionNodes.end())
        continue;
      TORBScanSearchCondition c(base);
      if (!StoreTerm(t.Term, *field_defs.GetDef(t.Term.FieldNo), const_cast<uint8_t*>(c.KeyRecordBuffer))) continue;
      c.Condition = IndexOp(column, t.Term.Op);
      c.KeyFieldCount = count + 1;
      c.PartialCompare = t.Term.Partial;
      c.CreatedFromExpression = true;
      // Past an equality prefix only a further equality keeps the range
      // exact; a bound on the last column alone runs on into the next
      // prefix values.
      c.CoversParentNodes = base.CoversParentNodes && t.Term.Op == scEqual && Covers(t.Term);
      c.ParentExpressions.push_back(t.Expression);
      c.ParentExpressionNodes.push_back(t.Node);
      conditions.Items.push_back(std::make_unique<TORBScanSearchCondition>(std::move(c)));
    }
  }
}

}  // namespace orb
