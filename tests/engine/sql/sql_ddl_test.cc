#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/base/constraint_defs.h"
#include "engine/base/field_types.h"
#include "engine/sql/sql_ddl.h"
#include "tests/engine/sql/sql_fixture.h"

namespace orb::test {
namespace {

using SqlDdlTest = SqlTest;

const TORBFieldDef& Field(const TORBLocalCursor& cursor, const std::string& name) {
  const auto* def = static_cast<const TORBFieldDef*>(cursor.FFieldDefs.GetDefByName(std::string_view(name)));
  if (def == nullptr) throw std::logic_error("no field " + name);
  return *def;
}

bool IsRequired(const TORBLocalCursor& cursor, const std::string& column) {
  for (int32_t i = 0; i < cursor.FConstraintDefs.GetCount(); ++i) {
    const TORBConstraintDef* def = cursor.FConstraintDefs.GetDef(i);
    if (def->GetConstraintType() == ctNotNull &&
        static_cast<const TORBConstraintDefNotNull*>(def)->GetColumnName() == column)
      return true;
  }
  return false;
}

// Inserts a row with the defaults and the given integer values; returns
// the cursor status.
int32_t InsertDefaults(TORBLocalCursor& cursor, const std::vector<std::pair<int32_t, int32_t>>& values = {}) {
  uint8_t* buffer = cursor.AllocateRecordBuffer();
  cursor.FCurrentRecordBuffer = buffer;
  cursor.InternalInitRecord(buffer, true);
  for (const auto& [field, value] : values) {
    TORBVariant v(bftSignedInt32);
    v.SetAsInteger(value);
    cursor.SetFieldValue(v, field, false);
  }
  cursor.InternalPost(true);
  const int32_t status = cursor.FErrorCode;
  cursor.FreeRecordBuffer(buffer);
  cursor.FCurrentRecordBuffer = nullptr;
  return status;
}

TEST_F(SqlDdlTest, CreateTableWithAutoincPrimaryKeyRequiredFieldAndDefault) {
  Run("CREATE TABLE t (id AUTOINC(INTEGER, INCREMENT 1, INITIALVALUE 100) PRIMARY KEY, "
      "name VARCHAR(40) NOT NULL DEFAULT 'x')");
  auto cursor = OpenTable(u"t");
  EXPECT_EQ(Field(*cursor, "id").FAdvancedFieldType, aftAutoInc);
  EXPECT_EQ(Field(*cursor, "name").FAdvancedFieldType, aftString);
  EXPECT_EQ(Field(*cursor, "name").FFieldSize, 40);
  EXPECT_EQ(Field(*cursor, "name").FDefaultValue.AsAnsiString(), "\"x\"");
  EXPECT_TRUE(IsRequired(*cursor, "name"));
  EXPECT_FALSE(IsRequired(*cursor, "id"));
  const TORBIndexDef* pk = cursor->GetIndexDefs().GetIndexDefByName(std::string_view("C_PK$id"));
  ASSERT_NE(pk, nullptr);
  EXPECT_TRUE(pk->FPrimary);
  EXPECT_TRUE(pk->FUnique);

  ASSERT_EQ(InsertDefaults(*cursor), 0);
  ASSERT_EQ(InsertDefaults(*cursor), 0);
  EXPECT_EQ(ColumnValues(*cursor, 0), (std::vector<std::string>{"101", "102"}));
  EXPECT_EQ(ColumnValues(*cursor, 1), (std::vector<std::string>{"x", "x"}));
}

TEST_F(SqlDdlTest, TypeNamesInAnyCaseMapToTheEngineTypes) {
  struct Case {
    std::string type;
    TORBAdvancedFieldType aft;
    int32_t size;
  };
  const std::vector<Case> cases = {
      {"varchar2(10)", aftString, 10}, {"Char(3)", aftChar, 3},     {"INTEGER", aftInteger, 0},
      {"int", aftInteger, 0},          {"BigInt", aftLargeint, 0},  {"real", aftDouble, 0},
      {"DOUBLE PRECISION", aftDouble, 0}, {"double", aftDouble, 0}, {"NUMERIC(10, 2)", aftDouble, 0},
      {"decimal", aftDouble, 0},       {"text", aftWideMemo, 0},    {"guid", aftGuid, 0},
      {"memo", aftMemo, 0},            {"date", aftDate, 0},        {"boolean", aftBoolean, 0},
      {"autoinc(largeint)", aftAutoIncLargeint, 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::u16string table = u"T" + Utf8ToWide(std::to_string(++n));
    Run("CREATE TABLE " + WideToUtf8(table) + " (c " + c.type + ")");
    auto cursor = OpenTable(table);
    EXPECT_EQ(Field(*cursor, "c").FAdvancedFieldType, c.aft) << c.type;
    if (c.size != 0) {
      EXPECT_EQ(Field(*cursor, "c").FFieldSize, c.size) << c.type;
    }
  }
}

TEST_F(SqlDdlTest, BadColumnDefinitionsRaiseTheirCodes) {
  struct Case {
    std::string sql;
    int32_t code;
  };
  const std::vector<Case> cases = {
      {"CREATE TABLE t (s VARCHAR)", 30233},
      {"CREATE TABLE t (s VARCHAR(x))", 30235},
      {"CREATE TABLE t (s VARCHAR(10 20))", 30236},
      {"CREATE TABLE t (s NOSUCH)", 30232},
      {"CREATE TABLE t (s)", 30228},
      {"CREATE TABLE t a INTEGER", 30226},
      {"CREATE TABLE t (a INTEGER b INTEGER)", 30229},
      {"CREATE TABLE t (a INTEGER NOT 5)", 2011},
      {"CREATE TABLE t (a INTEGER DEFAULT 1 DEFAULT 2)", 30299},
      {"CREATE TABLE t (a INTEGER DEFAULT b + 1)", 30297},
      {"CREATE TABLE t (a AUTOINC(FLOAT))", 30295},
      {"CREATE TABLE t (a AUTOINC(INCREMENT x))", 30291},
      {"CREATE TABLE t (a INTEGER) extra", 30246},
      {"CREATE TABLE IF t (a INTEGER)", 30486},
      {"CREATE TABLE IF NOT t (a INTEGER)", 30485},
      {"CREATE TABLE (a INTEGER)", 30230},
      {"CREATE TABLE t (a INTEGER, UNIQUE (a))", 30267},
      {"CREATE TABLE t (a INTEGER, UNIQUE INDEX 5 (a))", 30269},
  };
  for (const Case& c : cases) EXPECT_EQ(CodeOf(c.sql), c.code) << c.sql;
}

TEST_F(SqlDdlTest, IfNotExistsAndIfExists) {
  Run("CREATE TABLE t (a INTEGER)");
  EXPECT_EQ(CodeOf("CREATE TABLE t (b INTEGER)"), 30247);
  EXPECT_EQ(CodeOf("CREATE TABLE IF NOT EXISTS t (b INTEGER)"), 0);
  EXPECT_EQ(OpenTable(u"t")->FFieldDefs.GetDef(0)->GetName(), "a");  // the old table stays
  EXPECT_EQ(CodeOf("DROP TABLE nosuch"), 0);
  EXPECT_EQ(CodeOf("DROP TABLE IF EXISTS nosuch"), 0);
  EXPECT_EQ(CodeOf("DROP TABLE IF t"), 30485);
  Run("DROP TABLE IF EXISTS T");
  EXPECT_FALSE(FSession->TableExists(u"t"));
}

TEST_F(SqlDdlTest, TablesLastOnTheFileAndMemoryTablesStayOffIt) {
  Run("CREATE TABLE disk_t (a INTEGER); CREATE TABLE MEMORY mem_t (a INTEGER)");
  EXPECT_TRUE(FSession->TableExists(u"disk_t"));
  EXPECT_FALSE(FSession->TableExists(u"mem_t"));
  TORBLocalSession memory;
  memory.FDatabaseName = u"MEMORY";
  memory.SetConnected(true);
  EXPECT_TRUE(memory.TableExists(u"mem_t"));
  Run("DROP TABLE MEMORY mem_t");
  EXPECT_FALSE(memory.TableExists(u"mem_t"));
  memory.SetConnected(false);

  FProcessor.reset();
  FSession->SetConnected(false);
  FSession = OpenSession(false);
  EXPECT_TRUE(FSession->TableExists(u"disk_t"));
}

TEST_F(SqlDdlTest, DefaultsKeepTheirValueWhenRead) {
  Run("CREATE TABLE t (q VARCHAR(20) DEFAULT 'say \"hi\"', n INTEGER DEFAULT -3, f DOUBLE DEFAULT 1.5, "
      "s VARCHAR(10) DEFAULT 'it''s', e INTEGER DEFAULT 2 * 21, d DATE DEFAULT CURRENT_DATE)");
  auto cursor = OpenTable(u"t");
  EXPECT_EQ(Field(*cursor, "d").FDefaultValue.AsAnsiString(), "CURRENT_DATE");
  EXPECT_EQ(Field(*cursor, "f").FDefaultValue.DataType(), bftDouble);
  ASSERT_EQ(InsertDefaults(*cursor), 0);
  EXPECT_EQ(ColumnValues(*cursor, 0), std::vector<std::string>{"say \"hi\""});
  EXPECT_EQ(ColumnValues(*cursor, 1), std::vector<std::string>{"-3"});
  EXPECT_EQ(ColumnValues(*cursor, 2), std::vector<std::string>{"1.5"});
  EXPECT_EQ(ColumnValues(*cursor, 3), std::vector<std::string>{"it's"});
  EXPECT_EQ(ColumnValues(*cursor, 4), std::vector<std::string>{"42"});
  EXPECT_NE(ColumnValues(*cursor, 5), std::vector<std::string>{"<null>"});
}

TEST_F(SqlDdlTest, ElementListIndexesGetTheirDefaultNames) {
  Run("CREATE TABLE t (a INTEGER UNIQUE, b INTEGER, c VARCHAR(10), PRIMARY KEY (b, c), "
      "INDEX (c DESC NOCASE, a), UNIQUE INDEX named (b))");
  auto cursor = OpenTable(u"t");
  TORBIndexDefs& indexes = cursor->GetIndexDefs();
  for (const char* name : {"C_Unique$a", "C_PK$b$c", "i$c$a", "named"})
    EXPECT_NE(indexes.GetIndexDefByName(std::string_view(name)), nullptr) << name;
  const TORBIndexDef* i = indexes.GetIndexDefByName(std::string_view("i$c$a"));
  ASSERT_NE(i, nullptr);
  EXPECT_TRUE(i->GetIndexColumn(0)->FDescending);
  EXPECT_TRUE(i->GetIndexColumn(0)->FCaseInsensitive);
  EXPECT_FALSE(i->GetIndexColumn(1)->FDescending);
  EXPECT_FALSE(i->FUnique);
  EXPECT_TRUE(indexes.GetIndexDefByName(std::string_view("named"))->FUnique);
  // The unique column refuses a second equal value.
  ASSERT_EQ(InsertDefaults(*cursor, {{0, 1}, {1, 1}}), 0);
  EXPECT_NE(InsertDefaults(*cursor, {{0, 1}, {1, 2}}), 0);
}

TEST_F(SqlDdlTest, CreateAndDropIndex) {
  Run("CREATE TABLE t (a INTEGER, s VARCHAR(10)); CREATE UNIQUE INDEX ua ON t (a DESC); "
      "CREATE INDEX si ON t (s NOCASE)");
  {
    auto cursor = OpenTable(u"t");
    const TORBIndexDef* ua = cursor->GetIndexDefs().GetIndexDefByName(std::string_view("ua"));
    ASSERT_NE(ua, nullptr);
    EXPECT_TRUE(ua->FUnique);
    EXPECT_TRUE(ua->GetIndexColumn(0)->FDescending);
    const TORBIndexDef* si = cursor->GetIndexDefs().GetIndexDefByName(std::string_view("si"));
    ASSERT_NE(si, nullptr);
    EXPECT_TRUE(si->GetIndexColumn(0)->FCaseInsensitive);
    ASSERT_EQ(InsertDefaults(*cursor, {{0, 7}}), 0);
    EXPECT_NE(InsertDefaults(*cursor, {{0, 7}}), 0);
  }
  EXPECT_EQ(CodeOf("CREATE INDEX ua ON t (s)"), kErrAddIndexExists);
  EXPECT_EQ(CodeOf("CREATE INDEX x t (s)"), 30271);
  EXPECT_EQ(CodeOf("CREATE INDEX x ON t s"), 30273);
  EXPECT_EQ(CodeOf("DROP INDEX t"), 30278);
  EXPECT_EQ(CodeOf("DROP INDEX t.nosuch"), kErrDeleteIndexNotFound);
  Run("DROP INDEX t.ua");
  auto cursor = OpenTable(u"t");
  EXPECT_EQ(cursor->GetIndexDefs().GetIndexDefByName(std::string_view("ua")), nullptr);
  EXPECT_NE(cursor->GetIndexDefs().GetIndexDefByName(std::string_view("si")), nullptr);
  EXPECT_EQ(InsertDefaults(*cursor, {{0, 7}}), 0);
}

}  // namespace
}  // namespace orb::test
