// Field accessors and their conversions, validation and change events, the
// exact date-time edge, and BLOB fields through the dataset's streams.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "components/host_date_time.h"
#include "engine/base/date_time_convert.h"
#include "tests/support/vector_dataset.h"

namespace orb::test {
namespace {

class FieldTest : public ::testing::Test {
 public:
  FieldTest()
      : FData({{"S", ftString, 5},
               {"I", ftInteger},
               {"SI", ftSmallint},
               {"L", ftLargeint},
               {"F", ftFloat},
               {"B", ftBoolean},
               {"D", ftDate},
               {"T", ftTime},
               {"DT", ftDateTime},
               {"M", ftMemo},
               {"W", ftWideString, 4},
               {"C", ftCurrency}}) {
    FData.Open();
    FData.Append();
  }
  TField& F(const char* name) { return FData.FieldByName(name); }

  TVectorDataSet FData;
};

TEST_F(FieldTest, TextRoundTripsThroughEachType) {
  struct Case {
    const char* field;
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"S", "abc", "abc"},          {"S", "abcdefgh", "abcde"},  // cut at Size
      {"I", " -42 ", "-42"},        {"I", "+7", "7"},
      {"SI", "-32768", "-32768"},   {"L", "9223372036854775807", "9223372036854775807"},
      {"F", "1.5", "1.5"},          {"F", "-0.25e2", "-25"},
      {"B", "true", "True"},        {"B", "FALSE", "False"},
      {"D", "1899-12-30", "1899-12-30"}, {"D", "0001-01-01", "0001-01-01"},
      {"T", "23:59:59.999", "23:59:59.999"}, {"T", "08:05", "08:05:00"},
      {"DT", "1815-06-18 11:30:00", "1815-06-18 11:30:00"},
      {"M", "memo text", "memo text"}, {"W", "wide", "wide"},
      {"C", "12.34", "12.34"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " <- " + c.in);
    F(c.field).SetAsString(c.in);
    EXPECT_EQ(F(c.field).AsString(), c.out);
    EXPECT_FALSE(F(c.field).IsNull());
    F(c.field).Clear();
    EXPECT_TRUE(F(c.field).IsNull());
    EXPECT_EQ(F(c.field).AsString(), "");
  }
}

TEST_F(FieldTest, ConversionErrorsNameTheFieldAndValue) {
  struct Case {
    std::function<void(FieldTest&)> act;
    std::string message;
  };
  const std::vector<Case> cases = {
      {[](FieldTest& t) { t.F("I").SetAsString("12x"); }, "'12x' is not a valid integer value for field 'I'"},
      {[](FieldTest& t) { t.F("F").SetAsString("1,5"); }, "'1,5' is not a valid floating point value for field 'F'"},
      {[](FieldTest& t) { t.F("B").SetAsString("yes"); }, "'yes' is not a valid boolean value for field 'B'"},
      {[](FieldTest& t) { t.F("D").SetAsString("2023-02-29"); },
       "'2023-02-29' is not a valid date and time for field 'D'"},
      {[](FieldTest& t) { t.F("SI").SetAsInteger(40000); },
       "40000 is not a valid value for field 'SI'. The allowed range is -32768 to 32767"},
      {[](FieldTest& t) { t.F("I").SetAsLargeInt(int64_t{1} << 40); },
       "1099511627776 is not a valid value for field 'I'. The allowed range is -2147483648 to 2147483647"},
      {[](FieldTest& t) { (void)t.F("I").AsBoolean(); }, "Cannot access field 'I' as type Boolean"},
      {[](FieldTest& t) { t.F("D").SetAsBoolean(true); }, "Cannot access field 'D' as type Boolean"},
      {[](FieldTest& t) { (void)t.F("B").AsInteger(); }, "Cannot access field 'B' as type Integer"},
      {[](FieldTest& t) {
         t.F("S").SetAsString("zz");
         (void)t.F("S").AsInteger();
       },
       "'zz' is not a valid integer value for field 'S'"},
      {[](FieldTest& t) {
         t.F("L").SetAsLargeInt(int64_t{1} << 40);
         (void)t.F("L").AsInteger();
       },
       "Cannot access field 'L' as type Integer"},
      {[](FieldTest& t) { t.F("DT").SetAsDateTime(std::nan("")); },
       "'nan' is not a valid date and time for field 'DT'"},
      {[](FieldTest& t) { (void)t.FData.FieldByName("missing"); }, "Field 'missing' not found"},
  };
  for (const Case& c : cases) EXPECT_EQ(DbError([&] { c.act(*this); }), c.message);
}

TEST_F(FieldTest, RangeLimitsOfIntegerFieldsAreHonoured) {
  auto& field = static_cast<TIntegerField&>(F("I"));
  field.SetMinValue(1);
  field.SetMaxValue(10);
  field.SetAsInteger(10);
  EXPECT_EQ(DbError([&] { field.SetAsInteger(11); }),
            "11 is not a valid value for field 'I'. The allowed range is 1 to 10");
  EXPECT_EQ(field.AsInteger(), 10);  // the refused value was not stored
}

TEST_F(FieldTest, ValuesConvertBetweenAccessors) {
  F("I").SetAsFloat(2.5);  // rounds to even
  EXPECT_EQ(F("I").AsInteger(), 2);
  F("F").SetAsInteger(3);
  EXPECT_EQ(F("F").AsFloat(), 3.0);
  EXPECT_EQ(F("F").AsInteger(), 3);
  F("S").SetAsInteger(-12);
  EXPECT_EQ(F("S").AsLargeInt(), -12);
  F("S").SetAsBoolean(true);
  EXPECT_TRUE(F("S").AsBoolean());
  F("W").SetAsWideString(u"\u00e9t\u00e9s");  // cut at 4 units
  EXPECT_EQ(F("W").AsWideString(), u"\u00e9t\u00e9s");
  EXPECT_EQ(F("W").AsString(), "\xe9t\xe9s");  // the code page inside

  // Variants carry the field's kind, and null.
  F("I").SetAsInteger(5);
  EXPECT_EQ(F("I").AsVariant().DataType(), bftSignedInt32);
  EXPECT_EQ(F("I").AsVariant().AsInteger(), 5);
  F("I").Clear();
  EXPECT_TRUE(F("I").AsVariant().IsNull());
  TORBVariant text;
  text.SetAsAnsiString("17");
  F("I").SetAsVariant(text);
  EXPECT_EQ(F("I").AsInteger(), 17);
  F("I").SetAsVariant(TORBVariant());
  EXPECT_TRUE(F("I").IsNull());
  static_cast<TDateTimeField&>(F("DT")).SetAsMoment({693594, 43200000});
  EXPECT_EQ(F("DT").AsVariant().AsORBDateTime(), (TORBDateTime{693594, 43200000}));
  EXPECT_EQ(F("DT").AsDateTime(), 0.5);
}

TEST_F(FieldTest, WritingOutsideEditingStatesIsRefused) {
  FData.Cancel();
  EXPECT_EQ(FData.State(), dsBrowse);
  EXPECT_EQ(DbError([&] { F("I").SetAsInteger(1); }), std::string(kSNotEditing));
  EXPECT_EQ(DbError([&] { F("M").SetAsString("x"); }), std::string(kSNotEditing));
}

TEST_F(FieldTest, ValidateSeesTheNewValueAndCanRefuseIt) {
  std::vector<std::string> changes;
  F("S").SetAsString("old");
  F("S").OnValidate = [&](TField& field) {
    if (field.AsString() == "bad") DatabaseError("refused");
  };
  F("S").OnChange = [&](TField& field) { changes.push_back(field.AsString()); };
  F("S").SetAsString("good");
  EXPECT_EQ(DbError([&] { F("S").SetAsString("bad"); }), "refused");
  EXPECT_EQ(F("S").AsString(), "good");
  EXPECT_EQ(changes, std::vector<std::string>{"good"});
  EXPECT_TRUE(FData.Modified());
}

TEST_F(FieldTest, BlobFieldsGoThroughStreams) {
  auto& memo = static_cast<TBlobField&>(F("M"));
  int changes = 0;
  memo.OnChange = [&](TField&) { ++changes; };
  EXPECT_TRUE(memo.IsNull());
  memo.SetAsString(std::string(10000, 'q'));
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(memo.AsString().size(), 10000u);
  memo.Clear();
  EXPECT_TRUE(memo.IsNull());
  memo.SetAsString("kept");
  F("I").SetAsInteger(1);
  FData.Post();
  EXPECT_EQ(FData.RowText(0, 9), "kept");
  EXPECT_EQ(memo.AsString(), "kept");
  EXPECT_EQ(memo.AsVariant().DataType(), bftClob);
}

// The host's floating date-time at the edge: values before 1899-12-30 are
// negative with the time as the fraction's magnitude.
TEST(HostDateTimeTest, FloatingValuesMapToMoments) {
  struct Case {
    double value;
    int year, month, day, ms;
  };
  const Case cases[] = {
      {0.0, 1899, 12, 30, 0},
      {1.5, 1899, 12, 31, 43200000},
      {-1.25, 1899, 12, 29, 21600000},
      {-0.5, 1899, 12, 30, 43200000},  // -0 days: the same day as 0.5
      {-1.0, 1899, 12, 29, 0},
      {-693593.0, 1, 1, 1, 0},
      {2958465.0 + 86399999.0 / 86400000, 9999, 12, 31, 86399999},
      {1.9999999999, 1900, 1, 1, 0},    // rounds up into the next day
      {-1.9999999999, 1899, 12, 30, 0}, // also on the negative side
      {45000.0 + 1.0 / 86400000, 2023, 3, 15, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    TORBDateTime moment;
    ASSERT_TRUE(TryDateTimeToMoment(c.value, moment));
    int32_t day;
    ASSERT_TRUE(TryEncodeORBDate(c.year, c.month, c.day, day));
    EXPECT_EQ(moment.Date, day);
    EXPECT_EQ(moment.Time, c.ms);
  }
  for (double bad : {-693594.0, 2958466.0, std::nan(""), std::numeric_limits<double>::infinity(), 1e300}) {
    TORBDateTime moment;
    EXPECT_FALSE(TryDateTimeToMoment(bad, moment)) << bad;
  }
}

TEST(HostDateTimeTest, EveryMomentSurvivesTheRoundTrip) {
  const int32_t days[] = {1, 2, 365, 693593, 693594, 693595, 1000000, 2000000, 3652058, kORBMaxDayNumber};
  const int32_t times[] = {0, 1, 499, 500, 999, 43200000, 43200001, 86399000, 86399998, 86399999};
  for (int32_t day : days)
    for (int32_t time : times) {
      const TORBDateTime moment{day, time};
      const TDateTime value = MomentToDateTime(moment);
      TORBDateTime back;
      ASSERT_TRUE(TryDateTimeToMoment(value, back)) << day << " " << time;
      EXPECT_EQ(back, moment) << day << " " << time;
      EXPECT_EQ(std::trunc(value), static_cast<double>(day - kDateDelta)) << day << " " << time;
      EXPECT_EQ(MSecsToMoment(MomentToMSecs(moment)), moment);
    }
}

TEST_F(FieldTest, DateFieldsDeliverNativeForms) {
  F("D").SetAsDateTime(0.75);  // the date part only
  int32_t day = 0;
  ASSERT_TRUE(F("D").GetData(&day));
  EXPECT_EQ(day, 693594);
  EXPECT_EQ(F("D").AsDateTime(), 0.0);
  F("DT").SetAsDateTime(-1.25);
  int64_t ms = 0;
  ASSERT_TRUE(F("DT").GetData(&ms));
  EXPECT_EQ(ms, int64_t{693593} * 86400000 + 21600000);
  EXPECT_EQ(F("DT").AsDateTime(), -1.25);
  EXPECT_EQ(F("DT").AsString(), "1899-12-29 06:00:00");
  F("T").SetAsDateTime(-3.75);
  EXPECT_EQ(F("T").AsString(), "18:00:00");
  EXPECT_EQ(F("T").AsDateTime(), 0.75);
}

TEST(FieldFactoryTest, EachDefinitionTypeMakesItsFieldClass) {
  struct Case {
    TFieldType type;
    int32_t size;
    int32_t data_size;
  };
  const Case cases[] = {{ftString, 20, 21}, {ftFixedChar, 3, 4}, {ftGuid, 38, 39},  {ftWideString, 4, 10},
                        {ftSmallint, 0, 2}, {ftInteger, 0, 4},   {ftWord, 0, 2},     {ftAutoInc, 0, 4},
                        {ftLargeint, 0, 8}, {ftFloat, 0, 8},     {ftCurrency, 0, 8}, {ftBCD, 0, 8},
                        {ftBoolean, 0, 2},  {ftDate, 0, 4},      {ftTime, 0, 4},     {ftDateTime, 0, 8},
                        {ftTimeStamp, 0, 8}, {ftBytes, 6, 6},    {ftVarBytes, 6, 8}, {ftMemo, 0, 0},
                        {ftFmtMemo, 0, 0},  {ftBlob, 0, 0},      {ftGraphic, 0, 0},  {ftWideMemo, 0, 0}};
  for (const Case& c : cases) {
    std::unique_ptr<TField> field = CreateFieldForType(c.type, c.size);
    ASSERT_NE(field, nullptr) << c.type;
    EXPECT_EQ(field->DataType(), c.type);
    EXPECT_EQ(field->DataSize(), c.data_size) << c.type;
  }
  EXPECT_EQ(CreateFieldForType(ftVariant, 0), nullptr);
}

TEST(FieldBindingTest, PersistentFieldsBindByNameAndType) {
  TVectorDataSet data_set({{"A", ftInteger}, {"B", ftString, 5}});
  data_set.AddRow({"1", "x"});
  auto b = std::make_unique<TStringField>(5);
  b->SetFieldName("b");
  data_set.Fields().Add(std::move(b));
  data_set.Open();
  EXPECT_FALSE(data_set.DefaultFields());
  EXPECT_EQ(data_set.FieldCount(), 1);  // only the persistent one
  EXPECT_EQ(data_set.FieldByName("B").FieldNo(), 2);
  EXPECT_EQ(data_set.FieldByName("B").AsString(), "x");
  EXPECT_EQ(DbError([&] { data_set.Fields().Add(std::make_unique<TIntegerField>()); }),
            std::string(kSDataSetOpen));
  data_set.Close();

  auto wrong = std::make_unique<TIntegerField>();
  wrong->SetFieldName("B2");
  TField& added = data_set.Fields().Add(std::move(wrong));
  EXPECT_EQ(DbError([&] { data_set.Open(); }), "Field 'B2' not found");
  EXPECT_FALSE(data_set.Active());
  data_set.Fields().Remove(added);
  auto mismatch = std::make_unique<TIntegerField>();
  mismatch->SetFieldName("B");
  data_set.Fields().Remove(data_set.FieldByName("B"));
  data_set.Fields().Add(std::move(mismatch));
  EXPECT_EQ(DbError([&] { data_set.Open(); }), "Type mismatch for field 'B', expecting: 3 actual: 1");
  EXPECT_EQ(DbError([&] { data_set.Fields().Add(std::make_unique<TIntegerField>()); }),
            std::string(kSFieldNameMissing));
}

}  // namespace
}  // namespace orb::test

namespace orb::test {
namespace {

TEST(OldValueTest, OldValueIsTheRecordBeforeTheEdit) {
  auto data_set = MakeNumbered(2);
  data_set->Open();
  data_set->Edit();
  TField& name = data_set->FieldByName("NAME");
  name.SetAsString("new");
  EXPECT_EQ(name.OldValue().AsAnsiString(), "r1");
  EXPECT_EQ(name.AsString(), "new");
  EXPECT_EQ(data_set->State(), dsEdit);
  EXPECT_TRUE(data_set->Modified());
}

}  // namespace
}  // namespace orb::test
