#pragma once

// The physical store of one table's records, implemented by each engine.

#include <cstdint>

#include "engine/base/page_item_id.h"
#include "engine/data/navigation_info.h"

namespace orb {

// Every engine increments FTableState on each add, update, delete and
// empty; bitmaps and temporary indexes compare their saved state with it to
// notice that they are out of date. Called under the table data's lock.
class TORBBaseRecordManager {
 public:
  explicit TORBBaseRecordManager(int32_t record_buffer_size) : FRecordBufferSize(record_buffer_size) {}
  virtual ~TORBBaseRecordManager() = default;
  TORBBaseRecordManager(const TORBBaseRecordManager&) = delete;
  TORBBaseRecordManager& operator=(const TORBBaseRecordManager&) = delete;

  virtual void Empty(int32_t session_id) = 0;
  // Stores `record_buffer` (memory form) and returns its new ID; false when
  // the record could not be stored.
  virtual bool AddRecord(int32_t session_id, const uint8_t* record_buffer, TORBPageItemID& record_id) = 0;
  virtual bool UpdateRecord(int32_t session_id, const uint8_t* record_buffer, const TORBPageItemID& record_id) = 0;
  virtual bool DeleteRecord(int32_t session_id, const TORBPageItemID& record_id) = 0;
  // Takes back the record that AddRecord has just stored (an insert that
  // failed after it, e.g. refused by a unique index); stores that never
  // delete records still drop their last one here.
  virtual void RemoveAddedRecord(int32_t session_id, const TORBPageItemID& record_id) {
    DeleteRecord(session_id, record_id);
  }
  // Navigation in physical order: fills the buffer and the result. A
  // grmCurrent read is by navigation_info.RecordID (grrError when gone).
  virtual void GetRecordBuffer(int32_t session_id, TORBNavigationInfo& navigation_info) = 0;
  // -1, 0 or 1 in physical order.
  virtual int CompareRecordID(const TORBPageItemID& record_id1, const TORBPageItemID& record_id2) = 0;
  virtual int64_t GetApproximateRecNo(int32_t session_id, const TORBPageItemID& record_id) = 0;

  int64_t GetRecordCount() const { return FRecordCount; }
  int32_t GetTableState() const { return FTableState; }
  int32_t GetRecordBufferSize() const { return FRecordBufferSize; }

  // Number of live records.
  int64_t FRecordCount = 0;
  // Change counter.
  int32_t FTableState = 0;
  // Memory-form record size.
  int32_t FRecordBufferSize = 0;
};

}  // namespace orb
