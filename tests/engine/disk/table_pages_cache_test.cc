#include "engine/disk/table_pages_cache.h"

#include <gtest/gtest.h>

#include "engine/table/page.h"
#include "tests/support/disk_scratch.h"
#include "tests/engine/table/fake_page_manager.h"

namespace orb {
namespace {

using testing::ErrorCodeOf;
using testing::FakePageManager;

constexpr int32_t kSession = 3;
constexpr int32_t kTableA = 10;
constexpr int32_t kTableB = 11;

TEST(TablePagesCacheTest, LockPeriodBoundsTheLoadedState) {
  TORBDiskTablePagesCacheManager cache;
  // Loading outside a lock period is remembered until the first lock.
  cache.SetIsMostUpdatedLoaded(kSession, kTableA, 4);
  EXPECT_TRUE(cache.GetIsMostUpdatedLoaded(kSession, kTableA));
  cache.TableIsSLocked(kSession, kTableA);
  EXPECT_FALSE(cache.GetIsMostUpdatedLoaded(kSession, kTableA));

  cache.SetIsMostUpdatedLoaded(kSession, kTableA, 5);
  cache.SetIsMostUpdatedLoaded(kSession, kTableA, 6);  // not the first load of the period
  cache.BeginWorkWithTable(kSession, kTableA);
  int32_t state = 0;
  ASSERT_TRUE(cache.GetWorkTableState(kSession, state));
  EXPECT_EQ(state, 5);

  // A nested lock of the other kind keeps the period; releasing it too.
  cache.TableIsRWLocked(kSession, kTableA);
  cache.TableIsRWUnlocked(kSession, kTableA);
  ASSERT_TRUE(cache.GetWorkTableState(kSession, state));
  EXPECT_EQ(state, 5);

  // Extra unlocks do not go below zero; the last release ends the period.
  cache.TableIsRWUnlocked(kSession, kTableA);
  cache.TableIsSUnlocked(kSession, kTableA);
  EXPECT_FALSE(cache.GetIsMostUpdatedLoaded(kSession, kTableA));
  EXPECT_FALSE(cache.GetWorkTableState(kSession, state));

  cache.TableIsRWLocked(kSession, kTableA);
  cache.SetIsMostUpdatedLoaded(kSession, kTableA, 7);
  ASSERT_TRUE(cache.GetWorkTableState(kSession, state));
  EXPECT_EQ(state, 7);
}

TEST(TablePagesCacheTest, WorkTableStateFollowsTheMostRecentWorkTable) {
  TORBDiskTablePagesCacheManager cache;
  int32_t state = 0;
  EXPECT_FALSE(cache.GetWorkTableState(kSession, state));  // unknown session
  cache.TableIsSLocked(kSession, kTableA);
  cache.SetIsMostUpdatedLoaded(kSession, kTableA, 20);
  EXPECT_FALSE(cache.GetWorkTableState(kSession, state));  // no work table

  cache.BeginWorkWithTable(kSession, kTableA);
  cache.BeginWorkWithTable(kSession, kTableB);  // B neither locked nor loaded
  EXPECT_FALSE(cache.GetWorkTableState(kSession, state));
  cache.TableIsSLocked(kSession, kTableB);
  EXPECT_FALSE(cache.GetWorkTableState(kSession, state));  // locked, not loaded
  cache.SetIsMostUpdatedLoaded(kSession, kTableB, 30);
  int32_t table = 0;
  ASSERT_TRUE(cache.GetWorkTableState(kSession, table, state));
  EXPECT_EQ(table, kTableB);
  EXPECT_EQ(state, 30);

  cache.EndWorkWithTable(kSession, kTableB);
  ASSERT_TRUE(cache.GetWorkTableState(kSession, table, state));
  EXPECT_EQ(table, kTableA);
  EXPECT_EQ(state, 20);

  // Other sessions, the system session included, have their own view.
  EXPECT_FALSE(cache.GetWorkTableState(kSession + 1, state));
  EXPECT_FALSE(cache.GetWorkTableState(-2, state));
  cache.TableIsSLocked(-2, kTableA);
  EXPECT_EQ(ErrorCodeOf([&] { cache.TableIsSLocked(-3, kTableA); }), 20186);
}

TEST(TablePagesCacheTest, PageIsSafeOnlyUnderTheStateOfTheSameTable) {
  FakePageManager manager;
  TORBPage page(&manager);
  TORBDiskTablePagesCacheManager cache;

  // Single-user: cached pages are always current.
  EXPECT_TRUE(cache.IsSafeNotToSyncPage(false, kSession, page));
  cache.UpdatePageTableState(false, kSession, page);
  int32_t recorded = 0;
  EXPECT_FALSE(page.GetTableState(kSession, recorded));

  cache.TableIsSLocked(kSession, kTableA);
  cache.SetIsMostUpdatedLoaded(kSession, kTableA, 5);
  cache.BeginWorkWithTable(kSession, kTableA);
  EXPECT_FALSE(cache.IsSafeNotToSyncPage(true, kSession, page));  // never validated
  cache.UpdatePageTableState(true, kSession, page);
  EXPECT_TRUE(cache.IsSafeNotToSyncPage(true, kSession, page));
  EXPECT_FALSE(cache.IsSafeNotToSyncPage(true, kSession + 1, page));  // per session

  // Table B happens to be at the same state: a page validated for A (which
  // B may have reused meanwhile) must still be checked.
  cache.TableIsSLocked(kSession, kTableB);
  cache.SetIsMostUpdatedLoaded(kSession, kTableB, 5);
  cache.BeginWorkWithTable(kSession, kTableB);
  EXPECT_FALSE(cache.IsSafeNotToSyncPage(true, kSession, page));
  cache.UpdatePageTableState(true, kSession, page);
  EXPECT_TRUE(cache.IsSafeNotToSyncPage(true, kSession, page));
  cache.EndWorkWithTable(kSession, kTableB);
  EXPECT_FALSE(cache.IsSafeNotToSyncPage(true, kSession, page));

  // A new lock period that loads another state invalidates the stamp.
  cache.TableIsSUnlocked(kSession, kTableA);
  cache.TableIsSLocked(kSession, kTableA);
  cache.SetIsMostUpdatedLoaded(kSession, kTableA, 6);
  EXPECT_FALSE(cache.IsSafeNotToSyncPage(true, kSession, page));
  // Without a usable work table state nothing is recorded.
  cache.EndWorkWithTable(kSession, kTableA);
  cache.UpdatePageTableState(true, kSession, page);
  int32_t table = 0;
  ASSERT_TRUE(page.GetTableState(kSession, table, recorded));
  EXPECT_EQ(table, kTableB);
  EXPECT_EQ(recorded, 5);
}

// A page manager whose cache validation goes through the table pages cache.
class CachedFakePageManager : public FakePageManager {
 public:
  TORBDiskTablePagesCacheManager cache;

 protected:
  bool IsSafeNotToSyncPage(int32_t session, TORBPage& page) override {
    return cache.IsSafeNotToSyncPage(multi_user, session, page);
  }
  void UpdatePageTableState(int32_t session, TORBPage& page) override {
    cache.UpdatePageTableState(multi_user, session, page);
  }
};

TEST(TablePagesCacheTest, StampIsReadOncePerReadStep) {
  CachedFakePageManager manager;
  manager.multi_user = true;
  manager.StorePage(4, kPageTypeTableRecord, 0x11, 100);
  auto read_step = [&](int32_t table_state) {
    manager.cache.TableIsSLocked(kSession, kTableA);
    manager.cache.SetIsMostUpdatedLoaded(kSession, kTableA, table_state);
    manager.cache.BeginWorkWithTable(kSession, kTableA);
    for (int i = 0; i < 2; ++i) (void)manager.GetPageGuard(kSession, 4, kPageTypeTableRecord);
    manager.cache.EndWorkWithTable(kSession, kTableA);
    manager.cache.TableIsSUnlocked(kSession, kTableA);
  };
  read_step(1);
  EXPECT_TRUE(manager.state_reads.empty());  // read fresh from storage, then cached

  // Another process rewrites the page and commits the table.
  manager.StorePage(4, kPageTypeTableRecord, 0x22, 101);
  read_step(2);
  EXPECT_EQ(manager.state_reads, std::vector<int32_t>{4});
  TORBPageGuard page = manager.GetPageGuard(kSession, 4, kPageTypeTableRecord, false);
  EXPECT_EQ(page->GetPageData()[0], 0x22);
  page.Release();

  // Single-user: no stamp is ever read.
  manager.multi_user = false;
  read_step(3);
  EXPECT_EQ(manager.state_reads.size(), 1u);
}

}  // namespace
}  // namespace orb
