#pragma once

// Which records a cursor's view contains. A bit stands for one record: in a
// record-number bitmap the bit number is the engine's dense record number;
// in an index-based bitmap it is the record's ordinal place in the index.
// Record numbers through a bitmap are 1-based ranks among the set bits.

#include <cstdint>

#include "engine/base/page_item_id.h"
#include "engine/data/bits_array.h"

namespace orb {

class TORBTableData;
class TORBIndexPosition;

inline constexpr int32_t kErrBitmapNoTableData = 10425;

class TORBRecordBitmap {
 public:
  // Raises 10425 without table data.
  explicit TORBRecordBitmap(TORBTableData* table_data);
  TORBRecordBitmap(const TORBRecordBitmap&) = delete;
  TORBRecordBitmap& operator=(const TORBRecordBitmap&) = delete;

  int64_t GetSize() const { return FBitmap.GetSize(); }
  void SetSize(int64_t value) { FBitmap.SetSize(value); }
  // The table changed since the bitmap was built.
  bool GetOutdated() const;
  // Number of records shown.
  int64_t GetRecordCount() const { return FBitmap.GetNonZeroBitCount(); }

  // 1-based rank of the record among the shown ones; -1 beyond the bitmap.
  int64_t GetRecNoByRecordID(const TORBPageItemID& record_id) const;
  int64_t GetRecNoByIndexPos(int32_t index_id, const TORBIndexPosition& position) const;
  // The rec_no-th shown record (30675 outside 1 .. record count).
  TORBPageItemID GetRecordIDByRecNo(int64_t rec_no) const;
  void GetIndexPosByRecNo(int32_t index_id, int64_t rec_no, TORBIndexPosition& position) const;

  bool IsRecordVisible(const TORBPageItemID& record_id) const;
  bool IsRecordVisible(int32_t index_id, const TORBIndexPosition& position) const;
  // The bitmap grows to cover the bit when showing.
  void ShowRecord(const TORBPageItemID& record_id) { SetBitGrowing(BitNoOf(record_id), true); }
  void HideRecord(const TORBPageItemID& record_id) { SetBitGrowing(BitNoOf(record_id), false); }
  void ShowRecord(int32_t index_id, const TORBIndexPosition& position) {
    SetBitGrowing(BitNoOf(index_id, position), true);
  }
  void HideRecord(int32_t index_id, const TORBIndexPosition& position) {
    SetBitGrowing(BitNoOf(index_id, position), false);
  }
  void SetAllBits() { FBitmap.SetAllBits(true); }
  // Inactive, size 0.
  void Clear();

  // Next (previous) shown record after `cur_record_id`, or the first
  // (last) on restart.
  bool FindRecord(bool restart, bool go_forward, const TORBPageItemID& cur_record_id,
                  TORBPageItemID& found_record_id) const;
  // The same by index positions; `cur_position` is ignored on restart.
  bool FindRecord(bool restart, bool go_forward, const TORBIndexPosition* cur_position,
                  TORBIndexPosition& found_position, int32_t index_id) const;

  TORBBitsArray& Bits() { return FBitmap; }
  const TORBBitsArray& Bits() const { return FBitmap; }
  TORBTableData* TableData() const { return FTableData; }

  bool FActive = false;
  bool FIndexBased = false;
  // Index of an index-based bitmap, else -1.
  int32_t FIndexID = -1;
  // The record manager's state when the bitmap was built; -1 initially.
  int32_t FTableState = -1;

 private:
  int64_t BitNoOf(const TORBPageItemID& record_id) const;
  int64_t BitNoOf(int32_t index_id, const TORBIndexPosition& position) const;
  void SetBitGrowing(int64_t bit_no, bool value);

  TORBBitsArray FBitmap;
  TORBTableData* FTableData;
};

}  // namespace orb
