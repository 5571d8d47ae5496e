#pragma once

// The framework's edge for dates and times. Inside, a moment is the
// engine's TORBDateTime (day number with 0001-01-01 as day 1, milliseconds
// since midnight). The floating TDateTime (days since 1899-12-30, the time
// as the fraction) exists only for callers that ask for it (AsDateTime),
// and every conversion here is exact:
//   - TDateTime -> moment: the whole part and the fraction are split
//     exactly, and the fraction becomes milliseconds with 128-bit integer
//     arithmetic, rounding half a millisecond up; a time that rounds up to
//     24:00 moves to the next day.
//   - moment -> TDateTime: one correctly rounded division of the exact
//     millisecond count, so every moment survives the round trip.
// Before 1899-12-30 the value is negative and the time is the magnitude of
// the fraction: -1.25 is 1899-12-29 06:00, and -0.5 (like 0.5) is
// 1899-12-30 12:00.
//
// Native buffer forms of date and time fields (what TField::GetData and
// the dataset's GetFieldData/SetFieldData carry):
//   ftDate                 int32  day number
//   ftTime                 int32  milliseconds since midnight
//   ftDateTime/ftTimeStamp int64  day number * 86400000 + milliseconds
// These are the engine's own day number and milliseconds, so a dataset
// moves its stored TORBDateTime into them with no floating step
// (MomentToMSecs / MSecsToMoment for the date-time form); 1899-12-30 is
// delivered as day 693594.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/base/field_types.h"
#include "engine/base/host_field_type.h"

namespace orb {

// False for NaN, infinity and values outside 0001-01-01 to 9999-12-31.
bool TryDateTimeToMoment(TDateTime value, TORBDateTime& moment);
// REQUIRES: 1 <= moment.Date <= kORBMaxDayNumber, 0 <= moment.Time < 86400000.
TDateTime MomentToDateTime(const TORBDateTime& moment);

// The int64 native form of ftDateTime and back (floored division).
int64_t MomentToMSecs(const TORBDateTime& moment);
TORBDateTime MSecsToMoment(int64_t msecs);
// A day number and time the calendar can hold.
bool IsValidMoment(const TORBDateTime& moment);

// Text forms: "yyyy-mm-dd", "hh:nn:ss" and "yyyy-mm-dd hh:nn:ss", with
// ".zzz" when the milliseconds are not 0.
std::string DateToText(int32_t day_number);
std::string TimeToText(int32_t msecs);
std::string MomentToText(const TORBDateTime& moment);
// Reads "yyyy-mm-dd", "hh:nn[:ss[.zzz]]" or both separated by a blank or
// 'T'; a date alone has time 0, a time alone has day 0. Nothing on
// malformed text or a date or time that does not exist.
std::optional<TORBDateTime> TextToMoment(std::string_view text, bool allow_date, bool allow_time);

}  // namespace orb
