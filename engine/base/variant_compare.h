#pragma once

// Value order: the one comparison of values of the engine's base types that
// indexes, filters, sorting and SQL share.

#include <cstdint>

#include "engine/base/field_types.h"

namespace orb {

enum TORBCompareResult : uint8_t {
  cmprEqual,
  cmprLower,
  cmprGreater,
  cmprLeftNull,
  cmprRightNull,
  cmprBothNull,
};

// Error codes of comparison.
inline constexpr int32_t kErrCompareIncompatible = 30044;
inline constexpr int32_t kErrCompareUnknownReturn = 30045;
inline constexpr int32_t kErrCompareUnicode = 30046;
inline constexpr int32_t kErrCompareUnknownType = 30047;
inline constexpr int32_t kErrCompareMissingData = 30140;

// One side of a comparison: a buffer in memory format, its size in bytes
// (-1: implied by the kind; strings then end at their terminator), its kind
// and its null flag.
struct TORBCompareOperand {
  const void* Data = nullptr;
  int32_t Size = -1;
  TORBBaseFieldType DataType = bftUnknown;
  bool IsNull = true;
};

// Compares two values. Nulls come first and no data is looked at for them.
// Values of different kinds (and clob values) meet in their common kind
// for comparison (date kinds win over strings). Strings compare by the
// engine's collation, over at most `partial_length` characters of each
// side when it is not -1, and never past either value's end.
TORBCompareResult CompareValueBuffers(const TORBCompareOperand& left, const TORBCompareOperand& right,
                                      int32_t partial_length, bool case_insensitive);

// The order of the result for sorting: -1, 0 or 1, nulls before values.
int CompareResultToOrder(TORBCompareResult result);

int CompareValueBuffersForOrder(const TORBCompareOperand& left, const TORBCompareOperand& right,
                                int32_t partial_length, bool case_insensitive);

}  // namespace orb
