#include "engine/base/error_codes.h"
#include "engine/base/field_types.h"

#include <limits>

#include "engine/base/orb_exception.h"

namespace orb {

TORBBaseFieldType AdvancedFieldTypeToBaseFieldType(TORBAdvancedFieldType aft) {
  for (const auto& row : SQLFieldTypes)
    if (row.AdvancedFieldType == aft) return row.BaseFieldType;
  return bftUnknown;
}

TORBAdvancedFieldType BaseFieldTypeToAdvancedFieldType(TORBBaseFieldType bft) {
  for (const auto& row : SQLFieldTypes)
    if (row.BaseFieldType == bft) return row.AdvancedFieldType;
  return aftUnknown;
}

TFieldType ORBAdvFieldTypeToFieldType(TORBAdvancedFieldType aft) {
  for (const auto& row : SQLFieldTypes)
    if (row.AdvancedFieldType == aft) return row.FieldType;
  return ftUnknown;
}

TORBAdvancedFieldType FieldTypeToORBAdvFieldType(TFieldType ft) {
  for (const auto& row : SQLFieldTypes)
    if (row.FieldType == ft) return row.AdvancedFieldType;
  RaiseORB(30289, "Unknown DataType: '%s'", {std::to_string(static_cast<int>(ft))});
}

std::u16string AftToStr(TORBAdvancedFieldType aft) {
  for (const auto& row : SQLFieldTypes)
    if (row.AdvancedFieldType == aft) return std::u16string(row.SqlName);
  return u"Unknown";
}

std::u16string BftToStr(TORBBaseFieldType bft) {
  for (const auto& row : SQLFieldTypes)
    if (row.BaseFieldType == bft) return std::u16string(row.SqlName);
  return u"Unknown";
}

bool IsBLOBFieldType(TORBBaseFieldType bft) {
  return bft == bftBlob || bft == bftClob || bft == bftWideClob;
}

bool IsBLOBFieldType(TORBAdvancedFieldType aft) {
  return aft == aftBlob || aft == aftGraphic || aft == aftMemo || aft == aftFormattedMemo || aft == aftWideMemo;
}

bool IsStringFieldType(TORBBaseFieldType bft) {
  return bft == bftChar || bft == bftWideChar || bft == bftVarchar || bft == bftWideVarchar;
}

bool IsStringFieldType(TORBAdvancedFieldType aft) {
  return aft == aftChar || aft == aftString || aft == aftWideChar || aft == aftWideString || aft == aftGuid;
}

bool IsWideStringFieldType(TORBBaseFieldType bft) { return bft == bftWideChar || bft == bftWideVarchar; }

bool IsWideStringFieldType(TORBAdvancedFieldType aft) { return aft == aftWideChar || aft == aftWideString; }

bool IsBytesFieldType(TORBAdvancedFieldType aft) { return aft == aftBytes || aft == aftVarBytes; }

bool IsAutoincFieldType(TORBAdvancedFieldType aft) { return aft >= aftAutoInc && aft <= aftAutoIncCardinal; }

bool IsNumericFieldType(TORBBaseFieldType bft) {
  return (bft >= bftSignedInt8 && bft <= bftExtended) || bft == bftCurrency;
}

bool IsNumericFieldType(TORBAdvancedFieldType aft) {
  return IsNumericFieldType(AdvancedFieldTypeToBaseFieldType(aft));
}

bool IsDateTimeFieldType(TORBBaseFieldType bft) { return bft == bftDate || bft == bftTime || bft == bftDateTime; }

bool IsDateTimeFieldType(TORBAdvancedFieldType aft) {
  return IsDateTimeFieldType(AdvancedFieldTypeToBaseFieldType(aft));
}

bool IsSizebleFieldType(TORBAdvancedFieldType aft) {
  return aft != aftGuid && (IsStringFieldType(aft) || IsBytesFieldType(aft));
}

bool IsConvertableFieldType(TORBAdvancedFieldType aft) {
  switch (aft) {
    case aftUnknown:
    case aftBytes:
    case aftVarBytes:
    case aftBlob:
    case aftGraphic:
    case aftGuid:
      return false;
    default:
      return aft < kAdvancedFieldTypeCount;
  }
}

namespace {

// Raised for a declared size that gives no valid layout.

// Sized types: count elements of `unit` bytes plus a terminator. A negative
// size or one whose byte count does not fit 32 bits cannot be laid out.
int32_t SizedBytes(TORBBaseFieldType bft, int32_t size, int64_t unit) {
  int64_t bytes = (static_cast<int64_t>(size) + 1) * unit;
  if (size < 0 || bytes > std::numeric_limits<int32_t>::max())
    RaiseORB(kErrInvalidFieldSize, "Invalid size %d for field type '%s'", {size, BftToStr(bft)});
  return static_cast<int32_t>(bytes);
}

}  // namespace

int32_t FixedValueSize(TORBBaseFieldType type) {
  switch (type) {
    case bftSignedInt8:
    case bftUnsignedInt8:
      return 1;
    case bftSignedInt16:
    case bftUnsignedInt16:
    case bftLogical:
      return 2;
    case bftSignedInt32:
    case bftUnsignedInt32:
    case bftSingle:
    case bftDate:
    case bftTime:
      return 4;
    case bftSignedInt64:
    case bftDouble:
    case bftExtended:
    case bftCurrency:
    case bftDateTime:
      return 8;
    default:
      return 0;
  }
}

int32_t GetDataSizeInMemory(TORBBaseFieldType bft, int32_t size) {
  switch (bft) {
    case bftChar:
    case bftVarchar:
    case bftBytes:
    case bftVarBytes:
      return SizedBytes(bft, size, 1);
    case bftWideChar:
    case bftWideVarchar:
      return SizedBytes(bft, size, 2);
    case bftBlob:
    case bftClob:
    case bftWideClob:
      return kBlobSlotMemorySize;
    default:
      if (int32_t fixed = FixedValueSize(bft)) return fixed;
      RaiseORB(30050, "Unknown DataType: '%s'", {std::to_string(static_cast<int>(bft))});
  }
}

int32_t GetDataSizeOnDisk(TORBBaseFieldType bft, int32_t size) {
  if (IsBLOBFieldType(bft)) return kBlobSlotDiskSize;
  return GetDataSizeInMemory(bft, size);
}

}  // namespace orb
