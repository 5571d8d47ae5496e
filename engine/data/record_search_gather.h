#pragma once

// The expression side of a record search: which conjuncts of a filter or
// search expression an index range can stand for, and evaluating an
// expression with the conjuncts that a chosen range already guarantees
// left out (the expression tree itself is never changed).

#include <cstdint>
#include <functional>
#include <vector>

#include "engine/data/scan_condition.h"

namespace orb {

class TORBExpression;
class TORBExprNode;
class TORBFieldDefs;
class TORBIndexDefs;

// The conjuncts of an expression: the nodes below its top-level ANDs (the
// root itself when it is no AND). None for an empty expression.
std::vector<const TORBExprNode*> CollectConjuncts(const TORBExpression& expression);

// True when every conjunct of `expression` not in `left_out` evaluates to
// true for the record the expression reads (null counts as false).
bool EvaluateConjuncts(TORBExpression& expression, const std::vector<const TORBExprNode*>& left_out);

// Appends to `conditions` the index conditions its expression conditions
// allow: for each conjunct `field op constant` (op one of = < > <= >=, the
// constant exactly representable in the field) an index condition on
// every index led by that field; then equality conditions on the leading
// columns of a multi-column index are extended by conjuncts on the next
// column, as long as one is found. Only indexes for which `can_scan` holds
// are considered. Keys are memory-form record buffers of
// `record_buffer_size` bytes.
void CreateIndexScanConditionsFromExpressions(TORBScanSearchConditionArray& conditions,
                                              const TORBFieldDefs& field_defs, const TORBIndexDefs& index_defs,
                                              int32_t record_buffer_size,
                                              const std::function<bool(int32_t)>& can_scan);

}  // namespace orb
