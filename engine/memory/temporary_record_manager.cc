#include "engine/memory/temporary_record_manager.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "engine/base/orb_exception.h"
#include "engine/memory/memory_budget.h"

namespace orb {

namespace {

constexpr int64_t kMaxIndex = (int64_t{1} << 48) - 1;

}  // namespace

TORBTemporaryRecordManager::TORBTemporaryRecordManager(int32_t record_buffer_size, int32_t records_per_page,
                                                       int32_t alloc_records_by, bool disable_temp_files,
                                                       int64_t max_cached_record_count)
    : TORBBaseRecordManager(record_buffer_size),
      FRecordsPerPage(std::max(records_per_page, 1)),
      FMaxCachedRecordCount(0),
      FAllocRecordsBy(std::max(alloc_records_by, 1)),
      FDisableTempFiles(disable_temp_files) {
  if (record_buffer_size <= 0) RaiseORB(kErrTemporaryRecordSizeZero, "Invalid record size = %d", {record_buffer_size});
  FMaxCachedRecordCount = max_cached_record_count >= 0
                              ? std::min(max_cached_record_count, kMaxIndex)
                              : ItemsInBudget(TemporaryMemoryBudget(), record_buffer_size, kMaxIndex);
  FTempPageCapacity = std::max<int64_t>(FRecordsPerPage, kSpillBlockSize / record_buffer_size);
}

int64_t TORBTemporaryRecordManager::IndexOf(const TORBPageItemID& record_id) {
  return static_cast<int64_t>(static_cast<uint32_t>(record_id.PageNo)) |
         (static_cast<int64_t>(record_id.PageItemNo) << 32);
}

TORBPageItemID TORBTemporaryRecordManager::IDOf(int64_t index) {
  return {static_cast<int32_t>(static_cast<uint32_t>(index & 0xFFFFFFFF)),
          static_cast<uint16_t>((index >> 32) & 0xFFFF)};
}

void TORBTemporaryRecordManager::Empty(int32_t /*session_id*/) {
  FRecordCount = 0;
  FCachedRecordCount = 0;
  FAllocatedRecordCount = 0;
  std::vector<uint8_t>().swap(FCache);
  std::vector<uint8_t>().swap(FTempPage);
  std::vector<uint8_t>().swap(FReadPage);
  FTempPageRecordCount = 0;
  FReadCount = 0;
  FTempPageFile.reset();
  FSpilledBytes = 0;
  ++FTableState;
}

bool TORBTemporaryRecordManager::GrowCache(int64_t count) {
  if (count <= FAllocatedRecordCount) return true;
  int64_t target = std::max(FAllocatedRecordCount * 2, FAllocatedRecordCount + FAllocRecordsBy);
  target = std::max(target, count);
  if (!FDisableTempFiles) target = std::min(target, FMaxCachedRecordCount);
  if (target < count || target > std::numeric_limits<int64_t>::max() / RecordSize()) return false;
  try {
    FCache.resize(static_cast<size_t>(target * RecordSize()));
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  FAllocatedRecordCount = target;
  return true;
}

bool TORBTemporaryRecordManager::AddRecord(int32_t /*session_id*/, const uint8_t* record_buffer,
                                           TORBPageItemID& record_id) {
  if (FRecordCount >= kMaxIndex) return false;
  const int64_t index = FRecordCount;
  try {
    if (FDisableTempFiles || index < FMaxCachedRecordCount) {
      if (!GrowCache(index + 1)) return false;
      std::memcpy(FCache.data() + index * RecordSize(), record_buffer, static_cast<size_t>(RecordSize()));
      ++FCachedRecordCount;
    } else {
      if (FTempPageFile == nullptr) FTempPageFile = TORBFileStream::CreateTemporary();
      if (FTempPageRecordCount >= FTempPageCapacity) SaveTempPage();
      if (FTempPage.empty()) FTempPage.resize(static_cast<size_t>(FTempPageCapacity * RecordSize()));
      std::memcpy(FTempPage.data() + FTempPageRecordCount * RecordSize(), record_buffer,
                  static_cast<size_t>(RecordSize()));
      ++FTempPageRecordCount;
    }
  } catch (...) {
    return false;
  }
  record_id = IDOf(index);
  ++FRecordCount;
  ++FTableState;
  return true;
}

void TORBTemporaryRecordManager::SaveTempPage() {
  if (FTempPageRecordCount == 0) return;
  const int64_t position = FSpilledBytes;
  SetStreamPosition(*FTempPageFile, position, kErrTemporarySpillSeek);
  const int64_t size = FTempPageRecordCount * RecordSize();
  if (FTempPageFile->Write(FTempPage.data(), size) != size) {
    // What was written in part is written again by the next attempt.
    FTempPageFile->SetSize(position);
    RaiseORB(kErrTemporarySpillWrite, "Error writing to stream");
  }
  ++FSpillWriteCount;
  FSpilledBytes += size;
  FTempPageRecordCount = 0;
}

bool TORBTemporaryRecordManager::UpdateRecord(int32_t, const uint8_t*, const TORBPageItemID&) { return false; }

bool TORBTemporaryRecordManager::DeleteRecord(int32_t, const TORBPageItemID&) { return false; }

void TORBTemporaryRecordManager::RemoveAddedRecord(int32_t, const TORBPageItemID& record_id) {
  if (FRecordCount == 0 || IndexOf(record_id) != FRecordCount - 1) return;
  const int64_t index = FRecordCount - 1;
  if (FDisableTempFiles || index < FMaxCachedRecordCount) {
    --FCachedRecordCount;
  } else {
    // AddRecord leaves the newest spilled record in the write block.
    if (FTempPageRecordCount == 0) return;
    --FTempPageRecordCount;
  }
  --FRecordCount;
  ++FTableState;
}

void TORBTemporaryRecordManager::ReadRecord(uint8_t* buffer, int64_t index) {
  if (index < 0 || index >= FRecordCount) RaiseORB(kErrTemporaryRetrieveRecord, "Error retrieving record");
  if (FDisableTempFiles || index < FMaxCachedRecordCount) {
    std::memcpy(buffer, FCache.data() + index * RecordSize(), static_cast<size_t>(RecordSize()));
    return;
  }
  const int64_t spilled = index - FMaxCachedRecordCount;
  const int64_t written = FSpilledBytes / RecordSize();
  if (spilled >= written) {
    // Still in the write block.
    std::memcpy(buffer, FTempPage.data() + (spilled - written) * RecordSize(), static_cast<size_t>(RecordSize()));
    return;
  }
  if (spilled < FReadFirst || spilled >= FReadFirst + FReadCount) {
    // Read the block around the record: forward from it, or ending at it
    // when the reader moves backwards.
    const int64_t capacity = FTempPageCapacity;
    int64_t first = spilled;
    if (FReadCount > 0 && spilled == FReadFirst - 1) first = std::max<int64_t>(0, spilled - capacity + 1);
    const int64_t count = std::min(capacity, written - first);
    if (FReadPage.size() < static_cast<size_t>(capacity * RecordSize()))
      FReadPage.resize(static_cast<size_t>(capacity * RecordSize()));
    FReadCount = 0;
    const int64_t position = first * RecordSize();
    SetStreamPosition(*FTempPageFile, position, kErrTemporarySpillSeek);
    const int64_t size = count * RecordSize();
    const int64_t read = FTempPageFile->Read(FReadPage.data(), size);
    if (read != size)
      RaiseORB(kErrTemporarySpillRead, kMsgCannotReadFromStream,
               {static_cast<long long>(position), static_cast<long long>(FSpilledBytes),
                static_cast<long long>(size), static_cast<long long>(read)});
    FReadFirst = first;
    FReadCount = count;
  }
  std::memcpy(buffer, FReadPage.data() + (spilled - FReadFirst) * RecordSize(), static_cast<size_t>(RecordSize()));
}

void TORBTemporaryRecordManager::GetRecordBuffer(int32_t /*session_id*/, TORBNavigationInfo& navigation_info) {
  TORBNavigationInfo& info = navigation_info;
  if (FRecordCount == 0) {
    info.GetRecordResult = grrEOF;
    return;
  }
  const int64_t current = IndexOf(info.RecordID);
  int64_t index = 0;
  switch (info.GetRecordMode) {
    case grmCurrent:
      if (info.FirstPosition || info.LastPosition || current >= FRecordCount) {
        info.GetRecordResult = grrError;
        return;
      }
      index = current;
      break;
    case grmNext:
      if (info.LastPosition || (!info.FirstPosition && current >= FRecordCount - 1)) {
        info.GetRecordResult = grrEOF;
        return;
      }
      index = info.FirstPosition ? 0 : current + 1;
      break;
    case grmPrior:
      if (info.FirstPosition || (!info.LastPosition && current < 1)) {
        info.GetRecordResult = grrBOF;
        return;
      }
      index = info.LastPosition ? FRecordCount - 1 : std::min(current, FRecordCount) - 1;
      break;
  }
  ReadRecord(info.RecordBuffer, index);
  info.RecordID = IDOf(index);
  info.FirstPosition = false;
  info.LastPosition = false;
  info.GetRecordResult = grrOK;
}

int TORBTemporaryRecordManager::CompareRecordID(const TORBPageItemID& record_id1, const TORBPageItemID& record_id2) {
  const int64_t a = IndexOf(record_id1);
  const int64_t b = IndexOf(record_id2);
  return a < b ? -1 : (a > b ? 1 : 0);
}

int64_t TORBTemporaryRecordManager::GetApproximateRecNo(int32_t, const TORBPageItemID& record_id) {
  const int64_t index = IndexOf(record_id);
  return index < FRecordCount ? index + 1 : -1;
}

}  // namespace orb
