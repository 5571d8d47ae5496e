#include "engine/expr/sql_engine_init.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/base/field_defs.h"
#include "engine/base/field_manager.h"

namespace orb {
namespace {

TEST(SqlEngineInitTest, ExpressionDefaultsEvaluateForEachRecord) {
  InitSqlEngine();
  InitSqlEngine();

  TORBBaseFieldManager manager(nullptr);
  TORBFieldDefs& defs = manager.FieldDefs();
  struct Field {
    const char* name;
    TORBAdvancedFieldType type;
    int32_t size;
    const char* default_value;
  };
  const Field fields[] = {
      {"STAMP", aftDateTime, 0, "NOW"},
      {"SUM", aftInteger, 0, "6 * 7"},
      {"PLAIN", aftInteger, 0, "12"},
      {"TEXT", aftString, 10, "abc"},
      {"NAMED", aftString, 20, "'x' || 'y'"},
  };
  for (const Field& f : fields) {
    TORBFieldDef* def = defs.AddCreated();
    def->SetName(std::string_view(f.name));
    def->SetFieldDefDataType(f.type, f.size);
    def->FDefaultValue.Clear(bftVarchar);
    def->FDefaultValue.SetAsAnsiString(f.default_value);
    def->CreateDefaultValueExprIfNeeded();
  }
  manager.RecalcFieldOffsets();
  EXPECT_NE(defs.GetDef(0)->FDefaultValueExpr, nullptr);
  EXPECT_NE(defs.GetDef(1)->FDefaultValueExpr, nullptr);
  EXPECT_EQ(defs.GetDef(2)->FDefaultValueExpr, nullptr);
  EXPECT_EQ(defs.GetDef(3)->FDefaultValueExpr, nullptr);
  EXPECT_NE(defs.GetDef(4)->FDefaultValueExpr, nullptr);

  std::vector<uint8_t> record(static_cast<size_t>(manager.GetMemoryRecordBufferSize()), 0);
  manager.ApplyDefaultValuesToRecordBuffer(nullptr, record.data());
  TORBDateTime stamp;
  std::memcpy(&stamp, record.data() + defs.GetDef(0)->FMemoryOffset, sizeof stamp);
  EXPECT_GT(stamp.Date, 738000);  // after 2021
  int32_t product = 0;
  std::memcpy(&product, record.data() + defs.GetDef(1)->FMemoryOffset, sizeof product);
  EXPECT_EQ(product, 42);
  int32_t plain = 0;
  std::memcpy(&plain, record.data() + defs.GetDef(2)->FMemoryOffset, sizeof plain);
  EXPECT_EQ(plain, 12);
  EXPECT_STREQ(reinterpret_cast<const char*>(record.data() + defs.GetDef(3)->FMemoryOffset), "abc");
  EXPECT_STREQ(reinterpret_cast<const char*>(record.data() + defs.GetDef(4)->FMemoryOffset), "xy");
}

}  // namespace
}  // namespace orb
