#include "components/host_date_time.h"

#include <cmath>
#include <cstdio>

#include "engine/base/date_time_convert.h"

namespace orb {

namespace {

// Milliseconds of `fraction` (0 <= fraction < 1, exact), rounded half up.
int64_t FractionToMSecs(double fraction) {
  if (fraction == 0) return 0;
  int exponent = 0;
  const double mantissa = std::frexp(fraction, &exponent);  // fraction = mantissa * 2^exponent
  const auto m = static_cast<uint64_t>(std::ldexp(mantissa, 53));
  const int shift = 53 - exponent;  // fraction = m / 2^shift, shift >= 53
  if (shift > 100) return 0;        // far below half a millisecond
  const unsigned __int128 product = static_cast<unsigned __int128>(m) * static_cast<uint64_t>(kMSecsPerDay);
  const unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
  return static_cast<int64_t>((product + half) >> shift);
}

bool ReadDigits(std::string_view s, size_t& pos, int count, int& value) {
  value = 0;
  for (int i = 0; i < count; ++i, ++pos) {
    if (pos >= s.size() || s[pos] < '0' || s[pos] > '9') return false;
    value = value * 10 + (s[pos] - '0');
  }
  return true;
}

bool ReadDate(std::string_view s, size_t& pos, int32_t& day_number) {
  int y, m, d;
  if (!ReadDigits(s, pos, 4, y) || pos >= s.size() || s[pos++] != '-') return false;
  if (!ReadDigits(s, pos, 2, m) || pos >= s.size() || s[pos++] != '-') return false;
  if (!ReadDigits(s, pos, 2, d)) return false;
  return TryEncodeORBDate(y, m, d, day_number);
}

bool ReadTime(std::string_view s, size_t& pos, int32_t& msecs) {
  int h, n, sec = 0, z = 0;
  if (!ReadDigits(s, pos, 2, h) || pos >= s.size() || s[pos++] != ':') return false;
  if (!ReadDigits(s, pos, 2, n)) return false;
  if (pos < s.size() && s[pos] == ':') {
    ++pos;
    if (!ReadDigits(s, pos, 2, sec)) return false;
    if (pos < s.size() && s[pos] == '.') {
      ++pos;
      if (!ReadDigits(s, pos, 3, z)) return false;
    }
  }
  return TryEncodeORBTime(h, n, sec, z, msecs);
}

}  // namespace

bool IsValidMoment(const TORBDateTime& moment) {
  return moment.Date >= 1 && moment.Date <= kORBMaxDayNumber && moment.Time >= 0 && moment.Time < kMSecsPerDay;
}

bool TryDateTimeToMoment(TDateTime value, TORBDateTime& moment) {
  if (!std::isfinite(value)) return false;
  const double whole = std::trunc(value);
  // 1899-12-30 is day kDateDelta; the valid range keeps |whole| small.
  if (whole < -kDateDelta || whole > kORBMaxDayNumber - kDateDelta) return false;
  int64_t day = static_cast<int64_t>(whole) + kDateDelta;
  int64_t ms = FractionToMSecs(std::fabs(value - whole));  // the subtraction is exact
  if (ms >= kMSecsPerDay) {
    ++day;
    ms = 0;
  }
  if (day < 1 || day > kORBMaxDayNumber) return false;
  moment = {static_cast<int32_t>(day), static_cast<int32_t>(ms)};
  return true;
}

TDateTime MomentToDateTime(const TORBDateTime& moment) {
  const int64_t day = static_cast<int64_t>(moment.Date) - kDateDelta;
  const int64_t total = day * kMSecsPerDay + (day < 0 ? -moment.Time : moment.Time);  // |total| < 2^53
  return static_cast<double>(total) / kMSecsPerDay;
}

int64_t MomentToMSecs(const TORBDateTime& moment) {
  return static_cast<int64_t>(moment.Date) * kMSecsPerDay + moment.Time;
}

TORBDateTime MSecsToMoment(int64_t msecs) {
  int64_t day = msecs / kMSecsPerDay;
  int64_t ms = msecs % kMSecsPerDay;
  if (ms < 0) {
    ms += kMSecsPerDay;
    --day;
  }
  return {static_cast<int32_t>(day), static_cast<int32_t>(ms)};
}

std::string DateToText(int32_t day_number) {
  int y = 0, m = 0, d = 0;
  if (!TryDecodeORBDate(day_number, y, m, d)) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", y, m, d);
  return text;
}

std::string TimeToText(int32_t msecs) {
  if (msecs < 0 || msecs >= kMSecsPerDay) return {};
  int h, n, s, z;
  DecodeORBTime(msecs, h, n, s, z);
  char text[16];
  if (z != 0)
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", h, n, s, z);
  else
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", h, n, s);
  return text;
}

std::string MomentToText(const TORBDateTime& moment) {
  return DateToText(moment.Date) + " " + TimeToText(moment.Time);
}

std::optional<TORBDateTime> TextToMoment(std::string_view text, bool allow_date, bool allow_time) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  TORBDateTime result;
  size_t pos = 0;
  const bool has_date = text.size() >= 10 && text[4] == '-';
  if (has_date) {
    if (!allow_date || !ReadDate(text, pos, result.Date)) return std::nullopt;
    if (pos < text.size()) {
      if (!allow_time || (text[pos] != ' ' && text[pos] != 'T')) return std::nullopt;
      ++pos;
      if (!ReadTime(text, pos, result.Time)) return std::nullopt;
    }
  } else {
    if (!allow_time || !ReadTime(text, pos, result.Time)) return std::nullopt;
    if (allow_date && !allow_time) return std::nullopt;
  }
  if (pos != text.size()) return std::nullopt;
  return result;
}

}  // namespace orb
