#include "engine/data/constraint_manager.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/engine/data/table_fixture.h"
#include "tests/support/raised.h"

namespace orb::test {
namespace {

// Through the fake indexes and through the B-tree record indexes.
class ConstraintTest : public TableFixture, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override { FRecordIndexes = GetParam(); }

  // The code CheckConstraints raises for an insert of (id, val); 0 when it
  // passes. It also answers false instead of raising.
  int32_t InsertCheck(FakeCursor& cursor, std::optional<int32_t> id, std::optional<int32_t> val) {
    uint8_t* record = cursor.GetCurrentRecordBuffer();
    SetInt(*FTable, record, kID, id);
    SetInt(*FTable, record, kVal, val);
    const int32_t code =
        RaisedCode([&] { FTable->CheckConstraints(0, record, nullptr, true, {}, true, true); });
    EXPECT_EQ(FTable->CheckConstraints(0, record, nullptr, true, {}, false, true), code == 0);
    return code;
  }
};

TEST_P(ConstraintTest, CheckWithMinimumAndMaximumAcceptsNullAndTheLimits) {
  TORBConstraintDefs constraints;
  TORBConstraintDefCheck* check = constraints.AddCheck();
  check->SetNames(u"VAL", u"T", u"");
  check->FMinValue.SetAsInteger(10);
  check->FMaxValue.SetAsInteger(20);
  CreateTable(TORBIndexDefs(), constraints);
  FakeCursor cursor(FTable);
  struct Case {
    std::optional<int32_t> val;
    int32_t code;
  };
  for (const Case& c : std::vector<Case>{{std::nullopt, 0}, {10, 0}, {15, 0}, {20, 0}, {9, 30029}, {21, 30030}})
    EXPECT_EQ(InsertCheck(cursor, 1, c.val), c.code) << c.val.value_or(-1);
  SetInt(*FTable, cursor.GetCurrentRecordBuffer(), kVal, 21);
  EXPECT_EQ(RaisedMessage([&] {
              FTable->CheckConstraints(0, cursor.GetCurrentRecordBuffer(), nullptr, true, {}, true, true);
            }),
            "Constraint '$C_Check$T$VAL' violated. Value in field 'VAL' cannot be greater than '20' - Native "
            "error: 30030");
}

TEST_P(ConstraintTest, PrimaryKeyRefusesOnlyAnAllNullKeyThenDuplicates) {
  TORBIndexDefs indexes;
  TORBIndexDef* pk = AddIndexDef(indexes, "PK_IDX", {u"ID", u"VAL"}, true);
  pk->FPrimary = true;
  CreateTable();
  FakeCursor cursor(FTable);
  FTable->AddIndex(*pk, &cursor);  // implies the primary-key constraint
  ASSERT_EQ(FTable->ConstraintManager()->ConstraintDefs().GetCount(), 1);
  const std::string name = FTable->ConstraintManager()->ConstraintDefs().GetDef(0)->GetName();

  EXPECT_EQ(InsertCheck(cursor, 1, std::nullopt), 0);  // partly null passes the null check
  Insert(cursor, 1, std::nullopt);
  EXPECT_EQ(InsertCheck(cursor, 1, std::nullopt), 30319);  // then the duplicate is found
  EXPECT_EQ(InsertCheck(cursor, std::nullopt, 5), 0);
  EXPECT_EQ(InsertCheck(cursor, std::nullopt, std::nullopt), 30330);
  EXPECT_EQ(RaisedMessage([&] {
              FTable->CheckConstraints(0, cursor.GetCurrentRecordBuffer(), nullptr, true, {}, true, true);
            }),
            "Constraint '" + name + "' violated. Value in field 'ID,VAL' cannot be null - Native error: 30330");
  // Without the unique checks neither applies.
  EXPECT_TRUE(FTable->CheckConstraints(0, cursor.GetCurrentRecordBuffer(), nullptr, true, {}, false, false));
  // Deleting the index removes its constraint.
  FTable->DeleteIndex(IndexID("PK_IDX"), &cursor);
  EXPECT_EQ(FTable->ConstraintManager()->ConstraintDefs().GetCount(), 0);
}

TEST_P(ConstraintTest, AnIndexWhoseConstraintCannotBeAddedIsDroppedAgain) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "U_VAL", {u"VAL"}, true);
  CreateTable();
  FakeCursor cursor(FTable);
  Insert(cursor, 1, 10);
  FDatabase.FFailAtObjectID = FDatabase.FLastObjectID + 2;  // the index gets its ID, the constraint none
  EXPECT_EQ(RaisedCode([&] { FTable->AddIndex(*indexes.GetIndexDef(0), &cursor); }), kFakeFailure);
  EXPECT_EQ(FTable->IndexManager()->IndexDefs().GetCount(), 0);
  EXPECT_EQ(FTable->ConstraintManager()->ConstraintDefs().GetCount(), 0);
  FDatabase.FFailAtObjectID = 0;
  FTable->AddIndex(*indexes.GetIndexDef(0), &cursor);
  EXPECT_EQ(FTable->ConstraintManager()->ConstraintDefs().GetCount(), 1);
}

TEST_P(ConstraintTest, UniqueUpdateKeepingItsOwnKeyPasses) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "U_VAL", {u"VAL"}, true);
  CreateTable();
  FakeCursor cursor(FTable);
  FTable->AddIndex(*indexes.GetIndexDef(0), &cursor);
  Insert(cursor, 1, 10);
  Insert(cursor, 2, 20);
  MoveTo(cursor, 0);
  cursor.FEdit = cursor.FCurrent;
  uint8_t* record = cursor.GetCurrentRecordBuffer();
  SetInt(*FTable, record, kID, 9);
  EXPECT_TRUE(FTable->CheckConstraints(0, record, cursor.FEdit.data(), false, {0, 0}, false, true));
  SetInt(*FTable, record, kVal, 20);
  EXPECT_EQ(RaisedCode([&] { FTable->CheckConstraints(0, record, cursor.FEdit.data(), false, {0, 0}, true, true); }),
            30320);
}

TEST_P(ConstraintTest, UnnamedNotNullConstraintsGetDistinctNames) {
  TORBConstraintDefs constraints;
  constraints.AddNotNull()->SetNames(u"ID", u"T", u"");
  constraints.AddNotNull()->SetNames(u"ID", u"T", u"");
  CreateTable(TORBIndexDefs(), constraints);
  const TORBConstraintDefs& defs = FTable->ConstraintManager()->ConstraintDefs();
  const std::string first = defs.GetDef(0)->GetName();
  const std::string second = defs.GetDef(1)->GetName();
  EXPECT_EQ(first, "$C_NotNull$T$ID");
  ASSERT_GT(second.size(), first.size());
  EXPECT_EQ(second.substr(0, first.size()), first);
  const std::string number = second.substr(first.size());
  EXPECT_EQ(number.find_first_not_of("0123456789"), std::string::npos);
  EXPECT_LE(std::stoi(number), 65534);

  FakeCursor cursor(FTable);
  EXPECT_EQ(InsertCheck(cursor, std::nullopt, 1), 30026);
  EXPECT_EQ(InsertCheck(cursor, 1, std::nullopt), 0);
}

TEST_P(ConstraintTest, LinkingAndCreationRefuseWhatTheyCannotResolve) {
  {
    TORBConstraintDefs constraints;
    constraints.AddNotNull()->SetNames(u"NOPE", u"T", u"");
    EXPECT_EQ(RaisedCode([&] { CreateTable(TORBIndexDefs(), constraints); }), 30027);
  }
  {
    TORBConstraintDefs constraints;
    TORBConstraintDefUnique* unique = constraints.AddUnique();
    unique->SetIndexName("MISSING");
    EXPECT_EQ(RaisedCode([&] { CreateTable(TORBIndexDefs(), constraints); }), 30326);
  }
  {
    TORBIndexDefs indexes;
    AddIndexDef(indexes, "PK_IDX", {u"ID"}, true)->FPrimary = true;
    TORBConstraintDefs constraints;
    TORBConstraintDefPrimary* pk = constraints.AddPK();
    pk->SetIndexName("PK_IDX");
    pk->AddColumn("NOPE");
    EXPECT_EQ(RaisedCode([&] { CreateTable(indexes, constraints); }), 30331);
  }
  // A check whose field disappeared is reported by its object ID.
  TORBConstraintDefs constraints;
  constraints.AddCheck()->SetNames(u"VAL", u"T", u"");
  CreateTable(TORBIndexDefs(), constraints);
  static_cast<TORBConstraintDefCheck*>(FTable->ConstraintManager()->ConstraintDefs().GetDef(0))->FColumnObjectID = -7;
  FakeCursor cursor(FTable);
  SetInt(*FTable, cursor.GetCurrentRecordBuffer(), kVal, 1);
  // Even when violations only answer false: this is no violation.
  EXPECT_EQ(RaisedCode([&] {
              FTable->CheckConstraints(0, cursor.GetCurrentRecordBuffer(), nullptr, true, {}, false, true);
            }),
            30028);
}

INSTANTIATE_TEST_SUITE_P(Indexes, ConstraintTest, ::testing::Bool(),
                         [](const auto& info) { return std::string(info.param ? "RecordIndex" : "FakeIndex"); });

}  // namespace
}  // namespace orb::test
