// The disk database data on its own: connects with simple session links,
// slots on failure, the table list, object ids and the tables lock.

#include <gtest/gtest.h>

#include <stdexcept>

#include "engine/base/error_codes.h"
#include "engine/disk/active_sessions_file.h"
#include "engine/disk/disk_database_data.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/disk/disk_session_link.h"
#include "engine/disk/table_lock_manager.h"
#include "engine/disk/table_locks_file.h"
#include "engine/platform/critical_section.h"
#include "engine/platform/file.h"
#include "engine/table/page_header.h"
#include "tests/support/disk_scratch.h"

namespace orb {
namespace {

using testing::DiskScratch;
using testing::ErrorCodeOf;

class Link : public TORBDiskSessionLink {
 public:
  explicit Link(bool multi_user = true) : FMulti(multi_user) {}
  int32_t GetSessionID() const override { return FId; }
  void SetSessionID(int32_t id) override { FId = id; }
  bool GetExclusive() const override { return false; }
  bool GetMultiUser() const override { return FMulti; }
  void SetMultiUser(bool multi_user) override { FMulti = multi_user; }
  void SetRepairNeeded(bool repair) override { FRepair = repair; }
  bool GetInTransaction() const override { return FInTransaction; }

  int32_t FId = -1;
  bool FMulti;
  bool FRepair = true;
  bool FInTransaction = false;
};

// Fails right after the session got its slot.
class FailingAfterSlot : public TORBDiskDatabaseData {
 public:
  using TORBDiskDatabaseData::TORBDiskDatabaseData;
  bool FFail = true;

 protected:
  void SessionIdAssigned(TORBSessionLink*) override {
    if (FFail) throw std::runtime_error("injected");
  }
};

class DiskDatabaseDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TORBDiskDatabaseSettings settings;
    settings.MaxSessionCount = 4;
    TORBDiskDatabaseData creator(FDir.WFile("db.orb"), u"", settings);
    creator.CreateDatabase();
  }
  DiskScratch FDir;
};

TEST_F(DiskDatabaseDataTest, FailureAfterTheSlotWasTakenGivesItBack) {
  FailingAfterSlot data(FDir.WFile("db.orb"), u"", {});
  Link keeper;
  data.FFail = false;
  data.ConnectSession(&keeper);
  EXPECT_FALSE(keeper.FRepair);
  data.FFail = true;
  Link failing;
  EXPECT_THROW(data.ConnectSession(&failing), std::runtime_error);
  EXPECT_EQ(failing.FId, -1);
  EXPECT_EQ(data.SessionCount(), 1);
  EXPECT_EQ(data.GetDBFileConnectionsCount(), 1);
  data.DisconnectSession(&keeper);
  EXPECT_FALSE(data.IsOpen());

  // As the first session: the database is closed again.
  EXPECT_THROW(data.ConnectSession(&failing), std::runtime_error);
  EXPECT_FALSE(data.IsOpen());
  // And in single-user mode the single-user connection goes back.
  Link single(false);
  EXPECT_THROW(data.ConnectSession(&single), std::runtime_error);
  data.FFail = false;
  Link other(true);
  data.ConnectSession(&other);
  EXPECT_EQ(data.GetDBFileConnectionsCount(), 1);
  data.DisconnectSession(&other);
}

TEST_F(DiskDatabaseDataTest, DisconnectReleasesTheSessionsTableLocks) {
  TORBDiskDatabaseData data(FDir.WFile("db.orb"), u"", {});
  Link a, b;
  data.ConnectSession(&a);
  data.ConnectSession(&b);
  TORBTableLocksFile* locks = nullptr;
  std::unique_ptr<TORBTableLocksFile> owned;
  {
    TCriticalSectionGuard guard(data.CSect());
    owned = std::make_unique<TORBTableLocksFile>(data.DiskPageManager());
    const int32_t page = owned->CreateFile(data.GetMaxSessionCount());
    data.DiskPageManager()->ApplyChanges(TORBPageManager::kSystemSession);
    owned->OpenFile(page);
    locks = owned.get();
  }
  ASSERT_TRUE(data.TableLockManager()->LockTable(a.FId, ltX, *locks, 1, 0));
  EXPECT_FALSE(data.TableLockManager()->LockTable(b.FId, ltS, *locks, 1, 0));
  const int32_t slot = a.FId;
  data.DisconnectSession(&a);
  EXPECT_TRUE(data.TableLockManager()->SessionLocks(slot).Empty());
  EXPECT_TRUE(data.TableLockManager()->LockTable(b.FId, ltS, *locks, 1, 0));
  EXPECT_TRUE(data.TableLockManager()->UnlockTable(b.FId, ltS, *locks));
  owned.reset();
  data.DisconnectSession(&b);
}

TEST_F(DiskDatabaseDataTest, MultiUserCommitLocksTheChangedTablesAndReleasesThemWhenItFails) {
  TORBDiskDatabaseData data(FDir.WFile("db.orb"), u"", {});
  Link a, b;
  data.ConnectSession(&a);
  data.ConnectSession(&b);
  TORBDatabaseTableLockManager& manager = *data.TableLockManager();
  manager.SetInternalRetries(5, 1, 2, 1);
  TCriticalSectionGuard guard(data.CSect());
  TORBDiskPageManager& pm = *data.DiskPageManager();
  TORBTableLocksFile locks(&pm);
  const int32_t locks_page = locks.CreateFile(data.GetMaxSessionCount());
  pm.ApplyChanges(TORBPageManager::kSystemSession);
  locks.OpenFile(locks_page);
  auto add_page = [&] {
    TORBPageGuard page = pm.AddPageGuard(a.FId, kPageTypeTableRecord);
    page.MarkDirty();
  };

  // Another session reading the table keeps the commit's ltRW out: 20233,
  // nothing written, the transaction still open with its locks.
  ASSERT_TRUE(manager.LockTable(a.FId, ltXIRW, locks, 1, 0));
  add_page();
  ASSERT_TRUE(manager.LockTable(b.FId, ltS, locks, 1, 0));
  EXPECT_EQ(ErrorCodeOf([&] { data.Commit(a.FId, false); }), 20233);
  EXPECT_TRUE(pm.HasPendingChanges(a.FId));
  EXPECT_FALSE(manager.SessionLocks(a.FId).Empty());
  ASSERT_TRUE(manager.UnlockTable(b.FId, ltS, locks));

  // A commit that fails while writing leaves no lock behind.
  pm.DatabaseFile().InjectFault(EIO, TPlatformFile::kFaultFlush);
  EXPECT_NE(ErrorCodeOf([&] { data.Commit(a.FId, true); }), 0);
  pm.DatabaseFile().InjectFault(0, TPlatformFile::kFaultFlush);
  EXPECT_TRUE(manager.SessionLocks(a.FId).Empty());
  EXPECT_TRUE(manager.LockTable(b.FId, ltX, locks, 1, 0));
  EXPECT_TRUE(manager.UnlockTable(b.FId, ltX, locks));
  data.Rollback(a.FId);
  EXPECT_FALSE(pm.HasPendingChanges(a.FId));

  // A commit that succeeds ends the transaction's locks too.
  ASSERT_TRUE(manager.LockTable(a.FId, ltXIRW, locks, 1, 0));
  add_page();
  data.Commit(a.FId, true);
  EXPECT_TRUE(manager.SessionLocks(a.FId).Empty());
  locks.CloseFile();
  data.DisconnectSession(&a);
  data.DisconnectSession(&b);
}

TEST_F(DiskDatabaseDataTest, TableListOperationsSaveTheListThroughTheSystemSession) {
  {
    TORBDiskDatabaseData data(FDir.WFile("db.orb"), u"", {});
    Link link;
    data.ConnectSession(&link);
    data.LockTables();
    data.AddTable(data.GetNewObjectId(), u"Orders", 10, 11, 12);
    data.AddTable(data.GetNewObjectId(), u"Items", 13, 14, 15);
    data.RenameTable(u"ITEMS", u"Lines");
    // Saved through the system session, which the table code applies.
    {
      TCriticalSectionGuard guard(data.CSect());
      data.DiskPageManager()->ApplyChanges(TORBPageManager::kSystemSession);
    }
    data.UnlockTables();
    data.DisconnectSession(&link);
  }
  TORBDiskDatabaseData data(FDir.WFile("db.orb"), u"", {});
  Link link;
  data.ConnectSession(&link);
  std::vector<std::u16string> names;
  data.GetTablesList(names);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Orders", u"Lines"}));
  int32_t id = 0, metadata = 0, most_updated = 0, locks = 0;
  data.OpenTable(u"lines", id, metadata, most_updated, locks);
  EXPECT_EQ(metadata, 13);
  EXPECT_EQ(locks, 15);
  data.RemoveTable(u"Orders");
  data.GetTablesList(names);
  // Left unapplied, the saved list makes the close fail, reported.
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Lines"}));
  // Object ids keep growing across opens.
  const int32_t next = data.GetNewObjectId();
  EXPECT_GT(next, id);
  EXPECT_EQ(ErrorCodeOf([&] { data.DisconnectSession(&link); }), 20097);
  EXPECT_FALSE(data.IsOpen());
  EXPECT_EQ(data.SessionCount(), 0);
}

TEST_F(DiskDatabaseDataTest, ClosedDatabaseRefusesItsOperationsWithTheirCodes) {
  TORBDiskDatabaseData data(FDir.WFile("db.orb"), u"", {});
  int32_t a = 0, b = 0, c = 0, d = 0;
  EXPECT_EQ(ErrorCodeOf([&] { data.OpenTable(u"T", a, b, c, d); }), 20129);
  EXPECT_EQ(ErrorCodeOf([&] { data.RemoveTable(u"T"); }), 20130);
  EXPECT_EQ(ErrorCodeOf([&] { data.RenameTable(u"T", u"U"); }), 20131);
  EXPECT_EQ(ErrorCodeOf([&] { data.GetNewObjectId(); }), kErrDatabaseNotOpen);
  EXPECT_EQ(ErrorCodeOf([&] { data.Commit(0, true); }), kErrDatabaseNotOpen);
  EXPECT_EQ(ErrorCodeOf([&] { data.UnlockTables(); }), 20211);
  EXPECT_EQ(ErrorCodeOf([&] { data.CreateTableData(nullptr); }), kErrDatabaseNotOpen);
  EXPECT_EQ(ErrorCodeOf([&] { data.RepairTableData(u"T"); }), kErrDatabaseNotOpen);
  EXPECT_EQ(data.GetDBFileConnectionsCount(), 0);
}

TEST_F(DiskDatabaseDataTest, TablesLockIsHeldAgainstASecondOpen) {
  TORBDiskDatabaseData first(FDir.WFile("db.orb"), u"", {});
  Link a;
  first.ConnectSession(&a);
  first.LockTables();
  // A second open of the file in this process stands for another process.
  TORBDiskPageManager other;
  bool ro = false, repair = false, multi = true;
  other.OpenDatabase(FDir.WFile("db.orb"), TORBPassword{}, ro, repair, false, multi);
  EXPECT_FALSE(other.LockTables());
  first.UnlockTables();
  EXPECT_TRUE(other.LockTables());
  EXPECT_TRUE(other.UnlockTables());
  EXPECT_EQ(ErrorCodeOf([&] { first.UnlockTables(); }), 20211);
  other.CloseDatabase();
  first.DisconnectSession(&a);
}

}  // namespace
}  // namespace orb
