#include "engine/base/integer_array.h"

#include <vector>

#include <gtest/gtest.h>

#include "engine/base/orb_exception.h"
#include "tests/support/raised.h"
#include "engine/base/page_item_id.h"

namespace orb {
namespace {

std::vector<int32_t> ItemsOf(const TORBIntegerArray& a) { return {a.Items(), a.Items() + a.ItemCount()}; }

using test::RaisedCode;

TEST(IntegerArrayTest, GrowthStepDoublesUpToMaximum) {
  TORBIntegerArray a(0, 10, 50);
  std::vector<int32_t> capacities;
  for (int32_t i = 0; i < 200; ++i) {
    int32_t before = a.AllocItemCount();
    a.Append(i);
    if (a.AllocItemCount() != before) capacities.push_back(a.AllocItemCount());
  }
  EXPECT_EQ((std::vector<int32_t>{20, 60, 110, 160, 210}), capacities);
  EXPECT_EQ(50, a.AllocBy());
  EXPECT_EQ(199, a.At(199));

  // Shrinking releases spare room once it exceeds the step.
  a.SetSize(5);
  EXPECT_EQ(5, a.AllocItemCount());
  EXPECT_EQ(20, a.DeAllocBy());
  a.SetSize(0);
  EXPECT_EQ(0, a.AllocItemCount());
  // Regrown items are zero.
  a.SetSize(3);
  EXPECT_EQ((std::vector<int32_t>{0, 0, 0}), ItemsOf(a));
}

TEST(IntegerArrayTest, EditingOperations) {
  TORBIntegerArray a(3, 2, 8);
  EXPECT_EQ((std::vector<int32_t>{0, 0, 0}), ItemsOf(a));
  a[0] = 1;
  a[1] = 2;
  a[2] = 3;
  a.Insert(0, 10);
  a.Insert(4, 40);
  a.Insert(2, 20);
  EXPECT_EQ((std::vector<int32_t>{10, 1, 20, 2, 3, 40}), ItemsOf(a));
  a.Delete(0);
  a.Delete(4);
  EXPECT_EQ((std::vector<int32_t>{1, 20, 2, 3}), ItemsOf(a));
  a.MoveTo(0, 3);
  EXPECT_EQ((std::vector<int32_t>{20, 2, 3, 1}), ItemsOf(a));
  a.MoveTo(3, 1);
  EXPECT_EQ((std::vector<int32_t>{20, 1, 2, 3}), ItemsOf(a));
  EXPECT_EQ(2, a.IndexOf(2));
  EXPECT_EQ(-1, a.IndexOf(99));
  EXPECT_TRUE(a.IsValueExists(3));
  EXPECT_FALSE(a.IsValueExists(4));

  std::vector<int32_t> out(2);
  a.CopyTo(out, 1);
  EXPECT_EQ((std::vector<int32_t>{1, 2}), out);

  TORBIntegerArray b;
  b.Assign(a);
  EXPECT_EQ(ItemsOf(a), ItemsOf(b));
  a.Append(7);
  EXPECT_EQ(4, b.ItemCount());
}

TEST(IntegerArrayTest, IndexesAreChecked) {
  TORBIntegerArray a(2);
  std::vector<int32_t> out(2);
  EXPECT_EQ(10438, RaisedCode([&] { a.At(2); }));
  EXPECT_EQ(10438, RaisedCode([&] { a.Delete(-1); }));
  EXPECT_EQ(10438, RaisedCode([&] { a.Insert(3, 0); }));
  EXPECT_EQ(10438, RaisedCode([&] { a.MoveTo(0, 2); }));
  EXPECT_EQ(10438, RaisedCode([&] { a.CopyTo(out, 1); }));
  EXPECT_EQ(10438, RaisedCode([&] { a.SetSize(-1); }));
  EXPECT_EQ(2, a.ItemCount());
}

TEST(PageItemIDTest, SixByteForm) {
  uint8_t b[6];
  StorePageItemID(b, {-1, 0xFFFE});
  const uint8_t expected[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF};
  EXPECT_EQ(0, std::memcmp(expected, b, 6));
  EXPECT_EQ((TORBPageItemID{-1, 0xFFFE}), LoadPageItemID(b));
  StorePageItemID(b, {0x01020304, 0x0506});
  const uint8_t expected2[] = {4, 3, 2, 1, 6, 5};
  EXPECT_EQ(0, std::memcmp(expected2, b, 6));
}

}  // namespace
}  // namespace orb
