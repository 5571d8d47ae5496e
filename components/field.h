#pragma once

// Field objects: one per column a dataset shows, reading and writing the
// value of the record buffer that belongs to the dataset's state through
// the dataset's GetFieldData / SetFieldData. Each class knows its native
// buffer form (DataSize bytes) and converts it to and from the As…
// accessors; a conversion a class does not offer raises "Cannot access
// field '%s' as type %s".
//
// Native buffer forms:
//   TStringField        Size + 1 bytes, code-page text ending in 0
//   TWideStringField    (Size + 1) UTF-16 units ending in 0
//   TSmallintField      int16     TIntegerField, TAutoIncField  int32
//   TWordField          uint16    TLargeintField                int64
//   TFloatField, TCurrencyField, TBCDField   double
//   TBooleanField       int16 (0 false, else true)
//   TDateField, TTimeField, TDateTimeField, TSQLTimeStampField: see
//   host_date_time.h
//   TBytesField         Size bytes; TVarBytesField: uint16 length + Size
//   TBlobField and kin  none (DataSize 0): values go through the dataset's
//                       CreateBlobStream
// Text is Windows-1252 bytes, as everywhere inside the engine.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "components/db_common.h"
#include "engine/base/field_types.h"
#include "engine/base/host_field_type.h"
#include "engine/base/variant.h"

namespace orb {

class TDataSet;
class TField;

using TFieldNotifyEvent = std::function<void(TField& field)>;

class TField {
 public:
  TField(TFieldType data_type, int32_t size);
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;
  virtual ~TField();

  // Identity and shape.
  const std::string& FieldName() const { return FFieldName; }
  void SetFieldName(std::string name);
  const std::string& DisplayLabel() const { return FDisplayLabel; }
  void SetDisplayLabel(std::string label) { FDisplayLabel = std::move(label); }
  // The label, else the field name.
  const std::string& DisplayName() const { return FDisplayLabel.empty() ? FFieldName : FDisplayLabel; }
  TDataSet* DataSet() const { return FDataSet; }
  TFieldType DataType() const { return FDataType; }
  int32_t Size() const { return FSize; }
  // REQUIRES: the field is not bound to an open dataset.
  void SetSize(int32_t size);
  // 1-based number of the field definition a data field is bound to; 0
  // for calculated and lookup fields and while unbound.
  int32_t FieldNo() const { return FFieldNo; }
  // Position in the dataset's field list.
  int Index() const;
  TFieldKind FieldKind() const { return FFieldKind; }
  void SetFieldKind(TFieldKind kind);
  bool Calculated() const { return FFieldKind == fkCalculated || FFieldKind == fkLookup; }
  bool Lookup() const { return FFieldKind == fkLookup; }
  bool Required() const { return FRequired; }
  void SetRequired(bool value) { FRequired = value; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value) { FReadOnly = value; }
  bool Visible() const { return FVisible; }
  void SetVisible(bool value) { FVisible = value; }
  // Bytes of the native buffer form.
  virtual int32_t DataSize() const = 0;
  // Offset of a calculated or lookup field's slot in the calculated-field
  // area (the slot is one has-value byte followed by DataSize bytes).
  int32_t Offset() const { return FOffset; }
  // Not read-only, a data field, and the dataset can be modified.
  bool CanModify() const;
  bool IsBlob() const;
  // One of the fields of the dataset's active index.
  bool IsIndexField() const;

  // Lookup fields: the value of LookupResultField of the LookupDataSet
  // record whose LookupKeyFields equal this dataset's KeyFields.
  TDataSet* LookupDataSet() const { return FLookupDataSet; }
  void SetLookupDataSet(TDataSet* data_set) { FLookupDataSet = data_set; }
  const std::string& KeyFields() const { return FKeyFields; }
  void SetKeyFields(std::string names) { FKeyFields = std::move(names); }
  const std::string& LookupKeyFields() const { return FLookupKeyFields; }
  void SetLookupKeyFields(std::string names) { FLookupKeyFields = std::move(names); }
  const std::string& LookupResultField() const { return FLookupResultField; }
  void SetLookupResultField(std::string name) { FLookupResultField = std::move(name); }

  // Values of the record of the dataset's current state.
  bool IsNull() const { return !GetData(nullptr); }
  virtual void Clear() { SetData(nullptr); }
  std::string AsString() const { return GetAsString(); }
  void SetAsString(std::string_view value) { SetAsStringValue(value); }
  int32_t AsInteger() const { return GetAsInteger(); }
  void SetAsInteger(int32_t value) { SetAsIntegerValue(value); }
  int64_t AsLargeInt() const { return GetAsLargeInt(); }
  void SetAsLargeInt(int64_t value) { SetAsLargeIntValue(value); }
  double AsFloat() const { return GetAsFloat(); }
  void SetAsFloat(double value) { SetAsFloatValue(value); }
  double AsCurrency() const { return GetAsCurrency(); }
  void SetAsCurrency(double value) { SetAsCurrencyValue(value); }
  bool AsBoolean() const { return GetAsBoolean(); }
  void SetAsBoolean(bool value) { SetAsBooleanValue(value); }
  TDateTime AsDateTime() const { return GetAsDateTime(); }
  void SetAsDateTime(TDateTime value) { SetAsDateTimeValue(value); }
  std::u16string AsWideString() const { return GetAsWideString(); }
  void SetAsWideString(std::u16string_view value) { SetAsWideStringValue(value); }
  // The value in the engine's value type; null when the field is null.
  TORBVariant AsVariant() const { return IsNull() ? TORBVariant() : GetAsVariant(); }
  // A null value clears the field.
  void SetAsVariant(const TORBVariant& value);
  TORBVariant Value() const { return AsVariant(); }
  void SetValue(const TORBVariant& value) { SetAsVariant(value); }
  // The value before the edit began (state dsOldValue) and the value being
  // written (dsNewValue), as the dataset's GetFieldData gives them.
  TORBVariant OldValue() const;
  TORBVariant NewValue() const;

  // The native buffer: true when the field has a value; `buffer` may be
  // null to ask only that. SetData(nullptr) makes the field null.
  bool GetData(void* buffer) const;
  void SetData(const void* buffer);

  // Runs OnValidate with `buffer` as the field's value (what the handler
  // reads); called by a dataset's SetFieldData before it stores.
  void Validate(const void* buffer);
  // Runs OnChange; called through the dataset's field-change notification.
  void Change();

  TFieldNotifyEvent OnChange;
  TFieldNotifyEvent OnValidate;

 protected:
  virtual std::string GetAsString() const;
  virtual void SetAsStringValue(std::string_view value);
  virtual int32_t GetAsInteger() const;
  virtual void SetAsIntegerValue(int32_t value);
  virtual int64_t GetAsLargeInt() const;
  virtual void SetAsLargeIntValue(int64_t value);
  virtual double GetAsFloat() const;
  virtual void SetAsFloatValue(double value);
  virtual double GetAsCurrency() const { return GetAsFloat(); }
  virtual void SetAsCurrencyValue(double value) { SetAsFloatValue(value); }
  virtual bool GetAsBoolean() const;
  virtual void SetAsBooleanValue(bool value);
  virtual TDateTime GetAsDateTime() const;
  virtual void SetAsDateTimeValue(TDateTime value);
  virtual std::u16string GetAsWideString() const;
  virtual void SetAsWideStringValue(std::u16string_view value);
  // REQUIRES: the field is not null.
  virtual TORBVariant GetAsVariant() const = 0;
  virtual void SetVariantValue(const TORBVariant& value) = 0;

  [[noreturn]] void AccessError(std::string_view type_name) const;
  // Raises `fmt` ("'%s' is not a valid … for field '%s'") with `text`.
  [[noreturn]] void ConvertError(std::string_view fmt, std::string_view text) const;

 private:
  friend class TDataSet;
  friend class TFields;

  std::string FFieldName;
  std::string FDisplayLabel;
  TDataSet* FDataSet = nullptr;
  TFieldType FDataType;
  int32_t FSize;
  int32_t FFieldNo = 0;
  int32_t FOffset = 0;
  TFieldKind FFieldKind = fkData;
  bool FRequired = false;
  bool FReadOnly = false;
  bool FVisible = true;
  TDataSet* FLookupDataSet = nullptr;
  std::string FKeyFields;
  std::string FLookupKeyFields;
  std::string FLookupResultField;
  const void* FValidateBuffer = nullptr;
  bool FValidating = false;
};

class TStringField : public TField {
 public:
  explicit TStringField(int32_t size = 20, TFieldType data_type = ftString);
  int32_t DataSize() const override { return Size() + 1; }
  // Fixed-width text: trailing blanks are dropped when read.
  bool FixedChar() const { return DataType() == ftFixedChar || DataType() == ftGuid; }

 protected:
  std::string GetAsString() const override;
  // Text longer than Size is cut at Size bytes.
  void SetAsStringValue(std::string_view value) override;
  int32_t GetAsInteger() const override;
  void SetAsIntegerValue(int32_t value) override;
  int64_t GetAsLargeInt() const override;
  void SetAsLargeIntValue(int64_t value) override;
  double GetAsFloat() const override;
  void SetAsFloatValue(double value) override;
  bool GetAsBoolean() const override;
  void SetAsBooleanValue(bool value) override;
  TDateTime GetAsDateTime() const override;
  void SetAsDateTimeValue(TDateTime value) override;
  TORBVariant GetAsVariant() const override;
  void SetVariantValue(const TORBVariant& value) override;
};

class TGuidField : public TStringField {
 public:
  TGuidField() : TStringField(38, ftGuid) {}
};

class TWideStringField : public TField {
 public:
  explicit TWideStringField(int32_t size = 20);
  int32_t DataSize() const override { return (Size() + 1) * 2; }

 protected:
  std::string GetAsString() const override;
  void SetAsStringValue(std::string_view value) override;
  std::u16string GetAsWideString() const override;
  void SetAsWideStringValue(std::u16string_view value) override;
  TORBVariant GetAsVariant() const override;
  void SetVariantValue(const TORBVariant& value) override;
};

// Whole numbers of 16, 32 or 64 bits; values outside the type's range, or
// outside MinValue…MaxValue when either is set, are refused.
class TIntegerField : public TField {
 public:
  TIntegerField() : TIntegerField(ftInteger) {}
  int32_t DataSize() const override;
  int64_t MinValue() const { return FMinValue; }
  void SetMinValue(int64_t value) { FMinValue = value; }
  int64_t MaxValue() const { return FMaxValue; }
  void SetMaxValue(int64_t value) { FMaxValue = value; }

 protected:
  explicit TIntegerField(TFieldType data_type);
  std::string GetAsString() const override;
  void SetAsStringValue(std::string_view value) override;
  int32_t GetAsInteger() const override;
  void SetAsIntegerValue(int32_t value) override { SetAsLargeIntValue(value); }
  int64_t GetAsLargeInt() const override;
  void SetAsLargeIntValue(int64_t value) override;
  double GetAsFloat() const override { return static_cast<double>(GetAsLargeInt()); }
  void SetAsFloatValue(double value) override;
  TORBVariant GetAsVariant() const override;
  void SetVariantValue(const TORBVariant& value) override;

 private:
  int64_t FMinValue = 0;
  int64_t FMaxValue = 0;
};

class TSmallintField : public TIntegerField {
 public:
  TSmallintField() : TIntegerField(ftSmallint) {}
};
class TWordField : public TIntegerField {
 public:
  TWordField() : TIntegerField(ftWord) {}
};
class TAutoIncField : public TIntegerField {
 public:
  TAutoIncField() : TIntegerField(ftAutoInc) {}
};
class TLargeintField : public TIntegerField {
 public:
  TLargeintField() : TIntegerField(ftLargeint) {}
};

class TFloatField : public TField {
 public:
  TFloatField() : TFloatField(ftFloat) {}
  int32_t DataSize() const override { return 8; }
  // Digits of precision (informational); MinValue/MaxValue bound the value
  // when either is not 0.
  int32_t Precision() const { return FPrecision; }
  void SetPrecision(int32_t value) { FPrecision = value; }
  double MinValue() const { return FMinValue; }
  void SetMinValue(double value) { FMinValue = value; }
  double MaxValue() const { return FMaxValue; }
  void SetMaxValue(double value) { FMaxValue = value; }

 protected:
  explicit TFloatField(TFieldType data_type);
  std::string GetAsString() const override;
  void SetAsStringValue(std::string_view value) override;
  // Rounded to the nearest whole number; out of range raises.
  int32_t GetAsInteger() const override;
  void SetAsIntegerValue(int32_t value) override { SetAsFloatValue(value); }
  int64_t GetAsLargeInt() const override;
  void SetAsLargeIntValue(int64_t value) override { SetAsFloatValue(static_cast<double>(value)); }
  double GetAsFloat() const override;
  void SetAsFloatValue(double value) override;
  TORBVariant GetAsVariant() const override;
  void SetVariantValue(const TORBVariant& value) override;

 private:
  int32_t FPrecision = 15;
  double FMinValue = 0;
  double FMaxValue = 0;
};

class TCurrencyField : public TFloatField {
 public:
  TCurrencyField() : TFloatField(ftCurrency) {}

 protected:
  TORBVariant GetAsVariant() const override;
};

// Decimal numbers; stored as the engine stores them (a double).
class TBCDField : public TFloatField {
 public:
  TBCDField() : TFloatField(ftBCD) {}
};

class TBooleanField : public TField {
 public:
  TBooleanField();
  int32_t DataSize() const override { return 2; }

 protected:
  // "True" / "False"; reading accepts them in any case.
  std::string GetAsString() const override;
  void SetAsStringValue(std::string_view value) override;
  bool GetAsBoolean() const override;
  void SetAsBooleanValue(bool value) override;
  TORBVariant GetAsVariant() const override;
  void SetVariantValue(const TORBVariant& value) override;
};

// Date, time and date-time fields (see host_date_time.h for the native
// forms and the exact conversions).
class TDateTimeField : public TField {
 public:
  TDateTimeField() : TDateTimeField(ftDateTime) {}
  int32_t DataSize() const override { return DataType() == ftDateTime || DataType() == ftTimeStamp ? 8 : 4; }
  // The moment without the floating form: day number and milliseconds (a
  // time field has day 0, a date field time 0).
  TORBDateTime AsMoment() const;
  void SetAsMoment(const TORBDateTime& moment);

 protected:
  explicit TDateTimeField(TFieldType data_type);
  std::string GetAsString() const override;
  void SetAsStringValue(std::string_view value) override;
  double GetAsFloat() const override { return GetAsDateTime(); }
  void SetAsFloatValue(double value) override { SetAsDateTimeValue(value); }
  TDateTime GetAsDateTime() const override;
  void SetAsDateTimeValue(TDateTime value) override;
  TORBVariant GetAsVariant() const override;
  void SetVariantValue(const TORBVariant& value) override;
};

class TDateField : public TDateTimeField {
 public:
  TDateField() : TDateTimeField(ftDate) {}
};
class TTimeField : public TDateTimeField {
 public:
  TTimeField() : TDateTimeField(ftTime) {}
};
class TSQLTimeStampField : public TDateTimeField {
 public:
  TSQLTimeStampField() : TDateTimeField(ftTimeStamp) {}
};

// Fixed-size (TBytesField) and variable-size (TVarBytesField) byte
// strings; AsString gives the bytes.
class TBytesField : public TField {
 public:
  explicit TBytesField(int32_t size = 16) : TBytesField(ftBytes, size) {}
  int32_t DataSize() const override { return DataType() == ftVarBytes ? Size() + 2 : Size(); }

 protected:
  TBytesField(TFieldType data_type, int32_t size);
  std::string GetAsString() const override;
  void SetAsStringValue(std::string_view value) override;
  TORBVariant GetAsVariant() const override;
  void SetVariantValue(const TORBVariant& value) override;
};

class TVarBytesField : public TBytesField {
 public:
  explicit TVarBytesField(int32_t size = 16) : TBytesField(ftVarBytes, size) {}
};

// BLOB and memo fields: the value is read and written as a whole through
// the dataset's CreateBlobStream. Wide memos hold UTF-16LE bytes.
class TBlobField : public TField {
 public:
  explicit TBlobField(TFieldType data_type = ftBlob);
  int32_t DataSize() const override { return 0; }
  // Writes an empty value through a write stream.
  void Clear() override;
  std::string AsBytes() const;
  void SetAsBytes(std::string_view bytes);

 protected:
  std::string GetAsString() const override;
  void SetAsStringValue(std::string_view value) override;
  std::u16string GetAsWideString() const override;
  void SetAsWideStringValue(std::u16string_view value) override;
  TORBVariant GetAsVariant() const override;
  void SetVariantValue(const TORBVariant& value) override;
};

class TMemoField : public TBlobField {
 public:
  TMemoField() : TBlobField(ftMemo) {}
};
class TGraphicField : public TBlobField {
 public:
  TGraphicField() : TBlobField(ftGraphic) {}
};
class TWideMemoField : public TBlobField {
 public:
  TWideMemoField() : TBlobField(ftWideMemo) {}
};

// A new field object of the class for `data_type` (ftFmtMemo is a memo, the
// other BLOB-like types a BLOB field); nullptr for a type without one.
std::unique_ptr<TField> CreateFieldForType(TFieldType data_type, int32_t size);

// The dataset's fields in order. Owns them.
class TFields {
 public:
  explicit TFields(TDataSet* data_set) : FDataSet(data_set) {}
  TFields(const TFields&) = delete;
  TFields& operator=(const TFields&) = delete;

  int Count() const { return static_cast<int>(FList.size()); }
  // REQUIRES: 0 <= index < Count() ("Field index out of range" otherwise).
  TField& operator[](int index) const;
  // Takes the field into the dataset. A field without a name or with the
  // name of another field is refused. REQUIRES: the dataset is closed.
  TField& Add(std::unique_ptr<TField> field);
  // Destroys the field. REQUIRES: the dataset is closed.
  void Remove(TField& field);
  void Clear();
  int IndexOf(const TField& field) const;
  TField* FindField(std::string_view name) const;
  TField& FieldByName(std::string_view name) const;
  // The data field bound to 1-based definition number `field_no`.
  TField* FieldByNumber(int32_t field_no) const;

 private:
  TDataSet* FDataSet;
  std::vector<std::unique_ptr<TField>> FList;
};

}  // namespace orb
