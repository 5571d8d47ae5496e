#include "engine/table/page_guard.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

#include "engine/platform/critical_section.h"
#include "engine/table/memory_manager.h"
#include "engine/table/page_manager.h"
#include "tests/engine/table/fake_page_manager.h"
#include "tests/support/disk_scratch.h"

namespace orb {
namespace {

using testing::ErrorCodeOf;
using testing::FakePageManager;

constexpr uint16_t kRec = kPageTypeTableRecord;

uint8_t Fill(const TORBPage& page) { return page.GetPageData()[0]; }

// Outside the manager a page is held only through a guard, and its number
// and dirty flag are read-only: the raw protocol and the fields stay closed
// (RawPageManager and OpenPage show that the checks can succeed).
template <typename M>
concept RawGet = requires(M& m) { m.GetPage(1, 1, kPageTypeAny); };
template <typename M>
concept RawAdd = requires(M& m) { m.AddPage(1, kPageTypeAny); };
template <typename M>
concept RawPut = requires(M& m, TORBPage* page) { m.PutPage(page); };
template <typename P>
concept PublicPageNo = requires { &P::FPageNo; };
template <typename P>
concept PublicDirtyFlag = requires { &P::FIsDirty; };
static_assert(!RawGet<TORBPageManager> && !RawAdd<TORBPageManager> && !RawPut<TORBPageManager>);
static_assert(!RawGet<FakePageManager> && !RawAdd<FakePageManager> && !RawPut<FakePageManager>);
static_assert(RawGet<testing::RawPageManager> && RawPut<testing::RawPageManager>);
struct OpenPage {
  int32_t FPageNo;
  bool FIsDirty;
};
static_assert(PublicPageNo<OpenPage> && PublicDirtyFlag<OpenPage>);
static_assert(!PublicPageNo<TORBPage> && !PublicDirtyFlag<TORBPage>);

// Pages 7 and 8 are stored with fill 0x11 and 0x22; every test checks that
// all pages are freed with the manager.
class PageGuardTest : public ::testing::Test {
 protected:
  PageGuardTest() : FBaseline(MemoryManager().TotalMemAllocated()), pm(std::make_unique<FakePageManager>()) {
    pm->StorePage(7, kRec, 0x11);
    pm->StorePage(8, kRec, 0x22);
  }
  void TearDown() override {
    pm.reset();
    EXPECT_EQ(MemoryManager().TotalMemAllocated(), FBaseline);
  }

  uint8_t Read(int32_t session, int32_t page_no) { return Fill(*pm->GetPageGuard(session, page_no, kRec)); }
  // The page is free for another session and nothing blocks a commit.
  void ExpectPutBack(int32_t page_no) {
    EXPECT_EQ(pm->CachedPage(page_no)->UseCount(), 0);
    EXPECT_EQ(ErrorCodeOf([&] { Read(2, page_no); }), 0);
    EXPECT_EQ(ErrorCodeOf([&] { pm->ApplyChanges(1); }), 0);
  }

 private:
  int64_t FBaseline;

 protected:
  std::unique_ptr<FakePageManager> pm;
};

TEST_F(PageGuardTest, PutsThePageBackAtScopeEndAndWhenAnExceptionUnwinds) {
  {
    TORBPageGuard page = pm->GetPageGuard(1, 7, kRec);
    EXPECT_EQ(page->UseCount(), 1);
    EXPECT_EQ(page.PageNo(), 7);
    // Held: another session is refused, a commit of the holder too.
    EXPECT_EQ(ErrorCodeOf([&] { (void)pm->GetPageGuard(2, 7, kRec); }), 20090);
    EXPECT_EQ(ErrorCodeOf([&] { pm->ApplyChanges(1); }), 20152);
  }
  ExpectPutBack(7);

  EXPECT_THROW(
      {
        TORBPageGuard first = pm->GetPageGuard(1, 7, kRec);
        TORBPageGuard second = pm->GetPageGuard(1, 8, kRec);
        (void)pm->GetPageGuard(1, 99, kRec);  // not stored: 20299
      },
      EORBException);
  ExpectPutBack(7);
  ExpectPutBack(8);

  EXPECT_THROW(
      {
        TORBPageGuard page = pm->GetPageGuard(1, 8, kRec);
        throw std::runtime_error("caller failure");
      },
      std::runtime_error);
  ExpectPutBack(8);
}

TEST_F(PageGuardTest, AnAddedPageIsCommittedOnceItsGuardIsGone) {
  int32_t no = -1;
  {
    TORBPageGuard page = pm->AddPageGuard(1, kRec);
    no = page.PageNo();
    page->GetPageData()[0] = 0x5A;
    EXPECT_EQ(ErrorCodeOf([&] { pm->ApplyChanges(1); }), 20086);
  }
  pm->ApplyChanges(1);
  EXPECT_EQ(pm->writes, (std::vector<int32_t>{no}));
  EXPECT_EQ(pm->StoredFill(no), 0x5A);
}

TEST_F(PageGuardTest, AMovedFromGuardPutsNothingBack) {
  TORBPageGuard target;
  EXPECT_FALSE(target);
  {
    TORBPageGuard source = pm->GetPageGuard(1, 7, kRec);
    TORBPage* page = source.Get();
    TORBPageGuard moved(std::move(source));
    EXPECT_FALSE(source);
    EXPECT_EQ(source.Get(), nullptr);
    source.Release();  // no-op
    EXPECT_EQ(moved.Get(), page);
    EXPECT_EQ(page->UseCount(), 1);
    target = std::move(moved);
  }
  // Both moved-from guards are gone; the use is still held by `target`.
  EXPECT_EQ(target->UseCount(), 1);
  EXPECT_EQ(ErrorCodeOf([&] { (void)pm->GetPageGuard(2, 7, kRec); }), 20090);

  // Assigning over a guard that holds a page puts that page back first.
  TORBPage* seven = target.Get();
  target = pm->GetPageGuard(1, 8, kRec);
  EXPECT_EQ(seven->UseCount(), 0);
  EXPECT_EQ(target.PageNo(), 8);

  // Guards kept in a container survive its reallocation with one use each.
  std::vector<TORBPageGuard> held;
  for (int i = 0; i < 8; ++i) held.push_back(pm->GetPageGuard(1, 7, kRec));
  EXPECT_EQ(seven->UseCount(), 8);
  held.clear();
  EXPECT_EQ(seven->UseCount(), 0);

  target.Release();
  target.Release();  // already empty
  ExpectPutBack(7);
  ExpectPutBack(8);
}

TEST_F(PageGuardTest, MarkingDirtyMakesThePagePrivateToItsSession) {
  {
    TORBPageGuard page = pm->GetPageGuard(1, 7, kRec);
    std::memset(page->GetPageData(), 0x33, page->GetPageDataSize());
    page.MarkDirty();
  }
  EXPECT_FALSE(pm->Cached(7));
  EXPECT_TRUE(pm->HasPendingChanges(1));
  EXPECT_EQ(Read(1, 7), 0x33);
  EXPECT_EQ(Read(2, 7), 0x11);  // the stored page

  // A clean page goes back to the shared cache.
  Read(1, 8);
  EXPECT_TRUE(pm->Cached(8));
  EXPECT_FALSE(pm->CachedPage(8)->IsDirty());

  pm->ApplyChanges(1);
  EXPECT_EQ(pm->writes, (std::vector<int32_t>{7}));
  EXPECT_EQ(pm->StoredFill(7), 0x33);
  EXPECT_EQ(Read(2, 7), 0x33);
}

TEST_F(PageGuardTest, ReleaseEndsTheUseBeforeScopeEnd) {
  TORBPageGuard page = pm->GetPageGuard(1, 7, kRec);
  page->GetPageData()[0] = 0x44;
  page.MarkDirty();
  page.Release();
  EXPECT_FALSE(page);
  pm->ApplyChanges(1);
  EXPECT_EQ(pm->StoredFill(7), 0x44);
}

#ifndef NDEBUG
using PageGuardDeathTest = PageGuardTest;

TEST_F(PageGuardDeathTest, CallsWithoutTheCallerLockAbort) {
  TCriticalSection lock;
  pm->SetCallerLock(&lock);
  EXPECT_DEATH((void)pm->GetPageGuard(1, 7, kRec), "CallerLockHeld");
  EXPECT_DEATH((void)pm->AddPageGuard(1, kRec), "CallerLockHeld");
  {
    TCriticalSectionGuard held(lock);
    EXPECT_EQ(Read(1, 7), 0x11);
  }
  pm->SetCallerLock(nullptr);
  EXPECT_EQ(Read(1, 7), 0x11);
}

TEST_F(PageGuardDeathTest, AGuardMustNotOutliveItsManager) {
  EXPECT_DEATH(
      {
        auto other = std::make_unique<FakePageManager>();
        other->StorePage(1, kRec, 0x01);
        TORBPageGuard page = other->GetPageGuard(1, 1, kRec);
        other.reset();
      },
      "FGuardCount");
}
#endif

}  // namespace
}  // namespace orb
