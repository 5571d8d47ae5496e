#include "engine/base/error_codes.h"
#include "engine/base/record_layout.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "engine/base/orb_exception.h"

namespace orb {

namespace {
}  // namespace

int32_t GetNullBitmapSize(int32_t field_count) { return field_count <= 0 ? 0 : (field_count + 7) / 8; }

bool CheckNullFlag(int32_t field_no, const uint8_t* record_buffer) {
  return (record_buffer[field_no / 8] >> (field_no % 8)) & 1;
}

void SetNullFlag(bool is_null, int32_t field_no, uint8_t* record_buffer) {
  const uint8_t bit = static_cast<uint8_t>(1u << (field_no % 8));
  if (is_null)
    record_buffer[field_no / 8] |= bit;
  else
    record_buffer[field_no / 8] &= static_cast<uint8_t>(~bit);
}

int32_t LayOutFields(std::span<const int32_t> sizes, std::span<int32_t> offsets) {
  if (sizes.empty()) return 0;
  int64_t offset = GetNullBitmapSize(static_cast<int32_t>(sizes.size()));
  for (size_t i = 0; i < sizes.size(); ++i) {
    if (i < offsets.size()) offsets[i] = static_cast<int32_t>(offset);
    offset += sizes[i];
    if (offset > std::numeric_limits<int32_t>::max())
      RaiseORB(kErrRecordTooLarge, "Record size exceeds %d bytes", {std::numeric_limits<int32_t>::max()});
  }
  return static_cast<int32_t>(offset);
}

TORBRecordLayout::TORBRecordLayout(std::span<const TORBFieldShape> fields) {
  if (fields.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    RaiseORB(kErrRecordTooLarge, "Record size exceeds %d bytes", {std::numeric_limits<int32_t>::max()});
  FFields.resize(fields.size());
  std::vector<int32_t> memory_sizes(fields.size()), disk_sizes(fields.size());
  std::vector<int32_t> memory_offsets(fields.size()), disk_offsets(fields.size());
  for (size_t i = 0; i < fields.size(); ++i) {
    memory_sizes[i] = GetDataSizeInMemory(fields[i].BaseFieldType, fields[i].FieldSize);
    disk_sizes[i] = GetDataSizeOnDisk(fields[i].BaseFieldType, fields[i].FieldSize);
  }
  FMemoryRecordSize = LayOutFields(memory_sizes, memory_offsets);
  FDiskRecordSize = LayOutFields(disk_sizes, disk_offsets);
  FNullBitmapSize = GetNullBitmapSize(static_cast<int32_t>(fields.size()));
  for (size_t i = 0; i < fields.size(); ++i)
    FFields[i] = {fields[i].AdvancedFieldType, fields[i].BaseFieldType, memory_sizes[i],
                  disk_sizes[i],               memory_offsets[i],       disk_offsets[i]};
}

void DiskRecordToMemRecord(const TORBRecordLayout& layout, const uint8_t* disk_record, uint8_t* mem_record) {
  std::memset(mem_record, 0, static_cast<size_t>(layout.MemoryRecordSize()));
  std::memcpy(mem_record, disk_record, static_cast<size_t>(layout.NullBitmapSize()));
  for (const TORBFieldLayout& f : layout.Fields())
    std::memcpy(mem_record + f.MemoryOffset, disk_record + f.DiskOffset, static_cast<size_t>(f.DiskDataSize));
}

void MemRecordToDiskRecord(const TORBRecordLayout& layout, const uint8_t* mem_record, uint8_t* disk_record) {
  std::memset(disk_record, 0, static_cast<size_t>(layout.DiskRecordSize()));
  std::memcpy(disk_record, mem_record, static_cast<size_t>(layout.NullBitmapSize()));
  for (const TORBFieldLayout& f : layout.Fields())
    std::memcpy(disk_record + f.DiskOffset, mem_record + f.MemoryOffset, static_cast<size_t>(f.DiskDataSize));
}

TORBRecordReadPlan::TORBRecordReadPlan(std::span<const TORBFieldLayout> fields, int32_t null_bitmap_size,
                                       int32_t memory_record_size) {
  // The copies by memory offset: the bitmap, then every field's disk bytes.
  std::vector<TRun> copies;
  if (null_bitmap_size > 0) copies.push_back({0, 0, null_bitmap_size});
  for (const TORBFieldLayout& f : fields)
    if (f.DiskDataSize > 0) copies.push_back({f.MemoryOffset, f.DiskOffset, f.DiskDataSize});
  std::vector<TRun> sorted = copies;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const TRun& a, const TRun& b) { return a.MemoryOffset < b.MemoryOffset; });
  bool overlap = false;
  for (size_t i = 0; i < sorted.size(); ++i) {
    const TRun& c = sorted[i];
    const int64_t end = int64_t{c.MemoryOffset} + c.Size;
    if (c.MemoryOffset < 0 || end > memory_record_size || c.DiskOffset < 0) overlap = true;
    if (i + 1 < sorted.size() && end > sorted[i + 1].MemoryOffset) overlap = true;
  }
  if (overlap) {
    // Zero everything, then copy in the given order.
    if (memory_record_size > 0) FRuns.push_back({0, -1, memory_record_size});
    FRuns.insert(FRuns.end(), copies.begin(), copies.end());
    return;
  }
  int32_t at = 0;
  for (const TRun& c : sorted) {
    if (c.MemoryOffset > at) FRuns.push_back({at, -1, c.MemoryOffset - at});
    TRun* last = FRuns.empty() ? nullptr : &FRuns.back();
    if (last != nullptr && last->DiskOffset >= 0 && last->MemoryOffset + last->Size == c.MemoryOffset &&
        last->DiskOffset + last->Size == c.DiskOffset)
      last->Size += c.Size;
    else
      FRuns.push_back(c);
    at = c.MemoryOffset + c.Size;
  }
  if (memory_record_size > at) FRuns.push_back({at, -1, memory_record_size - at});
}

void TORBRecordReadPlan::DiskToMem(const uint8_t* disk_record, uint8_t* mem_record) const {
  for (const TRun& run : FRuns) {
    if (run.DiskOffset < 0)
      std::memset(mem_record + run.MemoryOffset, 0, static_cast<size_t>(run.Size));
    else
      std::memcpy(mem_record + run.MemoryOffset, disk_record + run.DiskOffset, static_cast<size_t>(run.Size));
  }
}

bool SameStoredRecord(const TORBRecordLayout& layout, const uint8_t* mem_record1, const uint8_t* mem_record2) {
  if (std::memcmp(mem_record1, mem_record2, static_cast<size_t>(layout.NullBitmapSize())) != 0) return false;
  for (const TORBFieldLayout& f : layout.Fields())
    if (std::memcmp(mem_record1 + f.MemoryOffset, mem_record2 + f.MemoryOffset, static_cast<size_t>(f.DiskDataSize)) !=
        0)
      return false;
  return true;
}

bool CompareRecordBuffers(const void* buffer1, const void* buffer2, int32_t size) {
  if (buffer1 == nullptr) RaiseORB(10122, kMsgNilPointer);
  if (buffer2 == nullptr) RaiseORB(10123, kMsgNilPointer);
  if (size <= 0) return true;
  return std::memcmp(buffer1, buffer2, static_cast<size_t>(size)) == 0;
}

}  // namespace orb
