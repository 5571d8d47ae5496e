#pragma once

// One open index of a table. The B-tree record index implements it; the
// table data and the index manager reach indexes only through it.

#include <cstdint>
#include <memory>

#include "engine/base/index_defs.h"
#include "engine/base/page_item_id.h"
#include "engine/data/navigation_info.h"

namespace orb {

class TORBBaseIndexManager;
class TORBCursorInterface;
class TORBRecordBitmap;
// A search condition of a range scan (record search, defined with it).
class TORBScanCondition;

// A place in an index that only the index understands (for the B-tree a
// key path). The table data passes it through untouched.
class TORBIndexPosition {
 public:
  TORBIndexPosition() = default;
  virtual ~TORBIndexPosition() = default;
  TORBIndexPosition(const TORBIndexPosition&) = delete;
  TORBIndexPosition& operator=(const TORBIndexPosition&) = delete;
  // Takes the place `source` (of the same index) stands for.
  virtual void Assign(const TORBIndexPosition& source) = 0;
};

// The state of one range scan, kept between FindRecord calls.
class TORBIndexSearchInfo {
 public:
  TORBIndexSearchInfo() = default;
  virtual ~TORBIndexSearchInfo() = default;
  TORBIndexSearchInfo(const TORBIndexSearchInfo&) = delete;
  TORBIndexSearchInfo& operator=(const TORBIndexSearchInfo&) = delete;
};

// Where in which index a cursor's current record was last found; valid
// while the table's change counter is unchanged. One per cursor, owned by
// it.
struct TORBIndexPositionCache {
  std::unique_ptr<TORBIndexPosition> Position;
  int32_t IndexID = -1;
  TORBPageItemID RecordID{};
  int32_t TableState = -1;

  void Invalidate() {
    IndexID = -1;
    TableState = -1;
  }
};

class TORBIndex {
 public:
  TORBIndex(const TORBIndexDef& index_def, TORBBaseIndexManager* index_manager);
  virtual ~TORBIndex() = default;
  TORBIndex(const TORBIndex&) = delete;
  TORBIndex& operator=(const TORBIndex&) = delete;

  const TORBIndexDef& IndexDef() const { return FIndexDef; }
  TORBIndexDef& IndexDef() { return FIndexDef; }
  TORBBaseIndexManager* IndexManager() const { return FIndexManager; }

  // Builds the index from the table's records; the base takes a copy of
  // the definition. The built definition (root page) is read back from
  // IndexDef().
  virtual void CreateIndex(TORBCursorInterface* cursor, const TORBIndexDef& index_def);
  // Frees the index's pages.
  virtual void DropIndex(int32_t session_id) = 0;
  virtual void EmptyIndex(int32_t session_id) = 0;
  // The base takes a copy of the definition.
  virtual void OpenIndex(const TORBIndexDef& index_def);
  // Empties the index and fills it again from the table's records.
  virtual void RebuildTemporaryIndex(TORBCursorInterface* cursor) = 0;

  // Navigation in index order (grmNext, grmPrior) from the position in
  // `navigation_info`, and from the nearest key when the record there no
  // longer exists. `cache` (may be null) is the cursor's position cache.
  virtual void GetRecordBuffer(int32_t session_id, TORBNavigationInfo& navigation_info,
                               TORBIndexPositionCache* cache, int32_t table_state) = 0;
  virtual void GetClosestRecordBuffer(int32_t session_id, TORBNavigationInfo& navigation_info,
                                      TORBIndexPositionCache* cache, int32_t table_state) = 0;

  virtual std::unique_ptr<TORBIndexPosition> CreateIndexPosition() = 0;
  // The place of the record (its ID and buffer); false when not found.
  virtual bool GetIndexPosition(int32_t session_id, const TORBPageItemID& record_id, const uint8_t* record_buffer,
                                TORBIndexPosition& position) = 0;
  // -1, 0 or 1 in index order.
  virtual int CompareRecordPositionsInIndex(const TORBIndexPosition& position1,
                                            const TORBIndexPosition& position2) = 0;
  // 1-based rank in index order; -1 when the record is not in the index.
  virtual int64_t GetRecNoByRecordID(int32_t session_id, const TORBPageItemID& record_id,
                                     const uint8_t* record_buffer) = 0;
  virtual TORBPageItemID GetRecordIDByRecNo(int32_t session_id, int64_t rec_no) = 0;
  // Hides every visible record of `bitmap` whose first
  // `distinct_field_count` key columns equal those of the previous visible
  // one.
  virtual void ApplyDistinctToRecordBitmap(int32_t session_id, TORBRecordBitmap* bitmap,
                                           int32_t distinct_field_count) = 0;

  virtual std::unique_ptr<TORBIndexSearchInfo> CreateSearchInfo() = 0;
  // Range scan: the next (previous) entry between the two conditions.
  virtual bool FindRecord(int32_t session_id, bool restart, bool go_forward, const TORBScanCondition* start_condition,
                          const TORBScanCondition* end_condition, uint8_t* record_buffer, TORBPageItemID& record_id,
                          TORBIndexSearchInfo* search_info) = 0;
  // -1, 0 or 1: the two buffers' keys over the first `field_count` columns.
  virtual int CompareRecordBuffersByIndex(const uint8_t* record_buffer1, const uint8_t* record_buffer2,
                                          int32_t field_count) = 0;
  virtual int CompareConditions(const TORBScanCondition& condition1, const TORBScanCondition& condition2) = 0;
  virtual int64_t GetApproxRangeRecordCount(int32_t session_id, int64_t table_record_count,
                                            const TORBScanCondition* condition1,
                                            const TORBScanCondition* condition2) = 0;

  // Uniqueness: false when a unique or primary index already holds the key.
  virtual bool CanInsertRecord(int32_t session_id, const uint8_t* record_buffer) = 0;
  virtual bool CanUpdateRecord(int32_t session_id, const uint8_t* old_record_buffer,
                               const uint8_t* new_record_buffer) = 0;

  // Maintenance, from the cursor's current record ID and buffers: insert
  // adds the current buffer's key; delete removes it; an update removes
  // the key of the edit buffer (before the new record is stored) and adds
  // the key of the current buffer (after), doing nothing when the two keys
  // are equal. An update with the two buffers swapped undoes the other
  // half.
  virtual void InsertRecord(TORBCursorInterface* cursor) = 0;
  virtual void DeleteRecord(TORBCursorInterface* cursor) = 0;
  virtual void UpdateRecord(TORBCursorInterface* cursor, bool before_new_record_is_stored) = 0;

  // Entries per page, for bit numbers of index-based bitmaps.
  virtual int64_t GetMaxEntriesPerPage() = 0;
  virtual void GetRecordIDByIndexPosition(int32_t session_id, const TORBIndexPosition& position,
                                          TORBPageItemID& record_id) = 0;
  // Bit number of an index-based bitmap for `position`, and back.
  virtual int64_t GetBitNoByIndexPosition(const TORBIndexPosition& position) = 0;
  virtual void GetIndexPositionByBitNo(int64_t bit_no, TORBIndexPosition& position) = 0;

 protected:
  TORBIndexDef FIndexDef;
  TORBBaseIndexManager* FIndexManager;
};

}  // namespace orb
