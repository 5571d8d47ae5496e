// Database file and commit behaviour when the operating system starts
// failing calls on an open file (a dropped network share, a device gone).
// Faults are injected into the open handle; another open of the same file
// shows which byte locks the kernel still holds.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "engine/disk/database_file.h"
#include "engine/disk/disk_header.h"
#include "engine/base/error_codes.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/platform/byte_order.h"
#include "engine/platform/file.h"
#include "tests/support/disk_scratch.h"

namespace orb {
namespace {

using testing::DiskScratch;
using testing::ErrorCodeOf;
using testing::ErrorMessageOf;
using testing::ReadAll;
using testing::WriteAll;

// Whether a file other than the one under test holds a lock on `offset`.
bool LockedForOthers(const std::string& path, int64_t offset) {
  TPlatformFile probe;
  EXPECT_TRUE(probe.Open(path, FileAccess::kReadWrite, FileShare::kDenyNone, FileDisposition::kOpenExisting).Ok());
  bool locked = false;
  EXPECT_TRUE(probe.IsLockedByOther(offset, 1, &locked).Ok());
  return locked;
}

class DatabaseFileFaultTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteAll(Path(), std::vector<uint8_t>(100, 0x5A)); }
  std::string Path() const { return FDir.File("f.db"); }
  std::u16string Name() const { return FDir.WFile("f.db"); }

  DiskScratch FDir;
};

// With a byte lock held the handle is never reopened: every call fails with
// its coded error, lock calls report false, and the held lock stays held.
TEST_F(DatabaseFileFaultTest, FailingHandleWithLocksHeldFailsEveryCall) {
  struct Case {
    int os_error;
    bool critical;
  } cases[] = {{EIO, true}, {ESTALE, true}, {EBADF, true}, {ENOSPC, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.os_error);
    TORBDatabaseFile f;
    f.OpenFile(Name(), amReadWrite, smShareDenyNone);
    ASSERT_TRUE(f.LockByte(10, 1));
    f.InjectFault(c.os_error);

    EXPECT_FALSE(f.LockByte(20, 1));
    EXPECT_EQ(f.GetWasCriticalError(), c.critical);
    EXPECT_FALSE(f.LockByte(30, 5));
    EXPECT_FALSE(f.UnlockByte(10, 1));
    EXPECT_TRUE(f.IsRegionLocked(40, 1));  // cannot be answered

    uint8_t buf[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(f.ReadBuffer(buf, sizeof buf, 0));
    EXPECT_EQ(ErrorCodeOf([&] { f.ReadBuffer(buf, sizeof buf, 0, 10474); }), 10474);
    EXPECT_EQ(ErrorCodeOf([&] { f.WriteBuffer(buf, sizeof buf, 0, 10475); }), 10475);
    EXPECT_NE(ErrorMessageOf([&] { f.WriteBuffer(buf, sizeof buf, 0, 10475); })
                  .find("ErrorCode:" + std::to_string(c.os_error) + "."),
              std::string::npos);
    EXPECT_EQ(ErrorCodeOf([&] { f.GetSize(); }), 30371);
    EXPECT_EQ(ErrorCodeOf([&] { f.SetSize(50); }), 30370);
    EXPECT_EQ(ErrorCodeOf([&] { f.FlushFileBuffers(); }), 30379);

    EXPECT_TRUE(LockedForOthers(Path(), 10));
    EXPECT_FALSE(LockedForOthers(Path(), 20));
    EXPECT_FALSE(LockedForOthers(Path(), 30));
    EXPECT_EQ(ReadAll(Path()), std::vector<uint8_t>(100, 0x5A));

    f.CloseFile();
    EXPECT_FALSE(LockedForOthers(Path(), 10));
    // A new open starts clean.
    f.OpenFile(Name(), amReadWrite, smShareDenyNone);
    EXPECT_FALSE(f.GetWasCriticalError());
    EXPECT_TRUE(f.LockByte(20, 1));
    EXPECT_TRUE(LockedForOthers(Path(), 20));
  }
}

// Without locks a lost handle is replaced by a new open of the file, and a
// lock reported taken is really held by it.
TEST_F(DatabaseFileFaultTest, LostHandleWithoutLocksIsReopened) {
  TORBDatabaseFile f;
  f.OpenFile(Name(), amReadWrite, smShareDenyNone);
  f.InjectFault(EIO);
  EXPECT_TRUE(f.LockByte(20, 1));
  EXPECT_FALSE(f.GetWasCriticalError());
  EXPECT_TRUE(LockedForOthers(Path(), 20));
  EXPECT_TRUE(f.UnlockByte(20, 1));

  f.InjectFault(EIO);
  uint8_t buf[4] = {};
  f.ReadBuffer(buf, sizeof buf, 96, 10474);
  EXPECT_EQ(buf[3], 0x5A);
  f.InjectFault(ESTALE);
  f.WriteBuffer("abcd", 4, 0, 10475);
  EXPECT_EQ(ReadAll(Path())[0], 'a');
}

// When the file cannot be opened again a lock call reports false and the
// critical error stays recorded.
TEST_F(DatabaseFileFaultTest, LockFailsWhenTheFileCannotBeReopened) {
  TORBDatabaseFile f;
  f.OpenFile(Name(), amReadWrite, smShareDenyNone);
  ASSERT_EQ(::unlink(Path().c_str()), 0);
  f.InjectFault(EIO);
  EXPECT_FALSE(f.LockByte(20, 1));
  EXPECT_TRUE(f.GetWasCriticalError());
}

// ---------------------------------------------------------------------------
// Commits

constexpr int32_t kSession = 0;
constexpr uint16_t kPageSize = 4096;
constexpr int64_t kHeaderLockByte = kDBHeaderSize + kCryptoHeaderSize + kDBHeaderByteOffset;
constexpr size_t kOffState = 38;
constexpr size_t kOffWriteChangesState = 42;

// Loses its file handle when the next page write starts.
class FaultingManager : public TORBDiskPageManager {
 public:
  int fault = 0;

 protected:
  void InternalWritePage(TORBPage& page) override {
    if (fault != 0) DatabaseFile().InjectFault(fault);
    TORBDiskPageManager::InternalWritePage(page);
  }
};

void FillPage(TORBPage* page, uint8_t fill) {
  for (int i = 0; i < kPageSize - 40; ++i) page->GetPageData()[i] = static_cast<uint8_t>(fill + i);
}

bool PageHasFill(TORBDiskPageManager& pm, int32_t page_no, uint8_t fill) {
  TORBPageGuard page = pm.GetPageGuard(kSession, page_no, kPageTypeTableRecord);
  bool same = true;
  for (int i = 0; i < kPageSize - 40; ++i) same = same && page->GetPageData()[i] == static_cast<uint8_t>(fill + i);
  page.Release();
  return same;
}

// A handle lost in the middle of a commit fails the commit; it is never
// reopened behind the commit's back, so the header lock (shared file) or
// the exclusive open stays held until the database is closed. The file is
// left half written with its journal, which the next open rolls back: no
// repair needed, the page as it was. A read-only open refuses it meanwhile.
TEST(CommitFaultTest, LostHandleMidCommitFailsAndTheNextOpenRollsItBack) {
  for (bool shared : {true, false}) {
    SCOPED_TRACE(shared ? "shared" : "exclusive");
    DiskScratch dir;
    const std::string path = dir.File("d.orb");
    const std::u16string name = dir.WFile("d.orb");
    { TORBDiskPageManager().CreateAndOpenDatabase(name, {}, kPageSize, 8); }

    FaultingManager a;
    bool read_only = false, repair = false, multi_user = shared;
    a.OpenDatabase(name, {}, read_only, repair, !shared, multi_user);
    TORBPageGuard page = a.AddPageGuard(kSession, kPageTypeTableRecord);
    const int32_t page_no = page.PageNo();
    FillPage(page.Get(), 1);
    page.Release();
    a.ApplyChanges(kSession);
    ASSERT_EQ(ReadAll(path)[kOffState], 1);

    page = a.GetPageGuard(kSession, page_no, kPageTypeTableRecord);
    FillPage(page.Get(), 2);
    page.MarkDirty();
    page.Release();
    a.fault = EIO;
    EXPECT_EQ(ErrorCodeOf([&] { a.ApplyChanges(kSession); }), 10469);

    const std::vector<uint8_t> bytes = ReadAll(path);
    EXPECT_EQ(bytes[kOffWriteChangesState], kWriteChangesWriting);
    EXPECT_EQ(LoadI32LE(&bytes[kOffState]), 1);
    TORBDiskPageManager b;
    b.SetLockRetries(2, 1);
    bool ro = false, b_repair = false, b_multi = true;
    if (shared) {
      EXPECT_TRUE(LockedForOthers(path, kHeaderLockByte));
      EXPECT_EQ(ErrorCodeOf([&] { b.OpenDatabase(name, {}, ro, b_repair, false, b_multi); }), 20230);
    } else {
      EXPECT_EQ(ErrorCodeOf([&] { b.OpenDatabase(name, {}, ro, b_repair, false, b_multi); }), 30364);
    }

    // Uncommitted pages keep the database open until they are dropped; the
    // close then reports the lost handle and still releases the file.
    EXPECT_EQ(ErrorCodeOf([&] { a.CloseDatabase(); }), 20097);
    EXPECT_TRUE(a.GetIsOpened());
    a.CancelChanges(kSession);
    EXPECT_EQ(ErrorCodeOf([&] { a.CloseDatabase(); }), 30379);
    EXPECT_FALSE(a.GetIsOpened());
    EXPECT_FALSE(LockedForOthers(path, kHeaderLockByte));
    {
      TORBDiskPageManager reader;
      bool reader_ro = true, reader_repair = false, reader_multi = true;
      EXPECT_EQ(ErrorCodeOf([&] { reader.OpenDatabase(name, {}, reader_ro, reader_repair, false, reader_multi); }),
                kErrJournalReadOnly);
    }
    ro = false;
    b.OpenDatabase(name, {}, ro, b_repair, false, b_multi);
    EXPECT_FALSE(ro);
    EXPECT_FALSE(b_repair);
    EXPECT_EQ(ReadAll(path)[kOffWriteChangesState], kWriteChangesConsistent);
    EXPECT_TRUE(PageHasFill(b, page_no, 1));
  }
}

}  // namespace
}  // namespace orb
