#pragma once

// A view over one record page: a fixed number of fixed-size slots, one row
// per slot, with a bitmap saying which slots hold a row.
//
// Page data of a record page (page type 10; the page header's ObjectID is
// the table id), n slots of S bytes, B = ceil(n / 8):
// | offset | size   | meaning                                             |
// |      0 | B      | slot bitmap: bit (i mod 8) of byte (i div 8), lowest |
// |        |        | bit first, is 1 when slot i holds a row             |
// |      B | n * S  | slots 0 .. n-1, slot i at B + i * S                 |
// |  after | rest   | unused                                              |
// Bits of the last bitmap byte beyond slot n-1 are ignored. The bytes of a
// free slot are not significant.

#include <cstdint>

#include "engine/base/page_item_id.h"

namespace orb {

class TORBPageGuard;
class TORBPage;

class TORBSmallRecordPage {
 public:
  // Slots that fit a page of `page_data_size` bytes with `record_size`-byte
  // rows: floor((D - 1) / (S + 0.125)), computed in integers.
  static int32_t MaxRecordsOnPage(int32_t page_data_size, int32_t record_size);

  // REQUIRES: `page` outlives the view and holds a page. Raises 20140 when
  // n slots of S bytes and their bitmap do not fit the page data.
  TORBSmallRecordPage(TORBPageGuard& page, int32_t record_size, int32_t max_records_on_page);

  // The lowest free slot; false when the page is full.
  bool FindUnusedRecordSlot(int32_t& slot) const;
  int32_t GetRecordCount() const;
  // Takes the lowest free slot (20141 when none).
  void AddRecord(const uint8_t* disk_record, TORBPageItemID& record_id);
  // False when the slot holds no row (or lies outside the page).
  bool UpdateRecord(const uint8_t* disk_record, const TORBPageItemID& record_id);
  bool DeleteRecord(const TORBPageItemID& record_id);
  bool GetRecordBuffer(const TORBPageItemID& record_id, uint8_t* disk_record) const;
  // Lowest / highest used slot: 20143 / 20144 when the page has no row.
  void GetFirstRecordID(TORBPageItemID& record_id) const;
  void GetLastRecordID(TORBPageItemID& record_id) const;
  // The used slot after / before the given one; false when none.
  bool GetNextRecordID(TORBPageItemID& record_id) const;
  bool GetPriorRecordID(TORBPageItemID& record_id) const;
  // The k-th used slot (0-based); 20146 when the page holds k rows or fewer.
  void GetRecordID(int32_t k, TORBPageItemID& record_id) const;
  // Used slots below the given one.
  void GetRecNoOnPage(const TORBPageItemID& record_id, int32_t& k) const;

  int32_t PageNo() const;

 private:
  bool IsUsed(int32_t slot) const;
  void SetUsed(int32_t slot, bool used);
  uint8_t* Slot(int32_t slot) const;
  bool ValidSlot(const TORBPageItemID& record_id) const;

  TORBPageGuard& LPage;
  int32_t FRecordBufferSize;
  int32_t FMaxRecordsOnPage;
  int32_t FRecordDataOffset;
};

}  // namespace orb
