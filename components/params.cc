#include "components/params.h"

#include "components/db_common.h"
#include "components/field.h"
#include "components/host_date_time.h"

namespace orb {

void TParam::SetTyped(TFieldType data_type) {
  FDataType = data_type;
  FBound = true;
}

void TParam::Clear() {
  FValue = TORBVariant();
  FBound = true;
}

void TParam::SetValue(const TORBVariant& value) {
  FValue = value;
  FBound = true;
}

void TParam::SetAsString(std::string_view value) {
  FValue = TORBVariant();
  FValue.SetAsAnsiString(std::string(value));
  SetTyped(ftString);
}

void TParam::SetAsInteger(int32_t value) {
  FValue = TORBVariant();
  FValue.SetAsInteger(value);
  SetTyped(ftInteger);
}

void TParam::SetAsLargeInt(int64_t value) {
  FValue = TORBVariant();
  FValue.SetAsInt64(value);
  SetTyped(ftLargeint);
}

void TParam::SetAsFloat(double value) {
  FValue = TORBVariant();
  FValue.SetAsDouble(value);
  SetTyped(ftFloat);
}

void TParam::SetAsCurrency(double value) {
  FValue = TORBVariant();
  FValue.SetAsCurrency(value);
  SetTyped(ftCurrency);
}

void TParam::SetAsBoolean(bool value) {
  FValue = TORBVariant();
  FValue.SetAsBoolean(value);
  SetTyped(ftBoolean);
}

void TParam::SetAsMoment(const TORBDateTime& moment) {
  FValue = TORBVariant();
  FValue.SetAsORBDateTime(moment);
  SetTyped(ftDateTime);
}

TDateTime TParam::AsDateTime() const {
  if (IsNull()) return 0;
  const TORBDateTime moment = FValue.AsORBDateTime();
  return IsValidMoment(moment) ? MomentToDateTime(moment) : 0;
}

void TParam::SetAsDateTime(TDateTime value) {
  TORBDateTime moment;
  if (!TryDateTimeToMoment(value, moment)) DatabaseErrorFmt(kSInvalidDateTimeValue, {"", Ansi(FName)});
  SetAsMoment(moment);
}

void TParam::SetAsMemo(std::string_view value) {
  FValue = TORBVariant();
  FValue.SetData(value.data(), static_cast<int32_t>(value.size()), bftClob, true);
  SetTyped(ftMemo);
}

void TParam::SetAsBlob(std::string_view bytes) {
  FValue = TORBVariant();
  FValue.SetData(bytes.data(), static_cast<int32_t>(bytes.size()), bftBlob, true);
  SetTyped(ftBlob);
}

void TParam::AssignField(const TField& field) {
  if (FName.empty()) FName = field.FieldName();
  AssignFieldValue(field, field.AsVariant());
}

void TParam::AssignFieldValue(const TField& field, const TORBVariant& value) {
  FDataType = field.DataType();
  FValue = value;
  FBound = true;
}

void TParam::Assign(const TParam& source) {
  if (&source == this) return;
  FName = source.FName;
  FDataType = source.FDataType;
  FParamType = source.FParamType;
  FValue = source.FValue;
  FBound = source.FBound;
}

TParam& TParams::CreateParam(TFieldType data_type, std::string name, TParamType param_type) {
  FItems.push_back(std::make_unique<TParam>(std::move(name), data_type, param_type));
  return *FItems.back();
}

void TParams::Remove(TParam& param) {
  for (size_t i = 0; i < FItems.size(); ++i)
    if (FItems[i].get() == &param) {
      FItems.erase(FItems.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
}

TParam* TParams::FindParam(std::string_view name) const {
  for (const auto& param : FItems)
    if (SameName(param->Name(), name)) return param.get();
  return nullptr;
}

TParam& TParams::ParamByName(std::string_view name) const {
  TParam* param = FindParam(name);
  if (!param) DatabaseErrorFmt(kSParameterNotFound, {Ansi(name)});
  return *param;
}

void TParams::Assign(const TParams& source) {
  if (&source == this) return;
  FItems.clear();
  for (const auto& param : source.FItems) CreateParam(ftUnknown, {}, ptUnknown).Assign(*param);
}

void TParams::AssignValues(const TParams& source) {
  for (const auto& param : FItems)
    if (TParam* other = source.FindParam(param->Name())) {
      param->SetDataType(other->DataType());
      param->SetValue(other->Value());
    }
}

}  // namespace orb
