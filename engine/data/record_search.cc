#include "engine/data/record_search.h"

#include <algorithm>

#include "engine/base/field_defs.h"
#include "engine/base/field_manager.h"
#include "engine/base/index_defs.h"
#include "engine/base/orb_exception.h"
#include "engine/data/cursor_interface.h"
#include "engine/data/index.h"
#include "engine/data/index_manager.h"
#include "engine/data/record_bitmap.h"
#include "engine/data/record_manager.h"
#include "engine/data/record_search_gather.h"
#include "engine/data/record_search_merge.h"
#include "engine/data/table_data.h"
#include "engine/expr/expression.h"
#include "engine/table/page_manager.h"

namespace orb {

namespace {

// Points the cursor's current record buffer at the scan's buffer, so that
// the expressions read the record being tested.
class TCurrentBufferSwap {
 public:
  TCurrentBufferSwap(TORBCursorInterface* cursor, uint8_t* buffer)
      : FCursor(cursor), FSaved(cursor->GetCurrentRecordBuffer()) {
    FCursor->SetCurrentRecordBuffer(buffer);
  }
  ~TCurrentBufferSwap() { FCursor->SetCurrentRecordBuffer(FSaved); }
  TCurrentBufferSwap(const TCurrentBufferSwap&) = delete;
  TCurrentBufferSwap& operator=(const TCurrentBufferSwap&) = delete;

 private:
  TORBCursorInterface* FCursor;
  uint8_t* FSaved;
};

// -1: the condition bounds the range from below, 1: from above, 0: both
// (an equality).
int BoundSide(TORBSearchCondition condition) {
  switch (condition) {
    case scGreater:
    case scGreaterEqual: return -1;
    case scLower:
    case scLowerEqual: return 1;
    default: return 0;
  }
}

[[noreturn]] void RaisePosition(int32_t code, int32_t index_id, const TORBPageItemID& record_id) {
  RaiseORB(code, "Cannot find record position in index %d, RecordID = %d %d",
           {index_id, record_id.PageNo, static_cast<int32_t>(record_id.PageItemNo)});
}

}  // namespace

struct TORBRecordSearch::TScanState {
  bool Restart = false;
  bool GoForward = true;
  TORBRecordBitmap* Bitmap = nullptr;
  bool FillBitmap = false;
  // A complete scan on restart may leave the bitmap describing the view.
  bool MayActivateBitmap = false;
  std::vector<uint8_t> Buffer;
  TORBPageItemID Found{};
};

TORBRecordSearch::TORBRecordSearch(TORBTableData* table_data, TORBCursorInterface* cursor)
    : FTableData(table_data), FCursor(cursor), FSessionID(cursor->GetSessionID()) {}

bool TORBRecordSearch::Run(TORBExpression* search_expression, const TORBScanCondition* key_condition, bool restart,
                           bool go_forward, TORBPageItemID* record_id, TORBRecordBitmap* bitmap, bool fill_bitmap) {
  PrepareConditions(search_expression, key_condition, go_forward);
  const int32_t record_size = FTableData->RecordManager()->FRecordBufferSize;
  CreateIndexScanConditionsFromExpressions(FConditions, FTableData->FieldManager()->FieldDefs(),
                                           FTableData->IndexManager()->IndexDefs(), record_size,
                                           [this](int32_t index_id) { return CanScan(index_id); });
  TORBBaseIndexManager* indexes = FTableData->IndexManager();
  const bool compatible = OptimizeSearchConditions(FConditions, [indexes](int32_t index_id) {
    TORBIndex* index = indexes->OpenIndex(index_id);
    TORBConditionIndexInfo info;
    info.ColumnCount = index->IndexDef().GetColumnCount();
    info.CompareKeys = [index](const uint8_t* a, const uint8_t* b, int32_t count) {
      return index->CompareRecordBuffersByIndex(a, b, count);
    };
    return info;
  });
  if (!compatible) return false;
  ChooseScanConditions(restart, go_forward);
  FLeftOut = CoveredNodes(FStart, FEnd);
  FCheckOthers = NeedToCheckOtherConditions(FStart, FEnd, FLeftOut);

  TScanState state;
  state.Restart = restart;
  state.GoForward = go_forward;
  state.Bitmap = bitmap;
  state.FillBitmap = fill_bitmap;
  state.MayActivateBitmap = bitmap != nullptr && restart && search_expression == nullptr && key_condition == nullptr;
  state.Buffer.assign(static_cast<size_t>(std::max(record_size, 1)), 0);
  TCurrentBufferSwap swap(FCursor, state.Buffer.data());
  bool found = false;
  if (FStart == -1) {
    found = ScanWithoutCondition(state);
  } else {
    if (FStart >= FConditions.Count())
      RaiseORB(kErrScanConditionNumber, "Invalid condition number = %d, count = %d", {FStart, FConditions.Count()});
    const int32_t current_index = FCursor->GetIndexID();
    if (current_index == -1)
      found = ScanWithoutCurrentIndex(state);
    else if (current_index == FConditions.Item(FStart).IndexID)
      found = ScanOnCurrentIndex(state);
    else
      found = ScanOnOtherCurrentIndex(state);
  }
  if (found && record_id != nullptr) *record_id = state.Found;
  return found;
}

// ---------------------------------------------------------------------------
// Conditions

void TORBRecordSearch::PrepareConditions(TORBExpression* search_expression, const TORBScanCondition* key_condition,
                                         bool go_forward) {
  const int32_t record_size = FTableData->RecordManager()->FRecordBufferSize;
  const int32_t cursor_index = FCursor->GetIndexID();
  if (key_condition != nullptr) {
    TORBScanSearchCondition key(true);
    static_cast<TORBScanCondition&>(key) = *key_condition;
    key.SetExternalKey(key_condition->KeyRecordBuffer, key_condition->KeyRecordBufferSize);
    if (key.IndexID == -1)
      RaiseORB(kErrKeySearchNoIndex,
               "No active index is set for Key search. Set Table.IndexName to the index on search fields.");
    FConditions.AddCondition(key);
  }
  if (search_expression != nullptr) FConditions.AddExpression(search_expression);
  if (TORBExpression* filter = FCursor->GetFilterExpression()) FConditions.AddExpression(filter);
  if (TORBExpression* filter = FCursor->GetSQLFilterExpression()) FConditions.AddExpression(filter);
  if (FCursor->IsRangeApplied() && cursor_index != -1) {
    if (const uint8_t* start = FCursor->GetRangeStartBuffer()) {
      TORBScanSearchCondition c(true);
      c.SetExternalKey(start, record_size);
      c.KeyFieldCount = FCursor->GetRangeStartKeyFieldCount();
      c.Condition = FCursor->GetRangeStartExclusive() ? scGreater : scGreaterEqual;
      c.IndexID = cursor_index;
      FConditions.AddCondition(c);
    }
    if (const uint8_t* end = FCursor->GetRangeEndBuffer()) {
      TORBScanSearchCondition c(true);
      c.SetExternalKey(end, record_size);
      c.KeyFieldCount = FCursor->GetRangeEndKeyFieldCount();
      c.Condition = FCursor->GetRangeEndExclusive() ? scLower : scLowerEqual;
      c.IndexID = cursor_index;
      FConditions.AddCondition(c);
    }
  }
  if (FCursor->IsDistinctApplied() && cursor_index != -1 && FCursor->GetDistinctRecordBuffer() != nullptr &&
      !FCursor->GetFirstPosition() && !FCursor->GetLastPosition()) {
    // The next distinct key group.
    TORBScanSearchCondition c(true);
    c.SetExternalKey(FCursor->GetDistinctRecordBuffer(), record_size);
    c.KeyFieldCount = FCursor->GetDistinctFieldCount();
    c.Condition = go_forward ? scGreater : scLower;
    c.IndexID = cursor_index;
    FConditions.AddCondition(c);
  }
}

bool TORBRecordSearch::CanScan(int32_t index_id) {
  if (std::find(FScannable.begin(), FScannable.end(), index_id) != FScannable.end()) return true;
  if (std::find(FNotScannable.begin(), FNotScannable.end(), index_id) != FNotScannable.end()) return false;
  // An index without range-scan state cannot serve ranges: its conditions
  // are tested per record.
  const bool can = FTableData->IndexManager()->OpenIndex(index_id)->CreateSearchInfo() != nullptr;
  (can ? FScannable : FNotScannable).push_back(index_id);
  return can;
}

std::vector<const TORBExprNode*> TORBRecordSearch::CoveredNodes(int32_t first, int32_t second) const {
  std::vector<const TORBExprNode*> nodes;
  for (const int32_t no : {first, second}) {
    if (no < 0) continue;
    const TORBScanSearchCondition& c = FConditions.Item(no);
    if (c.CoversParentNodes) nodes.insert(nodes.end(), c.ParentExpressionNodes.begin(), c.ParentExpressionNodes.end());
  }
  return nodes;
}

bool TORBRecordSearch::NeedToCheckOtherConditions(int32_t first, int32_t second,
                                                  const std::vector<const TORBExprNode*>& left_out) const {
  if (FCursor->HasRecordFilter()) return true;
  for (int32_t i = 0; i < FConditions.Count(); ++i) {
    if (i == first || i == second) continue;
    const TORBScanSearchCondition& c = FConditions.Item(i);
    if (c.IsIndexCondition() && !c.CreatedFromExpression) return true;
    if (c.IsExpressionCondition()) {
      for (const TORBExprNode* node : CollectConjuncts(*c.Expression))
        if (std::find(left_out.begin(), left_out.end(), node) == left_out.end()) return true;
    }
  }
  return false;
}

bool TORBRecordSearch::IsRecordMatch(const uint8_t* record_buffer) {
  for (int32_t i = 0; i < FConditions.Count(); ++i) {
    if (i == FStart || i == FEnd) continue;
    TORBScanSearchCondition& c = FConditions.Item(i);
    if (c.IsExpressionCondition()) {
      if (!EvaluateConjuncts(*c.Expression, FLeftOut)) return false;
      continue;
    }
    // Conditions made from conjuncts are decided by their conjuncts.
    if (c.CreatedFromExpression) continue;
    if (c.Condition == scNone || c.KeyRecordBuffer == nullptr) return false;
    TORBIndex* index = FTableData->IndexManager()->OpenIndex(c.IndexID);
    const int32_t count = EffectiveKeyFieldCount(c.KeyFieldCount, index->IndexDef().GetColumnCount());
    const int order = index->CompareRecordBuffersByIndex(record_buffer, c.KeyRecordBuffer, count);
    bool holds = false;
    switch (c.Condition) {
      case scEqual: holds = order == 0; break;
      case scLower: holds = order < 0; break;
      case scGreater: holds = order > 0; break;
      case scLowerEqual: holds = order <= 0; break;
      case scGreaterEqual: holds = order >= 0; break;
      default: holds = false; break;
    }
    if (!holds) return false;
  }
  if (FCursor->HasRecordFilter() && !FCursor->FilterRecord(record_buffer)) return false;
  return true;
}

// ---------------------------------------------------------------------------
// Choosing the range

void TORBRecordSearch::ChooseScanConditions(bool restart, bool go_forward) {
  FStart = FEnd = -1;
  const int32_t current_index = FCursor->GetIndexID();
  auto usable = [this](int32_t i) {
    const TORBScanSearchCondition& c = FConditions.Item(i);
    return c.IsIndexCondition() && c.Condition != scNone && c.KeyRecordBuffer != nullptr && CanScan(c.IndexID);
  };

  // A prefix key can only be tested by the index itself: it bounds the
  // scan whatever the costs.
  for (int32_t i = 0; i < FConditions.Count(); ++i) {
    const TORBScanSearchCondition& c = FConditions.Item(i);
    if (usable(i) && c.PartialCompare && !c.CreatedFromExpression) {
      FStart = i;
      return;
    }
  }
  // Equality on a single-column unique, primary or auto-increment index.
  const TORBFieldDefs& fields = FTableData->FieldManager()->FieldDefs();
  for (int32_t i = 0; i < FConditions.Count(); ++i) {
    if (!usable(i) || FConditions.Item(i).Condition != scEqual) continue;
    const TORBIndexDef& def = FTableData->IndexManager()->OpenIndex(FConditions.Item(i).IndexID)->IndexDef();
    if (def.GetColumnCount() != 1) continue;
    const int32_t field_no = fields.GetDefNumberByName(std::u16string_view(def.GetIndexColumn(0)->GetFieldName()));
    const bool autoinc = field_no >= 0 && IsAutoincFieldType(fields.GetDef(field_no)->FAdvancedFieldType);
    if (def.FUnique || def.FPrimary || autoinc) {
      FStart = i;
      return;
    }
  }
  // The one index condition, on the cursor's index.
  int32_t index_conditions = 0;
  int32_t only = -1;
  for (int32_t i = 0; i < FConditions.Count(); ++i) {
    if (!FConditions.Item(i).IsIndexCondition()) continue;
    ++index_conditions;
    only = i;
  }
  if (index_conditions == 1 && usable(only) && FConditions.Item(only).IndexID == current_index) {
    FStart = only;
    return;
  }

  // By cost, in pages.
  double best = static_cast<double>(FTableData->InternalGetRecordCount(FSessionID));
  int32_t first = -1;
  int32_t second = -1;
  for (int32_t i = 0; i < FConditions.Count();) {
    if (!usable(i)) {
      ++i;
      continue;
    }
    int32_t pair = -1;
    if (i + 1 < FConditions.Count() && usable(i + 1) &&
        FConditions.Item(i + 1).IndexID == FConditions.Item(i).IndexID) {
      // Two bounds on one side would leave the tighter one unchecked.
      const int a = BoundSide(FConditions.Item(i).Condition);
      const int b = BoundSide(FConditions.Item(i + 1).Condition);
      if (a != b || a == 0) pair = i + 1;
    }
    const double cost = CandidateCost(i, pair);
    if (cost < best) {
      best = cost;
      first = i;
      second = pair;
    }
    i += pair == -1 ? 1 : 2;
  }
  if (first == -1) return;
  const TORBPageManager* pages = FTableData->PageManager();
  if (pages != nullptr && pages->GetPageDataSize() != 0 && ScanWithoutConditionCost(restart, go_forward) < best)
    return;
  if (second == -1) {
    FStart = first;
    return;
  }
  // The lower bound starts a forward scan, the upper bound a backward one.
  const int a = BoundSide(FConditions.Item(first).Condition);
  const int b = BoundSide(FConditions.Item(second).Condition);
  const bool first_is_lower = a < 0 || (a == 0 && b > 0);
  const int32_t lower = first_is_lower ? first : second;
  const int32_t upper = first_is_lower ? second : first;
  FStart = go_forward ? lower : upper;
  FEnd = go_forward ? upper : lower;
}

double TORBRecordSearch::CandidateCost(int32_t first, int32_t second) {
  const TORBScanSearchCondition& start = FConditions.Item(first);
  const TORBScanSearchCondition& end = second == -1 ? start : FConditions.Item(second);
  TORBIndex* index = FTableData->IndexManager()->OpenIndex(start.IndexID);
  const int64_t record_count = FTableData->InternalGetRecordCount(FSessionID);
  const double n = static_cast<double>(index->GetApproxRangeRecordCount(FSessionID, record_count, &start, &end));
  const TORBPageManager* pages = FTableData->PageManager();
  const double page = pages != nullptr && pages->GetPageDataSize() != 0 ? pages->GetPageDataSize() : 1.0;
  const TORBFieldDefs& fields = FTableData->FieldManager()->FieldDefs();
  const TORBIndexDef& def = index->IndexDef();
  double entry = kPageItemIDSize;
  for (int32_t c = 0; c < def.GetColumnCount(); ++c) {
    const int32_t no = fields.GetDefNumberByName(std::u16string_view(def.GetIndexColumn(c)->GetFieldName()));
    if (no >= 0) entry += fields.GetDef(no)->FDiskDataSize;
  }
  const double record = FTableData->FieldManager()->GetDiskRecordBufferSize();
  const int32_t current_index = FCursor->GetIndexID();
  const bool other_order = current_index != -1 && current_index != start.IndexID;
  double cost = n * entry / page;
  const std::vector<const TORBExprNode*> covered = CoveredNodes(first, second);
  if (other_order || NeedToCheckOtherConditions(first, second, covered)) cost += n * record / page;
  if (other_order) cost += n * entry / page;
  return cost;
}

double TORBRecordSearch::ScanWithoutConditionCost(bool restart, bool go_forward) {
  const int64_t count = FTableData->InternalGetRecordCount(FSessionID);
  int64_t left = count;
  if (!restart) {
    const int64_t at = FTableData->RecordManager()->GetApproximateRecNo(FSessionID, FCursor->GetCurrentRecordID());
    left = go_forward ? count - at : at;
  }
  left = std::clamp<int64_t>(left, 0, count);
  if (FCursor->GetIndexID() != -1) return static_cast<double>(left);
  const double page = FTableData->PageManager()->GetPageDataSize();
  return static_cast<double>(left) * FTableData->FieldManager()->GetDiskRecordBufferSize() / page;
}

// ---------------------------------------------------------------------------
// Scans

void TORBRecordSearch::ShowInBitmap(TScanState& state, const TORBPageItemID& record_id,
                                    const uint8_t* record_buffer) {
  TORBRecordBitmap* bitmap = state.Bitmap;
  if (bitmap == nullptr) return;
  if (!bitmap->FIndexBased) {
    bitmap->ShowRecord(record_id);
    return;
  }
  TORBIndex* index = FTableData->IndexManager()->OpenIndex(bitmap->FIndexID);
  std::unique_ptr<TORBIndexPosition> position = index->CreateIndexPosition();
  if (index->GetIndexPosition(FSessionID, record_id, record_buffer, *position))
    bitmap->ShowRecord(bitmap->FIndexID, *position);
}

// In the cursor's order, every record tested.
bool TORBRecordSearch::ScanWithoutCondition(TScanState& state) {
  TORBIndexPositionCache cache;
  TORBNavigationInfo info;
  info.GetRecordMode = state.GoForward ? grmNext : grmPrior;
  info.IndexID = FCursor->GetIndexID();
  info.RecordBuffer = state.Buffer.data();
  if (state.Restart) {
    info.FirstPosition = state.GoForward;
    info.LastPosition = !state.GoForward;
  } else {
    info.RecordID = FCursor->GetCurrentRecordID();
    info.FirstPosition = FCursor->GetFirstPosition();
    info.LastPosition = FCursor->GetLastPosition();
  }
  for (;;) {
    FTableData->InternalGetRecordBuffer(FSessionID, info, &cache, FTableData->RecordManager()->FTableState);
    if (info.GetRecordResult != grrOK) return false;
    info.FirstPosition = false;
    info.LastPosition = false;
    if (!IsRecordMatch(state.Buffer.data())) continue;
    ShowInBitmap(state, info.RecordID, state.Buffer.data());
    if (state.FillBitmap) continue;
    state.Found = info.RecordID;
    return true;
  }
}

// The range of the cursor's own index, in its order.
bool TORBRecordSearch::ScanOnCurrentIndex(TScanState& state) {
  const TORBScanSearchCondition& start = FConditions.Item(FStart);
  const TORBScanSearchCondition* end = FEnd == -1 ? nullptr : &FConditions.Item(FEnd);
  TORBIndex* index = FTableData->IndexManager()->OpenIndex(start.IndexID);
  std::unique_ptr<TORBIndexSearchInfo> search_info = index->CreateSearchInfo();
  uint8_t* buffer = state.Buffer.data();
  TORBPageItemID record_id{};
  if (!state.Restart) {
    record_id = FCursor->GetCurrentRecordID();
    if (FTableData->ReadRecordByID(FSessionID, record_id, buffer) != grrOK) return false;
  }
  bool first_call = true;
  for (;;) {
    const bool restart = state.Restart && first_call;
    first_call = false;
    if (!index->FindRecord(FSessionID, restart, state.GoForward, &start, end, buffer, record_id, search_info.get()))
      return false;
    const bool need_record = FCheckOthers || state.Bitmap != nullptr;
    if (need_record && FTableData->ReadRecordByID(FSessionID, record_id, buffer) != grrOK) continue;
    if (FCheckOthers && !IsRecordMatch(buffer)) continue;
    ShowInBitmap(state, record_id, buffer);
    if (state.FillBitmap) continue;
    state.Found = record_id;
    return true;
  }
}

// The whole range, keeping the match nearest to the current record in
// physical order.
bool TORBRecordSearch::ScanWithoutCurrentIndex(TScanState& state) {
  const TORBScanSearchCondition& start = FConditions.Item(FStart);
  const TORBScanSearchCondition* end = FEnd == -1 ? nullptr : &FConditions.Item(FEnd);
  TORBIndex* index = FTableData->IndexManager()->OpenIndex(start.IndexID);
  TORBBaseRecordManager* records = FTableData->RecordManager();
  std::unique_ptr<TORBIndexSearchInfo> search_info = index->CreateSearchInfo();
  uint8_t* buffer = state.Buffer.data();
  const TORBPageItemID current = FCursor->GetCurrentRecordID();
  if (state.Restart && state.Bitmap != nullptr && !state.FillBitmap) {
    FTableData->InitRecordBitmap(state.Bitmap, -1);
    state.Bitmap->SetSize(FTableData->GetBitmapRecordCount(FSessionID));
  }
  bool have_best = false;
  TORBPageItemID best{};
  TORBPageItemID record_id{};
  bool first_call = true;
  for (;;) {
    const bool restart = first_call;
    first_call = false;
    if (!index->FindRecord(FSessionID, restart, state.GoForward, &start, end, buffer, record_id, search_info.get()))
      break;
    const bool need_record = FCheckOthers || (state.Bitmap != nullptr && state.Bitmap->FIndexBased);
    if (need_record && FTableData->ReadRecordByID(FSessionID, record_id, buffer) != grrOK) continue;
    if (FCheckOthers && !IsRecordMatch(buffer)) continue;
    ShowInBitmap(state, record_id, buffer);
    if (state.FillBitmap) continue;
    if (!state.Restart) {
      const int side = records->CompareRecordID(record_id, current);
      if (state.GoForward ? side <= 0 : side >= 0) continue;
    }
    if (!have_best || (state.GoForward ? records->CompareRecordID(record_id, best) < 0
                                       : records->CompareRecordID(record_id, best) > 0)) {
      best = record_id;
      have_best = true;
    }
  }
  if (state.MayActivateBitmap && !state.FillBitmap) state.Bitmap->FActive = true;
  if (!have_best) return false;
  state.Found = best;
  return true;
}

// The whole range of the scan index, keeping the match nearest to the
// current record in the order of the cursor's index.
bool TORBRecordSearch::ScanOnOtherCurrentIndex(TScanState& state) {
  const TORBScanSearchCondition& start = FConditions.Item(FStart);
  const TORBScanSearchCondition* end = FEnd == -1 ? nullptr : &FConditions.Item(FEnd);
  TORBBaseIndexManager* indexes = FTableData->IndexManager();
  TORBIndex* index = indexes->OpenIndex(start.IndexID);
  const int32_t order_index_id = FCursor->GetIndexID();
  TORBIndex* order_index = indexes->OpenIndex(order_index_id);
  uint8_t* buffer = state.Buffer.data();

  std::unique_ptr<TORBIndexPosition> current;
  if (!state.Restart) {
    const TORBPageItemID current_id = FCursor->GetCurrentRecordID();
    if (FTableData->ReadRecordByID(FSessionID, current_id, buffer) != grrOK)
      RaisePosition(kErrPositionReadFailed, order_index_id, current_id);
    current = order_index->CreateIndexPosition();
    if (!order_index->GetIndexPosition(FSessionID, current_id, buffer, *current))
      RaisePosition(kErrPositionLookupFailed, order_index_id, current_id);
    TORBPageItemID at{};
    order_index->GetRecordIDByIndexPosition(FSessionID, *current, at);
    if (at != current_id) RaisePosition(kErrPositionLookupOther, order_index_id, current_id);
  }
  if (state.Restart && state.Bitmap != nullptr && !state.FillBitmap)
    FTableData->InitRecordBitmap(state.Bitmap, order_index_id);

  std::unique_ptr<TORBIndexSearchInfo> search_info = index->CreateSearchInfo();
  std::unique_ptr<TORBIndexPosition> best;
  std::unique_ptr<TORBIndexPosition> position = order_index->CreateIndexPosition();
  TORBPageItemID best_id{};
  TORBPageItemID record_id{};
  bool first_call = true;
  for (;;) {
    const bool restart = first_call;
    first_call = false;
    if (!index->FindRecord(FSessionID, restart, state.GoForward, &start, end, buffer, record_id, search_info.get()))
      break;
    if (FTableData->ReadRecordByID(FSessionID, record_id, buffer) != grrOK) continue;
    if (FCheckOthers && !IsRecordMatch(buffer)) continue;
    if (!order_index->GetIndexPosition(FSessionID, record_id, buffer, *position))
      RaisePosition(kErrFoundPositionFailed, order_index_id, record_id);
    if (state.Bitmap != nullptr) {
      if (state.Bitmap->FIndexBased && state.Bitmap->FIndexID == order_index_id)
        state.Bitmap->ShowRecord(order_index_id, *position);
      else
        ShowInBitmap(state, record_id, buffer);
    }
    if (state.FillBitmap) continue;
    if (current != nullptr) {
      const int side = order_index->CompareRecordPositionsInIndex(*position, *current);
      if (state.GoForward ? side <= 0 : side >= 0) continue;
    }
    if (best == nullptr) {
      best = order_index->CreateIndexPosition();
    } else {
      const int side = order_index->CompareRecordPositionsInIndex(*position, *best);
      if (state.GoForward ? side >= 0 : side <= 0) continue;
    }
    best->Assign(*position);
    best_id = record_id;
  }
  if (state.MayActivateBitmap && !state.FillBitmap) state.Bitmap->FActive = true;
  if (best == nullptr) return false;
  state.Found = best_id;
  return true;
}

}  // namespace orb
