#include "engine/data/record_search_merge.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "tests/support/raised.h"

namespace orb::test {
namespace {

// Keys of up to two columns over a small domain; a key buffer holds one
// byte per column.
using Key = std::array<uint8_t, 2>;

struct Cond {
  TORBSearchCondition Op;
  Key K;
  int32_t Count;
};

constexpr TORBSearchCondition kOps[] = {scEqual, scLower, scGreater, scLowerEqual, scGreaterEqual};

int CompareKeys(const uint8_t* a, const uint8_t* b, int32_t count) {
  for (int32_t i = 0; i < count; ++i)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

bool Holds(TORBSearchCondition op, int order) {
  switch (op) {
    case scEqual: return order == 0;
    case scLower: return order < 0;
    case scGreater: return order > 0;
    case scLowerEqual: return order <= 0;
    case scGreaterEqual: return order >= 0;
    default: return false;
  }
}

bool Selects(const Cond& c, const Key& record) { return Holds(c.Op, CompareKeys(record.data(), c.K.data(), c.Count)); }

std::string Describe(const Cond& c) {
  return std::to_string(c.Op) + "(" + std::to_string(c.K[0]) + "," + std::to_string(c.K[1]) + ")/" +
         std::to_string(c.Count);
}

// Every condition over the domain: `values` per column, one or two
// columns compared.
std::vector<Cond> AllConditions(int values, int columns) {
  std::vector<Cond> out;
  for (TORBSearchCondition op : kOps)
    for (int x = 0; x < values; ++x)
      for (int y = 0; y < (columns == 2 ? values : 1); ++y)
        for (int32_t count = 1; count <= columns; ++count) {
          if (count == 1 && y != 0) continue;
          out.push_back({op, Key{static_cast<uint8_t>(x), static_cast<uint8_t>(y)}, count});
        }
  return out;
}

std::vector<Key> AllRecords(int values, int columns) {
  std::vector<Key> out;
  for (int x = 0; x < values; ++x)
    for (int y = 0; y < (columns == 2 ? values : 1); ++y) out.push_back(Key{static_cast<uint8_t>(x), static_cast<uint8_t>(y)});
  return out;
}

// For every pair of conditions: a merge selects exactly the records both
// select, and "empty" comes only when none does.
void CheckEveryPair(int values, int columns) {
  const std::vector<Cond> conditions = AllConditions(values, columns);
  const std::vector<Key> records = AllRecords(values, columns);
  int merged = 0;
  int empty = 0;
  for (const Cond& first : conditions) {
    for (const Cond& second : conditions) {
      if (!AreConditionsMergeable(first.Op, first.Count, second.Op, second.Count)) continue;
      const int order = CompareKeys(first.K.data(), second.K.data(), std::min(first.Count, second.Count));
      const TORBConditionMerge how = MergeConditions(first.Op, first.Count, second.Op, second.Count, order);
      if (how == TORBConditionMerge::kKeep) continue;
      Cond result = first;
      switch (how) {
        case TORBConditionMerge::kFirst: result = first; break;
        case TORBConditionMerge::kSecond: result = second; break;
        case TORBConditionMerge::kFewer: result = first.Count <= second.Count ? first : second; break;
        case TORBConditionMerge::kMore:
        case TORBConditionMerge::kMoreAsEqual:
          result = first.Count >= second.Count ? first : second;
          if (how == TORBConditionMerge::kMoreAsEqual) result.Op = scEqual;
          break;
        default: break;
      }
      for (const Key& r : records) {
        const bool both = Selects(first, r) && Selects(second, r);
        if (how == TORBConditionMerge::kEmpty) {
          ASSERT_FALSE(both) << Describe(first) << " & " << Describe(second) << " called empty";
        } else {
          ASSERT_EQ(Selects(result, r), both) << Describe(first) << " & " << Describe(second) << " at ("
                                              << int(r[0]) << "," << int(r[1]) << ")";
        }
      }
      (how == TORBConditionMerge::kEmpty ? empty : merged)++;
    }
  }
  // The table does decide most pairs.
  EXPECT_GT(merged, 0);
  EXPECT_GT(empty, 0);
}

TEST(ConditionMergeTest, OneColumnMergesSelectExactlyTheIntersection) { CheckEveryPair(10, 1); }

TEST(ConditionMergeTest, TwoColumnMergesSelectExactlyTheIntersection) { CheckEveryPair(4, 2); }

TEST(ConditionMergeTest, EqualityWithFewerColumnsThanAStrictBoundIsNotMerged) {
  EXPECT_FALSE(AreConditionsMergeable(scEqual, 1, scLower, 2));
  EXPECT_FALSE(AreConditionsMergeable(scGreater, 2, scEqual, 1));
  EXPECT_TRUE(AreConditionsMergeable(scEqual, 2, scGreater, 1));
  EXPECT_TRUE(AreConditionsMergeable(scEqual, 1, scLowerEqual, 2));
}

// The optimizer over random sets of conditions on one index: what is left
// selects exactly what all of them select together, and a contradiction is
// reported only for an empty intersection.
TEST(ConditionMergeTest, OptimizedConditionsSelectWhatAllInputsSelect) {
  std::mt19937 random(20261210);
  const std::vector<Cond> pool = AllConditions(4, 2);
  const std::vector<Key> records = AllRecords(4, 2);
  auto index_info = [](int32_t) {
    TORBConditionIndexInfo info;
    info.ColumnCount = 2;
    info.CompareKeys = CompareKeys;
    return info;
  };
  int contradictions = 0;
  for (int round = 0; round < 4000; ++round) {
    const int n = 2 + static_cast<int>(random() % 3);
    std::vector<Cond> inputs;
    TORBScanSearchConditionArray array;
    for (int i = 0; i < n; ++i) {
      const Cond& c = pool[random() % pool.size()];
      inputs.push_back(c);
      TORBScanSearchCondition sc;
      std::copy(c.K.begin(), c.K.end(), sc.AllocateKey(2));
      sc.Condition = c.Op;
      sc.KeyFieldCount = c.Count;
      sc.IndexID = 7;
      array.AddCondition(sc);
    }
    const bool compatible = OptimizeSearchConditions(array, index_info);
    ASSERT_LE(array.Count(), n);
    for (const Key& r : records) {
      bool all = true;
      for (const Cond& c : inputs) all = all && Selects(c, r);
      if (!compatible) {
        ASSERT_FALSE(all) << "round " << round;
        continue;
      }
      bool kept = true;
      for (int32_t i = 0; i < array.Count(); ++i) {
        const TORBScanSearchCondition& c = array.Item(i);
        kept = kept && Selects(Cond{c.Condition, Key{c.KeyRecordBuffer[0], c.KeyRecordBuffer[1]}, c.KeyFieldCount}, r);
      }
      ASSERT_EQ(kept, all) << "round " << round;
    }
    if (!compatible) {
      ++contradictions;
      EXPECT_EQ(array.Count(), n) << "a contradiction leaves the conditions as they were";
    }
  }
  EXPECT_GT(contradictions, 0);
}

TEST(ConditionMergeTest, RangeAndDuplicatesCollapseAndPrefixKeysStayApart) {
  auto index_info = [](int32_t) {
    TORBConditionIndexInfo info;
    info.ColumnCount = 1;
    info.CompareKeys = CompareKeys;
    return info;
  };
  auto add = [](TORBScanSearchConditionArray& array, TORBSearchCondition op, uint8_t key, bool partial = false) {
    TORBScanSearchCondition c;
    *c.AllocateKey(1) = key;
    c.Condition = op;
    c.KeyFieldCount = 1;
    c.IndexID = 3;
    c.PartialCompare = partial;
    array.AddCondition(c);
  };
  {
    // x >= 5 and x <= 5 is x = 5; the expression stays behind the index
    // conditions.
    TORBScanSearchConditionArray array;
    array.AddExpression(reinterpret_cast<TORBExpression*>(&array));
    add(array, scGreaterEqual, 5);
    add(array, scLowerEqual, 5);
    add(array, scGreaterEqual, 5);
    ASSERT_TRUE(OptimizeSearchConditions(array, index_info));
    ASSERT_EQ(array.Count(), 2);
    EXPECT_EQ(array.Item(0).Condition, scEqual);
    EXPECT_EQ(array.Item(0).KeyRecordBuffer[0], 5);
    EXPECT_TRUE(array.Item(1).IsExpressionCondition());
  }
  {
    // Prefixes are not ordered like their keys: "ab" and "abc" overlap.
    TORBScanSearchConditionArray array;
    add(array, scEqual, 1, true);
    add(array, scEqual, 2, true);
    ASSERT_TRUE(OptimizeSearchConditions(array, index_info));
    EXPECT_EQ(array.Count(), 2);
  }
}

TEST(ScanConditionArrayTest, ChecksItemsAndCopiesKeys) {
  TORBScanSearchConditionArray array;
  TORBScanSearchCondition none;
  EXPECT_EQ(RaisedCode([&] { array.AddCondition(none); }), kErrScanConditionInvalid);
  uint8_t key[4] = {1, 2, 3, 4};
  TORBScanSearchCondition borrowed(true);
  borrowed.SetExternalKey(key, 4);
  borrowed.IndexID = 1;
  array.AddCondition(borrowed);
  key[0] = 9;
  // The array holds its own copy, never the caller's buffer.
  EXPECT_FALSE(array.Item(0).FExternalKeyRecordBuffer);
  EXPECT_EQ(array.Item(0).KeyRecordBuffer[0], 1);
  EXPECT_EQ(RaisedCode([&] { array.Delete(1); }), kErrScanConditionItemNo);
  array.Delete(0);
  EXPECT_EQ(array.Count(), 0);
}

}  // namespace
}  // namespace orb::test
