// Cursors of two processes on one multi-user database file: the record
// operations refuse what another process changed, deleted or holds
// (tests/children/orb_cursor_disk_child).

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/disk/disk_table_data.h"
#include "tests/engine/cursor/disk_cursor_rows.h"
#include "tests/support/child_process.h"
#include "tests/support/disk_scratch.h"

namespace orb {
namespace {

using cursortest::CreateRowsDatabase;
using cursortest::kRowID;
using cursortest::MakeFileSession;
using cursortest::TRowCursor;
using testing::ChildProcess;
using testing::DiskScratch;

constexpr const char* kChild = "orb_cursor_disk_child";
using Rows = std::vector<std::pair<int32_t, int32_t>>;

class CursorDiskProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FPath = FDir.File("db.orb");
    CreateRowsDatabase(FPath);
    FSession = MakeFileSession(FPath, true);
    FSession->SetConnected(true);
    FRows = std::make_unique<TRowCursor>(*FSession);
    for (int32_t id = 1; id <= 3; ++id) ASSERT_EQ(FRows->Insert(id, id * 10), 0);
  }
  void TearDown() override {
    FRows.reset();
    FSession->SetConnected(false);
  }

  // A batch on this process's cursor: inserts row 10, updates row 1 and
  // deletes row 2, checks what this and another process see meanwhile, then
  // ends or cancels it.
  void RunBatch(bool end) {
    TORBLocalCursor& cursor = FRows->Cursor();
    cursor.BeginBatchUpdate();
    ASSERT_EQ(FRows->Insert(10, 100), 0);
    ASSERT_TRUE(FRows->MoveTo(1));
    ASSERT_EQ(FRows->Edit(), 0);
    ASSERT_EQ(FRows->Post(11), 0);
    ASSERT_TRUE(FRows->MoveTo(2));
    ASSERT_EQ(FRows->Delete(), 0);
    const Rows changed{{1, 11}, {3, 30}, {10, 100}};
    const Rows unchanged{{1, 10}, {2, 20}, {3, 30}};
    EXPECT_EQ(FRows->Rows(), changed);
    EXPECT_EQ(cursor.GetRecordCount(), 3);
    // Another process reads the table as it was, and cannot change it.
    EXPECT_EQ(RunChild({"rows", "0"}), "rows 1:10 2:20 3:30");
    EXPECT_EQ(RunChild({"update", "3", "31"}), "status " + std::to_string(kStatusTableLocked));
    if (end)
      cursor.EndBatchUpdate();
    else
      cursor.CancelBatchUpdate();
    EXPECT_FALSE(cursor.FBatchUpdate);
    const Rows& now = end ? changed : unchanged;
    EXPECT_EQ(FRows->Rows(), now);
    EXPECT_EQ(cursor.GetRecordCount(), 3);
    EXPECT_EQ(RunChild({"rows", "0"}), end ? "rows 1:11 3:30 10:100" : "rows 1:10 2:20 3:30");
    // The table is free again, and this cursor goes on as before.
    EXPECT_EQ(RunChild({"update", "3", "33"}), "status 0");
    EXPECT_EQ(FRows->Insert(20, 200), 0);
    // (Row 20 takes the slot row 2 left when the batch ended.)
    EXPECT_EQ(RunChild({"rows", "0"}),
              end ? "rows 1:11 20:200 3:33 10:100" : "rows 1:10 2:20 3:33 20:200");
  }

  // Runs the child to its end; returns its status line.
  std::string RunChild(const std::vector<std::string>& args) {
    std::vector<std::string> all{FPath};
    all.insert(all.end(), args.begin(), args.end());
    ChildProcess child(kChild, all);
    std::string line = child.ReadLine();
    EXPECT_EQ(child.Release(), 0) << line;
    return line;
  }
  // Starts a child that holds a row in edit; "" when it got its locks.
  std::string StartHolder(const std::string& mode, int32_t id, std::unique_ptr<ChildProcess>& child) {
    child = std::make_unique<ChildProcess>(kChild, std::vector<std::string>{FPath, mode, std::to_string(id)});
    std::string line = child->ReadLine();
    EXPECT_EQ(child->ReadLine(), "ready");
    return line == "status 0" ? "" : line;
  }
  // Another session of this process sets row `id`'s VAL to `val`.
  void UpdateInAnotherSession(int32_t id, int32_t val) {
    auto other = MakeFileSession(FPath, true);
    other->SetConnected(true);
    {
      TRowCursor rows(*other);
      ASSERT_TRUE(rows.MoveTo(id));
      ASSERT_EQ(rows.Edit(), 0);
      ASSERT_EQ(rows.Post(val), 0);
    }
    other->SetConnected(false);
  }
  // This session starts a transaction and sets row `id`'s VAL in it through
  // a cursor of its own.
  void UpdateInATransaction(int32_t id, int32_t val) {
    FSession->StartTransaction();
    TRowCursor rows(*FSession);
    ASSERT_TRUE(rows.MoveTo(id));
    ASSERT_EQ(rows.Edit(), 0);
    ASSERT_EQ(rows.Post(val), 0);
  }
  // Another session of this process can edit row `id`: nobody holds it or
  // the table any more.
  void ExpectRowFree(int32_t id) {
    auto other = MakeFileSession(FPath, true);
    other->SetConnected(true);
    {
      TRowCursor rows(*other, 2, 1);
      ASSERT_TRUE(rows.MoveTo(id));
      EXPECT_EQ(rows.Edit(), 0) << "row " << id << " is still locked";
      rows.Cancel();
    }
    other->SetConnected(false);
  }

  DiskScratch FDir;
  std::string FPath;
  std::unique_ptr<TORBLocalSession> FSession;
  std::unique_ptr<TRowCursor> FRows;
};

// The parent shows row 2 (VAL 20), a child changes or deletes it, and the
// parent's operation on the row as shown is refused with the child's
// change kept.
TEST_F(CursorDiskProcessTest, ChangesOfAnotherProcessAreRefused) {
  enum class Op { kEdit, kPost, kDelete };
  struct Case {
    const char* name;
    std::vector<std::string> child;
    Op op;
    int32_t status;
    Rows stored;
  };
  const std::vector<Case> cases = {
      {"edit of a modified row", {"update", "2", "77"}, Op::kEdit, kStatusUpdateModified, {{1, 10}, {2, 77}, {3, 30}}},
      {"post of a modified row", {"update", "2", "77"}, Op::kPost, kStatusUpdateModified, {{1, 10}, {2, 77}, {3, 30}}},
      {"delete of a modified row", {"update", "2", "77"}, Op::kDelete, kStatusDeleteModified,
       {{1, 10}, {2, 77}, {3, 30}}},
      {"edit of a deleted row", {"delete", "2"}, Op::kEdit, kStatusUpdateDeleted, {{1, 10}, {3, 30}}},
      {"post of a deleted row", {"delete", "2"}, Op::kPost, kStatusUpdateDeleted, {{1, 10}, {3, 30}}},
      {"delete of a deleted row", {"delete", "2"}, Op::kDelete, kStatusDeleteDeleted, {{1, 10}, {3, 30}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Back to the three rows as inserted.
    for (const auto& [id, val] : FRows->Rows()) {
      ASSERT_TRUE(FRows->MoveTo(id));
      ASSERT_EQ(FRows->Delete(), 0);
    }
    for (int32_t id = 1; id <= 3; ++id) ASSERT_EQ(FRows->Insert(id, id * 10), 0);
    ASSERT_TRUE(FRows->MoveTo(2));

    ASSERT_EQ(RunChild(c.child), "status 0");
    int32_t status = 0;
    if (c.op == Op::kEdit) status = FRows->Edit();
    if (c.op == Op::kPost) status = FRows->PostDirect(55);
    if (c.op == Op::kDelete) status = FRows->Delete();
    EXPECT_EQ(status, c.status);
    // The screen keeps the row as the user had it.
    EXPECT_EQ(FRows->Val(), c.op == Op::kPost ? 55 : 20);
    EXPECT_EQ(FRows->Rows(), c.stored);
    if (c.op == Op::kEdit) FRows->Cancel();
    // Nothing stays locked after the refusal, in either process.
    ExpectRowFree(1);
    ASSERT_EQ(RunChild({"update", "1", "10"}), "status 0");
  }
}

TEST_F(CursorDiskProcessTest, RowInEditInAnotherProcessIsLockedUntilItEnds) {
  std::unique_ptr<ChildProcess> holder;
  ASSERT_EQ(StartHolder("hold-record", 2, holder), "");
  ASSERT_TRUE(FRows->MoveTo(2));
  EXPECT_TRUE(FRows->Cursor().IsRecordLocked());
  EXPECT_EQ(FRows->Edit(), kStatusRecordLocked);
  EXPECT_EQ(FRows->Delete(), kStatusRecordLocked);
  // Other rows and inserts go ahead.
  ASSERT_TRUE(FRows->MoveTo(3));
  EXPECT_FALSE(FRows->Cursor().IsRecordLocked());
  ASSERT_EQ(FRows->Edit(), 0);
  EXPECT_EQ(FRows->Post(31), 0);
  EXPECT_EQ(FRows->Insert(4, 40), 0);
  EXPECT_EQ(holder->Release(), 0);

  ASSERT_TRUE(FRows->MoveTo(2));
  EXPECT_FALSE(FRows->Cursor().IsRecordLocked());
  ASSERT_EQ(FRows->Edit(), 0);
  EXPECT_EQ(FRows->Post(21), 0);
  EXPECT_EQ(FRows->Rows(), (Rows{{1, 10}, {2, 21}, {3, 31}, {4, 40}}));
}

TEST_F(CursorDiskProcessTest, TableInATransactionOfAnotherProcessIsLocked) {
  std::unique_ptr<ChildProcess> holder;
  ASSERT_EQ(StartHolder("hold-table", 2, holder), "");
  // Reading goes on; every change needs the table.
  EXPECT_EQ(FRows->Rows(), (Rows{{1, 10}, {2, 20}, {3, 30}}));
  ASSERT_TRUE(FRows->MoveTo(3));
  EXPECT_EQ(FRows->Edit(), kStatusTableLocked);
  EXPECT_EQ(FRows->PostDirect(33), kStatusTableLocked);
  EXPECT_EQ(FRows->Delete(), kStatusTableLocked);
  EXPECT_EQ(FRows->Insert(4, 40), kStatusTableLocked);
  EXPECT_EQ(holder->Release(), 0);

  ASSERT_TRUE(FRows->MoveTo(3));
  ASSERT_EQ(FRows->Edit(), 0);
  EXPECT_EQ(FRows->Post(33), 0);
  EXPECT_EQ(FRows->Rows(), (Rows{{1, 10}, {2, 20}, {3, 33}}));
}

TEST_F(CursorDiskProcessTest, DeleteGivesBackTheRowLockItTook) {
  // The cursor moves on to the next row when its row goes; that row stays
  // free for other processes, and this session can lock rows again.
  ASSERT_TRUE(FRows->MoveTo(1));
  ASSERT_EQ(FRows->Delete(), 0);
  EXPECT_EQ(RunChild({"update", "2", "25"}), "status 0");
  ASSERT_TRUE(FRows->MoveTo(3));
  ASSERT_EQ(FRows->Edit(), 0);
  EXPECT_EQ(FRows->Post(35), 0);
  EXPECT_EQ(FRows->Rows(), (Rows{{2, 25}, {3, 35}}));
}

TEST_F(CursorDiskProcessTest, RowLockOfAKilledProcessIsFreed) {
  std::unique_ptr<ChildProcess> holder;
  ASSERT_EQ(StartHolder("hold-record", 2, holder), "");
  ASSERT_TRUE(FRows->MoveTo(2));
  EXPECT_EQ(FRows->Edit(), kStatusRecordLocked);
  holder->Kill();
  ASSERT_EQ(FRows->Edit(), 0);
  EXPECT_EQ(FRows->Post(22), 0);
  EXPECT_EQ(FRows->Rows(), (Rows{{1, 10}, {2, 22}, {3, 30}}));
}

TEST_F(CursorDiskProcessTest, TwoProcessesCountingOnOneRowLoseNoUpdate) {
  constexpr int kTimes = 200;
  ChildProcess first(kChild, {FPath, "count", "1", std::to_string(kTimes)});
  ChildProcess second(kChild, {FPath, "count", "1", std::to_string(kTimes)});
  EXPECT_EQ(first.ReadLine(), "ready");
  EXPECT_EQ(second.ReadLine(), "ready");
  EXPECT_EQ(first.ReadLine(), "done");
  EXPECT_EQ(second.ReadLine(), "done");
  EXPECT_EQ(first.Release(), 0);
  EXPECT_EQ(second.Release(), 0);
  ASSERT_TRUE(FRows->MoveTo(1));
  EXPECT_EQ(FRows->Val(), 10 + 2 * kTimes);
}

// A walk in stored order is part-way through the rows of one page when a
// change is committed to rows further on that page; the walk's next steps
// return the rows as committed, whoever made the change.
TEST_F(CursorDiskProcessTest, WalkSeesChangesCommittedBetweenItsSteps) {
  struct Case {
    const char* name;
    std::function<void()> change;
    Rows rest;
  };
  const std::vector<Case> cases = {
      {"child updates the next row", [&] { ASSERT_EQ(RunChild({"update", "2", "77"}), "status 0"); },
       {{2, 77}, {3, 30}, {4, 40}, {5, 50}}},
      {"child updates a later row", [&] { ASSERT_EQ(RunChild({"update", "4", "77"}), "status 0"); },
       {{2, 20}, {3, 30}, {4, 77}, {5, 50}}},
      {"child deletes a later row", [&] { ASSERT_EQ(RunChild({"delete", "3"}), "status 0"); },
       {{2, 20}, {4, 40}, {5, 50}}},
      {"child inserts rows", [&] { ASSERT_EQ(RunChild({"insert", "10", "2"}), "status 0"); },
       {{2, 20}, {3, 30}, {4, 40}, {5, 50}, {10, 0}, {11, 0}}},
      {"another session of this process updates a row",
       [&] { UpdateInAnotherSession(3, 77); },
       {{2, 20}, {3, 77}, {4, 40}, {5, 50}}},
      {"this session updates a row in a transaction",
       [&] { UpdateInATransaction(3, 77); },
       {{2, 20}, {3, 77}, {4, 40}, {5, 50}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& [id, val] : FRows->Rows()) {
      ASSERT_TRUE(FRows->MoveTo(id));
      ASSERT_EQ(FRows->Delete(), 0);
    }
    for (int32_t id = 1; id <= 5; ++id) ASSERT_EQ(FRows->Insert(id, id * 10), 0);
    // Two walks: the first step of the second one comes after the first
    // walk has read the page once.
    for (int pass = 0; pass < 2; ++pass) {
      FRows->Cursor().InternalFirst();
      ASSERT_EQ(FRows->Cursor().GetRecordBuffer(grmNext), grrOK);
    }
    ASSERT_EQ(FRows->Id(), 1);
    c.change();
    Rows rest;
    while (FRows->Cursor().GetRecordBuffer(grmNext) == grrOK) rest.emplace_back(*FRows->Id(), *FRows->Val());
    EXPECT_EQ(rest, c.rest);
    if (FSession->GetInTransaction()) FSession->Commit(false);
  }
}

// A key search reads the row it finds in its locked step; the read of the
// current row that follows shows what was committed in between, whoever
// committed it.
TEST_F(CursorDiskProcessTest, CurrentRowAfterAKeySearchShowsChangesCommittedSince) {
  TORBLocalCursor& cursor = FRows->Cursor();
  TORBIndexDef index;
  index.SetName(std::string_view("BY_ID"));
  index.SetColumnCount(1);
  index.GetIndexColumn(0)->SetFieldName(u"ID");
  cursor.AddIndex(index);
  cursor.SetIndexName(u"BY_ID");
  uint8_t* key = cursor.AllocateKeyRecordBuffer();
  cursor.FKeyBuffer = key;
  // Finds row 2 and reads it as the current row, `change` run in between.
  auto find_then_read = [&](const std::function<void()>& change) {
    cursor.InternalInitKeyBuffer(key);
    TORBVariant id(bftSignedInt32);
    id.SetAsInteger(2);
    cursor.SetFieldValue(id, kRowID, false, key);
    EXPECT_TRUE(cursor.FindKey(scEqual));
    change();
    return cursor.GetRecordBuffer(grmCurrent);
  };
  struct Case {
    const char* name;
    std::function<void()> change;
    std::optional<int32_t> val;  // none: the row is gone
  };
  std::unique_ptr<TRowCursor> batch;
  const std::vector<Case> cases = {
      {"nothing changes", [] {}, 20},
      {"child updates the row", [&] { ASSERT_EQ(RunChild({"update", "2", "77"}), "status 0"); }, 77},
      {"child updates another row", [&] { ASSERT_EQ(RunChild({"update", "3", "31"}), "status 0"); }, 20},
      {"child deletes the row", [&] { ASSERT_EQ(RunChild({"delete", "2"}), "status 0"); }, std::nullopt},
      {"another session of this process updates the row",
       [&] { UpdateInAnotherSession(2, 78); },
       78},
      {"another cursor of this session updates the row in a batch",
       [&] {
         batch = std::make_unique<TRowCursor>(*FSession);
         batch->Cursor().BeginBatchUpdate();
         ASSERT_TRUE(batch->MoveTo(2));
         ASSERT_EQ(batch->Edit(), 0);
         ASSERT_EQ(batch->Post(80), 0);
       },
       80},
      {"this session updates the row in a transaction",
       [&] { UpdateInATransaction(2, 79); },
       79},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!FRows->MoveTo(2)) {
      ASSERT_EQ(FRows->Insert(2, 20), 0);
    }
    ASSERT_TRUE(FRows->MoveTo(2));
    ASSERT_EQ(FRows->Edit(), 0);
    ASSERT_EQ(FRows->Post(20), 0);
    const TORBGetRecordResult result = find_then_read(c.change);
    if (!c.val) {
      EXPECT_NE(result, grrOK);
    } else {
      EXPECT_EQ(result, grrOK);
      EXPECT_EQ(FRows->Id(), 2);
      EXPECT_EQ(FRows->Val(), c.val);
    }
    if (FSession->GetInTransaction()) FSession->Commit(false);
    if (batch) {
      batch->Cursor().EndBatchUpdate();
      batch.reset();
    }
  }
  cursor.FKeyBuffer = nullptr;
  cursor.FreeKeyRecordBuffer(key);
}

// The same for rows several pages further on than the walk.
TEST_F(CursorDiskProcessTest, WalkSeesChangesCommittedOnLaterPages) {
  ASSERT_EQ(RunChild({"insert", "100", "2000"}), "status 0");
  FRows->Cursor().InternalFirst();
  ASSERT_EQ(FRows->Cursor().GetRecordBuffer(grmNext), grrOK);
  const int32_t first_page = FRows->Cursor().GetCurrentRecordID().PageNo;
  ASSERT_EQ(RunChild({"update", "2000", "77"}), "status 0");
  ASSERT_EQ(RunChild({"delete", "1500"}), "status 0");
  Rows rest;
  int32_t last_page = first_page;
  while (FRows->Cursor().GetRecordBuffer(grmNext) == grrOK) {
    rest.emplace_back(*FRows->Id(), *FRows->Val());
    last_page = FRows->Cursor().GetCurrentRecordID().PageNo;
  }
  EXPECT_NE(last_page, first_page);
  Rows expected{{2, 20}, {3, 30}};
  for (int32_t id = 100; id < 2100; ++id)
    if (id != 1500) expected.emplace_back(id, id == 2000 ? 77 : 0);
  EXPECT_EQ(rest, expected);
}

// A walk part-way through many pages when another process deletes every row
// of a stretch of pages ahead of it (the pages leave the table) and adds
// rows: the walk goes on past the stretch and ends as a fresh walk of the
// other process does.
TEST_F(CursorDiskProcessTest, WalkFollowsPagesRemovedByAnotherProcess) {
  ASSERT_EQ(RunChild({"insert", "100", "3000"}), "status 0");
  FRows->Cursor().InternalFirst();
  for (int step = 0; step < 10; ++step) ASSERT_EQ(FRows->Cursor().GetRecordBuffer(grmNext), grrOK);
  ASSERT_EQ(FRows->Id(), 106);
  ASSERT_EQ(RunChild({"delete-range", "600", "1400"}), "status 0");
  ASSERT_EQ(RunChild({"insert", "5000", "5"}), "status 0");
  std::string rest;
  while (FRows->Cursor().GetRecordBuffer(grmNext) == grrOK)
    rest += " " + std::to_string(*FRows->Id()) + ":" + std::to_string(*FRows->Val());
  const std::string all = RunChild({"rows", "0"});
  const std::string walked = "rows 1:10 2:20 3:30 100:0 101:0 102:0 103:0 104:0 105:0 106:0";
  ASSERT_EQ(all.substr(0, walked.size()), walked);
  EXPECT_EQ(rest, all.substr(walked.size()));
  EXPECT_EQ(rest.find(" 600:0"), std::string::npos);
  EXPECT_NE(rest.find(" 599:0 2000:0"), std::string::npos);
  EXPECT_NE(rest.find(" 5004:0"), std::string::npos);
}

TEST_F(CursorDiskProcessTest, OpenCursorSeesRowsInsertedByAnotherProcess) {
  ASSERT_EQ(FRows->Cursor().GetRecordCount(), 3);
  ASSERT_EQ(RunChild({"insert", "10", "50"}), "status 0");
  EXPECT_EQ(FRows->Cursor().GetRecordCount(), 53);
  const Rows rows = FRows->Rows();
  ASSERT_EQ(rows.size(), 53u);
  EXPECT_EQ(rows.back(), (std::pair<int32_t, int32_t>{59, 0}));
  // The table state read back lets this process go on inserting.
  EXPECT_EQ(FRows->Insert(100, 1), 0);
  EXPECT_EQ(FRows->Cursor().GetRecordCount(), 54);
}

TEST_F(CursorDiskProcessTest, EndedBatchUpdateIsAppliedAtOnce) { RunBatch(true); }

TEST_F(CursorDiskProcessTest, CancelledBatchUpdateLeavesNoTrace) { RunBatch(false); }

// A single-user process that finds the file open in this one is read-only:
// every change through its cursors is refused with the operation's code,
// and the file keeps what it held.
TEST_F(CursorDiskProcessTest, ReadOnlyProcessIsRefusedEveryChange) {
  TORBLocalCursor& cursor = FRows->Cursor();
  TORBIndexDef index;
  index.SetName(std::string_view("BY_ID"));
  index.SetColumnCount(1);
  index.GetIndexColumn(0)->SetFieldName(u"ID");
  cursor.AddIndex(index);
  ChildProcess child(kChild, {FPath, "read-only-writes", "2"});
  std::vector<std::string> lines;
  for (std::string line = child.ReadLine(); !line.empty(); line = child.ReadLine()) lines.push_back(line);
  EXPECT_EQ(child.Release(), 0);
  auto refused = [](const std::string& op, int32_t code) { return op + " error " + std::to_string(code); };
  const std::vector<std::string> expected{
      "read-only 1",
      refused("insert", kErrPostReadOnly),
      refused("update", kErrPostReadOnly),
      refused("delete", kErrDeleteReadOnly),
      refused("rename-field", kErrRenameFieldReadOnly),
      refused("add-index", kErrAddIndexReadOnly),
      refused("delete-index", kErrDeleteIndexReadOnly),
      refused("delete-all-indexes", kErrDeleteAllIndexesReadOnly),
      refused("empty-table", kErrEmptyTableReadOnly),
      refused("rename-table", kErrRenameTableReadOnly),
      refused("delete-table", kErrDeleteTableReadOnly),
      refused("create-table", kErrCreateTableReadOnly),
  };
  EXPECT_EQ(lines, expected);
  // Nothing of it reached the file.
  FRows.reset();
  FSession->SetConnected(false);
  FSession->SetConnected(true);
  FRows = std::make_unique<TRowCursor>(*FSession);
  EXPECT_EQ(FRows->Rows(), (Rows{{1, 10}, {2, 20}, {3, 30}}));
  TORBLocalCursor& reopened = FRows->Cursor();
  ASSERT_EQ(reopened.FFieldDefs.GetCount(), 2);
  EXPECT_EQ(reopened.FFieldDefs.GetDef(1)->GetWideName(), u"VAL");
  TORBIndexDefs& indexes = reopened.GetIndexDefs();
  ASSERT_EQ(indexes.GetCount(), 1);
  EXPECT_EQ(indexes.GetDef(0)->GetWideName(), u"BY_ID");
  EXPECT_TRUE(FSession->TableExists(u"T"));
  EXPECT_FALSE(FSession->TableExists(u"U"));
  EXPECT_FALSE(FSession->TableExists(u"T2"));
}

// A child holds the table's write lock, as a post does while it writes,
// and changes row 2 before letting it go. An edit begun meanwhile reads the
// row only once the write is done, and finds it changed.
TEST_F(CursorDiskProcessTest, EditReadsTheRowAfterAWriteInProgress) {
  ASSERT_TRUE(FRows->MoveTo(2));
  ChildProcess writer(kChild, {FPath, "write-held", "2", "77"});
  ASSERT_EQ(writer.ReadLine(), "ready");
  EXPECT_EQ(FRows->Edit(), kStatusUpdateModified);
  EXPECT_EQ(FRows->Val(), 20) << "the screen keeps the row as shown";
  EXPECT_EQ(writer.ReadLine(), "status 0");
  EXPECT_EQ(writer.Release(), 0);
  EXPECT_EQ(FRows->Rows(), (Rows{{1, 10}, {2, 77}, {3, 30}}));
  ExpectRowFree(2);
}

// Numbers of table N's auto-increment field, posted by this process and by
// three others at the same time: each number is given once, also after the
// file is opened again.
TEST_F(CursorDiskProcessTest, AutoIncrementNumbersAreGivenOnceAcrossProcessesAndReopens) {
  cursortest::CreateNotesTable(*FSession);
  std::vector<int32_t> numbers;
  {
    cursortest::TNoteCursor notes(*FSession);
    for (int32_t i = 0; i < 3; ++i) numbers.push_back(notes.Insert("first"));
    EXPECT_EQ(numbers, (std::vector<int32_t>{1, 2, 3}));
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int32_t i = 0; i < 3; ++i)
      children.push_back(std::make_unique<ChildProcess>(kChild, std::vector<std::string>{FPath, "notes", "0", "20"}));
    for (int32_t i = 0; i < 20; ++i) numbers.push_back(notes.Insert("mine"));
    for (auto& child : children) {
      const std::string line = child->ReadLine();
      std::istringstream words(line);
      std::string head;
      words >> head;
      EXPECT_EQ(head, "notes") << line;
      for (int32_t no = 0; words >> no;) numbers.push_back(no);
      EXPECT_EQ(child->Release(), 0) << line;
    }
  }
  const std::set<int32_t> distinct(numbers.begin(), numbers.end());
  EXPECT_EQ(numbers.size(), 83u);
  EXPECT_EQ(distinct.size(), numbers.size()) << "a number was given twice";
  EXPECT_GT(*distinct.begin(), 0) << "a post failed";
  // The file opened again goes on after the highest number given.
  FRows.reset();
  FSession->SetConnected(false);
  FSession->SetConnected(true);
  FRows = std::make_unique<TRowCursor>(*FSession);
  {
    cursortest::TNoteCursor notes(*FSession);
    EXPECT_EQ(notes.Insert("after"), *distinct.rbegin() + 1);
  }
  EXPECT_EQ(RunChild({"notes", "0", "1"}), "notes " + std::to_string(*distinct.rbegin() + 2));
}

// A BLOB value read while another process holds table N's write lock:
// without its read lock the read fails with a code of its own.
TEST_F(CursorDiskProcessTest, BLOBReadWithoutItsReadLockRaisesItsOwnCode) {
  cursortest::CreateNotesTable(*FSession);
  cursortest::TNoteCursor notes(*FSession);
  ASSERT_EQ(notes.Insert("stored"), 1);
  ASSERT_TRUE(notes.MoveTo(1));
  TORBLocalCursor& c = notes.Cursor();
  auto* table = dynamic_cast<TORBDiskTableData*>(c.TableData());
  ASSERT_NE(table, nullptr);
  table->FReadLockWaits = {2, 5};
  ChildProcess writer(kChild, {FPath, "hold-write", "0"});
  ASSERT_EQ(writer.ReadLine(), "ready");
  EXPECT_EQ(test::RaisedCode([&] { table->GetDirectBlobData(c.GetSessionID(), cursortest::kNoteText, c.FCurrentRecordBuffer); }),
            kErrDiskBlobReadLocked);
  EXPECT_EQ(
      test::RaisedCode([&] { table->InternalCreateBlobStream(&c, cursortest::kNoteText, c.FCurrentRecordBuffer, false); }),
      kErrDiskBlobReadLocked);
  EXPECT_EQ(writer.Release(), 0);
  table->FReadLockWaits = {};
  EXPECT_EQ(table->GetDirectBlobData(c.GetSessionID(), cursortest::kNoteText, c.FCurrentRecordBuffer).empty(), false);
}

}  // namespace
}  // namespace orb
