#pragma once

#include <string_view>

#include "engine/base/host_field_type.h"

namespace orb {

// Reads decimal digits of `s` from the 1-based position `pos` while they
// last, then moves `pos` past one more character (the separator). True when
// exactly `count` digits were read; `value` is their number.
bool ExtractNumericPart(std::string_view s, int count, int& value, int& pos);
bool ExtractNumericPart(std::u16string_view s, int count, int& value, int& pos);

// ISO text to the framework's date-time, milliseconds 0. Parts are 4-2-2
// digits (date), 2-2-2 (time) and 4-2-2-2-2-2 (time stamp), each followed by
// any one separator character. False when a part has the wrong number of
// digits, text remains, or the parts do not make a valid date or time.
bool ISODateStrToDate(std::string_view s, TDateTime& value);
bool ISODateStrToDate(std::u16string_view s, TDateTime& value);
bool ISOTimeStrToTime(std::string_view s, TDateTime& value);
bool ISOTimeStrToTime(std::u16string_view s, TDateTime& value);
bool ISOTimeStampStrToDateTime(std::string_view s, TDateTime& value);
bool ISOTimeStampStrToDateTime(std::u16string_view s, TDateTime& value);

}  // namespace orb
