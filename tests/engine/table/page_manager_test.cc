#include "engine/table/page_manager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <set>

#include "tests/support/disk_scratch.h"
#include "engine/table/memory_manager.h"
#include "tests/engine/table/fake_page_manager.h"

namespace orb {
namespace {

using testing::ErrorCodeOf;
using testing::ErrorMessageOf;
using testing::FakePageManager;

constexpr uint16_t kRec = kPageTypeTableRecord;

using testing::RawPageManager;

uint8_t Fill(const TORBPage* page) { return page->GetPageData()[0]; }
uint8_t Fill(const TORBPageGuard& page) { return Fill(page.Get()); }

void Fill(TORBPage* page, uint8_t fill) { std::memset(page->GetPageData(), fill, page->GetPageDataSize()); }

void Modify(TORBPageGuard& page, uint8_t fill) {
  Fill(page.Get(), fill);
  page.MarkDirty();
}

// Every test checks that the pages it leaves behind are all freed with the
// manager.
class PageManagerTest : public ::testing::Test {
 protected:
  PageManagerTest() : FBaseline(MemoryManager().TotalMemAllocated()) { Reset(); }
  void TearDown() override {
    pm.reset();
    EXPECT_EQ(MemoryManager().TotalMemAllocated(), FBaseline);
  }
  void Reset(int32_t capacity = 1000) { pm = std::make_unique<FakePageManager>(capacity); }

  // Session `session` changes page `page_no` privately.
  void ChangePrivately(int32_t session, int32_t page_no, uint8_t fill) {
    TORBPageGuard page = pm->GetPageGuard(session, page_no, kRec);
    Modify(page, fill);
  }
  uint8_t Read(int32_t session, int32_t page_no) { return Fill(pm->GetPageGuard(session, page_no, kPageTypeAny)); }

  std::unique_ptr<FakePageManager> pm;

 private:
  int64_t FBaseline;
};

TEST_F(PageManagerTest, ChangesArePrivateUntilApplied) {
  pm->StorePage(7, kRec, 0x11);
  TORBPageGuard guard = pm->GetPageGuard(1, 7, kRec);
  TORBPage* a = guard.Get();
  Modify(guard, 0x22);
  guard.Release();
  EXPECT_FALSE(pm->Cached(7));
  EXPECT_TRUE(pm->HasPendingChanges(1));

  TORBPageGuard again = pm->GetPageGuard(1, 7, kRec);
  EXPECT_EQ(again.Get(), a);
  EXPECT_EQ(Fill(again), 0x22);
  again.Release();

  EXPECT_EQ(Read(2, 7), 0x11);
  EXPECT_EQ(pm->StoredFill(7), 0x11);

  pm->ApplyChanges(1);
  EXPECT_EQ(pm->writes, (std::vector<int32_t>{7}));
  EXPECT_EQ(pm->StoredFill(7), 0x22);
  EXPECT_FALSE(pm->HasPendingChanges(1));
  // The written page replaced the copy session 2 had read.
  EXPECT_EQ(pm->CachedPage(7), a);
  EXPECT_FALSE(a->IsDirty());
  EXPECT_EQ(Read(2, 7), 0x22);
  EXPECT_EQ(pm->reads, (std::vector<int32_t>{7, 7}));
  EXPECT_EQ(pm->SharedPageCount(), 1);
}

TEST_F(PageManagerTest, OldCopyInUseStaysValidUntilPutBack) {
  pm->StorePage(7, kRec, 0x11);
  ChangePrivately(1, 7, 0x22);
  TORBPageGuard old = pm->GetPageGuard(2, 7, kRec);
  pm->ApplyChanges(1);

  EXPECT_EQ(Fill(old), 0x11);
  EXPECT_EQ(old->UseCount(), 1);
  EXPECT_EQ(pm->SharedPageCount(), 1);
  TORBPageGuard fresh = pm->GetPageGuard(2, 7, kRec);
  EXPECT_NE(fresh.Get(), old.Get());
  EXPECT_EQ(Fill(fresh), 0x22);
  fresh.Release();
  old.Release();  // destroyed now
  EXPECT_EQ(pm->SharedPageCount(), 1);
  EXPECT_EQ(Read(2, 7), 0x22);
  EXPECT_EQ(Read(3, 7), 0x22);
}

TEST_F(PageManagerTest, WrittenPageWithoutCacheRoomIsReadBackFromStorage) {
  Reset(1);
  pm->StorePage(7, kRec, 0x11);
  pm->StorePage(8, kRec, 0x08);
  ChangePrivately(1, 7, 0x22);
  Read(2, 7);
  Read(2, 8);  // the cache is full with page 8
  pm->ApplyChanges(1);
  EXPECT_FALSE(pm->Cached(7));
  EXPECT_EQ(pm->SharedPageCount(), 1);
  EXPECT_EQ(Read(2, 7), 0x22);
}

TEST_F(PageManagerTest, StoredTypeIsCheckedOnRead) {
  pm->StorePage(3, kPageTypeTableIndex, 0x01);
  pm->StorePage(4, kPageTypeTableIndex, 0x01);
  EXPECT_EQ(ErrorMessageOf([&] { (void)pm->GetPageGuard(1, 3, kRec); }),
            "Invalid page type. Possible data corruption. Expecting type 10, but found 12 - Native error: 20153");
  TORBPageGuard guard = pm->GetPageGuard(1, 3, kPageTypeAny);
  TORBPage* page = guard.Get();
  EXPECT_EQ(page->GetPageType(), kPageTypeTableIndex);
  EXPECT_EQ(page->UseCount(), 1);
  // A cached page is checked as well, in use or idle, and stays usable.
  EXPECT_EQ(ErrorCodeOf([&] { (void)pm->GetPageGuard(1, 3, kRec); }), 20153);
  EXPECT_EQ(page->UseCount(), 1);
  guard.Release();
  ASSERT_TRUE(pm->Cached(3));
  EXPECT_EQ(ErrorCodeOf([&] { (void)pm->GetPageGuard(2, 3, kRec); }), 20153);
  EXPECT_EQ(page->UseCount(), 0);
  (void)pm->GetPageGuard(2, 3, kPageTypeTableIndex);

  pm->SetIgnoreCRCErrors(true);
  (void)pm->GetPageGuard(1, 4, kRec);
  pm->SetIgnoreCRCErrors(false);

  FakePageManager headerless(1000, 64, 0);
  headerless.StorePage(0, 0, 0x05);
  TORBPageGuard raw = headerless.GetPageGuard(1, 0, kRec);
  EXPECT_EQ(raw->GetPageData(), raw->FPageBuffer);
  EXPECT_EQ(Fill(raw), 0x05);
}

TEST_F(PageManagerTest, UnreadablePageIsNotCached) {
  pm->StorePage(5, kRec, 0x09);
  pm->failing_reads.insert(5);
  EXPECT_EQ(ErrorMessageOf([&] { (void)pm->GetPageGuard(1, 5, kPageTypeAny); }),
            "Error reading database file page. Page No: 5, type 255 - Native error: 20299");
  EXPECT_FALSE(pm->Cached(5));
  pm->failing_reads.clear();
  EXPECT_EQ(Read(1, 5), 0x09);
  EXPECT_EQ(ErrorCodeOf([&] { (void)pm->GetPageGuard(1, 6, kRec); }), 20299);
  EXPECT_EQ(ErrorMessageOf([&] { (void)pm->GetPageGuard(-1, 5, kRec); }), "Invalid Session ID - Native error: 20186");
}

TEST_F(PageManagerTest, CacheEvictsLeastRecentlyUsed) {
  Reset(3);
  for (int32_t no = 1; no <= 6; ++no) pm->StorePage(no, kRec, static_cast<uint8_t>(no));
  for (int32_t no = 1; no <= 5; ++no) Read(1, no);
  EXPECT_EQ(pm->SharedPageCount(), 3);
  EXPECT_FALSE(pm->Cached(1));
  EXPECT_FALSE(pm->Cached(2));
  EXPECT_TRUE(pm->Cached(3) && pm->Cached(4) && pm->Cached(5));

  Read(2, 3);  // 3 becomes the most recent
  Read(1, 1);  // evicts 4
  EXPECT_TRUE(pm->Cached(5) && pm->Cached(3) && pm->Cached(1));
  EXPECT_FALSE(pm->Cached(4));
  pm->reads.clear();
  Read(1, 3);
  EXPECT_TRUE(pm->reads.empty());
}

// A cache of 16 pages or more is trimmed a sixteenth below its capacity
// when it overflows, least recently used idle pages first.
TEST_F(PageManagerTest, LargeCacheTrimsBelowCapacityOldestIdleFirst) {
  Reset(32);
  for (int32_t no = 1; no <= 40; ++no) pm->StorePage(no, kRec, static_cast<uint8_t>(no));
  for (int32_t no = 1; no <= 32; ++no) Read(1, no);
  EXPECT_EQ(pm->SharedPageCount(), 32);
  Read(1, 1);  // 1 becomes the most recent
  Read(1, 33);
  EXPECT_EQ(pm->SharedPageCount(), 30);
  for (int32_t no : {2, 3, 4}) EXPECT_FALSE(pm->Cached(no)) << no;
  for (int32_t no : {1, 5, 32, 33}) EXPECT_TRUE(pm->Cached(no)) << no;

  TORBPageGuard held = pm->GetPageGuard(1, 5, kRec);
  for (int32_t no = 34; no <= 36; ++no) Read(1, no);
  EXPECT_EQ(pm->SharedPageCount(), 30);
  EXPECT_EQ(held.Get(), pm->CachedPage(5));
  for (int32_t no : {6, 7, 8}) EXPECT_FALSE(pm->Cached(no)) << no;
  for (int32_t no : {9, 36}) EXPECT_TRUE(pm->Cached(no)) << no;
  EXPECT_EQ(Fill(held), 5);
}

TEST_F(PageManagerTest, PageInUseIsNeverEvicted) {
  Reset(3);
  for (int32_t no = 1; no <= 7; ++no) pm->StorePage(no, kRec, static_cast<uint8_t>(no));
  TORBPageGuard held = pm->GetPageGuard(1, 1, kRec);
  for (int32_t no = 2; no <= 6; ++no) Read(2, no);
  EXPECT_TRUE(pm->Cached(1));
  EXPECT_EQ(pm->CachedPage(1), held.Get());
  EXPECT_TRUE(pm->Cached(5) && pm->Cached(6));
  EXPECT_EQ(pm->SharedPageCount(), 3);
  EXPECT_EQ(Fill(held), 1);
  held.Release();
  Read(2, 7);  // evicts 5, the least recently used idle page
  EXPECT_TRUE(pm->Cached(1) && pm->Cached(6) && pm->Cached(7));
  EXPECT_FALSE(pm->Cached(5));

  // Over capacity while everything is in use; trimmed when put back.
  std::vector<TORBPageGuard> all;
  for (int32_t no = 1; no <= 5; ++no) all.push_back(pm->GetPageGuard(1, no, kRec));
  EXPECT_EQ(pm->SharedPageCount(), 7);
  for (TORBPageGuard& page : all) page.Release();
  EXPECT_EQ(pm->SharedPageCount(), 3);
  EXPECT_TRUE(pm->Cached(3) && pm->Cached(4) && pm->Cached(5));
}

TEST_F(PageManagerTest, PageInUseBelongsToOneSession) {
  pm->StorePage(7, kRec, 0x01);
  TORBPageGuard a = pm->GetPageGuard(1, 7, kRec);
  TORBPage* page = a.Get();
  EXPECT_EQ(ErrorMessageOf([&] { (void)pm->GetPageGuard(2, 7, kRec); }),
            "Page is used by other session - Native error: 20090");
  TORBPageGuard b = pm->GetPageGuard(1, 7, kRec);
  EXPECT_EQ(b.Get(), page);
  EXPECT_EQ(page->UseCount(), 2);
  a.Release();
  EXPECT_EQ(ErrorCodeOf([&] { (void)pm->GetPageGuard(2, 7, kRec); }), 20090);
  b.Release();
  TORBPageGuard c = pm->GetPageGuard(2, 7, kRec);
  EXPECT_EQ(c.Get(), page);
  EXPECT_EQ(c->SessionID(), 2);
  c.Release();
  c.Release();  // a second put back is ignored
  EXPECT_EQ(page->UseCount(), 0);
}

TEST_F(PageManagerTest, AddedPageIsPrivateDirtyAndTyped) {
  TORBPageGuard page = pm->AddPageGuard(1, kPageTypeTableBlob);
  int32_t no = page.PageNo();
  EXPECT_EQ(no, 0);
  EXPECT_TRUE(page->IsDirty());
  EXPECT_EQ(page->UseCount(), 1);
  EXPECT_FALSE(page->Reloaded());
  TORBDiskPageHeader header = page->ReadHeader();
  EXPECT_EQ(header.PageType, kPageTypeTableBlob);
  EXPECT_GE(header.State, 0);
  EXPECT_LT(header.State, 0x3FFFFFFF);
  EXPECT_EQ(header.NextPageNo, -1);
  EXPECT_EQ(header.ObjectID, -1);
  EXPECT_EQ(Fill(page), 0);
  Modify(page, 0x42);
  EXPECT_FALSE(pm->Cached(no));
  page.Release();
  EXPECT_EQ(pm->FindSessionInfo(1)->AddedPageNumbers, (std::vector<int32_t>{no}));

  EXPECT_EQ(Read(2, no), 0);  // the stored page, not the private one
  EXPECT_EQ(Read(1, no), 0x42);
  pm->ApplyChanges(1);
  TORBPageGuard stored = pm->GetPageGuard(2, no, kPageTypeTableBlob);
  EXPECT_EQ(Fill(stored), 0x42);
  EXPECT_EQ(stored->GetState(), header.State);
  stored.Release();

  pm->give_no_number = true;
  EXPECT_EQ(ErrorMessageOf([&] { (void)pm->AddPageGuard(1, kRec); }), "Invalid page number - Native error: 20064");
  EXPECT_FALSE(pm->HasPendingChanges(1));
}

TEST_F(PageManagerTest, CancelDropsPrivatePagesAndGivesBackAddedOnes) {
  pm->StorePage(7, kRec, 0x11);
  ChangePrivately(1, 7, 0x22);
  TORBPageGuard added = pm->AddPageGuard(1, kRec);
  int32_t no = added.PageNo();
  Modify(added, 0x33);
  added.Release();
  Read(2, no);  // another session caches the stored page

  pm->CancelChanges(1);
  EXPECT_TRUE(pm->writes.empty());
  EXPECT_EQ(pm->removes, (std::vector<int32_t>{no}));
  EXPECT_EQ(pm->free_numbers.count(no), 1u);
  EXPECT_FALSE(pm->Cached(no));
  EXPECT_FALSE(pm->HasPendingChanges(1));
  EXPECT_EQ(Read(1, 7), 0x11);
  pm->CancelChanges(1);  // nothing left
  pm->CancelChanges(9);  // unknown session
  EXPECT_EQ(pm->removes.size(), 1u);

  TORBPageGuard reused = pm->AddPageGuard(1, kRec);
  EXPECT_EQ(reused.PageNo(), no);
  EXPECT_EQ(Fill(reused), 0);
  reused.Release();
  pm->CancelChanges(1);
}

TEST_F(PageManagerTest, ApplyFreesRemovedPagesAndDropsEveryCopy) {
  pm->StorePage(4, kRec, 0x04);
  pm->StorePage(5, kRec, 0x05);
  ChangePrivately(1, 4, 0x44);
  Read(2, 4);
  Read(2, 5);
  EXPECT_TRUE(pm->Cached(4));
  pm->RemovePage(1, 4);
  pm->RemovePage(1, 4);
  pm->RemovePage(1, 5);
  EXPECT_EQ(pm->StoredFill(4), 0x04);  // nothing freed before apply

  pm->ApplyChanges(1);
  EXPECT_TRUE(pm->writes.empty());  // a removed page is not written
  EXPECT_EQ(pm->removes, (std::vector<int32_t>{4, 5}));
  EXPECT_FALSE(pm->Cached(4));
  EXPECT_FALSE(pm->Cached(5));
  EXPECT_FALSE(pm->HasPendingChanges(1));
  EXPECT_EQ(ErrorCodeOf([&] { (void)pm->GetPageGuard(1, 4, kRec); }), 20299);
  EXPECT_EQ(ErrorCodeOf([&] { (void)pm->GetPageGuard(2, 5, kRec); }), 20299);
}

TEST_F(PageManagerTest, RemovedPageInUseByOtherSessionStaysValidUntilPutBack) {
  pm->StorePage(4, kRec, 0x04);
  TORBPageGuard held = pm->GetPageGuard(2, 4, kRec);
  pm->RemovePage(1, 4);
  pm->ApplyChanges(1);
  EXPECT_FALSE(pm->Cached(4));
  EXPECT_EQ(Fill(held), 0x04);
  held.Release();
}

TEST_F(PageManagerTest, FailedWriteFreesNothing) {
  pm->StorePage(1, kRec, 0x01);
  pm->StorePage(2, kRec, 0x02);
  pm->StorePage(3, kRec, 0x03);
  ChangePrivately(1, 1, 0x11);
  ChangePrivately(1, 3, 0x33);
  pm->RemovePage(1, 2);
  pm->failing_writes.insert(3);
  EXPECT_EQ(ErrorCodeOf([&] { pm->ApplyChanges(1); }), FakePageManager::kWriteFailure);
  EXPECT_EQ(pm->writes, (std::vector<int32_t>{1}));
  EXPECT_TRUE(pm->removes.empty());
  EXPECT_EQ(pm->StoredFill(2), 0x02);
  EXPECT_TRUE(pm->HasPendingChanges(1));
  EXPECT_EQ(Read(1, 3), 0x33);  // still private
  EXPECT_EQ(Read(2, 1), 0x11);  // already written

  pm->failing_writes.clear();
  pm->ApplyChanges(1);
  EXPECT_EQ(pm->writes, (std::vector<int32_t>{1, 3}));
  EXPECT_EQ(pm->removes, (std::vector<int32_t>{2}));
  EXPECT_EQ(pm->StoredFill(3), 0x33);
}

TEST_F(PageManagerTest, ApplyWhileHoldingSharedPageWritesNothing) {
  pm->StorePage(1, kRec, 0x01);
  pm->StorePage(2, kRec, 0x02);
  ChangePrivately(1, 1, 0x11);
  pm->RemovePage(1, 2);
  TORBPageGuard held = pm->GetPageGuard(1, 2, kRec);
  EXPECT_EQ(ErrorMessageOf([&] { pm->ApplyChanges(1); }), "Some session pages not released - Native error: 20152");
  EXPECT_TRUE(pm->writes.empty());
  EXPECT_TRUE(pm->removes.empty());
  held.Release();
  pm->ApplyChanges(1);
  EXPECT_EQ(pm->writes, (std::vector<int32_t>{1}));
  EXPECT_EQ(pm->removes, (std::vector<int32_t>{2}));
  pm->ApplyChanges(5);  // unknown session: nothing to do
}

TEST_F(PageManagerTest, BadPrivatePagesStopApplyAndCancel) {
  struct Case {
    bool apply;
    bool in_use;
    int32_t code;
    const char* message;
  };
  for (Case c : {Case{true, true, 20086, "Cannot write used page"}, Case{true, false, 20085, "Invalid page"},
                 Case{false, true, 20088, "Cannot remove used page"},
                 Case{false, false, 20087, "Invalid index page"}}) {
    SCOPED_TRACE(c.code);
    Reset();
    pm->StorePage(1, kRec, 0x01);
    pm->StorePage(2, kRec, 0x02);
    ChangePrivately(1, 1, 0x11);
    ChangePrivately(1, 2, 0x22);
    TORBPageGuard bad = pm->GetPageGuard(1, 2, kRec);
    if (!c.in_use) {
      bad.Release();
      pm->MarkPrivatePageClean(1, 2);
    }
    auto op = [&] { c.apply ? pm->ApplyChanges(1) : pm->CancelChanges(1); };
    EXPECT_EQ(ErrorMessageOf(op), std::string(c.message) + " - Native error: " + std::to_string(c.code));
    EXPECT_TRUE(pm->writes.empty());
    EXPECT_TRUE(pm->removes.empty());
    EXPECT_EQ(Read(1, 1), 0x11);  // nothing dropped either
    if (c.in_use) {
      bad.Release();
    } else {
      pm->GetPageGuard(1, 2, kRec).MarkDirty();
    }
    op();
    EXPECT_FALSE(pm->HasPendingChanges(1));
  }
}

TEST_F(PageManagerTest, UncommittedPagesAreReportedOnRequestNotOnDestruction) {
  pm->StorePage(1, kRec, 0x01);
  pm->CheckNoPrivatePages();
  ChangePrivately(1, 1, 0x11);
  (void)pm->AddPageGuard(2, kRec);
  EXPECT_EQ(ErrorMessageOf([&] { pm->CheckNoPrivatePages(); }),
            "Cannot free non-committed pages - Native error: 20097");
  pm->ApplyChanges(1);
  EXPECT_EQ(ErrorCodeOf([&] { pm->CheckNoPrivatePages(); }), 20097);
  // Session 2's page is destroyed silently with the manager (TearDown checks
  // that its buffer was freed).
}

TEST_F(PageManagerTest, PageStillInUseIsDestroyedWithItsManager) {
  auto raw = std::make_unique<RawPageManager>();
  raw->StorePage(1, kRec, 0x01);
  raw->GetPage(3, 1, kRec);
  raw.reset();  // TearDown checks that its buffer was freed
}

TEST_F(PageManagerTest, MultiUserCacheFollowsStoredStamp) {
  pm->multi_user = true;
  pm->StorePage(1, kRec, 0x11, 5);
  Read(1, 1);

  pm->StorePage(1, kRec, 0x33, 6);  // another process rewrote the page
  TORBPageGuard page = pm->GetPageGuard(1, 1, kRec, false);
  EXPECT_EQ(Fill(page), 0x11);
  EXPECT_TRUE(pm->state_reads.empty());
  page.Release();

  page = pm->GetPageGuard(1, 1, kRec, true);
  EXPECT_EQ(Fill(page), 0x33);
  EXPECT_EQ(page->GetState(), 6);
  EXPECT_TRUE(page->Reloaded());
  TORBPage* reloaded = page.Get();
  page.Release();
  EXPECT_FALSE(reloaded->Reloaded());

  pm->reads.clear();
  page = pm->GetPageGuard(1, 1, kRec);  // stamp unchanged: no read
  EXPECT_TRUE(pm->reads.empty());
  EXPECT_FALSE(page->Reloaded());
  EXPECT_EQ(pm->state_reads.size(), 2u);
  page.Release();

  pm->StorePage(1, kRec, 0x44, kInvalidPageState);  // removed by another process
  page = pm->GetPageGuard(1, 1, kRec);
  EXPECT_EQ(Fill(page), 0x33);
  EXPECT_EQ(page->GetState(), kInvalidPageState);

  // Never re-read under its user.
  pm->StorePage(1, kRec, 0x55, 9);
  TORBPageGuard second = pm->GetPageGuard(1, 1, kRec);
  EXPECT_EQ(second.Get(), page.Get());
  EXPECT_EQ(Fill(second), 0x33);
  second.Release();
  page.Release();

  pm->safe_not_to_sync = true;
  EXPECT_EQ(Read(1, 1), 0x33);
  pm->safe_not_to_sync = false;
  EXPECT_EQ(Read(1, 1), 0x55);

  pm->StorePage(1, kRec, 0x66, 10);
  pm->failing_reads.insert(1);
  EXPECT_EQ(ErrorCodeOf([&] { (void)pm->GetPageGuard(1, 1, kRec); }), 20299);
  EXPECT_FALSE(pm->Cached(1));
}

// A storage read that raises part way through, as a damaged encrypted page
// does after its bytes were read into the buffer.
class RaisingReadPageManager : public FakePageManager {
 public:
  static constexpr int32_t kDamaged = 99002;
  std::set<int32_t> damaged;

 protected:
  bool InternalReadPage(TORBPage& page) override {
    const bool ok = FakePageManager::InternalReadPage(page);
    if (ok && damaged.count(page.PageNo())) {
      std::memset(page.GetPageData(), 0xEE, 8);  // half-processed bytes
      RaiseORB(kDamaged, "damaged page");
    }
    return ok;
  }
};

TEST_F(PageManagerTest, FailedRereadLeavesNoPageInTheCache) {
  RaisingReadPageManager m;
  m.multi_user = true;
  m.StorePage(1, kRec, 0x11, 5);
  (void)m.GetPageGuard(1, 1, kRec);
  ASSERT_TRUE(m.Cached(1));

  m.StorePage(1, kRec, 0x22, 6);  // rewritten by another process, damaged
  m.damaged.insert(1);
  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    EXPECT_EQ(ErrorCodeOf([&] { (void)m.GetPageGuard(1, 1, kRec); }), RaisingReadPageManager::kDamaged);
    EXPECT_FALSE(m.Cached(1));
  }
  m.damaged.clear();
  EXPECT_EQ(Fill(m.GetPageGuard(1, 1, kRec)), 0x22);
}

TEST_F(PageManagerTest, SingleUserCacheIsNotSynchronised) {
  pm->StorePage(1, kRec, 0x11, 5);
  Read(1, 1);
  pm->StorePage(1, kRec, 0x22, 6);
  EXPECT_EQ(Read(1, 1), 0x11);
  EXPECT_TRUE(pm->state_reads.empty());
}

TEST_F(PageManagerTest, PageBuffer) {
  TORBPage page(pm.get());
  EXPECT_EQ(ErrorMessageOf([&] { page.EnlargePageBuffer(256); }),
            "Invalid page buffer. Buffer is Nil - Native error: 20038");
  page.AllocPageBuffer();
  EXPECT_EQ(MemoryManager().GetMemoryBufferSize(page.FPageBuffer), 128u);
  EXPECT_EQ(page.ReadHeader(), TORBDiskPageHeader{});
  EXPECT_EQ(page.GetPageData(), page.FPageBuffer + 40);
  EXPECT_EQ(page.GetPageDataSize(), 88);
  for (int i = 0; i < 88; ++i) ASSERT_EQ(page.GetPageData()[i], 0);

  Fill(&page, 0x7E);
  EXPECT_EQ(ErrorMessageOf([&] { page.EnlargePageBuffer(127); }), "Invalid page modification - Native error: 20039");
  page.EnlargePageBuffer(200);
  EXPECT_EQ(MemoryManager().GetMemoryBufferSize(page.FPageBuffer), 200u);
  EXPECT_EQ(page.FPageBuffer[127], 0x7E);
  for (int i = 128; i < 200; ++i) ASSERT_EQ(page.FPageBuffer[i], 0);
  page.ClearPageBuffer();
  for (int i = 0; i < 128; ++i) ASSERT_EQ(page.FPageBuffer[i], 0);

  // A borrowed buffer is copied into an own one and left untouched.
  uint8_t borrowed[128];
  std::memset(borrowed, 0x5A, sizeof borrowed);
  TORBPage view(pm.get());
  view.FPageBuffer = borrowed;
  view.FOwnBuffer = false;
  view.EnlargePageBuffer(256);
  EXPECT_TRUE(view.FOwnBuffer);
  EXPECT_NE(view.FPageBuffer, borrowed);
  EXPECT_EQ(std::memcmp(view.FPageBuffer, borrowed, 128), 0);
  for (int i = 128; i < 256; ++i) ASSERT_EQ(view.FPageBuffer[i], 0);
  EXPECT_EQ(borrowed[0], 0x5A);

  TORBPage other(pm.get());
  other.FPageBuffer = borrowed;
  other.FOwnBuffer = false;
  other.FreeAndNilPageBuffer();  // forgets, does not free
  EXPECT_EQ(other.FPageBuffer, nullptr);

  FakePageManager headerless(1000, 64, 0);
  TORBPage raw(&headerless);
  raw.AllocPageBuffer();
  for (int i = 0; i < 64; ++i) ASSERT_EQ(raw.FPageBuffer[i], 0);
  EXPECT_EQ(raw.GetPageDataSize(), 64);

  TORBPageController controller(&page);
  EXPECT_FALSE(controller.IsDirty());
  EXPECT_EQ(controller.PageSize(), 128);
  EXPECT_EQ(controller.PageData(), page.FPageBuffer + 40);
  EXPECT_EQ(controller.PageManager(), pm.get());
}

TEST_F(PageManagerTest, TableStatesPerSession) {
  TORBPage page(pm.get());
  int32_t state = -1;
  EXPECT_FALSE(page.GetTableState(-2, state));
  page.SetTableState(3, 42);
  EXPECT_TRUE(page.GetTableState(3, state));
  EXPECT_EQ(state, 42);
  EXPECT_FALSE(page.GetTableState(0, state));  // grown, not assigned
  EXPECT_FALSE(page.GetTableState(4, state));  // beyond the array
  page.SetTableState(-2, 7);
  EXPECT_TRUE(page.GetTableState(-2, state));
  EXPECT_EQ(state, 7);
  EXPECT_EQ(page.TableStateCount(), 6u);
}

}  // namespace
}  // namespace orb
