#include "engine/memory/memory_record_manager.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "engine/base/orb_exception.h"

namespace orb {

namespace {

// Slot numbers are the PageNo of a record ID.
constexpr int64_t kMaxSlots = std::numeric_limits<int32_t>::max();

}  // namespace

TORBMemoryRecordManager::TORBMemoryRecordManager(int32_t record_buffer_size, int32_t alloc_records_by,
                                                 bool allow_empty_record)
    : TORBBaseRecordManager(record_buffer_size), FAllocRecordsBy(std::max(alloc_records_by, 1)) {
  if (record_buffer_size <= 0 && !allow_empty_record)
    RaiseORB(kErrMemoryRecordSizeZero, "Invalid record size = %d", {int64_t{record_buffer_size}});
}

void TORBMemoryRecordManager::Empty(int32_t /*session_id*/) {
  FRecordCount = 0;
  FFirstRecordID = 0;
  FLastRecordID = 0;
  FUsedSlotCount = 0;
  FAllocatedRecordCount = 0;
  std::vector<uint8_t>().swap(FRecordBuffer);
  std::vector<int64_t>().swap(FFreeSlots);
  FLiveSlots.SetSize(0);
  ++FTableState;
}

bool TORBMemoryRecordManager::Reserve(int64_t slot) {
  if (slot < FAllocatedRecordCount) return true;
  if (slot >= kMaxSlots) return false;
  int64_t count = std::max(FAllocatedRecordCount * 2, FAllocatedRecordCount + FAllocRecordsBy);
  count = std::min(std::max(count, slot + 1), kMaxSlots);
  const int64_t record_size = std::max(FRecordBufferSize, 0);
  if (record_size > 0 && count > std::numeric_limits<int64_t>::max() / record_size) return false;
  try {
    FRecordBuffer.resize(static_cast<size_t>(count * record_size));
    FLiveSlots.SetSize(count);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  FAllocatedRecordCount = count;
  return true;
}

bool TORBMemoryRecordManager::AddRecord(int32_t /*session_id*/, const uint8_t* record_buffer,
                                        TORBPageItemID& record_id) {
  int64_t slot = FUsedSlotCount;
  const bool reuse = !FFreeSlots.empty();
  if (reuse) slot = FFreeSlots.back();
  if (!reuse && !Reserve(slot)) return false;
  try {
    FLiveSlots.SetBit(slot, true);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (reuse) FFreeSlots.pop_back();
  if (FRecordBufferSize > 0) std::memcpy(Slot(slot), record_buffer, static_cast<size_t>(FRecordBufferSize));
  if (FRecordCount == 0) {
    FFirstRecordID = slot;
    FLastRecordID = slot;
  } else {
    FFirstRecordID = std::min(FFirstRecordID, slot);
    FLastRecordID = std::max(FLastRecordID, slot);
  }
  FUsedSlotCount = std::max(FUsedSlotCount, slot + 1);
  ++FRecordCount;
  ++FTableState;
  record_id = {static_cast<int32_t>(slot), 0};
  return true;
}

bool TORBMemoryRecordManager::UpdateRecord(int32_t /*session_id*/, const uint8_t* record_buffer,
                                           const TORBPageItemID& record_id) {
  if (!IsLive(record_id.PageNo)) return false;
  if (FRecordBufferSize > 0) std::memcpy(Slot(record_id.PageNo), record_buffer, static_cast<size_t>(FRecordBufferSize));
  ++FTableState;
  return true;
}

bool TORBMemoryRecordManager::DeleteRecord(int32_t /*session_id*/, const TORBPageItemID& record_id) {
  const int64_t slot = record_id.PageNo;
  if (!IsLive(slot)) return false;
  // Reserve the free-list place first, so that a refused allocation
  // changes nothing.
  try {
    FFreeSlots.reserve(FFreeSlots.size() + 1);
  } catch (const std::bad_alloc&) {
    return false;
  }
  FLiveSlots.SetBit(slot, false);
  --FRecordCount;
  FNoRecordsDeleted = false;
  ++FTableState;
  if (FRecordCount == 0) {
    // Numbering restarts at 0; the slot array is kept for reuse.
    FFirstRecordID = 0;
    FLastRecordID = 0;
    FUsedSlotCount = 0;
    FFreeSlots.clear();
    return true;
  }
  FFreeSlots.push_back(slot);
  int64_t found = 0;
  if (slot == FFirstRecordID && FLiveSlots.Find(false, true, slot, found)) FFirstRecordID = found;
  if (slot == FLastRecordID && FLiveSlots.Find(false, false, slot, found)) FLastRecordID = found;
  return true;
}

bool TORBMemoryRecordManager::IsLive(int64_t slot) const {
  return slot >= 0 && slot < FAllocatedRecordCount && FLiveSlots.GetBit(slot);
}

const uint8_t* TORBMemoryRecordManager::SlotData(int64_t slot) const {
  return FRecordBuffer.data() + slot * FRecordBufferSize;
}

void TORBMemoryRecordManager::GetRecordBuffer(int32_t /*session_id*/, TORBNavigationInfo& navigation_info) {
  TORBNavigationInfo& info = navigation_info;
  if (FRecordCount == 0) {
    info.GetRecordResult = grrEOF;
    return;
  }
  int64_t slot = -1;
  const int64_t current = info.RecordID.PageNo;
  switch (info.GetRecordMode) {
    case grmCurrent:
      if (info.FirstPosition || info.LastPosition || !IsLive(current)) {
        info.GetRecordResult = grrError;
        return;
      }
      slot = current;
      break;
    case grmNext:
      if (info.LastPosition ||
          !FLiveSlots.Find(info.FirstPosition, true, std::clamp<int64_t>(current, -1, FAllocatedRecordCount), slot)) {
        info.GetRecordResult = grrEOF;
        return;
      }
      break;
    case grmPrior:
      if (info.FirstPosition ||
          !FLiveSlots.Find(info.LastPosition, false, std::clamp<int64_t>(current, 0, FAllocatedRecordCount), slot)) {
        info.GetRecordResult = grrBOF;
        return;
      }
      break;
  }
  if (info.RecordBuffer == nullptr) RaiseORB(kErrMemoryRetrieveRecord, "Error retrieving record");
  if (FRecordBufferSize > 0) std::memcpy(info.RecordBuffer, SlotData(slot), static_cast<size_t>(FRecordBufferSize));
  info.RecordID = {static_cast<int32_t>(slot), 0};
  info.FirstPosition = false;
  info.LastPosition = false;
  info.GetRecordResult = grrOK;
}

int TORBMemoryRecordManager::CompareRecordID(const TORBPageItemID& record_id1, const TORBPageItemID& record_id2) {
  return record_id1.PageNo < record_id2.PageNo ? -1 : (record_id1.PageNo > record_id2.PageNo ? 1 : 0);
}

int64_t TORBMemoryRecordManager::GetApproximateRecNo(int32_t /*session_id*/, const TORBPageItemID& record_id) {
  return GetTablePositionByRecordID(record_id.PageNo);
}

int64_t TORBMemoryRecordManager::FindRecord(int64_t position) const {
  if (position < 0 || position >= FRecordCount) return -1;
  if (FNoRecordsDeleted) return position;
  return FLiveSlots.GetBitNoByBitPosition(position);
}

int64_t TORBMemoryRecordManager::GetTablePositionByRecordID(int64_t slot) const {
  if (!IsLive(slot)) return -1;
  if (FNoRecordsDeleted) return slot + 1;
  return FLiveSlots.GetBitPositionByBitNo(slot) + 1;
}

}  // namespace orb
