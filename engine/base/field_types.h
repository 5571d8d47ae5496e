#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/base/host_field_type.h"

namespace orb {

// Storage type of a field.
enum TORBBaseFieldType : uint8_t {
  bftUnknown = 0,
  bftChar = 1,
  bftWideChar = 2,
  bftVarchar = 3,
  bftWideVarchar = 4,
  bftSignedInt8 = 5,
  bftSignedInt16 = 6,
  bftSignedInt32 = 7,
  bftSignedInt64 = 8,
  bftUnsignedInt8 = 9,
  bftUnsignedInt16 = 10,
  bftUnsignedInt32 = 11,
  bftSingle = 12,
  bftDouble = 13,
  bftExtended = 14,
  bftDate = 15,
  bftTime = 16,
  bftDateTime = 17,
  bftBlob = 18,
  bftClob = 19,
  bftWideClob = 20,
  bftLogical = 21,
  bftCurrency = 22,
  bftBytes = 23,
  bftVarBytes = 24,
  bftBFile = 25,
};

inline constexpr int kBaseFieldTypeCount = 26;

// Type a user declares; each maps to one storage type.
enum TORBAdvancedFieldType : uint8_t {
  aftUnknown = 0,
  aftChar = 1,
  aftString = 2,
  aftWideChar = 3,
  aftWideString = 4,
  aftShortint = 5,
  aftSmallint = 6,
  aftInteger = 7,
  aftLargeint = 8,
  aftByte = 9,
  aftWord = 10,
  aftCardinal = 11,
  aftAutoInc = 12,
  aftAutoIncShortint = 13,
  aftAutoIncSmallint = 14,
  aftAutoIncInteger = 15,
  aftAutoIncLargeint = 16,
  aftAutoIncByte = 17,
  aftAutoIncWord = 18,
  aftAutoIncCardinal = 19,
  aftSingle = 20,
  aftDouble = 21,
  aftExtended = 22,
  aftBoolean = 23,
  aftCurrency = 24,
  aftDate = 25,
  aftTime = 26,
  aftDateTime = 27,
  aftTimeStamp = 28,
  aftBytes = 29,
  aftVarBytes = 30,
  aftBlob = 31,
  aftGraphic = 32,
  aftMemo = 33,
  aftFormattedMemo = 34,
  aftWideMemo = 35,
  aftGuid = 36,
};

inline constexpr int kAdvancedFieldTypeCount = 37;

// One row of the type table: SQL type name, user type, storage type and
// framework type.
struct TORBSQLFieldType {
  std::u16string_view SqlName;
  TORBAdvancedFieldType AdvancedFieldType;
  TORBBaseFieldType BaseFieldType;
  TFieldType FieldType;
};

// Every type lookup is a linear search of this table taking the first row
// that matches, so row order matters.
inline constexpr std::array<TORBSQLFieldType, 62> SQLFieldTypes = {{
    {u"CHAR", aftChar, bftChar, ftFixedChar},
    {u"FIXEDCHAR", aftChar, bftChar, ftFixedChar},
    {u"STRING", aftString, bftVarchar, ftString},
    {u"VARCHAR", aftString, bftVarchar, ftString},
    {u"VARCHAR2", aftString, bftVarchar, ftString},
    {u"WIDECHAR", aftWideChar, bftWideChar, ftWideString},
    {u"FIXEDWIDECHAR", aftWideChar, bftWideChar, ftWideString},
    {u"WIDESTRING", aftWideString, bftWideVarchar, ftWideString},
    {u"WIDEVARCHAR", aftWideString, bftWideVarchar, ftWideString},
    {u"SMALLINT", aftSmallint, bftSignedInt16, ftSmallint},
    {u"SIGNEDINT16", aftSmallint, bftSignedInt16, ftSmallint},
    {u"SHORTINT", aftShortint, bftSignedInt8, ftSmallint},
    {u"SIGNEDINT8", aftShortint, bftSignedInt8, ftSmallint},
    {u"INTEGER", aftInteger, bftSignedInt32, ftInteger},
    {u"SIGNEDINT32", aftInteger, bftSignedInt32, ftInteger},
    {u"LARGEINT", aftLargeint, bftSignedInt64, ftLargeint},
    {u"INT64", aftLargeint, bftSignedInt64, ftLargeint},
    {u"SIGNEDINT64", aftLargeint, bftSignedInt64, ftLargeint},
    {u"WORD", aftWord, bftUnsignedInt16, ftWord},
    {u"UNSIGNEDINT16", aftWord, bftUnsignedInt16, ftWord},
    {u"BYTE", aftByte, bftUnsignedInt8, ftWord},
    {u"UNSIGNEDINT8", aftByte, bftUnsignedInt8, ftWord},
    {u"CARDINAL", aftCardinal, bftUnsignedInt32, ftLargeint},
    {u"UNSIGNEDINT32", aftCardinal, bftUnsignedInt32, ftLargeint},
    {u"AUTOINC", aftAutoInc, bftSignedInt32, ftAutoInc},
    {u"AUTOINCSHORTINT", aftAutoIncShortint, bftSignedInt8, ftAutoInc},
    {u"AUTOINCSMALLINT", aftAutoIncSmallint, bftSignedInt16, ftAutoInc},
    {u"AUTOINCINTEGER", aftAutoIncInteger, bftSignedInt32, ftAutoInc},
    {u"AUTOINCLARGEINT", aftAutoIncLargeint, bftSignedInt64, ftLargeint},
    {u"AUTOINCBYTE", aftAutoIncByte, bftUnsignedInt8, ftAutoInc},
    {u"AUTOINCWORD", aftAutoIncWord, bftUnsignedInt16, ftAutoInc},
    {u"AUTOINCCARDINAL", aftAutoIncCardinal, bftUnsignedInt32, ftAutoInc},
    {u"FLOAT", aftDouble, bftDouble, ftFloat},
    {u"FLOAT", aftDouble, bftDouble, ftBCD},
    {u"SINGLE", aftSingle, bftSingle, ftFloat},
    {u"DOUBLE", aftDouble, bftDouble, ftFloat},
    {u"EXTENDED", aftExtended, bftExtended, ftFloat},
    {u"LOGICAL", aftBoolean, bftLogical, ftBoolean},
    {u"BOOLEAN", aftBoolean, bftLogical, ftBoolean},
    {u"BOOL", aftBoolean, bftLogical, ftBoolean},
    {u"BIT", aftBoolean, bftLogical, ftBoolean},
    {u"CURRENCY", aftCurrency, bftCurrency, ftCurrency},
    {u"MONEY", aftCurrency, bftCurrency, ftCurrency},
    {u"DATE", aftDate, bftDate, ftDate},
    {u"TIME", aftTime, bftTime, ftTime},
    {u"DATETIME", aftDateTime, bftDateTime, ftDateTime},
    {u"TIMESTAMP", aftTimeStamp, bftDateTime, ftTimeStamp},
    {u"BYTES", aftBytes, bftBytes, ftBytes},
    {u"VARBYTES", aftVarBytes, bftVarBytes, ftVarBytes},
    {u"BLOB", aftBlob, bftBlob, ftBlob},
    {u"BLOB", aftBlob, bftBlob, ftParadoxOle},
    {u"BLOB", aftBlob, bftBlob, ftTypedBinary},
    {u"BLOB", aftBlob, bftBlob, ftDBaseOle},
    {u"BLOB", aftBlob, bftBlob, ftOraBlob},
    {u"BLOB", aftBlob, bftBlob, ftOraClob},
    {u"GRAPHIC", aftGraphic, bftBlob, ftGraphic},
    {u"MEMO", aftMemo, bftClob, ftMemo},
    {u"CLOB", aftMemo, bftClob, ftMemo},
    {u"FORMATTEDMEMO", aftFormattedMemo, bftClob, ftFmtMemo},
    {u"WIDEMEMO", aftWideMemo, bftWideClob, ftWideMemo},
    {u"WIDECLOB", aftWideMemo, bftWideClob, ftWideMemo},
    {u"GUID", aftGuid, bftChar, ftGuid},
}};

// Type mapping, by first match in SQLFieldTypes.
TORBBaseFieldType AdvancedFieldTypeToBaseFieldType(TORBAdvancedFieldType aft);  // bftUnknown when none
TORBAdvancedFieldType BaseFieldTypeToAdvancedFieldType(TORBBaseFieldType bft);  // aftUnknown when none
TFieldType ORBAdvFieldTypeToFieldType(TORBAdvancedFieldType aft);                // ftUnknown when none
// Raises 30289 for a framework type outside the table.
TORBAdvancedFieldType FieldTypeToORBAdvFieldType(TFieldType ft);

// SQL name of the first matching row, else "Unknown".
std::u16string AftToStr(TORBAdvancedFieldType aft);
std::u16string BftToStr(TORBBaseFieldType bft);

// Type predicates.
bool IsBLOBFieldType(TORBBaseFieldType bft);
bool IsBLOBFieldType(TORBAdvancedFieldType aft);
bool IsStringFieldType(TORBBaseFieldType bft);
bool IsStringFieldType(TORBAdvancedFieldType aft);
bool IsWideStringFieldType(TORBBaseFieldType bft);
bool IsWideStringFieldType(TORBAdvancedFieldType aft);
bool IsBytesFieldType(TORBAdvancedFieldType aft);
bool IsAutoincFieldType(TORBAdvancedFieldType aft);
bool IsNumericFieldType(TORBBaseFieldType bft);
bool IsNumericFieldType(TORBAdvancedFieldType aft);
bool IsDateTimeFieldType(TORBBaseFieldType bft);
bool IsDateTimeFieldType(TORBAdvancedFieldType aft);
// String or bytes types whose declaration carries a size (not aftGuid).
bool IsSizebleFieldType(TORBAdvancedFieldType aft);
bool IsConvertableFieldType(TORBAdvancedFieldType aft);

// Bytes a fixed-size kind takes in memory, 0 for the variable-size kinds
// (strings, bytes, blobs) and for kinds without a memory format.
int32_t FixedValueSize(TORBBaseFieldType type);

// Bytes one value of the type takes in a memory record; `size` is the
// declared size (characters or bytes). Raises 30050 for a type that cannot
// be stored.
int32_t GetDataSizeInMemory(TORBBaseFieldType bft, int32_t size);
// Bytes in a disk record: 6 for BLOB types, else the memory size.
int32_t GetDataSizeOnDisk(TORBBaseFieldType bft, int32_t size);

// Size of a BLOB slot in the two record forms.
inline constexpr int32_t kBlobSlotMemorySize = 14;
inline constexpr int32_t kBlobSlotDiskSize = 6;

// Engine date-time: day number (1 January of year 1 is day 1) and
// milliseconds since midnight. 8 bytes, Date first, little-endian.
struct TORBDateTime {
  int32_t Date = 0;
  int32_t Time = 0;
  friend bool operator==(const TORBDateTime&, const TORBDateTime&) = default;
};

inline constexpr int32_t kORBDateTimeSize = 8;
// Day number of the framework's date 0 (1899-12-30).
inline constexpr int32_t kDateDelta = 693594;
inline constexpr int32_t kMSecsPerDay = 86400000;
// Day number the value type uses for an empty date.
inline constexpr int32_t kORBEmptyDate = INT32_MIN;

}  // namespace orb
