// What reaches the disk and when: closing, flushed commits and growth of
// the file on a drive that runs out of room.

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/disk/disk_header.h"
#include "engine/disk/disk_page_manager.h"
#include "engine/platform/byte_order.h"
#include "tests/support/disk_scratch.h"

namespace orb {
namespace {

using testing::DiskScratch;
using testing::ErrorCodeOf;
using testing::ReadAll;

constexpr int32_t kSession = 0;
constexpr uint16_t kPageSize = 4096;
constexpr size_t kOffState = 38;
constexpr size_t kOffWriteChangesState = 42;

void Fill(TORBPageGuard& page, uint8_t fill) {
  for (int i = 0; i < kPageSize - 40; ++i) page->GetPageData()[i] = static_cast<uint8_t>(fill + i);
  page.MarkDirty();
}

uint8_t FirstByte(TORBDiskPageManager& pm, int32_t page_no) {
  TORBPageGuard page = pm.GetPageGuard(kSession, page_no, kPageTypeTableRecord);
  const uint8_t b = page->GetPageData()[0];
  page.Release();
  return b;
}

int32_t AddCommitted(TORBDiskPageManager& pm, uint8_t fill) {
  TORBPageGuard page = pm.AddPageGuard(kSession, kPageTypeTableRecord);
  const int32_t no = page.PageNo();
  Fill(page, fill);
  page.Release();
  pm.ApplyChanges(kSession);
  return no;
}

void Open(TORBDiskPageManager& pm, const std::u16string& name, bool multi_user = false) {
  bool read_only = false, repair = false;
  pm.OpenDatabase(name, {}, read_only, repair, false, multi_user);
}

class DurabilityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TORBDiskPageManager pm;
    pm.CreateAndOpenDatabase(Name(), {}, kPageSize, 8);
    AddCommitted(pm, 1);
  }
  std::u16string Name() const { return FDir.WFile("d.orb"); }
  std::string Path() const { return FDir.File("d.orb"); }

  DiskScratch FDir;
};

TEST_F(DurabilityTest, CloseRefusesUncommittedPagesAndForgetsEveryCachedPage) {
  // A second file whose page 2 differs, for a reopen of the same manager.
  {
    TORBDiskPageManager other;
    other.CreateAndOpenDatabase(FDir.WFile("e.orb"), {}, kPageSize, 8);
    AddCommitted(other, 9);
  }
  TORBDiskPageManager pm;
  Open(pm, Name());
  TORBPageGuard in_use = pm.GetPageGuard(kSession, 2, kPageTypeTableRecord);
  TORBPageGuard added = pm.AddPageGuard(kSession, kPageTypeTableRecord);
  const int32_t added_no = added.PageNo();
  Fill(added, 5);
  added.Release();
  pm.RemovePage(kSession, 2);

  EXPECT_EQ(ErrorCodeOf([&] { pm.CloseDatabase(); }), 20097);
  EXPECT_TRUE(pm.GetIsOpened());
  pm.CancelChanges(kSession);
  pm.CloseDatabase();
  EXPECT_FALSE(pm.GetIsOpened());
  EXPECT_EQ(pm.SharedPageCount(), 0);

  Open(pm, FDir.WFile("e.orb"));
  EXPECT_FALSE(pm.HasPendingChanges(kSession));
  EXPECT_EQ(FirstByte(pm, 2), 9);  // not the copy of the other file
  EXPECT_EQ(in_use->GetPageData()[0], 1);  // still valid for its user
  in_use.Release();
  // Nothing of the first file's session reaches the second file.
  pm.ApplyChanges(kSession);
  pm.CloseDatabase();
  const std::vector<uint8_t> e = ReadAll(FDir.File("e.orb"));
  EXPECT_EQ(e.size(), 380u + 6 * kPageSize);
  EXPECT_EQ(LoadI32LE(&e[34]), 2);  // last used page
  EXPECT_EQ(LoadI32LE(&e[kOffState]), 1);
  // The page the first file's session added was given back by the cancel.
  Open(pm, Name());
  EXPECT_EQ(AddCommitted(pm, 6), added_no);
}

TEST_F(DurabilityTest, CloseReportsAFailingFlushAndStillCloses) {
  TORBDiskPageManager pm;
  Open(pm, Name());
  pm.DatabaseFile().InjectFault(EIO, TPlatformFile::kFaultFlush);
  EXPECT_EQ(ErrorCodeOf([&] { pm.CloseDatabase(); }), 30379);
  EXPECT_FALSE(pm.GetIsOpened());
  EXPECT_FALSE(pm.DatabaseFile().GetIsOpened());
  // The file is released: an exclusive open succeeds.
  TORBDiskPageManager b;
  bool ro = false, repair = false, multi = false;
  b.OpenDatabase(Name(), {}, ro, repair, /*exclusive=*/true, multi);
  EXPECT_TRUE(b.GetExclusive());
}

// Fails every flush from the first page write of a commit on.
class FlushFailsAfterPageWrite : public TORBDiskPageManager {
 protected:
  void InternalWritePage(TORBPage& page) override {
    DatabaseFile().InjectFault(EIO, TPlatformFile::kFaultFlush);
    TORBDiskPageManager::InternalWritePage(page);
  }
};

TEST_F(DurabilityTest, FlushedCommitThatCannotFlushIsRolledBack) {
  for (bool shared : {false, true}) {
    SCOPED_TRACE(shared ? "shared" : "single-user");
    FlushFailsAfterPageWrite pm;
    Open(pm, Name(), shared);
    TORBPageGuard page = pm.GetPageGuard(kSession, 2, kPageTypeTableRecord);
    Fill(page, 7);
    page.Release();
    const int32_t state = LoadI32LE(&ReadAll(Path())[kOffState]);
    // The flush fails: the commit is not done and the file is put back as
    // it was, the header consistent.
    EXPECT_EQ(ErrorCodeOf([&] { pm.ApplyChanges(kSession, true); }), 30379);
    std::vector<uint8_t> f = ReadAll(Path());
    EXPECT_EQ(f[kOffWriteChangesState], kWriteChangesConsistent);
    EXPECT_EQ(LoadI32LE(&f[kOffState]), state);
    pm.CancelChanges(kSession);
    EXPECT_EQ(ErrorCodeOf([&] { pm.CloseDatabase(); }), 30379);

    // Without flush the same commit completes: nothing waits for the disk.
    Open(pm, Name(), shared);
    page = pm.GetPageGuard(kSession, 2, kPageTypeTableRecord);
    Fill(page, 8);
    page.Release();
    pm.ApplyChanges(kSession);
    f = ReadAll(Path());
    EXPECT_EQ(f[kOffWriteChangesState], kWriteChangesConsistent);
    EXPECT_EQ(LoadI32LE(&f[kOffState]), state + 1);
    pm.DatabaseFile().InjectFault(0, TPlatformFile::kFaultFlush);
    pm.CloseDatabase();
  }
  TORBDiskPageManager pm;
  Open(pm, Name());
  TORBPageGuard page = pm.GetPageGuard(kSession, 2, kPageTypeTableRecord);
  Fill(page, 9);
  page.Release();
  pm.ApplyChanges(kSession, true);
  EXPECT_EQ(ReadAll(Path())[kOffWriteChangesState], kWriteChangesConsistent);
  EXPECT_EQ(ReadAll(Path())[380 + 2 * kPageSize + 40], 9);
}

// Allocations on a drive without room fail at once with kErrDiskFull; the
// file keeps its size and its header stays consistent, and the work done
// before commits once room is back.
TEST_F(DurabilityTest, GrowthWithoutRoomFailsTheAllocationCleanly) {
  TORBDiskPageManager pm;
  Open(pm, Name());
  const auto size_before = std::filesystem::file_size(Path());
  pm.DatabaseFile().InjectFault(ENOSPC, TPlatformFile::kFaultAllocate);
  std::vector<int32_t> added;
  int32_t code = 0;
  for (int i = 0; i < 20 && code == 0; ++i) {
    code = ErrorCodeOf([&] {
      TORBPageGuard page = pm.AddPageGuard(kSession, kPageTypeTableRecord);
      added.push_back(page.PageNo());
      Fill(page, static_cast<uint8_t>(20 + i));
      page.Release();
    });
  }
  EXPECT_EQ(code, kErrDiskFull);
  EXPECT_EQ(added, (std::vector<int32_t>{3, 4, 5}));  // the room the file had
  EXPECT_EQ(std::filesystem::file_size(Path()), size_before);
  EXPECT_EQ(ReadAll(Path())[kOffWriteChangesState], kWriteChangesConsistent);
  pm.ApplyChanges(kSession);
  pm.DatabaseFile().InjectFault(0, TPlatformFile::kFaultAllocate);
  EXPECT_EQ(AddCommitted(pm, 40), 6);
  pm.CloseDatabase();

  TORBDiskPageManager again;
  bool ro = false, repair = true, multi = false;
  again.OpenDatabase(Name(), {}, ro, repair, false, multi);
  EXPECT_FALSE(repair);
  for (int32_t no : added) EXPECT_EQ(FirstByte(again, no), 20 + (no - 3));
  EXPECT_EQ(FirstByte(again, 6), 40);
}

// The same on a real file system of 1 MiB, mounted in a private mount
// namespace of a child process. Skipped where mounting is not permitted.
TEST(DiskFullTest, SmallFileSystemFillsUpWithoutAHalfWrittenCommit) {
  std::fflush(stdout);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    char dir[] = "/tmp/orb_full_XXXXXX";
    if (mkdtemp(dir) == nullptr || unshare(CLONE_NEWNS) != 0 ||
        mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", dir, "tmpfs", 0, "size=1m") != 0) {
      rmdir(dir);
      _exit(77);
    }
    const std::string path = std::string(dir) + "/full.orb";
    int status = 0;
    try {
      TORBDiskPageManager pm;
      pm.CreateAndOpenDatabase(Utf8ToWide(path), {}, kPageSize, 8);
      int32_t code = 0;
      std::vector<int32_t> committed;
      for (int i = 0; i < 1000 && code == 0; ++i) {
        code = ErrorCodeOf([&] { committed.push_back(AddCommitted(pm, static_cast<uint8_t>(i))); });
      }
      if (code != kErrDiskFull) status = 10;
      std::vector<uint8_t> f = ReadAll(path);
      if (f.size() < 43 || f[kOffWriteChangesState] != kWriteChangesConsistent) status = 11;
      if (committed.size() < 100) status = 12;
      pm.CancelChanges(kSession);
      pm.CloseDatabase();
      TORBDiskPageManager again;
      bool ro = false, repair = true, multi = false;
      again.OpenDatabase(Utf8ToWide(path), {}, ro, repair, false, multi);
      if (repair) status = 13;
      for (size_t i = 0; i < committed.size(); ++i) {
        if (FirstByte(again, committed[i]) != static_cast<uint8_t>(i)) status = 14;
      }
      const size_t count = committed.size();
      std::printf("disk full after %zu committed pages, code %d\n", count, code);
    } catch (const EORBException& e) {
      std::printf("unexpected error %d %s\n", e.NativeError(), e.what());
      status = 2;
    }
    std::fflush(stdout);
    umount(dir);
    rmdir(dir);
    _exit(status);
  }
  int wstatus = 0;
  ASSERT_EQ(waitpid(pid, &wstatus, 0), pid);
  ASSERT_TRUE(WIFEXITED(wstatus));
  if (WEXITSTATUS(wstatus) == 77) GTEST_SKIP() << "cannot mount a small file system here";
  EXPECT_EQ(WEXITSTATUS(wstatus), 0);
}

}  // namespace
}  // namespace orb
