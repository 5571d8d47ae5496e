#include "engine/data/record_search_merge.h"

#include <algorithm>
#include <map>
#include <vector>

namespace orb {

namespace {

using M = TORBConditionMerge;

bool IsStrict(TORBSearchCondition c) { return c == scLower || c == scGreater; }

}  // namespace

bool AreConditionsMergeable(TORBSearchCondition first, int32_t first_count, TORBSearchCondition second,
                            int32_t second_count) {
  if (first == scEqual && IsStrict(second)) return first_count >= second_count;
  if (second == scEqual && IsStrict(first)) return second_count >= first_count;
  return true;
}

// The table reads: rows the first condition, columns the second; c the
// order of the first key against the second over the smaller count.
TORBConditionMerge MergeConditions(TORBSearchCondition first, int32_t first_count, TORBSearchCondition second,
                                   int32_t second_count, int order) {
  const int c = order < 0 ? -1 : (order > 0 ? 1 : 0);
  const int32_t min_count = std::min(first_count, second_count);
  const int32_t max_count = std::max(first_count, second_count);
  const bool first_max = first_count == max_count;
  const bool first_min = first_count == min_count;
  const bool second_max = second_count == max_count;
  const bool second_min = second_count == min_count;
  switch (first) {
    case scEqual:
      switch (second) {
        case scEqual: return c != 0 ? M::kEmpty : M::kMore;
        case scLower: return c < 0 ? M::kFirst : M::kEmpty;
        case scGreater: return c > 0 ? M::kFirst : M::kEmpty;
        case scLowerEqual:
          if (c > 0) return M::kEmpty;
          if (c < 0 || first_max) return M::kFirst;
          return M::kKeep;
        case scGreaterEqual:
          if (c < 0) return M::kEmpty;
          if (c > 0 || first_max) return M::kFirst;
          return M::kKeep;
        default: return M::kKeep;
      }
    case scLower:
      switch (second) {
        case scEqual: return c > 0 ? M::kSecond : M::kEmpty;
        case scLower: return c < 0 ? M::kFirst : (c == 0 ? M::kFewer : M::kSecond);
        case scGreater: return c <= 0 ? M::kEmpty : M::kKeep;
        case scLowerEqual: return c <= 0 ? M::kFirst : M::kSecond;
        case scGreaterEqual: return c < 0 || (c == 0 && first_min) ? M::kEmpty : M::kKeep;
        default: return M::kKeep;
      }
    case scGreater:
      switch (second) {
        case scEqual: return c < 0 ? M::kSecond : M::kEmpty;
        case scLower: return c >= 0 ? M::kEmpty : M::kKeep;
        case scGreater: return c > 0 ? M::kFirst : (c == 0 ? M::kFewer : M::kSecond);
        case scLowerEqual: return c > 0 || (c == 0 && first_min) ? M::kEmpty : M::kKeep;
        case scGreaterEqual: return c >= 0 ? M::kFirst : M::kSecond;
        default: return M::kKeep;
      }
    case scLowerEqual:
      switch (second) {
        case scEqual:
          if (c < 0) return M::kEmpty;
          if (c > 0 || second_max) return M::kSecond;
          return M::kKeep;
        case scLower: return c < 0 ? M::kFirst : (c > 0 ? M::kSecond : M::kKeep);
        case scGreater: return c < 0 || (c == 0 && second_min) ? M::kEmpty : M::kKeep;
        case scLowerEqual: return c < 0 ? M::kFirst : (c == 0 ? M::kMore : M::kSecond);
        case scGreaterEqual:
          if (c < 0) return M::kEmpty;
          return c == 0 && min_count == max_count ? M::kMoreAsEqual : M::kKeep;
        default: return M::kKeep;
      }
    case scGreaterEqual:
      switch (second) {
        case scEqual:
          if (c > 0) return M::kEmpty;
          if (c < 0 || second_max) return M::kSecond;
          return M::kKeep;
        case scLower: return c > 0 || (c == 0 && second_min) ? M::kEmpty : M::kKeep;
        case scGreater: return c <= 0 ? M::kSecond : M::kFirst;
        case scLowerEqual:
          if (c > 0) return M::kEmpty;
          return c == 0 && min_count == max_count ? M::kMoreAsEqual : M::kKeep;
        case scGreaterEqual: return c > 0 ? M::kFirst : (c < 0 ? M::kSecond : M::kMore);
        default: return M::kKeep;
      }
    default:
      return M::kKeep;
  }
}

bool OptimizeSearchConditions(TORBScanSearchConditionArray& conditions,
                              const std::function<TORBConditionIndexInfo(int32_t)>& index_info) {
  std::vector<int32_t> index_ids;
  for (const auto& item : conditions.Items)
    if (item->IsIndexCondition() && std::find(index_ids.begin(), index_ids.end(), item->IndexID) == index_ids.end())
      index_ids.push_back(item->IndexID);

  std::vector<std::unique_ptr<TORBScanSearchCondition>> result;
  for (const int32_t index_id : index_ids) {
    const TORBConditionIndexInfo info = index_info(index_id);
    const size_t first_of_index = result.size();
    for (const auto& item : conditions.Items) {
      if (!item->IsIndexCondition() || item->IndexID != index_id) continue;
      const TORBScanSearchCondition& second = *item;
      const int32_t second_count = EffectiveKeyFieldCount(second.KeyFieldCount, info.ColumnCount);
      bool merged = false;
      for (size_t r = first_of_index; r < result.size() && !merged; ++r) {
        const TORBScanSearchCondition& first = *result[r];
        if (first.Condition == scNone || second.Condition == scNone) continue;
        if (first.PartialCompare || second.PartialCompare) continue;
        if (first.KeyRecordBuffer == nullptr || second.KeyRecordBuffer == nullptr) continue;
        const int32_t first_count = EffectiveKeyFieldCount(first.KeyFieldCount, info.ColumnCount);
        if (!AreConditionsMergeable(first.Condition, first_count, second.Condition, second_count)) continue;
        const int order =
            info.CompareKeys(first.KeyRecordBuffer, second.KeyRecordBuffer, std::min(first_count, second_count));
        const TORBConditionMerge how = MergeConditions(first.Condition, first_count, second.Condition, second_count, order);
        const bool first_fewer = first_count <= second_count;
        const bool first_more = first_count >= second_count;
        switch (how) {
          case M::kKeep: continue;
          case M::kEmpty: return false;
          case M::kFirst: break;
          case M::kSecond: *result[r] = second; break;
          case M::kFewer:
            if (!first_fewer) *result[r] = second;
            break;
          case M::kMore:
          case M::kMoreAsEqual:
            if (!first_more) *result[r] = second;
            if (how == M::kMoreAsEqual) result[r]->Condition = scEqual;
            break;
        }
        merged = true;
      }
      if (!merged) result.push_back(std::make_unique<TORBScanSearchCondition>(second));
    }
    // Duplicates: same shape and equal keys over their count.
    for (size_t a = first_of_index; a < result.size(); ++a) {
      for (size_t b = a + 1; b < result.size();) {
        const TORBScanSearchCondition& x = *result[a];
        const TORBScanSearchCondition& y = *result[b];
        const bool same =
            x.HasSameShape(y) && x.KeyRecordBuffer != nullptr && y.KeyRecordBuffer != nullptr &&
            info.CompareKeys(x.KeyRecordBuffer, y.KeyRecordBuffer,
                             EffectiveKeyFieldCount(x.KeyFieldCount, info.ColumnCount)) == 0;
        if (same)
          result.erase(result.begin() + static_cast<std::ptrdiff_t>(b));
        else
          ++b;
      }
    }
  }
  for (const auto& item : conditions.Items)
    if (item->IsExpressionCondition()) result.push_back(std::make_unique<TORBScanSearchCondition>(*item));
  conditions.Items = std::move(result);
  return true;
}

}  // namespace orb
