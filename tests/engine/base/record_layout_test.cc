#include "engine/base/record_layout.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "engine/base/orb_exception.h"
#include "tests/support/raised.h"
#include "engine/base/field_data.h"

namespace orb {
namespace {

TORBFieldShape Shape(TORBAdvancedFieldType aft, int32_t size = 0) {
  return {aft, AdvancedFieldTypeToBaseFieldType(aft), size};
}

using test::RaisedCode;

TEST(RecordLayoutTest, BitmapSizes) {
  struct Row {
    int32_t fields, bitmap;
  };
  for (Row r : {Row{0, 0}, Row{1, 1}, Row{8, 1}, Row{9, 2}, Row{16, 2}, Row{17, 3}})
    EXPECT_EQ(r.bitmap, GetNullBitmapSize(r.fields)) << r.fields;
  EXPECT_EQ(0, TORBRecordLayout{}.MemoryRecordSize());
  std::vector<TORBFieldShape> nine(9, Shape(aftShortint));
  TORBRecordLayout layout(nine);
  EXPECT_EQ(2, layout.NullBitmapSize());
  EXPECT_EQ(2 + 9, layout.MemoryRecordSize());
  EXPECT_EQ(2, layout.Field(0).MemoryOffset);
  EXPECT_EQ(10, layout.Field(8).MemoryOffset);
}

// The application's row: a number, a formatted memo and three keywords.
TEST(RecordLayoutTest, ApplicationRow) {
  const TORBFieldShape shapes[] = {
      Shape(FieldTypeToORBAdvFieldType(ftInteger)),  Shape(FieldTypeToORBAdvFieldType(ftFmtMemo)),
      Shape(FieldTypeToORBAdvFieldType(ftString), 20), Shape(FieldTypeToORBAdvFieldType(ftString), 20),
      Shape(FieldTypeToORBAdvFieldType(ftString), 20),
  };
  TORBRecordLayout layout(shapes);
  struct Row {
    int32_t memory_size, disk_size, memory_offset, disk_offset;
  };
  const Row expected[] = {{4, 4, 1, 1}, {14, 6, 5, 5}, {21, 21, 19, 11}, {21, 21, 40, 32}, {21, 21, 61, 53}};
  ASSERT_EQ(5, layout.FieldCount());
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(expected[i].memory_size, layout.Field(i).MemoryDataSize) << i;
    EXPECT_EQ(expected[i].disk_size, layout.Field(i).DiskDataSize) << i;
    EXPECT_EQ(expected[i].memory_offset, layout.Field(i).MemoryOffset) << i;
    EXPECT_EQ(expected[i].disk_offset, layout.Field(i).DiskOffset) << i;
  }
  EXPECT_EQ(aftFormattedMemo, layout.Field(1).AdvancedFieldType);
  EXPECT_EQ(1, layout.NullBitmapSize());
  EXPECT_EQ(82, layout.MemoryRecordSize());
  EXPECT_EQ(74, layout.DiskRecordSize());
}

TEST(RecordLayoutTest, OffsetsAfterSeveralBlobs) {
  const TORBFieldShape shapes[] = {Shape(aftMemo), Shape(aftBlob), Shape(aftWideMemo), Shape(aftWideString, 20),
                                   Shape(aftDateTime)};
  TORBRecordLayout layout(shapes);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(8 * std::min(i, 3), layout.Field(i).MemoryOffset - layout.Field(i).DiskOffset);
  EXPECT_EQ(42, layout.Field(3).MemoryDataSize);
  EXPECT_EQ(1 + 3 * 14 + 42 + 8, layout.MemoryRecordSize());
  EXPECT_EQ(1 + 3 * 6 + 42 + 8, layout.DiskRecordSize());
}

TEST(RecordLayoutTest, RefusesUnstorableAndOversizedRecords) {
  EXPECT_EQ(30050, RaisedCode([] {
              const TORBFieldShape s[] = {{aftUnknown, bftBFile, 0}};
              TORBRecordLayout layout(s);
            }));
  EXPECT_EQ(30056, RaisedCode([] {
              const TORBFieldShape s[] = {Shape(aftString, 2000000000), Shape(aftString, 2000000000)};
              TORBRecordLayout layout(s);
            }));
}

TEST(RecordLayoutTest, NullFlags) {
  uint8_t record[3] = {0, 0, 0};
  SetNullFlag(true, 0, record);
  SetNullFlag(true, 9, record);
  SetNullFlag(true, 23, record);
  EXPECT_EQ(0x01, record[0]);
  EXPECT_EQ(0x02, record[1]);
  EXPECT_EQ(0x80, record[2]);
  EXPECT_TRUE(CheckNullFlag(9, record));
  EXPECT_FALSE(CheckNullFlag(8, record));
  SetNullFlag(false, 9, record);
  EXPECT_EQ(0x00, record[1]);
  EXPECT_TRUE(CheckNullFlag(23, record));
}

// A memo between two other fields: its page item id survives a round trip,
// its cache reference never reaches the disk form.
TEST(RecordLayoutTest, MemoryDiskRoundTrip) {
  const TORBFieldShape shapes[] = {Shape(aftInteger), Shape(aftMemo), Shape(aftString, 5)};
  TORBRecordLayout layout(shapes);
  std::vector<uint8_t> mem(layout.MemoryRecordSize(), 0);
  mem[0] = 0x04;  // third field null
  const int32_t n = -7;
  SetFieldData(0, layout, &n, mem.data());
  uint8_t* slot = mem.data() + layout.Field(1).MemoryOffset;
  const uint8_t id[6] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};
  std::memcpy(slot, id, 6);
  std::memset(slot + 6, 0xAB, 8);
  SetNullFlag(false, 1, mem.data());

  std::vector<uint8_t> disk(layout.DiskRecordSize(), 0xEE);
  MemRecordToDiskRecord(layout, mem.data(), disk.data());
  const uint8_t expected_disk[] = {0x04, 0xF9, 0xFF, 0xFF, 0xFF, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(sizeof expected_disk, disk.size());
  EXPECT_EQ(0, std::memcmp(expected_disk, disk.data(), disk.size()));

  std::vector<uint8_t> back(layout.MemoryRecordSize(), 0xEE);
  DiskRecordToMemRecord(layout, disk.data(), back.data());
  EXPECT_EQ(0, std::memcmp(back.data() + layout.Field(1).MemoryOffset, id, 6));
  for (int i = 6; i < 14; ++i) EXPECT_EQ(0, back[layout.Field(1).MemoryOffset + i]);
  EXPECT_TRUE(SameStoredRecord(layout, mem.data(), back.data()));
  EXPECT_FALSE(CompareRecordBuffers(mem.data(), back.data(), layout.MemoryRecordSize()));

  back[layout.Field(1).MemoryOffset + 5] ^= 1;
  EXPECT_FALSE(SameStoredRecord(layout, mem.data(), back.data()));
  back[layout.Field(1).MemoryOffset + 5] ^= 1;
  back[0] ^= 0x04;
  EXPECT_FALSE(SameStoredRecord(layout, mem.data(), back.data()));
}

TEST(RecordLayoutTest, ReadPlanSetsTheBytesDiskRecordToMemRecordSets) {
  // Each layout's plan converts patterned disk bytes into a memory record
  // filled with garbage first: every byte comes out as DiskRecordToMemRecord
  // sets it. The hand-made layouts list fields out of order, and
  // overlapping.
  auto shaped = [](std::vector<TORBFieldShape> shapes) {
    const TORBRecordLayout layout(shapes);
    return std::vector<TORBFieldLayout>(layout.Fields().begin(), layout.Fields().end());
  };
  auto field = [](int32_t memory_offset, int32_t memory_size, int32_t disk_offset, int32_t disk_size) {
    return TORBFieldLayout{aftBytes, bftBytes, memory_size, disk_size, memory_offset, disk_offset};
  };
  const std::vector<std::vector<TORBFieldLayout>> cases = {
      shaped({Shape(aftInteger)}),
      shaped({Shape(aftInteger), Shape(aftString, 100), Shape(aftMemo)}),
      shaped({Shape(aftMemo), Shape(aftInteger), Shape(aftBlob), Shape(aftBlob), Shape(aftString, 3)}),
      shaped(std::vector<TORBFieldShape>(17, Shape(aftShortint))),
      {field(9, 4, 5, 4), field(1, 8, 1, 4)},
      {field(1, 6, 1, 6), field(4, 6, 3, 6)},
  };
  for (size_t c = 0; c < cases.size(); ++c) {
    const std::vector<TORBFieldLayout>& fields = cases[c];
    const int32_t bitmap = GetNullBitmapSize(static_cast<int32_t>(fields.size()));
    int32_t memory_size = bitmap, disk_size = bitmap;
    for (const TORBFieldLayout& f : fields) {
      memory_size = std::max(memory_size, f.MemoryOffset + f.MemoryDataSize);
      disk_size = std::max(disk_size, f.DiskOffset + f.DiskDataSize);
    }
    std::vector<uint8_t> disk(static_cast<size_t>(disk_size));
    for (size_t i = 0; i < disk.size(); ++i) disk[i] = static_cast<uint8_t>(i * 7 + 1);
    // What DiskRecordToMemRecord does: zero, the bitmap, then each field.
    std::vector<uint8_t> expected(static_cast<size_t>(memory_size), 0);
    std::memcpy(expected.data(), disk.data(), static_cast<size_t>(bitmap));
    for (const TORBFieldLayout& f : fields)
      std::memcpy(expected.data() + f.MemoryOffset, disk.data() + f.DiskOffset, static_cast<size_t>(f.DiskDataSize));
    std::vector<uint8_t> mem(expected.size(), 0xAB);
    TORBRecordReadPlan(fields, bitmap, memory_size).DiskToMem(disk.data(), mem.data());
    EXPECT_EQ(mem, expected) << "case " << c;
  }
}

TEST(RecordLayoutTest, CompareRecordBuffersNeedsBothBuffers) {
  uint8_t a[4] = {1, 2, 3, 4}, b[4] = {1, 2, 3, 5};
  EXPECT_TRUE(CompareRecordBuffers(a, b, 3));
  EXPECT_FALSE(CompareRecordBuffers(a, b, 4));
  EXPECT_EQ(10122, RaisedCode([&] { CompareRecordBuffers(nullptr, b, 4); }));
  EXPECT_EQ(10123, RaisedCode([&] { CompareRecordBuffers(a, nullptr, 4); }));
}

}  // namespace
}  // namespace orb
