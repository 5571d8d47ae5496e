#include "engine/base/index_defs.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/base/field_defs.h"
#include "tests/engine/base/metadata_test_util.h"

namespace orb {
namespace {

using testing::Bytes;
using testing::Contents;
using testing::RaisedCode;
using testing::RaisedMessage;
using testing::StreamOf;

using Names = std::vector<std::u16string>;

struct ColumnSpec {
  const char16_t* name;
  bool descending;
  bool case_insensitive;
};

std::unique_ptr<TORBIndexDef> MakeIndex(std::string_view name, int32_t object_id, std::vector<ColumnSpec> columns) {
  auto index = std::make_unique<TORBIndexDef>();
  index->SetName(name);
  index->FObjectID = object_id;
  index->SetColumnCount(static_cast<int32_t>(columns.size()));
  for (size_t i = 0; i < columns.size(); ++i) {
    TORBIndexColumn* column = index->GetIndexColumn(static_cast<int32_t>(i));
    column->SetFieldName(columns[i].name);
    column->FDescending = columns[i].descending;
    column->FCaseInsensitive = columns[i].case_insensitive;
    column->FMaxIndexedSize = 20;
  }
  return index;
}

std::vector<uint8_t> Save(const TORBIndexDefs& defs) {
  TORBMemoryStream stream;
  defs.SaveToStream(stream);
  return Contents(stream);
}

TEST(IndexDefTest, NewDefinitionDefaults) {
  TORBIndexDef index;
  EXPECT_EQ(index.FIndexType, itBTree);
  EXPECT_EQ(index.GetColumnCount(), 0);
  EXPECT_FALSE(index.FUnique);
  EXPECT_FALSE(index.FPrimary);
  EXPECT_EQ(index.FRootPageNo, -1);
  EXPECT_FALSE(index.FTemporary);
  EXPECT_EQ(index.FSessionID, -1);
  EXPECT_EQ(index.FTableState, 0);
  EXPECT_FALSE(index.FNeedRebuild);
  EXPECT_EQ(index.GetIndexColumn(0), nullptr);
}

TEST(IndexDefTest, SetColumnCountAddsEmptyColumnsAndDropsSurplusOnes) {
  auto index = MakeIndex("i", 1, {{u"a", true, true}, {u"b", false, false}});
  index->SetColumnCount(3);
  ASSERT_EQ(index->GetColumnCount(), 3);
  EXPECT_EQ(index->GetIndexColumn(0)->GetFieldName(), u"a");
  EXPECT_EQ(index->GetIndexColumn(2)->GetFieldName(), u"");
  EXPECT_FALSE(index->GetIndexColumn(2)->FDescending);
  EXPECT_EQ(index->GetIndexColumn(2)->FMaxIndexedSize, 0);
  index->SetColumnCount(1);
  EXPECT_EQ(index->GetColumnCount(), 1);
  EXPECT_TRUE(index->GetIndexColumn(0)->FDescending);
  EXPECT_THROW(index->SetColumnCount(-1), Exception);
}

TEST(IndexDefTest, AssignByNamesTakesExactKeywordsOnly) {
  TORBIndexDef index;
  index.AssignByNames({u"A", u"B", u"C", u"D"}, {u"DESC", u"desc", u"ASC", u""},
                      {u"NO_CASE", u"no_case", u"CASE", u"x"});
  ASSERT_EQ(index.GetColumnCount(), 4);
  const bool descending[] = {true, false, false, false};
  const bool insensitive[] = {true, false, false, false};
  for (int32_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(index.GetIndexColumn(i)->FDescending, descending[i]);
    EXPECT_EQ(index.GetIndexColumn(i)->FCaseInsensitive, insensitive[i]);
    EXPECT_EQ(index.GetIndexColumn(i)->FMaxIndexedSize, 20);
  }
  EXPECT_EQ(index.GetIndexColumn(3)->GetFieldName(), u"D");

  EXPECT_EQ(RaisedMessage([&] { index.AssignByNames({u"A", u"B"}, {u"ASC"}, {u"CASE", u"CASE"}); }),
            "Error - different list lengths. L1 = 2, L2 = 1 - Native error: 10278");
  EXPECT_EQ(RaisedCode([&] { index.AssignByNames({u"A"}, {u"ASC"}, {}); }), 10279);
  EXPECT_EQ(index.GetColumnCount(), 4);
}

TEST(IndexDefTest, ColumnNamesTheStoredFormCannotHoldAreRefused) {
  TORBIndexColumn column;
  column.SetFieldName(std::u16string(255, u'n'));
  EXPECT_EQ(column.GetFieldName().size(), 255u);
  EXPECT_EQ(RaisedCode([&] { column.SetFieldName(std::u16string(256, u'n')); }), kErrIndexColumnNameTooLong);
  EXPECT_EQ(column.GetFieldName().size(), 255u);
  TORBIndexDef index;
  EXPECT_EQ(RaisedCode([&] { index.AssignByNames({std::u16string(300, u'n')}, {u""}, {u""}); }),
            kErrIndexColumnNameTooLong);
}

TEST(IndexDefsTest, StreamIsByteExactAndOmitsTemporaryIndexes) {
  TORBIndexDefs defs;
  auto primary = MakeIndex("pk", 7, {{u"numero", false, false}});
  primary->FPrimary = true;
  primary->FUnique = true;
  primary->FRootPageNo = 12;
  defs.Add(std::move(primary));
  auto temporary = MakeIndex("TEMPORARY_INDEX_1", 8, {{u"tab1", false, false}});
  temporary->FTemporary = true;
  temporary->FSessionID = 3;
  defs.Add(std::move(temporary));
  auto keywords = MakeIndex("by_tabs", 9, {{u"tab1", true, true}, {u"caf\u00e9", false, false}});
  keywords->FIndexType = itAnotherOne;
  keywords->GetIndexColumn(1)->FMaxIndexedSize = 255;
  defs.Add(std::move(keywords));

  Bytes expected;
  expected.I32(2);
  expected.Short("pk").I32(7).U8(itBTree).U8(1).U8(1).I32(1).I32(12);
  expected.Short("numero").U8(0).U8(0).I32(20);
  expected.Short("by_tabs").I32(9).U8(itAnotherOne).U8(0).U8(0).I32(2).I32(-1);
  expected.Short("tab1").U8(1).U8(1).I32(20);
  expected.Short("caf\xe9").U8(0).U8(0).I32(255);
  ASSERT_EQ(Save(defs), expected.data());

  TORBIndexDefs loaded;
  loaded.AddCreated()->SetName("stale");
  auto stream = StreamOf(expected.data());
  loaded.LoadFromStream(*stream);
  EXPECT_EQ(loaded.FLoadedItemCount, 2);
  ASSERT_EQ(loaded.GetCount(), 2);
  const TORBIndexDef* pk = loaded.GetIndexDef(0);
  EXPECT_TRUE(pk->FPrimary);
  EXPECT_TRUE(pk->FUnique);
  EXPECT_EQ(pk->FRootPageNo, 12);
  EXPECT_FALSE(pk->FTemporary);
  const TORBIndexDef* tabs = loaded.GetIndexDefByName(u"BY_TABS");
  ASSERT_NE(tabs, nullptr);
  EXPECT_EQ(tabs->FIndexType, itAnotherOne);
  EXPECT_EQ(tabs->GetIndexColumn(1)->GetFieldName(), u"caf\u00e9");
  EXPECT_TRUE(tabs->GetIndexColumn(0)->FDescending);
  EXPECT_TRUE(tabs->GetIndexColumn(0)->FCaseInsensitive);
  EXPECT_EQ(Save(loaded), expected.data());
}

TEST(IndexDefsTest, DamagedOrTruncatedStreamsRaiseTheItemCode) {
  Bytes b;
  b.I32(1).Short("ix").I32(4).U8(itBTree).U8(0).U8(1).I32(1).I32(30);
  b.Short("col").U8(1).U8(0).I32(20);
  const std::vector<uint8_t> full = b.data();
  // Offsets: count 0, name 4, id 7, type 11, unique 12, primary 13, column
  // count 14, root 18, column name 22, descending 26, case 27, size 28.
  struct Truncation {
    size_t length;
    int32_t code;
  };
  const Truncation truncations[] = {{0, 10159},  {4, 10166},  {5, 10167},  {7, 10169},  {11, 10349},
                                    {12, 10350}, {13, 10351}, {14, 10352}, {18, 10353}, {22, 10358},
                                    {23, 10359}, {26, 10360}, {27, 10361}, {28, 20168}, {31, 20168}};
  for (const Truncation& t : truncations) {
    SCOPED_TRACE(t.length);
    auto stream = StreamOf(std::vector<uint8_t>(full.begin(), full.begin() + t.length));
    TORBIndexDefs defs;
    EXPECT_EQ(RaisedCode([&] { defs.LoadFromStream(*stream); }), t.code);
    EXPECT_EQ(defs.GetCount(), 0);
  }
  struct Damage {
    const char* what;
    size_t offset;
    std::vector<uint8_t> bytes;
    int32_t code;
  };
  const Damage damages[] = {
      {"negative index count", 0, {0xfe, 0xff, 0xff, 0xff}, 10159},
      {"unknown index type", 11, {2}, 10349},
      {"negative column count", 14, {0xff, 0xff, 0xff, 0xff}, 10352},
      // Columns are read one by one: the second one is missing.
      {"column count the stream cannot hold", 14, {0xff, 0xff, 0xff, 0x7f}, 10358},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    std::vector<uint8_t> bytes = full;
    std::copy(d.bytes.begin(), d.bytes.end(), bytes.begin() + static_cast<ptrdiff_t>(d.offset));
    auto stream = StreamOf(bytes);
    TORBIndexDefs defs;
    EXPECT_EQ(RaisedCode([&] { defs.LoadFromStream(*stream); }), d.code);
  }
}

TEST(IndexDefsTest, AssignCopiesColumnsByValueAndRefusesDuplicateNames) {
  TORBIndexDefs source;
  auto index = MakeIndex("ix", 5, {{u"a", true, false}});
  index->FTemporary = true;
  index->FSessionID = 4;
  index->FTableState = 17;
  index->FNeedRebuild = true;
  source.Add(std::move(index));
  TORBIndexDefs copy;
  copy.Assign(source);
  ASSERT_EQ(copy.GetCount(), 1);
  const TORBIndexDef* c = copy.GetIndexDef(0);
  EXPECT_TRUE(c->FTemporary);
  EXPECT_EQ(c->FSessionID, 4);
  EXPECT_EQ(c->FTableState, 17);
  EXPECT_TRUE(c->FNeedRebuild);
  source.GetIndexDef(0)->GetIndexColumn(0)->SetFieldName(u"changed");
  EXPECT_EQ(c->GetIndexColumn(0)->GetFieldName(), u"a");

  source.Add(MakeIndex("IX", 6, {}));
  EXPECT_EQ(RaisedMessage([&] { copy.Assign(source); }), "Duplicate field name IX - Native error: 10424");
}

class FindIndexTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto name = std::make_unique<TORBFieldDef>();
    name->SetName("Name");
    name->SetFieldDefDataType(aftString, 20);
    FFields.Add(std::move(name));
    auto number = std::make_unique<TORBFieldDef>();
    number->SetName("Num");
    number->SetFieldDefDataType(aftInteger, 0);
    FFields.Add(std::move(number));
  }

  int32_t Find(const Names& names, const Names& orders, const Names& cases, int32_t session_id = 1) {
    return FIndexes.FindIndex(&names, &orders, &cases, session_id, &FFields);
  }

  TORBFieldDefs FFields;
  TORBIndexDefs FIndexes;
};

TEST_F(FindIndexTest, MatchesColumnsDirectionAndCase) {
  FIndexes.Add(MakeIndex("name_ci", 10, {{u"NAME", false, true}}));
  FIndexes.Add(MakeIndex("name_num", 11, {{u"Name", false, false}, {u"Num", true, false}}));
  FIndexes.Add(MakeIndex("num_ci_desc", 12, {{u"num", true, true}}));
  struct Case {
    Names names, orders, cases;
    int32_t expected;
  };
  const Case cases[] = {
      // Names compare without regard to case; any order or case entry other
      // than the keywords accepts either.
      {{u"name"}, {u""}, {u""}, 10},
      {{u"Name"}, {u"ASC"}, {u"CASE"}, 11},
      {{u"Name"}, {u"ASC"}, {u"NO_CASE"}, 10},
      {{u"Name"}, {u"DESC"}, {u""}, -1},
      {{u"Name"}, {u"asc"}, {u"case"}, 10},
      // A longer index serves its leading columns; a shorter one is skipped.
      {{u"Name", u"Num"}, {u"ASC", u"DESC"}, {u"", u""}, 11},
      {{u"Name", u"Num"}, {u"ASC", u"ASC"}, {u"", u""}, -1},
      {{u"Num", u"Name"}, {u"", u""}, {u"", u""}, -1},
      // On a field that is no string, "CASE" accepts a case-insensitive
      // column, but "NO_CASE" still needs one.
      {{u"Num"}, {u"DESC"}, {u"CASE"}, 12},
      {{u"Num"}, {u"DESC"}, {u"NO_CASE"}, 12},
      {{u"Other"}, {u""}, {u""}, -1},
      {{}, {}, {}, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(Find(c.names, c.orders, c.cases), c.expected);
    EXPECT_EQ(FIndexes.IsIndexExists(&c.names, &c.orders, &c.cases, 1, &FFields), c.expected != -1);
  }
}

TEST_F(FindIndexTest, NoCaseNeedsACaseInsensitiveColumnWhateverTheFieldType) {
  FIndexes.Add(MakeIndex("num_cs", 20, {{u"Num", false, false}}));
  EXPECT_EQ(Find({u"Num"}, {u"ASC"}, {u"NO_CASE"}), -1);
  EXPECT_EQ(Find({u"Num"}, {u"ASC"}, {u"CASE"}), 20);
  FIndexes.Add(MakeIndex("num_ci", 21, {{u"Num", false, true}}));
  EXPECT_EQ(Find({u"Num"}, {u"ASC"}, {u"NO_CASE"}), 21);
  // Without field definitions no field counts as a string.
  const Names names{u"Num"}, orders{u"ASC"}, cases{u"CASE"};
  EXPECT_EQ(FIndexes.FindIndex(&names, &orders, &cases, 1, nullptr), 20);
}

TEST_F(FindIndexTest, TemporaryIndexesServeOnlyTheirSession) {
  auto temporary = MakeIndex("tmp", 30, {{u"Name", false, false}});
  temporary->FTemporary = true;
  temporary->FSessionID = 2;
  FIndexes.Add(std::move(temporary));
  FIndexes.Add(MakeIndex("shared", 31, {{u"Name", false, false}}));
  EXPECT_EQ(Find({u"Name"}, {u""}, {u""}, 2), 30);
  EXPECT_EQ(Find({u"Name"}, {u""}, {u""}, 3), 31);
}

TEST_F(FindIndexTest, MissingOrUnequalListsAreRefused) {
  const Names one{u"Name"}, two{u"a", u"b"};
  EXPECT_EQ(RaisedMessage([&] { FIndexes.FindIndex(nullptr, &one, &one, 1, &FFields); }),
            "Nil pointer occured - Native error: 10389");
  EXPECT_EQ(RaisedCode([&] { FIndexes.FindIndex(&one, nullptr, &one, 1, &FFields); }), 10390);
  EXPECT_EQ(RaisedCode([&] { FIndexes.FindIndex(&one, &one, nullptr, 1, &FFields); }), 10391);
  EXPECT_EQ(RaisedMessage([&] { FIndexes.FindIndex(&one, &two, &one, 1, &FFields); }),
            "Error - different list lengths. L1 = 1, L2 = 2 - Native error: 10276");
  EXPECT_EQ(RaisedCode([&] { FIndexes.FindIndex(&one, &one, &two, 1, &FFields); }), 10277);
}

}  // namespace
}  // namespace orb
