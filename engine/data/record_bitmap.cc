#include "engine/data/record_bitmap.h"

#include "engine/base/error_codes.h"
#include "engine/base/orb_exception.h"
#include "engine/data/record_manager.h"
#include "engine/data/table_data.h"

namespace orb {

TORBRecordBitmap::TORBRecordBitmap(TORBTableData* table_data) : FTableData(table_data) {
  if (table_data == nullptr) RaiseORB(kErrBitmapNoTableData, kMsgNilPointer);
}

bool TORBRecordBitmap::GetOutdated() const {
  const TORBBaseRecordManager* records = FTableData->RecordManager();
  return records == nullptr || FTableState != records->FTableState;
}

int64_t TORBRecordBitmap::BitNoOf(const TORBPageItemID& record_id) const {
  return FTableData->GetBitmapRecNoByRecordID(record_id);
}

int64_t TORBRecordBitmap::BitNoOf(int32_t index_id, const TORBIndexPosition& position) const {
  return FTableData->GetBitmapRecNoByIndexPosition(index_id, position);
}

void TORBRecordBitmap::SetBitGrowing(int64_t bit_no, bool value) {
  if (bit_no < 0) return;  // the record has no bit: nothing to show or hide
  if (bit_no >= FBitmap.GetSize()) {
    if (!value) return;
    FBitmap.SetSize(bit_no + 1);
  }
  FBitmap.SetBit(bit_no, value);
}

int64_t TORBRecordBitmap::GetRecNoByRecordID(const TORBPageItemID& record_id) const {
  const int64_t bit_no = BitNoOf(record_id);
  if (bit_no < 0 || bit_no >= FBitmap.GetSize()) return -1;
  return FBitmap.GetBitPositionByBitNo(bit_no) + (FBitmap.GetBit(bit_no) ? 1 : 0);
}

int64_t TORBRecordBitmap::GetRecNoByIndexPos(int32_t index_id, const TORBIndexPosition& position) const {
  const int64_t bit_no = BitNoOf(index_id, position);
  if (bit_no < 0 || bit_no >= FBitmap.GetSize()) return -1;
  return FBitmap.GetBitPositionByBitNo(bit_no) + (FBitmap.GetBit(bit_no) ? 1 : 0);
}

TORBPageItemID TORBRecordBitmap::GetRecordIDByRecNo(int64_t rec_no) const {
  if (rec_no < 1 || rec_no > GetRecordCount())
    RaiseORB(kErrBitmapRecNo, "Invalid record number = %d, number of records = %d",
             {static_cast<long long>(rec_no), static_cast<long long>(GetRecordCount())});
  return FTableData->GetRecordIDByBitmapRecNo(FBitmap.GetBitNoByBitPosition(rec_no - 1));
}

void TORBRecordBitmap::GetIndexPosByRecNo(int32_t index_id, int64_t rec_no, TORBIndexPosition& position) const {
  if (rec_no < 1 || rec_no > GetRecordCount())
    RaiseORB(kErrBitmapRecNo, "Invalid record number = %d, number of records = %d",
             {static_cast<long long>(rec_no), static_cast<long long>(GetRecordCount())});
  FTableData->GetIndexPositionByBitmapRecNo(index_id, FBitmap.GetBitNoByBitPosition(rec_no - 1), position);
}

bool TORBRecordBitmap::IsRecordVisible(const TORBPageItemID& record_id) const {
  const int64_t bit_no = BitNoOf(record_id);
  return bit_no >= 0 && bit_no < FBitmap.GetSize() && FBitmap.GetBit(bit_no);
}

bool TORBRecordBitmap::IsRecordVisible(int32_t index_id, const TORBIndexPosition& position) const {
  const int64_t bit_no = BitNoOf(index_id, position);
  return bit_no >= 0 && bit_no < FBitmap.GetSize() && FBitmap.GetBit(bit_no);
}

void TORBRecordBitmap::Clear() {
  FBitmap.SetSize(0);
  FActive = false;
}

bool TORBRecordBitmap::FindRecord(bool restart, bool go_forward, const TORBPageItemID& cur_record_id,
                                  TORBPageItemID& found_record_id) const {
  const int64_t cur = restart ? -1 : BitNoOf(cur_record_id);
  int64_t found = -1;
  if (!FBitmap.Find(restart, go_forward, cur, found)) return false;
  found_record_id = FTableData->GetRecordIDByBitmapRecNo(found);
  return true;
}

bool TORBRecordBitmap::FindRecord(bool restart, bool go_forward, const TORBIndexPosition* cur_position,
                                  TORBIndexPosition& found_position, int32_t index_id) const {
  const int64_t cur = (restart || cur_position == nullptr) ? -1 : BitNoOf(index_id, *cur_position);
  int64_t found = -1;
  if (!FBitmap.Find(restart || cur_position == nullptr, go_forward, cur, found)) return false;
  FTableData->GetIndexPositionByBitmapRecNo(index_id, found, found_position);
  return true;
}

}  // namespace orb
