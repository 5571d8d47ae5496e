// Advanced index definitions: the list, their engine form and the
// correction of key sizes.

#include "components/adv_index_defs.h"

#include <gtest/gtest.h>

#include "engine/platform/codepage.h"
#include "tests/support/raised.h"

namespace orb::test {
namespace {

TEST(AdvIndexDefsTest, ListAssignsWithOrWithoutTemporaryOnes) {
  TORBAdvIndexDefs defs;
  defs.Add("ByName", "NAME", ixUnique);
  defs.Add("Scratch", "ID", 0, /*temporary=*/true);
  TORBAdvIndexDefs copy;
  copy.Assign(defs, false);
  EXPECT_EQ(copy.Count(), 1);
  copy.Assign(defs);
  EXPECT_EQ(copy.Count(), 2);
  EXPECT_NE(copy.Find("byname"), nullptr);
  copy.DeleteIndexDef("SCRATCH");
  EXPECT_EQ(copy.Find("Scratch"), nullptr);
  EXPECT_EQ(RaisedCode([&] { copy.DeleteIndexDef("Scratch"); }), 20190);
}

TEST(AdvIndexDefsTest, EngineFormTakesColumnsFlagsAndSizes) {
  TORBAdvFieldDefs fields;
  fields.Add("A", aftString, 30);
  fields.Add("B", aftString, 30);
  fields.Add("N", aftInteger);
  TORBAdvIndexDef adv;
  adv.FName = " Mixed ";
  adv.FFields = "A, b;N";
  adv.FOptions = ixPrimary | ixCaseInsensitive;
  adv.FDescFields = "B";
  adv.FMaxIndexedSizes = "12,7";
  TORBIndexDef def;
  FillORBIndexDef(adv, &fields, def);
  EXPECT_EQ(def.GetName(), "Mixed");
  EXPECT_TRUE(def.FPrimary);
  EXPECT_TRUE(def.FUnique);
  ASSERT_EQ(def.GetColumnCount(), 3);
  const struct {
    const char* name;
    bool desc;
    int32_t size;
  } columns[] = {{"A", false, 12}, {"b", true, 7}, {"N", false, 20}};
  for (int32_t c = 0; c < 3; ++c) {
    SCOPED_TRACE(c);
    const TORBIndexColumn* column = def.GetIndexColumn(c);
    EXPECT_EQ(WideToAnsi(column->GetFieldName()), columns[c].name);
    EXPECT_EQ(column->FDescending, columns[c].desc);
    EXPECT_TRUE(column->FCaseInsensitive);
    EXPECT_EQ(column->FMaxIndexedSize, columns[c].size);
  }

  const struct {
    const char* name;
    const char* fields;
    int32_t code;
  } bad[] = {{" ", "A", 20048}, {"I", " ; ", 20049}, {"I", "A;Z", 20050}};
  for (const auto& c : bad) {
    TORBAdvIndexDef wrong;
    wrong.FName = c.name;
    wrong.FFields = c.fields;
    TORBIndexDef out;
    EXPECT_EQ(RaisedCode([&] { FillORBIndexDef(wrong, &fields, out); }), c.code) << c.fields;
  }
}

TEST(AdvIndexDefsTest, AutoCorrectGivesUnusableSizesTheDefault) {
  TORBAdvFieldDefs fields;
  fields.Add("S", aftString, 30);
  fields.Add("N", aftInteger);
  TORBAdvIndexDefs defs;
  defs.Add("Kept", "S", 0, false, {}, {}, "9");
  defs.Add("Fixed", "S;N", 0, false, {}, {}, "0;5");
  defs.Add("Unknown", "X", 0, false, {}, {}, "3");
  AutoCorrectAdvIndexDefs(defs, fields);
  EXPECT_EQ(defs.Find("Kept")->FMaxIndexedSizes, "9");
  EXPECT_EQ(defs.Find("Fixed")->FMaxIndexedSizes, "20;20");
  EXPECT_EQ(defs.Find("Unknown")->FMaxIndexedSizes, "20");
}

}  // namespace
}  // namespace orb::test
