#include "engine/disk/disk_page_manager.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <thread>

#include "engine/base/error_codes.h"
#include "engine/disk/free_space.h"
#include "engine/platform/byte_order.h"
#include "engine/platform/clock.h"
#include "engine/base/crc32.h"
#include "tests/support/disk_scratch.h"
#include "tests/engine/disk/unprivileged.h"

namespace orb {
namespace {

// Pages of the disk manager are held through guards only.
template <typename M>
concept RawGet = requires(M& m) { m.GetPage(1, 1, kPageTypeAny); };
static_assert(!RawGet<TORBDiskPageManager>);

using testing::DiskScratch;
using testing::ErrorCodeOf;
using testing::ReadAll;
using testing::WriteAll;

constexpr int32_t kSession = 0;
constexpr uint16_t kPageSize = 4096;
constexpr int kData = kPageSize - 40;

TORBPassword Password(const std::string& text, TORBCryptoAlgorithm alg = craRijndael_128) {
  TORBPassword p;
  p.Password = text;
  p.CryptoAlgorithm = alg;
  return p;
}

// Adds one page of `type` filled with `fill` and commits it; returns its
// number.
int32_t AddFilledPage(TORBDiskPageManager& pm, uint8_t fill, uint16_t type = kPageTypeTableRecord) {
  TORBPageGuard page = pm.AddPageGuard(kSession, type);
  const int32_t no = page.PageNo();
  for (int i = 0; i < kData; ++i) page->GetPageData()[i] = static_cast<uint8_t>(fill + i * 7);
  page.Release();
  pm.ApplyChanges(kSession);
  return no;
}

bool HasFill(const uint8_t* data, uint8_t fill) {
  for (int i = 0; i < kData; ++i) {
    if (data[i] != static_cast<uint8_t>(fill + i * 7)) return false;
  }
  return true;
}

struct OpenResult {
  bool read_only = false;
  bool repair = false;
  bool multi_user = false;
};

OpenResult Open(TORBDiskPageManager& pm, const std::u16string& name, const TORBPassword& pw = {},
                bool multi_user = false, bool read_only = false) {
  OpenResult r;
  r.read_only = read_only;
  r.multi_user = multi_user;
  pm.OpenDatabase(name, pw, r.read_only, r.repair, false, r.multi_user);
  return r;
}

class DiskPageManagerTest : public ::testing::Test {
 protected:
  std::u16string Name() const { return FDir.WFile("d.orb"); }
  std::string Path() const { return FDir.File("d.orb"); }
  void Create(const TORBPassword& pw = {}, uint16_t page_size = kPageSize) {
    TORBDiskPageManager pm;
    pm.CreateAndOpenDatabase(Name(), pw, page_size, 8);
  }
  void Patch(size_t offset, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> file = ReadAll(Path());
    std::copy(bytes.begin(), bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(offset));
    WriteAll(Path(), file);
  }

  DiskScratch FDir;
};

TEST_F(DiskPageManagerTest, NewFileLayoutAndFirstCommit) {
  TORBDiskPageManager pm;
  pm.CreateAndOpenDatabase(Name(), {}, kPageSize, 8);
  std::vector<uint8_t> f = ReadAll(Path());
  ASSERT_EQ(f.size(), 380u);
  EXPECT_EQ(std::string(f.begin(), f.begin() + 16), "0RBELLE-DATABASE");
  EXPECT_EQ(LoadI16LE(&f[16]), 76);
  EXPECT_DOUBLE_EQ(LoadF64LE(&f[18]), 7.92);
  EXPECT_EQ(LoadU16LE(&f[26]), 4096);
  EXPECT_EQ(LoadU16LE(&f[28]), 8);
  EXPECT_EQ(LoadI32LE(&f[30]), 0);
  EXPECT_EQ(LoadI32LE(&f[34]), -1);
  EXPECT_EQ(LoadI32LE(&f[38]), 0);
  EXPECT_EQ(f[42], 2);
  EXPECT_EQ(f[43], 0);
  EXPECT_EQ(LoadI16LE(&f[76]), 280);
  EXPECT_EQ(LoadI16LE(&f[356]), 20);
  EXPECT_EQ(LoadI32LE(&f[376]), 0);
  for (size_t i : {44, 78, 300, 358, 370}) EXPECT_EQ(f[i], 0) << i;

  EXPECT_EQ(AddFilledPage(pm, 9, kPageTypeFileSystemDirectory), 2);
  f = ReadAll(Path());
  ASSERT_EQ(f.size(), 380u + 6 * 4096);
  EXPECT_EQ(LoadI32LE(&f[30]), 6);
  EXPECT_EQ(LoadI32LE(&f[34]), 2);
  EXPECT_EQ(LoadI32LE(&f[38]), 1);  // one commit
  EXPECT_EQ(f[42], 2);
  const uint8_t* page2 = &f[380 + 2 * 4096];
  EXPECT_EQ(std::string(page2, page2 + 4), "ORBP");
  EXPECT_EQ(LoadU16LE(page2 + 8), kPageTypeFileSystemDirectory);
  EXPECT_TRUE(HasFill(page2 + 40, 9));
  EXPECT_EQ(f[380 + 40], 0x07);  // PFS: pages 0, 1, 2
}

TEST_F(DiskPageManagerTest, ReopenReadsPagesAndCountsObjectIds) {
  {
    TORBDiskPageManager pm;
    pm.CreateAndOpenDatabase(Name(), {}, kPageSize, 8);
    AddFilledPage(pm, 1);
    AddFilledPage(pm, 2);
    EXPECT_EQ(pm.GetNextObjectID(), 1);
    EXPECT_EQ(pm.GetNextObjectID(), 2);
  }
  TORBDiskPageManager pm;
  OpenResult r = Open(pm, Name());
  EXPECT_FALSE(r.read_only);
  EXPECT_FALSE(r.repair);
  EXPECT_EQ(pm.GetPageCount(), 6);
  TORBPageGuard page = pm.GetPageGuard(kSession, 3, kPageTypeTableRecord);
  EXPECT_TRUE(HasFill(page->GetPageData(), 2));
  page.Release();
  EXPECT_EQ(ErrorCodeOf([&] { (void)pm.GetPageGuard(kSession, 2, kPageTypeTableIndex); }), 20153);
  EXPECT_EQ(pm.GetNextObjectID(), 3);
  EXPECT_EQ(LoadI32LE(&ReadAll(Path())[376]), 3);

  // Removing a page marks its stamp on disk and frees it in the maps.
  pm.RemovePage(kSession, 3);
  pm.ApplyChanges(kSession);
  std::vector<uint8_t> f = ReadAll(Path());
  EXPECT_EQ(LoadI32LE(&f[380 + 3 * 4096 + 4]), 2147483647);
  EXPECT_EQ(f[380 + 40], 0x07);
  EXPECT_EQ(LoadI32LE(&f[34]), 2);
}

TEST_F(DiskPageManagerTest, OpensAHeaderBehindLeadingBytes) {
  {
    TORBDiskPageManager pm;
    pm.CreateAndOpenDatabase(Name(), {}, kPageSize, 8);
    AddFilledPage(pm, 5);
  }
  std::vector<uint8_t> stub(12345);
  for (size_t i = 0; i < stub.size(); ++i) stub[i] = static_cast<uint8_t>(i * 31);
  std::vector<uint8_t> db = ReadAll(Path());
  stub.insert(stub.end(), db.begin(), db.end());
  WriteAll(Path(), stub);

  TORBDiskPageManager pm;
  Open(pm, Name());
  EXPECT_EQ(pm.GetOffsetToDBHeader(), 12345);
  EXPECT_EQ(pm.GetOffsetToFirstPage(), 12345 + 380);
  TORBPageGuard page = pm.GetPageGuard(kSession, 2, kPageTypeTableRecord);
  EXPECT_TRUE(HasFill(page->GetPageData(), 5));
  page.Release();
  EXPECT_EQ(AddFilledPage(pm, 6), 3);
  EXPECT_EQ(pm.GetNextObjectID(), 1);
  pm.CloseDatabase();

  const std::vector<uint8_t> f = ReadAll(Path());
  EXPECT_TRUE(std::equal(f.begin(), f.begin() + 12345, stub.begin()));
  EXPECT_EQ(f.size(), 12345u + 380 + 6 * 4096);
  EXPECT_EQ(LoadI32LE(&f[12345 + 38]), 2);
  EXPECT_TRUE(HasFill(&f[12345 + 380 + 3 * 4096 + 40], 6));
}

TEST_F(DiskPageManagerTest, RepairNeededIsReportedAndKept) {
  struct Case {
    const char* name;
    uint8_t write_changes_state;
    double version;
    bool repair;
  };
  const Case cases[] = {
      {"consistent", 2, 7.92, false},
      {"interrupted commit", 1, 7.92, true},
      {"old version", 2, 2.5, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      TORBDiskPageManager pm;
      pm.CreateAndOpenDatabase(Name(), {}, kPageSize, 8);
      AddFilledPage(pm, 1);
    }
    std::vector<uint8_t> v(8);
    StoreF64LE(v.data(), c.version);
    Patch(18, v);
    Patch(42, {c.write_changes_state});
    TORBDiskPageManager pm;
    OpenResult r = Open(pm, Name());
    EXPECT_EQ(r.repair, c.repair);
    EXPECT_EQ(pm.GetRepairNeeded(), c.repair);
    // A later commit goes through but does not clear an interrupted
    // commit's mark.
    AddFilledPage(pm, 2);
    const std::vector<uint8_t> f = ReadAll(Path());
    EXPECT_EQ(f[42], c.write_changes_state);
    EXPECT_EQ(LoadI32LE(&f[38]), 2);
  }
}

TEST_F(DiskPageManagerTest, RefusedCommitLeavesTheHeaderConsistent) {
  TORBDiskPageManager pm;
  pm.CreateAndOpenDatabase(Name(), {}, kPageSize, 8);
  TORBPageGuard page = pm.AddPageGuard(kSession, kPageTypeTableRecord);
  EXPECT_EQ(ErrorCodeOf([&] { pm.ApplyChanges(kSession); }), 20086);
  EXPECT_EQ(ReadAll(Path())[42], 2);
  page.Release();
  pm.ApplyChanges(kSession);
  EXPECT_EQ(ReadAll(Path())[42], 2);
}

TEST_F(DiskPageManagerTest, InvalidFilesAreRefusedAndLeaveTheManagerClosed) {
  Create();
  struct Case {
    const char* name;
    size_t offset;
    std::vector<uint8_t> bytes;
    int32_t code;
  };
  const Case cases[] = {
      {"signature", 0, {'X'}, 10470},
      {"crypto header size", 76, {0x10, 0x01}, 20237},
      {"page size", 26, {40, 0}, 20237},
      {"extent size", 28, {0, 0}, 20237},
      {"lock bytes size", 356, {2, 0}, 20237},
  };
  const std::vector<uint8_t> good = ReadAll(Path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteAll(Path(), good);
    Patch(c.offset, c.bytes);
    TORBDiskPageManager pm;
    EXPECT_EQ(ErrorCodeOf([&] { Open(pm, Name()); }), c.code);
    EXPECT_FALSE(pm.GetIsOpened());
    EXPECT_FALSE(pm.DatabaseFile().GetIsOpened());
  }
  WriteAll(Path(), {1, 2, 3});
  TORBDiskPageManager pm;
  EXPECT_EQ(ErrorCodeOf([&] { Open(pm, Name()); }), 10470);
  EXPECT_EQ(ErrorCodeOf([&] { Open(pm, FDir.WFile("missing.orb")); }), 30364);
  WriteAll(Path(), good);
  Open(pm, Name());
  EXPECT_EQ(ErrorCodeOf([&] { Open(pm, Name()); }), 10462);
  EXPECT_EQ(ErrorCodeOf([&] { pm.CreateAndOpenDatabase(Name(), {}, kPageSize, 8); }), 10461);
}

// A database that the user may only read opens at once, reads, hands out
// ids without writing and refuses every write with its code. Run as an
// unprivileged user: root writes whatever the permissions say.
TEST_F(DiskPageManagerTest, ReadOnlyDatabaseOpensForAnOrdinaryUser) {
  struct Case {
    const char* name;
    mode_t mode;
    bool attribute;  // no write permission for anyone: single-user
    bool needs_root;  // the file belongs to another user
  };
  const Case cases[] = {
      {"read-only attribute", 0444, true, false},
      {"another user's file", 0644, false, true},
  };
  ::chmod(std::filesystem::path(Path()).parent_path().c_str(), 0755);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_root && !testing::RunningAsRoot()) continue;
    {
      TORBDiskPageManager pm;
      pm.CreateAndOpenDatabase(Name(), {}, kPageSize, 8);
      AddFilledPage(pm, 1);
      pm.GetNextObjectID();
      pm.GetNextObjectID();
    }
    ASSERT_EQ(::chmod(Path().c_str(), c.mode), 0);
    const std::vector<uint8_t> before = ReadAll(Path());
    testing::RunUnprivileged([&] {
      TORBDiskPageManager pm, other;
      // A lock that cannot be had fails in milliseconds, not 90 seconds.
      pm.SetLockRetries(5, 1);
      other.SetLockRetries(5, 1);
      OpenResult r = Open(pm, Name(), {}, /*multi_user=*/true);
      EXPECT_TRUE(r.read_only);
      EXPECT_EQ(r.multi_user, !c.attribute);
      EXPECT_TRUE(pm.GetReadOnly());
      EXPECT_FALSE(pm.GetExclusive());
      // Two readers share the lock bytes.
      EXPECT_TRUE(Open(other, Name(), {}, /*multi_user=*/true).read_only);
      for (TORBDiskPageManager* m : {&pm, &other}) {
        for (int i = 0; i < 3; ++i) {
          const int32_t id = m->GetNextObjectID();
          EXPECT_GE(id, 3);
          EXPECT_LE(id, 3 + 9999);
        }
        EXPECT_EQ(m->GetPageCount(), 6);
      }
      TORBPageGuard page = pm.GetPageGuard(kSession, 2, kPageTypeTableRecord);
      EXPECT_TRUE(HasFill(page->GetPageData(), 1));
      page->GetPageData()[0] ^= 1;
      page.MarkDirty();
      page.Release();
      EXPECT_EQ(ErrorCodeOf([&] { pm.ApplyChanges(kSession); }), 10462);
      pm.CancelChanges(kSession);
      EXPECT_EQ(ErrorCodeOf([&] { (void)pm.AddPageGuard(kSession, kPageTypeTableRecord); }), kErrReadOnlyAllocation);
      pm.RemovePage(kSession, 2);
      EXPECT_EQ(ErrorCodeOf([&] { pm.ApplyChanges(kSession); }), 10462);
      pm.CancelChanges(kSession);
      EXPECT_EQ(ErrorCodeOf([&] { pm.SaveDBHeader(false); }), 10462);
      EXPECT_EQ(ErrorCodeOf([&] { pm.WritePageRegion("x", 2, 100, 1); }), 10475);
      EXPECT_EQ(ErrorCodeOf([&] { pm.TruncateFile(1); }), 10462);
      pm.CloseDatabase();
      other.CloseDatabase();
    });
    EXPECT_EQ(ReadAll(Path()), before);
    ::chmod(Path().c_str(), 0644);
  }
}

TEST_F(DiskPageManagerTest, TruncateDatabaseCutsEveryPageAfterTheLastUsed) {
  TORBDiskPageManager pm;
  pm.CreateAndOpenDatabase(Name(), {}, kPageSize, 8);
  AddFilledPage(pm, 1);
  pm.ExtendFile(4);
  pm.SaveDBHeader(true);
  ASSERT_EQ(ReadAll(Path()).size(), 380u + 10 * 4096);
  pm.TruncateDatabase();
  const std::vector<uint8_t> f = ReadAll(Path());
  EXPECT_EQ(f.size(), 380u + 3 * 4096);
  EXPECT_EQ(LoadI32LE(&f[30]), 3);
  EXPECT_EQ(AddFilledPage(pm, 2), 3);
}

TEST_F(DiskPageManagerTest, AShortPageIsAnErrorNotStaleBytes) {
  {
    TORBDiskPageManager pm;
    pm.CreateAndOpenDatabase(Name(), {}, kPageSize, 8);
    AddFilledPage(pm, 1);
    AddFilledPage(pm, 2);
    AddFilledPage(pm, 3);
  }
  std::filesystem::resize_file(Path(), 380 + 4 * 4096 + 100);  // page 4 cut short
  TORBDiskPageManager pm;
  Open(pm, Name());
  EXPECT_EQ(ErrorCodeOf([&] { (void)pm.GetPageGuard(kSession, 4, kPageTypeTableRecord); }), 20299);
  EXPECT_EQ(pm.InternalReadPageState(5), 2147483647);
  TORBPageGuard page = pm.GetPageGuard(kSession, 3, kPageTypeTableRecord);
  EXPECT_TRUE(HasFill(page->GetPageData(), 2));
  page.Release();
}

TEST_F(DiskPageManagerTest, PagesPastTwoGigabytes) {
  TORBDiskPageManager pm;
  pm.CreateAndOpenDatabase(Name(), {}, 32768, 8);
  TORBPageGuard first = pm.AddPageGuard(kSession, kPageTypeTableRecord);
  first.Release();
  pm.ApplyChanges(kSession);
  pm.ExtendFile(70001 - 6);
  pm.SaveDBHeader(true);
  const int32_t far = 70000;
  const int64_t offset = pm.GetPageOffset(far);
  EXPECT_EQ(offset, 380 + int64_t{70000} * 32768);
  ASSERT_GT(offset, int64_t{1} << 31);

  TORBDiskPageHeader header;
  header.PageType = kPageTypeTableBlob;
  std::vector<uint8_t> bytes(32768, 0x5A);
  header.SaveTo(bytes.data());
  pm.WritePageRegion(bytes.data(), far, 0, 32768);
  EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(Path())), offset + 32768);
  TORBPageGuard page = pm.GetPageGuard(kSession, far, kPageTypeTableBlob);
  EXPECT_EQ(page->GetPageData()[1000], 0x5A);
  page->GetPageData()[0] = 0x11;
  page.MarkDirty();
  page.Release();
  pm.ApplyChanges(kSession);
  uint8_t b = 0;
  pm.ReadPageRegion(&b, far, 40, 1);
  EXPECT_EQ(b, 0x11);
}

TEST_F(DiskPageManagerTest, AddressingAndRegionChecks) {
  TORBDiskPageManager pm;
  pm.CreateAndOpenDatabase(Name(), {}, kPageSize, 8);
  AddFilledPage(pm, 1);
  uint8_t buf[16] = {};
  EXPECT_EQ(ErrorCodeOf([&] { pm.GetPageOffset(-1); }), 10471);
  EXPECT_EQ(ErrorCodeOf([&] { pm.ReadPageRegion(buf, 2, 4090, 7); }), 10476);
  EXPECT_EQ(ErrorCodeOf([&] { pm.WritePageRegion(buf, 2, -1, 4); }), 10477);
  EXPECT_EQ(ErrorCodeOf([&] { pm.ReadPageRegion(buf, 9, 0, 4); }), 10474);  // past the end
  pm.WritePageRegion("abcd", 2, 4092, 4);
  pm.ReadPageRegion(buf, 2, 4092, 4);
  EXPECT_EQ(std::memcmp(buf, "abcd", 4), 0);

  pm.CloseDatabase();
  EXPECT_EQ(ErrorCodeOf([&] { pm.LoadDBHeader(); }), 10459);
  EXPECT_EQ(ErrorCodeOf([&] { pm.SaveDBHeader(false); }), 10460);
  EXPECT_EQ(ErrorCodeOf([&] { pm.GetNextObjectID(); }), 30399);
}

TEST_F(DiskPageManagerTest, FileLocksAreSeenByAnotherManager) {
  Create();
  TORBDiskPageManager a, b;
  ASSERT_TRUE(Open(a, Name(), {}, true).multi_user);
  Open(b, Name(), {}, true);
  b.SetLockRetries(3, 1);

  EXPECT_TRUE(a.LockDBHeader());
  EXPECT_TRUE(a.LockDBHeader());  // nested
  EXPECT_FALSE(b.LockDBHeader());
  EXPECT_EQ(ErrorCodeOf([&] { b.GetPageCount(); }), 20236);
  EXPECT_EQ(ErrorCodeOf([&] { b.FreeSpaceManager()->GetPage(); }), 20231);
  EXPECT_EQ(ErrorCodeOf([&] { (void)b.AddPageGuard(kSession, kPageTypeTableRecord); }), 20231);
  EXPECT_TRUE(a.UnlockDBHeader());
  EXPECT_FALSE(b.LockDBHeader());  // still held once
  EXPECT_TRUE(a.UnlockDBHeader());
  EXPECT_FALSE(a.UnlockDBHeader());
  EXPECT_TRUE(b.LockDBHeader());
  EXPECT_TRUE(b.UnlockDBHeader());

  // A commit waits for the header lock a bounded time, then fails without
  // touching the file.
  TORBPageGuard page = b.AddPageGuard(kSession, kPageTypeTableRecord);
  page.MarkDirty();
  page.Release();
  EXPECT_TRUE(a.LockDBHeader());
  const std::vector<uint8_t> before = ReadAll(Path());
  EXPECT_EQ(ErrorCodeOf([&] { b.ApplyChanges(kSession); }), 20213);
  EXPECT_EQ(ReadAll(Path()), before);
  EXPECT_TRUE(a.UnlockDBHeader());
  b.ApplyChanges(kSession);
  EXPECT_EQ(LoadI32LE(&ReadAll(Path())[38]), 1);

  // The page count waits for a header lock held for a moment, as a commit
  // does (a large BLOB read asks for it).
  b.SetLockRetries(500, 20);
  EXPECT_TRUE(a.LockDBHeader());
  std::thread holder([&] {
    SleepMs(30);
    a.UnlockDBHeader();
  });
  EXPECT_EQ(ErrorCodeOf([&] { EXPECT_GT(b.GetPageCount(), 0); }), 0);
  holder.join();
  b.SetLockRetries(3, 1);

  EXPECT_TRUE(a.LockTables());
  EXPECT_FALSE(b.LockTables());
  EXPECT_TRUE(a.UnlockTables());
  EXPECT_TRUE(b.LockTables());
  EXPECT_TRUE(b.UnlockTables());

  EXPECT_TRUE(a.LockLastObjectID());
  EXPECT_EQ(ErrorCodeOf([&] { b.GetNextObjectID(); }), 30401);
  EXPECT_TRUE(a.UnlockLastObjectID());
  EXPECT_EQ(b.GetNextObjectID(), 1);
  EXPECT_EQ(a.GetNextObjectID(), 2);

  EXPECT_TRUE(a.LockDBHeader());
  TORBDiskPageManager c;
  c.SetLockRetries(2, 1);
  bool ro = false, repair = false, multi = true;
  EXPECT_EQ(ErrorCodeOf([&] { c.OpenDatabase(Name(), {}, ro, repair, false, multi); }), 20230);
  EXPECT_TRUE(a.UnlockDBHeader());
}

// Page encryption through the page manager, for every cipher.
TEST_F(DiskPageManagerTest, EncryptedPagesRoundTripAndMapsStayPlain) {
  const TORBCryptoAlgorithm all[] = {craRijndael_128, craRijndael_256, craDES_Single, craDES_Triple,
                                     craBlowfish,     craTwofish_128,  craTwofish_256, craSquare};
  for (TORBCryptoAlgorithm alg : all) {
    SCOPED_TRACE(static_cast<int>(alg));
    {
      TORBDiskPageManager pm;
      pm.CreateAndOpenDatabase(Name(), Password("s3cret", alg), kPageSize, 8);
      EXPECT_TRUE(pm.GetEncrypted());
      AddFilledPage(pm, 3);
    }
    const std::vector<uint8_t> f = ReadAll(Path());
    EXPECT_EQ(f[43], 0xFF);
    EXPECT_EQ(f[78], alg);
    const uint8_t* page2 = &f[380 + 2 * 4096];
    EXPECT_EQ(std::string(page2, page2 + 4), "ORBP");  // header plain
    EXPECT_EQ(page2[20], alg);
    EXPECT_FALSE(HasFill(page2 + 40, 3));
    // Map pages plain: PFS bits of pages 0-2, EAM code of extent 0.
    EXPECT_EQ(f[380 + 40], 0x07);
    EXPECT_EQ(std::count(&f[380 + 41], &f[380 + 4096], 0), 4055);
    EXPECT_EQ(f[380 + 4096 + 40], 0x01);

    // The stored algorithm wins over the one asked for.
    TORBDiskPageManager pm;
    Open(pm, Name(), Password("s3cret", alg == craSquare ? craBlowfish : craSquare));
    EXPECT_EQ(pm.GetPassword().CryptoAlgorithm, alg);
    TORBPageGuard page = pm.GetPageGuard(kSession, 2, kPageTypeTableRecord);
    EXPECT_TRUE(HasFill(page->GetPageData(), 3));
    EXPECT_EQ(LoadU32LE(page->GetPageHeader() + 14), CRC32(0, page->GetPageData(), kData));
    // Written again unchanged: the same stored data bytes.
    page.MarkDirty();
    page.Release();
    pm.ApplyChanges(kSession);
    const std::vector<uint8_t> again = ReadAll(Path());
    EXPECT_TRUE(std::equal(&again[380 + 2 * 4096 + 40], &again[380 + 3 * 4096], page2 + 40));
    EXPECT_NE(LoadI32LE(&again[380 + 2 * 4096 + 4]), LoadI32LE(page2 + 4));
  }
}

// A commit of many pages stores them in runs of consecutive pages: every
// page arrives whole, with its stamp moved on by one, plain or encrypted,
// and the file checks clean.
TEST_F(DiskPageManagerTest, ACommitOfManyPagesStoresEachPageAndItsStamp) {
  for (bool encrypted : {false, true}) {
    SCOPED_TRACE(encrypted);
    const TORBPassword pw = encrypted ? Password("s3cret") : TORBPassword{};
    std::filesystem::remove(Path());
    std::map<int32_t, std::pair<uint8_t, int32_t>> written;  // page: fill, stamp before the commit
    {
      TORBDiskPageManager pm;
      pm.CreateAndOpenDatabase(Name(), pw, kPageSize, 8);
      for (int i = 0; i < 600; ++i) {
        TORBPageGuard page = pm.AddPageGuard(kSession, kPageTypeTableRecord);
        const uint8_t fill = static_cast<uint8_t>(i * 13);
        for (int k = 0; k < kData; ++k) page->GetPageData()[k] = static_cast<uint8_t>(fill + k * 7);
        page.MarkDirty();
        written[page.PageNo()] = {fill, page->GetState()};
      }
      pm.ApplyChanges(kSession);
      pm.CloseDatabase();
    }
    const std::vector<uint8_t> file = ReadAll(Path());
    TORBDiskPageManager pm;
    Open(pm, Name(), pw);
    for (const auto& [no, fill_stamp] : written) {
      const int64_t offset = pm.GetPageOffset(no);
      ASSERT_EQ(LoadI32LE(&file[static_cast<size_t>(offset) + 4]), fill_stamp.second + 1) << no;
      TORBPageGuard page = pm.GetPageGuard(kSession, no, kPageTypeTableRecord);
      ASSERT_TRUE(HasFill(page->GetPageData(), fill_stamp.first)) << no;
    }
  }
}

TEST_F(DiskPageManagerTest, TamperedEncryptedPageFailsItsChecksum) {
  {
    TORBDiskPageManager pm;
    pm.CreateAndOpenDatabase(Name(), Password("pw"), kPageSize, 8);
    AddFilledPage(pm, 1);
    AddFilledPage(pm, 2);
  }
  std::vector<uint8_t> f = ReadAll(Path());
  f[380 + 3 * 4096 + 2000] ^= 0x01;
  WriteAll(Path(), f);
  TORBDiskPageManager pm;
  Open(pm, Name(), Password("pw"));
  EXPECT_EQ(ErrorCodeOf([&] { (void)pm.GetPageGuard(kSession, 3, kPageTypeTableRecord); }), 30446);
  EXPECT_NE(testing::ErrorMessageOf([&] { (void)pm.GetPageGuard(kSession, 3, kPageTypeTableRecord); })
                .find("Decrypt page error. Check CRC failed. PageNo: 3"),
            std::string::npos);
  TORBPageGuard page = pm.GetPageGuard(kSession, 2, kPageTypeTableRecord);
  EXPECT_TRUE(HasFill(page->GetPageData(), 1));
  page.Release();
}

TEST_F(DiskPageManagerTest, DamagedPageFoundOnRereadIsNotServedFromTheCache) {
  {
    TORBDiskPageManager pm;
    pm.CreateAndOpenDatabase(Name(), Password("pw"), kPageSize, 8);
    AddFilledPage(pm, 1);
  }
  TORBDiskPageManager pm;
  ASSERT_TRUE(Open(pm, Name(), Password("pw"), /*multi_user=*/true).multi_user);
  TORBPageGuard page = pm.GetPageGuard(kSession, 2, kPageTypeTableRecord);
  ASSERT_TRUE(HasFill(page->GetPageData(), 1));
  page.Release();

  // Another writer moved the stamp; the stored data no longer matches its
  // checksum.
  std::vector<uint8_t> f = ReadAll(Path());
  const size_t at = 380 + 2 * 4096;
  StoreI32LE(&f[at + 4], LoadI32LE(&f[at + 4]) + 1);
  f[at + 1000] ^= 0x40;
  WriteAll(Path(), f);
  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    EXPECT_EQ(ErrorCodeOf([&] { (void)pm.GetPageGuard(kSession, 2, kPageTypeTableRecord); }), 30446);
  }
}

TEST_F(DiskPageManagerTest, WrongPasswordFailsBeforeAnyPageIsRead) {
  {
    TORBDiskPageManager pm;
    pm.CreateAndOpenDatabase(Name(), Password("right", craTwofish_256), kPageSize, 8);
    AddFilledPage(pm, 1);
  }
  // Without any page in the file, only the control block can be checked.
  std::filesystem::resize_file(Path(), 380);
  TORBDiskPageManager pm;
  EXPECT_EQ(ErrorCodeOf([&] { Open(pm, Name(), Password("wrong", craTwofish_256)); }), 30445);
  EXPECT_EQ(ErrorCodeOf([&] { Open(pm, Name(), Password("")); }), 30445);
  EXPECT_FALSE(pm.GetIsOpened());
  Open(pm, Name(), Password("right"));
  EXPECT_TRUE(pm.GetIsOpened());
}

TEST_F(DiskPageManagerTest, UnencryptedDatabaseIgnoresThePassword) {
  {
    TORBDiskPageManager pm;
    pm.CreateAndOpenDatabase(Name(), Password(""), kPageSize, 8);
    AddFilledPage(pm, 4);
  }
  const std::vector<uint8_t> f = ReadAll(Path());
  EXPECT_EQ(f[43], 0);
  EXPECT_TRUE(HasFill(&f[380 + 2 * 4096 + 40], 4));
  TORBDiskPageManager pm;
  Open(pm, Name(), Password("anything"));
  EXPECT_FALSE(pm.GetEncrypted());
  TORBPageGuard page = pm.GetPageGuard(kSession, 2, kPageTypeTableRecord);
  EXPECT_TRUE(HasFill(page->GetPageData(), 4));
  page.Release();
}

TEST_F(DiskPageManagerTest, ExclusiveOpenKeepsOthersOut) {
  Create();
  TORBDiskPageManager a, b;
  bool ro = false, repair = false, multi = true;
  a.OpenDatabase(Name(), {}, ro, repair, /*exclusive=*/true, multi);
  EXPECT_FALSE(multi);
  EXPECT_TRUE(a.GetExclusive());
  bool ro2 = true, multi2 = false;
  EXPECT_EQ(ErrorCodeOf([&] { b.OpenDatabase(Name(), {}, ro2, repair, false, multi2); }), 30364);
  a.CloseDatabase();
  b.OpenDatabase(Name(), {}, ro2, repair, false, multi2);
  EXPECT_TRUE(b.GetReadOnly());
}

// An exclusive open is either held or refused: never a shared read-only
// open that still answers GetExclusive().
TEST_F(DiskPageManagerTest, ExclusiveOpenOfAFileInUseIsRefused) {
  Create();
  struct Case {
    const char* name;
    bool holder_multi_user;
    bool holder_read_only;
    bool multi_user;
  };
  const Case cases[] = {
      {"shared writer, single-user asked", true, false, false},
      {"shared writer, multi-user asked", true, false, true},
      {"reader, single-user asked", false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TORBDiskPageManager holder, b;
    Open(holder, Name(), {}, c.holder_multi_user, c.holder_read_only);
    bool ro = false, repair = false, multi = c.multi_user;
    EXPECT_EQ(ErrorCodeOf([&] { b.OpenDatabase(Name(), {}, ro, repair, /*exclusive=*/true, multi); }), 30364);
    EXPECT_FALSE(b.GetIsOpened());
    EXPECT_FALSE(b.GetExclusive());
    holder.CloseDatabase();
    ro = false;
    multi = c.multi_user;
    b.OpenDatabase(Name(), {}, ro, repair, /*exclusive=*/true, multi);
    EXPECT_FALSE(ro);
    EXPECT_TRUE(b.GetExclusive());
  }
  // A read-only open is shared whatever was asked.
  TORBDiskPageManager r;
  bool ro = true, repair = false, multi = false;
  r.OpenDatabase(Name(), {}, ro, repair, /*exclusive=*/true, multi);
  EXPECT_TRUE(r.GetReadOnly());
  EXPECT_FALSE(r.GetExclusive());
}

TEST(TryUsingTimeOutTest, StopsAtTheFirstSuccessOrAfterTheTries) {
  int calls = 0;
  EXPECT_TRUE(TryUsingTimeOut([&] { return ++calls == 3; }, 5, 1));
  EXPECT_EQ(calls, 3);
  calls = 0;
  EXPECT_FALSE(TryUsingTimeOut([&] { return ++calls < 0; }, 4, 1));
  EXPECT_EQ(calls, 4);
  EXPECT_EQ(ErrorCodeOf([] { CheckPageType(kPageTypePFS, kPageTypeEAM, 30423); }), 30423);
  EXPECT_NE(testing::ErrorMessageOf([] { CheckPageType(kPageTypePFS, kPageTypeEAM, 30423); })
                .find("Wrong page type. Found 'PFS Page', but expecting: 'EAM Page'"),
            std::string::npos);
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

using namespace orb::testing;

// Reads the first data byte of `page_no` as `session` sees it.
uint8_t FirstDataByte(TORBDiskPageManager& pm, int32_t page_no) {
  TORBPageGuard p = pm.GetPageGuard(kSession, page_no, kPageTypeTableRecord);
  const uint8_t b = p->GetPageData()[0];
  p.Release();
  return b;
}

void Rewrite(TORBDiskPageManager& pm, int32_t page_no, uint8_t value) {
  TORBPageGuard p = pm.GetPageGuard(kSession, page_no, kPageTypeTableRecord);
  p->GetPageData()[0] = value;
  p.MarkDirty();
  p.Release();
  pm.ApplyChanges(kSession);
}

TEST_F(DiskPageManagerTest, CachedPagesAreCheckedOncePerTableLockPeriod) {
  Create();
  TORBDiskPageManager a, b;
  ASSERT_TRUE(Open(a, Name(), {}, true).multi_user);
  Open(b, Name(), {}, true);
  const int32_t page_no = AddFilledPage(a, 1);
  constexpr int32_t kTable = 7;
  TORBDiskTablePagesCacheManager& cache = a.TablePagesCacheManager();

  // First lock period at table state 10: the page is read and stamped.
  cache.TableIsSLocked(kSession, kTable);
  cache.SetIsMostUpdatedLoaded(kSession, kTable, 10);
  cache.BeginWorkWithTable(kSession, kTable);
  EXPECT_EQ(FirstDataByte(a, page_no), 1);
  // Within the period the stamped copy is trusted without looking at the
  // file (another process cannot commit to a table held under ltS).
  Rewrite(b, page_no, 42);
  EXPECT_EQ(FirstDataByte(a, page_no), 1);
  cache.EndWorkWithTable(kSession, kTable);
  cache.TableIsSUnlocked(kSession, kTable);

  // The next period checks the stored stamp and sees the new contents.
  cache.TableIsSLocked(kSession, kTable);
  cache.SetIsMostUpdatedLoaded(kSession, kTable, 11);
  cache.BeginWorkWithTable(kSession, kTable);
  EXPECT_EQ(FirstDataByte(a, page_no), 42);
  cache.EndWorkWithTable(kSession, kTable);
  cache.TableIsSUnlocked(kSession, kTable);

  // Outside any table period every access is checked.
  Rewrite(b, page_no, 43);
  EXPECT_EQ(FirstDataByte(a, page_no), 43);

  // A page stamped under another table with an equal state is not trusted.
  constexpr int32_t kOther = 8;
  cache.TableIsSLocked(kSession, kOther);
  cache.SetIsMostUpdatedLoaded(kSession, kOther, 11);
  cache.BeginWorkWithTable(kSession, kOther);
  Rewrite(b, page_no, 44);
  EXPECT_EQ(FirstDataByte(a, page_no), 44);
  cache.EndWorkWithTable(kSession, kOther);
  cache.TableIsSUnlocked(kSession, kOther);
}

// Stamps of cached pages follow another open's commits while the file
// grows past what this open has seen and is then cut below a cached page:
// the cut page reads as removed (its stamp 2147483647), the grown pages
// with their committed contents.
TEST_F(DiskPageManagerTest, StampChecksFollowTheFileAsItGrowsAndIsCut) {
  Create();
  TORBDiskPageManager a, b;
  ASSERT_TRUE(Open(a, Name(), {}, true).multi_user);
  ASSERT_TRUE(Open(b, Name(), {}, true).multi_user);
  const int32_t first = AddFilledPage(a, 1);
  EXPECT_EQ(FirstDataByte(a, first), 1);
  // b grows the file well past what a has looked at, then rewrites the
  // first page and the last one.
  std::vector<int32_t> added;
  for (int i = 0; i < 40; ++i) added.push_back(AddFilledPage(b, static_cast<uint8_t>(10 + i)));
  const int32_t last = added.back();
  EXPECT_EQ(FirstDataByte(a, last), 10 + 39);
  Rewrite(b, first, 2);
  Rewrite(b, last, 3);
  EXPECT_EQ(FirstDataByte(a, first), 2);
  EXPECT_EQ(FirstDataByte(a, last), 3);

  // b removes the added pages and cuts the file below them.
  for (int32_t page_no : added) b.RemovePage(kSession, page_no);
  b.ApplyChanges(kSession);
  b.TruncateDatabase();
  struct stat st {};
  ASSERT_EQ(stat(Path().c_str(), &st), 0);
  ASSERT_LE(st.st_size, a.GetPageOffset(added.front()));
  for (int round = 0; round < 2; ++round) {
    TORBPageGuard gone = a.GetPageGuard(kSession, last, kPageTypeTableRecord);
    EXPECT_EQ(gone->GetState(), kInvalidPageState);
  }
  EXPECT_EQ(FirstDataByte(a, first), 2);

  // The file grows again over the cut pages with new contents.
  int32_t again = -1;
  while (again < last) again = AddFilledPage(b, 77);
  EXPECT_EQ(FirstDataByte(a, last), 77);
}

}  // namespace
}  // namespace orb
