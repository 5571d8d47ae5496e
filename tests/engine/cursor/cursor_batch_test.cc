// Batch updates: on a disk table the changes made in a batch are applied
// together when it ends and dropped when it is cancelled; in-memory tables
// apply each change at once.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/disk/integrity_tables.h"
#include "engine/platform/codepage.h"
#include "tests/engine/cursor/cursor_fixture.h"
#include "tests/engine/cursor/disk_cursor_rows.h"
#include "tests/support/disk_scratch.h"

namespace orb {
namespace {

using cursortest::CreateRowsDatabase;
using cursortest::MakeFileSession;
using cursortest::TRowCursor;
using testing::DiskScratch;
using Rows = std::vector<std::pair<int32_t, int32_t>>;

// Table T of a single-user file with rows 1..3 (VAL = 10 * ID) and a
// unique index on ID.
class DiskBatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FPath = FDir.File("db.orb");
    CreateRowsDatabase(FPath);
    Connect();
    for (int32_t id = 1; id <= 3; ++id) ASSERT_EQ(FRows->Insert(id, id * 10), 0);
    TORBIndexDefs indexes;
    TORBIndexDef* index = indexes.AddCreated();
    index->SetName(std::string_view("BY_ID"));
    index->SetColumnCount(1);
    index->GetIndexColumn(0)->SetFieldName(u"ID");
    index->FUnique = true;
    FRows->Cursor().AddIndex(*index);
  }
  void TearDown() override { Disconnect(); }

  void Connect() {
    FSession = MakeFileSession(FPath, false);
    FSession->SetConnected(true);
    FRows = std::make_unique<TRowCursor>(*FSession);
  }
  void Disconnect() {
    FRows.reset();
    if (FSession != nullptr) FSession->SetConnected(false);
    FSession.reset();
  }
  // The rows as a new connection reads them.
  Rows Reopened() {
    Disconnect();
    Connect();
    return FRows->Rows();
  }
  void ExpectClean() {
    Disconnect();
    const TORBIntegrityReport report = CheckDatabaseWithTables(PathToWide(FPath), {});
    std::string lines;
    for (const std::string& line : report.Lines()) lines += line + "\n";
    EXPECT_TRUE(report.IsOk()) << lines;
  }
  // Inserts row 4, fails on a duplicate of row 1, updates row 2 and
  // deletes row 3, inside a batch.
  void ChangeInBatch() {
    TORBLocalCursor& cursor = FRows->Cursor();
    cursor.BeginBatchUpdate();
    EXPECT_TRUE(cursor.FBatchUpdate);
    ASSERT_EQ(FRows->Insert(4, 40), 0);
    EXPECT_NE(FRows->Insert(1, 99), 0);
    ASSERT_TRUE(FRows->MoveTo(2));
    ASSERT_EQ(FRows->Edit(), 0);
    ASSERT_EQ(FRows->Post(22), 0);
    ASSERT_TRUE(FRows->MoveTo(3));
    ASSERT_EQ(FRows->Delete(), 0);
    EXPECT_EQ(FRows->Rows(), (Rows{{1, 10}, {2, 22}, {4, 40}}));
  }

  DiskScratch FDir;
  std::string FPath;
  std::unique_ptr<TORBLocalSession> FSession;
  std::unique_ptr<TRowCursor> FRows;
};

TEST_F(DiskBatchTest, EndAppliesEveryChangeOfTheBatch) {
  ChangeInBatch();
  FRows->Cursor().EndBatchUpdate();
  EXPECT_FALSE(FRows->Cursor().FBatchUpdate);
  EXPECT_EQ(Reopened(), (Rows{{1, 10}, {2, 22}, {4, 40}}));
  ExpectClean();
}

TEST_F(DiskBatchTest, CancelDropsEveryChangeAndTheTableGoesOn) {
  ChangeInBatch();
  TORBLocalCursor& cursor = FRows->Cursor();
  cursor.CancelBatchUpdate();
  EXPECT_FALSE(cursor.FBatchUpdate);
  EXPECT_EQ(FRows->Rows(), (Rows{{1, 10}, {2, 20}, {3, 30}}));
  EXPECT_EQ(cursor.GetRecordCount(), 3);
  // Row counts, free slots and the index are back: the same rows can be
  // changed again outside a batch.
  ASSERT_EQ(FRows->Insert(4, 41), 0);
  EXPECT_NE(FRows->Insert(3, 99), 0);
  EXPECT_EQ(Reopened(), (Rows{{1, 10}, {2, 20}, {3, 30}, {4, 41}}));
  ExpectClean();
}

TEST_F(DiskBatchTest, ClosingTheTableCancelsAnOpenBatch) {
  FRows->Cursor().BeginBatchUpdate();
  ASSERT_EQ(FRows->Insert(4, 40), 0);
  EXPECT_EQ(Reopened(), (Rows{{1, 10}, {2, 20}, {3, 30}}));
  ExpectClean();
}

TEST_F(DiskBatchTest, InsideATransactionTheBatchLeavesTheChangesToIt) {
  FSession->StartTransaction();
  TORBLocalCursor& cursor = FRows->Cursor();
  cursor.BeginBatchUpdate();
  EXPECT_FALSE(cursor.FBatchUpdate);
  ASSERT_EQ(FRows->Insert(4, 40), 0);
  cursor.CancelBatchUpdate();
  FSession->Commit(false);
  EXPECT_EQ(Reopened(), (Rows{{1, 10}, {2, 20}, {3, 30}, {4, 40}}));
}

// In-memory tables change in place: the batch closes without taking back
// what was applied, and no later rollback counts the batch's changes.
class MemoryBatchTest : public test::CursorTest {};

TEST_F(MemoryBatchTest, ChangesStayAndTheBatchDoesNotCountAsATransaction) {
  CreateStandardTable();
  TORBLocalCursor& c = Open();
  InsertRows(c, FiveRows());
  for (const bool end : {true, false}) {
    SCOPED_TRACE(end ? "end" : "cancel");
    c.BeginBatchUpdate();
    ASSERT_EQ(Insert(c, {end ? 6 : 7, "frank", 1, true, "", 1}), 0);
    if (end)
      c.EndBatchUpdate();
    else
      c.CancelBatchUpdate();
    EXPECT_FALSE(c.FBatchUpdate);
  }
  EXPECT_EQ(Walk(c), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7}));
  FSession.StartTransaction();
  EXPECT_NO_THROW(FSession.Rollback());
}

}  // namespace
}  // namespace orb
