#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/disk/free_space.h"
#include "engine/disk/internal_file.h"
#include "engine/platform/byte_order.h"
#include "engine/platform/clock.h"
#include "engine/table/page_header.h"
#include "tests/engine/disk/lock_test_support.h"

namespace orb {
namespace {

using testing::CreateLockDatabase;
using testing::DiskScratch;
using testing::ErrorCodeOf;
using testing::LockProcess;

constexpr int32_t kSys = TORBPageManager::kSystemSession;

// File offset of contents position `position` of the direct-access file
// starting at `first_page`.
int64_t ContentsOffset(TORBDiskPageManager& pm, uint16_t page_type, int32_t first_page, int32_t position) {
  TORBInternalDBDirectAccessFile file(&pm, page_type);
  file.OpenFile(first_page);
  int32_t page_no = 0;
  int32_t page_offset = 0;
  file.InternalSeek(position, page_no, page_offset);
  return pm.GetPageOffset(page_no) + page_offset;
}

// Two processes (two opens of one file) with one session each, over a
// database of 24 slots with 256-byte pages, so that the 288 bytes of a
// locks file span two pages.
class TableLockTest : public ::testing::Test {
 protected:
  static constexpr int32_t kM = 24;

  void SetUp() override {
    FPages = CreateLockDatabase(FDir.WFile("t.orb"), kM, 2);
    FA = std::make_unique<LockProcess>(FDir.WFile("t.orb"), FPages);
    FB = std::make_unique<LockProcess>(FDir.WFile("t.orb"), FPages);
    FSa = FA->sessions->MultiUserConnect();
    FSb = FB->sessions->MultiUserConnect();
  }

  TORBDatabaseTableLockManager& A() { return *FA->manager; }
  TORBDatabaseTableLockManager& B() { return *FB->manager; }
  TORBTableLocksFile& Fa(int table = 0) { return *FA->locks[table]; }
  TORBTableLocksFile& Fb(int table = 0) { return *FB->locks[table]; }
  const TORBTableLock& EntryOf(int32_t session, TORBLockType type, int table = 0) {
    const TORBTableLockList& list = A().SessionLocks(session);
    const size_t index = list.Find(type, FPages[table]);
    EXPECT_NE(index, TORBTableLockList::kNone);
    return list.Item(index);
  }

  DiskScratch FDir;
  std::vector<int32_t> FPages;
  std::unique_ptr<LockProcess> FA;
  std::unique_ptr<LockProcess> FB;
  int32_t FSa = -1;
  int32_t FSb = -1;
};

TEST_F(TableLockTest, SessionsGetDistinctSlots) {
  EXPECT_EQ(FSa, 0);
  EXPECT_EQ(FSb, 1);
  EXPECT_EQ(FA->sessions->GetMaxSessionCount(), kM);
  EXPECT_EQ(Fa().GetMaxSessionCount(), kM);
}

TEST_F(TableLockTest, LockMatrixBetweenTwoProcesses) {
  // Rows: held by A; columns: requested by B; in TORBLockType order
  // IS S SIRW XIRW RW U X.
  const char* kAllowed[kLockTypeCount] = {
      "YYYYYYN",  // ltIS
      "YYYYNYN",  // ltS
      "YYYNYYN",  // ltSIRW
      "YYNNNYN",  // ltXIRW
      "YNYNNYN",  // ltRW
      "YYYYYYN",  // ltU
      "NNNNNNN",  // ltX
  };
  for (int32_t h = 0; h < kLockTypeCount; ++h) {
    for (int32_t r = 0; r < kLockTypeCount; ++r) {
      const auto held = static_cast<TORBLockType>(h);
      const auto requested = static_cast<TORBLockType>(r);
      SCOPED_TRACE(std::string(LockTypeName(held)) + " held, " + LockTypeName(requested) + " requested");
      ASSERT_TRUE(A().LockTable(FSa, held, Fa(), 1, 0));
      const bool granted = B().LockTable(FSb, requested, Fb(), 1, 0);
      EXPECT_EQ(granted, kAllowed[h][r] == 'Y');
      if (granted) {
        EXPECT_TRUE(B().UnlockTable(FSb, requested, Fb()));
      }
      EXPECT_TRUE(A().UnlockTable(FSa, held, Fa()));
      EXPECT_TRUE(A().SessionLocks(FSa).Empty());
      EXPECT_TRUE(B().SessionLocks(FSb).Empty());
    }
  }
  // Another table is not affected.
  ASSERT_TRUE(A().LockTable(FSa, ltX, Fa(0), 1, 0));
  EXPECT_TRUE(B().LockTable(FSb, ltX, Fb(1), 1, 0));
  // ltXIRW may follow others' ltSIRW when the caller allows it.
  ASSERT_TRUE(A().UnlockTable(FSa, ltX, Fa(0)));
  ASSERT_TRUE(A().LockTable(FSa, ltSIRW, Fa(), 1, 0));
  EXPECT_FALSE(B().LockTable(FSb, ltXIRW, Fb(), 1, 0, false));
  EXPECT_TRUE(B().LockTable(FSb, ltXIRW, Fb(), 1, 0, true));
}

TEST_F(TableLockTest, NestedRequestsAreCounted) {
  ASSERT_TRUE(A().LockTable(FSa, ltS, Fa()));
  ASSERT_TRUE(A().LockTable(FSa, ltS, Fa()));
  EXPECT_EQ(EntryOf(FSa, ltS).LockCount, 2);
  EXPECT_FALSE(B().LockTable(FSb, ltRW, Fb(), 1, 0));
  ASSERT_TRUE(A().UnlockTable(FSa, ltS, Fa()));
  EXPECT_FALSE(B().LockTable(FSb, ltRW, Fb(), 1, 0));
  ASSERT_TRUE(A().UnlockTable(FSa, ltS, Fa()));
  EXPECT_TRUE(B().LockTable(FSb, ltRW, Fb(), 1, 0));
  ASSERT_TRUE(B().UnlockTable(FSb, ltRW, Fb()));

  // A second ltSIRW is refused at once, not waited for.
  ASSERT_TRUE(A().LockTable(FSa, ltSIRW, Fa()));
  const uint64_t start = GetTickCount();
  EXPECT_FALSE(A().LockTable(FSa, ltSIRW, Fa(), 1000, 1000));
  EXPECT_LT(GetTickCount() - start, 60000u);
  ASSERT_TRUE(A().UnlockTable(FSa, ltSIRW, Fa()));

  // Ignoring the count drops every nesting level.
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(A().LockTable(FSa, ltIS, Fa()));
  ASSERT_TRUE(A().UnlockTable(FSa, ltIS, Fa(), false, true));
  EXPECT_TRUE(A().SessionLocks(FSa).Empty());
  EXPECT_TRUE(B().LockTable(FSb, ltX, Fb(), 1, 0));
  ASSERT_TRUE(B().UnlockTable(FSb, ltX, Fb()));

  EXPECT_EQ(ErrorCodeOf([&] { A().UnlockTable(FSa, ltS, Fa()); }), 20202);
  EXPECT_TRUE(A().UnlockTable(FSa, ltS, Fa(), true));
}

TEST_F(TableLockTest, StrongerLockShortcutAndItsByteOnRelease) {
  ASSERT_TRUE(A().LockTable(FSa, ltX, Fa()));
  ASSERT_TRUE(A().LockTable(FSa, ltS, Fa()));
  EXPECT_TRUE(EntryOf(FSa, ltX).HasPhysicalLock);
  EXPECT_FALSE(EntryOf(FSa, ltS).HasPhysicalLock);
  EXPECT_FALSE(B().LockTable(FSb, ltIS, Fb(), 1, 0));

  // The ltS lock takes its byte before ltX goes.
  ASSERT_TRUE(A().UnlockTable(FSa, ltX, Fa()));
  EXPECT_TRUE(EntryOf(FSa, ltS).HasPhysicalLock);
  EXPECT_FALSE(B().LockTable(FSb, ltRW, Fb(), 1, 0));
  EXPECT_TRUE(B().LockTable(FSb, ltIS, Fb(), 1, 0));
  ASSERT_TRUE(B().UnlockTable(FSb, ltIS, Fb()));
  ASSERT_TRUE(A().UnlockTable(FSa, ltS, Fa()));
  EXPECT_TRUE(B().LockTable(FSb, ltRW, Fb(), 1, 0));
}

// A session holding ltX holds the table's file lock: releasing what it
// took before ltX must not wait for that lock (the releases below would
// run out of their retries).
TEST_F(TableLockTest, HolderOfExclusiveLockNeverWaitsOnItself) {
  const TORBPageItemID row{12, 3};
  ASSERT_TRUE(A().LockTable(FSa, ltIS, Fa()));
  ASSERT_TRUE(A().LockTable(FSa, ltSIRW, Fa()));
  ASSERT_TRUE(A().LockRecord(FSa, Fa(), row));
  ASSERT_TRUE(A().LockTable(FSa, ltX, Fa()));
  EXPECT_TRUE(A().UnlockRecord(FSa, Fa(), row));
  EXPECT_TRUE(A().UnlockTable(FSa, ltSIRW, Fa()));
  EXPECT_TRUE(A().UnlockTable(FSa, ltIS, Fa()));
  EXPECT_FALSE(B().LockTable(FSb, ltIS, Fb(), 1, 0));
  EXPECT_TRUE(A().UnlockTable(FSa, ltX, Fa()));
  EXPECT_TRUE(A().SessionLocks(FSa).Empty());
  EXPECT_TRUE(B().LockTable(FSb, ltX, Fb(), 1, 0));
}

TEST_F(TableLockTest, RowLocksBetweenProcesses) {
  const TORBPageItemID r1{5, 1};
  const TORBPageItemID r2{5, 2};
  ASSERT_TRUE(A().LockRecord(FSa, Fa(), r1));
  EXPECT_TRUE(B().IsRecordLocked(FSb, Fb(), r1));
  EXPECT_FALSE(B().IsRecordLocked(FSb, Fb(), r2));
  EXPECT_FALSE(A().IsRecordLocked(FSa, Fa(), r1));  // its own lock
  EXPECT_FALSE(B().LockRecord(FSb, Fb(), r1, 3, 5));
  EXPECT_TRUE(B().LockRecord(FSb, Fb(), r2, 1, 0));
  // One row per session and table.
  EXPECT_FALSE(A().LockRecord(FSa, Fa(), {9, 9}, 1, 0));
  EXPECT_TRUE(A().LockRecord(FSa, Fa(1), {9, 9}, 1, 0));
  // Only the row the session locked can be unlocked.
  EXPECT_FALSE(A().UnlockRecord(FSa, Fa(), r2));
  EXPECT_TRUE(B().IsRecordLocked(FSb, Fb(), r1));
  EXPECT_TRUE(A().UnlockRecord(FSa, Fa(), r1));
  EXPECT_FALSE(A().UnlockRecord(FSa, Fa(), r1));
  EXPECT_FALSE(B().IsRecordLocked(FSb, Fb(), r1));
  ASSERT_TRUE(B().UnlockRecord(FSb, Fb(), r2));
  EXPECT_TRUE(B().LockRecord(FSb, Fb(), r1, 1, 0));
  // Row locks stand against ltX.
  EXPECT_FALSE(A().LockTable(FSa, ltX, Fa(), 1, 0));
}

// A row lock taken under ltX has no byte; when ltX goes it takes its byte
// and stores its row id, so that other processes see the row as locked.
TEST_F(TableLockTest, RowLockUnderExclusiveLockStoresItsIdWhenMadePhysical) {
  const TORBPageItemID row{77, 4};
  ASSERT_TRUE(B().LockRecord(FSb, Fb(), {77, 5}));
  ASSERT_TRUE(B().UnlockRecord(FSb, Fb(), {77, 5}));
  ASSERT_TRUE(A().LockTable(FSa, ltX, Fa()));
  ASSERT_TRUE(A().LockRecord(FSa, Fa(), row));
  EXPECT_FALSE(EntryOf(FSa, ltU).HasPhysicalLock);
  ASSERT_TRUE(A().UnlockTable(FSa, ltX, Fa()));
  EXPECT_TRUE(EntryOf(FSa, ltU).HasPhysicalLock);
  EXPECT_EQ(Fb().ReadRecordID(FSa), row);
  EXPECT_TRUE(B().IsRecordLocked(FSb, Fb(), row));
  EXPECT_FALSE(B().LockRecord(FSb, Fb(), row, 1, 0));
  EXPECT_TRUE(B().LockRecord(FSb, Fb(), {77, 5}, 1, 0));
}

TEST_F(TableLockTest, StoredLayoutOfTheLocksAndSessionsFiles) {
  TORBDiskPageManager& pm = FA->pm;
  const int32_t first = FPages[0];
  const std::vector<uint8_t> raw_before = testing::ReadAll(FDir.File("t.orb"));
  const size_t header = static_cast<size_t>(pm.GetPageOffset(first));
  EXPECT_EQ(LoadU16LE(&raw_before[header + 8]), kPageTypeTableLocks);
  EXPECT_EQ(raw_before[header + 40], 10);
  EXPECT_EQ(LoadI32LE(&raw_before[header + 41]), 12 * kM);
  EXPECT_EQ(LoadI32LE(&raw_before[header + 45]), 0);
  EXPECT_EQ(raw_before[header + 49], 0);

  TORBTableLocksFile& f = Fa();
  EXPECT_EQ(f.GetTableLockByteNo(3, ltRW), 4 * kM + 3);
  EXPECT_EQ(f.GetRecordLockByteNo(3), 5 * kM + 3);
  EXPECT_EQ(f.GetRecordLockRecordIDByteNo(3), 6 * kM + 18);

  // Session 10's row id lies at positions 204..209, across the end of the
  // first page (206 contents bytes).
  ASSERT_TRUE(f.LockRecord(10, {0x01020304, 0x0506}));
  const std::vector<uint8_t> raw = testing::ReadAll(FDir.File("t.orb"));
  const uint8_t expected[6] = {0x04, 0x03, 0x02, 0x01, 0x06, 0x05};
  for (int32_t i = 0; i < 6; ++i) {
    const int64_t offset = ContentsOffset(pm, kPageTypeTableLocks, first, 6 * kM + 60 + i);
    EXPECT_EQ(raw[static_cast<size_t>(offset)], expected[i]) << i;
  }
  EXPECT_NE(ContentsOffset(pm, kPageTypeTableLocks, first, 6 * kM + 61) + 1,
            ContentsOffset(pm, kPageTypeTableLocks, first, 6 * kM + 62));
  // Its row byte, and a table byte, are locked at their file positions.
  TORBDatabaseFile& other = FB->pm.DatabaseFile();
  EXPECT_TRUE(other.IsByteLocked(ContentsOffset(pm, kPageTypeTableLocks, first, 5 * kM + 10)));
  ASSERT_TRUE(f.LockTable(10, ltXIRW));
  EXPECT_TRUE(other.IsByteLocked(ContentsOffset(pm, kPageTypeTableLocks, first, 3 * kM + 10)));
  EXPECT_FALSE(other.IsByteLocked(ContentsOffset(pm, kPageTypeTableLocks, first, 3 * kM + 11)));
  EXPECT_FALSE(f.LockTable(10, ltX));
  ASSERT_TRUE(f.UnlockTable(10, ltXIRW));
  ASSERT_TRUE(f.UnlockRecord(10));
  EXPECT_FALSE(other.IsByteLocked(ContentsOffset(pm, kPageTypeTableLocks, first, 5 * kM + 10)));

  // Sessions file: page type 5, M bytes, slot s at contents position s.
  const int32_t sessions = FA->sessions->GetStartPageNo();
  const size_t s_header = static_cast<size_t>(pm.GetPageOffset(sessions));
  EXPECT_EQ(LoadU16LE(&raw[s_header + 8]), kPageTypeActiveSessionList);
  EXPECT_EQ(LoadI32LE(&raw[s_header + 41]), kM);
  EXPECT_TRUE(other.IsByteLocked(ContentsOffset(pm, kPageTypeActiveSessionList, sessions, FSa)));
  EXPECT_FALSE(other.IsByteLocked(ContentsOffset(pm, kPageTypeActiveSessionList, sessions, 5)));
}

TEST_F(TableLockTest, FilesAreCreatedOpenedAndDeletedAsInternalFiles) {
  TORBDiskPageManager& pm = FA->pm;
  TORBActiveSessionsFile sessions(&pm);
  const int32_t sessions_page = sessions.CreateFile(300);
  TORBTableLocksFile locks(&pm);
  const int32_t locks_page = locks.CreateFile(30);
  EXPECT_FALSE(sessions.IsOpen());
  EXPECT_FALSE(locks.IsOpen());
  pm.ApplyChanges(kSys);

  sessions.OpenFile(sessions_page);
  EXPECT_EQ(sessions.GetMaxSessionCount(), 300);
  locks.OpenFile(locks_page);
  EXPECT_EQ(locks.GetMaxSessionCount(), 30);
  EXPECT_EQ(locks.GetStartPageNo(), locks_page);
  TORBInternalDBDirectAccessFile chain(&pm, kPageTypeTableLocks);
  chain.OpenFile(locks_page);
  const std::vector<int32_t> pages = chain.GetFilePages();
  EXPECT_EQ(pages.size(), 2u);  // 10 + 360 bytes on 216-byte pages

  locks.DeleteFile();
  EXPECT_FALSE(locks.IsOpen());
  EXPECT_EQ(ErrorCodeOf([&] { locks.GetStartPageNo(); }), 10483);
  pm.ApplyChanges(kSys);
  for (int32_t page : pages) EXPECT_FALSE(pm.FreeSpaceManager()->GetPageUsageFromPFS(page)) << page;
}

TEST_F(TableLockTest, DamagedSizesAreRefused) {
  TORBDiskPageManager& pm = FA->pm;
  uint8_t size[4];
  // Locks file: a stored size below one session.
  StoreI32LE(size, 11);
  pm.WritePageRegion(size, FPages[1], 41, 4);
  TORBTableLocksFile locks(&pm);
  EXPECT_EQ(ErrorCodeOf([&] { locks.OpenFile(FPages[1]); }), kErrLocksFileSize);
  EXPECT_FALSE(locks.IsOpen());
  // A stored size beyond the chain.
  StoreI32LE(size, 100000);
  pm.WritePageRegion(size, FPages[1], 41, 4);
  EXPECT_EQ(ErrorCodeOf([&] { locks.OpenFile(FPages[1]); }), kErrInternalFileChain);

  // Sessions file (one page): no slot at all, and a stored size beyond the
  // page, which is bounded by the page's usable size.
  const int32_t sessions = FA->sessions->GetStartPageNo();
  TORBActiveSessionsFile file(&pm);
  StoreI32LE(size, 0);
  pm.WritePageRegion(size, sessions, 41, 4);
  EXPECT_EQ(ErrorCodeOf([&] { file.OpenFile(sessions); }), kErrSessionsFileSize);
  StoreI32LE(size, 100000);
  pm.WritePageRegion(size, sessions, 41, 4);
  file.OpenFile(sessions);
  EXPECT_EQ(file.GetMaxSessionCount(), pm.GetPageDataSize() - 10);
}

TEST_F(TableLockTest, InvalidArgumentsRaise) {
  EXPECT_EQ(ErrorCodeOf([&] { A().LockTable(kM, ltS, Fa()); }), kErrLockSessionID);
  EXPECT_EQ(ErrorCodeOf([&] { A().LockRecord(-1, Fa(), {1, 1}); }), kErrLockSessionID);
  EXPECT_EQ(ErrorCodeOf([&] { A().LockTable(FSa, static_cast<TORBLockType>(9), Fa()); }), kErrLockType);
  EXPECT_EQ(ErrorCodeOf([&] { TORBDatabaseTableLockManager(&FA->pm, 0); }), kErrMaxSessionCount);
  EXPECT_EQ(ErrorCodeOf([&] { TORBTableLocksFile(&FA->pm).CreateFile(0); }), kErrMaxSessionCount);
  EXPECT_EQ(ErrorCodeOf([&] { TORBTableLocksFile(&FA->pm).CreateFile(200000000); }), kErrMaxSessionCount);
  EXPECT_EQ(ErrorCodeOf([&] { TORBActiveSessionsFile(&FA->pm).CreateFile(-3); }), kErrMaxSessionCount);
  EXPECT_EQ(ErrorCodeOf([&] { FA->sessions->IsSlotActive(kM); }), kErrSessionSlot);

  // A locks file made for fewer sessions than the database has.
  TORBTableLocksFile small(&FA->pm);
  const int32_t page = small.CreateFile(4);
  FA->pm.ApplyChanges(kSys);
  small.OpenFile(page);
  EXPECT_EQ(small.GetMaxSessionCount(), 4);
  EXPECT_EQ(ErrorCodeOf([&] { A().LockTable(10, ltS, small); }), 20200);
  EXPECT_TRUE(A().SessionLocks(10).Empty());

  TORBTableLocksFile closed(&FA->pm);
  struct Case {
    const char* name;
    std::function<void()> call;
    int32_t code;
  };
  const Case cases[] = {
      {"GetStartPageNo", [&] { closed.GetStartPageNo(); }, 10483},
      {"LockTable", [&] { closed.LockTable(0, ltS); }, 10489},
      {"UnlockTable", [&] { closed.UnlockTable(0, ltS); }, 10494},
      {"IsTableLockedByAnyOtherSession", [&] { closed.IsTableLockedByAnyOtherSession(0, ltS); }, 10490},
      {"LockRecord", [&] { closed.LockRecord(0, {1, 1}); }, 10491},
      {"UnlockRecord", [&] { closed.UnlockRecord(0); }, 10492},
      {"IsRecordLockedByAnyOtherSession", [&] { closed.IsRecordLockedByAnyOtherSession(0, {1, 1}); }, 10493},
      {"manager LockTable", [&] { A().LockTable(FSa, ltS, closed); }, 10483},
  };
  for (const Case& c : cases) EXPECT_EQ(ErrorCodeOf(c.call), c.code) << c.name;

  ASSERT_TRUE(A().LockTable(FSa, ltIS, Fa()));
  EXPECT_EQ(ErrorCodeOf([&] { A().CheckNoLocks(); }), 20201);
  ASSERT_TRUE(A().UnlockTable(FSa, ltIS, Fa()));
  A().CheckNoLocks();
}

// Bytes taken or given up behind the manager's back make its byte calls
// fail; each failure must leave the table's file lock free (the other
// process's one-try requests need it) and the session's list true.
TEST_F(TableLockTest, FailuresReleaseTheFileLock) {
  const TORBPageItemID row{6, 6};
  // The session's ltS byte is already held: the lock step fails.
  ASSERT_TRUE(Fa().LockTable(FSa, ltS));
  EXPECT_EQ(ErrorCodeOf([&] { A().LockTable(FSa, ltS, Fa(), 1, 0); }), 20203);
  EXPECT_TRUE(A().SessionLocks(FSa).Empty());
  EXPECT_TRUE(B().LockTable(FSb, ltIS, Fb(), 1, 0));
  ASSERT_TRUE(Fa().UnlockTable(FSa, ltS));

  // The same for the row lock byte.
  ASSERT_TRUE(Fa().LockRecord(FSa, row));
  EXPECT_EQ(ErrorCodeOf([&] { A().LockRecord(FSa, Fa(), {6, 7}, 1, 0); }), 20205);
  EXPECT_TRUE(A().SessionLocks(FSa).Empty());
  EXPECT_TRUE(B().LockRecord(FSb, Fb(), {6, 7}, 1, 0));
  ASSERT_TRUE(Fa().UnlockRecord(FSa));

  // A byte that is gone when the manager releases it: the entry stays.
  ASSERT_TRUE(A().LockTable(FSa, ltSIRW, Fa()));
  ASSERT_TRUE(Fa().UnlockTable(FSa, ltSIRW));
  EXPECT_EQ(ErrorCodeOf([&] { A().UnlockTable(FSa, ltSIRW, Fa()); }), 20204);
  EXPECT_TRUE(A().SessionLocks(FSa).PhysicalLockExists(ltSIRW, FPages[0]));
  EXPECT_TRUE(B().LockTable(FSb, ltS, Fb(), 1, 0));
}

TEST_F(TableLockTest, RetriesAreBounded) {
  ASSERT_TRUE(B().LockTable(FSb, ltX, Fb()));
  EXPECT_FALSE(A().LockTable(FSa, ltS, Fa(), 3, 10));
  EXPECT_FALSE(A().LockTable(FSa, ltS, Fa(), 0, 10));
  EXPECT_FALSE(A().LockRecord(FSa, Fa(), {1, 1}, 3, 10));
  EXPECT_FALSE(A().LockRecord(FSa, Fa(), {1, 1}, 0, 0));
  EXPECT_TRUE(A().SessionLocks(FSa).Empty());
  ASSERT_TRUE(B().UnlockTable(FSb, ltX, Fb()));
  EXPECT_TRUE(A().LockTable(FSa, ltS, Fa(), 0, 10));
}

// While a request sleeps between attempts, the manager's critical section
// is free: another thread of the process can release the lock it waits
// for. Held through the sleep, the release would wait for the request to
// run out of attempts, and the request would fail.
TEST_F(TableLockTest, CriticalSectionIsLeftWhileWaiting) {
  const int32_t second = FA->sessions->MultiUserConnect();
  ASSERT_TRUE(A().LockTable(FSa, ltX, Fa()));
  std::atomic<bool> granted{false};
  std::thread waiter([&] { granted = A().LockTable(second, ltS, Fa(), 200, 10); });
  SleepMs(50);
  A().Lock();  // the caller's own hold is left too
  EXPECT_TRUE(A().UnlockTable(FSa, ltX, Fa()));
  A().Unlock();
  waiter.join();
  EXPECT_TRUE(granted);
  EXPECT_TRUE(A().UnlockTable(second, ltS, Fa()));
}

TEST_F(TableLockTest, CommitLocksAreAllOrNothing) {
  ASSERT_TRUE(A().LockTable(FSa, ltXIRW, Fa(0)));
  ASSERT_TRUE(A().LockTable(FSa, ltXIRW, Fa(1)));
  ASSERT_TRUE(B().LockTable(FSb, ltS, Fb(1)));
  EXPECT_FALSE(A().AddRWLocksBeforeCommit(FSa));
  const TORBTableLockList& list = A().SessionLocks(FSa);
  EXPECT_FALSE(list.LockExists(ltRW, FPages[0]));
  EXPECT_FALSE(list.LockExists(ltRW, FPages[1]));
  // Table 0's ltRW was given back.
  ASSERT_TRUE(B().LockTable(FSb, ltS, Fb(0), 1, 0));
  ASSERT_TRUE(B().UnlockTable(FSb, ltS, Fb(0)));
  ASSERT_TRUE(B().UnlockTable(FSb, ltS, Fb(1)));

  EXPECT_TRUE(A().AddRWLocksBeforeCommit(FSa));
  EXPECT_TRUE(list.LockExists(ltRW, FPages[0]));
  EXPECT_TRUE(list.LockExists(ltRW, FPages[1]));
  EXPECT_FALSE(B().LockTable(FSb, ltS, Fb(0), 1, 0));
  EXPECT_TRUE(A().ClearTransactionLocks(FSa));
  EXPECT_TRUE(list.Empty());
  EXPECT_TRUE(B().LockTable(FSb, ltX, Fb(0), 1, 0));
  EXPECT_TRUE(B().LockTable(FSb, ltX, Fb(1), 1, 0));
}

TEST_F(TableLockTest, ClearTransactionLocksKeepsRowLocksUnderSIRW) {
  const TORBPageItemID row{40, 2};
  ASSERT_TRUE(A().LockTable(FSa, ltXIRW, Fa()));
  ASSERT_TRUE(A().LockRecord(FSa, Fa(), row));
  EXPECT_FALSE(EntryOf(FSa, ltU).HasPhysicalLock);
  EXPECT_TRUE(A().ClearTransactionLocks(FSa));
  const TORBTableLockList& list = A().SessionLocks(FSa);
  EXPECT_FALSE(list.LockExists(ltXIRW, FPages[0]));
  EXPECT_TRUE(list.PhysicalLockExists(ltSIRW, FPages[0]));
  EXPECT_TRUE(list.PhysicalLockExists(ltU, FPages[0]));
  EXPECT_TRUE(B().IsRecordLocked(FSb, Fb(), row));
  EXPECT_FALSE(B().LockTable(FSb, ltXIRW, Fb(), 1, 0));
  EXPECT_TRUE(B().LockTable(FSb, ltSIRW, Fb(), 1, 0));
}

TEST_F(TableLockTest, ReleaseSessionLocksFreesEverything) {
  ASSERT_TRUE(A().LockTable(FSa, ltIS, Fa(0)));
  ASSERT_TRUE(A().LockTable(FSa, ltS, Fa(0)));
  ASSERT_TRUE(A().LockTable(FSa, ltS, Fa(0)));
  ASSERT_TRUE(A().LockTable(FSa, ltSIRW, Fa(0)));
  ASSERT_TRUE(A().LockRecord(FSa, Fa(0), {3, 3}));
  ASSERT_TRUE(A().LockTable(FSa, ltIS, Fa(1)));
  ASSERT_TRUE(A().LockTable(FSa, ltX, Fa(1)));
  ASSERT_TRUE(A().LockRecord(FSa, Fa(1), {3, 3}));
  EXPECT_TRUE(A().ReleaseSessionLocks(FSa));
  EXPECT_TRUE(A().SessionLocks(FSa).Empty());
  EXPECT_TRUE(B().LockTable(FSb, ltX, Fb(0), 1, 0));
  EXPECT_TRUE(B().LockTable(FSb, ltX, Fb(1), 1, 0));
}

TEST(TableLockExclusiveTest, ExclusiveOpenBypassesTheLocks) {
  DiskScratch dir;
  const std::vector<int32_t> pages = CreateLockDatabase(dir.WFile("x.orb"), 4, 1);
  LockProcess p(dir.WFile("x.orb"), pages, true);
  EXPECT_EQ(p.sessions->MultiUserConnect(), 0);
  EXPECT_TRUE(p.manager->LockTable(0, ltX, *p.locks[0]));
  EXPECT_TRUE(p.manager->LockTable(0, ltS, *p.locks[0]));
  EXPECT_TRUE(p.manager->SessionLocks(0).Empty());
  EXPECT_TRUE(p.manager->UnlockTable(0, ltS, *p.locks[0]));
}

// ---------------------------------------------------------------------------
// Session slots

TEST(ActiveSessionsTest, SlotsRunOutAndComeBack) {
  DiskScratch dir;
  const std::vector<int32_t> pages = CreateLockDatabase(dir.WFile("s.orb"), 2, 0);
  LockProcess p1(dir.WFile("s.orb"), pages);
  LockProcess p2(dir.WFile("s.orb"), pages);
  LockProcess p3(dir.WFile("s.orb"), pages);
  EXPECT_EQ(p1.sessions->MultiUserConnect(), 0);
  EXPECT_EQ(p2.sessions->MultiUserConnect(), 1);
  EXPECT_EQ(ErrorCodeOf([&] { p3.sessions->MultiUserConnect(); }), 20094);
  EXPECT_EQ(p3.sessions->GetDBFileConnectionsCount(), 2);
  p1.sessions->MultiUserDisconnect(0);
  EXPECT_EQ(p3.sessions->GetActiveSlots(), std::vector<int32_t>{1});
  EXPECT_EQ(p3.sessions->MultiUserConnect(), 0);
  EXPECT_EQ(p1.sessions->GetDBFileConnectionsCount(), 2);
  EXPECT_EQ(ErrorCodeOf([&] { p1.sessions->MultiUserDisconnect(2); }), kErrSessionSlot);
}

TEST(ActiveSessionsTest, SingleUserConnectTakesAllSlotsOrNone) {
  DiskScratch dir;
  const std::vector<int32_t> pages = CreateLockDatabase(dir.WFile("s.orb"), 4, 0);
  LockProcess multi(dir.WFile("s.orb"), pages);
  LockProcess single(dir.WFile("s.orb"), pages);
  // The multi-user process holds only the last slot.
  for (int32_t s = 0; s < 4; ++s) ASSERT_EQ(multi.sessions->MultiUserConnect(), s);
  for (int32_t s = 0; s < 3; ++s) multi.sessions->MultiUserDisconnect(s);

  EXPECT_FALSE(single.sessions->SingleUserConnect());
  EXPECT_FALSE(single.sessions->IsSingleUserConnected());
  // Nothing of the failed attempt stays locked.
  EXPECT_EQ(multi.sessions->GetActiveSlots(), std::vector<int32_t>{3});
  multi.sessions->MultiUserDisconnect(3);

  EXPECT_TRUE(single.sessions->SingleUserConnect());
  EXPECT_EQ(multi.sessions->GetDBFileConnectionsCount(), 4);
  EXPECT_EQ(ErrorCodeOf([&] { multi.sessions->MultiUserConnect(); }), 20094);
  single.sessions->SingleUserDisconnect();
  EXPECT_EQ(multi.sessions->GetDBFileConnectionsCount(), 0);
  EXPECT_EQ(multi.sessions->MultiUserConnect(), 0);
}

// The sessions file's lock is only waited for: a connect goes ahead without
// it, and must then neither fail on releasing a lock it never took nor
// leave its slot behind.
TEST(ActiveSessionsTest, ConnectWithoutTheFileLockKeepsNoStraySlot) {
  DiskScratch dir;
  const std::vector<int32_t> pages = CreateLockDatabase(dir.WFile("s.orb"), 3, 0);
  LockProcess p1(dir.WFile("s.orb"), pages);
  LockProcess p2(dir.WFile("s.orb"), pages);
  TORBInternalDBDirectAccessFile holder(&p2.pm, kPageTypeActiveSessionList);
  holder.OpenFile(p2.sessions->GetStartPageNo());
  ASSERT_TRUE(holder.LockFile());
  p1.sessions->SetFileLockRetries(2, 1);

  const int32_t slot = p1.sessions->MultiUserConnect();
  EXPECT_EQ(slot, 0);
  EXPECT_EQ(p2.sessions->GetActiveSlots(), std::vector<int32_t>{0});
  p1.sessions->MultiUserDisconnect(slot);
  EXPECT_TRUE(p2.sessions->GetActiveSlots().empty());
  EXPECT_TRUE(p1.sessions->SingleUserConnect());
  p1.sessions->SingleUserDisconnect();
  EXPECT_EQ(p1.sessions->GetDBFileConnectionsCount(), 0);
  ASSERT_TRUE(holder.UnlockFile());
}

}  // namespace
}  // namespace orb
