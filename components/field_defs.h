#pragma once

// Field definitions: the columns a dataset's storage offers (name, type,
// size, required), from which default fields are created and to which
// persistent fields are bound by name.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/host_field_type.h"

namespace orb {

class TDataSet;
class TField;

class TFieldDef {
 public:
  TFieldDef(std::string name, TFieldType data_type, int32_t size, bool required, int32_t field_no)
      : FName(std::move(name)), FDataType(data_type), FSize(size), FRequired(required), FFieldNo(field_no) {}

  const std::string& Name() const { return FName; }
  void SetName(std::string name) { FName = std::move(name); }
  TFieldType DataType() const { return FDataType; }
  void SetDataType(TFieldType data_type) { FDataType = data_type; }
  int32_t Size() const { return FSize; }
  void SetSize(int32_t size) { FSize = size; }
  bool Required() const { return FRequired; }
  void SetRequired(bool value) { FRequired = value; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool value) { FReadOnly = value; }
  int32_t Precision() const { return FPrecision; }
  void SetPrecision(int32_t value) { FPrecision = value; }
  // 1-based position among the definitions.
  int32_t FieldNo() const { return FFieldNo; }
  // A field object of this definition's class, shape and name; nullptr for
  // a type without a field class.
  std::unique_ptr<TField> CreateField() const;

 private:
  friend class TFieldDefs;
  std::string FName;
  TFieldType FDataType;
  int32_t FSize;
  bool FRequired;
  bool FReadOnly = false;
  int32_t FPrecision = 0;
  int32_t FFieldNo;
};

class TFieldDefs {
 public:
  explicit TFieldDefs(TDataSet* data_set) : FDataSet(data_set) {}
  TFieldDefs(const TFieldDefs&) = delete;
  TFieldDefs& operator=(const TFieldDefs&) = delete;

  int Count() const { return static_cast<int>(FItems.size()); }
  // REQUIRES: 0 <= index < Count().
  TFieldDef& operator[](int index) const { return *FItems.at(index); }
  // Appends a definition numbered Count() + 1. A name already present
  // raises "Duplicate field name '%s'".
  TFieldDef& Add(std::string name, TFieldType data_type, int32_t size = 0, bool required = false);
  void Clear() { FItems.clear(); }
  int IndexOf(std::string_view name) const;
  TFieldDef* Find(std::string_view name) const;
  // Raises "Field '%s' not found".
  TFieldDef& FieldDef(std::string_view name) const;
  // False when the definitions must be read again from the storage.
  bool Updated() const { return FUpdated; }
  void SetUpdated(bool value) { FUpdated = value; }
  // Reads them from the dataset when not up to date.
  void Update();

 private:
  TDataSet* FDataSet;
  std::vector<std::unique_ptr<TFieldDef>> FItems;
  bool FUpdated = false;
};

}  // namespace orb
