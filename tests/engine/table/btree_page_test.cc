// B-tree pages: layout, split, merge, root absorption, stepping, searches
// by condition, key paths and damaged pages.

#include "engine/table/btree_page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/table/btree_builder.h"
#include "engine/table/key_path.h"
#include "tests/engine/table/btree_test_support.h"
#include "tests/support/raised.h"

namespace orb {
namespace {

using testing::IntKeyRef;
using testing::TEntry;
using testing::TreeFixture;
using test::RaisedCode;

// Page size whose data area holds exactly six 14-byte leaf entries (8-byte
// keys, 6-byte references) and seven 12-byte node entries: a leaf is less
// than half used with two entries or fewer.
constexpr uint16_t kSixLeafEntries = 40 + 18 + 6 * 14;

std::vector<TEntry> Entries(std::initializer_list<int64_t> keys) {
  std::vector<TEntry> out;
  for (int64_t k : keys) out.push_back({k, static_cast<uint32_t>(k)});
  return out;
}

TEST(BTreePageHeaderTest, FieldsSitAtTheirOffsets) {
  TORBBTreePageHeader h;
  h.IsRoot = true;
  h.IsLeaf = false;
  h.LeftPageNo = -1;
  h.RightPageNo = 0x01020304;
  h.HasKeys = true;
  h.KeyPrefixSize = 0x0506;
  h.EntryCount = 0x0708;
  h.PagePrefixSize = 0;
  uint8_t bytes[TORBBTreePageHeader::kSize];
  h.SaveTo(bytes);
  const uint8_t want[] = {1, 0, 0xFF, 0xFF, 0xFF, 0xFF, 4, 3, 2, 1, 1, 0, 6, 5, 8, 7, 0, 0};
  EXPECT_EQ(0, std::memcmp(bytes, want, sizeof want));
  TORBBTreePageHeader back = TORBBTreePageHeader::LoadFrom(bytes);
  EXPECT_TRUE(back.IsRoot);
  EXPECT_EQ(back.RightPageNo, 0x01020304);
  EXPECT_EQ(back.EntryCount, 0x0708);
}

// 4096-byte pages leave 4056 data bytes; 4-byte keys with 6-byte references
// make 10-byte entries, so a leaf holds 403.
TEST(BTreeSplitTest, The404thEntrySplitsTheRootLeafIntoTwoHalves) {
  TreeFixture t(4096, 4);
  for (int i = 0; i < 403; ++i) t.Insert(i, static_cast<uint32_t>(i));
  EXPECT_EQ(t.Depth(), 1);
  t.Insert(403, 403);
  TORBBTreePage root = t.Root();
  EXPECT_EQ(root.PageNo(), t.FRootPageNo);
  ASSERT_FALSE(root.IsLeaf());
  ASSERT_EQ(root.EntryCount(), 2);
  TORBBTreePage left(&t.FPages, &t.FKeyRef), right(&t.FPages, &t.FKeyRef);
  left.GetIndexPage(0, root.ChildPageNo(0));
  right.GetIndexPage(0, root.ChildPageNo(1));
  EXPECT_EQ(left.EntryCount(), 202);
  EXPECT_EQ(right.EntryCount(), 202);
  EXPECT_FALSE(left.IsRoot());
  EXPECT_EQ(left.RightPageNo(), right.PageNo());
  EXPECT_EQ(right.LeftPageNo(), left.PageNo());
  EXPECT_EQ(t.FKeyRef.Load(root.GetPKey(1)), 202);
  left.PutIndexPage();
  right.PutIndexPage();
  root.PutIndexPage();
  t.Check();
  EXPECT_EQ(t.Forward().size(), 404u);
}

// Leaves of four entries built by the bulk loader: 1-4, 5-8, 9-12, plus
// `extra` keys inserted; then 5 and 6 are deleted from the middle leaf.
struct MergeCase {
  std::vector<int64_t> extra;
  int32_t leaves_after;
  const char* what;
};

TEST(BTreeMergeTest, AnUnderusedLeafMergesLeftElseRightElseStays) {
  const MergeCase cases[] = {
      {{}, 2, "left sibling has room"},
      {{0}, 2, "left full, right has room"},
      {{0, 13}, 3, "neither has room"},
  };
  for (const MergeCase& c : cases) {
    SCOPED_TRACE(c.what);
    TreeFixture t(kSixLeafEntries);
    {
      TORBBTreeBuilder builder(&t.FPages, &t.FKeyRef, 0, t.FRootPageNo, 4);
      for (int64_t k = 1; k <= 12; ++k) builder.Add(t.FKeyRef.Key(k).data(), t.FKeyRef.Ref(static_cast<uint32_t>(k)).data());
      builder.Finish();
    }
    for (int64_t k : c.extra) t.Insert(k, static_cast<uint32_t>(k));
    ASSERT_EQ(t.LeafCount(), 3);
    std::vector<TEntry> want = t.Forward();
    ASSERT_TRUE(t.Delete(5, 5));
    ASSERT_TRUE(t.Delete(6, 6));
    want.erase(std::remove_if(want.begin(), want.end(), [](const TEntry& e) { return e.first == 5 || e.first == 6; }),
               want.end());
    EXPECT_EQ(t.LeafCount(), c.leaves_after);
    t.Check();
    EXPECT_EQ(t.Forward(), want);
    // Which sibling took the entries: 7 now shares a leaf with 4 (left) or
    // with 9 (right).
    TORBKeyPath at7, at4, at9;
    TORBBTreePage root = t.Root();
    ASSERT_TRUE(root.FindEntry(0, t.FKeyRef.Key(7).data(), nullptr, at7));
    ASSERT_TRUE(root.FindEntry(0, t.FKeyRef.Key(4).data(), nullptr, at4));
    ASSERT_TRUE(root.FindEntry(0, t.FKeyRef.Key(9).data(), nullptr, at9));
    if (c.extra.empty()) {
      EXPECT_EQ(at7.Leaf().PageNo, at4.Leaf().PageNo);
    }
    if (c.extra.size() == 1) {
      EXPECT_EQ(at7.Leaf().PageNo, at9.Leaf().PageNo);
    }
  }
}

// Siblings filled to the last byte of the page: an emptied leaf between
// them still goes away (the entries of both fit, with nothing to add), so
// no non-root page is ever left without entries.
TEST(BTreeMergeTest, AnEmptiedLeafMergesIntoAFullSibling) {
  TreeFixture t(kSixLeafEntries);
  {
    TORBBTreeBuilder builder(&t.FPages, &t.FKeyRef, 0, t.FRootPageNo, 4);
    for (int64_t k = 10; k <= 120; k += 10)
      builder.Add(t.FKeyRef.Key(k).data(), t.FKeyRef.Ref(static_cast<uint32_t>(k)).data());
    builder.Finish();
  }
  for (int64_t k : {1, 2, 121, 122}) t.Insert(k, static_cast<uint32_t>(k));
  ASSERT_EQ(t.LeafCount(), 3);
  for (int64_t k : {50, 60, 70}) ASSERT_TRUE(t.Delete(k, static_cast<uint32_t>(k)));
  EXPECT_EQ(t.LeafCount(), 3);
  ASSERT_TRUE(t.Delete(80, 80));
  EXPECT_EQ(t.LeafCount(), 2);
  t.Check();
  EXPECT_EQ(t.Forward(), Entries({1, 2, 10, 20, 30, 40, 90, 100, 110, 120, 121, 122}));
}

TEST(BTreeMergeTest, ARootLeftWithOneChildAbsorbsItAndKeepsItsNumber) {
  TreeFixture t(kSixLeafEntries);
  for (int64_t k = 1; k <= 7; ++k) t.Insert(k, static_cast<uint32_t>(k));
  ASSERT_EQ(t.Depth(), 2);
  ASSERT_EQ(t.LeafCount(), 2);
  for (int64_t k = 1; k <= 4; ++k) ASSERT_TRUE(t.Delete(k, static_cast<uint32_t>(k)));
  EXPECT_EQ(t.Depth(), 1);
  TORBBTreePage root = t.Root();
  EXPECT_EQ(root.PageNo(), t.FRootPageNo);
  EXPECT_TRUE(root.IsRoot());
  EXPECT_TRUE(root.IsLeaf());
  EXPECT_EQ(root.LeftPageNo(), -1);
  EXPECT_EQ(root.RightPageNo(), -1);
  root.PutIndexPage();
  t.Check();
  EXPECT_EQ(t.Forward(), Entries({5, 6, 7}));
}

TEST(BTreeStepTest, NextCrossesToTheRightSiblingAndStopsAfterTheLastEntry) {
  TreeFixture t(kSixLeafEntries);
  for (int64_t k = 1; k <= 7; ++k) t.Insert(k, static_cast<uint32_t>(k));
  TORBBTreePage root = t.Root();
  TORBKeyPath path;
  // Keys 1-3 and 4-7 after the split of seven.
  ASSERT_TRUE(root.FindEntry(0, t.FKeyRef.Key(3).data(), nullptr, path));
  const int32_t first_leaf = path.Leaf().PageNo;
  ASSERT_EQ(path.Leaf().EntryNo, path.Leaf().EntryCount - 1);
  ASSERT_TRUE(root.GetNextPosition(0, path));
  EXPECT_NE(path.Leaf().PageNo, first_leaf);
  EXPECT_EQ(path.Leaf().EntryNo, 0);
  EXPECT_EQ(t.At(path).first, 4);
  ASSERT_TRUE(root.GetPriorPosition(0, path));
  EXPECT_EQ(t.At(path).first, 3);
  ASSERT_TRUE(root.GetLastPosition(0, path));
  TORBKeyPath last = path;
  EXPECT_FALSE(root.GetNextPosition(0, path));
  EXPECT_EQ(path.Compare(last), 0);
  ASSERT_TRUE(root.GetFirstPosition(0, path));
  EXPECT_FALSE(root.GetPriorPosition(0, path));
  TORBKeyPath empty;
  EXPECT_EQ(RaisedCode([&] { root.GetNextPosition(0, empty); }), 20069);
}

// The table of conditions on keys 1..10 spread over several leaves, with
// the search key 5 and keys outside the range.
TEST(BTreeFindByConditionTest, FirstAndLastMatchingEntries) {
  struct Case {
    TORBSearchCondition condition;
    bool first;
    int64_t key;
    int64_t want;  // 0: nothing found
  };
  const Case cases[] = {
      {scNone, true, 5, 1},          {scNone, false, 5, 10},
      {scEqual, true, 5, 5},         {scEqual, false, 5, 5},       {scEqual, true, 11, 0},
      {scLower, true, 5, 1},         {scLower, false, 5, 4},       {scLower, true, 1, 0},
      {scLower, false, 1, 0},        {scLower, false, 11, 10},
      {scGreater, true, 5, 6},       {scGreater, false, 5, 10},    {scGreater, true, 10, 0},
      {scGreater, false, 10, 0},     {scGreater, true, 0, 1},
      {scLowerEqual, true, 5, 1},    {scLowerEqual, false, 5, 5},  {scLowerEqual, true, 0, 0},
      {scGreaterEqual, true, 5, 5},  {scGreaterEqual, false, 5, 10}, {scGreaterEqual, true, 11, 0},
      {scGreaterEqual, false, 10, 10},
  };
  TreeFixture t(kSixLeafEntries);
  for (int64_t k = 1; k <= 10; ++k) t.Insert(k, static_cast<uint32_t>(k));
  ASSERT_GE(t.LeafCount(), 3);
  TORBBTreePage root = t.Root();
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "condition " << int(c.condition) << " first " << c.first << " key " << c.key);
    TORBKeyPath path;
    bool found = root.FindByCondition(0, c.first, t.FKeyRef.Key(c.key).data(), c.condition, path);
    ASSERT_EQ(found, c.want != 0);
    if (found) {
      EXPECT_EQ(t.At(path).first, c.want);
    }
  }
}

TEST(BTreeFindByConditionTest, EqualKeysSpanningLeavesGiveTheFirstAndLastOfTheRun) {
  TreeFixture t(kSixLeafEntries);
  for (uint32_t r = 0; r < 20; ++r) t.Insert(7, r);
  t.Insert(3, 100);
  t.Insert(9, 101);
  ASSERT_GE(t.LeafCount(), 4);
  TORBBTreePage root = t.Root();
  TORBKeyPath path;
  ASSERT_TRUE(root.FindByCondition(0, true, t.FKeyRef.Key(7).data(), scEqual, path));
  EXPECT_EQ(t.At(path), TEntry(7, 0));
  ASSERT_TRUE(root.FindByCondition(0, false, t.FKeyRef.Key(7).data(), scEqual, path));
  EXPECT_EQ(t.At(path), TEntry(7, 19));
  ASSERT_TRUE(root.FindEntry(0, t.FKeyRef.Key(7).data(), t.FKeyRef.Ref(13).data(), path));
  EXPECT_EQ(t.At(path), TEntry(7, 13));
  EXPECT_FALSE(root.FindEntry(0, t.FKeyRef.Key(7).data(), t.FKeyRef.Ref(20).data(), path));
  EXPECT_FALSE(root.FindByCondition(0, true, t.FKeyRef.Key(8).data(), scEqual, path));
}

TEST(BTreeEdgeLeafTest, TheEdgeLeavesAreThoseOfTheFirstAndLastPositions) {
  TreeFixture t(kSixLeafEntries);
  TORBBTreePage leaf(&t.FPages, &t.FKeyRef);
  EXPECT_FALSE(t.Root().GetEdgeLeaf(0, true, leaf));
  t.Insert(5, 5);
  ASSERT_TRUE(t.Root().GetEdgeLeaf(0, false, leaf));
  EXPECT_EQ(leaf.PageNo(), t.FRootPageNo);  // a root leaf is its own edge
  leaf.PutIndexPage();
  for (int64_t k = 1; k <= 60; ++k) t.Insert(k * 10, static_cast<uint32_t>(k));
  ASSERT_GE(t.Depth(), 3);
  for (bool first : {true, false}) {
    TORBBTreePage root = t.Root();
    TORBKeyPath path;
    ASSERT_TRUE(first ? root.GetFirstPosition(0, path) : root.GetLastPosition(0, path));
    ASSERT_TRUE(root.GetEdgeLeaf(0, first, leaf));
    EXPECT_EQ(leaf.PageNo(), path.Leaf().PageNo);
    EXPECT_TRUE(leaf.IsLeaf());
    leaf.PutIndexPage();
  }
}

TEST(BTreeFindByConditionTest, AnEmptyTreeFindsNothing) {
  TreeFixture t(kSixLeafEntries);
  TORBBTreePage root = t.Root();
  TORBKeyPath path;
  EXPECT_FALSE(root.FindByCondition(0, true, nullptr, scNone, path));
  EXPECT_FALSE(root.GetFirstPosition(0, path));
  EXPECT_FALSE(root.FindEntry(0, t.FKeyRef.Key(1).data(), nullptr, path));
  EXPECT_FALSE(root.DeleteLeafEntry(0, t.FKeyRef.Key(1).data(), t.FKeyRef.Ref(1).data(), path));
}

// A unique insertion refuses every key the tree holds, wherever the equal
// entry sits (also first in the next leaf, or inside a run of equal keys
// over several leaves), and lands every other key where the plain insertion
// would, stale separators left by deletions included.
TEST(BTreeUniqueInsertTest, RefusesHeldKeysAndInsertsTheOthersInOrder) {
  TreeFixture t(kSixLeafEntries);
  for (int64_t k = 0; k <= 120; k += 2) t.Insert(k, static_cast<uint32_t>(k));
  for (uint32_t r = 0; r < 15; ++r) t.Insert(61, 1000 + r);  // a run over several leaves
  ASSERT_GE(t.Depth(), 3);
  auto insert_unique = [&](int64_t key, uint32_t ref) {
    TORBKeyPath path;
    const bool inserted =
        t.Root().InsertUniqueLeafEntry(0, t.FKeyRef.Key(key).data(), t.FKeyRef.Ref(ref).data(), path);
    if (inserted) {
      EXPECT_EQ(t.At(path), TEntry(key, ref));
    }
    return inserted;
  };
  const std::vector<TEntry> before = t.Forward();
  for (int64_t k = 0; k <= 120; k += 2) EXPECT_FALSE(insert_unique(k, 5000)) << k;
  EXPECT_FALSE(insert_unique(61, 5000));
  EXPECT_EQ(t.Forward(), before);
  // Deleting leaves separators older than their subtrees' first entries.
  for (int64_t k = 0; k <= 120; k += 6) ASSERT_TRUE(t.Delete(k, static_cast<uint32_t>(k)));
  for (int64_t k = -1; k <= 121; ++k) {
    const bool held = k == 61 || (k % 2 == 0 && k % 6 != 0);
    EXPECT_EQ(insert_unique(k, static_cast<uint32_t>(2000 + k)), !held) << k;
  }
  t.Check();
  const std::vector<TEntry> after = t.Forward();
  EXPECT_TRUE(std::is_sorted(after.begin(), after.end()));
  EXPECT_EQ(after.size(), before.size() + 61);  // the deleted 21 came back, 61 odd keys joined
}

// Node searches compare separators by binary search and fetch a child's
// first entry only on a tie: with distinct keys a lookup costs about one
// comparison per halving on each level, not a descent per probe.
TEST(BTreeSearchCostTest, DistinctKeysNeedNoChildFetchInNodes) {
  TreeFixture t(kSixLeafEntries);
  for (int64_t k = 0; k < 2000; ++k) t.Insert(k * 2, static_cast<uint32_t>(k));
  const int32_t depth = t.Depth();
  ASSERT_GE(depth, 4);
  TORBBTreePage root = t.Root();
  for (int64_t k : {1, 777, 2001, 3999}) {
    t.FKeyRef.FCompareCount = 0;
    TORBKeyPath path;
    root.FindEntry(0, t.FKeyRef.Key(k).data(), t.FKeyRef.Ref(0).data(), path);
    // log2(7) < 3 probes per node, log2(6) < 3 in the leaf, plus the check.
    EXPECT_LE(t.FKeyRef.FCompareCount, 3 * depth + 2) << k;
  }
}

TEST(BTreeKeyPositionTest, SearchInsideOnePage) {
  TreeFixture t(kSixLeafEntries);
  TORBBTreePage root = t.Root();
  TORBKeyPathPosition type;
  EXPECT_EQ(root.GetKeyPosition(true, 0, t.FKeyRef.Key(1).data(), nullptr, 0, type, kstAny), 0);
  EXPECT_EQ(type, kppEOF);
  root.PutIndexPage();
  for (auto [k, r] : std::vector<TEntry>{{2, 1}, {4, 1}, {4, 2}, {4, 3}, {9, 1}}) t.Insert(k, r);
  root = t.Root();
  struct Case {
    int64_t key;
    int32_t reference;  // -1: none
    TORBKeySearchType search;
    int32_t want;
    TORBKeyPathPosition want_type;
  };
  const Case cases[] = {
      {4, -1, kstFirst, 1, kppOnKey}, {4, -1, kstLast, 3, kppOnKey}, {4, 2, kstAny, 2, kppOnKey},
      {4, 9, kstAny, 4, kppBeforeKey}, {3, -1, kstFirst, 1, kppBeforeKey}, {10, -1, kstAny, 5, kppBeforeKey},
      {1, -1, kstLast, 0, kppBeforeKey},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> ref = t.FKeyRef.Ref(static_cast<uint32_t>(c.reference));
    int32_t at = root.GetKeyPosition(true, 0, t.FKeyRef.Key(c.key).data(), c.reference < 0 ? nullptr : ref.data(), 0,
                                     type, c.search);
    EXPECT_EQ(at, c.want) << c.key << "/" << c.reference;
    EXPECT_EQ(type, c.want_type) << c.key << "/" << c.reference;
  }
  std::vector<uint8_t> key(8), ref(6);
  ASSERT_TRUE(root.GetFirstEntry(0, key.data(), ref.data()));
  EXPECT_EQ(t.FKeyRef.Load(key.data()), 2);
  ASSERT_TRUE(root.GetLastKey(0, key.data()));
  EXPECT_EQ(t.FKeyRef.Load(key.data()), 9);
}

TEST(BTreeEntrySizeTest, TreesNeedRoomForThreeEntriesPerPage) {
  struct Case {
    uint16_t data_size;
    int32_t key_size;
    uint16_t reference_size;
    bool ok;
  };
  const Case cases[] = {
      {18 + 3 * 14, 8, 6, true},  {18 + 3 * 14 - 1, 8, 6, false},
      {18 + 3 * 12, 8, 2, true},  // node entries (key + 4) are the larger
      {18 + 3 * 12 - 1, 8, 2, false}, {4056, 4000, 6, false},
  };
  for (const Case& c : cases) {
    IntKeyRef key_ref(8, false, c.reference_size);
    key_ref.FShortKeySize = c.key_size;
    int32_t code = RaisedCode([&] { TORBBTreePage::CheckEntrySize(c.data_size, key_ref); });
    EXPECT_EQ(code, c.ok ? 0 : kErrBTreeEntryTooLarge) << c.data_size << " " << c.key_size;
  }
}

TEST(KeyPathTest, BitmapNumbersAreExactAndChecked) {
  TORBKeyPath path;
  path.AddItem(10, 1, 3);
  path.AddItem(11, 2, 3);
  EXPECT_EQ(path.GetBitmapRecNoByIndexPosition(3), 11);
  TORBKeyPath back;
  back.FillItemsByBitmapRecNo(11, 3);
  ASSERT_EQ(back.Count(), 2);
  EXPECT_EQ(back.Item(0).EntryNo, 1);
  EXPECT_EQ(back.Item(1).EntryNo, 2);
  EXPECT_EQ(back.Item(0).PageNo, -1);

  // Order preserved and exact at the top of the range: 9 levels of base
  // 1001 fit in 63 bits (1001^9 < 2^63 ... ~1.009e27 does not), so use 6.
  TORBKeyPath big;
  for (int l = 0; l < 6; ++l) big.AddItem(-1, 999, 1000);
  const int64_t top = big.GetBitmapRecNoByIndexPosition(1000);
  TORBKeyPath round;
  round.FillItemsByBitmapRecNo(top, 1000);
  EXPECT_EQ(round.Count(), 6);
  EXPECT_EQ(round.Item(5).EntryNo, 999);
  EXPECT_EQ(round.GetBitmapRecNoByIndexPosition(1000), top);
  big.Item(5).EntryNo = 998;
  EXPECT_EQ(big.GetBitmapRecNoByIndexPosition(1000), top - 1);

  TORBKeyPath deep;
  for (int l = 0; l < 7; ++l) deep.AddItem(-1, 999, 1000);
  EXPECT_EQ(RaisedCode([&] { deep.GetBitmapRecNoByIndexPosition(1000); }), kErrBitmapRecNoOverflow);
  TORBKeyPath bad;
  bad.AddItem(-1, 5, 6);
  EXPECT_EQ(RaisedCode([&] { bad.GetBitmapRecNoByIndexPosition(5); }), kErrBitmapRecNoInvalid);
  // 4 in base 4 is "10": a zero digit names no entry.
  EXPECT_EQ(RaisedCode([&] { back.FillItemsByBitmapRecNo(4, 3); }), kErrBitmapRecNoInvalid);
  EXPECT_EQ(RaisedCode([&] { back.FillItemsByBitmapRecNo(0, 3); }), kErrBitmapRecNoInvalid);
}

TEST(KeyPathTest, HoldsAtMostThirtyTwoLevels) {
  TORBKeyPath path;
  for (int l = 0; l < TORBKeyPath::kMaxLevels; ++l) path.AddItem(l, 0, 1);
  EXPECT_EQ(RaisedCode([&] { path.AddItem(99, 0, 1); }), kErrBTreeTooDeep);
  EXPECT_EQ(path.Count(), TORBKeyPath::kMaxLevels);
}

TEST(KeyPathTest, CompareDecidesAtTheFirstDifferingLevel) {
  TreeFixture t(kSixLeafEntries);
  for (int64_t k = 1; k <= 30; ++k) t.Insert(k, static_cast<uint32_t>(k));
  TORBBTreePage root = t.Root();
  TORBKeyPath a, b, c;
  ASSERT_TRUE(root.FindEntry(0, t.FKeyRef.Key(2).data(), nullptr, a));
  ASSERT_TRUE(root.FindEntry(0, t.FKeyRef.Key(29).data(), nullptr, b));
  ASSERT_TRUE(root.FindEntry(0, t.FKeyRef.Key(3).data(), nullptr, c));
  ASSERT_NE(a.Leaf().PageNo, b.Leaf().PageNo);
  EXPECT_EQ(a.Compare(b), -1);
  EXPECT_EQ(b.Compare(a), 1);
  EXPECT_EQ(a.Compare(a), 0);
  EXPECT_EQ(a.Compare(c), -1);
  EXPECT_GT(b.GetApproxRecNoInPercents(), a.GetApproxRecNoInPercents());
  TORBKeyPath shorter;
  shorter.AddItem(a.Item(0).PageNo, 0, 1);
  EXPECT_EQ(RaisedCode([&] { a.Compare(shorter); }), 20051);
  TORBKeyPath other = a;
  other.Item(0).PageNo = 12345;
  EXPECT_EQ(RaisedCode([&] { a.Compare(other); }), 20052);
}

TEST(BTreeIndexPositionTest, EntryNumbersAloneLeadToTheEntryAndRanksCount) {
  TreeFixture t(kSixLeafEntries);
  for (int64_t k = 0; k < 100; ++k) t.Insert(k, static_cast<uint32_t>(k));
  TORBBTreePage root = t.Root();
  TORBKeyPath path;
  ASSERT_TRUE(root.FindEntry(0, t.FKeyRef.Key(42).data(), nullptr, path));
  EXPECT_EQ(root.GetRecNoByPosition(0, path), 42);
  const int32_t m = 7;
  TORBKeyPath from_number;
  from_number.FillItemsByBitmapRecNo(path.GetBitmapRecNoByIndexPosition(m), m);
  std::vector<uint8_t> key(8), ref(6);
  ASSERT_TRUE(root.GetEntryByIndexPosition(0, from_number, key.data(), ref.data()));
  EXPECT_EQ(t.FKeyRef.Load(key.data()), 42);
  EXPECT_EQ(from_number.Leaf().PageNo, path.Leaf().PageNo);
  ASSERT_TRUE(root.GetEntryByRecNo(0, 99, key.data(), nullptr));
  EXPECT_EQ(t.FKeyRef.Load(key.data()), 99);
  EXPECT_FALSE(root.GetEntryByRecNo(0, 100, key.data(), nullptr));
  EXPECT_EQ(root.GetEntryTotal(0), 100);
  from_number.Item(0).EntryNo = 50;
  EXPECT_FALSE(root.GetEntryByIndexPosition(0, from_number, key.data(), ref.data()));
}

// A page read back from storage is checked before its values are used.
TEST(BTreeDamageTest, AHeaderThatDoesNotFitThePageIsRefused) {
  struct Case {
    size_t offset;
    std::vector<uint8_t> bytes;
    const char* what;
  };
  const Case cases[] = {
      {TORBBTreePageHeader::kOffEntryCount, {0xFF, 0x7F}, "entry count past the page"},
      {TORBBTreePageHeader::kOffKeyPrefixSize, {4, 0}, "key size not the tree's"},
      {TORBBTreePageHeader::kOffPagePrefixSize, {8, 0}, "page prefix"},
      {TORBBTreePageHeader::kOffHasSuffixes, {1}, "suffix pointers"},
      {TORBBTreePageHeader::kOffIsLeaf, {7}, "flag byte"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TreeFixture t(kSixLeafEntries);
    for (int64_t k = 1; k <= 3; ++k) t.Insert(k, static_cast<uint32_t>(k));
    t.FPages.SetCacheCapacity(0);
    t.FPages.ApplyChanges(0);
    std::vector<uint8_t>& stored = t.FPages.stored.at(t.FRootPageNo);
    std::memcpy(stored.data() + 40 + c.offset, c.bytes.data(), c.bytes.size());
    EXPECT_EQ(RaisedCode([&] { t.Root(); }), kErrBTreePageDamaged);
  }
}

// Node pages chained deeper than a key path holds, and a loop: searches stop
// with a coded error instead of overrunning the path or running forever.
TEST(BTreeDamageTest, ChainsDeeperThanAPathAndLoopsRaise) {
  for (int chain : {TORBKeyPath::kMaxLevels + 1, 2}) {
    SCOPED_TRACE(chain);
    TreeFixture t(kSixLeafEntries);
    std::vector<int32_t> nodes{t.FRootPageNo};
    for (int i = 1; i < chain; ++i) {
      TORBBTreePage page(&t.FPages, &t.FKeyRef);
      page.AddIndexPage(0);
      page.InitAsRoot();
      page.SetIsRoot(false);
      nodes.push_back(page.PageNo());
    }
    for (size_t i = 0; i < nodes.size(); ++i) {
      TORBBTreePage page(&t.FPages, &t.FKeyRef);
      page.GetIndexPage(0, nodes[i]);
      page.SetIsLeaf(false);
      // Each node points to the next; the last one back to the root.
      int32_t child = i + 1 < nodes.size() ? nodes[i + 1] : nodes[0];
      std::vector<uint8_t> entry(12, 0);
      StoreI32LE(entry.data() + 8, child);
      page.ReplaceEntries(entry.data(), 1);
    }
    TORBBTreePage root = t.Root();
    TORBKeyPath path;
    EXPECT_EQ(RaisedCode([&] { root.FindEntry(0, t.FKeyRef.Key(1).data(), nullptr, path); }), kErrBTreeTooDeep);
    EXPECT_EQ(RaisedCode([&] { root.GetDepth(0); }), kErrBTreeTooDeep);
    int32_t code = RaisedCode([&] { root.CheckIntegrity(0); });
    EXPECT_TRUE(code == kErrBTreeTooDeep || code == 20028) << code;
  }
}

TEST(BTreeDamageTest, CheckIntegrityFindsKeysOutOfOrder) {
  TreeFixture t(kSixLeafEntries);
  for (int64_t k = 1; k <= 20; ++k) t.Insert(k, static_cast<uint32_t>(k));
  t.Check();
  TORBKeyPath path;
  ASSERT_TRUE(t.Root().FindEntry(0, t.FKeyRef.Key(9).data(), nullptr, path));
  TORBBTreePage leaf(&t.FPages, &t.FKeyRef);
  leaf.GetIndexPage(0, path.Leaf().PageNo);
  leaf.UpdateKey(path.Leaf().EntryNo, t.FKeyRef.Key(100).data());
  leaf.PutIndexPage();
  EXPECT_EQ(RaisedCode([&] { t.Check(); }), 20028);
}

TEST(BTreeNodeEntryTest, NodeOperationsOnALeafAreRefused) {
  TreeFixture t(kSixLeafEntries);
  TORBBTreePage root = t.Root();
  TORBKeyPath path;
  path.AddItem(root.PageNo(), 0, 0);
  EXPECT_EQ(RaisedCode([&] { root.InsertNodeEntry(0, t.FKeyRef.Key(1).data(), 5, path); }), 20020);
  EXPECT_EQ(RaisedCode([&] { root.DeleteNodeEntry(0, path, true); }), 20024);
}

TEST(BTreeFreeTest, FreeAllPagesRemovesEveryPageButTheRootWhenKept) {
  TreeFixture t(kSixLeafEntries);
  for (int64_t k = 1; k <= 60; ++k) t.Insert(k, static_cast<uint32_t>(k));
  t.FPages.ApplyChanges(0);
  const size_t pages = t.FPages.stored.size();
  ASSERT_GT(pages, 10u);
  t.Root().FreeAllPages(0, true);
  t.FPages.ApplyChanges(0);
  EXPECT_EQ(t.FPages.stored.size(), 1u);
  EXPECT_EQ(t.FPages.stored.count(t.FRootPageNo), 1u);
  t.Root().InitAsRoot();
  t.Insert(1, 1);
  t.Root().FreeAllPages(0, false);
  t.FPages.ApplyChanges(0);
  EXPECT_TRUE(t.FPages.stored.empty());
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

// Inserts in ascending order try the last entry of every page first.
TEST(BTreeSearchCostTest, AscendingInsertsCompareAboutOncePerLevel) {
  TreeFixture t(kSixLeafEntries);
  for (int64_t k = 0; k < 2000; ++k) t.Insert(k, static_cast<uint32_t>(k));
  const int32_t depth = t.Depth();
  ASSERT_GE(depth, 4);
  for (int64_t k = 2000; k < 2050; ++k) {
    t.FKeyRef.FCompareCount = 0;
    t.Insert(k, static_cast<uint32_t>(k));
    // One probe per level, a split descending once more; a binary search
    // would take about three per level.
    EXPECT_LE(t.FKeyRef.FCompareCount, 2 * depth + 2) << k;
  }
  t.Check();
  EXPECT_EQ(t.Forward().size(), 2050u);
}

// Insertion at a remembered leaf, page size 256: 14 entries a leaf.
class BTreeLeafHintTest : public ::testing::Test {
 protected:
  static constexpr uint16_t kPageSize = 256;

  // Keys 0, 10, ..., 990 (references equal to the keys), all pages still
  // private to the session.
  static void Fill(TreeFixture& t) {
    for (int64_t k = 0; k < 1000; k += 10) t.Insert(k, static_cast<uint32_t>(k));
    ASSERT_GE(t.Depth(), 2);
  }
  static int32_t LeafOf(TreeFixture& t, int64_t key) {
    TORBKeyPath path;
    EXPECT_TRUE(t.Root().FindEntry(0, t.FKeyRef.Key(key).data(), t.FKeyRef.Ref(static_cast<uint32_t>(key)).data(),
                                   path));
    return path.Leaf().PageNo;
  }
  static TORBLeafHintResult InsertAt(TreeFixture& t, int32_t leaf, uint64_t apply_count, int64_t key, uint32_t ref,
                                     bool unique) {
    TORBBTreePage page(&t.FPages, &t.FKeyRef);
    return page.InsertAtLeafHint(0, leaf, apply_count, t.FKeyRef.Key(key).data(), t.FKeyRef.Ref(ref).data(), unique);
  }
};

TEST_F(BTreeLeafHintTest, TakesTheEntryOnlyWhereADescentWouldPutIt) {
  enum TLeaf { kFirstLeaf, kLastLeaf, kRoot };
  struct Case {
    TLeaf leaf;
    int64_t key;
    uint32_t ref;
    bool unique;
    TORBLeafHintResult result;
  };
  const Case cases[] = {
      {kLastLeaf, 1000, 1000, true, lhrInserted},   // after the last entry of the rightmost leaf
      {kLastLeaf, 985, 985, true, lhrInserted},     // between two entries
      {kLastLeaf, 990, 7, true, lhrDuplicate},      // the last key
      {kLastLeaf, 5, 5, true, lhrMissed},           // before the leaf's first entry
      {kFirstLeaf, 5, 5, true, lhrInserted},        // inside the first leaf
      {kFirstLeaf, 0, 7, true, lhrDuplicate},       // its first key
      {kFirstLeaf, 995, 995, true, lhrMissed},      // after the last entry of a leaf with a right sibling
      {kLastLeaf, 990, 991, false, lhrInserted},    // equal key, higher reference: after the last entry
      {kLastLeaf, 980, 979, false, lhrInserted},    // equal key, lower reference: before it
      {kLastLeaf, 990, 990, false, lhrMissed},      // the entry itself
      {kFirstLeaf, 995, 995, false, lhrMissed},
      {kRoot, 1000, 1000, true, lhrMissed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.leaf << " " << c.key << "/" << c.ref << (c.unique ? " unique" : ""));
    TreeFixture t(kPageSize);
    Fill(t);
    const int32_t leaf = c.leaf == kRoot ? t.FRootPageNo : LeafOf(t, c.leaf == kFirstLeaf ? 0 : 990);
    std::vector<TEntry> expected = t.Forward();
    EXPECT_EQ(InsertAt(t, leaf, t.FPages.ApplyCount(), c.key, c.ref, c.unique), c.result);
    if (c.result == lhrInserted) {
      expected.emplace_back(c.key, c.ref);
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(LeafOf(t, c.key == 990 ? 990 : c.key), leaf);
    }
    EXPECT_EQ(t.Forward(), expected);
    t.Check();
  }
}

TEST_F(BTreeLeafHintTest, AFullLeafIsLeftToTheDescentWhichSplitsIt) {
  TreeFixture t(kPageSize);
  Fill(t);
  int64_t key = 1000;
  int32_t leaf = LeafOf(t, 990);
  // Ascending keys fill the last leaf, then it needs a split.
  while (InsertAt(t, leaf, t.FPages.ApplyCount(), key, static_cast<uint32_t>(key), true) == lhrInserted) key += 10;
  TORBBTreePage page(&t.FPages, &t.FKeyRef);
  page.GetIndexPage(0, leaf);
  EXPECT_FALSE(page.CanAddEntry());
  page.PutIndexPage();
  t.Insert(key, static_cast<uint32_t>(key));
  EXPECT_NE(LeafOf(t, key), leaf);
  t.Check();
  EXPECT_EQ(t.Forward().back(), TEntry(key, static_cast<uint32_t>(key)));
}

// A remembered leaf counts only while it provably is still the tree's:
// private to the session all along, with no page freed meanwhile.
TEST_F(BTreeLeafHintTest, ALeafNoLongerProvablyTheTreesIsRefused) {
  {
    SCOPED_TRACE("the apply count moved");
    TreeFixture t(kPageSize);
    Fill(t);
    EXPECT_EQ(InsertAt(t, LeafOf(t, 990), t.FPages.ApplyCount() - 1, 1000, 1000, true), lhrMissed);
  }
  {
    SCOPED_TRACE("a file shared with other processes");
    TreeFixture t(kPageSize);
    Fill(t);
    t.FPages.SetMultiUser(true);
    EXPECT_EQ(InsertAt(t, LeafOf(t, 990), t.FPages.ApplyCount(), 1000, 1000, true), lhrMissed);
  }
  {
    SCOPED_TRACE("committed: no longer private");
    TreeFixture t(kPageSize);
    Fill(t);
    const int32_t leaf = LeafOf(t, 990);
    t.FPages.ApplyChanges(0);
    EXPECT_EQ(InsertAt(t, leaf, t.FPages.ApplyCount(), 1000, 1000, true), lhrMissed);
  }
  {
    SCOPED_TRACE("a page freed by the session");
    TreeFixture t(kPageSize);
    Fill(t);
    const int32_t leaf = LeafOf(t, 990);
    for (int64_t k = 0; k < 300; k += 10) ASSERT_TRUE(t.Delete(k, static_cast<uint32_t>(k)));
    ASSERT_FALSE(t.FPages.FindSessionInfo(0)->RemovedPageNumbers.empty());
    EXPECT_EQ(InsertAt(t, leaf, t.FPages.ApplyCount(), 1000, 1000, true), lhrMissed);
    t.Check();
  }
  {
    SCOPED_TRACE("freed, committed and taken by another tree");
    TreeFixture t(kPageSize);
    Fill(t);
    t.FPages.ApplyChanges(0);
    // The last leaf becomes private again and is remembered.
    t.Insert(1000, 1000);
    const int32_t leaf = LeafOf(t, 1000);
    const uint64_t apply_count = t.FPages.ApplyCount();
    for (int64_t k = 500; k <= 1000; k += 10) ASSERT_TRUE(t.Delete(k, static_cast<uint32_t>(k)));
    t.FPages.ApplyChanges(0);
    ASSERT_TRUE(t.FPages.free_numbers.count(leaf));
    // A second tree of the same key size takes the freed pages: the leaf
    // is private to the session again, as one of its leaves.
    TORBBTreePage other(&t.FPages, &t.FKeyRef);
    other.AddIndexPage(0);
    other.InitAsRoot();
    for (int64_t k = 2000; t.FPages.free_numbers.count(leaf) != 0 && k < 20000; k += 10) {
      TORBKeyPath path;
      other.InsertLeafEntry(0, t.FKeyRef.Key(k).data(), t.FKeyRef.Ref(static_cast<uint32_t>(k)).data(), path);
    }
    ASSERT_EQ(t.FPages.free_numbers.count(leaf), 0u);
    ASSERT_NE(t.FPages.FindSessionInfo(0)->DirtyPages.Find(leaf), nullptr);
    int64_t inside = 0;
    {
      TORBBTreePage page(&t.FPages, &t.FKeyRef);
      page.GetIndexPage(0, leaf);
      ASSERT_TRUE(page.IsLeaf());
      ASSERT_GE(page.EntryCount(), 2);
      inside = t.FKeyRef.Load(page.GetPKey(0)) + 5;
    }
    const std::vector<TEntry> before = t.Forward();
    EXPECT_EQ(InsertAt(t, leaf, apply_count, inside, 1, true), lhrMissed);
    other.CheckIntegrity(0);
    TORBKeyPath path;
    EXPECT_FALSE(other.FindEntry(0, t.FKeyRef.Key(inside).data(), nullptr, path));
    EXPECT_EQ(t.Forward(), before);
    // Only the count tells: under the current one the page would pass.
    EXPECT_EQ(InsertAt(t, leaf, t.FPages.ApplyCount(), inside, 1, true), lhrInserted);
    other.CheckIntegrity(0);
    t.Check();
  }
}

}  // namespace
}  // namespace orb
