#include "engine/sql/sql_ddl.h"

#include <charconv>
#include <memory>
#include <string_view>

#include "engine/base/error_codes.h"
#include "engine/base/field_types.h"
#include "engine/base/orb_exception.h"
#include "engine/cursor/local_cursor.h"
#include "engine/expr/expression.h"
#include "engine/platform/codepage.h"
#include "engine/session/base_session.h"

namespace orb {

namespace {

std::u16string Upper(std::u16string_view text) {
  std::u16string upper(text);
  for (char16_t& c : upper)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return upper;
}

// Words a DEFAULT stores as they are, evaluated when a row is inserted.
bool IsDateTimeDefaultWord(std::u16string_view word) {
  const std::u16string upper = Upper(word);
  return upper == u"NOW" || upper == u"CURRENT_TIMESTAMP" || upper == u"CURRENT_TIME" || upper == u"CURRENT_DATE" ||
         upper == u"SYSDATE";
}

// A quoted default as text the default-value parser reads back: enclosed
// in double quotes, each double quote inside doubled.
std::u16string QuoteDefault(std::u16string_view text) {
  std::u16string quoted = u"\"";
  for (char16_t c : text) {
    if (c == u'"') quoted += u'"';
    quoted += c;
  }
  quoted += u'"';
  return quoted;
}

// A table's cursor that leaves the table when it goes.
class TTableCursor {
 public:
  TTableCursor(TORBSQLContext& context, const TORBDDLTableName& table) {
    FCursor.FSession = context.SessionFor(table.FInMemory);
    FCursor.FTableName = table.FTableName;
  }
  ~TTableCursor() { FCursor.CloseTable(); }
  TORBLocalCursor& Open() {
    FCursor.OpenTableByFieldDefs(TORBFieldDefs(), TORBIndexDefs(), TORBConstraintDefs());
    return FCursor;
  }
  TORBLocalCursor FCursor;
};

}  // namespace

TORBAdvancedFieldType SQLTypeByName(std::u16string_view name) {
  const std::u16string upper = Upper(name);
  if (upper == u"INT") return GetFieldType(u"INTEGER");
  if (upper == u"BIGINT") return GetFieldType(u"LARGEINT");
  // REAL, NUMERIC and DECIMAL keep their values as doubles; TEXT is a
  // wide memo, so that no length limit and no character is lost.
  if (upper == u"REAL" || upper == u"NUMERIC" || upper == u"DECIMAL") return GetFieldType(u"DOUBLE");
  if (upper == u"TEXT") return GetFieldType(u"WIDEMEMO");
  return GetFieldType(upper);
}

void FillIndexDef(const TORBSQLIndexDesc& desc, TORBIndexDef& def) {
  std::u16string name = desc.FName;
  if (name.empty()) {
    name = desc.FPrimary ? u"C_PK" : desc.FUnique ? u"C_Unique" : u"i";
    for (const TORBSQLIndexDesc::TColumn& column : desc.FColumns) name += u"$" + column.FName;
  }
  def.SetName(std::u16string_view(name));
  def.SetColumnCount(static_cast<int32_t>(desc.FColumns.size()));
  for (size_t i = 0; i < desc.FColumns.size(); ++i) {
    TORBIndexColumn* column = def.GetIndexColumn(static_cast<int32_t>(i));
    column->SetFieldName(desc.FColumns[i].FName);
    column->FDescending = desc.FColumns[i].FDescending;
    column->FCaseInsensitive = desc.FColumns[i].FCaseInsensitive;
  }
  def.FUnique = desc.FUnique || desc.FPrimary;
  def.FPrimary = desc.FPrimary;
}

// --- TORBDDLTableStatement ---

void TORBDDLTableStatement::ParseTableName(TORBDDLTableName& table) {
  if (IsWord(rwMEMORY)) {
    table.FInMemory = true;
    Next();
  }
  if (!IsName() && FToken.TokenType != tktParameter)
    RaiseExpected(kErrDDLTableNameExpected, "Table name expected", kErrDDLTableNameExpected);
  table.FTableName = TokenText();
  Next();
  if (FToken.TokenType == tktDot)
    RaiseORB(kErrSQLNotSupported, "SQL statement '%s' is not supported yet (line %d, column %d)",
             FormatArgs{std::u16string(u"tables of another database file"), FToken.LineNum, FToken.ColumnNum});
}

void TORBDDLTableStatement::ParseIndexFields(TORBSQLIndexDesc& index, int32_t parenthesis_code) {
  if (FToken.TokenType != tktLeftParenthesis) RaiseExpected(parenthesis_code, "'(' symbol expected", parenthesis_code);
  Next();
  for (;;) {
    if (!IsName()) RaiseExpected(kErrColumnNameExpected, "Field name expected", kErrColumnNameExpected);
    TORBSQLIndexDesc::TColumn column;
    column.FName = FToken.Text;
    Next();
    if (IsWord(rwASC) || IsWord(rwDESC)) {
      column.FDescending = IsWord(rwDESC);
      Next();
    }
    if (IsWord(rwCASE) || IsWord(rwNOCASE)) {
      column.FCaseInsensitive = IsWord(rwNOCASE);
      Next();
    }
    index.FColumns.push_back(std::move(column));
    if (FToken.TokenType == tktRightParenthesis) break;
    if (FToken.TokenType != tktComma) RaiseExpected(kErrElementSeparator, "')' or ',' symbol expected", kErrElementSeparator);
    Next();
  }
  Next();
}

// --- TORBDDLCreateTable ---

void TORBDDLCreateTable::Parse() {
  Next();  // CREATE
  Next();  // TABLE
  if (IsWord(rwIF)) {
    Next();
    if (!IsWord(rwNOT)) RaiseExpected(kErrIfNotMissing, "Token 'NOT' expected", kErrIfNotMissing);
    Next();
    if (!IsWord(rwEXISTS)) RaiseExpected(kErrIfExistsMissing, "Token 'EXISTS' expected", kErrIfExistsMissing);
    Next();
    FCreateIfNotExists = true;
  }
  ParseTableName(FTable);
  if (FToken.TokenType != tktLeftParenthesis)
    RaiseExpected(kErrElementsParenthesis, "'(' symbol expected", kErrElementsParenthesis);
  Next();
  for (;;) {
    if (IsWord(rwPRIMARY)) {
      Next();
      if (!IsWord(rwKEY)) RaiseExpected(kErrElementSeparator, "Token 'KEY' expected", kErrElementSeparator);
      Next();
      TORBSQLIndexDesc index;
      index.FPrimary = true;
      ParseIndexFields(index, kErrElementsParenthesis);
      FIndexes.push_back(std::move(index));
    } else if (IsWord(rwUNIQUE) || IsWord(rwINDEX)) {
      TORBSQLIndexDesc index;
      if (IsWord(rwUNIQUE)) {
        index.FUnique = true;
        Next();
        if (!IsWord(rwINDEX)) RaiseExpected(kErrIndexKeywordExpected, "'INDEX' keyword expected", kErrIndexKeywordExpected);
      }
      Next();
      if (FToken.TokenType != tktLeftParenthesis) {
        if (!IsName()) RaiseExpected(kErrIndexNameExpected, "index name expected", kErrIndexNameExpected);
        index.FName = FToken.Text;
        Next();
      }
      ParseIndexFields(index, kErrElementsParenthesis);
      FIndexes.push_back(std::move(index));
    } else {
      ParseColumn();
    }
    if (FToken.TokenType == tktRightParenthesis) break;
    if (FToken.TokenType != tktComma) RaiseExpected(kErrElementSeparator, "')' or ',' symbol expected", kErrElementSeparator);
    Next();
  }
  Next();
  ExpectEnd(kErrDDLTrailingToken);
}

int64_t TORBDDLCreateTable::ParseInteger(int32_t code) {
  bool negative = false;
  if (FToken.TokenType == tktString && (FToken.Text == u"-" || FToken.Text == u"+")) {
    negative = FToken.Text == u"-";
    Next();
  }
  if (FToken.TokenType != tktInt) RaiseExpected(code, "Integer expected", code);
  const std::string digits = WideToUtf8(FToken.Text);
  int64_t value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) RaiseExpected(code, "Integer expected", code);
  Next();
  return negative ? -value : value;
}

void TORBDDLCreateTable::ParseColumn() {
  TORBSQLColumnDef column;
  if (!IsName()) RaiseExpected(kErrColumnNameExpected, "Field name expected", kErrColumnNameExpected);
  column.FName = FToken.Text;
  Next();
  ParseType(column);
  for (;;) {
    if (IsWord(rwNOT)) {
      Next();
      if (!IsWord(rwNULL)) RaiseExpected(kErrNotNullExpected, "'NULL' expected (for NOT NULL)", kErrNotNullExpected);
      column.FRequired = true;
      Next();
    } else if (IsWord(rwNULL)) {
      column.FRequired = false;
      Next();
    } else if (IsWord(rwDEFAULT)) {
      ParseDefault(column);
    } else if (IsWord(rwPRIMARY)) {
      Next();
      if (!IsWord(rwKEY)) RaiseExpected(kErrElementSeparator, "Token 'KEY' expected", kErrElementSeparator);
      column.FPrimaryKey = true;
      Next();
    } else if (IsWord(rwUNIQUE)) {
      column.FUnique = true;
      Next();
    } else if (IsWord(rwMINVALUE)) {
      Next();
      column.FMinValue = ParseInteger(kErrAutoincInteger);
    } else if (IsWord(rwMAXVALUE)) {
      Next();
      column.FMaxValue = ParseInteger(kErrAutoincInteger);
    } else if (IsWord(rwNOMINVALUE)) {
      column.FMinValue.reset();
      Next();
    } else if (IsWord(rwNOMAXVALUE)) {
      column.FMaxValue.reset();
      Next();
    } else {
      break;
    }
  }
  FColumns.push_back(std::move(column));
}

void TORBDDLCreateTable::ParseType(TORBSQLColumnDef& column) {
  if (!IsName()) RaiseExpected(kErrColumnTypeExpected, "Field type expected", kErrColumnTypeExpected);
  const TToken type_token = FToken;
  column.FType = SQLTypeByName(FToken.Text);
  const std::u16string upper = Upper(FToken.Text);
  Next();
  if (upper == u"DOUBLE" && IsName() && Upper(FToken.Text) == u"PRECISION") Next();
  if (column.FType == aftUnknown)
    RaiseORB(kErrUnknownFieldType, "Unknown field type '%s' at line %d, column %d",
             FormatArgs{type_token.Text, type_token.LineNum, type_token.ColumnNum});
  if (upper == u"NUMERIC" || upper == u"DECIMAL") {
    // Precision and scale are read and left to the double.
    if (FToken.TokenType == tktLeftParenthesis) {
      Next();
      ParseInteger(kErrSizeExpected);
      if (FToken.TokenType == tktComma) {
        Next();
        ParseInteger(kErrSizeExpected);
      }
      if (FToken.TokenType != tktRightParenthesis) RaiseExpected(kErrSizeClose, "')' or ',' symbol expected", kErrDDLSizeEnd);
      Next();
    }
    return;
  }
  if (IsSizebleFieldType(column.FType) && column.FType != aftGuid) {
    if (FToken.TokenType != tktLeftParenthesis) RaiseExpected(kErrSizeParenthesis, "'(' symbol expected", kErrDDLSizeEnd);
    Next();
    if (FToken.TokenType != tktInt) RaiseExpected(kErrSizeExpected, "Decimal constant expected", kErrDDLSizeEnd);
    const int64_t size = ParseInteger(kErrSizeExpected);
    if (size <= 0 || size > std::numeric_limits<int32_t>::max())
      RaiseORB(kErrInvalidFieldSize, "Invalid size %d for field type '%s'", FormatArgs{size, type_token.Text});
    column.FSize = static_cast<int32_t>(size);
    if (FToken.TokenType != tktRightParenthesis) RaiseExpected(kErrSizeClose, "')' or ',' symbol expected", kErrDDLSizeEnd);
    Next();
    return;
  }
  if (IsAutoincFieldType(column.FType) && FToken.TokenType == tktLeftParenthesis) ParseAutoincOptions(column);
}

void TORBDDLCreateTable::ParseAutoincOptions(TORBSQLColumnDef& column) {
  Next();
  for (;;) {
    if (AtEnd()) RaiseEnd(kErrAutoincOptionsEnd);
    if (IsWord(rwINCREMENT)) {
      Next();
      column.FAutoincIncrement = ParseInteger(kErrAutoincInteger);
    } else if (IsWord(rwINITIALVALUE) || IsWord(rwSTARTVALUE)) {
      Next();
      column.FAutoincInitialValue = ParseInteger(kErrAutoincInteger);
    } else if (IsWord(rwMINVALUE)) {
      Next();
      column.FAutoincMinValue = ParseInteger(kErrAutoincInteger);
    } else if (IsWord(rwMAXVALUE)) {
      Next();
      column.FAutoincMaxValue = ParseInteger(kErrAutoincInteger);
    } else if (IsWord(rwNOMINVALUE)) {
      column.FAutoincMinValue = 0;
      Next();
    } else if (IsWord(rwNOMAXVALUE)) {
      column.FAutoincMaxValue = std::numeric_limits<int64_t>::max();
      Next();
    } else if (IsWord(rwCYCLED) || IsWord(rwNOCYCLED)) {
      column.FAutoincCycled = IsWord(rwCYCLED);
      Next();
    } else if (IsName()) {
      // The integer type of the counter.
      static constexpr std::pair<std::u16string_view, TORBAdvancedFieldType> kAutoincTypes[] = {
          {u"SHORTINT", aftAutoIncShortint}, {u"SMALLINT", aftAutoIncSmallint}, {u"INTEGER", aftAutoInc},
          {u"LARGEINT", aftAutoIncLargeint}, {u"BYTE", aftAutoIncByte},         {u"WORD", aftAutoIncWord},
          {u"CARDINAL", aftAutoIncCardinal}};
      const std::u16string upper = Upper(FToken.Text);
      TORBAdvancedFieldType type = aftUnknown;
      for (const auto& [name, aft] : kAutoincTypes)
        if (upper == name) type = aft;
      const TORBAdvancedFieldType named = GetFieldType(upper);
      if (type == aftUnknown && IsAutoincFieldType(named)) type = named;
      if (type == aftUnknown)
        RaiseORB(kErrAutoincType, "Unsupported Autoinc DataType (%s) found at line %d, column %d",
                 FormatArgs{FToken.Text, FToken.LineNum, FToken.ColumnNum});
      column.FType = type;
      Next();
    } else {
      RaiseUnexpected(kErrAutoincToken);
    }
    if (FToken.TokenType == tktRightParenthesis) break;
    if (FToken.TokenType != tktComma) {
      if (AtEnd()) RaiseEnd(kErrAutoincOptionsEnd);
      RaiseUnexpected(kErrAutoincToken);
    }
    Next();
  }
  Next();
}

void TORBDDLCreateTable::ParseDefault(TORBSQLColumnDef& column) {
  if (column.FDefault)
    RaiseORB(kErrDefaultTwice, "Default value for column '%s' declared twice", FormatArgs{column.FName});
  Next();
  if (AtEnd()) RaiseEnd(kErrDefaultParse);
  TORBVariant value(bftWideVarchar);
  if ((FToken.TokenType == tktString || FToken.TokenType == tktReservedWord || FToken.TokenType == tktQuotedString) &&
      IsDateTimeDefaultWord(FToken.Text)) {
    value.SetAsWideString(Upper(FToken.Text));
    Next();
  } else if (FToken.TokenType == tktQuotedString) {
    value.SetAsWideString(QuoteDefault(FToken.Text));
    Next();
  } else {
    const TToken start = FToken;
    TORBExpression expression;
    try {
      expression.ParseForValueExpression(FLex);
    } catch (const EORBException&) {
      expression.Clear();
    }
    if (expression.IsEmpty() || expression.RefersToFields())
      RaiseORB(kErrDefaultParse, "Error parsing parameter '%s' at line %d, column %d",
               FormatArgs{start.Text, start.LineNum, start.ColumnNum});
    FLex.GetCurrentToken(FToken);
    const TORBVariant& result = expression.GetValue();
    // Integers as 64-bit values, numbers as doubles, whatever the locale.
    if (result.IsNull()) {
      value.Clear(bftWideVarchar);
    } else if (result.DataType() == bftDouble || result.DataType() == bftSingle ||
               result.DataType() == bftExtended || result.DataType() == bftCurrency) {
      value = TORBVariant(bftDouble);
      value.SetAsDouble(result.AsDouble());
    } else if (result.DataType() >= bftSignedInt8 && result.DataType() <= bftUnsignedInt32) {
      value = TORBVariant(bftSignedInt64);
      value.SetAsInt64(result.AsInt64());
    } else {
      value = result;
    }
  }
  column.FDefault = value;
}

void TORBDDLCreateTable::BuildDefs(TORBFieldDefs& fields, TORBIndexDefs& indexes,
                                   TORBConstraintDefs& constraints) const {
  std::vector<TORBSQLIndexDesc> all_indexes;
  for (const TORBSQLColumnDef& column : FColumns) {
    TORBFieldDef* def = fields.AddCreated();
    def->SetName(std::u16string_view(column.FName));
    def->SetFieldDefDataType(column.FType, column.FSize);
    def->FAutoincIncrement = column.FAutoincIncrement;
    def->FAutoincInitialValue = column.FAutoincInitialValue;
    def->FAutoincMinValue = column.FAutoincMinValue;
    def->FAutoincMaxValue = column.FAutoincMaxValue;
    def->FAutoincCycled = column.FAutoincCycled;
    if (column.FDefault) {
      def->FDefaultValue = *column.FDefault;
      def->CreateDefaultValueExprIfNeeded();
    }
    if (column.FRequired) constraints.AddNotNull()->SetColumnName(def->GetName());
    if (column.FMinValue || column.FMaxValue) {
      TORBConstraintDefCheck* check = constraints.AddCheck();
      check->SetColumnName(def->GetName());
      if (column.FMinValue) {
        check->FMinValue = TORBVariant(bftSignedInt64);
        check->FMinValue.SetAsInt64(*column.FMinValue);
      }
      if (column.FMaxValue) {
        check->FMaxValue = TORBVariant(bftSignedInt64);
        check->FMaxValue.SetAsInt64(*column.FMaxValue);
      }
    }
    if (column.FPrimaryKey || column.FUnique) {
      TORBSQLIndexDesc index;
      index.FPrimary = column.FPrimaryKey;
      index.FUnique = column.FUnique;
      index.FColumns.push_back({column.FName, false, false});
      all_indexes.push_back(std::move(index));
    }
  }
  all_indexes.insert(all_indexes.end(), FIndexes.begin(), FIndexes.end());
  for (const TORBSQLIndexDesc& desc : all_indexes) {
    TORBIndexDef* def = indexes.AddCreated();
    FillIndexDef(desc, *def);
    AddConstraintForIndex(*def, constraints);
  }
}

void TORBDDLCreateTable::ExecSQL(TORBSQLContext& context) {
  TORBBaseSession* session = context.SessionFor(FTable.FInMemory);
  if (session->TableExists(FTable.FTableName)) {
    if (FCreateIfNotExists) return;
    RaiseORB(kErrTableExists, "Cannot create table. Table '%s' already exists", FormatArgs{FTable.FTableName});
  }
  TORBFieldDefs fields;
  TORBIndexDefs indexes;
  TORBConstraintDefs constraints;
  BuildDefs(fields, indexes, constraints);
  TORBLocalCursor creator;
  creator.FSession = session;
  creator.FTableName = FTable.FTableName;
  try {
    creator.CreateTable(fields, indexes, constraints);
  } catch (const EORBException& e) {
    RaiseORB(kErrCreateTable, "Error creating table: '%s'", FormatArgs{std::string(e.what())});
  }
}

// --- TORBDDLDropTable ---

void TORBDDLDropTable::Parse() {
  Next();  // DROP
  Next();  // TABLE
  if (IsWord(rwIF)) {
    Next();
    if (!IsWord(rwEXISTS)) RaiseExpected(kErrIfExistsMissing, "Token 'EXISTS' expected", kErrIfExistsMissing);
    Next();
  }
  ParseTableName(FTable);
  ExpectEnd(kErrDDLTrailingToken);
}

void TORBDDLDropTable::ExecSQL(TORBSQLContext& context) {
  TORBBaseSession* session = context.SessionFor(FTable.FInMemory);
  if (!session->TableExists(FTable.FTableName)) return;
  TORBLocalCursor dropper;
  dropper.FSession = session;
  dropper.FTableName = FTable.FTableName;
  try {
    dropper.DeleteTable();
  } catch (const EORBException& e) {
    RaiseORB(kErrDropTable, "Error dropping table: '%s'", FormatArgs{std::string(e.what())});
  }
}

// --- TORBDDLCreateIndex ---

void TORBDDLCreateIndex::Parse() {
  Next();  // CREATE
  if (IsWord(rwUNIQUE)) {
    FIndex.FUnique = true;
    Next();
  }
  Next();  // INDEX
  if (!IsName()) RaiseExpected(kErrIndexNameExpected, "index name expected", kErrIndexNameExpected);
  FIndex.FName = FToken.Text;
  Next();
  if (!IsWord(rwON)) RaiseExpected(kErrOnExpected, "'ON' keyword expected", kErrOnExpected);
  Next();
  ParseTableName(FTable);
  ParseIndexFields(FIndex, kErrIndexFieldsParenthesis);
  ExpectEnd(kErrDDLTrailingToken);
}

void TORBDDLCreateIndex::ExecSQL(TORBSQLContext& context) {
  TTableCursor table(context, FTable);
  TORBIndexDef def;
  FillIndexDef(FIndex, def);
  table.Open().AddIndex(def);
}

// --- TORBDDLDropIndex ---

void TORBDDLDropIndex::Parse() {
  Next();  // DROP
  Next();  // INDEX
  if (AtEnd()) RaiseEnd(kErrDropIndexEnd);
  if (IsWord(rwMEMORY)) {
    FTable.FInMemory = true;
    Next();
  }
  if (!IsName()) RaiseExpected(kErrDropIndexTable, "Table name expected", kErrDropIndexTable);
  FTable.FTableName = FToken.Text;
  Next();
  if (FToken.TokenType != tktDot) RaiseExpected(kErrDropIndexEnd, "'.' symbol expected", kErrDropIndexEnd);
  Next();
  if (!IsName()) RaiseExpected(kErrIndexNameExpected, "index name expected", kErrDropIndexEnd);
  FIndexName = FToken.Text;
  Next();
  if (FToken.TokenType == tktDot)
    RaiseORB(kErrSQLNotSupported, "SQL statement '%s' is not supported yet (line %d, column %d)",
             FormatArgs{std::u16string(u"indexes of another database file"), FToken.LineNum, FToken.ColumnNum});
  ExpectEnd(kErrDDLTrailingToken);
}

void TORBDDLDropIndex::ExecSQL(TORBSQLContext& context) {
  TTableCursor table(context, FTable);
  table.Open().DeleteIndex(FIndexName);
}

}  // namespace orb
