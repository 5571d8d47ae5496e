// Table and row locks between real processes
// (tests/children/orb_table_lock_child).

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tests/engine/disk/lock_test_support.h"

namespace orb {
namespace {

using testing::ChildProcess;
using testing::CreateLockDatabase;
using testing::DiskScratch;
using testing::LockProcess;

constexpr const char* kChild = "orb_table_lock_child";

class TableLockProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FPages = CreateLockDatabase(FDir.WFile("p.orb"), 16, 1, 4096);
    FParent = std::make_unique<LockProcess>(FDir.WFile("p.orb"), FPages);
    FSession = FParent->sessions->MultiUserConnect();
  }
  std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& command) {
    std::vector<std::string> args{FDir.File("p.orb"), std::to_string(FPages[0])};
    args.insert(args.end(), command.begin(), command.end());
    return std::make_unique<ChildProcess>(kChild, args);
  }
  // The child's slot from its "held <slot>" line.
  static int32_t HeldSlot(ChildProcess& child) {
    const std::string line = child.ReadLine();
    EXPECT_EQ(line.rfind("held ", 0), 0u) << line;
    EXPECT_EQ(child.ReadLine(), "ready");
    return line.rfind("held ", 0) == 0 ? std::stoi(line.substr(5)) : -1;
  }
  TORBDatabaseTableLockManager& Manager() { return *FParent->manager; }
  TORBTableLocksFile& Locks() { return *FParent->locks[0]; }

  DiskScratch FDir;
  std::vector<int32_t> FPages;
  std::unique_ptr<LockProcess> FParent;
  int32_t FSession = -1;
};

TEST_F(TableLockProcessTest, ConflictingRequestFailsAfterItsRetriesWhileAChildHoldsTheLock) {
  auto child = Start({"hold", "S"});
  const int32_t slot = HeldSlot(*child);
  EXPECT_NE(slot, FSession);
  EXPECT_FALSE(Manager().LockTable(FSession, ltRW, Locks(), 5, 20));
  EXPECT_FALSE(Manager().LockTable(FSession, ltX, Locks(), 3, 10));
  EXPECT_TRUE(Manager().SessionLocks(FSession).Empty());
  // Compatible requests go through meanwhile.
  EXPECT_TRUE(Manager().LockTable(FSession, ltSIRW, Locks(), 1, 0));
  EXPECT_TRUE(Manager().UnlockTable(FSession, ltSIRW, Locks()));
  EXPECT_EQ(child->Release(), 0);
  EXPECT_TRUE(Manager().LockTable(FSession, ltRW, Locks(), 1, 0));
  EXPECT_TRUE(Manager().UnlockTable(FSession, ltRW, Locks()));
}

// Every pair of table lock types, one held by a child, one asked for here
// in a single try: the request goes through exactly when the two are
// compatible, and a refused request leaves nothing held.
TEST_F(TableLockProcessTest, RequestsAgainstAChildsLockFollowTheCompatibilityMatrix) {
  const std::pair<TORBLockType, const char*> kHeld[] = {{ltIS, "IS"},     {ltS, "S"},   {ltSIRW, "SIRW"},
                                                        {ltXIRW, "XIRW"}, {ltRW, "RW"}, {ltX, "X"}};
  for (const auto& [held, name] : kHeld) {
    auto child = Start({"hold", name});
    HeldSlot(*child);
    for (int32_t t = 0; t < kLockTypeCount; ++t) {
      const auto requested = static_cast<TORBLockType>(t);
      if (requested == ltU) continue;
      SCOPED_TRACE(std::string(LockTypeName(held)) + " held, " + LockTypeName(requested) + " asked");
      const bool granted = Manager().LockTable(FSession, requested, Locks(), 1, 0);
      EXPECT_EQ(granted, IsLockCompatible(held, requested));
      if (granted) {
        EXPECT_TRUE(Manager().UnlockTable(FSession, requested, Locks()));
      }
      EXPECT_TRUE(Manager().SessionLocks(FSession).Empty());
    }
    EXPECT_EQ(child->Release(), 0);
  }
}

TEST_F(TableLockProcessTest, RowLockHeldByAChildRefusesThatRowOnly) {
  auto child = Start({"hold-row", "9", "4"});
  HeldSlot(*child);
  EXPECT_TRUE(Manager().IsRecordLocked(FSession, Locks(), {9, 4}));
  EXPECT_FALSE(Manager().LockRecord(FSession, Locks(), {9, 4}, 3, 10));
  EXPECT_TRUE(Manager().LockRecord(FSession, Locks(), {9, 5}, 1, 0));
  EXPECT_TRUE(Manager().UnlockRecord(FSession, Locks(), {9, 5}));
  EXPECT_EQ(child->Release(), 0);
  EXPECT_FALSE(Manager().IsRecordLocked(FSession, Locks(), {9, 4}));
  EXPECT_TRUE(Manager().LockRecord(FSession, Locks(), {9, 4}, 1, 0));
}

// A row lock is refused while another process holds ltX on the table, and
// the refused request leaves no row byte behind: a child then takes the row.
TEST_F(TableLockProcessTest, RowLockRefusedWhileAChildHoldsTheTableExclusively) {
  auto holder = Start({"hold", "X"});
  HeldSlot(*holder);
  EXPECT_FALSE(Manager().LockRecord(FSession, Locks(), {6, 1}, 3, 2));
  EXPECT_TRUE(Manager().SessionLocks(FSession).Empty());
  EXPECT_EQ(holder->Release(), 0);
  auto taker = Start({"hold-row", "6", "1"});
  HeldSlot(*taker);
  EXPECT_FALSE(Manager().LockRecord(FSession, Locks(), {6, 1}, 1, 0));
  EXPECT_EQ(taker->Release(), 0);
  EXPECT_TRUE(Manager().LockRecord(FSession, Locks(), {6, 1}, 1, 0));
  EXPECT_TRUE(Manager().UnlockRecord(FSession, Locks(), {6, 1}));
}

TEST_F(TableLockProcessTest, KilledChildLeavesNoLockAndNoSlot) {
  for (const char* type : {"X", "RW"}) {
    SCOPED_TRACE(type);
    auto child = Start({"hold", type});
    const int32_t slot = HeldSlot(*child);
    ASSERT_GE(slot, 0);
    EXPECT_TRUE(FParent->sessions->IsSlotActive(slot));
    EXPECT_FALSE(Manager().LockTable(FSession, ltS, Locks(), 1, 0));
    child->Kill();
    EXPECT_FALSE(FParent->sessions->IsSlotActive(slot));
    EXPECT_TRUE(Manager().LockTable(FSession, ltX, Locks(), 1, 0));
    EXPECT_TRUE(Manager().UnlockTable(FSession, ltX, Locks()));
  }
  auto child = Start({"hold-row", "2", "2"});
  HeldSlot(*child);
  child->Kill();
  EXPECT_FALSE(Manager().IsRecordLocked(FSession, Locks(), {2, 2}));
  EXPECT_TRUE(Manager().LockRecord(FSession, Locks(), {2, 2}, 1, 0));
  EXPECT_EQ(FParent->sessions->GetActiveSlots(), std::vector<int32_t>{FSession});
}

// A read lock refused by another process's lock leaves no byte behind:
// once that lock goes, a child takes every lock that conflicts with ltS.
TEST_F(TableLockProcessTest, RefusedReadLockLeavesNothingHeld) {
  for (const char* held : {"X", "RW"}) {
    SCOPED_TRACE(held);
    auto holder = Start({"hold", held});
    HeldSlot(*holder);
    EXPECT_FALSE(Manager().LockTable(FSession, ltS, Locks(), 3, 2));
    EXPECT_TRUE(Manager().SessionLocks(FSession).Empty());
    EXPECT_EQ(holder->Release(), 0);
    for (const char* type : {"RW", "X"}) {
      auto taker = Start({"hold", type});
      EXPECT_EQ(taker->ReadLine().rfind("held ", 0), 0u) << type;
      EXPECT_EQ(taker->ReadLine(), "ready");
      EXPECT_EQ(taker->Release(), 0);
    }
  }
}

struct Held {
  int child;
  bool row;
  int value;  // lock type, or row item
  long long start;
  long long end;
};

// Children take and release table locks and row locks in a loop, each
// logging when it held what (read steps under a write lock among them: they
// take their byte when the write lock goes first). No two children ever
// held conflicting locks at overlapping times.
TEST_F(TableLockProcessTest, ConcurrentChildrenNeverHoldConflictingLocks) {
  constexpr int kChildren = 4;
  std::vector<std::unique_ptr<ChildProcess>> children;
  for (int i = 0; i < kChildren; ++i) {
    children.push_back(Start({"loop", "80", FDir.File("log" + std::to_string(i)), std::to_string(101 + i)}));
  }
  for (auto& child : children) EXPECT_EQ(child->Release(), 0);

  std::vector<Held> held;
  for (int i = 0; i < kChildren; ++i) {
    std::ifstream log(FDir.File("log" + std::to_string(i)));
    std::string kind;
    Held h{i, false, 0, 0, 0};
    int lines = 0;
    while (log >> kind >> h.value >> h.start >> h.end) {
      h.row = kind == "R";
      held.push_back(h);
      ++lines;
    }
    EXPECT_GT(lines, 10) << "child " << i;
  }
  int overlaps = 0;
  for (size_t a = 0; a < held.size(); ++a) {
    for (size_t b = a + 1; b < held.size(); ++b) {
      const Held& x = held[a];
      const Held& y = held[b];
      if (x.child == y.child || x.start >= y.end || y.start >= x.end) continue;
      ++overlaps;
      if (x.row && y.row) {
        EXPECT_NE(x.value, y.value) << "row held by two processes at once";
      } else {
        const auto tx = x.row ? ltU : static_cast<TORBLockType>(x.value);
        const auto ty = y.row ? ltU : static_cast<TORBLockType>(y.value);
        EXPECT_TRUE(IsLockCompatible(tx, ty)) << LockTypeName(tx) << " and " << LockTypeName(ty) << " held at once";
      }
    }
  }
  // The run did interleave.
  EXPECT_GT(overlaps, 0);
  EXPECT_EQ(FParent->sessions->GetActiveSlots(), std::vector<int32_t>{FSession});
  EXPECT_TRUE(Manager().LockTable(FSession, ltX, Locks(), 1, 0));
}

}  // namespace
}  // namespace orb
