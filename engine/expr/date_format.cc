#include "engine/expr/date_format.h"

#include <array>

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/platform/codepage.h"
#include "engine/platform/dataset_error.h"
#include "engine/expr/sql_names.h"
#include "engine/base/date_time_convert.h"

namespace orb {

namespace {

// Format words in matching order; index is the TDateFormatType value.
constexpr std::array<std::u16string_view, dfText> kWords = {
    u"YYYY", u"YY", u"YEAR", u"Q", u"MONTH", u"MON", u"MM", u"M", u"RM",
    u"DDD", u"DD", u"DAY", u"DY", u"DW", u"D",
    u"HH12", u"HH24", u"HH", u"H12", u"H24", u"H", u"NN", u"N", u"SS", u"S", u"AMPM",
};
constexpr size_t kLongestWord = 5;

constexpr std::array<std::u16string_view, 12> kLongMonths = {
    u"January", u"February", u"March", u"April", u"May", u"June",
    u"July", u"August", u"September", u"October", u"November", u"December"};
constexpr std::array<std::u16string_view, 12> kShortMonths = {
    u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun", u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
constexpr std::array<std::u16string_view, 12> kRomanMonths = {
    u"I", u"II", u"III", u"IV", u"V", u"VI", u"VII", u"VIII", u"IX", u"X", u"XI", u"XII"};
// Monday first.
constexpr std::array<std::u16string_view, 7> kLongDays = {
    u"Monday", u"Tuesday", u"Wednesday", u"Thursday", u"Friday", u"Saturday", u"Sunday"};
constexpr std::array<std::u16string_view, 7> kShortDays = {
    u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat", u"Sun"};

bool IsDateWord(TDateFormatType t) { return t <= dfD; }
bool IsTimeWord(TDateFormatType t) { return t >= dfHH12 && t <= dfAMPM; }

std::u16string Number(int value, int min_digits) {
  std::string s = std::to_string(value);
  while (static_cast<int>(s.size()) < min_digits) s.insert(s.begin(), '0');
  return std::u16string(s.begin(), s.end());
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Reads `count` characters at `pos` as a decimal number. Text that ends
// early or holds a non-digit fails like the platform's integer parser.
int ReadNumber(std::u16string_view text, size_t& pos, size_t count) {
  const std::u16string_view part = text.substr(std::min(pos, text.size()), count);
  bool ok = part.size() == count && count > 0;
  int value = 0;
  for (char16_t c : part) {
    if (!IsDigit(c)) {
      ok = false;
      break;
    }
    value = value * 10 + (c - u'0');
  }
  if (!ok) {
    throw Exception("'" + WideToUtf8(part) + "' is not a valid integer value");
  }
  pos += count;
  return value;
}

// One or two digits: two when the second character is a digit.
int ReadShortNumber(std::u16string_view text, size_t& pos) {
  const bool two = pos + 1 < text.size() && IsDigit(text[pos + 1]);
  return ReadNumber(text, pos, two ? 2 : 1);
}

}  // namespace

TDateFormater::TDateFormater(std::u16string_view format) {
  std::u16string literal;
  auto flush_literal = [&] {
    if (!literal.empty()) {
      FTokens.push_back({dfText, literal});
      literal.clear();
    }
  };
  size_t i = 0;
  while (i < format.size()) {
    const char16_t c = format[i];
    if (c == u'\'' || c == u'"') {
      const size_t end = format.find(c, i + 1);
      const size_t stop = end == std::u16string_view::npos ? format.size() : end;
      literal.append(format.substr(i + 1, stop - i - 1));
      i = stop == format.size() ? stop : stop + 1;
      continue;
    }
    bool matched = false;
    for (size_t len = std::min(kLongestWord, format.size() - i); len > 0 && !matched; --len) {
      const std::u16string upper = SqlNameUpper(format.substr(i, len));
      for (size_t w = 0; w < kWords.size(); ++w) {
        if (kWords[w] == upper) {
          flush_literal();
          FTokens.push_back({static_cast<TDateFormatType>(w), std::u16string(format.substr(i, len))});
          i += len;
          matched = true;
          break;
        }
      }
    }
    if (!matched) {
      literal.push_back(c);
      ++i;
    }
  }
  flush_literal();
}

std::u16string TDateFormater::ToString(const TORBDateTime& value) const {
  int year = 0, month = 0, day = 0;
  int32_t day_number = value.Date;
  if (!TryDecodeORBDate(day_number, year, month, day)) {
    // No date part: the framework's date 0.
    day_number = kDateDelta;
    TryDecodeORBDate(day_number, year, month, day);
  }
  int hour = 0, minute = 0, second = 0, msec = 0;
  const int32_t time = value.Time >= 0 && value.Time < kMSecsPerDay ? value.Time : 0;
  DecodeORBTime(time, hour, minute, second, msec);
  const int weekday = (day_number - 1) % 7;  // 0001-01-01 was a Monday
  int32_t jan1 = 0;
  TryEncodeORBDate(year, 1, 1, jan1);

  std::u16string out;
  for (const TDateFormatToken& t : FTokens) {
    switch (t.TokenType) {
      case dfYYYY: case dfYEAR: out += Number(year, 4); break;
      case dfYY: out += Number(year % 100, 2); break;
      case dfQ: out += Number((month - 1) / 3 + 1, 1); break;
      case dfMONTH: out += kLongMonths[static_cast<size_t>(month - 1)]; break;
      case dfMON: out += kShortMonths[static_cast<size_t>(month - 1)]; break;
      case dfMM: out += Number(month, 2); break;
      case dfM: out += Number(month, 1); break;
      case dfRM: out += kRomanMonths[static_cast<size_t>(month - 1)]; break;
      case dfDDD: out += kShortDays[static_cast<size_t>(weekday)]; break;
      case dfDD: out += Number(day, 2); break;
      case dfD: out += Number(day, 1); break;
      case dfDAY: out += kLongDays[static_cast<size_t>(weekday)]; break;
      case dfDY: out += Number(day_number - jan1 + 1, 1); break;
      case dfDW: out += Number(weekday + 1, 1); break;
      case dfHH12: case dfHH: out += Number(hour % 12, 2); break;
      case dfH12: case dfH: out += Number(hour % 12, 1); break;
      case dfHH24: out += Number(hour, 2); break;
      case dfH24: out += Number(hour, 1); break;
      case dfNN: out += Number(minute, 2); break;
      case dfN: out += Number(minute, 1); break;
      case dfSS: out += Number(second, 2); break;
      case dfS: out += Number(second, 1); break;
      case dfAMPM: out += hour > 11 ? u"PM" : u"AM"; break;
      case dfText: out += t.Text; break;
    }
  }
  return out;
}

TDateFormatReadResult TDateFormater::ToDate(std::u16string_view text) const {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  size_t pos = 0;
  for (const TDateFormatToken& t : FTokens) {
    switch (t.TokenType) {
      case dfYYYY: case dfYEAR: year = ReadNumber(text, pos, 4); break;
      case dfYY: {
        const int n = ReadNumber(text, pos, 2);
        year = n < 30 ? 2000 + n : 1900 + n;
        break;
      }
      case dfQ: month = (ReadNumber(text, pos, 1) - 1) * 3 + 1; break;
      case dfMM: month = ReadNumber(text, pos, 2); break;
      case dfDD: day = ReadNumber(text, pos, 2); break;
      case dfHH24: hour = ReadNumber(text, pos, 2); break;
      case dfNN: minute = ReadNumber(text, pos, 2); break;
      case dfSS: second = ReadNumber(text, pos, 2); break;
      case dfM: month = ReadShortNumber(text, pos); break;
      case dfD: day = ReadShortNumber(text, pos); break;
      case dfHH12: case dfHH: case dfH12: case dfH: case dfH24:
        hour = ReadShortNumber(text, pos);
        break;
      case dfN: minute = ReadShortNumber(text, pos); break;
      case dfS: second = ReadShortNumber(text, pos); break;
      case dfAMPM: {
        const std::u16string_view word = text.substr(std::min(pos, text.size()), 2);
        const std::u16string upper = SqlNameUpper(word);
        if (upper == u"PM") {
          if (hour < 12) hour += 12;
        } else if (upper == u"AM") {
          if (hour == 12) hour = 0;
        } else {
          RaiseORB(30129, "AM/PM word expected, but '%s' found", FormatArgs{std::u16string(word)});
        }
        pos += 2;
        break;
      }
      default:
        pos += t.Text.size();
        break;
    }
  }
  if (pos < text.size()) {
    RaiseORB(kErrDateTextNotConsumed, "Text '%s' does not match the date format: '%s' is left over",
             FormatArgs{std::u16string(text), std::u16string(text.substr(pos))});
  }
  TDateFormatReadResult result;
  result.HasDate = year != 0 && month != 0 && day != 0;
  result.Value.Date = kDateDelta;
  if (result.HasDate && !TryEncodeORBDate(year, month, day, result.Value.Date)) {
    throw Exception("'" + WideToUtf8(text) + "' is not a valid date");
  }
  if (!TryEncodeORBTime(hour, minute, second, 0, result.Value.Time)) {
    throw Exception("'" + WideToUtf8(text) + "' is not a valid time");
  }
  result.HasTime = result.Value.Time != 0;
  return result;
}

int32_t TDateFormater::GetStringMaxSize() const {
  int32_t size = 0;
  for (const TDateFormatToken& t : FTokens) {
    switch (t.TokenType) {
      case dfYYYY: case dfYEAR: case dfRM: case dfDY: size += 4; break;
      case dfQ: size += 1; break;
      case dfMONTH: size += 9; break;
      case dfMON: case dfDDD: size += 3; break;
      case dfDAY: size += 12; break;
      case dfText: size += static_cast<int32_t>(t.Text.size()); break;
      default: size += 2; break;
    }
  }
  return size;
}

TORBAdvancedFieldType TDateFormater::GetDataType() const {
  bool date = false, time = false;
  for (const TDateFormatToken& t : FTokens) {
    date |= IsDateWord(t.TokenType);
    time |= IsTimeWord(t.TokenType);
  }
  if (date && !time) return aftDate;
  if (time && !date) return aftTime;
  return aftDateTime;
}

}  // namespace orb
