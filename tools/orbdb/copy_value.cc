#include "tools/orbdb/copy_value.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/base/value_text.h"
#include "engine/platform/codepage.h"
#include "tools/orbdb/copy_text.h"

namespace orbdb {
namespace {

using orb::TORBBaseFieldType;
using orb::TORBVariant;

[[noreturn]] void Invalid(std::string_view text, TORBBaseFieldType type) {
  throw CopyFormatError("'" + std::string(text) + "' is not a valid " + orb::WideToUtf8(orb::BftToStr(type)) +
                        " value");
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

TORBVariant CopyTextToValue(std::string_view text, TORBBaseFieldType type) {
  TORBVariant value(type);
  switch (type) {
    case orb::bftChar:
    case orb::bftVarchar:
      value.SetAsAnsiString(orb::Utf8ToAnsi(text));
      break;
    case orb::bftWideChar:
    case orb::bftWideVarchar:
      value.SetAsWideString(orb::Utf8ToWide(text));
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
      const std::optional<orb::TORBDateTime> date = orb::ParseISODateText(text);
      if (!date) Invalid(text, type);
      value.SetAsORBDate(date->Date);
      break;
    }
    case orb::bftTime: {
      const std::optional<int32_t> time = orb::ParseLocaleTimeText(text);
      if (!time) Invalid(text, type);
      value.SetAsORBTime(*time);
      break;
    }
    case orb::bftDateTime: {
      std::optional<orb::TORBDateTime> stamp = orb::ParseLocaleDateTimeText(text);
      if (!stamp) Invalid(text, type);
      value.SetAsORBDateTime(*stamp);
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
  return value;
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

std::string CopyTextToBlob(std::string_view text, TORBBaseFieldType type) {
  switch (type) {
    case orb::bftClob:
      return orb::Utf8ToAnsi(text);
    case orb::bftWideClob:
      return BytesFromWide(orb::Utf8ToWide(text));
    default:
      return ParseCopyBytes(text);
  }
}

}  // namespace orbdb
