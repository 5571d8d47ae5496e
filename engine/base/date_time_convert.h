#pragma once

#include <cstdint>

#include "engine/base/field_types.h"
#include "engine/base/host_field_type.h"

namespace orb {

// Engine dates are day numbers (0001-01-01 is day 1) and times are
// milliseconds since midnight; calendar arithmetic is integer only. The
// framework's floating TDateTime appears only in the conversions below.

// Day number of 9999-12-31, the last day a date can hold.
inline constexpr int32_t kORBMaxDayNumber = 3652059;

// Day number of a proleptic Gregorian date; false for a date outside
// 0001-01-01 to 9999-12-31 or one that does not exist (2024-02-30).
bool TryEncodeORBDate(int year, int month, int day, int32_t& day_number);
// Calendar date of a day number; false for a day number below 1 or past
// 9999-12-31.
bool TryDecodeORBDate(int32_t day_number, int& year, int& month, int& day);
// Milliseconds since midnight; false unless 0 <= hour < 24, minute and
// second < 60 and msec < 1000.
bool TryEncodeORBTime(int hour, int minute, int second, int msec, int32_t& time);
// Splits milliseconds since midnight (0 to 86399999).
void DecodeORBTime(int32_t time, int& hour, int& minute, int& second, int& msec);
bool IsLeapYear(int year);

// Splits a number of days into whole days (floored, so -1.25 is day -2 at
// 18:00) and milliseconds of the day, rounded to the nearest millisecond
// (a fraction that rounds up to a whole day moves to the next day). False
// for NaN, infinity and magnitudes of 2^62 days or more.
bool SplitDays(double days, int64_t& day, int32_t& ms);

// Conversions with the framework's date-time. A value whose day number
// does not fit 32 bits (and NaN or infinity) raises 30055.
int32_t DateToORBDate(TDateTime value);
TDateTime ORBDateToDate(int32_t day_number);
// Time of day of `value` in milliseconds, rounded; for a date before
// 1899-12-30 the fraction's magnitude is the time. A time that rounds up to
// midnight gives 0.
int32_t TimeToORBTime(TDateTime value);
TDateTime ORBTimeToTime(int32_t time);
// A time that rounds up to midnight moves to the next day.
TORBDateTime DateTimeToORBDateTime(TDateTime value);
// Dates before 1899-12-30 are negative with the time as the fraction's
// magnitude, as the framework counts them.
TDateTime ORBDateTimeToDateTime(const TORBDateTime& value);

}  // namespace orb
