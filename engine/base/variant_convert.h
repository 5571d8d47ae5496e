#pragma once

// Type promotion and conversion between values of the engine's base types.
//
// A value buffer holds one value in memory format:
//   strings            zero-terminated, single-byte (Windows-1252) or UTF-16
//   integers, floats   native width, little-endian
//   date, time         32-bit day number / milliseconds since midnight
//   date-time          TORBDateTime (8 bytes)
//   logical            16-bit, 0 false
//   currency           double holding the amount
//   blob kinds         the content bytes

#include <cstdint>
#include <memory>
#include <string>

#include "engine/base/field_types.h"

namespace orb {

// Error codes of value conversion.
inline constexpr int32_t kErrCastParse = 30051;
inline constexpr int32_t kErrCastNoConversion = 30052;

// The kind in which a left and a right value meet, or bftUnknown when they
// cannot. With `prefer_date_time` a string meets a date, time or date-time
// as the date kind (comparison); without it as the string (arithmetic).
// The relation is not symmetric.
TORBBaseFieldType GetCommonDataType(TORBBaseFieldType left, TORBBaseFieldType right,
                                    bool prefer_date_time);

// Same for user types: the left type when the common base type is the
// left's base type, else the right one when it is the right's, else the
// user type of the common base type.
TORBAdvancedFieldType GetCommonDataType(TORBAdvancedFieldType left, TORBAdvancedFieldType right,
                                        bool prefer_date_time);

// Converts `data` of kind `from` into a new buffer in the memory format of
// `to`. `size` is the source size in bytes, or -1 when the kind implies it
// (zero-terminated strings, fixed-size kinds). Raises kErrCastParse when
// the source text does not parse and kErrCastNoConversion for a pair of
// kinds without a conversion.
std::unique_ptr<uint8_t[]> CastToNewBuffer(const void* data, int32_t size, TORBBaseFieldType from,
                                           TORBBaseFieldType to, int32_t& new_size);

}  // namespace orb
