#include "engine/sql/sql_dml.h"

#include "engine/base/error_codes.h"
#include "engine/base/field_types.h"
#include "engine/base/orb_exception.h"
#include "engine/cursor/local_cursor.h"
#include "engine/session/base_session.h"

namespace orb {

namespace {

// A record buffer of the cursor as its current one, freed when it goes.
class TInsertBuffer {
 public:
  explicit TInsertBuffer(TORBLocalCursor& cursor) : FCursor(cursor), FBuffer(cursor.AllocateRecordBuffer()) {
    FCursor.FCurrentRecordBuffer = FBuffer;
  }
  ~TInsertBuffer() {
    FCursor.FCurrentRecordBuffer = nullptr;
    FCursor.FreeRecordBuffer(FBuffer);
  }
  uint8_t* Get() { return FBuffer; }

 private:
  TORBLocalCursor& FCursor;
  uint8_t* FBuffer;
};

}  // namespace

TORBSQLInsert::~TORBSQLInsert() = default;

void TORBSQLInsert::Parse() {
  Next();  // INSERT
  if (!IsWord(rwINTO)) RaiseExpected(kErrIntoExpected, "Token 'INTO' expected", kErrInsertEnd);
  Next();
  if (AtEnd()) RaiseEnd(kErrInsertEnd);
  if (!IsName() && FToken.TokenType != tktParameter && !IsWord(rwMEMORY))
    RaiseExpected(kErrInsertTableExpected, "Table name expected", kErrInsertEnd);
  ParseTableName(FTable);
  TToken after;
  FLex.LookNextToken(after);
  if (FToken.TokenType == tktLeftParenthesis && !IsReservedWord(after, rwSELECT)) {
    Next();
    for (;;) {
      if (!IsName()) RaiseExpected(kErrInsertFieldExpected, "Field name expected", kErrInsertEnd);
      FColumns.push_back(FToken.Text);
      Next();
      if (FToken.TokenType == tktRightParenthesis) break;
      if (FToken.TokenType != tktComma)
        RaiseExpected(kErrInsertColumnSeparator, "')' or ',' symbol expected", kErrInsertEnd);
      Next();
    }
    Next();
  }
  if (IsWord(rwSELECT) || FToken.TokenType == tktLeftParenthesis)
    RaiseORB(kErrSQLNotSupported, "SQL statement '%s' is not supported yet (line %d, column %d)",
             FormatArgs{std::u16string(u"INSERT ... SELECT"), FToken.LineNum, FToken.ColumnNum});
  if (!IsWord(rwVALUES)) RaiseExpected(kErrValuesParenthesis, "Token 'VALUES' expected", kErrInsertEnd);
  Next();
  for (;;) {
    if (FToken.TokenType != tktLeftParenthesis)
      RaiseExpected(kErrValuesParenthesis, "'(' symbol expected", kErrInsertEnd);
    TRow row;
    row.FLineNum = FToken.LineNum;
    row.FColumnNum = FToken.ColumnNum;
    Next();
    for (;;) {
      if (AtEnd()) RaiseEnd(kErrInsertRowEnd);
      const TToken start = FToken;
      auto value = std::make_unique<TORBExpression>();
      value->ParseForValueExpression(FLex);
      FLex.GetCurrentToken(FToken);
      if (value->IsEmpty() || value->RefersToFields())
        RaiseORB(kErrInsertValueParse, "Error parsing parameter '%s' at line %d, column %d",
                 FormatArgs{start.Text, start.LineNum, start.ColumnNum});
      row.FValues.push_back(std::move(value));
      if (FToken.TokenType == tktRightParenthesis) break;
      if (FToken.TokenType != tktComma)
        RaiseExpected(kErrInsertColumnSeparator, "')' or ',' symbol expected", kErrInsertRowEnd);
      Next();
    }
    Next();
    // Every row is checked, not only the first: a row longer than the
    // column list would write past it.
    if (!FColumns.empty() && row.FValues.size() != FColumns.size())
      RaiseORB(kErrInsertValueCount,
               "Number of field names does not equal the number of field values: %d <> %d. Found at line %d, column %d",
               FormatArgs{static_cast<int>(FColumns.size()), static_cast<int>(row.FValues.size()), row.FLineNum,
                          row.FColumnNum});
    FRows.push_back(std::move(row));
    if (AtEnd()) break;
    if (FToken.TokenType != tktComma) RaiseUnexpected(kErrDDLTrailingToken);
    Next();
  }
}

void TORBSQLInsert::ExecSQL(TORBSQLContext& context) {
  TORBLocalCursor cursor;
  cursor.FSession = context.SessionFor(FTable.FInMemory);
  cursor.FTableName = FTable.FTableName;
  cursor.OpenTableByFieldDefs(TORBFieldDefs(), TORBIndexDefs(), TORBConstraintDefs());
  const int32_t field_count = cursor.FVisibleFieldDefs.GetCount();
  std::vector<int32_t> field_nos;
  if (FColumns.empty()) {
    for (const TRow& row : FRows)
      if (static_cast<int32_t>(row.FValues.size()) > field_count)
        RaiseORB(kErrInsertValueCount,
                 "Number of field names does not equal the number of field values: %d <> %d. Found at line %d, "
                 "column %d",
                 FormatArgs{field_count, static_cast<int>(row.FValues.size()), row.FLineNum, row.FColumnNum});
    for (int32_t i = 0; i < field_count; ++i) field_nos.push_back(i);
  } else {
    for (const std::u16string& name : FColumns) {
      const int32_t no = cursor.FVisibleFieldDefs.GetDefNumberByName(std::u16string_view(name));
      if (no < 0)
        RaiseORB(kErrSQLInsertFieldNotFound, "Field '%s' not found in table '%s'", FormatArgs{name, FTable.FTableName});
      field_nos.push_back(no);
    }
  }
  const bool batch = !cursor.SessionInTransaction();
  if (batch) cursor.BeginBatchUpdate();
  try {
    PostRows(cursor, field_nos);
  } catch (...) {
    // The rows posted before the failing one stay.
    if (batch) cursor.EndBatchUpdate();
    cursor.CloseTable();
    throw;
  }
  if (batch) cursor.EndBatchUpdate();
  cursor.CloseTable();
}

void TORBSQLInsert::PostRows(TORBLocalCursor& cursor, const std::vector<int32_t>& field_nos) {
  TInsertBuffer buffer(cursor);
  for (TRow& row : FRows) {
    cursor.InternalInitRecord(buffer.Get(), true);
    for (size_t i = 0; i < row.FValues.size(); ++i) {
      const int32_t field_no = field_nos[i];
      const TORBFieldDef* def = cursor.FVisibleFieldDefs.GetDef(field_no);
      if (IsBLOBFieldType(def->FAdvancedFieldType))
        RaiseORB(kErrSQLNotSupported, "SQL statement '%s' is not supported yet (line %d, column %d)",
                 FormatArgs{std::u16string(u"INSERT into a memo or BLOB field"), row.FLineNum, row.FColumnNum});
      cursor.SetFieldValue(row.FValues[i]->GetValue(), field_no, false);
    }
    cursor.InternalPost(true);
    if (cursor.FErrorCode != 0) {
      const int32_t status = cursor.FErrorCode;
      cursor.InternalCancel(true);
      Check(status, cursor.FErrorMessage.empty() ? "Cannot insert record" : cursor.FErrorMessage);
    }
    ++FRowsAffected;
  }
}

}  // namespace orb
