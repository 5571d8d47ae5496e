#include "engine/disk/free_space.h"

#include <gtest/gtest.h>


#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <random>
#include <set>
#include <vector>

#include "engine/disk/disk_page_manager.h"
#include "engine/table/page_header.h"
#include "engine/platform/byte_order.h"
#include "tests/support/disk_scratch.h"

namespace orb {
namespace {

using testing::DiskScratch;
using testing::ErrorCodeOf;
using testing::ReadAll;

// A database file read back from disk, independently of the manager.
struct Image {
  std::vector<uint8_t> bytes;
  int64_t page_size;

  Image(const std::string& path, int64_t ps) : bytes(ReadAll(path)), page_size(ps) {}
  int32_t Total() const { return LoadI32LE(&bytes[30]); }
  int32_t LastUsed() const { return LoadI32LE(&bytes[34]); }
  const uint8_t* Page(int64_t n) const { return &bytes[kFrontPartSize + n * page_size]; }
  uint16_t Type(int64_t n) const { return LoadU16LE(Page(n) + 8); }
  const uint8_t* Data(int64_t n) const { return Page(n) + 40; }
};

// Run on a file opened exclusively (maps kept in memory, written on demand)
// and on a shared one (maps written before each call returns).
class FreeSpaceTest : public ::testing::TestWithParam<bool> {
 protected:
  bool Shared() const { return GetParam(); }
  void Create(uint16_t page_size, uint16_t extent) {
    FPageSize = page_size;
    FExtent = extent;
    FPm.CreateAndOpenDatabase(FDir.WFile("f.orb"), TORBPassword{}, page_size, extent);
    if (!Shared()) return;
    FPm.CloseDatabase();
    bool ro = false, repair = false, multi = true;
    FPm.OpenDatabase(FDir.WFile("f.orb"), TORBPassword{}, ro, repair, false, multi);
    ASSERT_TRUE(multi);
  }
  TORBDatabaseFreeSpaceManager& Fsm() { return *FPm.FreeSpaceManager(); }
  // The file as another reader sees it, once what is kept in memory is
  // written.
  Image Read() {
    if (!Shared()) Fsm().FlushChanges(true);
    return Image(FDir.File("f.orb"), FPageSize);
  }

  // Every page below the total is marked in use exactly when it is a map
  // page or allocated; full extents really are full; the file ends with an
  // ordinary page and matches the header.
  void CheckMaps(const std::set<int32_t>& allocated) {
    const Image img = Read();
    TORBDatabaseFreeSpaceManager& f = Fsm();
    const int64_t total = img.Total();
    ASSERT_EQ(static_cast<int64_t>(img.bytes.size()), kFrontPartSize + total * FPageSize);
    const int32_t expected_last = allocated.empty() ? -1 : *allocated.rbegin();
    ASSERT_EQ(img.LastUsed(), expected_last);
    if (total == 0) return;
    ASSERT_FALSE(f.IsPagePfsOrEam(total - 1));
    const int64_t p = f.GetPFSPagesAddressed();
    const int64_t e = f.GetEAMPagesAddressed();
    auto used = [&](int64_t n) {
      const int64_t idx = n % p;
      return (img.Data(n / p * p)[idx / 8] >> (idx % 8)) & 1;
    };
    for (int64_t n = 0; n < total; ++n) {
      if (n % p == 0) {
        ASSERT_EQ(img.Type(n), kPageTypePFS) << n;
      } else if (f.IsPagePfsOrEam(n)) {
        ASSERT_EQ(img.Type(n), kPageTypeEAM) << n;
      }
      const bool expect = f.IsPagePfsOrEam(n) || allocated.count(static_cast<int32_t>(n));
      ASSERT_EQ(used(n) != 0, expect) << "page " << n;
    }
    for (int64_t x = 0; x * FExtent < total; ++x) {
      const int64_t entry = x % (e / FExtent);
      const uint8_t code = (img.Data(f.EamPageNoForPageNo(x * FExtent))[entry / 4] >> (2 * (entry % 4))) & 3;
      if (code != 3) continue;
      for (int64_t n = x * FExtent; n < (x + 1) * FExtent; ++n) {
        ASSERT_TRUE(n < total && used(n)) << "extent " << x << " marked full, page " << n << " free";
      }
    }
  }

  DiskScratch FDir;
  TORBDiskPageManager FPm;
  int64_t FPageSize = 0;
  int64_t FExtent = 0;
};

TEST_P(FreeSpaceTest, FirstAllocationFormatsTheMaps) {
  Create(4096, 8);
  EXPECT_EQ(Read().bytes.size(), static_cast<size_t>(kFrontPartSize));
  EXPECT_EQ(Fsm().GetPage(), 2);
  const Image img = Read();
  EXPECT_EQ(img.bytes.size(), static_cast<size_t>(kFrontPartSize + 6 * 4096));
  EXPECT_EQ(img.Total(), 6);
  EXPECT_EQ(img.LastUsed(), 2);
  EXPECT_EQ(img.Type(0), kPageTypePFS);
  EXPECT_EQ(img.Type(1), kPageTypeEAM);
  EXPECT_EQ(img.Data(0)[0], 0x07);  // pages 0, 1, 2
  EXPECT_EQ(img.Data(1)[0], 0x01);  // extent 0: has free pages
  EXPECT_EQ(std::count(img.Data(0) + 1, img.Data(0) + 4056, 0), 4055);
  CheckMaps({2});
}

TEST_P(FreeSpaceTest, GrowthStepsFollowTheFileSize) {
  Create(4096, 8);
  std::set<int32_t> allocated;
  int32_t total = 0;
  while (total < 1200) {
    const int32_t page = Fsm().GetPage();
    const int32_t now = Fsm().GetTotalPageCount();
    if (now != total) {
      // All pages were in use: the next page is the old end, and the file
      // grows by a tenth of itself, at least one extent (6 at first).
      EXPECT_EQ(page, total == 0 ? 2 : total);
      EXPECT_EQ(now - total, total == 0 ? 6 : std::max(total / 10, 8));
      total = now;
    }
    ASSERT_TRUE(allocated.insert(page).second);
  }
  CheckMaps(allocated);
}

TEST_P(FreeSpaceTest, ShrinksOnlyByWholeSteps) {
  Create(4096, 8);
  Fsm().GetPage();
  FPm.ExtendFile(994);  // 1000 pages, 2 .. 999 free
  FPm.SaveDBHeader(true);
  std::set<int32_t> allocated = {2};
  while (*allocated.rbegin() < 901) ASSERT_TRUE(allocated.insert(Fsm().GetPage()).second);
  EXPECT_EQ(Read().Total(), 1000);

  Fsm().FreePage(901);  // 99 free pages at the end: kept
  allocated.erase(901);
  EXPECT_EQ(Read().Total(), 1000);
  Fsm().FreePage(900);  // 100: one step cut
  allocated.erase(900);
  EXPECT_EQ(Read().Total(), 900);
  CheckMaps(allocated);

  // Releasing from the end shrinks in steps of a tenth of the file, so that
  // less than one step stays free at the end.
  for (int32_t n = 899; n > 649; --n) {
    Fsm().FreePage(n);
    allocated.erase(n);
    const int32_t total = Fsm().GetTotalPageCount();
    ASSERT_LT(total - n, std::max(total / 10, 8)) << n;
  }
  EXPECT_LT(Read().Total(), 900);
  CheckMaps(allocated);
}

TEST_P(FreeSpaceTest, CutsThreeHundredOfThreeHundredFiftyFreePages) {
  Create(4096, 8);
  Fsm().GetPage();
  FPm.ExtendFile(994);
  FPm.SaveDBHeader(true);
  std::set<int32_t> allocated = {2};
  while (*allocated.rbegin() < 650) allocated.insert(Fsm().GetPage());
  Fsm().FreePage(650);
  allocated.erase(650);
  EXPECT_EQ(Read().Total(), 700);
  CheckMaps(allocated);
}

TEST_P(FreeSpaceTest, FreedPagesAreReusedLowestFirstAndFreedOnce) {
  Create(4096, 8);
  std::set<int32_t> allocated;
  for (int i = 0; i < 20; ++i) allocated.insert(Fsm().GetPage());
  Fsm().FreePage(9);
  Fsm().FreePage(5);
  const std::vector<uint8_t> before = Read().bytes;
  EXPECT_EQ(ErrorCodeOf([&] { Fsm().FreePage(5); }), 30427);
  EXPECT_EQ(Read().bytes, before);
  EXPECT_EQ(ErrorCodeOf([&] { Fsm().FreePage(0); }), 30434);
  EXPECT_EQ(ErrorCodeOf([&] { Fsm().FreePage(1); }), 30434);
  EXPECT_EQ(ErrorCodeOf([&] { Fsm().FreePage(5000); }), 30430);
  EXPECT_EQ(Fsm().GetPage(), 5);
  EXPECT_EQ(Fsm().GetPage(), 9);
  allocated.erase(5000);
  CheckMaps(allocated);
}

TEST_P(FreeSpaceTest, MapPagePlacement) {
  Create(4096, 8);
  TORBDatabaseFreeSpaceManager& f = Fsm();
  EXPECT_EQ(f.GetPFSPagesAddressed(), 32448);
  EXPECT_EQ(f.GetEAMPagesAddressed(), 129792);
  for (int64_t n : {0, 1, 32448, 64896, 97344, 129792, 129793, 259585}) EXPECT_TRUE(f.IsPagePfsOrEam(n)) << n;
  for (int64_t n : {2, 32449, 129794, 259584 + 2}) EXPECT_FALSE(f.IsPagePfsOrEam(n)) << n;
  // The placement rule, checked by division, over the first map periods
  // and around the ends of the 32-bit range.
  auto rule = [](int64_t n) {
    const int64_t p = 32448, e = 129792;
    return n % p == 0 || n % e == 0 || ((n - 1) % p == 0 && (n - 1) % e == 0);
  };
  std::vector<int64_t> probes;
  for (int64_t n = 0; n < 600000; ++n) probes.push_back(n);
  for (int64_t base : {int64_t{INT32_MAX} / 129792 * 129792, int64_t{INT32_MAX}, int64_t{1} << 33})
    for (int64_t n = base - 3; n <= base + 3; ++n) probes.push_back(n);
  for (int64_t n : probes) ASSERT_EQ(f.IsPagePfsOrEam(n), rule(n)) << n;
  EXPECT_FALSE(f.IsPagePfsOrEam(-1));
  EXPECT_EQ(f.EamPageNoForPageNo(200000), 129793);
  EXPECT_EQ(f.PfsPageNoForPageNo(70000), 64896);
  EXPECT_EQ(ErrorCodeOf([&] { (void)FPm.GetPageGuard(0, 32448, kPageTypeAny); }), 30434);
  EXPECT_EQ(ErrorCodeOf([&] { FPm.RemovePage(0, 129793); }), 30434);
}

// Cutting the file after its last used page can drop an EAM page whose bit
// lies in a PFS page that stays; the file must still grow past it later.
TEST_P(FreeSpaceTest, TruncatedDatabaseGrowsAgainPastACutMapPage) {
  // 8 data bytes: 64 pages per PFS page and an EAM page every 32 pages, so
  // the bit of EAM page 32 lies in PFS page 0.
  Create(48, 1);
  std::set<int32_t> allocated;
  int32_t page = 0;
  while ((page = Fsm().GetPage()) < 33) allocated.insert(page);
  ASSERT_EQ(page, 33);
  Fsm().FreePage(page);
  ASSERT_GT(Read().Total(), 33);  // a tail shorter than a step stays
  FPm.TruncateDatabase();
  ASSERT_EQ(Read().Total(), 32);
  CheckMaps(allocated);
  for (int i = 0; i < 40; ++i) ASSERT_TRUE(allocated.insert(Fsm().GetPage()).second);
  CheckMaps(allocated);
}

// A random run of allocations and releases with tiny pages, so that the
// file grows and shrinks across many PFS and EAM ranges; EAM ranges do not
// line up with PFS ranges (3 pages per extent).
TEST_P(FreeSpaceTest, RandomRunAgainstAModel) {
  Create(56, 3);  // 16 data bytes: 128 pages per PFS page, 192 per EAM page
  std::mt19937 gen(1234);
  std::set<int32_t> allocated;
  auto percent = [&] { return std::uniform_int_distribution<int>(0, 99)(gen); };
  for (int step = 0; step < 6000; ++step) {
    const bool shrinking = (step / 300) % 2 == 1;
    const bool allocate = allocated.empty() || percent() < (shrinking ? 30 : 70);
    if (allocate) {
      const int32_t page = Fsm().GetPage();
      ASSERT_FALSE(Fsm().IsPagePfsOrEam(page)) << page;
      ASSERT_LT(page, Fsm().GetTotalPageCount());
      ASSERT_TRUE(allocated.insert(page).second) << "page handed out twice: " << page;
    } else {
      // While shrinking, mostly release from the top so that the file's end
      // becomes free and is cut at varying points.
      const size_t n = allocated.size();
      size_t index = std::uniform_int_distribution<size_t>(0, n - 1)(gen);
      if (shrinking && percent() < 80) index = n - 1 - std::min<size_t>(n - 1, gen() % 3);
      auto it = allocated.begin();
      std::advance(it, index);
      const int32_t page = *it;
      allocated.erase(it);
      Fsm().FreePage(page);
    }
    if (step % 25 == 0) {
      CheckMaps(allocated);
      if (HasFatalFailure()) FAIL() << "at step " << step;
    }
  }
  while (!allocated.empty()) {
    Fsm().FreePage(*allocated.begin());
    allocated.erase(allocated.begin());
  }
  CheckMaps(allocated);
  EXPECT_LT(Read().Total(), 10);
}

INSTANTIATE_TEST_SUITE_P(Modes, FreeSpaceTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Shared" : "Exclusive"; });

// A file opened exclusively keeps its maps in memory; still, once a commit
// has written its pages, the file on disk marks every one of them in use
// (as if the process died right after the commit), and allocations made
// before closing are never handed out again after reopening.
TEST(FreeSpaceExclusiveTest, MapsReachTheDiskBeforeThePagesTheyAllocate) {
  DiskScratch dir;
  TORBDiskPageManager pm;
  pm.CreateAndOpenDatabase(dir.WFile("x.orb"), TORBPassword{}, 4096, 8);
  std::set<int32_t> committed;
  for (int i = 0; i < 30; ++i) {
    TORBPageGuard page = pm.AddPageGuard(0, kPageTypeTableRecord);
    page->GetPageData()[0] = static_cast<uint8_t>(i + 1);
    committed.insert(page.PageNo());
    page.Release();
  }
  pm.ApplyChanges(0);
  const Image img(dir.File("x.orb"), 4096);
  const TORBDatabaseFreeSpaceManager& f = *pm.FreeSpaceManager();
  ASSERT_EQ(img.LastUsed(), *committed.rbegin());
  ASSERT_GT(img.Total(), *committed.rbegin());
  for (int32_t n : committed) {
    EXPECT_TRUE((img.Data(0)[n / 8] >> (n % 8)) & 1) << "page " << n << " committed but free on disk";
    EXPECT_NE(img.Data(n)[0], 0) << n;
  }
  EXPECT_FALSE(f.IsPagePfsOrEam(*committed.begin()));

  std::set<int32_t> taken = committed;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(taken.insert(pm.FreeSpaceManager()->GetPage()).second);
  pm.CloseDatabase();
  bool ro = false, repair = false, multi = false;
  pm.OpenDatabase(dir.WFile("x.orb"), TORBPassword{}, ro, repair, true, multi);
  for (int i = 0; i < 5; ++i) {
    const int32_t page = pm.FreeSpaceManager()->GetPage();
    EXPECT_TRUE(taken.insert(page).second) << "page handed out twice: " << page;
  }
}

// Two managers on one file allocate in turn: each sees the other's maps.
TEST(FreeSpaceSharedTest, ManagersSharingAFileNeverHandOutAPageTwice) {
  DiskScratch dir;
  {
    TORBDiskPageManager creator;
    creator.CreateAndOpenDatabase(dir.WFile("s.orb"), TORBPassword{}, 64, 2);
  }
  TORBDiskPageManager a, b;
  bool ro = false, repair = false, multi = true;
  a.OpenDatabase(dir.WFile("s.orb"), TORBPassword{}, ro, repair, false, multi);
  ASSERT_TRUE(multi);
  b.OpenDatabase(dir.WFile("s.orb"), TORBPassword{}, ro, repair, false, multi);
  std::set<int32_t> seen;
  std::mt19937 gen(7);
  std::vector<int32_t> mine[2];
  for (int i = 0; i < 600; ++i) {
    const int who = static_cast<int>(gen() % 2);
    TORBDiskPageManager& m = who ? b : a;
    if (gen() % 3 == 0 && !mine[who].empty()) {
      const int32_t page = mine[who].back();
      mine[who].pop_back();
      seen.erase(page);
      m.FreeSpaceManager()->FreePage(page);
    } else {
      const int32_t page = m.FreeSpaceManager()->GetPage();
      ASSERT_TRUE(seen.insert(page).second) << page;
      mine[who].push_back(page);
    }
  }
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

// Processes sharing one file allocate and release concurrently: every page
// in use belongs to exactly one of them, and the maps agree at the end.
TEST(FreeSpaceProcessTest, ConcurrentProcessesNeverShareAPage) {
  DiskScratch dir;
  {
    TORBDiskPageManager creator;
    creator.CreateAndOpenDatabase(dir.WFile("p.orb"), TORBPassword{}, 64, 2);
  }
  const std::string child = std::string(ORB_TEST_BIN_DIR) + "/orb_disk_alloc_child";
  std::vector<FILE*> pipes;
  for (int i = 0; i < 3; ++i) {
    const std::string cmd = child + " " + dir.File("p.orb") + " 150 " + std::to_string(i + 1);
    pipes.push_back(popen(cmd.c_str(), "r"));
    ASSERT_NE(pipes.back(), nullptr);
  }
  // Each process's pages, replayed per process: a page is never obtained
  // while another process still holds it is checked on the final state.
  std::set<int32_t> held;
  for (FILE* p : pipes) {
    char line[256];
    bool done = false;
    std::set<int32_t> own;
    while (std::fgets(line, sizeof line, p)) {
      if (line[0] == '+') {
        ASSERT_TRUE(own.insert(std::atoi(line + 1)).second) << line;
      } else if (line[0] == '-') {
        ASSERT_EQ(own.erase(std::atoi(line + 1)), 1u) << line;
      } else if (std::string(line) == "done\n") {
        done = true;
      } else {
        ADD_FAILURE() << line;
      }
    }
    EXPECT_EQ(pclose(p), 0);
    EXPECT_TRUE(done);
    for (int32_t page : own) ASSERT_TRUE(held.insert(page).second) << "page held by two processes: " << page;
  }
  TORBDiskPageManager pm;
  bool ro = false, repair = false, multi = false;
  pm.OpenDatabase(dir.WFile("p.orb"), TORBPassword{}, ro, repair, false, multi);
  TORBDatabaseFreeSpaceManager& f = *pm.FreeSpaceManager();
  for (int32_t n = 0; n < f.GetTotalPageCount(); ++n) {
    EXPECT_EQ(f.GetPageUsageFromPFS(n), f.IsPagePfsOrEam(n) || held.count(n) > 0) << n;
  }
  EXPECT_EQ(pm.GetDbHeader().LastUsedPageNo, *held.rbegin());
}

// A file shared with other processes gives the page count they leave: it
// is read from the file, never taken from this process's memory.
TEST(FreeSpaceProcessTest, SharedFilePageCountIncludesOtherProcessesPages) {
  DiskScratch dir;
  {
    TORBDiskPageManager creator;
    creator.CreateAndOpenDatabase(dir.WFile("p.orb"), TORBPassword{}, 64, 2);
  }
  TORBDiskPageManager pm;
  bool ro = false, repair = false, multi = true;
  pm.OpenDatabase(dir.WFile("p.orb"), TORBPassword{}, ro, repair, false, multi);
  ASSERT_TRUE(multi);
  const int32_t before = pm.GetPageCount();
  const std::string cmd = std::string(ORB_TEST_BIN_DIR) + "/orb_disk_alloc_child " + dir.File("p.orb") + " 200 5";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  char line[256];
  std::string last;
  while (std::fgets(line, sizeof line, p)) last = line;
  EXPECT_EQ(pclose(p), 0);
  EXPECT_EQ(last, "done\n");
  const int64_t file_pages =
      (static_cast<int64_t>(std::filesystem::file_size(dir.File("p.orb"))) - pm.GetOffsetToFirstPage()) / 64;
  EXPECT_GT(file_pages, before);
  EXPECT_EQ(pm.GetPageCount(), file_pages);
}

}  // namespace
}  // namespace orb
