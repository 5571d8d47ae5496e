#include "engine/memory/memory_record_manager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/support/raised.h"

namespace orb {
namespace {

constexpr int32_t kSize = 8;

std::vector<uint8_t> Record(int32_t value) {
  std::vector<uint8_t> r(kSize, 0);
  std::memcpy(r.data(), &value, sizeof value);
  return r;
}

int32_t Add(TORBMemoryRecordManager& records, int32_t value) {
  TORBPageItemID id{};
  EXPECT_TRUE(records.AddRecord(0, Record(value).data(), id));
  return id.PageNo;
}

bool Delete(TORBMemoryRecordManager& records, int32_t slot) { return records.DeleteRecord(0, {slot, 0}); }

TORBGetRecordResult Read(TORBMemoryRecordManager& records, TORBGetRecordMode mode, TORBNavigationInfo& info,
                         std::vector<uint8_t>& buffer) {
  buffer.assign(kSize, 0);
  info.GetRecordMode = mode;
  info.RecordBuffer = buffer.data();
  records.GetRecordBuffer(0, info);
  return info.GetRecordResult;
}

TEST(MemoryRecordManager, SlotsAreGivenAndReused) {
  TORBMemoryRecordManager records(kSize, 1000);
  EXPECT_EQ(Add(records, 10), 0);
  EXPECT_EQ(Add(records, 11), 1);
  EXPECT_EQ(Add(records, 12), 2);
  ASSERT_TRUE(Delete(records, 2));
  EXPECT_EQ(Add(records, 13), 2);
  // A hole below the highest live slot is reused too.
  ASSERT_TRUE(Delete(records, 1));
  EXPECT_EQ(Add(records, 14), 1);
  EXPECT_EQ(records.FRecordCount, 3);
  // Deleting everything restarts the numbering.
  for (int32_t slot : {0, 1, 2}) ASSERT_TRUE(Delete(records, slot));
  EXPECT_EQ(records.FRecordCount, 0);
  EXPECT_EQ(Add(records, 15), 0);
  // Gone or never used slots are refused.
  EXPECT_FALSE(Delete(records, 1));
  EXPECT_FALSE(Delete(records, 5000));
  EXPECT_FALSE(records.UpdateRecord(0, Record(1).data(), {1, 0}));
  EXPECT_TRUE(records.UpdateRecord(0, Record(1).data(), {0, 0}));
}

TEST(MemoryRecordManager, ChurnDoesNotGrowMemory) {
  TORBMemoryRecordManager records(kSize, 16);
  std::vector<int32_t> live;
  for (int i = 0; i < 100; ++i) live.push_back(Add(records, i));
  const int64_t allocated = records.AllocatedRecordCount();
  for (int round = 0; round < 10000; ++round) {
    const size_t victim = static_cast<size_t>(round * 7919) % live.size();
    ASSERT_TRUE(Delete(records, live[victim]));
    live[victim] = Add(records, round);
  }
  EXPECT_EQ(records.FRecordCount, 100);
  EXPECT_EQ(records.AllocatedRecordCount(), allocated);
  EXPECT_LT(records.LastRecordID(), 100);
}

TEST(MemoryRecordManager, GrowthIsGeometric) {
  TORBMemoryRecordManager records(kSize, 10);
  int growths = 0;
  int64_t allocated = 0;
  for (int i = 0; i < 100000; ++i) {
    Add(records, i);
    if (records.AllocatedRecordCount() != allocated) ++growths;
    allocated = records.AllocatedRecordCount();
  }
  EXPECT_LT(growths, 20);
}

TEST(MemoryRecordManager, PositionsMapToLiveSlots) {
  TORBMemoryRecordManager records(kSize, 1000);
  for (int i = 0; i < 5; ++i) Add(records, i);
  // Identity until the first delete; the record count itself is out of
  // range.
  EXPECT_EQ(records.FindRecord(0), 0);
  EXPECT_EQ(records.FindRecord(4), 4);
  EXPECT_EQ(records.FindRecord(5), -1);
  EXPECT_EQ(records.FindRecord(-1), -1);
  ASSERT_TRUE(Delete(records, 1));
  const int64_t expected[] = {0, 2, 3, 4};
  for (int64_t position = 0; position < 4; ++position) {
    EXPECT_EQ(records.FindRecord(position), expected[position]);
    EXPECT_EQ(records.GetTablePositionByRecordID(expected[position]), position + 1);
  }
  EXPECT_EQ(records.FindRecord(4), -1);
  EXPECT_EQ(records.GetTablePositionByRecordID(1), -1);
  EXPECT_EQ(records.GetTablePositionByRecordID(3), 3);
}

TEST(MemoryRecordManager, PositionsAcrossAFlagByte) {
  TORBMemoryRecordManager records(kSize, 1000);
  for (int i = 0; i < 16; ++i) Add(records, i);
  ASSERT_TRUE(Delete(records, 8));
  EXPECT_EQ(records.FindRecord(8), 9);
  EXPECT_EQ(records.GetTablePositionByRecordID(9), 9);
  EXPECT_EQ(records.FindRecord(14), 15);
}

TEST(MemoryRecordManager, Navigation) {
  TORBMemoryRecordManager records(kSize, 1000);
  TORBNavigationInfo info;
  std::vector<uint8_t> buffer;
  info.FirstPosition = true;
  EXPECT_EQ(Read(records, grmNext, info, buffer), grrEOF);
  for (int i = 0; i < 4; ++i) Add(records, 100 + i);
  ASSERT_TRUE(Delete(records, 1));

  info = {};
  info.FirstPosition = true;
  EXPECT_EQ(Read(records, grmPrior, info, buffer), grrBOF);
  EXPECT_EQ(Read(records, grmCurrent, info, buffer), grrError);
  std::vector<int32_t> slots;
  while (Read(records, grmNext, info, buffer) == grrOK) slots.push_back(info.RecordID.PageNo);
  EXPECT_EQ(slots, (std::vector<int32_t>{0, 2, 3}));

  info = {};
  info.LastPosition = true;
  slots.clear();
  while (Read(records, grmPrior, info, buffer) == grrOK) slots.push_back(info.RecordID.PageNo);
  EXPECT_EQ(slots, (std::vector<int32_t>{3, 2, 0}));

  info = {};
  info.RecordID = {1, 0};
  EXPECT_EQ(Read(records, grmCurrent, info, buffer), grrError);
  info.RecordID = {2, 0};
  ASSERT_EQ(Read(records, grmCurrent, info, buffer), grrOK);
  int32_t value = 0;
  std::memcpy(&value, buffer.data(), sizeof value);
  EXPECT_EQ(value, 102);
  info.RecordID = {3, 0};
  EXPECT_EQ(Read(records, grmNext, info, buffer), grrEOF);
}

TEST(MemoryRecordManager, RecordSizeZero) {
  EXPECT_EQ(test::RaisedCode([] { TORBMemoryRecordManager records(0, 1000); }), 10011);
  EXPECT_EQ(test::RaisedCode([] { TORBMemoryRecordManager records(0, 1000, true); }), 0);
}

}  // namespace
}  // namespace orb
