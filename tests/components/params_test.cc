// Parameters and index definitions.

#include <gtest/gtest.h>

#include "components/index_defs.h"
#include "components/params.h"
#include "tests/support/vector_dataset.h"

namespace orb::test {
namespace {

TEST(ParamsTest, NamesCompareWithoutCaseAndMissingOnesAreNamed) {
  TParams params;
  params.CreateParam(ftUnknown, "Id", ptInput);
  params.CreateParam(ftString, "Name", ptInput);
  EXPECT_EQ(params.FindParam("ID"), &params[0]);
  EXPECT_EQ(params.FindParam("nothing"), nullptr);
  EXPECT_EQ(&params.ParamByName("name"), &params[1]);
  EXPECT_EQ(DbError([&] { params.ParamByName("City"); }), "Parameter 'City' not found");
}

TEST(ParamsTest, AccessorsSetTypeAndValue) {
  TParam param("P");
  EXPECT_FALSE(param.Bound());
  EXPECT_TRUE(param.IsNull());
  struct Case {
    std::function<void(TParam&)> set;
    TFieldType type;
    std::function<void(const TParam&)> check;
  };
  const std::vector<Case> cases = {
      {[](TParam& p) { p.SetAsInteger(-7); }, ftInteger, [](const TParam& p) { EXPECT_EQ(p.AsInteger(), -7); }},
      {[](TParam& p) { p.SetAsLargeInt(int64_t{1} << 40); }, ftLargeint,
       [](const TParam& p) { EXPECT_EQ(p.AsLargeInt(), int64_t{1} << 40); }},
      {[](TParam& p) { p.SetAsString("abc"); }, ftString, [](const TParam& p) { EXPECT_EQ(p.AsString(), "abc"); }},
      {[](TParam& p) { p.SetAsFloat(2.25); }, ftFloat, [](const TParam& p) { EXPECT_EQ(p.AsFloat(), 2.25); }},
      {[](TParam& p) { p.SetAsCurrency(1.5); }, ftCurrency, [](const TParam& p) { EXPECT_EQ(p.AsCurrency(), 1.5); }},
      {[](TParam& p) { p.SetAsBoolean(true); }, ftBoolean, [](const TParam& p) { EXPECT_TRUE(p.AsBoolean()); }},
      {[](TParam& p) { p.SetAsDateTime(-1.25); }, ftDateTime,
       [](const TParam& p) {
         EXPECT_EQ(p.AsDateTime(), -1.25);
         EXPECT_EQ(p.AsMoment(), (TORBDateTime{693593, 21600000}));
       }},
      {[](TParam& p) { p.SetAsMemo("long text"); }, ftMemo, [](const TParam& p) { EXPECT_EQ(p.AsString(), "long text"); }},
  };
  for (const Case& c : cases) {
    c.set(param);
    EXPECT_EQ(param.DataType(), c.type);
    EXPECT_TRUE(param.Bound());
    EXPECT_FALSE(param.IsNull());
    c.check(param);
  }
  param.Clear();
  EXPECT_TRUE(param.IsNull());
  EXPECT_EQ(param.AsInteger(), 0);
}

TEST(ParamsTest, AssignValuesAndFields) {
  TParams target, source;
  target.CreateParam(ftUnknown, "a", ptInput);
  target.CreateParam(ftUnknown, "b", ptInput);
  source.CreateParam(ftUnknown, "B", ptInput).SetAsInteger(3);
  target.AssignValues(source);
  EXPECT_TRUE(target[0].IsNull());
  EXPECT_EQ(target[1].AsInteger(), 3);
  EXPECT_EQ(target[1].DataType(), ftInteger);

  TParams copy;
  copy.Assign(target);
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_EQ(copy[1].Name(), "b");
  EXPECT_EQ(copy[1].AsInteger(), 3);

  auto data_set = MakeNumbered(2);
  data_set->Open();
  data_set->Next();
  TParam from_field;
  from_field.AssignField(data_set->FieldByName("NAME"));
  EXPECT_EQ(from_field.Name(), "NAME");
  EXPECT_EQ(from_field.DataType(), ftString);
  EXPECT_EQ(from_field.AsString(), "r2");
}

TEST(IndexDefsTest, LookupByNameAndByFields) {
  TIndexDefs defs;
  defs.Add("PK", "ID", ixPrimary | ixUnique);
  defs.Add("ByNameCity", "NAME;CITY", 0);
  defs.Add("ByNameCI", "name", ixCaseInsensitive);
  EXPECT_EQ(DbError([&] { defs.Add("pk", "X", 0); }), "Duplicate index name 'pk'");
  EXPECT_EQ(&defs.Find("bynamecity"), &defs[1]);
  EXPECT_EQ(DbError([&] { defs.Find("Nope"); }), "Index 'Nope' not found");

  struct Case {
    const char* fields;
    bool case_insensitive;
    int index;  // -1 = none
  };
  const Case cases[] = {{"id", false, 0},         {"NAME", false, 2},       {"NAME", true, 2},
                        {"name; city", false, 1}, {"NAME,CITY", false, 1},  {"CITY", false, -1},
                        {"ID;NAME", false, -1},   {"NAME;CITY", true, -1}};
  for (const Case& c : cases) {
    TIndexDef* def = defs.GetIndexForFields(c.fields, c.case_insensitive);
    EXPECT_EQ(def, c.index < 0 ? nullptr : &defs[c.index]) << c.fields;
  }
  defs.Clear();
  defs.Add("ByNameCity", "NAME;CITY", 0);
  EXPECT_EQ(&defs.FindIndexForFields("name"), &defs[0]);  // a leading part of the index
  EXPECT_EQ(DbError([&] { defs.FindIndexForFields("CITY"); }), "No index for fields 'CITY'");
}

}  // namespace
}  // namespace orb::test
