#include "engine/base/error_codes.h"
#include "engine/base/field_data.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>

#include "engine/base/orb_exception.h"
#include "engine/platform/byte_order.h"

namespace orb {

namespace {


// Width of the framework's integer buffer for an integer field, 0 for
// other types.
int32_t HostIntegerSize(TORBAdvancedFieldType aft) {
  switch (aft) {
    case aftShortint:
    case aftSmallint:
    case aftByte:
    case aftWord:
      return 2;
    case aftInteger:
    case aftAutoInc:
    case aftAutoIncShortint:
    case aftAutoIncSmallint:
    case aftAutoIncInteger:
    case aftAutoIncByte:
    case aftAutoIncWord:
    case aftAutoIncCardinal:
      return 4;
    case aftLargeint:
    case aftCardinal:
    case aftAutoIncLargeint:
      return 8;
    default:
      return 0;
  }
}

void WriteHostInteger(int64_t value, int32_t size, void* buffer) {
  if (size == 2) {
    int16_t v = static_cast<int16_t>(value);
    std::memcpy(buffer, &v, sizeof v);
  } else if (size == 4) {
    int32_t v = static_cast<int32_t>(value);
    std::memcpy(buffer, &v, sizeof v);
  } else {
    std::memcpy(buffer, &value, sizeof value);
  }
}

int64_t ReadHostInteger(int32_t size, const void* buffer) {
  if (size == 2) {
    int16_t v;
    std::memcpy(&v, buffer, sizeof v);
    return v;
  }
  if (size == 4) {
    int32_t v;
    std::memcpy(&v, buffer, sizeof v);
    return v;
  }
  int64_t v;
  std::memcpy(&v, buffer, sizeof v);
  return v;
}

// Copies a zero-terminated string of `unit`-byte characters into a field of
// `field_size` bytes, cutting it to leave room for the terminator, and
// zeroes the rest of the field.
void StoreString(const uint8_t* src, int32_t src_size, int32_t unit, int32_t field_size, uint8_t* dest) {
  int32_t max_units = field_size / unit - 1;
  if (src_size >= 0 && src_size / unit < max_units) max_units = src_size / unit;
  int32_t units = 0;
  while (units < max_units) {
    bool zero = true;
    for (int32_t b = 0; b < unit; ++b) zero = zero && src[units * unit + b] == 0;
    if (zero) break;
    ++units;
  }
  std::memcpy(dest, src, static_cast<size_t>(units * unit));
  std::memset(dest + units * unit, 0, static_cast<size_t>(field_size - units * unit));
}

bool IsEmptyString(const TORBFieldLayout& field, const void* buffer) {
  const auto* p = static_cast<const uint8_t*>(buffer);
  switch (field.AdvancedFieldType) {
    case aftChar:
    case aftString:
    case aftGuid:
      return p[0] == 0;
    case aftWideChar:
    case aftWideString:
      return p[0] == 0 && p[1] == 0;
    default:
      return false;
  }
}

}  // namespace

bool IsStoredIntegerType(TORBBaseFieldType type) { return type >= bftSignedInt8 && type <= bftUnsignedInt32; }

int64_t ReadStoredInteger(TORBBaseFieldType type, const uint8_t* data) {
  switch (type) {
    case bftSignedInt8: return static_cast<int8_t>(data[0]);
    case bftSignedInt16: return LoadI16LE(data);
    case bftSignedInt32: return LoadI32LE(data);
    case bftSignedInt64: return LoadI64LE(data);
    case bftUnsignedInt8: return data[0];
    case bftUnsignedInt16: return LoadU16LE(data);
    case bftUnsignedInt32: return LoadU32LE(data);
    default: return 0;
  }
}

void WriteStoredInteger(TORBBaseFieldType type, int64_t value, uint8_t* data) {
  const auto u = static_cast<uint64_t>(value);
  switch (type) {
    case bftSignedInt8:
    case bftUnsignedInt8: data[0] = static_cast<uint8_t>(u); break;
    case bftSignedInt16:
    case bftUnsignedInt16: StoreU16LE(data, static_cast<uint16_t>(u)); break;
    case bftSignedInt32:
    case bftUnsignedInt32: StoreU32LE(data, static_cast<uint32_t>(u)); break;
    case bftSignedInt64: StoreU64LE(data, u); break;
    default: break;
  }
}

int64_t StoredIntegerMin(TORBBaseFieldType type) {
  switch (type) {
    case bftSignedInt8: return INT8_MIN;
    case bftSignedInt16: return INT16_MIN;
    case bftSignedInt32: return INT32_MIN;
    case bftSignedInt64: return INT64_MIN;
    default: return 0;
  }
}

int64_t StoredIntegerMax(TORBBaseFieldType type) {
  switch (type) {
    case bftSignedInt8: return INT8_MAX;
    case bftSignedInt16: return INT16_MAX;
    case bftSignedInt32: return INT32_MAX;
    case bftSignedInt64: return INT64_MAX;
    case bftUnsignedInt8: return UINT8_MAX;
    case bftUnsignedInt16: return UINT16_MAX;
    case bftUnsignedInt32: return UINT32_MAX;
    default: return 0;
  }
}

int32_t GetHostDataSize(const TORBFieldLayout& field) {
  if (IsBLOBFieldType(field.BaseFieldType)) return 0;
  if (int32_t size = HostIntegerSize(field.AdvancedFieldType)) return size;
  if (field.AdvancedFieldType == aftSingle || field.AdvancedFieldType == aftExtended) return 8;
  return field.MemoryDataSize;
}

bool GetFieldData(int32_t field_no, const TORBFieldLayout& field, void* buffer, const uint8_t* record_buffer) {
  if (CheckNullFlag(field_no, record_buffer)) return false;
  if (buffer == nullptr || IsBLOBFieldType(field.BaseFieldType)) return true;
  const uint8_t* data = record_buffer + field.MemoryOffset;
  if (int32_t size = HostIntegerSize(field.AdvancedFieldType)) {
    WriteHostInteger(ReadStoredInteger(field.BaseFieldType, data), size, buffer);
  } else if (field.AdvancedFieldType == aftSingle) {
    uint32_t bits = LoadU32LE(data);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    double d = f;
    std::memcpy(buffer, &d, sizeof d);
  } else {
    std::memcpy(buffer, data, static_cast<size_t>(field.MemoryDataSize));
  }
  return true;
}

void SetFieldData(int32_t field_no, const TORBFieldLayout& field, const void* buffer, uint8_t* record_buffer) {
  if (buffer == nullptr || IsEmptyString(field, buffer)) {
    SetNullFlag(true, field_no, record_buffer);
    return;
  }
  SetNullFlag(false, field_no, record_buffer);
  uint8_t* data = record_buffer + field.MemoryOffset;
  const auto* src = static_cast<const uint8_t*>(buffer);
  if (int32_t size = HostIntegerSize(field.AdvancedFieldType)) {
    WriteStoredInteger(field.BaseFieldType, ReadHostInteger(size, buffer), data);
  } else if (field.AdvancedFieldType == aftSingle) {
    double d;
    std::memcpy(&d, buffer, sizeof d);
    // A finite double beyond the single range becomes an infinity.
    float f = static_cast<float>(std::numeric_limits<float>::infinity());
    if (!std::isfinite(d) || std::fabs(d) <= FLT_MAX)
      f = static_cast<float>(d);
    else if (d < 0)
      f = -f;
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    StoreU32LE(data, bits);
  } else if (IsStringFieldType(field.BaseFieldType)) {
    StoreString(src, -1, IsWideStringFieldType(field.BaseFieldType) ? 2 : 1, field.MemoryDataSize, data);
  } else if (!IsBLOBFieldType(field.BaseFieldType)) {
    std::memcpy(data, src, static_cast<size_t>(field.MemoryDataSize));
  }
}

void StoreFieldValue(int32_t field_no, const TORBFieldLayout& field, const void* data, int32_t size,
                     uint8_t* record_buffer) {
  uint8_t* dest = record_buffer + field.MemoryOffset;
  const auto* src = static_cast<const uint8_t*>(data);
  if (size < 0) size = 0;
  if (IsStringFieldType(field.BaseFieldType)) {
    StoreString(src, size, IsWideStringFieldType(field.BaseFieldType) ? 2 : 1, field.MemoryDataSize, dest);
  } else {
    const int32_t n = size < field.MemoryDataSize ? size : field.MemoryDataSize;
    std::memcpy(dest, src, static_cast<size_t>(n));
    std::memset(dest + n, 0, static_cast<size_t>(field.MemoryDataSize - n));
  }
  SetNullFlag(false, field_no, record_buffer);
}

namespace {


const TORBFieldLayout& CheckedField(int32_t field_no, const TORBRecordLayout& layout, bool get) {
  const int32_t range_code = get ? 10000 : 10004;
  if (field_no < 0 || field_no >= layout.FieldCount())
    RaiseORB(range_code, kMsgInvalidFieldNumber, {field_no, layout.FieldCount()});
  const TORBFieldLayout& f = layout.Field(field_no);
  if (f.MemoryOffset < layout.NullBitmapSize() || f.MemoryDataSize < 0 ||
      static_cast<int64_t>(f.MemoryOffset) + f.MemoryDataSize > layout.MemoryRecordSize())
    RaiseORB(get ? 10002 : kErrSetFieldBounds,
             get ? "Error getting field data - FieldNo = %d, MemoryOffset = %d, MemoryDataSize = %d"
                 : "Error setting field data - FieldNo = %d, MemoryOffset = %d, MemoryDataSize = %d",
             {field_no, f.MemoryOffset, f.MemoryDataSize});
  return f;
}

}  // namespace

bool GetFieldData(int32_t field_no, const TORBRecordLayout& layout, void* buffer, const uint8_t* record_buffer) {
  const TORBFieldLayout& f = CheckedField(field_no, layout, true);
  if (record_buffer == nullptr) RaiseORB(10003, kMsgNilPointer);
  return GetFieldData(field_no, f, buffer, record_buffer);
}

void SetFieldData(int32_t field_no, const TORBRecordLayout& layout, const void* buffer, uint8_t* record_buffer) {
  const TORBFieldLayout& f = CheckedField(field_no, layout, false);
  if (record_buffer == nullptr) RaiseORB(kErrSetFieldNoRecord, kMsgNilPointer);
  SetFieldData(field_no, f, buffer, record_buffer);
}

}  // namespace orb
