#pragma once

// The record store of an in-memory table: one array of fixed-size record
// slots and a map of the live ones.

#include <cstdint>
#include <vector>

#include "engine/data/bits_array.h"
#include "engine/data/record_manager.h"

namespace orb {

inline constexpr int32_t kErrMemoryRecordSizeZero = 10011;
inline constexpr int32_t kErrMemoryRetrieveRecord = 10019;

// Slot n holds the memory-form record whose ID is (n, 0); IDs stay stable
// while a record lives. A deleted slot is given to a later insert before
// the array grows, so memory follows the number of live records, not the
// number of changes; the array grows geometrically (doubling, at least by
// the growth step). Record numbers (1-based positions) count live slots in
// slot order. The session ID arguments are ignored: every session sees the
// same records.
class TORBMemoryRecordManager : public TORBBaseRecordManager {
 public:
  // A record size of 0 raises 10011 unless `allow_empty_record` (design
  // mode). A growth step below 1 becomes 1.
  TORBMemoryRecordManager(int32_t record_buffer_size, int32_t alloc_records_by, bool allow_empty_record = false);

  void Empty(int32_t session_id) override;
  bool AddRecord(int32_t session_id, const uint8_t* record_buffer, TORBPageItemID& record_id) override;
  // False for a slot that is not live.
  bool UpdateRecord(int32_t session_id, const uint8_t* record_buffer, const TORBPageItemID& record_id) override;
  bool DeleteRecord(int32_t session_id, const TORBPageItemID& record_id) override;
  void GetRecordBuffer(int32_t session_id, TORBNavigationInfo& navigation_info) override;
  int CompareRecordID(const TORBPageItemID& record_id1, const TORBPageItemID& record_id2) override;
  // Exact: the record number of a live slot, -1 otherwise.
  int64_t GetApproximateRecNo(int32_t session_id, const TORBPageItemID& record_id) override;

  // Slot of the 0-based `position` among live slots; -1 when position is
  // outside 0 .. FRecordCount - 1.
  int64_t FindRecord(int64_t position) const;
  // 1-based record number of a live slot; -1 for a slot that is not live.
  int64_t GetTablePositionByRecordID(int64_t slot) const;
  bool IsLive(int64_t slot) const;
  // The slot's stored bytes. REQUIRES: IsLive(slot).
  const uint8_t* SlotData(int64_t slot) const;

  int64_t AllocatedRecordCount() const { return FAllocatedRecordCount; }
  int64_t FirstRecordID() const { return FFirstRecordID; }
  int64_t LastRecordID() const { return FLastRecordID; }
  bool NoRecordsDeleted() const { return FNoRecordsDeleted; }

 private:
  // Grows the slot array to hold slot `slot`; false when memory is refused.
  bool Reserve(int64_t slot);
  uint8_t* Slot(int64_t slot) { return FRecordBuffer.data() + slot * FRecordBufferSize; }

  // FAllocatedRecordCount slots of FRecordBufferSize bytes, back to back.
  std::vector<uint8_t> FRecordBuffer;
  // Bit n set = slot n holds a live record.
  TORBBitsArray FLiveSlots;
  // Deleted slots below the top of the used range, reused first.
  std::vector<int64_t> FFreeSlots;
  int64_t FAllocatedRecordCount = 0;
  int32_t FAllocRecordsBy;
  // Lowest and highest live slot (0 when empty).
  int64_t FFirstRecordID = 0;
  int64_t FLastRecordID = 0;
  // One past the highest slot ever used since the store was last empty.
  int64_t FUsedSlotCount = 0;
  // While true, slot number = 0-based position.
  bool FNoRecordsDeleted = true;
};

}  // namespace orb
