#pragma once

// What every record navigation call reads and fills: the mode, the order
// (an index or physical), the position to start from and the record read.

#include <cstdint>

#include "engine/base/page_item_id.h"

namespace orb {

enum TORBGetRecordMode : uint8_t { grmCurrent = 0, grmNext = 1, grmPrior = 2 };

// grrError: the requested record does not exist (deleted meanwhile).
enum TORBGetRecordResult : uint8_t { grrOK = 0, grrBOF = 1, grrEOF = 2, grrError = 3 };

// Passed by reference through every navigation call; never stored.
struct TORBNavigationInfo {
  TORBGetRecordMode GetRecordMode = grmCurrent;
  // Object ID of the index whose order applies; -1 = physical order.
  int32_t IndexID = -1;
  // In: the position to start from; out: the record read.
  TORBPageItemID RecordID{};
  // Memory-form record buffer to fill.
  uint8_t* RecordBuffer = nullptr;
  // In and out: before the first record (BOF) / after the last (EOF).
  bool FirstPosition = false;
  bool LastPosition = false;
  TORBGetRecordResult GetRecordResult = grrOK;
};

}  // namespace orb
