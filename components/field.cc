#include "components/field.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "components/dataset.h"
#include "components/host_date_time.h"
#include "engine/base/date_time_convert.h"
#include "engine/platform/codepage.h"

namespace orb {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

bool ParseInt64(std::string_view text, int64_t& value) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseDouble(std::string_view text, double& value) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

std::string FormatDouble(double value) {
  char text[32];
  auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  return ec == std::errc() ? std::string(text, end) : std::string();
}

// Range of the native integer of a field type.
void IntegerTypeRange(TFieldType type, int64_t& low, int64_t& high) {
  switch (type) {
    case ftSmallint:
      low = INT16_MIN, high = INT16_MAX;
      break;
    case ftWord:
      low = 0, high = UINT16_MAX;
      break;
    case ftLargeint:
      low = INT64_MIN, high = INT64_MAX;
      break;
    default:
      low = INT32_MIN, high = INT32_MAX;
      break;
  }
}

[[noreturn]] void RangeError(const std::string& value, const TField& field, const std::string& low,
                             const std::string& high) {
  DatabaseErrorFmt(kSFieldRangeError, {value, Ansi(field.DisplayName()), low, high});
}

std::string ReadAll(TStream& stream) {
  std::string bytes;
  char chunk[4096];
  for (;;) {
    int64_t n = stream.Read(chunk, sizeof chunk);
    if (n <= 0) break;
    bytes.append(chunk, static_cast<size_t>(n));
  }
  return bytes;
}

}  // namespace

// --- TField ---

TField::TField(TFieldType data_type, int32_t size) : FDataType(data_type), FSize(size) {}

TField::~TField() = default;

void TField::SetFieldName(std::string name) {
  if (FDataSet && FDataSet->Active()) DatabaseError(std::string(kSDataSetOpen));
  FFieldName = std::move(name);
}

void TField::SetSize(int32_t size) {
  if (FDataSet && FDataSet->Active()) DatabaseError(std::string(kSDataSetOpen));
  FSize = size;
}

void TField::SetFieldKind(TFieldKind kind) {
  if (FDataSet && FDataSet->Active()) DatabaseError(std::string(kSDataSetOpen));
  FFieldKind = kind;
}

int TField::Index() const { return FDataSet ? FDataSet->Fields().IndexOf(*this) : -1; }

bool TField::CanModify() const {
  return !FReadOnly && FFieldKind == fkData && FDataSet && FDataSet->CanModify();
}

bool TField::IsBlob() const { return DataSize() == 0; }

bool TField::IsIndexField() const { return FDataSet && FFieldKind == fkData && FDataSet->GetIsIndexField(*this); }

TORBVariant TField::OldValue() const { return FDataSet ? FDataSet->ValueInState(*this, dsOldValue) : TORBVariant(); }

TORBVariant TField::NewValue() const { return FDataSet ? FDataSet->ValueInState(*this, dsNewValue) : TORBVariant(); }

bool TField::GetData(void* buffer) const {
  if (!FDataSet) DatabaseErrorFmt(kSDataSetMissing, {Ansi(DisplayName())});
  if (FValidating) {
    if (FValidateBuffer && buffer) std::memcpy(buffer, FValidateBuffer, DataSize());
    return FValidateBuffer != nullptr;
  }
  return FDataSet->GetFieldData(*this, buffer);
}

void TField::SetData(const void* buffer) {
  if (!FDataSet) DatabaseErrorFmt(kSDataSetMissing, {Ansi(DisplayName())});
  FDataSet->SetFieldData(*this, buffer);
}

void TField::Validate(const void* buffer) {
  if (!OnValidate) return;
  const void* saved_buffer = FValidateBuffer;
  const bool saved_validating = FValidating;
  FValidateBuffer = buffer;
  FValidating = true;
  try {
    OnValidate(*this);
  } catch (...) {
    FValidateBuffer = saved_buffer;
    FValidating = saved_validating;
    throw;
  }
  FValidateBuffer = saved_buffer;
  FValidating = saved_validating;
}

void TField::Change() {
  if (OnChange) OnChange(*this);
}

void TField::SetAsVariant(const TORBVariant& value) {
  if (value.IsNull())
    Clear();
  else
    SetVariantValue(value);
}

void TField::AccessError(std::string_view type_name) const {
  DatabaseErrorFmt(kSFieldAccessError, {Ansi(DisplayName()), type_name});
}

void TField::ConvertError(std::string_view fmt, std::string_view text) const {
  DatabaseErrorFmt(fmt, {Ansi(text), Ansi(DisplayName())});
}

std::string TField::GetAsString() const { AccessError("String"); }
void TField::SetAsStringValue(std::string_view) { AccessError("String"); }
int32_t TField::GetAsInteger() const { AccessError("Integer"); }
void TField::SetAsIntegerValue(int32_t) { AccessError("Integer"); }
int64_t TField::GetAsLargeInt() const { AccessError("LargeInt"); }
void TField::SetAsLargeIntValue(int64_t) { AccessError("LargeInt"); }
double TField::GetAsFloat() const { AccessError("Float"); }
void TField::SetAsFloatValue(double) { AccessError("Float"); }
bool TField::GetAsBoolean() const { AccessError("Boolean"); }
void TField::SetAsBooleanValue(bool) { AccessError("Boolean"); }
TDateTime TField::GetAsDateTime() const { AccessError("DateTime"); }
void TField::SetAsDateTimeValue(TDateTime) { AccessError("DateTime"); }
std::u16string TField::GetAsWideString() const { return AnsiToWide(GetAsString()); }
void TField::SetAsWideStringValue(std::u16string_view value) { SetAsStringValue(WideToAnsi(value)); }

// --- TStringField ---

TStringField::TStringField(int32_t size, TFieldType data_type) : TField(data_type, size) {}

std::string TStringField::GetAsString() const {
  std::vector<char> buffer(DataSize(), 0);
  if (!GetData(buffer.data())) return {};
  std::string text(buffer.data(), strnlen(buffer.data(), Size()));
  if (FixedChar())
    while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

void TStringField::SetAsStringValue(std::string_view value) {
  std::vector<char> buffer(DataSize(), 0);
  std::memcpy(buffer.data(), value.data(), std::min<size_t>(value.size(), Size()));
  SetData(buffer.data());
}

int32_t TStringField::GetAsInteger() const {
  int64_t v = GetAsLargeInt();
  if (v < INT32_MIN || v > INT32_MAX) ConvertError(kSInvalidIntegerValue, GetAsString());
  return static_cast<int32_t>(v);
}

void TStringField::SetAsIntegerValue(int32_t value) { SetAsStringValue(std::to_string(value)); }

int64_t TStringField::GetAsLargeInt() const {
  const std::string text = GetAsString();
  if (text.empty()) return 0;
  int64_t v = 0;
  if (!ParseInt64(text, v)) ConvertError(kSInvalidIntegerValue, text);
  return v;
}

void TStringField::SetAsLargeIntValue(int64_t value) { SetAsStringValue(std::to_string(value)); }

double TStringField::GetAsFloat() const {
  const std::string text = GetAsString();
  if (text.empty()) return 0;
  double v = 0;
  if (!ParseDouble(text, v)) ConvertError(kSInvalidFloatValue, text);
  return v;
}

void TStringField::SetAsFloatValue(double value) { SetAsStringValue(FormatDouble(value)); }

bool TStringField::GetAsBoolean() const {
  const std::string text = GetAsString();
  if (text.empty()) return false;
  switch (text[0]) {
    case 'T': case 't': case 'Y': case 'y': return true;
    case 'F': case 'f': case 'N': case 'n': return false;
    default: ConvertError(kSInvalidBoolValue, text);
  }
}

void TStringField::SetAsBooleanValue(bool value) { SetAsStringValue(value ? "T" : "F"); }

TDateTime TStringField::GetAsDateTime() const {
  const std::string text = GetAsString();
  if (text.empty()) return 0;
  std::optional<TORBDateTime> moment = TextToMoment(text, true, true);
  if (!moment || moment->Date == 0) ConvertError(kSInvalidDateTimeValue, text);
  return MomentToDateTime(*moment);
}

void TStringField::SetAsDateTimeValue(TDateTime value) {
  TORBDateTime moment;
  if (!TryDateTimeToMoment(value, moment)) ConvertError(kSInvalidDateTimeValue, FormatDouble(value));
  SetAsStringValue(MomentToText(moment));
}

TORBVariant TStringField::GetAsVariant() const {
  TORBVariant v;
  v.SetAsAnsiString(GetAsString());
  return v;
}

void TStringField::SetVariantValue(const TORBVariant& value) {
  if (value.IsWideStringDataType())
    SetAsWideStringValue(value.AsWideString());
  else
    SetAsStringValue(value.AsAnsiString());
}

// --- TWideStringField ---

TWideStringField::TWideStringField(int32_t size) : TField(ftWideString, size) {}

std::u16string TWideStringField::GetAsWideString() const {
  std::vector<char16_t> buffer(Size() + 1, 0);
  if (!GetData(buffer.data())) return {};
  size_t n = 0;
  while (n < static_cast<size_t>(Size()) && buffer[n] != 0) ++n;
  return std::u16string(buffer.data(), n);
}

void TWideStringField::SetAsWideStringValue(std::u16string_view value) {
  std::vector<char16_t> buffer(Size() + 1, 0);
  std::memcpy(buffer.data(), value.data(), std::min<size_t>(value.size(), Size()) * 2);
  SetData(buffer.data());
}

std::string TWideStringField::GetAsString() const { return WideToAnsi(GetAsWideString()); }
void TWideStringField::SetAsStringValue(std::string_view value) { SetAsWideStringValue(AnsiToWide(value)); }

TORBVariant TWideStringField::GetAsVariant() const {
  TORBVariant v;
  v.SetAsWideString(GetAsWideString());
  return v;
}

void TWideStringField::SetVariantValue(const TORBVariant& value) { SetAsWideStringValue(value.AsWideString()); }

// --- TIntegerField ---

TIntegerField::TIntegerField(TFieldType data_type) : TField(data_type, 0) {}

int32_t TIntegerField::DataSize() const {
  switch (DataType()) {
    case ftSmallint:
    case ftWord:
      return 2;
    case ftLargeint:
      return 8;
    default:
      return 4;
  }
}

int64_t TIntegerField::GetAsLargeInt() const {
  uint8_t buffer[8] = {};
  if (!GetData(buffer)) return 0;
  switch (DataType()) {
    case ftSmallint: {
      int16_t v;
      std::memcpy(&v, buffer, 2);
      return v;
    }
    case ftWord: {
      uint16_t v;
      std::memcpy(&v, buffer, 2);
      return v;
    }
    case ftLargeint: {
      int64_t v;
      std::memcpy(&v, buffer, 8);
      return v;
    }
    default: {
      int32_t v;
      std::memcpy(&v, buffer, 4);
      return v;
    }
  }
}

int32_t TIntegerField::GetAsInteger() const {
  int64_t v = GetAsLargeInt();
  if (v < INT32_MIN || v > INT32_MAX) AccessError("Integer");
  return static_cast<int32_t>(v);
}

void TIntegerField::SetAsLargeIntValue(int64_t value) {
  int64_t low, high;
  IntegerTypeRange(DataType(), low, high);
  if (FMinValue != 0 || FMaxValue != 0) low = std::max(low, FMinValue), high = std::min(high, FMaxValue);
  if (value < low || value > high)
    RangeError(std::to_string(value), *this, std::to_string(low), std::to_string(high));
  uint8_t buffer[8] = {};
  switch (DataType()) {
    case ftSmallint: {
      int16_t v = static_cast<int16_t>(value);
      std::memcpy(buffer, &v, 2);
      break;
    }
    case ftWord: {
      uint16_t v = static_cast<uint16_t>(value);
      std::memcpy(buffer, &v, 2);
      break;
    }
    case ftLargeint:
      std::memcpy(buffer, &value, 8);
      break;
    default: {
      int32_t v = static_cast<int32_t>(value);
      std::memcpy(buffer, &v, 4);
      break;
    }
  }
  SetData(buffer);
}

void TIntegerField::SetAsFloatValue(double value) {
  const double rounded = std::nearbyint(value);
  if (!(rounded >= -9223372036854775808.0 && rounded < 9223372036854775808.0))
    ConvertError(kSInvalidIntegerValue, FormatDouble(value));
  SetAsLargeIntValue(static_cast<int64_t>(rounded));
}

std::string TIntegerField::GetAsString() const { return IsNull() ? std::string() : std::to_string(GetAsLargeInt()); }

void TIntegerField::SetAsStringValue(std::string_view value) {
  if (Trim(value).empty()) return Clear();
  int64_t v = 0;
  if (!ParseInt64(value, v)) ConvertError(kSInvalidIntegerValue, value);
  SetAsLargeIntValue(v);
}

TORBVariant TIntegerField::GetAsVariant() const {
  TORBVariant v;
  const int64_t n = GetAsLargeInt();
  switch (DataType()) {
    case ftSmallint: v.SetAsSmallint(static_cast<int16_t>(n)); break;
    case ftWord: v.SetAsWord(static_cast<uint16_t>(n)); break;
    case ftLargeint: v.SetAsInt64(n); break;
    default: v.SetAsInteger(static_cast<int32_t>(n)); break;
  }
  return v;
}

void TIntegerField::SetVariantValue(const TORBVariant& value) {
  if (value.IsStringDataType())
    SetAsStringValue(value.AsAnsiString());
  else
    SetAsLargeIntValue(value.AsInt64());
}

// --- TFloatField ---

TFloatField::TFloatField(TFieldType data_type) : TField(data_type, 0) {}

double TFloatField::GetAsFloat() const {
  double v = 0;
  return GetData(&v) ? v : 0;
}

void TFloatField::SetAsFloatValue(double value) {
  if (!std::isfinite(value)) ConvertError(kSInvalidFloatValue, FormatDouble(value));
  if ((FMinValue != 0 || FMaxValue != 0) && (value < FMinValue || value > FMaxValue))
    RangeError(FormatDouble(value), *this, FormatDouble(FMinValue), FormatDouble(FMaxValue));
  SetData(&value);
}

int32_t TFloatField::GetAsInteger() const {
  const double v = std::nearbyint(GetAsFloat());
  if (v < INT32_MIN || v > INT32_MAX) AccessError("Integer");
  return static_cast<int32_t>(v);
}

int64_t TFloatField::GetAsLargeInt() const {
  const double v = std::nearbyint(GetAsFloat());
  if (!(v >= -9223372036854775808.0 && v < 9223372036854775808.0)) AccessError("LargeInt");
  return static_cast<int64_t>(v);
}

std::string TFloatField::GetAsString() const { return IsNull() ? std::string() : FormatDouble(GetAsFloat()); }

void TFloatField::SetAsStringValue(std::string_view value) {
  if (Trim(value).empty()) return Clear();
  double v = 0;
  if (!ParseDouble(value, v)) ConvertError(kSInvalidFloatValue, value);
  SetAsFloatValue(v);
}

TORBVariant TFloatField::GetAsVariant() const {
  TORBVariant v;
  v.SetAsDouble(GetAsFloat());
  return v;
}

void TFloatField::SetVariantValue(const TORBVariant& value) {
  if (value.IsStringDataType())
    SetAsStringValue(value.AsAnsiString());
  else
    SetAsFloatValue(value.AsDouble());
}

TORBVariant TCurrencyField::GetAsVariant() const {
  TORBVariant v;
  v.SetAsCurrency(GetAsFloat());
  return v;
}

// --- TBooleanField ---

TBooleanField::TBooleanField() : TField(ftBoolean, 0) {}

bool TBooleanField::GetAsBoolean() const {
  int16_t v = 0;
  return GetData(&v) && v != 0;
}

void TBooleanField::SetAsBooleanValue(bool value) {
  int16_t v = value ? 1 : 0;
  SetData(&v);
}

std::string TBooleanField::GetAsString() const {
  if (IsNull()) return {};
  return GetAsBoolean() ? "True" : "False";
}

void TBooleanField::SetAsStringValue(std::string_view value) {
  value = Trim(value);
  if (value.empty()) return Clear();
  if (SameName(value, "True"))
    SetAsBooleanValue(true);
  else if (SameName(value, "False"))
    SetAsBooleanValue(false);
  else
    ConvertError(kSInvalidBoolValue, value);
}

TORBVariant TBooleanField::GetAsVariant() const {
  TORBVariant v;
  v.SetAsBoolean(GetAsBoolean());
  return v;
}

void TBooleanField::SetVariantValue(const TORBVariant& value) {
  if (value.IsStringDataType())
    SetAsStringValue(value.AsAnsiString());
  else
    SetAsBooleanValue(value.AsBoolean());
}

// --- TDateTimeField ---

TDateTimeField::TDateTimeField(TFieldType data_type) : TField(data_type, 0) {}

TORBDateTime TDateTimeField::AsMoment() const {
  switch (DataType()) {
    case ftDate: {
      int32_t day = 0;
      return GetData(&day) ? TORBDateTime{day, 0} : TORBDateTime{};
    }
    case ftTime: {
      int32_t ms = 0;
      return GetData(&ms) ? TORBDateTime{0, ms} : TORBDateTime{};
    }
    default: {
      int64_t ms = 0;
      return GetData(&ms) ? MSecsToMoment(ms) : TORBDateTime{};
    }
  }
}

void TDateTimeField::SetAsMoment(const TORBDateTime& moment) {
  const auto invalid = [&] {
    ConvertError(kSInvalidDateTimeValue, std::to_string(moment.Date) + " " + std::to_string(moment.Time));
  };
  switch (DataType()) {
    case ftDate:
      if (moment.Date < 1 || moment.Date > kORBMaxDayNumber) invalid();
      SetData(&moment.Date);
      break;
    case ftTime:
      if (moment.Time < 0 || moment.Time >= kMSecsPerDay) invalid();
      SetData(&moment.Time);
      break;
    default: {
      if (!IsValidMoment(moment)) invalid();
      const int64_t ms = MomentToMSecs(moment);
      SetData(&ms);
      break;
    }
  }
}

TDateTime TDateTimeField::GetAsDateTime() const {
  if (IsNull()) return 0;
  TORBDateTime moment = AsMoment();
  if (DataType() == ftTime) return static_cast<double>(moment.Time) / kMSecsPerDay;
  return MomentToDateTime(moment);
}

void TDateTimeField::SetAsDateTimeValue(TDateTime value) {
  TORBDateTime moment;
  if (!TryDateTimeToMoment(value, moment)) ConvertError(kSInvalidDateTimeValue, FormatDouble(value));
  if (DataType() == ftDate) moment.Time = 0;  // the date part only
  SetAsMoment(moment);
}

std::string TDateTimeField::GetAsString() const {
  if (IsNull()) return {};
  const TORBDateTime moment = AsMoment();
  switch (DataType()) {
    case ftDate: return DateToText(moment.Date);
    case ftTime: return TimeToText(moment.Time);
    default: return MomentToText(moment);
  }
}

void TDateTimeField::SetAsStringValue(std::string_view value) {
  if (Trim(value).empty()) return Clear();
  std::optional<TORBDateTime> moment = TextToMoment(value, DataType() != ftTime, DataType() != ftDate);
  if (!moment) ConvertError(kSInvalidDateTimeValue, value);
  SetAsMoment(*moment);
}

TORBVariant TDateTimeField::GetAsVariant() const {
  TORBVariant v;
  const TORBDateTime moment = AsMoment();
  switch (DataType()) {
    case ftDate: v.SetAsORBDate(moment.Date); break;
    case ftTime: v.SetAsORBTime(moment.Time); break;
    default: v.SetAsORBDateTime(moment); break;
  }
  return v;
}

void TDateTimeField::SetVariantValue(const TORBVariant& value) {
  if (value.IsStringDataType()) return SetAsStringValue(value.AsAnsiString());
  switch (value.DataType()) {
    case bftDate: return SetAsMoment({value.AsORBDate(), 0});
    case bftTime: return SetAsMoment({0, value.AsORBTime()});
    case bftDateTime: return SetAsMoment(value.AsORBDateTime());
    default: return SetAsDateTimeValue(value.AsDouble());
  }
}

// --- TBytesField ---

TBytesField::TBytesField(TFieldType data_type, int32_t size) : TField(data_type, size) {}

std::string TBytesField::GetAsString() const {
  std::vector<char> buffer(DataSize(), 0);
  if (!GetData(buffer.data())) return {};
  if (DataType() != ftVarBytes) return std::string(buffer.data(), buffer.size());
  uint16_t length;
  std::memcpy(&length, buffer.data(), 2);
  return std::string(buffer.data() + 2, std::min<size_t>(length, Size()));
}

void TBytesField::SetAsStringValue(std::string_view value) {
  std::vector<char> buffer(DataSize(), 0);
  const size_t n = std::min<size_t>(value.size(), Size());
  if (DataType() == ftVarBytes) {
    const uint16_t length = static_cast<uint16_t>(n);
    std::memcpy(buffer.data(), &length, 2);
    std::memcpy(buffer.data() + 2, value.data(), n);
  } else {
    std::memcpy(buffer.data(), value.data(), n);
  }
  SetData(buffer.data());
}

TORBVariant TBytesField::GetAsVariant() const {
  TORBVariant v;
  const std::string bytes = GetAsString();
  v.SetData(bytes.data(), static_cast<int32_t>(bytes.size()), DataType() == ftVarBytes ? bftVarBytes : bftBytes, true);
  return v;
}

void TBytesField::SetVariantValue(const TORBVariant& value) {
  SetAsStringValue(std::string(static_cast<const char*>(value.Data()), value.DataSize()));
}

// --- TBlobField ---

TBlobField::TBlobField(TFieldType data_type) : TField(data_type, 0) {}

std::string TBlobField::AsBytes() const {
  if (!DataSet()) DatabaseErrorFmt(kSDataSetMissing, {Ansi(DisplayName())});
  std::unique_ptr<TStream> stream = DataSet()->CreateBlobStream(const_cast<TBlobField&>(*this), bmRead);
  return stream ? ReadAll(*stream) : std::string();
}

void TBlobField::SetAsBytes(std::string_view bytes) {
  if (!DataSet()) DatabaseErrorFmt(kSDataSetMissing, {Ansi(DisplayName())});
  std::unique_ptr<TStream> stream = DataSet()->CreateBlobStream(*this, bmWrite);
  if (!stream) AccessError("String");
  if (!bytes.empty() && stream->Write(bytes.data(), static_cast<int64_t>(bytes.size())) != static_cast<int64_t>(bytes.size()))
    DatabaseErrorFmt(kSFieldReadOnly, {Ansi(DisplayName())});
}

void TBlobField::Clear() {
  if (!DataSet()) DatabaseErrorFmt(kSDataSetMissing, {Ansi(DisplayName())});
  std::unique_ptr<TStream> stream = DataSet()->CreateBlobStream(*this, bmWrite);
  if (!stream) SetData(nullptr);
}

std::string TBlobField::GetAsString() const {
  if (DataType() != ftWideMemo) return AsBytes();
  return WideToAnsi(GetAsWideString());
}

void TBlobField::SetAsStringValue(std::string_view value) {
  if (DataType() == ftWideMemo) return SetAsWideStringValue(AnsiToWide(value));
  SetAsBytes(value);
}

std::u16string TBlobField::GetAsWideString() const {
  if (DataType() != ftWideMemo) return AnsiToWide(AsBytes());
  const std::string bytes = AsBytes();
  std::u16string text(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i)
    text[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) | static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
  return text;
}

void TBlobField::SetAsWideStringValue(std::u16string_view value) {
  if (DataType() != ftWideMemo) return SetAsBytes(WideToAnsi(value));
  std::string bytes(value.size() * 2, '\0');
  for (size_t i = 0; i < value.size(); ++i) {
    bytes[2 * i] = static_cast<char>(value[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<char>(value[i] >> 8);
  }
  SetAsBytes(bytes);
}

TORBVariant TBlobField::GetAsVariant() const {
  TORBVariant v;
  if (DataType() == ftWideMemo) {
    v.SetAsWideString(GetAsWideString());
    return v;
  }
  const std::string bytes = AsBytes();
  const bool text = DataType() == ftMemo || DataType() == ftFmtMemo;
  v.SetData(bytes.data(), static_cast<int32_t>(bytes.size()), text ? bftClob : bftBlob, true);
  return v;
}

void TBlobField::SetVariantValue(const TORBVariant& value) {
  if (value.IsWideStringDataType()) return SetAsWideStringValue(value.AsWideString());
  if (value.IsStringDataType()) return SetAsStringValue(value.AsAnsiString());
  SetAsBytes(std::string_view(static_cast<const char*>(value.Data()), value.DataSize()));
}

std::unique_ptr<TField> CreateFieldForType(TFieldType data_type, int32_t size) {
  switch (data_type) {
    case ftString: return std::make_unique<TStringField>(size, ftString);
    case ftFixedChar: return std::make_unique<TStringField>(size, ftFixedChar);
    case ftGuid: return std::make_unique<TGuidField>();
    case ftWideString: return std::make_unique<TWideStringField>(size);
    case ftSmallint: return std::make_unique<TSmallintField>();
    case ftInteger: return std::make_unique<TIntegerField>();
    case ftWord: return std::make_unique<TWordField>();
    case ftAutoInc: return std::make_unique<TAutoIncField>();
    case ftLargeint: return std::make_unique<TLargeintField>();
    case ftFloat: return std::make_unique<TFloatField>();
    case ftCurrency: return std::make_unique<TCurrencyField>();
    case ftBCD: return std::make_unique<TBCDField>();
    case ftBoolean: return std::make_unique<TBooleanField>();
    case ftDate: return std::make_unique<TDateField>();
    case ftTime: return std::make_unique<TTimeField>();
    case ftDateTime: return std::make_unique<TDateTimeField>();
    case ftTimeStamp: return std::make_unique<TSQLTimeStampField>();
    case ftBytes: return std::make_unique<TBytesField>(size);
    case ftVarBytes: return std::make_unique<TVarBytesField>(size);
    case ftMemo: return std::make_unique<TMemoField>();
    case ftFmtMemo: return std::make_unique<TBlobField>(ftFmtMemo);
    case ftWideMemo: return std::make_unique<TWideMemoField>();
    case ftGraphic: return std::make_unique<TGraphicField>();
    case ftBlob:
    case ftParadoxOle:
    case ftDBaseOle:
    case ftTypedBinary:
    case ftOraBlob:
    case ftOraClob:
      return std::make_unique<TBlobField>(data_type);
    default:
      return nullptr;
  }
}

// --- TFields ---

TField& TFields::operator[](int index) const {
  if (index < 0 || index >= Count()) DatabaseError(std::string(kSFieldIndexError));
  return *FList[index];
}

TField& TFields::Add(std::unique_ptr<TField> field) {
  if (FDataSet->Active()) DatabaseError(std::string(kSDataSetOpen));
  if (field->FieldName().empty()) DatabaseError(std::string(kSFieldNameMissing));
  if (FindField(field->FieldName())) DatabaseErrorFmt(kSDuplicateFieldName, {Ansi(field->FieldName())});
  field->FDataSet = FDataSet;
  FList.push_back(std::move(field));
  return *FList.back();
}

void TFields::Remove(TField& field) {
  if (FDataSet->Active()) DatabaseError(std::string(kSDataSetOpen));
  const int i = IndexOf(field);
  if (i >= 0) FList.erase(FList.begin() + i);
}

void TFields::Clear() { FList.clear(); }

int TFields::IndexOf(const TField& field) const {
  for (int i = 0; i < Count(); ++i)
    if (FList[i].get() == &field) return i;
  return -1;
}

TField* TFields::FindField(std::string_view name) const {
  for (const auto& field : FList)
    if (SameName(field->FieldName(), name)) return field.get();
  return nullptr;
}

TField& TFields::FieldByName(std::string_view name) const {
  TField* field = FindField(name);
  if (!field) DatabaseErrorFmt(kSFieldNotFound, {Ansi(name)});
  return *field;
}

TField* TFields::FieldByNumber(int32_t field_no) const {
  for (const auto& field : FList)
    if (field->FieldNo() == field_no) return field.get();
  return nullptr;
}

}  // namespace orb
