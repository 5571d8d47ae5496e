#pragma once

// One record search of a table data: gathers the conditions that apply
// (the caller's expression or key, the cursor's filters, range and
// distinct position), turns expression conjuncts into index conditions,
// merges them per index, picks at most one index range by cost, and scans
// with one of four strategies that differ in how the result follows the
// cursor's order when the scan index is not the cursor's index.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/base/page_item_id.h"
#include "engine/data/scan_condition.h"

namespace orb {

class TORBCursorInterface;
class TORBExpression;
class TORBExprNode;
class TORBIndex;
class TORBRecordBitmap;
class TORBTableData;

inline constexpr int32_t kErrScanConditionNumber = 10382;
inline constexpr int32_t kErrPositionLookupFailed = 10386;
inline constexpr int32_t kErrPositionReadFailed = 10387;
inline constexpr int32_t kErrPositionLookupOther = 10414;
inline constexpr int32_t kErrPositionReadOther = 10415;
inline constexpr int32_t kErrFoundPositionFailed = 10432;
inline constexpr int32_t kErrKeySearchNoIndex = 20258;

class TORBRecordSearch {
 public:
  // REQUIRES: the caller holds the table lock for the object's lifetime.
  TORBRecordSearch(TORBTableData* table_data, TORBCursorInterface* cursor);
  TORBRecordSearch(const TORBRecordSearch&) = delete;
  TORBRecordSearch& operator=(const TORBRecordSearch&) = delete;

  // The next (previous) matching record from the cursor's position, or the
  // first (last) on restart. With `fill_bitmap` every match is shown in
  // `bitmap` and the result is false. A key condition without an index
  // raises 20258; contradictory conditions give false.
  bool Run(TORBExpression* search_expression, const TORBScanCondition* key_condition, bool restart,
           bool go_forward, TORBPageItemID* record_id, TORBRecordBitmap* bitmap, bool fill_bitmap);

  // The conditions after the last Run's preparation and merge, and the
  // chosen start and end numbers (-1: none).
  const TORBScanSearchConditionArray& Conditions() const { return FConditions; }
  int32_t ScanConditionNo() const { return FStart; }
  int32_t ScanEndConditionNo() const { return FEnd; }

 private:
  struct TScanState;

  void PrepareConditions(TORBExpression* search_expression, const TORBScanCondition* key_condition,
                         bool go_forward);
  bool CanScan(int32_t index_id);
  void ChooseScanConditions(bool restart, bool go_forward);
  double CandidateCost(int32_t first, int32_t second);
  double ScanWithoutConditionCost(bool restart, bool go_forward);
  // The nodes a chosen range guarantees, for the chosen pair (first,
  // second; -1 for none).
  std::vector<const TORBExprNode*> CoveredNodes(int32_t first, int32_t second) const;
  bool NeedToCheckOtherConditions(int32_t first, int32_t second,
                                  const std::vector<const TORBExprNode*>& left_out) const;
  bool IsRecordMatch(const uint8_t* record_buffer);

  bool ScanWithoutCondition(TScanState& state);
  bool ScanOnCurrentIndex(TScanState& state);
  bool ScanWithoutCurrentIndex(TScanState& state);
  bool ScanOnOtherCurrentIndex(TScanState& state);
  // Shows a match in the bitmap (by its place in the bitmap's index when
  // index-based).
  void ShowInBitmap(TScanState& state, const TORBPageItemID& record_id, const uint8_t* record_buffer);

  TORBTableData* FTableData;
  TORBCursorInterface* FCursor;
  int32_t FSessionID;
  TORBScanSearchConditionArray FConditions;
  int32_t FStart = -1;
  int32_t FEnd = -1;
  // Conjuncts the chosen range guarantees: not evaluated per record.
  std::vector<const TORBExprNode*> FLeftOut;
  bool FCheckOthers = true;
  std::vector<int32_t> FScannable;
  std::vector<int32_t> FNotScannable;
};

}  // namespace orb
