#pragma once

// Data definition statements: CREATE TABLE, DROP TABLE, CREATE [UNIQUE]
// INDEX and DROP INDEX. They turn the SQL text into field, index and
// constraint definitions and carry them out through a cursor of the
// statement's session.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "engine/base/constraint_defs.h"
#include "engine/base/field_defs.h"
#include "engine/base/index_defs.h"
#include "engine/base/variant.h"
#include "engine/sql/sql_command.h"

namespace orb {

// Error codes of the data definition statements.
inline constexpr int32_t kErrNotNullExpected = 2011;
inline constexpr int32_t kErrDDLSizeEnd = 30161;
inline constexpr int32_t kErrDDLTrailingToken = 30246;
inline constexpr int32_t kErrTableExists = 30247;
inline constexpr int32_t kErrCreateTable = 30248;
inline constexpr int32_t kErrDropTable = 30250;
inline constexpr int32_t kErrElementsParenthesis = 30226;
inline constexpr int32_t kErrColumnNameExpected = 30227;
inline constexpr int32_t kErrColumnTypeExpected = 30228;
inline constexpr int32_t kErrElementSeparator = 30229;
inline constexpr int32_t kErrDDLTableNameExpected = 30230;
inline constexpr int32_t kErrUnknownFieldType = 30232;
inline constexpr int32_t kErrSizeParenthesis = 30233;
inline constexpr int32_t kErrSizeExpected = 30235;
inline constexpr int32_t kErrSizeClose = 30236;
inline constexpr int32_t kErrIndexKeywordExpected = 30267;
inline constexpr int32_t kErrIndexNameExpected = 30269;
inline constexpr int32_t kErrOnExpected = 30271;
inline constexpr int32_t kErrIndexFieldsParenthesis = 30273;
inline constexpr int32_t kErrDropIndexEnd = 30278;
inline constexpr int32_t kErrAutoincOptionsEnd = 30290;
inline constexpr int32_t kErrAutoincInteger = 30291;
inline constexpr int32_t kErrAutoincToken = 30293;
inline constexpr int32_t kErrAutoincType = 30295;
inline constexpr int32_t kErrDefaultParse = 30297;
inline constexpr int32_t kErrDefaultTwice = 30299;
inline constexpr int32_t kErrIfExistsMissing = 30485;
inline constexpr int32_t kErrIfNotMissing = 30486;
inline constexpr int32_t kErrDropIndexTable = 30498;

// A table as a statement names it: [ MEMORY ] table.
struct TORBDDLTableName {
  std::u16string FTableName;
  bool FInMemory = false;
};

// One column of CREATE TABLE as the statement gave it.
struct TORBSQLColumnDef {
  std::u16string FName;
  TORBAdvancedFieldType FType = aftUnknown;
  int32_t FSize = 0;
  bool FRequired = false;
  bool FPrimaryKey = false;
  bool FUnique = false;
  std::optional<TORBVariant> FDefault;
  std::optional<int64_t> FMinValue;
  std::optional<int64_t> FMaxValue;
  int64_t FAutoincIncrement = 1;
  int64_t FAutoincInitialValue = 0;
  int64_t FAutoincMinValue = 0;
  int64_t FAutoincMaxValue = std::numeric_limits<int64_t>::max();
  bool FAutoincCycled = false;
};

// One index of a table element list or of CREATE INDEX.
struct TORBSQLIndexDesc {
  std::u16string FName;  // empty: named after its fields
  bool FUnique = false;
  bool FPrimary = false;
  struct TColumn {
    std::u16string FName;
    bool FDescending = false;
    bool FCaseInsensitive = false;
  };
  std::vector<TColumn> FColumns;
};

// The engine's index definition of `desc`; an unnamed one is named
// "C_PK", "C_Unique" or "i" followed by "$" and each field name.
void FillIndexDef(const TORBSQLIndexDesc& desc, TORBIndexDef& def);

// Statements that name a table the way FROM does.
class TORBDDLTableStatement : public TORBSQLCommand {
 public:
  using TORBSQLCommand::TORBSQLCommand;

 protected:
  // [ MEMORY ] name; a missing name raises 30230.
  void ParseTableName(TORBDDLTableName& table);
  // "(" field [ ASC | DESC ] [ CASE | NOCASE ] { "," ... } ")".
  void ParseIndexFields(TORBSQLIndexDesc& index, int32_t parenthesis_code);
};

class TORBDDLCreateTable : public TORBDDLTableStatement {
 public:
  using TORBDDLTableStatement::TORBDDLTableStatement;
  void Parse() override;
  // An existing table: nothing with IF NOT EXISTS, else 30247; a failure
  // of the table layer is wrapped into 30248.
  void ExecSQL(TORBSQLContext& context) override;

  // The definitions the statement stands for.
  void BuildDefs(TORBFieldDefs& fields, TORBIndexDefs& indexes, TORBConstraintDefs& constraints) const;

  TORBDDLTableName FTable;
  bool FCreateIfNotExists = false;
  std::vector<TORBSQLColumnDef> FColumns;
  std::vector<TORBSQLIndexDesc> FIndexes;

 private:
  void ParseColumn();
  void ParseType(TORBSQLColumnDef& column);
  void ParseAutoincOptions(TORBSQLColumnDef& column);
  void ParseDefault(TORBSQLColumnDef& column);
  int64_t ParseInteger(int32_t code);
};

class TORBDDLDropTable : public TORBDDLTableStatement {
 public:
  using TORBDDLTableStatement::TORBDDLTableStatement;
  void Parse() override;
  // A missing table is no error.
  void ExecSQL(TORBSQLContext& context) override;

  TORBDDLTableName FTable;
};

class TORBDDLCreateIndex : public TORBDDLTableStatement {
 public:
  using TORBDDLTableStatement::TORBDDLTableStatement;
  void Parse() override;
  void ExecSQL(TORBSQLContext& context) override;

  TORBDDLTableName FTable;
  TORBSQLIndexDesc FIndex;
};

// DROP INDEX table "." index.
class TORBDDLDropIndex : public TORBDDLTableStatement {
 public:
  using TORBDDLTableStatement::TORBDDLTableStatement;
  void Parse() override;
  void ExecSQL(TORBSQLContext& context) override;

  TORBDDLTableName FTable;
  std::u16string FIndexName;
};

// The advanced type of an SQL type name (any case), with the common names
// INT, BIGINT, REAL, DOUBLE [PRECISION], TEXT, NUMERIC and DECIMAL mapped
// to the engine's own types; aftUnknown when none.
TORBAdvancedFieldType SQLTypeByName(std::u16string_view name);

}  // namespace orb
