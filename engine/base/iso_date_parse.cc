#include "engine/base/iso_date_parse.h"

#include <array>
#include <cstdint>

#include "engine/base/date_time_convert.h"

namespace orb {

namespace {

template <typename Char>
bool ExtractPart(std::basic_string_view<Char> s, int count, int& value, int& pos) {
  int digits = 0;
  int v = 0;
  // Digits past `count` are counted but not accumulated, so a long run
  // cannot overflow.
  while (pos >= 1 && static_cast<size_t>(pos) <= s.size()) {
    Char c = s[pos - 1];
    if (c < '0' || c > '9') break;
    if (digits < count) v = v * 10 + (c - '0');
    ++digits;
    ++pos;
  }
  ++pos;
  if (digits != count) return false;
  value = v;
  return true;
}

template <typename Char, size_t N>
bool ExtractParts(std::basic_string_view<Char> s, const std::array<int, N>& counts, std::array<int, N>& values) {
  int pos = 1;
  for (size_t i = 0; i < N; ++i)
    if (!ExtractPart(s, counts[i], values[i], pos)) return false;
  return static_cast<size_t>(pos) > s.size();
}

template <typename Char>
bool ParseDate(std::basic_string_view<Char> s, TDateTime& value) {
  std::array<int, 3> v{};
  int32_t day;
  if (!ExtractParts(s, std::array<int, 3>{4, 2, 2}, v) || !TryEncodeORBDate(v[0], v[1], v[2], day)) return false;
  value = ORBDateToDate(day);
  return true;
}

template <typename Char>
bool ParseTime(std::basic_string_view<Char> s, TDateTime& value) {
  std::array<int, 3> v{};
  int32_t time;
  if (!ExtractParts(s, std::array<int, 3>{2, 2, 2}, v) || !TryEncodeORBTime(v[0], v[1], v[2], 0, time)) return false;
  value = ORBTimeToTime(time);
  return true;
}

template <typename Char>
bool ParseTimeStamp(std::basic_string_view<Char> s, TDateTime& value) {
  std::array<int, 6> v{};
  int32_t day, time;
  if (!ExtractParts(s, std::array<int, 6>{4, 2, 2, 2, 2, 2}, v) || !TryEncodeORBDate(v[0], v[1], v[2], day) ||
      !TryEncodeORBTime(v[3], v[4], v[5], 0, time))
    return false;
  value = ORBDateTimeToDateTime({day, time});
  return true;
}

}  // namespace

bool ExtractNumericPart(std::string_view s, int count, int& value, int& pos) {
  return ExtractPart(s, count, value, pos);
}
bool ExtractNumericPart(std::u16string_view s, int count, int& value, int& pos) {
  return ExtractPart(s, count, value, pos);
}

bool ISODateStrToDate(std::string_view s, TDateTime& value) { return ParseDate(s, value); }
bool ISODateStrToDate(std::u16string_view s, TDateTime& value) { return ParseDate(s, value); }
bool ISOTimeStrToTime(std::string_view s, TDateTime& value) { return ParseTime(s, value); }
bool ISOTimeStrToTime(std::u16string_view s, TDateTime& value) { return ParseTime(s, value); }
bool ISOTimeStampStrToDateTime(std::string_view s, TDateTime& value) { return ParseTimeStamp(s, value); }
bool ISOTimeStampStrToDateTime(std::u16string_view s, TDateTime& value) { return ParseTimeStamp(s, value); }

}  // namespace orb
