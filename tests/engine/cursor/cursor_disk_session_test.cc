// Two multi-user sessions of one process on a database file, each on its
// own thread: a cursor waiting for a lock lets the holder finish.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "engine/platform/clock.h"
#include "tests/engine/cursor/disk_cursor_rows.h"
#include "tests/support/disk_scratch.h"

namespace orb {
namespace {

using cursortest::CreateRowsDatabase;
using cursortest::MakeFileSession;
using cursortest::TRowCursor;
using testing::DiskScratch;

TEST(CursorDiskSessionTest, WaitForALockLetsTheHolderOfThisProcessRelease) {
  // The holder edits row 1, outside or inside a transaction (which locks
  // the table as well), and gives up after 100 ms; the waiter, allowed a
  // second, gets the row, respectively row 2 of the table.
  for (const bool in_transaction : {false, true}) {
    SCOPED_TRACE(in_transaction ? "table lock" : "row lock");
    DiskScratch dir;
    const std::string path = dir.File("db.orb");
    CreateRowsDatabase(path);
    auto waiter = MakeFileSession(path, true);
    auto holder = MakeFileSession(path, true);
    waiter->SetConnected(true);
    holder->SetConnected(true);
    {
      TRowCursor waiting(*waiter, 40, 25);
      ASSERT_EQ(waiting.Insert(1, 10), 0);
      ASSERT_EQ(waiting.Insert(2, 20), 0);
      TRowCursor holding(*holder);
      if (in_transaction) holder->StartTransaction();
      ASSERT_TRUE(holding.MoveTo(1));
      ASSERT_EQ(holding.Edit(), 0);
      std::thread release([&] {
        SleepMs(100);
        holding.Cancel();
        if (in_transaction) holder->Rollback();
      });
      ASSERT_TRUE(waiting.MoveTo(in_transaction ? 2 : 1));
      const int32_t status = waiting.Edit();
      release.join();
      EXPECT_EQ(status, 0);
      if (status == 0) {
        EXPECT_EQ(waiting.Post(99), 0);
      }
    }
    holder->SetConnected(false);
    waiter->SetConnected(false);
  }
}

TEST(CursorDiskSessionTest, EditThatFailsAfterTakingItsLocksGivesThemBack) {
  DiskScratch dir;
  const std::string path = dir.File("db.orb");
  CreateRowsDatabase(path);
  auto session = MakeFileSession(path, true);
  auto other = MakeFileSession(path, true);
  session->SetConnected(true);
  other->SetConnected(true);
  {
    TRowCursor rows(*session, 2, 1);
    ASSERT_EQ(rows.Insert(1, 10), 0);
    ASSERT_EQ(rows.Insert(2, 20), 0);
    ASSERT_TRUE(rows.MoveTo(2));
    // A bookmark naming no stored row: the re-read raises after the table
    // and row locks were taken.
    TORBLocalCursor& cursor = rows.Cursor();
    const TORBPageItemID shown = cursor.GetBookmark(cursor.FCurrentRecordBuffer);
    cursor.SetBookmark(cursor.FCurrentRecordBuffer, TORBPageItemID{1 << 30, 7});
    EXPECT_THROW(rows.Edit(), EORBException);
    cursor.SetBookmark(cursor.FCurrentRecordBuffer, shown);
    // Neither this session (a second edit lock would be refused) nor
    // another one finds anything still locked.
    ASSERT_EQ(rows.Edit(), 0);
    rows.Cancel();
    TRowCursor others(*other, 2, 1);
    ASSERT_TRUE(others.MoveTo(2));
    ASSERT_EQ(others.Edit(), 0);
    EXPECT_EQ(others.Post(22), 0);
  }
  other->SetConnected(false);
  session->SetConnected(false);
}

}  // namespace
}  // namespace orb
