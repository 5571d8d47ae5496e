#include "engine/base/date_time_convert.h"

#include <cmath>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"

namespace orb {

namespace {

const int kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

int DaysInMonth(int year, int month) { return month == 2 && IsLeapYear(year) ? 29 : kDaysInMonth[month - 1]; }

// Days before `year`-`month`-`day` counted from 0001-01-01 (which gives 0).
int32_t DaysBefore(int year, int month, int day) {
  int y = year - 1;
  int32_t days = y * 365 + y / 4 - y / 100 + y / 400;
  for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
  return days + day - 1;
}

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

bool TryEncodeORBDate(int year, int month, int day, int32_t& day_number) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    return false;
  day_number = DaysBefore(year, month, day) + 1;
  return true;
}

bool TryDecodeORBDate(int32_t day_number, int& year, int& month, int& day) {
  if (day_number < 1 || day_number > kORBMaxDayNumber) return false;
  int32_t d = day_number - 1;  // days since 0001-01-01
  int32_t n400 = d / 146097;
  d %= 146097;
  int32_t n100 = d / 36524;
  if (n100 == 4) n100 = 3;  // last day of a 400-year cycle
  d -= n100 * 36524;
  int32_t n4 = d / 1461;
  d %= 1461;
  int32_t n1 = d / 365;
  if (n1 == 4) n1 = 3;  // last day of a leap cycle
  d -= n1 * 365;
  year = static_cast<int>(n400 * 400 + n100 * 100 + n4 * 4 + n1 + 1);
  month = 1;
  while (d >= DaysInMonth(year, month)) d -= DaysInMonth(year, month++);
  day = static_cast<int>(d) + 1;
  return true;
}

bool TryEncodeORBTime(int hour, int minute, int second, int msec, int32_t& time) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 || msec > 999)
    return false;
  time = ((hour * 60 + minute) * 60 + second) * 1000 + msec;
  return true;
}

void DecodeORBTime(int32_t time, int& hour, int& minute, int& second, int& msec) {
  msec = time % 1000;
  time /= 1000;
  second = time % 60;
  time /= 60;
  minute = time % 60;
  hour = time / 60;
}

bool SplitDays(double days, int64_t& day, int32_t& ms) {
  constexpr double kLimit = 4611686018427387904.0;  // 2^62
  if (!std::isfinite(days) || days >= kLimit || days <= -kLimit) return false;
  const double whole = std::floor(days);
  day = static_cast<int64_t>(whole);
  const double rounded = std::round((days - whole) * kMSecsPerDay);
  if (rounded >= kMSecsPerDay) {
    ++day;
    ms = 0;
  } else {
    ms = static_cast<int32_t>(rounded);
  }
  return true;
}

int32_t DateToORBDate(TDateTime value) {
  double day = std::trunc(value) + kDateDelta;
  if (!std::isfinite(day) || day < INT32_MIN || day > INT32_MAX)
    RaiseORB(kErrDateTimeRange, "Date value out of range: %g", {value});
  return static_cast<int32_t>(day);
}

TDateTime ORBDateToDate(int32_t day_number) { return static_cast<double>(day_number) - kDateDelta; }

int32_t TimeToORBTime(TDateTime value) {
  if (!std::isfinite(value)) RaiseORB(kErrDateTimeRange, "Date value out of range: %g", {value});
  double ms = std::round(std::fabs(value - std::trunc(value)) * kMSecsPerDay);
  int32_t time = static_cast<int32_t>(ms);
  return time >= kMSecsPerDay ? 0 : time;
}

TDateTime ORBTimeToTime(int32_t time) {
  double t = static_cast<double>(time) / kMSecsPerDay;
  return t - std::trunc(t);
}

TORBDateTime DateTimeToORBDateTime(TDateTime value) {
  TORBDateTime result{DateToORBDate(value), 0};
  double ms = std::round(std::fabs(value - std::trunc(value)) * kMSecsPerDay);
  if (ms >= kMSecsPerDay) {
    if (result.Date == INT32_MAX) RaiseORB(kErrDateTimeRange, "Date value out of range: %g", {value});
    ++result.Date;
  } else {
    result.Time = static_cast<int32_t>(ms);
  }
  return result;
}

TDateTime ORBDateTimeToDateTime(const TORBDateTime& value) {
  TDateTime date = ORBDateToDate(value.Date);
  TDateTime time = ORBTimeToTime(value.Time);
  return date < 0 ? date - std::fabs(time) : date + time;
}

}  // namespace orb
