#include "engine/memory/memory_table_data.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "engine/base/index_defs.h"
#include "engine/data/btree_record_index.h"
#include "engine/data/index_manager.h"
#include "engine/memory/memory_database_data.h"
#include "engine/memory/table_index_factory.h"
#include "tests/engine/memory/memory_fixture.h"
#include "tests/engine/memory/test_index.h"
#include "tests/support/raised.h"

namespace orb::test {
namespace {

constexpr int32_t kID = 0;
constexpr int32_t kVal = 1;
constexpr int32_t kBlob = 2;

TORBIndexDef* AddIndexDef(TORBIndexDefs& defs, const std::string& name, const std::vector<std::u16string>& columns,
                          bool unique = false) {
  TORBIndexDef* d = defs.AddCreated();
  d->SetName(std::string_view(name));
  d->SetColumnCount(static_cast<int32_t>(columns.size()));
  for (size_t i = 0; i < columns.size(); ++i) d->GetIndexColumn(static_cast<int32_t>(i))->SetFieldName(columns[i]);
  d->FUnique = unique;
  return d;
}

class MemoryTableTest : public ::testing::Test {
 protected:
  MemoryTableTest() {
    SetTableIndexFactory([](const TORBIndexDef& def, TORBBaseIndexManager* manager) -> std::unique_ptr<TORBIndex> {
      return std::make_unique<TestIndex>(def, manager);
    });
  }
  ~MemoryTableTest() override {
    FCursors.clear();
    FDatabase.reset();
    SetTableIndexFactory({});
  }

  const TORBFieldDefs& Fields() {
    if (FFields.GetCount() == 0) {
      AddField(FFields, u"ID", aftInteger);
      AddField(FFields, u"VAL", aftInteger);
      AddField(FFields, u"B", aftBlob);
    }
    return FFields;
  }
  // Creates table `name` and an open cursor on it.
  TORBMemoryTableData* Create(const std::u16string& name, const TORBIndexDefs& indexes = TORBIndexDefs(),
                              const TORBConstraintDefs& constraints = TORBConstraintDefs()) {
    FCursors.push_back(std::make_unique<TestCursor>(nullptr, name));
    TestCursor& cursor = *FCursors.back();
    auto* table = static_cast<TORBMemoryTableData*>(FDatabase->FindOrCreateTableData(&cursor));
    cursor.FTable = table;
    table->CreateTable(&cursor, Fields(), indexes, constraints);
    cursor.Open();
    return table;
  }
  TestCursor& Cursor(size_t n = 0) { return *FCursors.at(n); }
  TORBPageItemID Insert(TORBTableData* table, TestCursor& cursor, int32_t id, int32_t val,
                        const std::string& blob = "") {
    std::fill(cursor.FCurrent.begin(), cursor.FCurrent.end(), uint8_t{0});
    SetInt(*table, cursor.GetCurrentRecordBuffer(), kID, id);
    SetInt(*table, cursor.GetCurrentRecordBuffer(), kVal, val);
    SetNullFlag(true, kBlob, cursor.GetCurrentRecordBuffer());
    if (!blob.empty()) WriteBlob(*table, cursor, kBlob, blob);
    EXPECT_TRUE(table->InsertRecord(&cursor));
    return cursor.GetCurrentRecordID();
  }

  TORBFieldDefs FFields;
  std::unique_ptr<TORBMemoryDatabaseData> FDatabase = CreateMemoryDatabaseData();
  std::vector<std::unique_ptr<TestCursor>> FCursors;
};

TEST_F(MemoryTableTest, Lifecycle) {
  EXPECT_EQ(FDatabase->DatabaseName(), u"MEMORY");
  TORBMemoryTableData* table = Create(u"T");
  for (int i = 0; i < 3; ++i) Insert(table, Cursor(), i, i * 10);
  // Closing the last cursor keeps the table and its records.
  Cursor().Close();
  EXPECT_TRUE(FDatabase->TableExists(u"T"));
  TestCursor again(nullptr, u"t");
  EXPECT_EQ(FDatabase->FindTableData(&again), table);
  again.FTable = table;
  again.Open();
  EXPECT_EQ(WalkInts(*table, again, kVal), (std::vector<int32_t>{0, 10, 20}));
  table->EmptyTable(&again);
  EXPECT_EQ(table->InternalGetRecordCount(0), 0);
  Insert(table, again, 7, 70);
  EXPECT_EQ(WalkInts(*table, again, kVal), (std::vector<int32_t>{70}));
  // Open cursors block rename and delete.
  EXPECT_EQ(RaisedCode([&] { table->RenameTable(u"U", nullptr); }), 10150);
  EXPECT_EQ(RaisedCode([&] { table->DeleteTable(&again, false); }), 20017);
  again.Close();
  table->RenameTable(u"U", nullptr);
  EXPECT_FALSE(FDatabase->TableExists(u"T"));
  EXPECT_TRUE(FDatabase->TableExists(u"U"));
  table->DeleteTable(nullptr, false);
  EXPECT_FALSE(FDatabase->TableExists(u"U"));
}

TEST_F(MemoryTableTest, CreateRefusals) {
  TestCursor cursor(nullptr, u"T");
  TORBTableData* table = FDatabase->FindOrCreateTableData(&cursor);
  EXPECT_EQ(RaisedCode([&] { table->CreateTable(&cursor, TORBFieldDefs(), TORBIndexDefs(), TORBConstraintDefs()); }),
            10025);
  // In design mode a table may start without fields.
  auto design = CreateMemoryDatabaseData([] { return true; });
  TORBTableData* empty = design->FindOrCreateTableData(&cursor);
  EXPECT_EQ(RaisedCode([&] { empty->CreateTable(&cursor, TORBFieldDefs(), TORBIndexDefs(), TORBConstraintDefs()); }),
            0);
  EXPECT_EQ(design->GetNewObjectId(), 1);
}

TEST_F(MemoryTableTest, RecordNumbers) {
  TORBMemoryTableData* table = Create(u"T");
  for (int i = 0; i < 5; ++i) Insert(table, Cursor(), i, i);
  TestCursor& cursor = Cursor();
  ASSERT_TRUE(cursor.MoveTo({1, 0}));
  ASSERT_TRUE(table->DeleteRecord(&cursor));
  const int32_t expected_slots[] = {0, 2, 3, 4};
  for (int64_t rec_no = 1; rec_no <= 4; ++rec_no) {
    EXPECT_EQ(table->InternalSetRecNo(0, rec_no).PageNo, expected_slots[rec_no - 1]);
    EXPECT_EQ(table->InternalGetRecNo(0, {expected_slots[rec_no - 1], 0}), rec_no);
  }
  // The record count plus one is past the end, not one past the last slot.
  EXPECT_EQ(table->InternalSetRecNo(0, 5).PageNo, -1);
  EXPECT_EQ(table->InternalSetRecNo(0, 0).PageNo, -1);
  table->SetRecNo(&cursor, 3);
  EXPECT_EQ(cursor.GetCurrentRecordID().PageNo, 3);
  EXPECT_EQ(table->GetRecNo(&cursor), 3);
}

TEST_F(MemoryTableTest, BlobValues) {
  TORBMemoryTableData* table = Create(u"T");
  TestCursor& cursor = Cursor();
  const std::string big(100000, 'x');
  const TORBPageItemID id = Insert(table, cursor, 1, 1, big);
  EXPECT_EQ(table->BlobCount(), 1u);
  ASSERT_TRUE(cursor.MoveTo(id));
  EXPECT_EQ(ReadBlob(*table, cursor, kBlob), big);

  // Written twice before posting: the first value is freed at once.
  WriteBlob(*table, cursor, kBlob, "first");
  WriteBlob(*table, cursor, kBlob, "second");
  EXPECT_EQ(table->BlobCount(), 2u);
  // Cancelled edit: the stored record still reads its value.
  ASSERT_TRUE(cursor.MoveTo(id));
  EXPECT_EQ(ReadBlob(*table, cursor, kBlob), big);
  // Posted update: the replaced value is freed.
  WriteBlob(*table, cursor, kBlob, "third");
  ASSERT_TRUE(table->UpdateRecord(&cursor));
  ASSERT_TRUE(cursor.MoveTo(id));
  EXPECT_EQ(ReadBlob(*table, cursor, kBlob), "third");
  EXPECT_EQ(table->BlobCount(), 2u);  // "second" stays until the table empties

  // An empty stream makes the field null; reading a null field gives an
  // empty stream.
  WriteBlob(*table, cursor, kBlob, "");
  EXPECT_TRUE(CheckNullFlag(kBlob, cursor.GetCurrentRecordBuffer()));
  EXPECT_EQ(ReadBlob(*table, cursor, kBlob), "");
  EXPECT_TRUE(table->GetDirectBlobData(0, kBlob, cursor.GetCurrentRecordBuffer()).empty());

  // A copy through the direct calls keeps the stored form.
  ASSERT_TRUE(cursor.MoveTo(id));
  const std::vector<uint8_t> direct = table->GetDirectBlobData(0, kBlob, cursor.GetCurrentRecordBuffer());
  TORBMemoryTableData* other = Create(u"O");
  TestCursor& target = Cursor(1);
  SetInt(*other, target.GetCurrentRecordBuffer(), kID, 9);
  SetInt(*other, target.GetCurrentRecordBuffer(), kVal, 9);
  other->SetDirectBlobData(0, kBlob, target.GetCurrentRecordBuffer(), direct);
  ASSERT_TRUE(other->InsertRecord(&target));
  EXPECT_EQ(other->GetDirectBlobData(0, kBlob, target.GetCurrentRecordBuffer()), direct);
  EXPECT_EQ(ReadBlob(*other, target, kBlob), "third");

  // Deleting the record frees its value.
  ASSERT_TRUE(cursor.MoveTo(id));
  ASSERT_TRUE(table->DeleteRecord(&cursor));
  EXPECT_EQ(table->BlobCount(), 1u);
  table->EmptyTable(&cursor);
  EXPECT_EQ(table->BlobCount(), 0u);
}

TEST_F(MemoryTableTest, StaleBlobReferenceIsAnError) {
  TORBMemoryTableData* table = Create(u"T");
  TestCursor& cursor = Cursor();
  const TORBPageItemID id = Insert(table, cursor, 1, 1, "value");
  ASSERT_TRUE(cursor.MoveTo(id));
  std::vector<uint8_t> copy = cursor.FCurrent;
  ASSERT_TRUE(table->DeleteRecord(&cursor));
  cursor.FCurrent = copy;
  cursor.FCurrentPtr = cursor.FCurrent.data();
  EXPECT_EQ(RaisedCode([&] { ReadBlob(*table, cursor, kBlob); }), kErrMemoryBlobMissing);
}

// Changes apply at once; a rollback of a transaction that changed an
// in-memory table says so and leaves the table as it is.
TEST_F(MemoryTableTest, RollbackIsRefusedAfterChanges) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "BY_VAL", {u"VAL"});
  TORBMemoryTableData* table = Create(u"T", indexes);
  TestCursor& cursor = Cursor();
  Insert(table, cursor, 1, 10);
  EXPECT_EQ(RaisedCode([&] { FDatabase->Rollback(0); }), 0);
  cursor.FInTransaction = true;
  Insert(table, cursor, 2, 20);
  EXPECT_FALSE(table->PageManager()->HasAnyPendingChanges());
  EXPECT_EQ(RaisedCode([&] { FDatabase->Rollback(0); }), kErrMemoryRollback);
  EXPECT_EQ(table->InternalGetRecordCount(0), 2);
  const int32_t by_val = table->IndexManager()->IndexDefs().GetIndexDefByName(std::string_view("BY_VAL"))->FObjectID;
  EXPECT_EQ(static_cast<TestIndex*>(table->IndexManager()->OpenIndex(by_val))->Entries().size(), 2u);
  // Reported once; a commit clears the record too.
  EXPECT_EQ(RaisedCode([&] { FDatabase->Rollback(0); }), 0);
  Insert(table, cursor, 3, 30);
  FDatabase->Commit(0);
  EXPECT_EQ(RaisedCode([&] { FDatabase->Rollback(0); }), 0);
}

TEST_F(MemoryTableTest, FailedIndexCreationLeavesTheTableIntact) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "BY_ID", {u"ID"}, true);
  TORBMemoryTableData* table = Create(u"T", indexes);
  TestCursor& cursor = Cursor();
  for (int i = 0; i < 10; ++i) Insert(table, cursor, i, i % 3);
  const int32_t pages = table->PageManager()->GetPageCount();
  TORBIndexDefs unique_val;
  const TORBIndexDef* def = AddIndexDef(unique_val, "U_VAL", {u"VAL"}, true);
  EXPECT_NE(RaisedCode([&] { table->AddIndex(*def, &cursor); }), 0);
  EXPECT_EQ(table->IndexManager()->IndexDefs().GetCount(), 1);
  EXPECT_EQ(table->PageManager()->GetPageCount(), pages);
  EXPECT_FALSE(table->PageManager()->HasAnyPendingChanges());
  EXPECT_EQ(table->InternalGetRecordCount(0), 10);
  EXPECT_EQ(WalkInts(*table, cursor, kID), (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  Insert(table, cursor, 10, 0);
  const int32_t by_id = table->IndexManager()->IndexDefs().GetIndexDefByName(std::string_view("BY_ID"))->FObjectID;
  EXPECT_EQ(static_cast<TestIndex*>(table->IndexManager()->OpenIndex(by_id))->Entries().size(), 11u);
}

// Several indexes through a long random run of inserts, updates and
// deletes: after every step the record count and every index agree with a
// model of the table.
TEST_F(MemoryTableTest, RandomRunKeepsIndexesConsistent) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "BY_ID", {u"ID"}, true);
  AddIndexDef(indexes, "BY_VAL", {u"VAL"});
  AddIndexDef(indexes, "BY_VAL_ID", {u"VAL", u"ID"});
  TORBMemoryTableData* table = Create(u"T", indexes);
  TestCursor& cursor = Cursor();
  std::mt19937 random(12345);
  std::map<int32_t, std::pair<int32_t, int32_t>> model;  // slot -> (id, val)
  int32_t next_id = 0;
  std::vector<TestIndex*> opened;
  for (int32_t i = 0; i < 3; ++i)
    opened.push_back(static_cast<TestIndex*>(
        table->IndexManager()->OpenIndex(table->IndexManager()->IndexDefs().GetIndexDef(i)->FObjectID)));
  for (int step = 0; step < 3000; ++step) {
    const int op = static_cast<int>(random() % 10);
    if (model.empty() || op < 4) {
      const int32_t val = static_cast<int32_t>(random() % 50);
      const TORBPageItemID id = Insert(table, cursor, next_id, val);
      ASSERT_EQ(model.count(id.PageNo), 0u);
      model[id.PageNo] = {next_id++, val};
    } else {
      auto it = std::next(model.begin(), static_cast<long>(random() % model.size()));
      ASSERT_TRUE(cursor.MoveTo({it->first, 0}));
      if (op < 7) {
        const int32_t val = static_cast<int32_t>(random() % 50);
        SetInt(*table, cursor.GetCurrentRecordBuffer(), kVal, val);
        ASSERT_TRUE(table->UpdateRecord(&cursor));
        it->second.second = val;
      } else if (op < 8) {
        // A duplicate key is refused and changes nothing.
        SetInt(*table, cursor.GetCurrentRecordBuffer(), kID, std::prev(model.end())->second.first);
        if (std::prev(model.end()) != it) {
          EXPECT_EQ(RaisedCode([&] { table->UpdateRecord(&cursor); }), kTestDuplicate);
        }
      } else {
        ASSERT_TRUE(table->DeleteRecord(&cursor));
        model.erase(it);
      }
    }
    ASSERT_EQ(table->InternalGetRecordCount(0), static_cast<int64_t>(model.size())) << "step " << step;
    for (size_t i = 0; i < opened.size(); ++i) {
      std::vector<TestIndex::Entry> expected;
      for (const auto& [slot, row] : model) {
        TestIndex::Entry e{{}, slot};
        if (i == 0) e.Key = {row.first};
        if (i == 1) e.Key = {row.second};
        if (i == 2) e.Key = {row.second, row.first};
        expected.push_back(e);
      }
      std::sort(expected.begin(), expected.end());
      ASSERT_TRUE(opened[i]->Entries() == expected) << "index " << i << " step " << step;
    }
  }
  // Index order navigation agrees too.
  cursor.SetIndex(opened[0]->IndexDef().FObjectID);
  std::vector<int32_t> ids = WalkInts(*table, cursor, kID);
  EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));
  EXPECT_EQ(ids.size(), model.size());
  EXPECT_LE(table->MemoryRecordManager()->AllocatedRecordCount(), 2000);
}

}  // namespace
}  // namespace orb::test

namespace orb::test {
namespace {

// The same kind of run through the shared B-tree record index (no test
// index factory): after every batch each index's tree is sound and its
// order, walked both ways, is the model's.
class MemoryTableBTreeTest : public MemoryTableTest {
 protected:
  MemoryTableBTreeTest() { SetTableIndexFactory({}); }
};

TEST_F(MemoryTableBTreeTest, RandomRunKeepsBTreeIndexesConsistent) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "BY_ID", {u"ID"}, true);
  AddIndexDef(indexes, "BY_VAL", {u"VAL"});
  AddIndexDef(indexes, "BY_VAL_ID", {u"VAL", u"ID"});
  TORBMemoryTableData* table = Create(u"T", indexes);
  TestCursor& cursor = Cursor();
  std::vector<TORBBTreeRecordIndex*> trees;
  for (int32_t i = 0; i < 3; ++i) {
    TORBIndex* index = table->IndexManager()->OpenIndex(table->IndexManager()->IndexDefs().GetIndexDef(i)->FObjectID);
    trees.push_back(dynamic_cast<TORBBTreeRecordIndex*>(index));
    ASSERT_NE(trees.back(), nullptr);
  }
  std::mt19937 random(777);
  std::map<int32_t, std::pair<int32_t, int32_t>> model;  // slot -> (id, val)
  int32_t next_id = 0;
  for (int step = 0; step < 4000; ++step) {
    const int op = static_cast<int>(random() % 10);
    if (model.empty() || op < 5) {
      const int32_t val = static_cast<int32_t>(random() % 40);
      const TORBPageItemID id = Insert(table, cursor, next_id, val);
      model[id.PageNo] = {next_id++, val};
    } else {
      auto it = std::next(model.begin(), static_cast<long>(random() % model.size()));
      ASSERT_TRUE(cursor.MoveTo({it->first, 0}));
      if (op < 7) {
        const int32_t val = static_cast<int32_t>(random() % 40);
        SetInt(*table, cursor.GetCurrentRecordBuffer(), kVal, val);
        ASSERT_TRUE(table->UpdateRecord(&cursor));
        it->second.second = val;
      } else if (op < 8) {
        // A duplicate of the unique key is refused and changes nothing.
        if (std::prev(model.end()) != it) {
          SetInt(*table, cursor.GetCurrentRecordBuffer(), kID, std::prev(model.end())->second.first);
          EXPECT_EQ(RaisedCode([&] { table->UpdateRecord(&cursor); }), kErrIndexDuplicateKey);
        }
      } else {
        ASSERT_TRUE(table->DeleteRecord(&cursor));
        model.erase(it);
      }
    }
    ASSERT_EQ(table->InternalGetRecordCount(0), static_cast<int64_t>(model.size())) << "step " << step;
    if (step % 250 != 249) continue;
    std::vector<std::tuple<int32_t, int32_t, int32_t>> rows;  // (id, val, slot)
    for (const auto& [slot, row] : model) rows.emplace_back(row.first, row.second, slot);
    for (size_t i = 0; i < trees.size(); ++i) {
      trees[i]->CheckIntegrity(0);
      std::vector<std::tuple<int32_t, int32_t, int32_t>> order = rows;
      std::sort(order.begin(), order.end(), [i](const auto& a, const auto& b) {
        if (i == 0) return std::get<0>(a) < std::get<0>(b);
        if (i == 1) return std::tie(std::get<1>(a), std::get<2>(a)) < std::tie(std::get<1>(b), std::get<2>(b));
        return std::tie(std::get<1>(a), std::get<0>(a)) < std::tie(std::get<1>(b), std::get<0>(b));
      });
      std::vector<int32_t> expected;
      for (const auto& row : order) expected.push_back(std::get<0>(row));
      cursor.SetIndex(trees[i]->IndexDef().FObjectID);
      ASSERT_EQ(WalkInts(*table, cursor, kID), expected) << "index " << i << " step " << step;
      std::reverse(expected.begin(), expected.end());
      ASSERT_EQ(WalkInts(*table, cursor, kID, false), expected) << "index " << i << " step " << step;
      cursor.SetIndex(-1);
    }
  }
  EXPECT_GT(trees[0]->GetDepth(0), 1);
}

}  // namespace
}  // namespace orb::test
