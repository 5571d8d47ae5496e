#include <gtest/gtest.h>

#include <cstring>

#include "tests/engine/cursor/cursor_fixture.h"

namespace orb::test {
namespace {

using NavigationTest = CursorTest;

TEST_F(NavigationTest, BufferGeometryFollowsTheRecordLayout) {
  TORBFieldDefs fields;
  for (int i = 0; i < 9; ++i) AddField(fields, u"F" + Utf8ToWide(std::to_string(i)), aftInteger);
  CreateTable(fields);
  TORBLocalCursor& c = Open();
  EXPECT_EQ(c.FBookmarkOffset, 38);
  EXPECT_EQ(c.FRecordSize, 45);
  EXPECT_EQ(c.FKeyBufferSize, 44);
  EXPECT_EQ(c.FKeyOffset, 38);
  EXPECT_EQ(c.FRecordBufferSize, 45);
  EXPECT_EQ(c.FFieldValuesOffset, 2);
  uint8_t* buffer = c.FCurrentRecordBuffer;
  std::memset(buffer, 0x5A, static_cast<size_t>(c.FRecordBufferSize));
  c.InternalInitRecord(buffer, true);
  EXPECT_EQ(buffer[0], 0xFF);
  EXPECT_EQ(buffer[1], 0xFF);
  for (int i = 2; i < 38; ++i) ASSERT_EQ(buffer[i], 0) << i;
}

TEST_F(NavigationTest, WalksBothWaysAndStopsAtTheEnds) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  c.InternalFirst();
  EXPECT_EQ(c.GetRecordBuffer(grmNext), grrEOF) << "empty table";
  InsertRows(c, FiveRows());
  EXPECT_EQ(Walk(c), (std::vector<int32_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(Walk(c, false), (std::vector<int32_t>{5, 4, 3, 2, 1}));
  // Past the last record, and back from there.
  EXPECT_EQ(c.GetRecordBuffer(grmPrior), grrBOF);
  c.InternalLast();
  ASSERT_EQ(c.GetRecordBuffer(grmPrior), grrOK);
  EXPECT_EQ(GetInt(c, kID), 5);
  EXPECT_EQ(c.GetRecordBuffer(grmNext), grrEOF);
  EXPECT_EQ(c.GetRecordCount(), 5);
}

TEST_F(NavigationTest, RecordNumbersAndBookmarksFindTheSameRecord) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  InsertRows(c, FiveRows());
  c.SetRecNo(3);
  ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
  EXPECT_EQ(GetInt(c, kID), 3);
  EXPECT_EQ(c.GetRecNo(), 3);
  // The buffer carries the record's bookmark.
  const TORBPageItemID bookmark = c.GetBookmark(c.FCurrentRecordBuffer);
  EXPECT_EQ(bookmark, c.FCurrentRecordID);
  EXPECT_EQ(c.GetBookmarkFlag(c.FCurrentRecordBuffer), bfCurrent);
  const TORBCursorPosition saved = c.SavePosition();

  c.InternalLast();
  ASSERT_EQ(c.GetRecordBuffer(grmPrior), grrOK);
  ASSERT_EQ(GetInt(c, kID), 5);
  // Back to the bookmark.
  c.FFirstPosition = c.FLastPosition = false;
  c.FCurrentRecordID = bookmark;
  ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
  EXPECT_EQ(GetInt(c, kID), 3);
  ASSERT_EQ(c.GetRecordBuffer(grmNext), grrOK);
  EXPECT_EQ(GetInt(c, kID), 4);
  // And to the saved position.
  c.RestorePosition(saved);
  ASSERT_EQ(c.GetRecordBuffer(grmNext), grrOK);
  EXPECT_EQ(GetInt(c, kID), 4);
}

TEST_F(NavigationTest, SwitchingTheIndexKeepsTheCurrentRecord) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "BY_NAME", {u"NAME"});
  CreateStandardTable(indexes);
  TORBLocalCursor& c = Open();
  InsertRows(c, FiveRows());
  ASSERT_TRUE(MoveToID(c, 1));  // dave
  c.SetIndexName(u"BY_NAME");
  ASSERT_NE(c.FIndexID, -1);
  ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
  EXPECT_EQ(GetText(c, kName), "dave");
  ASSERT_EQ(c.GetRecordBuffer(grmNext), grrOK);
  EXPECT_EQ(GetText(c, kName), "erin");
  // Back to physical order, still on erin.
  c.SetIndexName(u"");
  EXPECT_EQ(c.FIndexID, -1);
  ASSERT_EQ(c.GetRecordBuffer(grmNext), grrOK);
  EXPECT_EQ(GetInt(c, kID), 4);
  c.SetIndexName(u"BY_NAME");
  EXPECT_EQ(Walk(c), (std::vector<int32_t>{2, 4, 5, 1, 3}));
  EXPECT_EQ(Walk(c, false), (std::vector<int32_t>{3, 1, 5, 4, 2}));
}

TEST_F(NavigationTest, RangesBoundTheViewInclusiveExclusiveAndByLeadingFields) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "BY_ID", {u"ID"});
  AddIndexDef(indexes, "BY_GROUP_ID", {u"GRP", u"ID"});
  CreateStandardTable(indexes);
  TORBLocalCursor& c = Open();
  InsertRows(c, FiveRows());
  c.SetIndexName(u"BY_ID");
  uint8_t* start = c.AllocateKeyRecordBuffer();
  uint8_t* end = c.AllocateKeyRecordBuffer();
  c.InternalInitKeyBuffer(start);
  c.InternalInitKeyBuffer(end);
  SetInt(c, kID, 2, start);
  SetInt(c, kID, 4, end);
  struct Case {
    bool StartExclusive, EndExclusive;
    std::vector<int32_t> Expected;
  };
  for (const Case& k : {Case{false, false, {2, 3, 4}}, Case{true, false, {3, 4}}, Case{false, true, {2, 3}},
                        Case{true, true, {3}}}) {
    c.ApplyRange(start, end, 1, 1, k.StartExclusive, k.EndExclusive);
    EXPECT_EQ(Walk(c), k.Expected) << k.StartExclusive << k.EndExclusive;
    EXPECT_EQ(c.GetRecordCount(), static_cast<int64_t>(k.Expected.size()));
  }
  // An open end.
  c.ApplyRange(start, nullptr, 1, 0, false, false);
  EXPECT_EQ(Walk(c, false), (std::vector<int32_t>{5, 4, 3, 2}));
  c.ResetRange();
  EXPECT_EQ(c.GetRecordCount(), 5);

  // A partial key: the first of two index fields.
  c.SetIndexName(u"BY_GROUP_ID");
  c.InternalInitKeyBuffer(start);
  SetInt(c, kGroup, 1, start);
  c.ApplyRange(start, start, 1, 1, false, false);
  EXPECT_EQ(Walk(c), (std::vector<int32_t>{1, 3, 5}));
  c.ApplyRange(start, start, 1, 1, true, false);
  EXPECT_TRUE(Walk(c).empty());
  c.ResetRange();
  c.FreeKeyRecordBuffer(start);
  c.FreeKeyRecordBuffer(end);
}

TEST_F(NavigationTest, FilterRestrictsTheViewAndLocateFindsWithinIt) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  InsertRows(c, FiveRows());
  c.ActivateFilters(u"SCORE > 50", false, false);
  EXPECT_EQ(Walk(c), (std::vector<int32_t>{2, 3, 5}));
  EXPECT_EQ(c.GetRecordCount(), 3);
  ASSERT_TRUE(MoveToID(c, 5));
  EXPECT_EQ(c.GetRecNo(), 3) << "rank among the visible records";

  // Locate finds only what the filter shows, and stays put when it fails.
  const std::vector<TORBVariant> dave{[] {
    TORBVariant v;
    v.SetAsAnsiString("dave");
    return v;
  }()};
  EXPECT_FALSE(c.Locate(u"NAME", dave, false, false));
  EXPECT_EQ(GetInt(c, kID), 5);
  TORBVariant key;
  key.SetAsAnsiString("ERIN");
  EXPECT_FALSE(c.Locate(u"NAME", {key}, false, false));
  ASSERT_TRUE(c.Locate(u"NAME", {key}, true, false)) << "case-insensitive";
  EXPECT_EQ(GetInt(c, kID), 3);
  EXPECT_EQ(c.GetBookmark(c.FCurrentRecordBuffer), c.FCurrentRecordID);
  TORBVariant group(bftSignedInt32), score(bftDouble);
  group.SetAsInteger(2);
  score.SetAsDouble(75);
  ASSERT_TRUE(c.Locate(u"GRP;SCORE", {group, score}, false, false));
  EXPECT_EQ(GetInt(c, kID), 2);

  c.DeactivateFilters();
  EXPECT_EQ(c.GetRecordCount(), 5);
  ASSERT_TRUE(c.Locate(u"NAME", dave, false, false));
  EXPECT_EQ(GetInt(c, kID), 1);
  // A condition search that leaves the cursor where it stands.
  TORBVariant ten(bftSignedInt32);
  ten.SetAsInteger(4);
  EXPECT_TRUE(c.IsAnyRecordMatchCondition(u"ID", doGE, ten));
  ten.SetAsInteger(6);
  EXPECT_FALSE(c.IsAnyRecordMatchCondition(u"ID", doGE, ten));
  EXPECT_EQ(GetInt(c, kID), 1);
  ASSERT_EQ(c.GetRecordBuffer(grmCurrent), grrOK);
  EXPECT_EQ(GetInt(c, kID), 1);
}

TEST_F(NavigationTest, RecordFilterCallbackSeesEachRecordBuffer) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  InsertRows(c, FiveRows());
  int owner = 0;
  c.SetRecordFilter(
      [&c](const uint8_t* record, void* dataset) {
        EXPECT_NE(dataset, nullptr);
        int32_t id = 0;
        std::memcpy(&id, record + c.FFieldDefs.GetDef(kID)->FMemoryOffset, sizeof id);
        return id % 2 == 1;
      },
      &owner);
  EXPECT_EQ(Walk(c), (std::vector<int32_t>{1, 3, 5}));
  c.SetRecordFilter({}, nullptr);
  EXPECT_EQ(Walk(c).size(), 5u);
}

TEST_F(NavigationTest, FindKeySearchesTheActiveIndex) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "BY_ID", {u"ID"});
  CreateStandardTable(indexes);
  TORBLocalCursor& c = Open();
  InsertRows(c, FiveRows());
  c.SetIndexName(u"BY_ID");
  uint8_t* key = c.AllocateKeyRecordBuffer();
  c.InternalInitKeyBuffer(key);
  SetInt(c, kID, 4, key);
  c.FKeyBuffer = key;
  bool found = false;
  const int32_t code = RaisedCode([&] { found = c.FindKey(scEqual); });
  c.FKeyBuffer = nullptr;
  c.FreeKeyRecordBuffer(key);
  if (code == kErrKeySearchUnavailable) GTEST_SKIP() << "key search not available";
  ASSERT_EQ(code, 0);
  ASSERT_TRUE(found);
  EXPECT_EQ(GetInt(c, kID), 4);
}

TEST_F(NavigationTest, CompareRecordsOrderByIndexThenByPosition) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "BY_NAME", {u"NAME"});
  CreateStandardTable(indexes);
  TORBLocalCursor& c = Open();
  EXPECT_EQ(c.CompareRecordsOrder({3, 9}, {4, 0}), -1);
  EXPECT_EQ(c.CompareRecordsOrder({4, 0}, {3, 9}), 1);
  EXPECT_EQ(c.CompareRecordsOrder({4, 2}, {4, 1}), 1);
  EXPECT_EQ(c.CompareRecordsOrder({4, 1}, {4, 1}), 0);
  InsertRows(c, FiveRows());
  ASSERT_TRUE(MoveToID(c, 1));
  const TORBPageItemID dave = c.FCurrentRecordID;
  ASSERT_TRUE(MoveToID(c, 2));
  const TORBPageItemID alice = c.FCurrentRecordID;
  c.SetIndexName(u"BY_NAME");
  EXPECT_EQ(c.CompareRecordsOrder(dave, alice), 1);
  EXPECT_EQ(c.CompareRecordsOrder(alice, dave), -1);
  EXPECT_EQ(c.CompareRecordsOrder({999, 1}, dave), -1) << "first record missing";
  EXPECT_EQ(c.CompareRecordsOrder(dave, {999, 1}), 1) << "second record missing";
}

}  // namespace
}  // namespace orb::test
