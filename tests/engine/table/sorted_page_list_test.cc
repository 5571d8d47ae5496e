#include "engine/table/sorted_page_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

#include "tests/support/disk_scratch.h"
#include "tests/engine/table/fake_page_manager.h"

namespace orb {
namespace {

using testing::ErrorCodeOf;
using testing::ErrorMessageOf;

class SortedPageListTest : public ::testing::Test {
 protected:
  TORBPage* Page(int32_t no) {
    pages.push_back(std::make_unique<TORBPage>(&manager));
    testing::FakePageManager::NumberPage(*pages.back(), no);
    return pages.back().get();
  }
  std::vector<int32_t> Keys() const {
    std::vector<int32_t> keys;
    for (int32_t i = 0; i < list.Count(); ++i) {
      keys.push_back(list.KeyAt(i));
      EXPECT_EQ(list.PageAt(i)->PageNo(), list.KeyAt(i));
    }
    return keys;
  }

  testing::FakePageManager manager;
  std::vector<std::unique_ptr<TORBPage>> pages;
  TORBSortedPageList list;
};

TEST_F(SortedPageListTest, KeepsPagesSortedAndFindsThem) {
  for (int32_t no : {50, 10, 30, 70, 20, 60, 40, 0}) list.Insert(Page(no));
  EXPECT_EQ(Keys(), (std::vector<int32_t>{0, 10, 20, 30, 40, 50, 60, 70}));
  EXPECT_EQ(list.Find(30)->PageNo(), 30);
  EXPECT_EQ(list.Find(35), nullptr);
  EXPECT_EQ(list.FindPosition(0), 0);
  EXPECT_EQ(list.FindPosition(70), 7);
  EXPECT_EQ(list.FindPosition(-5), -1);
  EXPECT_EQ(list.FindPositionForInsert(35), 4);
  EXPECT_EQ(list.FindPositionForInsert(-1), 0);
  EXPECT_EQ(list.FindPositionForInsert(99), 8);
  EXPECT_EQ(list.FindPositionForInsert(40), 4);

  list.Delete(0);
  list.Delete(40);
  list.Delete(70);
  EXPECT_EQ(Keys(), (std::vector<int32_t>{10, 20, 30, 50, 60}));

  TORBPage* other30 = Page(30);
  EXPECT_FALSE(list.Contains(other30));
  EXPECT_TRUE(list.Contains(list.Find(30)));
  EXPECT_THROW(list.Insert(other30), std::logic_error);
  EXPECT_EQ(list.Count(), 5);
  EXPECT_EQ(list.Find(30), pages[2].get());
}

// Finds stay right while inserts and deletes shift the positions of pages
// found before (numbers sharing a remembered slot included).
TEST_F(SortedPageListTest, FindsStayRightWhilePositionsShift) {
  std::vector<TORBPage*> by_no(400, nullptr);
  for (int32_t no = 0; no < 400; no += 2) list.Insert(by_no[static_cast<size_t>(no)] = Page(no));
  auto check_all = [&] {
    for (int32_t no = -1; no < 400; ++no) {
      TORBPage* want = no >= 0 ? by_no[static_cast<size_t>(no)] : nullptr;
      ASSERT_EQ(list.Find(no), want) << no;
      if (want != nullptr) {
        ASSERT_EQ(list.KeyAt(list.FindPosition(no)), no);
      }
    }
  };
  check_all();
  for (int32_t no = 1; no < 400; no += 6) list.Insert(by_no[static_cast<size_t>(no)] = Page(no));
  check_all();
  for (int32_t no = 0; no < 400; no += 8) {
    list.Delete(no);
    by_no[static_cast<size_t>(no)] = nullptr;
  }
  check_all();
  list.Clear();
  std::fill(by_no.begin(), by_no.end(), nullptr);
  check_all();
}

// Marked elements leave in one pass; the rest keep their order, and finds
// remembered at the old positions stay right.
TEST_F(SortedPageListTest, DeleteMarkedRemovesExactlyTheMarkedPositions) {
  std::vector<TORBPage*> by_no(300, nullptr);
  for (int32_t no = 0; no < 300; ++no) list.Insert(by_no[static_cast<size_t>(no)] = Page(no));
  for (int32_t no = 0; no < 300; ++no) ASSERT_EQ(list.Find(no), by_no[static_cast<size_t>(no)]);
  std::vector<bool> marked(300, false);
  std::vector<int32_t> left;
  for (int32_t no = 0; no < 300; ++no) {
    if (no % 3 == 1 || no < 5 || no >= 290) {
      marked[static_cast<size_t>(no)] = true;
    } else {
      left.push_back(no);
    }
  }
  list.DeleteMarked(marked);
  EXPECT_EQ(Keys(), left);
  for (int32_t no = 0; no < 300; ++no) {
    const bool gone = marked[static_cast<size_t>(no)];
    ASSERT_EQ(list.Find(no), gone ? nullptr : by_no[static_cast<size_t>(no)]) << no;
  }
  list.DeleteMarked(std::vector<bool>(static_cast<size_t>(list.Count()), true));
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Find(10), nullptr);
}

TEST_F(SortedPageListTest, ErrorCodes) {
  EXPECT_EQ(ErrorMessageOf([&] { list.Delete(1); }),
            "TSortedPageList.Delete - no elements in array! - Native error: 20165");
  list.Insert(Page(1));
  list.Insert(Page(3));
  EXPECT_EQ(ErrorMessageOf([&] { list.Delete(2); }),
            "TSortedPageList.Delete - element not found, key = 2, itemCount = 2 - Native error: 20166");
  EXPECT_EQ(ErrorMessageOf([&] { list.UpdateLRU(Page(7)); }), "Page not found - Native error: 20167");
  // Same number, another object.
  EXPECT_EQ(ErrorCodeOf([&] { list.UpdateLRU(Page(3)); }), 20167);
}

TEST_F(SortedPageListTest, WalksByLeastRecentUse) {
  TORBPage* p5 = Page(5);
  TORBPage* p1 = Page(1);
  TORBPage* p9 = Page(9);
  TORBPage* p3 = Page(3);
  for (TORBPage* p : {p5, p1, p9, p3}) list.Insert(p);
  list.UpdateLRU(p5);
  list.UpdateLRU(p1);
  // Stamps now: 9 < 3 < 5 < 1.
  std::vector<int32_t> order;
  for (TORBPage* p = list.FirstByLRU(); p != nullptr; p = list.NextByLRU()) order.push_back(p->PageNo());
  EXPECT_EQ(order, (std::vector<int32_t>{9, 3, 5, 1}));

  // Deleting the element just returned does not disturb the walk.
  order.clear();
  for (TORBPage* p = list.FirstByLRU(); p != nullptr; p = list.NextByLRU()) {
    order.push_back(p->PageNo());
    if (p->PageNo() != 5) list.Delete(p->PageNo());
  }
  EXPECT_EQ(order, (std::vector<int32_t>{9, 3, 5, 1}));
  EXPECT_EQ(Keys(), (std::vector<int32_t>{5}));
  list.Delete(5);
  EXPECT_EQ(list.FirstByLRU(), nullptr);
}

TEST_F(SortedPageListTest, CapacityGrowsAndShrinksInSteps) {
  EXPECT_EQ(list.Capacity(), 0);
  TORBPage* page = Page(0);
  // The list only looks at page numbers at insert time, so one page object
  // can stand for many numbers here.
  int32_t next = 0;
  auto fill_to = [&](int32_t count) {
    while (list.Count() < count) {
      testing::FakePageManager::NumberPage(*page, next++);
      list.Insert(page);
    }
  };
  struct Step {
    int32_t count, capacity, alloc_by;
  };
  for (Step s : {Step{1, 2000, 2000}, Step{2000, 2000, 2000}, Step{2001, 6000, 4000}, Step{6001, 14000, 8000},
                 Step{14001, 24000, 10000}, Step{24001, 34000, 10000}}) {
    fill_to(s.count);
    EXPECT_EQ(list.Capacity(), s.capacity) << s.count;
    EXPECT_EQ(list.GetAllocBy(), s.alloc_by) << s.count;
  }
  // Spare room past deAllocBy is cut back to the element count.
  list.DeleteByPosition(list.Count() - 1);
  EXPECT_EQ(list.Capacity(), 24000);
  EXPECT_EQ(list.GetDeAllocBy(), 2000);
  while (list.Count() > 22000) list.DeleteByPosition(list.Count() - 1);
  EXPECT_EQ(list.Capacity(), 24000);
  list.DeleteByPosition(list.Count() - 1);
  EXPECT_EQ(list.Capacity(), 21999);
  EXPECT_EQ(list.GetDeAllocBy(), 4000);
  for (int32_t i = 0; i < 100; ++i) EXPECT_EQ(list.KeyAt(i), i);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Capacity(), 0);
  EXPECT_EQ(list.Find(5), nullptr);
}

}  // namespace
}  // namespace orb
