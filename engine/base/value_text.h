#pragma once

// Text forms of values: the number parsers and formatters and the date and
// time text the value type uses when it converts between strings and other
// kinds. They do not depend on the user's locale:
//   numbers    '.' as decimal separator, shortest round-trip form
//   currency   rounded to four decimals, trailing zeros dropped
//   date       yyyy-mm-dd
//   time       hh:nn:ss, with .zzz when the milliseconds are not zero
//   date-time  date and time separated by one space; the time is left out
//              at midnight and the date for the empty date
// The parsers take surrounding blanks; dates accept '-', '/' or '.' between
// parts and 1 to 4 digit years, times 1 or 2 digit parts with optional
// seconds and fraction.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/base/field_types.h"

namespace orb {

// Decimal integer. With `wide` the 64-bit range, else the 32-bit range.
std::optional<int64_t> ParseIntegerText(std::string_view s, bool wide);
// Finite decimal number.
std::optional<double> ParseFloatText(std::string_view s);

std::string FloatText(double v);
std::string FloatText(float v);
std::string CurrencyText(double v);

// Empty for a day number outside 0001-01-01 to 9999-12-31.
std::optional<std::string> DateText(int32_t day);
// Time of day of `ms` (taken modulo one day).
std::string TimeText(int32_t ms);
// Empty when the date part has no text.
std::optional<std::string> DateTimeText(const TORBDateTime& v);

// ISO forms (yyyy-mm-dd, hh-nn-ss, yyyy-mm-dd hh-nn-ss with any one
// separator character between parts).
std::optional<TORBDateTime> ParseISODateText(std::string_view s);
std::optional<int32_t> ParseISOTimeText(std::string_view s);
std::optional<TORBDateTime> ParseISOTimeStampText(std::string_view s);

// The value type's own forms (above).
std::optional<TORBDateTime> ParseLocaleDateText(std::string_view s);
std::optional<int32_t> ParseLocaleTimeText(std::string_view s);
std::optional<TORBDateTime> ParseLocaleDateTimeText(std::string_view s);

}  // namespace orb
