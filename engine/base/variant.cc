#include "engine/base/variant.h"

#include <bit>
#include <cstring>
#include <memory>

#include "engine/base/orb_exception.h"
#include "engine/platform/byte_order.h"
#include "engine/platform/codepage.h"
#include "engine/base/date_time_convert.h"
#include "engine/base/stream.h"

namespace orb {

// Value buffers are streamed as they lie in memory.
static_assert(std::endian::native == std::endian::little);

namespace {

uint8_t* CopyBytes(const void* data, int32_t size) {
  uint8_t* p = new uint8_t[size > 0 ? size : 1];
  if (size > 0) std::memcpy(p, data, static_cast<size_t>(size));
  return p;
}

bool IsWideKind(TORBBaseFieldType t) { return t == bftWideChar || t == bftWideVarchar; }

}  // namespace

// ---------------------------------------------------------------------------
// Lifecycle

TORBVariant::TORBVariant(TORBBaseFieldType data_type) : FDataType(data_type) {}

TORBVariant::TORBVariant(const TORBVariant& other) { Assign(other, true); }

TORBVariant& TORBVariant::operator=(const TORBVariant& other) {
  if (this != &other) Assign(other, true);
  return *this;
}

TORBVariant::TORBVariant(TORBVariant&& other) noexcept
    : FDataType(other.FDataType),
      FDataSize(other.FDataSize),
      FPData(other.FPData),
      FIsDataLinked(other.FIsDataLinked),
      FIsNull(other.FIsNull) {
  other.FPData = nullptr;
  other.FDataSize = 0;
  other.FIsDataLinked = false;
  other.FIsNull = true;
}

TORBVariant& TORBVariant::operator=(TORBVariant&& other) noexcept {
  if (this != &other) {
    ReleaseBuffer();
    FDataType = other.FDataType;
    FDataSize = other.FDataSize;
    FPData = other.FPData;
    FIsDataLinked = other.FIsDataLinked;
    FIsNull = other.FIsNull;
    other.FPData = nullptr;
    other.FDataSize = 0;
    other.FIsDataLinked = false;
    other.FIsNull = true;
  }
  return *this;
}

TORBVariant::~TORBVariant() { ReleaseBuffer(); }

void TORBVariant::ReleaseBuffer() {
  if (!FIsDataLinked) delete[] FPData;
  FPData = nullptr;
  FIsDataLinked = false;
  FDataSize = 0;
}

void TORBVariant::Adopt(uint8_t* buffer, int32_t size, TORBBaseFieldType type) {
  ReleaseBuffer();
  FPData = buffer;
  FDataSize = size;
  FDataType = type;
  FIsNull = false;
}

void TORBVariant::Clear(TORBBaseFieldType data_type) {
  ReleaseBuffer();
  FDataType = data_type;
  FIsNull = true;
}

void TORBVariant::SetNull() { FIsNull = true; }

void TORBVariant::SetDataType(TORBBaseFieldType data_type) {
  if (IsNull()) {
    Clear(data_type);
    return;
  }
  try {
    Cast(data_type);
  } catch (const EORBException&) {
    Clear(data_type);
  }
}

void TORBVariant::Cast(TORBBaseFieldType new_data_type) {
  if (new_data_type == FDataType) return;
  if (IsNull()) {
    Clear(new_data_type);
    return;
  }
  int32_t size = 0;
  std::unique_ptr<uint8_t[]> buffer = CastToNewBuffer(FPData, FDataSize, FDataType, new_data_type, size);
  Adopt(buffer.release(), size, new_data_type);
}

void TORBVariant::Assign(const TORBVariant& source, bool copy_data) {
  if (&source == this) return;
  ReleaseBuffer();
  FDataType = source.FDataType;
  FIsNull = source.FIsNull;
  if (source.FPData == nullptr) return;
  FDataSize = source.FDataSize;
  if (copy_data) {
    FPData = CopyBytes(source.FPData, source.FDataSize);
  } else {
    FPData = source.FPData;
    FIsDataLinked = true;
  }
}

void TORBVariant::SetData(const void* buffer, int32_t size, TORBBaseFieldType data_type, bool copy_data) {
  if (buffer == nullptr || size < 0) {
    Clear(data_type);
    return;
  }
  if (copy_data) {
    if (FPData != nullptr && !FIsDataLinked && FDataSize == size) {
      if (FPData != buffer) std::memmove(FPData, buffer, static_cast<size_t>(size));
      FDataType = data_type;
      FIsNull = false;
      return;
    }
    Adopt(CopyBytes(buffer, size), size, data_type);
    return;
  }
  ReleaseBuffer();
  FPData = static_cast<uint8_t*>(const_cast<void*>(buffer));
  FIsDataLinked = true;
  FDataSize = size;
  FDataType = data_type;
  FIsNull = false;
}

bool TORBVariant::CopyDataToAddress(void* buffer, int32_t max_size) const {
  if (IsNull()) return false;
  if (IsStringDataType() && StrLen() <= 0) return false;
  if (max_size != -1 && max_size < FDataSize) RaiseORB(kErrBufferSizeExceeded, "Buffer size exceeded");
  std::memcpy(buffer, FPData, static_cast<size_t>(FDataSize));
  return true;
}

void TORBVariant::CheckDataForNull() const {
  if (IsNull()) RaiseORB(kErrValueIsNull, "Value is Null");
}

// ---------------------------------------------------------------------------
// Streaming

void TORBVariant::SaveToStream(TStream& stream) const {
  const uint8_t kind = FDataType;
  const uint8_t null_flag = IsNull() ? 1 : 0;
  SaveDataToStream(&kind, 1, stream, kErrSaveValueKind);
  SaveDataToStream(&null_flag, 1, stream, kErrSaveValueNull);
  if (null_flag) return;
  uint8_t size[4];
  StoreI32LE(size, FDataSize);
  SaveDataToStream(size, 4, stream, kErrSaveValueSize);
  SaveDataToStream(FPData, FDataSize, stream, kErrSaveValueData);
}

void TORBVariant::LoadFromStream(TStream& stream) {
  uint8_t kind = 0, null_flag = 0;
  LoadDataFromStream(&kind, 1, stream, kErrLoadValueKind);
  if (kind >= kBaseFieldTypeCount) RaiseORB(kErrLoadValueKind, "Invalid value kind %d in stream", {kind});
  const auto type = static_cast<TORBBaseFieldType>(kind);
  LoadDataFromStream(&null_flag, 1, stream, kErrLoadValueNull);
  if (null_flag != 0) {
    Clear(type);
    return;
  }
  uint8_t size_bytes[4];
  LoadDataFromStream(size_bytes, 4, stream, kErrLoadValueSize);
  const int32_t size = LoadI32LE(size_bytes);
  const int64_t remaining = stream.GetSize() - stream.GetPosition();
  const int32_t fixed = FixedValueSize(type);
  const int32_t unit = IsWideKind(type) ? 2 : 1;
  const bool terminated_kind = IsStringFieldType(type);
  bool valid = size >= 0 && size <= remaining;
  if (valid && fixed > 0) valid = size == fixed;
  if (valid && terminated_kind) valid = size >= unit && size % unit == 0;
  if (!valid)
    RaiseORB(kErrLoadValueSize, "Invalid value size %d in stream for type '%s'", {size, BftToStr(type)});
  std::unique_ptr<uint8_t[]> data(new uint8_t[size > 0 ? size : 1]);
  LoadDataFromStream(data.get(), size, stream, kErrLoadValueData);
  if (terminated_kind) {
    for (int32_t k = size - unit; k < size; ++k)
      if (data[k] != 0)
        RaiseORB(kErrLoadValueData, "Unterminated string value in stream for type '%s'", {BftToStr(type)});
  }
  Adopt(data.release(), size, type);
}

// ---------------------------------------------------------------------------
// Typed access

void TORBVariant::SetDataValue(const void* buffer, int32_t size, TORBBaseFieldType data_type) {
  const bool string_kind = IsStringFieldType(data_type);
  if (data_type == FDataType && FPData != nullptr && !FIsDataLinked && !string_kind && size == FDataSize) {
    std::memcpy(FPData, buffer, static_cast<size_t>(size));
    FIsNull = false;
    return;
  }
  ReleaseBuffer();
  FIsNull = true;
  if (FDataType == bftUnknown) FDataType = data_type;
  if (buffer == nullptr) return;
  if (string_kind) {
    const bool empty = IsWideKind(data_type) ? (size >= 0 && size < 2) || std::memcmp(buffer, u"", 2) == 0
                                             : size == 0 || *static_cast<const char*>(buffer) == 0;
    if (empty) return;
  }
  int32_t new_size = 0;
  std::unique_ptr<uint8_t[]> data = CastToNewBuffer(buffer, size, data_type, FDataType, new_size);
  Adopt(data.release(), new_size, FDataType);
}

void TORBVariant::GetDataValue(void* buffer, int32_t size, TORBBaseFieldType type) const {
  if (IsNull()) RaiseORB(kErrValueIsNull, "Value is Null");
  // A fixed-size value read as its own kind is its bytes: no conversion
  // buffer (what the cast would copy, with its checks passed).
  if (type == FDataType && type != bftUnknown && type != bftBFile) {
    const int32_t fixed = FixedValueSize(type);
    if (fixed > 0 && FDataSize >= fixed && size >= 0 && size <= fixed) {
      std::memcpy(buffer, FPData, static_cast<size_t>(size));
      return;
    }
  }
  int32_t new_size = 0;
  std::unique_ptr<uint8_t[]> data = CastToNewBuffer(FPData, FDataSize, FDataType, type, new_size);
  if (new_size < size) RaiseORB(kErrCastParse, "Cannot cast from '%s' to '%s'", {BftToStr(FDataType), BftToStr(type)});
  std::memcpy(buffer, data.get(), static_cast<size_t>(size));
}

std::string TORBVariant::AsAnsiString() const {
  if (IsNull()) return {};
  int32_t size = 0;
  std::unique_ptr<uint8_t[]> data = CastToNewBuffer(FPData, FDataSize, FDataType, bftVarchar, size);
  return std::string(reinterpret_cast<const char*>(data.get()));
}

std::u16string TORBVariant::AsWideString() const {
  if (IsNull()) return {};
  int32_t size = 0;
  std::unique_ptr<uint8_t[]> data = CastToNewBuffer(FPData, FDataSize, FDataType, bftWideVarchar, size);
  std::u16string s(static_cast<size_t>(size / 2 - 1), u'\0');
  std::memcpy(s.data(), data.get(), s.size() * 2);
  return s;
}

void TORBVariant::SetAsAnsiString(const std::string& v) {
  SetDataValue(v.c_str(), static_cast<int32_t>(v.size() + 1), bftVarchar);
}

void TORBVariant::SetAsWideString(const std::u16string& v) {
  SetDataValue(v.c_str(), static_cast<int32_t>((v.size() + 1) * 2), bftWideVarchar);
}

TDateTime TORBVariant::AsTDate() const { return ORBDateToDate(AsORBDate()); }
TDateTime TORBVariant::AsTTime() const { return ORBTimeToTime(AsORBTime()); }
TDateTime TORBVariant::AsTDateTime() const { return ORBDateTimeToDateTime(AsORBDateTime()); }
void TORBVariant::SetAsTDate(TDateTime v) { SetAsORBDate(DateToORBDate(v)); }
void TORBVariant::SetAsTTime(TDateTime v) { SetAsORBTime(TimeToORBTime(v)); }
void TORBVariant::SetAsTDateTime(TDateTime v) { SetAsORBDateTime(DateTimeToORBDateTime(v)); }

// ---------------------------------------------------------------------------
// Kinds

bool TORBVariant::IsNumericDataType() const { return IsNumericFieldType(FDataType); }
bool TORBVariant::IsStringDataType() const { return IsStringFieldType(FDataType); }
bool TORBVariant::IsWideStringDataType() const { return IsWideStringFieldType(FDataType); }
bool TORBVariant::IsBlobDataType() const { return IsBLOBFieldType(FDataType); }
bool TORBVariant::IsDateTimeDataType() const { return IsDateTimeFieldType(FDataType); }

int32_t TORBVariant::StrLen() const {
  if (IsNull() || !IsStringDataType()) return -1;
  int32_t n = 0;
  if (IsWideKind(FDataType)) {
    while ((n + 1) * 2 <= FDataSize && (FPData[2 * n] != 0 || FPData[2 * n + 1] != 0)) ++n;
  } else {
    while (n < FDataSize && FPData[n] != 0) ++n;
  }
  return n;
}

void TORBVariant::TryToReduceWideStringToAnsiString() {
  if (IsNull() || !IsWideStringDataType()) return;
  const std::u16string wide = AsWideString();
  const std::string ansi = WideToAnsi(wide);
  if (AnsiToWide(ansi) != wide) return;
  Adopt(CopyBytes(ansi.c_str(), static_cast<int32_t>(ansi.size() + 1)), static_cast<int32_t>(ansi.size() + 1),
        bftVarchar);
}

// ---------------------------------------------------------------------------
// Order

TORBCompareResult TORBVariant::Compare(const TORBVariant& value, bool true_false_null_logic, bool case_insensitive,
                                       bool partial_key) const {
  const TORBCompareOperand left{FPData, FDataSize, FDataType, IsNull()};
  const TORBCompareOperand right{value.FPData, value.FDataSize, value.FDataType, value.IsNull()};
  const TORBCompareResult r =
      CompareValueBuffers(left, right, partial_key ? value.StrLen() : -1, case_insensitive);
  if (true_false_null_logic) return r;
  switch (r) {
    case cmprLeftNull: return cmprLower;
    case cmprRightNull: return cmprGreater;
    case cmprBothNull: return cmprEqual;
    default: return r;
  }
}

}  // namespace orb
