#pragma once

// Index definitions as the framework lists them: a name, the indexed
// fields ("a;b"), options and the fields sorted descending or without case.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orb {

class TDataSet;

// Index options (bit set).
using TIndexOptions = uint16_t;
inline constexpr TIndexOptions ixPrimary = 1;
inline constexpr TIndexOptions ixUnique = 2;
inline constexpr TIndexOptions ixDescending = 4;
inline constexpr TIndexOptions ixCaseInsensitive = 8;
inline constexpr TIndexOptions ixExpression = 16;
inline constexpr TIndexOptions ixNonMaintained = 32;

class TIndexDef {
 public:
  TIndexDef(std::string name, std::string fields, TIndexOptions options)
      : FName(std::move(name)), FFields(std::move(fields)), FOptions(options) {}

  const std::string& Name() const { return FName; }
  void SetName(std::string name) { FName = std::move(name); }
  const std::string& Fields() const { return FFields; }
  void SetFields(std::string fields) { FFields = std::move(fields); }
  TIndexOptions Options() const { return FOptions; }
  void SetOptions(TIndexOptions options) { FOptions = options; }
  const std::string& DescFields() const { return FDescFields; }
  void SetDescFields(std::string fields) { FDescFields = std::move(fields); }
  const std::string& CaseInsFields() const { return FCaseInsFields; }
  void SetCaseInsFields(std::string fields) { FCaseInsFields = std::move(fields); }

 private:
  std::string FName;
  std::string FFields;
  TIndexOptions FOptions;
  std::string FDescFields;
  std::string FCaseInsFields;
};

class TIndexDefs {
 public:
  explicit TIndexDefs(TDataSet* data_set = nullptr) : FDataSet(data_set) {}
  TIndexDefs(const TIndexDefs&) = delete;
  TIndexDefs& operator=(const TIndexDefs&) = delete;

  TDataSet* DataSet() const { return FDataSet; }
  int Count() const { return static_cast<int>(FItems.size()); }
  // REQUIRES: 0 <= index < Count().
  TIndexDef& operator[](int index) const { return *FItems.at(index); }
  // A name already present raises "Duplicate index name '%s'".
  TIndexDef& Add(std::string name, std::string fields, TIndexOptions options);
  void Clear() { FItems.clear(); }
  void Assign(const TIndexDefs& source);
  int IndexOf(std::string_view name) const;
  TIndexDef* FindIndex(std::string_view name) const;
  // Raises "Index '%s' not found".
  TIndexDef& Find(std::string_view name) const;
  // The index whose fields are `fields` (names compared without case, ';'
  // or ',' between them), else the first whose fields begin with them;
  // with `case_insensitive` only indexes with ixCaseInsensitive count.
  // nullptr when none.
  TIndexDef* GetIndexForFields(std::string_view fields, bool case_insensitive) const;
  // As GetIndexForFields(fields, false); raises "No index for fields '%s'".
  TIndexDef& FindIndexForFields(std::string_view fields) const;
  bool Updated() const { return FUpdated; }
  void SetUpdated(bool value) { FUpdated = value; }

 private:
  TDataSet* FDataSet;
  std::vector<std::unique_ptr<TIndexDef>> FItems;
  bool FUpdated = false;
};

}  // namespace orb
