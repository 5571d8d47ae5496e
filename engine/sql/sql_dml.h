#pragma once

// Data modification statements. INSERT INTO [ MEMORY ] table [ "(" columns
// ")" ] VALUES "(" values ")" { "," "(" values ")" }: each row is checked
// against the column list (or, without one, the table's field count) and
// posted through a cursor of the table; outside a transaction the rows of
// one statement are applied as one batch.

#include <memory>
#include <string>
#include <vector>

#include "engine/expr/expression.h"
#include "engine/sql/sql_ddl.h"

namespace orb {

// Error codes of INSERT.
inline constexpr int32_t kErrInsertValueCount = 20259;
inline constexpr int32_t kErrInsertRowEnd = 30203;
inline constexpr int32_t kErrInsertEnd = 30205;
inline constexpr int32_t kErrIntoExpected = 30206;
inline constexpr int32_t kErrInsertTableExpected = 30207;
inline constexpr int32_t kErrInsertFieldExpected = 2156;
inline constexpr int32_t kErrInsertColumnSeparator = 30212;
inline constexpr int32_t kErrValuesParenthesis = 30214;
inline constexpr int32_t kErrInsertValueParse = 30357;

class TORBSQLInsert : public TORBDDLTableStatement {
 public:
  using TORBDDLTableStatement::TORBDDLTableStatement;
  ~TORBSQLInsert() override;
  void Parse() override;
  // Rows posted before a failing one stay (and count).
  void ExecSQL(TORBSQLContext& context) override;

  TORBDDLTableName FTable;
  std::vector<std::u16string> FColumns;
  struct TRow {
    std::vector<std::unique_ptr<TORBExpression>> FValues;
    int32_t FLineNum = 0;
    int32_t FColumnNum = 0;
  };
  std::vector<TRow> FRows;

 private:
  void PostRows(class TORBLocalCursor& cursor, const std::vector<int32_t>& field_nos);
};

}  // namespace orb
