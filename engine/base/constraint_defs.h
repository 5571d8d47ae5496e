#pragma once

// Constraint definitions (primary key, unique, not null, check), their
// collection, and the constraint an index implies.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/base/metadata.h"
#include "engine/base/variant.h"

namespace orb {

class TORBIndexDef;

enum TORBConstraintType : uint8_t { ctPK = 0, ctFK = 1, ctUnique = 2, ctNotNull = 3, ctCheck = 4 };

// Each concrete class has its own stored form, so the type follows the
// class: Assign takes the source's type only between primary key and
// unique, which share their form.
class TORBConstraintDef : public TORBMetaObjectDef {
 public:
  void Assign(const TORBMetaObjectDef& source) override;

  TORBConstraintType GetConstraintType() const { return FConstraintType; }

 protected:
  explicit TORBConstraintDef(TORBConstraintType type) : FConstraintType(type) {}

  TORBConstraintType FConstraintType;
};

// A column that may not be null. The names are stored behind a one-byte
// count that includes their own length byte, so each holds at most 254
// bytes; a longer one raises kErrConstraintNameTooLong.
//
// Stored form of a not-null or check definition (little-endian), a = 5 + L
// after the meta object header; each name is a counted name: a one-byte
// count n = length + 1, then the length byte and the length bytes of the
// name (n bytes in all):
// | offset | size  | type  | meaning (codes: not-null save / load, check     |
// |        |       |       | save / load)                                    |
// |      0 |     a | ...   | meta object header (TORBMetaObjectDef)          |
// |      a |     4 | int32 | FTableSchemaObjectID (10240 / 10249,            |
// |        |       |       | 10227 / 10230)                                  |
// |  a + 4 |     4 | int32 | FTableObjectID (10241 / 10250, 10228 / 10231)   |
// |  a + 8 |     4 | int32 | FColumnObjectID (10242 / 10251, 10229 / 10232)  |
// | a + 12 | 1 + n | name  | FTableSchemaName: count (10243 / 10252,         |
// |        |       |       | 10221 / 10233), bytes (10244 / 10253,           |
// |        |       |       | 10222 / 10234)                                  |
// |    ... | 1 + n | name  | FTableName: count (10245 / 10254, 10223 /       |
// |        |       |       | 10235), bytes (10246 / 10255, 10224 / 10236)    |
// |    ... | 1 + n | name  | FColumnName: count (10247 / 10256, 10225 /      |
// |        |       |       | 10237), bytes (10248 / 10257, 10226 / 10238)    |
// |    ... |  2..  | value | check only: FMinValue, then FMaxValue, each a   |
// |        |       |       | TORBVariant stream (see TORBFieldDef)           |
// Loading refuses, with the count's code, a count of 0, and with the bytes'
// code a length byte other than count - 1.
class TORBConstraintDefNotNull : public TORBConstraintDef {
 public:
  static constexpr size_t kMaxNameLength = 254;

  TORBConstraintDefNotNull() : TORBConstraintDef(ctNotNull) {}

  void Assign(const TORBMetaObjectDef& source) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) const override;

  // Column and table names (at most 254 bytes in the code page) and the
  // schema name.
  void SetNames(std::u16string_view column_name, std::u16string_view table_name, std::u16string_view schema_name);

  const std::string& GetTableSchemaName() const { return FTableSchemaName; }
  const std::string& GetTableName() const { return FTableName; }
  const std::string& GetColumnName() const { return FColumnName; }
  void SetTableSchemaName(std::string_view ansi_name);
  void SetTableName(std::string_view ansi_name);
  void SetColumnName(std::string_view ansi_name);

  int32_t FTableSchemaObjectID = -1;
  int32_t FTableObjectID = -1;
  int32_t FColumnObjectID = -1;

 protected:
  explicit TORBConstraintDefNotNull(TORBConstraintType type) : TORBConstraintDef(type) {}

  struct StreamCodes {
    int32_t schema_id, table_id, column_id;
    int32_t schema_count, schema_name, table_count, table_name, column_count, column_name;
  };
  void SaveCommon(TStream& stream, const StreamCodes& codes) const;
  void LoadCommon(TStream& stream, const StreamCodes& codes);

 private:
  std::string FTableSchemaName;
  std::string FTableName;
  std::string FColumnName;
};

// A column whose non-null values lie between two limits (null: no limit).
class TORBConstraintDefCheck : public TORBConstraintDefNotNull {
 public:
  TORBConstraintDefCheck() : TORBConstraintDefNotNull(ctCheck) {}

  void Assign(const TORBMetaObjectDef& source) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) const override;

  TORBVariant FMinValue{bftUnknown};
  TORBVariant FMaxValue{bftUnknown};
};

struct TORBConstraintColumn {
  std::string ColumnName;  // code page, at most 255 bytes
  int32_t ColumnObjectID = -1;
};

// Unique key over the columns of one index. Names hold at most 255 bytes;
// a longer one raises kErrConstraintNameTooLong.
//
// Stored form of a unique or primary-key definition (little-endian),
// a = 5 + L after the meta object header; each name is a counted name with
// a four-byte count: int32 n = length + 1, then the length byte and the
// length bytes of the name (n bytes in all):
// | offset | size  | type  | meaning (codes: save / load)                    |
// |      0 |     a | ...   | meta object header (TORBMetaObjectDef)          |
// |      a |     4 | int32 | FTableSchemaObjectID (30313 / 30303)            |
// |  a + 4 |     4 | int32 | FTableObjectID (30314 / 30304)                  |
// |  a + 8 |     4 | int32 | FIndexObjectID (30318 / 30317)                  |
// | a + 12 | 4 + n | name  | FTableSchemaName: count (30315 / 30305), bytes  |
// |        |       |       | (30316 / 30306)                                 |
// |    ... | 4 + n | name  | FTableName: count (30317 / 30307), bytes        |
// |        |       |       | (30318 / 30308)                                 |
// |    ... | 4 + n | name  | FIndexName: count (30323 / 30321), bytes        |
// |        |       |       | (30324 / 30322)                                 |
// |    ... |     4 | int32 | column count C, not negative (30319 / 30309)    |
// |    ... |   ... | ...   | C columns, each: int32 ColumnObjectID (30320 /  |
// |        |       |       | 30310), then ColumnName as a counted name:      |
// |        |       |       | count (30321 / 30311), bytes (30322 / 30312)    |
// Loading refuses, with the count's code, a count below 1 or above 256, and
// with the bytes' code a length byte other than count - 1.
class TORBConstraintDefUnique : public TORBConstraintDef {
 public:
  TORBConstraintDefUnique() : TORBConstraintDef(ctUnique) {}

  void Assign(const TORBMetaObjectDef& source) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) const override;

  const std::string& GetTableSchemaName() const { return FTableSchemaName; }
  const std::string& GetTableName() const { return FTableName; }
  const std::string& GetIndexName() const { return FIndexName; }
  void SetTableSchemaName(std::string_view ansi_name);
  void SetTableName(std::string_view ansi_name);
  void SetIndexName(std::string_view ansi_name);
  // Appends a column.
  void AddColumn(std::string_view ansi_name, int32_t object_id = -1);

  const std::vector<TORBConstraintColumn>& Columns() const { return FColumns; }
  int32_t GetColumnCount() const { return static_cast<int32_t>(FColumns.size()); }
  void SetColumnObjectID(int32_t index, int32_t object_id);
  void ClearColumns() { FColumns.clear(); }

  int32_t FTableSchemaObjectID = -1;
  int32_t FTableObjectID = -1;
  int32_t FIndexObjectID = -1;

 protected:
  explicit TORBConstraintDefUnique(TORBConstraintType type) : TORBConstraintDef(type) {}

 private:
  std::string FTableSchemaName;
  std::string FTableName;
  std::string FIndexName;
  std::vector<TORBConstraintColumn> FColumns;
};

class TORBConstraintDefPrimary : public TORBConstraintDefUnique {
 public:
  TORBConstraintDefPrimary() : TORBConstraintDefUnique(ctPK) {}
};

class TORBConstraintDefs : public TORBMetaObjectDefs {
 public:
  TORBConstraintDef* GetDef(int32_t index) const {
    return static_cast<TORBConstraintDef*>(TORBMetaObjectDefs::GetDef(index));
  }
  void SetDef(int32_t index, std::unique_ptr<TORBConstraintDef> def) { SetDefAt(index, std::move(def)); }
  int32_t Add(std::unique_ptr<TORBConstraintDef> def) { return AddDef(std::move(def)); }
  void Insert(int32_t index, std::unique_ptr<TORBConstraintDef> def) { InsertDef(index, std::move(def)); }

  TORBConstraintDefNotNull* AddNotNull();
  TORBConstraintDefCheck* AddCheck();
  TORBConstraintDefPrimary* AddPK();
  TORBConstraintDefUnique* AddUnique();

  // Clears, then appends a copy of each source constraint by its type
  // (30035 for a type without class). Names are not checked.
  void Assign(const TORBMetaObjectDefs& source) override;
  // Stored form: int32 count (10158 / 10159), then per constraint a uint8
  // TORBConstraintType (10219 / 10220) followed by the definition in its
  // class's stored form. On load the type picks the class: 0 primary key,
  // 2 unique, 3 not null, 4 check; any other raises 30316.
  void SaveToStream(TStream& stream) const override;

 protected:
  const char* ClassName() const override { return "TORBConstraintDefs"; }
  std::unique_ptr<TORBMetaObjectDef> LoadDef(TStream& stream) override;
};

// Appends to `constraint_defs` the constraint `index_def` implies: a primary
// key for a primary index, else a unique constraint for a unique index, else
// nothing (null). It is named "C_PK" or "C_Unique" followed by "$" and each
// column's field name (cut to 255 characters).
TORBConstraintDef* AddConstraintForIndex(const TORBIndexDef& index_def, TORBConstraintDefs& constraint_defs);

}  // namespace orb
