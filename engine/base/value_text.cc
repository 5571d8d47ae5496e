#include "engine/base/value_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "engine/base/date_time_convert.h"
#include "engine/base/iso_date_parse.h"

namespace orb {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads 1 to `max_digits` digits at `pos`.
bool ReadNumber(std::string_view s, size_t& pos, int max_digits, int& value) {
  const size_t start = pos;
  value = 0;
  while (pos < s.size() && IsDigit(s[pos]) && pos - start < static_cast<size_t>(max_digits)) {
    value = value * 10 + (s[pos] - '0');
    ++pos;
  }
  return pos > start && (pos == s.size() || !IsDigit(s[pos]));
}

bool IsDateSeparator(char c) { return c == '-' || c == '/' || c == '.'; }

// Date at the start of `s`; `pos` ends after it.
bool ReadDate(std::string_view s, size_t& pos, int32_t& day) {
  int y, m, d;
  if (!ReadNumber(s, pos, 4, y)) return false;
  if (pos >= s.size() || !IsDateSeparator(s[pos++])) return false;
  if (!ReadNumber(s, pos, 2, m)) return false;
  if (pos >= s.size() || !IsDateSeparator(s[pos++])) return false;
  if (!ReadNumber(s, pos, 2, d)) return false;
  return TryEncodeORBDate(y, m, d, day);
}

// Time from `pos` to the end of `s`.
bool ReadTime(std::string_view s, size_t pos, int32_t& ms) {
  int h, n, sec = 0, frac = 0;
  if (!ReadNumber(s, pos, 2, h)) return false;
  if (pos >= s.size() || s[pos++] != ':') return false;
  if (!ReadNumber(s, pos, 2, n)) return false;
  if (pos < s.size()) {
    if (s[pos++] != ':' || !ReadNumber(s, pos, 2, sec)) return false;
    if (pos < s.size()) {
      if (s[pos++] != '.') return false;
      const size_t start = pos;
      if (!ReadNumber(s, pos, 3, frac)) return false;
      for (size_t digits = pos - start; digits < 3; ++digits) frac *= 10;
    }
  }
  return pos == s.size() && TryEncodeORBTime(h, n, sec, frac, ms);
}

std::string TwoDigits(int v) {
  char buf[3] = {static_cast<char>('0' + v / 10), static_cast<char>('0' + v % 10), 0};
  return buf;
}

template <class T>
std::string ShortestText(T v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

}  // namespace

std::optional<int64_t> ParseIntegerText(std::string_view s, bool wide) {
  s = Trim(s);
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) return std::nullopt;
  }
  if (s.empty()) return std::nullopt;
  int64_t v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v, 10);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  if (!wide && (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()))
    return std::nullopt;
  return v;
}

std::optional<double> ParseFloatText(std::string_view s) {
  s = Trim(s);
  if (!s.empty() && s.front() == '+') {
    s.remove_prefix(1);
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) return std::nullopt;
  }
  if (s.empty()) return std::nullopt;
  double v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::string FloatText(double v) { return ShortestText(v); }
std::string FloatText(float v) { return ShortestText(v); }

std::string CurrencyText(double v) {
  char buf[400];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 4);
  if (r.ec != std::errc()) return ShortestText(v);
  std::string text(buf, r.ptr);
  const size_t dot = text.find('.');
  if (dot != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  if (text == "-0") text = "0";
  return text;
}

std::optional<std::string> DateText(int32_t day) {
  int y, m, d;
  if (!TryDecodeORBDate(day, y, m, d)) return std::nullopt;
  // yyyy-mm-dd (the year is 1 to 9999), without printf: a dump writes one
  // per row.
  const char text[10] = {static_cast<char>('0' + y / 1000),     static_cast<char>('0' + y / 100 % 10),
                         static_cast<char>('0' + y / 10 % 10),  static_cast<char>('0' + y % 10),
                         '-',                                   static_cast<char>('0' + m / 10),
                         static_cast<char>('0' + m % 10),       '-',
                         static_cast<char>('0' + d / 10),       static_cast<char>('0' + d % 10)};
  return std::string(text, sizeof text);
}

std::string TimeText(int32_t ms) {
  int32_t t = ms % kMSecsPerDay;
  if (t < 0) t += kMSecsPerDay;
  int h, n, s, z;
  DecodeORBTime(t, h, n, s, z);
  std::string text = TwoDigits(h) + ":" + TwoDigits(n) + ":" + TwoDigits(s);
  if (z != 0) {
    char buf[8];
    std::snprintf(buf, sizeof buf, ".%03d", z);
    text += buf;
  }
  return text;
}

std::optional<std::string> DateTimeText(const TORBDateTime& v) {
  if (v.Date == kORBEmptyDate) return TimeText(v.Time);
  std::optional<std::string> text = DateText(v.Date);
  if (text && v.Time != 0) *text += " " + TimeText(v.Time);
  return text;
}

std::optional<TORBDateTime> ParseISODateText(std::string_view s) {
  TDateTime value;
  if (!ISODateStrToDate(s, value)) return std::nullopt;
  return DateTimeToORBDateTime(value);
}

std::optional<int32_t> ParseISOTimeText(std::string_view s) {
  TDateTime value;
  if (!ISOTimeStrToTime(s, value)) return std::nullopt;
  return TimeToORBTime(value);
}

std::optional<TORBDateTime> ParseISOTimeStampText(std::string_view s) {
  TDateTime value;
  if (!ISOTimeStampStrToDateTime(s, value)) return std::nullopt;
  return DateTimeToORBDateTime(value);
}

std::optional<TORBDateTime> ParseLocaleDateText(std::string_view s) {
  s = Trim(s);
  size_t pos = 0;
  int32_t day;
  if (!ReadDate(s, pos, day) || pos != s.size()) return std::nullopt;
  return TORBDateTime{day, 0};
}

std::optional<int32_t> ParseLocaleTimeText(std::string_view s) {
  s = Trim(s);
  int32_t ms;
  if (!ReadTime(s, 0, ms)) return std::nullopt;
  return ms;
}

std::optional<TORBDateTime> ParseLocaleDateTimeText(std::string_view s) {
  s = Trim(s);
  size_t pos = 0;
  int32_t day;
  if (!ReadDate(s, pos, day)) return std::nullopt;
  if (pos == s.size()) return TORBDateTime{day, 0};
  if (!IsBlank(s[pos])) return std::nullopt;
  while (pos < s.size() && IsBlank(s[pos])) ++pos;
  int32_t ms;
  if (!ReadTime(s, pos, ms)) return std::nullopt;
  return TORBDateTime{day, ms};
}

}  // namespace orb
