#pragma once

// Conditions of a record search. TORBScanCondition is what an index range
// scan reads: the key (index columns of a memory-form record buffer), how
// many leading columns it compares, how it bounds the entries, and whether
// string columns compare as prefixes. TORBScanSearchCondition adds what the
// search needs around it: an expression evaluated per record instead of a
// key, the expression nodes an index condition was made from, and a key
// buffer of its own when the condition is copied.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/table/search_condition.h"

namespace orb {

class TORBExpression;
class TORBExprNode;

inline constexpr int32_t kErrScanConditionInvalid = 10388;
inline constexpr int32_t kErrScanConditionItemNo = 10413;
inline constexpr int32_t kErrScanConditionNil = 10414;

class TORBScanCondition {
 public:
  TORBSearchCondition Condition = scNone;
  // Borrowed; null for none.
  const uint8_t* KeyRecordBuffer = nullptr;
  int32_t KeyRecordBufferSize = 0;
  // Leading index columns compared; 0 or more than the index has: all.
  int32_t KeyFieldCount = 0;
  int32_t IndexID = -1;
  bool PartialCompare = false;
};

// One condition of a search: an index condition (IndexID set, no
// expression) or an expression condition (scNone, no key).
class TORBScanSearchCondition : public TORBScanCondition {
 public:
  // With `external_key_record_buffer` the key set later is borrowed.
  explicit TORBScanSearchCondition(bool external_key_record_buffer = false)
      : FExternalKeyRecordBuffer(external_key_record_buffer) {}
  // Copies are never external: the key is copied into an owned buffer.
  TORBScanSearchCondition(const TORBScanSearchCondition& source) { Assign(source); }
  TORBScanSearchCondition& operator=(const TORBScanSearchCondition& source) {
    if (this != &source) Assign(source);
    return *this;
  }
  ~TORBScanSearchCondition() = default;

  // Copies every field; a key buffer becomes an owned, zero-filled buffer
  // of the source's size holding the source's bytes.
  void Assign(const TORBScanSearchCondition& source);
  // Borrows `buffer` of `size` bytes as the key.
  void SetExternalKey(const uint8_t* buffer, int32_t size);
  // A new owned, zero-filled key of `size` bytes.
  uint8_t* AllocateKey(int32_t size);
  // Drops the key; an owned one is freed.
  void ClearKeyRecordBuffer();

  bool IsIndexCondition() const { return Expression == nullptr && IndexID != -1; }
  bool IsExpressionCondition() const { return Expression != nullptr; }
  // Same index, same comparison (not scNone) and same key field count; the
  // keys are compared by the caller.
  bool HasSameShape(const TORBScanSearchCondition& other) const {
    return IndexID == other.IndexID && Condition != scNone && Condition == other.Condition &&
           KeyFieldCount == other.KeyFieldCount && PartialCompare == other.PartialCompare;
  }

  TORBExpression* Expression = nullptr;
  bool CreatedFromExpression = false;
  // The index range of this condition holds exactly the records its parent
  // nodes accept, so once it bounds the scan the nodes need no evaluation
  // per record. False where the range holds more (null keys, for one).
  bool CoversParentNodes = false;
  // The expressions whose nodes the condition was made from, and the nodes
  // (conjuncts of those expressions), in parallel.
  std::vector<TORBExpression*> ParentExpressions;
  std::vector<const TORBExprNode*> ParentExpressionNodes;
  bool FExternalKeyRecordBuffer = false;

 private:
  std::vector<uint8_t> FOwnedKey;
};

// The conditions of one search, owned.
class TORBScanSearchConditionArray {
 public:
  int32_t Count() const { return static_cast<int32_t>(Items.size()); }
  TORBScanSearchCondition& Item(int32_t item_no) { return *Items.at(static_cast<size_t>(item_no)); }
  const TORBScanSearchCondition& Item(int32_t item_no) const { return *Items.at(static_cast<size_t>(item_no)); }

  // Outside 0 .. Count - 1 raises 10413; the later conditions move down.
  void Delete(int32_t item_no);
  // A condition evaluating `expression` per record.
  void AddExpression(TORBExpression* expression);
  // A copy of `condition`; one with neither expression nor index raises
  // 10388.
  void AddCondition(const TORBScanSearchCondition& condition);
  bool HasExpressions() const;

  std::vector<std::unique_ptr<TORBScanSearchCondition>> Items;
};

}  // namespace orb
