#pragma once

// Merging the index conditions of a search: two conditions on the same
// index combine into the one range both allow, or are found contradictory.

#include <cstdint>
#include <functional>

#include "engine/data/scan_condition.h"

namespace orb {

// What two conditions on one index merge into.
enum class TORBConditionMerge : uint8_t {
  kKeep,         // no merge: both stay
  kEmpty,        // contradictory: no record satisfies both
  kFirst,        // the first alone
  kSecond,       // the second alone
  kFewer,        // the one with fewer key fields (the first on a tie)
  kMore,         // the one with more key fields (the first on a tie)
  kMoreAsEqual,  // kMore, turned into scEqual
};

// Only a pair of scEqual with scLower or scGreater (either order) whose
// equality has fewer key fields than the strict comparison cannot merge.
// Counts are effective (1 .. the index's columns).
bool AreConditionsMergeable(TORBSearchCondition first, int32_t first_count, TORBSearchCondition second,
                            int32_t second_count);

// The merge of `first` (already kept) with `second` (being added), where
// `order` is the comparison (-1, 0, 1) of the first key with the second
// over the smaller key field count.
// REQUIRES: AreConditionsMergeable(...); neither condition is scNone.
TORBConditionMerge MergeConditions(TORBSearchCondition first, int32_t first_count, TORBSearchCondition second,
                                   int32_t second_count, int order);

// How the optimizer sees an index: its column count and the order of two
// keys over a number of leading columns.
struct TORBConditionIndexInfo {
  int32_t ColumnCount = 0;
  std::function<int(const uint8_t*, const uint8_t*, int32_t)> CompareKeys;
};

// Merges the index conditions per index (in order of first appearance),
// drops duplicates and appends the expression conditions. Returns false,
// leaving `conditions` unchanged, when two conditions contradict.
// `index_info` gives the index of an ID. Prefix (partial) conditions are
// never merged: their keys do not order as their ranges do.
bool OptimizeSearchConditions(TORBScanSearchConditionArray& conditions,
                              const std::function<TORBConditionIndexInfo(int32_t)>& index_info);

// Key field count of a condition as compared: 0 or more than the index
// has means every column.
inline int32_t EffectiveKeyFieldCount(int32_t key_field_count, int32_t column_count) {
  return key_field_count <= 0 || key_field_count > column_count ? column_count : key_field_count;
}

}  // namespace orb
