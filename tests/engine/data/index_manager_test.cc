#include "engine/data/index_manager.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/base/stream_memory.h"
#include "engine/data/record_search.h"
#include "engine/data/scan_condition.h"
#include "tests/engine/data/table_fixture.h"
#include "tests/support/raised.h"

namespace orb::test {
namespace {

class IndexManagerTest : public TableFixture {};

TEST_F(IndexManagerTest, RenameFieldRenamesIndexColumnsInAnyLetterCase) {
  TORBFieldDefs fields;
  AddIntField(fields, u"ID");
  AddIntField(fields, u"\u00C4RGER");  // ÄRGER
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "I1", {u"\u00E4rger"});             // ärger
  AddIndexDef(indexes, "I2", {u"ID", u"\u00C4rGeR"});       // ÄrGeR
  AddIndexDef(indexes, "I3", {u"ID"});
  CreateTableWith(fields, indexes, TORBConstraintDefs());
  FakeCursor cursor(FTable);
  FTable->IndexManager()->OpenIndex(IndexID("I1"));  // an open copy follows too

  FTable->RenameField(u"\u00E4RGER", u"ZORN");
  EXPECT_EQ(FTable->FieldManager()->FieldDefs().GetDef(1)->GetWideName(), u"ZORN");
  const TORBIndexDefs& defs = FTable->IndexManager()->IndexDefs();
  EXPECT_EQ(defs.GetIndexDefByName(std::string_view("I1"))->GetIndexColumn(0)->GetFieldName(), u"ZORN");
  EXPECT_EQ(defs.GetIndexDefByName(std::string_view("I2"))->GetIndexColumn(1)->GetFieldName(), u"ZORN");
  EXPECT_EQ(defs.GetIndexDefByName(std::string_view("I3"))->GetIndexColumn(0)->GetFieldName(), u"ID");
  EXPECT_EQ(FTable->IndexByName("I1")->IndexDef().GetIndexColumn(0)->GetFieldName(), u"ZORN");

  EXPECT_EQ(RaisedCode([&] { FTable->RenameField(u"\u00C4RGER", u"X"); }), 30343);
  EXPECT_EQ(RaisedCode([&] { FTable->RenameField(u"zorn", u"id"); }), 30344);
  FTable->RenameField(u"zorn", u"Zorn");  // letter case alone
  EXPECT_EQ(FTable->FieldManager()->FieldDefs().GetDef(1)->GetWideName(), u"Zorn");
}

TEST_F(IndexManagerTest, TemporaryIndexIsRebuiltAfterAnotherSessionChangedTheTable) {
  CreateTable();
  FakeCursor mine(FTable, 1);
  for (int v : {30, 10}) Insert(mine, v, v);
  bool created = false;
  const std::u16string name = FTable->FindOrCreateIndex(&mine, {u"VAL"}, {u"ASC"}, {u""}, created);
  ASSERT_TRUE(created);
  EXPECT_EQ(name.substr(0, 16), u"TEMPORARY_INDEX_");
  const TORBIndexDef* def = FTable->IndexManager()->IndexDefs().GetIndexDefByName(std::u16string_view(name));
  ASSERT_NE(def, nullptr);
  EXPECT_TRUE(def->FTemporary);
  EXPECT_EQ(def->FSessionID, 1);
  EXPECT_EQ(FTable->FApplied, 3);
  // The same request finds it again.
  EXPECT_EQ(FTable->FindOrCreateIndex(&mine, {u"VAL"}, {u"ASC"}, {u""}, created), name);
  EXPECT_FALSE(created);

  // This process's own changes keep it current.
  Insert(mine, 20, 20);
  bool changed = true;
  FTable->IndexManager()->SynchronizeTemporaryIndexes(&mine, changed);
  EXPECT_FALSE(changed);

  // Another session's committed record reaches the shared store only.
  std::vector<uint8_t> record(mine.FCurrent.size(), 0);
  SetInt(*FTable, record.data(), kID, 5);
  SetInt(*FTable, record.data(), kVal, 5);
  FTable->Records()->ExternalAdd(record);
  FakeIndex* index = FTable->Index(def->FObjectID);
  EXPECT_EQ(index->Slots().size(), 3u);

  FTable->Rollback(1);  // synchronises the session's cursors
  EXPECT_EQ(index->Slots(), (std::vector<int32_t>{3, 1, 2, 0}));
  FTable->IndexManager()->SynchronizeTemporaryIndexes(&mine, changed);
  EXPECT_FALSE(changed);
  FTable->IndexManager()->DropTemporaryIndexes(1);
  EXPECT_EQ(FTable->IndexManager()->IndexDefs().GetCount(), 0);
}

TEST_F(IndexManagerTest, FailedIndexBuildLeavesNoDefinitionAndUnknownIndexesAreRefused) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "U_VAL", {u"VAL"}, true);
  CreateTable();
  FakeCursor cursor(FTable);
  Insert(cursor, 1, 7);
  Insert(cursor, 2, 7);
  EXPECT_EQ(RaisedCode([&] { FTable->AddIndex(*indexes.GetIndexDef(0), &cursor); }), kFakeDuplicate);
  EXPECT_EQ(FTable->IndexManager()->IndexDefs().GetCount(), 0);
  EXPECT_EQ(FTable->ConstraintManager()->ConstraintDefs().GetCount(), 0);
  EXPECT_EQ(RaisedCode([&] { FTable->IndexManager()->OpenIndex(12345); }), kErrIndexNotFound);

  // A temporary index that cannot be built cancels the session's changes.
  const int cancelled = FTable->FCancelled;
  bool created = false;
  EXPECT_EQ(RaisedCode([&] { FTable->FindOrCreateIndex(&cursor, {u"NOPE"}, {u"ASC"}, {u""}, created); }), 20043);
  EXPECT_EQ(FTable->FCancelled, cancelled + 1);
  EXPECT_EQ(FTable->IndexManager()->IndexDefs().GetCount(), 0);
}

TEST_F(IndexManagerTest, MetadataKeepsDeclaredIndexesOnly) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "BY_VAL", {u"VAL"});
  CreateTable(indexes);
  FakeCursor cursor(FTable);
  bool created = false;
  FTable->FindOrCreateIndex(&cursor, {u"ID"}, {u"DESC"}, {u""}, created);
  ASSERT_EQ(FTable->IndexManager()->IndexDefs().GetCount(), 2);
  TORBMemoryStream stream;
  FTable->IndexManager()->SaveMetadata(stream);
  stream.SetPosition(0);
  TORBBaseIndexManager loaded(FTable, nullptr);
  loaded.LoadMetadata(stream);
  ASSERT_EQ(loaded.IndexDefs().GetCount(), 1);
  const TORBIndexDef* def = loaded.IndexDefs().GetIndexDef(0);
  EXPECT_EQ(def->GetName(), "BY_VAL");
  EXPECT_EQ(def->FObjectID, IndexID("BY_VAL"));
  EXPECT_EQ(def->FRootPageNo, 1);
}

class NoIndexTable : public FakeTableData {
 public:
  using FakeTableData::FakeTableData;
  std::unique_ptr<TORBIndex> CreateIndexObject(const TORBIndexDef&) override { return nullptr; }
};

TEST_F(IndexManagerTest, AnEngineWithoutIndexObjectIsReported) {
  TORBFieldDefs fields;
  AddIntField(fields, u"ID");
  auto* table = static_cast<FakeTableData*>(FDatabase.AddTableData(std::make_unique<NoIndexTable>(&FDatabase, u"N")));
  TORBIndexDefs indexes;
  // B-tree definitions fall back to the record index; other kinds do not.
  AddIndexDef(indexes, "I", {u"ID"})->FIndexType = itAnotherOne;
  EXPECT_EQ(RaisedCode([&] { table->CreateTable(nullptr, fields, indexes, TORBConstraintDefs()); }),
            kErrNoIndexObject);
}

TEST(DatabaseDataTest, TablesAreFoundIgnoringCaseAndTheListTracksEveryDatabaseData) {
  auto database = std::make_unique<FakeDatabaseData>();
  EXPECT_TRUE(DBDataList().Contains(database.get()));
  TORBFieldDefs fields;
  AddIntField(fields, u"ID");
  auto* table = static_cast<FakeTableData*>(
      database->AddTableData(std::make_unique<FakeTableData>(database.get(), u"\u00E9t\u00E9")));  // été
  table->CreateTable(nullptr, fields, TORBIndexDefs(), TORBConstraintDefs());
  EXPECT_TRUE(database->TableExists(u"\u00C9T\u00C9"));
  EXPECT_FALSE(database->TableExists(u"ETE"));
  {
    FakeCursor cursor(table);
    EXPECT_EQ(database->FindTableData(&cursor), table);
    EXPECT_EQ(RaisedCode([&] { table->DeleteTable(&cursor, false); }), kErrDeleteOpenTable);
    EXPECT_EQ(RaisedCode([&] { table->RenameTable(u"X", &cursor); }), kErrRenameOpenTable);
  }
  table->RenameTable(u"X", nullptr);
  std::vector<std::u16string> names;
  database->GetTablesList(names);
  EXPECT_EQ(names, std::vector<std::u16string>{u"X"});

  struct Session : TORBSessionLink {
    int32_t GetSessionID() const override { return FID; }
    void SetSessionID(int32_t id) override { FID = id; }
    int32_t FID = -1;
  } session;
  database->ConnectSession(&session);
  EXPECT_EQ(session.FID, 0);
  EXPECT_FALSE(database->FreeIfNoSessionsConnected());
  database->DisconnectSession(&session);
  EXPECT_TRUE(database->FreeIfNoSessionsConnected());
  const TORBDatabaseData* gone = database.get();
  database.reset();
  EXPECT_FALSE(DBDataList().Contains(gone));
}

TEST(DatabaseDataTest, DBDataListStaysConsistentUnderConcurrentCreation) {
  std::vector<std::thread> threads;
  std::vector<std::vector<const TORBDatabaseData*>> seen(4);
  for (size_t t = 0; t < seen.size(); ++t) {
    threads.emplace_back([&seen, t] {
      for (int i = 0; i < 200; ++i) {
        auto database = std::make_unique<FakeDatabaseData>();
        if (!DBDataList().Contains(database.get())) seen[t].push_back(database.get());
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const auto& missing : seen) EXPECT_TRUE(missing.empty());
  EXPECT_TRUE(DBDataList().Snapshot().empty());
}

TEST_F(IndexManagerTest, KeySearchNeedsAnIndex) {
  CreateTable();
  FakeCursor cursor(FTable);
  Insert(cursor, 1, 1);
  TORBScanCondition key{scEqual, cursor.GetCurrentRecordBuffer(), cursor.FRecordBufferSize, 1, -1, false};
  EXPECT_EQ(RaisedCode([&] { FTable->FindRecord(&cursor, nullptr, &key, true, true, nullptr, nullptr, false); }),
            kErrKeySearchNoIndex);
  EXPECT_EQ(RaisedCode([&] { FTable->Locate(&cursor, nullptr); }), kErrLocateNoExpression);
}

}  // namespace
}  // namespace orb::test
