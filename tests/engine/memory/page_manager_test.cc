#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/memory/memory_page_manager.h"
#include "engine/memory/temporary_page_manager.h"
#include "engine/table/btree_page_index.h"
#include "engine/table/page_header.h"

namespace orb {
namespace {

// Adds a page filled with `fill` and applies it; returns its number.
int32_t AddFilled(TORBPageManager& pages, uint8_t fill) {
  int32_t page_no = -1;
  {
    TORBPageGuard page = pages.AddPageGuard(0, kPageTypeAny);
    std::memset(page->GetPageData(), fill, page->GetPageDataSize());
    page.MarkDirty();
    page_no = page.PageNo();
  }
  pages.ApplyChanges(0);
  return page_no;
}

uint8_t FirstByte(TORBPageManager& pages, int32_t page_no) {
  TORBPageGuard page = pages.GetPageGuard(0, page_no, kPageTypeAny);
  return page->GetPageData()[0];
}

TEST(MemoryPageManager, PagesAreStoredUncopiedAndNumbersReused) {
  TORBMemoryPageManager pages;
  EXPECT_EQ(pages.GetPageSize(), 4096);
  EXPECT_EQ(pages.GetPageHeaderSize(), 0);
  const int32_t a = AddFilled(pages, 0x11);
  const int32_t b = AddFilled(pages, 0x22);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 1);
  EXPECT_EQ(pages.GetPageCount(), 2);
  {
    TORBPageGuard page = pages.GetPageGuard(0, b, kPageTypeAny);
    EXPECT_FALSE(page->FOwnBuffer);
    EXPECT_EQ(page->FPageBuffer, pages.Store().Buffer(b, 0));
  }
  pages.RemovePage(0, a);
  pages.ApplyChanges(0);
  EXPECT_EQ(pages.GetPageCount(), 1);
  EXPECT_EQ(AddFilled(pages, 0x33), a);
  EXPECT_EQ(FirstByte(pages, a), 0x33);
  EXPECT_EQ(FirstByte(pages, b), 0x22);
}

TEST(MemoryPageManager, CancelGivesBackAddedPages) {
  TORBMemoryPageManager pages;
  AddFilled(pages, 1);
  { TORBPageGuard page = pages.AddPageGuard(0, kPageTypeAny); }
  pages.CancelChanges(0);
  EXPECT_EQ(pages.GetPageCount(), 1);
  EXPECT_EQ(AddFilled(pages, 2), 1);
}

// With a budget of M pages, page M is the first file page: it lies at the
// start of the page file (not at M x 4096), and its contents survive a
// write and a read.
TEST(TemporaryPageManager, FilePagesAreNumberedFromTheBudget) {
  constexpr int32_t kBudget = 1000;
  TORBTemporaryPageManager pages(false, kBudget);
  std::vector<int32_t> numbers;
  for (int32_t i = 0; i < kBudget; ++i) numbers.push_back(AddFilled(pages, static_cast<uint8_t>(i)));
  EXPECT_FALSE(pages.HasPageFile());
  EXPECT_EQ(numbers.back(), kBudget - 1);
  const int32_t first_file_page = AddFilled(pages, 0xEE);
  EXPECT_EQ(first_file_page, kBudget);
  EXPECT_TRUE(pages.HasPageFile());
  EXPECT_LE(pages.PageFileSize(), 2 * 4096);
  const int32_t second_file_page = AddFilled(pages, 0xEF);
  EXPECT_EQ(second_file_page, kBudget + 1);
  EXPECT_EQ(FirstByte(pages, first_file_page), 0xEE);
  EXPECT_EQ(FirstByte(pages, second_file_page), 0xEF);
  EXPECT_EQ(FirstByte(pages, 7), 7);
  // A freed memory number is used again before the file grows.
  pages.RemovePage(0, 7);
  pages.ApplyChanges(0);
  EXPECT_EQ(AddFilled(pages, 0x77), 7);
  // A freed file number too.
  pages.RemovePage(0, first_file_page);
  pages.ApplyChanges(0);
  const int64_t size = pages.PageFileSize();
  EXPECT_EQ(AddFilled(pages, 0x55), first_file_page);
  EXPECT_EQ(pages.PageFileSize(), size);
  EXPECT_EQ(FirstByte(pages, first_file_page), 0x55);
}

TEST(TemporaryPageManager, FileGrowsByHalfAgain) {
  TORBTemporaryPageManager pages(false, 0);
  for (int i = 0; i < 100; ++i) AddFilled(pages, static_cast<uint8_t>(i));
  EXPECT_GE(pages.PageFileSize(), 100 * 4096);
  EXPECT_LE(pages.PageFileSize(), 150 * 4096 + 4096);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(FirstByte(pages, i), static_cast<uint8_t>(i));
}

TEST(TemporaryPageManager, DisabledTempFilesKeepPagesInMemory) {
  TORBTemporaryPageManager pages(true, 2);
  for (int i = 0; i < 10; ++i) AddFilled(pages, static_cast<uint8_t>(i));
  EXPECT_FALSE(pages.HasPageFile());
  EXPECT_EQ(FirstByte(pages, 9), 9);
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

// The B-tree pages work unchanged on both page stores, file pages of a
// temporary store included.
void GrowTree(TORBPageManager& pages) {
  TORBBTreeRecordPageIndex tree(&pages);
  tree.SetMaxRecordsOnPage(100);
  tree.CreateIndex(0);
  pages.ApplyChanges(0);
  for (int32_t page_no = 0; page_no < 5000; ++page_no) {
    tree.AddRecord(0, page_no * 3, 1 + page_no % 90);
    pages.ApplyChanges(0);
  }
  tree.CheckIntegrity(0);
  EXPECT_GT(tree.GetDepth(0), 1);
  int64_t total = 0;
  for (int32_t page_no = 0; page_no < 5000; ++page_no) total += 1 + page_no % 90;
  EXPECT_EQ(tree.GetRecordTotal(0), total);
  for (int32_t page_no = 0; page_no < 5000; page_no += 2) {
    tree.DeleteRecord(0, page_no * 3, 0);
    pages.ApplyChanges(0);
  }
  tree.CheckIntegrity(0);
  int32_t first = -1;
  ASSERT_TRUE(tree.GetFirstRecordPage(0, first));
  EXPECT_EQ(first, 3);
}

TEST(PageStores, BTreeOnMemoryPages) {
  TORBMemoryPageManager pages;
  GrowTree(pages);
}

TEST(PageStores, BTreeOnTemporaryPagesPastTheBudget) {
  TORBTemporaryPageManager pages(false, 3);
  GrowTree(pages);
  EXPECT_TRUE(pages.HasPageFile());
}

}  // namespace
}  // namespace orb
