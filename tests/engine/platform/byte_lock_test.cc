#include "engine/platform/byte_lock.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "engine/platform/file.h"
#include "tests/engine/platform/platform_test_util.h"

namespace orb {
namespace {

using testing::LockChild;
using testing::ScratchDir;

class ByteLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(FPath) << "some data";
    ASSERT_TRUE(a_.Open(FPath, FileAccess::kReadWrite, FileShare::kDenyNone, FileDisposition::kOpenExisting).Ok());
    ASSERT_TRUE(b_.Open(FPath, FileAccess::kReadWrite, FileShare::kDenyNone, FileDisposition::kOpenExisting).Ok());
  }

  static bool Locked(TPlatformFile& f, int64_t offset, int64_t length) {
    bool locked = false;
    EXPECT_TRUE(f.TestLock(offset, length, &locked).Ok());
    return locked;
  }
  static bool LockedByOther(TPlatformFile& f, int64_t offset, int64_t length) {
    bool locked = false;
    EXPECT_TRUE(f.IsLockedByOther(offset, length, &locked).Ok());
    return locked;
  }

  ScratchDir FDir;
  std::string FPath = FDir.File("locks.bin");
  TPlatformFile a_, b_;
};

TEST_F(ByteLockTest, TwoOpenFilesOfOneProcessConflict) {
  ASSERT_TRUE(a_.Lock(10, 5).Ok());
  for (int64_t offset : {10, 12, 14}) {
    PlatformStatus s = b_.Lock(offset, 1);
    EXPECT_TRUE(s.IsLockConflict()) << offset << ": " << s.Text();
  }
  EXPECT_TRUE(b_.Lock(5, 10).IsLockConflict());  // partial overlap
  EXPECT_TRUE(b_.Lock(15, 1).Ok());
  EXPECT_TRUE(b_.Lock(9, 1).Ok());

  EXPECT_TRUE(Locked(b_, 10, 1));
  EXPECT_TRUE(LockedByOther(b_, 14, 1));
  EXPECT_TRUE(Locked(a_, 10, 1));          // its own lock counts for the probe
  EXPECT_FALSE(LockedByOther(a_, 10, 5));  // but is nobody else's
  EXPECT_TRUE(a_.HoldsLock(12, 100));
  EXPECT_FALSE(b_.HoldsLock(10, 5));
  EXPECT_FALSE(Locked(a_, 16, 100));
}

TEST_F(ByteLockTest, RegistryRefusesRelockAndUnheldUnlock) {
  ASSERT_TRUE(a_.Lock(100, 10).Ok());
  EXPECT_TRUE(a_.Lock(100, 10).IsLockConflict());
  EXPECT_TRUE(a_.Lock(109, 5).IsLockConflict());
  EXPECT_TRUE(a_.Lock(95, 6).IsLockConflict());
  EXPECT_TRUE(a_.Lock(110, 1).Ok());  // adjacent is fine
  EXPECT_TRUE(a_.Lock(99, 1).Ok());

  EXPECT_EQ(a_.Unlock(200, 1).Code(), ENOLCK);
  EXPECT_EQ(a_.Unlock(100, 5).Code(), ENOLCK);  // not as it was locked
  EXPECT_EQ(b_.Unlock(100, 10).Code(), ENOLCK);  // another file's lock
  EXPECT_TRUE(b_.Lock(100, 1).IsLockConflict());

  ASSERT_TRUE(a_.Unlock(100, 10).Ok());
  EXPECT_EQ(a_.Unlock(100, 10).Code(), ENOLCK);
  // Unlocking one range leaves its neighbours held.
  EXPECT_TRUE(b_.Lock(110, 1).IsLockConflict());
  EXPECT_TRUE(b_.Lock(99, 1).IsLockConflict());
  ASSERT_TRUE(b_.Lock(100, 10).Ok());
  EXPECT_TRUE(a_.Lock(105, 1).IsLockConflict());
}

TEST_F(ByteLockTest, ProbeTakesNoLock) {
  // Probing a free range leaves it free for everyone.
  EXPECT_FALSE(Locked(b_, 50, 10));
  EXPECT_FALSE(b_.HoldsLock(50, 10));
  ASSERT_TRUE(a_.Lock(50, 10).Ok());
  // Probing a held range does not disturb the holder.
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(Locked(b_, 55, 1));
  TPlatformFile c;
  ASSERT_TRUE(c.Open(FPath, FileAccess::kReadWrite, FileShare::kDenyNone, FileDisposition::kOpenExisting).Ok());
  EXPECT_TRUE(c.Lock(50, 1).IsLockConflict());
  ASSERT_TRUE(a_.Unlock(50, 10).Ok());
  EXPECT_FALSE(Locked(b_, 50, 10));
  EXPECT_TRUE(b_.Lock(50, 10).Ok());
}

// The probe around a held byte sees every other lock in the range, this
// file's other locks included, and never the held byte itself.
TEST_F(ByteLockTest, ProbeAroundAHeldByte) {
  auto except = [](TPlatformFile& f, int64_t offset, int64_t length, int64_t held) {
    bool locked = false;
    PlatformStatus s = f.TestLockExcept(offset, length, held, &locked);
    EXPECT_TRUE(s.Ok()) << s.Text();
    return locked;
  };
  ASSERT_TRUE(a_.Lock(20, 1).Ok());
  EXPECT_FALSE(except(a_, 16, 8, 20));
  EXPECT_FALSE(except(a_, 20, 1, 20));
  // Another file's lock on either side, at the range's ends.
  for (int64_t other : {16, 19, 21, 23}) {
    SCOPED_TRACE(other);
    ASSERT_TRUE(b_.Lock(other, 1).Ok());
    EXPECT_TRUE(except(a_, 16, 8, 20));
    ASSERT_TRUE(b_.Unlock(other, 1).Ok());
  }
  // A lock of another process.
  LockChild child({FPath, "none", "lock", "22", "1"});
  ASSERT_EQ(child.ReadUntilReady()[1], "lock ok");
  EXPECT_TRUE(except(a_, 16, 8, 20));
  EXPECT_FALSE(except(a_, 16, 6, 20));
  child.Release();
  // This file's own other locks count, as for TestLock.
  for (int64_t own : {17, 22}) {
    SCOPED_TRACE(own);
    ASSERT_TRUE(a_.Lock(own, 1).Ok());
    EXPECT_TRUE(except(a_, 16, 8, 20));
    ASSERT_TRUE(a_.Unlock(own, 1).Ok());
  }
  // The byte has to be held, alone, inside the range.
  bool locked = false;
  EXPECT_EQ(a_.TestLockExcept(16, 8, 21, &locked).Code(), ENOLCK);
  EXPECT_EQ(b_.TestLockExcept(16, 8, 20, &locked).Code(), ENOLCK);
  EXPECT_EQ(a_.TestLockExcept(21, 8, 20, &locked).Code(), EINVAL);
  ASSERT_TRUE(a_.Lock(40, 2).Ok());
  EXPECT_EQ(a_.TestLockExcept(36, 8, 40, &locked).Code(), ENOLCK);
}

TEST_F(ByteLockTest, CloseReleasesEverything) {
  ASSERT_TRUE(a_.Lock(0, 1).Ok());
  ASSERT_TRUE(a_.Lock(1000, 3).Ok());
  ASSERT_TRUE(a_.Close().Ok());
  EXPECT_FALSE(Locked(b_, 0, 2000));
  EXPECT_TRUE(b_.Lock(0, 1).Ok());
  EXPECT_TRUE(b_.Lock(1000, 3).Ok());
  // Reopened, the object starts with an empty registry.
  ASSERT_TRUE(a_.Open(FPath, FileAccess::kReadWrite, FileShare::kDenyNone, FileDisposition::kOpenExisting).Ok());
  EXPECT_FALSE(a_.HoldsLock(0, 2000));
  EXPECT_EQ(a_.Unlock(0, 1).Code(), ENOLCK);
}

TEST_F(ByteLockTest, RangesOutsideTheLockableAreaAreRefused) {
  struct Case {
    int64_t offset, length;
  };
  const Case bad[] = {{0, 0}, {5, -1}, {-1, 1}, {kShareSentinelOffset, 1}, {kShareSentinelOffset - 1, 2},
                      {INT64_MAX, 1}};
  for (const Case& c : bad) {
    SCOPED_TRACE(::testing::Message() << c.offset << "," << c.length);
    EXPECT_EQ(a_.Lock(c.offset, c.length).Code(), EINVAL);
    EXPECT_EQ(a_.Unlock(c.offset, c.length).Code(), EINVAL);
    bool locked;
    EXPECT_EQ(a_.TestLock(c.offset, c.length, &locked).Code(), EINVAL);
  }
  EXPECT_TRUE(a_.Lock(kShareSentinelOffset - 1, 1).Ok());
  TPlatformFile closed;
  EXPECT_EQ(closed.Lock(0, 1).Code(), EBADF);
}

TEST_F(ByteLockTest, LocksPastFourGigabytes) {
  const int64_t far = (int64_t{1} << 32) + 17;
  ASSERT_TRUE(a_.Lock(far, 2).Ok());
  EXPECT_TRUE(b_.Lock(far + 1, 1).IsLockConflict());
  EXPECT_TRUE(b_.Lock(17, 1).Ok());  // the same low 32 bits
  EXPECT_TRUE(Locked(b_, far, 1));
}

TEST_F(ByteLockTest, ReadOnlyAccessStillLocks) {
  TPlatformFile r;
  ASSERT_TRUE(r.Open(FPath, FileAccess::kRead, FileShare::kDenyNone, FileDisposition::kOpenExisting).Ok());
  ASSERT_TRUE(r.Lock(7, 1).Ok());
  EXPECT_TRUE(a_.Lock(7, 1).IsLockConflict());
}

TEST_F(ByteLockTest, LocksOfAnotherProcess) {
  LockChild child({FPath, "none", "lock", "100", "10", "lock", "300", "1"});
  std::vector<std::string> lines = child.ReadUntilReady();
  ASSERT_EQ(lines, (std::vector<std::string>{"open ok", "lock ok", "lock ok", "ready"}));

  EXPECT_TRUE(a_.Lock(105, 1).IsLockConflict());
  EXPECT_TRUE(a_.Lock(300, 1).IsLockConflict());
  EXPECT_TRUE(Locked(a_, 109, 1));
  EXPECT_TRUE(LockedByOther(a_, 90, 20));
  EXPECT_FALSE(Locked(a_, 110, 190));
  EXPECT_TRUE(a_.Lock(110, 1).Ok());

  child.Release();
  EXPECT_FALSE(Locked(b_, 100, 10));
  EXPECT_TRUE(b_.Lock(100, 10).Ok());
  EXPECT_TRUE(b_.Lock(300, 1).Ok());
}

TEST_F(ByteLockTest, LocksOfAKilledProcessAreReleased) {
  LockChild child({FPath, "none", "lock", "0", "4"});
  ASSERT_EQ(child.ReadUntilReady()[1], "lock ok");
  EXPECT_TRUE(a_.Lock(2, 1).IsLockConflict());
  child.Kill();
  EXPECT_TRUE(a_.Lock(2, 1).Ok());
}

TEST_F(ByteLockTest, OtherProcessSeesLocksOfThisOne) {
  ASSERT_TRUE(a_.Lock(20, 5).Ok());
  LockChild child({FPath, "none", "probe", "24", "1", "lock", "22", "1", "lock", "25", "1", "probe", "0", "20"});
  EXPECT_EQ(child.ReadUntilReady(),
            (std::vector<std::string>{"open ok", "probe locked", "lock busy", "lock ok", "probe free", "ready"}));
  child.Release();
}

}  // namespace
}  // namespace orb
