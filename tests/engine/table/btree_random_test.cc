// Random inserts and deletes against a model: trees of several levels on
// small pages, with unique and repeated keys, ascending and descending.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "engine/base/error_codes.h"
#include "engine/table/btree_builder.h"
#include "engine/table/btree_page.h"
#include "tests/engine/table/btree_test_support.h"
#include "tests/support/raised.h"

namespace orb {
namespace {

using testing::TEntry;
using testing::TreeFixture;

// 200-byte pages: ten leaf entries and eleven node entries per page.
constexpr uint16_t kSmallPage = 200;

struct RandomCase {
  uint32_t seed;
  bool unique;
  bool descending;
};

// Entries in the tree's order: keys ascending or descending, ties by
// reference ascending.
struct ModelOrder {
  bool descending;
  bool operator()(const TEntry& a, const TEntry& b) const {
    if (a.first != b.first) return descending ? a.first > b.first : a.first < b.first;
    return a.second < b.second;
  }
};

// Structural events, seen from outside: leaves counted along the sibling
// links and the depth, before and after every operation.
struct Events {
  int splits = 0;
  int merges = 0;
  int root_growths = 0;
  int absorptions = 0;
  int max_depth = 1;
};

class BTreeRandomTest : public ::testing::TestWithParam<RandomCase> {};

TEST_P(BTreeRandomTest, MatchesAMultisetThroughGrowthAndShrinkage) {
  const RandomCase c = GetParam();
  TreeFixture t(kSmallPage, 8, c.descending);
  std::multiset<TEntry, ModelOrder> model(ModelOrder{c.descending});
  std::mt19937 rng(c.seed);
  Events events;
  uint32_t next_ref = 0;
  const int64_t key_range = c.unique ? 1000000 : 40;

  // Phases: grow to a few thousand entries, shrink to almost nothing, grow
  // again, then churn.
  const struct {
    int operations;
    int insert_percent;
  } phases[] = {{3000, 85}, {3000, 12}, {1500, 80}, {1500, 50}, {2500, 5}};
  int batch = 0;
  for (const auto& phase : phases) {
    for (int op = 0; op < phase.operations; ++op) {
      const int32_t leaves_before = t.LeafCount();
      const int32_t depth_before = t.Depth();
      const bool insert = model.empty() || static_cast<int>(rng() % 100) < phase.insert_percent;
      if (insert) {
        int64_t key = static_cast<int64_t>(rng() % key_range) - key_range / 2;
        auto has_key = [&](int64_t k) {
          auto it = model.lower_bound({k, 0});
          return it != model.end() && it->first == k;
        };
        while (c.unique && has_key(key)) key = static_cast<int64_t>(rng() % key_range) - key_range / 2;
        const uint32_t ref = next_ref++;
        t.Insert(key, ref);
        model.insert({key, ref});
      } else {
        auto it = model.begin();
        std::advance(it, static_cast<long>(rng() % model.size()));
        ASSERT_TRUE(t.Delete(it->first, it->second)) << it->first << "/" << it->second;
        model.erase(it);
        // An entry that is not there: a known key with a reference never
        // given out.
        if (rng() % 8 == 0 && !model.empty()) {
          ASSERT_FALSE(t.Delete(model.begin()->first, next_ref + 1));
        }
      }
      const int32_t leaves_after = t.LeafCount();
      const int32_t depth_after = t.Depth();
      if (leaves_after > leaves_before) ++events.splits;
      if (leaves_after < leaves_before) ++events.merges;
      if (depth_after > depth_before) ++events.root_growths;
      if (depth_after < depth_before) ++events.absorptions;
      events.max_depth = std::max(events.max_depth, depth_after);

      if (op % 500 == 499) {
        SCOPED_TRACE(::testing::Message() << "batch " << batch++ << " size " << model.size());
        t.Check();
        const std::vector<TEntry> want(model.begin(), model.end());
        ASSERT_EQ(t.Forward(), want);
        ASSERT_EQ(t.Backward(), std::vector<TEntry>(want.rbegin(), want.rend()));
        EXPECT_EQ(t.Root().GetEntryTotal(0), static_cast<int64_t>(model.size()));
        // Written and read back through the page store now and then, so
        // removed pages are given out again.
        t.FPages.ApplyChanges(0);
      }
    }
  }
  RecordProperty("splits", events.splits);
  RecordProperty("merges", events.merges);
  RecordProperty("max_depth", events.max_depth);
  EXPECT_GE(events.max_depth, 4);
  EXPECT_GT(events.splits, 50);
  EXPECT_GT(events.merges, 50);
  EXPECT_GE(events.root_growths, 3);
  EXPECT_GE(events.absorptions, 2);
}

INSTANTIATE_TEST_SUITE_P(Seeds, BTreeRandomTest,
                         ::testing::Values(RandomCase{1, true, false}, RandomCase{2, true, true},
                                           RandomCase{3, false, false}, RandomCase{4, false, true}),
                         [](const ::testing::TestParamInfo<RandomCase>& info) {
                           return std::string(info.param.unique ? "Unique" : "Repeated") +
                                  (info.param.descending ? "Descending" : "Ascending") +
                                  std::to_string(info.param.seed);
                         });

// Bulk-loaded trees of every shape hold their entries in order and keep
// working under inserts and deletes.
TEST(BTreeBuilderTest, LoadsSortedEntriesIntoTheGivenRoot) {
  struct Case {
    int count;
    int32_t leaf_fill;
    bool descending;
  };
  const Case cases[] = {{0, 0, false}, {1, 0, false},  {10, 0, false},   {11, 0, false},
                        {200, 0, true}, {5000, 0, false}, {5000, 5, false}, {5000, 10, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.count << " fill " << c.leaf_fill);
    TreeFixture t(kSmallPage, 8, c.descending);
    std::vector<TEntry> want;
    for (int i = 0; i < c.count; ++i) want.push_back({c.descending ? -3 * i : 3 * i, static_cast<uint32_t>(i)});
    {
      TORBBTreeBuilder builder(&t.FPages, &t.FKeyRef, 0, t.FRootPageNo, c.leaf_fill);
      for (const TEntry& e : want) builder.Add(t.FKeyRef.Key(e.first).data(), t.FKeyRef.Ref(e.second).data());
      builder.Finish();
      if (c.leaf_fill == 0) {
        EXPECT_EQ(builder.LeafFill(), 9);
      }
    }
    t.Check();
    ASSERT_EQ(t.Forward(), want);
    EXPECT_EQ(t.Root().PageNo(), t.FRootPageNo);
    if (c.count > 10) {
      const int32_t fill = c.leaf_fill == 0 ? 9 : c.leaf_fill;
      EXPECT_LE(t.LeafCount(), (c.count + fill - 1) / fill + 1);
    }
    // Every leaf of a default load takes one more entry without a split.
    std::mt19937 rng(static_cast<uint32_t>(c.count));
    std::multiset<TEntry, ModelOrder> model(want.begin(), want.end(), ModelOrder{c.descending});
    for (int i = 0; i < 300; ++i) {
      const int64_t key = static_cast<int64_t>(rng() % 20000) - 5000;
      t.Insert(key, 1000000 + static_cast<uint32_t>(i));
      model.insert({key, 1000000 + static_cast<uint32_t>(i)});
      if (!model.empty() && rng() % 2 == 0) {
        auto it = model.begin();
        std::advance(it, static_cast<long>(rng() % model.size()));
        ASSERT_TRUE(t.Delete(it->first, it->second));
        model.erase(it);
      }
    }
    t.Check();
    ASSERT_EQ(t.Forward(), std::vector<TEntry>(model.begin(), model.end()));
  }
}

TEST(BTreeBuilderTest, RefusesEntriesOutOfOrderAndTreesThatAreNotEmpty) {
  TreeFixture t(kSmallPage);
  {
    TORBBTreeBuilder builder(&t.FPages, &t.FKeyRef, 0, t.FRootPageNo);
    builder.Add(t.FKeyRef.Key(5).data(), t.FKeyRef.Ref(1).data());
    builder.Add(t.FKeyRef.Key(5).data(), t.FKeyRef.Ref(2).data());
    EXPECT_EQ(test::RaisedCode([&] { builder.Add(t.FKeyRef.Key(5).data(), t.FKeyRef.Ref(2).data()); }),
              kErrBulkLoadOrder);
    EXPECT_EQ(test::RaisedCode([&] { builder.Add(t.FKeyRef.Key(4).data(), t.FKeyRef.Ref(9).data()); }),
              kErrBulkLoadOrder);
    builder.Finish();
  }
  EXPECT_EQ(t.Forward(), (std::vector<TEntry>{{5, 1}, {5, 2}}));
  EXPECT_EQ(test::RaisedCode([&] { TORBBTreeBuilder again(&t.FPages, &t.FKeyRef, 0, t.FRootPageNo); }),
            kErrBulkLoadNotEmpty);
}

}  // namespace
}  // namespace orb
