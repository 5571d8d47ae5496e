// Record changes that fail half way leave the records and every index as
// they were before the change.

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/engine/data/table_fixture.h"
#include "tests/support/raised.h"

namespace orb::test {
namespace {

enum class Op { kInsert, kUpdate, kDelete };

struct FailureCase {
  const char* name;
  Op op;
  // Arms the failure on the table (indexes BY_VAL, then U_ID unique).
  std::function<void(FakeTableData&)> arm;
  // The code raised, or 0 when the change answers false.
  int32_t code;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class HalfWayFailureTest : public TableFixture, public ::testing::WithParamInterface<std::tuple<FailureCase, bool>> {
 protected:
  struct State {
    // Live records by slot (a freed slot stays empty in the fake store).
    std::vector<std::pair<size_t, std::vector<uint8_t>>> records;
    std::vector<std::pair<int32_t, std::vector<uint8_t>>> by_val, by_id;
    bool operator==(const State&) const = default;
  };
  State Snapshot() const {
    State state{{}, FTable->IndexByName("BY_VAL")->Dump(), FTable->IndexByName("U_ID")->Dump()};
    for (size_t s = 0; s < FTable->Records()->FSlots.size(); ++s)
      if (FTable->Records()->FSlots[s]) state.records.emplace_back(s, *FTable->Records()->FSlots[s]);
    return state;
  }
};

TEST_P(HalfWayFailureTest, LeavesRecordsAndIndexesAsTheyWere) {
  const auto& [c, in_transaction] = GetParam();
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "BY_VAL", {u"VAL"});
  AddIndexDef(indexes, "U_ID", {u"ID"}, true);
  CreateTable(indexes);
  FakeCursor cursor(FTable);
  Insert(cursor, 1, 10);
  Insert(cursor, 2, 20);
  Insert(cursor, 3, 30);
  cursor.FInTransaction = in_transaction;
  MoveTo(cursor, 0);
  cursor.FEdit = cursor.FCurrent;
  const State before = Snapshot();
  const TORBPageItemID position = cursor.GetCurrentRecordID();
  const int cancelled = FTable->FCancelled;
  const int applied = FTable->FApplied;

  uint8_t* record = cursor.GetCurrentRecordBuffer();
  std::function<bool()> change;
  switch (c.op) {
    case Op::kInsert:
      SetInt(*FTable, record, kID, 4);
      SetInt(*FTable, record, kVal, 40);
      change = [&] { return FTable->InsertRecord(&cursor); };
      break;
    case Op::kUpdate:
      // Both keys change; the unique index comes second.
      SetInt(*FTable, record, kID, 2);
      SetInt(*FTable, record, kVal, 50);
      change = [&] { return FTable->UpdateRecord(&cursor); };
      break;
    case Op::kDelete:
      change = [&] { return FTable->DeleteRecord(&cursor); };
      break;
  }
  c.arm(*FTable);
  bool result = true;
  EXPECT_EQ(RaisedCode([&] { result = change(); }), c.code);
  if (c.code == 0) {
    EXPECT_FALSE(result);
  }

  FTable->IndexByName("BY_VAL")->FFailInsert = FTable->IndexByName("BY_VAL")->FFailDelete = false;
  FTable->IndexByName("U_ID")->FFailInsert = FTable->IndexByName("U_ID")->FFailDelete = false;
  EXPECT_TRUE(Snapshot() == before);
  EXPECT_EQ(FTable->InternalGetRecordCount(0), 3);
  EXPECT_EQ(cursor.GetCurrentRecordID(), position);
  EXPECT_EQ(FTable->FApplied, applied);
  // Outside a transaction the session's page changes are dropped as well.
  EXPECT_EQ(FTable->FCancelled, cancelled + (in_transaction ? 0 : 1));
  // The table still works: the change goes through once the fault is gone.
  FTable->Records()->FFailAdd = FTable->Records()->FFailUpdate = FTable->Records()->FThrowOnUpdate = false;
  FTable->Records()->FFailDelete = FTable->Records()->FThrowOnDelete = false;
  if (c.op == Op::kUpdate) SetInt(*FTable, record, kID, 9);
  EXPECT_TRUE(change());
}

const FailureCase kCases[] = {
    {"InsertRefusedByTheStore", Op::kInsert, [](FakeTableData& t) { t.Records()->FFailAdd = true; }, 0},
    {"InsertSecondIndexRaises", Op::kInsert, [](FakeTableData& t) { t.IndexByName("U_ID")->FFailInsert = true; },
     kFakeFailure},
    {"InsertFirstIndexRaises", Op::kInsert, [](FakeTableData& t) { t.IndexByName("BY_VAL")->FFailInsert = true; },
     kFakeFailure},
    {"UpdateUniqueIndexRefusesNewKey", Op::kUpdate, [](FakeTableData&) {}, kFakeDuplicate},
    {"UpdateStoreRaisesAfterOldKeysRemoved", Op::kUpdate,
     [](FakeTableData& t) { t.Records()->FThrowOnUpdate = true; }, kFakeFailure},
    {"UpdateStoreRefuses", Op::kUpdate, [](FakeTableData& t) { t.Records()->FFailUpdate = true; }, 0},
    {"DeleteSecondIndexRaises", Op::kDelete, [](FakeTableData& t) { t.IndexByName("U_ID")->FFailDelete = true; },
     kFakeFailure},
    {"DeleteStoreRaisesAfterIndexes", Op::kDelete, [](FakeTableData& t) { t.Records()->FThrowOnDelete = true; },
     kFakeFailure},
    {"DeleteStoreRefuses", Op::kDelete, [](FakeTableData& t) { t.Records()->FFailDelete = true; }, 0},
};

INSTANTIATE_TEST_SUITE_P(Cases, HalfWayFailureTest, ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "InTransaction" : "");
                         });

}  // namespace
}  // namespace orb::test
