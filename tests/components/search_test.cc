// Filters, Find*, Locate and Lookup, calculated and lookup fields.

#include <gtest/gtest.h>

#include "tests/support/vector_dataset.h"

namespace orb::test {
namespace {

TORBVariant Str(const std::string& text) {
  TORBVariant v;
  v.SetAsAnsiString(text);
  return v;
}

TORBVariant Int(int32_t n) {
  TORBVariant v;
  v.SetAsInteger(n);
  return v;
}

// NUM, NAME, CITY: five people.
std::unique_ptr<TVectorDataSet> MakePeople() {
  auto data_set = std::make_unique<TVectorDataSet>(
      std::vector<TColumn>{{"NUM", ftInteger}, {"NAME", ftString, 12}, {"CITY", ftString, 12}});
  data_set->AddRow({"1", "Anna", "Oslo"});
  data_set->AddRow({"2", "Bernd", "Bonn"});
  data_set->AddRow({"3", "anton", "Oslo"});
  data_set->AddRow({"4", "Berta", ""});
  data_set->AddRow({"5", "ANNABEL", "Bern"});
  return data_set;
}

std::vector<int> VisibleNums(TDataSet& data_set) {
  std::vector<int> nums;
  for (data_set.First(); !data_set.Eof(); data_set.Next()) nums.push_back(data_set.FieldByName("NUM").AsInteger());
  return nums;
}

TEST(FilterTest, FilterRecordHidesRecordsWhileFiltered) {
  auto data_set = MakePeople();
  data_set->Open();
  data_set->SetOnFilterRecordEvent([](TDataSet& ds, bool& accept) {
    EXPECT_EQ(ds.State(), dsFilter);
    accept = ds.FieldByName("CITY").AsString() == "Oslo";
  });
  EXPECT_EQ(VisibleNums(*data_set), (std::vector<int>{1, 2, 3, 4, 5}));  // not filtered yet
  data_set->SetFiltered(true);
  EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), 1);
  EXPECT_EQ(VisibleNums(*data_set), (std::vector<int>{1, 3}));
  data_set->SetOnFilterRecordEvent([](TDataSet& ds, bool& accept) { accept = ds.FieldByName("NUM").AsInteger() > 3; });
  EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), 4);  // re-applied from the first record
  EXPECT_EQ(VisibleNums(*data_set), (std::vector<int>{4, 5}));
  data_set->SetFiltered(false);
  EXPECT_EQ(VisibleNums(*data_set), (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST(FilterTest, HandlerExceptionGoesToTheApplicationAndKeepsTheAnswer) {
  auto data_set = MakePeople();
  std::vector<std::string> handled;
  SetApplicationExceptionHandler([&](std::exception_ptr error) {
    try {
      std::rethrow_exception(error);
    } catch (const EDatabaseError& e) {
      handled.push_back(e.Message());
    }
  });
  data_set->SetOnFilterRecordEvent([](TDataSet& ds, bool& accept) {
    const int num = ds.FieldByName("NUM").AsInteger();
    if (num == 2) {
      accept = false;
      DatabaseError("bad record");
    }
    if (num == 4) DatabaseError("kept");  // raised while still accepting
  });
  data_set->SetFiltered(true);
  data_set->Open();
  EXPECT_EQ(VisibleNums(*data_set), (std::vector<int>{1, 3, 4, 5}));
  EXPECT_FALSE(handled.empty());
  EXPECT_EQ(handled.front(), "bad record");
  SetApplicationExceptionHandler(nullptr);
}

TEST(FindTest, FindUsesTheFilterEventEvenWhenNotFiltered) {
  auto data_set = MakePeople();
  data_set->Open();
  data_set->SetOnFilterRecordEvent([](TDataSet& ds, bool& accept) { accept = ds.FieldByName("CITY").AsString() == "Oslo"; });
  int scrolls = 0;
  data_set->AfterScroll = [&](TDataSet&) { ++scrolls; };
  struct Step {
    bool (TDataSet::*find)();
    bool found;
    int num;
  };
  const Step steps[] = {{&TDataSet::FindFirst, true, 1}, {&TDataSet::FindNext, true, 3}, {&TDataSet::FindNext, false, 3},
                        {&TDataSet::FindPrior, true, 1}, {&TDataSet::FindPrior, false, 1}, {&TDataSet::FindLast, true, 3}};
  for (const Step& step : steps) {
    EXPECT_EQ(((*data_set).*step.find)(), step.found);
    EXPECT_EQ(data_set->Found(), step.found);
    EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), step.num);
  }
  EXPECT_EQ(scrolls, 4);  // only the successful finds
  EXPECT_FALSE(data_set->Filtered());
  EXPECT_EQ(VisibleNums(*data_set).size(), 5u);
}

TEST(LocateTest, OptionsAndKeys) {
  struct Case {
    const char* fields;
    std::vector<TORBVariant> values;
    TLocateOptions options;
    int found;  // NUM, 0 = not found
  };
  const std::vector<Case> cases = {
      {"NAME", {Str("anton")}, 0, 3},
      {"NAME", {Str("ANTON")}, 0, 0},
      {"NAME", {Str("ANTON")}, loCaseInsensitive, 3},
      {"NAME", {Str("Ann")}, 0, 0},
      {"NAME", {Str("Ann")}, loPartialKey, 1},
      {"NAME", {Str("annab")}, loPartialKey, 0},
      {"NAME", {Str("annab")}, loPartialKey | loCaseInsensitive, 5},
      {"CITY;NAME", {Str("Oslo"), Str("anton")}, 0, 3},
      {"city, name", {Str("Bonn"), Str("anton")}, 0, 0},
      {"NUM", {Int(4)}, 0, 4},
      {"CITY", {TORBVariant()}, 0, 4},  // null matches null
      {"NUM", {Str("5")}, 0, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fields) + " case " + std::to_string(&c - cases.data()));
    auto data_set = MakePeople();
    data_set->Open();
    data_set->Next();  // stand on record 2
    EXPECT_EQ(data_set->Locate(c.fields, c.values, c.options), c.found != 0);
    EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), c.found ? c.found : 2);
    data_set->Next();  // the window still works from there
    EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), c.found ? std::min(c.found + 1, 5) : 3);
  }
  auto data_set = MakePeople();
  data_set->Open();
  EXPECT_EQ(DbError([&] { data_set->Locate("NAME;CITY", {Str("x")}, 0); }),
            "Number of key values (1) does not match the number of key fields (2)");
  EXPECT_EQ(DbError([&] { data_set->Locate("NOPE", {Str("x")}, 0); }), "Field 'NOPE' not found");
}

TEST(LocateTest, LookupAnswersWithoutMoving) {
  auto data_set = MakePeople();
  data_set->Open();
  data_set->MoveBy(3);
  int scrolls = 0;
  data_set->BeforeScroll = [&](TDataSet&) { ++scrolls; };
  std::vector<TORBVariant> found = data_set->Lookup("CITY;NUM", {Str("Oslo"), Int(3)}, "NAME;NUM");
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].AsAnsiString(), "anton");
  EXPECT_EQ(found[1].AsInteger(), 3);
  EXPECT_TRUE(data_set->Lookup("NAME", {Str("nobody")}, "NUM").empty());
  EXPECT_EQ(scrolls, 0);
  EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), 4);
  data_set->Prior();
  EXPECT_EQ(data_set->FieldByName("NUM").AsInteger(), 3);
}

TEST(CalcFieldTest, CalculatedAndLookupFields) {
  auto cities = std::make_unique<TVectorDataSet>(std::vector<TColumn>{{"CODE", ftString, 12}, {"COUNTRY", ftString, 12}});
  cities->AddRow({"Oslo", "Norway"});
  cities->AddRow({"Bonn", "Germany"});
  cities->Open();

  auto people = MakePeople();
  auto label = std::make_unique<TStringField>(20);
  label->SetFieldName("LABEL");
  label->SetFieldKind(fkCalculated);
  auto country = std::make_unique<TStringField>(12);
  country->SetFieldName("COUNTRY");
  country->SetFieldKind(fkLookup);
  country->SetLookupDataSet(cities.get());
  country->SetKeyFields("CITY");
  country->SetLookupKeyFields("CODE");
  country->SetLookupResultField("COUNTRY");
  for (const char* name : {"NUM", "NAME", "CITY"}) {
    std::unique_ptr<TField> field = name == std::string("NUM") ? std::unique_ptr<TField>(std::make_unique<TIntegerField>())
                                                               : std::make_unique<TStringField>(12);
    field->SetFieldName(name);
    people->Fields().Add(std::move(field));
  }
  people->Fields().Add(std::move(label));
  people->Fields().Add(std::move(country));
  int calcs = 0;
  people->OnCalcFields = [&](TDataSet& ds) {
    ++calcs;
    EXPECT_EQ(ds.State(), dsCalcFields);
    ds.FieldByName("LABEL").SetAsString(ds.FieldByName("NAME").AsString() + "@" + ds.FieldByName("CITY").AsString());
  };
  people->Open();
  EXPECT_GT(calcs, 0);
  EXPECT_EQ(people->FieldByName("LABEL").AsString(), "Anna@Oslo");
  EXPECT_EQ(people->FieldByName("COUNTRY").AsString(), "Norway");
  people->Next();
  EXPECT_EQ(people->FieldByName("COUNTRY").AsString(), "Germany");
  people->MoveBy(2);
  EXPECT_TRUE(people->FieldByName("COUNTRY").IsNull());  // no city
  // Editing a data field recalculates.
  people->Edit();
  people->FieldByName("CITY").SetAsString("Oslo");
  EXPECT_EQ(people->FieldByName("LABEL").AsString(), "Berta@Oslo");
  EXPECT_EQ(people->FieldByName("COUNTRY").AsString(), "Norway");
  // Locate and Lookup see calculated values too.
  people->Post();
  EXPECT_TRUE(people->Locate("LABEL", {Str("anton@Oslo")}, 0));
  EXPECT_EQ(people->FieldByName("NUM").AsInteger(), 3);
  EXPECT_EQ(people->Lookup("NUM", {Int(2)}, "COUNTRY").at(0).AsAnsiString(), "Germany");
  // A calculated field is not written to the storage.
  EXPECT_EQ(DbError([&] { people->FieldByName("LABEL").SetAsString("x"); }), std::string(kSNotEditing));
}

TEST(CalcFieldTest, IncompleteLookupIsRefusedOnOpen) {
  auto people = MakePeople();
  auto country = std::make_unique<TStringField>(12);
  country->SetFieldName("COUNTRY");
  country->SetFieldKind(fkLookup);
  people->Fields().Add(std::move(country));
  EXPECT_EQ(DbError([&] { people->Open(); }), "Lookup information for field 'COUNTRY' is incomplete");
  EXPECT_FALSE(people->Active());
}

}  // namespace
}  // namespace orb::test
