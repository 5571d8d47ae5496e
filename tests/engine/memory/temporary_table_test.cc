#include "engine/memory/temporary_table_data.h"

#include <gtest/gtest.h>

#include "engine/memory/table_index_factory.h"
#include "engine/memory/temporary_database_data.h"
#include "tests/engine/memory/memory_fixture.h"
#include "tests/engine/memory/test_index.h"
#include "tests/support/raised.h"

namespace orb::test {
namespace {

constexpr int32_t kID = 0;
constexpr int32_t kBlob = 1;

class TemporaryTableTest : public ::testing::Test {
 protected:
  TemporaryTableTest() {
    AddField(FFields, u"ID", aftInteger);
    AddField(FFields, u"B", aftBlob);
    SetTableIndexFactory([](const TORBIndexDef& def, TORBBaseIndexManager* manager) -> std::unique_ptr<TORBIndex> {
      return std::make_unique<TestIndex>(def, manager);
    });
  }
  ~TemporaryTableTest() override {
    FCursor.reset();
    FDatabase.reset();
    SetTableIndexFactory({});
  }
  TORBTemporaryTableData* Create(int64_t max_cached_records = -1) {
    FCursor = std::make_unique<TestCursor>(nullptr, u"Q1");
    auto* table = static_cast<TORBTemporaryTableData*>(FDatabase->FindOrCreateTableData(FCursor.get()));
    table->FMaxCachedRecordCount = max_cached_records;
    FCursor->FTable = table;
    table->CreateTable(FCursor.get(), FFields, TORBIndexDefs(), TORBConstraintDefs());
    FCursor->Open();
    return table;
  }
  TORBPageItemID Insert(TORBTemporaryTableData* table, int32_t id, const std::string& blob = "") {
    std::fill(FCursor->FCurrent.begin(), FCursor->FCurrent.end(), uint8_t{0});
    SetInt(*table, FCursor->GetCurrentRecordBuffer(), kID, id);
    SetNullFlag(true, kBlob, FCursor->GetCurrentRecordBuffer());
    if (!blob.empty()) WriteBlob(*table, *FCursor, kBlob, blob);
    EXPECT_TRUE(table->InsertRecord(FCursor.get()));
    return FCursor->GetCurrentRecordID();
  }
  int32_t ReadID(TORBTemporaryTableData* table, const TORBPageItemID& id) {
    EXPECT_TRUE(FCursor->MoveTo(id));
    return GetInt(*table, FCursor->GetCurrentRecordBuffer(), kID).value_or(-1);
  }

  TORBFieldDefs FFields;
  std::unique_ptr<TORBTemporaryDatabaseData> FDatabase = CreateTemporaryDatabaseData();
  std::unique_ptr<TestCursor> FCursor;
};

TEST_F(TemporaryTableTest, SpillBoundaryThroughTheTable) {
  constexpr int64_t kBudget = 4;
  TORBTemporaryTableData* table = Create(kBudget);
  EXPECT_EQ(FDatabase->DatabaseName(), u"TEMP");
  for (int32_t i = 0; i < kBudget; ++i) EXPECT_EQ(ReadID(table, Insert(table, i)), i);
  EXPECT_FALSE(table->TemporaryRecordManager()->HasSpillFile());
  const TORBPageItemID n = Insert(table, 100);
  EXPECT_EQ(ReadID(table, n), 100);
  const TORBPageItemID n1 = Insert(table, 101);
  EXPECT_EQ(ReadID(table, n1), 101);
  EXPECT_TRUE(table->TemporaryRecordManager()->HasSpillFile());
  EXPECT_EQ(TORBTemporaryRecordManager::IndexOf(n), kBudget);
  EXPECT_EQ(WalkInts(*table, *FCursor, kID), (std::vector<int32_t>{0, 1, 2, 3, 100, 101}));
  EXPECT_EQ(WalkInts(*table, *FCursor, kID, false), (std::vector<int32_t>{101, 100, 3, 2, 1, 0}));
}

TEST_F(TemporaryTableTest, UpdateAndDeleteAreRefused) {
  TORBTemporaryTableData* table = Create();
  const TORBPageItemID id = Insert(table, 5);
  ASSERT_TRUE(FCursor->MoveTo(id));
  SetInt(*table, FCursor->GetCurrentRecordBuffer(), kID, 6);
  EXPECT_FALSE(table->UpdateRecord(FCursor.get()));
  EXPECT_EQ(ReadID(table, id), 5);
  EXPECT_FALSE(table->DeleteRecord(FCursor.get()));
  EXPECT_EQ(table->InternalGetRecordCount(0), 1);
  EXPECT_EQ(ReadID(table, id), 5);
}

TEST_F(TemporaryTableTest, RecordNumbers) {
  TORBTemporaryTableData* table = Create();
  for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(TORBTemporaryRecordManager::IndexOf(Insert(table, i)), i);
  EXPECT_EQ(table->InternalGetRecNo(0, TORBTemporaryRecordManager::IDOf(2)), 3);
  EXPECT_EQ(table->InternalSetRecNo(0, 0), TORBTemporaryRecordManager::IDOf(0));
  EXPECT_EQ(table->InternalSetRecNo(0, 1), TORBTemporaryRecordManager::IDOf(0));
  EXPECT_EQ(table->InternalSetRecNo(0, 3), TORBTemporaryRecordManager::IDOf(2));
  EXPECT_EQ(table->InternalGetRecNo(0, TORBTemporaryRecordManager::IDOf(3)), -1);
  table->SetRecNo(FCursor.get(), 0);
  EXPECT_EQ(table->GetRecNo(FCursor.get()), 1);
}

// Writing a BLOB twice appends two entries; the record names the second.
TEST_F(TemporaryTableTest, BlobWrittenTwice) {
  TORBTemporaryTableData* table = Create();
  std::fill(FCursor->FCurrent.begin(), FCursor->FCurrent.end(), uint8_t{0});
  SetInt(*table, FCursor->GetCurrentRecordBuffer(), kID, 1);
  WriteBlob(*table, *FCursor, kBlob, "first value");
  const int64_t after_first = table->BLOBFile()->GetSize();
  WriteBlob(*table, *FCursor, kBlob, "second");
  EXPECT_GT(table->BLOBFile()->GetSize(), after_first);
  ASSERT_TRUE(table->InsertRecord(FCursor.get()));
  const TORBPageItemID id = FCursor->GetCurrentRecordID();
  ASSERT_TRUE(FCursor->MoveTo(id));
  EXPECT_EQ(ReadBlob(*table, *FCursor, kBlob), "second");
  // Null and direct copies.
  const std::vector<uint8_t> direct = table->GetDirectBlobData(0, kBlob, FCursor->GetCurrentRecordBuffer());
  ASSERT_FALSE(direct.empty());
  const TORBPageItemID copy = Insert(table, 2);
  ASSERT_TRUE(FCursor->MoveTo(copy));
  EXPECT_TRUE(table->GetDirectBlobData(0, kBlob, FCursor->GetCurrentRecordBuffer()).empty());
  table->SetDirectBlobData(0, kBlob, FCursor->GetCurrentRecordBuffer(), direct);
  EXPECT_EQ(ReadBlob(*table, *FCursor, kBlob), "second");
  std::vector<uint8_t> damaged = direct;
  damaged.pop_back();
  EXPECT_EQ(RaisedCode([&] { table->SetDirectBlobData(0, kBlob, FCursor->GetCurrentRecordBuffer(), damaged); }),
            kErrDirectBlobDataSize);
}

TEST_F(TemporaryTableTest, EmptyingKeepsTheTableUsableForBlobs) {
  TORBTemporaryTableData* table = Create(2);
  for (int32_t i = 0; i < 5; ++i) Insert(table, i, "v" + std::to_string(i));
  table->EmptyTable(FCursor.get());
  EXPECT_EQ(table->InternalGetRecordCount(0), 0);
  EXPECT_FALSE(table->TemporaryRecordManager()->HasSpillFile());
  ASSERT_NE(table->BLOBFile(), nullptr);
  EXPECT_EQ(table->BLOBFile()->GetSize(), 0);
  const TORBPageItemID id = Insert(table, 9, "after empty");
  ASSERT_TRUE(FCursor->MoveTo(id));
  EXPECT_EQ(ReadBlob(*table, *FCursor, kBlob), "after empty");
}

TEST_F(TemporaryTableTest, CreateWithoutFields) {
  TestCursor cursor(nullptr, u"Q2");
  TORBTableData* table = FDatabase->FindOrCreateTableData(&cursor);
  EXPECT_EQ(RaisedCode([&] { table->CreateTable(&cursor, TORBFieldDefs(), TORBIndexDefs(), TORBConstraintDefs()); }),
            10132);
}

TEST_F(TemporaryTableTest, IndexOverSpilledRecords) {
  TORBTemporaryTableData* table = Create(3);
  for (int32_t i = 0; i < 20; ++i) Insert(table, (i * 7) % 20);
  TORBIndexDefs defs;
  TORBIndexDef* def = defs.AddCreated();
  def->SetName(std::string_view("BY_ID"));
  def->SetColumnCount(1);
  def->GetIndexColumn(0)->SetFieldName(u"ID");
  const int32_t index_id = table->AddIndex(*def, FCursor.get());
  FCursor->SetIndex(index_id);
  std::vector<int32_t> expected(20);
  for (int32_t i = 0; i < 20; ++i) expected[static_cast<size_t>(i)] = i;
  EXPECT_EQ(WalkInts(*table, *FCursor, kID), expected);
}

}  // namespace
}  // namespace orb::test
