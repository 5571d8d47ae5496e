#pragma once

// Field definitions: a field's name, types, size, record layout, default
// value, BLOB storage settings and auto-increment settings, and the ordered
// collection of a table's fields.

#include <cstdint>
#include <limits>
#include <memory>

#include "engine/base/metadata.h"
#include "engine/base/compression.h"
#include "engine/base/field_types.h"
#include "engine/base/record_layout.h"
#include "engine/base/variant.h"

namespace orb {

// A default value that is computed anew for every inserted record (a
// function such as the current date, as opposed to a literal).
class TORBDefaultValueExpr {
 public:
  virtual ~TORBDefaultValueExpr() = default;
  // Evaluates the expression into `result`.
  virtual void Evaluate(TORBVariant& result) = 0;
};

// Parses a default value; returns an expression when the value is
// non-constant (a non-null string that parses as a value expression
// referring to no field and whose value, as text, differs from the text
// itself), else null. Never raises.
using TORBDefaultValueExprParser = std::unique_ptr<TORBDefaultValueExpr> (*)(const TORBVariant& value);

// The SQL layer installs the parser at engine start; without one every
// default value is constant.
void SetDefaultValueExprParser(TORBDefaultValueExprParser parser);
TORBDefaultValueExprParser GetDefaultValueExprParser();

// Stored form of a field definition (little-endian), a = 5 + L after the
// meta object header, b = a + 12 for the BLOB base types (bftBlob, bftClob,
// bftWideClob) and a + 6 for the others:
// | offset | size | type  | meaning (codes: save / load)                    |
// |      0 |    a | ...   | meta object header (TORBMetaObjectDef)          |
// |      a |    1 | uint8 | FBaseFieldType (10170 / 10187)                  |
// |  a + 1 |    1 | uint8 | FAdvancedFieldType (10171 / 10188)              |
// |  a + 2 |    4 | int32 | FFieldSize (10172 / 10189)                      |
// |  a + 6 |    1 | uint8 | BLOB types only: FBLOBCompressionAlgorithm      |
// |        |      |       | (10175 / 10192)                                 |
// |  a + 7 |    1 | uint8 | BLOB types only: FBLOBCompressionMode           |
// |        |      |       | (10176 / 10193)                                 |
// |  a + 8 |    4 | int32 | BLOB types only: FBLOBBlockSize (10177 / 10194) |
// |      b |    8 | int64 | FAutoincIncrement (30412 / 30407)               |
// |  b + 8 |    8 | int64 | FAutoincInitialValue (30413 / 30408)            |
// | b + 16 |    8 | int64 | FAutoincMinValue (30414 / 30409)                |
// | b + 24 |    8 | int64 | FAutoincMaxValue (30415 / 30410)                |
// | b + 32 |    1 | bool  | FAutoincCycled (30416 / 30411)                  |
// | b + 33 | 2..  | value | FDefaultValue as a TORBVariant stream: uint8    |
// |        |      |       | kind, uint8 null flag (1 = null); when not null |
// |        |      |       | an int32 size n and n data bytes                |
// Loading refuses, with the item's load code, a base type, an advanced type
// or a compression algorithm out of range; it sets the default value to a
// null of the field's base type before reading it, then parses the default
// again and recomputes the sizes. The record layout fields (sizes, offsets,
// FFieldNoReference) are not stored.
class TORBFieldDef : public TORBMetaObjectDef {
 public:
  TORBFieldDef() = default;
  ~TORBFieldDef() override;

  // Copies everything from a field definition (the default value is copied
  // and parsed again); from any other definition only the common part.
  void Assign(const TORBMetaObjectDef& source) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) const override;

  // Sets the declared type, the storage type of its first row in
  // SQLFieldTypes and the size, then the sizes in records. A type without
  // storage type raises 30007.
  void SetFieldDefDataType(TORBAdvancedFieldType advanced_field_type, int32_t field_size);
  // Same from a storage type; one without declared type raises 30008.
  void SetFieldDefDataType(TORBBaseFieldType base_field_type, int32_t field_size);
  // FMemoryDataSize and FDiskDataSize from the type and size.
  void RecalcInternalSizes();
  // Replaces FDefaultValueExpr by the parse of a non-constant default.
  void CreateDefaultValueExprIfNeeded();

  TORBBaseFieldType FBaseFieldType = bftUnknown;
  TORBAdvancedFieldType FAdvancedFieldType = aftUnknown;
  int32_t FFieldSize = 0;
  int32_t FDiskDataSize = 0;
  int32_t FMemoryDataSize = 0;
  int32_t FDiskOffset = 0;
  int32_t FMemoryOffset = 0;
  // In a cursor's visible fields: the number of the table field shown.
  int32_t FFieldNoReference = 0;
  TORBVariant FDefaultValue{bftUnknown};
  std::unique_ptr<TORBDefaultValueExpr> FDefaultValueExpr;
  TORBCompressionAlgorithm FBLOBCompressionAlgorithm = acaNone;
  uint8_t FBLOBCompressionMode = 0;
  int32_t FBLOBBlockSize = DefaultBLOBBlockSize;
  int64_t FAutoincIncrement = 1;
  int64_t FAutoincInitialValue = 0;
  int64_t FAutoincMinValue = 0;
  int64_t FAutoincMaxValue = std::numeric_limits<int64_t>::max();
  bool FAutoincCycled = false;
};

class TORBFieldDefs : public TORBMetaObjectDefs {
 public:
  TORBFieldDef* GetDef(int32_t index) const { return static_cast<TORBFieldDef*>(TORBMetaObjectDefs::GetDef(index)); }
  void SetDef(int32_t index, std::unique_ptr<TORBFieldDef> def) { SetDefAt(index, std::move(def)); }
  int32_t Add(std::unique_ptr<TORBFieldDef> def) { return AddDef(std::move(def)); }
  void Insert(int32_t index, std::unique_ptr<TORBFieldDef> def) { InsertDef(index, std::move(def)); }
  TORBFieldDef* AddCreated() { return static_cast<TORBFieldDef*>(InternalAddCreated()); }

  TORBFieldDef* GetFieldDefByName(std::string_view ansi_name) const {
    return static_cast<TORBFieldDef*>(GetDefByName(ansi_name));
  }
  TORBFieldDef* GetFieldDefByName(std::u16string_view name) const {
    return static_cast<TORBFieldDef*>(GetDefByName(name));
  }

  // Also recomputes the offsets.
  void LoadFromStream(TStream& stream) override;

  // FMemoryOffset and FDiskOffset of every field: the null bitmap, then the
  // fields back to back (see LayOutFields).
  virtual void RecalcFieldOffsets();
  // Null bitmap plus all fields; 0 without fields.
  int32_t GetMemoryRecordBufferSize() const;
  int32_t GetDiskRecordBufferSize() const;
  // Bytes of the null bitmap: one bit per field.
  int32_t GetNullBitmapSize() const { return orb::GetNullBitmapSize(GetCount()); }

 protected:
  const char* ClassName() const override { return "TORBFieldDefs"; }
  std::unique_ptr<TORBMetaObjectDef> CreateDef() const override { return std::make_unique<TORBFieldDef>(); }
};

}  // namespace orb
