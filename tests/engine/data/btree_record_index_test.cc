// The B-tree record index through the table data: key order rules,
// uniqueness, navigation, searches, record numbers and DISTINCT.

#include "engine/data/btree_record_index.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "engine/base/error_codes.h"
#include "tests/engine/data/record_index_fixture.h"
#include "tests/support/raised.h"

namespace orb::test {
namespace {

using Name = std::optional<std::string>;

class RecordIndexTest : public RecordIndexFixture {};

const std::string kShared = "ABCDEFGHIJKLMNOPQRST";  // 20 characters

TEST_F(RecordIndexTest, LongKeysSharingTheirStoredPrefixOrderAndStayUnique) {
  TORBIndexDefs indexes;
  AddIndex(indexes, "U_NAME", {{u"NAME"}}, true);
  Create(indexes);
  FakeCursor cursor(FTable);
  // 40 characters each, equal over the 20 stored.
  EXPECT_EQ(Add(cursor, 1, 0, kShared + "ZZZZZZZZZZZZZZZZZZZZ"), 0);
  EXPECT_EQ(Add(cursor, 2, 0, kShared + "AAAAAAAAAAAAAAAAAAAZ"), 0);
  EXPECT_EQ(Add(cursor, 3, 0, kShared + "AAAAAAAAAAAAAAAAAAAA"), 0);
  EXPECT_EQ(Add(cursor, 4, 0, kShared), 0);  // the prefix alone is the whole value
  EXPECT_EQ(WalkIndex(cursor, "U_NAME"), (std::vector<int32_t>{4, 3, 2, 1}));
  // Exactly equal keys collide.
  EXPECT_FALSE(Index("U_NAME")->CanInsertRecord(0, Record(9, 0, kShared + "AAAAAAAAAAAAAAAAAAAZ").data()));
  EXPECT_EQ(Add(cursor, 5, 0, kShared + "AAAAAAAAAAAAAAAAAAAZ"), kErrIndexDuplicateKey);
  EXPECT_EQ(FTable->InternalGetRecordCount(0), 4);
  EXPECT_TRUE(Index("U_NAME")->CanInsertRecord(0, Record(9, 0, kShared + "AAAAAAAAAAAAAAAAAAAY").data()));
  Index("U_NAME")->CheckIntegrity(0);
}

TEST_F(RecordIndexTest, PrefixTiesReadEachRecordOnceInASearch) {
  TORBIndexDefs indexes;
  AddIndex(indexes, "BY_NAME", {{u"NAME"}});
  Create(indexes);
  FakeCursor cursor(FTable);
  for (int i = 0; i < 60; ++i) Add(cursor, i, 0, kShared + std::string(1, static_cast<char>('a' + i % 26)) + "x" +
                                                    std::to_string(i));
  ASSERT_GE(Index("BY_NAME")->GetDepth(0), 2);
  for (int32_t slot : {0, 30, 59}) {
    FTable->Records()->FReads.clear();
    const std::vector<uint8_t> record = *FTable->Records()->FSlots[static_cast<size_t>(slot)];
    EXPECT_GE(Index("BY_NAME")->GetRecNoByRecordID(0, {slot, 0}, record.data()), 1);
    ASSERT_FALSE(FTable->Records()->FReads.empty());
    for (const auto& [read_slot, reads] : FTable->Records()->FReads) EXPECT_EQ(reads, 1) << read_slot;
  }
}

struct OrderCase {
  const char* name;
  std::vector<Column> columns;
  bool unique;
  // (id, val, name) inserted in this order; ids of refused ones are
  // missing from `order`.
  std::vector<std::tuple<int32_t, std::optional<int32_t>, Name>> rows;
  std::vector<int32_t> order;
  std::vector<int32_t> refused;
};

class OrderTest : public RecordIndexFixture, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(OrderTest, OrdersAndRefusesAsTheRulesSay) {
  const OrderCase& c = GetParam();
  TORBIndexDefs indexes;
  AddIndex(indexes, "I", c.columns, c.unique);
  Create(indexes);
  FakeCursor cursor(FTable);
  std::vector<int32_t> refused;
  for (const auto& [id, val, name] : c.rows) {
    const int32_t code = Add(cursor, id, val, name);
    if (code == kErrIndexDuplicateKey)
      refused.push_back(id);
    else
      EXPECT_EQ(code, 0);
  }
  EXPECT_EQ(refused, c.refused);
  EXPECT_EQ(WalkIndex(cursor, "I"), c.order);
  std::vector<int32_t> backward(c.order.rbegin(), c.order.rend());
  EXPECT_EQ(WalkIndex(cursor, "I", false), backward);
  Index("I")->CheckIntegrity(0);
}

const OrderCase kOrderCases[] = {
    {"NullsFirstAscending", {{u"VAL"}}, false, {{1, 5, {}}, {2, std::nullopt, {}}, {3, 1, {}}}, {2, 3, 1}, {}},
    {"NullsLastDescending", {{u"VAL", true}}, false, {{1, 5, {}}, {2, std::nullopt, {}}, {3, 1, {}}}, {1, 3, 2}, {}},
    {"UniqueRefusesSecondNull", {{u"VAL"}}, true, {{1, std::nullopt, {}}, {2, std::nullopt, {}}, {3, 1, {}}}, {1, 3},
     {2}},
    {"CaseInsensitiveKeepsCasesTogether",
     {{u"NAME", false, true}},
     false,
     {{1, 0, "abd"}, {2, 0, "ABC"}, {3, 0, "abc"}, {4, 0, "Abe"}},
     {2, 3, 1, 4},
     {}},
    {"UniqueCaseInsensitiveRefusesOtherCase", {{u"NAME", false, true}}, true, {{1, 0, "abc"}, {2, 0, "ABC"}}, {1}, {2}},
    {"CaseSensitiveAdmitsBoth", {{u"NAME"}}, true, {{1, 0, "abc"}, {2, 0, "ABC"}}, {1, 2}, {}},
    {"DescendingSecondColumn",
     {{u"VAL"}, {u"NAME", true}},
     false,
     {{1, 1, "a"}, {2, 2, "b"}, {3, 1, "c"}, {4, 1, std::nullopt}},
     {3, 1, 4, 2},
     {}},
    {"DescendingLongPrefixes",
     {{u"NAME", true}},
     true,
     {{1, 0, kShared + "A1"}, {2, 0, kShared + "B1"}, {3, 0, kShared + "A1"}},
     {2, 1},
     {3}},
};

INSTANTIATE_TEST_SUITE_P(Rules, OrderTest, ::testing::ValuesIn(kOrderCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RecordIndexTest, NavigationFromTheEdgesAndRecordNumbers) {
  TORBIndexDefs indexes;
  AddIndex(indexes, "BY_VAL", {{u"VAL"}});
  Create(indexes);
  FakeCursor cursor(FTable);
  for (int i = 0; i < 100; ++i) Add(cursor, i, (i * 37) % 100);  // vals 0..99 in a scrambled order
  cursor.SetIndex(IndexID("BY_VAL"));
  cursor.First();
  ASSERT_EQ(FTable->GetRecordBuffer(&cursor, grmNext), grrOK);
  EXPECT_EQ(GetInt(*FTable, cursor.GetCurrentRecordBuffer(), kVal), 0);
  TORBBTreeRecordIndex* index = Index("BY_VAL");
  EXPECT_EQ(index->GetRecNoByRecordID(0, cursor.GetCurrentRecordID(), cursor.GetCurrentRecordBuffer()), 1);
  cursor.Last();
  ASSERT_EQ(FTable->GetRecordBuffer(&cursor, grmPrior), grrOK);
  EXPECT_EQ(GetInt(*FTable, cursor.GetCurrentRecordBuffer(), kVal), 99);
  EXPECT_EQ(index->GetRecNoByRecordID(0, cursor.GetCurrentRecordID(), cursor.GetCurrentRecordBuffer()), 100);
  EXPECT_EQ(FTable->GetRecordBuffer(&cursor, grmNext), grrEOF);
  EXPECT_TRUE(cursor.GetLastPosition());
  // Record numbers both ways over the whole index.
  for (int64_t rec_no = 1; rec_no <= 100; ++rec_no) {
    const TORBPageItemID id = index->GetRecordIDByRecNo(0, rec_no);
    const std::vector<uint8_t> record = *FTable->Records()->FSlots[static_cast<size_t>(id.PageNo)];
    EXPECT_EQ(GetInt(*FTable, record.data(), kVal), rec_no - 1);
    EXPECT_EQ(index->GetRecNoByRecordID(0, id, record.data()), rec_no);
  }
  EXPECT_EQ(RaisedCode([&] { index->GetRecordIDByRecNo(0, 101); }), 20075);
  EXPECT_EQ(index->GetRecNoByRecordID(0, {500, 0}, Record(1, 1, {}).data()), -1);
  // Positions and bitmap numbers go back and forth.
  for (int64_t rec_no : {1, 50, 100}) {
    const TORBPageItemID id = index->GetRecordIDByRecNo(0, rec_no);
    auto position = index->CreateIndexPosition();
    ASSERT_TRUE(index->GetIndexPosition(0, id, FTable->Records()->FSlots[static_cast<size_t>(id.PageNo)]->data(),
                                        *position));
    auto back = index->CreateIndexPosition();
    index->GetIndexPositionByBitNo(index->GetBitNoByIndexPosition(*position), *back);
    TORBPageItemID found;
    index->GetRecordIDByIndexPosition(0, *back, found);
    EXPECT_EQ(found, id);
  }
}

TEST_F(RecordIndexTest, EmptyIndexAnswersEdgesAndRecNo) {
  TORBIndexDefs indexes;
  AddIndex(indexes, "BY_VAL", {{u"VAL"}});
  Create(indexes);
  FakeCursor cursor(FTable);
  EXPECT_TRUE(WalkIndex(cursor, "BY_VAL").empty());
  EXPECT_EQ(RaisedCode([&] { Index("BY_VAL")->GetRecordIDByRecNo(0, 1); }), 20074);
}

// Range scans over VAL 0..19 (ID = VAL).
struct RangeCase {
  const char* name;
  TORBSearchCondition start;
  int32_t start_val;
  std::optional<TORBSearchCondition> end;
  int32_t end_val;
  bool forward;
  std::vector<int32_t> ids;
};

class RangeScanTest : public RecordIndexFixture, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(RangeScanTest, VisitsTheRangeInScanDirection) {
  const RangeCase& c = GetParam();
  TORBIndexDefs indexes;
  AddIndex(indexes, "BY_VAL", {{u"VAL"}});
  Create(indexes);
  FakeCursor cursor(FTable);
  for (int i = 19; i >= 0; --i) Add(cursor, i, i);
  TORBBTreeRecordIndex* index = Index("BY_VAL");
  const std::vector<uint8_t> start_key = Record(0, c.start_val, {});
  const std::vector<uint8_t> end_key = Record(0, c.end_val, {});
  TORBScanCondition start{c.start, start_key.data(), static_cast<int32_t>(start_key.size()), 1, -1, false};
  TORBScanCondition end{c.end.value_or(scNone), end_key.data(), static_cast<int32_t>(end_key.size()), 1, -1, false};
  auto info = index->CreateSearchInfo();
  std::vector<int32_t> ids;
  TORBPageItemID id{};
  std::vector<uint8_t> buffer = Record(0, 0, {});
  bool restart = true;
  while (index->FindRecord(0, restart, c.forward, &start, c.end ? &end : nullptr, buffer.data(), id, info.get())) {
    restart = false;
    buffer = *FTable->Records()->FSlots[static_cast<size_t>(id.PageNo)];
    ids.push_back(*GetInt(*FTable, buffer.data(), kID));
    ASSERT_LE(ids.size(), 20u);
  }
  EXPECT_EQ(ids, c.ids);
  // The estimate of a two-sided range is near its size.
  if (c.end && c.forward) {
    const int64_t estimate = index->GetApproxRangeRecordCount(0, 20, &start, &end);
    EXPECT_NEAR(static_cast<double>(estimate), static_cast<double>(c.ids.size()), 2.0);
  }
}

const RangeCase kRangeCases[] = {
    {"InclusiveForward", scGreaterEqual, 5, scLowerEqual, 8, true, {5, 6, 7, 8}},
    {"ExclusiveForward", scGreater, 5, scLower, 8, true, {6, 7}},
    {"InclusiveBackward", scLowerEqual, 8, scGreaterEqual, 5, false, {8, 7, 6, 5}},
    {"ExclusiveBackward", scLower, 8, scGreater, 5, false, {7, 6}},
    {"OpenEndForward", scGreater, 16, std::nullopt, 0, true, {17, 18, 19}},
    {"OpenEndBackward", scLower, 3, std::nullopt, 0, false, {2, 1, 0}},
    {"EqualForward", scEqual, 11, std::nullopt, 0, true, {11}},
    {"EqualMissing", scEqual, 40, std::nullopt, 0, true, {}},
    {"EmptyRange", scGreaterEqual, 9, scLowerEqual, 4, true, {}},
};

INSTANTIATE_TEST_SUITE_P(Ranges, RangeScanTest, ::testing::ValuesIn(kRangeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RecordIndexTest, PartialKeyFindsTheFirstNameStartingWithIt) {
  TORBIndexDefs indexes;
  AddIndex(indexes, "BY_NAME", {{u"NAME"}});
  Create(indexes);
  FakeCursor cursor(FTable);
  const std::vector<std::string> names = {"Snow", "Smyth", "Adams", "Smith", "Jones", "Sm", "S"};
  for (size_t i = 0; i < names.size(); ++i) Add(cursor, static_cast<int32_t>(i), 0, names[i]);
  TORBBTreeRecordIndex* index = Index("BY_NAME");
  const std::vector<uint8_t> key = Record(0, 0, "Sm");
  TORBScanCondition sm{scEqual, key.data(), static_cast<int32_t>(key.size()), 1, -1, true};
  auto info = index->CreateSearchInfo();
  std::vector<std::string> found;
  TORBPageItemID id{};
  std::vector<uint8_t> buffer = Record(0, 0, {});
  for (bool restart = true; index->FindRecord(0, restart, true, &sm, nullptr, buffer.data(), id, info.get());
       restart = false) {
    buffer = *FTable->Records()->FSlots[static_cast<size_t>(id.PageNo)];
    found.push_back(*GetName(buffer.data()));
  }
  EXPECT_EQ(found, (std::vector<std::string>{"Sm", "Smith", "Smyth"}));
  // The compare state is whole again afterwards: "Sm" alone is one key.
  EXPECT_EQ(index->KeyRef().CompareLengths(), std::vector<int32_t>{-1});
  EXPECT_EQ(index->CompareRecordBuffersByIndex(Record(0, 0, "Sm").data(), Record(0, 0, "Smith").data(), 1), -1);
  // A second restart of a started scan is refused, a missing state too.
  EXPECT_EQ(RaisedCode([&] { index->FindRecord(0, true, true, &sm, nullptr, buffer.data(), id, info.get()); }),
            20078);
  EXPECT_EQ(RaisedCode([&] { index->FindRecord(0, true, true, &sm, nullptr, buffer.data(), id, nullptr); }), 20077);
}

TEST_F(RecordIndexTest, DistinctKeepsTheFirstRecordOfEachGroup) {
  TORBIndexDefs indexes;
  AddIndex(indexes, "BY_VAL_NAME", {{u"VAL"}, {u"NAME"}});
  Create(indexes);
  FakeCursor cursor(FTable);
  // id: val, name
  const std::vector<std::tuple<int32_t, int32_t, std::string>> rows = {
      {0, 2, "b"}, {1, 1, "a"}, {2, 2, "a"}, {3, 1, "a"}, {4, 3, "c"}, {5, 2, "a"}, {6, 1, "z"}};
  for (const auto& [id, val, name] : rows) Add(cursor, id, val, name);
  struct Case {
    int32_t fields;
    std::vector<int32_t> hidden_from;  // visible before
    std::vector<int32_t> visible;
  };
  const std::vector<Case> cases = {
      {1, {}, {1, 2, 4}},        // VAL: first of 1 is id 1, of 2 id 2 (name a before b), of 3 id 4
      {2, {}, {1, 6, 2, 0, 4}},  // VAL, NAME
      {1, {1, 2}, {3, 5, 4}},    // hidden records do not count as the first
  };
  for (const Case& c : cases) {
    TORBRecordBitmap bitmap(FTable);
    bitmap.FActive = true;
    bitmap.SetSize(static_cast<int64_t>(rows.size()));
    bitmap.SetAllBits();
    for (int32_t id : c.hidden_from) bitmap.HideRecord({id, 0});
    Index("BY_VAL_NAME")->ApplyDistinctToRecordBitmap(0, &bitmap, c.fields);
    std::vector<int32_t> visible;
    for (int32_t id : WalkIndex(cursor, "BY_VAL_NAME"))
      if (bitmap.IsRecordVisible({id, 0})) visible.push_back(id);
    EXPECT_EQ(visible, c.visible) << c.fields;
  }
  EXPECT_EQ(RaisedCode([&] { Index("BY_VAL_NAME")->ApplyDistinctToRecordBitmap(0, nullptr, 1); }), 20076);
}

TEST_F(RecordIndexTest, UpdateKeepingTheKeyTouchesNoIndexPage) {
  TORBIndexDefs indexes;
  AddIndex(indexes, "BY_ID", {{u"ID"}});
  AddIndex(indexes, "BY_NAME", {{u"NAME", false, true}});
  Create(indexes);
  FakeCursor cursor(FTable);
  for (int i = 0; i < 50; ++i) Add(cursor, i, i, "n" + std::to_string(i));
  FPages.ApplyChanges(0);
  ASSERT_FALSE(FPages.HasPendingChanges(0));
  MoveTo(cursor, 7);
  cursor.FEdit = cursor.FCurrent;
  SetInt(*FTable, cursor.GetCurrentRecordBuffer(), kVal, 1000);
  SetName(cursor.GetCurrentRecordBuffer(), "N7");  // equal case-insensitively
  ASSERT_TRUE(FTable->UpdateRecord(&cursor));
  EXPECT_FALSE(FPages.HasPendingChanges(0));
  cursor.FEdit = cursor.FCurrent;
  SetInt(*FTable, cursor.GetCurrentRecordBuffer(), kID, 1000);
  ASSERT_TRUE(FTable->UpdateRecord(&cursor));
  EXPECT_TRUE(FPages.HasPendingChanges(0));
  EXPECT_EQ(WalkIndex(cursor, "BY_ID").back(), 1000);
}

TEST_F(RecordIndexTest, UpdateRefusedByASecondUniqueIndexLeavesBothIndexesAsTheyWere) {
  TORBIndexDefs indexes;
  AddIndex(indexes, "BY_VAL", {{u"VAL"}});
  AddIndex(indexes, "U_ID", {{u"ID"}}, true);
  Create(indexes);
  FakeCursor cursor(FTable);
  for (int i = 0; i < 40; ++i) Add(cursor, i, 100 - i);
  const auto by_val = WalkIndex(cursor, "BY_VAL");
  const auto by_id = WalkIndex(cursor, "U_ID");
  // Update: VAL changes (first index done), then the new ID collides.
  MoveTo(cursor, 3);
  cursor.FEdit = cursor.FCurrent;
  SetInt(*FTable, cursor.GetCurrentRecordBuffer(), kVal, 1);
  SetInt(*FTable, cursor.GetCurrentRecordBuffer(), kID, 20);
  EXPECT_EQ(RaisedCode([&] { FTable->UpdateRecord(&cursor); }), kErrIndexDuplicateKey);
  // Insert: stored, first index done, the unique one refuses.
  EXPECT_EQ(Add(cursor, 5, 7), kErrIndexDuplicateKey);
  EXPECT_EQ(FTable->InternalGetRecordCount(0), 40);
  EXPECT_EQ(WalkIndex(cursor, "BY_VAL"), by_val);
  EXPECT_EQ(WalkIndex(cursor, "U_ID"), by_id);
  EXPECT_EQ(StoredVal(3), 97);
  Index("BY_VAL")->CheckIntegrity(0);
  Index("U_ID")->CheckIntegrity(0);
  // Every record is found through both indexes by its stored key.
  for (const char* name : {"BY_VAL", "U_ID"})
    for (int32_t slot = 0; slot < 40; ++slot)
      EXPECT_GE(Index(name)->GetRecNoByRecordID(0, {slot, 0}, FTable->Records()->FSlots[slot]->data()), 1);
}

TEST_F(RecordIndexTest, BuildingOverExistingRecordsLoadsTheSortedKeys) {
  Create(TORBIndexDefs());
  FakeCursor cursor(FTable);
  for (int i = 0; i < 300; ++i)
    Add(cursor, i, (i * 7919) % 300, i % 5 == 0 ? Name() : Name(kShared + std::to_string((i * 31) % 97)));
  TORBIndexDefs defs;
  TORBIndexDef* by_name = AddIndex(defs, "BY_NAME", {{u"NAME", true}, {u"VAL"}});
  FTable->AddIndex(*by_name, &cursor);
  Index("BY_NAME")->CheckIntegrity(0);
  const auto built = WalkIndex(cursor, "BY_NAME");
  // The same records inserted one by one give the same order.
  TORBIndexDefs empty_defs;
  TORBIndexDef* again = AddIndex(empty_defs, "AGAIN", {{u"NAME", true}, {u"VAL"}});
  const int32_t again_id = FTable->IndexManager()->CreateIndex(nullptr, *again);
  FPages.ApplyChanges(TORBPageManager::kSystemSession);
  TORBIndex* index = FTable->IndexManager()->OpenIndex(again_id);
  for (int32_t slot = 0; slot < 300; ++slot) {
    MoveTo(cursor, slot);
    index->InsertRecord(&cursor);
  }
  EXPECT_EQ(WalkIndex(cursor, "AGAIN"), built);
  EXPECT_EQ(built.size(), 300u);

  // A unique index over equal keys is refused and leaves nothing behind.
  TORBIndexDef* unique = AddIndex(defs, "U_NAME", {{u"NAME"}}, true);
  EXPECT_EQ(RaisedCode([&] { FTable->AddIndex(*unique, &cursor); }), kErrIndexBuildDuplicateKey);
  EXPECT_EQ(FTable->IndexManager()->IndexDefs().GetIndexDefByName("U_NAME"), nullptr);
}

// Maintenance compares whole keys whatever compare state a caller left,
// and gives that state back.
TEST_F(RecordIndexTest, InsertsCompareWholeKeysAndKeepTheCallersCompareState) {
  TORBIndexDefs indexes;
  AddIndex(indexes, "U_NAME_VAL", {{u"NAME"}, {u"VAL"}}, true);
  Create(indexes);
  FakeCursor cursor(FTable);
  ASSERT_EQ(Add(cursor, 1, 1, "Sm"), 0);
  TORBRecordKeyRef& key_ref = Index("U_NAME_VAL")->KeyRef();
  const std::vector<uint8_t> partial = Record(0, 0, "Sm");
  key_ref.SetPartialCompare(partial.data(), true);
  key_ref.FCompareFieldCount = 1;
  const std::vector<int32_t> lengths = key_ref.CompareLengths();
  ASSERT_EQ(lengths[0], 2);
  // Under the partial state both would equal ("Sm", 1).
  EXPECT_EQ(Add(cursor, 2, 1, "Smith"), 0);
  EXPECT_EQ(Add(cursor, 3, 2, "Sm"), 0);
  EXPECT_EQ(Add(cursor, 4, 1, "Sm"), kErrIndexDuplicateKey);
  EXPECT_EQ(key_ref.CompareLengths(), lengths);
  EXPECT_EQ(key_ref.FCompareFieldCount, 1);
  key_ref.SetPartialCompare(nullptr, false);
  key_ref.FCompareFieldCount = key_ref.GetPartCount();
  EXPECT_EQ(WalkIndex(cursor, "U_NAME_VAL"), (std::vector<int32_t>{1, 3, 2}));
  Index("U_NAME_VAL")->CheckIntegrity(0);
}

// Rows inserted in key order go to the leaf the previous one went to; what
// that shortcut decides must be what a descent decides.
TEST_F(RecordIndexTest, KeysInOrderGoStraightToTheRememberedLeaf) {
  TORBIndexDefs indexes;
  AddIndex(indexes, "U_ID", {{u"ID"}}, true);
  AddIndex(indexes, "BY_VAL", {{u"VAL"}});
  Create(indexes);
  FakeCursor cursor(FTable);
  std::vector<int32_t> ids;
  for (int32_t id = 0; id < 300; ++id) {
    ASSERT_EQ(Add(cursor, id, id / 2), 0);
    ids.push_back(id);
  }
  ASSERT_GE(Index("U_ID")->GetDepth(0), 2);
  // All but the inserts into a root leaf and those that split a leaf.
  EXPECT_GE(Index("U_ID")->LeafHintInserts(), 200);
  EXPECT_GE(Index("BY_VAL")->LeafHintInserts(), 200);
  // Keys held in the remembered leaf and elsewhere are refused alike.
  for (int32_t held : {299, 298, 0}) EXPECT_EQ(Add(cursor, held, 7), kErrIndexDuplicateKey) << held;
  EXPECT_EQ(FTable->InternalGetRecordCount(0), 300);
  // Keys before the remembered leaf take a descent.
  const int64_t hinted = Index("U_ID")->LeafHintInserts();
  EXPECT_EQ(Add(cursor, -5, 7), 0);
  EXPECT_EQ(Index("U_ID")->LeafHintInserts(), hinted);
  ids.insert(ids.begin(), -5);
  EXPECT_EQ(WalkIndex(cursor, "U_ID"), ids);
  for (const char* name : {"U_ID", "BY_VAL"}) Index(name)->CheckIntegrity(0);
}

TEST_F(RecordIndexTest, AfterARollbackTheRememberedLeafIsNotUsed) {
  TORBIndexDefs indexes;
  AddIndex(indexes, "U_ID", {{u"ID"}}, true);
  Create(indexes);
  FakeCursor cursor(FTable);
  for (int32_t id = 0; id < 100; ++id) ASSERT_EQ(Add(cursor, id, 0), 0);
  FPages.ApplyChanges(0);
  // New leaves, remembered, then given back.
  for (int32_t id = 100; id < 300; ++id) ASSERT_EQ(Add(cursor, id, 0), 0);
  FPages.CancelChanges(0);
  const int64_t hinted = Index("U_ID")->LeafHintInserts();
  // Ids the cancelled leaves held are new again.
  for (int32_t id = 100; id < 300; ++id) ASSERT_EQ(Add(cursor, id, 0), 0) << id;
  EXPECT_GT(Index("U_ID")->LeafHintInserts(), hinted);
  Index("U_ID")->CheckIntegrity(0);
  std::vector<int32_t> ids(300);
  for (int32_t id = 0; id < 300; ++id) ids[static_cast<size_t>(id)] = id;
  EXPECT_EQ(WalkIndex(cursor, "U_ID"), ids);
}

TEST_F(RecordIndexTest, AnIndexWhoseEntriesCannotFitThreeToAPageIsRefused) {
  TORBFieldDefs fields;
  AddIntField(fields, u"ID");
  TORBFieldDef* big = fields.AddCreated();
  big->SetName(std::u16string_view(u"BIG"));
  big->SetFieldDefDataType(aftString, 200);
  CreateTableWith(fields, TORBIndexDefs(), TORBConstraintDefs());
  FakeCursor cursor(FTable);
  TORBIndexDefs defs;
  // Whole 201-byte keys: 208-byte entries, three need more than 472 bytes.
  TORBIndexDef* whole = AddIndex(defs, "WHOLE", {{u"BIG", false, false, 0}});
  const size_t pages = FPages.StoredCount();
  EXPECT_EQ(RaisedCode([&] { FTable->AddIndex(*whole, &cursor); }), kErrBTreeEntryTooLarge);
  EXPECT_EQ(FPages.StoredCount(), pages);
  // Cut to 20 bytes they fit.
  FTable->AddIndex(*AddIndex(defs, "CUT", {{u"BIG"}}), &cursor);
}

}  // namespace
}  // namespace orb::test
