// The advanced field definitions list, its checks before a table is
// created, and its conversion to and from the engine's definitions.

#include "components/adv_field_defs.h"

#include <gtest/gtest.h>

#include "components/field_defs.h"
#include "engine/base/orb_exception.h"
#include "tests/support/raised.h"

namespace orb::test {
namespace {

TEST(AdvFieldDefsTest, ListFindsDeletesAndCopies) {
  TORBAdvFieldDefs defs;
  defs.Add("Id", aftInteger, 0, true);
  defs.Add("Body", aftBlob, 0, false, caZLIB, 6);
  EXPECT_EQ(defs.Find("ID"), &defs.Defs(0));
  EXPECT_EQ(defs.Find("nope"), nullptr);
  EXPECT_EQ(defs.Defs(1).FBLOBCompressionAlgorithm, caZLIB);
  EXPECT_EQ(defs.Defs(1).FBLOBBlockSize, DefaultBLOBBlockSize);
  TORBAdvFieldDefs copy;
  copy.Assign(defs);
  defs.DeleteFieldDef("id");
  EXPECT_EQ(defs.Count(), 1);
  EXPECT_EQ(copy.Count(), 2);
  EXPECT_TRUE(copy.Find("Id")->FRequired);
  EXPECT_EQ(RaisedMessage([&] { defs.DeleteFieldDef("Id"); }), "Field 'Id' not found - Native error: 30349");
  EXPECT_EQ(RaisedCode([&] { defs.DeleteFieldDef("Id"); }), 30349);
}

TEST(AdvFieldDefsTest, CheckRefusesUnusableDefinitions) {
  const struct {
    const char* name;
    TORBAdvancedFieldType type;
    int32_t size;
    TCompressionAlgorithm algorithm;
    uint8_t mode;
    int32_t code;
  } cases[] = {
      {"", aftInteger, 0, caNone, 0, 30499},      {"S", aftString, 0, caNone, 0, 30453},
      {"B", aftVarBytes, -1, caNone, 0, 30453},   {"M", aftBlob, 0, caZLIB, 0, 20257},
      {"M", aftBlob, 0, caBZIP, 10, 20257},       {"M", aftBlob, 0, caNone, 0, 0},
      {"M", aftBlob, 0, caZLIB, 9, 0},            {"S", aftString, 1, caNone, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name + std::to_string(c.type));
    TORBAdvFieldDefs defs;
    defs.Add(c.name, c.type, c.size, false, c.algorithm, c.mode);
    EXPECT_EQ(RaisedCode([&] { CheckAdvFieldDefs(defs, "T"); }), c.code);
  }
  TORBAdvFieldDefs defs;
  defs.Add("A", aftInteger);
  defs.Add("", aftInteger);
  EXPECT_EQ(RaisedMessage([&] { CheckAdvFieldDefs(defs, "T"); }), "Missing field name. FieldNo=2, table 'T' - Native error: 30499");
}

TEST(AdvFieldDefsTest, AutoCorrectNormalisesValuesAndSizes) {
  TORBAdvFieldDefs defs;
  TORBAdvFieldDef& n = defs.Add("N", aftInteger, 12);
  n.FMinValue.SetAsAnsiString("");
  n.FMaxValue.SetAsAnsiString("42");
  n.FDefaultValue.SetAsAnsiString("7");
  defs.Add("G", aftGuid);
  defs.Add("S", aftString, 9);
  AutoCorrectAdvFieldDefs(defs);
  EXPECT_EQ(n.FSize, 0);
  EXPECT_TRUE(n.FMinValue.IsNull());
  ASSERT_FALSE(n.FMaxValue.IsNull());
  EXPECT_EQ(n.FMaxValue.DataType(), bftSignedInt32);
  EXPECT_EQ(n.FMaxValue.AsInteger(), 42);
  EXPECT_EQ(n.FDefaultValue.AsInteger(), 7);
  EXPECT_EQ(defs.Find("G")->FSize, 38);
  EXPECT_EQ(defs.Find("S")->FSize, 9);
}

TEST(AdvFieldDefsTest, EngineFormCarriesConstraintsBothWays) {
  TORBAdvFieldDefs defs;
  defs.Add("ID", aftAutoInc, 0, true);
  TORBAdvFieldDef& qty = defs.Add("QTY", aftInteger, 0, true);
  qty.FMinValue.SetAsInteger(1);
  defs.Add("G", aftGuid);
  TORBFieldDefs fields;
  TORBConstraintDefs constraints;
  AdvToEngineFieldDefs(defs, TORBIndexDefs(), /*temporary=*/true, fields, constraints);
  EXPECT_EQ(fields.GetCount(), 3);
  EXPECT_EQ(constraints.GetCount(), 0);
  AdvToEngineFieldDefs(defs, TORBIndexDefs(), /*temporary=*/false, fields, constraints);
  ASSERT_EQ(constraints.GetCount(), 3);  // two not null, one check

  TORBAdvFieldDefs back;
  EngineToAdvFieldDefs(fields, constraints, back);
  ASSERT_EQ(back.Count(), 3);
  EXPECT_TRUE(back.Find("ID")->FRequired);
  EXPECT_TRUE(back.Find("QTY")->FRequired);
  EXPECT_EQ(back.Find("QTY")->FMinValue.AsInteger(), 1);
  EXPECT_TRUE(back.Find("QTY")->FMaxValue.IsNull());
  EXPECT_EQ(back.Find("G")->FSize, 0);

  TFieldDefs host(nullptr);
  EngineToHostFieldDefs(fields, constraints, host);
  EXPECT_FALSE(host.FieldDef("ID").Required());  // auto-incremented
  EXPECT_TRUE(host.FieldDef("QTY").Required());
  EXPECT_EQ(host.FieldDef("G").Size(), 38);

  TORBAdvFieldDefs one;
  one.Add("QTY", aftInteger);
  TORBFieldDefs lone;
  TORBConstraintDefs lone_constraints;
  AdvToEngineFieldDefs(one, TORBIndexDefs(), false, lone, lone_constraints);
  EXPECT_EQ(RaisedCode([&] { EngineToAdvFieldDefs(lone, constraints, back); }), 30031);
}

}  // namespace
}  // namespace orb::test
