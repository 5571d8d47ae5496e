#include "tools/orbdb/copy_value.h"

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/base/date_time_convert.h"
#include "engine/base/value_text.h"
#include "engine/platform/codepage.h"
#include "tools/orbdb/copy_text.h"

namespace orbdb {
namespace {

using orb::TORBBaseFieldType;
using orb::TORBVariant;

[[noreturn]] void Invalid(std::string_view text, TORBBaseFieldType type) {
  throw CopyFormatError(QuoteCopyValue(text) + " is not a valid " + orb::WideToUtf8(orb::BftToStr(type)) + " value");
}

[[noreturn]] void TextFault(std::string_view text, orb::TORBTextFault fault, size_t offset, bool wide) {
  switch (fault) {
    case orb::ctfInvalidUtf8:
      throw CopyFormatError(QuoteCopyValue(text) + " is not valid UTF-8 (at byte " + std::to_string(offset + 1) + ")");
    case orb::ctfNul:
      throw CopyFormatError(QuoteCopyValue(text) + " holds a NUL character, which text fields cannot store");
    default: {
      size_t end = offset + 1;
      while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
      throw CopyFormatError(QuoteCopyValue(text) + " holds '" + std::string(text.substr(offset, end - offset)) +
                            "', which is not in the code page of byte-string fields (Windows-1252)" +
                            (wide ? "" : "; wide types (WIDEVARCHAR, WIDEMEMO) hold every character"));
    }
  }
}

// `count` decimal digits at `at`, or -1.
int Digits(std::string_view text, size_t at, size_t count) {
  if (at + count > text.size()) return -1;
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// yyyy-mm-dd, exactly.
std::optional<int32_t> ParseCopyDate(std::string_view text) {
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  const int year = Digits(text, 0, 4);
  const int month = Digits(text, 5, 2);
  const int day = Digits(text, 8, 2);
  int32_t day_number = 0;
  if (year < 0 || month < 0 || day < 0 || !orb::TryEncodeORBDate(year, month, day, day_number)) return std::nullopt;
  return day_number;
}

// hh:nn:ss, then optionally '.' and one to three digits of the second.
std::optional<int32_t> ParseCopyTime(std::string_view text) {
  if (text.size() < 8 || text[2] != ':' || text[5] != ':') return std::nullopt;
  const int hour = Digits(text, 0, 2);
  const int minute = Digits(text, 3, 2);
  const int second = Digits(text, 6, 2);
  int msec = 0;
  if (text.size() > 8) {
    const size_t digits = text.size() - 9;
    if (text[8] != '.' || digits < 1 || digits > 3) return std::nullopt;
    msec = Digits(text, 9, digits);
    if (msec < 0) return std::nullopt;
    for (size_t i = digits; i < 3; ++i) msec *= 10;
  }
  int32_t time = 0;
  if (hour < 0 || minute < 0 || second < 0 || !orb::TryEncodeORBTime(hour, minute, second, msec, time)) {
    return std::nullopt;
  }
  return time;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

int64_t ParseInteger(std::string_view text, TORBBaseFieldType type, int64_t min, int64_t max) {
  const std::optional<int64_t> value = orb::ParseIntegerText(text, true);
  if (!value || *value < min || *value > max) Invalid(text, type);
  return *value;
}

std::u16string WideFromBytes(std::string_view bytes) {
  std::u16string wide(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < wide.size(); ++i) {
    wide[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                    (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
  }
  return wide;
}

std::string BytesFromWide(std::u16string_view wide) {
  std::string bytes(wide.size() * 2, '\0');
  for (size_t i = 0; i < wide.size(); ++i) {
    bytes[2 * i] = static_cast<char>(wide[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(wide[i] >> 8);
  }
  return bytes;
}

}  // namespace

std::optional<std::string> ValueToCopyText(const TORBVariant& value) {
  if (value.IsNull()) return std::nullopt;
  switch (value.DataType()) {
    case orb::bftChar:
    case orb::bftVarchar:
      return orb::AnsiToUtf8(value.AsAnsiString());
    case orb::bftWideChar:
    case orb::bftWideVarchar:
      return orb::WideToUtf8(value.AsWideString());
    case orb::bftSignedInt8:
    case orb::bftSignedInt16:
    case orb::bftSignedInt32:
    case orb::bftSignedInt64:
    case orb::bftUnsignedInt8:
    case orb::bftUnsignedInt16:
    case orb::bftUnsignedInt32:
      return std::to_string(value.AsInt64());
    case orb::bftSingle:
      return orb::FloatText(value.AsSingle());
    case orb::bftDouble:
    case orb::bftExtended:
      return orb::FloatText(value.AsDouble());
    case orb::bftCurrency:
      return orb::CurrencyText(value.AsCurrency());
    case orb::bftLogical:
      return std::string(value.AsBoolean() ? "t" : "f");
    case orb::bftDate: {
      std::optional<std::string> text = orb::DateText(value.AsORBDate());
      return text ? *text : std::string();
    }
    case orb::bftTime:
      return orb::TimeText(value.AsORBTime());
    case orb::bftDateTime: {
      std::optional<std::string> text = orb::DateTimeText(value.AsORBDateTime());
      return text ? *text : std::string();
    }
    case orb::bftBytes:
    case orb::bftVarBytes:
      return FormatCopyBytes(std::string_view(static_cast<const char*>(value.Data()), value.DataSize()));
    default:
      return orb::AnsiToUtf8(value.AsAnsiString());
  }
}

namespace {

// Code-page text as UTF-8, escaped; ASCII (the common case) in one step.
void AppendAnsiAsCopyText(std::string& line, std::string_view ansi) {
  for (char c : ansi) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      AppendCopyText(line, orb::AnsiToUtf8(ansi));
      return;
    }
  }
  AppendCopyText(line, ansi);
}

template <typename T>
void AppendNumber(std::string& line, T number) {
  char text[32];
  const auto result = std::to_chars(text, text + sizeof(text), number);
  line.append(text, result.ptr);
}

}  // namespace

void AppendValueCopyText(std::string& line, const TORBVariant& value) {
  if (value.IsNull()) {
    line += "\\N";
    return;
  }
  switch (value.DataType()) {
    case orb::bftChar:
    case orb::bftVarchar: {
      const auto* text = static_cast<const char*>(value.Data());
      AppendAnsiAsCopyText(line, std::string_view(text, text == nullptr ? 0 : strnlen(text, value.DataSize())));
      return;
    }
    case orb::bftSignedInt8:
    case orb::bftSignedInt16:
    case orb::bftSignedInt32:
    case orb::bftSignedInt64:
    case orb::bftUnsignedInt8:
    case orb::bftUnsignedInt16:
    case orb::bftUnsignedInt32:
      AppendNumber(line, value.AsInt64());
      return;
    default: {
      // Text forms without characters to escape except in strings.
      const std::optional<std::string> text = ValueToCopyText(value);
      AppendCopyField(line, text);
    }
  }
}

TORBVariant CopyTextToValue(std::string_view text, TORBBaseFieldType type) {
  TORBVariant value(type);
  CopyTextToValue(text, type, value);
  return value;
}

void CopyTextToValue(std::string_view text, TORBBaseFieldType type, TORBVariant& value) {
  switch (type) {
    case orb::bftChar:
    case orb::bftVarchar:
      value.SetAsAnsiString(CopyTextToAnsi(text));
      break;
    case orb::bftWideChar:
    case orb::bftWideVarchar:
      value.SetAsWideString(CopyTextToWide(text));
      break;
    case orb::bftSignedInt8:
      value.SetAsShortint(static_cast<int8_t>(ParseInteger(text, type, INT8_MIN, INT8_MAX)));
      break;
    case orb::bftSignedInt16:
      value.SetAsSmallint(static_cast<int16_t>(ParseInteger(text, type, INT16_MIN, INT16_MAX)));
      break;
    case orb::bftSignedInt32:
      value.SetAsInteger(static_cast<int32_t>(ParseInteger(text, type, INT32_MIN, INT32_MAX)));
      break;
    case orb::bftSignedInt64:
      value.SetAsInt64(ParseInteger(text, type, INT64_MIN, INT64_MAX));
      break;
    case orb::bftUnsignedInt8:
      value.SetAsByte(static_cast<uint8_t>(ParseInteger(text, type, 0, UINT8_MAX)));
      break;
    case orb::bftUnsignedInt16:
      value.SetAsWord(static_cast<uint16_t>(ParseInteger(text, type, 0, UINT16_MAX)));
      break;
    case orb::bftUnsignedInt32:
      value.SetAsCardinal(static_cast<uint32_t>(ParseInteger(text, type, 0, UINT32_MAX)));
      break;
    case orb::bftSingle:
    case orb::bftDouble:
    case orb::bftExtended:
    case orb::bftCurrency: {
      const std::optional<double> number = orb::ParseFloatText(text);
      if (!number) Invalid(text, type);
      if (type == orb::bftSingle) {
        if (std::abs(*number) > std::numeric_limits<float>::max()) Invalid(text, type);
        value.SetAsSingle(static_cast<float>(*number));
      } else if (type == orb::bftCurrency) {
        // Currency is written with four decimals: a value that would not
        // read back the same is refused.
        if (orb::ParseFloatText(orb::CurrencyText(*number)) != *number) {
          throw CopyFormatError(QuoteCopyValue(text) + " has more than four decimals, which CURRENCY does not keep");
        }
        value.SetAsCurrency(*number);
      } else {
        value.SetAsDouble(*number);
      }
      break;
    }
    case orb::bftLogical: {
      const std::string word = Lower(text);
      if (word == "t" || word == "true" || word == "yes" || word == "on" || word == "1" || word == "y") {
        value.SetAsBoolean(true);
      } else if (word == "f" || word == "false" || word == "no" || word == "off" || word == "0" || word == "n") {
        value.SetAsBoolean(false);
      } else {
        Invalid(text, type);
      }
      break;
    }
    case orb::bftDate: {
      const std::optional<int32_t> date = ParseCopyDate(text);
      if (!date) Invalid(text, type);
      value.SetAsORBDate(*date);
      break;
    }
    case orb::bftTime: {
      const std::optional<int32_t> time = ParseCopyTime(text);
      if (!time) Invalid(text, type);
      value.SetAsORBTime(*time);
      break;
    }
    case orb::bftDateTime: {
      // The date alone, or the date, one space and the time.
      orb::TORBDateTime stamp{};
      const std::optional<int32_t> date = ParseCopyDate(text.substr(0, 10));
      std::optional<int32_t> time = 0;
      if (text.size() > 10) {
        time = text[10] == ' ' ? ParseCopyTime(text.substr(11)) : std::nullopt;
      }
      if (!date || !time) Invalid(text, type);
      stamp.Date = *date;
      stamp.Time = *time;
      value.SetAsORBDateTime(stamp);
      break;
    }
    case orb::bftBytes:
    case orb::bftVarBytes: {
      const std::string bytes = ParseCopyBytes(text);
      value.SetData(bytes.data(), static_cast<int32_t>(bytes.size()), type, true);
      break;
    }
    default:
      Invalid(text, type);
  }
}

std::string BlobToCopyText(std::string_view bytes, TORBBaseFieldType type) {
  switch (type) {
    case orb::bftClob:
      return orb::AnsiToUtf8(bytes);
    case orb::bftWideClob:
      return orb::WideToUtf8(WideFromBytes(bytes));
    default:
      return FormatCopyBytes(bytes);
  }
}

std::string CopyTextToAnsi(std::string_view text) {
  std::string out;
  size_t offset = 0;
  const orb::TORBTextFault fault = orb::Utf8ToAnsiExact(text, out, offset);
  if (fault != orb::ctfNone) TextFault(text, fault, offset, false);
  return out;
}

std::u16string CopyTextToWide(std::string_view text) {
  std::u16string out;
  size_t offset = 0;
  const orb::TORBTextFault fault = orb::Utf8ToWideExact(text, out, offset);
  if (fault != orb::ctfNone) TextFault(text, fault, offset, true);
  return out;
}

std::string CopyTextToBlob(std::string_view text, TORBBaseFieldType type) {
  switch (type) {
    case orb::bftClob:
      return CopyTextToAnsi(text);
    case orb::bftWideClob:
      return BytesFromWide(CopyTextToWide(text));
    default:
      return ParseCopyBytes(text);
  }
}

}  // namespace orbdb
