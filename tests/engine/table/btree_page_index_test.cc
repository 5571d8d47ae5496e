// Page indexes: record pages with row counts and BLOB pages with used
// bytes, on small pages so that the trees get several levels.

#include "engine/table/btree_page_index.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "engine/base/error_codes.h"
#include "tests/engine/table/fake_page_manager.h"
#include "tests/support/raised.h"

namespace orb {
namespace {

using testing::FakePageManager;
using test::RaisedCode;

constexpr int32_t kSession = 0;
// 128-byte pages: eleven leaf entries (6 bytes) and eight node entries.
constexpr uint16_t kSmallPage = 128;

std::vector<int32_t> ForwardPages(TORBBTreeRecordPageIndex& index) {
  std::vector<int32_t> pages;
  int32_t page_no;
  for (bool ok = index.GetFirstRecordPage(kSession, page_no); ok;
       ok = index.GetNextRecordPage(kSession, page_no, page_no))
    pages.push_back(page_no);
  return pages;
}

std::vector<int32_t> BackwardPages(TORBBTreeRecordPageIndex& index) {
  std::vector<int32_t> pages;
  int32_t page_no;
  for (bool ok = index.GetLastRecordPage(kSession, page_no); ok;
       ok = index.GetPriorRecordPage(kSession, page_no, page_no))
    pages.push_back(page_no);
  return pages;
}

TEST(RecordPageIndexTest, MatchesAMapUnderRandomAddsAndDeletes) {
  for (uint32_t seed : {11u, 12u}) {
    SCOPED_TRACE(seed);
    FakePageManager pm(1000, kSmallPage);
    TORBBTreeRecordPageIndex index(&pm);
    index.SetMaxRecordsOnPage(20);
    index.CreateIndex(kSession);
    std::map<int32_t, int32_t> model;
    std::mt19937 rng(seed);
    int32_t max_depth = 1;
    for (int op = 0; op < 6000; ++op) {
      const int32_t page_no = static_cast<int32_t>(rng() % 1500);
      auto it = model.find(page_no);
      const bool grow = op < 2500 ? rng() % 10 < 8 : (op < 5000 ? rng() % 10 < 2 : rng() % 2 == 0);
      if (grow) {
        const int32_t add = 1 + static_cast<int32_t>(rng() % 3);
        if (it != model.end() && it->second >= 20) {
          ASSERT_EQ(RaisedCode([&] { index.AddRecord(kSession, page_no, add); }), 20106);
          continue;
        }
        index.AddRecord(kSession, page_no, add);
        model[page_no] += add;
      } else if (it != model.end()) {
        const int32_t count = static_cast<int32_t>(rng() % static_cast<uint32_t>(it->second));
        index.DeleteRecord(kSession, page_no, count);
        if (count == 0) model.erase(it); else it->second = count;
      } else {
        ASSERT_EQ(RaisedCode([&] { index.DeleteRecord(kSession, page_no, 0); }), 20111);
      }
      if (op % 500 == 499) {
        max_depth = std::max(max_depth, index.GetDepth(kSession));
        index.CheckIntegrity(kSession);
        std::vector<int32_t> want;
        int64_t total = 0;
        for (auto [p, v] : model) {
          want.push_back(p);
          total += v;
        }
        ASSERT_EQ(ForwardPages(index), want);
        ASSERT_EQ(BackwardPages(index), std::vector<int32_t>(want.rbegin(), want.rend()));
        EXPECT_EQ(index.GetRecordTotal(kSession), total);
        index.Validate(kSession, total);
        EXPECT_EQ(RaisedCode([&] { index.Validate(kSession, total + 1); }), 20292);
        // Record numbers: every page's first and last record, both ways.
        int64_t rec_no = 0;
        for (auto [p, v] : model) {
          for (int32_t on_page : {0, v - 1}) {
            int64_t back;
            index.GetRecNoByRecord(kSession, p, on_page, back);
            EXPECT_EQ(back, rec_no + on_page);
            int32_t found_page, found_on_page;
            index.GetRecordByRecNo(kSession, rec_no + on_page, found_page, found_on_page);
            EXPECT_EQ(found_page, p);
            EXPECT_EQ(found_on_page, on_page);
          }
          rec_no += v;
        }
        int32_t page, on_page;
        EXPECT_EQ(RaisedCode([&] { index.GetRecordByRecNo(kSession, total, page, on_page); }), 20113);
        pm.ApplyChanges(kSession);
      }
    }
    EXPECT_GE(max_depth, 3);
  }
}

// Fills `pages` record pages to the limit, one page number each.
void FillPages(TORBBTreeRecordPageIndex& index, int32_t pages, int32_t limit) {
  for (int32_t p = 0; p < pages; ++p) index.AddRecord(kSession, p, limit);
}

TEST(RecordPageIndexTest, FindsAPageWithRoomInTheMiddleAfterADeleteThroughTheSameIndex) {
  FakePageManager pm(1000, kSmallPage);
  TORBBTreeRecordPageIndex index(&pm);
  index.SetMaxRecordsOnPage(10);
  index.CreateIndex(kSession);
  FillPages(index, 200, 10);
  ASSERT_GE(index.GetDepth(kSession), 3);
  int32_t page_no;
  EXPECT_FALSE(index.FindPageForNewRecord(kSession, page_no));
  index.DeleteRecord(kSession, 100, 9);
  ASSERT_TRUE(index.FindPageForNewRecord(kSession, page_no));
  EXPECT_EQ(page_no, 100);
  index.AddRecord(kSession, 100, 1);
  EXPECT_FALSE(index.FindPageForNewRecord(kSession, page_no));

  // A page that lost rows and then left the index is not offered.
  index.DeleteRecord(kSession, 50, 3);
  index.DeleteRecord(kSession, 50, 0);
  EXPECT_FALSE(index.FindPageForNewRecord(kSession, page_no));

  // Reopened, the index knows only its first and last leaf again.
  index.DeleteRecord(kSession, 120, 9);
  TORBBTreeRecordPageIndex reopened(&pm);
  reopened.SetMaxRecordsOnPage(10);
  reopened.OpenIndex(index.RootPageNo());
  EXPECT_FALSE(reopened.FindPageForNewRecord(kSession, page_no));
  reopened.DeleteRecord(kSession, 0, 4);
  ASSERT_TRUE(reopened.FindPageForNewRecord(kSession, page_no));
  EXPECT_EQ(page_no, 0);
}

// A table that keeps deleting and inserting rows: new rows go to pages with
// room, so the number of record pages stays where it started.
TEST(RecordPageIndexTest, ChurnDoesNotGrowThePageCount) {
  FakePageManager pm(1000, kSmallPage);
  TORBBTreeRecordPageIndex index(&pm);
  index.SetMaxRecordsOnPage(8);
  index.CreateIndex(kSession);
  std::map<int32_t, int32_t> rows;
  for (int32_t p = 0; p < 300; ++p) {
    index.AddRecord(kSession, p, 8);
    rows[p] = 8;
  }
  int32_t next_page = 300;
  std::mt19937 rng(5);
  for (int op = 0; op < 4000; ++op) {
    // Delete a row somewhere, then insert one.
    auto it = rows.begin();
    std::advance(it, static_cast<long>(rng() % rows.size()));
    index.DeleteRecord(kSession, it->first, it->second - 1);
    if (--it->second == 0) rows.erase(it);
    int32_t page_no;
    TORBPageIndexSlot slot;
    if (!index.FindPageForNewRecord(kSession, page_no, &slot)) page_no = next_page++;
    index.AddRecordAt(kSession, page_no, 1, slot);
    ++rows[page_no];
    ASSERT_LE(rows[page_no], 8);
  }
  EXPECT_LE(next_page, 300 + 8);
  index.CheckIntegrity(kSession);
}

// A slot from FindPageForNewRecord counts the row on its page without a
// search; a slot gone stale (entries shifted, leaves split) or naming
// another page falls back to the search and still counts the right page.
TEST(RecordPageIndexTest, AddingAtAFoundSlotCountsThePageAlsoWhenTheSlotIsStale) {
  FakePageManager pm(1000, kSmallPage);
  TORBBTreeRecordPageIndex index(&pm);
  index.SetMaxRecordsOnPage(4);
  index.CreateIndex(kSession);
  for (int32_t p = 10; p < 100; p += 2) index.AddRecord(kSession, p, 4);
  index.AddRecord(kSession, 200, 1);
  ASSERT_GE(index.GetDepth(kSession), 2);
  int32_t page_no = 0;
  TORBPageIndexSlot slot;
  ASSERT_TRUE(index.FindPageForNewRecord(kSession, page_no, &slot));
  ASSERT_EQ(page_no, 200);
  ASSERT_GE(slot.LeafPageNo, 0);
  index.AddRecordAt(kSession, 200, 1, slot);
  for (int32_t p = 101; p < 140; p += 2) index.AddRecord(kSession, p, 4);
  index.AddRecordAt(kSession, 200, 1, slot);
  index.AddRecordAt(kSession, 11, 1, TORBPageIndexSlot{slot.LeafPageNo, 0});
  index.AddRecordAt(kSession, 200, 1, TORBPageIndexSlot{slot.LeafPageNo, 0});
  // Page 200 now holds its four rows: one more is refused.
  EXPECT_EQ(RaisedCode([&] { index.AddRecordAt(kSession, 200, 1, slot); }), 20106);
  EXPECT_EQ(index.GetRecordTotal(kSession), 45 * 4 + 4 + 20 * 4 + 1);
  EXPECT_EQ(ForwardPages(index).size(), 45u + 1 + 20 + 1);
  index.CheckIntegrity(kSession);
}

TEST(RecordPageIndexTest, FailuresHaveTheirCodes) {
  FakePageManager pm(1000, kSmallPage);
  TORBBTreeRecordPageIndex index(&pm);
  index.SetMaxRecordsOnPage(10);
  int32_t page_no = 0, on_page = 0;
  int64_t rec_no = 0;
  EXPECT_EQ(RaisedCode([&] { index.AddRecord(kSession, 1, 1); }), 20115);
  EXPECT_EQ(RaisedCode([&] { index.DeleteRecord(kSession, 1, 0); }), 20116);
  EXPECT_EQ(RaisedCode([&] { index.FindPageForNewRecord(kSession, page_no); }), 20117);
  EXPECT_EQ(RaisedCode([&] { index.GetFirstRecordPage(kSession, page_no); }), 20118);
  index.CreateIndex(kSession);
  EXPECT_FALSE(index.GetFirstRecordPage(kSession, page_no));
  EXPECT_FALSE(index.FindPageForNewRecord(kSession, page_no));
  index.AddRecord(kSession, 7, 2);
  EXPECT_EQ(RaisedCode([&] { index.AddRecord(kSession, -1, 1); }), 20110);
  EXPECT_EQ(RaisedCode([&] { index.GetNextRecordPage(kSession, 8, page_no); }), 20104);
  EXPECT_EQ(RaisedCode([&] { index.GetPriorRecordPage(kSession, 8, page_no); }), 20105);
  EXPECT_EQ(RaisedCode([&] { index.GetRecNoByRecord(kSession, 8, 0, rec_no); }), 20114);
  EXPECT_EQ(RaisedCode([&] { index.GetRecordByRecNo(kSession, -1, page_no, on_page); }), 20103);
  EXPECT_EQ(RaisedCode([&] { index.AddRecord(kSession, 9, 70000); }), kErrPageIndexValueRange);
  // A count beyond 16 bits is refused rather than wrapped.
  index.SetMaxRecordsOnPage(70000);
  index.AddRecord(kSession, 9, 65535);
  EXPECT_EQ(RaisedCode([&] { index.AddRecord(kSession, 9, 1); }), kErrPageIndexValueRange);
  index.EmptyIndex(kSession);
  EXPECT_FALSE(index.GetFirstRecordPage(kSession, page_no));
  index.DropIndex(kSession);
  EXPECT_EQ(index.RootPageNo(), -1);
}

TEST(RecordPageIndexTest, EmptyAndDropFreeTheTreesPages) {
  FakePageManager pm(1000, kSmallPage);
  TORBBTreeRecordPageIndex index(&pm);
  index.SetMaxRecordsOnPage(10);
  index.CreateIndex(kSession);
  FillPages(index, 100, 5);
  pm.ApplyChanges(kSession);
  ASSERT_GT(pm.stored.size(), 10u);
  index.EmptyIndex(kSession);
  pm.ApplyChanges(kSession);
  EXPECT_EQ(pm.stored.size(), 1u);
  index.AddRecord(kSession, 3, 1);
  index.CheckIntegrity(kSession);
  index.DropIndex(kSession);
  pm.ApplyChanges(kSession);
  EXPECT_TRUE(pm.stored.empty());
}

TEST(BlobPageIndexTest, TracksUsedBytesPerPage) {
  FakePageManager pm(1000, kSmallPage);
  TORBBTreeBlobPageIndex index(&pm);
  index.CreateIndex(kSession);
  // Data size 88: a page takes an item while used + size < 86.
  int32_t page_no;
  EXPECT_FALSE(index.FindPageForNewBlob(kSession, 10, page_no));
  index.AddBlob(kSession, 50, 4);
  index.AddBlob(kSession, 20, 4);
  EXPECT_EQ(index.GetBlobPageAllocatedSpace(kSession, 4), 70);
  EXPECT_EQ(index.GetBlobPageAllocatedSpace(kSession, 5), -1);
  ASSERT_TRUE(index.FindPageForNewBlob(kSession, 15, page_no));
  EXPECT_EQ(page_no, 4);
  EXPECT_FALSE(index.FindPageForNewBlob(kSession, 16, page_no));
  EXPECT_EQ(RaisedCode([&] { index.AddBlob(kSession, 16, 4); }), 20106);
  EXPECT_EQ(RaisedCode([&] { index.DeleteBlob(kSession, 71, 4); }), kErrPageIndexValueRange);
  index.DeleteBlob(kSession, 50, 4);
  EXPECT_EQ(index.GetBlobPageAllocatedSpace(kSession, 4), 20);
  index.DeleteBlob(kSession, 20, 4);
  EXPECT_EQ(index.GetBlobPageAllocatedSpace(kSession, 4), -1);
  EXPECT_EQ(RaisedCode([&] { index.DeleteBlob(kSession, 1, 4); }), 20111);

  // Room in the middle, after a delete.
  for (int32_t p = 10; p < 200; ++p) index.AddBlob(kSession, 80, p);
  EXPECT_FALSE(index.FindPageForNewBlob(kSession, 30, page_no));
  index.DeleteBlob(kSession, 40, 90);
  ASSERT_TRUE(index.FindPageForNewBlob(kSession, 30, page_no));
  EXPECT_EQ(page_no, 90);
  index.CheckIntegrity(kSession);
}

TEST(PageIndexTest, RefusesPagesTooSmallForThreeEntries) {
  FakePageManager pm(1000, 40 + 18 + 3 * 8 - 1);
  TORBBTreeRecordPageIndex index(&pm);
  EXPECT_EQ(RaisedCode([&] { index.CreateIndex(kSession); }), kErrBTreeEntryTooLarge);
  FakePageManager fits(1000, 40 + 18 + 3 * 8);
  TORBBTreeRecordPageIndex small(&fits);
  small.SetMaxRecordsOnPage(5);
  small.CreateIndex(kSession);
  for (int32_t p = 0; p < 200; ++p) small.AddRecord(kSession, p * 7 % 200, 1);
  small.CheckIntegrity(kSession);
  EXPECT_EQ(small.GetPageTotal(kSession), 200);
}

}  // namespace
}  // namespace orb
