#pragma once

// Record buffers. A record of N fields is a null bitmap of ceil(N/8) bytes
// (bit i%8 of byte i/8 set = field i is null) followed by the fields' data
// back to back in field order, without padding. The memory and disk forms
// differ only in BLOB fields: a 14-byte slot in memory (6-byte page item id
// of the stored value, then an 8-byte cache reference) and the 6-byte page
// item id on disk.

#include <cstdint>
#include <span>
#include <vector>

#include "engine/base/field_types.h"

namespace orb {

int32_t GetNullBitmapSize(int32_t field_count);

// Null flag of field `field_no` (true = null).
bool CheckNullFlag(int32_t field_no, const uint8_t* record_buffer);
void SetNullFlag(bool is_null, int32_t field_no, uint8_t* record_buffer);

// What the layout of a field is computed from.
struct TORBFieldShape {
  TORBAdvancedFieldType AdvancedFieldType = aftUnknown;
  TORBBaseFieldType BaseFieldType = bftUnknown;
  int32_t FieldSize = 0;
};

// Where a field lies in the two record forms.
struct TORBFieldLayout {
  TORBAdvancedFieldType AdvancedFieldType = aftUnknown;
  TORBBaseFieldType BaseFieldType = bftUnknown;
  int32_t MemoryDataSize = 0;
  int32_t DiskDataSize = 0;
  int32_t MemoryOffset = 0;
  int32_t DiskOffset = 0;
};

// Layout of a table's records. Raises 30050 for a field type that cannot
// be stored, 30053 for a field size that cannot be laid out and 30056 for a
// record of 2 GiB or more.
class TORBRecordLayout {
 public:
  TORBRecordLayout() = default;
  explicit TORBRecordLayout(std::span<const TORBFieldShape> fields);

  int32_t FieldCount() const { return static_cast<int32_t>(FFields.size()); }
  const TORBFieldLayout& Field(int32_t field_no) const { return FFields[static_cast<size_t>(field_no)]; }
  std::span<const TORBFieldLayout> Fields() const { return FFields; }
  int32_t NullBitmapSize() const { return FNullBitmapSize; }
  // 0 for a table without fields.
  int32_t MemoryRecordSize() const { return FMemoryRecordSize; }
  int32_t DiskRecordSize() const { return FDiskRecordSize; }

 private:
  std::vector<TORBFieldLayout> FFields;
  int32_t FNullBitmapSize = 0;
  int32_t FMemoryRecordSize = 0;
  int32_t FDiskRecordSize = 0;
};

// Offsets of fields laid out back to back after the bitmap: `sizes` in,
// `offsets` out (same length); returns the record size. Raises 30056 when
// the record would reach 2 GiB.
int32_t LayOutFields(std::span<const int32_t> sizes, std::span<int32_t> offsets);

// Record form conversions. The destination is zero-filled first; BLOB
// slots keep only their page item id (a disk-to-memory conversion leaves
// the cache reference zero).
void DiskRecordToMemRecord(const TORBRecordLayout& layout, const uint8_t* disk_record, uint8_t* mem_record);
void MemRecordToDiskRecord(const TORBRecordLayout& layout, const uint8_t* mem_record, uint8_t* disk_record);

// DiskRecordToMemRecord for one table prepared once, for rows read in
// bulk: the copies of fields that lie back to back in both forms merge into
// one, and only the memory bytes no field fills (BLOB cache references)
// are zeroed. Fields given in any order; overlapping fields are converted
// one by one in their order, as DiskRecordToMemRecord does.
class TORBRecordReadPlan {
 public:
  TORBRecordReadPlan() = default;
  TORBRecordReadPlan(std::span<const TORBFieldLayout> fields, int32_t null_bitmap_size, int32_t memory_record_size);

  // The memory form of `disk_record`, every byte of the memory record set.
  void DiskToMem(const uint8_t* disk_record, uint8_t* mem_record) const;

 private:
  struct TRun {
    int32_t MemoryOffset;
    int32_t DiskOffset;  // -1: zero the bytes
    int32_t Size;
  };
  std::vector<TRun> FRuns;
};

// True when two memory-form records hold the same stored data: equal null
// bitmaps and, per field, equal bytes over the field's disk size (so a BLOB
// compares its page item id, never its cache reference).
bool SameStoredRecord(const TORBRecordLayout& layout, const uint8_t* mem_record1, const uint8_t* mem_record2);

// True when the first `size` bytes are equal. Raises 10122 (first) or
// 10123 (second) for a missing buffer.
bool CompareRecordBuffers(const void* buffer1, const void* buffer2, int32_t size);

}  // namespace orb
