#pragma once
// Advanced field definitions: one field with every setting the engine
// keeps for it (type, size, required, default, limits, auto-increment,
// BLOB storage), and the conversions between them, the framework's field
// definitions and the engine's field and constraint definitions.
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/constraint_defs.h"
#include "engine/base/field_defs.h"
#include "engine/base/field_types.h"
#include "engine/base/index_defs.h"
#include "engine/base/variant.h"

namespace orb {

class TFieldDefs;

enum TCompressionAlgorithm : uint8_t { caNone = 0, caZLIB = 1, caBZIP = 2, caPPM = 3 };

struct TORBAdvFieldDef {
  std::string FName;
  int32_t FObjectID = -1;  // identifies the field across renames
  TORBAdvancedFieldType FDataType = aftUnknown;
  bool FRequired = false;
  int32_t FSize = 0;
  TORBVariant FDefaultValue{bftUnknown};
  TORBVariant FMinValue{bftUnknown};
  TORBVariant FMaxValue{bftUnknown};
  int64_t FAutoincIncrement = 1;
  int64_t FAutoincInitialValue = 0;
  int64_t FAutoincMinValue = 0;
  int64_t FAutoincMaxValue = std::numeric_limits<int64_t>::max();
  bool FAutoincCycled = false;
  TCompressionAlgorithm FBLOBCompressionAlgorithm = caNone;
  uint8_t FBLOBCompressionMode = 0;
  int32_t FBLOBBlockSize = DefaultBLOBBlockSize;
};

class TORBAdvFieldDefs {
 public:
  TORBAdvFieldDefs() = default;
  TORBAdvFieldDefs(const TORBAdvFieldDefs&) = delete;
  TORBAdvFieldDefs& operator=(const TORBAdvFieldDefs&) = delete;

  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  // REQUIRES: 0 <= index < Count().
  TORBAdvFieldDef& Defs(int32_t index) const { return *FItems.at(static_cast<size_t>(index)); }
  // Replaces the list by copies of `source`'s definitions.
  void Assign(const TORBAdvFieldDefs& source);
  // Appends a definition with the defaults.
  TORBAdvFieldDef& AddFieldDef();
  TORBAdvFieldDef& Add(std::string name, TORBAdvancedFieldType data_type, int32_t size = 0, bool required = false,
                       TCompressionAlgorithm algorithm = caNone, uint8_t mode = 0);
  // Raises 30349 "Field '%s' not found".
  void DeleteFieldDef(std::string_view name);
  // Case-insensitive; nullptr when absent.
  TORBAdvFieldDef* Find(std::string_view name) const;
  void Clear() { FItems.clear(); }

 private:
  std::vector<std::unique_ptr<TORBAdvFieldDef>> FItems;
};

// --- conversions ---

// Name, type, size and required flag, both ways.
void HostToAdvFieldDefs(const TFieldDefs& source, TORBAdvFieldDefs& dest);
void AdvToHostFieldDefs(const TORBAdvFieldDefs& source, TFieldDefs& dest);

// The engine definitions a table is created from. Unless `temporary`, the
// constraints: not null for each required field, a check for each field
// with a minimum or maximum, and a primary-key or unique constraint for
// each primary or unique index of `indexes`.
void AdvToEngineFieldDefs(const TORBAdvFieldDefs& source, const TORBIndexDefs& indexes, bool temporary,
                          TORBFieldDefs& fields, TORBConstraintDefs& constraints);
// A table's definitions: not-null constraints set FRequired, check
// constraints the limits; unique and primary-key constraints belong to
// the indexes and are skipped. Other kinds raise 30039; a constraint on a
// missing column raises 30031 (not null) or 30032 (check).
void EngineToAdvFieldDefs(const TORBFieldDefs& fields, const TORBConstraintDefs& constraints,
                          TORBAdvFieldDefs& dest);
// Name, framework type, size for sizeable types; required from a
// not-null constraint unless the field is auto-incremented.
void EngineToHostFieldDefs(const TORBFieldDefs& fields, const TORBConstraintDefs& constraints, TFieldDefs& dest);

// Normalises the definitions before a table is created: empty-text
// defaults and limits become nulls, others take the field's base type;
// the size is kept only for string and bytes types; a GUID gets 38.
void AutoCorrectAdvFieldDefs(TORBAdvFieldDefs& defs);
// 30499 for a field without name, 30453 for a string or bytes field
// without size, 20257 for a compressed BLOB whose mode is outside 1..9.
void CheckAdvFieldDefs(const TORBAdvFieldDefs& defs, const std::string& table_name);

}  // namespace orb
