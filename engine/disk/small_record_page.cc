#include "engine/disk/small_record_page.h"

#include <bit>
#include <cstring>

#include "engine/base/orb_exception.h"
#include "engine/table/page.h"
#include "engine/table/page_guard.h"

namespace orb {

int32_t TORBSmallRecordPage::MaxRecordsOnPage(int32_t page_data_size, int32_t record_size) {
  // (D - 1) / (S + 1/8) == 8 (D - 1) / (8 S + 1), in 64 bits.
  if (page_data_size < 1 || record_size < 0) return 0;
  return static_cast<int32_t>((8 * static_cast<int64_t>(page_data_size - 1)) / (8 * static_cast<int64_t>(record_size) + 1));
}

TORBSmallRecordPage::TORBSmallRecordPage(TORBPageGuard& page, int32_t record_size, int32_t max_records_on_page)
    : LPage(page),
      FRecordBufferSize(record_size),
      FMaxRecordsOnPage(max_records_on_page),
      FRecordDataOffset((max_records_on_page + 7) / 8) {
  if (record_size < 0 || max_records_on_page < 0 ||
      FRecordDataOffset + static_cast<int64_t>(max_records_on_page) * record_size > page->GetPageDataSize())
    RaiseORB(20140, "Invalid number of records on page");
}

int32_t TORBSmallRecordPage::PageNo() const { return LPage->PageNo(); }

bool TORBSmallRecordPage::IsUsed(int32_t slot) const {
  return (LPage->GetPageData()[slot / 8] >> (slot % 8)) & 1;
}

void TORBSmallRecordPage::SetUsed(int32_t slot, bool used) {
  uint8_t& b = LPage->GetPageData()[slot / 8];
  const uint8_t bit = static_cast<uint8_t>(1u << (slot % 8));
  b = used ? static_cast<uint8_t>(b | bit) : static_cast<uint8_t>(b & ~bit);
}

uint8_t* TORBSmallRecordPage::Slot(int32_t slot) const {
  return LPage->GetPageData() + FRecordDataOffset + static_cast<int64_t>(slot) * FRecordBufferSize;
}

bool TORBSmallRecordPage::ValidSlot(const TORBPageItemID& record_id) const {
  return record_id.PageItemNo < FMaxRecordsOnPage && IsUsed(record_id.PageItemNo);
}

// The bitmap is read a byte at a time; bits past the last slot are ignored.
bool TORBSmallRecordPage::FindUnusedRecordSlot(int32_t& slot) const {
  const uint8_t* bitmap = LPage->GetPageData();
  for (int32_t first = 0; first < FMaxRecordsOnPage; first += 8) {
    const uint8_t bits = bitmap[first / 8];
    if (bits == 0xFF) continue;
    const int32_t free_slot = first + std::countr_one(bits);
    if (free_slot >= FMaxRecordsOnPage) return false;
    slot = free_slot;
    return true;
  }
  return false;
}

int32_t TORBSmallRecordPage::GetRecordCount() const {
  const uint8_t* bitmap = LPage->GetPageData();
  int32_t count = 0;
  for (int32_t first = 0; first < FMaxRecordsOnPage; first += 8) {
    uint32_t bits = bitmap[first / 8];
    const int32_t in_byte = FMaxRecordsOnPage - first;
    if (in_byte < 8) bits &= (1u << in_byte) - 1u;
    count += std::popcount(bits);
  }
  return count;
}

void TORBSmallRecordPage::AddRecord(const uint8_t* disk_record, TORBPageItemID& record_id) {
  int32_t slot = 0;
  if (!FindUnusedRecordSlot(slot)) RaiseORB(20141, "Cannot add record to page. Page is full");
  SetUsed(slot, true);
  std::memcpy(Slot(slot), disk_record, static_cast<size_t>(FRecordBufferSize));
  LPage.MarkDirty();
  record_id = {PageNo(), static_cast<uint16_t>(slot)};
}

bool TORBSmallRecordPage::UpdateRecord(const uint8_t* disk_record, const TORBPageItemID& record_id) {
  if (!ValidSlot(record_id)) return false;
  std::memcpy(Slot(record_id.PageItemNo), disk_record, static_cast<size_t>(FRecordBufferSize));
  LPage.MarkDirty();
  return true;
}

bool TORBSmallRecordPage::DeleteRecord(const TORBPageItemID& record_id) {
  if (!ValidSlot(record_id)) return false;
  SetUsed(record_id.PageItemNo, false);
  LPage.MarkDirty();
  return true;
}

bool TORBSmallRecordPage::GetRecordBuffer(const TORBPageItemID& record_id, uint8_t* disk_record) const {
  if (!ValidSlot(record_id)) return false;
  std::memcpy(disk_record, Slot(record_id.PageItemNo), static_cast<size_t>(FRecordBufferSize));
  return true;
}

void TORBSmallRecordPage::GetFirstRecordID(TORBPageItemID& record_id) const {
  for (int32_t i = 0; i < FMaxRecordsOnPage; ++i) {
    if (IsUsed(i)) {
      record_id = {PageNo(), static_cast<uint16_t>(i)};
      return;
    }
  }
  RaiseORB(20143, "Record not found. PageNo=%d, PageRecordCount=%d", {PageNo(), GetRecordCount()});
}

void TORBSmallRecordPage::GetLastRecordID(TORBPageItemID& record_id) const {
  for (int32_t i = FMaxRecordsOnPage - 1; i >= 0; --i) {
    if (IsUsed(i)) {
      record_id = {PageNo(), static_cast<uint16_t>(i)};
      return;
    }
  }
  RaiseORB(20144, "Record not found");
}

bool TORBSmallRecordPage::GetNextRecordID(TORBPageItemID& record_id) const {
  for (int32_t i = record_id.PageItemNo + 1; i < FMaxRecordsOnPage; ++i) {
    if (IsUsed(i)) {
      record_id = {PageNo(), static_cast<uint16_t>(i)};
      return true;
    }
  }
  return false;
}

bool TORBSmallRecordPage::GetPriorRecordID(TORBPageItemID& record_id) const {
  const int32_t start = record_id.PageItemNo < FMaxRecordsOnPage ? record_id.PageItemNo : FMaxRecordsOnPage;
  for (int32_t i = start - 1; i >= 0; --i) {
    if (IsUsed(i)) {
      record_id = {PageNo(), static_cast<uint16_t>(i)};
      return true;
    }
  }
  return false;
}

void TORBSmallRecordPage::GetRecordID(int32_t k, TORBPageItemID& record_id) const {
  int32_t seen = 0;
  for (int32_t i = 0; i < FMaxRecordsOnPage && k >= 0; ++i) {
    if (!IsUsed(i)) continue;
    if (seen == k) {
      record_id = {PageNo(), static_cast<uint16_t>(i)};
      return;
    }
    ++seen;
  }
  RaiseORB(20146, "Record not found");
}

void TORBSmallRecordPage::GetRecNoOnPage(const TORBPageItemID& record_id, int32_t& k) const {
  k = 0;
  const int32_t end = record_id.PageItemNo < FMaxRecordsOnPage ? record_id.PageItemNo : FMaxRecordsOnPage;
  for (int32_t i = 0; i < end; ++i) k += IsUsed(i) ? 1 : 0;
}

}  // namespace orb
