#include "engine/data/scan_condition.h"

#include <algorithm>

#include "engine/base/orb_exception.h"

namespace orb {

void TORBScanSearchCondition::Assign(const TORBScanSearchCondition& source) {
  Condition = source.Condition;
  KeyFieldCount = source.KeyFieldCount;
  IndexID = source.IndexID;
  PartialCompare = source.PartialCompare;
  Expression = source.Expression;
  CreatedFromExpression = source.CreatedFromExpression;
  CoversParentNodes = source.CoversParentNodes;
  ParentExpressions = source.ParentExpressions;
  ParentExpressionNodes = source.ParentExpressionNodes;
  FExternalKeyRecordBuffer = false;
  if (source.KeyRecordBuffer == nullptr) {
    ClearKeyRecordBuffer();
    KeyRecordBufferSize = source.KeyRecordBufferSize;
    return;
  }
  // The source may be this condition's own key: copy before replacing.
  std::vector<uint8_t> copy(source.KeyRecordBuffer,
                            source.KeyRecordBuffer + std::max(source.KeyRecordBufferSize, 0));
  FOwnedKey = std::move(copy);
  if (FOwnedKey.empty()) FOwnedKey.resize(1, 0);
  KeyRecordBuffer = FOwnedKey.data();
  KeyRecordBufferSize = source.KeyRecordBufferSize;
}

void TORBScanSearchCondition::SetExternalKey(const uint8_t* buffer, int32_t size) {
  FOwnedKey.clear();
  FExternalKeyRecordBuffer = true;
  KeyRecordBuffer = buffer;
  KeyRecordBufferSize = size;
}

uint8_t* TORBScanSearchCondition::AllocateKey(int32_t size) {
  FExternalKeyRecordBuffer = false;
  FOwnedKey.assign(static_cast<size_t>(std::max(size, 1)), 0);
  KeyRecordBuffer = FOwnedKey.data();
  KeyRecordBufferSize = size;
  return FOwnedKey.data();
}

void TORBScanSearchCondition::ClearKeyRecordBuffer() {
  FOwnedKey.clear();
  FOwnedKey.shrink_to_fit();
  KeyRecordBuffer = nullptr;
  KeyRecordBufferSize = 0;
}

void TORBScanSearchConditionArray::Delete(int32_t item_no) {
  if (item_no < 0 || item_no >= Count())
    RaiseORB(kErrScanConditionItemNo, "Invalid item number - ItemNo = %d, ItemCount = %d", {item_no, Count()});
  if (Items[static_cast<size_t>(item_no)] == nullptr) RaiseORB(kErrScanConditionNil, kMsgNilPointer);
  Items.erase(Items.begin() + item_no);
}

void TORBScanSearchConditionArray::AddExpression(TORBExpression* expression) {
  auto condition = std::make_unique<TORBScanSearchCondition>();
  condition->Expression = expression;
  Items.push_back(std::move(condition));
}

void TORBScanSearchConditionArray::AddCondition(const TORBScanSearchCondition& condition) {
  if (condition.Expression == nullptr && condition.IndexID == -1)
    RaiseORB(kErrScanConditionInvalid, "Invalid scan condition - indexID = %d, count = %d",
             {condition.IndexID, Count()});
  Items.push_back(std::make_unique<TORBScanSearchCondition>(condition));
}

bool TORBScanSearchConditionArray::HasExpressions() const {
  return std::any_of(Items.begin(), Items.end(), [](const auto& c) { return c->IsExpressionCondition(); });
}

}  // namespace orb
