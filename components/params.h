#pragma once

// Parameters of a statement or procedure: a name, a framework data type, a
// direction and a value in the engine's value type. Setting a value through
// an As… accessor also sets the data type.

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/host_field_type.h"
#include "engine/base/variant.h"

namespace orb {

class TField;

enum TParamType : uint8_t { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

class TParam {
 public:
  explicit TParam(std::string name = {}, TFieldType data_type = ftUnknown, TParamType param_type = ptUnknown)
      : FName(std::move(name)), FDataType(data_type), FParamType(param_type) {}

  const std::string& Name() const { return FName; }
  void SetName(std::string name) { FName = std::move(name); }
  TFieldType DataType() const { return FDataType; }
  void SetDataType(TFieldType data_type) { FDataType = data_type; }
  TParamType ParamType() const { return FParamType; }
  void SetParamType(TParamType param_type) { FParamType = param_type; }
  // A value was given (set by every assignment, Clear included).
  bool Bound() const { return FBound; }
  void SetBound(bool value) { FBound = value; }

  bool IsNull() const { return FValue.IsNull(); }
  void Clear();
  const TORBVariant& Value() const { return FValue; }
  // Keeps the data type unless it is ftUnknown (then it follows the value).
  void SetValue(const TORBVariant& value);

  std::string AsString() const { return FValue.AsAnsiString(); }
  void SetAsString(std::string_view value);
  int32_t AsInteger() const { return IsNull() ? 0 : FValue.AsInteger(); }
  void SetAsInteger(int32_t value);
  int64_t AsLargeInt() const { return IsNull() ? 0 : FValue.AsInt64(); }
  void SetAsLargeInt(int64_t value);
  double AsFloat() const { return IsNull() ? 0 : FValue.AsDouble(); }
  void SetAsFloat(double value);
  double AsCurrency() const { return IsNull() ? 0 : FValue.AsCurrency(); }
  void SetAsCurrency(double value);
  bool AsBoolean() const { return !IsNull() && FValue.AsBoolean(); }
  void SetAsBoolean(bool value);
  // Exact moment (day number and milliseconds) and the floating form.
  TORBDateTime AsMoment() const { return IsNull() ? TORBDateTime{} : FValue.AsORBDateTime(); }
  void SetAsMoment(const TORBDateTime& moment);
  TDateTime AsDateTime() const;
  void SetAsDateTime(TDateTime value);
  void SetAsMemo(std::string_view value);
  void SetAsBlob(std::string_view bytes);

  // Takes the field's name (when unnamed), data type and value.
  void AssignField(const TField& field);
  // Takes the field's data type and `value`.
  void AssignFieldValue(const TField& field, const TORBVariant& value);
  void Assign(const TParam& source);

 private:
  void SetTyped(TFieldType data_type);

  std::string FName;
  TFieldType FDataType;
  TParamType FParamType;
  TORBVariant FValue;
  bool FBound = false;
};

class TParams {
 public:
  TParams() = default;
  TParams(const TParams&) = delete;
  TParams& operator=(const TParams&) = delete;

  int Count() const { return static_cast<int>(FItems.size()); }
  // REQUIRES: 0 <= index < Count().
  TParam& operator[](int index) const { return *FItems.at(index); }
  TParam& CreateParam(TFieldType data_type, std::string name, TParamType param_type);
  void Clear() { FItems.clear(); }
  void Remove(TParam& param);
  // nullptr when no parameter has that name (compared without case).
  TParam* FindParam(std::string_view name) const;
  // Raises "Parameter '%s' not found".
  TParam& ParamByName(std::string_view name) const;
  // Copies the lists item by item.
  void Assign(const TParams& source);
  // Gives each parameter the value of the parameter of the same name in
  // `source`, where there is one.
  void AssignValues(const TParams& source);

 private:
  std::vector<std::unique_ptr<TParam>> FItems;
};

}  // namespace orb
