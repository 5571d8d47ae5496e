#include "engine/memory/temporary_record_manager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/memory/temporary_page_manager.h"
#include "tests/engine/memory/memory_fixture.h"
#include "tests/support/raised.h"

namespace orb {
namespace {

constexpr int32_t kSize = 16;

std::vector<uint8_t> Record(int64_t value) {
  std::vector<uint8_t> r(kSize, 0xAB);
  std::memcpy(r.data(), &value, sizeof value);
  return r;
}

int64_t ValueOf(const std::vector<uint8_t>& r) {
  int64_t v = 0;
  std::memcpy(&v, r.data(), sizeof v);
  return v;
}

int64_t Add(TORBTemporaryRecordManager& records, int64_t value) {
  TORBPageItemID id{};
  EXPECT_TRUE(records.AddRecord(0, Record(value).data(), id));
  return TORBTemporaryRecordManager::IndexOf(id);
}

int64_t ReadValue(TORBTemporaryRecordManager& records, int64_t index) {
  std::vector<uint8_t> buffer(kSize);
  records.ReadRecord(buffer.data(), index);
  return ValueOf(buffer);
}

// A cache of N records: record N is the first spilled one, N + 1 the next;
// each reads back at once and after more inserts.
TEST(TemporaryRecordManager, SpillBoundary) {
  constexpr int64_t kBudget = 5;
  TORBTemporaryRecordManager records(kSize, 10, 2, false, kBudget);
  for (int64_t i = 0; i < kBudget; ++i) {
    EXPECT_EQ(Add(records, i * 3), i);
    EXPECT_EQ(ReadValue(records, i), i * 3);
  }
  EXPECT_FALSE(records.HasSpillFile());
  EXPECT_EQ(Add(records, 1000), kBudget);
  EXPECT_TRUE(records.HasSpillFile());
  EXPECT_EQ(ReadValue(records, kBudget), 1000);
  EXPECT_EQ(Add(records, 1001), kBudget + 1);
  EXPECT_EQ(ReadValue(records, kBudget + 1), 1001);
  EXPECT_EQ(records.CachedRecordCount(), kBudget);
  for (int64_t i = 0; i < 20000; ++i) Add(records, 5000 + i);
  EXPECT_EQ(ReadValue(records, kBudget), 1000);
  EXPECT_EQ(ReadValue(records, kBudget + 1), 1001);
  EXPECT_EQ(ReadValue(records, 2), 6);
  EXPECT_EQ(ReadValue(records, records.FRecordCount - 1), 5000 + 19999);
  // Spilled records are written in blocks, not one write per record.
  EXPECT_LT(records.SpillWriteCount(), 20);
  // In order, then backwards.
  TORBNavigationInfo info;
  std::vector<uint8_t> buffer(kSize);
  info.RecordBuffer = buffer.data();
  info.FirstPosition = true;
  info.GetRecordMode = grmNext;
  int64_t count = 0;
  for (records.GetRecordBuffer(0, info); info.GetRecordResult == grrOK; records.GetRecordBuffer(0, info)) {
    EXPECT_EQ(TORBTemporaryRecordManager::IndexOf(info.RecordID), count);
    ++count;
  }
  EXPECT_EQ(count, records.FRecordCount);
  info = {};
  info.RecordBuffer = buffer.data();
  info.LastPosition = true;
  info.GetRecordMode = grmPrior;
  int64_t expected = records.FRecordCount - 1;
  for (records.GetRecordBuffer(0, info); info.GetRecordResult == grrOK; records.GetRecordBuffer(0, info)) {
    ASSERT_EQ(TORBTemporaryRecordManager::IndexOf(info.RecordID), expected);
    ASSERT_EQ(ValueOf(buffer), expected < kBudget ? expected * 3
                                                  : (expected == kBudget ? 1000 : (expected == kBudget + 1 ? 1001 : 5000 + expected - kBudget - 2)));
    --expected;
  }
  EXPECT_EQ(expected, -1);
}

TEST(TemporaryRecordManager, UpdateAndDeleteAreRefused) {
  TORBTemporaryRecordManager records(kSize, 10, 1000, false, 100);
  Add(records, 7);
  EXPECT_FALSE(records.UpdateRecord(0, Record(8).data(), {0, 0}));
  EXPECT_FALSE(records.DeleteRecord(0, {0, 0}));
  EXPECT_EQ(ReadValue(records, 0), 7);
  EXPECT_EQ(records.FRecordCount, 1);
}

TEST(TemporaryRecordManager, DisabledTempFilesKeepEverythingInMemory) {
  TORBTemporaryRecordManager records(kSize, 10, 3, true, 2);
  for (int64_t i = 0; i < 50; ++i) Add(records, i);
  EXPECT_FALSE(records.HasSpillFile());
  EXPECT_EQ(ReadValue(records, 49), 49);
}

TEST(TemporaryRecordManager, EmptyClosesTheSpillFile) {
  TORBTemporaryRecordManager records(kSize, 10, 3, false, 2);
  for (int64_t i = 0; i < 10; ++i) Add(records, i);
  EXPECT_TRUE(records.HasSpillFile());
  records.Empty(0);
  EXPECT_FALSE(records.HasSpillFile());
  EXPECT_EQ(records.FRecordCount, 0);
  for (int64_t i = 0; i < 5; ++i) EXPECT_EQ(Add(records, 100 + i), i);
  EXPECT_EQ(ReadValue(records, 4), 104);
}

TEST(TemporaryRecordManager, IDsAre48Bit) {
  const int64_t index = (int64_t{1} << 40) + 12345;
  EXPECT_EQ(TORBTemporaryRecordManager::IndexOf(TORBTemporaryRecordManager::IDOf(index)), index);
  const int64_t high = (int64_t{1} << 32) + 1;
  EXPECT_EQ(TORBTemporaryRecordManager::IDOf(high).PageItemNo, 1);
  EXPECT_EQ(TORBTemporaryRecordManager::IDOf(high).PageNo, 1);
}

// Budgets come from the free-memory figure, 64-bit and clamped.
TEST(TemporaryRecordManager, BudgetFromFreeMemory) {
  {
    test::FreeMemoryOverride memory(int64_t{10} * kSize * 1000);
    TORBTemporaryRecordManager records(kSize, 10, 1000, false);
    EXPECT_EQ(records.MaxCachedRecordCount(), 1000);
  }
  {
    // A large machine: no negative or truncated budget.
    test::FreeMemoryOverride memory(int64_t{1} << 45);
    TORBTemporaryRecordManager records(kSize, 10, 1000, false);
    EXPECT_EQ(records.MaxCachedRecordCount(), (int64_t{1} << 45) / 10 / kSize);
    TORBTemporaryPageManager pages(false);
    EXPECT_GT(pages.MaxMemoryPageCount(), 0);
  }
  {
    test::FreeMemoryOverride memory(-5);
    TORBTemporaryRecordManager records(kSize, 10, 1000, false);
    EXPECT_EQ(records.MaxCachedRecordCount(), 0);
    EXPECT_EQ(Add(records, 42), 0);
    EXPECT_EQ(ReadValue(records, 0), 42);
  }
  EXPECT_EQ(test::RaisedCode([] { TORBTemporaryRecordManager records(0, 10, 1000, false, 1); }), 10124);
}

}  // namespace
}  // namespace orb
