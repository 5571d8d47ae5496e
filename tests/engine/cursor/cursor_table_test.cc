#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/data/database_data.h"
#include "engine/platform/memory_info.h"
#include "tests/engine/cursor/cursor_fixture.h"
#include "tests/engine/cursor/disk_cursor_rows.h"
#include "tests/support/disk_scratch.h"

namespace orb::test {
namespace {

using TableTest = CursorTest;

std::unique_ptr<TORBLocalCursor> Named(TORBLocalSession& session, const std::u16string& name) {
  auto c = std::make_unique<TORBLocalCursor>();
  c->FSession = &session;
  c->FTableName = name;
  return c;
}

TEST_F(TableTest, OpeningAMissingTableRaisesAndLeavesTheCursorClosed) {
  TORBLocalCursor c;
  c.FSession = &FSession;
  c.FTableName = FTableName;
  EXPECT_EQ(RaisedCode([&] { c.OpenTableByFieldDefs(TORBFieldDefs(), TORBIndexDefs(), TORBConstraintDefs()); }),
            kErrOpenTableNotFound);
  EXPECT_FALSE(c.FIsOpen);
  EXPECT_EQ(RaisedCode([&] { c.GetRecordBuffer(grmNext); }), kErrLockTableDataNil);
  TORBLocalSession unconnected;
  c.FSession = &unconnected;
  EXPECT_EQ(RaisedCode([&] { c.OpenTableByFieldDefs(TORBFieldDefs(), TORBIndexDefs(), TORBConstraintDefs()); }),
            kErrCursorNoDatabase);
}

TEST_F(TableTest, DesignModeCreatesTheTableOnOpenAndDropsItOnClose) {
  TORBFieldDefs fields;
  StandardFields(fields);
  {
    TORBLocalCursor c;
    c.FSession = &FSession;
    c.FTableName = FTableName;
    c.FIsDesignMode = true;
    c.OpenTableByFieldDefs(fields, TORBIndexDefs(), TORBConstraintDefs());
    EXPECT_TRUE(c.FIsOpen);
    EXPECT_EQ(c.FFieldDefs.GetCount(), 7);
    EXPECT_TRUE(FSession.DatabaseData()->TableExists(FTableName));
  }
  EXPECT_FALSE(FSession.DatabaseData()->TableExists(FTableName));
}

TEST_F(TableTest, CreateReplacesEmptyEmptiesDeleteRemoves) {
  CreateStandardTable();
  {
    TORBLocalCursor& c = Open();
    InsertRows(c, FiveRows());
  }
  for (auto& [cursor, buffer] : FCursors) cursor->FreeRecordBuffer(buffer);
  FCursors.clear();
  TORBFieldDefs one;
  AddField(one, u"ONLY", aftInteger);
  CreateTable(one);
  TORBLocalCursor& c = Open();
  EXPECT_EQ(c.FFieldDefs.GetCount(), 1);
  EXPECT_EQ(c.GetRecordCount(), 0);
  c.InternalInitRecord(c.FCurrentRecordBuffer, true);
  SetInt(c, 0, 9);
  c.InternalPost(true);
  ASSERT_EQ(c.FErrorCode, 0);
  ASSERT_EQ(c.GetRecordCount(), 1);
  c.FreeRecordBuffer(BufferOf(c));
  FCursors.clear();

  auto manager_owner = Named(FSession, FTableName);
  TORBLocalCursor& manager = *manager_owner;
  manager.EmptyTable();
  EXPECT_FALSE(manager.FIsOpen);
  TORBLocalCursor& reopened = Open();
  EXPECT_EQ(reopened.GetRecordCount(), 0);
  reopened.FreeRecordBuffer(BufferOf(reopened));
  FCursors.clear();
  manager.DeleteTable();
  EXPECT_FALSE(FSession.DatabaseData()->TableExists(FTableName));
  EXPECT_EQ(RaisedCode([&] { manager.DeleteTable(); }), kErrDeleteTableNotFound);
  EXPECT_EQ(RaisedCode([&] { manager.EmptyTable(); }), kErrEmptyTableNotFound);
  EXPECT_EQ(RaisedCode([&] { manager.RenameTable(u"X"); }), kErrRenameTableNotFound);
}

TEST_F(TableTest, DeletingATableWithOpenCursorsIsRefused) {
  CreateStandardTable();
  Open();
  auto manager_owner = Named(FSession, FTableName);
  TORBLocalCursor& manager = *manager_owner;
  EXPECT_EQ(RaisedCode([&] { manager.DeleteTable(); }), kErrDeleteOpenTable);
  EXPECT_TRUE(FSession.DatabaseData()->TableExists(FTableName));
}

TEST_F(TableTest, RenameAllowsACaseChangeAndRefusesTakenOrIdenticalNames) {
  CreateStandardTable();
  const std::u16string other = FTableName + u"_OTHER";
  auto other_owner = Named(FSession, other);
  TORBLocalCursor& other_table = *other_owner;
  TORBFieldDefs fields;
  StandardFields(fields);
  other_table.CreateTable(fields, TORBIndexDefs(), TORBConstraintDefs());

  auto c_owner = Named(FSession, FTableName);
  TORBLocalCursor& c = *c_owner;
  EXPECT_EQ(RaisedCode([&] { c.RenameTable(FTableName); }), kErrRenameTableItself);
  EXPECT_EQ(RaisedCode([&] { c.RenameTable(other); }), kErrRenameTableExists);
  const std::u16string lower = u"t" + FTableName.substr(1);
  c.RenameTable(lower);
  EXPECT_EQ(c.FTableName, lower);
  EXPECT_TRUE(FSession.DatabaseData()->TableExists(lower));
  c.RenameTable(FTableName + u"_NEW");
  EXPECT_FALSE(FSession.DatabaseData()->TableExists(FTableName));
  c.RenameTable(FTableName);
  other_table.DeleteTable();
}

TEST_F(TableTest, IndexesAreAddedFoundAndDeleted) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  InsertRows(c, FiveRows());
  TORBIndexDefs defs;
  TORBIndexDef* by_score = AddIndexDef(defs, "BY_SCORE", {u"SCORE"}, false, true);
  c.AddIndex(*by_score);
  ASSERT_NE(c.GetIndexDefs().GetIndexDefByName(std::string_view("BY_SCORE")), nullptr);
  EXPECT_EQ(RaisedCode([&] { c.AddIndex(*by_score); }), kErrAddIndexExists);
  c.SetIndexName(u"BY_SCORE");
  EXPECT_EQ(Walk(c), (std::vector<int32_t>{3, 2, 5, 1, 4}));

  // A projection alias names its physical field.
  c.ApplyProjection({u"ID", u"NAME"}, {u"", u"WHO"});
  bool created = false;
  const std::u16string name = c.FindOrCreateIndex({u"WHO"}, {u"ASC"}, {u""}, created);
  EXPECT_TRUE(created);
  EXPECT_TRUE(c.IndexExists({u"NAME"}, {u"ASC"}, {u""}));
  EXPECT_EQ(c.FindOrCreateIndex({u"WHO"}, {u"ASC"}, {u""}, created), name);
  EXPECT_FALSE(created);

  c.DeleteIndex(u"BY_SCORE");
  EXPECT_EQ(c.FIndexID, -1) << "the active index went away";
  EXPECT_EQ(RaisedCode([&] { c.DeleteIndex(u"BY_SCORE"); }), kErrDeleteIndexNotFound);
  EXPECT_EQ(Walk(c), (std::vector<int32_t>{1, 2, 3, 4, 5}));
}

TEST_F(TableTest, DistinctShowsOneRecordPerKey) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  InsertRows(c, FiveRows());
  c.ApplyDistinct({u"GRP"}, {u"ASC"}, {u""});
  EXPECT_EQ(c.FDistinctRecordBuffer, nullptr);
  std::vector<int32_t> groups;
  c.InternalFirst();
  while (c.GetRecordBuffer(grmNext) == grrOK) groups.push_back(GetInt(c, kGroup).value_or(-1));
  EXPECT_EQ(groups, (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(c.GetRecordCount(), 2);
}

// A session that is not connected answers for the database it would
// connect to when this process has it open, without attaching to it; a
// database that must still be opened is refused as not connected.
TEST_F(TableTest, UnconnectedSessionListsTheTablesOfAnOpenDatabase) {
  CreateStandardTable();
  TORBLocalSession memory;
  memory.FDatabaseName = u"MEMORY";
  EXPECT_TRUE(memory.TableExists(FTableName));
  EXPECT_FALSE(memory.TableExists(u"NO_SUCH_TABLE"));
  std::vector<std::u16string> names;
  memory.GetTablesList(names);
  EXPECT_NE(std::find(names.begin(), names.end(), FTableName), names.end());
  EXPECT_FALSE(memory.GetConnected());
  EXPECT_EQ(memory.GetSessionID(), -1);

  testing::DiskScratch dir;
  const std::string path = dir.File("db.orb");
  cursortest::CreateRowsDatabase(path);
  auto unconnected = cursortest::MakeFileSession(path, false);
  EXPECT_EQ(RaisedCode([&] { unconnected->TableExists(cursortest::kRowTable); }), kErrSessionNotConnected);
  EXPECT_EQ(RaisedCode([&] { unconnected->GetTablesList(names); }), kErrSessionNotConnected);
  auto connected = cursortest::MakeFileSession(path, false);
  connected->SetConnected(true);
  EXPECT_TRUE(unconnected->TableExists(cursortest::kRowTable));
  unconnected->GetTablesList(names);
  EXPECT_EQ(names, std::vector<std::u16string>{cursortest::kRowTable});
  EXPECT_FALSE(unconnected->GetConnected());
  // It holds nothing: the last connected session's disconnect closes the
  // database.
  connected->SetConnected(false);
  EXPECT_EQ(RaisedCode([&] { unconnected->TableExists(cursortest::kRowTable); }), kErrSessionNotConnected);
}

// The in-memory and temporary databases are open for the whole run: a
// create is refused as for any open database, never passed over.
TEST_F(TableTest, CreateDatabaseOnTheInMemoryAndTemporaryDatabasesIsRefused) {
  CreateStandardTable();
  for (const char16_t* name : {u"MEMORY", u"TEMP"}) {
    TORBLocalSession session;
    session.FDatabaseName = name;
    EXPECT_EQ(RaisedCode([&] { session.CreateDatabase(); }), 20092);
    EXPECT_FALSE(session.GetConnected());
  }
  EXPECT_TRUE(FSession.TableExists(FTableName));
}

class TemporaryTableCursorTest : public CursorTest {
 protected:
  TemporaryTableCursorTest() : CursorTest(u"TEMP") {}
  ~TemporaryTableCursorTest() override { SetAvailableMemoryProvider({}); }

  static int32_t OpenFileCount() {
    int32_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++count;
    return count;
  }
};

// With little free memory a temporary table moves records, index pages and
// BLOB data to temporary files; DisableTempFiles on the cursor that creates
// it keeps all of it in memory.
TEST_F(TemporaryTableCursorTest, DisableTempFilesOfTheCreatingCursorKeepsEverythingInMemory) {
  for (const bool disable : {false, true}) {
    SCOPED_TRACE(disable ? "temporary files disabled" : "temporary files allowed");
    // A tenth of it is the table's budget: a few dozen records, no page.
    SetAvailableMemoryProvider([] { return int64_t{20000}; });
    TORBFieldDefs fields;
    StandardFields(fields);
    TORBIndexDefs indexes;
    AddIndexDef(indexes, "BY_ID", {u"ID"});
    const int32_t files_before = OpenFileCount();
    {
      TORBLocalCursor creator;
      creator.FSession = &FSession;
      creator.FTableName = FTableName;
      creator.FDisableTempFiles = disable;
      creator.CreateTable(fields, indexes, TORBConstraintDefs());
    }
    TORBLocalCursor& c = Open();
    Row row;
    row.Name = "n";
    for (row.ID = 0; row.ID < 2000; ++row.ID) ASSERT_EQ(Insert(c, row), 0);
    row.ID = 5000;
    row.Note = std::string(3 << 20, 'm');
    ASSERT_EQ(Insert(c, row), 0);
    const int32_t files_after = OpenFileCount();
    if (disable)
      EXPECT_EQ(files_after, files_before);
    else
      EXPECT_GT(files_after, files_before);
    c.SetIndexName(u"BY_ID");
    EXPECT_EQ(c.GetRecordCount(), 2001);
    ASSERT_TRUE(MoveToID(c, 5000));
    EXPECT_EQ(ReadMemo(c, kNote).size(), size_t{3} << 20);
    SetAvailableMemoryProvider({});
    for (auto& [cursor, buffer] : FCursors) cursor->FreeRecordBuffer(buffer);
    for (auto& [cursor, buffer] : FCursors) cursor->CloseTable();
    FCursors.clear();
    TORBLocalCursor dropper;
    dropper.FSession = &FSession;
    dropper.FTableName = FTableName;
    dropper.DeleteTable();
  }
}

// DISTINCT into a temporary table: every row is posted and the unique
// index refuses a duplicate (a temporary table has no constraints to
// check beforehand), which is then cancelled; the refused rows leave
// nothing behind, neither records nor BLOB values.
TEST_F(TemporaryTableCursorTest, UniqueIndexRefusesDuplicatesThatAreThenCancelled) {
  TORBIndexDefs indexes;
  AddIndexDef(indexes, "TEMPORARY_INDEX_1", {u"GRP"}, true);
  CreateStandardTable(indexes);
  TORBLocalCursor& c = Open();
  const std::vector<int32_t> groups{1, 2, 1, 3, 2, 1};
  std::vector<int32_t> codes;
  for (size_t i = 0; i < groups.size(); ++i) {
    c.InternalInitRecord(c.FCurrentRecordBuffer, true);
    SetInt(c, kID, static_cast<int32_t>(i));
    SetInt(c, kGroup, groups[i]);
    WriteMemo(c, kNote, "note " + std::to_string(i), true);
    // A constraint check finds nothing to refuse here: only the index does.
    EXPECT_TRUE(c.CheckConstraints(true));
    codes.push_back(RaisedCode([&] { c.InternalPost(true); }));
    if (codes.back() != 0) c.InternalCancel(true);
  }
  const int32_t dup = kErrIndexDuplicateKey;
  EXPECT_EQ(codes, (std::vector<int32_t>{0, 0, dup, 0, dup, dup}));
  c.SetIndexName(u"TEMPORARY_INDEX_1");
  EXPECT_EQ(c.GetRecordCount(), 3);
  EXPECT_EQ(Walk(c), (std::vector<int32_t>{0, 1, 3}));
  c.SetIndexName(u"");
  EXPECT_EQ(Walk(c), (std::vector<int32_t>{0, 1, 3}));
  for (const int32_t id : {0, 1, 3}) {
    ASSERT_TRUE(MoveToID(c, id));
    EXPECT_EQ(ReadMemo(c, kNote), "note " + std::to_string(id));
  }
  // A later row with a new key still goes in, and is found by its key.
  EXPECT_EQ(Insert(c, Row{7, "", 0, false, "seven", 4}), 0);
  EXPECT_EQ(c.GetRecordCount(), 4);
  ASSERT_TRUE(MoveToID(c, 7));
  EXPECT_EQ(ReadMemo(c, kNote), "seven");
}

}  // namespace
}  // namespace orb::test
