#pragma once

// One index condition of a record search: the key (index columns of a
// memory-form record buffer), how many leading columns it compares, how it
// bounds the entries, and whether string columns compare as prefixes.

#include <cstdint>

#include "engine/table/search_condition.h"

namespace orb {

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

}  // namespace orb
