#include "engine/data/table_data.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/engine/data/table_fixture.h"
#include "tests/support/raised.h"

namespace orb::test {
namespace {

class RecordChangeTest : public TableFixture {};

TEST_F(RecordChangeTest, InsertStoresTheRecordKeysEveryIndexAndShowsItInAnActiveBitmap) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "BY_VAL", {u"VAL"});
  CreateTable(indexes);
  FakeCursor cursor(FTable);
  cursor.SetFilter("VAL > 10");
  Insert(cursor, 1, 20);
  EXPECT_EQ(FTable->GetRecordCount(&cursor), 1);  // builds the bitmap
  ASSERT_TRUE(cursor.FBitmap.FActive);

  const int applied = FTable->FApplied;
  cursor.First();
  const int32_t shown = Insert(cursor, 2, 30);
  const int32_t hidden = Insert(cursor, 3, 5);
  EXPECT_FALSE(cursor.GetFirstPosition());
  EXPECT_FALSE(cursor.GetLastPosition());
  EXPECT_EQ(FTable->FApplied, applied + 2);
  EXPECT_EQ(FTable->IndexByName("BY_VAL")->Slots(), (std::vector<int32_t>{hidden, 0, shown}));
  // The bitmap follows without a rebuild.
  EXPECT_TRUE(cursor.FBitmap.IsRecordVisible({shown, 0}));
  EXPECT_FALSE(cursor.FBitmap.IsRecordVisible({hidden, 0}));
  EXPECT_EQ(cursor.FBitmap.GetRecordCount(), 2);
}

TEST_F(RecordChangeTest, UpdateMovesTheKeyInEveryIndex) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "BY_VAL", {u"VAL"});
  AddIndexDef(indexes, "BY_ID", {u"ID"}, true);
  CreateTable(indexes);
  FakeCursor cursor(FTable);
  const int32_t a = Insert(cursor, 1, 10);
  const int32_t b = Insert(cursor, 2, 20);
  MoveTo(cursor, a);
  cursor.FEdit = cursor.FCurrent;
  SetInt(*FTable, cursor.GetCurrentRecordBuffer(), kVal, 30);
  ASSERT_TRUE(FTable->UpdateRecord(&cursor));
  EXPECT_EQ(StoredVal(a), 30);
  EXPECT_EQ(FTable->IndexByName("BY_VAL")->Slots(), (std::vector<int32_t>{b, a}));
  EXPECT_EQ(FTable->IndexByName("BY_ID")->Slots(), (std::vector<int32_t>{a, b}));
}

TEST_F(RecordChangeTest, DeleteMovesTheCursorToTheNextElseThePriorElseBOF) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "BY_VAL", {u"VAL"});
  CreateTable(indexes);
  FakeCursor cursor(FTable);
  // Physical order a, b, c; index order by VAL: c, a, b.
  const int32_t a = Insert(cursor, 1, 20);
  const int32_t b = Insert(cursor, 2, 30);
  const int32_t c = Insert(cursor, 3, 10);
  cursor.SetIndex(IndexID("BY_VAL"));

  MoveTo(cursor, a);  // the middle in index order: the next one follows
  ASSERT_TRUE(FTable->DeleteRecord(&cursor));
  EXPECT_EQ(cursor.GetCurrentRecordID().PageNo, b);
  EXPECT_FALSE(cursor.GetFirstPosition());

  MoveTo(cursor, b);  // the last in index order: the new last one
  ASSERT_TRUE(FTable->DeleteRecord(&cursor));
  EXPECT_EQ(cursor.GetCurrentRecordID().PageNo, c);
  EXPECT_FALSE(cursor.GetFirstPosition());
  EXPECT_FALSE(cursor.GetLastPosition());

  MoveTo(cursor, c);  // the only one: BOF
  ASSERT_TRUE(FTable->DeleteRecord(&cursor));
  EXPECT_TRUE(cursor.GetFirstPosition());
  EXPECT_EQ(FTable->InternalGetRecordCount(0), 0);
  EXPECT_TRUE(FTable->IndexByName("BY_VAL")->Slots().empty());
}

TEST_F(RecordChangeTest, DeletingARecordAnotherCursorDeletedTouchesNoIndex) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "BY_VAL", {u"VAL"});
  CreateTable(indexes);
  FakeCursor cursor(FTable);
  FakeCursor other(FTable);
  Insert(cursor, 1, 10);
  Insert(cursor, 2, 20);
  MoveTo(cursor, 0);
  MoveTo(other, 0);
  ASSERT_TRUE(FTable->DeleteRecord(&other));
  EXPECT_FALSE(FTable->DeleteRecord(&cursor));
  EXPECT_EQ(FTable->IndexByName("BY_VAL")->Slots(), std::vector<int32_t>{1});
  EXPECT_EQ(FTable->InternalGetRecordCount(0), 1);
}

TEST_F(RecordChangeTest, DeleteKeepsACurrentBitmapUsable) {
  CreateTable();
  FakeCursor cursor(FTable);
  for (int i = 1; i <= 4; ++i) Insert(cursor, i, i);
  cursor.SetFilter("VAL >= 2");
  EXPECT_EQ(FTable->GetRecordCount(&cursor), 3);
  MoveTo(cursor, 2);
  ASSERT_TRUE(FTable->DeleteRecord(&cursor));
  EXPECT_TRUE(cursor.FBitmap.FActive);
  EXPECT_FALSE(cursor.FBitmap.GetOutdated());
  EXPECT_EQ(FTable->GetRecordCount(&cursor), 2);
  EXPECT_EQ(Walk(cursor), (std::vector<int32_t>{2, 4}));
}

class NavigationTest : public TableFixture {};

TEST_F(NavigationTest, EmptyTableGivesEOFWithoutTouchingTheCursor) {
  CreateTable();
  FakeCursor cursor(FTable);
  cursor.SetFirstPosition(false);
  cursor.SetCurrentRecordID({7, 3});
  for (TORBGetRecordMode mode : {grmNext, grmPrior, grmCurrent}) {
    EXPECT_EQ(FTable->GetRecordBuffer(&cursor, mode), grrEOF);
    EXPECT_EQ(cursor.GetCurrentRecordID(), (TORBPageItemID{7, 3}));
    EXPECT_FALSE(cursor.GetFirstPosition());
    EXPECT_FALSE(cursor.GetLastPosition());
  }
  EXPECT_EQ(FTable->GetRecNo(&cursor), -1);
  FTable->SetRecNo(&cursor, 1);
  EXPECT_EQ(cursor.GetCurrentRecordID(), (TORBPageItemID{7, 3}));
}

TEST_F(NavigationTest, WalksFromBOFAndEOFInPhysicalAndIndexOrderAndStopsAtTheEnds) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "BY_VAL", {u"VAL"});
  CreateTable(indexes);
  FakeCursor cursor(FTable);
  Insert(cursor, 1, 30);
  Insert(cursor, 2, 10);
  Insert(cursor, 3, 20);
  EXPECT_EQ(Walk(cursor), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_TRUE(cursor.GetLastPosition());
  EXPECT_EQ(Walk(cursor, false), (std::vector<int32_t>{3, 2, 1}));
  EXPECT_TRUE(cursor.GetFirstPosition());
  cursor.SetIndex(IndexID("BY_VAL"));
  EXPECT_EQ(Walk(cursor), (std::vector<int32_t>{2, 3, 1}));
  EXPECT_EQ(FTable->GetRecordBuffer(&cursor, grmNext), grrEOF);
  EXPECT_EQ(Walk(cursor, false), (std::vector<int32_t>{1, 3, 2}));
  EXPECT_EQ(FTable->GetRecordBuffer(&cursor, grmPrior), grrBOF);
}

TEST_F(NavigationTest, NextFromARecordDeletedMeanwhileContinuesAtTheNearestKey) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "BY_VAL", {u"VAL"});
  CreateTable(indexes);
  FakeCursor cursor(FTable);
  FakeCursor other(FTable);
  for (int i = 1; i <= 3; ++i) Insert(cursor, i, i * 10);
  cursor.SetIndex(IndexID("BY_VAL"));
  MoveTo(cursor, 1);  // VAL 20
  MoveTo(other, 1);
  ASSERT_TRUE(FTable->DeleteRecord(&other));
  ASSERT_EQ(FTable->GetRecordBuffer(&cursor, grmNext), grrOK);
  EXPECT_EQ(GetInt(*FTable, cursor.GetCurrentRecordBuffer(), kVal), 30);
  EXPECT_EQ(FTable->GetRecordBuffer(&cursor, grmCurrent), grrOK);
  other.SetCurrentRecordID({2, 0});
  ASSERT_TRUE(FTable->DeleteRecord(&other));
  EXPECT_EQ(FTable->GetRecordBuffer(&cursor, grmCurrent), grrError);
}

// Restricted views: a filter, a range, both with and without an index.
class RestrictedViewTest : public TableFixture, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    TORBIndexDefs indexes;
    AddIndexDef(indexes, "BY_VAL_DESC", {u"VAL"})->GetIndexColumn(0)->FDescending = true;
    CreateTable(indexes);
  }
};

TEST_P(RestrictedViewTest, RecNoIsTheRankAmongVisibleRecordsAndSetRecNoClampsToTheView) {
  const bool by_index = GetParam();
  FakeCursor cursor(FTable);
  for (int i = 1; i <= 8; ++i) Insert(cursor, i, i);
  if (by_index) cursor.SetIndex(IndexID("BY_VAL_DESC"));
  cursor.SetFilter("VAL >= 3 AND VAL <> 5");  // visible: 3, 4, 6, 7, 8
  const std::vector<int32_t> order =
      by_index ? std::vector<int32_t>{8, 7, 6, 4, 3} : std::vector<int32_t>{3, 4, 6, 7, 8};
  EXPECT_EQ(FTable->GetRecordCount(&cursor), 5);
  EXPECT_EQ(cursor.FBitmap.FIndexBased, by_index);
  EXPECT_EQ(Walk(cursor), order);
  EXPECT_EQ(FTable->GetRecNo(&cursor), -1);  // at EOF

  struct Case {
    int64_t set;
    int64_t rec_no;
  };
  for (const Case& c : std::vector<Case>{{1, 1}, {3, 3}, {5, 5}, {0, 1}, {-4, 1}, {6, 5}, {1000, 5}}) {
    FTable->SetRecNo(&cursor, c.set);
    ASSERT_EQ(FTable->GetRecordBuffer(&cursor, grmCurrent), grrOK) << c.set;
    EXPECT_EQ(GetInt(*FTable, cursor.GetCurrentRecordBuffer(), kID), order[static_cast<size_t>(c.rec_no - 1)])
        << c.set;
    EXPECT_EQ(FTable->GetRecNo(&cursor), c.rec_no) << c.set;
  }
  // Record numbers of the bitmap stop at its last shown record.
  for (int64_t outside : {int64_t{0}, int64_t{6}})
    EXPECT_EQ(RaisedCode([&] { cursor.FBitmap.GetRecordIDByRecNo(outside); }), kErrBitmapRecNo) << outside;
  // A change clears an index-based bitmap (it is rebuilt), and moves a
  // record-number bit.
  const int32_t added = Insert(cursor, 9, 9);
  EXPECT_EQ(cursor.FBitmap.FActive, !by_index);
  EXPECT_EQ(FTable->GetRecordCount(&cursor), 6);
  EXPECT_TRUE(cursor.FBitmap.FActive);
  FTable->SetRecNo(&cursor, 1);
  EXPECT_EQ(cursor.GetCurrentRecordID().PageNo, by_index ? added : 2);
  // A hidden record read directly is refused, and the cursor stays.
  const TORBPageItemID before = cursor.GetCurrentRecordID();
  cursor.SetCurrentRecordID({4, 0});  // VAL 5
  EXPECT_EQ(FTable->GetRecordBuffer(&cursor, grmCurrent), grrError);
  cursor.SetCurrentRecordID(before);
}

TEST_P(RestrictedViewTest, ExclusiveRangeStartLeavesOutEqualKeys) {
  const bool exclusive = GetParam();
  FakeCursor cursor(FTable);
  for (int v : {5, 7, 7, 9, 3}) Insert(cursor, v * 10 + static_cast<int>(FTable->InternalGetRecordCount(0)), v);
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "BY_VAL", {u"VAL"});
  const int32_t by_val = FTable->AddIndex(*indexes.GetIndexDef(0), &cursor);
  cursor.SetIndex(by_val);
  cursor.FRangeStart.assign(cursor.FCurrent.size(), 0);
  SetInt(*FTable, cursor.FRangeStart.data(), kVal, 7);
  cursor.FRangeStartCount = 1;
  cursor.FRangeStartExclusive = exclusive;
  std::vector<int32_t> vals;
  cursor.First();
  while (FTable->GetRecordBuffer(&cursor, grmNext) == grrOK)
    vals.push_back(*GetInt(*FTable, cursor.GetCurrentRecordBuffer(), kVal));
  EXPECT_EQ(vals, (exclusive ? std::vector<int32_t>{9} : std::vector<int32_t>{7, 7, 9}));
  EXPECT_EQ(FTable->GetRecordCount(&cursor), static_cast<int64_t>(vals.size()));
}

INSTANTIATE_TEST_SUITE_P(Both, RestrictedViewTest, ::testing::Bool());

TEST(RecordBitmapTest, NeedsATableData) {
  EXPECT_EQ(RaisedCode([] { TORBRecordBitmap bitmap(nullptr); }), kErrBitmapNoTableData);
}

TEST_F(NavigationTest, RecordFilterCallbackAndLocate) {
  CreateTable();
  FakeCursor cursor(FTable);
  for (int i = 1; i <= 6; ++i) Insert(cursor, i, i * 10);
  cursor.FRecordFilter = [&](const uint8_t* record) { return *GetInt(*FTable, record, kID) % 2 == 0; };
  EXPECT_EQ(Walk(cursor), (std::vector<int32_t>{2, 4, 6}));
  TORBExpression wanted;
  wanted.ParseForFilter(&cursor, u"VAL >= 30", false, false);
  ASSERT_TRUE(FTable->Locate(&cursor, &wanted));
  EXPECT_EQ(GetInt(*FTable, cursor.GetCurrentRecordBuffer(), kID), 4);
  TORBExpression none;
  none.ParseForFilter(&cursor, u"VAL > 100", false, false);
  EXPECT_FALSE(FTable->Locate(&cursor, &none));
  EXPECT_EQ(cursor.GetCurrentRecordID().PageNo, 3);
}

TEST_F(NavigationTest, DistinctShowsTheFirstRecordOfEachKeyGroup) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "BY_VAL", {u"VAL"});
  CreateTable(indexes);
  FakeCursor cursor(FTable);
  for (int v : {2, 1, 2, 3, 1}) Insert(cursor, static_cast<int32_t>(FTable->InternalGetRecordCount(0)) + 1, v);
  cursor.SetIndex(IndexID("BY_VAL"));
  cursor.FDistinctCount = 1;
  EXPECT_EQ(Walk(cursor), (std::vector<int32_t>{2, 1, 4}));
  EXPECT_EQ(FTable->GetRecordCount(&cursor), 3);
}

}  // namespace
}  // namespace orb::test
