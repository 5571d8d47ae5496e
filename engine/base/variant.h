#pragma once

// TORBVariant: one value of one engine base type, or null. SQL expressions
// evaluate into it, parameters hold one each, and default values are kept
// in it. Type promotion, conversion and order come from variant_convert.h
// and variant_compare.h.

#include <cstdint>
#include <string>

#include "engine/base/error_codes.h"
#include "engine/base/field_types.h"
#include "engine/base/host_field_type.h"
#include "engine/base/variant_compare.h"
#include "engine/base/variant_convert.h"

namespace orb {

class TStream;

// Error codes of the value type.
inline constexpr int32_t kErrBufferSizeExceeded = 20056;
inline constexpr int32_t kErrValueIsNull = 30016;
inline constexpr int32_t kErrInvertNonNumeric = 30123;
inline constexpr int32_t kErrAddNonNumeric = 30124;
inline constexpr int32_t kErrSubNonNumeric = 30125;
inline constexpr int32_t kErrMulNonNumeric = 30126;
inline constexpr int32_t kErrDivNonNumeric = 30127;
inline constexpr int32_t kErrDivision = 30128;
// Streaming: kind, null flag, size, data.
inline constexpr int32_t kErrSaveValueKind = 10179;
inline constexpr int32_t kErrSaveValueNull = 10180;
inline constexpr int32_t kErrSaveValueSize = 10181;
inline constexpr int32_t kErrSaveValueData = 10182;
inline constexpr int32_t kErrLoadValueKind = 10183;
inline constexpr int32_t kErrLoadValueNull = 10184;
inline constexpr int32_t kErrLoadValueSize = 10185;
inline constexpr int32_t kErrLoadValueData = 10186;

class TORBVariant {
 public:
  // A null value without a kind, or of the given kind.
  TORBVariant() = default;
  explicit TORBVariant(TORBBaseFieldType data_type);
  // Copies hold their own data, also when the source borrows its buffer.
  TORBVariant(const TORBVariant& other);
  TORBVariant& operator=(const TORBVariant& other);
  TORBVariant(TORBVariant&& other) noexcept;
  TORBVariant& operator=(TORBVariant&& other) noexcept;
  ~TORBVariant();

  TORBBaseFieldType DataType() const { return FDataType; }
  int32_t DataSize() const { return FDataSize; }
  const void* Data() const { return FPData; }
  bool IsDataLinked() const { return FIsDataLinked; }
  // Null when flagged null or when there is no buffer.
  bool IsNull() const { return FIsNull || FPData == nullptr; }

  // Releases the buffer (an owned one is freed) and becomes a null of
  // `data_type`.
  void Clear(TORBBaseFieldType data_type);
  // Sets the null flag only; the kind and the buffer stay.
  void SetNull();
  // Null: takes the kind. Not null: converts; a value that does not convert
  // becomes a null of the new kind.
  void SetDataType(TORBBaseFieldType data_type);
  // Converts in place; a failed conversion leaves the value unchanged.
  void Cast(TORBBaseFieldType new_data_type);

  // Takes kind, size and null flag of `source`; copies its data, or
  // borrows the buffer (the source must then outlive this value).
  void Assign(const TORBVariant& source, bool copy_data);
  // Non-null value with `buffer` (copied, or borrowed); no buffer gives a
  // null of `data_type`.
  void SetData(const void* buffer, int32_t size, TORBBaseFieldType data_type, bool copy_data);
  // Copies the data to `buffer`. False for a null value and an empty
  // string. A `max_size` other than -1 below the data size raises 20056.
  bool CopyDataToAddress(void* buffer, int32_t max_size) const;
  // Raises 30016 when null.
  void CheckDataForNull() const;

  // 1 byte kind, 1 byte null flag and, when not null, a 32-bit size and
  // the data.
  void SaveToStream(TStream& stream) const;
  // A size or content that does not fit the kind raises the size or data
  // code; the value is unchanged after any failure.
  void LoadFromStream(TStream& stream);

  // Writes `size` bytes of a value of kind `data_type` (size -1: implied),
  // converting it into this value's kind; a value without a kind takes
  // `data_type`. An empty string leaves the value null.
  void SetDataValue(const void* buffer, int32_t size, TORBBaseFieldType data_type);

  int8_t AsShortint() const { return GetFixed<int8_t>(bftSignedInt8); }
  int16_t AsSmallint() const { return GetFixed<int16_t>(bftSignedInt16); }
  int32_t AsInteger() const { return GetFixed<int32_t>(bftSignedInt32); }
  int64_t AsInt64() const { return GetFixed<int64_t>(bftSignedInt64); }
  uint8_t AsByte() const { return GetFixed<uint8_t>(bftUnsignedInt8); }
  uint16_t AsWord() const { return GetFixed<uint16_t>(bftUnsignedInt16); }
  uint32_t AsCardinal() const { return GetFixed<uint32_t>(bftUnsignedInt32); }
  uint32_t AsLongWord() const { return AsCardinal(); }
  float AsSingle() const { return GetFixed<float>(bftSingle); }
  double AsDouble() const { return GetFixed<double>(bftDouble); }
  double AsExtended() const { return GetFixed<double>(bftExtended); }
  double AsCurrency() const { return GetFixed<double>(bftCurrency); }
  int32_t AsORBDate() const { return GetFixed<int32_t>(bftDate); }
  int32_t AsORBTime() const { return GetFixed<int32_t>(bftTime); }
  TORBDateTime AsORBDateTime() const { return GetFixed<TORBDateTime>(bftDateTime); }
  TDateTime AsTDate() const;
  TDateTime AsTTime() const;
  TDateTime AsTDateTime() const;
  bool AsBoolean() const { return GetFixed<int16_t>(bftLogical) != 0; }
  int16_t AsLogical() const { return GetFixed<int16_t>(bftLogical); }
  // Windows-1252 text; "" for a null value.
  std::string AsAnsiString() const;
  // UTF-16 text; empty for a null value.
  std::u16string AsWideString() const;

  void SetAsShortint(int8_t v) { SetFixed(v, bftSignedInt8); }
  void SetAsSmallint(int16_t v) { SetFixed(v, bftSignedInt16); }
  void SetAsInteger(int32_t v) { SetFixed(v, bftSignedInt32); }
  void SetAsInt64(int64_t v) { SetFixed(v, bftSignedInt64); }
  void SetAsByte(uint8_t v) { SetFixed(v, bftUnsignedInt8); }
  void SetAsWord(uint16_t v) { SetFixed(v, bftUnsignedInt16); }
  void SetAsCardinal(uint32_t v) { SetFixed(v, bftUnsignedInt32); }
  void SetAsLongWord(uint32_t v) { SetAsCardinal(v); }
  void SetAsSingle(float v) { SetFixed(v, bftSingle); }
  void SetAsDouble(double v) { SetFixed(v, bftDouble); }
  void SetAsExtended(double v) { SetFixed(v, bftExtended); }
  void SetAsCurrency(double v) { SetFixed(v, bftCurrency); }
  void SetAsORBDate(int32_t v) { SetFixed(v, bftDate); }
  void SetAsORBTime(int32_t v) { SetFixed(v, bftTime); }
  void SetAsORBDateTime(TORBDateTime v) { SetFixed(v, bftDateTime); }
  void SetAsTDate(TDateTime v);
  void SetAsTTime(TDateTime v);
  void SetAsTDateTime(TDateTime v);
  void SetAsBoolean(bool v) { SetFixed(static_cast<int16_t>(v ? 1 : 0), bftLogical); }
  void SetAsLogical(int16_t v) { SetFixed(v, bftLogical); }
  void SetAsAnsiString(const std::string& v);
  void SetAsWideString(const std::u16string& v);

  // Tests of this value's kind.
  bool IsNumericDataType() const;
  bool IsStringDataType() const;
  bool IsWideStringDataType() const;
  bool IsBlobDataType() const;
  bool IsDateTimeDataType() const;
  // Characters of a non-null string value, else -1.
  int32_t StrLen() const;
  // A UTF-16 value whose text survives the single-byte code page becomes a
  // varchar value.
  void TryToReduceWideStringToAnsiString();

  // Compares this value with `value`. With `partial_key` only as many
  // characters as `value`'s string has are compared. Without
  // `true_false_null_logic` the null results map to lower, greater and
  // equal.
  TORBCompareResult Compare(const TORBVariant& value, bool true_false_null_logic, bool case_insensitive,
                            bool partial_key) const;

  // Arithmetic in place, in the kind where both values meet. A null
  // operand gives null, except that Add keeps a string and fills a null
  // string. Integer results that do not fit their kind raise 30122.
  // Numbers met by a date, time or date-time are taken whole in 64 bits
  // (days, or milliseconds for a time; a fraction of a day is floored).
  // Times come back into 0 to 86,399,999 ms; a date made outside 0001-01-01
  // to 9999-12-31 raises 30610, except that the difference of two dates
  // counts days and may be 0.
  void Add(const TORBVariant& value);
  void Sub(const TORBVariant& value);
  void Mul(const TORBVariant& value);
  // Division by zero and an integer quotient that does not fit raise 30128.
  void Division(const TORBVariant& value);
  // Negates numbers, inverts a logical value; unsigned kinds keep their
  // kind and take the negated value modulo their width. A negated date is
  // out of range (30610).
  void InvertValue();

 private:
  template <class T>
  T GetFixed(TORBBaseFieldType type) const {
    T v;
    GetDataValue(&v, sizeof(T), type);
    return v;
  }
  template <class T>
  void SetFixed(const T& v, TORBBaseFieldType type) {
    SetDataValue(&v, sizeof(T), type);
  }
  // Reads the value as `type` into `buffer` of `size` bytes (fixed kinds).
  void GetDataValue(void* buffer, int32_t size, TORBBaseFieldType type) const;
  void ReleaseBuffer();
  // Takes `buffer` (allocated with new[]) as the owned, non-null data.
  void Adopt(uint8_t* buffer, int32_t size, TORBBaseFieldType type);
  // `op` is '+', '-', '*' or '/'.
  void Arithmetic(const TORBVariant& value, char op);

  TORBBaseFieldType FDataType = bftUnknown;
  int32_t FDataSize = 0;
  uint8_t* FPData = nullptr;
  bool FIsDataLinked = false;
  bool FIsNull = true;
};

}  // namespace orb
