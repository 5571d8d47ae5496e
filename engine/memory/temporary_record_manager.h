#pragma once

// The append-only record store of a temporary table: records in memory up
// to a budget, then in a temporary file.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/base/stream_file.h"
#include "engine/data/record_manager.h"

namespace orb {

inline constexpr int32_t kErrTemporaryRecordSizeZero = 10124;
inline constexpr int32_t kErrTemporarySpillWrite = 10125;
inline constexpr int32_t kErrTemporaryRetrieveRecord = 10127;
inline constexpr int32_t kErrTemporarySpillSeek = 10129;
inline constexpr int32_t kErrTemporarySpillRead = 10130;

// Records are numbered 0, 1, 2, ... in insertion order; a record ID holds
// that index as a 48-bit integer (PageNo the low 32 bits, PageItemNo the
// next 16). Records below FMaxCachedRecordCount live in memory at slot =
// index (the cache grows geometrically up to that count); the others live
// in the spill file, a delete-on-close temporary file, at byte offset
// (index - FMaxCachedRecordCount) x record size, memory-form bytes with no
// header. Spilled records are gathered in a write block and written a block
// at a time; reads in order are served from a read block of the same size,
// so a scan makes one system call per block, not per record. Records are
// never updated or deleted.
class TORBTemporaryRecordManager : public TORBBaseRecordManager {
 public:
  // Bytes per spill write and read block (at least one record).
  static constexpr int64_t kSpillBlockSize = 256 * 1024;

  // A record size of 0 raises 10124. `max_cached_record_count` below 0 takes
  // one tenth of free memory (memory manager) divided by the record size.
  // With `disable_temp_files` every record stays in memory.
  TORBTemporaryRecordManager(int32_t record_buffer_size, int32_t records_per_page, int32_t alloc_records_by,
                             bool disable_temp_files, int64_t max_cached_record_count = -1);

  void Empty(int32_t session_id) override;
  bool AddRecord(int32_t session_id, const uint8_t* record_buffer, TORBPageItemID& record_id) override;
  // Always false: records are never changed.
  bool UpdateRecord(int32_t session_id, const uint8_t* record_buffer, const TORBPageItemID& record_id) override;
  // Always false: records are never deleted.
  bool DeleteRecord(int32_t session_id, const TORBPageItemID& record_id) override;
  // Drops the last record again when `record_id` names it.
  void RemoveAddedRecord(int32_t session_id, const TORBPageItemID& record_id) override;
  void GetRecordBuffer(int32_t session_id, TORBNavigationInfo& navigation_info) override;
  int CompareRecordID(const TORBPageItemID& record_id1, const TORBPageItemID& record_id2) override;
  int64_t GetApproximateRecNo(int32_t session_id, const TORBPageItemID& record_id) override;

  // Copies record `index` into `buffer`. REQUIRES: 0 <= index < FRecordCount.
  void ReadRecord(uint8_t* buffer, int64_t index);

  static int64_t IndexOf(const TORBPageItemID& record_id);
  static TORBPageItemID IDOf(int64_t index);

  int64_t MaxCachedRecordCount() const { return FMaxCachedRecordCount; }
  int64_t CachedRecordCount() const { return FCachedRecordCount; }
  bool HasSpillFile() const { return FTempPageFile != nullptr; }
  // Bytes written to the spill file so far, and the number of writes.
  int64_t SpillFileSize() const { return FSpilledBytes; }
  int64_t SpillWriteCount() const { return FSpillWriteCount; }

 private:
  bool GrowCache(int64_t count);
  // Writes the waiting records of the write block to the spill file.
  void SaveTempPage();
  int64_t RecordSize() const { return FRecordBufferSize; }

  int32_t FRecordsPerPage;
  int64_t FCachedRecordCount = 0;
  std::vector<uint8_t> FCache;
  int64_t FAllocatedRecordCount = 0;
  // Spilled records not yet written, starting at spilled index
  // FTempPageFirst.
  std::vector<uint8_t> FTempPage;
  int64_t FTempPageRecordCount = 0;
  int64_t FTempPageCapacity = 1;
  std::unique_ptr<TORBFileStream> FTempPageFile;
  int64_t FSpilledBytes = 0;
  int64_t FSpillWriteCount = 0;
  // Read block: spilled records [FReadFirst, FReadFirst + FReadCount).
  std::vector<uint8_t> FReadPage;
  int64_t FReadFirst = 0;
  int64_t FReadCount = 0;
  int64_t FMaxCachedRecordCount;
  int32_t FAllocRecordsBy;
  bool FDisableTempFiles;
};

}  // namespace orb
